#include "billingsimtypes.h"

#include <QJsonDocument>

bool BillingSimRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray BillingSimRequest::header(const QByteArray &name) const
{
    for (const auto &field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return {};
}

QList<QByteArray> BillingSimRequest::headerNames() const
{
    QList<QByteArray> names;
    for (const auto &field : headers)
        names.append(field.first);
    return names;
}

QJsonObject BillingSimRequest::json() const
{
    return QJsonDocument::fromJson(body).object();
}

BillingSimResponse BillingSimResponse::json(int status, const QJsonObject &object)
{
    BillingSimResponse response;
    response.status = status;
    response.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return response;
}

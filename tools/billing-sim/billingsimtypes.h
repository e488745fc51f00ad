#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

// One request as the simulator received it, kept so that tests can check what the client sent.
struct BillingSimRequest
{
    QString method;
    QString path; // as it came on the request line, percent-encoding kept, without the query
    QString query;
    QList<QPair<QByteArray, QByteArray>> headers; // in the order they arrived
    QByteArray body;

    [[nodiscard]] bool hasHeader(const QByteArray &name) const;
    [[nodiscard]] QByteArray header(const QByteArray &name) const;
    [[nodiscard]] QList<QByteArray> headerNames() const;
    [[nodiscard]] QJsonObject json() const;
};

// What the simulator sends back for one request.
struct BillingSimResponse
{
    int status = 200;
    QByteArray contentType = QByteArrayLiteral("application/json");
    QByteArray body;

    static BillingSimResponse json(int status, const QJsonObject &object);
};

// A replacement answer for one path, so that tests can play a broken or slow service.
struct BillingSimOverride
{
    enum class Behaviour {
        Answer,  // send status and body (the normal answer when neither is set), after delayMs
        Trickle, // send headers, then one byte every trickleIntervalMs, and never finish
        Close,   // read the request and close the connection without a word
    };

    Behaviour behaviour = Behaviour::Answer;
    int status = 0; // 0: the status the service itself would give
    bool replaceBody = false;
    QByteArray body;
    QByteArray contentType = QByteArrayLiteral("application/json");
    int delayMs = 0;
    int trickleIntervalMs = 300;
};

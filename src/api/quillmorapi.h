#pragma once

#include "apitypes.h"

#include <QList>
#include <QObject>
#include <QString>

class QNetworkAccessManager;

// Client of the billing service's desktop API. Every call is synchronous for the caller but waits
// in a nested event loop, so the calling thread keeps processing its events.
class QuillmorApi final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QuillmorApi)

public:
    explicit QuillmorApi(QObject *parent = nullptr);
    ~QuillmorApi() override;

    [[nodiscard]] ApiReply request(const QString &method, const QString &path,
                                   const QJsonObject *body, int timeoutMs);

    void setToken(const QString &token);
    [[nodiscard]] QString baseUrl() const;
    [[nodiscard]] bool hasApiKey() const;
    // The sentence to show when the API key cannot be sent as a header value; empty when it can.
    [[nodiscard]] QString apiKeyProblem() const;

    [[nodiscard]] static QString firstText(const QJsonObject &object, const QStringList &keys);

    bool requestCode(const QString &accountNumber, QString *error = nullptr);
    bool verifyCode(const QString &accountNumber, const QString &code,
                    AccountProfile *profile = nullptr, QString *error = nullptr);

    bool provisionRouter(const QJsonObject &body, QJsonObject *result = nullptr,
                         QString *error = nullptr);
    bool fetchRouter(const QString &routerId, QJsonObject *result = nullptr,
                     QString *error = nullptr);
    bool saveRouterCredentials(const QString &routerId, const QString &apiUsername,
                               const QString &apiPassword, QString *error = nullptr);
    bool listStations(QList<StationInfo> *stations = nullptr, QString *error = nullptr);
    bool listRouters(QList<SavedRouter> *routers = nullptr, QString *error = nullptr);
    bool saveHotspot(const QString &routerId, const QString &stationId,
                     const QString &hotspotPath, QString *error = nullptr);
    bool installHotspot(const QString &routerId, const QString &stationId,
                        QString *hotspotPath = nullptr, QString *error = nullptr);

    bool askAssist(const QString &step, const QString &question, const QString &context,
                   QString *answer = nullptr, QString *error = nullptr);

private:
    void loadSettings();

    QNetworkAccessManager *m_network = nullptr;
    QString m_baseUrl;
    QString m_apiKey;
    QString m_token;
};

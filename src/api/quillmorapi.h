#pragma once

#include "apitypes.h"

#include <optional>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

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

    // Aborts the request that is waiting right now, which then returns "Cancelled."; a request
    // whose answer has already arrived keeps it. Call it from the client's own thread.
    void cancelRequest();
    // Asked before a request and every 400 ms while it waits; true cancels it as cancelRequest()
    // does. For a client on a worker thread, whose Cancel arrives as a flag from another thread.
    void setCancelCheck(std::function<bool()> check);

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
    void loadCaFile(const QString &path);

    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_pending; // the reply request() is waiting for
    bool m_cancelled = false;
    std::function<bool()> m_cancelCheck;
    QString m_baseUrl;
    QString m_apiKey;
    QString m_token;
    // Only when an extra CA certificate is configured; otherwise requests keep Qt's defaults.
    std::optional<QSslConfiguration> m_tls;
};

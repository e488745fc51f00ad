#pragma once

#include "billingsimstate.h"
#include "billingsimtypes.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

class QSslCertificate;
class QSslKey;

// The HTTP/1.1 side of the simulator, plain or over TLS, on Qt HttpServer. Lives on the
// simulator's own thread; the other thread reaches its records only through the locked accessors.
class BillingSimServer final : public QAbstractHttpServer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BillingSimServer)

public:
    explicit BillingSimServer(QObject *parent = nullptr);
    ~BillingSimServer() override;

    [[nodiscard]] bool loadScenario(const QJsonObject &scenario, QString *error);
    // Serve HTTPS instead of plain HTTP; before listenOn().
    void useTls(const QSslCertificate &certificate, const QSslKey &key);

    // Both run on the simulator's thread.
    Q_INVOKABLE quint16 listenOn(quint16 port);
    Q_INVOKABLE void shutdown();

    void setOverride(const QString &path, const BillingSimOverride &override);
    void clearOverrides();
    [[nodiscard]] QList<BillingSimRequest> requests() const;
    void clearRequests();
    [[nodiscard]] QString lastCode(const QString &accountNumber) const;
    [[nodiscard]] QJsonArray savedRouters(const QString &accountNumber) const;

signals:
    void codeIssued(const QString &accountNumber, const QString &code);
    void requestReceived(const QString &method, const QString &path);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    [[nodiscard]] static BillingSimRequest record(const QHttpServerRequest &request);
    static void startTrickle(QHttpServerResponder &&responder, int status, int intervalMs);

    mutable QMutex m_mutex;
    BillingSimState m_state;
    QHash<QString, BillingSimOverride> m_overrides;
    QList<BillingSimRequest> m_requests;
    QList<QPair<QString, QString>> m_issuedCodes;
};

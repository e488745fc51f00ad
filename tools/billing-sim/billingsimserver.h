#pragma once

#include "billingsimstate.h"
#include "billingsimtypes.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// The HTTP/1.1 side of the simulator. Lives on the simulator's own thread; the other thread
// reaches its records only through the locked accessors.
class BillingSimServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BillingSimServer)

public:
    explicit BillingSimServer(QObject *parent = nullptr);
    ~BillingSimServer() override;

    [[nodiscard]] bool loadScenario(const QJsonObject &scenario, QString *error);

    // Both run on the simulator's thread.
    Q_INVOKABLE quint16 listen(quint16 port);
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

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    [[nodiscard]] static bool takeRequest(QByteArray *buffer, BillingSimRequest *request,
                                          bool *malformed);
    void answer(QTcpSocket *socket, const BillingSimRequest &request);
    static void send(QTcpSocket *socket, const BillingSimResponse &response);
    static void startTrickle(QTcpSocket *socket, int status, int intervalMs);

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, QByteArray> m_buffers;

    mutable QMutex m_mutex;
    BillingSimState m_state;
    QHash<QString, BillingSimOverride> m_overrides;
    QList<BillingSimRequest> m_requests;
    QList<QPair<QString, QString>> m_issuedCodes;
};

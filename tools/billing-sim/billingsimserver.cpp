#include "billingsimserver.h"

#include <memory>

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QMutexLocker>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QString methodName(QHttpServerRequest::Method method)
{
    const char *key = QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method));
    return key ? QString::fromLatin1(key).toUpper() : QStringLiteral("UNKNOWN");
}

QHttpServerResponder::StatusCode statusCode(int status)
{
    return static_cast<QHttpServerResponder::StatusCode>(status);
}

void send(QHttpServerResponder &responder, const BillingSimResponse &response)
{
    if (response.contentType.isEmpty())
        responder.write(response.body, {}, statusCode(response.status));
    else
        responder.write(response.body, {{QByteArrayLiteral("Content-Type"), response.contentType}},
                        statusCode(response.status));
}

} // namespace

BillingSimServer::BillingSimServer(QObject *parent)
    : QAbstractHttpServer(parent)
{
    // Called with the lock held; the signal goes out once the lock is released.
    m_state.setCodeListener([this](const QString &account, const QString &code) {
        m_issuedCodes.append({account, code});
    });
}

BillingSimServer::~BillingSimServer() = default;

bool BillingSimServer::loadScenario(const QJsonObject &scenario, QString *error)
{
    QMutexLocker lock(&m_mutex);
    return m_state.load(scenario, error);
}

void BillingSimServer::useTls(const QSslCertificate &certificate, const QSslKey &key)
{
    sslSetup(certificate, key);
}

quint16 BillingSimServer::listenOn(quint16 port)
{
    return listen(QHostAddress::LocalHost, port);
}

void BillingSimServer::shutdown()
{
    // Each listening server owns the connections it accepted, with their pending answers.
    const QList<QTcpServer *> listening = servers();
    for (QTcpServer *server : listening) {
        server->close();
        delete server;
    }
}

void BillingSimServer::setOverride(const QString &path, const BillingSimOverride &override)
{
    QMutexLocker lock(&m_mutex);
    m_overrides.insert(path, override);
}

void BillingSimServer::clearOverrides()
{
    QMutexLocker lock(&m_mutex);
    m_overrides.clear();
}

QList<BillingSimRequest> BillingSimServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

void BillingSimServer::clearRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

QString BillingSimServer::lastCode(const QString &accountNumber) const
{
    QMutexLocker lock(&m_mutex);
    return m_state.lastCode(accountNumber);
}

QJsonArray BillingSimServer::savedRouters(const QString &accountNumber) const
{
    QMutexLocker lock(&m_mutex);
    return m_state.savedRouters(accountNumber);
}

BillingSimRequest BillingSimServer::record(const QHttpServerRequest &request)
{
    BillingSimRequest parsed;
    parsed.method = methodName(request.method());
    parsed.path = request.url().path(QUrl::FullyEncoded);
    parsed.query = request.url().query(QUrl::FullyEncoded);
    parsed.headers = request.headers();
    parsed.body = request.body();
    return parsed;
}

bool BillingSimServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const BillingSimRequest parsed = record(request);
    BillingSimOverride override;
    BillingSimResponse response;
    QList<QPair<QString, QString>> issued;
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(parsed);
        override = m_overrides.value(parsed.path);
        // The service's own work happens even when a test then answers for it.
        response = m_state.handle(parsed);
        issued.swap(m_issuedCodes);
    }
    for (const auto &code : issued)
        emit codeIssued(code.first, code.second);
    emit requestReceived(parsed.method, parsed.path);

    switch (override.behaviour) {
    case BillingSimOverride::Behaviour::Close:
        // Qt HttpServer has no way to hang up without answering; the socket itself can.
        socket->abort();
        return true;
    case BillingSimOverride::Behaviour::Trickle:
        startTrickle(makeResponder(request, socket), override.status > 0 ? override.status : 200,
                     override.trickleIntervalMs);
        return true;
    case BillingSimOverride::Behaviour::Answer:
        break;
    }

    if (override.status > 0)
        response.status = override.status;
    if (override.replaceBody) {
        response.body = override.body;
        response.contentType = override.contentType;
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    if (override.delayMs <= 0) {
        send(responder, response);
        return true;
    }
    // The responder only writes to the socket; the timer goes with the socket if the client
    // gives up first.
    auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
    QTimer::singleShot(override.delayMs, socket, [pending, response] { send(*pending, response); });
    return true;
}

void BillingSimServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    // handleRequest answers everything; this is only here because the base class asks for it.
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.write(QHttpServerResponder::StatusCode::NotFound);
}

void BillingSimServer::startTrickle(QHttpServerResponder &&responder, int status, int intervalMs)
{
    // Qt HttpServer writes an answer whole; one that never completes is written here: the head
    // promises far more than will ever come, and then one byte follows now and then.
    responder.writeStatusLine(statusCode(status));
    responder.writeHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
    responder.writeHeader(QByteArrayLiteral("Content-Length"), QByteArrayLiteral("1000000"));
    responder.writeBody("{");
    QTcpSocket *socket = responder.socket();
    auto *timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
    timer->start(intervalMs);
}

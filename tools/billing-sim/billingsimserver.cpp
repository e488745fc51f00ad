#include "billingsimserver.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// A request head larger than this is not a client we simulate for.
constexpr int kMaxHeadBytes = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return QByteArrayLiteral("OK");
    case 400:
        return QByteArrayLiteral("Bad Request");
    case 401:
        return QByteArrayLiteral("Unauthorized");
    case 403:
        return QByteArrayLiteral("Forbidden");
    case 404:
        return QByteArrayLiteral("Not Found");
    case 422:
        return QByteArrayLiteral("Unprocessable Entity");
    case 500:
        return QByteArrayLiteral("Internal Server Error");
    case 502:
        return QByteArrayLiteral("Bad Gateway");
    default:
        return QByteArrayLiteral("Status");
    }
}

} // namespace

BillingSimServer::BillingSimServer(QObject *parent)
    : QObject(parent)
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

quint16 BillingSimServer::listen(quint16 port)
{
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &BillingSimServer::onNewConnection);
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        delete m_server;
        m_server = nullptr;
        return 0;
    }
    return m_server->serverPort();
}

void BillingSimServer::shutdown()
{
    const QList<QTcpSocket *> sockets = m_buffers.keys();
    m_buffers.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
    delete m_server;
    m_server = nullptr;
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

void BillingSimServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void BillingSimServer::onReadyRead(QTcpSocket *socket)
{
    auto it = m_buffers.find(socket);
    if (it == m_buffers.end())
        return;
    it->append(socket->readAll());

    BillingSimRequest request;
    bool malformed = false;
    if (takeRequest(&*it, &request, &malformed)) {
        // One request per connection: the answer says "Connection: close".
        m_buffers.erase(it);
        answer(socket, request);
    } else if (malformed) {
        m_buffers.erase(it);
        send(socket, BillingSimResponse::json(400, {}));
    }
}

bool BillingSimServer::takeRequest(QByteArray *buffer, BillingSimRequest *request, bool *malformed)
{
    const int headEnd = buffer->indexOf("\r\n\r\n");
    if (headEnd < 0) {
        *malformed = buffer->size() > kMaxHeadBytes;
        return false;
    }
    const QList<QByteArray> lines = buffer->left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3) {
        *malformed = true;
        return false;
    }

    BillingSimRequest parsed;
    parsed.method = QString::fromLatin1(requestLine.at(0));
    const QByteArray target = requestLine.at(1);
    const int queryStart = target.indexOf('?');
    parsed.path = QString::fromLatin1(queryStart < 0 ? target : target.left(queryStart));
    if (queryStart >= 0)
        parsed.query = QString::fromLatin1(target.mid(queryStart + 1));

    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        parsed.headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            contentLength = value.toLongLong();
    }

    const qsizetype bodyStart = headEnd + 4;
    if (buffer->size() - bodyStart < contentLength)
        return false;
    parsed.body = buffer->mid(bodyStart, contentLength);
    buffer->remove(0, bodyStart + contentLength);
    *request = parsed;
    return true;
}

void BillingSimServer::answer(QTcpSocket *socket, const BillingSimRequest &request)
{
    BillingSimOverride override;
    BillingSimResponse response;
    QList<QPair<QString, QString>> issued;
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(request);
        override = m_overrides.value(request.path);
        // The service's own work happens even when a test then answers for it.
        response = m_state.handle(request);
        issued.swap(m_issuedCodes);
    }
    for (const auto &code : issued)
        emit codeIssued(code.first, code.second);
    emit requestReceived(request.method, request.path);

    switch (override.behaviour) {
    case BillingSimOverride::Behaviour::Close:
        socket->abort();
        return;
    case BillingSimOverride::Behaviour::Trickle:
        startTrickle(socket, override.status > 0 ? override.status : 200,
                     override.trickleIntervalMs);
        return;
    case BillingSimOverride::Behaviour::Answer:
        break;
    }

    if (override.status > 0)
        response.status = override.status;
    if (override.replaceBody) {
        response.body = override.body;
        response.contentType = override.contentType;
    }
    if (override.delayMs <= 0) {
        send(socket, response);
        return;
    }
    QTimer::singleShot(override.delayMs, socket, [socket, response] { send(socket, response); });
}

void BillingSimServer::send(QTcpSocket *socket, const BillingSimResponse &response)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                       reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.isEmpty())
        bytes += "Content-Type: " + response.contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    bytes += "Connection: close\r\n\r\n";
    bytes += response.body;
    socket->write(bytes);
    socket->disconnectFromHost();
}

void BillingSimServer::startTrickle(QTcpSocket *socket, int status, int intervalMs)
{
    // Promise far more than will ever come, so the answer never completes.
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                  "\r\nContent-Type: application/json\r\nContent-Length: 1000000\r\n\r\n{");
    auto *timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
    timer->start(intervalMs);
}

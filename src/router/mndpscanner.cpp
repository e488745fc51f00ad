#include "mndpscanner.h"

#include <algorithm>

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

namespace {

const char kTargetVariable[] = "QUILLMOR_MNDP_TARGET";
const char kBadTarget[] = "QUILLMOR_MNDP_TARGET must be an IPv4 address and a port, such as "
                          "127.0.0.1:5678.";
const char kCannotListen[] = "Could not listen for routers on UDP port %1: %2";

// Two announcements of one router (one per interface, or one per request) are one router.
bool sameRouter(const MndpNeighbour &a, const MndpNeighbour &b)
{
    return a.mac == b.mac && a.identity == b.identity && a.ipv4 == b.ipv4;
}

} // namespace

MndpScanner::MndpScanner(QObject *parent)
    : QObject(parent)
{
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        stop();
        emit finished();
    });
}

MndpScanner::~MndpScanner() = default;

bool MndpScanner::target(QHostAddress *host, quint16 *port, QString *error)
{
    const QString value = qEnvironmentVariable(kTargetVariable).trimmed();
    if (value.isEmpty()) {
        *host = QHostAddress(QHostAddress::Broadcast);
        *port = kMndpPort;
        return true;
    }
    const int colon = int(value.lastIndexOf(QLatin1Char(':')));
    bool portOk = false;
    const uint number = colon > 0 ? value.mid(colon + 1).toUInt(&portOk) : 0;
    const QHostAddress address(colon > 0 ? value.left(colon) : QString());
    if (!portOk || number == 0 || number > 65535 ||
        address.protocol() != QAbstractSocket::IPv4Protocol) {
        if (error)
            *error = QString::fromLatin1(kBadTarget);
        return false;
    }
    *host = address;
    *port = quint16(number);
    return true;
}

bool MndpScanner::start(int durationMs, QString *error)
{
    if (isScanning())
        return true;
    QHostAddress host;
    quint16 port = 0;
    if (!target(&host, &port, error))
        return false;

    m_found.clear();
    m_socket = new QUdpSocket(this);
    // Winbox or a second copy of this app may hold the port too; every holder gets broadcasts. A
    // loopback target (tests, the demo) keeps the listening on the loopback too.
    const QHostAddress local = host.isLoopback() ? QHostAddress(QHostAddress::LocalHost)
                                                 : QHostAddress(QHostAddress::AnyIPv4);
    if (!m_socket->bind(local, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        if (error)
            *error = QString::fromLatin1(kCannotListen).arg(port).arg(m_socket->errorString());
        delete m_socket;
        m_socket = nullptr;
        return false;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &MndpScanner::readPending);
    // Routers answer a request at once; without one they announce only about once a minute. A
    // request that cannot be sent still leaves those announcements to listen for.
    m_socket->writeDatagram(mndpDiscoveryRequest(), host, port);
    m_timer->start(durationMs);
    return true;
}

void MndpScanner::stop()
{
    m_timer->stop();
    if (m_socket) {
        m_socket->close();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

bool MndpScanner::isScanning() const
{
    return m_socket != nullptr;
}

void MndpScanner::readPending()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        MndpNeighbour neighbour;
        if (!parseMndpAnnouncement(datagram.data(), &neighbour))
            continue;
        const bool known =
            std::any_of(m_found.cbegin(), m_found.cend(),
                        [&](const MndpNeighbour &n) { return sameRouter(n, neighbour); });
        if (known)
            continue;
        m_found << neighbour;
        emit neighbourFound(neighbour);
    }
}

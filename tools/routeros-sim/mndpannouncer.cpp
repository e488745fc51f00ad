#include "mndpannouncer.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

namespace {

// Field numbers of MNDP as Wireshark's dissector (packet-mndp.c) lists them.
constexpr quint16 kMac = 1;
constexpr quint16 kIdentity = 5;
constexpr quint16 kVersion = 7;
constexpr quint16 kPlatform = 8;
constexpr quint16 kUptime = 10;
constexpr quint16 kBoard = 12;
constexpr quint16 kInterface = 16;
constexpr quint16 kIpv4 = 17;

void appendField(QByteArray &packet, quint16 type, const QByteArray &value)
{
    char head[4];
    qToBigEndian<quint16>(type, head);
    qToBigEndian<quint16>(quint16(value.size()), head + 2);
    packet.append(head, 4);
    packet.append(value);
}

} // namespace

MndpAnnouncer::MndpAnnouncer(InfoSource info, QObject *parent)
    : QObject(parent)
    , m_info(std::move(info))
{
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, [this] { announce(m_target, m_targetPort); });
}

MndpAnnouncer::~MndpAnnouncer() = default;

bool MndpAnnouncer::parseTarget(const QString &text, QHostAddress *host, quint16 *port)
{
    const int colon = int(text.lastIndexOf(QLatin1Char(':')));
    if (colon <= 0)
        return false;
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    const QHostAddress address(text.left(colon));
    if (!ok || number == 0 || number > 65535 || !address.isLoopback())
        return false;
    *host = address;
    *port = quint16(number);
    return true;
}

bool MndpAnnouncer::start(const QHostAddress &target, quint16 targetPort, int intervalMs,
                          quint16 listenPort, QString *error)
{
    if (!target.isNull() && !target.isLoopback()) {
        if (error)
            *error = QStringLiteral("MNDP announcements go to a loopback address only.");
        return false;
    }
    m_socket = new QUdpSocket(this);
    if (!m_socket->bind(QHostAddress::LocalHost, listenPort)) {
        if (error)
            *error =
                QStringLiteral("Cannot listen for MNDP requests: %1").arg(m_socket->errorString());
        return false;
    }
    connect(m_socket, &QUdpSocket::readyRead, this, &MndpAnnouncer::answerRequests);
    m_target = target;
    m_targetPort = targetPort;
    if (!target.isNull()) {
        announce(m_target, m_targetPort);
        m_timer->start(intervalMs);
    }
    return true;
}

quint16 MndpAnnouncer::listenPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

QByteArray MndpAnnouncer::encode(const NeighbourInfo &info, const QString &ipv4, quint16 sequence)
{
    QByteArray packet(4, '\0');
    qToBigEndian<quint16>(sequence, packet.data() + 2);
    appendField(packet, kMac, QByteArray::fromHex(info.mac.toLatin1().replace(':', "")));
    appendField(packet, kIdentity, info.identity.toUtf8());
    appendField(packet, kVersion, info.version.toUtf8());
    appendField(packet, kPlatform, QByteArrayLiteral("MikroTik"));
    // RouterOS sends the uptime little-endian, unlike every other number in the packet.
    char uptime[4];
    qToLittleEndian<quint32>(60, uptime);
    appendField(packet, kUptime, QByteArray(uptime, 4));
    if (!info.board.isEmpty())
        appendField(packet, kBoard, info.board.toUtf8());
    appendField(packet, kInterface, info.interfaceName.toUtf8());
    const QHostAddress address(ipv4);
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        char raw[4];
        qToBigEndian<quint32>(address.toIPv4Address(), raw);
        appendField(packet, kIpv4, QByteArray(raw, 4));
    }
    return packet;
}

void MndpAnnouncer::announce(const QHostAddress &to, quint16 port)
{
    if (!m_socket || to.isNull() || !to.isLoopback())
        return;
    m_socket->writeDatagram(encode(m_info(), m_announcedAddress, m_sequence++), to, port);
    ++m_sent;
}

void MndpAnnouncer::answerRequests()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram request = m_socket->receiveDatagram();
        // A discovery request is the 4-byte header alone; anything else is some router's news.
        if (request.data().size() == 4)
            announce(request.senderAddress(), quint16(request.senderPort()));
    }
}

#include "mndp.h"

#include <QHostAddress>

namespace {

// No library that Debian packages reads MNDP, and the format is a handful of fixed fields, hence
// this small reader of our own.
// Field numbers as Wireshark's MNDP dissector (epan/dissectors/packet-mndp.c) and MikroTik's
// neighbour discovery manual name them. A packet is a 4-byte header (two bytes whose meaning is not
// published, then a sequence number), then fields of a big-endian 16-bit type, a big-endian
// 16-bit length and that many bytes of value.
enum MndpField : quint16 {
    MacAddress = 1,
    Identity = 5,
    Version = 7,
    Platform = 8,
    Uptime = 10,
    SoftwareId = 11,
    Board = 12,
    Unpack = 14,
    Ipv6Address = 15,
    InterfaceName = 16,
    Ipv4Address = 17,
};

constexpr int kHeaderSize = 4;
constexpr int kFieldHeaderSize = 4;
// One Ethernet frame: RouterOS never sends more, and anything larger is not an announcement.
constexpr int kMaxDatagram = 1500;
// Longer than any name RouterOS allows; a label never has to hold more.
constexpr int kMaxText = 255;

quint16 readBigEndian16(const QByteArray &data, int at)
{
    return quint16((quint8(data.at(at)) << 8) | quint8(data.at(at + 1)));
}

// Text from the wire is shown in labels: control characters go, and so does anything past the
// length a router name can have.
QString text(const QByteArray &value)
{
    QString s = QString::fromUtf8(value.left(kMaxText));
    for (QChar &c : s) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return s.trimmed();
}

} // namespace

QByteArray mndpDiscoveryRequest()
{
    return QByteArray(kHeaderSize, '\0');
}

bool parseMndpAnnouncement(const QByteArray &datagram, MndpNeighbour *out)
{
    if (datagram.size() <= kHeaderSize || datagram.size() > kMaxDatagram)
        return false;
    MndpNeighbour found;
    int at = kHeaderSize;
    while (at < datagram.size()) {
        if (datagram.size() - at < kFieldHeaderSize)
            return false;
        const quint16 type = readBigEndian16(datagram, at);
        const int length = readBigEndian16(datagram, at + 2);
        at += kFieldHeaderSize;
        if (length > datagram.size() - at)
            return false;
        const QByteArray value = datagram.mid(at, length);
        at += length;
        switch (type) {
        case MacAddress:
            if (length != 6)
                return false;
            found.mac = QString::fromLatin1(value.toHex(':').toUpper());
            break;
        case Identity:
            found.identity = text(value);
            break;
        case Version:
            found.version = text(value);
            break;
        case Platform:
            found.platform = text(value);
            break;
        case Board:
            found.board = text(value);
            break;
        case InterfaceName:
            found.interfaceName = text(value);
            break;
        case Ipv4Address:
            if (length != 4)
                return false;
            found.ipv4 =
                QHostAddress(quint32(readBigEndian16(value, 0)) << 16 | readBigEndian16(value, 2))
                    .toString();
            break;
        default:
            // Uptime, software ID, unpack, IPv6 and fields not published yet are not shown.
            break;
        }
    }
    if (found.mac.isEmpty() && found.identity.isEmpty())
        return false;
    if (out)
        *out = found;
    return true;
}

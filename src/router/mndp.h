#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// What one MikroTik neighbour discovery (MNDP) announcement says about a router.
struct MndpNeighbour
{
    QString identity;
    QString ipv4;     // empty when the router announces no IPv4 address
    QString mac;      // "D4:01:C3:5A:10:01"
    QString version;  // "7.14.3 (stable)"
    QString board;    // "RB750Gr3"
    QString platform; // "MikroTik"
    QString interfaceName;
};
Q_DECLARE_METATYPE(MndpNeighbour)

// The UDP port routers announce on and listen to for discovery requests.
inline constexpr quint16 kMndpPort = 5678;

// The discovery request: four zero bytes make every router on the segment announce itself at once.
[[nodiscard]] QByteArray mndpDiscoveryRequest();

// Reads one announcement. False, with *out left alone, for anything that is not a whole
// announcement: a request, a truncated or oversized datagram or field, a MAC or IPv4 field of the
// wrong size, or a packet that names neither a MAC address nor an identity.
[[nodiscard]] bool parseMndpAnnouncement(const QByteArray &datagram, MndpNeighbour *out);

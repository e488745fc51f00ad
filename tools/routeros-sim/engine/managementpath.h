#pragma once

#include <QString>
#include <QStringList>

class ConfigModel;
struct ModelItem;

// Where the operator's computer is: the router port its cable is in (by default name, so that a
// renamed port is still found) and the address it has on that wire.
struct OperatorPlace
{
    QString port = QStringLiteral("ether2");
    QString address = QStringLiteral("192.168.88.254");
};

// What an SSH connection from the operator's computer to one router address meets.
enum class PathState {
    Open,   // the router answers
    Silent, // nothing answers: no such address on the computer's wire, or a firewall drop
    Reset,  // the router answers with a TCP reset: a reject rule, the hotspot, SSH turned off
};

// Decides, from the router's configuration, whether the operator's computer reaches the router's
// SSH service at a given address: the address must sit on the interface the computer's port
// belongs to (the port itself or its bridge), the computer's address must be on that wire, and
// the input firewall, with the hotspot's own rules in front of it, must let the packet through.
class ManagementPath final
{
public:
    ManagementPath(ConfigModel &model, const OperatorPlace &place);

    // A new connection (connection-state new) or a packet of a running session (established).
    [[nodiscard]] PathState newConnection(const QString &routerAddress) const;
    [[nodiscard]] PathState runningSession(const QString &routerAddress) const;

private:
    struct Packet
    {
        QString inInterface;
        QString inBridgePort;
        QString source;
        QString destination;
        QString dstPort;
        bool established = false;
        bool hotspotClient = false;
    };
    enum class Verdict { None, Accept, Drop, RejectReset, RejectIcmp, Return };

    [[nodiscard]] PathState check(const QString &routerAddress, bool established) const;
    [[nodiscard]] QString portName() const;
    [[nodiscard]] bool hotspotOn(const QString &interfaceName) const;
    [[nodiscard]] bool walledGardenLets(const Packet &packet) const;
    [[nodiscard]] Verdict runChain(const QString &chain, const Packet &packet, int depth) const;
    [[nodiscard]] bool matches(const ModelItem &rule, const Packet &packet) const;
    [[nodiscard]] bool matchesOne(const QString &name, const QString &value,
                                  const Packet &packet) const;
    [[nodiscard]] bool inInterfaceList(const QString &interfaceName, const QString &list) const;
    [[nodiscard]] bool inAddressList(const QString &address, const QString &list) const;

    ConfigModel &m_model;
    OperatorPlace m_place;
};

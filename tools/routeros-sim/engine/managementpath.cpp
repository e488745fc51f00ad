#include "managementpath.h"

#include "configmodel.h"

#include <QSet>

namespace {

// A jump chain deeper than this is a loop in the rules; the packet then falls through.
constexpr int MaxJumpDepth = 16;

bool isOn(const QString &value)
{
    return value == QLatin1String("yes") || value == QLatin1String("true");
}

bool enabled(const ModelItem *item)
{
    return !isOn(item->props.value(QStringLiteral("disabled")));
}

bool parseIp(const QString &text, quint32 *out)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    quint32 value = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint octet = part.toUInt(&ok);
        if (!ok || octet > 255)
            return false;
        value = (value << 8) | octet;
    }
    *out = value;
    return true;
}

// A single address, a prefix (a.b.c.d/n) or a range (a.b.c.d-e.f.g.h), as firewall rules,
// address lists and service restrictions give them.
bool addressMatches(const QString &ip, const QString &spec)
{
    quint32 address = 0;
    if (!parseIp(ip, &address))
        return false;
    const int dash = spec.indexOf(QLatin1Char('-'));
    if (dash > 0) {
        quint32 low = 0;
        quint32 high = 0;
        return parseIp(spec.left(dash), &low) && parseIp(spec.mid(dash + 1), &high)
                && address >= low && address <= high;
    }
    const int slash = spec.indexOf(QLatin1Char('/'));
    quint32 network = 0;
    if (!parseIp(slash < 0 ? spec : spec.left(slash), &network))
        return false;
    bool ok = true;
    const int bits = slash < 0 ? 32 : spec.mid(slash + 1).toInt(&ok);
    if (!ok || bits < 0 || bits > 32)
        return false;
    const quint32 mask = bits == 0 ? 0 : (0xffffffffu << (32 - bits));
    return (address & mask) == (network & mask);
}

bool portMatches(const QString &port, const QString &spec)
{
    const int value = port.toInt();
    for (const QString &part : spec.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int dash = part.indexOf(QLatin1Char('-'));
        if (dash < 0 ? part.toInt() == value
                     : value >= part.left(dash).toInt() && value <= part.mid(dash + 1).toInt())
            return true;
    }
    return false;
}

QString addressOnly(const QString &prefix)
{
    return prefix.section(QLatin1Char('/'), 0, 0);
}

} // namespace

ManagementPath::ManagementPath(ConfigModel &model, const OperatorPlace &place)
    : m_model(model)
    , m_place(place)
{
}

PathState ManagementPath::newConnection(const QString &routerAddress) const
{
    return check(routerAddress, false);
}

PathState ManagementPath::runningSession(const QString &routerAddress) const
{
    return check(routerAddress, true);
}

QString ManagementPath::portName() const
{
    const QList<ModelItem *> interfaces = m_model.items(QStringLiteral("interface"));
    for (const ModelItem *item : interfaces) {
        if (item->props.value(QStringLiteral("default-name")) == m_place.port)
            return enabled(item) ? item->props.value(QStringLiteral("name")) : QString();
    }
    for (const ModelItem *item : interfaces) {
        if (item->props.value(QStringLiteral("name")) == m_place.port)
            return enabled(item) ? m_place.port : QString();
    }
    return QString();
}

bool ManagementPath::hotspotOn(const QString &interfaceName) const
{
    const QList<ModelItem *> servers = m_model.items(QStringLiteral("ip/hotspot"));
    for (const ModelItem *server : servers) {
        if (enabled(server) && server->props.value(QStringLiteral("interface")) == interfaceName)
            return true;
    }
    return false;
}

PathState ManagementPath::check(const QString &routerAddress, bool established) const
{
    const QString port = portName();
    if (port.isEmpty())
        return PathState::Silent;

    // Traffic that comes in on a bridge port belongs to the bridge, not to the port.
    QString wire = port;
    QString bridgePort;
    for (const ModelItem *member : m_model.items(QStringLiteral("interface/bridge/port"))) {
        if (enabled(member) && member->props.value(QStringLiteral("interface")) == port) {
            wire = member->props.value(QStringLiteral("bridge"));
            bridgePort = port;
        }
    }
    for (const ModelItem *item : m_model.items(QStringLiteral("interface"))) {
        if (item->props.value(QStringLiteral("name")) == wire && !enabled(item))
            return PathState::Silent;
    }

    // The computer talks to the router only through an address of its own subnet on that wire:
    // there is its gateway, and there the router answers for itself.
    bool addressOnWire = false;
    bool computerOnWire = false;
    for (const ModelItem *address : m_model.items(QStringLiteral("ip/address"))) {
        if (!enabled(address) || address->props.value(QStringLiteral("interface")) != wire)
            continue;
        const QString prefix = address->props.value(QStringLiteral("address"));
        addressOnWire = addressOnWire || addressOnly(prefix) == routerAddress;
        computerOnWire = computerOnWire || addressMatches(m_place.address, prefix);
    }
    if (!addressOnWire || !computerOnWire)
        return PathState::Silent;

    QString sshPort = QStringLiteral("22");
    for (const ModelItem *service : m_model.items(QStringLiteral("ip/service"))) {
        if (service->props.value(QStringLiteral("name")) != QLatin1String("ssh"))
            continue;
        sshPort = service->props.value(QStringLiteral("port"), sshPort);
        if (established)
            break;
        if (!enabled(service))
            return PathState::Reset;
        const QString allowed = service->props.value(QStringLiteral("address"));
        bool allowedHere = allowed.isEmpty();
        for (const QString &spec : allowed.split(QLatin1Char(','), Qt::SkipEmptyParts))
            allowedHere = allowedHere || addressMatches(m_place.address, spec);
        if (!allowedHere)
            return PathState::Reset;
    }

    Packet packet;
    packet.inInterface = wire;
    packet.inBridgePort = bridgePort;
    packet.source = m_place.address;
    packet.destination = routerAddress;
    packet.dstPort = sshPort;
    packet.established = established;
    packet.hotspotClient = hotspotOn(wire);

    auto outcome = [established](Verdict verdict) {
        switch (verdict) {
        case Verdict::Drop:
            return PathState::Silent;
        case Verdict::RejectReset:
            return PathState::Reset;
        case Verdict::RejectIcmp:
            // An ICMP error ends a connection attempt at once; a running TCP session shrugs it
            // off and simply hears nothing more.
            return established ? PathState::Silent : PathState::Reset;
        default:
            return PathState::Open;
        }
    };

    // A hotspot puts its own rules at the top of the input chain: pre-hs-input for everyone,
    // then for its clients hs-input, whose hs-unauth part resets every TCP connection of a
    // client that has not logged in, unless a walled-garden IP entry lets it pass.
    if (packet.hotspotClient) {
        const Verdict pre = runChain(QStringLiteral("pre-hs-input"), packet, 0);
        if (pre != Verdict::None && pre != Verdict::Return)
            return outcome(pre);
        if (!walledGardenLets(packet))
            return PathState::Reset;
        const Verdict hs = runChain(QStringLiteral("hs-input"), packet, 0);
        if (hs != Verdict::None && hs != Verdict::Return)
            return outcome(hs);
    }
    return outcome(runChain(QStringLiteral("input"), packet, 0));
}

bool ManagementPath::walledGardenLets(const Packet &packet) const
{
    for (const ModelItem *entry : m_model.items(QStringLiteral("ip/hotspot/walled-garden/ip"))) {
        const QMap<QString, QString> &p = entry->props;
        if (!enabled(entry) || p.value(QStringLiteral("action"), QStringLiteral("accept"))
                    != QLatin1String("accept"))
            continue;
        if (!p.value(QStringLiteral("dst-host")).isEmpty()
            || !p.value(QStringLiteral("dst-address-list")).isEmpty()
            || !p.value(QStringLiteral("src-address-list")).isEmpty())
            continue;
        const QString protocol = p.value(QStringLiteral("protocol"));
        const QString dstAddress = p.value(QStringLiteral("dst-address"));
        const QString srcAddress = p.value(QStringLiteral("src-address"));
        const QString dstPort = p.value(QStringLiteral("dst-port"));
        if ((protocol.isEmpty() || protocol == QLatin1String("tcp"))
            && (dstAddress.isEmpty() || addressMatches(packet.destination, dstAddress))
            && (srcAddress.isEmpty() || addressMatches(packet.source, srcAddress))
            && (dstPort.isEmpty() || portMatches(packet.dstPort, dstPort)))
            return true;
    }
    return false;
}

ManagementPath::Verdict ManagementPath::runChain(const QString &chain, const Packet &packet,
                                                 int depth) const
{
    if (depth > MaxJumpDepth)
        return Verdict::None;
    for (const ModelItem *rule : m_model.items(QStringLiteral("ip/firewall/filter"))) {
        if (!enabled(rule) || rule->props.value(QStringLiteral("chain")) != chain
            || !matches(*rule, packet))
            continue;
        const QString action = rule->props.value(QStringLiteral("action"), QStringLiteral("accept"));
        if (action == QLatin1String("accept"))
            return Verdict::Accept;
        if (action == QLatin1String("drop") || action == QLatin1String("tarpit"))
            return Verdict::Drop;
        if (action == QLatin1String("reject")) {
            return rule->props.value(QStringLiteral("reject-with")) == QLatin1String("tcp-reset")
                    ? Verdict::RejectReset
                    : Verdict::RejectIcmp;
        }
        if (action == QLatin1String("return"))
            return Verdict::Return;
        if (action == QLatin1String("jump")) {
            const Verdict inner =
                    runChain(rule->props.value(QStringLiteral("jump-target")), packet, depth + 1);
            if (inner != Verdict::None && inner != Verdict::Return)
                return inner;
        }
        // passthrough, log and the address-list actions let the packet go on.
    }
    return Verdict::None;
}

bool ManagementPath::matches(const ModelItem &rule, const Packet &packet) const
{
    static const QSet<QString> notMatchers = {
            QStringLiteral("action"),       QStringLiteral("chain"),
            QStringLiteral("comment"),      QStringLiteral("disabled"),
            QStringLiteral("dynamic"),      QStringLiteral("invalid"),
            QStringLiteral("log"),          QStringLiteral("log-prefix"),
            QStringLiteral("jump-target"),  QStringLiteral("reject-with"),
            QStringLiteral("address-list"), QStringLiteral("address-list-timeout"),
            QStringLiteral("bytes"),        QStringLiteral("packets"),
            QStringLiteral("place-before")};
    for (auto it = rule.props.constBegin(); it != rule.props.constEnd(); ++it) {
        if (notMatchers.contains(it.key()) || it.value().isEmpty())
            continue;
        if (!matchesOne(it.key(), it.value(), packet))
            return false;
    }
    return true;
}

bool ManagementPath::matchesOne(const QString &name, const QString &value,
                                const Packet &packet) const
{
    if (name == QLatin1String("hotspot")) {
        // Each word may be negated on its own: hotspot=from-client,!auth.
        for (QString word : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const bool negated = word.startsWith(QLatin1Char('!'));
            if (negated)
                word.remove(0, 1);
            const bool holds = packet.hotspotClient
                    && (word == QLatin1String("from-client") || word == QLatin1String("local-dst"));
            if (holds == negated)
                return false;
        }
        return true;
    }

    const bool negated = value.startsWith(QLatin1Char('!'));
    const QString v = negated ? value.mid(1) : value;
    bool holds = false;
    if (name == QLatin1String("in-interface")) {
        holds = v == packet.inInterface;
    } else if (name == QLatin1String("in-interface-list")) {
        holds = inInterfaceList(packet.inInterface, v);
    } else if (name == QLatin1String("in-bridge-port")) {
        holds = v == packet.inBridgePort;
    } else if (name == QLatin1String("in-bridge-port-list")) {
        holds = !packet.inBridgePort.isEmpty() && inInterfaceList(packet.inBridgePort, v);
    } else if (name == QLatin1String("src-address")) {
        holds = addressMatches(packet.source, v);
    } else if (name == QLatin1String("dst-address")) {
        holds = addressMatches(packet.destination, v);
    } else if (name == QLatin1String("src-address-list")) {
        holds = inAddressList(packet.source, v);
    } else if (name == QLatin1String("dst-address-list")) {
        holds = inAddressList(packet.destination, v);
    } else if (name == QLatin1String("protocol")) {
        holds = v == QLatin1String("tcp") || v == QLatin1String("6");
    } else if (name == QLatin1String("dst-port") || name == QLatin1String("port")) {
        holds = portMatches(packet.dstPort, v);
    } else if (name == QLatin1String("connection-state")) {
        holds = v.split(QLatin1Char(',')).contains(packet.established ? QLatin1String("established")
                                                                      : QLatin1String("new"));
    } else if (name == QLatin1String("connection-nat-state")) {
        holds = false; // nothing is NATed on the way to the router itself
    } else if (name == QLatin1String("ipsec-policy")) {
        holds = v == QLatin1String("in,none");
    } else if (name == QLatin1String("dst-address-type")) {
        holds = v == QLatin1String("local");
    } else if (name == QLatin1String("src-address-type")) {
        holds = v == QLatin1String("unicast");
    } else {
        // Rate limits, connection counts, marks, times: none of them picks out one operator's
        // single SSH connection, so such a rule is taken not to match it.
        return false;
    }
    return holds != negated;
}

bool ManagementPath::inInterfaceList(const QString &interfaceName, const QString &list) const
{
    if (list == QLatin1String("all"))
        return true;
    if (list == QLatin1String("none"))
        return false;
    for (const ModelItem *member : m_model.items(QStringLiteral("interface/list/member"))) {
        if (enabled(member) && member->props.value(QStringLiteral("list")) == list
            && member->props.value(QStringLiteral("interface")) == interfaceName)
            return true;
    }
    return false;
}

bool ManagementPath::inAddressList(const QString &address, const QString &list) const
{
    for (const ModelItem *entry : m_model.items(QStringLiteral("ip/firewall/address-list"))) {
        if (enabled(entry) && entry->props.value(QStringLiteral("list")) == list
            && addressMatches(address, entry->props.value(QStringLiteral("address"))))
            return true;
    }
    return false;
}

#include "configmodel.h"

#include "curve25519.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

const QString kNoSuchItem = QStringLiteral("no such item");
const QString kDuplicateInterface = QStringLiteral("failure: already have interface with such name");
const QString kDuplicateName = QStringLiteral("failure: item with this name already exists");
const QString kDuplicateAddress = QStringLiteral("failure: already have such address");
const QString kDuplicatePort = QStringLiteral("failure: device already added as bridge port");
const QString kDuplicateDhcpClient =
        QStringLiteral("failure: dhcp-client already exists on this interface");
const QString kNoPppoeInterface = QStringLiteral("failure: no interfaces provided");
const QString kBuiltinRemove = QStringLiteral("failure: default item can not be removed");
const QString kInvalidValue = QStringLiteral("invalid value for argument %1");
const QString kNoMatch = QStringLiteral("input does not match any value of %1");
const QString kMissing = QStringLiteral("missing value(s) of argument(s) %1");

QString yesNo(bool b)
{
    return b ? QStringLiteral("yes") : QStringLiteral("no");
}

bool isYes(const QString &v)
{
    return v == QLatin1String("yes") || v == QLatin1String("true");
}

QStringList required(const QString &menu)
{
    static const QHash<QString, QStringList> table = {
            {QStringLiteral("ip/address"), {QStringLiteral("address"), QStringLiteral("interface")}},
            {QStringLiteral("interface/bridge/port"),
             {QStringLiteral("interface"), QStringLiteral("bridge")}},
            {QStringLiteral("interface/list/member"),
             {QStringLiteral("list"), QStringLiteral("interface")}},
            {QStringLiteral("user"),
             {QStringLiteral("name"), QStringLiteral("group"), QStringLiteral("password")}},
            {QStringLiteral("ip/pool"), {QStringLiteral("ranges")}},
            {QStringLiteral("ip/firewall/filter"), {QStringLiteral("chain")}},
            {QStringLiteral("ip/firewall/nat"), {QStringLiteral("chain")}},
            {QStringLiteral("ip/firewall/raw"), {QStringLiteral("chain")}},
            {QStringLiteral("ip/firewall/address-list"),
             {QStringLiteral("address"), QStringLiteral("list")}},
            {QStringLiteral("interface/wireguard/peers"),
             {QStringLiteral("interface"), QStringLiteral("allowed-address")}},
            {QStringLiteral("ip/hotspot"), {QStringLiteral("interface")}},
            {QStringLiteral("ip/dhcp-server"), {QStringLiteral("interface")}},
            {QStringLiteral("ip/dhcp-client"), {QStringLiteral("interface")}},
            {QStringLiteral("interface/pppoe-server/server"), {QStringLiteral("interface")}},
            {QStringLiteral("interface/list"), {QStringLiteral("name")}},
    };
    return table.value(menu);
}

QString autoNameBase(const QString &menu)
{
    static const QHash<QString, QString> table = {
            {QStringLiteral("interface/bridge"), QStringLiteral("bridge")},
            {QStringLiteral("interface/wireguard"), QStringLiteral("wireguard")},
            {QStringLiteral("interface/pppoe-client"), QStringLiteral("pppoe-out")},
            {QStringLiteral("ip/hotspot"), QStringLiteral("hotspot")},
            {QStringLiteral("ip/hotspot/profile"), QStringLiteral("hsprof")},
            {QStringLiteral("ip/dhcp-server"), QStringLiteral("dhcp")},
            {QStringLiteral("ip/pool"), QStringLiteral("pool")},
            {QStringLiteral("ppp/profile"), QStringLiteral("profile")},
            {QStringLiteral("interface/pppoe-server/server"), QString()},
    };
    return table.value(menu);
}

bool hasUniqueName(const QString &menu)
{
    static const QSet<QString> menus = {
            QStringLiteral("ip/pool"),       QStringLiteral("ip/hotspot"),
            QStringLiteral("ip/hotspot/profile"), QStringLiteral("ip/dhcp-server"),
            QStringLiteral("ppp/profile"),   QStringLiteral("user"),
            QStringLiteral("interface/list"), QStringLiteral("ip/dhcp-client")};
    return menus.contains(menu) || ConfigModel::isInterfaceMenu(menu);
}

bool isOrdered(const QString &menu)
{
    static const QSet<QString> menus = {
            QStringLiteral("ip/firewall/filter"),        QStringLiteral("ip/firewall/nat"),
            QStringLiteral("ip/firewall/raw"),           QStringLiteral("ip/firewall/mangle"),
            QStringLiteral("interface/bridge/port"),     QStringLiteral("interface/wireguard/peers"),
            QStringLiteral("ip/hotspot/walled-garden/ip")};
    return menus.contains(menu);
}

QString interfaceType(const QString &menu)
{
    if (menu == QLatin1String("interface/ethernet"))
        return QStringLiteral("ether");
    if (menu == QLatin1String("interface/wireguard"))
        return QStringLiteral("wg");
    if (menu == QLatin1String("interface/pppoe-client"))
        return QStringLiteral("pppoe-out");
    return menu.section(QLatin1Char('/'), 1, 1);
}

bool validIp(const QString &text)
{
    static const QRegularExpression ip(
            QStringLiteral("^(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)(\\.(25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)){3}$"));
    return ip.match(text).hasMatch();
}

bool validPrefix(const QString &text)
{
    if (text.contains(QLatin1Char(':'))) {
        static const QRegularExpression v6(QStringLiteral("^[0-9A-Fa-f:.]+(/\\d{1,3})?$"));
        return v6.match(text).hasMatch();
    }
    const int slash = text.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return validIp(text);
    bool ok = false;
    const int bits = text.mid(slash + 1).toInt(&ok);
    return ok && bits >= 0 && bits <= 32 && validIp(text.left(slash))
            && !text.mid(slash + 1).startsWith(QLatin1Char('+'));
}

bool validTime(const QString &text)
{
    static const QRegularExpression units(QStringLiteral("^(\\d+(ms|w|d|h|m|s)?)+$"));
    static const QRegularExpression clock(QStringLiteral("^(\\d+d)?\\d{1,2}:\\d{2}:\\d{2}(\\.\\d+)?$"));
    return text == QLatin1String("none") || units.match(text).hasMatch()
            || clock.match(text).hasMatch();
}

bool validKey(const QString &text)
{
    if (text.size() != 44 || !text.endsWith(QLatin1Char('=')))
        return false;
    static const QRegularExpression b64(QStringLiteral("^[A-Za-z0-9+/]{43}=$"));
    return b64.match(text).hasMatch()
            && QByteArray::fromBase64(text.toLatin1()).size() == 32;
}

quint32 ipValue(const QString &ip)
{
    quint32 value = 0;
    for (const QString &octet : ip.split(QLatin1Char('.')))
        value = (value << 8) | (octet.toUInt() & 0xff);
    return value;
}

QString ipText(quint32 value)
{
    return QStringLiteral("%1.%2.%3.%4")
            .arg(value >> 24)
            .arg((value >> 16) & 0xff)
            .arg((value >> 8) & 0xff)
            .arg(value & 0xff);
}

bool inNetwork(const QString &ip, const QString &prefix)
{
    const QString addr = prefix.section(QLatin1Char('/'), 0, 0);
    const int bits = prefix.contains(QLatin1Char('/')) ? prefix.section(QLatin1Char('/'), 1).toInt() : 32;
    const quint32 mask = bits == 0 ? 0 : (0xffffffffu << (32 - bits));
    return (ipValue(ip) & mask) == (ipValue(addr) & mask);
}

QString networkOfPrefix(const QString &prefix)
{
    const QString addr = prefix.section(QLatin1Char('/'), 0, 0);
    const int bits = prefix.contains(QLatin1Char('/')) ? prefix.section(QLatin1Char('/'), 1).toInt() : 32;
    const quint32 mask = bits == 0 ? 0 : (0xffffffffu << (32 - bits));
    return ipText(ipValue(addr) & mask);
}

QString formatDuration(qint64 seconds)
{
    QString out;
    const qint64 w = seconds / 604800;
    const qint64 d = (seconds / 86400) % 7;
    const qint64 h = (seconds / 3600) % 24;
    const qint64 m = (seconds / 60) % 60;
    const qint64 s = seconds % 60;
    if (w)
        out += QString::number(w) + QLatin1Char('w');
    if (d)
        out += QString::number(d) + QLatin1Char('d');
    if (h)
        out += QString::number(h) + QLatin1Char('h');
    if (m)
        out += QString::number(m) + QLatin1Char('m');
    if (s || out.isEmpty())
        out += QString::number(s) + QLatin1Char('s');
    return out;
}

QString exportValue(const QString &value)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._:/,!*@+-]+$"));
    if (plain.match(value).hasMatch())
        return value;
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\') || c == QLatin1Char('$')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (c == QLatin1Char('\n')) {
            out += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\r')) {
            out += QStringLiteral("\\r");
        } else if (c == QLatin1Char('\t')) {
            out += QStringLiteral("\\t");
        } else if (c.unicode() < 0x20) {
            out += QStringLiteral("\\%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            out += c;
        }
    }
    return out + QLatin1Char('"');
}

const QStringList &exportOrder()
{
    static const QStringList order = {
            QStringLiteral("interface/bridge"),          QStringLiteral("interface/ethernet"),
            QStringLiteral("interface/pppoe-client"),    QStringLiteral("interface/wireguard"),
            QStringLiteral("interface/list"),            QStringLiteral("ip/hotspot/profile"),
            QStringLiteral("ip/pool"),                   QStringLiteral("ip/dhcp-server"),
            QStringLiteral("ip/hotspot"),                QStringLiteral("ppp/profile"),
            QStringLiteral("interface/bridge/port"),     QStringLiteral("interface/pppoe-server/server"),
            QStringLiteral("interface/list/member"),     QStringLiteral("interface/wireguard/peers"),
            QStringLiteral("ip/address"),                QStringLiteral("ip/dhcp-client"),
            QStringLiteral("ip/dhcp-server/network"),    QStringLiteral("ip/dns"),
            QStringLiteral("ip/firewall/address-list"),  QStringLiteral("ip/firewall/filter"),
            QStringLiteral("ip/firewall/nat"),           QStringLiteral("ip/firewall/raw"),
            QStringLiteral("ip/hotspot/walled-garden/ip"), QStringLiteral("ip/route"),
            QStringLiteral("ip/service"),                QStringLiteral("system/clock"),
            QStringLiteral("system/identity"),           QStringLiteral("user")};
    return order;
}

// Properties that reference another object, and the menu the object must be in.
QString referenceKind(const QString &menu, const QString &prop)
{
    if (prop == QLatin1String("interface")) {
        if (menu == QLatin1String("interface/wireguard/peers"))
            return QStringLiteral("wireguard");
        if (menu.startsWith(QLatin1String("ip/firewall")) || menu == QLatin1String("ip/dns/static"))
            return QString();
        return QStringLiteral("interface");
    }
    if (prop == QLatin1String("in-interface") || prop == QLatin1String("out-interface"))
        return QStringLiteral("interface");
    if (prop == QLatin1String("bridge") && menu == QLatin1String("interface/bridge/port"))
        return QStringLiteral("bridge");
    if (prop == QLatin1String("list") && menu == QLatin1String("interface/list/member"))
        return QStringLiteral("list");
    if (prop == QLatin1String("in-interface-list") || prop == QLatin1String("out-interface-list")
        || prop == QLatin1String("discover-interface-list")
        || prop == QLatin1String("allowed-interface-list"))
        return QStringLiteral("list");
    if (prop == QLatin1String("address-pool"))
        return QStringLiteral("pool");
    if (prop == QLatin1String("profile") && menu == QLatin1String("ip/hotspot"))
        return QStringLiteral("hotspot-profile");
    if ((prop == QLatin1String("profile") && menu == QLatin1String("interface/pppoe-client"))
        || prop == QLatin1String("default-profile"))
        return QStringLiteral("ppp-profile");
    if (prop == QLatin1String("group") && menu == QLatin1String("user"))
        return QStringLiteral("group");
    return QString();
}

} // namespace

// The words a property with a fixed set of values accepts, empty for free-form properties.
QStringList ConfigModel::enumValues(const QString &menu, const QString &prop)
{
    if (prop == QLatin1String("action")) {
        static const QHash<QString, QStringList> actions = {
                {QStringLiteral("ip/firewall/filter"),
                 {QStringLiteral("accept"), QStringLiteral("add-dst-to-address-list"),
                  QStringLiteral("add-src-to-address-list"), QStringLiteral("drop"),
                  QStringLiteral("fasttrack-connection"), QStringLiteral("jump"), QStringLiteral("log"),
                  QStringLiteral("passthrough"), QStringLiteral("reject"), QStringLiteral("return"),
                  QStringLiteral("tarpit")}},
                {QStringLiteral("ip/firewall/nat"),
                 {QStringLiteral("accept"), QStringLiteral("add-dst-to-address-list"),
                  QStringLiteral("add-src-to-address-list"), QStringLiteral("dst-nat"),
                  QStringLiteral("endpoint-independent-nat"), QStringLiteral("jump"), QStringLiteral("log"),
                  QStringLiteral("masquerade"), QStringLiteral("netmap"), QStringLiteral("passthrough"),
                  QStringLiteral("redirect"), QStringLiteral("return"), QStringLiteral("same"),
                  QStringLiteral("src-nat")}},
                {QStringLiteral("ip/firewall/raw"),
                 {QStringLiteral("accept"), QStringLiteral("add-dst-to-address-list"),
                  QStringLiteral("add-src-to-address-list"), QStringLiteral("drop"), QStringLiteral("jump"),
                  QStringLiteral("log"), QStringLiteral("notrack"), QStringLiteral("return")}},
                {QStringLiteral("ip/hotspot/walled-garden/ip"),
                 {QStringLiteral("accept"), QStringLiteral("drop"), QStringLiteral("reject")}},
        };
        return actions.value(menu);
    }
    if (prop == QLatin1String("protocol") && menu.startsWith(QLatin1String("ip/firewall"))) {
        static const QStringList protocols = {
                QStringLiteral("dccp"),     QStringLiteral("ddp"),       QStringLiteral("egp"),
                QStringLiteral("encap"),    QStringLiteral("etherip"),   QStringLiteral("ggp"),
                QStringLiteral("gre"),      QStringLiteral("hmp"),       QStringLiteral("icmp"),
                QStringLiteral("icmpv6"),   QStringLiteral("idpr-cmtp"), QStringLiteral("igmp"),
                QStringLiteral("ipencap"),  QStringLiteral("ipip"),      QStringLiteral("ipsec-ah"),
                QStringLiteral("ipsec-esp"), QStringLiteral("ipv6-encap"), QStringLiteral("ipv6-frag"),
                QStringLiteral("ipv6-nonxt"), QStringLiteral("ipv6-opts"), QStringLiteral("ipv6-route"),
                QStringLiteral("iso-tp4"),  QStringLiteral("l2tp"),      QStringLiteral("ospf"),
                QStringLiteral("pim"),      QStringLiteral("pup"),       QStringLiteral("rdp"),
                QStringLiteral("rspf"),     QStringLiteral("rsvp"),      QStringLiteral("sctp"),
                QStringLiteral("st"),       QStringLiteral("tcp"),       QStringLiteral("udp"),
                QStringLiteral("udp-lite"), QStringLiteral("vmtp"),      QStringLiteral("vrrp"),
                QStringLiteral("xns-idp"),  QStringLiteral("xtp")};
        return protocols;
    }
    if (prop == QLatin1String("hotspot") && menu.startsWith(QLatin1String("ip/firewall"))) {
        return {QStringLiteral("auth"), QStringLiteral("from-client"), QStringLiteral("http"),
                QStringLiteral("local-dst"), QStringLiteral("to-client")};
    }
    if (prop == QLatin1String("login-by") && menu == QLatin1String("ip/hotspot/profile")) {
        return {QStringLiteral("cookie"), QStringLiteral("http-chap"), QStringLiteral("http-pap"),
                QStringLiteral("https"), QStringLiteral("mac"), QStringLiteral("mac-cookie"),
                QStringLiteral("trial")};
    }
    return {};
}

bool ConfigModel::isSettingsMenu(const QString &menu)
{
    static const QSet<QString> menus = {
            QStringLiteral("ip/dns"),          QStringLiteral("system/identity"),
            QStringLiteral("system/clock"),    QStringLiteral("system/resource"),
            QStringLiteral("system/routerboard"), QStringLiteral("ip/neighbor/discovery-settings"),
            QStringLiteral("tool/mac-server"), QStringLiteral("tool/mac-server/mac-winbox")};
    return menus.contains(menu);
}

bool ConfigModel::isInterfaceMenu(const QString &menu)
{
    const QStringList parts = menu.split(QLatin1Char('/'));
    if (parts.size() != 2 || parts.at(0) != QLatin1String("interface"))
        return false;
    static const QSet<QString> notInterfaces = {QStringLiteral("list"),
                                                QStringLiteral("detect-internet"),
                                                QStringLiteral("pppoe-server")};
    return !notInterfaces.contains(parts.at(1));
}

QStringList ConfigModel::readOnlyProperties(const QString &menu)
{
    static const QHash<QString, QStringList> table = {
            {QStringLiteral("interface"),
             {QStringLiteral("type"), QStringLiteral("running"), QStringLiteral("default-name"),
              QStringLiteral("slave"), QStringLiteral("actual-mtu"), QStringLiteral("mac-address")}},
            {QStringLiteral("interface/ethernet"),
             {QStringLiteral("default-name"), QStringLiteral("running"), QStringLiteral("slave")}},
            {QStringLiteral("interface/wireguard"),
             {QStringLiteral("public-key"), QStringLiteral("running")}},
            {QStringLiteral("interface/wireguard/peers"),
             {QStringLiteral("last-handshake"), QStringLiteral("current-endpoint-address"),
              QStringLiteral("current-endpoint-port"), QStringLiteral("rx"), QStringLiteral("tx")}},
            {QStringLiteral("interface/pppoe-client"), {QStringLiteral("running")}},
            {QStringLiteral("interface/bridge/port"),
             {QStringLiteral("dynamic"), QStringLiteral("inactive"), QStringLiteral("status")}},
            {QStringLiteral("ip/route"),
             {QStringLiteral("active"), QStringLiteral("dynamic"), QStringLiteral("static"),
              QStringLiteral("connect")}},
            {QStringLiteral("ip/address"),
             {QStringLiteral("actual-interface"), QStringLiteral("dynamic"), QStringLiteral("invalid")}},
            {QStringLiteral("ip/dhcp-client"),
             {QStringLiteral("status"), QStringLiteral("address"), QStringLiteral("gateway"),
              QStringLiteral("dynamic"), QStringLiteral("invalid")}},
            {QStringLiteral("ip/service"),
             {QStringLiteral("name"), QStringLiteral("invalid"), QStringLiteral("dynamic")}},
            {QStringLiteral("user"), {QStringLiteral("last-logged-in"), QStringLiteral("expired")}},
            {QStringLiteral("ip/hotspot/profile"), {QStringLiteral("default")}},
            {QStringLiteral("ppp/profile"), {QStringLiteral("default")}},
            {QStringLiteral("system/resource"),
             {QStringLiteral("version"), QStringLiteral("uptime"), QStringLiteral("board-name"),
              QStringLiteral("architecture-name"), QStringLiteral("cpu"),
              QStringLiteral("free-memory"), QStringLiteral("total-memory"),
              QStringLiteral("build-time")}},
            {QStringLiteral("system/routerboard"),
             {QStringLiteral("model"), QStringLiteral("serial-number"), QStringLiteral("routerboard"),
              QStringLiteral("current-firmware"), QStringLiteral("firmware-type")}},
            {QStringLiteral("system/clock"),
             {QStringLiteral("gmt-offset"), QStringLiteral("dst-active"), QStringLiteral("time"),
              QStringLiteral("date")}},
    };
    return table.value(menu);
}

bool ConfigModel::isKnownReadOnly(const QString &menu, const QString &name)
{
    static const QSet<QString> everywhere = {QStringLiteral(".id"), QStringLiteral("dynamic"),
                                             QStringLiteral("invalid"), QStringLiteral("default")};
    if (everywhere.contains(name) || readOnlyProperties(menu).contains(name))
        return true;
    return isInterfaceMenu(menu) && readOnlyProperties(QStringLiteral("interface")).contains(name);
}

bool ConfigModel::isBooleanProperty(const QString &name)
{
    static const QSet<QString> props = {
            QStringLiteral("disabled"),        QStringLiteral("dynamic"),
            QStringLiteral("active"),          QStringLiteral("running"),
            QStringLiteral("invalid"),         QStringLiteral("add-default-route"),
            QStringLiteral("use-peer-dns"),    QStringLiteral("use-peer-ntp"),
            QStringLiteral("one-session-per-host"), QStringLiteral("allow-remote-requests"),
            QStringLiteral("auto-mac"),        QStringLiteral("default"),
            QStringLiteral("vlan-filtering"),  QStringLiteral("log"),
            QStringLiteral("hw-offload"),      QStringLiteral("suppress-hw-offload"),
            QStringLiteral("use-radius"),      QStringLiteral("dial-on-demand"),
            QStringLiteral("disable-running-check"), QStringLiteral("responder"),
            QStringLiteral("is-responder"),    QStringLiteral("expired"),
            QStringLiteral("slave"),           QStringLiteral("inactive"),
            QStringLiteral("blackhole"),       QStringLiteral("static"),
            QStringLiteral("connect"),         QStringLiteral("use-peer-ntp"),
            QStringLiteral("accept-empty-service"), QStringLiteral("check-certificate")};
    return props.contains(name);
}

bool ConfigModel::isListProperty(const QString &menu, const QString &name)
{
    return name == QLatin1String("allowed-address") || name == QLatin1String("login-by")
            || (menu == QLatin1String("ip/service") && name == QLatin1String("address"))
            || (menu == QLatin1String("ip/dns") && name == QLatin1String("servers"));
}

void ConfigModel::reset(const Scenario &scenario)
{
    m_scenario = scenario;
    m_tables.clear();
    m_menuOrder.clear();
    m_files.clear();
    m_nextId = 1;
    for (int i = 1; i <= scenario.ethernetPorts; ++i) {
        ModelItem &e = create(QStringLiteral("interface/ethernet"), true);
        const QString name = QStringLiteral("ether%1").arg(i);
        e.props.insert(QStringLiteral("name"), name);
        e.props.insert(QStringLiteral("default-name"), name);
        e.props.insert(QStringLiteral("mac-address"),
                       QStringLiteral("D4:01:C3:5A:10:%1").arg(i, 2, 16, QLatin1Char('0')).toUpper());
        e.props.insert(QStringLiteral("mtu"), QStringLiteral("1500"));
        applyDefaults(e);
    }
    for (const QString &name : scenario.extraInterfaces) {
        const QString kind = name.startsWith(QLatin1String("wlan")) ? QStringLiteral("interface/wireless")
                : name.startsWith(QLatin1String("wifi"))            ? QStringLiteral("interface/wifi")
                                                                    : QStringLiteral("interface/ethernet");
        ModelItem &e = create(kind, true);
        e.props.insert(QStringLiteral("name"), name);
        e.props.insert(QStringLiteral("default-name"), name);
        applyDefaults(e);
    }
    for (const ScenarioUser &u : scenario.users) {
        ModelItem &user = create(QStringLiteral("user"), u.name == QLatin1String("admin"));
        user.props.insert(QStringLiteral("name"), u.name);
        user.props.insert(QStringLiteral("password"), u.password);
        user.props.insert(QStringLiteral("group"), u.group.isEmpty() ? QStringLiteral("full") : u.group);
        if (u.name == QLatin1String("admin"))
            user.props.insert(QStringLiteral("comment"), QStringLiteral("system default user"));
        else
            user.given = {QStringLiteral("group"), QStringLiteral("name")};
        applyDefaults(user);
    }
    const struct {
        const char *name;
        int port;
        bool disabled;
    } services[] = {{"telnet", 23, false}, {"ftp", 21, false},   {"www", 80, false},
                    {"ssh", 22, false},    {"www-ssl", 443, true}, {"api", 8728, false},
                    {"winbox", 8291, false}, {"api-ssl", 8729, false}};
    for (const auto &s : services) {
        ModelItem &item = create(QStringLiteral("ip/service"), true);
        item.props.insert(QStringLiteral("name"), QLatin1String(s.name));
        item.props.insert(QStringLiteral("port"), QString::number(s.port));
        item.props.insert(QStringLiteral("disabled"), yesNo(s.disabled));
        item.props.insert(QStringLiteral("address"), QString());
        item.props.insert(QStringLiteral("certificate"), QStringLiteral("none"));
        item.props.insert(QStringLiteral("vrf"), QStringLiteral("main"));
        item.props.insert(QStringLiteral("invalid"), QStringLiteral("no"));
        item.props.insert(QStringLiteral("dynamic"), QStringLiteral("no"));
    }
    for (const char *name : {"default", "default-encryption"}) {
        ModelItem &p = create(QStringLiteral("ppp/profile"), true);
        // The ids RouterOS gives the two default profiles; exports address them by these.
        p.id = QLatin1String(name) == QLatin1String("default") ? QStringLiteral("*0")
                                                               : QStringLiteral("*FFFFFFFE");
        p.props.insert(QStringLiteral("name"), QLatin1String(name));
        p.props.insert(QStringLiteral("default"), QStringLiteral("yes"));
        p.props.insert(QStringLiteral("use-encryption"),
                       QLatin1String(name) == QLatin1String("default") ? QStringLiteral("default")
                                                                       : QStringLiteral("yes"));
    }
    ModelItem &hs = create(QStringLiteral("ip/hotspot/profile"), true);
    hs.props.insert(QStringLiteral("name"), QStringLiteral("default"));
    hs.props.insert(QStringLiteral("default"), QStringLiteral("yes"));
    applyDefaults(hs);

    ModelItem &identity = create(QStringLiteral("system/identity"), true);
    identity.props.insert(QStringLiteral("name"), scenario.identity);
    ModelItem &resource = create(QStringLiteral("system/resource"), true);
    resource.props.insert(QStringLiteral("version"), scenario.versionString());
    resource.props.insert(QStringLiteral("board-name"),
                          scenario.model.isEmpty() ? QStringLiteral("CHR") : scenario.model);
    resource.props.insert(QStringLiteral("architecture-name"),
                          scenario.model.isEmpty() ? QStringLiteral("x86_64") : QStringLiteral("arm"));
    resource.props.insert(QStringLiteral("uptime"), QStringLiteral("1h2m3s"));
    resource.props.insert(QStringLiteral("cpu"), QStringLiteral("ARMv7"));
    if (!scenario.model.isEmpty()) {
        ModelItem &rb = create(QStringLiteral("system/routerboard"), true);
        rb.props.insert(QStringLiteral("routerboard"), QStringLiteral("yes"));
        rb.props.insert(QStringLiteral("model"), scenario.model);
        rb.props.insert(QStringLiteral("serial-number"), QStringLiteral("HGC09A1B2C3"));
        rb.props.insert(QStringLiteral("current-firmware"), scenario.version);
    }
    ModelItem &clock = create(QStringLiteral("system/clock"), true);
    clock.props.insert(QStringLiteral("time-zone-name"), QStringLiteral("manual"));
    clock.props.insert(QStringLiteral("time-zone-autodetect"), QStringLiteral("yes"));
    ModelItem &dns = create(QStringLiteral("ip/dns"), true);
    dns.props.insert(QStringLiteral("servers"), QString());
    dns.props.insert(QStringLiteral("allow-remote-requests"), QStringLiteral("no"));
    dns.props.insert(QStringLiteral("cache-size"), QStringLiteral("2048"));
    dns.props.insert(QStringLiteral("cache-max-ttl"), QStringLiteral("1w"));
    create(QStringLiteral("ip/neighbor/discovery-settings"), true);
    create(QStringLiteral("tool/mac-server"), true);
    create(QStringLiteral("tool/mac-server/mac-winbox"), true);
    refresh();
}

ModelItem &ConfigModel::create(const QString &menu, bool builtin)
{
    if (!m_tables.contains(menu))
        m_menuOrder << menu;
    auto item = std::make_shared<ModelItem>();
    item->id = QStringLiteral("*%1").arg(m_nextId++, 0, 16).toUpper();
    item->menu = menu;
    item->builtin = builtin;
    item->created = QDateTime::currentDateTimeUtc();
    m_tables[menu].append(item);
    return *item;
}

void ConfigModel::applyDefaults(ModelItem &item)
{
    const QString &menu = item.menu;
    auto def = [&](const char *k, const QString &v) {
        if (!item.props.contains(QLatin1String(k)))
            item.props.insert(QLatin1String(k), v);
    };
    if (menu == QLatin1String("interface/pppoe-client"))
        def("disabled", QStringLiteral("yes"));
    if (menu == QLatin1String("ip/hotspot") || menu == QLatin1String("interface/pppoe-server/server"))
        def("disabled", QStringLiteral("yes"));
    if (menu != QLatin1String("ip/pool") && menu != QLatin1String("ip/hotspot/profile")
        && menu != QLatin1String("ppp/profile") && menu != QLatin1String("interface/list")
        && menu != QLatin1String("ip/dhcp-server/network") && !isSettingsMenu(menu))
        def("disabled", QStringLiteral("no"));
    // Hotspot servers and profiles, services and settings have no comment property.
    static const QSet<QString> withoutComment = {QStringLiteral("ip/hotspot"),
                                                 QStringLiteral("ip/hotspot/profile"),
                                                 QStringLiteral("ip/service")};
    if (!withoutComment.contains(menu) && !isSettingsMenu(menu))
        def("comment", QString());
    if (isInterfaceMenu(menu)) {
        def("type", interfaceType(menu));
        def("running", yesNo(item.props.value(QStringLiteral("disabled")) != QLatin1String("yes")));
        def("mtu", menu == QLatin1String("interface/wireguard") ? QStringLiteral("1420")
                                                                : QStringLiteral("1500"));
        def("default-name", QString());
    }
    if (menu == QLatin1String("interface/bridge")) {
        def("protocol-mode", QStringLiteral("rstp"));
        def("auto-mac", QStringLiteral("yes"));
    }
    if (menu == QLatin1String("interface/wireguard")) {
        def("listen-port", QStringLiteral("13231"));
        if (!item.props.contains(QStringLiteral("private-key"))) {
            item.props.insert(QStringLiteral("private-key"),
                              QString::fromLatin1(Curve25519::generatePrivateKey().toBase64()));
        }
        const QByteArray priv =
                QByteArray::fromBase64(item.props.value(QStringLiteral("private-key")).toLatin1());
        item.props.insert(QStringLiteral("public-key"),
                          QString::fromLatin1(Curve25519::publicKey(priv).toBase64()));
    }
    if (menu == QLatin1String("interface/wireguard/peers")) {
        def("endpoint-address", QString());
        def("endpoint-port", QStringLiteral("0"));
        def("persistent-keepalive", QStringLiteral("0s"));
        def("public-key", QString());
    }
    if (menu == QLatin1String("ip/address")) {
        def("network", networkOfPrefix(item.props.value(QStringLiteral("address"))));
        item.props.insert(QStringLiteral("actual-interface"), item.props.value(QStringLiteral("interface")));
        def("dynamic", QStringLiteral("no"));
        def("invalid", QStringLiteral("no"));
    }
    if (menu == QLatin1String("ip/route")) {
        def("dst-address", QStringLiteral("0.0.0.0/0"));
        def("distance", QStringLiteral("1"));
        def("routing-table", QStringLiteral("main"));
        def("gateway", QString());
        def("dynamic", QStringLiteral("no"));
        def("active", QStringLiteral("no"));
    }
    if (menu == QLatin1String("ip/dhcp-client")) {
        def("add-default-route", QStringLiteral("yes"));
        def("use-peer-dns", QStringLiteral("yes"));
        def("use-peer-ntp", QStringLiteral("yes"));
        def("status", QStringLiteral("searching..."));
        def("dynamic", QStringLiteral("no"));
    }
    if (menu == QLatin1String("interface/pppoe-client")) {
        def("add-default-route", QStringLiteral("no"));
        def("use-peer-dns", QStringLiteral("no"));
        def("user", QString());
        def("password", QString());
        def("profile", QStringLiteral("default"));
    }
    if (menu == QLatin1String("ip/hotspot/profile")) {
        def("html-directory", QStringLiteral("hotspot"));
        def("html-directory-override", QString());
        def("dns-name", QString());
        def("hotspot-address", QString());
        def("login-by", QStringLiteral("cookie,http-chap"));
        def("default", QStringLiteral("no"));
    }
    if (menu == QLatin1String("ppp/profile"))
        def("default", QStringLiteral("no"));
    if (menu == QLatin1String("ip/hotspot")) {
        def("profile", QStringLiteral("default"));
        def("address-pool", QStringLiteral("none"));
    }
    if (menu == QLatin1String("interface/bridge/port") || menu == QLatin1String("interface/list/member"))
        def("dynamic", QStringLiteral("no"));
    if (menu == QLatin1String("ip/firewall/filter") || menu == QLatin1String("ip/firewall/nat")
        || menu == QLatin1String("ip/firewall/raw")) {
        def("action", QStringLiteral("accept"));
        def("dynamic", QStringLiteral("no"));
    }
    if (menu == QLatin1String("user")) {
        def("group", QStringLiteral("full"));
        def("address", QString());
    }
}

QList<ModelItem *> ConfigModel::items(const QString &menu)
{
    QList<ModelItem *> out;
    if (menu == QLatin1String("interface")) {
        for (auto it = m_tables.begin(); it != m_tables.end(); ++it)
            if (isInterfaceMenu(it.key()))
                for (const auto &item : it.value())
                    out << item.get();
        std::sort(out.begin(), out.end(), [](ModelItem *a, ModelItem *b) {
            return a->id.mid(1).toULongLong(nullptr, 16) < b->id.mid(1).toULongLong(nullptr, 16);
        });
        return out;
    }
    for (const auto &item : m_tables.value(menu))
        out << item.get();
    return out;
}

ModelItem *ConfigModel::itemById(const QString &id)
{
    for (auto it = m_tables.begin(); it != m_tables.end(); ++it)
        for (const auto &item : it.value())
            if (item->id.compare(id, Qt::CaseInsensitive) == 0)
                return item.get();
    return nullptr;
}

ModelItem *ConfigModel::opaqueItem(const QString &menu, const QString &ref)
{
    for (const auto &item : m_tables.value(menu))
        if (item->builtin && item->exportRef == ref)
            return item.get();
    ModelItem &item = create(menu, true);
    item.exportRef = ref;
    return &item;
}

ModelItem *ConfigModel::settings(const QString &menu)
{
    const auto list = m_tables.value(menu);
    if (list.isEmpty())
        return &create(menu, true);
    return list.first().get();
}

bool ConfigModel::resolve(const QString &menu, const QStringList &refs, QList<ModelItem *> *out,
                          QString *error)
{
    const QList<ModelItem *> all = items(menu);
    for (const QString &joined : refs) {
        for (const QString &ref : joined.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            ModelItem *found = nullptr;
            if (ref.startsWith(QLatin1Char('*'))) {
                for (ModelItem *item : all)
                    if (item->id.compare(ref, Qt::CaseInsensitive) == 0)
                        found = item;
            } else {
                bool isNumber = false;
                const int n = ref.toInt(&isNumber);
                if (isNumber) {
                    if (n >= 0 && n < all.size())
                        found = all.at(n);
                } else {
                    for (ModelItem *item : all)
                        if (item->props.value(QStringLiteral("name")) == ref)
                            found = item;
                }
            }
            if (!found) {
                if (error)
                    *error = kNoSuchItem;
                return false;
            }
            if (!out->contains(found))
                out->append(found);
        }
    }
    return true;
}

ModelItem *ConfigModel::interfaceByName(const QString &name) const
{
    for (auto it = m_tables.begin(); it != m_tables.end(); ++it)
        if (isInterfaceMenu(it.key()))
            for (const auto &item : it.value())
                if (item->props.value(QStringLiteral("name")) == name)
                    return item.get();
    return nullptr;
}

bool ConfigModel::interfaceExists(const QString &name) const
{
    return interfaceByName(name) != nullptr;
}

QString ConfigModel::uniqueName(const QString &menu, const QString &base) const
{
    for (int n = 1;; ++n) {
        const QString candidate = base + QString::number(n);
        bool taken = isInterfaceMenu(menu) ? interfaceExists(candidate) : false;
        for (const auto &item : m_tables.value(menu))
            if (item->props.value(QStringLiteral("name")) == candidate)
                taken = true;
        if (!taken)
            return candidate;
    }
}

bool ConfigModel::checkValue(const QString &menu, const QString &prop, const QString &value,
                             ModelItem *self, QString *error) const
{
    // What a real router exported it accepted: its hardware and packages know values and
    // references this router does not.
    if (m_exportMode)
        return true;
    auto invalid = [&]() {
        if (error)
            *error = kInvalidValue.arg(prop);
        return false;
    };
    if (isBooleanProperty(prop)) {
        if (!(value == QLatin1String("yes") || value == QLatin1String("no")
              || value == QLatin1String("true") || value == QLatin1String("false")))
            return invalid();
        return true;
    }
    if (prop == QLatin1String("port") && menu != QLatin1String("ip/firewall/filter")
        && menu != QLatin1String("ip/firewall/nat") && menu != QLatin1String("ip/firewall/raw")) {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 1 || n > 65535)
            return invalid();
        return true;
    }
    if (prop == QLatin1String("listen-port") || prop == QLatin1String("endpoint-port")) {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 0 || n > 65535 || (prop == QLatin1String("listen-port") && n == 0))
            return invalid();
        return true;
    }
    static const QSet<QString> times = {
            QStringLiteral("idle-timeout"),   QStringLiteral("login-timeout"),
            QStringLiteral("cache-max-ttl"),  QStringLiteral("persistent-keepalive"),
            QStringLiteral("lease-time"),     QStringLiteral("ageing-time"),
            QStringLiteral("session-timeout"), QStringLiteral("address-list-timeout"),
            QStringLiteral("keepalive-timeout"), QStringLiteral("timeout"),
            QStringLiteral("arp-timeout"),    QStringLiteral("http-cookie-lifetime")};
    if (times.contains(prop)) {
        if (!validTime(value) && value != QLatin1String("auto"))
            return invalid();
        return true;
    }
    static const QSet<QString> numbers = {QStringLiteral("cache-size"), QStringLiteral("distance"),
                                          QStringLiteral("addresses-per-mac"),
                                          QStringLiteral("max-sessions"), QStringLiteral("mtu")};
    if (numbers.contains(prop)) {
        static const QRegularExpression digits(QStringLiteral("^\\d+(KiB)?$"));
        if (!digits.match(value).hasMatch() && value != QLatin1String("auto")
            && value != QLatin1String("unlimited"))
            return invalid();
        return true;
    }
    const bool prefixProp = (prop == QLatin1String("address")
                             && (menu == QLatin1String("ip/address")
                                 || menu == QLatin1String("ip/dhcp-server/network")))
            || (prop == QLatin1String("dst-address") && menu == QLatin1String("ip/route"));
    if (prefixProp && !validPrefix(value))
        return invalid();
    if (prop == QLatin1String("ranges") && menu == QLatin1String("ip/pool")) {
        for (const QString &range : value.split(QLatin1Char(','))) {
            const QStringList ends = range.split(QLatin1Char('-'));
            if (ends.size() > 2 || !validPrefix(ends.first()) || (ends.size() == 2 && !validIp(ends.last())))
                return invalid();
        }
        return true;
    }
    if ((prop == QLatin1String("gateway") || prop == QLatin1String("dns-server"))
        && menu == QLatin1String("ip/dhcp-server/network")) {
        for (const QString &ip : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (!validIp(ip))
                return invalid();
        return true;
    }
    if (isListProperty(menu, prop) && prop != QLatin1String("login-by")) {
        for (const QString &part : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (!validPrefix(part))
                return invalid();
        if (prop == QLatin1String("allowed-address") && value.isEmpty())
            return invalid();
        return true;
    }
    static const QSet<QString> ips = {QStringLiteral("network"), QStringLiteral("hotspot-address"),
                                      QStringLiteral("local-address")};
    if (ips.contains(prop) && !value.isEmpty() && !validIp(value)
        && menu != QLatin1String("ppp/profile"))
        return invalid();
    if ((prop == QLatin1String("public-key") || prop == QLatin1String("private-key")
         || prop == QLatin1String("preshared-key"))
        && menu.startsWith(QLatin1String("interface/wireguard")) && !validKey(value)
        && !(prop == QLatin1String("preshared-key") && value.isEmpty()))
        return invalid();
    const QStringList choices = enumValues(menu, prop);
    if (!choices.isEmpty()) {
        const bool list = prop == QLatin1String("login-by") || prop == QLatin1String("hotspot");
        const bool negatable = prop == QLatin1String("protocol") || prop == QLatin1String("hotspot");
        const QStringList parts = list ? value.split(QLatin1Char(',')) : QStringList{value};
        for (QString part : parts) {
            if (negatable && part.startsWith(QLatin1Char('!')))
                part = part.mid(1);
            bool number = false;
            const int n = part.toInt(&number);
            if (prop == QLatin1String("protocol") && number && n >= 0 && n <= 255)
                continue;
            if (!choices.contains(part)) {
                if (error)
                    *error = kNoMatch.arg(prop);
                return false;
            }
        }
        return true;
    }
    if (menu == QLatin1String("ppp/profile")
        && (prop == QLatin1String("local-address") || prop == QLatin1String("remote-address"))) {
        // An address or the name of a pool to take one from.
        if (validIp(value))
            return true;
        for (const auto &item : m_tables.value(QStringLiteral("ip/pool")))
            if (item->props.value(QStringLiteral("name")) == value)
                return true;
        if (error)
            *error = kNoMatch.arg(prop);
        return false;
    }
    const QString ref = referenceKind(menu, prop);
    if (ref.isEmpty()) {
        if (prop == QLatin1String("gateway") && menu == QLatin1String("ip/route")) {
            for (const QString &g : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
                if (!validIp(g) && !interfaceExists(g.section(QLatin1Char('%'), 0, 0)))
                    return invalid();
        }
        return true;
    }
    QString target = value;
    if (target.startsWith(QLatin1Char('!')) && prop != QLatin1String("interface"))
        target = target.mid(1);
    bool found = false;
    if (ref == QLatin1String("interface")) {
        found = interfaceExists(target);
        if (!found && (menu == QLatin1String("ip/firewall/filter") || menu == QLatin1String("ip/firewall/nat")
                       || menu == QLatin1String("ip/firewall/raw")))
            found = target == QLatin1String("all");
    } else if (ref == QLatin1String("wireguard")) {
        for (const auto &item : m_tables.value(QStringLiteral("interface/wireguard")))
            found = found || item->props.value(QStringLiteral("name")) == target;
        if (!found) {
            if (error)
                *error = kNoMatch.arg(prop);
            return false;
        }
    } else if (ref == QLatin1String("bridge")) {
        for (const auto &item : m_tables.value(QStringLiteral("interface/bridge")))
            found = found || item->props.value(QStringLiteral("name")) == target;
    } else if (ref == QLatin1String("list")) {
        static const QSet<QString> builtinLists = {QStringLiteral("all"), QStringLiteral("none"),
                                                   QStringLiteral("dynamic"), QStringLiteral("static")};
        found = builtinLists.contains(target);
        for (const auto &item : m_tables.value(QStringLiteral("interface/list")))
            found = found || item->props.value(QStringLiteral("name")) == target;
    } else if (ref == QLatin1String("pool")) {
        found = target == QLatin1String("none") || target == QLatin1String("static-only");
        for (const auto &item : m_tables.value(QStringLiteral("ip/pool")))
            found = found || item->props.value(QStringLiteral("name")) == target;
    } else if (ref == QLatin1String("hotspot-profile")) {
        for (const auto &item : m_tables.value(QStringLiteral("ip/hotspot/profile")))
            found = found || item->props.value(QStringLiteral("name")) == target;
    } else if (ref == QLatin1String("ppp-profile")) {
        for (const auto &item : m_tables.value(QStringLiteral("ppp/profile")))
            found = found || item->props.value(QStringLiteral("name")) == target;
    } else if (ref == QLatin1String("group")) {
        found = target == QLatin1String("full") || target == QLatin1String("read")
                || target == QLatin1String("write");
    }
    Q_UNUSED(self);
    if (!found) {
        if (error)
            *error = kNoMatch.arg(prop);
        return false;
    }
    return true;
}

bool ConfigModel::add(const QString &menu, const Args &args, QString *newId, QString *error)
{
    QMap<QString, QString> props;
    QStringList given;
    QString placeBefore;
    bool hasPlaceBefore = false;
    for (const auto &arg : args) {
        if (arg.first == QLatin1String("place-before")) {
            placeBefore = arg.second;
            hasPlaceBefore = true;
            continue;
        }
        if (arg.first == QLatin1String("copy-from"))
            continue;
        QString value = arg.second;
        if (isBooleanProperty(arg.first))
            value = yesNo(isYes(value));
        props.insert(arg.first, value);
        given.removeAll(arg.first);
        given << arg.first;
    }
    if (menu == QLatin1String("interface/pppoe-client") && !props.contains(QStringLiteral("interface"))) {
        if (error)
            *error = kNoPppoeInterface;
        return false;
    }
    QStringList missing;
    for (const QString &r : required(menu))
        if (!props.contains(r))
            missing << r;
    if (!missing.isEmpty() && !m_exportMode) {
        if (error)
            *error = kMissing.arg(missing.join(QLatin1Char(' ')));
        return false;
    }
    for (const auto &arg : args) {
        if (arg.first == QLatin1String("place-before") || arg.first == QLatin1String("copy-from"))
            continue;
        if (!checkValue(menu, arg.first, arg.second, nullptr, error))
            return false;
    }
    if (hasUniqueName(menu) && !props.contains(QStringLiteral("name"))) {
        const QString base = autoNameBase(menu);
        if (!base.isEmpty())
            props.insert(QStringLiteral("name"), uniqueName(menu, base));
    }
    const QString name = props.value(QStringLiteral("name"));
    if (hasUniqueName(menu) && !name.isEmpty()) {
        if (isInterfaceMenu(menu) && interfaceExists(name)) {
            if (error)
                *error = kDuplicateInterface;
            return false;
        }
        for (const auto &item : m_tables.value(menu)) {
            if (item->props.value(QStringLiteral("name")) == name) {
                if (error)
                    *error = kDuplicateName;
                return false;
            }
        }
    }
    if (menu == QLatin1String("ip/address")) {
        for (const auto &item : m_tables.value(menu)) {
            if (!item->dynamic && item->props.value(QStringLiteral("address")) == props.value(QStringLiteral("address"))
                && item->props.value(QStringLiteral("interface")) == props.value(QStringLiteral("interface"))) {
                if (error)
                    *error = kDuplicateAddress;
                return false;
            }
        }
    }
    if (menu == QLatin1String("interface/bridge/port") && !m_exportMode) {
        for (const auto &item : m_tables.value(menu)) {
            if (item->props.value(QStringLiteral("interface")) == props.value(QStringLiteral("interface"))) {
                if (error)
                    *error = kDuplicatePort;
                return false;
            }
        }
    }
    if (menu == QLatin1String("ip/dhcp-client") && !m_exportMode) {
        for (const auto &item : m_tables.value(menu)) {
            if (item->props.value(QStringLiteral("interface")) == props.value(QStringLiteral("interface"))) {
                if (error)
                    *error = kDuplicateDhcpClient;
                return false;
            }
        }
    }
    int insertAt = -1;
    if (hasPlaceBefore && isOrdered(menu)) {
        const QList<ModelItem *> all = items(menu);
        const QString first = placeBefore.split(QLatin1Char(',')).value(0);
        bool isNumber = false;
        const int n = first.toInt(&isNumber);
        if (isNumber && n >= 0 && n < all.size()) {
            insertAt = n;
        } else if (first.startsWith(QLatin1Char('*'))) {
            for (int i = 0; i < all.size(); ++i)
                if (all.at(i)->id.compare(first, Qt::CaseInsensitive) == 0)
                    insertAt = i;
        }
        if (insertAt < 0 && !(all.isEmpty() && m_scenario.placeBeforeEmptyAccepted)) {
            if (error)
                *error = kNoSuchItem;
            return false;
        }
    }
    ModelItem &item = create(menu, false);
    item.props = props;
    item.given = given;
    applyDefaults(item);
    if (menu == QLatin1String("interface/wireguard"))
        item.given.removeAll(QStringLiteral("private-key"));
    if (insertAt >= 0) {
        auto &table = m_tables[menu];
        auto moved = table.takeLast();
        table.insert(insertAt, moved);
    }
    if (newId)
        *newId = item.id;
    refresh();
    return true;
}

bool ConfigModel::set(const QString &menu, const QList<ModelItem *> &targets, const Args &args,
                      QString *error)
{
    for (ModelItem *item : targets) {
        const QString itemMenu = item->menu;
        for (const auto &arg : args) {
            if (!checkValue(itemMenu, arg.first, arg.second, item, error))
                return false;
            if (arg.first == QLatin1String("name") && hasUniqueName(itemMenu)
                && item->props.value(QStringLiteral("name")) != arg.second) {
                const bool taken = isInterfaceMenu(itemMenu) ? interfaceExists(arg.second) : false;
                bool sameMenu = false;
                for (const auto &other : m_tables.value(itemMenu))
                    sameMenu = sameMenu || other->props.value(QStringLiteral("name")) == arg.second;
                if (taken || sameMenu) {
                    if (error)
                        *error = isInterfaceMenu(itemMenu) ? kDuplicateInterface : kDuplicateName;
                    return false;
                }
            }
        }
    }
    Q_UNUSED(menu);
    for (ModelItem *item : targets) {
        for (const auto &arg : args) {
            QString value = arg.second;
            if (isBooleanProperty(arg.first))
                value = yesNo(isYes(value));
            if (arg.first == QLatin1String("name")) {
                const QString old = item->props.value(QStringLiteral("name"));
                if (old != value && isInterfaceMenu(item->menu))
                    renameReferences(old, value, false);
                if (old != value && item->menu == QLatin1String("interface/list"))
                    renameReferences(old, value, true);
            }
            item->props.insert(arg.first, value);
            item->given.removeAll(arg.first);
            item->given << arg.first;
            if (item->menu == QLatin1String("interface/wireguard") && arg.first == QLatin1String("private-key")) {
                item->props.insert(QStringLiteral("public-key"),
                                   QString::fromLatin1(Curve25519::publicKey(
                                           QByteArray::fromBase64(value.toLatin1())).toBase64()));
                item->given.removeAll(arg.first);
            }
            if (item->menu == QLatin1String("ip/address") && arg.first == QLatin1String("address")
                && !item->given.contains(QStringLiteral("network")))
                item->props.insert(QStringLiteral("network"), networkOfPrefix(value));
            if (item->menu == QLatin1String("ip/address") && arg.first == QLatin1String("interface"))
                item->props.insert(QStringLiteral("actual-interface"), value);
            if (isInterfaceMenu(item->menu) && arg.first == QLatin1String("disabled"))
                item->props.insert(QStringLiteral("running"), yesNo(!isYes(value)));
        }
    }
    refresh();
    return true;
}

void ConfigModel::renameReferences(const QString &from, const QString &to, bool isList)
{
    static const QSet<QString> ifaceProps = {
            QStringLiteral("interface"),    QStringLiteral("in-interface"),
            QStringLiteral("out-interface"), QStringLiteral("bridge"),
            QStringLiteral("actual-interface"), QStringLiteral("gateway")};
    static const QSet<QString> listProps = {QStringLiteral("list"), QStringLiteral("in-interface-list"),
                                            QStringLiteral("out-interface-list"),
                                            QStringLiteral("discover-interface-list"),
                                            QStringLiteral("allowed-interface-list")};
    for (auto it = m_tables.begin(); it != m_tables.end(); ++it) {
        if (isList && it.key() == QLatin1String("ip/firewall/address-list"))
            continue;
        for (const auto &item : it.value()) {
            for (auto p = item->props.begin(); p != item->props.end(); ++p) {
                if (!(isList ? listProps : ifaceProps).contains(p.key()))
                    continue;
                if (p.value() == from)
                    p.value() = to;
                else if (p.value() == QLatin1Char('!') + from)
                    p.value() = QLatin1Char('!') + to;
            }
        }
    }
}

bool ConfigModel::remove(const QString &menu, const QList<ModelItem *> &targets, QString *error)
{
    Q_UNUSED(menu);
    for (ModelItem *item : targets) {
        if (item->builtin) {
            if (error)
                *error = kBuiltinRemove;
            return false;
        }
    }
    QStringList removedBridges;
    QStringList removedInterfaces;
    for (ModelItem *item : targets) {
        if (item->dynamic)
            continue;
        if (isInterfaceMenu(item->menu))
            removedInterfaces << item->props.value(QStringLiteral("name"));
        if (item->menu == QLatin1String("interface/bridge"))
            removedBridges << item->props.value(QStringLiteral("name"));
        auto &table = m_tables[item->menu];
        for (int i = 0; i < table.size(); ++i) {
            if (table.at(i).get() == item) {
                table.removeAt(i);
                break;
            }
        }
    }
    auto &ports = m_tables[QStringLiteral("interface/bridge/port")];
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [&](const std::shared_ptr<ModelItem> &p) {
                                   return removedBridges.contains(p->props.value(QStringLiteral("bridge")))
                                           || removedInterfaces.contains(p->props.value(QStringLiteral("interface")));
                               }),
                ports.end());
    refresh();
    return true;
}

RosValue ConfigModel::typed(const QString &menu, const QString &prop, const QString &text) const
{
    if (prop == QLatin1String(".id"))
        return RosValue::id(text);
    if (isBooleanProperty(prop))
        return RosValue::boolean(isYes(text));
    if (isListProperty(menu, prop)) {
        QList<RosValue> parts;
        for (const QString &p : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
            parts << RosValue::str(p);
        return RosValue::array(parts);
    }
    static const QSet<QString> numeric = {QStringLiteral("port"), QStringLiteral("listen-port"),
                                          QStringLiteral("endpoint-port"), QStringLiteral("distance"),
                                          QStringLiteral("mtu"), QStringLiteral("cache-size"),
                                          QStringLiteral("addresses-per-mac"), QStringLiteral("max-sessions")};
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (numeric.contains(prop) && ok)
        return RosValue::num(n);
    return RosValue::str(text);
}

bool ConfigModel::get(const QString &menu, ModelItem *item, const QString &prop, RosValue *out,
                      QString *error) const
{
    if (prop == QLatin1String(".id")) {
        *out = RosValue::id(item->id);
        return true;
    }
    if (prop == QLatin1String("password") && item->menu == QLatin1String("user")) {
        if (error)
            *error = kNoSuchItem;
        return false;
    }
    if (!item->props.contains(prop)) {
        if (error)
            *error = kNoSuchItem;
        return false;
    }
    *out = typed(menu, prop, item->props.value(prop));
    return true;
}

void ConfigModel::setDynamic(const QString &menu, const QString &source,
                             const QMap<QString, QString> &props)
{
    for (const auto &item : m_tables.value(menu)) {
        if (item->dynamic && item->source == source) {
            for (auto it = props.begin(); it != props.end(); ++it)
                item->props.insert(it.key(), it.value());
            return;
        }
    }
    ModelItem &item = create(menu, false);
    item.dynamic = true;
    item.source = source;
    item.props = props;
    item.props.insert(QStringLiteral("dynamic"), QStringLiteral("yes"));
    applyDefaults(item);
}

void ConfigModel::dropDynamic(const QStringList &keep)
{
    for (auto it = m_tables.begin(); it != m_tables.end(); ++it) {
        auto &table = it.value();
        table.erase(std::remove_if(table.begin(), table.end(),
                                   [&](const std::shared_ptr<ModelItem> &item) {
                                       return item->dynamic && !keep.contains(item->source);
                                   }),
                    table.end());
    }
}

void ConfigModel::refresh()
{
    ModelItem *port1 = nullptr;
    for (const auto &e : m_tables.value(QStringLiteral("interface/ethernet")))
        if (e->props.value(QStringLiteral("default-name")) == QLatin1String("ether1"))
            port1 = e.get();
    const QString port1Name = port1 ? port1->props.value(QStringLiteral("name")) : QString();
    bool port1Usable = port1 && port1->props.value(QStringLiteral("disabled")) != QLatin1String("yes");
    for (const auto &p : m_tables.value(QStringLiteral("interface/bridge/port")))
        if (p->props.value(QStringLiteral("interface")) == port1Name
            && p->props.value(QStringLiteral("disabled")) != QLatin1String("yes"))
            port1Usable = false;
    QStringList keep;
    for (const auto &dc : m_tables.value(QStringLiteral("ip/dhcp-client"))) {
        const bool bound = m_scenario.upstreamDhcp && port1Usable
                && dc->props.value(QStringLiteral("interface")) == port1Name
                && dc->props.value(QStringLiteral("disabled")) != QLatin1String("yes");
        if (!bound) {
            dc->props.insert(QStringLiteral("status"), QStringLiteral("searching..."));
            dc->props.remove(QStringLiteral("address"));
            dc->props.remove(QStringLiteral("gateway"));
            continue;
        }
        dc->props.insert(QStringLiteral("status"), QStringLiteral("bound"));
        dc->props.insert(QStringLiteral("address"), m_scenario.dhcpAddress);
        dc->props.insert(QStringLiteral("gateway"), m_scenario.dhcpGateway);
        const QString src = QStringLiteral("dhcp:") + dc->id;
        setDynamic(QStringLiteral("ip/address"), src,
                   {{QStringLiteral("address"), m_scenario.dhcpAddress},
                    {QStringLiteral("network"), networkOfPrefix(m_scenario.dhcpAddress)},
                    {QStringLiteral("interface"), port1Name},
                    {QStringLiteral("actual-interface"), port1Name}});
        keep << src;
        if (isYes(dc->props.value(QStringLiteral("add-default-route")))) {
            const QString routeSrc = QStringLiteral("dhcp-route:") + dc->id;
            setDynamic(QStringLiteral("ip/route"), routeSrc,
                       {{QStringLiteral("dst-address"), QStringLiteral("0.0.0.0/0")},
                        {QStringLiteral("gateway"), m_scenario.dhcpGateway},
                        {QStringLiteral("distance"), QStringLiteral("1")},
                        {QStringLiteral("active"), QStringLiteral("yes")}});
            keep << routeSrc;
        }
    }
    for (const auto &pc : m_tables.value(QStringLiteral("interface/pppoe-client"))) {
        const bool up = !m_scenario.pppoeUser.isEmpty() && port1Usable
                && pc->props.value(QStringLiteral("interface")) == port1Name
                && pc->props.value(QStringLiteral("disabled")) != QLatin1String("yes")
                && pc->props.value(QStringLiteral("user")) == m_scenario.pppoeUser
                && pc->props.value(QStringLiteral("password")) == m_scenario.pppoePassword;
        pc->props.insert(QStringLiteral("running"), yesNo(up));
        if (!up)
            continue;
        const QString name = pc->props.value(QStringLiteral("name"));
        const QString src = QStringLiteral("pppoe:") + pc->id;
        setDynamic(QStringLiteral("ip/address"), src,
                   {{QStringLiteral("address"), m_scenario.pppoeAddress},
                    {QStringLiteral("network"), m_scenario.pppoeGateway},
                    {QStringLiteral("interface"), name},
                    {QStringLiteral("actual-interface"), name}});
        keep << src;
        if (isYes(pc->props.value(QStringLiteral("add-default-route")))) {
            const QString routeSrc = QStringLiteral("pppoe-route:") + pc->id;
            setDynamic(QStringLiteral("ip/route"), routeSrc,
                       {{QStringLiteral("dst-address"), QStringLiteral("0.0.0.0/0")},
                        {QStringLiteral("gateway"), name},
                        {QStringLiteral("distance"), QStringLiteral("1")},
                        {QStringLiteral("active"), QStringLiteral("yes")}});
            keep << routeSrc;
        }
    }
    dropDynamic(keep);

    const auto addresses = m_tables.value(QStringLiteral("ip/address"));
    for (const auto &route : m_tables.value(QStringLiteral("ip/route"))) {
        if (route->dynamic)
            continue;
        bool active = route->props.value(QStringLiteral("disabled")) != QLatin1String("yes");
        if (active && !isYes(route->props.value(QStringLiteral("blackhole")))) {
            bool reachable = false;
            for (const QString &g : route->props.value(QStringLiteral("gateway")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (validIp(g)) {
                    for (const auto &a : addresses)
                        if (a->props.value(QStringLiteral("disabled")) != QLatin1String("yes")
                            && inNetwork(g, a->props.value(QStringLiteral("address"))))
                            reachable = true;
                } else if (ModelItem *iface = interfaceByName(g)) {
                    reachable = reachable || iface->props.value(QStringLiteral("running")) == QLatin1String("yes");
                }
            }
            active = reachable;
        }
        route->props.insert(QStringLiteral("active"), yesNo(active));
    }

    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const auto &peer : m_tables.value(QStringLiteral("interface/wireguard/peers"))) {
        ModelItem *iface = interfaceByName(peer->props.value(QStringLiteral("interface")));
        const bool up = m_scenario.handshake && iface
                && peer->props.value(QStringLiteral("disabled")) != QLatin1String("yes")
                && iface->props.value(QStringLiteral("disabled")) != QLatin1String("yes");
        const qint64 since = peer->created.secsTo(now) - m_scenario.handshakeAfterSeconds;
        if (up && since >= 0) {
            peer->props.insert(QStringLiteral("last-handshake"), formatDuration(since));
            peer->props.insert(QStringLiteral("current-endpoint-address"),
                               peer->props.value(QStringLiteral("endpoint-address")));
            continue;
        }
        if (m_scenario.lastHandshakeBefore == QLatin1String("never"))
            peer->props.insert(QStringLiteral("last-handshake"), QStringLiteral("never"));
        else if (m_scenario.lastHandshakeBefore == QLatin1String("zero"))
            peer->props.insert(QStringLiteral("last-handshake"), QStringLiteral("0"));
        else
            peer->props.remove(QStringLiteral("last-handshake"));
    }
}

bool ConfigModel::hasAddress(const QString &ip) const
{
    for (const auto &a : m_tables.value(QStringLiteral("ip/address")))
        if (a->props.value(QStringLiteral("address")).section(QLatin1Char('/'), 0, 0) == ip)
            return true;
    return false;
}

bool ConfigModel::hasActiveDefaultRoute()
{
    refresh();
    for (const auto &r : m_tables.value(QStringLiteral("ip/route")))
        if (r->props.value(QStringLiteral("dst-address")) == QLatin1String("0.0.0.0/0")
            && r->props.value(QStringLiteral("active")) == QLatin1String("yes"))
            return true;
    return false;
}

bool ConfigModel::authenticate(const QString &user, const QString &password) const
{
    for (const auto &u : m_tables.value(QStringLiteral("user")))
        if (u->props.value(QStringLiteral("name")) == user
            && u->props.value(QStringLiteral("disabled")) != QLatin1String("yes"))
            return u->props.value(QStringLiteral("password")) == password;
    return false;
}

void ConfigModel::recordFile(const QString &path, const QString &url)
{
    m_files.insert(path, url);
}

QString ConfigModel::exportText(const QString &onlyMenu) const
{
    QStringList lines;
    QStringList menus = exportOrder();
    for (const QString &m : m_menuOrder)
        if (!menus.contains(m))
            menus << m;
    static const QSet<QString> hidden = {QStringLiteral("password"), QStringLiteral("private-key")};
    for (const QString &menu : menus) {
        if (!onlyMenu.isEmpty() && menu != onlyMenu)
            continue;
        QStringList body;
        for (const auto &item : m_tables.value(menu)) {
            if (item->dynamic)
                continue;
            QStringList given = item->given;
            given.removeIf([](const QString &p) { return hidden.contains(p); });
            std::sort(given.begin(), given.end());
            QStringList parts;
            for (const QString &p : given)
                parts << p + QLatin1Char('=') + exportValue(item->props.value(p));
            if (isSettingsMenu(menu)) {
                if (!parts.isEmpty())
                    body << QStringLiteral("set ") + parts.join(QLatin1Char(' '));
            } else if (item->builtin) {
                if (parts.isEmpty())
                    continue;
                QString ref;
                if (!item->exportRef.isEmpty())
                    ref = item->exportRef;
                else if (!item->props.value(QStringLiteral("default-name")).isEmpty())
                    ref = QStringLiteral("[ find default-name=%1 ]").arg(item->props.value(QStringLiteral("default-name")));
                else if (menu == QLatin1String("ip/hotspot/profile"))
                    ref = QStringLiteral("[ find default=yes ]");
                else if (item->props.contains(QStringLiteral("name")))
                    ref = exportValue(item->props.value(QStringLiteral("name")));
                // A menu this router does not model, set as a whole: its settings.
                const QString head = ref.isEmpty() ? QStringLiteral("set ")
                                                   : QStringLiteral("set %1 ").arg(ref);
                body << head + parts.join(QLatin1Char(' '));
            } else {
                body << QStringLiteral("add ") + parts.join(QLatin1Char(' '));
            }
        }
        if (body.isEmpty())
            continue;
        lines << QLatin1Char('/') + QString(menu).replace(QLatin1Char('/'), QLatin1Char(' '));
        lines << body;
    }
    QStringList header;
    if (onlyMenu.isEmpty()) {
        header << QStringLiteral("# %1 by RouterOS %2")
                          .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                               m_scenario.version);
        header << QStringLiteral("# software id = ") << QStringLiteral("#");
        if (!m_scenario.model.isEmpty())
            header << QStringLiteral("# model = ") + m_scenario.model;
    }
    return (header + lines).join(QLatin1Char('\n')) + QLatin1Char('\n');
}

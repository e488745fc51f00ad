#include "wizardrules.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

bool factBool(const QVariantMap &facts, const QString &key)
{
    return facts.value(key).toBool();
}

QString factString(const QVariantMap &facts, const QString &key)
{
    return facts.value(key).toString();
}

QString accountLabel(const AccountProfile &profile)
{
    if (!profile.accountName.isEmpty())
        return QStringLiteral("%1 (%2)").arg(profile.accountName, profile.accountNumber);
    return QStringLiteral("Account %1").arg(profile.accountNumber);
}

QString seatText(int routerLimit, int routersUsed)
{
    if (routerLimit < 0) {
        return QStringLiteral("Each account can only generate as many WireGuard configs as its "
                              "MikroTik count in Quillmor.");
    }
    if (routerLimit == 0) {
        return QStringLiteral("This account has no MikroTik seats, so a new WireGuard config cannot "
                              "be created. Ask Quillmor to raise the router count.");
    }
    if (routersUsed < routerLimit) {
        return QStringLiteral("%1 of %2 WireGuard configs are in use. Replacing a router that "
                              "already has a link does not use another one.")
            .arg(routersUsed)
            .arg(routerLimit);
    }
    return QStringLiteral("%1 of %2 WireGuard configs are already in use. A new router will be "
                          "refused. A router that already has a link can still be replaced.")
        .arg(routersUsed)
        .arg(routerLimit);
}

QString reviewText(const QVariantMap &facts, const AccountProfile &profile, bool fullSetup)
{
    QStringList lines;
    lines << QStringLiteral("Router: %1").arg(factString(facts, QStringLiteral("identity")));
    const QString model = factString(facts, QStringLiteral("model"));
    if (!model.isEmpty() && model != QLatin1String("unknown"))
        lines << QStringLiteral("Model: %1").arg(model);
    const QString version = factString(facts, QStringLiteral("version"));
    lines << QStringLiteral("RouterOS: %1")
                 .arg(version.isEmpty() ? QStringLiteral("unknown") : version);
    lines << (factBool(facts, QStringLiteral("internet")) ? QStringLiteral("Internet: working")
                                                          : QStringLiteral("Internet: not working"));
    if (profile.routerLimit >= 0) {
        lines << QStringLiteral("WireGuard configs: %1 of %2. A new one is refused once that count "
                                "is full.")
                     .arg(profile.routersUsed)
                     .arg(profile.routerLimit);
    }
    if (fullSetup) {
        lines << (factBool(facts, QStringLiteral("fresh"))
                      ? QStringLiteral("The full setup is selected. This router looks unused, so "
                                       "the standard layout will be built, then the WireGuard "
                                       "link.")
                      : QStringLiteral("The full setup is selected. What is still on the router "
                                       "will be removed, then the standard layout and the "
                                       "WireGuard link are added."));
    } else {
        lines << QStringLiteral("WireGuard only is selected. DHCP, addresses, bridges, hotspot, and "
                                "customers stay as they are.");
    }
    if (factBool(facts, QStringLiteral("replace"))) {
        lines << QStringLiteral("An Quillmor link is already here. That link will be replaced. "
                                "Everything else stays.");
    }
    lines << QString();
    lines << QStringLiteral("What gets added:");
    const QString ifName = factString(facts, QStringLiteral("ifName"));
    if (!ifName.isEmpty())
        lines << QStringLiteral("- WireGuard interface %1").arg(ifName);
    lines << QStringLiteral("- A private path to Quillmor");
    lines << QStringLiteral("- One firewall rule so that path is allowed in");
    const QString mgmtUser = factString(facts, QStringLiteral("mgmtUser"));
    if (!mgmtUser.isEmpty()) {
        lines << QStringLiteral("- User %1, using the username and password saved in Quillmor. "
                                "Winbox from the LAN stays allowed.")
                     .arg(mgmtUser);
    }
    lines << QStringLiteral("- Firewall rules for the blocked VPN address, disconnected clients, "
                            "and hotspot DNS");
    lines << QString();
    if (fullSetup) {
        lines << QStringLiteral("On this new router only:")
              << QStringLiteral("- DHCP servers and IP addresses are removed first")
              << QStringLiteral("- Bridge-Network on ports 2 to 5, address 172.16.0.1/16")
              << QStringLiteral("- Port 1 renamed to ether1-WAN, with a DHCP client")
              << QStringLiteral("- Hotspot, PPPoE server, and the expiry pool")
              << QStringLiteral("- API stays on for Quillmor. FTP and telnet are turned off.");
    } else {
        lines << QStringLiteral("Hotspot, PPPoE, queues, and port names stay as they are.")
              << QStringLiteral("The router is not factory reset.");
    }
    return lines.join(QLatin1Char('\n'));
}

static InternetCard internetCard(const QVariantMap &facts)
{
    InternetCard card;
    card.visible = true;
    const bool bridged = factBool(facts, QStringLiteral("ether1Bridged"));
    const bool fresh = factBool(facts, QStringLiteral("fresh"));
    if (factBool(facts, QStringLiteral("hasRoute"))) {
        card.text = QStringLiteral("The router has a default route, but internet replies failed. "
                                   "Check the cable or upstream. The internet port was not "
                                   "changed.");
    } else if (bridged && !fresh) {
        card.text = QStringLiteral("Port 1 is still in the LAN bridge, and this router is already "
                                   "in use. Set the internet port in Winbox, then come back. This "
                                   "app will not take port 1 off a live router.");
    } else if (bridged) {
        card.text = QStringLiteral("This looks like a new router, and port 1 is still part of the "
                                   "LAN. You can move port 1 out and use it for the internet line. "
                                   "Do this only if nobody is being served by this router.");
        card.dhcpVisible = true;
        card.dhcpText = QStringLiteral("Move port 1 out of the LAN and use DHCP");
        card.pppoeVisible = true;
        card.pppoeText = QStringLiteral("Move port 1 out of the LAN and use PPPoE");
    } else {
        card.text = QStringLiteral("The router has no working internet route. Port 1 can be set as "
                                   "the internet port. Other settings stay as they are.");
        const bool pppoe = factBool(facts, QStringLiteral("pppoe"));
        card.dhcpVisible = !pppoe;
        card.dhcpText = factBool(facts, QStringLiteral("dhcpOnEther1"))
                            ? QStringLiteral("Enable the DHCP client on port 1")
                            : QStringLiteral("Use automatic internet (DHCP) on port 1");
        card.pppoeVisible = !pppoe;
        card.pppoeText = QStringLiteral("Use PPPoE on port 1");
    }
    return card;
}

ReviewDecisions reviewDecisions(const QVariantMap &facts, const AccountProfile &profile)
{
    ReviewDecisions d;
    const QString blocker = factString(facts, QStringLiteral("blocker"));
    const bool internet = factBool(facts, QStringLiteral("internet"));
    d.hasLogin = !profile.mikrotikUsername.trimmed().isEmpty()
                 && !profile.mikrotikPassword.isEmpty();
    d.ready = factBool(facts, QStringLiteral("ros7")) && factBool(facts, QStringLiteral("wireguardOk"))
              && blocker.isEmpty() && d.hasLogin;
    if (d.hasLogin && !blocker.isEmpty()) {
        d.replaceError = true;
        d.errorText = blocker;
    } else if (!d.hasLogin) {
        d.replaceError = true;
        d.errorText = QStringLiteral("This Quillmor account has no MikroTik username or password. "
                                     "Add them in Quillmor management, then sign in again.");
    }
    d.onboardAllowed = d.ready && internet
                       && !factString(facts, QStringLiteral("ifName")).isEmpty();
    if (d.ready && !internet)
        d.card = internetCard(facts);
    return d;
}

QString wanMode(bool viaPppoe, bool ether1Bridged, bool fresh)
{
    const bool split = ether1Bridged && fresh;
    if (viaPppoe)
        return split ? QStringLiteral("split-pppoe") : QStringLiteral("pppoe");
    return split ? QStringLiteral("split-dhcp") : QStringLiteral("dhcp");
}

QString doneText(const QVariantMap &result)
{
    // One pass, so that a "%1" inside a value from the service is shown as it is.
    return QStringLiteral("%1\n\nName: %2\nTunnel address: %3\nQuillmor endpoint: %4\n\nNext, add "
                          "this router as a station in your Quillmor system, choose that station "
                          "below, and install the hotspot login page. This router stays saved. "
                          "Only Quillmor management can remove it.")
        .arg(result.value(QStringLiteral("message")).toString(),
             result.value(QStringLiteral("site")).toString(),
             result.value(QStringLiteral("address")).toString(),
             result.value(QStringLiteral("endpoint")).toString());
}

QString stationLabel(const StationInfo &station)
{
    QString text = station.name.isEmpty() ? QStringLiteral("Station") : station.name;
    if (!station.location.isEmpty())
        text += QStringLiteral(" \u2014 ") + station.location;
    return text;
}

bool isStationId(const QString &id)
{
    // Anchored for real: "$" alone would also accept a trailing line end.
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[a-fA-F0-9]{24}")));
    return pattern.match(id).hasMatch();
}

QStringList routerChoiceLabels(const QList<SavedRouter> &routers)
{
    QStringList names;
    for (const SavedRouter &router : routers)
        names << (router.name.trimmed().isEmpty() ? router.id : router.name.trimmed());
    QStringList labels;
    for (qsizetype i = 0; i < routers.size(); ++i) {
        const QString &name = names.at(i);
        labels << (names.count(name) > 1 ? QStringLiteral("%1 (%2)").arg(name, routers.at(i).id)
                                         : name);
    }
    return labels;
}

bool loginPageUrl(const QString &baseUrl, const QString &stationId, QString *url)
{
    QUrl page(baseUrl, QUrl::TolerantMode);
    if (page.scheme() != QLatin1String("https") || page.host().isEmpty())
        return false;
    page.setPath(QStringLiteral("/hotspot/login.html"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("stationId"), stationId);
    page.setQuery(query);
    if (url)
        *url = page.toString(QUrl::FullyEncoded);
    return true;
}

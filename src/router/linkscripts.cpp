#include "linkscripts.h"

#include "routeros.h"
#include "validation.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

const char kClearLabel[] = "Clearing a previous Quillmor link, if there was one...";
const char kCreateLabel[] = "Creating the WireGuard interface...";
const char kKeyLabel[] = "Reading the router key...";
const char kAskLabel[] = "Asking Quillmor for the tunnel...";
const char kAddressLabel[] = "Adding the tunnel address...";
const char kPeerLabel[] = "Adding the Quillmor peer...";
const char kRouteLabel[] = "Adding the route for %1...";
const char kFirewallLabel[] = "Allowing the Quillmor link through the firewall...";
const char kUserLabel[] = "Adding the management user...";
const char kApiLabel[] = "Opening the API on the Quillmor link...";
const char kSharedRulesLabel[] = "Adding the shared firewall rules...";
const char kLayoutLabel[] = "Building the standard hotspot layout on this new router...";

const char kClearScript[] = R"(
:do { /ip firewall filter remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip firewall raw remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip firewall address-list remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip hotspot walled-garden ip remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip route remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip address remove [find comment="quillmor-onboard"] } on-error={}; :do { /interface wireguard peers remove [find comment="quillmor-onboard"] } on-error={}; :do { /interface wireguard remove [find comment="quillmor-onboard"] } on-error={}; :put "QM_DONE=1"
)";
const char kCreateScript[] =
    "/interface wireguard add name=%1 listen-port=13231 comment=\"quillmor-onboard\"";
const char kKeyScript[] =
    ":put (\"QM_PUB=\" . [/interface wireguard get %1 public-key]); :put \"QM_DONE=1\"";
const char kAddressScript[] =
    "/ip address add address=%1 interface=%2 comment=\"quillmor-onboard\"";
const char kPeerScript[] =
    "/interface wireguard peers add interface=%1 public-key=%2 endpoint-address=%3 "
    "endpoint-port=%4 allowed-address=%5 persistent-keepalive=%6s comment=\"quillmor-onboard\"";
const char kRouteScript[] = "/ip route add dst-address=%1 gateway=%2 comment=\"quillmor-onboard\"";
const char kFirewallScript[] = "/ip firewall filter add chain=input action=accept in-interface=%1 "
                               "comment=\"quillmor-onboard\" place-before=0";
const char kFirewallPlainScript[] =
    "/ip firewall filter add chain=input action=accept in-interface=%1 "
    "comment=\"quillmor-onboard\"";
const char kUserScript[] =
    ":if ([:len [/user find name=%1]] > 0) do={ /user set [find name=%1] password=%2 group=full; "
    ":put \"QM_USER=updated\" } else={ /user add name=%1 group=full password=%2 "
    "comment=\"quillmor-onboard\"; :put \"QM_USER=created\" }; :put \"QM_DONE=1\"";
const char kApiRestrictScript[] = "/ip service set api disabled=no address=%1";
const char kApiExtendScript[] = "/ip service set api disabled=no address=%1,%2";
const char kApiEnableScript[] = "/ip service set api disabled=no";
const char kHandshakeScript[] = R"(
:do { :put ("QM_HS=" . [/interface wireguard peers get [find comment="quillmor-onboard"] last-handshake]) } on-error={ :put "QM_HS=" }; :put "QM_DONE=1"
)";

const char kApiLeftOpen[] =
    "The API service was already open, so its address list was left as it is.";
const char kApiListUnreadable[] = "The API service's address list on this router could not be "
                                  "read safely, so it was not changed.";

QString text(const char *constant)
{
    return QString::fromUtf8(constant);
}

// The inspected list is the router's own text going back into a script: an entry passes only
// when it is an address or prefix and nothing else, so no entry can add an argument or command.
bool isPlainAddressEntry(const QString &entry)
{
    static const QRegularExpression addressCharacters(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9A-Fa-f.:/]+")));
    return addressCharacters.match(entry).hasMatch() &&
           !QHostAddress::parseSubnet(entry).first.isNull();
}

} // namespace

QList<OnboardStep> onboardSteps(bool applyBase)
{
    QList<OnboardStep> steps{
        OnboardStep::ClearEarlierLink, OnboardStep::CreateInterface, OnboardStep::ReadRouterKey,
        OnboardStep::AskService,       OnboardStep::TunnelAddress,   OnboardStep::Peer,
        OnboardStep::Routes,           OnboardStep::InputRule,       OnboardStep::ManagementUser,
        OnboardStep::ApiService,       OnboardStep::SharedRules};
    if (applyBase)
        steps << OnboardStep::StandardLayout;
    steps << OnboardStep::WaitForService;
    return steps;
}

QString onboardStepLabel(OnboardStep step)
{
    switch (step) {
    case OnboardStep::ClearEarlierLink:
        return text(kClearLabel);
    case OnboardStep::CreateInterface:
        return text(kCreateLabel);
    case OnboardStep::ReadRouterKey:
        return text(kKeyLabel);
    case OnboardStep::AskService:
        return text(kAskLabel);
    case OnboardStep::TunnelAddress:
        return text(kAddressLabel);
    case OnboardStep::Peer:
        return text(kPeerLabel);
    case OnboardStep::InputRule:
        return text(kFirewallLabel);
    case OnboardStep::ManagementUser:
        return text(kUserLabel);
    case OnboardStep::ApiService:
        return text(kApiLabel);
    case OnboardStep::SharedRules:
        return text(kSharedRulesLabel);
    case OnboardStep::StandardLayout:
        return text(kLayoutLabel);
    case OnboardStep::Routes:
    case OnboardStep::WaitForService:
        break;
    }
    return QString();
}

QString routeStepLabel(const QString &network)
{
    return text(kRouteLabel).arg(network);
}

QString clearLinkScript()
{
    return text(kClearScript).trimmed();
}

QString createInterfaceScript(const QString &ifName)
{
    return text(kCreateScript).arg(ifName);
}

QString routerKeyScript(const QString &ifName)
{
    return text(kKeyScript).arg(ifName);
}

QString tunnelAddressScript(const QString &address, const QString &ifName)
{
    return text(kAddressScript).arg(address, ifName);
}

QString peerScript(const QString &ifName, const QString &serverKey, const QString &endpointHost,
                   const QString &endpointPort, const QStringList &networks,
                   const QString &keepalive)
{
    return text(kPeerScript)
        .arg(ifName, quoteRouterOs(serverKey), quoteRouterOs(endpointHost), endpointPort,
             networks.join(QLatin1Char(',')), keepalive);
}

QString routeScript(const QString &network, const QString &ifName)
{
    return text(kRouteScript).arg(network, ifName);
}

QString inputRuleScript(const QString &ifName, bool placeFirst)
{
    return text(placeFirst ? kFirewallScript : kFirewallPlainScript).arg(ifName);
}

QString managementUserScript(const QString &user, const QString &password)
{
    // One pass, so that a "%2" inside the user name is not filled with the password.
    return text(kUserScript).arg(quoteRouterOs(user), quoteRouterOs(password));
}

QString handshakeScript()
{
    return text(kHandshakeScript).trimmed();
}

QStringList walledGardenHosts(const QString &list)
{
    QStringList hosts;
    for (const QString &part : list.split(QLatin1Char(','))) {
        const QString host = part.trimmed();
        if (isValidHostName(host))
            hosts << host;
    }
    return hosts;
}

QStringList routedNetworks(const QStringList &networks)
{
    QStringList routed;
    for (const QString &network : networks) {
        if (network != QLatin1String("0.0.0.0/0"))
            routed << network;
    }
    return routed;
}

ApiServicePlan planApiService(const QString &inspectedList, bool fresh, bool apiDisabled,
                              const QString &apiNetwork)
{
    ApiServicePlan plan;
    const QString list = inspectedList.trimmed();
    if (list.isEmpty() || list == QLatin1String("0.0.0.0/0")) {
        if (fresh || apiDisabled)
            plan.script = text(kApiRestrictScript).arg(apiNetwork);
        else
            plan.note = text(kApiLeftOpen);
        return plan;
    }
    QStringList entries;
    for (const QString &part : list.split(QLatin1Char(','))) {
        const QString entry = part.trimmed();
        if (entry.isEmpty())
            continue;
        if (!isPlainAddressEntry(entry)) {
            plan.note = text(kApiListUnreadable);
            return plan;
        }
        entries << entry;
    }
    if (entries.isEmpty()) {
        plan.note = text(kApiListUnreadable);
        return plan;
    }
    // Whole entries only: 10.20.0.0/16 inside 110.20.0.0/16 is another network.
    if (entries.contains(apiNetwork))
        plan.script = text(kApiEnableScript);
    else
        plan.script = text(kApiExtendScript).arg(entries.join(QLatin1Char(',')), apiNetwork);
    return plan;
}

#include "api/quillmorapi.h"
#include "layoutscripts.h"
#include "routeros.h"
#include "routertask.h"
#include "ssh/sshclient.h"
#include "validation.h"

#include <memory>

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

// Router steps: labels, scripts and limits.
const char kLayoutLabel[] = "Building the standard hotspot layout on this new router...";
const char kClearLabel[] = "Clearing a previous Quillmor link, if there was one...";
const char kCreateLabel[] = "Creating the WireGuard interface...";
const char kKeyLabel[] = "Reading the router key...";
const char kAddressLabel[] = "Adding the tunnel address...";
const char kPeerLabel[] = "Adding the Quillmor peer...";
const char kRouteLabel[] = "Adding the route for %1...";
const char kFirewallLabel[] = "Allowing the Quillmor link through the firewall...";
const char kUserLabel[] = "Adding the management user...";
const char kApiLabel[] = "Opening the API on the Quillmor link...";
const char kSharedRulesLabel[] = "Adding the shared firewall rules...";

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

constexpr int kLayoutTimeoutMs = 60000;
constexpr int kClearTimeoutMs = 25000;
constexpr int kStepTimeoutMs = 20000;
constexpr int kSharedRulesTimeoutMs = 25000;
constexpr int kHandshakeTimeoutMs = 15000;
constexpr int kListenPort = 13231;
constexpr int kDefaultKeepalive = 25;
constexpr int kWaitAttempts = 8;
constexpr int kWaitPauseSeconds = 4;

// The job's own sentences.
const char kNotReady[] = "This router is not ready for the Quillmor link.";
const char kLayoutDropped[] = "The connection dropped while the new layout was applied. If the old "
                              "address no longer opens, try 172.16.0.1.";
const char kLayoutDone[] =
    "Standard layout is on the router. Port 1 is ether1-WAN. The LAN is 172.16.0.1.";
const char kNoRouterKey[] = "The router did not return a WireGuard key.";
const char kKeyReady[] = "Router key is ready.";
const char kAsking[] = "Asking Quillmor for the tunnel...";
const char kInterfaceLeft[] =
    " The WireGuard interface was left on the router. Connect again and retry.";
const char kNoRouterId[] = "Quillmor did not return a router id.";
const char kBadAddress[] = "Quillmor returned an address this app does not understand.";
const char kBadServerKey[] = "Quillmor returned a tunnel key this app does not understand.";
const char kBadEndpoint[] = "Quillmor returned an endpoint this app does not understand.";
const char kNoNetworks[] = "Quillmor did not return the tunnel networks.";
const char kBadNetwork[] = "Quillmor returned a network this app does not understand.";
const char kNoCredentials[] =
    "Quillmor did not send the MikroTik username and password saved on this account.";
const char kNoSafeNetwork[] = "The tunnel is going in without a new management user. Quillmor did "
                              "not send a safe login network.";
const char kUserCreated[] = "Router user %1 was created from this Quillmor account.";
const char kUserUpdated[] = "Router user %1 now uses the password saved in Quillmor.";
const char kApiLeftOpen[] =
    "The API service was already open, so its address list was left as it is.";
const char kApiListUnreadable[] = "The API service's address list on this router could not be "
                                  "read safely, so it was not changed.";
const char kRulesRejected[] =
    "The shared firewall rules were not all accepted. The link is still being finished.";
const char kWaiting[] = "Waiting for Quillmor to see the router (%1/8)...";
const char kSeen[] = "Quillmor can see this router.";
const char kTunnelUp[] = "The tunnel is up. Quillmor has not confirmed it on the account yet. Give "
                         "it a minute, then check the router in Quillmor.";
const char kStoppedWaiting[] =
    "Stopped waiting. The link is saved on the router. Leave the router online and check Quillmor.";
const char kNoHandshake[] = "The link is saved, but there is no WireGuard handshake yet. Keep the "
                            "router online. Its upstream must allow UDP to %1:%2.";

QString text(const char *constant)
{
    return QString::fromUtf8(constant);
}

QString option(const QVariantMap &options, const char *key)
{
    return options.value(QLatin1String(key)).toString();
}

bool flag(const QVariantMap &options, const char *key)
{
    return options.value(QLatin1String(key)).toBool();
}

void wipe(QString &secret)
{
    secret.fill(QLatin1Char(' '));
    secret.clear();
}

// The layout removes the address the session came in on, so these failures mean the router
// went away under the script, not that it refused it. OpenSSH reports a session the router
// closed in its own words, which name no router step, so those count as well.
bool layoutConnectionDropped(const QString &error)
{
    if (error.contains(QLatin1String("did not accept")) ||
        error.contains(QLatin1String("took too long")) || error.contains(QLatin1String("sign in")))
        return true;
    const QString lower = error.toLower();
    for (const char *phrase :
         {"closed by remote host", "connection closed", "connection reset", "broken pipe"}) {
        if (lower.contains(QLatin1String(phrase)))
            return true;
    }
    return false;
}

// What the provision answer says about the link, before it is checked.
struct LinkValues
{
    QString routerId;
    QString interfaceAddress;
    QString serverKey;
    QString endpointHost;
    int endpointPort = 0;
    QStringList networks;
    int keepalive = kDefaultKeepalive;
};

LinkValues readLinkValues(const QJsonObject &answer)
{
    LinkValues link;
    link.routerId =
        QuillmorApi::firstText(answer, {QStringLiteral("router_id"), QStringLiteral("id")});
    link.interfaceAddress = QuillmorApi::firstText(
        answer, {QStringLiteral("interface_address"), QStringLiteral("address")});
    link.serverKey = QuillmorApi::firstText(
        answer, {QStringLiteral("server_public_key"), QStringLiteral("peer_public_key")});
    link.endpointHost = QuillmorApi::firstText(
        answer, {QStringLiteral("endpoint_host"), QStringLiteral("endpoint")});

    const QJsonValue port = answer.value(QLatin1String("endpoint_port"));
    link.endpointPort = port.isString() ? port.toString().toInt() : port.toInt(0);

    link.networks = jsonStringList(answer.value(QLatin1String("allowed_addresses")));
    if (link.networks.isEmpty())
        link.networks = jsonStringList(answer.value(QLatin1String("allowed_address")));

    const int keepalive = answer.value(QLatin1String("keepalive")).toInt(kDefaultKeepalive);
    link.keepalive = keepalive >= 15 && keepalive <= 120 ? keepalive : kDefaultKeepalive;
    return link;
}

// The sentence for the first value that may not go into a router script; empty when all may.
QString linkProblem(const LinkValues &link)
{
    if (link.routerId.isEmpty())
        return text(kNoRouterId);
    if (!isValidIpv4Network(link.interfaceAddress))
        return text(kBadAddress);
    if (!isValidWireGuardKey(link.serverKey))
        return text(kBadServerKey);
    if (!isValidHostName(link.endpointHost) || link.endpointPort < 1 || link.endpointPort > 65535)
        return text(kBadEndpoint);
    if (link.networks.isEmpty())
        return text(kNoNetworks);
    for (const QString &network : link.networks) {
        if (!isValidIpv4Network(network))
            return text(kBadNetwork);
    }
    return QString();
}

QString chooseApiNetwork(const QJsonObject &answer, const LinkValues &link)
{
    const QString allowFrom = QuillmorApi::firstText(answer, {QStringLiteral("api_allow_from")});
    if (isUsableNetwork(allowFrom))
        return allowFrom;
    for (const QString &network : link.networks) {
        if (isUsableNetwork(network))
            return network;
    }
    return networkOf(link.interfaceAddress);
}

// The inspected list is the router's own text going back into a script, so each entry must be
// a plain IPv4 or IPv6 address or prefix; anything else could split the value into more
// arguments or commands.
bool isPlainAddressList(const QStringList &entries)
{
    static const QRegularExpression ipv6(
        QStringLiteral("^[0-9A-Fa-f]{0,4}(:[0-9A-Fa-f]{0,4}){2,7}(/[0-9]{1,3})?$"));
    for (const QString &entry : entries) {
        const bool ipv4 =
            isValidIpv4Network(entry) || isValidIpv4Network(entry + QStringLiteral("/32"));
        if (!ipv4 && !ipv6.match(entry).hasMatch())
            return false;
    }
    return !entries.isEmpty();
}

QStringList walledHosts(const QVariantMap &options)
{
    QStringList hosts;
    const QStringList parts = option(options, "walledHosts").split(QLatin1Char(','));
    for (const QString &part : parts) {
        const QString host = part.trimmed();
        if (isValidHostName(host))
            hosts << host;
    }
    return hosts;
}

bool showsHandshake(const QString &reading)
{
    const QString hs = reading.trimmed();
    return !hs.isEmpty() && hs != QLatin1String("0") &&
           !hs.contains(QLatin1String("never"), Qt::CaseInsensitive);
}

bool confirmsOnline(const QJsonObject &router)
{
    const QJsonValue online = router.value(QLatin1String("online"));
    if (online.isBool() && online.toBool())
        return true;
    const QString status = router.value(QLatin1String("status")).toString().toLower();
    return status == QLatin1String("online") || status == QLatin1String("up") ||
           status == QLatin1String("connected");
}

} // namespace

void RouterTask::provisionLink(SshClient &client)
{
    const QVariantMap &options = m_provisionOptions;
    const QString ifName = option(options, "ifName");
    if (!flag(options, "ros7") || !isValidName(ifName)) {
        m_lastError = option(options, "blocker");
        if (m_lastError.isEmpty())
            m_lastError = text(kNotReady);
        failProvision();
        return;
    }

    // Our own sentences are logged once, then reported.
    const auto failWith = [this](const QString &message) {
        m_lastError = message;
        emit logLine(m_lastError);
        failProvision();
    };
    const auto step = [this, &client](const QString &script, const char *label, int timeoutMs,
                                      QString *out = nullptr) {
        return runScript(client, script, text(label), out, timeoutMs);
    };

    if (flag(options, "applyBase")) {
        if (!step(buildBaseLayoutScript(option(options, "hotspotDns")), kLayoutLabel,
                  kLayoutTimeoutMs)) {
            if (layoutConnectionDropped(m_lastError))
                m_lastError = text(kLayoutDropped);
            failProvision();
            return;
        }
        emit logLine(text(kLayoutDone));
    }

    if (!step(text(kClearScript).trimmed(), kClearLabel, kClearTimeoutMs) ||
        !step(text(kCreateScript).arg(ifName), kCreateLabel, kStepTimeoutMs)) {
        failProvision();
        return;
    }

    QString keyOutput;
    if (!step(text(kKeyScript).arg(ifName), kKeyLabel, kStepTimeoutMs, &keyOutput)) {
        failProvision();
        return;
    }
    const QString routerKey = parseMarkers(keyOutput).text(QStringLiteral("QM_PUB")).trimmed();
    if (!isValidWireGuardKey(routerKey)) {
        failWith(text(kNoRouterKey));
        return;
    }
    emit logLine(text(kKeyReady));

    QString siteName = m_routerName.trimmed();
    if (siteName.isEmpty())
        siteName = option(options, "identity");
    const QJsonObject body{
        {QStringLiteral("name"), siteName},
        {QStringLiteral("identity"), option(options, "identity")},
        {QStringLiteral("model"), option(options, "model")},
        {QStringLiteral("ros_version"), option(options, "version")},
        {QStringLiteral("public_key"), routerKey},
        {QStringLiteral("listen_port"), kListenPort},
        {QStringLiteral("fresh_router"), flag(options, "fresh")},
        {QStringLiteral("management_username"), option(options, "mgmtUser")},
    };

    emit logLine(text(kAsking));
    // Created here so that it lives on this thread; released on every way out of the job.
    const auto api = std::make_unique<QuillmorApi>();
    api->setToken(m_serviceToken);
    api->setCancelCheck([this] { return isCancelled(); });
    QJsonObject answer;
    QString requestError;
    if (!api->provisionRouter(body, &answer, &requestError)) {
        failWith(requestError);
        return;
    }

    const LinkValues link = readLinkValues(answer);
    const QString problem = linkProblem(link);
    if (!problem.isEmpty()) {
        failWith(problem + text(kInterfaceLeft));
        return;
    }

    if (!step(text(kAddressScript).arg(link.interfaceAddress, ifName), kAddressLabel,
              kStepTimeoutMs) ||
        !step(text(kPeerScript)
                  .arg(ifName, quoteRouterOs(link.serverKey), quoteRouterOs(link.endpointHost),
                       QString::number(link.endpointPort), link.networks.join(QLatin1Char(',')),
                       QString::number(link.keepalive)),
              kPeerLabel, kStepTimeoutMs)) {
        failProvision();
        return;
    }
    for (const QString &network : link.networks) {
        // The default route stays in the peer's allowed addresses but must not replace the
        // router's own uplink.
        if (network == QLatin1String("0.0.0.0/0"))
            continue;
        if (!runScript(client, text(kRouteScript).arg(network, ifName),
                       text(kRouteLabel).arg(network), nullptr, kStepTimeoutMs)) {
            failProvision();
            return;
        }
    }
    if (!step(text(kFirewallScript).arg(ifName), kFirewallLabel, kStepTimeoutMs)) {
        // An empty filter list has no position 0; the rule then goes in without one.
        const QString error = m_lastError.toLower();
        if (!(error.contains(QLatin1String("place-before")) ||
              error.contains(QLatin1String("no such item"))) ||
            !step(text(kFirewallPlainScript).arg(ifName), kFirewallLabel, kStepTimeoutMs)) {
            failProvision();
            return;
        }
    }

    // Management login over the tunnel.
    const QString apiNetwork = chooseApiNetwork(answer, link);
    QString apiUser = QuillmorApi::firstText(answer, {QStringLiteral("api_username")});
    if (!isValidName(apiUser))
        apiUser = option(options, "mgmtUser");
    QString apiPassword = QuillmorApi::firstText(answer, {QStringLiteral("api_password")});
    if (apiPassword.isEmpty() || !isValidName(apiUser)) {
        wipe(apiPassword);
        failWith(text(kNoCredentials));
        return;
    }

    if (!isUsableNetwork(apiNetwork)) {
        emit logLine(text(kNoSafeNetwork));
    } else {
        QString userScript =
            text(kUserScript).arg(quoteRouterOs(apiUser), quoteRouterOs(apiPassword));
        QString userOutput;
        const bool userDone = step(userScript, kUserLabel, kStepTimeoutMs, &userOutput);
        wipe(userScript);
        if (!userDone) {
            wipe(apiPassword);
            failProvision();
            return;
        }
        const QString userResult = parseMarkers(userOutput).text(QStringLiteral("QM_USER"));
        const bool userKnown =
            userResult == QLatin1String("created") || userResult == QLatin1String("updated");
        if (userResult == QLatin1String("created"))
            emit logLine(text(kUserCreated).arg(apiUser));
        else if (userResult == QLatin1String("updated"))
            emit logLine(text(kUserUpdated).arg(apiUser));

        if (userKnown) {
            const QString list = option(options, "apiAddress").trimmed();
            const bool openToAll = list.isEmpty() || list == QLatin1String("0.0.0.0/0");
            QString apiScript;
            if (openToAll) {
                if (flag(options, "fresh") || flag(options, "apiDisabled"))
                    apiScript = text(kApiRestrictScript).arg(apiNetwork);
                else
                    emit logLine(text(kApiLeftOpen));
            } else {
                QStringList entries = list.split(QLatin1Char(','));
                for (QString &entry : entries)
                    entry = entry.trimmed();
                // Whole entries only: 10.20.0.0/16 inside 110.20.0.0/16 is another network.
                if (entries.contains(apiNetwork)) {
                    apiScript = text(kApiEnableScript);
                } else if (isPlainAddressList(entries)) {
                    apiScript = text(kApiExtendScript).arg(list, apiNetwork);
                } else {
                    wipe(apiPassword);
                    failWith(text(kApiListUnreadable));
                    return;
                }
            }
            if (!apiScript.isEmpty() && !step(apiScript, kApiLabel, kStepTimeoutMs)) {
                wipe(apiPassword);
                failProvision();
                return;
            }
        }
    }

    if (!step(buildSharedRulesScript(walledHosts(options)), kSharedRulesLabel,
              kSharedRulesTimeoutMs)) {
        emit logLine(text(kRulesRejected));
        m_lastError.clear();
    }

    wipe(apiPassword);

    bool handshakeSeen = false;
    bool online = false;
    QString message;
    const QString handshakeScript = text(kHandshakeScript).trimmed();
    for (int attempt = 1; !isCancelled(); ++attempt) {
        QString reading;
        if (runScript(client, handshakeScript, QString(), &reading, kHandshakeTimeoutMs))
            handshakeSeen = showsHandshake(parseMarkers(reading).text(QStringLiteral("QM_HS")));
        QJsonObject router;
        if (api->fetchRouter(link.routerId, &router) && confirmsOnline(router)) {
            online = true;
            message = text(kSeen);
            break;
        }
        emit logLine(text(kWaiting).arg(attempt));
        if (attempt == kWaitAttempts)
            break;
        (void)pauseUnlessCancelled(kWaitPauseSeconds * 1000);
    }
    const QString endpointPort = QString::number(link.endpointPort);
    if (!online) {
        if (handshakeSeen)
            message = text(kTunnelUp);
        else if (isCancelled())
            message = text(kStoppedWaiting);
        else
            message = text(kNoHandshake).arg(link.endpointHost, endpointPort);
    }

    QVariantMap result;
    result.insert(QStringLiteral("routerId"), link.routerId);
    result.insert(QStringLiteral("site"), siteName);
    result.insert(QStringLiteral("address"), link.interfaceAddress);
    result.insert(QStringLiteral("endpoint"),
                  QStringLiteral("%1:%2").arg(link.endpointHost, endpointPort));
    result.insert(QStringLiteral("online"), online);
    result.insert(QStringLiteral("handshake"), handshakeSeen);
    result.insert(QStringLiteral("message"), message);
    if (answer.contains(QLatin1String("router_limit")))
        result.insert(QStringLiteral("routerLimit"),
                      answer.value(QLatin1String("router_limit")).toInt(0));
    if (answer.contains(QLatin1String("routers_used")))
        result.insert(QStringLiteral("routersUsed"),
                      answer.value(QLatin1String("routers_used")).toInt(0));
    emit logLine(message);
    emit provisionReady(true, QString(), result);
}

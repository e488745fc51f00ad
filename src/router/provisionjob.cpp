#include "api/quillmorapi.h"
#include "layoutscripts.h"
#include "linkscripts.h"
#include "routeros.h"
#include "routertask.h"
#include "ssh/sshclient.h"
#include "validation.h"

#include <memory>
#include <utility>

#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>

namespace {

constexpr int kLayoutTimeoutMs = 60000;
constexpr int kClearTimeoutMs = 25000;
constexpr int kStepTimeoutMs = 20000;
constexpr int kSharedRulesTimeoutMs = 25000;
constexpr int kHandshakeTimeoutMs = 15000;
constexpr int kListenPort = 13231;
constexpr int kDefaultKeepalive = 25;
constexpr int kWaitAttempts = 8;
// After the layout the router first has to get its uplink back on ether1-WAN.
constexpr int kLayoutWaitAttempts = 30;
constexpr int kWaitPauseMs = 4000;

// The job's own sentences.
const char kNotReady[] = "This router is not ready for the Quillmor link.";
const char kLayoutDone[] =
    "Standard layout is on the router. Port 1 is ether1-WAN. The LAN is 172.16.0.1.";
const char kLayoutSessionEnded[] =
    "The router stopped answering this computer once the layout took its old address away, as "
    "expected. The layout's own checks cannot be read from here.";
const char kLayoutStopped[] =
    "Stopped waiting for the router's answer to the standard layout. The router finishes it on its "
    "own; its checks cannot be read from here.";
const char kNoRouterKey[] = "The router did not return a WireGuard key.";
const char kKeyReady[] = "Router key is ready.";
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
const char kPasswordUnfit[] =
    "The MikroTik password saved in Quillmor has a line break or another control character, "
    "which a router password cannot hold. Change it in Quillmor management, then try again.";
const char kNoSafeNetwork[] = "The tunnel is going in without a new management user. Quillmor did "
                              "not send a safe login network.";
const char kUserCreated[] = "Router user %1 was created from this Quillmor account.";
const char kUserUpdated[] = "Router user %1 now uses the password saved in Quillmor.";
const char kUserUnconfirmed[] =
    "The router did not confirm the management user, so the link was not finished.";
const char kRulesRejected[] =
    "The shared firewall rules were not all accepted. The link is still being finished.";
const char kWaiting[] = "Waiting for Quillmor to see the router (%1/8)...";
const char kWaitingAfterLayout[] =
    "Waiting for Quillmor to see the router on its new uplink (%1/30)...";
const char kSeen[] = "Quillmor can see this router.";
const char kSeenAfterLayout[] =
    "Quillmor can see this router. It is now reached through Quillmor. This computer is on the "
    "new hotspot network: unplug its cable and plug it in again to get a 172.16.x address.";
const char kTunnelUp[] = "The tunnel is up. Quillmor has not confirmed it on the account yet. Give "
                         "it a minute, then check the router in Quillmor.";
const char kStoppedWaiting[] =
    "Stopped waiting. The link is saved on the router. Leave the router online and check Quillmor.";
const char kNoHandshake[] = "The link is saved, but there is no WireGuard handshake yet. Keep the "
                            "router online. Its upstream must allow UDP to %1:%2.";
const char kNotSeenAfterLayout[] =
    "The standard layout was sent and the Quillmor link is on the router, but Quillmor has not "
    "seen the router yet. Check that the internet cable is in port 1 (ether1-WAN) and that the "
    "line there gives the router an address, then check the router in Quillmor.";
const char kStoppedAfterLayout[] =
    "Stopped waiting. The standard layout was sent and the Quillmor link is on the router. Check "
    "the internet cable in port 1 (ether1-WAN), then check the router in Quillmor.";

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

// The layout removes the address the session came in on, so a session that went silent or was
// dropped under it is how the layout ends on a real router. OpenSSH reports a session the router
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

// One onboarding run: the steps of onboardSteps() in their order, each a small function that
// returns whether the run goes on. Lives on the worker thread for the length of the job.
class ProvisionSteps final
{
public:
    ProvisionSteps(RouterTask &task, SshClient &client)
        : m_task(task)
        , m_client(client)
        , m_options(task.m_provisionOptions)
    {
    }

    ~ProvisionSteps() { wipe(m_apiPassword); }

    void run()
    {
        if (!checkEntry()) {
            m_task.failProvision();
            return;
        }
        for (const OnboardStep step : onboardSteps(flag(m_options, "applyBase"))) {
            if (!runStep(step)) {
                m_task.failProvision();
                return;
            }
        }
        report();
    }

private:
    bool runStep(OnboardStep step)
    {
        switch (step) {
        case OnboardStep::ClearEarlierLink:
            return script(clearLinkScript(), step, kClearTimeoutMs);
        case OnboardStep::CreateInterface:
            return script(createInterfaceScript(m_ifName), step, kStepTimeoutMs);
        case OnboardStep::ReadRouterKey:
            return readRouterKey();
        case OnboardStep::AskService:
            return askService();
        case OnboardStep::TunnelAddress:
            return script(tunnelAddressScript(m_link.interfaceAddress, m_ifName), step,
                          kStepTimeoutMs);
        case OnboardStep::Peer:
            return script(peerScript(m_ifName, m_link.serverKey, m_link.endpointHost,
                                     QString::number(m_link.endpointPort), m_link.networks,
                                     QString::number(m_link.keepalive)),
                          step, kStepTimeoutMs);
        case OnboardStep::Routes:
            return addRoutes();
        case OnboardStep::InputRule:
            return allowInput();
        case OnboardStep::ManagementUser:
            return addManagementUser();
        case OnboardStep::ApiService:
            return openApiService();
        case OnboardStep::SharedRules:
            addSharedRules();
            return true;
        case OnboardStep::StandardLayout:
            return applyLayout();
        case OnboardStep::WaitForService:
            if (m_layoutSent)
                waitForServiceOnly();
            else
                waitForHandshakeAndService();
            return true;
        }
        return false;
    }

    bool script(const QString &text, OnboardStep step, int timeoutMs, QString *out = nullptr)
    {
        return m_task.runScript(m_client, text, onboardStepLabel(step), out, timeoutMs);
    }

    // Our own sentences are logged once, then reported.
    bool fail(const QString &message)
    {
        m_task.m_lastError = message;
        emit m_task.logLine(message);
        return false;
    }

    bool checkEntry()
    {
        m_ifName = option(m_options, "ifName");
        if (flag(m_options, "ros7") && isValidName(m_ifName))
            return true;
        m_task.m_lastError = option(m_options, "blocker");
        if (m_task.m_lastError.isEmpty())
            m_task.m_lastError = text(kNotReady);
        return false;
    }

    bool readRouterKey()
    {
        QString output;
        if (!script(routerKeyScript(m_ifName), OnboardStep::ReadRouterKey, kStepTimeoutMs, &output))
            return false;
        m_routerKey = parseMarkers(output).text(QStringLiteral("QM_PUB")).trimmed();
        if (!isValidWireGuardKey(m_routerKey))
            return fail(text(kNoRouterKey));
        emit m_task.logLine(text(kKeyReady));
        return true;
    }

    bool askService()
    {
        m_siteName = m_task.m_routerName.trimmed();
        if (m_siteName.isEmpty())
            m_siteName = option(m_options, "identity");
        const QJsonObject body{
            {QStringLiteral("name"), m_siteName},
            {QStringLiteral("identity"), option(m_options, "identity")},
            {QStringLiteral("model"), option(m_options, "model")},
            {QStringLiteral("ros_version"), option(m_options, "version")},
            {QStringLiteral("public_key"), m_routerKey},
            {QStringLiteral("listen_port"), kListenPort},
            {QStringLiteral("fresh_router"), flag(m_options, "fresh")},
            {QStringLiteral("management_username"), option(m_options, "mgmtUser")},
        };

        emit m_task.logLine(onboardStepLabel(OnboardStep::AskService));
        // Created here so that it lives on this thread; released when the run ends.
        m_api = std::make_unique<QuillmorApi>();
        m_api->setToken(m_task.m_serviceToken);
        m_api->setCancelCheck([this] { return m_task.isCancelled(); });
        QString requestError;
        if (!m_api->provisionRouter(body, &m_answer, &requestError))
            return fail(requestError);
        // Out of the answer at once: the answer stays for the result, and whatever step fails
        // next, the password is wiped when the run ends.
        const QJsonValue sent = m_answer.value(QLatin1String("api_password"));
        if (sent.isString())
            m_apiPassword = sent.toString();
        m_answer.remove(QLatin1String("api_password"));

        m_link = readLinkValues(m_answer);
        const QString problem = linkProblem(m_link);
        if (!problem.isEmpty())
            return fail(problem + text(kInterfaceLeft));
        return true;
    }

    bool addRoutes()
    {
        for (const QString &network : routedNetworks(m_link.networks)) {
            if (!m_task.runScript(m_client, routeScript(network, m_ifName), routeStepLabel(network),
                                  nullptr, kStepTimeoutMs))
                return false;
        }
        return true;
    }

    bool allowInput()
    {
        if (script(inputRuleScript(m_ifName, true), OnboardStep::InputRule, kStepTimeoutMs))
            return true;
        // An empty filter list has no position 0; the rule then goes in without one.
        const QString error = m_task.m_lastError.toLower();
        return (error.contains(QLatin1String("place-before")) ||
                error.contains(QLatin1String("no such item"))) &&
               script(inputRuleScript(m_ifName, false), OnboardStep::InputRule, kStepTimeoutMs);
    }

    // The password lives only in this step and is wiped on every way out of it.
    bool addManagementUser()
    {
        m_apiNetwork = chooseApiNetwork(m_answer, m_link);
        m_apiUser = QuillmorApi::firstText(m_answer, {QStringLiteral("api_username")});
        if (!isValidName(m_apiUser))
            m_apiUser = option(m_options, "mgmtUser");
        // Exactly as the service holds it: a trimmed password would lock the service out.
        QString password = std::exchange(m_apiPassword, QString());
        QString userScript;
        const auto wipeOnExit = qScopeGuard([&password, &userScript] {
            wipe(password);
            wipe(userScript);
        });
        if (password.trimmed().isEmpty() || !isValidName(m_apiUser))
            return fail(text(kNoCredentials));
        if (hasControlCharacter(password))
            return fail(text(kPasswordUnfit));

        if (!isUsableNetwork(m_apiNetwork)) {
            emit m_task.logLine(text(kNoSafeNetwork));
            return true;
        }
        userScript = managementUserScript(m_apiUser, password);
        QString output;
        if (!script(userScript, OnboardStep::ManagementUser, kStepTimeoutMs, &output))
            return false;
        const QString result = parseMarkers(output).text(QStringLiteral("QM_USER"));
        if (result == QLatin1String("created"))
            emit m_task.logLine(text(kUserCreated).arg(m_apiUser));
        else if (result == QLatin1String("updated"))
            emit m_task.logLine(text(kUserUpdated).arg(m_apiUser));
        else
            return fail(text(kUserUnconfirmed));
        m_userReady = true;
        return true;
    }

    bool openApiService()
    {
        if (!m_userReady)
            return true;
        const ApiServicePlan plan =
            planApiService(option(m_options, "apiAddress"), flag(m_options, "fresh"),
                           flag(m_options, "apiDisabled"), m_apiNetwork);
        if (!plan.note.isEmpty())
            emit m_task.logLine(plan.note);
        return plan.script.isEmpty() ||
               script(plan.script, OnboardStep::ApiService, kStepTimeoutMs);
    }

    void addSharedRules()
    {
        if (!script(buildSharedRulesScript(walledGardenHosts(option(m_options, "walledHosts"))),
                    OnboardStep::SharedRules, kSharedRulesTimeoutMs)) {
            emit m_task.logLine(text(kRulesRejected));
            m_task.m_lastError.clear();
        }
    }

    bool applyLayout()
    {
        // A cancel before the layout is never sent leaves the router linked and otherwise as
        // it was, and ends the run as cancelled.
        const bool cancelledBefore = m_task.isCancelled();
        if (script(buildBaseLayoutScript(option(m_options, "hotspotDns")),
                   OnboardStep::StandardLayout, kLayoutTimeoutMs)) {
            emit m_task.logLine(text(kLayoutDone));
            m_layoutSent = true;
            return true;
        }
        if (cancelledBefore)
            return false;
        // A cancel while the layout runs stops only this computer's wait for its answer: the
        // router has the script and finishes it on its own, after the link is already in place.
        const bool stoppedWhileRunning = m_task.isCancelled();
        // Otherwise only a silent or dropped session is the layout's expected end; the router's
        // own refusal, read in full, ends the run.
        if (!stoppedWhileRunning && !layoutConnectionDropped(m_task.m_lastError))
            return false;
        m_task.m_lastError.clear();
        emit m_task.logLine(text(stoppedWhileRunning ? kLayoutStopped : kLayoutSessionEnded));
        m_layoutSent = true;
        return true;
    }

    bool serviceSeesRouter()
    {
        QJsonObject router;
        return m_api->fetchRouter(m_link.routerId, &router) && confirmsOnline(router);
    }

    void waitForHandshakeAndService()
    {
        const QString reading = handshakeScript();
        for (int attempt = 1; !m_task.isCancelled(); ++attempt) {
            QString output;
            if (m_task.runScript(m_client, reading, QString(), &output, kHandshakeTimeoutMs))
                m_handshakeSeen =
                    showsHandshake(parseMarkers(output).text(QStringLiteral("QM_HS")));
            if (serviceSeesRouter()) {
                m_online = true;
                m_message = text(kSeen);
                return;
            }
            emit m_task.logLine(text(kWaiting).arg(attempt));
            if (attempt == kWaitAttempts || !m_task.pauseUnlessCancelled(kWaitPauseMs))
                break;
        }
        if (m_handshakeSeen)
            m_message = text(kTunnelUp);
        else if (m_task.isCancelled())
            m_message = text(kStoppedWaiting);
        else
            m_message =
                text(kNoHandshake).arg(m_link.endpointHost, QString::number(m_link.endpointPort));
    }

    // This computer lost its path to the router with the layout, so only the service is asked.
    void waitForServiceOnly()
    {
        for (int attempt = 1; !m_task.isCancelled(); ++attempt) {
            if (serviceSeesRouter()) {
                m_online = true;
                m_message = text(kSeenAfterLayout);
                return;
            }
            emit m_task.logLine(text(kWaitingAfterLayout).arg(attempt));
            if (attempt == kLayoutWaitAttempts || !m_task.pauseUnlessCancelled(kWaitPauseMs))
                break;
        }
        m_message = text(m_task.isCancelled() ? kStoppedAfterLayout : kNotSeenAfterLayout);
    }

    void report()
    {
        QVariantMap result;
        result.insert(QStringLiteral("routerId"), m_link.routerId);
        result.insert(QStringLiteral("site"), m_siteName);
        result.insert(QStringLiteral("address"), m_link.interfaceAddress);
        result.insert(
            QStringLiteral("endpoint"),
            QStringLiteral("%1:%2").arg(m_link.endpointHost, QString::number(m_link.endpointPort)));
        result.insert(QStringLiteral("online"), m_online);
        result.insert(QStringLiteral("handshake"), m_handshakeSeen);
        result.insert(QStringLiteral("message"), m_message);
        if (m_layoutSent)
            result.insert(QStringLiteral("layout"), true);
        if (m_answer.contains(QLatin1String("router_limit")))
            result.insert(QStringLiteral("routerLimit"),
                          m_answer.value(QLatin1String("router_limit")).toInt(0));
        if (m_answer.contains(QLatin1String("routers_used")))
            result.insert(QStringLiteral("routersUsed"),
                          m_answer.value(QLatin1String("routers_used")).toInt(0));
        emit m_task.logLine(m_message);
        emit m_task.provisionReady(true, QString(), result);
    }

    RouterTask &m_task;
    SshClient &m_client;
    const QVariantMap &m_options;
    QString m_ifName;
    QString m_routerKey;
    QString m_siteName;
    std::unique_ptr<QuillmorApi> m_api;
    QJsonObject m_answer;
    QString m_apiPassword;
    LinkValues m_link;
    QString m_apiNetwork;
    QString m_apiUser;
    bool m_userReady = false;
    bool m_layoutSent = false;
    bool m_handshakeSeen = false;
    bool m_online = false;
    QString m_message;
};

void RouterTask::provisionLink(SshClient &client)
{
    ProvisionSteps(*this, client).run();
}

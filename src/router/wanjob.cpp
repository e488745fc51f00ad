#include "inspectjob.h"
#include "routeros.h"
#include "routertask.h"
#include "ssh/sshclient.h"

namespace {

// %1 is the inspection's service fetch: a line that blocks ping but passes HTTPS has internet here
// as well as there.
const char kProbeScript[] = R"(
:put ("QM_ROUTE=" . [:len [/ip route find dst-address=0.0.0.0/0 active=yes]]); :do { :put ("QM_PING=" . [/ping address=1.1.1.1 count=1]) } on-error={ :put "QM_PING=0" }; %1; :put "QM_DONE=1"
)";
const char kBridgeScript[] = R"(
:do { /interface bridge port remove [find interface=ether1] } on-error={ :put "QM_FAIL=bridge" }; :put "QM_DONE=1"
)";
const char kDhcpAddScript[] = "/ip dhcp-client add interface=ether1 disabled=no "
                              "add-default-route=yes use-peer-dns=yes comment=\"quillmor-onboard\"";
const char kDhcpSetScript[] =
    "/ip dhcp-client set [find interface=ether1] disabled=no add-default-route=yes";
const char kPppoeHead[] =
    "/interface pppoe-client add name=\"quillmor-wan\" interface=ether1 user=";
const char kPppoePassword[] = " password=";
const char kPppoeTail[] = " add-default-route=yes use-peer-dns=yes disabled=no "
                          "comment=\"quillmor-onboard\"";
// Without this member a router whose LAN is masqueraded out of the WAN list has no NAT for the
// new uplink; a router without that list simply skips it.
const char kPppoeWanMember[] = "; :do { /interface list member add list=WAN interface=quillmor-wan "
                               "comment=\"quillmor-onboard\" } on-error={}";

const char kBridgeLabel[] = "Moving port 1 out of the LAN bridge...";
const char kDhcpLabel[] = "Starting DHCP on port 1...";
const char kPppoeLabel[] = "Starting PPPoE on port 1...";
const char kCheckingLabel[] = "Checking internet (%1/5)...";

const char kNotFresh[] = "Port 1 was not changed because this router is already in use.";
const char kPppoeExists[] = "A PPPoE client is already on this router. Another one was not added.";
const char kUnknownMode[] = "Unknown internet setup.";
const char kCancelled[] = "Cancelled.";
const char kStillOffline[] = "Port 1 was updated, but the router still has no internet. Check the "
                             "cable, the line, or the PPPoE account.";

constexpr int kStepTimeoutMs = 20000;
constexpr int kProbeAttempts = 5;
constexpr int kProbePauseSeconds = 3;

} // namespace

bool RouterTask::checkInternet(SshClient &client, bool *internet, bool *hasRoute)
{
    QString output;
    const QString script = QString::fromUtf8(kProbeScript).trimmed().arg(serviceFetchStatement());
    if (!runScript(client, script, QString(), &output, kStepTimeoutMs))
        return false;
    const MarkerMap markers = parseMarkers(output);
    if (hasRoute)
        *hasRoute = markers.count(QStringLiteral("QM_ROUTE")) > 0;
    if (internet)
        *internet = hasInternet(markers);
    return true;
}

void RouterTask::setUpWan(SshClient &client)
{
    const bool split = m_wanMode.startsWith(QLatin1String("split"));
    if (split && !m_fresh) {
        emit wanReady(false, QString::fromUtf8(kNotFresh), false, false);
        return;
    }
    if (m_wanMode.contains(QLatin1String("pppoe")) && m_hasPppoe) {
        emit wanReady(false, QString::fromUtf8(kPppoeExists), false, false);
        return;
    }
    if (split && !runScript(client, QString::fromUtf8(kBridgeScript).trimmed(),
                            QString::fromUtf8(kBridgeLabel), nullptr, kStepTimeoutMs)) {
        emit wanReady(false, m_lastError, false, false);
        return;
    }

    bool addressSet = false;
    if (m_wanMode.endsWith(QLatin1String("dhcp"))) {
        const char *script = m_dhcpOnEther1 ? kDhcpSetScript : kDhcpAddScript;
        addressSet = runScript(client, QString::fromUtf8(script), QString::fromUtf8(kDhcpLabel),
                               nullptr, kStepTimeoutMs);
    } else if (m_wanMode.endsWith(QLatin1String("pppoe"))) {
        const QString script = QString::fromUtf8(kPppoeHead) + quoteRouterOs(m_pppoeUser) +
                               QString::fromUtf8(kPppoePassword) + quoteRouterOs(m_pppoePassword) +
                               QString::fromUtf8(kPppoeTail) + QString::fromUtf8(kPppoeWanMember);
        addressSet =
            runScript(client, script, QString::fromUtf8(kPppoeLabel), nullptr, kStepTimeoutMs);
    } else {
        emit wanReady(false, QString::fromUtf8(kUnknownMode), false, false);
        return;
    }
    if (!addressSet) {
        emit wanReady(false, m_lastError, false, false);
        return;
    }

    bool internet = false;
    bool hasRoute = false;
    for (int attempt = 1; attempt <= kProbeAttempts; ++attempt) {
        if (attempt != 1)
            (void)pauseUnlessCancelled(kProbePauseSeconds * 1000);
        if (isCancelled()) {
            emit wanReady(false, QString::fromUtf8(kCancelled), internet, hasRoute);
            return;
        }
        emit logLine(QString::fromUtf8(kCheckingLabel).arg(attempt));
        if (!checkInternet(client, &internet, &hasRoute)) {
            emit wanReady(false, m_lastError, false, false);
            return;
        }
        if (internet) {
            emit wanReady(true, QString(), true, hasRoute);
            return;
        }
    }
    emit wanReady(true, QString::fromUtf8(kStillOffline), false, hasRoute);
}

#include "inspectjob.h"

#include "api/servicedefaults.h"
#include "routertask.h"
#include "ssh/sshclient.h"
#include "validation.h"

namespace {

// %1 is the service's built-in base URL: the reach test must not follow a configured address.
const char kServiceFetch[] = R"(:do { :local f [/tool fetch url="%1" mode=https check-certificate=no keep-result=no as-value]; :put "QM_FETCH=1" } on-error={ :put "QM_FETCH=0" })";
// %1 is the service fetch above.
const char kInspectionScript[] = R"(
:put ("QM_VERSION=" . [/system resource get version]); :put ("QM_IDENTITY=" . [/system identity get name]); :do { :put ("QM_MODEL=" . [/system routerboard get model]) } on-error={ :put "QM_MODEL=unknown" }; :put ("QM_ROUTE=" . [:len [/ip route find dst-address=0.0.0.0/0 active=yes]]); :do { :put ("QM_PING=" . [/ping address=1.1.1.1 count=1]) } on-error={ :put "QM_PING=0" }; %1; :do { :put ("QM_ADDRS=" . [/ip address print count-only]) } on-error={ :put "QM_ADDRS=0" }; :do { :put ("QM_USERS=" . [/user print count-only]) } on-error={ :put "QM_USERS=0" }; :do { :put ("QM_HS=" . [/ip hotspot print count-only]) } on-error={ :put "QM_HS=0" }; :do { :put ("QM_PPPS=" . [/interface pppoe-server server print count-only]) } on-error={ :put "QM_PPPS=0" }; :put ("QM_E1BR=" . [:len [/interface bridge port find interface=ether1]]); :put ("QM_DHCP1=" . [:len [/ip dhcp-client find interface=ether1]]); :put ("QM_PPOE=" . [:len [/interface pppoe-client find]]); :do { :put ("QM_API_DIS=" . [/ip service get [find name="api"] disabled]); :put ("QM_API_ADDR=" . [/ip service get [find name="api"] address]) } on-error={ :put "QM_API_DIS=true"; :put "QM_API_ADDR=" }; :do { :put ("QM_WGCOUNT=" . [:len [/interface wireguard find]]); :put ("QM_OURS=" . [:len [/interface wireguard find comment="quillmor-onboard"]]); :if ([:len [/interface wireguard find comment="quillmor-onboard"]] > 0) do={ :put ("QM_OURNAME=" . [/interface wireguard get [find comment="quillmor-onboard"] name]) } } on-error={ :put "QM_WGCOUNT=-1"; :put "QM_OURS=0" }; :put ("QM_HAS_QUILLMOR=" . [:len [/interface find name="quillmor"]]); :put ("QM_HAS_QMLINK=" . [:len [/interface find name="qm-link"]]); :do { :put ("QM_USER_QUILLMOR=" . [:len [/user find name="quillmor"]]); :put ("QM_USER_OURS=" . [:len [/user find name="quillmor" comment="quillmor-onboard"]]); :put ("QM_USER_QMAPI=" . [:len [/user find name="qm-api"]]) } on-error={ :put "QM_USER_QUILLMOR=0"; :put "QM_USER_OURS=0"; :put "QM_USER_QMAPI=0" }; :put "QM_DONE=1"
)";

const char kReadingLabel[] = "Reading the router...";
const char kIncomplete[] = "The router answered, but the report was incomplete. %1";
const char kSummary[] = "%1, RouterOS %2, internet %3";
const char kNeedsRos7[] = "WireGuard needs RouterOS 7. This router is running %1. Upgrade it, then "
                          "run this setup again. Nothing was changed.";
const char kOlderVersion[] = "an older version";
const char kWireGuardSilent[] =
    "RouterOS 7 is installed, but WireGuard did not answer. Upgrade RouterOS, then try again.";
const char kNamesTaken[] = "Interfaces named quillmor and qm-link are both in use. Rename one of "
                           "them, then try again.";
constexpr int kInspectTimeoutMs = 60000;
constexpr int kIncompleteShownLimit = 300;

bool isFresh(const MarkerMap &m, bool ros7, bool wireguardOk)
{
    if (!wireguardOk || !ros7)
        return false;
    const int addresses = m.count(QStringLiteral("QM_ADDRS"));
    if (addresses != 1 && addresses != 2)
        return false;
    if (m.count(QStringLiteral("QM_USERS")) != 1)
        return false;
    if (m.count(QStringLiteral("QM_HS")) != 0)
        return false;
    if (m.count(QStringLiteral("QM_PPPS")) != 0 || m.count(QStringLiteral("QM_WGCOUNT")) != 0)
        return false;
    return m.count(QStringLiteral("QM_OURS")) == 0;
}

QString managementUser(const MarkerMap &m)
{
    if (m.count(QStringLiteral("QM_USER_QUILLMOR")) == 0 ||
        m.count(QStringLiteral("QM_USER_OURS")) >= 1)
        return QStringLiteral("quillmor");
    if (m.count(QStringLiteral("QM_USER_QMAPI")) == 0)
        return QStringLiteral("qm-api");
    return QString();
}

} // namespace

QString serviceFetchStatement()
{
    return QString::fromUtf8(kServiceFetch).arg(defaultServiceBaseUrl());
}

bool hasInternet(const MarkerMap &m)
{
    return m.count(QStringLiteral("QM_PING")) >= 1 ||
           m.text(QStringLiteral("QM_FETCH")) == QLatin1String("1");
}

QString inspectionScript()
{
    return QString::fromUtf8(kInspectionScript).trimmed().arg(serviceFetchStatement());
}

QVariantMap factsFromMarkers(const MarkerMap &m)
{
    const QString versionText = m.text(QStringLiteral("QM_VERSION"));
    const qsizetype space = versionText.indexOf(QLatin1Char(' '));
    const QString version = space < 0 ? versionText : versionText.left(space);
    const bool ros7 = version.startsWith(QLatin1Char('7'));
    const bool wireguardOk = ros7 && m.contains(QStringLiteral("QM_WGCOUNT")) &&
                             m.count(QStringLiteral("QM_WGCOUNT")) >= 0;

    const bool internet = hasInternet(m);

    bool replace = false;
    QString ifName;
    QString blocker;
    if (!ros7) {
        blocker = QString::fromUtf8(kNeedsRos7)
                      .arg(version.isEmpty() ? QString::fromUtf8(kOlderVersion) : version);
    } else if (!wireguardOk) {
        blocker = QString::fromUtf8(kWireGuardSilent);
    } else if (m.count(QStringLiteral("QM_OURS")) > 0) {
        const QString ourName = m.text(QStringLiteral("QM_OURNAME")).trimmed();
        ifName = isValidName(ourName) ? ourName : QStringLiteral("quillmor");
        replace = true;
    } else if (m.count(QStringLiteral("QM_HAS_QUILLMOR")) == 0) {
        ifName = QStringLiteral("quillmor");
    } else if (m.count(QStringLiteral("QM_HAS_QMLINK")) == 0) {
        ifName = QStringLiteral("qm-link");
    } else {
        blocker = QString::fromUtf8(kNamesTaken);
    }

    const QString disabled = m.text(QStringLiteral("QM_API_DIS")).toLower();
    QString identity = m.text(QStringLiteral("QM_IDENTITY")).trimmed();
    if (identity.isEmpty())
        identity = QStringLiteral("MikroTik");

    QVariantMap facts;
    facts.insert(QStringLiteral("identity"), identity);
    facts.insert(QStringLiteral("model"), m.text(QStringLiteral("QM_MODEL")));
    facts.insert(QStringLiteral("version"), version);
    facts.insert(QStringLiteral("ros7"), ros7);
    facts.insert(QStringLiteral("wireguardOk"), wireguardOk);
    facts.insert(QStringLiteral("internet"), internet);
    facts.insert(QStringLiteral("hasRoute"), m.count(QStringLiteral("QM_ROUTE")) > 0);
    facts.insert(QStringLiteral("fresh"), isFresh(m, ros7, wireguardOk));
    facts.insert(QStringLiteral("ether1Bridged"), m.count(QStringLiteral("QM_E1BR")) > 0);
    facts.insert(QStringLiteral("dhcpOnEther1"), m.count(QStringLiteral("QM_DHCP1")) > 0);
    facts.insert(QStringLiteral("pppoe"), m.count(QStringLiteral("QM_PPOE")) > 0);
    facts.insert(QStringLiteral("replace"), replace);
    facts.insert(QStringLiteral("ifName"), ifName);
    facts.insert(QStringLiteral("mgmtUser"), managementUser(m));
    facts.insert(QStringLiteral("apiAddress"), m.text(QStringLiteral("QM_API_ADDR")));
    facts.insert(QStringLiteral("apiDisabled"),
                 disabled == QLatin1String("true") || disabled == QLatin1String("yes"));
    facts.insert(QStringLiteral("blocker"), blocker);
    return facts;
}

void RouterTask::inspectRouter(SshClient &client)
{
    QString output;
    if (!runScript(client, inspectionScript(), QString::fromUtf8(kReadingLabel), &output,
                   kInspectTimeoutMs)) {
        emit inspectReady(false, m_lastError, QVariantMap());
        return;
    }

    const MarkerMap markers = parseMarkers(output);
    if (markers.text(QStringLiteral("QM_DONE")) != QLatin1String("1")) {
        const QString shown = redactSecrets(output).trimmed().left(kIncompleteShownLimit);
        emit inspectReady(false, QString::fromUtf8(kIncomplete).arg(shown), QVariantMap());
        return;
    }

    const QVariantMap facts = factsFromMarkers(markers);
    const bool internet = facts.value(QStringLiteral("internet")).toBool();
    emit logLine(
        QString::fromUtf8(kSummary).arg(facts.value(QStringLiteral("model")).toString(),
                                        facts.value(QStringLiteral("version")).toString(),
                                        internet ? QStringLiteral("yes") : QStringLiteral("no")));
    emit inspectReady(true, QString(), facts);
}

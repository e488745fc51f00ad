#include "curve25519.h"
#include "routerosengine.h"
#include "router/routeros.h"

#include <QDir>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

QString sourceDir()
{
    return qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR");
}

QString scenarioPath(const QString &name)
{
    return sourceDir() + QStringLiteral("/tools/routeros-sim/scenarios/") + name
            + QStringLiteral(".json");
}

std::unique_ptr<RouterOsEngine> loadScenario(const QString &name)
{
    auto engine = std::make_unique<RouterOsEngine>();
    QString error;
    if (!engine->loadScenarioFile(scenarioPath(name), &error))
        qWarning() << name << error;
    return engine;
}

std::unique_ptr<RouterOsEngine> loadJson(const QJsonObject &scenario)
{
    auto engine = std::make_unique<RouterOsEngine>();
    QString error;
    if (!engine->loadScenario(scenario, sourceDir() + QStringLiteral("/tools/routeros-sim/scenarios"),
                              &error))
        qWarning() << error;
    return engine;
}

ExecOutcome exec(RouterOsEngine &engine, const QString &script)
{
    ExecRequest request;
    request.user = QStringLiteral("admin");
    request.script = script;
    request.clientAddress = QStringLiteral("127.0.0.1");
    return engine.execute(request);
}

QString run(RouterOsEngine &engine, const QString &script)
{
    return QString::fromUtf8(exec(engine, script).out);
}

int count(RouterOsEngine &engine, const QString &menu, const QString &filter = QString())
{
    const QString out = run(engine, QStringLiteral(":put [:len [%1 find %2]]").arg(menu, filter));
    return out.trimmed().toInt();
}

QString read(RouterOsEngine &engine, const QString &expression)
{
    QString out = run(engine, QStringLiteral(":put %1").arg(expression));
    if (out.endsWith(QLatin1String("\r\n")))
        out.chop(2);
    return out;
}

// The product's scripts, letter for letter as the router receives them.
const QString kServiceUrl = QStringLiteral("https://manage.quillmor.com");

QString inspectionScript()
{
    const QStringList statements = {
            QStringLiteral(R"(:put ("QM_VERSION=" . [/system resource get version]))"),
            QStringLiteral(R"(:put ("QM_IDENTITY=" . [/system identity get name]))"),
            QStringLiteral(R"(:do { :put ("QM_MODEL=" . [/system routerboard get model]) } on-error={ :put "QM_MODEL=unknown" })"),
            QStringLiteral(R"(:put ("QM_ROUTE=" . [:len [/ip route find dst-address=0.0.0.0/0 active=yes]]))"),
            QStringLiteral(R"(:do { :put ("QM_PING=" . [/ping address=1.1.1.1 count=1]) } on-error={ :put "QM_PING=0" })"),
            QStringLiteral(R"(:do { :local f [/tool fetch url="%1" mode=https check-certificate=no keep-result=no as-value]; :put "QM_FETCH=1" } on-error={ :put "QM_FETCH=0" })").arg(kServiceUrl),
            QStringLiteral(R"(:do { :put ("QM_ADDRS=" . [/ip address print count-only]) } on-error={ :put "QM_ADDRS=0" })"),
            QStringLiteral(R"(:do { :put ("QM_USERS=" . [/user print count-only]) } on-error={ :put "QM_USERS=0" })"),
            QStringLiteral(R"(:do { :put ("QM_HS=" . [/ip hotspot print count-only]) } on-error={ :put "QM_HS=0" })"),
            QStringLiteral(R"(:do { :put ("QM_PPPS=" . [/interface pppoe-server server print count-only]) } on-error={ :put "QM_PPPS=0" })"),
            QStringLiteral(R"(:put ("QM_E1BR=" . [:len [/interface bridge port find interface=ether1]]))"),
            QStringLiteral(R"(:put ("QM_DHCP1=" . [:len [/ip dhcp-client find interface=ether1]]))"),
            QStringLiteral(R"(:put ("QM_PPOE=" . [:len [/interface pppoe-client find]]))"),
            QStringLiteral(R"(:do { :put ("QM_API_DIS=" . [/ip service get [find name="api"] disabled]); :put ("QM_API_ADDR=" . [/ip service get [find name="api"] address]) } on-error={ :put "QM_API_DIS=true"; :put "QM_API_ADDR=" })"),
            QStringLiteral(R"(:do { :put ("QM_WGCOUNT=" . [:len [/interface wireguard find]]); :put ("QM_OURS=" . [:len [/interface wireguard find comment="quillmor-onboard"]]); :if ([:len [/interface wireguard find comment="quillmor-onboard"]] > 0) do={ :put ("QM_OURNAME=" . [/interface wireguard get [find comment="quillmor-onboard"] name]) } } on-error={ :put "QM_WGCOUNT=-1"; :put "QM_OURS=0" })"),
            QStringLiteral(R"(:put ("QM_HAS_QUILLMOR=" . [:len [/interface find name="quillmor"]]))"),
            QStringLiteral(R"(:put ("QM_HAS_QMLINK=" . [:len [/interface find name="qm-link"]]))"),
            QStringLiteral(R"(:do { :put ("QM_USER_QUILLMOR=" . [:len [/user find name="quillmor"]]); :put ("QM_USER_OURS=" . [:len [/user find name="quillmor" comment="quillmor-onboard"]]); :put ("QM_USER_QMAPI=" . [:len [/user find name="qm-api"]]) } on-error={ :put "QM_USER_QUILLMOR=0"; :put "QM_USER_OURS=0"; :put "QM_USER_QMAPI=0" })"),
            QStringLiteral(R"(:put "QM_DONE=1")"),
    };
    return statements.join(QStringLiteral("; "));
}

const QString kProbe = QStringLiteral(R"(:put ("QM_ROUTE=" . [:len [/ip route find dst-address=0.0.0.0/0 active=yes]]); :do { :put ("QM_PING=" . [/ping address=1.1.1.1 count=1]) } on-error={ :put "QM_PING=0" }; :put "QM_DONE=1")");
const QString kBridgeStep = QStringLiteral(R"(:do { /interface bridge port remove [find interface=ether1] } on-error={ :put "QM_FAIL=bridge" }; :put "QM_DONE=1")");
const QString kDhcpAdd = QStringLiteral(R"(/ip dhcp-client add interface=ether1 disabled=no add-default-route=yes use-peer-dns=yes comment="quillmor-onboard")");
const QString kDhcpSet = QStringLiteral(R"(/ip dhcp-client set [find interface=ether1] disabled=no add-default-route=yes)");
const QString kWanListLine = QStringLiteral(R"(; :do { /interface list member add list=WAN interface=quillmor-wan comment="quillmor-onboard" } on-error={})");

QString pppoeScript(const QString &user, const QString &password)
{
    return QStringLiteral(R"(/interface pppoe-client add name="quillmor-wan" interface=ether1 user=)")
            + quoteRouterOs(user) + QStringLiteral(" password=") + quoteRouterOs(password)
            + QStringLiteral(R"( add-default-route=yes use-peer-dns=yes disabled=no comment="quillmor-onboard")");
}

QString baseLayoutScript(const QString &dns)
{
    const QStringList wrapped = {
            QStringLiteral("/ip hotspot remove [find]"),
            QStringLiteral("/interface pppoe-server server remove [find]"),
            QStringLiteral("/ip dhcp-server remove [find]"),
            QStringLiteral("/ip dhcp-server network remove [find]"),
            QStringLiteral("/ip pool remove [find]"),
            QStringLiteral("/ip address remove [find]"),
            QStringLiteral("/interface bridge port remove [find interface=ether1]"),
            QStringLiteral("/interface bridge port remove [find interface=ether2]"),
            QStringLiteral("/interface bridge port remove [find interface=ether3]"),
            QStringLiteral("/interface bridge port remove [find interface=ether4]"),
            QStringLiteral("/interface bridge port remove [find interface=ether5]"),
            QStringLiteral("/interface ethernet set [find default-name=ether1] name=ether1-WAN"),
            QStringLiteral("/interface bridge add name=Bridge-Network"),
            QStringLiteral("/interface bridge port add bridge=Bridge-Network interface=ether2"),
            QStringLiteral("/interface bridge port add bridge=Bridge-Network interface=ether3"),
            QStringLiteral("/interface bridge port add bridge=Bridge-Network interface=ether4"),
            QStringLiteral("/interface bridge port add bridge=Bridge-Network interface=ether5"),
            QStringLiteral("/ip dhcp-client remove [find interface=ether1]"),
            QStringLiteral("/ip dhcp-client remove [find interface=ether1-WAN]"),
            QStringLiteral("/ip dhcp-client add interface=ether1-WAN disabled=no add-default-route=yes use-peer-dns=no use-peer-ntp=no"),
            QStringLiteral("/ip pool add name=hotspot-pool ranges=172.16.0.2-172.16.255.254"),
            QStringLiteral("/ip pool add name=pppoe-pool ranges=176.16.0.2-176.16.255.254"),
            QStringLiteral("/ip pool add name=Expiry-Pool ranges=18.18.18.2-18.18.18.254"),
            QStringLiteral("/ip address add address=172.16.0.1/16 comment=HOTSPOT interface=Bridge-Network network=172.16.0.0"),
            QStringLiteral("/ip dhcp-server add address-pool=hotspot-pool interface=Bridge-Network name=dhcp1"),
            QStringLiteral("/ip dhcp-server network add address=172.16.0.0/16 gateway=172.16.0.1"),
            QStringLiteral(R"(/ip hotspot profile add dns-name=%1 hotspot-address=172.16.0.1 login-by="cookie,http-pap,mac-cookie" name=quillmor-server)").arg(quoteRouterOs(dns)),
            QStringLiteral("/ip hotspot add address-pool=hotspot-pool addresses-per-mac=1 disabled=no idle-timeout=4w2d interface=Bridge-Network keepalive-timeout=4w2d login-timeout=5m name=quillmor profile=quillmor-server"),
            QStringLiteral("/ppp profile add local-address=18.18.18.1 name=Expiry-Profile rate-limit=1k/1k remote-address=Expiry-Pool"),
            QStringLiteral("/interface pppoe-server server add disabled=no interface=Bridge-Network one-session-per-host=yes service-name=PPPoE_Server"),
            QStringLiteral("/ip dns set cache-max-ttl=7d cache-size=4096 servers=8.8.8.8,8.8.4.4"),
            QStringLiteral("/ip firewall nat add chain=srcnat out-interface=ether1-WAN action=masquerade comment=HOTSPOT"),
            QStringLiteral("/ip service set ftp disabled=yes"),
            QStringLiteral("/ip service set telnet disabled=yes"),
            QStringLiteral("/ip service set ssh port=22 disabled=no"),
            QStringLiteral("/ip service set www port=1042 disabled=no"),
            QStringLiteral("/ip service set winbox port=8291 disabled=no"),
            QStringLiteral("/ip service set api-ssl disabled=yes"),
            QStringLiteral("/ip service set api disabled=no port=8777"),
            QStringLiteral("/system clock set time-zone-name=Africa/Nairobi"),
    };
    QStringList statements;
    for (const QString &s : wrapped)
        statements << QStringLiteral(":do { %1 } on-error={}").arg(s);
    statements << QStringLiteral(R"(:if ([:len [/interface find name="ether1-WAN"]] = 0) do={ :put "QM_FAIL=wan" })")
               << QStringLiteral(R"(:if ([:len [/ip address find address="172.16.0.1/16"]] = 0) do={ :put "QM_FAIL=address" })")
               << QStringLiteral(R"(:put "QM_DONE=1")");
    return statements.join(QStringLiteral("; "));
}

QString sharedRulesScript(const QStringList &hosts)
{
    const QStringList fixed = {
            QStringLiteral(R"(/ip firewall address-list add list=blocked-vpn-servers address=203.0.113.45 comment="quillmor-onboard")"),
            QStringLiteral(R"(/ip firewall filter add chain=forward dst-address-list=blocked-vpn-servers action=drop comment="quillmor-onboard")"),
            QStringLiteral(R"(/ip firewall raw add chain=prerouting dst-address-list=blocked-vpn-servers action=drop comment="quillmor-onboard")"),
            QStringLiteral(R"(/ip firewall filter add chain=forward action=drop src-address-list=Disconnected comment="quillmor-onboard")"),
            QStringLiteral(R"(/ip firewall filter add chain=hs-input action=drop protocol=udp dst-port=53 hotspot=!auth comment="quillmor-onboard")"),
            QStringLiteral(R"(/ip firewall filter add chain=hs-input action=drop protocol=tcp dst-port=53 hotspot=!auth comment="quillmor-onboard")"),
            QStringLiteral(R"(/ip firewall filter add chain=pre-hs-input hotspot=!auth connection-limit=20,32 action=drop comment="quillmor-onboard")"),
            QStringLiteral("/system clock set time-zone-name=Africa/Nairobi"),
    };
    QString script;
    for (const QString &s : fixed)
        script += QStringLiteral(":do { %1 } on-error={}; ").arg(s);
    for (const QString &h : hosts)
        script += QStringLiteral(":do { /ip hotspot walled-garden ip add action=accept dst-host=")
                + quoteRouterOs(h) + QStringLiteral(R"( comment="quillmor-onboard" } on-error={}; )");
    return script + QStringLiteral(R"(:put "QM_DONE=1")");
}

const QString kClearScript = QStringLiteral(R"(:do { /ip firewall filter remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip firewall raw remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip firewall address-list remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip hotspot walled-garden ip remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip route remove [find comment="quillmor-onboard"] } on-error={}; :do { /ip address remove [find comment="quillmor-onboard"] } on-error={}; :do { /interface wireguard peers remove [find comment="quillmor-onboard"] } on-error={}; :do { /interface wireguard remove [find comment="quillmor-onboard"] } on-error={}; :put "QM_DONE=1")");
const QString kHandshake = QStringLiteral(R"(:do { :put ("QM_HS=" . [/interface wireguard peers get [find comment="quillmor-onboard"] last-handshake]) } on-error={ :put "QM_HS=" }; :put "QM_DONE=1")");
const QString kProfiles = QStringLiteral(R"(:foreach p in=[/ip hotspot profile find] do={ :put ("QM_PROFILE=" . [/ip hotspot profile get $p name]); :put ("QM_DIR=" . [/ip hotspot profile get $p html-directory]); :put ("QM_OVERRIDE=" . [/ip hotspot profile get $p html-directory-override]); :put ("QM_DNS=" . [/ip hotspot profile get $p dns-name]) }; :put "QM_DONE=1")");
const QString kServerKey = QStringLiteral("HIgo9xNzJMWLKASShiTqIybxZ0U3wGLiUeJ1PKf8ykw=");

QString userScript(const QString &user, const QString &password)
{
    const QString u = quoteRouterOs(user);
    const QString p = quoteRouterOs(password);
    return QStringLiteral(R"(:if ([:len [/user find name=%1]] > 0) do={ /user set [find name=%1] password=%2 group=full; :put "QM_USER=updated" } else={ /user add name=%1 group=full password=%2 comment="quillmor-onboard"; :put "QM_USER=created" }; :put "QM_DONE=1")")
            .arg(u, p);
}

} // namespace

class TestRouterOsEngine final : public QObject
{
    Q_OBJECT

private slots:
    void inspectionReportsWhatTheRouterHolds_data();
    void inspectionReportsWhatTheRouterHolds();
    void apiAddressesDistributeOverTheMarker();
    void probeSeesRouteAndPingOnlyWithUpstream();
    void splittingPortOneBringsDhcpInternet();
    void dhcpStepSetsExistingClientInsteadOfAdding();
    void pppoeClientKeepsHostilePasswordAndDialsUp();
    void baseLayoutBuildsTheStandardShapeAndDropsTheSession();
    void linkScriptsBuildTheTunnel();
    void firewallPlaceBeforeZeroFailsOnEmptyList();
    void handshakeReadingFollowsTheScenario_data();
    void handshakeReadingFollowsTheScenario();
    void apiServiceFormsAndManagementUser();
    void sharedRulesAndClearingRemoveOnlyOurObjects();
    void hotspotListingAndFetch();
    void malformedScriptsFailInRouterOsWords_data();
    void malformedScriptsFailInRouterOsWords();
    void runtimeErrorStopsTheRestAndExitStatusFollowsSetting();
    void unknownParameterIsRuntimeFromVersion723();
    void badCommandNameCatchabilityIsASetting();
    void valuesOfTheWrongKindAreRefused_data();
    void valuesOfTheWrongKindAreRefused();
    void hostileQuotedValuesReadBackAndNeverRun();
    void realExportsLoadIntoTheStateTheyDescribe_data();
    void realExportsLoadIntoTheStateTheyDescribe();
    void realExportsKeepTheValuesTheyHold_data();
    void realExportsKeepTheValuesTheyHold();
    void multiValuedPropertiesComeBackAsArrays_data();
    void multiValuedPropertiesComeBackAsArrays();
    void itemReferencesResolveAsTheConsoleDoes_data();
    void itemReferencesResolveAsTheConsoleDoes();
    void languageRunsAsRouterOsCompilesIt_data();
    void languageRunsAsRouterOsCompilesIt();
    void globalsOutliveTheScriptButNeedDeclaring();
    void sharedExportsGiveTheirInspectionFacts_data();
    void sharedExportsGiveTheirInspectionFacts();
    void exportsKeepWhatTheRouterDoesNotModel();
    void globalCommandsFollowTheVersion_data();
    void globalCommandsFollowTheVersion();
    void exportStateLoadsBackToTheSameState();
    void faultsFireOnTheirPattern();
    void wireGuardKeysAreRealX25519();
    void concurrentExecsKeepTheModelConsistent();
};

void TestRouterOsEngine::inspectionReportsWhatTheRouterHolds_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("new-router") << QStringLiteral("new-router")
                                << QStringList{QStringLiteral("QM_VERSION=7.14.3 (stable)"),
                                               QStringLiteral("QM_IDENTITY=MikroTik"),
                                               QStringLiteral("QM_MODEL=RB750Gr3"),
                                               QStringLiteral("QM_ROUTE=1"), QStringLiteral("QM_PING=1"),
                                               QStringLiteral("QM_FETCH=1"), QStringLiteral("QM_ADDRS=2"),
                                               QStringLiteral("QM_USERS=1"), QStringLiteral("QM_HS=0"),
                                               QStringLiteral("QM_PPPS=0"), QStringLiteral("QM_E1BR=0"),
                                               QStringLiteral("QM_DHCP1=1"), QStringLiteral("QM_PPOE=0"),
                                               QStringLiteral("QM_API_DIS=false"),
                                               QStringLiteral("QM_WGCOUNT=0"), QStringLiteral("QM_OURS=0"),
                                               QStringLiteral("QM_HAS_QUILLMOR=0"), QStringLiteral("QM_HAS_QMLINK=0"),
                                               QStringLiteral("QM_USER_QUILLMOR=0"), QStringLiteral("QM_DONE=1")};
    QTest::newRow("ros6") << QStringLiteral("ros6")
                          << QStringList{QStringLiteral("QM_VERSION=6.49.10 (long-term)"),
                                         QStringLiteral("QM_WGCOUNT=-1"), QStringLiteral("QM_OURS=0"),
                                         QStringLiteral("QM_DONE=1")};
    QTest::newRow("chr") << QStringLiteral("chr")
                         << QStringList{QStringLiteral("QM_MODEL=unknown"), QStringLiteral("QM_IDENTITY=chr-lab"),
                                        QStringLiteral("QM_ADDRS=2"), QStringLiteral("QM_DONE=1")};
    QTest::newRow("in-use") << QStringLiteral("in-use")
                            << QStringList{QStringLiteral("QM_IDENTITY=cafe-main"), QStringLiteral("QM_HS=1"),
                                           QStringLiteral("QM_PPPS=1"), QStringLiteral("QM_USERS=2"),
                                           QStringLiteral("QM_ADDRS=3"), QStringLiteral("QM_DONE=1")};
    QTest::newRow("names-taken") << QStringLiteral("names-taken")
                                 << QStringList{QStringLiteral("QM_HAS_QUILLMOR=1"),
                                                QStringLiteral("QM_HAS_QMLINK=1"), QStringLiteral("QM_DONE=1")};
    QTest::newRow("earlier-link") << QStringLiteral("earlier-link")
                                  << QStringList{QStringLiteral("QM_WGCOUNT=1"), QStringLiteral("QM_OURS=1"),
                                                 QStringLiteral("QM_OURNAME=wg-old"), QStringLiteral("QM_DONE=1")};
    QTest::newRow("no-internet-bridged")
            << QStringLiteral("no-internet-bridged")
            << QStringList{QStringLiteral("QM_ROUTE=0"), QStringLiteral("QM_PING=0"), QStringLiteral("QM_FETCH=0"),
                           QStringLiteral("QM_ADDRS=1"), QStringLiteral("QM_E1BR=1"), QStringLiteral("QM_DHCP1=0"),
                           QStringLiteral("QM_DONE=1")};
}

void TestRouterOsEngine::inspectionReportsWhatTheRouterHolds()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, expected);
    auto engine = loadScenario(scenario);
    const ExecOutcome outcome = exec(*engine, inspectionScript());
    const QString out = QString::fromUtf8(outcome.out);
    QCOMPARE(outcome.exitStatus, 0);
    QVERIFY2(out.endsWith(QLatin1String("QM_DONE=1\r\n")), qPrintable(out));
    QVERIFY(!out.contains(QLatin1Char('\n')) || out.count(QLatin1Char('\n')) == out.count(QStringLiteral("\r\n")));
    const QStringList lines = out.split(QStringLiteral("\r\n"));
    for (const QString &line : expected)
        QVERIFY2(lines.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + out));
    QCOMPARE(hasRouterOsError(out), false);
    // Reading the router changes nothing.
    const QString before = engine->exportState().section(QLatin1Char('\n'), 1);
    (void)exec(*engine, inspectionScript());
    QCOMPARE(engine->exportState().section(QLatin1Char('\n'), 1), before);
}

void TestRouterOsEngine::apiAddressesDistributeOverTheMarker()
{
    auto engine = loadScenario(QStringLiteral("api-restricted"));
    const QString out = run(*engine, inspectionScript());
    QVERIFY2(out.contains(QStringLiteral("\r\nQM_API_ADDR=192.168.88.0/24;QM_API_ADDR=10.9.0.0/16\r\n")),
             qPrintable(out));
    QCOMPARE(read(*engine, QStringLiteral("[:typeof [/ip service get api address]]")), QStringLiteral("array"));
}

void TestRouterOsEngine::probeSeesRouteAndPingOnlyWithUpstream()
{
    auto online = loadScenario(QStringLiteral("new-router"));
    MarkerMap m = parseMarkers(run(*online, kProbe));
    QCOMPARE(m.text(QStringLiteral("QM_ROUTE")), QStringLiteral("1"));
    QCOMPARE(m.text(QStringLiteral("QM_PING")), QStringLiteral("1"));
    // Inside [ ] ping returns the reply count and prints no table.
    QCOMPARE(run(*online, QStringLiteral(":local n [/ping address=1.1.1.1 count=3]; :put $n")), QStringLiteral("3\r\n"));

    QJsonObject offline{{QStringLiteral("export"), QStringLiteral("defconf-7.rsc")},
                        {QStringLiteral("upstream"), QJsonObject{{QStringLiteral("internet"), false}}}};
    auto engine = loadJson(offline);
    m = parseMarkers(run(*engine, kProbe));
    QCOMPARE(m.text(QStringLiteral("QM_ROUTE")), QStringLiteral("1"));
    QCOMPARE(m.text(QStringLiteral("QM_PING")), QStringLiteral("0"));
    QCOMPARE(m.text(QStringLiteral("QM_DONE")), QStringLiteral("1"));
}

void TestRouterOsEngine::splittingPortOneBringsDhcpInternet()
{
    auto engine = loadScenario(QStringLiteral("no-internet-bridged"));
    QCOMPARE(parseMarkers(run(*engine, kProbe)).text(QStringLiteral("QM_ROUTE")), QStringLiteral("0"));
    // A DHCP client on a bridge slave never gets a lease.
    QVERIFY(!hasRouterOsError(run(*engine, kDhcpAdd)));
    QCOMPARE(parseMarkers(run(*engine, kProbe)).text(QStringLiteral("QM_ROUTE")), QStringLiteral("0"));
    const QString bridge = run(*engine, kBridgeStep);
    QCOMPARE(bridge, QStringLiteral("QM_DONE=1\r\n"));
    QCOMPARE(count(*engine, QStringLiteral("/interface bridge port")), 4);
    const MarkerMap m = parseMarkers(run(*engine, kProbe));
    QCOMPARE(m.text(QStringLiteral("QM_ROUTE")), QStringLiteral("1"));
    QCOMPARE(m.text(QStringLiteral("QM_PING")), QStringLiteral("1"));
    // A second identical client is refused rather than duplicated.
    QVERIFY(hasRouterOsError(run(*engine, kDhcpAdd)));
    QCOMPARE(count(*engine, QStringLiteral("/ip dhcp-client")), 1);
}

void TestRouterOsEngine::dhcpStepSetsExistingClientInsteadOfAdding()
{
    auto engine = loadScenario(QStringLiteral("new-router"));
    QVERIFY(run(*engine, QStringLiteral("/ip dhcp-client set [find interface=ether1] disabled=yes")).isEmpty());
    QCOMPARE(parseMarkers(run(*engine, kProbe)).text(QStringLiteral("QM_ROUTE")), QStringLiteral("0"));
    QCOMPARE(run(*engine, kDhcpSet), QString());
    QCOMPARE(count(*engine, QStringLiteral("/ip dhcp-client")), 1);
    QCOMPARE(parseMarkers(run(*engine, kProbe)).text(QStringLiteral("QM_ROUTE")), QStringLiteral("1"));
}

void TestRouterOsEngine::pppoeClientKeepsHostilePasswordAndDialsUp()
{
    const QString password = QStringLiteral("p\"a$s\\w;[x]\n");
    QJsonObject scenario{{QStringLiteral("export"), QStringLiteral("no-internet-bridged.rsc")},
                         {QStringLiteral("upstream"),
                          QJsonObject{{QStringLiteral("dhcp"), false},
                                      {QStringLiteral("pppoe"),
                                       QJsonObject{{QStringLiteral("user"), QStringLiteral("cust@isp")},
                                                   {QStringLiteral("password"), QStringLiteral("p\"a$s\\w;[x]")}}}}}};
    auto engine = loadJson(scenario);
    QCOMPARE(run(*engine, kBridgeStep), QStringLiteral("QM_DONE=1\r\n"));
    const QString out = run(*engine, pppoeScript(QStringLiteral("cust@isp"), password) + kWanListLine);
    QVERIFY2(out.isEmpty(), qPrintable(out));
    QCOMPARE(read(*engine, QStringLiteral("[/interface pppoe-client get quillmor-wan password]")),
             QStringLiteral("p\"a$s\\w;[x]"));
    QCOMPARE(read(*engine, QStringLiteral("[/interface pppoe-client get quillmor-wan running]")), QStringLiteral("true"));
    QCOMPARE(parseMarkers(run(*engine, kProbe)).text(QStringLiteral("QM_PING")), QStringLiteral("1"));
    // The extra line finds no WAN list here and is swallowed by its on-error.
    QCOMPARE(count(*engine, QStringLiteral("/interface list member"), QStringLiteral("interface=quillmor-wan")), 0);
    QVERIFY(!engine->exportState().contains(QStringLiteral("password")));

    auto fresh = loadScenario(QStringLiteral("new-router"));
    QCOMPARE(run(*fresh, pppoeScript(QStringLiteral("u"), QStringLiteral("pw")) + kWanListLine), QString());
    QCOMPARE(count(*fresh, QStringLiteral("/interface list member"), QStringLiteral("list=WAN interface=quillmor-wan")), 1);
    // Wrong credentials upstream: the client exists but never runs.
    QCOMPARE(read(*fresh, QStringLiteral("[/interface pppoe-client get quillmor-wan running]")), QStringLiteral("false"));
}

void TestRouterOsEngine::baseLayoutBuildsTheStandardShapeAndDropsTheSession()
{
    auto engine = loadScenario(QStringLiteral("new-router"));
    const ExecOutcome outcome = exec(*engine, baseLayoutScript(QStringLiteral("wifi.quillmor.com")));
    // The script removes the address the session came in on: the router finishes the script,
    // the client loses the connection and sees nothing after that point.
    QVERIFY(outcome.drop);
    QVERIFY(!outcome.out.contains("QM_DONE=1"));
    QVERIFY(!engine->hasAddress(QStringLiteral("192.168.88.1")));
    QVERIFY(engine->hasAddress(QStringLiteral("172.16.0.1")));
    QCOMPARE(count(*engine, QStringLiteral("/interface"), QStringLiteral("name=ether1-WAN")), 1);
    QCOMPARE(count(*engine, QStringLiteral("/interface bridge port"), QStringLiteral("bridge=Bridge-Network")), 4);
    QCOMPARE(count(*engine, QStringLiteral("/interface bridge port"), QStringLiteral("bridge=bridge")), 0);
    QCOMPARE(count(*engine, QStringLiteral("/ip pool")), 3);
    QCOMPARE(count(*engine, QStringLiteral("/ip hotspot"), QStringLiteral("name=quillmor profile=quillmor-server")), 1);
    QCOMPARE(read(*engine, QStringLiteral("[/ip hotspot get quillmor idle-timeout]")), QStringLiteral("4w2d"));
    QCOMPARE(read(*engine, QStringLiteral("[/ip hotspot profile get quillmor-server login-by]")),
             QStringLiteral("cookie;http-pap;mac-cookie"));
    QCOMPARE(read(*engine, QStringLiteral("[/ip hotspot profile get quillmor-server dns-name]")),
             QStringLiteral("wifi.quillmor.com"));
    QCOMPARE(count(*engine, QStringLiteral("/interface pppoe-server server"), QStringLiteral("service-name=PPPoE_Server")), 1);
    QCOMPARE(read(*engine, QStringLiteral("[/ip service get api port]")), QStringLiteral("8777"));
    QCOMPARE(read(*engine, QStringLiteral("[/ip service get ftp disabled]")), QStringLiteral("true"));
    QCOMPARE(read(*engine, QStringLiteral("[/system clock get time-zone-name]")), QStringLiteral("Africa/Nairobi"));
    QCOMPARE(read(*engine, QStringLiteral("[/ip dns get servers]")), QStringLiteral("8.8.8.8;8.8.4.4"));
    // The old DHCP client followed the rename and was replaced by the new one on ether1-WAN.
    QCOMPARE(count(*engine, QStringLiteral("/ip dhcp-client")), 1);
    QCOMPARE(count(*engine, QStringLiteral("/ip dhcp-client"), QStringLiteral("interface=ether1-WAN use-peer-dns=no")), 1);
    QCOMPARE(parseMarkers(run(*engine, kProbe)).text(QStringLiteral("QM_ROUTE")), QStringLiteral("1"));
    // Run again on the finished layout, from the new address: no failure markers.
    const QString again = run(*engine, baseLayoutScript(QStringLiteral("wifi.quillmor.com")));
    QCOMPARE(again, QStringLiteral("QM_DONE=1\r\n"));
    QCOMPARE(count(*engine, QStringLiteral("/ip pool")), 3);
    QCOMPARE(count(*engine, QStringLiteral("/interface bridge")), 2);

    // The scenario may stop the script where the session address disappears instead.
    QJsonObject stop{{QStringLiteral("export"), QStringLiteral("defconf-7.rsc")},
                     {QStringLiteral("session"), QJsonObject{{QStringLiteral("address"), QStringLiteral("192.168.88.1")},
                                                             {QStringLiteral("onAddressRemoved"), QStringLiteral("stop")}}}};
    auto stopping = loadJson(stop);
    QVERIFY(exec(*stopping, baseLayoutScript(QStringLiteral("x.quillmor.com"))).drop);
    QCOMPARE(count(*stopping, QStringLiteral("/ip pool")), 0);
    QVERIFY(!stopping->hasAddress(QStringLiteral("172.16.0.1")));
}

void TestRouterOsEngine::linkScriptsBuildTheTunnel()
{
    auto engine = loadScenario(QStringLiteral("earlier-link"));
    QCOMPARE(run(*engine, kClearScript), QStringLiteral("QM_DONE=1\r\n"));
    QCOMPARE(count(*engine, QStringLiteral("/interface wireguard")), 0);
    QCOMPARE(count(*engine, QStringLiteral("/ip route"), QStringLiteral("comment=quillmor-onboard")), 0);
    QCOMPARE(count(*engine, QStringLiteral("/ip address"), QStringLiteral("comment=defconf")), 1);

    QCOMPARE(run(*engine, QStringLiteral(R"(/interface wireguard add name=wg-old listen-port=13231 comment="quillmor-onboard")")), QString());
    const MarkerMap key = parseMarkers(run(*engine, QStringLiteral(R"(:put ("QM_PUB=" . [/interface wireguard get wg-old public-key]); :put "QM_DONE=1")")));
    const QString pub = key.text(QStringLiteral("QM_PUB"));
    QCOMPARE(pub.size(), 44);
    QCOMPARE(QByteArray::fromBase64(pub.toLatin1()).size(), 32);
    QCOMPARE(run(*engine, QStringLiteral(R"(/ip address add address=10.20.0.5/32 interface=wg-old comment="quillmor-onboard")")), QString());
    QCOMPARE(run(*engine, QStringLiteral(R"(/interface wireguard peers add interface=wg-old public-key=%1 endpoint-address="vpn.quillmor.com" endpoint-port=51820 allowed-address=10.20.0.0/16,0.0.0.0/0 persistent-keepalive=25s comment="quillmor-onboard")").arg(quoteRouterOs(kServerKey))), QString());
    QCOMPARE(read(*engine, QStringLiteral("[/interface wireguard peers get [find comment=\"quillmor-onboard\"] allowed-address]")),
             QStringLiteral("10.20.0.0/16;0.0.0.0/0"));
    QCOMPARE(run(*engine, QStringLiteral(R"(/ip route add dst-address=10.20.0.0/16 gateway=wg-old comment="quillmor-onboard")")), QString());
    QCOMPARE(read(*engine, QStringLiteral("[/ip route get [find comment=\"quillmor-onboard\"] active]")), QStringLiteral("true"));
    QCOMPARE(run(*engine, QStringLiteral(R"(/ip firewall filter add chain=input action=accept in-interface=wg-old comment="quillmor-onboard" place-before=0)")), QString());
    QCOMPARE(read(*engine, QStringLiteral("[/ip firewall filter get 0 comment]")), QStringLiteral("quillmor-onboard"));
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall filter")), 12);

    // Duplicates and dangling references fail as RouterOS words them.
    QCOMPARE(run(*engine, QStringLiteral(R"(/interface wireguard add name=wg-old listen-port=13231 comment="quillmor-onboard")")),
             QStringLiteral("failure: already have interface with such name\r\n"));
    QCOMPARE(run(*engine, QStringLiteral("/interface wireguard peers add interface=nosuch allowed-address=10.0.0.0/8")),
             QStringLiteral("input does not match any value of interface\r\n"));
    QCOMPARE(run(*engine, QStringLiteral("/interface wireguard peers add public-key=%1").arg(quoteRouterOs(kServerKey))),
             QStringLiteral("missing value(s) of argument(s) interface allowed-address\r\n"));
}

void TestRouterOsEngine::firewallPlaceBeforeZeroFailsOnEmptyList()
{
    const QString rule = QStringLiteral(R"(/ip firewall filter add chain=input action=accept in-interface=ether2 comment="quillmor-onboard")");
    auto engine = loadScenario(QStringLiteral("chr"));
    QCOMPARE(run(*engine, rule + QStringLiteral(" place-before=0")), QStringLiteral("no such item\r\n"));
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall filter")), 0);
    QCOMPARE(run(*engine, rule), QString());
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall filter")), 1);

    QJsonObject accepting{{QStringLiteral("export"), QStringLiteral("chr.rsc")},
                          {QStringLiteral("placeBeforeEmpty"), QStringLiteral("accept")}};
    auto lenient = loadJson(accepting);
    QCOMPARE(run(*lenient, rule + QStringLiteral(" place-before=0")), QString());
    QCOMPARE(count(*lenient, QStringLiteral("/ip firewall filter")), 1);
}

void TestRouterOsEngine::handshakeReadingFollowsTheScenario_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("afterSeconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("absent before handshake") << QStringLiteral("absent") << 600 << QStringLiteral("QM_HS=");
    QTest::newRow("never before handshake") << QStringLiteral("never") << 600 << QStringLiteral("QM_HS=never");
    QTest::newRow("zero before handshake") << QStringLiteral("zero") << 600 << QStringLiteral("QM_HS=0");
    QTest::newRow("after handshake") << QStringLiteral("absent") << 0 << QStringLiteral("QM_HS=0s");
}

void TestRouterOsEngine::handshakeReadingFollowsTheScenario()
{
    QFETCH(QString, before);
    QFETCH(int, afterSeconds);
    QFETCH(QString, expected);
    QJsonObject scenario{{QStringLiteral("export"), QStringLiteral("defconf-7.rsc")},
                         {QStringLiteral("wireguard"), QJsonObject{{QStringLiteral("afterSeconds"), afterSeconds},
                                                                   {QStringLiteral("lastHandshakeBefore"), before}}}};
    auto engine = loadJson(scenario);
    QCOMPARE(run(*engine, kHandshake), QStringLiteral("QM_HS=\r\nQM_DONE=1\r\n"));
    QCOMPARE(run(*engine, QStringLiteral(R"(/interface wireguard add name=quillmor comment="quillmor-onboard"; /interface wireguard peers add interface=quillmor public-key=%1 allowed-address=10.20.0.0/16 comment="quillmor-onboard")").arg(quoteRouterOs(kServerKey))), QString());
    QCOMPARE(run(*engine, kHandshake), expected + QStringLiteral("\r\nQM_DONE=1\r\n"));
}

void TestRouterOsEngine::apiServiceFormsAndManagementUser()
{
    auto engine = loadScenario(QStringLiteral("api-restricted"));
    QCOMPARE(run(*engine, userScript(QStringLiteral("quillmor"), QStringLiteral("s3cr\"et$"))),
             QStringLiteral("QM_USER=created\r\nQM_DONE=1\r\n"));
    QVERIFY(engine->authenticate(QStringLiteral("quillmor"), QStringLiteral("s3cr\"et$")));
    QCOMPARE(run(*engine, userScript(QStringLiteral("quillmor"), QStringLiteral("other"))),
             QStringLiteral("QM_USER=updated\r\nQM_DONE=1\r\n"));
    QVERIFY(engine->authenticate(QStringLiteral("quillmor"), QStringLiteral("other")));
    QCOMPARE(count(*engine, QStringLiteral("/user"), QStringLiteral("name=quillmor comment=quillmor-onboard")), 1);
    QCOMPARE(read(*engine, QStringLiteral("[/user get quillmor password]")), QStringLiteral("no such item"));

    QCOMPARE(run(*engine, QStringLiteral("/ip service set api disabled=no address=192.168.88.0/24,10.9.0.0/16,10.20.0.0/16")), QString());
    QCOMPARE(read(*engine, QStringLiteral("[/ip service get api address]")),
             QStringLiteral("192.168.88.0/24;10.9.0.0/16;10.20.0.0/16"));
    QCOMPARE(run(*engine, QStringLiteral("/ip service set api disabled=no address=10.20.0.0/16")), QString());
    QCOMPARE(read(*engine, QStringLiteral("[:len [/ip service get api address]]")), QStringLiteral("1"));
    QCOMPARE(run(*engine, QStringLiteral("/ip service set api disabled=no")), QString());
    QCOMPARE(run(*engine, QStringLiteral("/ip service add name=extra")),
             QStringLiteral("bad command name add (line 1 column 13)\r\n"));
}

void TestRouterOsEngine::sharedRulesAndClearingRemoveOnlyOurObjects()
{
    auto engine = loadScenario(QStringLiteral("in-use"));
    const QString out = run(*engine, sharedRulesScript({QStringLiteral("pay.quillmor.com"), QStringLiteral("x")}));
    QCOMPARE(out, QStringLiteral("QM_DONE=1\r\n"));
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall filter"), QStringLiteral("comment=quillmor-onboard")), 5);
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall raw")), 1);
    QCOMPARE(count(*engine, QStringLiteral("/ip hotspot walled-garden ip"), QStringLiteral("dst-host=pay.quillmor.com")), 1);
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall filter")), 8);
    QCOMPARE(run(*engine, kClearScript), QStringLiteral("QM_DONE=1\r\n"));
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall filter")), 3);
    QCOMPARE(count(*engine, QStringLiteral("/ip hotspot walled-garden ip")), 0);
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall address-list")), 0);
    QCOMPARE(count(*engine, QStringLiteral("/user")), 2);
}

void TestRouterOsEngine::hotspotListingAndFetch()
{
    auto engine = loadScenario(QStringLiteral("in-use"));
    const QString listing = run(*engine, kProfiles);
    QCOMPARE(listing, QStringLiteral("QM_PROFILE=default\r\nQM_DIR=hotspot\r\nQM_OVERRIDE=\r\nQM_DNS=\r\n"
                                     "QM_PROFILE=hsprof1\r\nQM_DIR=flash/hotspot\r\nQM_OVERRIDE=\r\n"
                                     "QM_DNS=login.example-isp.net\r\nQM_DONE=1\r\n"));
    const QString fetch = QStringLiteral(R"(:do { /tool fetch url=%1 dst-path=%2 mode=https check-certificate=no; :put "QM_FETCHED=1" } on-error={ :put "QM_FAIL=fetch" }; :put "QM_DONE=1")");
    const QString url = QStringLiteral("https://manage.quillmor.com/hotspot/7/login.html?t=a%20b");
    const QString ok = run(*engine, fetch.arg(quoteRouterOs(url), quoteRouterOs(QStringLiteral("/flash/hotspot/login.html"))));
    QVERIFY2(ok.endsWith(QLatin1String("QM_FETCHED=1\r\nQM_DONE=1\r\n")), qPrintable(ok));
    QCOMPARE(engine->fetchedFiles().value(QStringLiteral("/flash/hotspot/login.html")), url);

    QJsonObject blocked{{QStringLiteral("export"), QStringLiteral("in-use.rsc")},
                        {QStringLiteral("upstream"), QJsonObject{{QStringLiteral("serviceHttps"), false}}}};
    auto offline = loadJson(blocked);
    const QString failed = run(*offline, fetch.arg(quoteRouterOs(url), quoteRouterOs(QStringLiteral("/hotspot/login.html"))));
    QVERIFY2(failed.contains(QLatin1String("QM_FAIL=fetch\r\nQM_DONE=1")), qPrintable(failed));
    QVERIFY(offline->fetchedFiles().isEmpty());
    QCOMPARE(parseMarkers(run(*offline, inspectionScript())).text(QStringLiteral("QM_FETCH")), QStringLiteral("0"));
}

void TestRouterOsEngine::malformedScriptsFailInRouterOsWords_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing closing quote")
            << QStringLiteral(R"(:put "QM_A=1"; :put "QM_DONE=1)")
            << QStringLiteral("syntax error (line 1 column 21)");
    QTest::newRow("quote left open inside a value")
            << QStringLiteral(R"(:put "QM_A=1"; /system identity set name="abc; :put "QM_DONE=1)")
            << QStringLiteral("expected end of command (line 1 column 54)");
    QTest::newRow("unknown property")
            << QStringLiteral(R"(:put "QM_A=1"; /ip address add address=10.1.1.1/24 interfase=ether2)")
            << QStringLiteral("expected end of command (line 1 column 52)");
    QTest::newRow("unknown property on a later line")
            << QStringLiteral(":put \"QM_A=1\"\n/system clock set format=iso")
            << QStringLiteral("expected end of command (line 2 column 19)");
    QTest::newRow("missing closing brace")
            << QStringLiteral(":put \"QM_A=1\"; :do { :put 1 } on-error={ :put 2 ")
            << QStringLiteral("missing closing brace (line 1 column 49)");
    QTest::newRow("stray closing bracket")
            << QStringLiteral(":put \"QM_A=1\"; :put 2]") << QStringLiteral("syntax error (line 1 column 22)");
    QTest::newRow("line that is no command")
            << QStringLiteral(":put \"QM_A=1\"\nColumns: NAME") << QStringLiteral("expected command name (line 2 column 1)");
    QTest::newRow("lower-case hex escape")
            << QStringLiteral(R"(:put "QM_A=1"; :put "\e2")") << QStringLiteral("syntax error (line 1 column 22)");
    // A hotspot server has no comment property: neither add nor find may name one.
    QTest::newRow("comment on a hotspot")
            << QStringLiteral(R"(:put "QM_A=1"; /ip hotspot add interface=ether2 comment="quillmor-onboard")")
            << QStringLiteral("expected end of command (line 1 column 49)");
    QTest::newRow("hotspot found by comment")
            << QStringLiteral(R"(:put "QM_A=1"; :put [:len [/ip hotspot find comment="quillmor-onboard"]])")
            << QStringLiteral("expected end of command (line 1 column 45)");
    QTest::newRow("place-before on a list without order")
            << QStringLiteral(R"(:put "QM_A=1"; /ip address add address=10.1.1.1/24 interface=ether2 place-before=0)")
            << QStringLiteral("expected end of command (line 1 column 69)");
    // Global commands take only their own argument names and values.
    QTest::newRow("on-error given to :if")
            << QStringLiteral(R"(:put "QM_A=1"; :if (1 = 1) do={ :put 2 } on-error={ :put 3 })")
            << QStringLiteral("expected end of command (line 1 column 42)");
    QTest::newRow("else given to :do")
            << QStringLiteral(R"(:put "QM_A=1"; :do { :put 2 } else={ :put 3 })")
            << QStringLiteral("expected end of command (line 1 column 31)");
    QTest::newRow("two statements without a separator")
            << QStringLiteral(R"(:put "QM_A=1" :put "QM_DONE=1")")
            << QStringLiteral("expected end of command (line 1 column 15)");
    QTest::newRow("argument name without its equals sign")
            << QStringLiteral(R"(:put "QM_A=1"; /ip address add address=10.1.1.1/24 interface ether2)")
            << QStringLiteral("expected end of command (line 1 column 62)");
    QTest::newRow("get given a word too many")
            << QStringLiteral(R"(:put "QM_A=1"; :put [/system identity get name extra])")
            << QStringLiteral("expected end of command (line 1 column 48)");
    // The whole text is compiled first: an error on the last line undoes nothing because
    // nothing before it ran.
    QTest::newRow("syntax error on the last line")
            << QStringLiteral("/ip address add address=10.5.5.5/24 interface=ether2\n"
                              "/system identity set name=changed\n:put (1 + ")
            << QStringLiteral("syntax error (line 3 column 11)");
    QTest::newRow("unknown argument on a later line")
            << QStringLiteral("/ip address add address=10.5.5.5/24 interface=ether2\n"
                              "/interface wireguard peers add interface=x allowed-address=0.0.0.0/0 endpoint-prt=1")
            << QStringLiteral("expected end of command (line 2 column 70)");
    // Variables: :set needs a declaration in reach, names are plain words, {} is no value.
    QTest::newRow(":set of an undeclared variable")
            << QStringLiteral(R"(:put "QM_A=1"; { :set msg "asdf" })") << QStringLiteral("syntax error (line 1 column 23)");
    QTest::newRow(":set of a variable whose block has ended")
            << QStringLiteral(":local x 1\n{ :local y 2 }\n:set y 3") << QStringLiteral("syntax error (line 3 column 6)");
    QTest::newRow(":set of a loop counter after the loop")
            << QStringLiteral(":foreach k,v in={a=1} do={ :set v 2 }\n:set k 3") << QStringLiteral("syntax error (line 2 column 6)");
    QTest::newRow(":global of a variable's value")
            << QStringLiteral(":put \"QM_A=1\"\n:local n \"x\"\n:global $n") << QStringLiteral("syntax error (line 3 column 9)");
    // The router counts bytes: each two-byte letter moves the column by one more.
    QTest::newRow("column after a non-ASCII letter")
            << QStringLiteral(":put \"Grüße\"; :put (1 + ") << QStringLiteral("syntax error (line 1 column 27)");
    QTest::newRow("where without an expression")
            << QStringLiteral(":put \"QM_A=1\"; :put [/ip address find where=]") << QStringLiteral("missing value for where (line 1 column 45)");
    QTest::newRow("empty braces as a value")
            << QStringLiteral(":global array {}") << QStringLiteral("syntax error (line 1 column 17)");
}

void TestRouterOsEngine::malformedScriptsFailInRouterOsWords()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);
    auto engine = loadScenario(QStringLiteral("new-router"));
    const QString before = engine->exportState().section(QLatin1Char('\n'), 1);
    const ExecOutcome outcome = exec(*engine, script);
    // Nothing runs: not even the statement before the error.
    QCOMPARE(QString::fromUtf8(outcome.out), expected + QStringLiteral("\r\n"));
    QCOMPARE(outcome.exitStatus, 0);
    QCOMPARE(engine->exportState().section(QLatin1Char('\n'), 1), before);
    QVERIFY(engine->commandLog().isEmpty());
}

void TestRouterOsEngine::runtimeErrorStopsTheRestAndExitStatusFollowsSetting()
{
    auto engine = loadScenario(QStringLiteral("new-router"));
    ExecOutcome outcome = exec(*engine, QStringLiteral(":put a; /ip address set [find address=\"9.9.9.9/32\"] comment=x; /ip address remove nosuch; :put b"));
    QCOMPARE(QString::fromUtf8(outcome.out), QStringLiteral("a\r\nno such item\r\n"));
    QCOMPARE(outcome.exitStatus, 0);
    QCOMPARE(read(*engine, QStringLiteral("[/ip address get [find] address]")), QStringLiteral("invalid internal item number"));
    QCOMPARE(read(*engine, QStringLiteral("[/ip address get [find address=\"1.2.3.4/32\"] address]")), QStringLiteral("no such item"));
    const QJsonArray log = engine->commandLog();
    QVERIFY(!log.isEmpty());
    bool sawFailure = false;
    for (const QJsonValue &v : log)
        sawFailure = sawFailure || (v.toObject().value(QStringLiteral("verb")) == QLatin1String("remove")
                                    && v.toObject().value(QStringLiteral("outcome")) == QLatin1String("no such item"));
    QVERIFY(sawFailure);

    QJsonObject strict{{QStringLiteral("export"), QStringLiteral("chr.rsc")}, {QStringLiteral("exitStatusOnError"), 1}};
    auto nonZero = loadJson(strict);
    outcome = exec(*nonZero, QStringLiteral("/interface bridge add name=ether1"));
    QCOMPARE(QString::fromUtf8(outcome.out), QStringLiteral("failure: already have interface with such name\r\n"));
    QCOMPARE(outcome.exitStatus, 1);
    QCOMPARE(exec(*nonZero, QStringLiteral(":put ok")).exitStatus, 0);
}

void TestRouterOsEngine::unknownParameterIsRuntimeFromVersion723()
{
    QJsonObject newer{{QStringLiteral("version"), QStringLiteral("7.23.1")},
                      {QStringLiteral("export"), QStringLiteral("chr.rsc")}};
    auto engine = loadJson(newer);
    QCOMPARE(run(*engine, QStringLiteral(":put a; /system clock set format=iso; :put b")),
             QStringLiteral("a\r\nbad parameter format (line 1 column 33)\r\n"));
    QCOMPARE(run(*engine, QStringLiteral(":do { /system clock set format=iso } on-error={ :put caught }")),
             QStringLiteral("caught\r\n"));
}

void TestRouterOsEngine::badCommandNameCatchabilityIsASetting()
{
    auto engine = loadScenario(QStringLiteral("chr"));
    QCOMPARE(run(*engine, QStringLiteral(":put 1; /system routerboard get model; :put 2")),
             QStringLiteral("1\r\nbad command name routerboard (line 1 column 17)\r\n"));
    QCOMPARE(run(*engine, QStringLiteral(":do { /foo } on-error={ :put caught }")), QStringLiteral("caught\r\n"));
    QJsonObject strict{{QStringLiteral("export"), QStringLiteral("chr.rsc")}, {QStringLiteral("badCommandCatchable"), false}};
    auto uncatchable = loadJson(strict);
    QCOMPARE(run(*uncatchable, QStringLiteral(":do { /foo } on-error={ :put caught }; :put after")),
             QStringLiteral("bad command name foo (line 1 column 8)\r\n"));
}

void TestRouterOsEngine::valuesOfTheWrongKindAreRefused_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected");
    QTest::newRow("boolean") << QStringLiteral("/ip dns set allow-remote-requests=maybe")
                             << QStringLiteral("invalid value for argument allow-remote-requests");
    QTest::newRow("port zero") << QStringLiteral("/ip service set api port=0") << QStringLiteral("invalid value for argument port");
    QTest::newRow("port too big") << QStringLiteral("/ip service set api port=70000") << QStringLiteral("invalid value for argument port");
    QTest::newRow("time") << QStringLiteral("/ip dns set cache-max-ttl=7x") << QStringLiteral("invalid value for argument cache-max-ttl");
    QTest::newRow("prefix") << QStringLiteral("/ip address add address=10.1.1.300/24 interface=ether2")
                            << QStringLiteral("invalid value for argument address");
    QTest::newRow("prefix length") << QStringLiteral("/ip route add dst-address=10.0.0.0/33 gateway=ether2")
                                   << QStringLiteral("invalid value for argument dst-address");
    QTest::newRow("number") << QStringLiteral("/ip dns set cache-size=big") << QStringLiteral("invalid value for argument cache-size");
    QTest::newRow("missing interface") << QStringLiteral("/ip address add address=10.1.1.1/24 interface=ether9")
                                       << QStringLiteral("input does not match any value of interface");
    QTest::newRow("missing interface list") << QStringLiteral("/interface list member add list=NOPE interface=ether2")
                                            << QStringLiteral("input does not match any value of list");
    QTest::newRow("missing pool") << QStringLiteral("/ip dhcp-server add interface=ether2 address-pool=nopool")
                                  << QStringLiteral("input does not match any value of address-pool");
    QTest::newRow("bad key") << QStringLiteral("/interface wireguard add name=wgx private-key=\"abc\"")
                             << QStringLiteral("invalid value for argument private-key");
    QTest::newRow("required arguments") << QStringLiteral("/ip address add comment=x")
                                        << QStringLiteral("missing value(s) of argument(s) address interface");
    QTest::newRow("pppoe without interface") << QStringLiteral("/interface pppoe-client add name=x")
                                             << QStringLiteral("failure: no interfaces provided");
    QTest::newRow("duplicate address") << QStringLiteral("/ip address add address=192.168.88.1/24 interface=bridge")
                                       << QStringLiteral("failure: already have such address");
    QTest::newRow("nat action in the filter") << QStringLiteral("/ip firewall filter add chain=input action=masquerade")
                                              << QStringLiteral("input does not match any value of action");
    QTest::newRow("filter action in raw") << QStringLiteral("/ip firewall raw add chain=prerouting action=reject")
                                          << QStringLiteral("input does not match any value of action");
    QTest::newRow("unknown protocol") << QStringLiteral("/ip firewall filter add chain=input protocol=!udpp")
                                      << QStringLiteral("input does not match any value of protocol");
    QTest::newRow("unknown hotspot matcher") << QStringLiteral("/ip firewall filter add chain=hs-input hotspot=!authed")
                                             << QStringLiteral("input does not match any value of hotspot");
    QTest::newRow("unknown login method") << QStringLiteral(R"(/ip hotspot profile add name=p login-by="cookie,http-pap,mac-cookies")")
                                          << QStringLiteral("input does not match any value of login-by");
    QTest::newRow("pool range") << QStringLiteral("/ip pool add name=p ranges=172.16.0.2-172.16.255")
                                << QStringLiteral("invalid value for argument ranges");
    QTest::newRow("dhcp network gateway") << QStringLiteral("/ip dhcp-server network add address=10.0.0.0/8 gateway=bridge")
                                          << QStringLiteral("invalid value for argument gateway");
    QTest::newRow("ppp profile from a missing pool")
            << QStringLiteral("/ppp profile add local-address=18.18.18.1 name=E remote-address=Expiry-Pool")
            << QStringLiteral("input does not match any value of remote-address");
    // get of a property the menu does not have, as opposed to one an item lacks for now.
    QTest::newRow("property of no menu") << QStringLiteral(":put [/system identity get colour]")
                                         << QStringLiteral("input does not match any value of value-name");
    QTest::newRow("comment of a hotspot profile") << QStringLiteral(":put [/ip hotspot profile get default comment]")
                                                  << QStringLiteral("input does not match any value of value-name");
    QTest::newRow("disabled of a pool") << QStringLiteral(":put [/ip pool get default-dhcp disabled]")
                                        << QStringLiteral("input does not match any value of value-name");
}

void TestRouterOsEngine::valuesOfTheWrongKindAreRefused()
{
    QFETCH(QString, command);
    QFETCH(QString, expected);
    auto engine = loadScenario(QStringLiteral("new-router"));
    const QString before = engine->exportState().section(QLatin1Char('\n'), 1);
    QCOMPARE(run(*engine, command), expected + QStringLiteral("\r\n"));
    QCOMPARE(engine->exportState().section(QLatin1Char('\n'), 1), before);
}

void TestRouterOsEngine::hostileQuotedValuesReadBackAndNeverRun()
{
    QStringList corpus = {
            QStringLiteral("\""), QStringLiteral("\\"), QStringLiteral("$"), QStringLiteral("$x"),
            QStringLiteral("$(/system identity set name=pwned)"), QStringLiteral("[/user add name=evil group=full password=x]"),
            QStringLiteral("\"; /user add name=evil group=full password=x; :put \""),
            QStringLiteral("a;b] } { ["), QStringLiteral("\\\"$\\$"), QStringLiteral("line\nbreak\r\ttab"),
            QStringLiteral("Grüße ☃ عربى"), QStringLiteral("#not a comment"), QStringLiteral("\\48\\45"),
            QStringLiteral("end\\"), QString(), QStringLiteral("   "), QStringLiteral("=x=y"),
    };
    QRandomGenerator rng(20240611);
    const QString alphabet = QStringLiteral("\"\\$[](){};#=: \t\nab\u00e9\u2603");
    for (int i = 0; i < 40; ++i) {
        QString s;
        const int len = int(rng.bounded(1, 24));
        for (int j = 0; j < len; ++j)
            s += alphabet.at(int(rng.bounded(alphabet.size())));
        corpus << s;
    }
    auto engine = loadScenario(QStringLiteral("chr"));
    const int users = count(*engine, QStringLiteral("/user"));
    for (const QString &value : corpus) {
        QString expected;
        for (const QChar c : value)
            if (c.unicode() >= 0x20)
                expected += c;
        const QString quoted = quoteRouterOs(value);
        QCOMPARE(run(*engine, QStringLiteral("/system identity set name=%1").arg(quoted)), QString());
        QCOMPARE(read(*engine, QStringLiteral("[/system identity get name]")), expected);
        QCOMPARE(run(*engine, QStringLiteral("/ip address set [find] comment=%1").arg(quoted)), QString());
        QCOMPARE(read(*engine, QStringLiteral("[/ip address get [find interface=ether2] comment]")), expected);
        QCOMPARE(read(*engine, quoted), expected);
    }
    QCOMPARE(count(*engine, QStringLiteral("/user")), users);
    QCOMPARE(count(*engine, QStringLiteral("/user"), QStringLiteral("name=evil")), 0);
}

void TestRouterOsEngine::realExportsLoadIntoTheStateTheyDescribe_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QStringList>("menus");
    QTest::addColumn<QList<int>>("counts");
    const QStringList menus = {QStringLiteral("/ip address"), QStringLiteral("/interface bridge port"),
                               QStringLiteral("/ip firewall filter"), QStringLiteral("/ip firewall nat"),
                               QStringLiteral("/ip hotspot"), QStringLiteral("/interface pppoe-server server"),
                               QStringLiteral("/interface wireguard peers"), QStringLiteral("/ip pool"),
                               QStringLiteral("/ip route")};
    QTest::newRow("defconf RB5009") << QStringLiteral("briancurtin_main-router-RB5009_7.19.5.rsc")
                                    << QStringList{QStringLiteral("sfp-sfpplus1")} << menus
                                    << QList<int>{1, 8, 11, 1, 0, 0, 0, 1, 0};
    QTest::newRow("hotspot CHR") << QStringLiteral("sarmadzahoor920-eng_chr_hotspot_7.20.6.rsc") << QStringList() << menus
                                 << QList<int>{1, 0, 2, 2, 1, 0, 0, 1, 0};
    QTest::newRow("pppoe server") << QStringLiteral("Rus1999_ISP-conf_pppoe-server_7.2.1.rsc")
                                  << QStringList{QStringLiteral("wlan1")} << menus
                                  << QList<int>{1, 2, 0, 1, 0, 1, 0, 4, 0};
    QTest::newRow("wireguard") << QStringLiteral("boschinimarco_M1_wireguard_7.5.rsc") << QStringList() << menus
                               << QList<int>{6, 2, 0, 1, 0, 0, 1, 3, 2};
    QTest::newRow("terse") << QStringLiteral("gajdipajti_4to4-printer_terse_7.13.3.rsc")
                           << QStringList{QStringLiteral("wlan1"), QStringLiteral("wlan2")} << menus
                           << QList<int>{4, 3, 0, 3, 0, 0, 0, 1, 4};
}

void TestRouterOsEngine::realExportsLoadIntoTheStateTheyDescribe()
{
    QFETCH(QString, file);
    QFETCH(QStringList, extra);
    QFETCH(QStringList, menus);
    QFETCH(QList<int>, counts);
    QJsonObject scenario{{QStringLiteral("export"),
                          QString(sourceDir() + QStringLiteral("/tests/routeros-sim/engine/data/exports/") + file)},
                         {QStringLiteral("ethernetPorts"), 8},
                         {QStringLiteral("extraInterfaces"), QJsonArray::fromStringList(extra)}};
    RouterOsEngine engine;
    QString error;
    QVERIFY2(engine.loadScenario(scenario, QDir::rootPath(), &error), qPrintable(error));
    for (int i = 0; i < menus.size(); ++i)
        QVERIFY2(count(engine, menus.at(i), QStringLiteral("dynamic=no")) == counts.at(i),
                 qPrintable(menus.at(i) + QStringLiteral(": ") + QString::number(count(engine, menus.at(i), QStringLiteral("dynamic=no")))));
}

void TestRouterOsEngine::realExportsKeepTheValuesTheyHold_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("expected");
    const QString rb5009 = QStringLiteral("briancurtin_main-router-RB5009_7.19.5.rsc");
    const QString hotspot = QStringLiteral("sarmadzahoor920-eng_chr_hotspot_7.20.6.rsc");
    const QString pppoe = QStringLiteral("Rus1999_ISP-conf_pppoe-server_7.2.1.rsc");
    const QString wireguard = QStringLiteral("boschinimarco_M1_wireguard_7.5.rsc");
    QTest::newRow("identity") << rb5009 << QStringLiteral("[/system identity get name]")
                              << QStringLiteral("main-router-RB5009");
    QTest::newRow("defconf comment") << rb5009 << QStringLiteral("[/interface list get WAN comment]")
                                     << QStringLiteral("defconf");
    QTest::newRow("hotspot profile") << hotspot << QStringLiteral("[/ip hotspot get hotspot1 profile]")
                                     << QStringLiteral("hsprof1");
    QTest::newRow("hotspot enabled") << hotspot << QStringLiteral("[/ip hotspot get hotspot1 disabled]")
                                     << QStringLiteral("false");
    QTest::newRow("hotspot folder default") << hotspot
                                            << QStringLiteral("[/ip hotspot profile get hsprof1 html-directory]")
                                            << QStringLiteral("hotspot");
    QTest::newRow("service name across a wrapped line")
            << pppoe << QStringLiteral("[/interface pppoe-server server get [find] service-name]")
            << QStringLiteral("pppoe_services");
    QTest::newRow("ppp profile pool") << pppoe << QStringLiteral("[/ppp profile get ISP01-Profile remote-address]")
                                      << QStringLiteral("ISP01-Pools");
    QTest::newRow("identity of the pppoe router") << pppoe << QStringLiteral("[/system identity get name]")
                                                  << QStringLiteral("38-ISP");
    QTest::newRow("peer networks across a wrapped line")
            << wireguard << QStringLiteral("[:len [/interface wireguard peers get [find] allowed-address]]")
            << QStringLiteral("4");
    QTest::newRow("peer key") << wireguard << QStringLiteral("[/interface wireguard peers get [find] public-key]")
                              << QStringLiteral("Iu48S0YHqgbvoapdpa9Y9YL2SgEptuRpcV2shd6Vv0k=");
    QTest::newRow("wireguard key pair made on load")
            << wireguard << QStringLiteral("[:len [/interface wireguard get wireguard1 public-key]]")
            << QStringLiteral("44");
}

void TestRouterOsEngine::realExportsKeepTheValuesTheyHold()
{
    QFETCH(QString, file);
    QFETCH(QString, expression);
    QFETCH(QString, expected);
    QJsonObject scenario{{QStringLiteral("export"),
                          QString(sourceDir() + QStringLiteral("/tests/routeros-sim/engine/data/exports/") + file)},
                         {QStringLiteral("ethernetPorts"), 8},
                         {QStringLiteral("extraInterfaces"),
                          QJsonArray{QStringLiteral("sfp-sfpplus1"), QStringLiteral("wlan1")}}};
    RouterOsEngine engine;
    QString error;
    QVERIFY2(engine.loadScenario(scenario, QDir::rootPath(), &error), qPrintable(error));
    QCOMPARE(read(engine, expression), expected);
}

void TestRouterOsEngine::multiValuedPropertiesComeBackAsArrays_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("expected");
    QTest::newRow("api addresses distribute") << QString() << QStringLiteral(R"(("A=" . [/ip service get api address]))")
                                              << QStringLiteral("A=192.168.88.0/24;A=10.9.0.0/16");
    QTest::newRow("api addresses count") << QString() << QStringLiteral("[:len [/ip service get api address]]")
                                         << QStringLiteral("2");
    QTest::newRow("empty address list is an empty array")
            << QString() << QStringLiteral("([:typeof [/ip service get ssh address]] . [:len [/ip service get ssh address]])")
            << QStringLiteral("array0");
    QTest::newRow("dns servers") << QStringLiteral("/ip dns set servers=8.8.8.8,8.8.4.4")
                                 << QStringLiteral("[/ip dns get servers]") << QStringLiteral("8.8.8.8;8.8.4.4");
    QTest::newRow("login methods") << QStringLiteral(R"(/ip hotspot profile add name=p login-by="cookie,http-pap")")
                                   << QStringLiteral("[:len [/ip hotspot profile get p login-by]]") << QStringLiteral("2");
    QTest::newRow("peer networks")
            << QStringLiteral("/interface wireguard add name=wg1; /interface wireguard peers add interface=wg1 allowed-address=10.20.0.0/16,0.0.0.0/0 comment=p")
            << QStringLiteral(R"(("N=" . [/interface wireguard peers get [find comment=p] allowed-address]))")
            << QStringLiteral("N=10.20.0.0/16;N=0.0.0.0/0");
    QTest::newRow("a string property stays one string")
            << QString() << QStringLiteral(R"(("A=" . [/ip address get [find comment=defconf] address]))")
            << QStringLiteral("A=192.168.88.1/24");
}

void TestRouterOsEngine::multiValuedPropertiesComeBackAsArrays()
{
    QFETCH(QString, setup);
    QFETCH(QString, expression);
    QFETCH(QString, expected);
    auto engine = loadScenario(QStringLiteral("api-restricted"));
    if (!setup.isEmpty())
        QCOMPARE(run(*engine, setup), QString());
    QCOMPARE(read(*engine, expression), expected);
}

void TestRouterOsEngine::itemReferencesResolveAsTheConsoleDoes_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    QTest::newRow("by name") << QStringLiteral(":put [/interface get ether1 default-name]") << QStringLiteral("ether1");
    QTest::newRow("by print number") << QStringLiteral(":put [/interface get 0 name]") << QStringLiteral("ether1");
    QTest::newRow("by internal id") << QStringLiteral(":put [/interface get [/interface get ether2 .id] name]")
                                    << QStringLiteral("ether2");
    QTest::newRow("several numbers at once")
            << QStringLiteral("/ip service set 0,1 disabled=yes; :put [:len [/ip service find disabled=yes]]")
            << QStringLiteral("3");
    QTest::newRow("unknown name") << QStringLiteral("/ip service set telnetd disabled=yes") << QStringLiteral("no such item");
    QTest::newRow("unknown internal id") << QStringLiteral(":put [/ip address get *FFFF address]")
                                         << QStringLiteral("no such item");
    QTest::newRow("get on no match") << QStringLiteral(":put [/ip address get [find interface=ether9] address]")
                                     << QStringLiteral("no such item");
    QTest::newRow("get on several matches") << QStringLiteral(":put [/ip service get [find disabled=no] port]")
                                            << QStringLiteral("invalid internal item number");
    QTest::newRow("remove of no match is quiet")
            << QStringLiteral(R"(/ip address remove [find comment="nothing"]; :put done)") << QStringLiteral("done");
    QTest::newRow("set of no match is quiet")
            << QStringLiteral("/interface ethernet set [find default-name=ether9] name=x; :put done")
            << QStringLiteral("done");
    QTest::newRow("where clause") << QStringLiteral(":put [:len [/interface find where name~\"^ether\"]]")
                                  << QStringLiteral("5");
    QTest::newRow("where clause ends with its line")
            << QStringLiteral("/interface print count-only where name~\"^ether\"\n:put done") << QStringLiteral("5\r\ndone");
}

void TestRouterOsEngine::itemReferencesResolveAsTheConsoleDoes()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);
    auto engine = loadScenario(QStringLiteral("new-router"));
    QCOMPARE(run(*engine, script), expected + QStringLiteral("\r\n"));
}

void TestRouterOsEngine::languageRunsAsRouterOsCompilesIt_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("expected");
    QTest::newRow("array literal") << QStringLiteral(R"(:local a {"a";"b"}; :put $a; :put [:len $a]; :put ($a->1))")
                                   << QStringLiteral("a;b\r\n2\r\nb");
    QTest::newRow("quoted keys") << QStringLiteral(R"(:local a {"b c"=2;"x";"a"=1}; :put $a; :put ($a->"b c"))")
                                 << QStringLiteral("x;a=1;b c=2\r\n2");
    QTest::newRow("empty array in parentheses") << QStringLiteral(":local a ({}); :put ([:typeof $a] . [:len $a])")
                                                << QStringLiteral("array0");
    QTest::newRow("keys sort after unnamed elements")
            << QStringLiteral(":local a {z=1;7;b=2}; :put $a") << QStringLiteral("7;b=2;z=1");
    QTest::newRow("element set by key and by index")
            << QStringLiteral(R"(:local a {k="v";n={1;2}}; :set ($a->"k") "w"; :set ($a->"n"->1) 9; :put ($a->"k"); :put ($a->"n"))")
            << QStringLiteral("w\r\n1;9");
    QTest::newRow("foreach over keys and values")
            << QStringLiteral(R"(:foreach k,v in={b=1;a=2;7} do={ :put "$k=$v" })") << QStringLiteral("0=7\r\na=2\r\nb=1");
    QTest::newRow(":set reaches an outer declaration")
            << QStringLiteral(":local x 1; { :set x 2 }; :global g; :set g 5; :put ($x . $g)") << QStringLiteral("25");
    QTest::newRow("loop counter can be set")
            << QStringLiteral(":for i from=1 to=2 do={ :set i ($i * 10); :put $i }") << QStringLiteral("10\r\n20");
    QTest::newRow("regular expression in find")
            << QStringLiteral(R"(:put [:len [/interface find name~"ether[1-3]"]]; :put [:len [/interface find name~"^bridge"]])")
            << QStringLiteral("3\r\n1");
    QTest::newRow("menu abbreviation") << QStringLiteral(":put [/ip addr print count-only]; :put [/sys ident get name]")
                                       << QStringLiteral("2\r\nMikroTik");
    QTest::newRow("command and argument abbreviation")
            << QStringLiteral("/ip address ad addr=10.9.9.9/24 interf=ether2; :put [/ip address get [find address=\"10.9.9.9/24\"] interface]")
            << QStringLiteral("ether2");
    QTest::newRow("ambiguous abbreviation") << QStringLiteral("/ip s print") << QStringLiteral("bad command name s (line 1 column 5)");
    QTest::newRow("function with values and named arguments")
            << QStringLiteral(R"(:local f do={ :return ($1 . "-" . $name) }; :put [$f a name=b]; $f c)") << QStringLiteral("a-b");
    QTest::newRow("conversions and global commands outside the tree")
            << QStringLiteral(R"(:log info "x"; :put [:tonum "12"]; :put [:typeof [:tonum "x"]]; :put [:toip 10.0.0.1])")
            << QStringLiteral("12\r\nnothing\r\n10.0.0.1");
    QTest::newRow("string and array search")
            << QStringLiteral(R"(:put [:find "abcabc" "c"]; :put [:find "abcabc" "c" 2]; :put [:typeof [:find "abc" "z"]]; :put [:find {1;2;3} 3])")
            << QStringLiteral("2\r\n5\r\nnothing\r\n2");
    QTest::newRow(":range is newer than 7.14") << QStringLiteral(":put 1; :put [:range 1 3]")
                                               << QStringLiteral("1\r\nbad command name range (line 1 column 16)");
    QTest::newRow("menus known without their commands")
            << QStringLiteral(R"(/system scheduler add name=x on-event=":put 1" interval=1d; /log info "x"; :put [:len [/system scheduler find]])")
            << QStringLiteral("1");
    QTest::newRow("misspelt menu fails at its own word")
            << QStringLiteral(":put 1; /ip firewall mangel add chain=prerouting") << QStringLiteral("1\r\nbad command name mangel (line 1 column 22)");
    QTest::newRow("address arithmetic")
            << QStringLiteral(":local ip 192.168.88.77; :put ($ip & 255.255.255.0); :put ($ip in 192.168.88.0/24); "
                              ":put (10.0.0.1 in 192.168.88.0/24); :put (1 << 4)")
            << QStringLiteral("192.168.88.0\r\ntrue\r\nfalse\r\n16");
    QTest::newRow("braces that open with a command are code")
            << QStringLiteral(R"(:execute {/log info "x"}; :local a { "x"; "y" }; :put $a)") << QStringLiteral("x;y");
    QTest::newRow("addresses and times are values")
            << QStringLiteral(":put [:typeof 10.0.0.1]; :put [:typeof 10.0.0.0/8]; :put [:typeof 1m30s]; :put [:typeof ::1]; :put (2001:db8::1 = 2001:db8::1)")
            << QStringLiteral("ip\r\nip-prefix\r\ntime\r\nip6\r\ntrue");
}

void TestRouterOsEngine::languageRunsAsRouterOsCompilesIt()
{
    QFETCH(QString, script);
    QFETCH(QString, expected);
    auto engine = loadScenario(QStringLiteral("new-router"));
    QCOMPARE(run(*engine, script), expected + QStringLiteral("\r\n"));
}

void TestRouterOsEngine::globalsOutliveTheScriptButNeedDeclaring()
{
    auto engine = loadScenario(QStringLiteral("new-router"));
    QCOMPARE(run(*engine, QStringLiteral(":global g 5; :global f do={ :return ($1 * 2) }")), QString());
    QCOMPARE(run(*engine, QStringLiteral(":put [:typeof $g]")), QStringLiteral("nothing\r\n"));
    QCOMPARE(run(*engine, QStringLiteral(":global g; :global f; :put ($g . [$f 4])")), QStringLiteral("58\r\n"));
}

void TestRouterOsEngine::sharedExportsGiveTheirInspectionFacts_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("expected");
    const QStringList api = {QStringLiteral("QM_API_DIS=false")};
    QTest::newRow("defconf RB5009") << QStringLiteral("briancurtin_main-router-RB5009_7.19.5.rsc")
                                    << api + QStringList{QStringLiteral("QM_VERSION=7.19.5 (stable)"),
                                                         QStringLiteral("QM_IDENTITY=main-router-RB5009"),
                                                         QStringLiteral("QM_MODEL=RB5009UPr+S+"),
                                                         QStringLiteral("QM_WGCOUNT=0"), QStringLiteral("QM_HS=0"),
                                                         QStringLiteral("QM_PPPS=0"), QStringLiteral("QM_E1BR=0"),
                                                         QStringLiteral("QM_DHCP1=1")};
    QTest::newRow("hotspot CHR") << QStringLiteral("sarmadzahoor920-eng_chr_hotspot_7.20.6.rsc")
                                 << api + QStringList{QStringLiteral("QM_VERSION=7.20.6 (stable)"),
                                                      QStringLiteral("QM_MODEL=unknown"), QStringLiteral("QM_WGCOUNT=0"),
                                                      QStringLiteral("QM_HS=1"), QStringLiteral("QM_PPPS=0"),
                                                      QStringLiteral("QM_E1BR=0"), QStringLiteral("QM_USERS=1")};
    QTest::newRow("pppoe server") << QStringLiteral("Rus1999_ISP-conf_pppoe-server_7.2.1.rsc")
                                  << api + QStringList{QStringLiteral("QM_VERSION=7.2.1 (stable)"),
                                                       QStringLiteral("QM_IDENTITY=38-ISP"), QStringLiteral("QM_WGCOUNT=0"),
                                                       QStringLiteral("QM_HS=0"), QStringLiteral("QM_PPPS=1"),
                                                       QStringLiteral("QM_E1BR=0"), QStringLiteral("QM_DHCP1=1")};
    QTest::newRow("wireguard") << QStringLiteral("boschinimarco_M1_wireguard_7.5.rsc")
                               << api + QStringList{QStringLiteral("QM_VERSION=7.5 (stable)"),
                                                    QStringLiteral("QM_WGCOUNT=1"), QStringLiteral("QM_OURS=0"),
                                                    QStringLiteral("QM_HS=0"), QStringLiteral("QM_PPPS=0"),
                                                    QStringLiteral("QM_E1BR=0")};
    QTest::newRow("terse") << QStringLiteral("gajdipajti_4to4-printer_terse_7.13.3.rsc")
                           << api + QStringList{QStringLiteral("QM_VERSION=7.13.3 (stable)"),
                                                QStringLiteral("QM_MODEL=RB952Ui-5ac2nD"), QStringLiteral("QM_WGCOUNT=0"),
                                                QStringLiteral("QM_HS=0"), QStringLiteral("QM_PPPS=0"),
                                                QStringLiteral("QM_E1BR=0"), QStringLiteral("QM_ADDRS=4")};
}

void TestRouterOsEngine::sharedExportsGiveTheirInspectionFacts()
{
    QFETCH(QString, file);
    QFETCH(QStringList, expected);
    const QDir data(sourceDir() + QStringLiteral("/tests/routeros-sim/engine/data/exports"));
    // Every export there has a row here.
    if (qstrcmp(QTest::currentDataTag(), "defconf RB5009") == 0)
        QCOMPARE(data.entryList({QStringLiteral("*.rsc")}).size(), 5);
    RouterOsEngine engine;
    QString error;
    // The scenario names no ports: the export's own lines bring the ones it uses.
    QVERIFY2(engine.loadScenario({{QStringLiteral("export"), data.filePath(file)}}, QDir::rootPath(), &error),
             qPrintable(error));
    QCOMPARE(engine.skippedExportLines(), QStringList());
    const QString out = run(engine, inspectionScript());
    QVERIFY2(out.endsWith(QLatin1String("QM_DONE=1\r\n")), qPrintable(out));
    const QStringList lines = out.split(QStringLiteral("\r\n"));
    for (const QString &line : expected)
        QVERIFY2(lines.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + out));
    // None of them limits the API to addresses: the marker joined to an empty list prints nothing.
    QVERIFY2(!out.contains(QLatin1String("QM_API_ADDR=")), qPrintable(out));
}

void TestRouterOsEngine::exportsKeepWhatTheRouterDoesNotModel()
{
    // What a router with other hardware and packages writes: a pre-release version, wireless
    // settings, built-in items by internal id and by number, menus the router does not model.
    const QString text = QStringLiteral(
            "# 2024-03-01 10:00:00 by RouterOS 7.14rc2\r\n# software id = ABCD-1234\r\n#\r\n"
            "# model = RB951Ui-2HnD\r\n"
            "/interface wireless\r\n"
            "set [ find default-name=wlan1 ] band=2ghz-b/g/n distance=indoors mode=ap-bridge ssid=\\\r\n"
            "    Cafe-2G\r\n"
            "/interface wireless security-profiles\r\n"
            "set [ find default=yes ] supplicant-identity=MikroTik\r\n"
            "/ppp profile\r\n"
            "set *0 only-one=yes\r\n"
            "/queue type\r\n"
            "set 0 pfifo-limit=50\r\n"
            "/routing ospf instance\r\n"
            "add disabled=no name=default-v2 router-id=1.1.1.1\r\n"
            "#error exporting \"/ip/ssh\" (timeout)\r\n"
            "/interface bridge port\r\n"
            "add bridge=bridge interface=wlan1\r\n"
            "/system note\r\n"
            "set show-at-login=no\r\n"
            "} a line no router wrote\r\n"
            "/ip dns\r\n"
            "set servers=9.9.9.9\r\n");
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("rc.rsc")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
    f.close();
    RouterOsEngine engine;
    QString error;
    QVERIFY2(engine.loadScenario({{QStringLiteral("export"), f.fileName()}}, dir.path(), &error), qPrintable(error));
    // The one line it cannot read is left out and named; the lines after it still load.
    QCOMPARE(engine.skippedExportLines(), QStringList{QStringLiteral("syntax error (line 21 column 1)")});
    QCOMPARE(read(engine, QStringLiteral("[/ip dns get servers]")), QStringLiteral("9.9.9.9"));
    QCOMPARE(read(engine, QStringLiteral("[/system resource get version]")), QStringLiteral("7.14rc2 (testing)"));
    QCOMPARE(read(engine, QStringLiteral("[/interface wireless get wlan1 ssid]")), QStringLiteral("Cafe-2G"));
    QCOMPARE(read(engine, QStringLiteral("[/ppp profile get default only-one]")), QStringLiteral("yes"));
    const QString exported = engine.exportState();
    for (const QString &line : {QStringLiteral("set [ find default-name=wlan1 ] band=2ghz-b/g/n distance=indoors mode=ap-bridge ssid=Cafe-2G"),
                                QStringLiteral("set [ find default=yes ] supplicant-identity=MikroTik"),
                                QStringLiteral("set 0 pfifo-limit=50"),
                                QStringLiteral("add disabled=no name=default-v2 router-id=1.1.1.1"),
                                QStringLiteral("/system note\nset show-at-login=no")})
        QVERIFY2(exported.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + exported));
    QVERIFY(exported.startsWith(QLatin1String("# ")) && exported.section(QLatin1Char('\n'), 0, 0).endsWith(QLatin1String("by RouterOS 7.14rc2")));

    // What it printed loads back into the same state.
    QFile again(dir.filePath(QStringLiteral("again.rsc")));
    QVERIFY(again.open(QIODevice::WriteOnly));
    again.write(exported.toUtf8());
    again.close();
    RouterOsEngine copy;
    QVERIFY2(copy.loadScenario({{QStringLiteral("export"), again.fileName()}}, dir.path(), &error), qPrintable(error));
    QCOMPARE(copy.exportState().section(QLatin1Char('\n'), 1), exported.section(QLatin1Char('\n'), 1));
}

void TestRouterOsEngine::globalCommandsFollowTheVersion_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("expected");
    // :onerror first shipped in 7.13; older routers do not know the command.
    QTest::newRow("7.12 has no :onerror") << QStringLiteral("7.12.1")
                                          << QStringLiteral("bad command name onerror (line 1 column 2)");
    QTest::newRow("7.14 catches with :onerror") << QStringLiteral("7.14.3") << QStringLiteral("caught boom");
}

void TestRouterOsEngine::globalCommandsFollowTheVersion()
{
    QFETCH(QString, version);
    QFETCH(QString, expected);
    QJsonObject scenario{{QStringLiteral("version"), version}, {QStringLiteral("export"), QStringLiteral("chr.rsc")}};
    auto engine = loadJson(scenario);
    QCOMPARE(run(*engine, QStringLiteral(R"(:onerror e in={ :error "boom" } do={ :put ("caught " . $e) })")),
             expected + QStringLiteral("\r\n"));
}

void TestRouterOsEngine::exportStateLoadsBackToTheSameState()
{
    auto engine = loadScenario(QStringLiteral("in-use"));
    QCOMPARE(run(*engine, QStringLiteral("/system identity set name=%1; /ip address set [find interface=ether4] comment=%2")
                                  .arg(quoteRouterOs(QStringLiteral("a \"b\" $c")), quoteRouterOs(QStringLiteral("x\\y;z")))), QString());
    const QString first = engine->exportState();
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("state.rsc")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(first.toUtf8());
    f.close();
    RouterOsEngine copy;
    QString error;
    const QJsonObject saved{{QStringLiteral("export"), f.fileName()},
                            {QStringLiteral("model"), QStringLiteral("RB750Gr3")}};
    QVERIFY2(copy.loadScenario(saved, dir.path(), &error), qPrintable(error));
    QCOMPARE(copy.exportState().section(QLatin1Char('\n'), 1), first.section(QLatin1Char('\n'), 1));
    QCOMPARE(read(copy, QStringLiteral("[/system identity get name]")), QStringLiteral("a \"b\" $c"));
}

void TestRouterOsEngine::faultsFireOnTheirPattern()
{
    QJsonObject scenario{{QStringLiteral("export"), QStringLiteral("defconf-7.rsc")},
                         {QStringLiteral("faults"),
                          QJsonArray{QJsonObject{{QStringLiteral("command"), QStringLiteral("^/ip/firewall/filter/add .*place-before=0")},
                                                 {QStringLiteral("error"), QStringLiteral("no such item")}},
                                     QJsonObject{{QStringLiteral("command"), QStringLiteral("^/system/identity/get")},
                                                 {QStringLiteral("delayMs"), 1500}},
                                     QJsonObject{{QStringLiteral("command"), QStringLiteral("^/ping")},
                                                 {QStringLiteral("hang"), true}, {QStringLiteral("times"), 1}},
                                     QJsonObject{{QStringLiteral("command"), QStringLiteral("^/user/add")},
                                                 {QStringLiteral("drop"), true}}}}};
    auto engine = loadJson(scenario);
    QCOMPARE(run(*engine, QStringLiteral("/ip firewall filter add chain=input action=accept place-before=0")),
             QStringLiteral("no such item\r\n"));
    QCOMPARE(run(*engine, QStringLiteral("/ip firewall filter add chain=input action=accept")), QString());
    ExecOutcome outcome = exec(*engine, QStringLiteral(":put [/system identity get name]"));
    QCOMPARE(outcome.delayMs, 1500);
    QCOMPARE(outcome.out, QByteArray("MikroTik\r\n"));
    outcome = exec(*engine, QStringLiteral(":put a; :put [/ping address=1.1.1.1 count=1]; :put b"));
    QVERIFY(outcome.hang);
    QVERIFY(!exec(*engine, QStringLiteral(":put [/ping address=1.1.1.1 count=1]")).hang);
    outcome = exec(*engine, QStringLiteral(":put a; /user add name=x group=full password=y; :put b"));
    QVERIFY(outcome.drop);
    QCOMPARE(outcome.out, QByteArray("a\r\n"));
    QVERIFY(engine->authenticate(QStringLiteral("x"), QStringLiteral("y")));

    QJsonObject refusing{{QStringLiteral("refuseSignIn"), true}, {QStringLiteral("silentPort"), true}};
    auto closed = loadJson(refusing);
    QVERIFY(closed->refuseSignIn());
    QVERIFY(closed->silentPort());
    QVERIFY(!closed->authenticate(QStringLiteral("admin"), QString()));
}

void TestRouterOsEngine::wireGuardKeysAreRealX25519()
{
    // RFC 7748 section 6.1.
    const QByteArray alicePriv = QByteArray::fromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const QByteArray alicePub = QByteArray::fromHex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    const QByteArray bobPriv = QByteArray::fromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    const QByteArray shared = QByteArray::fromHex("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    QCOMPARE(Curve25519::publicKey(alicePriv).toHex(), alicePub.toHex());
    QCOMPARE(Curve25519::scalarMult(bobPriv, alicePub).toHex(), shared.toHex());

    auto engine = loadScenario(QStringLiteral("new-router"));
    const QString priv = QString::fromLatin1(bobPriv.toBase64());
    QCOMPARE(run(*engine, QStringLiteral("/interface wireguard add name=wg1 private-key=%1").arg(quoteRouterOs(priv))), QString());
    QCOMPARE(read(*engine, QStringLiteral("[/interface wireguard get wg1 public-key]")),
             QString::fromLatin1(Curve25519::publicKey(bobPriv).toBase64()));
    QVERIFY(!engine->exportState().contains(priv));
    QCOMPARE(run(*engine, QStringLiteral("/interface wireguard set wg1 public-key=%1").arg(quoteRouterOs(kServerKey))),
             QStringLiteral("expected end of command (line 1 column 30)\r\n"));
}

void TestRouterOsEngine::concurrentExecsKeepTheModelConsistent()
{
    auto engine = loadScenario(QStringLiteral("chr"));
    QList<QThread *> threads;
    for (int t = 0; t < 4; ++t) {
        threads << QThread::create([&engine, t]() {
            for (int i = 0; i < 25; ++i)
                (void)exec(*engine, QStringLiteral("/ip firewall address-list add list=l%1 address=10.%1.0.%2").arg(t).arg(i));
        });
        threads.last()->start();
    }
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(20000));
        delete thread;
    }
    QCOMPARE(count(*engine, QStringLiteral("/ip firewall address-list")), 100);
}

QTEST_GUILESS_MAIN(TestRouterOsEngine)
#include "tst_routerosengine.moc"

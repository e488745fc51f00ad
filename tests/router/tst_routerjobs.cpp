#include "jobrecorder.h"
#include "router/routertask.h"
#include "routersimfixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

namespace {

QJsonObject upstreamWithPppoe(const QString &user, const QString &password)
{
    return QJsonObject{
        {QStringLiteral("dhcp"), false},
        {QStringLiteral("internet"), true},
        {QStringLiteral("serviceHttps"), true},
        {QStringLiteral("pppoe"),
         QJsonObject{{QStringLiteral("user"), user}, {QStringLiteral("password"), password}}},
    };
}

} // namespace

// The inspection and internet jobs against the simulated router, through the real OpenSSH client.
class TestRouterJobs final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void inspectsScenarios_data();
    void inspectsScenarios();

    void refusesReportForgedByIdentity();

    void setsUpDhcpWan_data();
    void setsUpDhcpWan();
    void switchesOnExistingDhcpClient();
    void setsUpPppoeWanWithHostilePassword();
    void addsPppoeWithoutWanList();
    void failsStepOnRouterOsError_data();
    void failsStepOnRouterOsError();

private:
    RouterSimFixture m_sim;
};

void TestRouterJobs::initTestCase()
{
    m_sim.initTestCase();
}

void TestRouterJobs::cleanup()
{
    m_sim.cleanup();
}

void TestRouterJobs::inspectsScenarios_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QVariantMap>("expected");

    const auto facts = [](std::initializer_list<std::pair<const char *, QVariant>> list) {
        QVariantMap map;
        for (const auto &entry : list)
            map.insert(QString::fromLatin1(entry.first), entry.second);
        return map;
    };

    QTest::newRow("new-router") << QStringLiteral("new-router")
                                << facts({{"version", QStringLiteral("7.14.3")},
                                          {"ros7", true},
                                          {"wireguardOk", true},
                                          {"fresh", true},
                                          {"internet", true},
                                          {"hasRoute", true},
                                          {"ether1Bridged", false},
                                          {"dhcpOnEther1", true},
                                          {"pppoe", false},
                                          {"model", QStringLiteral("RB750Gr3")},
                                          {"identity", QStringLiteral("MikroTik")},
                                          {"ifName", QStringLiteral("quillmor")},
                                          {"replace", false},
                                          {"mgmtUser", QStringLiteral("quillmor")},
                                          {"apiAddress", QString()},
                                          {"apiDisabled", false},
                                          {"blocker", QString()}});
    QTest::newRow("in-use") << QStringLiteral("in-use")
                            << facts({{"fresh", false},
                                      {"ros7", true},
                                      {"ifName", QStringLiteral("quillmor")},
                                      {"blocker", QString()}});
    QTest::newRow("ros6")
        << QStringLiteral("ros6")
        << facts({{"version", QStringLiteral("6.49.10")},
                  {"ros7", false},
                  {"wireguardOk", false},
                  {"fresh", false},
                  {"ifName", QString()},
                  {"blocker",
                   QStringLiteral("WireGuard needs RouterOS 7. This router is running 6.49.10. "
                                  "Upgrade it, then run this setup again. Nothing was changed.")}});
    QTest::newRow("chr") << QStringLiteral("chr")
                         << facts({{"model", QStringLiteral("unknown")},
                                   {"identity", QStringLiteral("chr-lab")},
                                   {"ros7", true},
                                   {"blocker", QString()}});
    QTest::newRow("names-taken")
        << QStringLiteral("names-taken")
        << facts({{"ifName", QString()},
                  {"replace", false},
                  {"blocker", QStringLiteral("Interfaces named quillmor and qm-link are both in "
                                             "use. Rename one of them, then try again.")}});
    QTest::newRow("earlier-link") << QStringLiteral("earlier-link")
                                  << facts({{"ifName", QStringLiteral("wg-old")},
                                            {"replace", true},
                                            {"fresh", false},
                                            {"blocker", QString()}});
    QTest::newRow("api-restricted")
        << QStringLiteral("api-restricted")
        << facts({{"apiAddress", QStringLiteral("192.168.88.0/24,10.9.0.0/16")},
                  {"apiDisabled", false}});
    QTest::newRow("no-internet-bridged") << QStringLiteral("no-internet-bridged")
                                         << facts({{"internet", false},
                                                   {"hasRoute", false},
                                                   {"ether1Bridged", true},
                                                   {"dhcpOnEther1", false},
                                                   {"fresh", true}});
}

void TestRouterJobs::inspectsScenarios()
{
    QFETCH(QString, scenario);
    QFETCH(QVariantMap, expected);

    QVERIFY(m_sim.start(scenario));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startInspect(m_sim.login());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.payload.size(), 17);
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QCOMPARE(
            qPrintable(it.key() + QLatin1Char('=') + recorder.payload.value(it.key()).toString()),
            qPrintable(it.key() + QLatin1Char('=') + it.value().toString()));
    const QString summary = QStringLiteral("%1, RouterOS %2, internet %3")
                                .arg(recorder.payload.value(QStringLiteral("model")).toString(),
                                     recorder.payload.value(QStringLiteral("version")).toString(),
                                     recorder.payload.value(QStringLiteral("internet")).toBool()
                                         ? QStringLiteral("yes")
                                         : QStringLiteral("no"));
    QCOMPARE(recorder.lines.last(), summary);
    // The inspection only reads.
    for (const QString &command : m_sim.commandsRun()) {
        QVERIFY2(!command.endsWith(QLatin1String("/add")) &&
                     !command.endsWith(QLatin1String("/set")) &&
                     !command.endsWith(QLatin1String("/remove")),
                 qPrintable(command));
    }
}

void TestRouterJobs::refusesReportForgedByIdentity()
{
    // A RouterOS 7 router whose name repeats the version marker as RouterOS 6 would print it.
    QVERIFY(m_sim.start(QStringLiteral("new-router"),
                        {{QStringLiteral("identity"),
                          QStringLiteral("office\r\nQM_VERSION=6.49.10 (long-term)")}}));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startInspect(m_sim.login());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    const QString untrusted = QStringLiteral(
        "The router's answer repeats a value it should give once, so it was not trusted.");
    QCOMPARE(recorder.oks, QList<bool>{false});
    QCOMPARE(recorder.errors.first(), untrusted);
    QVERIFY(recorder.payload.isEmpty());
    QCOMPARE(recorder.lines.last(), untrusted);
}

void TestRouterJobs::setsUpDhcpWan_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QJsonObject>("upstream"); // empty: the scenario's own
    QTest::addColumn<bool>("portLeavesBridge");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("probes");

    QTest::newRow("split-dhcp") << QStringLiteral("split-dhcp") << QJsonObject() << true
                                << QString() << 1;
    // The inspection counts a working HTTPS fetch as internet, so the WAN result must too.
    QTest::newRow("split-dhcp, ping blocked")
        << QStringLiteral("split-dhcp")
        << QJsonObject{{QStringLiteral("dhcp"), true},
                       {QStringLiteral("internet"), false},
                       {QStringLiteral("serviceHttps"), true}}
        << true << QString() << 1;
    // A DHCP client on a bridge port gets no lease: the change counts as done, with a warning.
    QTest::newRow("dhcp") << QStringLiteral("dhcp") << QJsonObject() << false
                          << QStringLiteral("Port 1 was updated, but the router still has no "
                                            "internet. Check the cable, the line, or the PPPoE "
                                            "account.")
                          << 5;
}

void TestRouterJobs::setsUpDhcpWan()
{
    QFETCH(QString, mode);
    QFETCH(QJsonObject, upstream);
    QFETCH(bool, portLeavesBridge);
    QFETCH(QString, warning);
    QFETCH(int, probes);

    QJsonObject changes;
    if (!upstream.isEmpty())
        changes.insert(QStringLiteral("upstream"), upstream);
    QVERIFY(m_sim.start(QStringLiteral("no-internet-bridged"), changes));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(m_sim.login(), mode, QString(), QString(), true, false, false);
    WAIT_FOR_JOB_END(task, recorder, 60000);

    QCOMPARE(recorder.errors.first(), warning);
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.internet, warning.isEmpty());
    QCOMPARE(recorder.hasRoute, warning.isEmpty());
    QCOMPARE(recorder.lines.filter(QStringLiteral("Checking internet")).size(), probes);
    QCOMPARE(task.wanMode(), mode);

    const QStringList ports = m_sim.menuLines(QStringLiteral("/interface bridge port"));
    QCOMPARE(hasEntry(ports, {QStringLiteral("interface=ether1")}), !portLeavesBridge);
    QVERIFY(hasEntry(ports, {QStringLiteral("interface=ether2")}));
    const QStringList clients = m_sim.menuLines(QStringLiteral("/ip dhcp-client"));
    QCOMPARE(clients.size(), 1);
    QVERIFY2(hasEntry(clients, {QStringLiteral("interface=ether1"),
                                QStringLiteral("comment=quillmor-onboard")}),
             qPrintable(clients.join(QLatin1Char('\n'))));
}

void TestRouterJobs::switchesOnExistingDhcpClient()
{
    QVERIFY(m_sim.start(QStringLiteral("new-router")));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(m_sim.login(), QStringLiteral("dhcp"), QString(), QString(), true, true, false);
    WAIT_FOR_JOB_END(task, recorder, 60000);

    QCOMPARE(recorder.errors.first(), QString());
    QVERIFY(recorder.internet);
    QVERIFY(!m_sim.commandsRun().contains(QStringLiteral("/ip/dhcp-client/add")));
    QVERIFY(m_sim.commandsRun().contains(QStringLiteral("/ip/dhcp-client/set")));
    QCOMPARE(m_sim.menuLines(QStringLiteral("/ip dhcp-client")).size(), 1);
}

void TestRouterJobs::setsUpPppoeWanWithHostilePassword()
{
    const QString user = QStringLiteral("isp\"user$1");
    const QString password = QStringLiteral("p\"w$(x)\\;[/system reboot]\r\n\u00e9");
    const QString received = QStringLiteral("p\"w$(x)\\;[/system reboot]\u00e9");
    // The first ping and fetch after the change find no answer yet: internet on the second probe.
    const QJsonArray faults{
        QJsonObject{{QStringLiteral("command"), QStringLiteral("^/ping")},
                    {QStringLiteral("error"), QStringLiteral("failure: timeout")},
                    {QStringLiteral("times"), 1}},
        QJsonObject{{QStringLiteral("command"), QStringLiteral("^/tool/fetch")},
                    {QStringLiteral("error"), QStringLiteral("failure: connection timeout")},
                    {QStringLiteral("times"), 1}}};
    QVERIFY(m_sim.start(QStringLiteral("new-router"),
                        {{QStringLiteral("upstream"), upstreamWithPppoe(user, received)},
                         {QStringLiteral("faults"), faults}}));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(m_sim.login(), QStringLiteral("pppoe"), user, password, true, false, false);
    WAIT_FOR_JOB_END(task, recorder, 60000);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    QVERIFY(recorder.internet);
    QCOMPARE(recorder.lines.filter(QStringLiteral("Checking internet")).size(), 2);

    const QStringList clients = m_sim.menuLines(QStringLiteral("/interface pppoe-client"));
    QVERIFY2(
        hasEntry(clients, {QStringLiteral("name=quillmor-wan"), QStringLiteral("interface=ether1"),
                           QStringLiteral("comment=quillmor-onboard")}),
        qPrintable(clients.join(QLatin1Char('\n'))));
    QCOMPARE(m_sim.routerSays(
                 QStringLiteral(":put [/interface pppoe-client get quillmor-wan password]")),
             received);
    QCOMPARE(
        m_sim.routerSays(QStringLiteral(":put [/interface pppoe-client get quillmor-wan user]")),
        user);
    QVERIFY(hasEntry(m_sim.menuLines(QStringLiteral("/interface list member")),
                     {QStringLiteral("interface=quillmor-wan"), QStringLiteral("list=WAN"),
                      QStringLiteral("comment=quillmor-onboard")}));
}

void TestRouterJobs::addsPppoeWithoutWanList()
{
    QVERIFY(m_sim.start(QStringLiteral("no-internet-bridged"),
                        {{QStringLiteral("upstream"),
                          upstreamWithPppoe(QStringLiteral("u"), QStringLiteral("s"))}}));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(m_sim.login(), QStringLiteral("split-pppoe"), QStringLiteral("u"),
                  QStringLiteral("s"), true, false, false);
    WAIT_FOR_JOB_END(task, recorder, 60000);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    QVERIFY(recorder.internet);
    QVERIFY(!hasEntry(m_sim.menuLines(QStringLiteral("/interface bridge port")),
                      {QStringLiteral("interface=ether1")}));
    QVERIFY(hasEntry(m_sim.menuLines(QStringLiteral("/interface pppoe-client")),
                     {QStringLiteral("name=quillmor-wan")}));
    QVERIFY(!hasEntry(m_sim.menuLines(QStringLiteral("/interface list member")),
                      {QStringLiteral("quillmor-wan")}));
}

void TestRouterJobs::failsStepOnRouterOsError_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<int>("exitStatus");

    const char *const phrases[] = {"no such item",
                                   "invalid internal item number",
                                   "invalid value for argument interface",
                                   "missing value(s) of argument(s) interface",
                                   "expected command name",
                                   "missing closing brace",
                                   "not enough permissions (9)",
                                   "bad parameter use-peer-dns"};
    for (const char *phrase : phrases) {
        for (const int exitStatus : {0, 1}) {
            QTest::addRow("%s, exit %d", phrase, exitStatus)
                << QString::fromLatin1(phrase) << exitStatus;
        }
    }
}

void TestRouterJobs::failsStepOnRouterOsError()
{
    QFETCH(QString, phrase);
    QFETCH(int, exitStatus);

    const QJsonArray faults{
        QJsonObject{{QStringLiteral("command"), QStringLiteral("^/ip/dhcp-client/add")},
                    {QStringLiteral("error"), phrase}}};
    QVERIFY(m_sim.start(
        QStringLiteral("no-internet-bridged"),
        {{QStringLiteral("faults"), faults}, {QStringLiteral("exitStatusOnError"), exitStatus}}));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(m_sim.login(), QStringLiteral("dhcp"), QString(), QString(), true, false, false);
    WAIT_FOR_JOB_END(task, recorder, 60000);

    QCOMPARE(recorder.oks.first(), false);
    QVERIFY2(recorder.errors.first().contains(phrase), qPrintable(recorder.errors.first()));
    QCOMPARE(task.lastError(), recorder.errors.first());
    QVERIFY(recorder.lines.filter(QStringLiteral("Checking internet")).isEmpty());
}

QTEST_GUILESS_MAIN(TestRouterJobs)
#include "tst_routerjobs.moc"

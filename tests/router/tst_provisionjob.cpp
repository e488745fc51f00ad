#include "api/quillmorapi.h"
#include "billingsim.h"
#include "jobrecorder.h"
#include "router/commandpreview.h"
#include "router/linkscripts.h"
#include "router/routertask.h"
#include "routersimfixture.h"

#include <memory>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimer>

namespace {

const char kApiKey[] = "test-installer-key";
const char kAccount[] = "100200";
const char kCode[] = "123456";
const char kProvisionPath[] = "/api/v1/desktop/routers/provision";
const char kServerKey[] = "UnrOR307pe/zrpDakhQNDPHKcOim1fGFJqKScRHpLKA=";
// Everything quoteRouterOs has to escape, and a command that must stay inside the literal.
// Blanks at both ends: the router must get the password exactly as the service holds it.
const char kApiPassword[] = " Api\"Pass$(x)\\;[/system reboot]\xc3\xa9 ";
const char kInterfaceLeft[] =
    " The WireGuard interface was left on the router. Connect again and retry.";

QJsonObject defaultLink()
{
    return QJsonObject{
        {QStringLiteral("interface_address"), QStringLiteral("10.20.0.5/32")},
        {QStringLiteral("server_public_key"), QString::fromLatin1(kServerKey)},
        {QStringLiteral("endpoint_host"), QStringLiteral("vpn.quillmor.com")},
        {QStringLiteral("endpoint_port"), 51820},
        {QStringLiteral("allowed_addresses"), QJsonArray{QStringLiteral("10.20.0.0/16")}},
        {QStringLiteral("keepalive"), 25},
        {QStringLiteral("api_username"), QStringLiteral("quillmor-api")},
        {QStringLiteral("api_password"), QString::fromUtf8(kApiPassword)},
        {QStringLiteral("api_allow_from"), QStringLiteral("10.20.0.0/16")},
    };
}

// What the inspection of an untouched new router gives, plus what the window adds.
QVariantMap newRouterOptions()
{
    return QVariantMap{
        {QStringLiteral("identity"), QStringLiteral("MikroTik")},
        {QStringLiteral("model"), QStringLiteral("RB750Gr3")},
        {QStringLiteral("version"), QStringLiteral("7.14.3")},
        {QStringLiteral("ros7"), true},
        {QStringLiteral("wireguardOk"), true},
        {QStringLiteral("internet"), true},
        {QStringLiteral("fresh"), true},
        {QStringLiteral("ifName"), QStringLiteral("quillmor")},
        {QStringLiteral("replace"), false},
        {QStringLiteral("mgmtUser"), QStringLiteral("quillmor")},
        {QStringLiteral("apiAddress"), QString()},
        {QStringLiteral("apiDisabled"), false},
        {QStringLiteral("blocker"), QString()},
        {QStringLiteral("applyBase"), false},
        {QStringLiteral("hotspotDns"), QStringLiteral("login.riverside.net")},
        {QStringLiteral("walledHosts"), QStringLiteral("quillmor.com")},
    };
}

QVariantMap withOptions(QVariantMap options, const QVariantMap &changes)
{
    for (auto it = changes.begin(); it != changes.end(); ++it)
        options.insert(it.key(), it.value());
    return options;
}

// A new router on which the window also asks for the standard layout first.
QVariantMap layoutOptions()
{
    return withOptions(newRouterOptions(), {{QStringLiteral("applyBase"), true}});
}

} // namespace

// The onboarding job against the simulated router and billing service, through the real OpenSSH
// client and the real network stack.
class TestProvisionJob final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void onboardsNewRouterUntilOnline();
    void sendsLayoutLastAndSparesTheLink();
    void takesLayoutSessionEndAsExpected_data();
    void takesLayoutSessionEndAsExpected();
    void reportsLayoutRefusal();
    void refusedSeatLeavesRouterAsItWas();
    void stopsWaitingAfterLayoutOnCancel();
    void cancelWhileLayoutRunsKeepsTheLink();
    void replacesEarlierLink();
    void refusesRouterNotReady_data();
    void refusesRouterNotReady();
    void rejectsAnswerItCannotUse_data();
    void rejectsAnswerItCannotUse();
    void readsLooseAnswerAndAddsRuleWithoutPosition();
    void linksWithoutUserWhenNoSafeNetwork();
    void failsWithoutRouterLogin_data();
    void failsWithoutRouterLogin();
    void refusesUntrustedUserStep_data();
    void refusesUntrustedUserStep();
    void opensApiToTheLink_data();
    void opensApiToTheLink();
    void endsWaitWithoutConfirmation_data();
    void endsWaitWithoutConfirmation();
    void stopsWaitingOnCancel();
    void cancelAbortsProvisionRequest();

private:
    [[nodiscard]] bool startBilling(const QJsonObject &link, int onlineAfterPolls = 1,
                                    bool routerOnline = true, int routersUsed = 1);
    [[nodiscard]] QString signIn();
    void startTowerProvision(RouterTask &task, const QVariantMap &options);
    [[nodiscard]] QStringList changingCommands() const;
    [[nodiscard]] QStringList linkObjects();
    [[nodiscard]] qsizetype menuCount(const QString &menu, const QStringList &parts) const;

    RouterSimFixture m_router;
    std::unique_ptr<BillingSim> m_billing;
};

void TestProvisionJob::initTestCase()
{
    m_router.initTestCase();
}

void TestProvisionJob::cleanup()
{
    m_router.cleanup();
    m_billing.reset();
    qunsetenv("QUILLMOR_BASE_URL");
    qunsetenv("QUILLMOR_API_KEY");
}

bool TestProvisionJob::startBilling(const QJsonObject &link, int onlineAfterPolls,
                                    bool routerOnline, int routersUsed)
{
    const QJsonObject scenario{
        {QStringLiteral("api_key"), QString::fromLatin1(kApiKey)},
        {QStringLiteral("router_online"), routerOnline},
        {QStringLiteral("online_after_polls"), onlineAfterPolls},
        {QStringLiteral("link"), link},
        {QStringLiteral("accounts"),
         QJsonArray{QJsonObject{{QStringLiteral("number"), QString::fromLatin1(kAccount)},
                                {QStringLiteral("code"), QString::fromLatin1(kCode)},
                                {QStringLiteral("isp_name"), QStringLiteral("Riverside Net")},
                                {QStringLiteral("router_limit"), 3},
                                {QStringLiteral("routers_used"), routersUsed}}}}};
    m_billing = std::make_unique<BillingSim>();
    QString error;
    if (!m_billing->start(scenario, 0, &error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    qputenv("QUILLMOR_BASE_URL", m_billing->baseUrl().toUtf8());
    qputenv("QUILLMOR_API_KEY", kApiKey);
    return true;
}

QString TestProvisionJob::signIn()
{
    QuillmorApi api;
    AccountProfile profile;
    QString error;
    if (!api.requestCode(QString::fromLatin1(kAccount), &error) ||
        !api.verifyCode(QString::fromLatin1(kAccount), QString::fromLatin1(kCode), &profile,
                        &error))
        qWarning("service sign-in failed: %s", qPrintable(error));
    m_billing->clearRequests();
    return profile.token;
}

// The job as the window starts it for the site "Tower", signed in to the service.
void TestProvisionJob::startTowerProvision(RouterTask &task, const QVariantMap &options)
{
    task.startProvision(m_router.login(), options, QStringLiteral("Tower"), signIn());
}

QStringList TestProvisionJob::changingCommands() const
{
    QStringList commands;
    const QJsonArray log = m_router.engine()->commandLog();
    for (const QJsonValue &entry : log) {
        const QJsonObject o = entry.toObject();
        const QString verb = o.value(QStringLiteral("verb")).toString();
        if (verb == QLatin1String("add") || verb == QLatin1String("set") ||
            verb == QLatin1String("remove"))
            commands << o.value(QStringLiteral("path")).toString() + QLatin1Char('/') + verb;
    }
    return commands;
}

// Every exported line that carries the app's comment.
QStringList TestProvisionJob::linkObjects()
{
    return matching(m_router.exportLines(), {QStringLiteral("comment=quillmor-onboard")});
}

// How many lines of the menu's export contain every one of the parts.
qsizetype TestProvisionJob::menuCount(const QString &menu, const QStringList &parts) const
{
    return matching(m_router.menuLines(menu), parts).size();
}

void TestProvisionJob::onboardsNewRouterUntilOnline()
{
    QVERIFY(m_router.start(QStringLiteral("new-router")));
    QVERIFY(startBilling(with(defaultLink(), {{QStringLiteral("allowed_addresses"),
                                               QJsonArray{QStringLiteral("10.20.0.0/16"),
                                                          QStringLiteral("0.0.0.0/0")}},
                                              {QStringLiteral("keepalive"), 40}}),
                         3));
    const QString token = signIn();
    QVERIFY(!token.isEmpty());

    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    // The window hands over what the inspection found, with its own keys added.
    task.startInspect(m_router.login());
    WAIT_FOR_JOB_END(task, recorder, 60000);
    QVariantMap options = recorder.payload;
    options.insert(QStringLiteral("applyBase"), false);
    options.insert(QStringLiteral("mgmtUser"), QStringLiteral("quillmor"));
    options.insert(QStringLiteral("hotspotDns"), QStringLiteral("login.riverside.net"));
    options.insert(QStringLiteral("walledHosts"),
                   QStringLiteral("quillmor.com, pay.riverside.net,,bad host"));

    JobRecorder provision(task);
    task.startProvision(m_router.login(), options, QStringLiteral("  Main Street Tower "), token);
    WAIT_FOR_JOB_END(task, provision, 90000);

    QCOMPARE(provision.errors.first(), QString());
    QCOMPARE(provision.oks.first(), true);
    const QJsonObject answer =
        m_billing->savedRouters(QString::fromLatin1(kAccount)).first().toObject();
    const QVariantMap expectedResult{
        {QStringLiteral("routerId"), answer.value(QStringLiteral("id")).toString()},
        {QStringLiteral("site"), QStringLiteral("Main Street Tower")},
        {QStringLiteral("address"), QStringLiteral("10.20.0.5/32")},
        {QStringLiteral("endpoint"), QStringLiteral("vpn.quillmor.com:51820")},
        {QStringLiteral("online"), true},
        {QStringLiteral("handshake"), true},
        {QStringLiteral("message"), QStringLiteral("Quillmor can see this router.")},
        {QStringLiteral("routerLimit"), 3},
        {QStringLiteral("routersUsed"), 2},
    };
    QCOMPARE(provision.payload, expectedResult);

    const QStringList expectedLog{
        QStringLiteral("Signing in to the router..."),
        QStringLiteral("Signed in."),
        QStringLiteral("Clearing a previous Quillmor link, if there was one..."),
        QStringLiteral("Creating the WireGuard interface..."),
        QStringLiteral("Reading the router key..."),
        QStringLiteral("Router key is ready."),
        QStringLiteral("Asking Quillmor for the tunnel..."),
        QStringLiteral("Adding the tunnel address..."),
        QStringLiteral("Adding the Quillmor peer..."),
        QStringLiteral("Adding the route for 10.20.0.0/16..."),
        QStringLiteral("Allowing the Quillmor link through the firewall..."),
        QStringLiteral("Adding the management user..."),
        QStringLiteral("Router user quillmor-api was created from this Quillmor account."),
        QStringLiteral("Opening the API on the Quillmor link..."),
        QStringLiteral("Adding the shared firewall rules..."),
        QStringLiteral("Waiting for Quillmor to see the router (1/8)..."),
        QStringLiteral("Waiting for Quillmor to see the router (2/8)..."),
        QStringLiteral("Quillmor can see this router."),
    };
    QCOMPARE(provision.lines, expectedLog);
    // The command preview names the same steps in the same order as the run logged them.
    qsizetype previous = -1;
    for (const PlannedScript &planned : plannedOnboardScripts(options)) {
        if (planned.script.isEmpty() || planned.label.contains(QLatin1Char('<')) ||
            planned.script.contains(QLatin1String("last-handshake")))
            continue;
        const qsizetype at = provision.lines.indexOf(planned.label);
        QVERIFY2(at > previous, qPrintable(planned.label));
        previous = at;
    }

    // The request carries exactly what the service needs, with the router's own key.
    const QList<BillingSimRequest> sent =
        m_billing->requestsTo(QString::fromLatin1(kProvisionPath));
    QCOMPARE(sent.size(), 1);
    const QString routerKey =
        m_router.routerSays(QStringLiteral(":put [/interface wireguard get quillmor public-key]"));
    const QJsonObject expectedBody{
        {QStringLiteral("name"), QStringLiteral("Main Street Tower")},
        {QStringLiteral("identity"), QStringLiteral("MikroTik")},
        {QStringLiteral("model"), QStringLiteral("RB750Gr3")},
        {QStringLiteral("ros_version"), QStringLiteral("7.14.3")},
        {QStringLiteral("public_key"), routerKey},
        {QStringLiteral("listen_port"), 13231},
        {QStringLiteral("fresh_router"), true},
        {QStringLiteral("management_username"), QStringLiteral("quillmor")},
    };
    QCOMPARE(sent.first().json(), expectedBody);
    QCOMPARE(m_billing
                 ->requestsTo(QStringLiteral("/api/v1/desktop/routers/") +
                              expectedResult.value(QStringLiteral("routerId")).toString())
                 .size(),
             3);

    const QString interfaceLine =
        QStringLiteral("comment=quillmor-onboard listen-port=13231 name=quillmor");
    QCOMPARE(menuCount(QStringLiteral("/interface wireguard"), {interfaceLine}), 1);
    const QStringList peers = m_router.menuLines(QStringLiteral("/interface wireguard peers"));
    QCOMPARE(peers.size(), 1);
    for (const char *part : {"allowed-address=10.20.0.0/16,0.0.0.0/0", "comment=quillmor-onboard",
                             "endpoint-address=vpn.quillmor.com", "endpoint-port=51820",
                             "interface=quillmor", "persistent-keepalive=40s",
                             "public-key=\"UnrOR307pe/zrpDakhQNDPHKcOim1fGFJqKScRHpLKA=\""})
        QVERIFY2(peers.first().contains(QLatin1String(part)), qPrintable(peers.first()));
    QCOMPARE(menuCount(QStringLiteral("/ip address"), {QStringLiteral("address=10.20.0.5/32"),
                                                       QStringLiteral("interface=quillmor"),
                                                       QStringLiteral("comment=quillmor-onboard")}),
             1);
    // The default network rides in the peer only; the router keeps its own uplink.
    const QStringList routes = matching(m_router.menuLines(QStringLiteral("/ip route")),
                                        {QStringLiteral("gateway=quillmor")});
    QCOMPARE(routes.size(), 1);
    QVERIFY2(routes.first().contains(QLatin1String("dst-address=10.20.0.0/16")),
             qPrintable(routes.first()));
    const QStringList filters = m_router.menuLines(QStringLiteral("/ip firewall filter"));
    QVERIFY2(filters.first().contains(QLatin1String("in-interface=quillmor")) &&
                 filters.first().contains(QLatin1String("chain=input")) &&
                 filters.first().contains(QLatin1String("action=accept")),
             qPrintable(filters.join(QLatin1Char('\n'))));

    QVERIFY(m_router.engine()->authenticate(QStringLiteral("quillmor-api"),
                                            QString::fromUtf8(kApiPassword)));
    QCOMPARE(menuCount(QStringLiteral("/user"),
                       {QStringLiteral("name=quillmor-api"), QStringLiteral("group=full"),
                        QStringLiteral("comment=quillmor-onboard")}),
             1);
    QCOMPARE(m_router.routerSays(QStringLiteral(":put [/ip service get api address]")),
             QStringLiteral("10.20.0.0/16"));
    QCOMPARE(m_router.routerSays(QStringLiteral(":put [/ip service get api disabled]")),
             QStringLiteral("false"));

    QCOMPARE(menuCount(QStringLiteral("/ip firewall address-list"),
                       {QStringLiteral("address=198.51.100.23"),
                        QStringLiteral("list=blocked-vpn-servers")}),
             1);
    QCOMPARE(menuCount(QStringLiteral("/ip firewall raw"),
                       {QStringLiteral("dst-address-list=blocked-vpn-servers")}),
             1);
    const QStringList garden = m_router.menuLines(QStringLiteral("/ip hotspot walled-garden ip"));
    QCOMPARE(garden.size(), 2);
    QVERIFY(garden.at(0).contains(QLatin1String("dst-host=quillmor.com")));
    QVERIFY(garden.at(1).contains(QLatin1String("dst-host=pay.riverside.net")));

    const QString log =
        recorder.lines.join(QLatin1Char('\n')) + provision.lines.join(QLatin1Char('\n'));
    QVERIFY(!log.contains(QLatin1String(kRouterPassword)));
    QVERIFY(!log.contains(QLatin1String("Api\"Pass")));
}

namespace {

const char kLayoutLabel[] = "Building the standard hotspot layout on this new router...";
const char kSessionEnded[] =
    "The router stopped answering this computer once the layout took its old address away, as "
    "expected. The layout's own checks cannot be read from here.";
const char kSeenAfterLayout[] =
    "Quillmor can see this router. It is now reached through Quillmor. This computer is on the "
    "new hotspot network: unplug its cable and plug it in again to get a 172.16.x address.";

// The commands the router ran from the layout's first statement on.
QStringList commandsFromLayout(const QStringList &commands)
{
    const qsizetype first = commands.indexOf(QStringLiteral("/ip/hotspot/remove"));
    return first < 0 ? QStringList() : commands.mid(first);
}

} // namespace

void TestProvisionJob::sendsLayoutLastAndSparesTheLink()
{
    // The session survives here only so that the layout's own answer can be read (a real router
    // goes silent under it, see takesLayoutSessionEndAsExpected): this checks the layout step and
    // what it leaves, not a whole onboarding. The answer comes after 7 s, longer than a short
    // step limit would wait.
    QVERIFY(m_router.start(
        QStringLiteral("new-router"),
        {{QStringLiteral("session"),
          QJsonObject{{QStringLiteral("address"), QStringLiteral("192.168.88.1")},
                      {QStringLiteral("onAddressRemoved"), QStringLiteral("ignore")}}},
         {QStringLiteral("faults"),
          QJsonArray{QJsonObject{{QStringLiteral("command"), QStringLiteral("port=8777")},
                                 {QStringLiteral("delayMs"), 7000}}}}}));
    QVERIFY(startBilling(defaultLink()));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, layoutOptions());
    WAIT_FOR_JOB_END(task, recorder, 120000);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.payload.value(QStringLiteral("layout")).toBool(), true);
    const qsizetype rules =
        recorder.lines.indexOf(QStringLiteral("Adding the shared firewall rules..."));
    QVERIFY(rules > 0);
    // The whole link, accepted by the service, before the layout; nothing over SSH after it.
    QVERIFY(recorder.lines.indexOf(QStringLiteral("Asking Quillmor for the tunnel...")) < rules);
    QCOMPARE(recorder.lines.mid(rules + 1, 2),
             (QStringList{QString::fromLatin1(kLayoutLabel),
                          QStringLiteral("Standard layout is on the router. Port 1 is ether1-WAN. "
                                         "The LAN is 172.16.0.1.")}));
    const QStringList afterLayout = commandsFromLayout(m_router.commandsRun());
    QVERIFY(!afterLayout.isEmpty());
    QVERIFY2(afterLayout.filter(QStringLiteral("wireguard")).isEmpty(),
             qPrintable(afterLayout.join(QLatin1Char(' '))));

    QVERIFY(m_router.engine()->hasAddress(QStringLiteral("172.16.0.1")));
    QVERIFY(!m_router.engine()->hasAddress(QStringLiteral("192.168.88.1")));
    QCOMPARE(menuCount(QStringLiteral("/interface bridge port"),
                       {QStringLiteral("bridge=Bridge-Network")}),
             4);
    QCOMPARE(menuCount(QStringLiteral("/ip hotspot profile"),
                       {QStringLiteral("dns-name=login.riverside.net"),
                        QStringLiteral("name=quillmor-server")}),
             1);
    // The layout spares the link it follows.
    QCOMPARE(menuCount(QStringLiteral("/ip address"), {QStringLiteral("address=10.20.0.5/32"),
                                                       QStringLiteral("interface=quillmor")}),
             1);
    QCOMPARE(menuCount(QStringLiteral("/ip route"), {QStringLiteral("dst-address=10.20.0.0/16"),
                                                     QStringLiteral("gateway=quillmor")}),
             1);
    QCOMPARE(m_router.menuLines(QStringLiteral("/interface wireguard peers")).size(), 1);
    QVERIFY(m_router.engine()->authenticate(QStringLiteral("quillmor-api"),
                                            QString::fromUtf8(kApiPassword)));
    QCOMPARE(m_router.routerSays(QStringLiteral(":put [/ip service get api address]")),
             QStringLiteral("10.20.0.0/16"));
}

void TestProvisionJob::takesLayoutSessionEndAsExpected_data()
{
    QTest::addColumn<QJsonObject>("changes");

    // A router that closes the session under the layout.
    QTest::newRow("session dropped") << QJsonObject{
        {QStringLiteral("session"), QJsonValue::Null},
        {QStringLiteral("faults"),
         QJsonArray{QJsonObject{{QStringLiteral("command"), QStringLiteral("port=8777")},
                                {QStringLiteral("drop"), true}}}}};
    // The new router with the computer on ether2: the layout takes the session's address and
    // port, and the session goes silent until the step's limit.
    QTest::newRow("session silent") << QJsonObject();
}

void TestProvisionJob::takesLayoutSessionEndAsExpected()
{
    QFETCH(QJsonObject, changes);

    QVERIFY(m_router.start(QStringLiteral("new-router"), changes));
    QVERIFY(startBilling(defaultLink(), 2));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, layoutOptions());
    WAIT_FOR_JOB_END(task, recorder, 150000);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.payload.value(QStringLiteral("message")).toString(),
             QString::fromLatin1(kSeenAfterLayout));
    QCOMPARE(recorder.payload.value(QStringLiteral("layout")).toBool(), true);
    const qsizetype layout = recorder.lines.indexOf(QString::fromLatin1(kLayoutLabel));
    QVERIFY(layout > 0);
    // The runner's own line, then the job's sentence; the layout is never called done.
    QCOMPARE(recorder.lines.mid(layout + 2),
             (QStringList{QString::fromLatin1(kSessionEnded),
                          QStringLiteral("Waiting for Quillmor to see the router on its new "
                                         "uplink (1/30)..."),
                          QString::fromLatin1(kSeenAfterLayout)}));
    QVERIFY(
        commandsFromLayout(m_router.commandsRun()).filter(QStringLiteral("wireguard")).isEmpty());
    QVERIFY(m_router.engine()->hasAddress(QStringLiteral("10.20.0.5")));
}

void TestProvisionJob::reportsLayoutRefusal()
{
    // The session survives, so the layout's own failure marker is read and reported.
    QVERIFY(m_router.start(
        QStringLiteral("new-router"),
        {{QStringLiteral("session"), QJsonValue::Null},
         {QStringLiteral("faults"),
          QJsonArray{
              QJsonObject{{QStringLiteral("command"), QStringLiteral("^/interface/ethernet/set")},
                          {QStringLiteral("error"), QStringLiteral("failure: not allowed")}}}}}));
    QVERIFY(startBilling(defaultLink()));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, layoutOptions());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    const QString error =
        QStringLiteral("Building the standard hotspot layout on this new router... failed.");
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), error);
    QCOMPARE(recorder.lines.last(), error);
    QVERIFY(recorder.payload.isEmpty());
    QVERIFY(recorder.lines.filter(QStringLiteral("Standard layout is on")).isEmpty());
    QCOMPARE(m_billing->requestsTo(QString::fromLatin1(kProvisionPath)).size(), 1);
}

void TestProvisionJob::refusedSeatLeavesRouterAsItWas()
{
    QVERIFY(m_router.start(QStringLiteral("new-router")));
    // Three of three seats in use.
    QVERIFY(startBilling(defaultLink(), 1, true, 3));
    const QStringList before = m_router.exportLines();
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, layoutOptions());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    const QString error = QStringLiteral("This account has no free router seats. Ask Quillmor for "
                                         "more WireGuard configurations.");
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), error);
    QVERIFY(recorder.lines.filter(QString::fromLatin1(kLayoutLabel)).isEmpty());
    // Only the new WireGuard interface differs; nothing of the layout ran. The export's
    // time stamp is no part of the router.
    const QStringList after = m_router.exportLines();
    QStringList added;
    for (const QString &line : after) {
        if (!before.contains(line) && !line.startsWith(QLatin1Char('#')))
            added << line;
    }
    QStringList removed;
    for (const QString &line : before) {
        if (!after.contains(line) && !line.startsWith(QLatin1Char('#')))
            removed << line;
    }
    QVERIFY2(removed.isEmpty(), qPrintable(removed.join(QLatin1Char('\n'))));
    // The interface, under its menu line when it is the router's first WireGuard interface.
    added.removeAll(QStringLiteral("/interface wireguard"));
    QCOMPARE(added.size(), 1);
    QVERIFY2(added.first().contains(QLatin1String("listen-port=13231")), qPrintable(added.first()));
    QVERIFY(commandsFromLayout(m_router.commandsRun()).isEmpty());
}

void TestProvisionJob::stopsWaitingAfterLayoutOnCancel()
{
    // Without a management path the layout's answer is read at once; the wait is the same.
    QVERIFY(m_router.start(QStringLiteral("new-router"),
                           {{QStringLiteral("session"), QJsonValue::Null}}));
    QVERIFY(startBilling(defaultLink(), 1, false));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    connect(&task, &RouterTask::logLine, this, [&task, &recorder](const QString &line) {
        if (line.contains(QLatin1String("new uplink")) && !recorder.sinceCancel.isValid()) {
            recorder.sinceCancel.start();
            task.requestCancel();
        }
    });
    startTowerProvision(task, layoutOptions());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    const QString message = QStringLiteral(
        "Stopped waiting. The standard layout was sent and the Quillmor link is on the router. "
        "Check the internet cable in port 1 (ether1-WAN), then check the router in Quillmor.");
    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.payload.value(QStringLiteral("online")).toBool(), false);
    QCOMPARE(recorder.payload.value(QStringLiteral("message")).toString(), message);
    QCOMPARE(recorder.lines.filter(QStringLiteral("new uplink")).size(), 1);
    QCOMPARE(recorder.lines.last(), message);
    QVERIFY2(recorder.resultAfterCancelMs >= 0 && recorder.resultAfterCancelMs < 2000,
             qPrintable(QString::number(recorder.resultAfterCancelMs)));
}

void TestProvisionJob::cancelWhileLayoutRunsKeepsTheLink()
{
    // With the management path the layout's session goes silent, so ssh would wait out the step's
    // whole limit; a cancel then must not report the sent layout and the saved link as a failure.
    QVERIFY(m_router.start(QStringLiteral("new-router")));
    QVERIFY(startBilling(defaultLink(), 1, false));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    connect(&task, &RouterTask::logLine, this, [&task, &recorder](const QString &line) {
        if (line != onboardStepLabel(OnboardStep::StandardLayout))
            return;
        // Well after ssh handed the script over on the loopback, well before the 60 s limit.
        QTimer::singleShot(3000, &recorder, [&task, &recorder] {
            recorder.sinceCancel.start();
            task.requestCancel();
        });
    });
    startTowerProvision(task, layoutOptions());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.errors.first(), QString());
    QVERIFY(recorder.lines.contains(QStringLiteral(
        "Stopped waiting for the router's answer to the standard layout. The router finishes it on "
        "its own; its checks cannot be read from here.")));
    QCOMPARE(recorder.payload.value(QStringLiteral("message")).toString(),
             QStringLiteral("Stopped waiting. The standard layout was sent and the Quillmor link is "
                            "on the router. Check the internet cable in port 1 (ether1-WAN), then "
                            "check the router in Quillmor."));
    QCOMPARE(recorder.payload.value(QStringLiteral("layout")).toBool(), true);
    QVERIFY(recorder.lines.filter(QStringLiteral("new uplink")).isEmpty());
    QVERIFY2(recorder.resultAfterCancelMs >= 0 && recorder.resultAfterCancelMs < 2000,
             qPrintable(QString::number(recorder.resultAfterCancelMs)));
    // The router has the layout, and the link it came after.
    const QStringList addresses = m_router.menuLines(QStringLiteral("/ip address"));
    QVERIFY(hasEntry(addresses, {QStringLiteral("address=172.16.0.1/")}));
    QVERIFY(!hasEntry(addresses, {QStringLiteral("address=192.168.88.1/")}));
    QVERIFY(hasEntry(addresses, {QStringLiteral("comment=quillmor-onboard")}));
}

void TestProvisionJob::replacesEarlierLink()
{
    // The service's login already exists on this router with an older password.
    const QJsonArray users{
        QJsonObject{{QStringLiteral("name"), QStringLiteral("admin")},
                    {QStringLiteral("password"), QString::fromLatin1(kRouterPassword)},
                    {QStringLiteral("group"), QStringLiteral("full")}},
        QJsonObject{{QStringLiteral("name"), QStringLiteral("quillmor-api")},
                    {QStringLiteral("password"), QStringLiteral("old-secret")},
                    {QStringLiteral("group"), QStringLiteral("read")}}};
    QVERIFY(m_router.start(QStringLiteral("earlier-link"), {{QStringLiteral("users"), users}}));
    QVERIFY(startBilling(defaultLink()));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(
        task, withOptions(newRouterOptions(), {{QStringLiteral("ifName"), QStringLiteral("wg-old")},
                                               {QStringLiteral("replace"), true},
                                               {QStringLiteral("fresh"), false},
                                               {QStringLiteral("apiDisabled"), true}}));
    WAIT_FOR_JOB_END(task, recorder, 90000);

    QCOMPARE(recorder.errors.first(), QString());
    QVERIFY(recorder.lines.contains(
        QStringLiteral("Router user quillmor-api now uses the password saved in Quillmor.")));
    QVERIFY(m_router.engine()->authenticate(QStringLiteral("quillmor-api"),
                                            QString::fromUtf8(kApiPassword)));

    const QStringList objects = linkObjects();
    QVERIFY2(!objects.join(QLatin1Char('\n')).contains(QLatin1String("HIgo9xNzJMWLKASShiTqIybx")),
             qPrintable(objects.join(QLatin1Char('\n'))));
    QCOMPARE(matching(objects, {QStringLiteral("listen-port=13231")}).size(), 1);
    QCOMPARE(matching(objects, {QStringLiteral("public-key=")}).size(), 1);
    QCOMPARE(matching(objects, {QStringLiteral("address=10.20.0.5/32")}).size(), 1);
    QCOMPARE(matching(objects, {QStringLiteral("dst-address=10.20.0.0/16")}).size(), 1);
    QCOMPARE(matching(objects, {QStringLiteral("chain=input")}).size(), 1);
    QCOMPARE(matching(objects, {QStringLiteral("address=198.51.100.23")}).size(), 1);
    // An existing user keeps its own comment.
    QCOMPARE(menuCount(QStringLiteral("/user"),
                       {QStringLiteral("name=quillmor-api"), QStringLiteral("group=full")}),
             1);
    QVERIFY(matching(objects, {QStringLiteral("name=quillmor-api")}).isEmpty());
}

void TestProvisionJob::refusesRouterNotReady_data()
{
    QTest::addColumn<QVariantMap>("changes");
    QTest::addColumn<QString>("error");

    const QString blocker = QStringLiteral("Interfaces named quillmor and qm-link are both in use. "
                                           "Rename one of them, then try again.");
    const QString notReady = QStringLiteral("This router is not ready for the Quillmor link.");
    QTest::newRow("blocked, no name")
        << QVariantMap{{QStringLiteral("ifName"), QString()}, {QStringLiteral("blocker"), blocker}}
        << blocker;
    QTest::newRow("name starts with digit")
        << QVariantMap{{QStringLiteral("ifName"), QStringLiteral("9wg")}} << notReady;
    QTest::newRow("name with command")
        << QVariantMap{{QStringLiteral("ifName"), QStringLiteral("wg; /system reboot")}}
        << notReady;
    QTest::newRow("not RouterOS 7")
        << QVariantMap{{QStringLiteral("ros7"), false}, {QStringLiteral("blocker"), blocker}}
        << blocker;
    QTest::newRow("ros7 missing") << QVariantMap{{QStringLiteral("ros7"), QVariant()}} << notReady;
}

void TestProvisionJob::refusesRouterNotReady()
{
    QFETCH(QVariantMap, changes);
    QFETCH(QString, error);

    QVERIFY(m_router.start(QStringLiteral("new-router")));
    QVERIFY(startBilling(defaultLink()));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, withOptions(newRouterOptions(), changes));
    WAIT_FOR_JOB_END(task, recorder, 60000);

    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), error);
    QCOMPARE(recorder.lines, (QStringList{QStringLiteral("Signing in to the router..."),
                                          QStringLiteral("Signed in.")}));
    QCOMPARE(changingCommands(), QStringList());
    QVERIFY(m_billing->requests().isEmpty());
}

void TestProvisionJob::rejectsAnswerItCannotUse_data()
{
    QTest::addColumn<QJsonObject>("changes");
    QTest::addColumn<QString>("message");

    const QJsonValue gone = QJsonValue::Null;
    const QString badEndpoint =
        QStringLiteral("Quillmor returned an endpoint this app does not understand.");
    QTest::newRow("router id as number") << QJsonObject{{QStringLiteral("router_id"), 42}}
                                         << QStringLiteral("Quillmor did not return a router id.");
    QTest::newRow("address with command")
        << QJsonObject{{QStringLiteral("interface_address"),
                        QStringLiteral("10.20.0.5/32 interface=ether1")}}
        << QStringLiteral("Quillmor returned an address this app does not understand.");
    QTest::newRow("key without final =")
        << QJsonObject{{QStringLiteral("server_public_key"),
                        QStringLiteral("UnrOR307pe/zrpDakhQNDPHKcOim1fGFJqKScRHpLKAx")}}
        << QStringLiteral("Quillmor returned a tunnel key this app does not understand.");
    QTest::newRow("port 70000") << QJsonObject{{QStringLiteral("endpoint_port"), 70000}}
                                << badEndpoint;
    QTest::newRow("port as text 0")
        << QJsonObject{{QStringLiteral("endpoint_port"), QStringLiteral("0")}} << badEndpoint;
    QTest::newRow("IPv6 host") << QJsonObject{{QStringLiteral("endpoint_host"),
                                               QStringLiteral("2001:db8::1")}}
                               << badEndpoint;
    QTest::newRow("no networks") << QJsonObject{{QStringLiteral("allowed_addresses"), QJsonArray()},
                                                {QStringLiteral("allowed_address"), gone}}
                                 << QStringLiteral("Quillmor did not return the tunnel networks.");
    QTest::newRow("blank network")
        << QJsonObject{{QStringLiteral("allowed_addresses"),
                        QJsonArray{QStringLiteral("10.20.0.0/16"), QStringLiteral(" ")}}}
        << QStringLiteral("Quillmor returned a network this app does not understand.");
}

void TestProvisionJob::rejectsAnswerItCannotUse()
{
    QFETCH(QJsonObject, changes);
    QFETCH(QString, message);

    QVERIFY(m_router.start(QStringLiteral("new-router")));
    QVERIFY(startBilling(defaultLink()));
    BillingSimOverride answer;
    answer.status = 200;
    answer.replaceBody = true;
    answer.body =
        QJsonDocument(with(with(defaultLink(), {{QStringLiteral("router_id"),
                                                 QStringLiteral("3ec86fbdf89aa34a5f95c699")}}),
                           changes))
            .toJson(QJsonDocument::Compact);
    m_billing->setOverride(QString::fromLatin1(kProvisionPath), answer);
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, newRouterOptions());
    WAIT_FOR_JOB_END(task, recorder, 60000);

    const QString error = message + QString::fromLatin1(kInterfaceLeft);
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), error);
    QCOMPARE(recorder.lines.last(), error);
    QCOMPARE(recorder.lines.at(recorder.lines.size() - 2),
             QStringLiteral("Asking Quillmor for the tunnel..."));
    // Only the interface is on the router; nothing from the answer reached it.
    QCOMPARE(linkObjects().size(), 1);
    QCOMPARE(matching(linkObjects(), {QStringLiteral("name=quillmor")}).size(), 1);
}

void TestProvisionJob::readsLooseAnswerAndAddsRuleWithoutPosition()
{
    // An empty filter list has no position 0 to put the rule before.
    QVERIFY(m_router.start(QStringLiteral("new-router"),
                           {{QStringLiteral("setup"),
                             QJsonArray{QStringLiteral("/ip firewall filter remove [find]\n")}}}));
    QVERIFY(startBilling(
        with(defaultLink(),
             {{QStringLiteral("endpoint_host"), QStringLiteral("vpn.quillmor.com ")},
              {QStringLiteral("endpoint_port"), QStringLiteral("500")},
              {QStringLiteral("keepalive"), 121},
              {QStringLiteral("allowed_addresses"), QStringLiteral("10.20.0.0/16, 10.30.0.0/16,")},
              {QStringLiteral("api_allow_from"), QJsonValue::Null}})));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, newRouterOptions());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.payload.value(QStringLiteral("endpoint")).toString(),
             QStringLiteral("vpn.quillmor.com:500"));
    const qsizetype firewall = recorder.lines.indexOf(
        QStringLiteral("Allowing the Quillmor link through the firewall..."));
    QVERIFY(firewall > 0);
    QVERIFY2(recorder.lines.at(firewall + 1).contains(QLatin1String("no such item")),
             qPrintable(recorder.lines.at(firewall + 1)));
    QCOMPARE(recorder.lines.at(firewall + 2),
             QStringLiteral("Allowing the Quillmor link through the firewall..."));
    QCOMPARE(recorder.lines.filter(QStringLiteral("Adding the route for")),
             (QStringList{QStringLiteral("Adding the route for 10.20.0.0/16..."),
                          QStringLiteral("Adding the route for 10.30.0.0/16...")}));

    QCOMPARE(menuCount(QStringLiteral("/ip firewall filter"),
                       {QStringLiteral("chain=input"), QStringLiteral("in-interface=quillmor")}),
             1);
    const QStringList peers = m_router.menuLines(QStringLiteral("/interface wireguard peers"));
    QCOMPARE(peers.size(), 1);
    for (const char *part : {"allowed-address=10.20.0.0/16,10.30.0.0/16", "endpoint-port=500",
                             "persistent-keepalive=25s", "endpoint-address=vpn.quillmor.com "})
        QVERIFY2(peers.first().contains(QLatin1String(part)), qPrintable(peers.first()));
    // Without api_allow_from the first tunnel network opens the API.
    QCOMPARE(m_router.routerSays(QStringLiteral(":put [/ip service get api address]")),
             QStringLiteral("10.20.0.0/16"));
}

void TestProvisionJob::linksWithoutUserWhenNoSafeNetwork()
{
    QVERIFY(m_router.start(QStringLiteral("new-router")));
    QVERIFY(startBilling(
        with(defaultLink(),
             {{QStringLiteral("allowed_addresses"), QJsonArray{QStringLiteral("0.0.0.0/0")}},
              {QStringLiteral("api_allow_from"), QStringLiteral("0.0.0.0/0")}})));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, newRouterOptions());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    const qsizetype firewall = recorder.lines.indexOf(
        QStringLiteral("Allowing the Quillmor link through the firewall..."));
    QCOMPARE(recorder.lines.mid(firewall + 1, 2),
             (QStringList{QStringLiteral("The tunnel is going in without a new management user. "
                                         "Quillmor did not send a safe login network."),
                          QStringLiteral("Adding the shared firewall rules...")}));
    QVERIFY(recorder.lines.filter(QStringLiteral("Adding the route")).isEmpty());
    QVERIFY(matching(m_router.menuLines(QStringLiteral("/user")), {QStringLiteral("quillmor-api")})
                .isEmpty());
    QVERIFY(!changingCommands().contains(QStringLiteral("/ip/service/set")));
    QCOMPARE(matching(linkObjects(), {QStringLiteral("address=198.51.100.23")}).size(), 1);
}

void TestProvisionJob::failsWithoutRouterLogin_data()
{
    QTest::addColumn<QJsonObject>("changes");
    QTest::addColumn<QString>("mgmtUser");

    QTest::newRow("no password") << QJsonObject{{QStringLiteral("api_password"), QJsonValue::Null}}
                                 << QStringLiteral("quillmor");
    QTest::newRow("blank password")
        << QJsonObject{{QStringLiteral("api_password"), QStringLiteral("   ")}}
        << QStringLiteral("quillmor");
    QTest::newRow("no valid user name anywhere")
        << QJsonObject{{QStringLiteral("api_username"), QStringLiteral("1admin")}}
        << QStringLiteral("2nd");
}

void TestProvisionJob::failsWithoutRouterLogin()
{
    QFETCH(QJsonObject, changes);
    QFETCH(QString, mgmtUser);

    QVERIFY(m_router.start(QStringLiteral("new-router")));
    QVERIFY(startBilling(with(defaultLink(), changes)));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task,
                        withOptions(newRouterOptions(), {{QStringLiteral("mgmtUser"), mgmtUser}}));
    WAIT_FOR_JOB_END(task, recorder, 90000);

    const QString error = QStringLiteral(
        "Quillmor did not send the MikroTik username and password saved on this account.");
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), error);
    QCOMPARE(recorder.lines.last(), error);
    QCOMPARE(m_router.menuLines(QStringLiteral("/interface wireguard peers")).size(), 1);
    QVERIFY(!changingCommands().contains(QStringLiteral("/user/add")));
    QVERIFY(!changingCommands().contains(QStringLiteral("/user/set")));
    QVERIFY(!changingCommands().contains(QStringLiteral("/ip/service/set")));
}

void TestProvisionJob::refusesUntrustedUserStep_data()
{
    QTest::addColumn<QJsonObject>("changes");
    QTest::addColumn<QJsonObject>("link");
    QTest::addColumn<QString>("error");

    // A router password cannot hold a line end; dropping it would lock the service out.
    QTest::newRow("line end in the password")
        << QJsonObject()
        << QJsonObject{{QStringLiteral("api_password"), QStringLiteral("first\nsecond")}}
        << QStringLiteral("The MikroTik password saved in Quillmor has a line break or another "
                          "control character, which a router password cannot hold. Change it in "
                          "Quillmor management, then try again.");
    // The router stopped the script with a text that is no RouterOS error phrase.
    QTest::newRow("user step without its marker")
        << QJsonObject{{QStringLiteral("faults"),
                        QJsonArray{
                            QJsonObject{{QStringLiteral("command"), QStringLiteral("^/user/add")},
                                        {QStringLiteral("error"), QStringLiteral("interrupted")}}}}}
        << QJsonObject()
        << QStringLiteral("The router did not confirm the management user, so the link was not "
                          "finished.");
}

void TestProvisionJob::refusesUntrustedUserStep()
{
    QFETCH(QJsonObject, changes);
    QFETCH(QJsonObject, link);
    QFETCH(QString, error);

    QVERIFY(m_router.start(QStringLiteral("new-router"), changes));
    QVERIFY(startBilling(with(defaultLink(), link)));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, newRouterOptions());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), error);
    QCOMPARE(recorder.lines.last(), error);
    QVERIFY(!changingCommands().contains(QStringLiteral("/ip/service/set")));
    QVERIFY(recorder.lines.filter(QStringLiteral("shared firewall")).isEmpty());
}

void TestProvisionJob::opensApiToTheLink_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QVariantMap>("changes");
    QTest::addColumn<QString>("apiAfter");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QJsonObject>("link");

    const QString opening = QStringLiteral("Opening the API on the Quillmor link...");
    QTest::newRow("restricted list extended")
        << QStringLiteral("api-restricted")
        << QVariantMap{{QStringLiteral("fresh"), false},
                       {QStringLiteral("apiAddress"),
                        QStringLiteral("192.168.88.0/24,10.9.0.0/16")}}
        << QStringLiteral("192.168.88.0/24;10.9.0.0/16;10.20.0.0/16") << opening << QString()
        << QJsonObject();
    QTest::newRow("network already listed")
        << QStringLiteral("new-router")
        << QVariantMap{{QStringLiteral("fresh"), false},
                       {QStringLiteral("apiAddress"), QStringLiteral("10.20.0.0/16")},
                       {QStringLiteral("apiDisabled"), true}}
        << QString() << opening << QString() << QJsonObject();
    // A longer network that merely contains the text of the tunnel's is another network.
    QTest::newRow("look-alike network")
        << QStringLiteral("new-router")
        << QVariantMap{{QStringLiteral("fresh"), false},
                       {QStringLiteral("apiAddress"), QStringLiteral("110.20.0.0/16")}}
        << QStringLiteral("110.20.0.0/16;10.20.0.0/16") << opening << QString() << QJsonObject();
    QTest::newRow("open service left alone")
        << QStringLiteral("new-router") << QVariantMap{{QStringLiteral("fresh"), false}}
        << QString()
        << QStringLiteral("The API service was already open, so its address list was left as it "
                          "is.")
        << QString() << QJsonObject();
    QTest::newRow("disabled service restricted")
        << QStringLiteral("new-router")
        << QVariantMap{{QStringLiteral("fresh"), false},
                       {QStringLiteral("apiDisabled"), true},
                       {QStringLiteral("apiAddress"), QStringLiteral(" 0.0.0.0/0 ")}}
        << QStringLiteral("10.20.0.0/16") << opening << QString() << QJsonObject();
    // The list goes back to the router as one value; text that would add arguments never does,
    // and the link is still finished.
    QTest::newRow("list with extra argument")
        << QStringLiteral("new-router")
        << QVariantMap{{QStringLiteral("fresh"), false},
                       {QStringLiteral("apiAddress"), QStringLiteral("192.168.88.0/24 port=1")}}
        << QString()
        << QStringLiteral("The API service's address list on this router could not be read "
                          "safely, so it was not changed.")
        << QString() << QJsonObject();
    QTest::newRow("list rebuilt from trimmed entries")
        << QStringLiteral("api-restricted")
        << QVariantMap{{QStringLiteral("fresh"), false},
                       {QStringLiteral("apiAddress"),
                        QStringLiteral(" 192.168.88.0/24 ,10.9.0.0/16,")}}
        << QStringLiteral("192.168.88.0/24;10.9.0.0/16;10.20.0.0/16") << opening << QString()
        << QJsonObject();
    // The service names the network it manages from; that, not a tunnel network, is let in.
    QTest::newRow("API network of the service's choice")
        << QStringLiteral("new-router") << QVariantMap{{QStringLiteral("fresh"), true}}
        << QStringLiteral("10.99.0.0/24") << opening << QString()
        << QJsonObject{{QStringLiteral("api_allow_from"), QStringLiteral("10.99.0.0/24")}};
}

void TestProvisionJob::opensApiToTheLink()
{
    QFETCH(QString, scenario);
    QFETCH(QVariantMap, changes);
    QFETCH(QString, apiAfter);
    QFETCH(QString, line);
    QFETCH(QString, error);
    QFETCH(QJsonObject, link);

    QVERIFY(m_router.start(scenario));
    const QString apiBefore =
        m_router.routerSays(QStringLiteral(":put [/ip service get api address]"));
    QVERIFY(startBilling(with(defaultLink(), link)));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    startTowerProvision(task, withOptions(newRouterOptions(), changes));
    WAIT_FOR_JOB_END(task, recorder, 90000);

    QCOMPARE(recorder.errors.first(), error);
    QCOMPARE(recorder.oks.first(), error.isEmpty());
    const qsizetype user = recorder.lines.indexOf(
        QStringLiteral("Router user quillmor-api was created from this Quillmor account."));
    QVERIFY(user > 0);
    QCOMPARE(recorder.lines.at(user + 1), error.isEmpty() ? line : error);
    QCOMPARE(m_router.routerSays(QStringLiteral(":put [/ip service get api address]")),
             apiAfter.isEmpty() ? apiBefore : apiAfter);
    QCOMPARE(m_router.routerSays(QStringLiteral(":put [/ip service get api port]")),
             QStringLiteral("8728"));
    QCOMPARE(changingCommands().contains(QStringLiteral("/ip/service/set")),
             line == QStringLiteral("Opening the API on the Quillmor link..."));
}

void TestProvisionJob::endsWaitWithoutConfirmation_data()
{
    QTest::addColumn<QJsonObject>("wireguard");
    QTest::addColumn<bool>("handshake");
    QTest::addColumn<QString>("message");

    QTest::newRow("handshake seen")
        << QJsonObject{{QStringLiteral("handshake"), true}, {QStringLiteral("afterSeconds"), 0}}
        << true
        << QStringLiteral("The tunnel is up. Quillmor has not confirmed it on the account yet. "
                          "Give it a minute, then check the router in Quillmor.");
    QTest::newRow("never a handshake")
        << QJsonObject{{QStringLiteral("handshake"), false},
                       {QStringLiteral("lastHandshakeBefore"), QStringLiteral("never")}}
        << false
        << QStringLiteral("The link is saved, but there is no WireGuard handshake yet. Keep the "
                          "router online. Its upstream must allow UDP to vpn.quillmor.com:51820.");
}

void TestProvisionJob::endsWaitWithoutConfirmation()
{
    QFETCH(QJsonObject, wireguard);
    QFETCH(bool, handshake);
    QFETCH(QString, message);

    QVERIFY(
        m_router.start(QStringLiteral("new-router"), {{QStringLiteral("wireguard"), wireguard}}));
    QVERIFY(startBilling(defaultLink(), 1, false));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    QElapsedTimer waited;
    connect(&task, &RouterTask::logLine, this, [&waited](const QString &line) {
        if (line == QLatin1String("Adding the shared firewall rules..."))
            waited.start();
    });
    startTowerProvision(task, newRouterOptions());
    WAIT_FOR_JOB_END(task, recorder, 120000);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.payload.value(QStringLiteral("online")).toBool(), false);
    QCOMPARE(recorder.payload.value(QStringLiteral("handshake")).toBool(), handshake);
    QCOMPARE(recorder.payload.value(QStringLiteral("message")).toString(), message);
    QStringList waiting;
    for (int attempt = 1; attempt <= 8; ++attempt)
        waiting << QStringLiteral("Waiting for Quillmor to see the router (%1/8)...").arg(attempt);
    waiting << message;
    QCOMPARE(recorder.lines.mid(recorder.lines.size() - 9), waiting);
    // Seven pauses of 4 s, none after the last attempt.
    QVERIFY2(waited.elapsed() >= 28000 && waited.elapsed() < 31000 + 8 * 2000,
             qPrintable(QString::number(waited.elapsed())));
    const QString routerId = recorder.payload.value(QStringLiteral("routerId")).toString();
    QCOMPARE(m_billing->requestsTo(QStringLiteral("/api/v1/desktop/routers/") + routerId).size(),
             8);
}

void TestProvisionJob::stopsWaitingOnCancel()
{
    QVERIFY(m_router.start(
        QStringLiteral("new-router"),
        {{QStringLiteral("wireguard"), QJsonObject{{QStringLiteral("handshake"), false}}}}));
    QVERIFY(startBilling(defaultLink(), 1, false));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    connect(&task, &RouterTask::logLine, this, [&task, &recorder](const QString &line) {
        if (line.startsWith(QLatin1String("Waiting for Quillmor")) &&
            !recorder.sinceCancel.isValid()) {
            recorder.sinceCancel.start();
            task.requestCancel();
        }
    });
    startTowerProvision(task, newRouterOptions());
    WAIT_FOR_JOB_END(task, recorder, 90000);

    const QString message = QStringLiteral(
        "Stopped waiting. The link is saved on the router. Leave the router online and check "
        "Quillmor.");
    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.payload.value(QStringLiteral("message")).toString(), message);
    QCOMPARE(recorder.payload.value(QStringLiteral("online")).toBool(), false);
    QCOMPARE(recorder.lines.filter(QStringLiteral("Waiting for Quillmor")).size(), 1);
    QCOMPARE(recorder.lines.last(), message);
    QVERIFY(recorder.resultAfterCancelMs < 8000);
}

void TestProvisionJob::cancelAbortsProvisionRequest()
{
    QVERIFY(m_router.start(QStringLiteral("new-router")));
    QVERIFY(startBilling(defaultLink()));
    BillingSimOverride slow;
    slow.delayMs = 25000;
    m_billing->setOverride(QStringLiteral("/api/v1/desktop/routers/provision"), slow);
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    connect(&task, &RouterTask::logLine, this, [&task, &recorder](const QString &line) {
        if (line == QLatin1String("Asking Quillmor for the tunnel...")) {
            recorder.sinceCancel.start();
            task.requestCancel();
        }
    });
    startTowerProvision(task, newRouterOptions());
    WAIT_FOR_JOB_END(task, recorder, 60000);

    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), QStringLiteral("Cancelled."));
    QVERIFY2(recorder.resultAfterCancelMs >= 0 && recorder.resultAfterCancelMs < 8000,
             qPrintable(QString::number(recorder.resultAfterCancelMs)));
}

QTEST_GUILESS_MAIN(TestProvisionJob)
#include "tst_provisionjob.moc"

#include "billingsim.h"
#include "router/layoutscripts.h"
#include "router/routertask.h"
#include "routersim.h"
#include "ssh/sshclient.h"
#include "ui/mainwindow.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const char kApiKey[] = "router-flow-key";
const char kRouterUser[] = "admin";
const char kRouterPassword[] = "fieldpass";
const char kOfficeRouterId[] = "3ec86fbdf89aa34a5f95c699";
const char kStationId[] = "92f0958d3cd09fcb3f4c5262";
constexpr int kJobWaitMs = 40000;
constexpr int kOnboardWaitMs = 120000;
// The router password the service's link answer carries.
const char kServicePassword[] = "Api-Pass-2024";
// A run that ends with the standard layout waits for the router's session to end.
constexpr int kFullSetupWaitMs = 150000;

QJsonObject account(const char *number, int limit, bool withLogin)
{
    QJsonObject object{{QStringLiteral("number"), QLatin1String(number)},
                       {QStringLiteral("code"), QStringLiteral("123456")},
                       {QStringLiteral("isp_name"), QStringLiteral("Riverside Community Net")},
                       {QStringLiteral("routers_used"), 1}};
    if (limit >= 0)
        object.insert(QStringLiteral("router_limit"), limit);
    if (withLogin) {
        object.insert(QStringLiteral("mikrotik_username"), QStringLiteral("quillmor"));
        object.insert(QStringLiteral("mikrotik_password"), QStringLiteral("Demo-Router-Pass-2024"));
    }
    object.insert(QStringLiteral("stations"),
                  QJsonArray{QJsonObject{{QStringLiteral("id"), QLatin1String(kStationId)},
                                         {QStringLiteral("name"), QStringLiteral("Main Street")}}});
    object.insert(QStringLiteral("routers"),
                  QJsonArray{QJsonObject{{QStringLiteral("id"), QLatin1String(kOfficeRouterId)},
                                         {QStringLiteral("name"), QStringLiteral("Office router")}}});
    return object;
}

// The lines of one export section ("/ip dhcp-client"), continuation lines joined.
QStringList exportSection(const QString &exported, const QString &section)
{
    QString text = exported;
    text.replace(QRegularExpression(QStringLiteral("\\\\\\r?\\n\\s*")), QString());
    QStringList lines;
    bool inside = false;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1Char('/')))
            inside = trimmed == section;
        else if (inside && !trimmed.isEmpty())
            lines << trimmed;
    }
    return lines;
}

bool mentionsEther1(const QStringList &lines)
{
    static const QRegularExpression ether1(QStringLiteral("\\binterface=ether1(\\s|$)"));
    for (const QString &line : lines) {
        if (ether1.match(line).hasMatch())
            return true;
    }
    return false;
}

} // namespace

// The real window against the billing and router simulators: connecting, the review of each kind
// of router, the router internet runs and cancelling a run.
class TestRouterFlow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void reviewOfRouter_data();
    void reviewOfRouter();
    void wanRunChangesRouter_data();
    void wanRunChangesRouter();
    void cancelDuringRunAndNoSignOut();
    void closingDuringRunWaitsForWorker();
    // On an account of their own, so that their routers stand in no other test's list.
    void refusesPppoeLoginItWouldChange();
    void showCommandsListsTheRunWithoutSendingIt();
    void fullSetupEndsLinkedThroughTheService();
    void wireGuardOnlyLeavesRouterInUseAsItIs();
    void fullSetupQuestionDefaultsToNo();
    void onboardStaysReadyAfterHotspotCard_data();
    void onboardStaysReadyAfterHotspotCard();
    // Changes the account's saved routers, so it runs last.
    void loginPageGoesOnlyToConfirmedRouter();

private:
    [[nodiscard]] static QString scenarioPath(const QString &name);
    [[nodiscard]] bool startRouter(const QString &scenario);
    void signIn(const QByteArray &number);
    void connectRouter(bool newRouterMode);

    BillingSim m_billing;
    QTemporaryDir m_dir;
    std::unique_ptr<RouterSim> m_router;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_questions;
    QStringList m_questionTexts;
    QList<QStringList> m_choices; // the items of every pick
    int m_pick = 0;
};

QString TestRouterFlow::scenarioPath(const QString &name)
{
    return QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR"))
        .filePath(QStringLiteral("tools/routeros-sim/scenarios/%1.json").arg(name));
}

void TestRouterFlow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The simulated router gets a new host key each run, and a port of an earlier run may come
    // back: a known_hosts left from then would make ssh refuse the key.
    QFile::remove(sshKnownHostsPath());
    const QJsonObject scenario{
        {QStringLiteral("api_key"), QLatin1String(kApiKey)},
        {QStringLiteral("link"),
         QJsonObject{{QStringLiteral("interface_address"), QStringLiteral("10.20.0.5/32")},
                     {QStringLiteral("server_public_key"),
                      QStringLiteral("UnrOR307pe/zrpDakhQNDPHKcOim1fGFJqKScRHpLKA=")},
                     {QStringLiteral("endpoint_host"), QStringLiteral("vpn.quillmor.com")},
                     {QStringLiteral("endpoint_port"), 51820},
                     {QStringLiteral("allowed_addresses"), QJsonArray{QStringLiteral("10.20.0.0/16")}},
                     {QStringLiteral("keepalive"), 25},
                     {QStringLiteral("api_username"), QStringLiteral("quillmor-api")},
                     {QStringLiteral("api_password"), QStringLiteral("Api-Pass-2024")},
                     {QStringLiteral("api_allow_from"), QStringLiteral("10.20.0.0/16")}}},
        {QStringLiteral("accounts"),
         QJsonArray{account("100200", 3, true), account("100201", -1, true),
                    account("100205", 3, false), account("100210", 5, true)}}};
    QString error;
    QVERIFY2(m_billing.start(scenario, 0, &error), qPrintable(error));
    qputenv("QUILLMOR_BASE_URL", m_billing.baseUrl().toUtf8());
    qputenv("QUILLMOR_API_KEY", kApiKey);

    // The bridged router again, with a PPPoE server upstream, so that a PPPoE run can succeed.
    QFile plain(scenarioPath(QStringLiteral("no-internet-bridged")));
    QVERIFY(plain.open(QIODevice::ReadOnly));
    QJsonObject pppoe = QJsonDocument::fromJson(plain.readAll()).object();
    pppoe.insert(QStringLiteral("export"),
                 QFileInfo(plain.fileName()).dir().filePath(QStringLiteral("no-internet-bridged.rsc")));
    QJsonObject upstream = pppoe.value(QStringLiteral("upstream")).toObject();
    upstream.insert(QStringLiteral("pppoe"),
                    QJsonObject{{QStringLiteral("user"), QStringLiteral("line-42")},
                                {QStringLiteral("password"), QStringLiteral("pp$secret")}});
    pppoe.insert(QStringLiteral("upstream"), upstream);
    QFile out(m_dir.filePath(QStringLiteral("pppoe-upstream.json")));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QJsonDocument(pppoe).toJson());

    // The same router behind a line that blocks ping but lets HTTPS through.
    QJsonObject httpsOnly = pppoe;
    httpsOnly.insert(QStringLiteral("upstream"),
                     QJsonObject{{QStringLiteral("dhcp"), true},
                                 {QStringLiteral("internet"), false},
                                 {QStringLiteral("serviceHttps"), true}});
    QFile httpsOut(m_dir.filePath(QStringLiteral("https-only.json")));
    QVERIFY(httpsOut.open(QIODevice::WriteOnly));
    httpsOut.write(QJsonDocument(httpsOnly).toJson());
}

void TestRouterFlow::init()
{
    m_questions.clear();
    m_questionTexts.clear();
    m_choices.clear();
    m_pick = 0;
    m_billing.clearRequests();
    m_window = std::make_unique<MainWindow>();
    m_window->setChooseFunction(
        [this](QWidget *, const QString &, const QString &, const QStringList &items) {
            m_choices << items;
            return m_pick;
        });
    m_window->setAskFunction([this](QWidget *, const QString &title, const QString &text) {
        m_questions << title;
        m_questionTexts << text;
        return QMessageBox::Yes;
    });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestRouterFlow::cleanup()
{
    m_window.reset();
    m_router.reset();
}

bool TestRouterFlow::startRouter(const QString &scenario)
{
    const QString path = scenario.endsWith(QLatin1String(".json")) ? scenario
                                                                   : scenarioPath(scenario);
    m_router = std::make_unique<RouterSim>();
    QString error;
    if (!m_router->start(path, m_dir.filePath(QStringLiteral("host_key")), 0, &error)) {
        qWarning("router simulator: %s", qPrintable(error));
        return false;
    }
    return true;
}

void TestRouterFlow::signIn(const QByteArray &number)
{
    MainWindow &w = *m_window;
    w.m_accountEdit->setText(QString::fromLatin1(number));
    w.m_sendCodeButton->click();
    w.m_codeEdit->setText(QStringLiteral("123456"));
    w.m_signInButton->click();
    QCOMPARE(w.m_currentPage, 1);
    w.m_onboardHomeButton->click();
    QCOMPARE(w.m_currentPage, 2);
}

void TestRouterFlow::connectRouter(bool newRouterMode)
{
    MainWindow &w = *m_window;
    (newRouterMode ? w.m_newRouterRadio : w.m_inUseRadio)->setChecked(true);
    w.m_hostEdit->setText(QStringLiteral("127.0.0.1"));
    w.m_portSpin->setValue(m_router->port());
    // The simulated routers only know their admin login, also the ones "in use".
    w.m_userEdit->setText(QLatin1String(kRouterUser));
    w.m_passwordEdit->setText(QLatin1String(kRouterPassword));
    QTest::keyClick(w.m_passwordEdit, Qt::Key_Return);
    QCOMPARE(w.m_currentPage, 4);
    QCOMPARE(w.m_progressTitle->text(), QStringLiteral("Connecting to the router..."));
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
}

void TestRouterFlow::reviewOfRouter_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QByteArray>("account");
    QTest::addColumn<bool>("newRouterMode");
    QTest::addColumn<QStringList>("lines"); // the whole review, line by line
    QTest::addColumn<bool>("onboard");
    QTest::addColumn<QString>("error");

    const QString seats = QStringLiteral("WireGuard configs: 1 of 3. A new one is refused once "
                                         "that count is full.");
    const QString freshFull = QStringLiteral("The full setup is selected. This router looks "
                                             "unused, so the WireGuard link will be added, then "
                                             "the standard layout will be built.");
    const QString wgOnly = QStringLiteral("WireGuard only is selected. DHCP, addresses, bridges, "
                                          "hotspot, and customers stay as they are.");
    const QString replace = QStringLiteral("An Quillmor link is already here. That link will be "
                                           "replaced. Everything else stays.");
    const QString added = QStringLiteral("What gets added:");
    const QString path = QStringLiteral("- A private path to Quillmor");
    const QString rule = QStringLiteral("- One firewall rule so that path is allowed in");
    const QString user = QStringLiteral("- User quillmor, using the username and password saved "
                                        "in Quillmor. Winbox from the LAN stays allowed.");
    const QString shared = QStringLiteral("- Firewall rules for the blocked VPN address, "
                                          "disconnected clients, and hotspot DNS");
    const QStringList fullTail{QStringLiteral("On this new router only:"),
                               QStringLiteral("- After the link is in, DHCP servers and IP "
                                              "addresses are removed"),
                               QStringLiteral("- Bridge-Network on ports 2 to 5, address "
                                              "172.16.0.1/16"),
                               QStringLiteral("- Port 1 renamed to ether1-WAN, with a DHCP client"),
                               QStringLiteral("- Hotspot, PPPoE server, and the expiry pool"),
                               QStringLiteral("- API stays on for Quillmor. FTP and telnet are "
                                              "turned off."),
                               QStringLiteral("- This computer then loses its connection to the "
                                              "router. The router is managed through Quillmor.")};
    const QStringList onlyTail{
        QStringLiteral("Hotspot, PPPoE, queues, and port names stay as they are."),
        QStringLiteral("The router is not factory reset.")};
    const QString wg = QStringLiteral("- WireGuard interface quillmor");
    const QString mikrotik = QStringLiteral("Router: MikroTik");
    const QString hex = QStringLiteral("Model: RB750Gr3");
    const QString ros7 = QStringLiteral("RouterOS: 7.14.3");
    const QString online = QStringLiteral("Internet: working");

    QTest::newRow("fresh router")
        << "new-router" << QByteArray("100200") << true
        << QStringList{mikrotik, hex, ros7, online, seats, freshFull, QString(), added, wg, path,
                       rule, user, shared, QString()} + fullTail
        << true << QString();
    QTest::newRow("router in use")
        << "in-use" << QByteArray("100200") << false
        << QStringList{QStringLiteral("Router: cafe-main"), hex, ros7, online, seats, wgOnly,
                       QString(), added, wg, path, rule, user, shared, QString()} + onlyTail
        << true << QString();
    // Neither RouterOS 6 nor two taken names give an interface name, so that line is left out.
    QTest::newRow("RouterOS 6")
        << "ros6" << QByteArray("100200") << true
        << QStringList{mikrotik, QStringLiteral("Model: RB951Ui-2HnD"),
                       QStringLiteral("RouterOS: 6.49.10"), online, seats, wgOnly, QString(),
                       added, path, rule, user, shared, QString()} + onlyTail
        << false
        << "WireGuard needs RouterOS 7. This router is running 6.49.10. Upgrade it, then run this "
           "setup again. Nothing was changed.";
    QTest::newRow("both names taken")
        << "names-taken" << QByteArray("100200") << true
        << QStringList{mikrotik, hex, ros7, online, seats, freshFull, QString(), added, path, rule,
                       user, shared, QString()} + fullTail
        << false
        << "Interfaces named quillmor and qm-link are both in use. Rename one of them, then try "
           "again.";
    QTest::newRow("earlier link")
        << "earlier-link" << QByteArray("100200") << false
        << QStringList{mikrotik, hex, ros7, online, seats, wgOnly, replace, QString(), added,
                       QStringLiteral("- WireGuard interface wg-old"), path, rule, user, shared,
                       QString()} + onlyTail
        << true << QString();
    // The account has no login to replace the inspected user with, so the router's own stays.
    QTest::newRow("no MikroTik login on the account")
        << "new-router" << QByteArray("100205") << true
        << QStringList{mikrotik, hex, ros7, online, seats, freshFull, QString(), added, wg, path,
                       rule, user, shared, QString()} + fullTail
        << false
        << "This Quillmor account has no MikroTik username or password. Add them in Quillmor "
           "management, then sign in again.";
    QTest::newRow("no model")
        << "chr" << QByteArray("100200") << false
        << QStringList{QStringLiteral("Router: chr-lab"), ros7, online, seats, wgOnly, QString(),
                       added, wg, path, rule, user, shared, QString()} + onlyTail
        << true << QString();
    QTest::newRow("no limit reported")
        << "new-router" << QByteArray("100201") << true
        << QStringList{mikrotik, hex, ros7, online, freshFull, QString(), added, wg, path, rule,
                       user, shared, QString()} + fullTail
        << true << QString();
}

void TestRouterFlow::reviewOfRouter()
{
    QFETCH(QString, scenario);
    QFETCH(QByteArray, account);
    QFETCH(bool, newRouterMode);
    QFETCH(QStringList, lines);
    QFETCH(bool, onboard);
    QFETCH(QString, error);

    QVERIFY(startRouter(scenario));
    signIn(account);
    connectRouter(newRouterMode);
    MainWindow &w = *m_window;
    QVERIFY2(w.m_currentPage == 3, qPrintable(w.m_connectError->text()));

    QCOMPARE(w.m_reviewText->text().split(QLatin1Char('\n')), lines);
    QCOMPARE(w.m_provisionButton->isEnabled(), onboard);
    QCOMPARE(w.m_reviewError->text(), error);
    QVERIFY(!w.m_internetCard->isVisibleTo(&w));
    // The full setup is offered by default only to a new router that looks unused.
    QCOMPARE(w.m_fullSetupRadio->isChecked(),
             lines.contains(QStringLiteral("On this new router only:")));
    QCOMPARE(w.m_fullSetupRadio->isChecked(),
             newRouterMode && w.m_facts.value(QStringLiteral("fresh")).toBool());
    QCOMPARE(w.m_routerNameEdit->text(), lines.first().mid(int(qstrlen("Router: "))));
    // Nothing of this was written to the router.
    QVERIFY(m_questions.isEmpty());
}

void TestRouterFlow::wanRunChangesRouter_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<bool>("viaPppoe");
    QTest::addColumn<bool>("keepBridge"); // the facts say port 1 is not bridged: no split
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("question");
    QTest::newRow("split DHCP") << "no-internet-bridged" << false << false
                                << "Move port 1 out of the LAN and use DHCP"
                                << "This removes port 1 from the LAN";
    QTest::newRow("split DHCP, ping blocked") << "https-only.json" << false << false
                                              << "Move port 1 out of the LAN and use DHCP"
                                              << "This removes port 1 from the LAN";
    QTest::newRow("split PPPoE") << "pppoe-upstream.json" << true << false
                                 << "Move port 1 out of the LAN and use PPPoE"
                                 << "This removes port 1 from the LAN";
    QTest::newRow("PPPoE, port 1 stays") << "pppoe-upstream.json" << true << true
                                         << "Use PPPoE on port 1"
                                         << "This changes the internet client on port 1.";
}

void TestRouterFlow::wanRunChangesRouter()
{
    QFETCH(QString, scenario);
    QFETCH(bool, viaPppoe);
    QFETCH(bool, keepBridge);
    QFETCH(QString, button);
    QFETCH(QString, question);

    QVERIFY(startRouter(scenario.endsWith(QLatin1String(".json")) ? m_dir.filePath(scenario)
                                                                  : scenario));
    signIn("100200");
    connectRouter(true);
    MainWindow &w = *m_window;
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(w.m_internetCard->isVisibleTo(&w));
    QVERIFY(!w.m_provisionButton->isEnabled());
    QVERIFY(mentionsEther1(exportSection(m_router->engine()->exportState(),
                                         QStringLiteral("/interface bridge port"))));
    if (keepBridge) {
        w.m_facts.insert(QStringLiteral("ether1Bridged"), false);
        w.buildReview();
    }

    QPushButton *run = viaPppoe ? w.m_pppoeButton : w.m_dhcpButton;
    QCOMPARE(run->text(), button);
    if (viaPppoe) {
        w.m_pppoeUserEdit->setText(QStringLiteral("line-42"));
        w.m_pppoePasswordEdit->setText(QStringLiteral("pp$secret"));
    }
    run->click();
    QCOMPARE(m_questions, QStringList{QStringLiteral("Change port 1?")});
    QVERIFY2(m_questionTexts.first().startsWith(question), qPrintable(m_questionTexts.first()));
    QCOMPARE(w.m_currentPage, 4);
    QCOMPARE(w.m_progressTitle->text(), QStringLiteral("Setting the router internet..."));
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QCOMPARE(w.m_currentPage, 3);

    const QString exported = m_router->engine()->exportState();
    if (viaPppoe)
        QVERIFY2(mentionsEther1(exportSection(exported, QStringLiteral("/interface pppoe-client"))),
                 qPrintable(exported));
    else
        QVERIFY2(mentionsEther1(exportSection(exported, QStringLiteral("/ip dhcp-client"))),
                 qPrintable(exported));
    QCOMPARE(mentionsEther1(exportSection(exported, QStringLiteral("/interface bridge port"))),
             keepBridge);

    // The review is rebuilt from the job's answer.
    const bool internet = w.m_facts.value(QStringLiteral("internet")).toBool();
    QVERIFY(w.m_reviewText->text().contains(internet ? QLatin1String("Internet: working")
                                                     : QLatin1String("Internet: not working")));
    QCOMPARE(w.m_provisionButton->isEnabled(), internet);
    QCOMPARE(w.m_internetCard->isVisibleTo(&w), !internet);
    if (!keepBridge)
        QVERIFY2(internet, qPrintable(w.m_reviewError->text()));
}

void TestRouterFlow::cancelDuringRunAndNoSignOut()
{
    QVERIFY(startRouter(QStringLiteral("new-router")));
    signIn("100200");
    MainWindow &w = *m_window;
    w.m_hostEdit->setText(QStringLiteral("127.0.0.1"));
    w.m_portSpin->setValue(m_router->port());
    w.m_passwordEdit->setText(QLatin1String(kRouterPassword));
    w.m_connectButton->click();
    QVERIFY(w.m_busy);

    QVERIFY(!w.m_signOutButton->isEnabled());
    w.onSignOut();
    QCOMPARE(w.m_profile.accountNumber, QStringLiteral("100200"));
    QCOMPARE(w.m_currentPage, 4);

    w.m_progressButton->click();
    QVERIFY(!w.m_progressButton->isEnabled());
    w.m_progressButton->click();
    QCOMPARE(w.m_log->toPlainText().count(QLatin1String("Cancel requested.")), 1);
    QCOMPARE(w.m_currentPage, 4);

    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QVERIFY(w.m_progressButton->isEnabled());
    QVERIFY(w.m_signOutButton->isEnabled());
    // Cancelled in time the run ends on the connect page with the reason; a run that was already
    // past its last check ends on the review as usual.
    if (w.m_currentPage == 2) {
        QVERIFY(!w.m_connectError->text().isEmpty());
        // Stopping on request is not an error, so it is not shown in the error colour.
        if (w.m_connectError->text() == QLatin1String("Cancelled."))
            QCOMPARE(w.m_connectError->styleSheet(), QStringLiteral("color: #4b5b68;"));
    } else
        QCOMPARE(w.m_currentPage, 3);
}

void TestRouterFlow::closingDuringRunWaitsForWorker()
{
    QVERIFY(startRouter(QStringLiteral("new-router")));
    signIn("100200");
    MainWindow &w = *m_window;
    w.m_hostEdit->setText(QStringLiteral("127.0.0.1"));
    w.m_portSpin->setValue(m_router->port());
    w.m_passwordEdit->setText(QLatin1String(kRouterPassword));
    w.m_connectButton->click();
    QPointer<RouterTask> worker = w.m_worker;
    QVERIFY(worker->isRunning());
    QElapsedTimer clock;
    clock.start();
    // Destroying a running QThread aborts the process, so getting past this line is the test.
    m_window.reset();
    QVERIFY(worker.isNull());
    QVERIFY(clock.elapsed() < 20000);
}

void TestRouterFlow::refusesPppoeLoginItWouldChange()
{
    QVERIFY(startRouter(QStringLiteral("no-internet-bridged")));
    signIn("100210");
    connectRouter(true);
    MainWindow &w = *m_window;
    QCOMPARE(w.m_currentPage, 3);
    const qsizetype commands = m_router->engine()->commandLog().size();
    // Blanks around the name would have been cut off on the way to the router.
    w.m_pppoeUserEdit->setText(QStringLiteral(" line-42 "));
    w.m_pppoePasswordEdit->setText(QStringLiteral("pp$secret"));
    w.m_pppoeButton->click();
    QCOMPARE(w.m_reviewError->text(),
             QStringLiteral("The PPPoE username has a blank at its start or end, or a line break "
                            "or tab. Type it exactly as the internet provider gave it."));
    QVERIFY(m_questions.isEmpty());
    QCOMPARE(w.m_currentPage, 3);
    QCOMPARE(m_router->engine()->commandLog().size(), commands);
}

void TestRouterFlow::showCommandsListsTheRunWithoutSendingIt()
{
    QVERIFY(startRouter(QStringLiteral("new-router")));
    signIn("100210");
    connectRouter(true);
    MainWindow &w = *m_window;
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(w.m_fullSetupRadio->isChecked());
    const qsizetype commands = m_router->engine()->commandLog().size();
    m_billing.clearRequests();

    w.m_showCommandsButton->click();
    auto *dialog = w.findChild<QDialog *>(QStringLiteral("commandsWindow"));
    QVERIFY(dialog);
    auto *view = dialog->findChild<QPlainTextEdit *>(QStringLiteral("commandsText"));
    QVERIFY(view && view->isReadOnly());
    const QString shown = view->toPlainText();
    // The layout goes last, exactly as the job builds it, after the link's steps.
    QVERIFY2(shown.endsWith(
                 buildBaseLayoutScript(w.m_profile.hotspotDns) +
                 QStringLiteral("\n\nWaiting for Quillmor to see the router. This computer has "
                                "no path to the router any more, so nothing else is sent to it.")),
             qPrintable(shown));
    QVERIFY(shown.indexOf(QLatin1String("Adding the shared firewall rules...")) <
            shown.indexOf(QLatin1String("Building the standard hotspot layout")));
    QVERIFY(
        shown.contains(QLatin1String("address=<tunnel address from Quillmor> interface=quillmor")));
    QVERIFY(shown.contains(QLatin1String("password=\"***\"")));
    QVERIFY(!shown.contains(w.m_profile.mikrotikPassword));
    QVERIFY(!shown.contains(QLatin1String(kRouterPassword)));

    // WireGuard only: no layout, and the handshake reading closes the run.
    dialog->close();
    w.m_wireguardOnlyRadio->setChecked(true);
    w.m_showCommandsButton->click();
    QTRY_COMPARE(w.findChildren<QDialog *>(QStringLiteral("commandsWindow")).size(), 1);
    const QString only = w.findChild<QDialog *>(QStringLiteral("commandsWindow"))
                             ->findChild<QPlainTextEdit *>(QStringLiteral("commandsText"))
                             ->toPlainText();
    QVERIFY(!only.contains(QLatin1String("/ip hotspot remove")));
    QVERIFY(only.contains(QLatin1String("last-handshake")));

    // Nothing went to the router or the service to build either list.
    QCOMPARE(m_router->engine()->commandLog().size(), commands);
    QVERIFY(m_billing.requestsTo(QStringLiteral("/api/v1/desktop/routers/provision")).isEmpty());
}

void TestRouterFlow::fullSetupEndsLinkedThroughTheService()
{
    QVERIFY(startRouter(QStringLiteral("new-router")));
    signIn("100210");
    connectRouter(true);
    MainWindow &w = *m_window;
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(w.m_fullSetupRadio->isChecked());
    w.m_provisionButton->click();
    QCOMPARE(m_questions, QStringList{QStringLiteral("Build the full setup?")});
    QVERIFY2(m_questionTexts.first().contains(QLatin1String(
                 "This computer then loses its connection to the router, and the router is "
                 "managed through Quillmor.")),
             qPrintable(m_questionTexts.first()));
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kFullSetupWaitMs);
    QVERIFY2(w.m_currentPage == 5, qPrintable(w.m_progressTitle->text()));
    QCOMPARE(w.m_doneTitle->text(), QStringLiteral("Quillmor can see this router"));
    // The simulated router cut this computer's path under the layout, as a real one does.
    QVERIFY(w.m_log->toPlainText().contains(
        QLatin1String("The router stopped answering this computer once the layout took its old "
                      "address away, as expected.")));
    QVERIFY2(w.m_doneText->text().startsWith(QLatin1String(
                 "Quillmor can see this router. It is now reached through Quillmor. This computer "
                 "is on the new hotspot network")),
             qPrintable(w.m_doneText->text()));

    // Layout and link together on the router.
    const QString exported = m_router->engine()->exportState();
    QCOMPARE(exportSection(exported, QStringLiteral("/interface bridge port"))
                 .filter(QStringLiteral("bridge=Bridge-Network"))
                 .size(),
             4);
    const QStringList addresses = exportSection(exported, QStringLiteral("/ip address"));
    QCOMPARE(addresses.filter(QStringLiteral("address=172.16.0.1/16")).size(), 1);
    QCOMPARE(addresses.filter(QStringLiteral("address=10.20.0.5/32")).size(), 1);
    QCOMPARE(exportSection(exported, QStringLiteral("/interface wireguard peers")).size(), 1);
    QCOMPARE(exportSection(exported, QStringLiteral("/ip route"))
                 .filter(QStringLiteral("dst-address=10.20.0.0/16"))
                 .size(),
             1);
    QVERIFY(!exportSection(exported, QStringLiteral("/ip firewall filter"))
                 .filter(QStringLiteral("in-interface=quillmor"))
                 .isEmpty());
    QCOMPARE(exportSection(exported, QStringLiteral("/ip firewall address-list"))
                 .filter(QStringLiteral("blocked-vpn-servers"))
                 .size(),
             1);
    QVERIFY(m_router->engine()->authenticate(QStringLiteral("quillmor-api"),
                                             QLatin1String(kServicePassword)));
    const QStringList services = exportSection(exported, QStringLiteral("/ip service"));
    QVERIFY2(!services.filter(QStringLiteral("address=10.20.0.0/16")).isEmpty(),
             qPrintable(services.join(QLatin1Char('\n'))));

    // The layout is the last script the router got.
    QStringList run;
    const QJsonArray log = m_router->engine()->commandLog();
    for (const QJsonValue &entry : log) {
        const QJsonObject o = entry.toObject();
        run << o.value(QStringLiteral("path")).toString() + QLatin1Char('/') +
                   o.value(QStringLiteral("verb")).toString();
    }
    const qsizetype layout = run.indexOf(QStringLiteral("/ip/hotspot/remove"));
    QVERIFY(layout > 0);
    QVERIFY(run.mid(layout).filter(QStringLiteral("wireguard")).isEmpty());
    QVERIFY(run.mid(0, layout).contains(QStringLiteral("/interface/wireguard/peers/add")));

    // This computer has no path to the router any more: the login page goes through the service
    // only, and a failed install does not send the operator to the router's address.
    QVERIFY(!w.hasLocalLogin());
    BillingSimOverride refused;
    refused.status = 502;
    refused.replaceBody = true;
    refused.body = QByteArrayLiteral(R"({"message":"The router did not answer Quillmor."})");
    m_billing.setOverride(
        QStringLiteral("/api/v1/desktop/routers/%1/hotspot-install").arg(w.m_savedRouterId),
        refused);
    w.m_stationList->clear();
    w.m_stationList->addItem(QStringLiteral("Main"), QStringLiteral("0123456789abcdef01234567"));
    const qsizetype commands = m_router->engine()->commandLog().size();
    w.onInstallHotspot();
    m_billing.clearOverrides();
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QCOMPARE(w.m_hotspotNote->text(),
             QStringLiteral("The router did not answer Quillmor.\n\nAfter the full setup only "
                            "Quillmor reaches this router. Check that Quillmor shows it online, "
                            "then try again."));
    QCOMPARE(m_router->engine()->commandLog().size(), commands);
}

void TestRouterFlow::wireGuardOnlyLeavesRouterInUseAsItIs()
{
    QVERIFY(startRouter(QStringLiteral("in-use")));
    signIn("100210");
    connectRouter(false);
    MainWindow &w = *m_window;
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(w.m_wireguardOnlyRadio->isChecked());
    const QStringList hotspotBefore =
        exportSection(m_router->engine()->exportState(), QStringLiteral("/ip hotspot"));
    w.m_provisionButton->click();
    QVERIFY(m_questions.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kFullSetupWaitMs);
    QVERIFY2(w.m_currentPage == 5, qPrintable(w.m_progressTitle->text()));
    QVERIFY(w.m_doneText->text().startsWith(QLatin1String("Quillmor can see this router.\n\n")));
    QCOMPARE(exportSection(m_router->engine()->exportState(), QStringLiteral("/ip hotspot")),
             hotspotBefore);
    QVERIFY(!w.m_log->toPlainText().contains(QLatin1String("standard hotspot layout")));
    QVERIFY(w.hasLocalLogin());
}

void TestRouterFlow::fullSetupQuestionDefaultsToNo()
{
    // The window's own question box, not the test's answer.
    MainWindow window;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QTimer::singleShot(0, this, [&defaultButton] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        defaultButton = box->standardButton(box->defaultButton());
        box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(window.confirm(QStringLiteral("Build the full setup?"), QStringLiteral("Sure?")));
    QCOMPARE(defaultButton, QMessageBox::No);
}

void TestRouterFlow::onboardStaysReadyAfterHotspotCard_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("pick");
    QTest::newRow("load stations") << "load" << 0;
    QTest::newRow("no router picked") << "install" << -1;
    QTest::newRow("installed through the link") << "install" << 0;
}

void TestRouterFlow::onboardStaysReadyAfterHotspotCard()
{
    QFETCH(QString, action);
    QFETCH(int, pick);

    QVERIFY(startRouter(QStringLiteral("new-router")));
    signIn("100200");
    connectRouter(true);
    MainWindow &w = *m_window;
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(w.m_provisionButton->isEnabled());

    m_pick = pick;
    (action == QLatin1String("load") ? w.m_loadStationsButton : w.m_installButton)->click();
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(w.m_provisionButton->isEnabled());
    const QList<BillingSimRequest> installs = m_billing.requestsTo(
        QStringLiteral("/api/v1/desktop/routers/%1/hotspot-install").arg(QLatin1String(kOfficeRouterId)));
    QCOMPARE(installs.size(), action == QLatin1String("install") && pick == 0 ? 1 : 0);
}

void TestRouterFlow::loginPageGoesOnlyToConfirmedRouter()
{
    MainWindow &w = *m_window;
    // Router X is linked in this session.
    QVERIFY(startRouter(QStringLiteral("new-router")));
    signIn("100200");
    connectRouter(true);
    QCOMPARE(w.m_currentPage, 3);
    w.m_wireguardOnlyRadio->setChecked(true);
    w.m_routerNameEdit->setText(QStringLiteral("Tower X"));
    w.m_provisionButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kOnboardWaitMs);
    QVERIFY2(w.m_currentPage == 5, qPrintable(w.m_progressTitle->text()));
    const QJsonArray saved = m_billing.savedRouters(QStringLiteral("100200"));
    const QString x = saved.first().toObject().value(QStringLiteral("id")).toString();
    QCOMPARE(saved.first().toObject().value(QStringLiteral("name")).toString(),
             QStringLiteral("Tower X"));
    QCOMPARE(w.m_savedRouterId, x);

    // "Onboard another", and router Y is inspected.
    w.m_onboardAnotherButton->click();
    const std::unique_ptr<RouterSim> routerX = std::move(m_router);
    QVERIFY(startRouter(QStringLiteral("in-use")));
    connectRouter(false);
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(w.m_savedRouterId.isEmpty());

    // The page goes nowhere until the operator names the router, newest first.
    m_billing.clearRequests();
    m_pick = -1;
    w.m_installButton->click();
    QCOMPARE(m_billing.requests().size(), 1); // the list of the account's routers
    const QStringList items{QStringLiteral("Tower X"), QStringLiteral("Office router"),
                            QStringLiteral("The router at 127.0.0.1, from this computer")};
    QCOMPARE(m_choices, QList<QStringList>{items});

    m_pick = 0;
    w.m_installButton->click();
    QCOMPARE(m_questionTexts.constLast(),
             QStringLiteral("Install the login page of Main Street on Tower X?"));
    QCOMPARE(w.m_currentPage, 3);
    QCOMPARE(w.m_hotspotNote->text(),
             QStringLiteral("Login page installed at /flash/hotspot/login.html on Tower X."));
    const QString installPath = QStringLiteral("/api/v1/desktop/routers/%1/hotspot-install");
    QCOMPARE(m_billing.requestsTo(installPath.arg(x)).size(), 1);
    QVERIFY(m_billing.requestsTo(installPath.arg(QLatin1String(kOfficeRouterId))).isEmpty());
    QVERIFY(m_billing.requestsTo(QStringLiteral("/api/v1/desktop/routers/%1/hotspot")
                                     .arg(QLatin1String(kOfficeRouterId)))
                .isEmpty());
    const QJsonObject recordX = m_billing.savedRouters(QStringLiteral("100200")).first().toObject();
    QCOMPARE(recordX.value(QStringLiteral("id")).toString(), x);
    QCOMPARE(recordX.value(QStringLiteral("station_id")).toString(), QLatin1String(kStationId));
    // Neither router was written from this computer.
    QVERIFY(m_router->engine()->fetchedFiles().isEmpty());
    QVERIFY(routerX->engine()->fetchedFiles().isEmpty());
    QVERIFY(w.m_provisionButton->isEnabled());
}

QTEST_MAIN(TestRouterFlow)
#include "tst_routerflow.moc"

#include "api/settingssearch.h"
#include "router/routertask.h"
#include "ui/mainwindow.h"
#include "ui/stylesheet.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QNetworkInformation>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QScopeGuard>
#include <QTest>

// The window on its own, without any service or router behind it: frame, page switching, layout
// fitting, busy state, log, and the decisions the review makes from a facts map.
class TestWindowFrame final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startsWithOnlyTheSignInPage();
    void framesPagesAndStyle();
    void missingApiKeyKeepsSendCodeDisabled();
    void apiKeyWithLineEndKeepsSendCodeDisabled();
    void fitPageNeverMeasuresNarrowerThan360();
    void busyLocksTheNineButtons();
    void activityLogKeepsLast400Lines();
    void routerModeRestoresDefaults();
    void reviewFollowsRunChoice();
    void internetCardShowsItsChoices_data();
    void internetCardShowsItsChoices();
    void declinedQuestionsChangeNothing();
    void progressBackRebuildsReview();
    void provisionResultReachesDoneAndHome();
    void failedLocalInstallHintsAtLanAddress();
    void hotspotInstallRefusesBadInput();

private:
    static QVariantMap readyFacts();
    static void signIn(MainWindow &window);
};

void TestWindowFrame::init()
{
    // Nothing listens there; these tests must never reach a service.
    qputenv("QUILLMOR_BASE_URL", "http://127.0.0.1:9");
    qputenv("QUILLMOR_API_KEY", "test-key");
}

QVariantMap TestWindowFrame::readyFacts()
{
    return {{QStringLiteral("identity"), QStringLiteral("Hill-AP")},
            {QStringLiteral("version"), QStringLiteral("7.14.3")},
            {QStringLiteral("ros7"), true},
            {QStringLiteral("wireguardOk"), true},
            {QStringLiteral("internet"), true},
            {QStringLiteral("fresh"), true},
            {QStringLiteral("ifName"), QStringLiteral("quillmor")},
            {QStringLiteral("mgmtUser"), QStringLiteral("quillmor")}};
}

void TestWindowFrame::signIn(MainWindow &window)
{
    // A sign-in makes the pages that follow it.
    window.completeWindow();
    window.m_profile.token = QStringLiteral("token");
    window.m_profile.accountNumber = QStringLiteral("1001");
    window.m_profile.mikrotikUsername = QStringLiteral("quillmor");
    window.m_profile.mikrotikPassword = QStringLiteral("saved-pass");
    window.m_profile.walledHosts = {QStringLiteral("a.example"), QStringLiteral("b.example")};
}

// Runs first: the reachability backend is process-wide, and later tests show windows.
void TestWindowFrame::startsWithOnlyTheSignInPage()
{
    MainWindow window;
    // Only the sign-in page is made before the first frame; the stack keeps the other pages'
    // places, and the reachability backend waits for the first frame.
    QVERIFY(window.m_accountEdit && window.m_sendCodeButton);
    QVERIFY(!window.m_connectButton && !window.m_log && !window.m_doneText);
    QVERIFY(!window.m_hotspotCard);
    QCOMPARE(window.m_stack->count(), 6);
    QVERIFY(!QNetworkInformation::instance());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(window.m_firstPaintSeen);
    QVERIFY(!window.m_connectButton);
    // Return on the sign-in page and the window's own keys work before the other pages exist.
    QCOMPARE(window.mainAction(), window.m_sendCodeButton);
    QVERIFY(!window.backAction());

    // The first later page shown makes them all, but only that one enters the stack.
    window.showPage(2);
    QVERIFY(window.m_log && window.m_doneText && window.m_hotspotCard);
    QVERIFY(window.m_hotspotCard->isVisible());
    QVERIFY(window.isAncestorOf(window.m_connectButton));
    QVERIFY(window.m_connectButton->isVisible());
    QWidget *connectPage = window.m_stack->currentWidget();
    QVERIFY(connectPage->isAncestorOf(window.m_connectButton));
    // Shown again, a page stays where it is, and the others keep their places.
    window.showPage(1);
    window.showPage(2);
    QCOMPARE(window.m_stack->count(), 6);
    QCOMPARE(window.m_stack->indexOf(connectPage), 2);
    QVERIFY(!window.isAncestorOf(window.m_log));
    window.showPage(4);
    QVERIFY(window.m_log->isVisible());
    QCOMPARE(window.m_stack->indexOf(connectPage), 2);
}

void TestWindowFrame::framesPagesAndStyle()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Quillmor - MikroTik setup"));
    QCOMPARE(window.size(), QSize(980, 720));
    QCOMPARE(window.minimumSize(), QSize(420, 360));
    QCOMPARE(QString::fromLatin1(window.metaObject()->className()), QStringLiteral("MainWindow"));
    QCOMPARE(window.m_stack->count(), 6);
    QCOMPARE(window.m_stack->currentIndex(), 0);
    QCOMPARE(window.m_signOutButton->text(), QStringLiteral("&Sign out"));
    QCOMPARE(windowStyleSheet().size(), 2152);
    QCOMPARE(window.styleSheet(), windowStyleSheet() + focusStyleSheet());
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("root")));
    QVERIFY(window.findChild<QScrollArea *>(QStringLiteral("pageScroll")));
    QVERIFY(window.m_loginError->text().isEmpty());
    QVERIFY(window.m_sendCodeButton->isEnabled());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int page = 0; page < 6; ++page) {
        window.showPage(page);
        QCOMPARE(window.m_stack->currentIndex(), page);
        const bool shown = page != 0;
        QCOMPARE(window.m_signOutButton->isVisible(), shown);
        QCOMPARE(window.m_chip->isVisible(), shown);
        // Before the first later page the card does not exist yet.
        QCOMPARE(window.m_hotspotCard && window.m_hotspotCard->isVisible(), shown);
    }
    window.showPage(0);
    QVERIFY(!window.m_hotspotCard->isVisible());
}

void TestWindowFrame::missingApiKeyKeepsSendCodeDisabled()
{
    qunsetenv("QUILLMOR_API_KEY");
    const QString ini = findSettingsFile(QCoreApplication::applicationDirPath(), QDir::currentPath());
    if (!ini.isEmpty())
        QSKIP(qPrintable(QStringLiteral("%1 may carry an API key").arg(ini)));
    MainWindow window;
    QCOMPARE(window.m_loginError->text(),
             QStringLiteral("The Quillmor API key is not in quillmor.ini yet. Add it, then open "
                            "this app again. Looked in: %1.")
                 .arg(settingsSearchPlaces(QCoreApplication::applicationDirPath(),
                                           QDir::currentPath())));
    QVERIFY(!window.m_sendCodeButton->isEnabled());
    window.setBusy(true);
    window.setBusy(false);
    QVERIFY(!window.m_sendCodeButton->isEnabled());
    QVERIFY(window.m_signInButton->isEnabled());
}

void TestWindowFrame::apiKeyWithLineEndKeepsSendCodeDisabled()
{
    qputenv("QUILLMOR_API_KEY", "key\r\nX-Injected: yes");
    const auto restore = qScopeGuard([] { qunsetenv("QUILLMOR_API_KEY"); });
    MainWindow window;
    QCOMPARE(window.m_loginError->text(),
             QStringLiteral("The Quillmor API key holds a line end or another control character. "
                            "Correct apiKey in quillmor.ini, then open this app again."));
    QVERIFY(!window.m_sendCodeButton->isEnabled());
}

void TestWindowFrame::fitPageNeverMeasuresNarrowerThan360()
{
    MainWindow window;
    window.resize(window.minimumSize());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Squeeze the viewport below the 360 pixels that the pages are measured at.
    window.m_scroll->setFixedWidth(260);
    window.showPage(1);
    QTRY_VERIFY(window.m_scroll->viewport()->width() < 360);
    window.fitPage();
    QLayout *page = window.m_stack->currentWidget()->layout();
    QVERIFY(page->hasHeightForWidth());
    const int cardLayoutHeight = window.m_hotspotCard->layout()->heightForWidth(360) + 16;
    const int expected = std::max(window.m_scroll->viewport()->height() - cardLayoutHeight,
                                  page->heightForWidth(360));
    QCOMPARE(window.m_stack->height(), expected);
    // The short viewport cannot hold the page, so its needed height, not the viewport, decides.
    QCOMPARE(expected, page->heightForWidth(360));
    QVERIFY(page->heightForWidth(260) > expected);
}

void TestWindowFrame::busyLocksTheNineButtons()
{
    MainWindow window;
    // Busy before the later pages exist: their buttons are made locked as well.
    window.setBusy(true);
    window.completeWindow();
    const QList<QPushButton *> nine{window.m_sendCodeButton,   window.m_signInButton,
                                    window.m_connectButton,    window.m_dhcpButton,
                                    window.m_pppoeButton,      window.m_provisionButton,
                                    window.m_loadStationsButton, window.m_installButton,
                                    window.m_signOutButton};
    for (QPushButton *button : nine)
        QVERIFY2(!button->isEnabled(), qPrintable(button->text()));
    window.setBusy(false);
    window.m_progressButton->setEnabled(true);
    window.setBusy(true);
    for (QPushButton *button : nine)
        QVERIFY2(!button->isEnabled(), qPrintable(button->text()));
    QVERIFY(window.m_progressButton->isEnabled());
    QVERIFY(QApplication::overrideCursor());
    window.setBusy(true);
    window.setBusy(false);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(window.m_sendCodeButton->isEnabled());
    QVERIFY(window.m_connectButton->isEnabled());
    QVERIFY(!window.m_provisionButton->isEnabled());
    QVERIFY(!window.m_loadStationsButton->isEnabled());
    QVERIFY(!window.m_installButton->isEnabled());

    signIn(window);
    window.setBusy(false);
    QVERIFY(window.m_loadStationsButton->isEnabled());
    QVERIFY(window.m_installButton->isEnabled());
}

void TestWindowFrame::activityLogKeepsLast400Lines()
{
    MainWindow window;
    window.completeWindow();
    for (int i = 1; i <= 450; ++i)
        window.appendLog(QStringLiteral("line %1").arg(i));
    QCOMPARE(window.m_log->blockCount(), 400);
    const QStringList lines = window.m_log->toPlainText().split(QLatin1Char('\n'));
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\] line 51$"));
    QVERIFY2(stamp.match(lines.first()).hasMatch(), qPrintable(lines.first()));
    QVERIFY(lines.last().endsWith(QLatin1String("] line 450")));
}

void TestWindowFrame::routerModeRestoresDefaults()
{
    MainWindow window;
    signIn(window);
    window.m_inUseRadio->setChecked(true);
    QCOMPARE(window.m_hostEdit->text(), QString());
    QCOMPARE(window.m_userEdit->text(), QStringLiteral("quillmor"));
    QCOMPARE(window.m_passwordEdit->text(), QStringLiteral("saved-pass"));
    window.m_hostEdit->setText(QStringLiteral("10.0.0.1"));
    window.m_portSpin->setValue(2222);
    window.m_newRouterRadio->setChecked(true);
    QCOMPARE(window.m_hostEdit->text(), QStringLiteral("192.168.88.1"));
    QCOMPARE(window.m_userEdit->text(), QStringLiteral("admin"));
    QCOMPARE(window.m_portSpin->value(), 22);
    QCOMPARE(window.m_passwordEdit->text(), QString());
    QVERIFY(window.m_connectHint->text().contains(QLatin1String("adds user quillmor.")));

    // A password the operator typed is not the saved one, so it survives the switch back.
    window.m_inUseRadio->setChecked(true);
    window.m_passwordEdit->setText(QStringLiteral("typed"));
    window.m_newRouterRadio->setChecked(true);
    QCOMPARE(window.m_passwordEdit->text(), QStringLiteral("typed"));
}

void TestWindowFrame::reviewFollowsRunChoice()
{
    MainWindow window;
    signIn(window);
    window.onInspectReady(true, QString(), readyFacts());
    QCOMPARE(window.m_currentPage, 3);
    // "New MikroTik" was checked on the connect page, so the full setup comes preselected.
    QVERIFY(window.m_fullSetupRadio->isChecked());
    QVERIFY(window.m_reviewText->text().contains(QLatin1String("On this new router only:")));
    QCOMPARE(window.m_routerNameEdit->text(), QStringLiteral("Hill-AP"));
    QCOMPARE(window.m_facts.value(QStringLiteral("walledHosts")).toString(),
             QStringLiteral("a.example,b.example"));
    QVERIFY(window.m_provisionButton->isEnabled());

    window.m_wireguardOnlyRadio->setChecked(true);
    QVERIFY(window.m_reviewText->text().contains(QLatin1String("WireGuard only is selected.")));

    QVariantMap noInterface = readyFacts();
    noInterface.remove(QStringLiteral("ifName"));
    window.onInspectReady(true, QString(), noInterface);
    QVERIFY(!window.m_provisionButton->isEnabled());
    QVERIFY(window.m_reviewError->text().isEmpty());
}

void TestWindowFrame::internetCardShowsItsChoices_data()
{
    QTest::addColumn<QVariantMap>("extra");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("dhcp"); // empty: the button is hidden
    QTest::addColumn<QString>("pppoe"); // empty: the PPPoE box is hidden
    const QString unbridged = QStringLiteral("The router has no working internet route. Port 1 "
                                             "can be set as the internet port. Other settings stay "
                                             "as they are.");
    QTest::newRow("default route")
        << QVariantMap{{QStringLiteral("hasRoute"), true}}
        << "The router has a default route, but internet replies failed. Check the cable or "
           "upstream. The internet port was not changed."
        << QString() << QString();
    QTest::newRow("bridged, in use")
        << QVariantMap{{QStringLiteral("ether1Bridged"), true}, {QStringLiteral("fresh"), false}}
        << "Port 1 is still in the LAN bridge, and this router is already in use. Set the internet "
           "port in Winbox, then come back. This app will not take port 1 off a live router."
        << QString() << QString();
    QTest::newRow("bridged, new")
        << QVariantMap{{QStringLiteral("ether1Bridged"), true}}
        << "This looks like a new router, and port 1 is still part of the LAN. You can move port 1 "
           "out and use it for the internet line. Do this only if nobody is being served by this "
           "router."
        << "Move port 1 out of the LAN and use DHCP" << "Move port 1 out of the LAN and use PPPoE";
    QTest::newRow("not bridged") << QVariantMap() << unbridged
                                 << "Use automatic internet (DHCP) on port 1"
                                 << "Use PPPoE on port 1";
    QTest::newRow("not bridged, DHCP client")
        << QVariantMap{{QStringLiteral("dhcpOnEther1"), true}} << unbridged
        << "Enable the DHCP client on port 1" << "Use PPPoE on port 1";
    QTest::newRow("not bridged, PPPoE client")
        << QVariantMap{{QStringLiteral("pppoe"), true}} << unbridged << QString() << QString();
}

void TestWindowFrame::internetCardShowsItsChoices()
{
    QFETCH(QVariantMap, extra);
    QFETCH(QString, text);
    QFETCH(QString, dhcp);
    QFETCH(QString, pppoe);
    MainWindow window;
    signIn(window);
    QVariantMap facts = readyFacts();
    facts.insert(QStringLiteral("internet"), false);
    facts.insert(extra);
    window.onInspectReady(true, QString(), facts);
    QVERIFY(window.m_internetCard->isVisibleTo(&window));
    QCOMPARE(window.m_internetText->text(), text);
    QCOMPARE(window.m_dhcpButton->isVisibleTo(&window), !dhcp.isEmpty());
    QCOMPARE(window.m_pppoeBox->isVisibleTo(&window), !pppoe.isEmpty());
    if (!dhcp.isEmpty())
        QCOMPARE(window.m_dhcpButton->text(), dhcp);
    if (!pppoe.isEmpty())
        QCOMPARE(window.m_pppoeButton->text(), pppoe);
    QVERIFY(!window.m_provisionButton->isEnabled());
    QVERIFY(window.m_reviewText->text().contains(QLatin1String("\nInternet: not working\n")));
    // The next router, with internet, must not inherit the card.
    window.onInspectReady(true, QString(), readyFacts());
    QVERIFY(!window.m_internetCard->isVisibleTo(&window));
}

void TestWindowFrame::declinedQuestionsChangeNothing()
{
    MainWindow window;
    signIn(window);
    QStringList asked;
    window.setAskFunction([&asked](QWidget *, const QString &title, const QString &) {
        asked << title;
        return QMessageBox::No;
    });
    QVariantMap facts = readyFacts();
    facts.insert(QStringLiteral("internet"), false);
    facts.insert(QStringLiteral("ether1Bridged"), true);
    window.onInspectReady(true, QString(), facts);
    QVERIFY(window.m_internetCard->isVisibleTo(&window));
    QCOMPARE(window.m_dhcpButton->text(), QStringLiteral("Move port 1 out of the LAN and use DHCP"));
    const QVariantMap before = window.m_facts;

    // PPPoE without its login is refused before anyone is asked.
    window.m_pppoeButton->click();
    QCOMPARE(window.m_reviewError->text(), QStringLiteral("Enter the PPPoE username and password."));
    QVERIFY(asked.isEmpty());

    window.m_routerNameEdit->setText(QStringLiteral("Hill-AP north"));
    window.m_pppoeUserEdit->setText(QStringLiteral("line-7"));
    window.m_pppoePasswordEdit->setText(QStringLiteral("pp-secret"));
    window.m_log->setPlainText(QStringLiteral("[10:00:00] earlier run"));
    const QString text = window.m_reviewText->text();
    const QString error = window.m_reviewError->text();
    const auto unchanged = [&] {
        QCOMPARE(window.m_currentPage, 3);
        QVERIFY(!window.m_busy);
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!window.m_worker->isRunning());
        QCOMPARE(window.m_reviewText->text(), text);
        QCOMPARE(window.m_reviewError->text(), error);
        QCOMPARE(window.m_routerNameEdit->text(), QStringLiteral("Hill-AP north"));
        QCOMPARE(window.m_pppoeUserEdit->text(), QStringLiteral("line-7"));
        QCOMPARE(window.m_pppoePasswordEdit->text(), QStringLiteral("pp-secret"));
        QCOMPARE(window.m_hostEdit->text(), QStringLiteral("192.168.88.1"));
        QCOMPARE(window.m_userEdit->text(), QStringLiteral("admin"));
        QCOMPARE(window.m_log->toPlainText(), QStringLiteral("[10:00:00] earlier run"));
        QVERIFY(window.m_fullSetupRadio->isChecked());
    };

    window.m_dhcpButton->click();
    QCOMPARE(asked, QStringList{QStringLiteral("Change port 1?")});
    QCOMPARE(window.m_facts, before);
    unchanged();
    window.m_pppoeButton->click();
    QCOMPARE(asked.size(), 2);
    QCOMPARE(window.m_facts, before);
    unchanged();

    QVariantMap ready = readyFacts();
    window.onInspectReady(true, QString(), ready);
    window.m_routerNameEdit->setText(QStringLiteral("Hill-AP north"));
    ready = window.m_facts;
    const QString readyText = window.m_reviewText->text();
    window.m_provisionButton->click();
    QCOMPARE(asked.last(), QStringLiteral("Build the full setup?"));
    QCOMPARE(window.m_facts, ready);
    QVERIFY(!window.m_facts.contains(QStringLiteral("applyBase")));
    QCOMPARE(window.m_currentPage, 3);
    QVERIFY(!window.m_busy);
    QVERIFY(!window.m_worker->isRunning());
    QCOMPARE(window.m_reviewText->text(), readyText);
    QVERIFY(window.m_reviewError->text().isEmpty());
    QVERIFY(window.m_provisionButton->isEnabled());
    QCOMPARE(window.m_log->toPlainText(), QStringLiteral("[10:00:00] earlier run"));
}

void TestWindowFrame::progressBackRebuildsReview()
{
    MainWindow window;
    signIn(window);
    window.onInspectReady(true, QString(), readyFacts());
    window.m_returnPage = 3;
    window.showPage(4);
    window.m_facts.insert(QStringLiteral("identity"), QStringLiteral("Renamed"));
    window.onProgressBack();
    QCOMPARE(window.m_currentPage, 3);
    QVERIFY(window.m_reviewText->text().startsWith(QLatin1String("Router: Renamed\n")));

    window.onProvisionReady(false, QStringLiteral("The tunnel did not come up."), {});
    QCOMPARE(window.m_progressTitle->text(), QStringLiteral("The tunnel did not come up."));
    QCOMPARE(window.m_progressButton->text(), QStringLiteral("Back"));
}

void TestWindowFrame::provisionResultReachesDoneAndHome()
{
    MainWindow window;
    signIn(window);
    window.m_profile.routerLimit = 3;
    window.m_profile.routersUsed = 1;
    window.onProvisionReady(true, QString(),
                            {{QStringLiteral("routerId"), QStringLiteral("3ec86fbdf89aa34a5f95c699")},
                             {QStringLiteral("online"), false},
                             {QStringLiteral("routersUsed"), 3},
                             {QStringLiteral("site"), QStringLiteral("Hill-AP")}});
    QCOMPARE(window.m_currentPage, 5);
    QCOMPARE(window.m_doneTitle->text(), QStringLiteral("The link is on the router"));
    QVERIFY(window.m_doneText->text().startsWith(QLatin1String("\n\nName: Hill-AP\n")));
    QCOMPARE(window.m_savedRouterId, QStringLiteral("3ec86fbdf89aa34a5f95c699"));
    // Only the counts the result carries change.
    QCOMPARE(window.m_profile.routerLimit, 3);
    window.m_passwordEdit->setText(QStringLiteral("pass"));
    window.m_pppoePasswordEdit->setText(QStringLiteral("pppoe"));
    window.m_backToAccountButton->click();
    QCOMPARE(window.m_currentPage, 1);
    QVERIFY(window.m_seatLabel->text().startsWith(QLatin1String("3 of 3 WireGuard configs are "
                                                                "already in use.")));
    window.showPage(5);
    window.m_onboardAnotherButton->click();
    QCOMPARE(window.m_currentPage, 2);
    QVERIFY(window.m_passwordEdit->text().isEmpty());
    QVERIFY(window.m_pppoePasswordEdit->text().isEmpty());
}

void TestWindowFrame::failedLocalInstallHintsAtLanAddress()
{
    MainWindow window;
    signIn(window);
    window.m_returnPage = 1;
    window.showPage(4);
    const QString hint = QStringLiteral("\n\nIf this router was just set up, the LAN address is "
                                        "172.16.0.1.");
    window.onHotspotReady(false, QStringLiteral("No hotspot folder."), QString());
    QVERIFY(window.m_hotspotNote->text().startsWith(QStringLiteral("No hotspot folder.") + hint));
    QCOMPARE(window.m_progressButton->text(), QStringLiteral("Back"));
    QCOMPARE(window.m_currentPage, 4);

    window.m_hostEdit->setText(QStringLiteral(" 172.16.0.1"));
    window.onHotspotReady(false, QStringLiteral("No hotspot folder."), QString());
    QCOMPARE(window.m_hotspotNote->text(), QStringLiteral("No hotspot folder."));
    window.onProgressBack();
    QCOMPARE(window.m_currentPage, 1);
}

void TestWindowFrame::hotspotInstallRefusesBadInput()
{
    MainWindow window;
    window.showPage(1);
    window.onInstallHotspot();
    QCOMPARE(window.m_hotspotNote->text(), QStringLiteral("Sign in with the Quillmor account first."));

    signIn(window);
    window.m_stationList->clear();
    window.m_stationList->addItem(QStringLiteral("Short"), QStringLiteral("65a1f0c2b3d4e5f6071829"));
    window.onInstallHotspot();
    QCOMPARE(window.m_hotspotNote->text(),
             QStringLiteral("Choose a station. Create it in your Quillmor system first, then load "
                            "stations."));
    QCOMPARE(window.m_currentPage, 1);
}

QTEST_MAIN(TestWindowFrame)
#include "tst_windowframe.moc"

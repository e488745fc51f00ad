#include "billingsim.h"
#include "router/routertask.h"
#include "ui/mainwindow.h"

#include <functional>
#include <memory>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

namespace {

const char kApiKey[] = "flow-test-key";
const char kErrorColour[] = "color: #9f1239;";
const char kMutedColour[] = "color: #4b5b68;";
const char kSavedRouterId[] = "3ec86fbdf89aa34a5f95c699";
const char kOtherRouterId[] = "5d2a0c7e91b4f3a6d8e0b152";
const char kStationId[] = "d4408ddf5407a917522c6577";
const char kTunnelHint[] = "\n\nThe hotspot can block this computer. If the Quillmor link cannot "
                           "reach the router, enter its address and password on the connect step. "
                           "After a new layout that address is often 172.16.0.1.";

QJsonObject account(const char *number, const char *name, int limit, int used,
                    bool withLogin = true)
{
    QJsonObject object{{QStringLiteral("number"), QLatin1String(number)},
                       {QStringLiteral("code"), QStringLiteral("123456")},
                       {QStringLiteral("routers_used"), used},
                       {QStringLiteral("hotspot_dns"), QStringLiteral("login.riverside.net")},
                       {QStringLiteral("walled_hosts"),
                        QJsonArray{QStringLiteral("quillmor.com"), QStringLiteral("pay.net")}},
                       {QStringLiteral("stations"),
                        QJsonArray{QJsonObject{{QStringLiteral("id"),
                                                QStringLiteral("92f0958d3cd09fcb3f4c5262")},
                                               {QStringLiteral("name"),
                                                QStringLiteral("Main Street Tower")},
                                               {QStringLiteral("location"),
                                                QStringLiteral("Riverside")}},
                                   QJsonObject{{QStringLiteral("id"),
                                                QStringLiteral("d4408ddf5407a917522c6577")},
                                               {QStringLiteral("name"), QString()}}}}};
    if (name)
        object.insert(QStringLiteral("isp_name"), QLatin1String(name));
    if (limit >= 0)
        object.insert(QStringLiteral("router_limit"), limit);
    if (withLogin) {
        object.insert(QStringLiteral("mikrotik_username"), QStringLiteral("quillmor"));
        object.insert(QStringLiteral("mikrotik_password"), QStringLiteral("Demo-Router-Pass-2024"));
    }
    return object;
}

QJsonObject withSavedRouter(QJsonObject object)
{
    object.insert(QStringLiteral("routers"),
                  QJsonArray{QJsonObject{{QStringLiteral("id"), QLatin1String(kSavedRouterId)},
                                         {QStringLiteral("name"), QStringLiteral("Office router")}},
                             QJsonObject{{QStringLiteral("id"), QLatin1String(kOtherRouterId)},
                                         {QStringLiteral("name"), QStringLiteral("Hill tower")}}});
    return object;
}

} // namespace

// The real window against the billing simulator: sign-in with its hints and colours, the home
// page for each kind of account, and sign-out.
class TestSignInFlow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void signInHintsAndColours();
    void homeShowsSeats_data();
    void homeShowsSeats();
    void signOutForgetsTheAccount();
    void hotspotInstallGoesToChosenRouter();
    void tunnelFailureFallsBackOnlyForLinkedRouter();
    void cancelAbortsTunnelInstallWithoutFallback();
    void closingEndsTheTunnelInstallAtOnce();
    void pageScreenshots();

private:
    void signIn(const char *number);
    [[nodiscard]] static QString scenarioPath(const QString &name);
    [[nodiscard]] QString recordedStation(const QString &routerId) const;
    void failTunnelInstalls(const BillingSimOverride &override);
    // The sign-in note's text and style sheet while a slowed request to the endpoint waits.
    [[nodiscard]] QString noteWhileWaiting(const QString &endpoint,
                                           const std::function<void()> &send);

    BillingSim m_billing;
    QTemporaryDir m_dir;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_questions;          // every question's text, in order
    QMessageBox::StandardButton m_answer = QMessageBox::Yes;
    QList<QStringList> m_choices;     // the items of every pick
    int m_pick = 0;
};

QString TestSignInFlow::scenarioPath(const QString &name)
{
    return QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR"))
        .filePath(QStringLiteral("tools/routeros-sim/scenarios/%1.json").arg(name));
}

void TestSignInFlow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QJsonObject scenario{
        {QStringLiteral("api_key"), QLatin1String(kApiKey)},
        {QStringLiteral("accounts"),
         QJsonArray{withSavedRouter(account("100200", "Riverside Community Net", 3, 1)),
                    account("100201", "Unlimited Net", -1, 4), account("100202", "Seatless", 0, 0),
                    account("100203", "Full House", 2, 2), account("100204", nullptr, 3, 0),
                    account("100205", "No Login Net", 3, 0, false),
                    account("100206", "<b>bold</b> &amp; <i>co</i>", 3, 0)}}};
    QString error;
    QVERIFY2(m_billing.start(scenario, 0, &error), qPrintable(error));
    qputenv("QUILLMOR_BASE_URL", m_billing.baseUrl().toUtf8());
    qputenv("QUILLMOR_API_KEY", kApiKey);
}

void TestSignInFlow::init()
{
    m_billing.clearRequests();
    m_window = std::make_unique<MainWindow>();
    m_questions.clear();
    m_answer = QMessageBox::Yes;
    m_choices.clear();
    m_pick = 0;
    m_window->setAskFunction([this](QWidget *, const QString &, const QString &text) {
        m_questions << text;
        return m_answer;
    });
    m_window->setChooseFunction(
        [this](QWidget *, const QString &, const QString &, const QStringList &items) {
            m_choices << items;
            return m_pick;
        });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestSignInFlow::cleanup()
{
    m_window.reset();
}

void TestSignInFlow::signIn(const char *number)
{
    MainWindow &w = *m_window;
    w.m_accountEdit->setText(QLatin1String(number));
    w.m_sendCodeButton->click();
    QVERIFY2(w.m_codeRow->isVisibleTo(&w), qPrintable(w.m_loginNote->text()));
    w.m_codeEdit->setText(QStringLiteral("123456"));
    w.m_signInButton->click();
    QCOMPARE(w.m_currentPage, 1);
}

void TestSignInFlow::signInHintsAndColours()
{
    MainWindow &w = *m_window;
    w.m_accountEdit->setText(QStringLiteral(" 12 "));
    w.m_sendCodeButton->click();
    QCOMPARE(w.m_loginNote->text(), QStringLiteral("Enter the account number from Quillmor."));
    QCOMPARE(w.m_loginNote->styleSheet(), QLatin1String(kMutedColour));
    QVERIFY(m_billing.requests().isEmpty());

    // An unknown account: the service's refusal, in the error colour. The prompt after it is not
    // an error, and neither is the progress text while the next request waits for its answer.
    w.m_accountEdit->setText(QStringLiteral("999"));
    QTest::keyClick(w.m_accountEdit, Qt::Key_Return);
    QCOMPARE(m_billing.requestsTo(QStringLiteral("/api/v1/desktop/auth/request-code")).size(), 1);
    QCOMPARE(w.m_loginNote->styleSheet(), QLatin1String(kErrorColour));
    QCOMPARE(w.m_loginNote->text(), QStringLiteral("There is no Quillmor account with that number."));
    QVERIFY(!w.m_codeRow->isVisibleTo(&w));
    w.m_accountEdit->setText(QStringLiteral("12"));
    w.m_sendCodeButton->click();
    QCOMPARE(w.m_loginNote->text(), QStringLiteral("Enter the account number from Quillmor."));
    QCOMPARE(w.m_loginNote->styleSheet(), QLatin1String(kMutedColour));

    w.m_loginNote->setStyleSheet(QLatin1String(kErrorColour));
    w.m_accountEdit->setText(QStringLiteral("100200"));
    QCOMPARE(noteWhileWaiting(QStringLiteral("auth/request-code"),
                              [&w] { QTest::keyClick(w.m_accountEdit, Qt::Key_Return); }),
             QStringLiteral("Sending the code... | ") + QLatin1String(kMutedColour));
    QVERIFY(w.m_codeRow->isVisibleTo(&w));
    QCOMPARE(w.m_loginNote->styleSheet(), QLatin1String(kMutedColour));
    QCOMPARE(w.m_loginNote->text(),
             QStringLiteral("Enter the code sent to the phone or email on this account."));

    m_billing.clearRequests();
    w.m_codeEdit->setText(QStringLiteral("  123  "));
    w.m_signInButton->click();
    QCOMPARE(w.m_loginNote->text(), QStringLiteral("Enter the verification code."));
    QVERIFY(m_billing.requests().isEmpty());

    // A wrong code is an error in the error colour, and the window stays signed out.
    w.m_codeEdit->setText(QStringLiteral("0000"));
    QTest::keyClick(w.m_codeEdit, Qt::Key_Return);
    QCOMPARE(w.m_loginNote->text(), QStringLiteral("That code is not right. Ask for a new one."));
    QCOMPARE(w.m_loginNote->styleSheet(), QLatin1String(kErrorColour));
    QCOMPARE(w.m_currentPage, 0);
    QVERIFY(w.m_profile.token.isEmpty());
    // What follows the refusal is neutral again: the prompt, then the check of the next code.
    w.m_codeEdit->setText(QStringLiteral("12"));
    w.m_signInButton->click();
    QCOMPARE(w.m_loginNote->text(), QStringLiteral("Enter the verification code."));
    QCOMPARE(w.m_loginNote->styleSheet(), QLatin1String(kMutedColour));

    w.m_loginNote->setStyleSheet(QLatin1String(kErrorColour));
    w.m_codeEdit->setText(QStringLiteral(" 123456 "));
    QCOMPARE(noteWhileWaiting(QStringLiteral("auth/verify"),
                              [&w] { QTest::keyClick(w.m_codeEdit, Qt::Key_Return); }),
             QStringLiteral("Checking the code... | ") + QLatin1String(kMutedColour));
    QCOMPARE(w.m_currentPage, 1);
    QCOMPARE(w.m_chip->text(), QStringLiteral("Riverside Community Net (100200)"));
    QCOMPARE(w.m_homeTitle->text(), w.m_chip->text());
    QVERIFY(w.m_codeEdit->text().isEmpty());
    // The stations arrive right after sign-in.
    QCOMPARE(w.m_stationList->count(), 2);
    QCOMPARE(w.m_stationList->itemText(0), QStringLiteral("Main Street Tower \u2014 Riverside"));
    QCOMPARE(w.m_stationList->itemData(0).toString(), QStringLiteral("92f0958d3cd09fcb3f4c5262"));
    QCOMPARE(w.m_stationList->itemText(1), QStringLiteral("Station"));
    QCOMPARE(w.m_hotspotNote->text(),
             QStringLiteral("Choose the station, then install the login page."));
    QVERIFY(w.m_installButton->isEnabled());
}

void TestSignInFlow::homeShowsSeats_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("seats");
    QTest::newRow("room left") << QByteArray("100200") << "Riverside Community Net (100200)"
                               << "1 of 3 WireGuard configs are in use. Replacing a router that "
                                  "already has a link does not use another one.";
    QTest::newRow("no limit reported")
        << QByteArray("100201") << "Unlimited Net (100201)"
        << "Each account can only generate as many WireGuard configs as its MikroTik count in "
           "Quillmor.";
    QTest::newRow("no seats") << QByteArray("100202") << "Seatless (100202)"
                              << "This account has no MikroTik seats, so a new WireGuard config "
                                 "cannot be created. Ask Quillmor to raise the router count.";
    QTest::newRow("all used") << QByteArray("100203") << "Full House (100203)"
                              << "2 of 2 WireGuard configs are already in use. A new router will "
                                 "be refused. A router that already has a link can still be "
                                 "replaced.";
    QTest::newRow("no name") << QByteArray("100204") << "Account 100204"
                             << "0 of 3 WireGuard configs are in use. Replacing a router that "
                                "already has a link does not use another one.";
    QTest::newRow("markup in the name")
        << QByteArray("100206") << "<b>bold</b> &amp; <i>co</i> (100206)"
        << "0 of 3 WireGuard configs are in use. Replacing a router that already has a link does "
           "not use another one.";
}

void TestSignInFlow::homeShowsSeats()
{
    QFETCH(QByteArray, number);
    QFETCH(QString, title);
    QFETCH(QString, seats);
    signIn(number.constData());
    QCOMPARE(m_window->m_homeTitle->text(), title);
    QCOMPARE(m_window->m_chip->text(), title);
    QCOMPARE(m_window->m_seatLabel->text(), seats);
    // The service's words are shown as they are: no label reads them as markup.
    const QList<QLabel *> labels = m_window->findChildren<QLabel *>();
    for (const QLabel *label : labels) {
        const bool markup = label->textFormat() == Qt::RichText
            || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
        QVERIFY2(!markup, qPrintable(label->text()));
    }
}

void TestSignInFlow::signOutForgetsTheAccount()
{
    MainWindow &w = *m_window;
    signIn("100200");
    w.m_passwordEdit->setText(QStringLiteral("router-pass"));
    w.m_signOutButton->click();
    QCOMPARE(w.m_currentPage, 0);
    QVERIFY(w.m_profile.token.isEmpty());
    QCOMPARE(w.m_profile.routerLimit, -1);
    QVERIFY(w.m_passwordEdit->text().isEmpty());
    QVERIFY(!w.m_codeRow->isVisibleTo(&w));
    QVERIFY(w.m_loginNote->text().isEmpty());
    QCOMPARE(w.m_stationList->count(), 1);
    QCOMPARE(w.m_stationList->itemText(0), QStringLiteral("Load stations first"));
    QVERIFY(!w.m_stationList->itemData(0).isValid());
    QCOMPARE(w.m_accountEdit->text(), QStringLiteral("100200"));
    // The service forgets the session too: the next station list is refused.
    m_billing.clearRequests();
    w.m_profile.token = QStringLiteral("stale");
    w.onLoadStations();
    const QList<BillingSimRequest> sent = m_billing.requestsTo(QStringLiteral("/api/v1/desktop/stations"));
    QCOMPARE(sent.size(), 1);
    QVERIFY(!sent.first().hasHeader("Authorization"));
}

QString TestSignInFlow::recordedStation(const QString &routerId) const
{
    for (const QJsonValue &router : m_billing.savedRouters(QStringLiteral("100200"))) {
        if (router.toObject().value(QStringLiteral("id")).toString() == routerId)
            return router.toObject().value(QStringLiteral("station_id")).toString();
    }
    return QStringLiteral("no such router");
}

void TestSignInFlow::failTunnelInstalls(const BillingSimOverride &override)
{
    for (const char *id : {kSavedRouterId, kOtherRouterId}) {
        m_billing.setOverride(
            QStringLiteral("/api/v1/desktop/routers/%1/hotspot-install").arg(QLatin1String(id)),
            override);
    }
}

QString TestSignInFlow::noteWhileWaiting(const QString &endpoint, const std::function<void()> &send)
{
    BillingSimOverride slow;
    slow.delayMs = 600;
    m_billing.setOverride(QStringLiteral("/api/v1/desktop/") + endpoint, slow);
    QString seen;
    QTimer::singleShot(200, m_window.get(), [this, &seen] {
        seen = m_window->m_loginNote->text() + QStringLiteral(" | ") +
               m_window->m_loginNote->styleSheet();
    });
    send();
    m_billing.clearOverrides();
    return seen;
}

void TestSignInFlow::hotspotInstallGoesToChosenRouter()
{
    MainWindow &w = *m_window;
    signIn("100200");
    w.m_stationList->setCurrentIndex(1);
    const QString hotspotInstalls = QStringLiteral("/api/v1/desktop/routers/%1/hotspot-install");

    // Nothing linked in this session: the operator picks, and may back out at either question.
    m_pick = -1;
    w.m_installButton->click();
    m_pick = 1;
    m_answer = QMessageBox::No;
    w.m_installButton->click();
    QCOMPARE(m_questions, QStringList{QStringLiteral("Install the login page of Station on Hill "
                                                     "tower?")});
    QCOMPARE(w.m_currentPage, 1);
    QVERIFY(m_billing.requestsTo(hotspotInstalls.arg(QLatin1String(kOtherRouterId))).isEmpty());

    m_answer = QMessageBox::Yes;
    w.m_installButton->click();
    const QStringList routers{QStringLiteral("Office router"), QStringLiteral("Hill tower")};
    QCOMPARE(m_choices, (QList<QStringList>{routers, routers, routers}));
    QCOMPARE(w.m_currentPage, 1);
    QCOMPARE(w.m_hotspotNote->text(),
             QStringLiteral("Login page installed at /flash/hotspot/login.html on Hill tower."));
    QCOMPARE(m_billing.requestsTo(hotspotInstalls.arg(QLatin1String(kOtherRouterId))).size(), 1);
    QVERIFY(m_billing.requestsTo(hotspotInstalls.arg(QLatin1String(kSavedRouterId))).isEmpty());
    QCOMPARE(recordedStation(QLatin1String(kOtherRouterId)), QLatin1String(kStationId));
    // A pick holds for one install only.
    QVERIFY(w.m_savedRouterId.isEmpty());

    // With a router password on the connect page, that router is offered as well, by address.
    w.m_passwordEdit->setText(QStringLiteral("router-pass"));
    m_pick = 2;
    w.m_installButton->click();
    QCOMPARE(m_choices.constLast(),
             routers + QStringList{QStringLiteral("The router at 192.168.88.1, from this "
                                                  "computer")});
    QCOMPARE(m_questions.constLast(), QStringLiteral("Install the login page of Station on the "
                                                     "router at 192.168.88.1?"));
    // The simulated service is plain http, so the router would not be told to fetch from it.
    QCOMPARE(w.m_hotspotNote->text(),
             QStringLiteral("The Quillmor address in quillmor.ini is not a secure URL."));
    QVERIFY(!w.m_worker->isRunning());
}

void TestSignInFlow::tunnelFailureFallsBackOnlyForLinkedRouter()
{
    MainWindow &w = *m_window;
    signIn("100200");
    w.m_stationList->setCurrentIndex(1);
    w.m_passwordEdit->setText(QStringLiteral("router-pass"));
    BillingSimOverride down;
    down.status = 502;
    down.replaceBody = true;
    down.body = R"({"message":"The tunnel is down."})";
    failTunnelInstalls(down);

    // A router picked from the account's list may not be the one on the connect page.
    m_pick = 0;
    w.m_installButton->click();
    QCOMPARE(w.m_currentPage, 4);
    QCOMPARE(w.m_progressTitle->text(), QStringLiteral("The tunnel is down."));
    QCOMPARE(w.m_progressButton->text(), QStringLiteral("Back"));
    QCOMPARE(w.m_hotspotNote->text(),
             QStringLiteral("The tunnel is down.") + QLatin1String(kTunnelHint));
    QVERIFY(!w.m_log->toPlainText().contains(QLatin1String("Trying the router address")));
    w.m_progressButton->click();
    QCOMPARE(w.m_currentPage, 1);

    // The router linked in this session is the one the connect page reached.
    w.rememberLinkedRouter(QLatin1String(kSavedRouterId), QStringLiteral("Office router"));
    w.m_installButton->click();
    QCOMPARE(m_choices.size(), 1);
    QCOMPARE(m_questions.constLast(),
             QStringLiteral("Install the login page of Station on Office router? If the Quillmor "
                            "link cannot reach that router, this computer installs it at "
                            "192.168.88.1 instead."));
    const QStringList log = w.m_log->toPlainText().split(QLatin1Char('\n'));
    QVERIFY(log.at(log.size() - 2).endsWith(QLatin1String("] The tunnel is down.")));
    QVERIFY(log.last().endsWith(QLatin1String("] Trying the router address on this computer.")));
    QCOMPARE(w.m_hotspotNote->text(),
             QStringLiteral("The Quillmor address in quillmor.ini is not a secure URL."));
    QCOMPARE(w.m_currentPage, 1);
    QVERIFY(!w.m_busy);

    // "Onboard another" leaves that router behind, and the note about it.
    w.showPage(5);
    w.m_onboardAnotherButton->click();
    QVERIFY(w.m_savedRouterId.isEmpty());
    QVERIFY(w.m_hotspotNote->text().isEmpty());
    m_billing.clearOverrides();
}

void TestSignInFlow::cancelAbortsTunnelInstallWithoutFallback()
{
    MainWindow &w = *m_window;
    signIn("100200");
    w.m_passwordEdit->setText(QStringLiteral("router-pass"));
    w.rememberLinkedRouter(QLatin1String(kSavedRouterId), QStringLiteral("Office router"));
    BillingSimOverride slow;
    slow.delayMs = 15000;
    failTunnelInstalls(slow);

    // The service call waits in a nested event loop, so "Cancel" is pressed while it runs.
    bool pressed = false;
    QTimer::singleShot(300, &w, [&] {
        pressed = w.m_busy && w.m_currentPage == 4;
        w.m_progressButton->click();
    });
    QElapsedTimer clock;
    clock.start();
    w.m_installButton->click();
    const qint64 elapsed = clock.elapsed();
    m_billing.clearOverrides();
    QVERIFY(pressed);
    QVERIFY2(elapsed < 10000, qPrintable(QString::number(elapsed)));
    QCOMPARE(w.m_log->toPlainText().count(QLatin1String("Cancel requested.")), 1);
    QVERIFY(!w.m_log->toPlainText().contains(QLatin1String("Trying the router address")));
    QVERIFY(!w.m_worker->isRunning());
    QCOMPARE(w.m_progressTitle->text(), QStringLiteral("Cancelled."));
    QCOMPARE(w.m_hotspotNote->text(), QStringLiteral("Cancelled."));
    QCOMPARE(w.m_progressButton->text(), QStringLiteral("Back"));
    QVERIFY(w.m_progressButton->isEnabled());
    w.m_progressButton->click();
    QCOMPARE(w.m_currentPage, 1);
}

void TestSignInFlow::closingEndsTheTunnelInstallAtOnce()
{
    MainWindow &w = *m_window;
    signIn("100200");
    w.m_passwordEdit->setText(QStringLiteral("router-pass"));
    w.rememberLinkedRouter(QLatin1String(kSavedRouterId), QStringLiteral("Office router"));
    BillingSimOverride slow;
    slow.delayMs = 15000;
    failTunnelInstalls(slow);

    // The window is closed while the service call waits in its nested event loop; "Yes" stops it.
    bool closed = false;
    QTimer::singleShot(300, &w, [&] {
        QCloseEvent event;
        QApplication::sendEvent(&w, &event);
        closed = event.isAccepted();
    });
    QElapsedTimer clock;
    clock.start();
    w.m_installButton->click();
    const qint64 elapsed = clock.elapsed();
    m_billing.clearOverrides();
    QVERIFY(closed);
    QCOMPARE(m_questions.constLast(),
             QStringLiteral("A router job is still running. Stop it and close?"));
    QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
    QCOMPARE(w.m_progressTitle->text(), QStringLiteral("Cancelled."));
    // A window on its way out does not start a router job through the fallback.
    QVERIFY(!w.m_log->toPlainText().contains(QLatin1String("Trying the router address")));
    QVERIFY(!w.m_worker->isRunning());
}

void TestSignInFlow::pageScreenshots()
{
    const QString folder = qEnvironmentVariable("QUILLMOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        QSKIP("QUILLMOR_SCREENSHOT_DIR is not set");
    QVERIFY(QDir().mkpath(folder));
    MainWindow &w = *m_window;
    const auto shoot = [&](const QString &page) {
        for (const QSize &size : {QSize(980, 720), QSize(420, 360)}) {
            w.resize(size);
            QCoreApplication::processEvents();
            w.fitPage();
            const QString file = QDir(folder).filePath(
                QStringLiteral("%1-%2x%3.png").arg(page).arg(size.width()).arg(size.height()));
            QVERIFY2(w.grab().save(file), qPrintable(file));
        }
    };
    w.m_accountEdit->setText(QStringLiteral("100200"));
    w.m_sendCodeButton->click();
    shoot(QStringLiteral("signin"));
    w.m_codeEdit->setText(QStringLiteral("123456"));
    w.m_signInButton->click();
    QCOMPARE(w.m_currentPage, 1);
    shoot(QStringLiteral("home"));
    w.m_onboardHomeButton->click();
    shoot(QStringLiteral("connect"));

    // A router without internet, so that the review shows its internet card as well.
    const QVariantMap facts{{QStringLiteral("identity"), QStringLiteral("MikroTik")},
                            {QStringLiteral("model"), QStringLiteral("hAP ax2")},
                            {QStringLiteral("version"), QStringLiteral("7.14.3")},
                            {QStringLiteral("ros7"), true},
                            {QStringLiteral("wireguardOk"), true},
                            {QStringLiteral("fresh"), true},
                            {QStringLiteral("ether1Bridged"), true},
                            {QStringLiteral("ifName"), QStringLiteral("quillmor")},
                            {QStringLiteral("mgmtUser"), QStringLiteral("quillmor")}};
    w.onInspectReady(true, QString(), facts);
    shoot(QStringLiteral("review"));

    w.beginJobPage(QStringLiteral("Connecting to the router..."), 2);
    for (const char *line : {"Signing in to the router...", "Signed in.", "Reading the router...",
                             "hAP ax2, RouterOS 7.14.3, internet no"})
        w.appendLog(QLatin1String(line));
    shoot(QStringLiteral("progress"));
    w.setBusy(false);
}

QTEST_MAIN(TestSignInFlow)
#include "tst_signinflow.moc"

#include "router/routertask.h"
#include "ui/mainwindow.h"
#include "ui/progresschecklist.h"

#include <functional>
#include <memory>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

const char kCloseQuestion[] = "A router job is still running. Stop it and close?";
const QColor kErrorColour(0x9f, 0x12, 0x39);
const QColor kNeutralColour(0x4b, 0x5b, 0x68);

QColor textColour(QLabel *label)
{
    label->ensurePolished();
    return label->palette().color(label->foregroundRole());
}

QChar mnemonicOf(const QAbstractButton *button)
{
    const QString text = button->text();
    const qsizetype at = text.indexOf(QLatin1Char('&'));
    return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
}

} // namespace

// Driving the window by keyboard: Return and Esc on every page, where the focus lands, the focus
// ring, mnemonics, the review page's fit, the close question, error colours and the checklist.
class TestWindowKeys final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void returnRunsThePagesMainAction();
    void escapeGoesBackOrCancels();
    void pageOpensWithFirstEmptyFieldFocused();
    void focusRingShowsOnEveryKindOfButton();
    void mnemonicsAreUniqueAndWork();
    void tabFollowsTheWindowsOrder();
    void reviewKeepsItsButtonsInView_data();
    void reviewKeepsItsButtonsInView();
    void oneScrollBarAtATime_data();
    void oneScrollBarAtATime();
    void questionsDefaultToNo();
    void closingAsksOnlyWhileARouterChanges();
    void cancelledIsNeutralOtherErrorsAreNot();
    void checklistReadsStepLines_data();
    void checklistReadsStepLines();
    void checklistFollowsARun();
    void checklistRowsHoldWrappedLabels();

private:
    static QVariantMap readyFacts();
    static void signIn(MainWindow &window);
    static void press(QWidget *target, Qt::Key key);
    // What Tab reaches from "Sign out" until it comes back there, each control by its text.
    static QStringList tabSequence(MainWindow &window);
};

void TestWindowKeys::init()
{
    // Nothing listens there; these tests must never reach a service.
    qputenv("QUILLMOR_BASE_URL", "http://127.0.0.1:9");
    qputenv("QUILLMOR_API_KEY", "test-key");
}

QVariantMap TestWindowKeys::readyFacts()
{
    return {{QStringLiteral("identity"), QStringLiteral("Hill-AP")},
            {QStringLiteral("version"), QStringLiteral("7.14.3")},
            {QStringLiteral("model"), QStringLiteral("RB5009UG+S+")},
            {QStringLiteral("ros7"), true},
            {QStringLiteral("wireguardOk"), true},
            {QStringLiteral("internet"), true},
            {QStringLiteral("fresh"), true},
            {QStringLiteral("replace"), true},
            {QStringLiteral("ifName"), QStringLiteral("quillmor")},
            {QStringLiteral("mgmtUser"), QStringLiteral("quillmor")}};
}

void TestWindowKeys::signIn(MainWindow &window)
{
    // A sign-in makes the pages that follow it.
    window.completeWindow();
    window.m_profile.token = QStringLiteral("token");
    window.m_profile.accountNumber = QStringLiteral("1001");
    window.m_profile.mikrotikUsername = QStringLiteral("quillmor");
    window.m_profile.mikrotikPassword = QStringLiteral("saved-pass");
    window.m_profile.routerLimit = 3;
    window.m_profile.routersUsed = 1;
}

void TestWindowKeys::press(QWidget *target, Qt::Key key)
{
    // Keys go where the focus is; a label takes none and leaves it where the page put it.
    if (target->focusPolicy() == Qt::NoFocus) {
        target = target->window()->focusWidget();
    } else {
        target->setFocus(Qt::OtherFocusReason);
    }
    QVERIFY(target);
    QTest::keyClick(target, key);
}

void TestWindowKeys::returnRunsThePagesMainAction()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto clicks = [](QPushButton *button) {
        return std::make_unique<QSignalSpy>(button, &QPushButton::clicked);
    };

    // Sign-in: the account field runs "Send verification code" itself, exactly once.
    auto sendCode = clicks(window.m_sendCodeButton);
    window.m_accountEdit->setText(QStringLiteral("12"));
    press(window.m_accountEdit, Qt::Key_Return);
    QCOMPARE(window.m_loginNote->text(), QStringLiteral("Enter the account number from Quillmor."));
    QCOMPARE(sendCode->count(), 0);
    window.m_loginNote->clear();
    press(window.m_sendCodeButton, Qt::Key_Return);
    QCOMPARE(sendCode->count(), 1);
    // The code field signs in on its own, once; the focused "Sign in" button does it by Return.
    window.m_codeRow->show();
    auto signInClicks = clicks(window.m_signInButton);
    window.m_codeEdit->setText(QStringLiteral("12"));
    press(window.m_codeEdit, Qt::Key_Return);
    QCOMPARE(window.m_loginNote->text(), QStringLiteral("Enter the verification code."));
    QCOMPARE(signInClicks->count(), 0);
    press(window.m_signInButton, Qt::Key_Enter);
    QCOMPARE(signInClicks->count(), 1);

    signIn(window);
    window.showPage(1);
    press(window.m_homeTitle, Qt::Key_Enter);
    QCOMPARE(window.m_currentPage, 2);

    // Connect: Return in the address field connects; an empty address only gets the hint.
    auto connectClicks = clicks(window.m_connectButton);
    window.m_hostEdit->clear();
    press(window.m_hostEdit, Qt::Key_Return);
    QCOMPARE(connectClicks->count(), 1);
    QCOMPARE(window.m_connectError->text(),
             QStringLiteral("Enter the router address and username."));
    QVERIFY(!window.m_worker->isRunning());

    window.onInspectReady(true, QString(), readyFacts());
    QCOMPARE(window.m_currentPage, 3);
    auto provisionClicks = clicks(window.m_provisionButton);
    window.m_routerNameEdit->clear();
    press(window.m_routerNameEdit, Qt::Key_Return);
    QCOMPARE(provisionClicks->count(), 1);
    QCOMPARE(window.m_reviewError->text(),
             QStringLiteral("Name this router so you can find it in Quillmor."));

    // The hotspot card's own action answers Return inside the card.
    auto installClicks = clicks(window.m_installButton);
    press(window.m_stationList, Qt::Key_Return);
    QCOMPARE(installClicks->count(), 1);
    QCOMPARE(provisionClicks->count(), 1);

    // The progress page has no main action: Return must not cancel the run.
    window.beginJobPage(QStringLiteral("Working..."), 3);
    press(window.m_log, Qt::Key_Return);
    QVERIFY(!window.m_log->toPlainText().contains(QLatin1String("Cancel requested.")));
    QVERIFY(window.m_progressButton->isEnabled());
    window.setBusy(false);

    window.showPage(5);
    press(window.m_doneText, Qt::Key_Return);
    QCOMPARE(window.m_currentPage, 2);
}

void TestWindowKeys::escapeGoesBackOrCancels()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    press(window.m_accountEdit, Qt::Key_Escape);
    QCOMPARE(window.m_currentPage, 0);

    signIn(window);
    window.showPage(2);
    press(window.m_hostEdit, Qt::Key_Escape);
    QCOMPARE(window.m_currentPage, 1);
    press(window.m_homeTitle, Qt::Key_Escape);
    QCOMPARE(window.m_currentPage, 1);

    window.onInspectReady(true, QString(), readyFacts());
    press(window.m_routerNameEdit, Qt::Key_Escape);
    QCOMPARE(window.m_currentPage, 2);

    window.beginJobPage(QStringLiteral("Working..."), 2);
    press(window.m_log, Qt::Key_Escape);
    QCOMPARE(window.m_log->toPlainText().count(QLatin1String("Cancel requested.")), 1);
    QVERIFY(!window.m_progressButton->isEnabled());
    // A greyed Cancel is not pressed a second time.
    press(window.m_log, Qt::Key_Escape);
    QCOMPARE(window.m_log->toPlainText().count(QLatin1String("Cancel requested.")), 1);
    window.setBusy(false);

    window.showPage(5);
    press(window.m_doneText, Qt::Key_Escape);
    QCOMPARE(window.m_currentPage, 1);
}

void TestWindowKeys::pageOpensWithFirstEmptyFieldFocused()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.focusWidget(), window.m_accountEdit);

    signIn(window);
    window.showPage(1);
    QCOMPARE(window.focusWidget(), window.m_onboardHomeButton);
    // New router: address and user are filled in, the sticker password is not.
    window.showPage(2);
    QCOMPARE(window.focusWidget(), window.m_passwordEdit);
    window.m_inUseRadio->setChecked(true);
    window.showPage(2);
    QCOMPARE(window.focusWidget(), window.m_hostEdit);
    window.m_newRouterRadio->setChecked(true);

    window.onInspectReady(true, QString(), readyFacts());
    QCOMPARE(window.focusWidget(), window.m_provisionButton);
    QVariantMap unnamed = readyFacts();
    unnamed.remove(QStringLiteral("identity"));
    window.onInspectReady(true, QString(), unnamed);
    QCOMPARE(window.focusWidget(), window.m_routerNameEdit);

    window.showPage(5);
    QCOMPARE(window.focusWidget(), window.m_onboardAnotherButton);

    // After sign-out the account number stays, so the button that sends the code has the focus.
    window.m_accountEdit->setText(QStringLiteral("100200"));
    window.onSignOut();
    QCOMPARE(window.m_currentPage, 0);
    QCOMPARE(window.focusWidget(), window.m_sendCodeButton);
}

void TestWindowKeys::focusRingShowsOnEveryKindOfButton()
{
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    signIn(window);
    window.showPage(2);
    // A primary and an outlined ("secondary") button: each must look different with the focus.
    for (QPushButton *button : {window.m_connectButton, window.m_connectBackButton}) {
        window.m_hostEdit->setFocus();
        QTRY_VERIFY(!button->hasFocus());
        const QImage without = button->grab().toImage();
        button->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(button->hasFocus());
        const QImage with = button->grab().toImage();
        QCOMPARE(with.size(), without.size());
        QVERIFY2(with != without, qPrintable(button->text()));
    }
}

void TestWindowKeys::mnemonicsAreUniqueAndWork()
{
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    signIn(window);
    window.onInspectReady(true, QString(), readyFacts());
    // The buttons that show only now and then are on show too, so their letters are compared.
    const auto showOccasionalButtons = [&window](int page) {
        if (page == 4)
            window.m_continueWithoutBackupButton->show();
        if (page == 5)
            window.m_doneLogToggle->setChecked(true);
    };
    for (int page = 0; page < 6; ++page) {
        window.showPage(page);
        showOccasionalButtons(page);
        QSet<QChar> seen;
        const QList<QPushButton *> buttons = window.findChildren<QPushButton *>();
        for (QPushButton *button : buttons) {
            if (!button->isVisible())
                continue;
            const QChar letter = mnemonicOf(button);
            if (letter.isNull())
                continue;
            QVERIFY2(!seen.contains(letter),
                     qPrintable(QStringLiteral("page %1: %2").arg(page).arg(button->text())));
            seen.insert(letter);
        }
        // Every page's main and back actions have a letter, but the progress page's Cancel/Back,
        // which answers Esc instead.
        for (QPushButton *action : {window.mainAction(), window.backAction()}) {
            if (action && action != window.m_progressButton)
                QVERIFY2(!mnemonicOf(action).isNull(), qPrintable(action->text()));
        }
    }
    // Every button of the tools has a letter, on both of its pages and in both of its texts.
    QList<QPushButton *> tools{window.m_findRoutersButton,  window.m_saveBackupButton,
                               window.m_showCommandsButton, window.m_continueWithoutBackupButton,
                               window.m_copyLogButton,      window.m_saveReportButton,
                               window.m_doneLogToggle};
    tools << window.m_doneLog->parentWidget()->findChildren<QPushButton *>();
    for (QPushButton *button : std::as_const(tools))
        QVERIFY2(!mnemonicOf(button).isNull(), qPrintable(button->text()));
    window.m_doneLogToggle->setChecked(false);
    QCOMPARE(window.m_doneLogToggle->text(), QStringLiteral("Show the &activity log"));

    window.showPage(2);
    QCOMPARE(window.m_connectButton->text(), QStringLiteral("&Connect"));
    QSignalSpy connectClicks(window.m_connectButton, &QPushButton::clicked);
    window.m_hostEdit->clear();
    QTest::keyClick(&window, Qt::Key_C, Qt::AltModifier);
    QTRY_COMPARE(connectClicks.count(), 1);
    QTest::keyClick(&window, Qt::Key_B, Qt::AltModifier);
    QTRY_COMPARE(window.m_currentPage, 1);
}

QStringList TestWindowKeys::tabSequence(MainWindow &window)
{
    const QHash<QWidget *, QString> names{
        {window.m_hostEdit, QStringLiteral("Router IP")},
        {window.m_portSpin, QStringLiteral("SSH port")},
        {window.m_userEdit, QStringLiteral("Username")},
        {window.m_passwordEdit, QStringLiteral("Password")},
        {window.m_routerNameEdit, QStringLiteral("Name in Quillmor")},
        {window.m_reviewTextArea, QStringLiteral("review text")},
        {window.m_stationList, QStringLiteral("station list")}};
    QStringList sequence;
    window.m_signOutButton->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 40; ++i) {
        QWidget *focus = window.focusWidget();
        if (!focus || (i > 0 && focus == window.m_signOutButton))
            break;
        const auto *button = qobject_cast<QAbstractButton *>(focus);
        sequence << (button ? button->text().remove(QLatin1Char('&'))
                            : names.value(focus,
                                          QString::fromLatin1(focus->metaObject()->className())));
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    return sequence;
}

void TestWindowKeys::tabFollowsTheWindowsOrder()
{
    MainWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    signIn(window);
    window.setBusy(false);
    window.showPage(1);
    window.showPage(2);
    // The brand row, the page's controls in their own order, then the hotspot card; the frame
    // that scrolls the page is not a stop of its own.
    const QStringList card{QStringLiteral("station list"), QStringLiteral("Load stations"),
                           QStringLiteral("Install login page")};
    QCOMPARE(tabSequence(window),
             QStringList({QStringLiteral("Sign out"),
                          QStringLiteral("New MikroTik, just plugged into this computer"),
                          QStringLiteral("Router IP"), QStringLiteral("SSH port"),
                          QStringLiteral("Username"), QStringLiteral("Password"),
                          QStringLiteral("Find routers"), QStringLiteral("Back"),
                          QStringLiteral("Connect")}) +
                 card);

    // The review page is put in the stack after the connect page: its order is the same. Its
    // text is a stop only while it scrolls on its own.
    window.onInspectReady(true, QString(), readyFacts());
    QVERIFY(window.m_reviewTextArea->verticalScrollBar()->isVisible());
    const QStringList review{QStringLiteral("Sign out"),
                             QStringLiteral("review text"),
                             QStringLiteral("Add WireGuard, then the full setup"),
                             QStringLiteral("Name in Quillmor"),
                             QStringLiteral("Back"),
                             QStringLiteral("Save router backup"),
                             QStringLiteral("Show commands"),
                             QStringLiteral("Onboard this MikroTik")};
    QCOMPARE(tabSequence(window), review + card);
    window.resize(800, 600);
    QTRY_VERIFY(!window.m_reviewTextArea->verticalScrollBar()->isVisible());
    QCOMPARE(tabSequence(window), QStringList(review.mid(0, 1) + review.mid(2) + card));
}

void TestWindowKeys::reviewKeepsItsButtonsInView_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("first size") << QSize(980, 720);
    QTest::newRow("large") << QSize(1280, 900);
}

void TestWindowKeys::reviewKeepsItsButtonsInView()
{
    QFETCH(QSize, size);
    MainWindow window;
    window.resize(size);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    signIn(window);
    // The full setup on a router with a link gives the longest review text there is; such a
    // router never gets it by default, so it is chosen here.
    window.onInspectReady(true, QString(), readyFacts());
    window.m_fullSetupRadio->setChecked(true);
    QTRY_COMPARE(window.m_reviewTextArea->height(), window.m_reviewTextArea->maximumHeight());

    const QRect visible = window.m_scroll->viewport()->rect();
    QCOMPARE(window.m_scroll->verticalScrollBar()->value(), 0);
    for (QPushButton *button : {window.m_provisionButton, window.m_reviewBackButton}) {
        const QRect inViewport(button->mapTo(window.m_scroll->viewport(), QPoint(0, 0)),
                               button->size());
        QVERIFY2(visible.contains(inViewport), qPrintable(QStringLiteral("%1 at %2,%3")
                                                              .arg(button->text())
                                                              .arg(inViewport.top())
                                                              .arg(visible.height())));
    }
    // Nothing on the card is squeezed over anything else, once the card has been laid out again.
    QTRY_VERIFY(window.m_reviewTextArea->geometry().bottom() <
                window.m_reviewError->geometry().top());
    QVERIFY(window.m_reviewError->geometry().bottom() < window.m_fullSetupRadio->geometry().top());
    // The review text is the one part of the page that scrolls: no scroll area holds the page.
    const QList<QAbstractScrollArea *> areas =
        window.m_stack->widget(3)->findChildren<QAbstractScrollArea *>();
    QCOMPARE(areas.size(), 1);
    QCOMPARE(areas.first(), window.m_reviewTextArea);
    // All of the text can be reached: the area scrolls exactly as far as the text is taller.
    QScrollBar *bar = window.m_reviewTextArea->verticalScrollBar();
    QCOMPARE(bar->maximum(), std::max(0, window.m_reviewText->height() -
                                             window.m_reviewTextArea->viewport()->height()));
    // At least three lines of the text are on show at once.
    QVERIFY(window.m_reviewTextArea->viewport()->height() >=
            3 * window.m_reviewText->fontMetrics().lineSpacing());
}

void TestWindowKeys::oneScrollBarAtATime_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QSize>("size");
    for (const QSize &size : {QSize(980, 720), QSize(1280, 900), QSize(800, 600)}) {
        for (const auto &[name, page] : {std::pair("review", 3), {"progress", 4}, {"done", 5}}) {
            QTest::addRow("%s %dx%d", name, size.width(), size.height()) << page << size;
        }
    }
}

void TestWindowKeys::oneScrollBarAtATime()
{
    QFETCH(int, page);
    QFETCH(QSize, size);
    MainWindow window;
    window.resize(size);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    signIn(window);
    // Each page as full as it gets: the longest review text, a long run with many steps, and the
    // done page with its activity log open.
    window.onInspectReady(true, QString(), readyFacts());
    window.m_fullSetupRadio->setChecked(true);
    if (page >= 4) {
        window.beginJobPage(QStringLiteral("Linking this router to Quillmor..."), 3);
        for (int step = 1; step <= 30; ++step) {
            window.appendLog(QStringLiteral("Adding part %1 of the link...").arg(step));
            for (int line = 0; line < 4; ++line)
                window.appendLog(QStringLiteral("Part %1 is in place (%2).").arg(step).arg(line));
        }
        window.setBusy(false);
    }
    if (page == 5) {
        window.finishJobRecord(true, QString(), QVariantMap());
        window.m_doneTitle->setText(QStringLiteral("Quillmor can see this router"));
        window.m_doneText->setText(QStringLiteral("The link is in. The router is Hill-AP."));
        window.showPage(5);
        window.m_doneLogToggle->setChecked(true);
    }
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    QList<QAbstractScrollArea *> areas = window.findChildren<QAbstractScrollArea *>();
    QVERIFY(areas.contains(window.m_scroll));
    QStringList scrolling;
    for (QAbstractScrollArea *area : std::as_const(areas)) {
        if (area->verticalScrollBar()->isVisible() || area->horizontalScrollBar()->isVisible())
            scrolling << area->objectName() + QLatin1Char(' ') +
                             QString::fromLatin1(area->metaObject()->className());
    }
    QVERIFY2(scrolling.size() <= 1, qPrintable(scrolling.join(QStringLiteral(", "))));

    const bool roomy = size.height() >= 720;
    // Where the page and the hotspot card fit, the window itself does not scroll.
    if (roomy)
        QVERIFY(!window.m_scroll->verticalScrollBar()->isVisible());
    // A part that scrolls on its own can be reached by Tab; one shown whole is no stop.
    const bool reviewScrolls = window.m_reviewTextArea->verticalScrollBar()->isVisible();
    if (page == 3)
        QCOMPARE(bool(window.m_reviewTextArea->focusPolicy() & Qt::TabFocus), reviewScrolls);
    if (page == 3 && !roomy) {
        // Too little room for even a few lines: the text is shown whole and the window scrolls.
        QVERIFY(!reviewScrolls);
        QVERIFY(window.m_scroll->verticalScrollBar()->isVisible());
        QVERIFY(window.m_reviewTextArea->viewport()->height() >= window.m_reviewText->height());
    }
    if (page == 3 && roomy) {
        const QRect visible = window.m_scroll->viewport()->rect();
        for (QPushButton *button : {window.m_provisionButton, window.m_reviewBackButton}) {
            const QRect inViewport(button->mapTo(window.m_scroll->viewport(), QPoint(0, 0)),
                                   button->size());
            QVERIFY2(visible.contains(inViewport), qPrintable(button->text()));
        }
    }
}

void TestWindowKeys::questionsDefaultToNo()
{
    MainWindow window;
    QString shownText;
    bool noWasDefault = false;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        shownText = box->text();
        noWasDefault = box->defaultButton() == box->button(QMessageBox::No);
        box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(window.confirm(QStringLiteral("Change port 1?"), QLatin1String(kCloseQuestion)));
    QCOMPARE(shownText, QLatin1String(kCloseQuestion));
    QVERIFY(noWasDefault);
}

void TestWindowKeys::closingAsksOnlyWhileARouterChanges()
{
    // A router that accepts the connection and never says a word keeps a job in its sign-in.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket *> held;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = silent.nextPendingConnection())
            held << socket;
    });

    MainWindow window;
    QStringList asked;
    QMessageBox::StandardButton answer = QMessageBox::No;
    window.setAskFunction([&](QWidget *, const QString &, const QString &text) {
        asked << text;
        return answer;
    });
    RouterLogin login;
    login.host = QStringLiteral("127.0.0.1");
    login.port = silent.serverPort();
    login.user = QStringLiteral("admin");
    login.password = QStringLiteral("pass");
    const auto closeWindow = [&window] {
        QCloseEvent event;
        QApplication::sendEvent(&window, &event);
        return event.isAccepted();
    };

    QVERIFY(closeWindow());
    QVERIFY(asked.isEmpty());

    window.m_worker->startWan(login, QStringLiteral("dhcp"), QString(), QString(), false, false,
                              false);
    QVERIFY(window.m_worker->isRunning());
    QVERIFY(!closeWindow());
    QCOMPARE(asked, QStringList{QLatin1String(kCloseQuestion)});
    QVERIFY(!window.m_worker->isCancelled());
    answer = QMessageBox::Yes;
    QVERIFY(closeWindow());
    QVERIFY(window.m_worker->isCancelled());
    QTRY_VERIFY_WITH_TIMEOUT(!window.m_worker->isRunning(), 20000);

    // Reading a router changes nothing on it, so closing does not ask.
    asked.clear();
    window.m_worker->startInspect(login);
    QVERIFY(window.m_worker->isRunning());
    QVERIFY(closeWindow());
    QVERIFY(asked.isEmpty());
    window.m_worker->requestCancel();
    QTRY_VERIFY_WITH_TIMEOUT(!window.m_worker->isRunning(), 20000);

    // The install through the Quillmor link is a service call on the progress page.
    window.showPage(4);
    window.setBusy(true);
    answer = QMessageBox::No;
    QVERIFY(!closeWindow());
    QCOMPARE(asked.size(), 1);
    window.setBusy(false);
    qDeleteAll(held);
}

void TestWindowKeys::cancelledIsNeutralOtherErrorsAreNot()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    signIn(window);
    window.onInspectReady(false, QStringLiteral("Cancelled."), {});
    QCOMPARE(window.m_currentPage, 2);
    QCOMPARE(textColour(window.m_connectError), kNeutralColour);
    window.onInspectReady(false, QStringLiteral("The router did not answer on port 22."), {});
    QCOMPARE(textColour(window.m_connectError), kErrorColour);

    window.onInspectReady(true, QString(), readyFacts());
    window.onWanReady(false, QStringLiteral("Cancelled."), false, false);
    QCOMPARE(window.m_reviewError->text(), QStringLiteral("Cancelled."));
    QCOMPARE(textColour(window.m_reviewError), kNeutralColour);
    // The next error on the same label is an error again.
    window.m_routerNameEdit->clear();
    window.m_provisionButton->click();
    QCOMPARE(window.m_reviewError->text(),
             QStringLiteral("Name this router so you can find it in Quillmor."));
    QCOMPARE(textColour(window.m_reviewError), kErrorColour);
}

void TestWindowKeys::checklistReadsStepLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("attempt");
    QTest::newRow("step") << "Signing in to the router..."
                          << "Signing in to the router" << QString();
    QTest::newRow("attempt") << "Checking internet (2/5)..."
                             << "Checking internet"
                             << "2/5";
    QTest::newRow("wait") << "Waiting for Quillmor to see the router (8/8)..."
                          << "Waiting for Quillmor to see the router"
                          << "8/8";
    QTest::newRow("value in brackets") << "Adding the route for (10.0.0.0/8)..."
                                       << "Adding the route for (10.0.0.0/8)" << QString();
    QTest::newRow("result") << "Signed in." << QString() << QString();
    QTest::newRow("cancel") << "Cancel requested." << QString() << QString();
    QTest::newRow("blank") << "   " << QString() << QString();
}

void TestWindowKeys::checklistReadsStepLines()
{
    QFETCH(QString, line);
    QFETCH(QString, label);
    QFETCH(QString, attempt);
    const ProgressChecklist::Step step = ProgressChecklist::parseStepLine(line);
    QCOMPARE(step.label, label);
    QCOMPARE(step.attempt, attempt);
}

void TestWindowKeys::checklistFollowsARun()
{
    using State = ProgressChecklist::State;
    MainWindow window;
    signIn(window);
    ProgressChecklist *list = window.m_checklist;
    QCOMPARE(ProgressChecklist::formatDuration(61999), QStringLiteral("1:01"));
    QCOMPARE(ProgressChecklist::formatDuration(0), QStringLiteral("0:00"));

    window.beginJobPage(QStringLiteral("Setting the router internet..."), 3);
    QVERIFY(list->isRunning());
    QVERIFY(list->steps().isEmpty());
    QCOMPARE(list->elapsedText(), QStringLiteral("Elapsed 0:00"));
    window.appendLog(QStringLiteral("Signing in to the router..."));
    window.appendLog(QStringLiteral("Signed in."));
    window.appendLog(QStringLiteral("Starting DHCP on port 1..."));
    window.appendLog(QStringLiteral("Checking internet (1/5)..."));
    window.appendLog(QStringLiteral("Checking internet (2/5)..."));
    QCOMPARE(list->steps().size(), 3);
    QCOMPARE(list->steps().at(0).state, State::Done);
    QCOMPARE(list->steps().at(1).state, State::Done);
    QCOMPARE(list->steps().at(2).label, QStringLiteral("Checking internet"));
    QCOMPARE(list->steps().at(2).attempt, QStringLiteral("2/5"));
    QCOMPARE(list->steps().at(2).state, State::Waiting);

    emit window.m_worker->wanReady(false, QStringLiteral("The router has no internet."), false,
                                   false);
    QTRY_VERIFY(!list->isRunning());
    QCOMPARE(list->steps().at(2).state, State::Failed);
    QCOMPARE(list->steps().at(0).state, State::Done);
    // A line after the end belongs to no run.
    window.appendLog(QStringLiteral("Reading the router..."));
    QCOMPARE(list->steps().size(), 3);

    // Showing the progress page again starts a new run; a service failure before any step still
    // leaves a failed row behind.
    window.showPage(4);
    QVERIFY(list->steps().isEmpty());
    window.failOnProgressPage(QStringLiteral("The Quillmor link did not answer."));
    QCOMPARE(list->steps().size(), 1);
    QCOMPARE(list->steps().at(0).label, QStringLiteral("The Quillmor link did not answer."));
    QCOMPARE(list->steps().at(0).state, State::Failed);

    window.showPage(4);
    window.appendLog(QStringLiteral("Reading the router..."));
    emit window.m_worker->inspectReady(true, QString(), readyFacts());
    QTRY_VERIFY(!list->isRunning());
    QCOMPARE(list->steps().at(0).state, State::Done);
}

void TestWindowKeys::checklistRowsHoldWrappedLabels()
{
    MainWindow window;
    signIn(window);
    window.resize(980, 720);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.beginJobPage(QStringLiteral("Linking this router to Quillmor..."), 3);
    window.showPage(4);
    window.appendLog(QStringLiteral("Adding the route for 10.20.0.0/16..."));
    window.appendLog(QStringLiteral("Allowing the Quillmor link through the firewall..."));
    window.appendLog(QStringLiteral("Adding the management user..."));
    auto *rows = window.m_checklist->findChild<QListWidget *>();
    QVERIFY(rows);
    QCOMPARE(rows->count(), 3);
    // The long label wraps in the narrow column; its row must still hold the label and the state
    // line under it, measured at the width the row really has.
    QListWidgetItem *wrapped = rows->item(1);
    QVERIFY(wrapped->text().startsWith(QLatin1String("Allowing the Quillmor link")));
    QTRY_VERIFY(rows->visualItemRect(wrapped).width() > 0);
    const QRect row = rows->visualItemRect(wrapped);
    const QRect needed = rows->fontMetrics().boundingRect(QRect(0, 0, row.width() - 8, 0),
                                                          Qt::TextWordWrap, wrapped->text());
    QVERIFY2(needed.height() >= 3 * rows->fontMetrics().lineSpacing(),
             "the label no longer wraps here; make it longer");
    QVERIFY2(row.height() >= needed.height(),
             qPrintable(QStringLiteral("%1 < %2").arg(row.height()).arg(needed.height())));
}

QTEST_MAIN(TestWindowKeys)
#include "tst_windowkeys.moc"

// Drives the real wizard window the way an operator would (typing and clicking) through sign-in,
// finding the router on the cable, connecting to it, its review, onboarding with its backup and
// report, and the hotspot login page (through the service, then from this computer), against the
// simulators, and saves a picture of each page.
// It is how the demo shows the product on a machine without a display.

#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

template<typename T>
T *visible(QWidget *window, const std::function<bool(T *)> &match)
{
    const QList<T *> all = window->findChildren<T *>();
    for (T *widget : all) {
        if (widget->isVisible() && match(widget))
            return widget;
    }
    return nullptr;
}

// Buttons are found by the text on show, without the "&" that marks their mnemonic.
QAbstractButton *button(QWidget *window, const QString &text)
{
    return visible<QAbstractButton>(window, [&](QAbstractButton *b) {
        return QString(b->text()).remove(QLatin1Char('&')) == text;
    });
}

QLineEdit *fieldByPlaceholder(QWidget *window, const QString &placeholder)
{
    return visible<QLineEdit>(window,
                              [&](QLineEdit *e) { return e->placeholderText() == placeholder; });
}

QLineEdit *fieldByText(QWidget *window, const QString &text)
{
    return visible<QLineEdit>(window, [&](QLineEdit *e) { return e->text() == text; });
}

bool labelShown(QWidget *window, const QString &text)
{
    return visible<QLabel>(window, [&](QLabel *l) { return l->text() == text; }) != nullptr;
}

// Waits while the window keeps working; a router run or a service call takes seconds.
bool waitFor(const std::function<bool()> &condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    return true;
}

void type(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

// Each job starts the activity log afresh; this keeps every line of the whole tour.
class LogRecorder
{
public:
    explicit LogRecorder(QPlainTextEdit *log) : m_log(log)
    {
        QObject::connect(log, &QPlainTextEdit::textChanged, log, [this] { record(); });
    }

    void print()
    {
        record();
        out() << "Activity log of the whole run:" << Qt::endl;
        for (const QString &part : std::as_const(m_earlier))
            out() << part << Qt::endl;
        out() << m_seen << Qt::endl;
    }

private:
    void record()
    {
        const QString now = m_log->toPlainText();
        if (!now.startsWith(m_seen) && !m_seen.isEmpty())
            m_earlier << m_seen;
        m_seen = now;
    }

    QPlainTextEdit *m_log;
    QStringList m_earlier;
    QString m_seen;
};

// The progress page's log; the done page keeps a copy of the last job's, which may be empty.
QString activityLog(QWidget *window)
{
    QString longest;
    for (const QPlainTextEdit *log : window->findChildren<QPlainTextEdit *>()) {
        if (log->toPlainText().size() > longest.size())
            longest = log->toPlainText();
    }
    return longest;
}

int fail(const QString &what)
{
    out() << "demo: " << what << Qt::endl;
    return 1;
}

class Tour
{
public:
    Tour(MainWindow *window, const QString &folder) : m_window(window), m_folder(folder) {}

    void shot(const QString &name)
    {
        QTest::qWait(150);
        const QString path = QDir(m_folder).filePath(name + QStringLiteral(".png"));
        m_window->grab().save(path);
        out() << "  picture: " << path << Qt::endl;
    }

    bool click(const QString &text)
    {
        QAbstractButton *b = button(m_window, text);
        if (!b) {
            fail(QStringLiteral("no button \"%1\" on this page").arg(text));
            return false;
        }
        if (!waitFor([b] { return b->isEnabled(); }, 30000)) {
            fail(QStringLiteral("\"%1\" stayed disabled").arg(text));
            return false;
        }
        QTest::mouseClick(b, Qt::LeftButton);
        return true;
    }

    MainWindow *m_window;
    QString m_folder;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillmor"));
    QApplication::setApplicationName(QStringLiteral("QuillmorMikroTikSetup"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption folderOption(QStringLiteral("out"), QStringLiteral("Picture folder."),
                                          QStringLiteral("dir"), QStringLiteral("."));
    const QCommandLineOption accountOption(QStringLiteral("account"),
                                           QStringLiteral("Account number."),
                                           QStringLiteral("number"));
    const QCommandLineOption codeOption(QStringLiteral("code"), QStringLiteral("One-time code."),
                                        QStringLiteral("code"));
    const QCommandLineOption portOption(QStringLiteral("router-port"),
                                        QStringLiteral("SSH port of the simulated router."),
                                        QStringLiteral("port"));
    const QCommandLineOption passwordOption(QStringLiteral("router-password"),
                                            QStringLiteral("The router's admin password."),
                                            QStringLiteral("password"));
    const QCommandLineOption reportOption(QStringLiteral("report"),
                                          QStringLiteral("Where \"Save report\" writes."),
                                          QStringLiteral("file"), QStringLiteral("report.txt"));
    parser.addOptions({folderOption, accountOption, codeOption, portOption, passwordOption,
                       reportOption});
    parser.process(app);
    QDir().mkpath(parser.value(folderOption));

    MainWindow window;
    // The pictures show the window at its first size, whatever screen the offscreen platform has.
    window.resize(980, 720);
    // The progress page joins the window the first time it is shown.
    std::unique_ptr<LogRecorder> recorder;
    const auto printLog = [&] {
        if (recorder)
            recorder->print();
    };
    // The tour changes nothing of the router's own setup; the login page it does install.
    window.setAskFunction([](QWidget *, const QString &title, const QString &) {
        return title == QLatin1String("Install login page?") ? QMessageBox::Yes
                                                             : QMessageBox::No;
    });
    // The file dialog of "Save report" answered with the demo's own file.
    const QString reportPath = parser.value(reportOption);
    window.setSaveFileFunction(
        [reportPath](QWidget *, const QString &, const QString &) { return reportPath; });
    window.show();
    Tour tour(&window, parser.value(folderOption));

    out() << "Sign-in page" << Qt::endl;
    tour.shot(QStringLiteral("1-sign-in"));
    QLineEdit *account = fieldByPlaceholder(&window, QStringLiteral("Account number"));
    if (!account)
        return fail(QStringLiteral("no account number field"));
    type(account, parser.value(accountOption));
    if (!tour.click(QStringLiteral("Send verification code")))
        return 1;
    QLineEdit *code = nullptr;
    if (!waitFor([&] {
            return (code = fieldByPlaceholder(&window, QStringLiteral("Verification code")));
        }, 25000))
        return fail(QStringLiteral("the code was not sent; is billing-sim running?"));
    type(code, parser.value(codeOption));
    tour.shot(QStringLiteral("2-code"));
    if (!tour.click(QStringLiteral("Sign in")))
        return 1;
    if (!waitFor([&] { return button(&window, QStringLiteral("Onboard a MikroTik")); }, 25000))
        return fail(QStringLiteral("sign-in did not reach the account page"));
    out() << "Home page" << Qt::endl;
    tour.shot(QStringLiteral("3-home"));

    if (!tour.click(QStringLiteral("Onboard a MikroTik")))
        return 1;
    QLineEdit *host = fieldByText(&window, QStringLiteral("192.168.88.1"));
    QSpinBox *port = visible<QSpinBox>(&window, [](QSpinBox *) { return true; });
    QLineEdit *password = fieldByPlaceholder(&window, QStringLiteral("Password printed on the router"));
    if (!host || !port || !password)
        return fail(QStringLiteral("the connect form is not as expected"));
    // "Find routers" hears the simulated router announce itself (on the loopback only, see
    // QUILLMOR_MNDP_TARGET); choosing it fills in its address, here 127.0.0.1.
    if (!tour.click(QStringLiteral("Find routers")))
        return 1;
    QListWidget *found = nullptr;
    if (!waitFor([&] {
            found = visible<QListWidget>(&window, [](QListWidget *l) { return l->count() > 0; });
            return found != nullptr;
        }, 10000))
        return fail(QStringLiteral("Find routers found no router; is the simulator announcing?"));
    out() << "Found router: " << found->item(0)->text() << Qt::endl;
    found->setCurrentRow(0);
    QTest::mouseClick(found->viewport(), Qt::LeftButton, {},
                      found->visualItemRect(found->item(0)).center());
    if (host->text() != QLatin1String("127.0.0.1"))
        return fail(QStringLiteral("choosing the found router did not fill in its address"));
    port->setValue(parser.value(portOption).toInt());
    type(password, parser.value(passwordOption));
    out() << "Connect page" << Qt::endl;
    tour.shot(QStringLiteral("4-connect"));
    if (!tour.click(QStringLiteral("Connect")))
        return 1;
    auto *activity = window.findChild<QPlainTextEdit *>();
    if (!activity)
        return fail(QStringLiteral("no activity log on the progress page"));
    recorder = std::make_unique<LogRecorder>(activity);
    tour.shot(QStringLiteral("5-progress"));
    if (!waitFor([&] { return labelShown(&window, QStringLiteral("Ready to link")); }, 90000)) {
        tour.shot(QStringLiteral("5-failed"));
        return fail(QStringLiteral("the router inspection did not reach the review"));
    }
    out() << "Review page" << Qt::endl;
    tour.shot(QStringLiteral("6-review"));

    // The demo router already serves a hotspot, so the review offers the link alone; the tour
    // keeps that choice, which leaves this computer's path to the router in place for the login
    // page it installs from here afterwards.
    if (!tour.click(QStringLiteral("Skip the setup and only add WireGuard")))
        return 1;
    tour.shot(QStringLiteral("7-wireguard-only"));
    if (!tour.click(QStringLiteral("Onboard this MikroTik")))
        return 1;
    out() << "Onboarding..." << Qt::endl;
    QTest::qWait(3000);
    tour.shot(QStringLiteral("8-onboarding"));
    const auto finished = [&] {
        return labelShown(&window, QStringLiteral("Quillmor can see this router"))
               || labelShown(&window, QStringLiteral("The link is on the router"))
               || button(&window, QStringLiteral("Back"));
    };
    if (!waitFor(finished, 180000) || button(&window, QStringLiteral("Back"))) {
        tour.shot(QStringLiteral("8-failed"));
        printLog();
        return fail(QStringLiteral("onboarding did not finish"));
    }
    out() << "Done page" << Qt::endl;
    tour.shot(QStringLiteral("9-done"));
    const QString backupLine = QStringLiteral("Saved the router's configuration to ");
    for (const QString &line : activityLog(&window).split(QLatin1Char('\n'))) {
        if (line.contains(backupLine))
            out() << "Backup: " << line.mid(line.indexOf(backupLine) + backupLine.size()).chopped(1)
                  << Qt::endl;
    }
    if (!tour.click(QStringLiteral("Show the activity log")))
        return 1;
    tour.shot(QStringLiteral("9-done-log"));
    if (!tour.click(QStringLiteral("Save report")))
        return 1;
    QFile report(reportPath);
    if (!report.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("the report was not saved"));
    out() << "Report saved: " << reportPath << Qt::endl;
    out() << QString::fromUtf8(report.readAll()).section(QLatin1Char('\n'), 0, 8) << Qt::endl;
    if (!tour.click(QStringLiteral("Hide the activity log")))
        return 1;

    if (!tour.click(QStringLiteral("Install login page")))
        return 1;
    const auto installed = [&] {
        return visible<QLabel>(&window, [](QLabel *l) {
                   return l->text().startsWith(QStringLiteral("Login page installed at"));
               }) != nullptr;
    };
    if (!waitFor(installed, 120000)) {
        tour.shot(QStringLiteral("10-failed"));
        printLog();
        return fail(QStringLiteral("the hotspot login page was not installed"));
    }
    out() << "Hotspot login page installed through Quillmor" << Qt::endl;
    tour.shot(QStringLiteral("10-hotspot"));

    // The demo service reaches the router through the tunnel once only, so this install falls
    // back to the router address on this computer: the router downloads the page over HTTPS.
    if (!tour.click(QStringLiteral("Install login page")))
        return 1;
    const auto logHas = [&](const QString &text) {
        auto *log = window.findChild<QPlainTextEdit *>();
        return log && log->toPlainText().contains(text);
    };
    const auto localRunOver = [&] {
        QAbstractButton *install = button(&window, QStringLiteral("Install login page"));
        return logHas(QStringLiteral("Trying the router address on this computer."))
               && install && install->isEnabled();
    };
    if (!waitFor(localRunOver, 120000) || !installed()
        || !logHas(QStringLiteral("Installing login.html at"))) {
        tour.shot(QStringLiteral("11-failed"));
        printLog();
        return fail(QStringLiteral("the login page was not installed from this computer"));
    }
    out() << "Hotspot login page installed from this computer over HTTPS" << Qt::endl;
    tour.shot(QStringLiteral("11-hotspot-from-this-computer"));

    printLog();
    return 0;
}

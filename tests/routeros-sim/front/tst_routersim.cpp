#include "routersim.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>

// The simulator as tests and the demo use it: in-process, and as the routeros-sim program.
class TestRouterSim final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void servesScenarioWithNewHostKey();
    void scenarioCanRefuseEverySignIn();
    void programServesUntilTerminatedThenDumpsState();

private:
    [[nodiscard]] QString writeScenario(const QByteArray &json);
    struct Run
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    [[nodiscard]] Run runSsh(quint16 port, const QString &script);

    QTemporaryDir m_dir;
    QString m_askpass;
};

void TestRouterSim::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_askpass = m_dir.filePath(QStringLiteral("askpass"));
    QFile script(m_askpass);
    QVERIFY(script.open(QIODevice::WriteOnly));
    // The default router signs in admin with an empty password.
    script.write("#!/bin/sh\necho\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner));
}

void TestRouterSim::init()
{
    QFile::remove(m_dir.filePath(QStringLiteral("known_hosts")));
}

QString TestRouterSim::writeScenario(const QByteArray &json)
{
    const QString path = m_dir.filePath(QStringLiteral("scenario-%1.json")
                                                .arg(QString::fromLatin1(QTest::currentTestFunction())));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
        return {};
    return path;
}

TestRouterSim::Run TestRouterSim::runSsh(quint16 port, const QString &script)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SSH_ASKPASS"), m_askpass);
    env.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("/usr/bin/ssh"),
                  {QStringLiteral("-F"), QStringLiteral("/dev/null"), QStringLiteral("-o"),
                   QStringLiteral("StrictHostKeyChecking=no"), QStringLiteral("-o"),
                   QStringLiteral("UserKnownHostsFile=") + m_dir.filePath(QStringLiteral("known_hosts")),
                   QStringLiteral("-o"), QStringLiteral("PubkeyAuthentication=no"),
                   QStringLiteral("-o"), QStringLiteral("NumberOfPasswordPrompts=1"),
                   QStringLiteral("-l"), QStringLiteral("admin"), QStringLiteral("-p"),
                   QString::number(port), QStringLiteral("127.0.0.1"), script});
    Run run;
    if (process.waitForFinished(20000)) {
        run.exitCode = process.exitCode();
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
    }
    return run;
}

void TestRouterSim::servesScenarioWithNewHostKey()
{
    const QString key = m_dir.filePath(QStringLiteral("new_key"));
    QFile::remove(key);
    RouterSim sim;
    QString error;
    QVERIFY2(sim.start(writeScenario("{}"), key, 0, &error), qPrintable(error));
    QVERIFY(QFile::exists(key));
    QVERIFY(sim.port() != 0);

    const Run run = runSsh(sim.port(), QStringLiteral(":put (\"QM_IDENTITY=\" . [/system identity get name])"));
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.out.contains("QM_IDENTITY=MikroTik"), run.out.constData());
    QVERIFY(!sim.engine()->commandLog().isEmpty());
}

void TestRouterSim::scenarioCanRefuseEverySignIn()
{
    RouterSim sim;
    QString error;
    QVERIFY2(sim.start(writeScenario("{\"refuseSignIn\": true}"),
                       m_dir.filePath(QStringLiteral("key")), 0, &error),
             qPrintable(error));
    const Run run = runSsh(sim.port(), QStringLiteral(":put 1"));
    QCOMPARE(run.exitCode, 255);
    QVERIFY2(run.err.contains("Permission denied"), run.err.constData());
    QVERIFY(sim.engine()->commandLog().isEmpty());
}

void TestRouterSim::programServesUntilTerminatedThenDumpsState()
{
    const QString dump = m_dir.filePath(QStringLiteral("state.rsc"));
    const QString log = m_dir.filePath(QStringLiteral("commands.jsonl"));
    QProcess sim;
    sim.start(QStringLiteral(ROUTEROS_SIM_PROGRAM),
              {QStringLiteral("--scenario"), writeScenario("{}"), QStringLiteral("--host-key"),
               m_dir.filePath(QStringLiteral("program_key")), QStringLiteral("--command-log"), log,
               QStringLiteral("--state-dump"), dump});
    QVERIFY(sim.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine() || sim.state() == QProcess::NotRunning, 10000);
    bool ok = false;
    const quint16 port = sim.readLine().trimmed().toUShort(&ok);
    QVERIFY2(ok && port != 0, sim.readAllStandardError().constData());

    const Run run = runSsh(port, QStringLiteral(":put [/system identity get name]"));
    QVERIFY2(run.exitCode == 0, run.err.constData());

    ::kill(static_cast<pid_t>(sim.processId()), SIGTERM);
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QFile state(dump);
    QVERIFY(state.open(QIODevice::ReadOnly));
    QVERIFY(!state.readAll().trimmed().isEmpty());
    QFile commands(log);
    QVERIFY(commands.open(QIODevice::ReadOnly));
    QVERIFY(commands.readAll().contains("identity"));
}

QTEST_GUILESS_MAIN(TestRouterSim)
#include "tst_routersim.moc"

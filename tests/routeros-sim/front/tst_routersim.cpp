#include "routersim.h"
#include "router/layoutscripts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
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
    void layoutOverItsOwnPathLeavesTheSessionSilent();
    void afterTheLayoutOldAddressIsGoneAndNewOneRefuses();
    void programListensForFurtherAddresses();

private:
    [[nodiscard]] QString writeScenario(const QByteArray &json);
    [[nodiscard]] static QString bundledScenario(const QString &name);
    struct Run
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    // Signs in as admin with the password.
    [[nodiscard]] Run runSsh(quint16 port, const QString &script,
                             const QString &password = QString(),
                             const QStringList &options = {});
    // Whether a client at that port runs into its connect time-out (of two seconds).
    [[nodiscard]] bool answersNothing(quint16 port);

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
    script.write("#!/bin/sh\nprintf '%s\\n' \"$ROUTERSIM_TEST_PASS\"\n");
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

QString TestRouterSim::bundledScenario(const QString &name)
{
    return QDir(qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR"))
            .filePath(QStringLiteral("tools/routeros-sim/scenarios/%1.json").arg(name));
}

bool TestRouterSim::answersNothing(quint16 port)
{
    const Run run = runSsh(port, QStringLiteral(":put 1"), QStringLiteral("fieldpass"),
                           {QStringLiteral("-o"), QStringLiteral("ConnectTimeout=2")});
    if (run.exitCode == 255 && run.err.contains("timed out"))
        return true;
    qWarning("port %d: exit %d, %s", port, run.exitCode, run.err.constData());
    return false;
}

TestRouterSim::Run TestRouterSim::runSsh(quint16 port, const QString &script,
                                         const QString &password, const QStringList &options)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ROUTERSIM_TEST_PASS"), password);
    env.insert(QStringLiteral("SSH_ASKPASS"), m_askpass);
    env.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("/usr/bin/ssh"),
                  QStringList{QStringLiteral("-F"), QStringLiteral("/dev/null"), QStringLiteral("-o"),
                   QStringLiteral("StrictHostKeyChecking=no"), QStringLiteral("-o"),
                   QStringLiteral("UserKnownHostsFile=") + m_dir.filePath(QStringLiteral("known_hosts")),
                   QStringLiteral("-o"), QStringLiteral("PubkeyAuthentication=no"),
                   QStringLiteral("-o"), QStringLiteral("NumberOfPasswordPrompts=1")}
                          + options
                          + QStringList{QStringLiteral("-l"), QStringLiteral("admin"),
                                        QStringLiteral("-p"), QString::number(port),
                                        QStringLiteral("127.0.0.1"), script});
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

void TestRouterSim::layoutOverItsOwnPathLeavesTheSessionSilent()
{
    RouterSim sim;
    QString error;
    QVERIFY2(sim.start(bundledScenario(QStringLiteral("new-router")),
                       m_dir.filePath(QStringLiteral("key")), 0, &error),
             qPrintable(error));
    const QString layout = buildBaseLayoutScript(QStringLiteral("wifi.quillmor.com"));

    // The session came in on 192.168.88.1 from ether2; the layout takes both away. Its client
    // sends a keepalive every second and gives up after two go unanswered.
    const Run run = runSsh(sim.port(), layout, QStringLiteral("fieldpass"),
                           {QStringLiteral("-o"), QStringLiteral("ServerAliveInterval=1"),
                            QStringLiteral("-o"), QStringLiteral("ServerAliveCountMax=2")});
    QCOMPARE(run.exitCode, 255);
    QCOMPARE(run.out, QByteArray());
    QVERIFY2(run.err.contains("not responding"), run.err.constData());

    // The router applied the whole layout: the same state as over a session that survives it.
    RouterOsEngine survivor;
    QFile file(bundledScenario(QStringLiteral("new-router")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonObject scenario = QJsonDocument::fromJson(file.readAll()).object();
    scenario.insert(QStringLiteral("session"),
                    QJsonObject{{QStringLiteral("address"), QStringLiteral("192.168.88.1")},
                                {QStringLiteral("onAddressRemoved"), QStringLiteral("ignore")}});
    QVERIFY2(survivor.loadScenario(scenario, QFileInfo(file).absolutePath(), &error),
             qPrintable(error));
    const ExecOutcome survived = survivor.execute({QStringLiteral("admin"), layout, {}, {}});
    QCOMPARE(survived.out, QByteArray("QM_DONE=1\r\n"));
    QCOMPARE(sim.engine()->exportState(), survivor.exportState());
}

void TestRouterSim::afterTheLayoutOldAddressIsGoneAndNewOneRefuses()
{
    RouterSim sim;
    QString error;
    QVERIFY2(sim.start(bundledScenario(QStringLiteral("new-router")),
                       m_dir.filePath(QStringLiteral("key")), 0, &error),
             qPrintable(error));
    const quint16 lanPort = sim.listen(QStringLiteral("172.16.0.1"), 0, &error);
    QVERIFY2(lanPort != 0, qPrintable(error));
    const auto runOnRouter = [&sim](const QString &script) {
        return sim.engine()->execute({QStringLiteral("admin"), script, {}, {}});
    };
    // Nothing holds 172.16.0.1 yet.
    QVERIFY(answersNothing(lanPort));

    QVERIFY(runOnRouter(buildBaseLayoutScript(QStringLiteral("wifi.quillmor.com"))).silent);
    QVERIFY(answersNothing(sim.port()));
    // The computer still has its old lease: no gateway on its subnet answers.
    QVERIFY(answersNothing(lanPort));

    // Re-plugged, it is a hotspot client that has not logged in.
    sim.engine()->setOperatorPlace({QStringLiteral("ether2"), QStringLiteral("172.16.255.254")});
    const Run refused = runSsh(lanPort, QStringLiteral(":put 1"), QStringLiteral("fieldpass"));
    QCOMPARE(refused.exitCode, 255);
    QVERIFY2(refused.err.contains("Connection refused"), refused.err.constData());
    QVERIFY(answersNothing(sim.port()));

    // Without the hotspot, the defconf input drop still keeps Bridge-Network (in no interface
    // list) away; in the LAN list, the same port answers again.
    QCOMPARE(runOnRouter(QStringLiteral("/ip hotspot disable [find]")).out, QByteArray());
    QVERIFY(answersNothing(lanPort));
    QCOMPARE(runOnRouter(QStringLiteral("/interface list member add list=LAN "
                                        "interface=Bridge-Network"))
                     .out,
             QByteArray());
    const Run answered = runSsh(lanPort, QStringLiteral(":put [/ip hotspot get quillmor disabled]"),
                                QStringLiteral("fieldpass"));
    QVERIFY2(answered.exitCode == 0, answered.err.constData());
    QCOMPARE(answered.out, QByteArray("true\r\n"));
}

void TestRouterSim::programListensForFurtherAddresses()
{
    QProcess sim;
    sim.start(QStringLiteral(ROUTEROS_SIM_PROGRAM),
              {QStringLiteral("--scenario"), bundledScenario(QStringLiteral("new-router")),
               QStringLiteral("--host-key"), m_dir.filePath(QStringLiteral("program_key")),
               QStringLiteral("--listen"), QStringLiteral("172.16.0.1")});
    QVERIFY(sim.waitForStarted(5000));
    QByteArray lines;
    QTRY_VERIFY_WITH_TIMEOUT((lines += sim.readAll()).count('\n') == 2
                                     || sim.state() == QProcess::NotRunning,
                             10000);
    const QList<QByteArray> printed = lines.trimmed().split('\n');
    QCOMPARE(printed.size(), 2);
    bool ok = false;
    const quint16 port = printed.at(0).toUShort(&ok);
    QVERIFY(ok && port != 0);
    QVERIFY2(printed.at(1).startsWith("172.16.0.1 "), printed.at(1).constData());
    const quint16 lanPort = printed.at(1).mid(11).toUShort(&ok);
    QVERIFY(ok && lanPort != 0 && lanPort != port);

    const Run run = runSsh(port, QStringLiteral(":put [/system identity get name]"),
                           QStringLiteral("fieldpass"));
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY(answersNothing(lanPort));
    ::kill(static_cast<pid_t>(sim.processId()), SIGTERM);
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestRouterSim)
#include "tst_routersim.moc"

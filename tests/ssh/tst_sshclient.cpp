#include "ssh/sshclient.h"
#include "sshfront.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {

const char Password[] = "Xq9-unique secret ä";
const char ProbeScript[] = ":put (\"QM_IDENTITY=\" . [/system identity get name])";

struct ChildCommandLine
{
    QByteArray commandLine;
    QByteArray environment;
    qint64 pid = 0;
};

// A process that is gone, or dead and only waiting to be reaped.
bool processEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const int close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) == "Z";
}

// Environment variable that turns this program into an app stand-in: it signs in on the given
// port, starts a command that never ends, and waits to be killed.
const char HoldPortVariable[] = "TST_SSHCLIENT_HOLD_PORT";

// The ssh processes that a process (by default this one) has started, read from /proc while they
// run.
QList<ChildCommandLine> runningSshChildren(qint64 parent = ::getpid())
{
    QList<ChildCommandLine> children;
    const QString self = QString::number(parent);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        const int open = line.indexOf('(');
        if (close < 0 || open < 0 || line.mid(open + 1, close - open - 1) != "ssh")
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 2 || fields.at(1) != self.toLatin1())
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && environ.open(QIODevice::ReadOnly))
            children.append({cmdline.readAll(), environ.readAll(), pid.toLongLong()});
    }
    return children;
}

} // namespace

// SshClient through /usr/bin/ssh against the simulator's SSH front on 127.0.0.1.
class TestSshClient final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void signsInAndRunsScriptUnchanged();
    void signsInWithTrimmedAddressAndUser();
    void signInFailureIsExplained_data();
    void signInFailureIsExplained();
    void silentPortIsReportedAsNoAnswer();
    void newRouterAtKnownAddressSignsIn();
    void scriptOverLimitIsKilled();
    void cancelEndsRunningCommandQuickly();
    void passwordReachesSshOnlyThroughEnvironment();
    void sshEndsWhenTheAppIsKilled();
    void passwordIsWipedWhenLeavingConnectedState();

private:
    [[nodiscard]] bool startFront(const QString &key, quint16 port = 0);
    [[nodiscard]] static const QString &sessionPassword(const SshClient &client);
    
    QTemporaryDir m_dir;
    std::unique_ptr<SshFront> m_front;
    std::mutex m_mutex;
    QStringList m_scripts;
    ExecOutcome m_probeAnswer;
    ExecOutcome m_scriptAnswer;
    std::function<void()> m_onScript;
    std::atomic_bool m_cancel{false};
};

const QString &TestSshClient::sessionPassword(const SshClient &client)
{
    return client.heldPassword();
}

void TestSshClient::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A blank in the data folder, as in a Windows user folder such as "C:/Users/Ana Silva": the
    // known_hosts path must reach ssh as one file.
    const QString dataHome = m_dir.filePath(QStringLiteral("data home"));
    QVERIFY(QDir().mkpath(dataHome));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    QVERIFY(sshKnownHostsPath().contains(QLatin1String("data home/")));
    QString error;
    QVERIFY2(SshFront::generateHostKey(m_dir.filePath(QStringLiteral("a")), &error),
             qPrintable(error));
    QVERIFY2(SshFront::generateHostKey(m_dir.filePath(QStringLiteral("b")), &error),
             qPrintable(error));
}

void TestSshClient::init()
{
    QFile::remove(sshKnownHostsPath());
    m_scripts.clear();
    m_probeAnswer = ExecOutcome();
    m_probeAnswer.out = "QM_IDENTITY=MikroTik\r\n";
    m_scriptAnswer = ExecOutcome();
    m_onScript = nullptr;
    m_cancel = false;
    m_front = std::make_unique<SshFront>();
    m_front->setAuthenticator([](const QString &user, const QString &password) {
        return user == QStringLiteral("admin") && password == QString::fromUtf8(Password);
    });
    m_front->setExecHandler([this](const ExecRequest &request) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_scripts.append(request.script);
        if (request.script == QString::fromLatin1(ProbeScript))
            return m_probeAnswer;
        if (m_onScript)
            m_onScript();
        return m_scriptAnswer;
    });
}

void TestSshClient::cleanup()
{
    m_front.reset();
}

bool TestSshClient::startFront(const QString &key, quint16 port)
{
    m_front->setHostKeyPath(m_dir.filePath(key));
    return m_front->start(port);
}

void TestSshClient::signsInAndRunsScriptUnchanged()
{
    QVERIFY(startFront(QStringLiteral("a")));
    SshClient client;
    QSignalSpy logged(&client, &SshClient::logMessage);
    QString error;
    QVERIFY2(client.connectToRouter(QStringLiteral(" 127.0.0.1 ").trimmed(), m_front->port(),
                                    QStringLiteral("admin"), QString::fromUtf8(Password), &error),
             qPrintable(error));
    QVERIFY(client.isConnected());
    QCOMPARE(logged.size(), 1);
    QCOMPARE(logged.at(0).at(0).toString(), QStringLiteral("Signed in to the router."));

    // Quotes, semicolons, line ends and shell syntax must reach the router as typed.
    const QString script = QStringLiteral(":local n \"a;b\"\n:put ($n . 'c' . \"$HOME `id`\" . \"ü\")\r\n/x");
    m_scriptAnswer.out = "QM_DONE=1\r\n";
    QString out;
    QString err = QStringLiteral("untouched");
    QVERIFY(client.execute(script, &out, &err, 10000));
    QCOMPARE(out, QStringLiteral("QM_DONE=1\r\n"));
    QCOMPARE(err, QStringLiteral("untouched"));
    QCOMPARE(m_scripts.size(), 2);
    QCOMPARE(m_scripts.at(1), script);

    // A script that fails on the router hands back the router's own words and its output.
    m_scriptAnswer.out = "bad command name x (line 3 column 1)\r\n";
    m_scriptAnswer.exitStatus = 1;
    QVERIFY(!client.execute(script, &out, &err, 10000));
    QCOMPARE(err, QStringLiteral("bad command name x (line 3 column 1)"));
    QCOMPARE(out, QStringLiteral("bad command name x (line 3 column 1)\r\n"));
}

void TestSshClient::signsInWithTrimmedAddressAndUser()
{
    QString users;
    m_front->setAuthenticator([this, &users](const QString &user, const QString &password) {
        std::lock_guard<std::mutex> lock(m_mutex);
        users += user + QLatin1Char('|');
        return user == QStringLiteral("admin") && password == QString::fromUtf8(Password);
    });
    QVERIFY(startFront(QStringLiteral("a")));
    SshClient client;
    QString error;
    // Tabs are not refused like blanks, so only the trimming keeps them out of the command line.
    QVERIFY2(client.connectToRouter(QStringLiteral("\t127.0.0.1\t"), m_front->port(),
                                    QStringLiteral(" admin\t"), QString::fromUtf8(Password), &error),
             qPrintable(error));
    QVERIFY(client.isConnected());
    std::lock_guard<std::mutex> lock(m_mutex);
    QCOMPARE(users, QStringLiteral("admin|"));
}

void TestSshClient::signInFailureIsExplained_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("closedPort");
    QTest::addColumn<QByteArray>("probeOut");
    QTest::addColumn<int>("probeExit");
    QTest::addColumn<QString>("expected");

    const QString right = QString::fromUtf8(Password);
    QTest::newRow("wrong password") << QStringLiteral("wrong") << false
                                    << QByteArray("QM_IDENTITY=MikroTik\r\n") << 0
                                    << QStringLiteral("The router refused this username or password.");
    QTest::newRow("nothing listens") << right << true << QByteArray() << 0
                                     << QStringLiteral("The router is reachable, but SSH is turned off or the port is wrong.");
    QTest::newRow("not a MikroTik") << right << false << QByteArray("Linux\n") << 0
                                    << QStringLiteral("Signed in, but the device did not answer as a MikroTik.");
    QTest::newRow("marker inside a line")
            << right << false << QByteArray("echo :put (\"QM_IDENTITY=\" . x)\nQM_IDENTITY\n") << 0
            << QStringLiteral("Signed in, but the device did not answer as a MikroTik.");
    QTest::newRow("silent failure") << right << false << QByteArray() << 1
                                    << QStringLiteral("Could not sign in to the router.");
}

void TestSshClient::signInFailureIsExplained()
{
    QFETCH(QString, password);
    QFETCH(bool, closedPort);
    QFETCH(QByteArray, probeOut);
    QFETCH(int, probeExit);
    QFETCH(QString, expected);

    m_probeAnswer.out = probeOut;
    m_probeAnswer.exitStatus = probeExit;
    quint16 port = 0;
    if (closedPort) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    } else {
        QVERIFY(startFront(QStringLiteral("a")));
        port = m_front->port();
    }

    SshClient client;
    QString error;
    QVERIFY(!client.connectToRouter(QStringLiteral("127.0.0.1"), port, QStringLiteral("admin"),
                                    password, &error));
    QCOMPARE(error, expected);
    QVERIFY(!client.isConnected());
    QVERIFY(sessionPassword(client).isEmpty());
}

void TestSshClient::silentPortIsReportedAsNoAnswer()
{
    m_front->setSilent(true);
    QVERIFY(startFront(QStringLiteral("a")));
    SshClient client;
    QString error;
    QVERIFY(!client.connectToRouter(QStringLiteral("127.0.0.1"), m_front->port(),
                                    QStringLiteral("admin"), QString::fromUtf8(Password), &error));
    QCOMPARE(error, QStringLiteral("The router did not answer. Check the cable and the IP address."));
}

void TestSshClient::newRouterAtKnownAddressSignsIn()
{
    QVERIFY(startFront(QStringLiteral("a")));
    const quint16 port = m_front->port();
    QString error;
    {
        SshClient first;
        QSignalSpy forgotten(&first, &SshClient::hostKeyForgotten);
        QVERIFY2(first.connectToRouter(QStringLiteral("127.0.0.1"), port, QStringLiteral("admin"),
                                       QString::fromUtf8(Password), &error),
                 qPrintable(error));
        QCOMPARE(forgotten.size(), 0);
    }
    QVERIFY(QFile::exists(sshKnownHostsPath()));
    m_front->stop();
    QVERIFY(startFront(QStringLiteral("b"), port));

    SshClient second;
    QSignalSpy forgotten(&second, &SshClient::hostKeyForgotten);
    QVERIFY2(second.connectToRouter(QStringLiteral("127.0.0.1"), port, QStringLiteral("admin"),
                                    QString::fromUtf8(Password), &error),
             qPrintable(error));
    QCOMPARE(forgotten.size(), 1);
    QCOMPARE(forgotten.at(0).at(0).toString(),
             QStringLiteral("The router at 127.0.0.1 showed a new host key. The old key was "
                            "forgotten and the new one trusted."));
    // The key of the new router is now the remembered one: no second complaint, no retry.
    QString out;
    QVERIFY(second.execute(QStringLiteral(":put 1"), &out, &error, 10000));
    QCOMPARE(m_scripts.size(), 3);
}

void TestSshClient::scriptOverLimitIsKilled()
{
    QVERIFY(startFront(QStringLiteral("a")));
    SshClient client;
    QVERIFY(client.connectToRouter(QStringLiteral("127.0.0.1"), m_front->port(),
                                   QStringLiteral("admin"), QString::fromUtf8(Password)));
    m_scriptAnswer.out = "late\r\n";
    m_scriptAnswer.delayMs = 10000;

    QString out = QStringLiteral("untouched");
    QString err;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!client.execute(QStringLiteral(":delay 10s"), &out, &err, 1000));
    QVERIFY2(timer.elapsed() < 3000, QByteArray::number(timer.elapsed()).constData());
    QCOMPARE(err, QStringLiteral("The router took too long to answer."));
    QCOMPARE(out, QStringLiteral("untouched"));
}

void TestSshClient::cancelEndsRunningCommandQuickly()
{
    QVERIFY(startFront(QStringLiteral("a")));
    SshClient client;
    client.setCancelFlag(&m_cancel);
    QVERIFY(client.connectToRouter(QStringLiteral("127.0.0.1"), m_front->port(),
                                   QStringLiteral("admin"), QString::fromUtf8(Password)));

    QElapsedTimer sinceCancel;
    m_scriptAnswer.hang = true;
    m_onScript = [this, &sinceCancel] {
        sinceCancel.start();
        m_cancel = true;
    };
    QString out = QStringLiteral("untouched");
    QString err;
    QVERIFY(!client.execute(QStringLiteral(":delay 1h"), &out, &err, 60000));
    const qint64 elapsed = sinceCancel.elapsed();
    qDebug("cancel noticed after %lld ms", elapsed);
    QVERIFY2(elapsed < 600, QByteArray::number(elapsed).constData());
    QCOMPARE(err, QStringLiteral("Cancelled."));
    QCOMPARE(out, QStringLiteral("untouched"));
}

void TestSshClient::passwordReachesSshOnlyThroughEnvironment()
{
    qputenv("QUILLMOR_API_KEY", "service-key-for-nobody-else");
    qputenv("QUILLMOR_BASE_URL", "https://127.0.0.1:1");
    const auto restore = qScopeGuard([] {
        qunsetenv("QUILLMOR_API_KEY");
        qunsetenv("QUILLMOR_BASE_URL");
    });
    QVERIFY(startFront(QStringLiteral("a")));
    SshClient client;
    QVERIFY(client.connectToRouter(QStringLiteral("127.0.0.1"), m_front->port(),
                                   QStringLiteral("admin"), QString::fromUtf8(Password)));

    QList<ChildCommandLine> children;
    m_onScript = [&children] { children = runningSshChildren(); };
    m_scriptAnswer.out = "ok\r\n";
    QString out;
    QString err;
    QVERIFY2(client.execute(QStringLiteral(":put ok"), &out, &err, 10000), qPrintable(err));

    QCOMPARE(children.size(), 1);
    const QByteArray secret = QByteArray(Password);
    QVERIFY(children.at(0).commandLine.contains(":put ok"));
    QVERIFY(!children.at(0).commandLine.contains(secret));
    const QByteArray nul(1, '\0');
    const QByteArray environment = nul + children.at(0).environment;
    QVERIFY(environment.contains(QByteArray(nul + "QUILLMOR_SSH_PASS=" + secret + nul)));
    QVERIFY(!environment.contains("service-key-for-nobody-else"));
    QVERIFY(!environment.contains(QByteArray(nul + "QUILLMOR_BASE_URL=")));
}

void TestSshClient::sshEndsWhenTheAppIsKilled()
{
    QVERIFY(startFront(QStringLiteral("a")));
    std::atomic_bool started{false};
    m_scriptAnswer.hang = true;
    m_onScript = [&started] { started = true; };

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(HoldPortVariable), QString::number(m_front->port()));
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(app.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(started, 20000);
    QList<ChildCommandLine> children;
    QTRY_VERIFY_WITH_TIMEOUT(!(children = runningSshChildren(app.processId())).isEmpty(), 5000);

    // SIGKILL: the app gets no chance to clean up; the kernel has to end its ssh.
    app.kill();
    QVERIFY(app.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(processEnded(children.at(0).pid), 3000);
}

namespace {

int holdSshRun(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    SshClient client;
    const auto port = qEnvironmentVariable(HoldPortVariable).toInt();
    QString error;
    if (!client.connectToRouter(QStringLiteral("127.0.0.1"), port, QStringLiteral("admin"),
                                QString::fromUtf8(Password), &error)) {
        qWarning("sign-in failed: %s", qPrintable(error));
        return 1;
    }
    QString out;
    return client.execute(QStringLiteral(":delay 1h"), &out, &error, 600000) ? 0 : 2;
}

} // namespace

void TestSshClient::passwordIsWipedWhenLeavingConnectedState()
{
    QVERIFY(startFront(QStringLiteral("a")));
    const QString password = QString::fromUtf8(Password);
    SshClient client;
    QVERIFY(client.connectToRouter(QStringLiteral("127.0.0.1"), m_front->port(),
                                   QStringLiteral("admin"), password));
    QCOMPARE(sessionPassword(client), password);
    // The client keeps a copy of its own, so wiping it cannot leave the caller's buffer behind.
    QVERIFY(sessionPassword(client).constData() != password.constData());

    client.close();
    QVERIFY(!client.isConnected());
    QVERIFY(sessionPassword(client).isEmpty());
    QString err;
    QVERIFY(!client.execute(QStringLiteral(":put 1"), nullptr, &err, 1000));
    QCOMPARE(err, QStringLiteral("Not connected to the router."));

    // A new sign-in with bad input still wipes the previous one.
    QVERIFY(client.connectToRouter(QStringLiteral("127.0.0.1"), m_front->port(),
                                   QStringLiteral("admin"), password));
    QString error;
    QVERIFY(!client.connectToRouter(QStringLiteral("127.0.0.1"), m_front->port(),
                                    QStringLiteral("admin"), QStringLiteral("x\ny"), &error));
    QVERIFY(!client.isConnected());
    QVERIFY(sessionPassword(client).isEmpty());

    // A failed probe leaves nothing either (also checked per cause in signInFailureIsExplained).
    m_probeAnswer.out = "Linux\n";
    QVERIFY(!client.connectToRouter(QStringLiteral("127.0.0.1"), m_front->port(),
                                    QStringLiteral("admin"), password, &error));
    QVERIFY(sessionPassword(client).isEmpty());
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(HoldPortVariable))
        return holdSshRun(argc, argv);
    QCoreApplication app(argc, argv);
    TestSshClient test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_sshclient.moc"

#include "sshfront.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <mutex>

namespace {

struct SshRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

Q_DECLARE_METATYPE(Admission)

// Drives the front with /usr/bin/ssh, the client the product itself starts.
class TestSshFront final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void signsInAndDeliversOutcome_data();
    void signsInAndDeliversOutcome();
    void refusesSignIn_data();
    void refusesSignIn();
    void otherHostKeyAtSamePortIsRejectedByClient();
    void silentPortMakesClientTimeOut();
    void droppedConnectionKeepsOutputWithoutExitStatus();
    void stopEndsHangingSessionPromptly();
    void admissionDecidesWhatTheClientMeets_data();
    void admissionDecidesWhatTheClientMeets();
    void refusedAddressListensAgainOnItsPort();
    void lostPathEndsTheSessionAsTheRouterWould_data();
    void lostPathEndsTheSessionAsTheRouterWould();

private:
    [[nodiscard]] QProcess *startSsh(const QString &password, const QString &script,
                                     const QStringList &extraOptions = {});
    [[nodiscard]] SshRun runSsh(const QString &password, const QString &script,
                                const QStringList &extraOptions = {});
    [[nodiscard]] bool startFront(const QString &keyPath, quint16 port = 0);

    QTemporaryDir m_dir;
    QString m_keyA;
    QString m_keyB;
    QString m_askpass;
    std::unique_ptr<SshFront> m_front;
    std::mutex m_mutex;
    QList<ExecRequest> m_requests;
    ExecOutcome m_outcome;
    std::atomic_int m_execCalls{0};
    std::atomic<Admission> m_admission{Admission::Answer};
    quint16 m_targetPort = 0; // the port ssh connects to; 0: the front's own port
};

void TestSshFront::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QFile::exists(QStringLiteral("/usr/bin/ssh")));
    m_keyA = m_dir.filePath(QStringLiteral("host_a"));
    m_keyB = m_dir.filePath(QStringLiteral("host_b"));
    QString error;
    QVERIFY2(SshFront::generateHostKey(m_keyA, &error), qPrintable(error));
    QVERIFY2(SshFront::generateHostKey(m_keyB, &error), qPrintable(error));

    m_askpass = m_dir.filePath(QStringLiteral("askpass"));
    QFile script(m_askpass);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$FRONT_TEST_PASS\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner));
}

void TestSshFront::init()
{
    QFile::remove(m_dir.filePath(QStringLiteral("known_hosts")));
    m_requests.clear();
    m_outcome = ExecOutcome();
    m_execCalls = 0;
    m_admission = Admission::Answer;
    m_targetPort = 0;
    m_front = std::make_unique<SshFront>();
    m_front->setAuthenticator([](const QString &user, const QString &password) {
        return user == QStringLiteral("admin") && password == QStringLiteral("s3cret pässword");
    });
    m_front->setExecHandler([this](const ExecRequest &request) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.append(request);
        ++m_execCalls;
        return m_outcome;
    });
}

void TestSshFront::cleanup()
{
    m_front.reset();
}

bool TestSshFront::startFront(const QString &keyPath, quint16 port)
{
    m_front->setHostKeyPath(keyPath);
    QString error;
    const bool ok = m_front->start(port, &error);
    if (!ok)
        qWarning("%s", qPrintable(error));
    return ok && m_front->port() != 0;
}

QProcess *TestSshFront::startSsh(const QString &password, const QString &script,
                                 const QStringList &extraOptions)
{
    auto *process = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FRONT_TEST_PASS"), password);
    env.insert(QStringLiteral("SSH_ASKPASS"), m_askpass);
    env.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral("1"));
    process->setProcessEnvironment(env);
    QStringList args{QStringLiteral("-F"), QStringLiteral("/dev/null"),
                     QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=no"),
                     QStringLiteral("-o"),
                     QStringLiteral("UserKnownHostsFile=") + m_dir.filePath(QStringLiteral("known_hosts")),
                     QStringLiteral("-o"), QStringLiteral("PubkeyAuthentication=no"),
                     QStringLiteral("-o"), QStringLiteral("NumberOfPasswordPrompts=1")};
    args << extraOptions;
    args << QStringLiteral("-l") << QStringLiteral("admin") << QStringLiteral("-p")
         << QString::number(m_targetPort != 0 ? m_targetPort : m_front->port())
         << QStringLiteral("127.0.0.1") << script;
    process->start(QStringLiteral("/usr/bin/ssh"), args);
    return process;
}

SshRun TestSshFront::runSsh(const QString &password, const QString &script,
                            const QStringList &extraOptions)
{
    std::unique_ptr<QProcess> process(startSsh(password, script, extraOptions));
    SshRun run;
    if (!process->waitForFinished(30000))
        return run;
    run.exitCode = process->exitCode();
    run.out = process->readAllStandardOutput();
    run.err = process->readAllStandardError();
    return run;
}

void TestSshFront::signsInAndDeliversOutcome_data()
{
    QTest::addColumn<QString>("authMethod");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<int>("exitStatus");
    QTest::addColumn<int>("delayMs");

    QTest::newRow("password, plain output")
            << "password" << ":put [/system identity get name]" << QByteArray("MikroTik\r\n")
            << QByteArray() << 0 << 0;
    QTest::newRow("keyboard-interactive, split streams, exit 3")
            << "keyboard-interactive" << ":put \"a;b\"\n:put 'c' $x \\ [ ] ü"
            << QByteArray("first\r\nsecond\r\n") << QByteArray("bad command name\r\n") << 3 << 0;
    QTest::newRow("delayed answer")
            << "password" << "/ip address print" << QByteArray("late\r\n") << QByteArray() << 0
            << 700;
}

void TestSshFront::signsInAndDeliversOutcome()
{
    QFETCH(QString, authMethod);
    QFETCH(QString, script);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(int, exitStatus);
    QFETCH(int, delayMs);

    m_outcome.out = out;
    m_outcome.err = err;
    m_outcome.exitStatus = exitStatus;
    m_outcome.delayMs = delayMs;
    QVERIFY(startFront(m_keyA));

    QElapsedTimer timer;
    timer.start();
    const SshRun run = runSsh(QStringLiteral("s3cret pässword"), script,
                              {QStringLiteral("-o"),
                               QStringLiteral("PreferredAuthentications=") + authMethod});
    QVERIFY2(run.exitCode == exitStatus, run.err.constData());
    QCOMPARE(run.out, out);
    QVERIFY2(run.err.endsWith(err), run.err.constData());
    QVERIFY(timer.elapsed() >= delayMs);

    std::lock_guard<std::mutex> lock(m_mutex);
    QCOMPARE(m_requests.size(), 1);
    QCOMPARE(m_requests.at(0).user, QStringLiteral("admin"));
    QCOMPARE(m_requests.at(0).script, script);
    QCOMPARE(m_requests.at(0).clientAddress, QStringLiteral("127.0.0.1"));
}

void TestSshFront::refusesSignIn_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("refuseAll");

    QTest::newRow("wrong password") << "s3cret" << false;
    QTest::newRow("right password, refusing router") << "s3cret pässword" << true;
}

void TestSshFront::refusesSignIn()
{
    QFETCH(QString, password);
    QFETCH(bool, refuseAll);

    m_front->setRefuseSignIn(refuseAll);
    QVERIFY(startFront(m_keyA));
    const SshRun run = runSsh(password, QStringLiteral(":put 1"),
                              {QStringLiteral("-o"),
                               QStringLiteral("PreferredAuthentications=keyboard-interactive,password")});
    QCOMPARE(run.exitCode, 255);
    QVERIFY2(run.err.contains("Permission denied"), run.err.constData());
    QCOMPARE(m_execCalls.load(), 0);
}

void TestSshFront::otherHostKeyAtSamePortIsRejectedByClient()
{
    QVERIFY(startFront(m_keyA));
    const quint16 port = m_front->port();
    QCOMPARE(runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1")).exitCode, 0);
    m_front->stop();

    m_front->setHostKeyPath(m_keyB);
    QVERIFY(startFront(m_keyB, port));
    QCOMPARE(m_front->port(), port);
    const SshRun run = runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 2"));
    QVERIFY2(run.err.contains("REMOTE HOST IDENTIFICATION HAS CHANGED"), run.err.constData());
    QVERIFY(run.exitCode != 0);
    QCOMPARE(m_execCalls.load(), 1);
}

void TestSshFront::silentPortMakesClientTimeOut()
{
    m_front->setSilent(true);
    QVERIFY(startFront(m_keyA));
    const SshRun run = runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1"),
                              {QStringLiteral("-o"), QStringLiteral("ConnectTimeout=2")});
    QCOMPARE(run.exitCode, 255);
    QVERIFY2(run.err.contains("timed out"), run.err.constData());
    QCOMPARE(m_execCalls.load(), 0);
}

void TestSshFront::droppedConnectionKeepsOutputWithoutExitStatus()
{
    m_outcome.out = "partial\r\n";
    m_outcome.exitStatus = 0;
    m_outcome.drop = true;
    QVERIFY(startFront(m_keyA));
    const SshRun run = runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1"));
    QCOMPARE(run.out, QByteArray("partial\r\n"));
    QVERIFY2(run.exitCode != 0, run.err.constData());
}

void TestSshFront::stopEndsHangingSessionPromptly()
{
    m_outcome.hang = true;
    QVERIFY(startFront(m_keyA));
    std::unique_ptr<QProcess> hanging(startSsh(QStringLiteral("s3cret pässword"),
                                               QStringLiteral(":delay 1h")));
    QTRY_COMPARE_WITH_TIMEOUT(m_execCalls.load(), 1, 10000);
    QVERIFY(hanging->state() == QProcess::Running);

    QElapsedTimer timer;
    timer.start();
    m_front->stop();
    QVERIFY2(timer.elapsed() < 1000, QByteArray::number(timer.elapsed()).constData());
    QVERIFY(hanging->waitForFinished(5000));
    QVERIFY(hanging->exitCode() != 0);
}

void TestSshFront::admissionDecidesWhatTheClientMeets_data()
{
    QTest::addColumn<Admission>("admission");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("complaint");

    QTest::newRow("answered") << Admission::Answer << 0 << QByteArray();
    QTest::newRow("no answer: the client's connect time-out")
            << Admission::NoAnswer << 255 << QByteArray("timed out");
    QTest::newRow("refused at once") << Admission::Refuse << 255
                                     << QByteArray("Connection refused");
}

void TestSshFront::admissionDecidesWhatTheClientMeets()
{
    QFETCH(Admission, admission);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, complaint);

    m_admission = admission;
    QStringList asked;
    m_front->setAdmissionCheck([this, &asked](const QString &routerAddress) {
        std::lock_guard<std::mutex> lock(m_mutex);
        asked << routerAddress;
        return m_admission.load();
    });
    m_front->setRouterAddress(QStringLiteral("192.168.88.1"));
    QVERIFY(startFront(m_keyA));
    m_outcome.out = "1\r\n";

    QElapsedTimer timer;
    timer.start();
    // A time-out only where one is expected, so that a slow machine cannot fail the others.
    const SshRun run = runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1"),
                              admission == Admission::NoAnswer
                                      ? QStringList{QStringLiteral("-o"),
                                                    QStringLiteral("ConnectTimeout=2")}
                                      : QStringList());
    QVERIFY2(run.exitCode == exitCode, run.err.constData());
    QVERIFY2(run.err.contains(complaint), run.err.constData());
    QCOMPARE(m_execCalls.load(), exitCode == 0 ? 1 : 0);
    // A refusal comes at once, not after the time-out.
    if (admission == Admission::Refuse)
        QVERIFY(timer.elapsed() < 1500);
    std::lock_guard<std::mutex> lock(m_mutex);
    QVERIFY(!asked.isEmpty());
    QCOMPARE(asked.filter(QStringLiteral("192.168.88.1")).size(), asked.size());
    if (exitCode == 0)
        QCOMPARE(m_requests.at(0).routerAddress, QStringLiteral("192.168.88.1"));
}

void TestSshFront::refusedAddressListensAgainOnItsPort()
{
    m_front->setAdmissionCheck([this](const QString &routerAddress) {
        return routerAddress == QLatin1String("172.16.0.1") ? m_admission.load()
                                                            : Admission::Answer;
    });
    m_front->setRouterAddress(QStringLiteral("192.168.88.1"));
    QVERIFY(startFront(m_keyA));
    QString error;
    m_targetPort = m_front->addListener(QStringLiteral("172.16.0.1"), 0, &error);
    QVERIFY2(m_targetPort != 0, qPrintable(error));
    QVERIFY(m_targetPort != m_front->port());
    m_outcome.out = "lan\r\n";

    QCOMPARE(runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1")).out,
             QByteArray("lan\r\n"));
    QCOMPARE(m_requests.at(0).routerAddress, QStringLiteral("172.16.0.1"));

    m_admission = Admission::Refuse;
    m_front->recheckAdmission();
    SshRun run = runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1"));
    QVERIFY2(run.err.contains("Connection refused"), run.err.constData());
    // The other address is not touched.
    m_targetPort = 0;
    QCOMPARE(runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1")).exitCode, 0);

    m_targetPort = m_front->addListener(QStringLiteral("172.16.0.1"), 0, &error);
    QVERIFY(m_targetPort != 0);
    run = runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1"));
    QVERIFY2(run.err.contains("Connection refused"), "a new listener for a refused address listens");

    m_admission = Admission::Answer;
    m_front->recheckAdmission();
    run = runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1"));
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(run.out, QByteArray("lan\r\n"));
}

void TestSshFront::lostPathEndsTheSessionAsTheRouterWould_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QByteArray>("complaint");

    // Keepalives every second, given up after two unanswered ones: only a peer that says
    // nothing at all, not even "no" to a keepalive, runs into this.
    QTest::newRow("path gone: silence until the client gives up") << true
                                                                  << QByteArray("not responding");
    // Depending on whether the reset arrives before or after the client's next write.
    QTest::newRow("reset by the hotspot") << false << QByteArray("reset by peer|Broken pipe");
}

void TestSshFront::lostPathEndsTheSessionAsTheRouterWould()
{
    QFETCH(bool, silent);
    QFETCH(QByteArray, complaint);

    m_outcome.out = "before the cut\r\n";
    m_outcome.silent = silent;
    m_outcome.reset = !silent;
    QVERIFY(startFront(m_keyA));
    const SshRun run = runSsh(QStringLiteral("s3cret pässword"), QStringLiteral(":put 1"),
                              {QStringLiteral("-o"), QStringLiteral("ServerAliveInterval=1"),
                               QStringLiteral("-o"), QStringLiteral("ServerAliveCountMax=2")});
    // A reset may cost the client what it had not yet written out; silence costs it nothing.
    if (silent)
        QCOMPARE(run.out, QByteArray("before the cut\r\n"));
    else
        QVERIFY(QByteArray("before the cut\r\n").startsWith(run.out));
    QCOMPARE(run.exitCode, 255);
    QVERIFY2(QString::fromUtf8(run.err).contains(QRegularExpression(QString::fromUtf8(complaint))),
             run.err.constData());
}

QTEST_GUILESS_MAIN(TestSshFront)
#include "tst_sshfront.moc"

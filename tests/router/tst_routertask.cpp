#include "jobrecorder.h"
#include "router/routertask.h"
#include "ssh/sshclient.h"
#include "sshfront.h"

#include <functional>

#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const char kBusy[] = "Still working on the previous step.";
const char kIdentityProbe[] = ":put (\"QM_IDENTITY=\" . [/system identity get name])";
const char kPassword[] = "p\"a$s\\w";
const char kProbe[] = ":put (\"QM_ROUTE=\" . [:len [/ip route find dst-address=0.0.0.0/0 "
                      "active=yes]]); :do { :put (\"QM_PING=\" . [/ping address=1.1.1.1 count=1]) "
                      "} on-error={ :put \"QM_PING=0\" }; :do { :local f [/tool fetch "
                      "url=\"https://manage.quillmor.com\" mode=https check-certificate=no "
                      "keep-result=no as-value]; :put \"QM_FETCH=1\" } on-error={ :put "
                      "\"QM_FETCH=0\" }; :put \"QM_DONE=1\"";

// Starts a job of the given kind with inputs that no guard refuses.
void startKind(RouterTask &task, int kind, const RouterLogin &login)
{
    switch (kind) {
    case Inspect:
        task.startInspect(login);
        break;
    case Wan:
        task.startWan(login, QStringLiteral("dhcp"), QString(), QString(), true, false, false);
        break;
    case Provision:
        task.startProvision(login, QVariantMap(), QStringLiteral("Tower 1"),
                            QStringLiteral("token"));
        break;
    default:
        task.startHotspot(login, QStringLiteral("https://example.invalid/login.html"));
        break;
    }
}

// One spy per result signal, in the order the kinds are numbered.
struct ResultSpies
{
    explicit ResultSpies(RouterTask &task)
        : inspect(&task, &RouterTask::inspectReady)
        , wan(&task, &RouterTask::wanReady)
        , provision(&task, &RouterTask::provisionReady)
        , hotspot(&task, &RouterTask::hotspotReady)
    {
    }
    [[nodiscard]] QList<qsizetype> counts() const
    {
        return {inspect.count(), wan.count(), provision.count(), hotspot.count()};
    }
    [[nodiscard]] QSignalSpy &of(int kind)
    {
        return kind == Inspect     ? inspect
               : kind == Wan       ? wan
               : kind == Provision ? provision
                                   : hotspot;
    }
    QSignalSpy inspect;
    QSignalSpy wan;
    QSignalSpy provision;
    QSignalSpy hotspot;
};

// The probe's answer with a default route, with and without a ping coming back.
const char kOnline[] = "QM_ROUTE=1\r\nQM_PING=1\r\nQM_DONE=1\r\n";
const char kNoPing[] = "QM_ROUTE=1\r\nQM_PING=0\r\nQM_DONE=1\r\n";

// The sign-in takes long enough for a second start to meet a busy worker; every later script
// finds the internet.
ExecOutcome slowSignInThenOnline(const QString &script)
{
    ExecOutcome outcome;
    if (script == QLatin1String(kIdentityProbe)) {
        outcome.out = "QM_IDENTITY=MikroTik\r\n";
        outcome.delayMs = 1500;
    } else {
        outcome.out = kOnline;
    }
    return outcome;
}

QList<qsizetype> onlyKind(int kind)
{
    QList<qsizetype> counts{0, 0, 0, 0};
    counts[kind] = 1;
    return counts;
}

} // namespace

// The worker and its script runner against an SSH server that answers like a router whose
// replies each test writes, through the real OpenSSH client.
class TestRouterTask final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cancelsDuringSignInProbe();
    void refusesSecondStartWhileBusy();
    void refusesEveryKindOnItsOwnSignal();
    void reportsSignInFailureOnKindsSignal_data();
    void reportsSignInFailureOnKindsSignal();
    void endsEveryJobKindWithOneSignal_data();
    void endsEveryJobKindWithOneSignal();
    void reportsSignInFailure();
    void namesFailedStepByLabel();
    void keepsLastErrorAfterLaterSuccess();
    void probesUntilInternetAppears();
    void keepsLastProbeWhenCancelledBetweenProbes();
    void guardsWanModesBeforeSending_data();
    void guardsWanModesBeforeSending();
    void sendsWanStepsLetterForLetter_data();
    void sendsWanStepsLetterForLetter();
    void dropsProbeFlagsWhenProbeFails();
    void reportsIncompleteInspection();
    void reportsRunnerFailureOfInspectionOnce();

private:
    using Reply = std::function<ExecOutcome(const QString &script)>;
    void answer(Reply reply);
    [[nodiscard]] QStringList scripts() const;
    [[nodiscard]] RouterLogin login() const;

    QTemporaryDir m_dir;
    std::unique_ptr<SshFront> m_front;
    mutable QMutex m_mutex;
    Reply m_reply;
    QStringList m_scripts;
};

void TestRouterTask::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The simulated router gets a new host key each run, and a port of an earlier run may come
    // back: a known_hosts left from then would make ssh refuse the key.
    QFile::remove(sshKnownHostsPath());
    QString error;
    QVERIFY2(SshFront::generateHostKey(m_dir.filePath(QStringLiteral("host_key")), &error),
             qPrintable(error));
}

void TestRouterTask::init()
{
    m_scripts.clear();
    m_reply = nullptr;
    m_front = std::make_unique<SshFront>();
    m_front->setHostKeyPath(m_dir.filePath(QStringLiteral("host_key")));
    m_front->setAuthenticator([](const QString &user, const QString &password) {
        return user == QLatin1String("admin") && password == QLatin1String(kPassword);
    });
    m_front->setExecHandler([this](const ExecRequest &request) {
        QMutexLocker lock(&m_mutex);
        m_scripts << request.script;
        ExecOutcome outcome;
        if (m_reply)
            outcome = m_reply(request.script);
        if (outcome.out.isEmpty() && outcome.err.isEmpty() && !outcome.hang &&
            request.script == QLatin1String(kIdentityProbe))
            outcome.out = "QM_IDENTITY=MikroTik\r\n";
        return outcome;
    });
    QString error;
    QVERIFY2(m_front->start(0, &error), qPrintable(error));
}

void TestRouterTask::cleanup()
{
    m_front->stop();
    m_front.reset();
}

void TestRouterTask::answer(Reply reply)
{
    QMutexLocker lock(&m_mutex);
    m_reply = std::move(reply);
}

QStringList TestRouterTask::scripts() const
{
    QMutexLocker lock(&m_mutex);
    return m_scripts;
}

RouterLogin TestRouterTask::login() const
{
    RouterLogin login;
    login.host = QStringLiteral("127.0.0.1");
    login.port = m_front->port();
    login.user = QStringLiteral("admin");
    login.password = QString::fromLatin1(kPassword);
    return login;
}

void TestRouterTask::cancelsDuringSignInProbe()
{
    answer([](const QString &script) {
        ExecOutcome outcome;
        if (script == QLatin1String(kIdentityProbe))
            outcome.hang = true;
        return outcome;
    });
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startInspect(login());
    QTRY_COMPARE_WITH_TIMEOUT(scripts().size(), 1, 15000);

    recorder.sinceCancel.start();
    task.requestCancel();
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), QStringLiteral("Cancelled."));
    qDebug("Cancel noticed after %lld ms", recorder.resultAfterCancelMs);
    // The cancel wakes the wait on ssh at once instead of at its next 400 ms slice.
    QVERIFY2(recorder.resultAfterCancelMs < 150,
             qPrintable(QString::number(recorder.resultAfterCancelMs)));
    QCOMPARE(recorder.payload, QVariantMap());
}

void TestRouterTask::refusesSecondStartWhileBusy()
{
    answer(slowSignInThenOnline);
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(login(), QStringLiteral("dhcp"), QStringLiteral("pppoe-user"),
                  QStringLiteral("pppoe-secret"), false, false, false);

    RouterLogin other = login();
    other.host = QStringLiteral("127.0.0.2");
    other.user = QStringLiteral("intruder");
    other.password = QStringLiteral("other");
    task.startInspect(other);
    // Emitted on this thread before the call returns, not queued for later.
    QCOMPARE(recorder.oks, QList<bool>{false});
    QCOMPARE(recorder.errors, QStringList{QString::fromLatin1(kBusy)});
    QVERIFY(recorder.payload.isEmpty());
    QCOMPARE(task.host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(task.user(), QStringLiteral("admin"));
    QCOMPARE(task.wanMode(), QStringLiteral("dhcp"));

    task.startWan(other, QStringLiteral("pppoe"), QString(), QString(), true, true, true);
    QCOMPARE(recorder.oks, (QList<bool>{false, false}));
    QCOMPARE(recorder.errors.last(), QString::fromLatin1(kBusy));
    recorder.oks.clear();
    recorder.errors.clear();

    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(task.wanMode(), QStringLiteral("dhcp"));
    const QStringList sent = scripts();
    QCOMPARE(sent.size(), 3);
    QVERIFY(sent.at(1).startsWith(QStringLiteral("/ip dhcp-client add interface=ether1 ")));
}

void TestRouterTask::refusesEveryKindOnItsOwnSignal()
{
    answer(slowSignInThenOnline);
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(login(), QStringLiteral("dhcp"), QString(), QStringLiteral("pppoe-secret"), false,
                  false, false);

    RouterLogin other = login();
    other.password = QStringLiteral("other");
    const QString busy = QString::fromLatin1(kBusy);
    for (const int kind : {int(Inspect), int(Wan), int(Provision), int(Hotspot)}) {
        ResultSpies spies(task);
        startKind(task, kind, other);
        QCOMPARE(spies.counts(), onlyKind(kind));
        const QList<QVariant> args = spies.of(kind).first();
        QCOMPARE(args.at(0).toBool(), false);
        QCOMPARE(args.at(1).toString(), busy);
        if (kind == Wan) {
            QCOMPARE(args.at(2).toBool(), false);
            QCOMPARE(args.at(3).toBool(), false);
        } else if (kind == Hotspot) {
            QCOMPARE(args.at(2).toString(), QString());
        } else {
            QCOMPARE(args.at(2).toMap(), QVariantMap());
        }
    }
    // The running job still holds its own secrets until it ends.
    QCOMPARE(task.password(), QString::fromLatin1(kPassword));
    QCOMPARE(task.pppoePassword(), QStringLiteral("pppoe-secret"));

    recorder.oks.clear();
    recorder.errors.clear();
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks.first(), true);
}

void TestRouterTask::reportsSignInFailureOnKindsSignal_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("inspect") << int(Inspect);
    QTest::newRow("wan") << int(Wan);
    QTest::newRow("provision") << int(Provision);
    QTest::newRow("hotspot") << int(Hotspot);
}

void TestRouterTask::reportsSignInFailureOnKindsSignal()
{
    QFETCH(int, kind);

    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    ResultSpies spies(task);
    RouterLogin wrong = login();
    wrong.password = QStringLiteral("wrong");
    startKind(task, kind, wrong);
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(spies.counts(), onlyKind(kind));
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(),
             QStringLiteral("The router refused this username or password."));
    QVERIFY(recorder.payload.isEmpty());
    QVERIFY(recorder.path.isEmpty());
    QVERIFY(!recorder.internet);
    QVERIFY(!recorder.hasRoute);
}

void TestRouterTask::endsEveryJobKindWithOneSignal_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("scriptsSent");

    // Options without an interface name stop the onboarding before anything is sent.
    QTest::newRow("provision") << int(Provision)
                               << QStringLiteral("This router is not ready for the Quillmor link.")
                               << 1;
    // A router that lists no hotspot profile gets no download.
    QTest::newRow("hotspot")
        << int(Hotspot)
        << QStringLiteral("This router has no hotspot profile yet. Finish the router setup first.")
        << 2;
}

void TestRouterTask::endsEveryJobKindWithOneSignal()
{
    QFETCH(int, kind);
    QFETCH(QString, error);
    QFETCH(int, scriptsSent);

    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    if (kind == Provision)
        task.startProvision(login(), QVariantMap{{QStringLiteral("ros7"), true}},
                            QStringLiteral("Tower 1"), QStringLiteral("token"));
    else
        task.startHotspot(login(), QStringLiteral("https://example.invalid/login.html"));
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks, QList<bool>{false});
    QCOMPARE(recorder.errors.first(), error);
    QVERIFY(recorder.payload.isEmpty());
    QVERIFY(recorder.path.isEmpty());
    const QStringList sent = scripts();
    QCOMPARE(sent.size(), scriptsSent);
    QCOMPARE(sent.first(), QString::fromLatin1(kIdentityProbe));
}

void TestRouterTask::reportsSignInFailure()
{
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    RouterLogin wrong = login();
    wrong.password = QStringLiteral("wrong");
    task.startWan(wrong, QStringLiteral("split-pppoe"), QStringLiteral("u"),
                  QStringLiteral("pppoe-secret"), true, false, false);
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(),
             QStringLiteral("The router refused this username or password."));
    QCOMPARE(recorder.lines, QStringList{QStringLiteral("Signing in to the router...")});
    QVERIFY(scripts().isEmpty());
    QCOMPARE(task.wanMode(), QStringLiteral("split-pppoe"));
}

void TestRouterTask::namesFailedStepByLabel()
{
    answer([](const QString &script) {
        ExecOutcome outcome;
        if (script.contains(QLatin1String("bridge port remove")))
            outcome.out = "QM_FAIL=bridge\r\nQM_DONE=1\r\n";
        return outcome;
    });
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(login(), QStringLiteral("split-dhcp"), QString(), QString(), true, false, false);
    WAIT_FOR_JOB_END(task, recorder);

    const QString failed = QStringLiteral("Moving port 1 out of the LAN bridge... failed.");
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), failed);
    QCOMPARE(
        recorder.lines,
        (QStringList{QStringLiteral("Signing in to the router..."), QStringLiteral("Signed in."),
                     QStringLiteral("Moving port 1 out of the LAN bridge..."), failed}));
    QCOMPARE(task.lastError(), failed);
    QCOMPARE(scripts().size(), 2);
}

void TestRouterTask::keepsLastErrorAfterLaterSuccess()
{
    Worker worker;
    RouterTask &task = worker.task;
    {
        answer([](const QString &script) {
            ExecOutcome outcome;
            if (script.startsWith(QLatin1String("/ip dhcp-client"))) {
                outcome.out = "failure: already have dhcp client on that interface\r\n";
                outcome.exitStatus = 1;
            }
            return outcome;
        });
        JobRecorder recorder(task);
        task.startWan(login(), QStringLiteral("dhcp"), QString(), QString(), false, false, false);
        WAIT_FOR_JOB_END(task, recorder);
        QCOMPARE(recorder.errors.first(),
                 QStringLiteral("failure: already have dhcp client on that interface"));
    }
    answer([](const QString &script) {
        ExecOutcome outcome;
        if (!script.startsWith(QLatin1String(":put (\"QM_IDENTITY")))
            outcome.out = kOnline;
        return outcome;
    });
    JobRecorder recorder(task);
    task.startWan(login(), QStringLiteral("dhcp"), QString(), QString(), false, true, false);
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(task.lastError(),
             QStringLiteral("failure: already have dhcp client on that interface"));
    QCOMPARE(scripts().last().left(24), QStringLiteral(":put (\"QM_ROUTE=\" . [:le"));
    QVERIFY(scripts().contains(QStringLiteral(
        "/ip dhcp-client set [find interface=ether1] disabled=no add-default-route=yes")));
}

void TestRouterTask::probesUntilInternetAppears()
{
    // The only test that sits through the pauses between probes.
    int probes = 0;
    answer([&probes](const QString &script) {
        ExecOutcome outcome;
        if (script.startsWith(QLatin1String(":put (\"QM_ROUTE="))) {
            ++probes;
            outcome.out = probes < 3 ? QByteArray(kNoPing) : QByteArray(kOnline);
        }
        return outcome;
    });
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    // A cancel while nothing runs leaves a wake-up behind; it must not shorten this job's pauses.
    task.requestCancel();
    QElapsedTimer timer;
    timer.start();
    task.startWan(login(), QStringLiteral("pppoe"), QStringLiteral("user@isp"),
                  QStringLiteral("line\"secret"), false, false, false);
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks.first(), true);
    QCOMPARE(recorder.errors.first(), QString());
    QVERIFY(recorder.internet);
    QVERIFY(recorder.hasRoute);
    QCOMPARE(recorder.lines.filter(QStringLiteral("Checking internet")),
             (QStringList{QStringLiteral("Checking internet (1/5)..."),
                          QStringLiteral("Checking internet (2/5)..."),
                          QStringLiteral("Checking internet (3/5)...")}));
    QVERIFY(timer.elapsed() >= 6000);
}

void TestRouterTask::keepsLastProbeWhenCancelledBetweenProbes()
{
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    // A second after the first probe was answered its ssh run is over and the job sits in the
    // 3 s pause before the second probe: the cancel must cut that pause short.
    answer([&task, &recorder](const QString &script) {
        ExecOutcome outcome;
        if (script.startsWith(QLatin1String(":put (\"QM_ROUTE="))) {
            QMetaObject::invokeMethod(&recorder, [&task, &recorder] {
                QTimer::singleShot(1000, &recorder, [&task, &recorder] {
                    recorder.sinceCancel.start();
                    task.requestCancel();
                });
            });
            outcome.out = kNoPing;
        }
        return outcome;
    });
    task.startWan(login(), QStringLiteral("dhcp"), QString(), QString(), false, false, false);
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), QStringLiteral("Cancelled."));
    QVERIFY(!recorder.internet);
    QVERIFY(recorder.hasRoute);
    QCOMPARE(recorder.lines.filter(QStringLiteral("Checking internet")).size(), 1);
    QVERIFY2(recorder.resultAfterCancelMs >= 0 && recorder.resultAfterCancelMs < 500,
             qPrintable(QString::number(recorder.resultAfterCancelMs)));
}

void TestRouterTask::guardsWanModesBeforeSending_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("fresh");
    QTest::addColumn<bool>("hasPppoe");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("stepsSent");

    const QString inUse =
        QStringLiteral("Port 1 was not changed because this router is already in use.");
    const QString pppoeExists =
        QStringLiteral("A PPPoE client is already on this router. Another one was not added.");
    const QString unknown = QStringLiteral("Unknown internet setup.");
    QTest::newRow("splitOnUsedRouter")
        << QStringLiteral("split-dhcp") << false << false << inUse << 0;
    QTest::newRow("splitPppoeWithClient")
        << QStringLiteral("split-pppoe") << true << true << pppoeExists << 0;
    QTest::newRow("pppoeWithClient")
        << QStringLiteral("pppoe") << false << true << pppoeExists << 0;
    QTest::newRow("noAddressMethod") << QStringLiteral("static") << true << false << unknown << 0;
    QTest::newRow("splitWithoutAddressMethod")
        << QStringLiteral("split-static") << true << false << unknown << 1;
    QTest::newRow("caseMatters") << QStringLiteral("Split-DHCP") << false << false << unknown << 0;
}

void TestRouterTask::guardsWanModesBeforeSending()
{
    QFETCH(QString, mode);
    QFETCH(bool, fresh);
    QFETCH(bool, hasPppoe);
    QFETCH(QString, error);
    QFETCH(int, stepsSent);

    answer([](const QString &script) {
        ExecOutcome outcome;
        if (script != QLatin1String(kIdentityProbe))
            outcome.out = "QM_DONE=1\r\n";
        return outcome;
    });
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(login(), mode, QStringLiteral("u"), QStringLiteral("s"), fresh, false, hasPppoe);
    WAIT_FOR_JOB_END(task, recorder);
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), error);
    QCOMPARE(scripts().size(), 1 + stepsSent);
    if (stepsSent == 1)
        QVERIFY(scripts().last().contains(QLatin1String("/interface bridge port remove")));
}

void TestRouterTask::sendsWanStepsLetterForLetter_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("dhcpOnEther1");
    QTest::addColumn<QString>("pppoeUser");
    QTest::addColumn<QString>("pppoePassword");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("labels");

    const QString bridge = QStringLiteral(
        R"(:do { /interface bridge port remove [find interface=ether1] } on-error={ :put "QM_FAIL=bridge" }; :put "QM_DONE=1")");
    const QString dhcpAdd = QStringLiteral(
        R"(/ip dhcp-client add interface=ether1 disabled=no add-default-route=yes use-peer-dns=yes comment="quillmor-onboard")");
    const QString dhcpSet = QStringLiteral(
        "/ip dhcp-client set [find interface=ether1] disabled=no add-default-route=yes");
    const QString bridgeLabel = QStringLiteral("Moving port 1 out of the LAN bridge...");
    const QString dhcpLabel = QStringLiteral("Starting DHCP on port 1...");
    const QString pppoeLabel = QStringLiteral("Starting PPPoE on port 1...");

    QTest::newRow("dhcp") << QStringLiteral("dhcp") << false << QString() << QString()
                          << QStringList{dhcpAdd} << QStringList{dhcpLabel};
    QTest::newRow("dhcpClientExists") << QStringLiteral("dhcp") << true << QString() << QString()
                                      << QStringList{dhcpSet} << QStringList{dhcpLabel};
    QTest::newRow("split-dhcp") << QStringLiteral("split-dhcp") << false << QString() << QString()
                                << QStringList{bridge, dhcpAdd}
                                << QStringList{bridgeLabel, dhcpLabel};
    QTest::newRow("split-pppoe")
        << QStringLiteral("split-pppoe") << false << QStringLiteral("u@isp")
        << QStringLiteral("s3cret")
        << QStringList{bridge,
                       QStringLiteral(
                           R"(/interface pppoe-client add name="quillmor-wan" interface=ether1 user="u@isp" password="s3cret" add-default-route=yes use-peer-dns=yes disabled=no comment="quillmor-onboard"; :do { /interface list member add list=WAN interface=quillmor-wan comment="quillmor-onboard" } on-error={})")}
        << QStringList{bridgeLabel, pppoeLabel};
    QTest::newRow("pppoeHostile")
        << QStringLiteral("pppoe") << false << QStringLiteral("isp\"user$1\\")
        << QStringLiteral("p\"w$(x)\\;[/system reboot]\r\n\t\u00e9")
        << QStringList{QStringLiteral(
               R"(/interface pppoe-client add name="quillmor-wan" interface=ether1 user="isp\"user\$1\\" password="p\"w\$(x)\\;[/system reboot])"
               "\u00e9"
               R"(" add-default-route=yes use-peer-dns=yes disabled=no comment="quillmor-onboard"; :do { /interface list member add list=WAN interface=quillmor-wan comment="quillmor-onboard" } on-error={})")}
        << QStringList{pppoeLabel};
}

void TestRouterTask::sendsWanStepsLetterForLetter()
{
    QFETCH(QString, mode);
    QFETCH(bool, dhcpOnEther1);
    QFETCH(QString, pppoeUser);
    QFETCH(QString, pppoePassword);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, labels);

    answer([](const QString &script) {
        ExecOutcome outcome;
        if (script == QLatin1String(kProbe))
            outcome.out = "QM_ROUTE=0\r\nQM_PING=1\r\nQM_DONE=1\r\n";
        return outcome;
    });
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(login(), mode, pppoeUser, pppoePassword, true, dhcpOnEther1, false);
    WAIT_FOR_JOB_END(task, recorder);

    QCOMPARE(recorder.errors.first(), QString());
    QCOMPARE(recorder.oks.first(), true);
    QVERIFY(recorder.internet);
    QVERIFY(!recorder.hasRoute);
    QCOMPARE(scripts(), QStringList{QString::fromLatin1(kIdentityProbe)} + steps +
                            QStringList{QString::fromLatin1(kProbe)});
    QCOMPARE(
        recorder.lines,
        QStringList({QStringLiteral("Signing in to the router..."), QStringLiteral("Signed in.")}) +
            labels + QStringList{QStringLiteral("Checking internet (1/5)...")});
}

void TestRouterTask::dropsProbeFlagsWhenProbeFails()
{
    int probes = 0;
    answer([&probes](const QString &script) {
        ExecOutcome outcome;
        if (script == QLatin1String(kProbe)) {
            ++probes;
            outcome.out = probes == 1 ? QByteArray(kNoPing)
                                      : QByteArray("bad command name ping (line 1 column 80)\r\n");
        }
        return outcome;
    });
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startWan(login(), QStringLiteral("dhcp"), QString(), QString(), false, false, false);
    WAIT_FOR_JOB_END(task, recorder);

    const QString refused = QStringLiteral("bad command name ping (line 1 column 80)");
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), refused);
    // The route that the first probe saw is not reported with a failed probe.
    QVERIFY(!recorder.hasRoute);
    QVERIFY(!recorder.internet);
    QCOMPARE(recorder.lines.mid(recorder.lines.size() - 2),
             (QStringList{QStringLiteral("Checking internet (2/5)..."), refused}));
}

void TestRouterTask::reportsIncompleteInspection()
{
    const QByteArray cutOff = "QM_VERSION=7.14.3 (stable)\r\nQM_IDENTITY=MikroTik\r\n"
                              "password=\"leak\\\"ed\" " +
                              QByteArray(400, 'x') + "\r\nQM_DONE=10\r\n";
    answer([cutOff](const QString &script) {
        ExecOutcome outcome;
        if (script.startsWith(QLatin1String(":put (\"QM_VERSION=")))
            outcome.out = cutOff;
        return outcome;
    });
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startInspect(login());
    WAIT_FOR_JOB_END(task, recorder);
    const QString shown =
        QString::fromLatin1(cutOff)
            .replace(QStringLiteral("password=\"leak\\\"ed\""), QStringLiteral("password=\"***\""))
            .trimmed()
            .left(300);
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(),
             QStringLiteral("The router answered, but the report was incomplete. ") + shown);
    QVERIFY(recorder.payload.isEmpty());
    // The job hands the sentence to the window only; it does not log it.
    QCOMPARE(recorder.lines.last(), QStringLiteral("Reading the router..."));
}

void TestRouterTask::reportsRunnerFailureOfInspectionOnce()
{
    answer([](const QString &script) {
        ExecOutcome outcome;
        if (script.startsWith(QLatin1String(":put (\"QM_VERSION=")))
            outcome.out = "QM_VERSION=7.14.3 (stable)\r\nexpected end of command (line 1 column 9)"
                          "\r\n";
        return outcome;
    });
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startInspect(login());
    WAIT_FOR_JOB_END(task, recorder);

    const QString refused =
        QStringLiteral("QM_VERSION=7.14.3 (stable)\r\nexpected end of command (line 1 column 9)");
    QCOMPARE(recorder.oks.first(), false);
    QCOMPARE(recorder.errors.first(), refused);
    QVERIFY(recorder.payload.isEmpty());
    QCOMPARE(recorder.lines, (QStringList{QStringLiteral("Signing in to the router..."),
                                          QStringLiteral("Signed in."),
                                          QStringLiteral("Reading the router..."), refused}));
}

QTEST_GUILESS_MAIN(TestRouterTask)
#include "tst_routertask.moc"

// Start-up and cancel benchmark. Starts the product's window and a bare window of the same size
// in alternating rounds (offscreen) and compares the time to the first painted frame and the
// resident memory half a second later; then measures how long a cancel takes to reach a job's
// result while ssh waits on a router that never answers (the simulator on 127.0.0.1).
#include "router/routertask.h"
#include "sshfront.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDefaultRounds = 15;
constexpr int kCancelRuns = 20;
constexpr int kRssDelayMs = 500;
constexpr int kPaintTimeoutMs = 20000;

struct Launch
{
    bool ok = false;
    double paintMs = 0;
    double rssMb = 0;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double residentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

Launch launch(const QString &program)
{
    Launch result;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // With a key the window takes the path of a configured install, reachability check included;
    // nothing is ever sent to the address.
    env.insert(QStringLiteral("QUILLMOR_API_KEY"), QStringLiteral("bench-key"));
    env.insert(QStringLiteral("QUILLMOR_BASE_URL"), QStringLiteral("https://127.0.0.1:9"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(program, {});
    if (!process.waitForStarted(kPaintTimeoutMs))
        return result;
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(kPaintTimeoutMs))
            break;
    }
    if (process.canReadLine() && process.readLine().trimmed() == "painted") {
        result.paintMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        QThread::msleep(kRssDelayMs);
        result.rssMb = residentMb(process.processId());
        result.ok = result.rssMb > 0;
    }
    process.kill();
    process.waitForFinished(5000);
    return result;
}

bool measureStartup(const QString &dir, int rounds)
{
    // The product's window, a bare window of the same size, and that bare window with one label
    // and one text field: what any window that shows text pays on top of the bare one.
    const QStringList programs{QDir(dir).filePath(QStringLiteral("bench-window-app")),
                               QDir(dir).filePath(QStringLiteral("bench-window-bare")),
                               QDir(dir).filePath(QStringLiteral("bench-window-text"))};
    // One of each first, unmeasured, so that none pays for a cold file cache.
    for (const QString &program : programs)
        launch(program);

    std::vector<double> paint[3], rss[3];
    for (int i = 0; i < rounds; ++i) {
        // Each round starts with the next one, so that none always follows the same other.
        for (int k = 0; k < 3; ++k) {
            const int which = (i + k) % 3;
            const Launch run = launch(programs.at(which));
            if (!run.ok) {
                std::fprintf(stderr, "A window did not report its first paint.\n");
                return false;
            }
            paint[which].push_back(run.paintMs);
            rss[which].push_back(run.rssMb);
        }
    }
    const double ap = median(paint[0]), bp = median(paint[1]), tp = median(paint[2]);
    const double ar = median(rss[0]), br = median(rss[1]), tr = median(rss[2]);
    std::printf("Start-up to first paint, median of %d rounds: app %.1f ms, bare window %.1f ms, "
                "ratio %.2f (aim: at most 1.30)\n",
                rounds, ap, bp, ap / bp);
    std::printf("  bare window with one label and one text field: %.1f ms, ratio %.2f\n", tp,
                tp / bp);
    std::printf("Resident memory %d ms after the first paint: app %.1f MB, bare window %.1f MB, "
                "ratio %.2f (aim: at most 1.50)\n",
                kRssDelayMs, ar, br, ar / br);
    std::printf("  bare window with one label and one text field: %.1f MB, ratio %.2f\n", tr,
                tr / br);
    return true;
}

bool measureCancel()
{
    QTemporaryDir keys;
    QString error;
    const QString hostKey = keys.filePath(QStringLiteral("host_key"));
    if (!SshFront::generateHostKey(hostKey, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    std::atomic_int requests{0};
    SshFront front;
    front.setHostKeyPath(hostKey);
    front.setAuthenticator([](const QString &, const QString &) { return true; });
    // The sign-in probe never gets an answer, so ssh waits until the cancel ends it.
    front.setExecHandler([&requests](const ExecRequest &) {
        ExecOutcome outcome;
        outcome.hang = true;
        ++requests;
        return outcome;
    });
    if (!front.start(0, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }

    std::vector<double> latencies;
    for (int run = 0; run < kCancelRuns; ++run) {
        RouterTask task;
        QElapsedTimer sinceCancel;
        double latency = -1;
        QObject::connect(&task, &RouterTask::inspectReady, &task,
                         [&](bool, const QString &, const QVariantMap &) {
                             latency = static_cast<double>(sinceCancel.nsecsElapsed()) / 1e6;
                         });
        const int before = requests.load();
        RouterLogin login;
        login.host = QStringLiteral("127.0.0.1");
        login.port = front.port();
        login.user = QStringLiteral("admin");
        login.password = QStringLiteral("bench");
        task.startInspect(login);
        QElapsedTimer waiting;
        waiting.start();
        while (requests.load() == before && waiting.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // Land the cancel anywhere in a 400 ms slice of the wait.
        QThread::msleep(QRandomGenerator::global()->bounded(50, 450));
        sinceCancel.start();
        task.requestCancel();
        while (latency < 0 && sinceCancel.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        task.wait(5000);
        if (latency < 0) {
            std::fprintf(stderr, "The cancelled job did not report.\n");
            return false;
        }
        latencies.push_back(latency);
    }
    front.stop();
    std::printf("Cancel to result while ssh waits, %d runs: median %.1f ms, max %.1f ms "
                "(aim: median at most 50 ms)\n",
                kCancelRuns, median(latencies),
                *std::max_element(latencies.begin(), latencies.end()));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // The password helper and known_hosts of the cancel runs go to a folder of their own.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    // Qt asks for a private runtime folder; the windows started here get one of their own.
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                  | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    const int rounds =
        argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultRounds;
    const QString dir = QCoreApplication::applicationDirPath();
    const bool ok = measureStartup(dir, rounds) && measureCancel();
    return ok ? 0 : 1;
}

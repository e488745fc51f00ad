#include "mndpannouncer.h"
#include "routersim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

bool writeStateDump(RouterSim &sim, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(sim.engine()->exportState().toUtf8());
    return file.commit();
}

} // namespace

// Serves one scenario on 127.0.0.1 until SIGINT or SIGTERM, then writes the router's state.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("routeros-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Simulated RouterOS 7 router over SSH on 127.0.0.1. Prints the port it listens on "
            "as its first line of output."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0 picks a free one)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption keyOption(QStringLiteral("host-key"),
                                       QStringLiteral("Host key file, created when missing."),
                                       QStringLiteral("file"));
    const QCommandLineOption scenarioOption(QStringLiteral("scenario"),
                                            QStringLiteral("Scenario file (JSON)."),
                                            QStringLiteral("file"));
    const QCommandLineOption logOption(QStringLiteral("command-log"),
                                       QStringLiteral("Append every command run to this file."),
                                       QStringLiteral("file"));
    const QCommandLineOption dumpOption(QStringLiteral("state-dump"),
                                        QStringLiteral("Write the router's configuration here "
                                                       "on exit."),
                                        QStringLiteral("file"));
    const QCommandLineOption mndpOption(QStringLiteral("mndp-target"),
                                       QStringLiteral("Announce the router by MNDP to this "
                                                      "loopback address and port (127.0.0.1:port)."),
                                       QStringLiteral("host:port"));
    const QCommandLineOption mndpIntervalOption(QStringLiteral("mndp-interval"),
                                                QStringLiteral("Milliseconds between "
                                                               "announcements."),
                                                QStringLiteral("ms"), QStringLiteral("1000"));
    parser.addOptions({portOption, keyOption, scenarioOption, logOption, dumpOption, mndpOption,
                       mndpIntervalOption});
    parser.process(app);

    QTextStream errors(stderr);
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535 || !parser.isSet(scenarioOption) || !parser.isSet(keyOption)) {
        errors << "routeros-sim: --scenario and --host-key are required; --port must be 0 to "
                  "65535.\n";
        return 2;
    }

    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0)
        return 1;
    std::signal(SIGTERM, onTerminationSignal);
    std::signal(SIGINT, onTerminationSignal);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    RouterSim sim;
    QString error;
    if (!sim.start(parser.value(scenarioOption), parser.value(keyOption),
                   static_cast<quint16>(port), &error)) {
        errors << "routeros-sim: " << error << '\n';
        return 1;
    }
    // Set after the scenario is loaded, so that loading cannot reset it; clients learn the port
    // only from the line printed below.
    if (parser.isSet(logOption))
        sim.engine()->setCommandLogPath(parser.value(logOption));

    MndpAnnouncer announcer([&sim] { return sim.engine()->neighbourInfo(); });
    if (parser.isSet(mndpOption)) {
        QHostAddress mndpHost;
        quint16 mndpPort = 0;
        const int interval = parser.value(mndpIntervalOption).toInt();
        if (!MndpAnnouncer::parseTarget(parser.value(mndpOption), &mndpHost, &mndpPort)
            || interval < 100) {
            errors << "routeros-sim: --mndp-target must be 127.0.0.1:<port> and --mndp-interval "
                      "at least 100.\n";
            return 2;
        }
        if (!announcer.start(mndpHost, mndpPort, interval, 0, &error)) {
            errors << "routeros-sim: " << error << '\n';
            return 1;
        }
    }

    QTextStream out(stdout);
    out << sim.port() << '\n';
    out.flush();

    const int status = app.exec();
    sim.stop();
    if (parser.isSet(dumpOption) && !writeStateDump(sim, parser.value(dumpOption))) {
        errors << "routeros-sim: could not write " << parser.value(dumpOption) << '\n';
        return 1;
    }
    return status;
}

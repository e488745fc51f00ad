#include "billingsim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("billing-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A local stand-in for the Quillmor billing service's desktop API."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port on 127.0.0.1 (0 picks a free one)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption scenarioOption(
        QStringLiteral("scenario"), QStringLiteral("Scenario file (JSON); the demo when omitted."),
        QStringLiteral("file"), QStringLiteral(":/billing-sim/demo.json"));
    const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                         QStringLiteral("Do not print every request."));
    const QCommandLineOption httpsOption(
        QStringLiteral("https"),
        QStringLiteral("Serve HTTPS with a certificate for 127.0.0.1 made at start into this "
                       "folder; the certificate's file is printed."),
        QStringLiteral("folder"));
    parser.addOption(portOption);
    parser.addOption(httpsOption);
    parser.addOption(scenarioOption);
    parser.addOption(quietOption);
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        err << "billing-sim: --port needs a number from 0 to 65535." << Qt::endl;
        return 2;
    }

    BillingSim sim;
    QObject::connect(&sim, &BillingSim::codeIssued, &app,
                     [&out](const QString &account, const QString &code) {
                         out << "code for account " << account << ": " << code << Qt::endl;
                     });
    if (!parser.isSet(quietOption)) {
        QObject::connect(&sim, &BillingSim::requestReceived, &app,
                         [&out](const QString &method, const QString &path) {
                             out << method << ' ' << path << Qt::endl;
                         });
    }

    QString error;
    if (parser.isSet(httpsOption) && !sim.enableHttps(&error, parser.value(httpsOption))) {
        err << "billing-sim: " << error << Qt::endl;
        return 1;
    }
    if (!sim.start(parser.value(scenarioOption), static_cast<quint16>(port), &error)) {
        err << "billing-sim: " << error << Qt::endl;
        return 1;
    }
    if (parser.isSet(httpsOption))
        out << "certificate " << sim.certificateFile() << Qt::endl;
    out << "port " << sim.port() << Qt::endl;
    out << "billing-sim listening on " << sim.baseUrl() << Qt::endl;
    return QCoreApplication::exec();
}

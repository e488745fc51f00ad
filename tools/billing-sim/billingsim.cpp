#include "billingsim.h"

#include "billingsimcertificate.h"
#include "billingsimserver.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMetaObject>

BillingSim::BillingSim(QObject *parent)
    : QObject(parent)
{
    m_thread.setObjectName(QStringLiteral("billing-sim"));
}

BillingSim::~BillingSim()
{
    stop();
}

bool BillingSim::start(const QJsonObject &scenario, quint16 port, QString *error)
{
    stop();
    auto *server = new BillingSimServer;
    if (!server->loadScenario(scenario, error)) {
        delete server;
        return false;
    }
    connect(server, &BillingSimServer::codeIssued, this, &BillingSim::codeIssued);
    connect(server, &BillingSimServer::requestReceived, this, &BillingSim::requestReceived);
    if (m_certificate)
        server->useTls(m_certificate->certificate(), m_certificate->key());
    server->moveToThread(&m_thread);
    m_thread.start();

    quint16 bound = 0;
    QMetaObject::invokeMethod(server, "listenOn", Qt::BlockingQueuedConnection,
                              Q_RETURN_ARG(quint16, bound), Q_ARG(quint16, port));
    m_server = server;
    if (bound == 0) {
        stop();
        if (error)
            *error = QStringLiteral("Cannot listen on 127.0.0.1:%1.").arg(port);
        return false;
    }
    m_port = bound;
    return true;
}

bool BillingSim::start(const QString &scenarioFile, quint16 port, QString *error)
{
    QJsonObject scenario;
    if (!readScenarioFile(scenarioFile, &scenario, error))
        return false;
    return start(scenario, port, error);
}

void BillingSim::stop()
{
    if (!m_server)
        return;
    if (m_thread.isRunning()) {
        QMetaObject::invokeMethod(m_server, "shutdown", Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    delete m_server;
    m_server = nullptr;
    m_port = 0;
}

bool BillingSim::enableHttps(QString *error, const QString &folder)
{
    auto certificate = std::make_unique<BillingSimCertificate>();
    if (!certificate->generate(folder, error))
        return false;
    m_certificate = std::move(certificate);
    return true;
}

QString BillingSim::certificateFile() const
{
    return m_certificate ? m_certificate->certificateFile() : QString();
}

QString BillingSim::baseUrl() const
{
    return (m_certificate ? QStringLiteral("https://127.0.0.1:%1")
                          : QStringLiteral("http://127.0.0.1:%1"))
        .arg(m_port);
}

void BillingSim::setOverride(const QString &path, const BillingSimOverride &override)
{
    if (m_server)
        m_server->setOverride(path, override);
}

void BillingSim::clearOverrides()
{
    if (m_server)
        m_server->clearOverrides();
}

QList<BillingSimRequest> BillingSim::requests() const
{
    return m_server ? m_server->requests() : QList<BillingSimRequest>();
}

QList<BillingSimRequest> BillingSim::requestsTo(const QString &path) const
{
    QList<BillingSimRequest> matching;
    for (const BillingSimRequest &request : requests()) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void BillingSim::clearRequests()
{
    if (m_server)
        m_server->clearRequests();
}

QString BillingSim::lastCode(const QString &accountNumber) const
{
    return m_server ? m_server->lastCode(accountNumber) : QString();
}

QJsonArray BillingSim::savedRouters(const QString &accountNumber) const
{
    return m_server ? m_server->savedRouters(accountNumber) : QJsonArray();
}

bool BillingSim::readScenarioFile(const QString &path, QJsonObject *scenario, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error =
                QStringLiteral("Cannot read the scenario %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("The scenario %1 is not a JSON object: %2")
                         .arg(path, parseError.errorString());
        return false;
    }
    *scenario = document.object();
    return true;
}

#pragma once

#include "billingsimtypes.h"

#include <memory>

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

class BillingSimCertificate;
class BillingSimServer;

// A billing service for tests and demos: a real HTTP/1.1 server on 127.0.0.1, plain or HTTPS, that
// answers the desktop API from a scenario. It runs on a thread of its own, so a client may block
// the calling thread in its own event loop while the simulator keeps answering.
class BillingSim final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BillingSim)

public:
    explicit BillingSim(QObject *parent = nullptr);
    ~BillingSim() override;

    bool start(const QJsonObject &scenario, quint16 port = 0, QString *error = nullptr);
    bool start(const QString &scenarioFile, quint16 port = 0, QString *error = nullptr);
    void stop();

    // Serve HTTPS from the next start on, with a throwaway certificate for 127.0.0.1 made now in
    // folder (a temporary folder of the simulator's own when empty).
    bool enableHttps(QString *error = nullptr, const QString &folder = QString());
    // The certificate's file, for a client to trust; empty without HTTPS.
    [[nodiscard]] QString certificateFile() const;

    [[nodiscard]] bool isRunning() const { return m_port != 0; }
    [[nodiscard]] quint16 port() const { return m_port; }
    [[nodiscard]] QString baseUrl() const;

    // path is the request path as sent, percent-encoding kept (e.g. "/api/v1/desktop/stations").
    void setOverride(const QString &path, const BillingSimOverride &override);
    void clearOverrides();

    [[nodiscard]] QList<BillingSimRequest> requests() const;
    [[nodiscard]] QList<BillingSimRequest> requestsTo(const QString &path) const;
    void clearRequests();

    [[nodiscard]] QString lastCode(const QString &accountNumber) const;
    [[nodiscard]] QJsonArray savedRouters(const QString &accountNumber) const;

    [[nodiscard]] static bool readScenarioFile(const QString &path, QJsonObject *scenario,
                                               QString *error = nullptr);

signals:
    void codeIssued(const QString &accountNumber, const QString &code);
    void requestReceived(const QString &method, const QString &path);

private:
    QThread m_thread;
    std::unique_ptr<BillingSimCertificate> m_certificate;
    BillingSimServer *m_server = nullptr;
    quint16 m_port = 0;
};

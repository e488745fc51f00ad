#pragma once

#include "billingsimtypes.h"

#include <functional>

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The simulated billing service itself: accounts, sessions, stations and saved routers, and the
// answer to every desktop API call. It knows nothing of sockets, so the transport stays apart.
class BillingSimState final
{
public:
    using CodeListener = std::function<void(const QString &account, const QString &code)>;

    [[nodiscard]] bool load(const QJsonObject &scenario, QString *error = nullptr);
    void setCodeListener(CodeListener listener) { m_codeListener = std::move(listener); }

    [[nodiscard]] BillingSimResponse handle(const BillingSimRequest &request);

    [[nodiscard]] QString lastCode(const QString &accountNumber) const;
    [[nodiscard]] QJsonArray savedRouters(const QString &accountNumber) const;

private:
    struct Router
    {
        QString id;
        QString name;
        QJsonObject provision; // what the installer sent when it asked for the link
        QString apiUsername;
        QString apiPassword;
        QString stationId;
        QString hotspotPath;
        int polls = 0;
    };

    struct Account
    {
        QString number;
        QJsonObject profile;
        QString fixedCode;
        QString pendingCode;
        QString lastCode;
        QList<QJsonObject> stations;
        QList<Router> routers; // newest first, as the service lists them
        int routerLimit = -1;
        int routersUsed = 0;
    };

    BillingSimResponse signIn(const QString &endpoint, const QJsonObject &body);
    BillingSimResponse provision(Account &account, const QJsonObject &body);
    BillingSimResponse routerCall(Account &account, const QString &method, const QString &rest,
                                  const QJsonObject &body);
    BillingSimResponse assist(const QJsonObject &body) const;
    BillingSimResponse loginPage(const QString &query) const;
    [[nodiscard]] QJsonObject profileAnswer(const Account &account, const QString &token) const;
    [[nodiscard]] Account *accountByNumber(const QString &number);
    [[nodiscard]] Account *accountByToken(const QByteArray &authorization);

    QString m_apiKey;
    QList<Account> m_accounts;
    QHash<QString, QString> m_sessions; // token -> account number
    QJsonObject m_link;
    bool m_routerOnline = true;
    int m_onlineAfterPolls = 1;
    bool m_tunnelReachesRouter = true;
    int m_tunnelInstalls = -1; // hotspot installs the tunnel still carries; -1: no limit
    CodeListener m_codeListener;
};

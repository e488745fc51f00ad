#include "billingsimstate.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace {

const QString kApiPrefix = QStringLiteral("/api/v1/desktop/");

QString randomHex(int digits)
{
    static const char hex[] = "0123456789abcdef";
    QString text;
    text.reserve(digits);
    for (int i = 0; i < digits; ++i)
        text.append(QLatin1Char(hex[QRandomGenerator::global()->bounded(16)]));
    return text;
}

QString randomCode()
{
    return QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(1000000), 6, 10,
                                    QLatin1Char('0'));
}

BillingSimResponse refusal(int status, const QString &message)
{
    return BillingSimResponse::json(
        status, QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("message"), message}});
}

BillingSimResponse accepted(QJsonObject object = {})
{
    object.insert(QStringLiteral("ok"), true);
    return BillingSimResponse::json(200, object);
}

BillingSimResponse notFoundPage()
{
    BillingSimResponse response;
    response.status = 404;
    response.contentType = QByteArrayLiteral("text/html; charset=utf-8");
    response.body = QByteArrayLiteral(
        "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>"
        "<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p>"
        "</body></html>\n");
    return response;
}

QString text(const QJsonObject &object, const QString &key)
{
    return object.value(key).toString().trimmed();
}

} // namespace

bool BillingSimState::load(const QJsonObject &scenario, QString *error)
{
    const auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };

    m_apiKey = scenario.value(QStringLiteral("api_key")).toString();
    if (m_apiKey.isEmpty())
        return fail(QStringLiteral("The scenario has no api_key."));
    m_link = scenario.value(QStringLiteral("link")).toObject();
    m_routerOnline = scenario.value(QStringLiteral("router_online")).toBool(true);
    m_onlineAfterPolls = scenario.value(QStringLiteral("online_after_polls")).toInt(1);
    m_tunnelReachesRouter = scenario.value(QStringLiteral("tunnel_reaches_router")).toBool(true);
    m_tunnelInstalls = scenario.value(QStringLiteral("tunnel_installs")).toInt(-1);

    m_accounts.clear();
    m_sessions.clear();
    const QJsonArray accounts = scenario.value(QStringLiteral("accounts")).toArray();
    for (const QJsonValue &value : accounts) {
        QJsonObject object = value.toObject();
        Account account;
        account.number = text(object, QStringLiteral("number"));
        if (account.number.isEmpty())
            return fail(QStringLiteral("Every account of the scenario needs a number."));
        account.fixedCode = text(object, QStringLiteral("code"));
        for (const QJsonValue &station : object.value(QStringLiteral("stations")).toArray())
            account.stations.append(station.toObject());
        for (const QJsonValue &saved : object.value(QStringLiteral("routers")).toArray()) {
            Router router;
            router.id = saved.toObject().value(QStringLiteral("id")).toString();
            router.name = saved.toObject().value(QStringLiteral("name")).toString();
            account.routers.append(router);
        }
        account.routerLimit = object.value(QStringLiteral("router_limit")).toInt(-1);
        account.routersUsed = object.value(QStringLiteral("routers_used")).toInt(0);
        for (const char *key :
             {"number", "code", "stations", "routers", "router_limit", "routers_used"})
            object.remove(QLatin1String(key));
        account.profile = object;
        m_accounts.append(account);
    }
    return true;
}

QString BillingSimState::lastCode(const QString &accountNumber) const
{
    for (const Account &account : m_accounts) {
        if (account.number == accountNumber)
            return account.lastCode;
    }
    return {};
}

QJsonArray BillingSimState::savedRouters(const QString &accountNumber) const
{
    QJsonArray list;
    for (const Account &account : m_accounts) {
        if (account.number != accountNumber)
            continue;
        for (const Router &router : account.routers)
            list.append(QJsonObject{{QStringLiteral("id"), router.id},
                                    {QStringLiteral("name"), router.name},
                                    {QStringLiteral("api_username"), router.apiUsername},
                                    {QStringLiteral("station_id"), router.stationId},
                                    {QStringLiteral("hotspot_path"), router.hotspotPath}});
    }
    return list;
}

BillingSimResponse BillingSimState::handle(const BillingSimRequest &request)
{
    if (request.path == QLatin1String("/hotspot/login.html") &&
        request.method == QLatin1String("GET"))
        return loginPage(request.query);
    if (!request.path.startsWith(kApiPrefix))
        return notFoundPage();

    if (QString::fromUtf8(request.header("X-Api-Key")) != m_apiKey)
        return refusal(401, QStringLiteral("This installer's API key is not valid."));

    const QString endpoint = request.path.mid(kApiPrefix.size());
    const QJsonObject body = request.json();
    const bool post = request.method == QLatin1String("POST");
    const bool get = request.method == QLatin1String("GET");

    if (endpoint.startsWith(QLatin1String("auth/"))) {
        if (!post)
            return notFoundPage();
        return signIn(endpoint, body);
    }

    const bool known =
        endpoint == QLatin1String("stations") || endpoint == QLatin1String("assist") ||
        endpoint == QLatin1String("routers") || endpoint.startsWith(QLatin1String("routers/"));
    if (!known)
        return notFoundPage();

    Account *account = accountByToken(request.header("Authorization"));
    if (!account)
        return refusal(401, QStringLiteral("Sign in again. This session is not valid."));

    if (endpoint == QLatin1String("stations") && get) {
        QJsonArray stations;
        for (const QJsonObject &station : account->stations)
            stations.append(station);
        return accepted({{QStringLiteral("stations"), stations}});
    }
    if (endpoint == QLatin1String("routers") && get) {
        QJsonArray routers;
        for (const Router &router : account->routers)
            routers.append(QJsonObject{{QStringLiteral("id"), router.id},
                                       {QStringLiteral("name"), router.name}});
        return accepted({{QStringLiteral("routers"), routers}});
    }
    if (endpoint == QLatin1String("assist") && post)
        return assist(body);
    if (endpoint == QLatin1String("routers/provision") && post)
        return provision(*account, body);
    if (endpoint.startsWith(QLatin1String("routers/")))
        return routerCall(*account, request.method, endpoint.mid(8), body);
    return notFoundPage();
}

BillingSimResponse BillingSimState::signIn(const QString &endpoint, const QJsonObject &body)
{
    const QString number = text(body, QStringLiteral("account_number"));
    Account *account = accountByNumber(number);

    if (endpoint == QLatin1String("auth/request-code")) {
        if (number.isEmpty())
            return refusal(422, QStringLiteral("Enter the account number."));
        if (!account)
            return refusal(404, QStringLiteral("There is no Quillmor account with that number."));
        account->pendingCode = account->fixedCode.isEmpty() ? randomCode() : account->fixedCode;
        account->lastCode = account->pendingCode;
        if (m_codeListener)
            m_codeListener(account->number, account->pendingCode);
        return accepted({{QStringLiteral("message"),
                          QStringLiteral("We sent a verification code to the account owner.")}});
    }

    if (endpoint == QLatin1String("auth/verify")) {
        const QString code = text(body, QStringLiteral("code"));
        if (!account || account->pendingCode.isEmpty() || code != account->pendingCode)
            return refusal(401, QStringLiteral("That code is not right. Ask for a new one."));
        account->pendingCode.clear();
        const QString token = randomHex(40);
        m_sessions.insert(token, account->number);
        return accepted(profileAnswer(*account, token));
    }
    return notFoundPage();
}

QJsonObject BillingSimState::profileAnswer(const Account &account, const QString &token) const
{
    QJsonObject answer = account.profile;
    answer.insert(QStringLiteral("token"), token);
    answer.insert(QStringLiteral("account_number"), account.number);
    if (account.routerLimit >= 0)
        answer.insert(QStringLiteral("router_limit"), account.routerLimit);
    answer.insert(QStringLiteral("routers_used"), account.routersUsed);
    return answer;
}

BillingSimResponse BillingSimState::provision(Account &account, const QJsonObject &body)
{
    const QString publicKey = text(body, QStringLiteral("public_key"));
    const QByteArray key = QByteArray::fromBase64(publicKey.toLatin1());
    if (publicKey.size() != 44 || key.size() != 32)
        return refusal(422, QStringLiteral("The router's WireGuard key is missing or not valid."));
    if (account.routerLimit >= 0 && account.routersUsed >= account.routerLimit)
        return refusal(403, QStringLiteral("This account has no free router seats. Ask Quillmor "
                                           "for more WireGuard configurations."));

    Router router;
    router.id = randomHex(24);
    router.name = text(body, QStringLiteral("name"));
    if (router.name.isEmpty())
        router.name = text(body, QStringLiteral("identity"));
    router.provision = body;
    account.routers.prepend(router);
    ++account.routersUsed;

    QJsonObject answer = m_link;
    answer.insert(QStringLiteral("router_id"), router.id);
    answer.insert(QStringLiteral("routers_used"), account.routersUsed);
    if (account.routerLimit >= 0)
        answer.insert(QStringLiteral("router_limit"), account.routerLimit);
    return accepted(answer);
}

BillingSimResponse BillingSimState::routerCall(Account &account, const QString &method,
                                               const QString &rest, const QJsonObject &body)
{
    const QStringList segments = rest.split(QLatin1Char('/'));
    if (segments.size() > 2)
        return notFoundPage();
    const QString id = QUrl::fromPercentEncoding(segments.first().toUtf8());
    const QString action = segments.size() == 2 ? segments.at(1) : QString();

    Router *router = nullptr;
    for (Router &candidate : account.routers) {
        if (candidate.id == id)
            router = &candidate;
    }
    if (!router)
        return refusal(404, QStringLiteral("This router is not saved on the account."));

    const auto stationKnown = [&account](const QString &stationId) {
        for (const QJsonObject &station : account.stations) {
            if (station.value(QStringLiteral("id")).toString() == stationId)
                return true;
        }
        return false;
    };

    if (action.isEmpty() && method == QLatin1String("GET")) {
        ++router->polls;
        const bool online = m_routerOnline && router->polls >= m_onlineAfterPolls;
        return accepted({{QStringLiteral("id"), router->id},
                         {QStringLiteral("name"), router->name},
                         {QStringLiteral("status"),
                          online ? QStringLiteral("online") : QStringLiteral("pending")},
                         {QStringLiteral("online"), online}});
    }
    if (method != QLatin1String("POST"))
        return notFoundPage();

    if (action == QLatin1String("credentials")) {
        const QString username = text(body, QStringLiteral("api_username"));
        const QString password = body.value(QStringLiteral("api_password")).toString();
        if (username.isEmpty() || password.isEmpty())
            return refusal(422, QStringLiteral("Send the API username and password."));
        router->apiUsername = username;
        router->apiPassword = password;
        return accepted();
    }
    if (action == QLatin1String("hotspot")) {
        const QString stationId = body.value(QStringLiteral("station_id")).toString();
        const QString path = body.value(QStringLiteral("hotspot_path")).toString();
        if (!stationKnown(stationId))
            return refusal(404, QStringLiteral("That station is not on this account."));
        if (path.isEmpty())
            return refusal(422, QStringLiteral("Send the hotspot path."));
        router->stationId = stationId;
        router->hotspotPath = path;
        return accepted();
    }
    if (action == QLatin1String("hotspot-install")) {
        const QString stationId = body.value(QStringLiteral("station_id")).toString();
        if (!stationKnown(stationId))
            return refusal(404, QStringLiteral("That station is not on this account."));
        if (!m_tunnelReachesRouter || m_tunnelInstalls == 0)
            return refusal(502, QStringLiteral("Quillmor cannot reach this router through the "
                                               "tunnel right now."));
        if (m_tunnelInstalls > 0)
            --m_tunnelInstalls;
        router->stationId = stationId;
        router->hotspotPath = QStringLiteral("/flash/hotspot/login.html");
        return accepted({{QStringLiteral("hotspot_path"), router->hotspotPath}});
    }
    return notFoundPage();
}

BillingSimResponse BillingSimState::assist(const QJsonObject &body) const
{
    const QString question = text(body, QStringLiteral("question"));
    if (question.isEmpty())
        return refusal(422, QStringLiteral("Ask a question first."));
    const QString step = text(body, QStringLiteral("step"));
    return accepted({{QStringLiteral("answer"),
                      QStringLiteral("For the %1 step: check that the router is cabled to this "
                                     "computer and that port 1 reaches the internet.")
                          .arg(step.isEmpty() ? QStringLiteral("current") : step)}});
}

BillingSimResponse BillingSimState::loginPage(const QString &query) const
{
    const QString station = QUrlQuery(query).queryItemValue(QStringLiteral("stationId"));
    BillingSimResponse response;
    response.contentType = QByteArrayLiteral("text/html; charset=utf-8");
    response.body =
        QByteArrayLiteral("<!DOCTYPE html>\n<html><head><title>Hotspot login</title>"
                          "</head><body><form name=\"login\" action=\"$(link-login-only)\" "
                          "method=\"post\"><input name=\"username\"><input "
                          "name=\"password\" type=\"password\"><button>Sign in"
                          "</button></form><!-- station ") +
        station.toHtmlEscaped().toUtf8() + QByteArrayLiteral(" --></body></html>\n");
    return response;
}

BillingSimState::Account *BillingSimState::accountByNumber(const QString &number)
{
    for (Account &account : m_accounts) {
        if (account.number == number)
            return &account;
    }
    return nullptr;
}

BillingSimState::Account *BillingSimState::accountByToken(const QByteArray &authorization)
{
    if (!authorization.startsWith("Bearer "))
        return nullptr;
    const QString number = m_sessions.value(QString::fromUtf8(authorization.mid(7)));
    return number.isEmpty() ? nullptr : accountByNumber(number);
}

#include "api/quillmorapi.h"
#include "billingsim.h"

#include <memory>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(AccountProfile)

namespace {

const QString kAccount = QStringLiteral("555001");
const QString kCode = QStringLiteral("424242");
const QString kApiKey = QStringLiteral("test-key");
const QString kProbe = QStringLiteral("/api/v1/desktop/probe");
const QString kVerify = QStringLiteral("/api/v1/desktop/auth/verify");
const QString kStations = QStringLiteral("/api/v1/desktop/stations");
const QString kRouters = QStringLiteral("/api/v1/desktop/routers");
const QString kBadRouterId =
    QStringLiteral("Quillmor returned a router id this app does not understand.");
const QString kNotTheApi = QStringLiteral(
    "Quillmor did not return the onboarding API (/api/v1/desktop/probe). The server still needs "
    "that endpoint.");

QJsonObject scenario()
{
    return QJsonObject{
        {QStringLiteral("api_key"), kApiKey},
        {QStringLiteral("accounts"),
         QJsonArray{QJsonObject{{QStringLiteral("number"), kAccount},
                                {QStringLiteral("code"), kCode},
                                {QStringLiteral("isp_name"), QStringLiteral("Test Net")},
                                {QStringLiteral("router_limit"), 2},
                                {QStringLiteral("routers_used"), 0}}}}};
}

BillingSimOverride answer(int status, const QByteArray &body,
                          const QByteArray &contentType = QByteArrayLiteral("application/json"))
{
    BillingSimOverride override;
    override.status = status;
    override.replaceBody = true;
    override.body = body;
    override.contentType = contentType;
    return override;
}

} // namespace

class TestQuillmorApi final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void refusesWithoutApiKeyAndSendsNothing();
    void refusesHeaderValuesWithControlCharacters_data();
    void refusesHeaderValuesWithControlCharacters();
    void mapsAnswers_data();
    void mapsAnswers();
    void reportsNetworkFailures();
    void cutsTrickleAtBackstop();
    void cancelAbortsOnlyTheWaitingRequest();
    void sendsHeadersAndBodiesInOrder();
    void signsInAndOut();
    void readsProfile_data();
    void readsProfile();
    void failedVerifyKeepsSession_data();
    void failedVerifyKeepsSession();
    void readsLists();
    void encodesRouterIds_data();
    void encodesRouterIds();
    void refusesDotRouterIds_data();
    void refusesDotRouterIds();
    void passesEndpointBodiesAndAnswers();
    void readsAssistAnswer_data();
    void readsAssistAnswer();

private:
    [[nodiscard]] std::unique_ptr<QuillmorApi> signedInClient();

    BillingSim m_sim;
};

void TestQuillmorApi::initTestCase()
{
    QString error;
    QVERIFY2(m_sim.start(scenario(), 0, &error), qPrintable(error));
}

void TestQuillmorApi::init()
{
    qputenv("QUILLMOR_BASE_URL", m_sim.baseUrl().toUtf8());
    qputenv("QUILLMOR_API_KEY", kApiKey.toUtf8());
    m_sim.clearOverrides();
    m_sim.clearRequests();
}

void TestQuillmorApi::cleanup()
{
    qunsetenv("QUILLMOR_BASE_URL");
    qunsetenv("QUILLMOR_API_KEY");
}

std::unique_ptr<QuillmorApi> TestQuillmorApi::signedInClient()
{
    auto api = std::make_unique<QuillmorApi>();
    QString error;
    if (!api->requestCode(kAccount, &error) || !api->verifyCode(kAccount, kCode, nullptr, &error))
        qWarning("sign-in failed: %s", qPrintable(error));
    m_sim.clearRequests();
    return api;
}

void TestQuillmorApi::refusesWithoutApiKeyAndSendsNothing()
{
    qputenv("QUILLMOR_API_KEY", "   ");
    QuillmorApi api;
    QVERIFY(!api.hasApiKey());
    QString error;
    QVERIFY(!api.requestCode(kAccount, &error));
    QCOMPARE(error, QStringLiteral("This installer has no Quillmor API key yet. Add apiKey to "
                                   "quillmor.ini and open the app again."));
    const ApiReply reply = api.request(QStringLiteral("GET"), kStations, nullptr, 2000);
    QCOMPARE(reply.status, 0);
    QVERIFY(m_sim.requests().isEmpty());
}

void TestQuillmorApi::refusesHeaderValuesWithControlCharacters_data()
{
    QTest::addColumn<QByteArray>("apiKey");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("message");

    const QString badKey =
        QStringLiteral("The Quillmor API key holds a line end or another control character. "
                       "Correct apiKey in quillmor.ini, then open this app again.");
    const QString badToken =
        QStringLiteral("Quillmor sent a session token with a line end or another control "
                       "character. Sign in again.");
    QTest::newRow("key with CR LF") << QByteArray("key\r\nX-Injected: yes") << QString() << badKey;
    QTest::newRow("key with a lone LF") << QByteArray("key\nX") << QString() << badKey;
    QTest::newRow("key with a tab") << QByteArray("ke\ty") << QString() << badKey;
    QTest::newRow("key with DEL") << QByteArray("ke\x7fy") << QString() << badKey;
    QTest::newRow("token with CR") << kApiKey.toUtf8() << QStringLiteral("t\rX-Injected: yes")
                                   << badToken;
    QTest::newRow("token with NUL") << kApiKey.toUtf8() << QStringLiteral("t") + QChar(0)
                                    << badToken;
}

void TestQuillmorApi::refusesHeaderValuesWithControlCharacters()
{
    QFETCH(QByteArray, apiKey);
    QFETCH(QString, token);
    QFETCH(QString, message);

    qputenv("QUILLMOR_API_KEY", apiKey);
    QuillmorApi api;
    api.setToken(token);
    QCOMPARE(api.apiKeyProblem(), token.isEmpty() ? message : QString());
    QString error;
    QVERIFY(!api.requestCode(kAccount, &error));
    QCOMPARE(error, message);
    QVERIFY(!api.listStations(nullptr, &error));
    QCOMPARE(error, message);
    QVERIFY(m_sim.requests().isEmpty());
}

void TestQuillmorApi::mapsAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("message");

    const QByteArray json = "application/json";
    const QByteArray plain = "text/plain";
    const QByteArray html = "text/html";
    const QByteArray text179(179, 'a');
    const QByteArray text180(180, 'a');

    QTest::newRow("html 404 is never shown")
        << 404 << QByteArray("<html><body>Not Found</body></html>") << html << false << kNotTheApi;
    QTest::newRow("short plain 404 is appended, trimmed")
        << 404 << QByteArray("  No such route \n") << plain << false
        << kNotTheApi + QStringLiteral(" No such route");
    QTest::newRow("179 characters are shown")
        << 502 << text179 << plain << false
        << kNotTheApi + QLatin1Char(' ') + QString::fromLatin1(text179);
    QTest::newRow("180 characters are not") << 502 << text180 << plain << false << kNotTheApi;
    QTest::newRow("empty 200") << 200 << QByteArray() << json << false << kNotTheApi;
    QTest::newRow("array top level") << 200 << QByteArray("[{\"ok\":true}]") << json << false
                                     << kNotTheApi + QStringLiteral(" [{\"ok\":true}]");
    QTest::newRow("no ok key accepted")
        << 200 << QByteArray("{\"a\":1}") << json << true << QString();
    QTest::newRow("ok true") << 201 << QByteArray("{\"ok\":true}") << json << true << QString();
    QTest::newRow("ok number 0 accepted")
        << 200 << QByteArray("{\"ok\":0}") << json << true << QString();
    QTest::newRow("ok null accepted")
        << 200 << QByteArray("{\"ok\":null}") << json << true << QString();
    QTest::newRow("ok string FALSE with blanks refused")
        << 200 << QByteArray("{\"ok\":\" FALSE \"}") << json << false
        << QStringLiteral("Quillmor refused the request (200).");
    QTest::newRow("ok string 0 refused with message")
        << 200 << QByteArray("{\"ok\":\"0\",\"message\":\" Not now \"}") << json << false
        << QStringLiteral("Not now");
    QTest::newRow("ok false refused with error")
        << 200 << QByteArray("{\"ok\":false,\"error\":\"Nope\"}") << json << false
        << QStringLiteral("Nope");
    QTest::newRow("numeric message falls to error")
        << 400 << QByteArray("{\"message\":5,\"error\":\"Bad input\"}") << json << false
        << QStringLiteral("Bad input");
    QTest::newRow("blank message falls to detail")
        << 400 << QByteArray("{\"message\":\"   \",\"detail\":\"  Missing field \"}") << json
        << false << QStringLiteral("Missing field");
    QTest::newRow("422 empty object") << 422 << QByteArray("{}") << json << false
                                      << QStringLiteral("Quillmor refused the request (422).");
    QTest::newRow("500 refuses despite ok true")
        << 500 << QByteArray("{\"ok\":true}") << json << false
        << QStringLiteral("Quillmor refused the request (500).");
}

void TestQuillmorApi::mapsAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(bool, ok);
    QFETCH(QString, message);

    m_sim.setOverride(kProbe, answer(status, body, contentType));
    QuillmorApi api;
    const ApiReply reply = api.request(QStringLiteral("GET"), kProbe, nullptr, 5000);
    QCOMPARE(reply.ok, ok);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.message, message);
    // A refusal keeps its object, so that a caller can read more of it.
    QCOMPARE(reply.json, QJsonDocument::fromJson(body).object());
}

void TestQuillmorApi::reportsNetworkFailures()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString deadUrl = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    qputenv("QUILLMOR_BASE_URL", deadUrl.toUtf8());
    {
        QuillmorApi api;
        const ApiReply reply = api.request(QStringLiteral("GET"), kStations, nullptr, 5000);
        QVERIFY(!reply.ok);
        QCOMPARE(reply.status, 0);
        const QString prefix = QStringLiteral("Cannot reach Quillmor at %1. Check this computer's "
                                              "internet. ")
                                   .arg(deadUrl);
        QVERIFY2(reply.message.startsWith(prefix) && reply.message.size() > prefix.size(),
                 qPrintable(reply.message));
    }

    qputenv("QUILLMOR_BASE_URL", m_sim.baseUrl().toUtf8());
    BillingSimOverride hangUp;
    hangUp.behaviour = BillingSimOverride::Behaviour::Close;
    m_sim.setOverride(kProbe, hangUp);
    QuillmorApi api;
    const ApiReply reply = api.request(QStringLiteral("GET"), kProbe, nullptr, 5000);
    QCOMPARE(reply.status, 0);
    QVERIFY2(
        reply.message.startsWith(QStringLiteral("Cannot reach Quillmor at ") + m_sim.baseUrl()),
        qPrintable(reply.message));
}

void TestQuillmorApi::cutsTrickleAtBackstop()
{
    BillingSimOverride trickle;
    trickle.behaviour = BillingSimOverride::Behaviour::Trickle;
    trickle.trickleIntervalMs = 250;
    m_sim.setOverride(kProbe, trickle);

    QuillmorApi api;
    QElapsedTimer clock;
    clock.start();
    const ApiReply reply = api.request(QStringLiteral("GET"), kProbe, nullptr, 1500);
    const qint64 elapsed = clock.elapsed();

    QCOMPARE(reply.message, QStringLiteral("Quillmor took too long to answer. Check this "
                                           "computer's internet and try again."));
    QCOMPARE(reply.status, 0);
    QVERIFY2(elapsed >= 3400 && elapsed < 5000, qPrintable(QString::number(elapsed)));
}

void TestQuillmorApi::cancelAbortsOnlyTheWaitingRequest()
{
    BillingSimOverride trickle;
    trickle.behaviour = BillingSimOverride::Behaviour::Trickle;
    m_sim.setOverride(kProbe, trickle);

    QuillmorApi api;
    // The window's Cancel arrives as an event handled inside the request's own wait.
    QTimer::singleShot(300, &api, [&api] { api.cancelRequest(); });
    QElapsedTimer clock;
    clock.start();
    const ApiReply cancelled = api.request(QStringLiteral("GET"), kProbe, nullptr, 20000);
    QCOMPARE(cancelled.message, QStringLiteral("Cancelled."));
    QVERIFY(!cancelled.ok);
    QCOMPARE(cancelled.status, 0);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));

    // A cancel with nothing waiting, and the one before, leave the next request alone.
    m_sim.clearOverrides();
    api.cancelRequest();
    const ApiReply next = api.request(QStringLiteral("GET"), kProbe, nullptr, 20000);
    QCOMPARE(next.status, 404);
    QVERIFY(next.message.startsWith(kNotTheApi));

    // A worker's client learns of the cancel from its check, while waiting or before sending.
    m_sim.setOverride(kProbe, trickle);
    bool flag = false;
    api.setCancelCheck([&flag] { return flag; });
    QTimer::singleShot(300, &api, [&flag] { flag = true; });
    clock.restart();
    QCOMPARE(api.request(QStringLiteral("GET"), kProbe, nullptr, 20000).message,
             QStringLiteral("Cancelled."));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    m_sim.clearRequests();
    QCOMPARE(api.request(QStringLiteral("GET"), kProbe, nullptr, 20000).message,
             QStringLiteral("Cancelled."));
    QVERIFY(m_sim.requests().isEmpty());
}

void TestQuillmorApi::sendsHeadersAndBodiesInOrder()
{
    auto api = signedInClient();
    QVERIFY(api->listStations());
    (void)api->request(QStringLiteral("get"), kProbe, nullptr, 5000);

    const QList<BillingSimRequest> seen = m_sim.requests();
    QCOMPARE(seen.size(), 2);
    const BillingSimRequest &get = seen.at(0);
    QCOMPARE(get.method, QStringLiteral("GET"));
    QList<QByteArray> ours;
    for (const QByteArray &name : get.headerNames()) {
        static const QList<QByteArray> wanted{"content-type", "accept", "x-api-key", "user-agent",
                                              "authorization"};
        if (wanted.contains(name.toLower()))
            ours.append(name.toLower());
    }
    QCOMPARE(ours, QList<QByteArray>(
                       {"content-type", "accept", "x-api-key", "user-agent", "authorization"}));
    QCOMPARE(get.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(get.header("Accept"), QByteArray("application/json"));
    QCOMPARE(get.header("X-Api-Key"), kApiKey.toUtf8());
    QCOMPARE(get.header("User-Agent"), QByteArray("QuillmorMikroTikSetup/1.0"));
    QVERIFY(get.header("Authorization").startsWith("Bearer "));
    QVERIFY(get.body.isEmpty());

    // Only "GET" exactly is a GET; anything else goes out as a POST with an empty object.
    QCOMPARE(seen.at(1).method, QStringLiteral("POST"));
    QCOMPARE(seen.at(1).body, QByteArray("{}"));

    QuillmorApi fresh;
    QVERIFY(fresh.requestCode(QStringLiteral("  ") + kAccount + QStringLiteral(" ")));
    QCOMPARE(m_sim.requests().constLast().body,
             QByteArray("{\"account_number\":\"") + kAccount.toUtf8() + "\"}");
    QVERIFY(!m_sim.requests().constLast().hasHeader("Authorization"));
}

void TestQuillmorApi::signsInAndOut()
{
    QuillmorApi api;
    QString error;
    QVERIFY2(api.requestCode(kAccount, &error), qPrintable(error));
    QCOMPARE(m_sim.lastCode(kAccount), kCode);

    QVERIFY(!api.verifyCode(kAccount, QStringLiteral("000000"), nullptr, &error));
    QCOMPARE(error, QStringLiteral("That code is not right. Ask for a new one."));
    QVERIFY(!m_sim.requests().constLast().hasHeader("Authorization"));

    AccountProfile profile;
    QVERIFY2(api.verifyCode(kAccount, QStringLiteral(" %1 ").arg(kCode), &profile, &error),
             qPrintable(error));
    QCOMPARE(profile.accountName, QStringLiteral("Test Net"));
    QCOMPARE(profile.accountNumber, kAccount);
    QCOMPARE(profile.routerLimit, 2);
    QVERIFY(!profile.token.isEmpty());
    QVERIFY(api.listStations(nullptr, &error));
    QCOMPARE(m_sim.requests().constLast().header("Authorization"),
             QByteArray("Bearer ") + profile.token.toUtf8());

    // Signed in without a profile to fill, all the same.
    QuillmorApi second;
    QVERIFY(second.requestCode(kAccount));
    QVERIFY(second.verifyCode(kAccount, kCode));
    QVERIFY(second.listRouters());

    api.setToken(QString());
    QVERIFY(!api.listStations(nullptr, &error));
    QVERIFY(!m_sim.requests().constLast().hasHeader("Authorization"));
    QCOMPARE(error, QStringLiteral("Sign in again. This session is not valid."));
}

void TestQuillmorApi::readsProfile_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<AccountProfile>("expected");

    AccountProfile base; // what the caller had before, so "unchanged" is visible
    base.token = QStringLiteral("t1");
    base.accountNumber = QStringLiteral("777");
    base.routerLimit = -1;
    base.routersUsed = 9;

    AccountProfile p = base;
    QTest::newRow("token beats access_token, typed number trimmed")
        << QByteArray("{\"token\":\"t1\",\"access_token\":\"t2\"}") << QStringLiteral(" 777 ") << p;
    QTest::newRow("numeric account number gives the typed one")
        << QByteArray("{\"token\":\" t1 \",\"account_number\":12}") << QStringLiteral("777") << p;
    p.token = QStringLiteral("t2");
    QTest::newRow("blank token falls to access_token")
        << QByteArray("{\"token\":\"  \",\"access_token\":\" t2 \"}") << QStringLiteral("777") << p;

    p = base;
    p.accountNumber = QStringLiteral("A-1");
    p.accountName = QStringLiteral("Isp");
    p.mikrotikUsername = QStringLiteral("admin2");
    p.mikrotikPassword = QStringLiteral("  pa ss ");
    p.hotspotDns = QStringLiteral("login.example");
    p.walledHosts = QStringList{QStringLiteral("a.example"), QStringLiteral("b.example"),
                                QStringLiteral("a.example")};
    p.routerLimit = 0;
    p.routersUsed = 2;
    QTest::newRow("full profile")
        << QByteArray("{\"token\":\"t1\",\"account_number\":\" A-1 \",\"isp_name\":\"Isp\","
                      "\"name\":\"N\",\"company\":\"C\",\"mikrotik_username\":\"admin2\","
                      "\"mikrotiksUsername\":\"other\",\"mikrotik_password\":\"  pa ss \","
                      "\"hotspot_dns\":\" login.example \",\"walled_hosts\":[\" \",5,"
                      "\" a.example \",\"b.example\",\"a.example\"],\"router_limit\":0,"
                      "\"routers_used\":2}")
        << QStringLiteral("777") << p;

    p = base;
    p.accountName = QStringLiteral("N");
    p.mikrotikUsername = QStringLiteral("other");
    p.routerLimit = 0;
    p.routersUsed = 0;
    QTest::newRow("fallback keys and non-integral counts")
        << QByteArray("{\"token\":\"t1\",\"isp_name\":\"  \",\"name\":\"N\","
                      "\"mikrotiksUsername\":\"other\",\"mikrotik_password\":7,"
                      "\"walled_hosts\":\"a.example\",\"router_limit\":\"3\","
                      "\"routers_used\":2.5}")
        << QStringLiteral("777") << p;
}

void TestQuillmorApi::readsProfile()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, typed);
    QFETCH(AccountProfile, expected);

    m_sim.setOverride(kVerify, answer(200, body));
    QuillmorApi api;
    AccountProfile profile;
    profile.routersUsed = 9;
    profile.walledHosts = QStringList{QStringLiteral("stale.example")};
    QString error;
    QVERIFY2(api.verifyCode(typed, kCode, &profile, &error), qPrintable(error));
    QCOMPARE(profile.token, expected.token);
    QCOMPARE(profile.accountNumber, expected.accountNumber);
    QCOMPARE(profile.accountName, expected.accountName);
    QCOMPARE(profile.mikrotikUsername, expected.mikrotikUsername);
    QCOMPARE(profile.mikrotikPassword, expected.mikrotikPassword);
    QCOMPARE(profile.hotspotDns, expected.hotspotDns);
    QCOMPARE(profile.walledHosts, expected.walledHosts);
    QCOMPARE(profile.routerLimit, expected.routerLimit);
    QCOMPARE(profile.routersUsed, expected.routersUsed);
}

void TestQuillmorApi::failedVerifyKeepsSession_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");

    const QString noToken =
        QStringLiteral("Quillmor signed you in, but did not return a session token.");
    QTest::newRow("numeric access_token is no token")
        << 200 << QByteArray("{\"access_token\":5,\"isp_name\":\"Other\"}") << noToken;
    QTest::newRow("blank token and no access_token")
        << 200 << QByteArray("{\"token\":\"   \",\"router_limit\":7}") << noToken;
    QTest::newRow("token with a line end")
        << 200 << QByteArray("{\"token\":\"abc\\r\\nX-Injected: yes\"}")
        << QStringLiteral("Quillmor sent a session token with a line end or another control "
                          "character. Sign in again.");
    QTest::newRow("wrong code refused")
        << 401 << QByteArray("{\"message\":\"That code is not right.\",\"token\":\"x\"}")
        << QStringLiteral("That code is not right.");
}

void TestQuillmorApi::failedVerifyKeepsSession()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);

    auto api = signedInClient();
    QVERIFY(api->listStations());
    const QByteArray signedIn = m_sim.requests().constLast().header("Authorization");
    QVERIFY(signedIn.startsWith("Bearer "));

    m_sim.setOverride(kVerify, answer(status, body));
    AccountProfile profile;
    profile.accountName = QStringLiteral("before");
    QString error;
    QVERIFY(!api->verifyCode(kAccount, kCode, &profile, &error));
    QCOMPARE(error, message);
    QCOMPARE(profile.accountName, QStringLiteral("before"));
    QCOMPARE(profile.routerLimit, -1);
    QVERIFY(profile.token.isEmpty());

    // The session that was there goes on as it was: neither emptied nor replaced.
    m_sim.clearOverrides();
    QVERIFY(api->listStations());
    QCOMPARE(m_sim.requests().constLast().header("Authorization"), signedIn);
}

void TestQuillmorApi::readsLists()
{
    auto api = signedInClient();
    QList<StationInfo> stations{StationInfo{QStringLiteral("old"), {}, {}}};

    m_sim.setOverride(kStations, answer(200, "{\"ok\":true}"));
    QVERIFY(api->listStations(&stations));
    QVERIFY(stations.isEmpty());

    m_sim.setOverride(kStations,
                      answer(200, "{\"stations\":[{\"id\":7,\"name\":\"Numeric\"},"
                                  "{\"id\":\"b\",\"name\":\"\",\"location\":\" Hill \"},\"junk\","
                                  "{\"id\":\"a\",\"name\":\"Tower\"},{\"id\":\"b\"}]}"));
    QVERIFY(api->listStations(&stations));
    QCOMPARE(stations.size(), 3);
    QCOMPARE(stations.at(0).id, QStringLiteral("b"));
    QCOMPARE(stations.at(0).name, QString());
    QCOMPARE(stations.at(0).location, QStringLiteral(" Hill "));
    QCOMPARE(stations.at(1).name, QStringLiteral("Tower"));
    QCOMPARE(stations.at(2).id, QStringLiteral("b"));

    QString error;
    m_sim.setOverride(kStations, answer(500, "{}"));
    QVERIFY(!api->listStations(&stations, &error));
    QCOMPARE(error, QStringLiteral("Quillmor refused the request (500)."));
    QCOMPARE(stations.size(), 3);

    QList<SavedRouter> routers;
    m_sim.setOverride(kRouters, answer(200, "{\"routers\":[{\"id\":\"r3\",\"name\":\"Newest\"},"
                                            "{\"id\":\"r1\"},{\"id\":\"r2\"}]}"));
    QVERIFY(api->listRouters(&routers));
    QCOMPARE(routers.size(), 3);
    QCOMPARE(routers.at(0).id, QStringLiteral("r3"));
    QCOMPARE(routers.at(0).name, QStringLiteral("Newest"));
    QCOMPARE(routers.at(2).id, QStringLiteral("r2"));
}

void TestQuillmorApi::encodesRouterIds_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("segment");

    QTest::newRow("slash stays in its segment") << QStringLiteral("a/b") << QStringLiteral("a%2Fb");
    QTest::newRow("blank") << QStringLiteral(" x ") << QStringLiteral("%20x%20");
    QTest::newRow("unreserved kept") << QStringLiteral("Az09-._~") << QStringLiteral("Az09-._~");
    QTest::newRow("query and fragment marks")
        << QStringLiteral("a?b#c%") << QStringLiteral("a%3Fb%23c%25");
    QTest::newRow("non-ASCII as UTF-8") << QStringLiteral("r\u00fc") << QStringLiteral("r%C3%BC");
    QTest::newRow("three dots are an ordinary id")
        << QStringLiteral("...") << QStringLiteral("...");
}

void TestQuillmorApi::encodesRouterIds()
{
    QFETCH(QString, id);
    QFETCH(QString, segment);

    auto api = signedInClient();
    const QString prefix = kRouters + QLatin1Char('/') + segment;
    (void)api->fetchRouter(id);
    (void)api->saveRouterCredentials(id, QStringLiteral("u"), QStringLiteral("p"));
    (void)api->saveHotspot(id, QStringLiteral("s"), QStringLiteral("/p"));
    (void)api->installHotspot(id, QStringLiteral("s"));

    QStringList paths;
    for (const BillingSimRequest &request : m_sim.requests())
        paths.append(request.path);
    QCOMPARE(paths, QStringList({prefix, prefix + QStringLiteral("/credentials"),
                                 prefix + QStringLiteral("/hotspot"),
                                 prefix + QStringLiteral("/hotspot-install")}));
}

void TestQuillmorApi::refusesDotRouterIds_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("dot") << QStringLiteral(".");
    QTest::newRow("dot dot") << QStringLiteral("..");
}

void TestQuillmorApi::refusesDotRouterIds()
{
    QFETCH(QString, id);

    auto api = signedInClient();
    QString e1, e2, e3, e4;
    QJsonObject result{{QStringLiteral("kept"), true}};
    QString path = QStringLiteral("kept");
    QVERIFY(!api->fetchRouter(id, &result, &e1));
    QVERIFY(!api->saveRouterCredentials(id, QStringLiteral("u"), QStringLiteral("p"), &e2));
    QVERIFY(!api->saveHotspot(id, QStringLiteral("s"), QStringLiteral("/p"), &e3));
    QVERIFY(!api->installHotspot(id, QStringLiteral("s"), &path, &e4));
    for (const QString &error : {e1, e2, e3, e4})
        QCOMPARE(error, kBadRouterId);
    QCOMPARE(result.value(QStringLiteral("kept")), QJsonValue(true));
    QCOMPARE(path, QStringLiteral("kept"));
    QVERIFY(m_sim.requests().isEmpty());
}

void TestQuillmorApi::passesEndpointBodiesAndAnswers()
{
    auto api = signedInClient();
    const QJsonObject body{{QStringLiteral("name"), QStringLiteral(" Site ")},
                           {QStringLiteral("public_key"),
                            QStringLiteral("UnrOR307pe/zrpDakhQNDPHKcOim1fGFJqKScRHpLKA=")},
                           {QStringLiteral("listen_port"), 13231}};
    QJsonObject answerObject;
    QString error;
    QVERIFY2(api->provisionRouter(body, &answerObject, &error), qPrintable(error));
    QCOMPARE(m_sim.requests().constLast().json(), body);
    const QString routerId = answerObject.value(QStringLiteral("router_id")).toString();
    QCOMPARE(routerId.size(), 24);

    QVERIFY(api->saveRouterCredentials(routerId, QStringLiteral(" api "), QStringLiteral(" pw ")));
    QCOMPARE(m_sim.requests().constLast().json(),
             QJsonObject({{QStringLiteral("api_username"), QStringLiteral(" api ")},
                          {QStringLiteral("api_password"), QStringLiteral(" pw ")}}));

    const QString installPath =
        kRouters + QLatin1Char('/') + routerId + QStringLiteral("/hotspot-install");
    QString hotspotPath = QStringLiteral("old");
    m_sim.setOverride(installPath, answer(200, "{\"ok\":true}"));
    QVERIFY(api->installHotspot(routerId, QStringLiteral("st"), &hotspotPath));
    QCOMPARE(hotspotPath, QString());
    QCOMPARE(m_sim.requests().constLast().json(),
             QJsonObject({{QStringLiteral("station_id"), QStringLiteral("st")}}));
    m_sim.setOverride(installPath, answer(200, "{\"hotspot_path\":\"/flash/hotspot/login.html\"}"));
    QVERIFY(api->installHotspot(routerId, QStringLiteral("st"), &hotspotPath));
    QCOMPARE(hotspotPath, QStringLiteral("/flash/hotspot/login.html"));
}

void TestQuillmorApi::readsAssistAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text"); // the answer when ok, else the error

    QTest::newRow("answer beats reply")
        << 200 << QByteArray("{\"answer\":\" A \",\"reply\":\"R\"}") << true << QStringLiteral("A");
    QTest::newRow("blank answer falls to message")
        << 200 << QByteArray("{\"answer\":\"  \",\"message\":\"M\"}") << true
        << QStringLiteral("M");
    QTest::newRow("numeric answer is empty")
        << 200 << QByteArray("{\"answer\":42}") << false
        << QStringLiteral("Quillmor AI returned an empty answer.");
    QTest::newRow("refusal message is the error")
        << 429 << QByteArray("{\"message\":\"Slow down.\"}") << false
        << QStringLiteral("Slow down.");
}

void TestQuillmorApi::readsAssistAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(QString, text);

    m_sim.setOverride(QStringLiteral("/api/v1/desktop/assist"), answer(status, body));
    QuillmorApi api;
    QString reply = QStringLiteral("untouched");
    QString error;
    QCOMPARE(api.askAssist(QStringLiteral("connect"), QStringLiteral("Why?"), QStringLiteral("ctx"),
                           &reply, &error),
             ok);
    QCOMPARE(ok ? reply : error, text);
    if (!ok)
        QCOMPARE(reply, QStringLiteral("untouched"));
    QCOMPARE(m_sim.requests().constLast().json(),
             QJsonObject({{QStringLiteral("step"), QStringLiteral("connect")},
                          {QStringLiteral("question"), QStringLiteral("Why?")},
                          {QStringLiteral("context"), QStringLiteral("ctx")}}));
}

QTEST_GUILESS_MAIN(TestQuillmorApi)
#include "tst_quillmorapi.moc"

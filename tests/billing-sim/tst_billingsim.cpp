#include "api/quillmorapi.h"
#include "billingsim.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kKey = QStringLiteral("sim-key");
const QString kKeyValid = QStringLiteral("UnrOR307pe/zrpDakhQNDPHKcOim1fGFJqKScRHpLKA=");

QJsonObject scenario(int onlineAfterPolls = 2, bool online = true, bool tunnel = true,
                     int tunnelInstalls = -1)
{
    const QJsonObject account{
        {QStringLiteral("number"), QStringLiteral("9001")},
        {QStringLiteral("isp_name"), QStringLiteral("Sim Net")},
        {QStringLiteral("router_limit"), 2},
        {QStringLiteral("routers_used"), 1},
        {QStringLiteral("stations"),
         QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaa")},
                                {QStringLiteral("name"), QStringLiteral("Tower")}}}},
        {QStringLiteral("routers"),
         QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("old-router")},
                                {QStringLiteral("name"), QStringLiteral("Old")}}}}};
    QJsonObject scenario{
        {QStringLiteral("api_key"), kKey},
        {QStringLiteral("online_after_polls"), onlineAfterPolls},
        {QStringLiteral("router_online"), online},
        {QStringLiteral("tunnel_reaches_router"), tunnel},
        {QStringLiteral("link"),
         QJsonObject{{QStringLiteral("interface_address"), QStringLiteral("10.20.0.9/32")},
                     {QStringLiteral("server_public_key"), kKeyValid},
                     {QStringLiteral("endpoint_host"), QStringLiteral("vpn.example")},
                     {QStringLiteral("endpoint_port"), 51820}}},
        {QStringLiteral("accounts"), QJsonArray{account}}};
    if (tunnelInstalls >= 0)
        scenario.insert(QStringLiteral("tunnel_installs"), tunnelInstalls);
    return scenario;
}

// Signs in with the code the simulator issued, as an operator reading it off the console would.
bool signIn(QuillmorApi &api, BillingSim &sim, QString *error)
{
    return api.requestCode(QStringLiteral("9001"), error) &&
           api.verifyCode(QStringLiteral("9001"), sim.lastCode(QStringLiteral("9001")), nullptr,
                          error);
}

} // namespace

class TestBillingSim final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void guardsKeyAndSession();
    void issuesOneTimeCodes();
    void provisionsWithinSeats();
    void reportsOnlineAfterPolls_data();
    void reportsOnlineAfterPolls();
    void installsAndRecordsHotspot_data();
    void installsAndRecordsHotspot();
    void delaysAndReplacesAnswers();
    void programServesDemoOverHttps();

private:
    void use(const BillingSim &sim, const QString &key = kKey);
};

void TestBillingSim::cleanup()
{
    qunsetenv("QUILLMOR_BASE_URL");
    qunsetenv("QUILLMOR_API_KEY");
    qunsetenv("QUILLMOR_CA_FILE");
}

void TestBillingSim::use(const BillingSim &sim, const QString &key)
{
    qputenv("QUILLMOR_BASE_URL", sim.baseUrl().toUtf8());
    qputenv("QUILLMOR_API_KEY", key.toUtf8());
}

void TestBillingSim::guardsKeyAndSession()
{
    BillingSim sim;
    QVERIFY(sim.start(scenario()));

    use(sim, QStringLiteral("wrong"));
    QuillmorApi stranger;
    ApiReply reply = stranger.request(
        QStringLiteral("POST"), QStringLiteral("/api/v1/desktop/auth/request-code"), nullptr, 5000);
    QCOMPARE(reply.status, 401);
    QCOMPARE(reply.message, QStringLiteral("This installer's API key is not valid."));
    QVERIFY(sim.lastCode(QStringLiteral("9001")).isEmpty());

    use(sim);
    QuillmorApi api;
    QString error;
    QVERIFY(!api.listStations(nullptr, &error));
    QCOMPARE(error, QStringLiteral("Sign in again. This session is not valid."));
    api.setToken(QStringLiteral("made-up"));
    reply = api.request(QStringLiteral("GET"), QStringLiteral("/api/v1/desktop/routers"), nullptr,
                        5000);
    QCOMPARE(reply.status, 401);

    reply = api.request(QStringLiteral("GET"), QStringLiteral("/api/v1/desktop/nothing"), nullptr,
                        5000);
    QCOMPARE(reply.status, 404);
    QVERIFY(reply.json.isEmpty());
}

void TestBillingSim::issuesOneTimeCodes()
{
    BillingSim sim;
    QVERIFY(sim.start(scenario()));
    use(sim);
    QSignalSpy issued(&sim, &BillingSim::codeIssued);

    QuillmorApi api;
    QString error;
    QVERIFY(!api.requestCode(QStringLiteral("404404"), &error));
    QCOMPARE(error, QStringLiteral("There is no Quillmor account with that number."));

    QVERIFY(api.requestCode(QStringLiteral("9001"), &error));
    QTRY_COMPARE(issued.size(), 1);
    const QString code = sim.lastCode(QStringLiteral("9001"));
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(code).hasMatch(),
             qPrintable(code));
    QCOMPARE(issued.at(0).at(1).toString(), code);

    const QString wrong =
        code == QLatin1String("000000") ? QStringLiteral("111111") : QStringLiteral("000000");
    QVERIFY(!api.verifyCode(QStringLiteral("9001"), wrong, nullptr, &error));
    AccountProfile profile;
    QVERIFY2(api.verifyCode(QStringLiteral("9001"), code, &profile, &error), qPrintable(error));
    QCOMPARE(profile.accountName, QStringLiteral("Sim Net"));
    QCOMPARE(profile.routerLimit, 2);
    QCOMPARE(profile.routersUsed, 1);

    QuillmorApi other;
    QVERIFY(!other.verifyCode(QStringLiteral("9001"), code, nullptr, &error));
}

void TestBillingSim::provisionsWithinSeats()
{
    BillingSim sim;
    QVERIFY(sim.start(scenario()));
    use(sim);
    QuillmorApi api;
    QString error;
    QVERIFY2(signIn(api, sim, &error), qPrintable(error));

    QJsonObject body{{QStringLiteral("name"), QStringLiteral("Shop")},
                     {QStringLiteral("public_key"), QStringLiteral("short")}};
    QVERIFY(!api.provisionRouter(body, nullptr, &error));
    QCOMPARE(error, QStringLiteral("The router's WireGuard key is missing or not valid."));

    body.insert(QStringLiteral("public_key"), kKeyValid);
    QJsonObject answer;
    QVERIFY2(api.provisionRouter(body, &answer, &error), qPrintable(error));
    QCOMPARE(answer.value(QStringLiteral("routers_used")).toInt(), 2);
    QCOMPARE(answer.value(QStringLiteral("router_limit")).toInt(), 2);
    QCOMPARE(answer.value(QStringLiteral("server_public_key")).toString(), kKeyValid);
    QCOMPARE(answer.value(QStringLiteral("endpoint_port")).toInt(), 51820);

    QList<SavedRouter> routers;
    QVERIFY(api.listRouters(&routers));
    QCOMPARE(routers.size(), 2);
    QCOMPARE(routers.at(0).id, answer.value(QStringLiteral("router_id")).toString());
    QCOMPARE(routers.at(0).name, QStringLiteral("Shop"));
    QCOMPARE(routers.at(1).id, QStringLiteral("old-router"));

    QVERIFY(!api.provisionRouter(body, nullptr, &error));
    QVERIFY2(error.startsWith(QStringLiteral("This account has no free router seats.")),
             qPrintable(error));
}

void TestBillingSim::reportsOnlineAfterPolls_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<QList<bool>>("polls");

    QTest::newRow("online at the third poll") << true << QList<bool>{false, false, true, true};
    QTest::newRow("never online") << false << QList<bool>{false, false, false, false};
}

void TestBillingSim::reportsOnlineAfterPolls()
{
    QFETCH(bool, online);
    QFETCH(QList<bool>, polls);

    BillingSim sim;
    QVERIFY(sim.start(scenario(3, online)));
    use(sim);
    QuillmorApi api;
    QString error;
    QVERIFY2(signIn(api, sim, &error), qPrintable(error));
    QJsonObject answer;
    QVERIFY(api.provisionRouter({{QStringLiteral("public_key"), kKeyValid}}, &answer, &error));
    const QString id = answer.value(QStringLiteral("router_id")).toString();

    QList<bool> seen;
    for (int i = 0; i < polls.size(); ++i) {
        QJsonObject status;
        QVERIFY2(api.fetchRouter(id, &status, &error), qPrintable(error));
        const bool up = status.value(QStringLiteral("online")).toBool();
        QCOMPARE(status.value(QStringLiteral("status")).toString(),
                 up ? QStringLiteral("online") : QStringLiteral("pending"));
        seen.append(up);
    }
    QCOMPARE(seen, polls);
    QVERIFY(!api.fetchRouter(QStringLiteral("unknown"), nullptr, &error));
}

void TestBillingSim::installsAndRecordsHotspot_data()
{
    QTest::addColumn<bool>("tunnel");
    QTest::addColumn<int>("tunnelInstalls");
    QTest::addColumn<QList<bool>>("installs");

    QTest::newRow("tunnel up") << true << -1 << QList<bool>{true, true};
    QTest::newRow("tunnel down") << false << -1 << QList<bool>{false, false};
    QTest::newRow("tunnel carries one install") << true << 1 << QList<bool>{true, false};
}

void TestBillingSim::installsAndRecordsHotspot()
{
    QFETCH(bool, tunnel);
    QFETCH(int, tunnelInstalls);
    QFETCH(QList<bool>, installs);

    const QString station = QStringLiteral("aaaaaaaaaaaaaaaaaaaaaaaa");
    BillingSim sim;
    QVERIFY(sim.start(scenario(1, true, tunnel, tunnelInstalls)));
    use(sim);
    QuillmorApi api;
    QString error;
    QVERIFY2(signIn(api, sim, &error), qPrintable(error));

    for (const bool installed : installs) {
        QString path;
        QCOMPARE(api.installHotspot(QStringLiteral("old-router"), station, &path, &error),
                 installed);
        if (installed)
            QCOMPARE(path, QStringLiteral("/flash/hotspot/login.html"));
        else
            QCOMPARE(error, QStringLiteral("Quillmor cannot reach this router through the tunnel "
                                           "right now."));
    }
    QVERIFY(!api.saveHotspot(QStringLiteral("old-router"), QStringLiteral("nope"),
                             QStringLiteral("/hotspot/login.html"), &error));
    QVERIFY(api.saveHotspot(QStringLiteral("old-router"), station,
                            QStringLiteral("/hotspot/login.html"), &error));
    const QJsonObject saved = sim.savedRouters(QStringLiteral("9001")).at(0).toObject();
    QCOMPARE(saved.value(QStringLiteral("hotspot_path")).toString(),
             QStringLiteral("/hotspot/login.html"));
}

void TestBillingSim::delaysAndReplacesAnswers()
{
    BillingSim sim;
    QVERIFY(sim.start(scenario()));
    use(sim);
    BillingSimOverride slow;
    slow.status = 503;
    slow.replaceBody = true;
    slow.body = QByteArrayLiteral("{\"message\":\"Back soon.\"}");
    slow.delayMs = 600;
    sim.setOverride(QStringLiteral("/api/v1/desktop/stations"), slow);

    QuillmorApi api;
    QElapsedTimer clock;
    clock.start();
    const ApiReply reply = api.request(QStringLiteral("GET"),
                                       QStringLiteral("/api/v1/desktop/stations"), nullptr, 5000);
    QVERIFY2(clock.elapsed() >= 600, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(reply.status, 503);
    QCOMPARE(reply.message, QStringLiteral("Back soon."));

    // The override answers for one path only; the service itself still answers the others.
    const ApiReply other = api.request(QStringLiteral("GET"),
                                       QStringLiteral("/api/v1/desktop/routers"), nullptr, 5000);
    QCOMPARE(other.status, 401);
    QCOMPARE(other.message, QStringLiteral("Sign in again. This session is not valid."));

    // A client that gives up before a delayed answer leaves nothing behind that writes to its
    // closed connection: the next delayed answer, due after the first one's time, still comes.
    {
        QuillmorApi impatient;
        const ApiReply cut = impatient.request(
            QStringLiteral("GET"), QStringLiteral("/api/v1/desktop/stations"), nullptr, 200);
        QCOMPARE(cut.status, 0);
    }
    const ApiReply patient = api.request(QStringLiteral("GET"),
                                         QStringLiteral("/api/v1/desktop/stations"), nullptr, 5000);
    QCOMPARE(patient.status, 503);
    QCOMPARE(sim.requestsTo(QStringLiteral("/api/v1/desktop/stations")).size(), 3);
}

void TestBillingSim::programServesDemoOverHttps()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QProcess program;
    program.start(QStringLiteral(BILLING_SIM_PROGRAM),
                  {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--scenario"),
                   QStringLiteral(BILLING_SIM_DEMO), QStringLiteral("--quiet"),
                   QStringLiteral("--https"), folder.path()});
    QVERIFY(program.waitForStarted());
    QByteArray output;
    const QRegularExpression portLine(QStringLiteral("^port (\\d+)$"),
                                      QRegularExpression::MultilineOption);
    QTRY_VERIFY2((output += program.readAllStandardOutput(),
                  portLine.match(QString::fromUtf8(output)).hasMatch()),
                 program.readAllStandardError().constData());
    const QString port = portLine.match(QString::fromUtf8(output)).captured(1);
    const QString certificate = QRegularExpression(QStringLiteral("^certificate (.+)$"),
                                                   QRegularExpression::MultilineOption)
                                    .match(QString::fromUtf8(output))
                                    .captured(1);
    QVERIFY2(certificate.startsWith(folder.path()), output.constData());
    const QString baseUrl = QStringLiteral("https://127.0.0.1:%1").arg(port);
    qputenv("QUILLMOR_BASE_URL", baseUrl.toUtf8());
    qputenv("QUILLMOR_CA_FILE", certificate.toUtf8());
    qputenv("QUILLMOR_API_KEY", "demo-installer-key");

    QuillmorApi api;
    QString error;
    QVERIFY2(api.requestCode(QStringLiteral("100200"), &error), qPrintable(error));
    QTRY_VERIFY((output += program.readAllStandardOutput(),
                 output.contains("code for account 100200: 123456")));
    AccountProfile profile;
    QVERIFY2(api.verifyCode(QStringLiteral("100200"), QStringLiteral("123456"), &profile, &error),
             qPrintable(error));
    QVERIFY(!profile.mikrotikUsername.isEmpty() && !profile.mikrotikPassword.isEmpty());
    QCOMPARE(profile.routerLimit, 3);
    QCOMPARE(profile.routersUsed, 1);
    QList<StationInfo> stations;
    QVERIFY(api.listStations(&stations, &error));
    QCOMPARE(stations.size(), 2);
    for (const StationInfo &station : stations)
        QVERIFY(QRegularExpression(QStringLiteral("^[a-f0-9]{24}$")).match(station.id).hasMatch());

    // The router downloads the login page from the same address, over HTTPS.
    QNetworkAccessManager network;
    QNetworkRequest pageRequest(
        QUrl(baseUrl + QStringLiteral("/hotspot/login.html?stationId=") + stations.first().id));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(certificate));
    pageRequest.setSslConfiguration(tls);
    QNetworkReply *page = network.get(pageRequest);
    QTRY_VERIFY(page->isFinished());
    QCOMPARE(page->error(), QNetworkReply::NoError);
    QCOMPARE(page->header(QNetworkRequest::ContentTypeHeader).toString(),
             QStringLiteral("text/html; charset=utf-8"));
    const QByteArray marker = "<!-- station " + stations.first().id.toUtf8() + " -->";
    QVERIFY(page->readAll().contains(marker));
    delete page;

    program.kill();
    QVERIFY(program.waitForFinished());
}

QTEST_GUILESS_MAIN(TestBillingSim)
#include "tst_billingsim.moc"

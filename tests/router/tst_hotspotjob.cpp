#include "jobrecorder.h"
#include "router/hotspotjob.h"
#include "router/routertask.h"
#include "routersimfixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

Q_DECLARE_METATYPE(HotspotProfile)

namespace {

// Fully encoded, as the window writes it: "%2F" must reach the router as text, not as the path.
const char kPageUrl[] =
    "https://billing.example.net/hotspot/login.html?stationId=65a1b2c3d4e5f60718293a4b&from=%2F%31";

const char kDownloadFailed[] = "The router could not download the login page. It needs internet, "
                               "and the hotspot folder must be writable.";
const char kFolderRefused[] =
    "The hotspot folder on this router is not a path this app can replace.";

HotspotProfile profile(const char *name, const char *dir, const char *override, const char *dns)
{
    return HotspotProfile{QString::fromUtf8(name), QString::fromUtf8(dir),
                          QString::fromUtf8(override), QString::fromUtf8(dns)};
}

} // namespace

// The hotspot job's rules on their own, then the whole job against the simulated router through
// the real OpenSSH client.
class TestHotspotJob final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void parsesProfilesInRouterOrder();
    void choosesProfile_data();
    void choosesProfile();
    void findsDestination_data();
    void findsDestination();
    void fillsFetchScriptOnce();

    void installsIntoChosenProfile_data();
    void installsIntoChosenProfile();
    void refusesBeforeDownload_data();
    void refusesBeforeDownload();
    void reportsFailedDownload();

private:
    [[nodiscard]] bool fetchWasSent() const;

    RouterSimFixture m_sim;
};

void TestHotspotJob::initTestCase()
{
    m_sim.initTestCase();
}

void TestHotspotJob::cleanup()
{
    m_sim.cleanup();
}

void TestHotspotJob::parsesProfilesInRouterOrder()
{
    const QString output = QStringLiteral("QM_DIR=stray\r\n"
                                          "QM_PROFILE=default\r\n"
                                          "QM_DIR=hotspot\r\n"
                                          "QM_OVERRIDE=\r\n"
                                          "QM_DNS=\r\n"
                                          "\r\n"
                                          "  QM_PROFILE=hsprof1  \r\n"
                                          "QM_DNS=login.example-isp.net\n"
                                          "QM_DIR=flash\\hotspot\\\r\n"
                                          "QM_OVERRIDE=a=b\r\n"
                                          "qm_dns=ignored\r\n"
                                          "QM_PROFILE=\r\r\n"
                                          "QM_SERVER=hsprof1\r\n"
                                          " QM_SERVER=default \r\n"
                                          "QM_DONE=1\r\n");
    const QList<HotspotProfile> profiles = parseHotspotProfiles(output);
    QCOMPARE(profiles.size(), 3);
    QCOMPARE(profiles.at(0).name, QStringLiteral("default"));
    QCOMPARE(profiles.at(0).dir, QStringLiteral("hotspot"));
    QCOMPARE(profiles.at(0).override, QString());
    QCOMPARE(profiles.at(0).dns, QString());
    QCOMPARE(profiles.at(1).name, QStringLiteral("hsprof1"));
    QCOMPARE(profiles.at(1).dir, QStringLiteral("flash\\hotspot\\"));
    QCOMPARE(profiles.at(1).override, QStringLiteral("a=b"));
    QCOMPARE(profiles.at(1).dns, QStringLiteral("login.example-isp.net"));
    // A profile with an empty name is still a profile; the last one is closed at the end.
    QCOMPARE(profiles.at(2).name, QString());
    QCOMPARE(profiles.at(2).dir, QString());

    QVERIFY(parseHotspotProfiles(QStringLiteral("QM_DIR=hotspot\r\nQM_DONE=1\r\n")).isEmpty());
    // The servers' lines follow the last profile and are not part of it.
    QCOMPARE(parseHotspotServerProfiles(output),
             (QStringList{QStringLiteral("hsprof1"), QStringLiteral("default")}));
}

void TestHotspotJob::choosesProfile_data()
{
    QTest::addColumn<QList<HotspotProfile>>("profiles");
    QTest::addColumn<QStringList>("servers"); // the profile of each hotspot server
    QTest::addColumn<QString>("chosen");      // empty: none can be chosen

    const QStringList all{QStringLiteral("default"), QStringLiteral("hsprof1"),
                          QStringLiteral("hsprof2"), QStringLiteral("quillmor-server"),
                          QStringLiteral("Quillmor-Server"), QStringLiteral("quillmor-server2")};
    QTest::newRow("oursWinsOverEarlierWithoutDns")
        << QList<HotspotProfile>{profile("default", "hotspot", "", ""),
                                 profile("quillmor-server", "hotspot", "", "")}
        << all << QStringLiteral("quillmor-server");
    QTest::newRow("oursWinsOverEarlierWithDns")
        << QList<HotspotProfile>{profile("hsprof1", "flash/hotspot", "", "login.isp.net"),
                                 profile("quillmor-server", "hotspot", "", "wifi.isp.net")}
        << all << QStringLiteral("quillmor-server");
    QTest::newRow("oursOnlyByExactName")
        << QList<HotspotProfile>{profile("Quillmor-Server", "hotspot", "", ""),
                                 profile("quillmor-server2", "hotspot", "", "wifi.isp.net")}
        << all << QStringLiteral("quillmor-server2");
    QTest::newRow("firstWithDns")
        << QList<HotspotProfile>{profile("default", "hotspot", "", "   "),
                                 profile("hsprof1", "flash/hotspot", "", "login.isp.net"),
                                 profile("hsprof2", "flash/hotspot2", "", "other.isp.net")}
        << all << QStringLiteral("hsprof1");
    QTest::newRow("firstWhenNoneHasDns")
        << QList<HotspotProfile>{profile("default", "hotspot", "", ""),
                                 profile("hsprof1", "flash/hotspot", "", "")}
        << all << QStringLiteral("default");
    // Profiles that no server uses serve no customer, ours and those with a DNS name included.
    QTest::newRow("unusedProfilesPassedOver")
        << QList<HotspotProfile>{profile("quillmor-server", "hotspot", "", "wifi.isp.net"),
                                 profile("hsprof1", "flash/hotspot", "", "login.isp.net"),
                                 profile("hsprof2", "flash/hotspot2", "", "")}
        << QStringList{QStringLiteral("hsprof2")} << QStringLiteral("hsprof2");
    QTest::newRow("onlyTheBuiltInProfile")
        << QList<HotspotProfile>{profile("default", "hotspot", "", "")} << QStringList()
        << QString();
    QTest::newRow("serverOnUnlistedProfile")
        << QList<HotspotProfile>{profile("default", "hotspot", "", "")}
        << QStringList{QStringLiteral("gone")} << QString();
    QTest::newRow("noneAtAll") << QList<HotspotProfile>{} << all << QString();
}

void TestHotspotJob::choosesProfile()
{
    QFETCH(QList<HotspotProfile>, profiles);
    QFETCH(QStringList, servers);
    QFETCH(QString, chosen);

    HotspotProfile picked{QStringLiteral("untouched"), {}, {}, {}};
    QCOMPARE(chooseHotspotProfile(profiles, servers, &picked), !chosen.isEmpty());
    QCOMPARE(picked.name, chosen.isEmpty() ? QStringLiteral("untouched") : chosen);
}

void TestHotspotJob::findsDestination_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("override");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("destination");

    const QString refused;
    const QString allowed80 = QStringLiteral("flash/") + QString(74, QLatin1Char('a'));
    const QString allowed81 = allowed80 + QLatin1Char('b');

    QTest::newRow("plainDir") << QStringLiteral("hotspot") << QString() << QStringLiteral("hotspot")
                              << QStringLiteral("/hotspot/login.html");
    QTest::newRow("overrideWins") << QStringLiteral("hotspot") << QStringLiteral(" custom ")
                                  << QStringLiteral("custom") << QStringLiteral("/custom/login.html");
    QTest::newRow("blankOverrideFallsBackToDir")
        << QStringLiteral(" flash/hotspot ") << QStringLiteral("   ")
        << QStringLiteral("flash/hotspot") << QStringLiteral("/flash/hotspot/login.html");
    QTest::newRow("backslashesAndTrailingBackslash")
        << QStringLiteral("hotspot") << QStringLiteral("flash\\hotspot\\")
        << QStringLiteral("flash/hotspot") << QStringLiteral("/flash/hotspot/login.html");
    QTest::newRow("leadingAndTrailingSlashes")
        << QStringLiteral("//flash/hotspot///") << QString() << QStringLiteral("flash/hotspot")
        << QStringLiteral("/flash/hotspot/login.html");
    QTest::newRow("dirEndsInPageName")
        << QStringLiteral("hotspot/login.html") << QString() << QStringLiteral("hotspot/login.html")
        << QStringLiteral("/hotspot/login.html");
    QTest::newRow("pageNameIsCaseSensitive")
        << QStringLiteral("hotspot/Login.html") << QString() << QStringLiteral("hotspot/Login.html")
        << QStringLiteral("/hotspot/Login.html/login.html");
    QTest::newRow("bothEmpty") << QString() << QString() << QStringLiteral("hotspot")
                               << QStringLiteral("/hotspot/login.html");
    QTest::newRow("onlySlashesLeaveNothing")
        << QStringLiteral("\\/") << QString() << QString() << refused;
    QTest::newRow("parentStep") << QStringLiteral("flash/../rw") << QString()
                                << QStringLiteral("flash/../rw") << refused;
    QTest::newRow("parentInOverride") << QStringLiteral("hotspot") << QStringLiteral("..\\hotspot")
                                      << QStringLiteral("../hotspot") << refused;
    QTest::newRow("space") << QStringLiteral("flash/hot spot") << QString()
                           << QStringLiteral("flash/hot spot") << refused;
    QTest::newRow("quote") << QStringLiteral("flash/\"hs") << QString()
                           << QStringLiteral("flash/\"hs") << refused;
    QTest::newRow("semicolon") << QStringLiteral("hs;/system/reset") << QString()
                               << QStringLiteral("hs;/system/reset") << refused;
    QTest::newRow("dollar") << QStringLiteral("hs$x") << QString() << QStringLiteral("hs$x")
                            << refused;
    QTest::newRow("nonAscii") << QStringLiteral("hotspot\u00e9") << QString()
                              << QStringLiteral("hotspot\u00e9") << refused;
    QTest::newRow("80Allowed") << allowed80 << QString() << allowed80
                               << QLatin1Char('/') + allowed80 + QStringLiteral("/login.html");
    QTest::newRow("81Refused") << allowed81 << QString() << allowed81 << refused;
}

void TestHotspotJob::findsDestination()
{
    QFETCH(QString, dir);
    QFETCH(QString, override);
    QFETCH(QString, folder);
    QFETCH(QString, destination);

    QString judged = QStringLiteral("untouched");
    QCOMPARE(hotspotDestination(HotspotProfile{QStringLiteral("p"), dir, override, QString()},
                                &judged),
             destination);
    QCOMPARE(judged, folder);
    QCOMPARE(isReplaceableHotspotFolder(folder), !destination.isEmpty());
}

void TestHotspotJob::fillsFetchScriptOnce()
{
    QCOMPARE(hotspotFetchScript(QStringLiteral("https://x.example/p?a=%2F%1\"$\\"),
                                QStringLiteral("/flash/hotspot/login.html")),
             QStringLiteral(":do { /tool fetch url=\"https://x.example/p?a=%2F%1\\\"\\$\\\\\" "
                            "dst-path=\"/flash/hotspot/login.html\" mode=https "
                            "check-certificate=no; :put \"QM_FETCHED=1\" } on-error={ :put "
                            "\"QM_FAIL=fetch\" }; :put \"QM_DONE=1\""));
}

bool TestHotspotJob::fetchWasSent() const
{
    const QJsonArray log = m_sim.engine()->commandLog();
    for (const QJsonValue &entry : log) {
        if (entry.toObject().value(QStringLiteral("path")).toString().contains(
                QLatin1String("tool/fetch")))
            return true;
    }
    return false;
}

void TestHotspotJob::installsIntoChosenProfile_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("destination");

    // hsprof1 is served by the router's hotspot and reached by its DNS name.
    QTest::newRow("in-use") << QStringLiteral("in-use") << QStringList()
                            << QStringLiteral("/flash/hotspot/login.html");
    const QString ours = QStringLiteral("/ip hotspot profile add name=quillmor-server "
                                        "dns-name=wifi.isp.net html-directory=hotspot "
                                        "html-directory-override=\"\\\\flash\\\\qm\\\\\"");
    QTest::newRow("oursAfterLayout")
        << QStringLiteral("in-use")
        << QStringList{ours, QStringLiteral("/ip hotspot set [find] profile=quillmor-server")}
        << QStringLiteral("/flash/qm/login.html");
    QTest::newRow("oursUnused") << QStringLiteral("in-use") << QStringList{ours}
                                << QStringLiteral("/flash/hotspot/login.html");
}

void TestHotspotJob::installsIntoChosenProfile()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, setup);
    QFETCH(QString, destination);

    QJsonObject changes;
    if (!setup.isEmpty())
        changes.insert(QStringLiteral("setup"), QJsonArray::fromStringList(setup));
    QVERIFY(m_sim.start(scenario, changes));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startHotspot(m_sim.login(), QString::fromLatin1(kPageUrl));
    WAIT_FOR_JOB_END(task, recorder);

    QCOMPARE(recorder.errors.constFirst(), QString());
    QVERIFY(recorder.oks.constFirst());
    QCOMPARE(recorder.path, destination);
    QCOMPARE(recorder.lines,
             (QStringList{QStringLiteral("Signing in to the router..."),
                          QStringLiteral("Signed in."),
                          QStringLiteral("Reading the hotspot folder..."),
                          QStringLiteral("Installing login.html at ") + destination,
                          QStringLiteral("Downloading the login page...")}));

    const QMap<QString, QString> files = m_sim.engine()->fetchedFiles();
    QCOMPARE(files.keys(), QStringList{destination});
    QCOMPARE(files.value(destination), QString::fromLatin1(kPageUrl));
}

void TestHotspotJob::refusesBeforeDownload_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("error");

    QTest::newRow("folder with a parent step")
        << QStringLiteral("in-use")
        << QStringList{QStringLiteral("/ip hotspot profile set [find name=hsprof1] "
                                      "html-directory=\"flash/../flash/rw\"")}
        << QString::fromUtf8(kFolderRefused);
    // RouterOS always keeps its "default" profile; without a server it serves nobody.
    QTest::newRow("no hotspot server") << QStringLiteral("new-router") << QStringList()
                                       << QStringLiteral("This router has no hotspot profile yet.");
}

void TestHotspotJob::refusesBeforeDownload()
{
    QFETCH(QString, scenario);
    QFETCH(QStringList, setup);
    QFETCH(QString, error);

    QJsonObject changes;
    if (!setup.isEmpty())
        changes.insert(QStringLiteral("setup"), QJsonArray::fromStringList(setup));
    QVERIFY(m_sim.start(scenario, changes));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startHotspot(m_sim.login(), QString::fromLatin1(kPageUrl));
    WAIT_FOR_JOB_END(task, recorder);

    QVERIFY(!recorder.oks.constFirst());
    QCOMPARE(recorder.errors.constFirst(), error);
    QCOMPARE(recorder.path, QString());
    QVERIFY(!fetchWasSent());
    QVERIFY(m_sim.engine()->fetchedFiles().isEmpty());
}

void TestHotspotJob::reportsFailedDownload()
{
    QVERIFY(m_sim.start(
        QStringLiteral("in-use"),
        {{QStringLiteral("upstream"), QJsonObject{{QStringLiteral("dhcp"), true},
                                                  {QStringLiteral("internet"), true},
                                                  {QStringLiteral("serviceHttps"), false}}}}));
    Worker worker;
    RouterTask &task = worker.task;
    JobRecorder recorder(task);
    task.startHotspot(m_sim.login(), QString::fromLatin1(kPageUrl));
    WAIT_FOR_JOB_END(task, recorder);

    QVERIFY(!recorder.oks.constFirst());
    QCOMPARE(recorder.errors.constFirst(), QString::fromUtf8(kDownloadFailed));
    QCOMPARE(recorder.path, QString());
    QVERIFY(fetchWasSent());
    QVERIFY(m_sim.engine()->fetchedFiles().isEmpty());
    // The step's own failure is in the log and kept for the window.
    QCOMPARE(recorder.lines.constLast(), QStringLiteral("Downloading the login page... failed."));
    QCOMPARE(task.lastError(), QStringLiteral("Downloading the login page... failed."));
}

QTEST_GUILESS_MAIN(TestHotspotJob)
#include "tst_hotspotjob.moc"

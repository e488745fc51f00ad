#include "routerosengine.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <memory>

namespace {

QString scenarioDir()
{
    return qEnvironmentVariable("QUILLMOR_TEST_SOURCE_DIR")
            + QStringLiteral("/tools/routeros-sim/scenarios");
}

// A defconf router (192.168.88.1 on the LAN bridge, the computer on ether2 with a lease) after the
// setup scripts, or the given export instead.
std::unique_ptr<RouterOsEngine> router(const QStringList &setup = {},
                                       const QString &exportFile = QStringLiteral("defconf-7.rsc"),
                                       const QJsonObject &extra = {})
{
    QJsonObject scenario = extra;
    scenario.insert(QStringLiteral("export"), exportFile);
    if (!scenario.contains(QStringLiteral("session")))
        scenario.insert(QStringLiteral("session"),
                        QJsonObject{{QStringLiteral("address"), QStringLiteral("192.168.88.1")}});
    scenario.insert(QStringLiteral("setup"), QJsonArray::fromStringList(setup));
    auto engine = std::make_unique<RouterOsEngine>();
    QString error;
    if (!engine->loadScenario(scenario, scenarioDir(), &error))
        qWarning("%s", qPrintable(error));
    return engine;
}

ExecOutcome exec(RouterOsEngine &engine, const QString &script,
                 const QString &routerAddress = QString())
{
    ExecRequest request;
    request.user = QStringLiteral("admin");
    request.script = script;
    request.clientAddress = QStringLiteral("127.0.0.1");
    request.routerAddress = routerAddress;
    return engine.execute(request);
}

QString read(RouterOsEngine &engine, const QString &expression)
{
    // Asked over a session of its own; one that has no path still runs on the router.
    return QString::fromUtf8(exec(engine, QStringLiteral(":put %1").arg(expression)).out).trimmed();
}

const QString kLanDrop = QStringLiteral("[find comment=\"defconf: drop all not coming from LAN\"]");

} // namespace

Q_DECLARE_METATYPE(Admission)

// Whether the operator's computer reaches the router's SSH: the address on its wire, the input
// firewall with the hotspot in front of it, and what a running session meets when a script it
// sent cuts its own path.
class TestManagementPath final : public QObject
{
    Q_OBJECT

private slots:
    void newConnectionsFollowThePath_data();
    void newConnectionsFollowThePath();
    void operatorMovingChangesThePath();
    void sessionThatLosesItsPathHearsNothingMore_data();
    void sessionThatLosesItsPathHearsNothingMore();
    void sessionsFollowTheAddressTheyCameIn();
};

void TestManagementPath::newConnectionsFollowThePath_data()
{
    QTest::addColumn<QString>("exportFile");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QJsonObject>("computer");
    QTest::addColumn<QString>("address");
    QTest::addColumn<Admission>("expected");

    const QString defconf = QStringLiteral("defconf-7.rsc");
    const QJsonObject onEther2;
    auto at = [](const char *port, const char *address) {
        return QJsonObject{{QStringLiteral("port"), QLatin1String(port)},
                           {QStringLiteral("address"), QLatin1String(address)}};
    };

    QTest::newRow("defconf from a LAN port") << defconf << QStringList() << onEther2
                                             << QStringLiteral("192.168.88.1") << Admission::Answer;
    QTest::newRow("address the router does not hold")
            << defconf << QStringList() << onEther2 << QStringLiteral("172.16.0.1")
            << Admission::NoAnswer;
    QTest::newRow("computer on the WAN port")
            << defconf << QStringList() << at("ether1", "192.168.88.254")
            << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("computer outside the subnet")
            << defconf << QStringList() << at("ether2", "10.0.0.5")
            << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("port taken out of the bridge")
            << defconf << QStringList{QStringLiteral("/interface bridge port remove [find interface=ether2]")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("port disabled")
            << defconf << QStringList{QStringLiteral("/interface ethernet disable ether2")} << onEther2
            << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("renamed port is still the cabled one")
            << defconf << QStringList{QStringLiteral("/interface ethernet set ether2 name=lan-a")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::Answer;
    QTest::newRow("bridge in no interface list meets the defconf drop")
            << defconf << QStringList{QStringLiteral("/interface list member remove [find list=LAN]")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("accept rule before the drop")
            << defconf
            << QStringList{QStringLiteral("/interface list member remove [find list=LAN]"),
                           QStringLiteral("/ip firewall filter add chain=input action=accept "
                                          "protocol=tcp dst-port=22,8291 src-address=192.168.88.0/24 "
                                          "place-before=") + kLanDrop}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::Answer;
    QTest::newRow("accept rule for another source does not help")
            << defconf
            << QStringList{QStringLiteral("/interface list member remove [find list=LAN]"),
                           QStringLiteral("/ip firewall filter add chain=input action=accept "
                                          "src-address=10.0.0.0/8 place-before=") + kLanDrop}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("accept rule after the drop comes too late")
            << defconf
            << QStringList{QStringLiteral("/interface list member remove [find list=LAN]"),
                           QStringLiteral("/ip firewall filter add chain=input action=accept")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("reject with tcp-reset")
            << defconf
            << QStringList{QStringLiteral("/ip firewall filter add chain=input action=reject "
                                          "reject-with=tcp-reset protocol=tcp place-before=0")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::Refuse;
    QTest::newRow("reject rule for another port")
            << defconf
            << QStringList{QStringLiteral("/ip firewall filter add chain=input action=reject "
                                          "protocol=tcp dst-port=8291 place-before=0")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::Answer;
    QTest::newRow("drop in a jumped-to chain")
            << defconf
            << QStringList{QStringLiteral("/ip firewall filter add chain=input action=jump "
                                          "jump-target=mgmt place-before=0"),
                           QStringLiteral("/ip firewall filter add chain=mgmt action=drop "
                                          "src-address-list=blocked"),
                           QStringLiteral("/ip firewall address-list add list=blocked "
                                          "address=192.168.88.200-192.168.88.254")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("return from a jumped-to chain goes on")
            << defconf
            << QStringList{QStringLiteral("/ip firewall filter add chain=input action=jump "
                                          "jump-target=mgmt place-before=0"),
                           QStringLiteral("/ip firewall filter add chain=mgmt action=return"),
                           QStringLiteral("/ip firewall filter add chain=mgmt action=drop")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::Answer;
    QTest::newRow("hotspot on the bridge resets a client that has not logged in")
            << defconf
            << QStringList{QStringLiteral("/ip hotspot add interface=bridge disabled=no")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::Refuse;
    QTest::newRow("disabled hotspot does nothing")
            << defconf << QStringList{QStringLiteral("/ip hotspot add interface=bridge")} << onEther2
            << QStringLiteral("192.168.88.1") << Admission::Answer;
    QTest::newRow("walled-garden entry for the router lets SSH through the hotspot")
            << defconf
            << QStringList{QStringLiteral("/ip hotspot add interface=bridge disabled=no"),
                           QStringLiteral("/ip hotspot walled-garden ip add action=accept "
                                          "dst-address=192.168.88.1 protocol=tcp dst-port=22")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::Answer;
    QTest::newRow("drop in pre-hs-input comes before the hotspot's reset")
            << defconf
            << QStringList{QStringLiteral("/ip hotspot add interface=bridge disabled=no"),
                           QStringLiteral("/ip firewall filter add chain=pre-hs-input action=drop")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::NoAnswer;
    QTest::newRow("ssh service turned off")
            << defconf << QStringList{QStringLiteral("/ip service set ssh disabled=yes")} << onEther2
            << QStringLiteral("192.168.88.1") << Admission::Refuse;
    QTest::newRow("ssh service for other addresses only")
            << defconf << QStringList{QStringLiteral("/ip service set ssh address=10.9.0.0/16")}
            << onEther2 << QStringLiteral("192.168.88.1") << Admission::Refuse;
    QTest::newRow("address on the port itself") << QStringLiteral("chr.rsc") << QStringList()
                                                << onEther2 << QStringLiteral("192.168.88.1")
                                                << Admission::Answer;
    QTest::newRow("router in use, computer on its management port")
            << QStringLiteral("in-use.rsc") << QStringList() << at("ether4", "192.168.88.254")
            << QStringLiteral("192.168.88.1") << Admission::Answer;
    QTest::newRow("router in use, computer on its hotspot")
            << QStringLiteral("in-use.rsc") << QStringList() << at("ether2", "10.5.0.77")
            << QStringLiteral("10.5.0.1") << Admission::Refuse;
}

void TestManagementPath::newConnectionsFollowThePath()
{
    QFETCH(QString, exportFile);
    QFETCH(QStringList, setup);
    QFETCH(QJsonObject, computer);
    QFETCH(QString, address);
    QFETCH(Admission, expected);

    QJsonObject extra;
    if (!computer.isEmpty())
        extra.insert(QStringLiteral("operator"), computer);
    auto engine = router(setup, exportFile, extra);
    QCOMPARE(engine->admit(address), expected);

    // Only for tests of script semantics: no path model at all.
    extra.insert(QStringLiteral("session"),
                 QJsonObject{{QStringLiteral("address"), QStringLiteral("192.168.88.1")},
                             {QStringLiteral("onAddressRemoved"), QStringLiteral("ignore")}});
    QCOMPARE(router(setup, exportFile, extra)->admit(address), Admission::Answer);
}

void TestManagementPath::operatorMovingChangesThePath()
{
    auto engine = router();
    int changes = 0;
    engine->setPathChangedCallback([&changes] { ++changes; });
    QCOMPARE(engine->operatorPlace().port, QStringLiteral("ether2"));
    QCOMPARE(engine->operatorPlace().address, QStringLiteral("192.168.88.254"));

    // The computer's lease comes from the old setup: after the layout it reaches neither address.
    QVERIFY(exec(*engine, QStringLiteral("/ip address remove [find]; "
                                         "/ip address add address=172.16.0.1/16 interface=bridge; "
                                         "/ip hotspot add interface=bridge disabled=no"))
                    .silent);
    QCOMPARE(changes, 1);
    QCOMPARE(engine->admit(QStringLiteral("192.168.88.1")), Admission::NoAnswer);
    QCOMPARE(engine->admit(QStringLiteral("172.16.0.1")), Admission::NoAnswer);

    // Re-plugged, it gets a lease on the new network and meets the hotspot.
    engine->setOperatorPlace(OperatorPlace{QStringLiteral("ether2"), QStringLiteral("172.16.255.254")});
    QCOMPARE(changes, 2);
    QCOMPARE(engine->admit(QStringLiteral("172.16.0.1")), Admission::Refuse);
    QCOMPARE(engine->admit(QStringLiteral("192.168.88.1")), Admission::NoAnswer);
}

void TestManagementPath::sessionThatLosesItsPathHearsNothingMore_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QByteArray>("heard");
    QTest::addColumn<QString>("end"); // open, silent or reset

    const QString later = QStringLiteral("; :put after; /ip pool add name=later ranges=10.1.1.2-10.1.1.9");
    QTest::newRow("its address removed")
            << QStringLiteral(":put before; /ip address remove [find address=\"192.168.88.1/24\"]") + later
            << QByteArray("before\r\n") << QStringLiteral("silent");
    QTest::newRow("its port moved to another bridge")
            << QStringLiteral(":put before; /interface bridge add name=other; "
                              "/interface bridge port set [find interface=ether2] bridge=other") + later
            << QByteArray("before\r\n") << QStringLiteral("silent");
    QTest::newRow("its bridge dropped from the LAN list")
            << QStringLiteral(":put before; /interface list member remove [find list=LAN]") + later
            << QByteArray("before\r\nafter\r\n") << QStringLiteral("open");
    QTest::newRow("a drop rule that also catches established packets")
            << QStringLiteral(":put before; /ip firewall filter add chain=input action=drop "
                              "in-interface=bridge place-before=0") + later
            << QByteArray("before\r\n") << QStringLiteral("silent");
    QTest::newRow("a hotspot on its bridge")
            << QStringLiteral(":put before; /ip hotspot add interface=bridge disabled=no") + later
            << QByteArray("before\r\n") << QStringLiteral("reset");
    QTest::newRow("address removed and given back before the end")
            << QStringLiteral(":put before; /ip address remove [find address=\"192.168.88.1/24\"]; "
                              "/ip address add address=192.168.88.1/24 interface=bridge") + later
            << QByteArray("before\r\nafter\r\n") << QStringLiteral("open");
    QTest::newRow("a failing command after the loss")
            << QStringLiteral(":put before; /ip address remove [find]; /ip pool add name=later "
                              "ranges=10.1.1.2-10.1.1.9; :put after; /interface bridge port add")
            << QByteArray("before\r\n") << QStringLiteral("silent");
}

void TestManagementPath::sessionThatLosesItsPathHearsNothingMore()
{
    QFETCH(QString, script);
    QFETCH(QByteArray, heard);
    QFETCH(QString, end);

    auto engine = router();
    const ExecOutcome outcome = exec(*engine, script);
    QCOMPARE(outcome.out, heard);
    QCOMPARE(outcome.silent, end == QLatin1String("silent"));
    QCOMPARE(outcome.reset, end == QLatin1String("reset"));
    QVERIFY(!outcome.drop);
    QVERIFY(!outcome.hang);
    // Every statement after the cut still ran on the router.
    QCOMPARE(read(*engine, QStringLiteral("[:len [/ip pool find name=later]]")), QStringLiteral("1"));

    // The same script over a session that ignores its path hears everything.
    auto survivor = router({}, QStringLiteral("defconf-7.rsc"),
                           {{QStringLiteral("session"),
                             QJsonObject{{QStringLiteral("address"), QStringLiteral("192.168.88.1")},
                                         {QStringLiteral("onAddressRemoved"), QStringLiteral("ignore")}}}});
    const ExecOutcome survived = exec(*survivor, script);
    QVERIFY(survived.out.startsWith("before\r\nafter\r\n"));
    QVERIFY(!survived.silent && !survived.reset);
}

void TestManagementPath::sessionsFollowTheAddressTheyCameIn()
{
    // Two addresses on the bridge; the session came in on the one that stays.
    auto engine = router({QStringLiteral("/ip address add address=192.168.88.2/24 interface=bridge")});
    const ExecOutcome kept = exec(*engine,
                                  QStringLiteral("/ip address remove [find address=\"192.168.88.1/24\"]; "
                                                 ":put done"),
                                  QStringLiteral("192.168.88.2"));
    QCOMPARE(kept.out, QByteArray("done\r\n"));
    QVERIFY(!kept.silent);
    QCOMPARE(engine->admit(QStringLiteral("192.168.88.2")), Admission::Answer);
    QCOMPARE(engine->admit(QStringLiteral("192.168.88.1")), Admission::NoAnswer);

    // A session let in on 192.168.88.1 before that: its script runs, it hears nothing.
    const ExecOutcome late = exec(*engine, QStringLiteral(":put late; /ip pool add name=late ranges=10.1.1.2"),
                                  QStringLiteral("192.168.88.1"));
    QCOMPARE(late.out, QByteArray());
    QVERIFY(late.silent);
    QCOMPARE(read(*engine, QStringLiteral("[:len [/ip pool find name=late]]")), QStringLiteral("1"));
}

QTEST_GUILESS_MAIN(TestManagementPath)
#include "tst_managementpath.moc"

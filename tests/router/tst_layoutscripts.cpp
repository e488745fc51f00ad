#include "router/layoutscripts.h"

#include <QTest>

namespace {

const char kWrapOpen[] = ":do { ";
const char kWrapClose[] = " } on-error={}";
const char kFixedRules[] =
    ":do { /ip firewall address-list add list=blocked-vpn-servers address=198.51.100.23 "
    "comment=\"quillmor-onboard\" } on-error={}; "
    ":do { /ip firewall filter add chain=forward dst-address-list=blocked-vpn-servers "
    "action=drop comment=\"quillmor-onboard\" } on-error={}; "
    ":do { /ip firewall raw add chain=prerouting dst-address-list=blocked-vpn-servers "
    "action=drop comment=\"quillmor-onboard\" } on-error={}; "
    ":do { /ip firewall filter add chain=forward action=drop src-address-list=Disconnected "
    "comment=\"quillmor-onboard\" } on-error={}; "
    ":do { /ip firewall filter add chain=hs-input action=drop protocol=udp dst-port=53 "
    "hotspot=!auth comment=\"quillmor-onboard\" } on-error={}; "
    ":do { /ip firewall filter add chain=hs-input action=drop protocol=tcp dst-port=53 "
    "hotspot=!auth comment=\"quillmor-onboard\" } on-error={}; "
    ":do { /ip firewall filter add chain=pre-hs-input hotspot=!auth connection-limit=20,32 "
    "action=drop comment=\"quillmor-onboard\" } on-error={}; "
    ":do { /system clock set time-zone-name=Africa/Nairobi } on-error={}; ";
const char kDone[] = ":put \"QM_DONE=1\"";

QString walledGarden(const QString &quotedHost)
{
    return QStringLiteral(":do { /ip hotspot walled-garden ip add action=accept dst-host=") +
           quotedHost + QStringLiteral(" comment=\"quillmor-onboard\" } on-error={}; ");
}

QString profileStatement(const QString &quotedDns)
{
    return QStringLiteral(":do { /ip hotspot profile add dns-name=") + quotedDns +
           QStringLiteral(" hotspot-address=172.16.0.1 login-by=\"cookie,http-pap,mac-cookie\" "
                          "name=quillmor-server } on-error={}");
}

} // namespace

// The standard layout and shared rules scripts, as the router receives them.
class TestLayoutScripts final : public QObject
{
    Q_OBJECT

private slots:
    void layoutStartsWithTheRemovals();
    void layoutWrapsAllButTheFinalChecks();
    void layoutEndsWithTheTwoChecksAndDone();
    void layoutUsesValidDnsNameOrDefault_data();
    void layoutUsesValidDnsNameOrDefault();

    void sharedRulesAddOneEntryPerValidHost_data();
    void sharedRulesAddOneEntryPerValidHost();
};

void TestLayoutScripts::layoutStartsWithTheRemovals()
{
    const QString script = buildBaseLayoutScript(QStringLiteral("login.example.net"));
    QVERIFY(script.startsWith(
        QLatin1String(":do { /ip hotspot remove [find] } on-error={}; "
                      ":do { /interface pppoe-server server remove [find] } on-error={}; "
                      ":do { /ip dhcp-server remove [find] } on-error={}; ")));
    QVERIFY(!script.contains(QLatin1Char('\n')));
    QVERIFY(!script.contains(QLatin1Char('\r')));
}

void TestLayoutScripts::layoutWrapsAllButTheFinalChecks()
{
    const QStringList statements =
        buildBaseLayoutScript(QStringLiteral("login.example.net")).split(QStringLiteral("; "));
    QCOMPARE(statements.size(), 43);
    for (int i = 0; i < 40; ++i) {
        QVERIFY2(statements.at(i).startsWith(QLatin1String(kWrapOpen)) &&
                     statements.at(i).endsWith(QLatin1String(kWrapClose)),
                 qPrintable(statements.at(i)));
    }
    // Spot checks where a typo would change the router: the renamed port, the pools, the LAN.
    QCOMPARE(statements.at(11),
             QStringLiteral(":do { /interface ethernet set [find "
                            "default-name=ether1] name=ether1-WAN } on-error={}"));
    QCOMPARE(statements.at(21), QStringLiteral(":do { /ip pool add name=pppoe-pool "
                                               "ranges=176.16.0.2-176.16.255.254 } on-error={}"));
    QCOMPARE(statements.at(23),
             QStringLiteral(":do { /ip address add address=172.16.0.1/16 comment=HOTSPOT "
                            "interface=Bridge-Network network=172.16.0.0 } on-error={}"));
    QCOMPARE(statements.at(38),
             QStringLiteral(":do { /ip service set api disabled=no port=8777 } on-error={}"));
    QCOMPARE(statements.at(39), QStringLiteral(":do { /system clock set "
                                               "time-zone-name=Africa/Nairobi } on-error={}"));
}

void TestLayoutScripts::layoutEndsWithTheTwoChecksAndDone()
{
    const QString script = buildBaseLayoutScript(QString());
    QVERIFY(script.endsWith(
        QLatin1String("; :if ([:len [/interface find name=\"ether1-WAN\"]] = 0) do={ :put "
                      "\"QM_FAIL=wan\" }; :if ([:len [/ip address find address=\"172.16.0.1/16\"]] "
                      "= 0) do={ :put \"QM_FAIL=address\" }; :put \"QM_DONE=1\"")));
    QCOMPARE(script.count(QLatin1String("QM_FAIL=")), 2);
}

void TestLayoutScripts::layoutUsesValidDnsNameOrDefault_data()
{
    QTest::addColumn<QString>("dns");
    QTest::addColumn<QString>("quoted");

    const QString fallback = QStringLiteral("\"hotspot.quillmor.com\"");
    QTest::newRow("valid") << QStringLiteral("login.riverside-net_1.com")
                           << QStringLiteral("\"login.riverside-net_1.com\"");
    QTest::newRow("253 chars") << QString(253, QLatin1Char('a'))
                               << QLatin1Char('"') + QString(253, QLatin1Char('a')) +
                                      QLatin1Char('"');
    QTest::newRow("empty") << QString() << fallback;
    QTest::newRow("blank") << QStringLiteral("login riverside.net") << fallback;
    QTest::newRow("only blanks") << QStringLiteral("   ") << fallback;
    QTest::newRow("slash") << QStringLiteral("login.net/portal") << fallback;
    QTest::newRow("254 chars") << QString(254, QLatin1Char('a')) << fallback;
    QTest::newRow("dollar") << QStringLiteral("$(identity).net") << fallback;
    QTest::newRow("quote and command") << QStringLiteral("a\"; /user remove admin; \"") << fallback;
    QTest::newRow("line feed") << QStringLiteral("login.net\n/system reboot") << fallback;
    QTest::newRow("non-ascii") << QStringLiteral("l\u00f6gin.net") << fallback;
}

void TestLayoutScripts::layoutUsesValidDnsNameOrDefault()
{
    QFETCH(QString, dns);
    QFETCH(QString, quoted);

    const QStringList statements = buildBaseLayoutScript(dns).split(QStringLiteral("; "));
    QCOMPARE(statements.size(), 43);
    QCOMPARE(statements.at(26), profileStatement(quoted));
}

void TestLayoutScripts::sharedRulesAddOneEntryPerValidHost_data()
{
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<QStringList>("quotedEntries");

    QTest::newRow("none") << QStringList() << QStringList();
    QTest::newRow("in order") << QStringList{QStringLiteral("pay.riverside.net"),
                                             QStringLiteral("10.1.2.3"),
                                             QStringLiteral("quillmor.com")}
                              << QStringList{QStringLiteral("\"pay.riverside.net\""),
                                             QStringLiteral("\"10.1.2.3\""),
                                             QStringLiteral("\"quillmor.com\"")};
    QTest::newRow("invalid skipped") << QStringList{QStringLiteral("a"),
                                                    QString(),
                                                    QStringLiteral("pay riverside.net"),
                                                    QStringLiteral("x\"; /user remove admin"),
                                                    QStringLiteral("$host"),
                                                    QStringLiteral("[find]"),
                                                    QString(254, QLatin1Char('b'))}
                                     << QStringList{QStringLiteral("\"a\"")};
}

void TestLayoutScripts::sharedRulesAddOneEntryPerValidHost()
{
    QFETCH(QStringList, hosts);
    QFETCH(QStringList, quotedEntries);

    QString expected = QString::fromUtf8(kFixedRules);
    for (const QString &entry : quotedEntries)
        expected += walledGarden(entry);
    expected += QString::fromUtf8(kDone);
    QCOMPARE(buildSharedRulesScript(hosts), expected);
}

QTEST_GUILESS_MAIN(TestLayoutScripts)
#include "tst_layoutscripts.moc"

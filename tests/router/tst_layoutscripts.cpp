#include "router/layoutscripts.h"

#include <QTest>

namespace {

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
    void layoutIsTheStandardScriptWhole();
    void layoutUsesValidDnsNameOrDefault_data();
    void layoutUsesValidDnsNameOrDefault();

    void sharedRulesAddOneEntryPerValidHost_data();
    void sharedRulesAddOneEntryPerValidHost();
};

void TestLayoutScripts::layoutIsTheStandardScriptWhole()
{
    // Every statement as the router must receive it; a typo anywhere changes the router.
    const QString expected = QStringLiteral(
        ":do { /ip hotspot remove [find] } on-error={}; "
        ":do { /interface pppoe-server server remove [find] } on-error={}; "
        ":do { /ip dhcp-server remove [find] } on-error={}; "
        ":do { /ip dhcp-server network remove [find] } on-error={}; "
        ":do { /ip pool remove [find] } on-error={}; "
        ":do { /ip address remove [find where !dynamic and comment!=\"quillmor-onboard\"] } "
        "on-error={}; "
        ":do { /interface bridge port remove [find interface=ether1] } on-error={}; "
        ":do { /interface bridge port remove [find interface=ether2] } on-error={}; "
        ":do { /interface bridge port remove [find interface=ether3] } on-error={}; "
        ":do { /interface bridge port remove [find interface=ether4] } on-error={}; "
        ":do { /interface bridge port remove [find interface=ether5] } on-error={}; "
        ":do { /interface ethernet set [find default-name=ether1] name=ether1-WAN } on-error={}; "
        ":do { /interface bridge add name=Bridge-Network } on-error={}; "
        ":do { /interface bridge port add bridge=Bridge-Network interface=ether2 } on-error={}; "
        ":do { /interface bridge port add bridge=Bridge-Network interface=ether3 } on-error={}; "
        ":do { /interface bridge port add bridge=Bridge-Network interface=ether4 } on-error={}; "
        ":do { /interface bridge port add bridge=Bridge-Network interface=ether5 } on-error={}; "
        ":do { /ip dhcp-client remove [find interface=ether1] } on-error={}; "
        ":do { /ip dhcp-client remove [find interface=ether1-WAN] } on-error={}; "
        ":do { /ip dhcp-client add interface=ether1-WAN disabled=no add-default-route=yes "
        "use-peer-dns=no use-peer-ntp=no } on-error={}; "
        ":do { /ip pool add name=hotspot-pool ranges=172.16.0.2-172.16.255.254 } on-error={}; "
        ":do { /ip pool add name=pppoe-pool ranges=176.16.0.2-176.16.255.254 } on-error={}; "
        ":do { /ip pool add name=Expiry-Pool ranges=18.18.18.2-18.18.18.254 } on-error={}; "
        ":do { /ip address add address=172.16.0.1/16 comment=HOTSPOT interface=Bridge-Network "
        "network=172.16.0.0 } on-error={}; "
        ":do { /ip dhcp-server add address-pool=hotspot-pool interface=Bridge-Network name=dhcp1 "
        "} on-error={}; "
        ":do { /ip dhcp-server network add address=172.16.0.0/16 gateway=172.16.0.1 } "
        "on-error={}; "
        ":do { /ip hotspot profile add dns-name=\"login.example.net\" hotspot-address=172.16.0.1 "
        "login-by=\"cookie,http-pap,mac-cookie\" name=quillmor-server } on-error={}; "
        ":do { /ip hotspot add address-pool=hotspot-pool addresses-per-mac=1 disabled=no "
        "idle-timeout=4w2d interface=Bridge-Network keepalive-timeout=4w2d login-timeout=5m "
        "name=quillmor profile=quillmor-server } on-error={}; "
        ":do { /ppp profile add local-address=18.18.18.1 name=Expiry-Profile rate-limit=1k/1k "
        "remote-address=Expiry-Pool } on-error={}; "
        ":do { /interface pppoe-server server add disabled=no interface=Bridge-Network "
        "one-session-per-host=yes service-name=PPPoE_Server } on-error={}; "
        ":do { /ip dns set cache-max-ttl=7d cache-size=4096 servers=8.8.8.8,8.8.4.4 } "
        "on-error={}; "
        ":do { /ip firewall nat add chain=srcnat out-interface=ether1-WAN action=masquerade "
        "comment=HOTSPOT } on-error={}; "
        ":do { /ip service set ftp disabled=yes } on-error={}; "
        ":do { /ip service set telnet disabled=yes } on-error={}; "
        ":do { /ip service set ssh port=22 disabled=no } on-error={}; "
        ":do { /ip service set www port=1042 disabled=no } on-error={}; "
        ":do { /ip service set winbox port=8291 disabled=no } on-error={}; "
        ":do { /ip service set api-ssl disabled=yes } on-error={}; "
        ":do { /ip service set api disabled=no port=8777 } on-error={}; "
        ":do { /system clock set time-zone-name=Africa/Nairobi } on-error={}; "
        ":if ([:len [/interface find name=\"ether1-WAN\"]] = 0) do={ :put \"QM_FAIL=wan\" }; "
        ":if ([:len [/ip address find address=\"172.16.0.1/16\"]] = 0) do={ :put "
        "\"QM_FAIL=address\" }; "
        ":put \"QM_DONE=1\"");
    QCOMPARE(buildBaseLayoutScript(QStringLiteral("login.example.net")), expected);
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

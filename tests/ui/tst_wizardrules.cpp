#include "ui/wizardrules.h"

#include <QTest>

// The window's pure rules: what the review says and allows, the internet card, the done text and
// the hotspot inputs.
class TestWizardRules final : public QObject
{
    Q_OBJECT

private slots:
    void reviewOmitsUnknownModelAndLimit();
    void reviewListsFullSetupOnlyWhenChosen();
    void decisions_data();
    void decisions();
    void internetCard_data();
    void internetCard();
    void wanModeSplitsOnlyFreshBridgedRouters();
    void doneTextSubstitutesOnce();
    void stationIdNeedsExactly24Hex_data();
    void stationIdNeedsExactly24Hex();
    void stationLabelShowsLocation();
    void loginPageUrl_data();
    void loginPageUrl();
    void routerChoicesTellRoutersApart();
};

static AccountProfile signedInProfile()
{
    AccountProfile profile;
    profile.token = QStringLiteral("t");
    profile.accountNumber = QStringLiteral("1001");
    profile.mikrotikUsername = QStringLiteral("quillmor");
    profile.mikrotikPassword = QStringLiteral("secret");
    return profile;
}

static QVariantMap readyFacts()
{
    return {{QStringLiteral("identity"), QStringLiteral("MikroTik")},
            {QStringLiteral("version"), QStringLiteral("7.14.3")},
            {QStringLiteral("ros7"), true},
            {QStringLiteral("wireguardOk"), true},
            {QStringLiteral("internet"), true},
            {QStringLiteral("ifName"), QStringLiteral("quillmor")},
            {QStringLiteral("mgmtUser"), QStringLiteral("quillmor")}};
}

void TestWizardRules::reviewOmitsUnknownModelAndLimit()
{
    QVariantMap facts = readyFacts();
    facts.insert(QStringLiteral("model"), QStringLiteral("unknown"));
    facts.remove(QStringLiteral("version"));
    AccountProfile profile = signedInProfile();
    const QStringList lines = reviewText(facts, profile, false).split(QLatin1Char('\n'));
    QCOMPARE(lines.mid(0, 3),
             QStringList({QStringLiteral("Router: MikroTik"), QStringLiteral("RouterOS: unknown"),
                          QStringLiteral("Internet: working")}));
    QVERIFY(!lines.join(QLatin1Char('\n')).contains(QLatin1String("WireGuard configs:")));

    facts.insert(QStringLiteral("model"), QStringLiteral("RB5009"));
    profile.routerLimit = 0;
    const QStringList withModel = reviewText(facts, profile, false).split(QLatin1Char('\n'));
    QCOMPARE(withModel.at(1), QStringLiteral("Model: RB5009"));
    QCOMPARE(withModel.at(4), QStringLiteral("WireGuard configs: 0 of 0. A new one is refused once "
                                             "that count is full."));
}

void TestWizardRules::reviewListsFullSetupOnlyWhenChosen()
{
    QVariantMap facts = readyFacts();
    facts.insert(QStringLiteral("fresh"), false);
    const QString full = reviewText(facts, signedInProfile(), true);
    QVERIFY(full.contains(QLatin1String("The full setup is selected. What is still on the router "
                                        "will be removed")));
    QVERIFY(full.endsWith(QLatin1String("On this new router only:\n"
                                        "- DHCP servers and IP addresses are removed first\n"
                                        "- Bridge-Network on ports 2 to 5, address 172.16.0.1/16\n"
                                        "- Port 1 renamed to ether1-WAN, with a DHCP client\n"
                                        "- Hotspot, PPPoE server, and the expiry pool\n"
                                        "- API stays on for Quillmor. FTP and telnet are turned "
                                        "off.")));
    const QString only = reviewText(facts, signedInProfile(), false);
    QVERIFY(only.endsWith(QLatin1String("Hotspot, PPPoE, queues, and port names stay as they "
                                        "are.\nThe router is not factory reset.")));
    QVERIFY(!only.contains(QLatin1String("On this new router only:")));
}

void TestWizardRules::decisions_data()
{
    QTest::addColumn<QVariantMap>("facts");
    QTest::addColumn<bool>("hasLogin");
    QTest::addColumn<bool>("onboard");
    QTest::addColumn<bool>("replaceError");
    QTest::addColumn<QString>("error");

    const QString noLogin = QStringLiteral("This Quillmor account has no MikroTik username or "
                                           "password. Add them in Quillmor management, then sign "
                                           "in again.");
    QVariantMap facts = readyFacts();
    QTest::newRow("ready") << facts << true << true << false << QString();
    QTest::newRow("no login") << facts << false << false << true << noLogin;
    facts.remove(QStringLiteral("ifName"));
    QTest::newRow("no interface name, no error") << facts << true << false << false << QString();
    facts = readyFacts();
    facts.insert(QStringLiteral("blocker"), QStringLiteral("Interfaces named quillmor and qm-link "
                                                           "are both in use."));
    QTest::newRow("blocker") << facts << true << false << true
                             << "Interfaces named quillmor and qm-link are both in use.";
    QTest::newRow("no login wins over blocker") << facts << false << false << true << noLogin;
    facts = readyFacts();
    facts.insert(QStringLiteral("internet"), false);
    QTest::newRow("no internet") << facts << true << false << false << QString();
    facts = readyFacts();
    facts.insert(QStringLiteral("wireguardOk"), false);
    QTest::newRow("no wireguard") << facts << true << false << false << QString();
}

void TestWizardRules::decisions()
{
    QFETCH(QVariantMap, facts);
    QFETCH(bool, hasLogin);
    QFETCH(bool, onboard);
    QFETCH(bool, replaceError);
    QFETCH(QString, error);
    AccountProfile profile = signedInProfile();
    if (!hasLogin)
        profile.mikrotikUsername = QStringLiteral("   ");
    const ReviewDecisions d = reviewDecisions(facts, profile);
    QCOMPARE(d.hasLogin, hasLogin);
    QCOMPARE(d.onboardAllowed, onboard);
    QCOMPARE(d.replaceError, replaceError);
    QCOMPARE(d.errorText, error);
}

void TestWizardRules::internetCard_data()
{
    QTest::addColumn<QVariantMap>("extra");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("dhcp"); // empty: hidden
    QTest::addColumn<QString>("pppoe");
    const QString route = QStringLiteral("The router has a default route, but internet replies "
                                         "failed. Check the cable or upstream. The internet port "
                                         "was not changed.");
    const QString live = QStringLiteral("Port 1 is still in the LAN bridge, and this router is "
                                        "already in use. Set the internet port in Winbox, then "
                                        "come back. This app will not take port 1 off a live "
                                        "router.");
    const QString split = QStringLiteral("This looks like a new router, and port 1 is still part "
                                         "of the LAN. You can move port 1 out and use it for the "
                                         "internet line. Do this only if nobody is being served "
                                         "by this router.");
    const QString unbridged = QStringLiteral("The router has no working internet route. Port 1 "
                                             "can be set as the internet port. Other settings stay "
                                             "as they are.");
    QTest::newRow("route but no replies")
        << QVariantMap{{QStringLiteral("hasRoute"), true}, {QStringLiteral("ether1Bridged"), true},
                       {QStringLiteral("fresh"), true}}
        << route << QString() << QString();
    QTest::newRow("bridged live router")
        << QVariantMap{{QStringLiteral("ether1Bridged"), true}} << live << QString() << QString();
    QTest::newRow("bridged new router")
        << QVariantMap{{QStringLiteral("ether1Bridged"), true}, {QStringLiteral("fresh"), true}}
        << split << "Move port 1 out of the LAN and use DHCP"
        << "Move port 1 out of the LAN and use PPPoE";
    // A PPPoE client elsewhere does not matter while port 1 still has to leave the bridge.
    QTest::newRow("bridged new router with PPPoE client")
        << QVariantMap{{QStringLiteral("ether1Bridged"), true}, {QStringLiteral("fresh"), true},
                       {QStringLiteral("pppoe"), true}, {QStringLiteral("dhcpOnEther1"), true}}
        << split << "Move port 1 out of the LAN and use DHCP"
        << "Move port 1 out of the LAN and use PPPoE";
    QTest::newRow("unbridged") << QVariantMap() << unbridged
                               << "Use automatic internet (DHCP) on port 1"
                               << "Use PPPoE on port 1";
    QTest::newRow("unbridged with DHCP client")
        << QVariantMap{{QStringLiteral("dhcpOnEther1"), true}} << unbridged
        << "Enable the DHCP client on port 1" << "Use PPPoE on port 1";
    QTest::newRow("unbridged with PPPoE client")
        << QVariantMap{{QStringLiteral("pppoe"), true}} << unbridged << QString() << QString();
}

void TestWizardRules::internetCard()
{
    QFETCH(QVariantMap, extra);
    QFETCH(QString, text);
    QFETCH(QString, dhcp);
    QFETCH(QString, pppoe);
    QVariantMap facts = readyFacts();
    facts.insert(QStringLiteral("internet"), false);
    facts.insert(extra);
    const InternetCard card = reviewDecisions(facts, signedInProfile()).card;
    QVERIFY(card.visible);
    QCOMPARE(card.text, text);
    QCOMPARE(card.dhcpVisible, !dhcp.isEmpty());
    QCOMPARE(card.pppoeVisible, !pppoe.isEmpty());
    if (card.dhcpVisible)
        QCOMPARE(card.dhcpText, dhcp);
    if (card.pppoeVisible)
        QCOMPARE(card.pppoeText, pppoe);

    // The card is about a router that could carry the link; a blocked one never shows it.
    facts.insert(QStringLiteral("blocker"), QStringLiteral("blocked"));
    QVERIFY(!reviewDecisions(facts, signedInProfile()).card.visible);
}

void TestWizardRules::wanModeSplitsOnlyFreshBridgedRouters()
{
    QCOMPARE(wanMode(false, true, true), QStringLiteral("split-dhcp"));
    QCOMPARE(wanMode(true, true, true), QStringLiteral("split-pppoe"));
    QCOMPARE(wanMode(false, true, false), QStringLiteral("dhcp"));
    QCOMPARE(wanMode(true, false, true), QStringLiteral("pppoe"));
}

void TestWizardRules::doneTextSubstitutesOnce()
{
    const QVariantMap result{{QStringLiteral("message"), QStringLiteral("Linked 100%1")},
                             {QStringLiteral("site"), QStringLiteral("Hill %2")},
                             {QStringLiteral("address"), QStringLiteral("10.77.0.5/32")}};
    const QString text = doneText(result);
    QVERIFY2(text.startsWith(QLatin1String("Linked 100%1\n\nName: Hill %2\nTunnel address: "
                                           "10.77.0.5/32\nQuillmor endpoint: \n\nNext, add")),
             qPrintable(text));
    QVERIFY(doneText({}).startsWith(QLatin1String("\n\nName: \n")));
}

void TestWizardRules::stationIdNeedsExactly24Hex_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("valid");
    QTest::newRow("lower") << "65a1f0c2b3d4e5f60718293a" << true;
    QTest::newRow("upper") << "65A1F0C2B3D4E5F60718293A" << true;
    QTest::newRow("23 digits") << "65a1f0c2b3d4e5f60718293" << false;
    QTest::newRow("25 digits") << "65a1f0c2b3d4e5f60718293ab" << false;
    QTest::newRow("non-hex") << "65a1f0c2b3d4e5f60718293g" << false;
    QTest::newRow("trailing line end") << "65a1f0c2b3d4e5f60718293a\n" << false;
    QTest::newRow("empty") << "" << false;
}

void TestWizardRules::stationIdNeedsExactly24Hex()
{
    QFETCH(QString, id);
    QFETCH(bool, valid);
    QCOMPARE(isStationId(id), valid);
}

void TestWizardRules::stationLabelShowsLocation()
{
    QCOMPARE(stationLabel({QStringLiteral("x"), QString(), QString()}), QStringLiteral("Station"));
    QCOMPARE(stationLabel({QStringLiteral("x"), QStringLiteral("North"), QStringLiteral("Hill")}),
             QStringLiteral("North \u2014 Hill"));
}

void TestWizardRules::loginPageUrl_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("url"); // empty: refused
    QTest::newRow("plain") << "https://manage.quillmor.com"
                           << "https://manage.quillmor.com/hotspot/login.html?stationId=ab12";
    QTest::newRow("own path and query replaced")
        << "https://billing.example.net:8443/portal?x=1"
        << "https://billing.example.net:8443/hotspot/login.html?stationId=ab12";
    QTest::newRow("http") << "http://manage.quillmor.com" << QString();
    QTest::newRow("no host") << "https:///path" << QString();
    QTest::newRow("no scheme") << "manage.quillmor.com" << QString();
}

void TestWizardRules::loginPageUrl()
{
    QFETCH(QString, base);
    QFETCH(QString, url);
    QString built;
    QCOMPARE(::loginPageUrl(base, QStringLiteral("ab12"), &built), !url.isEmpty());
    if (!url.isEmpty())
        QCOMPARE(built, url);
}

void TestWizardRules::routerChoicesTellRoutersApart()
{
    const QList<SavedRouter> routers{{QStringLiteral("a1"), QStringLiteral("Tower")},
                                     {QStringLiteral("b2"), QStringLiteral(" Office ")},
                                     {QStringLiteral("c3"), QStringLiteral("Tower")},
                                     {QStringLiteral("d4"), QStringLiteral("  ")}};
    // The operator picks by the visible text, so no two routers may read the same.
    QCOMPARE(routerChoiceLabels(routers),
             (QStringList{QStringLiteral("Tower (a1)"), QStringLiteral("Office"),
                          QStringLiteral("Tower (c3)"), QStringLiteral("d4")}));
}

QTEST_APPLESS_MAIN(TestWizardRules)
#include "tst_wizardrules.moc"

#include "api/servicedefaults.h"
#include "router/inspectjob.h"
#include "router/routeros.h"

#include <QTest>

namespace {

// What a new RouterOS 7 home router with its default configuration prints.
QStringList freshRouterLines()
{
    return {
        QStringLiteral("QM_VERSION=7.14.3 (stable)"),
        QStringLiteral("QM_IDENTITY=MikroTik"),
        QStringLiteral("QM_MODEL=RB750Gr3"),
        QStringLiteral("QM_ROUTE=0"),
        QStringLiteral("QM_PING=0"),
        QStringLiteral("QM_FETCH=0"),
        QStringLiteral("QM_ADDRS=1"),
        QStringLiteral("QM_USERS=1"),
        QStringLiteral("QM_HS=0"),
        QStringLiteral("QM_PPPS=0"),
        QStringLiteral("QM_E1BR=1"),
        QStringLiteral("QM_DHCP1=0"),
        QStringLiteral("QM_PPOE=0"),
        QStringLiteral("QM_API_DIS=false"),
        QStringLiteral("QM_API_ADDR="),
        QStringLiteral("QM_WGCOUNT=0"),
        QStringLiteral("QM_OURS=0"),
        QStringLiteral("QM_HAS_QUILLMOR=0"),
        QStringLiteral("QM_HAS_QMLINK=0"),
        QStringLiteral("QM_USER_QUILLMOR=0"),
        QStringLiteral("QM_USER_OURS=0"),
        QStringLiteral("QM_USER_QMAPI=0"),
        QStringLiteral("QM_DONE=1"),
    };
}

// The fresh router with some lines replaced ("QM_KEY=value") or removed ("-QM_KEY").
QVariantMap factsWith(const QStringList &changes)
{
    QStringList lines = freshRouterLines();
    for (const QString &change : changes) {
        const bool remove = change.startsWith(QLatin1Char('-'));
        const QString key = remove ? change.mid(1) : change.left(change.indexOf(QLatin1Char('=')));
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [&key](const QString &line) {
                                       return line.startsWith(key + QLatin1Char('='));
                                   }),
                    lines.end());
        if (!remove)
            lines.insert(lines.size() - 1, change);
    }
    return factsFromMarkers(parseMarkers(lines.join(QStringLiteral("\r\n"))));
}

const char kNamesTaken[] = "Interfaces named quillmor and qm-link are both in use. Rename one of "
                           "them, then try again.";
const char kWireGuardSilent[] =
    "RouterOS 7 is installed, but WireGuard did not answer. Upgrade RouterOS, then try again.";

} // namespace

class TestInspectFacts final : public QObject
{
    Q_OBJECT

private slots:
    void describesFreshRouter();
    void judgesFreshness_data();
    void judgesFreshness();
    void blocksWithoutRouterOs7_data();
    void blocksWithoutRouterOs7();
    void blocksWhenWireGuardSilent_data();
    void blocksWhenWireGuardSilent();
    void choosesLinkInterface_data();
    void choosesLinkInterface();
    void choosesManagementUser_data();
    void choosesManagementUser();
    void judgesInternet_data();
    void judgesInternet();
    void readsApiService_data();
    void readsApiService();
    void fallsBackToMikroTikIdentity();
    void sendsOneLineScriptProbingDefaultService();
};

void TestInspectFacts::describesFreshRouter()
{
    const QVariantMap facts = factsWith({});
    QCOMPARE(facts.size(), 17);
    QCOMPARE(facts.value(QStringLiteral("identity")).toString(), QStringLiteral("MikroTik"));
    QCOMPARE(facts.value(QStringLiteral("model")).toString(), QStringLiteral("RB750Gr3"));
    QCOMPARE(facts.value(QStringLiteral("version")).toString(), QStringLiteral("7.14.3"));
    QCOMPARE(facts.value(QStringLiteral("ros7")).toBool(), true);
    QCOMPARE(facts.value(QStringLiteral("wireguardOk")).toBool(), true);
    QCOMPARE(facts.value(QStringLiteral("fresh")).toBool(), true);
    QCOMPARE(facts.value(QStringLiteral("internet")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("hasRoute")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("ether1Bridged")).toBool(), true);
    QCOMPARE(facts.value(QStringLiteral("dhcpOnEther1")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("pppoe")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("replace")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("ifName")).toString(), QStringLiteral("quillmor"));
    QCOMPARE(facts.value(QStringLiteral("mgmtUser")).toString(), QStringLiteral("quillmor"));
    QCOMPARE(facts.value(QStringLiteral("apiAddress")).toString(), QString());
    QCOMPARE(facts.value(QStringLiteral("apiDisabled")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("blocker")).toString(), QString());

    const QVariantMap used = factsWith({QStringLiteral("QM_ROUTE=2"), QStringLiteral("QM_E1BR=0"),
                                        QStringLiteral("QM_DHCP1=1"), QStringLiteral("QM_PPOE=1")});
    QCOMPARE(used.value(QStringLiteral("hasRoute")).toBool(), true);
    QCOMPARE(used.value(QStringLiteral("ether1Bridged")).toBool(), false);
    QCOMPARE(used.value(QStringLiteral("dhcpOnEther1")).toBool(), true);
    QCOMPARE(used.value(QStringLiteral("pppoe")).toBool(), true);
}

void TestInspectFacts::judgesFreshness_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<bool>("fresh");

    QTest::newRow("twoAddresses") << QStringList{QStringLiteral("QM_ADDRS=2")} << true;
    QTest::newRow("threeAddresses") << QStringList{QStringLiteral("QM_ADDRS=3")} << false;
    QTest::newRow("noAddress") << QStringList{QStringLiteral("QM_ADDRS=0")} << false;
    QTest::newRow("addressesMissing") << QStringList{QStringLiteral("-QM_ADDRS")} << false;
    QTest::newRow("secondUser") << QStringList{QStringLiteral("QM_USERS=2")} << false;
    QTest::newRow("hotspot") << QStringList{QStringLiteral("QM_HS=1")} << false;
    QTest::newRow("pppoeServer") << QStringList{QStringLiteral("QM_PPPS=1")} << false;
    QTest::newRow("foreignWireGuard") << QStringList{QStringLiteral("QM_WGCOUNT=1")} << false;
    QTest::newRow("ourWireGuard") << QStringList{QStringLiteral("QM_WGCOUNT=1"),
                                                 QStringLiteral("QM_OURS=1"),
                                                 QStringLiteral("QM_OURNAME=quillmor")}
                                  << false;
    QTest::newRow("wireGuardNotNumber") << QStringList{QStringLiteral("QM_WGCOUNT=many")} << true;
    QTest::newRow("routerOs6") << QStringList{QStringLiteral("QM_VERSION=6.49.10 (long-term)")}
                               << false;
    QTest::newRow("wireGuardFailed") << QStringList{QStringLiteral("QM_WGCOUNT=-1")} << false;
}

void TestInspectFacts::judgesFreshness()
{
    QFETCH(QStringList, changes);
    QFETCH(bool, fresh);
    QCOMPARE(factsWith(changes).value(QStringLiteral("fresh")).toBool(), fresh);
}

void TestInspectFacts::blocksWithoutRouterOs7_data()
{
    QTest::addColumn<QString>("versionLine");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("named");

    QTest::newRow("longTerm6") << QStringLiteral("QM_VERSION=6.49.10 (long-term)")
                               << QStringLiteral("6.49.10") << QStringLiteral("6.49.10");
    QTest::newRow("empty") << QStringLiteral("QM_VERSION=") << QString()
                           << QStringLiteral("an older version");
    QTest::newRow("missing") << QStringLiteral("-QM_VERSION") << QString()
                             << QStringLiteral("an older version");
    QTest::newRow("noChannel") << QStringLiteral("QM_VERSION=6.48") << QStringLiteral("6.48")
                               << QStringLiteral("6.48");
}

void TestInspectFacts::blocksWithoutRouterOs7()
{
    QFETCH(QString, versionLine);
    QFETCH(QString, version);
    QFETCH(QString, named);

    const QVariantMap facts = factsWith({versionLine});
    QCOMPARE(facts.value(QStringLiteral("version")).toString(), version);
    QCOMPARE(facts.value(QStringLiteral("ros7")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("wireguardOk")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("fresh")).toBool(), false);
    QCOMPARE(facts.value(QStringLiteral("ifName")).toString(), QString());
    QCOMPARE(facts.value(QStringLiteral("blocker")).toString(),
             QStringLiteral("WireGuard needs RouterOS 7. This router is running %1. Upgrade it, "
                            "then run this setup again. Nothing was changed.")
                 .arg(named));
}

void TestInspectFacts::blocksWhenWireGuardSilent_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<bool>("blocked");

    QTest::newRow("menuFailed") << QStringList{QStringLiteral("QM_WGCOUNT=-1")} << true;
    QTest::newRow("lineMissing") << QStringList{QStringLiteral("-QM_WGCOUNT")} << true;
    QTest::newRow("notANumber") << QStringList{QStringLiteral("QM_WGCOUNT=x")} << false;
}

void TestInspectFacts::blocksWhenWireGuardSilent()
{
    QFETCH(QStringList, changes);
    QFETCH(bool, blocked);

    const QVariantMap facts = factsWith(changes);
    QCOMPARE(facts.value(QStringLiteral("ros7")).toBool(), true);
    QCOMPARE(facts.value(QStringLiteral("wireguardOk")).toBool(), !blocked);
    QCOMPARE(facts.value(QStringLiteral("blocker")).toString(),
             blocked ? QString::fromUtf8(kWireGuardSilent) : QString());
    QCOMPARE(facts.value(QStringLiteral("ifName")).toString(),
             blocked ? QString() : QStringLiteral("quillmor"));
}

void TestInspectFacts::choosesLinkInterface_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QString>("ifName");
    QTest::addColumn<bool>("replace");
    QTest::addColumn<QString>("blocker");

    const QStringList ours{QStringLiteral("QM_WGCOUNT=1"), QStringLiteral("QM_OURS=1")};
    QTest::newRow("earlierLink") << ours + QStringList{QStringLiteral("QM_OURNAME=wg-old")}
                                 << QStringLiteral("wg-old") << true << QString();
    QTest::newRow("earlierLinkBlanks") << ours + QStringList{QStringLiteral("QM_OURNAME= wg-old ")}
                                       << QStringLiteral("wg-old") << true << QString();
    QTest::newRow("earlierLinkDigitName") << ours + QStringList{QStringLiteral("QM_OURNAME=1wg")}
                                          << QStringLiteral("quillmor") << true << QString();
    QTest::newRow("earlierLinkLongName")
        << ours + QStringList{QStringLiteral("QM_OURNAME=") + QString(33, QLatin1Char('w'))}
        << QStringLiteral("quillmor") << true << QString();
    QTest::newRow("earlierLinkEvenIfNamesTaken")
        << ours + QStringList{QStringLiteral("QM_OURNAME=quillmor"),
                              QStringLiteral("QM_HAS_QUILLMOR=1"),
                              QStringLiteral("QM_HAS_QMLINK=1")}
        << QStringLiteral("quillmor") << true << QString();
    QTest::newRow("quillmorTaken") << QStringList{QStringLiteral("QM_HAS_QUILLMOR=1")}
                                   << QStringLiteral("qm-link") << false << QString();
    QTest::newRow("bothTaken") << QStringList{QStringLiteral("QM_HAS_QUILLMOR=1"),
                                              QStringLiteral("QM_HAS_QMLINK=1")}
                               << QString() << false << QString::fromUtf8(kNamesTaken);
    QTest::newRow("onlyQmLinkTaken") << QStringList{QStringLiteral("QM_HAS_QMLINK=1")}
                                     << QStringLiteral("quillmor") << false << QString();
}

void TestInspectFacts::choosesLinkInterface()
{
    QFETCH(QStringList, changes);
    QFETCH(QString, ifName);
    QFETCH(bool, replace);
    QFETCH(QString, blocker);

    const QVariantMap facts = factsWith(changes);
    QCOMPARE(facts.value(QStringLiteral("ifName")).toString(), ifName);
    QCOMPARE(facts.value(QStringLiteral("replace")).toBool(), replace);
    QCOMPARE(facts.value(QStringLiteral("blocker")).toString(), blocker);
}

void TestInspectFacts::choosesManagementUser_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QString>("user");

    QTest::newRow("free") << QStringList() << QStringLiteral("quillmor");
    QTest::newRow("ours") << QStringList{QStringLiteral("QM_USER_QUILLMOR=1"),
                                         QStringLiteral("QM_USER_OURS=1"),
                                         QStringLiteral("QM_USER_QMAPI=1")}
                          << QStringLiteral("quillmor");
    QTest::newRow("foreignQuillmor")
        << QStringList{QStringLiteral("QM_USER_QUILLMOR=1")} << QStringLiteral("qm-api");
    QTest::newRow("bothForeign") << QStringList{QStringLiteral("QM_USER_QUILLMOR=1"),
                                                QStringLiteral("QM_USER_QMAPI=1")}
                                 << QString();
    QTest::newRow("independentOfBlocker")
        << QStringList{QStringLiteral("QM_VERSION=6.49.10 (long-term)")}
        << QStringLiteral("quillmor");
}

void TestInspectFacts::choosesManagementUser()
{
    QFETCH(QStringList, changes);
    QFETCH(QString, user);
    QCOMPARE(factsWith(changes).value(QStringLiteral("mgmtUser")).toString(), user);
}

void TestInspectFacts::judgesInternet_data()
{
    QTest::addColumn<QString>("ping");
    QTest::addColumn<QString>("fetch");
    QTest::addColumn<bool>("internet");

    QTest::newRow("fetchOnly") << QStringLiteral("0") << QStringLiteral("1") << true;
    QTest::newRow("pingOnly") << QStringLiteral("1") << QStringLiteral("0") << true;
    QTest::newRow("neither") << QStringLiteral("0") << QStringLiteral("0") << false;
    QTest::newRow("fetchTrueWord") << QStringLiteral("0") << QStringLiteral("true") << false;
    QTest::newRow("fetch10") << QStringLiteral("0") << QStringLiteral("10") << false;
    QTest::newRow("pingNotNumber") << QStringLiteral("x") << QStringLiteral("0") << false;
}

void TestInspectFacts::judgesInternet()
{
    QFETCH(QString, ping);
    QFETCH(QString, fetch);
    QFETCH(bool, internet);
    const QVariantMap facts =
        factsWith({QStringLiteral("QM_PING=") + ping, QStringLiteral("QM_FETCH=") + fetch});
    QCOMPARE(facts.value(QStringLiteral("internet")).toBool(), internet);
}

void TestInspectFacts::readsApiService_data()
{
    QTest::addColumn<QString>("disabled");
    QTest::addColumn<bool>("apiDisabled");

    QTest::newRow("yes") << QStringLiteral("yes") << true;
    QTest::newRow("TRUE") << QStringLiteral("TRUE") << true;
    QTest::newRow("false") << QStringLiteral("false") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestInspectFacts::readsApiService()
{
    QFETCH(QString, disabled);
    QFETCH(bool, apiDisabled);
    const QVariantMap facts =
        factsWith({QStringLiteral("QM_API_DIS=") + disabled,
                   QStringLiteral("QM_API_ADDR=192.168.88.0/24;QM_API_ADDR=10.9.0.0/16")});
    QCOMPARE(facts.value(QStringLiteral("apiDisabled")).toBool(), apiDisabled);
    QCOMPARE(facts.value(QStringLiteral("apiAddress")).toString(),
             QStringLiteral("192.168.88.0/24,10.9.0.0/16"));
}

void TestInspectFacts::fallsBackToMikroTikIdentity()
{
    QCOMPARE(
        factsWith({QStringLiteral("QM_IDENTITY=")}).value(QStringLiteral("identity")).toString(),
        QStringLiteral("MikroTik"));
    QCOMPARE(factsWith({QStringLiteral("QM_IDENTITY= core-1 ")})
                 .value(QStringLiteral("identity"))
                 .toString(),
             QStringLiteral("core-1"));
}

void TestInspectFacts::sendsOneLineScriptProbingDefaultService()
{
    const QString script = inspectionScript();
    QVERIFY(!script.contains(QLatin1Char('\n')));
    QVERIFY(!script.contains(QLatin1Char('\r')));
    QVERIFY(script.startsWith(QStringLiteral(":put (\"QM_VERSION=\"")));
    QVERIFY(script.endsWith(QStringLiteral("; :put \"QM_DONE=1\"")));
    QVERIFY(script.contains(QStringLiteral("/tool fetch url=\"") + defaultServiceBaseUrl() +
                            QStringLiteral("\" mode=https")));
}

QTEST_GUILESS_MAIN(TestInspectFacts)
#include "tst_inspectfacts.moc"

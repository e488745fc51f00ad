#include "router/commandpreview.h"
#include "router/layoutscripts.h"
#include "router/linkscripts.h"

#include <QTest>

namespace {

QVariantMap newRouterOptions(bool applyBase)
{
    return {{QStringLiteral("ifName"), QStringLiteral("quillmor")},
            {QStringLiteral("fresh"), true},
            {QStringLiteral("apiAddress"), QString()},
            {QStringLiteral("hotspotDns"), QStringLiteral("login.riverside.net")},
            {QStringLiteral("walledHosts"), QStringLiteral("quillmor.com")},
            {QStringLiteral("applyBase"), applyBase}};
}

QStringList labels(const QList<PlannedScript> &scripts)
{
    QStringList out;
    for (const PlannedScript &planned : scripts)
        out << planned.label;
    return out;
}

} // namespace

// The command preview and the API service decision it shares with the onboarding job.
class TestCommandPreview final : public QObject
{
    Q_OBJECT

private slots:
    void listsStepsInRunOrder_data();
    void listsStepsInRunOrder();
    void masksPasswordAndKeepsServiceValuesOpen();
    void plansApiServiceFromCheckedEntries_data();
    void plansApiServiceFromCheckedEntries();
};

void TestCommandPreview::listsStepsInRunOrder_data()
{
    QTest::addColumn<bool>("applyBase");
    QTest::addColumn<QStringList>("tail");

    QTest::newRow("WireGuard only")
        << false
        << QStringList{QStringLiteral("Reading the WireGuard handshake, up to 8 times while "
                                      "waiting for Quillmor to see the router")};
    QTest::newRow("full setup")
        << true
        << QStringList{QStringLiteral("Building the standard hotspot layout on this new router..."),
                       QStringLiteral("Waiting for Quillmor to see the router. This computer has "
                                      "no path to the router any more, so nothing else is sent "
                                      "to it.")};
}

void TestCommandPreview::listsStepsInRunOrder()
{
    QFETCH(bool, applyBase);
    QFETCH(QStringList, tail);

    const QList<PlannedScript> scripts = plannedOnboardScripts(newRouterOptions(applyBase));
    const QStringList expected =
        QStringList{QStringLiteral("Clearing a previous Quillmor link, if there was one..."),
                    QStringLiteral("Creating the WireGuard interface..."),
                    QStringLiteral("Reading the router key..."),
                    QStringLiteral("Nothing is sent to the router here. Quillmor is asked for "
                                   "the tunnel; the values in <> come from its answer."),
                    QStringLiteral("Adding the tunnel address..."),
                    QStringLiteral("Adding the Quillmor peer..."),
                    QStringLiteral("Adding the route for <each tunnel network from Quillmor>..."),
                    QStringLiteral("Allowing the Quillmor link through the firewall..."),
                    QStringLiteral("Adding the management user..."),
                    QStringLiteral("Opening the API on the Quillmor link..."),
                    QStringLiteral("Adding the shared firewall rules...")} +
        tail;
    QCOMPARE(labels(scripts), expected);
    QCOMPARE(scripts.at(0).script, clearLinkScript());
    QCOMPARE(scripts.at(10).script, buildSharedRulesScript({QStringLiteral("quillmor.com")}));
    if (applyBase)
        QCOMPARE(scripts.at(11).script,
                 buildBaseLayoutScript(QStringLiteral("login.riverside.net")));
}

void TestCommandPreview::masksPasswordAndKeepsServiceValuesOpen()
{
    const QList<PlannedScript> scripts = plannedOnboardScripts(newRouterOptions(false));
    QCOMPARE(scripts.at(8).script,
             QStringLiteral(":if ([:len [/user find name=\"<MikroTik user from Quillmor>\"]] > 0) "
                            "do={ /user set [find name=\"<MikroTik user from Quillmor>\"] "
                            "password=\"***\" group=full; :put \"QM_USER=updated\" } else={ "
                            "/user add name=\"<MikroTik user from Quillmor>\" group=full "
                            "password=\"***\" comment=\"quillmor-onboard\"; :put "
                            "\"QM_USER=created\" }; :put \"QM_DONE=1\""));
    QCOMPARE(scripts.at(5).script,
             QStringLiteral("/interface wireguard peers add interface=quillmor "
                            "public-key=\"<tunnel key from Quillmor>\" "
                            "endpoint-address=\"<endpoint from Quillmor>\" "
                            "endpoint-port=<endpoint port from Quillmor> "
                            "allowed-address=<tunnel networks from Quillmor> "
                            "persistent-keepalive=<keepalive from Quillmor>s "
                            "comment=\"quillmor-onboard\""));
    QCOMPARE(scripts.at(9).script,
             QStringLiteral("/ip service set api disabled=no address=<API network from Quillmor>"));
}

void TestCommandPreview::plansApiServiceFromCheckedEntries_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("fresh");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("note");

    const QString unreadable = QStringLiteral("The API service's address list on this router could "
                                              "not be read safely, so it was not changed.");
    const QString leftOpen = QStringLiteral("The API service was already open, so its address "
                                            "list was left as it is.");
    QTest::newRow("open, in use") << QString() << false << QString() << leftOpen;
    QTest::newRow("open to all, fresh")
        << QStringLiteral(" 0.0.0.0/0 ") << true
        << QStringLiteral("/ip service set api disabled=no address=10.20.0.0/16") << QString();
    QTest::newRow("entries trimmed and joined")
        << QStringLiteral(" 192.168.88.0/24 , 10.9.0.1,fd00::/8 ,") << false
        << QStringLiteral("/ip service set api disabled=no "
                          "address=192.168.88.0/24,10.9.0.1,fd00::/8,10.20.0.0/16")
        << QString();
    QTest::newRow("network already listed")
        << QStringLiteral("192.168.88.0/24,10.20.0.0/16") << false
        << QStringLiteral("/ip service set api disabled=no") << QString();
    QTest::newRow("look-alike is another network")
        << QStringLiteral("110.20.0.0/16") << false
        << QStringLiteral("/ip service set api disabled=no address=110.20.0.0/16,10.20.0.0/16")
        << QString();
    QTest::newRow("extra argument")
        << QStringLiteral("192.168.88.0/24 port=1") << false << QString() << unreadable;
    QTest::newRow("prefix too long")
        << QStringLiteral("192.168.88.0/33") << false << QString() << unreadable;
    QTest::newRow("command substitution")
        << QStringLiteral("10.0.0.0/8,$(x)") << false << QString() << unreadable;
    QTest::newRow("signed prefix")
        << QStringLiteral("10.0.0.0/+8") << false << QString() << unreadable;
    QTest::newRow("only commas") << QStringLiteral(",,") << false << QString() << unreadable;
}

void TestCommandPreview::plansApiServiceFromCheckedEntries()
{
    QFETCH(QString, list);
    QFETCH(bool, fresh);
    QFETCH(QString, script);
    QFETCH(QString, note);

    const ApiServicePlan plan = planApiService(list, fresh, false, QStringLiteral("10.20.0.0/16"));
    QCOMPARE(plan.script, script);
    QCOMPARE(plan.note, note);
}

QTEST_GUILESS_MAIN(TestCommandPreview)
#include "tst_commandpreview.moc"

#include "router/validation.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

class TestValidation final : public QObject
{
    Q_OBJECT

private slots:
    void checksNames_data();
    void checksNames();
    void checksWireGuardKeys_data();
    void checksWireGuardKeys();
    void checksHostNames_data();
    void checksHostNames();
    void checksIpv4Networks_data();
    void checksIpv4Networks();
    void refusesZeroRouteAsUsableNetwork();
    void computesNetworkOf_data();
    void computesNetworkOf();
    void readsJsonStringLists_data();
    void readsJsonStringLists();
};

void TestValidation::checksNames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("quillmor") << QStringLiteral("quillmor") << true;
    QTest::newRow("dash") << QStringLiteral("qm-link") << true;
    QTest::newRow("underscoreDigit") << QStringLiteral("wg_1") << true;
    QTest::newRow("32chars") << QString(32, QLatin1Char('a')) << true;
    QTest::newRow("33chars") << QString(33, QLatin1Char('a')) << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("leadingDigit") << QStringLiteral("1wg") << false;
    QTest::newRow("blank") << QStringLiteral("wg 1") << false;
    QTest::newRow("dot") << QStringLiteral("wg.1") << false;
    QTest::newRow("trailingLineEnd") << QStringLiteral("wg1\n") << false;
    QTest::newRow("quote") << QStringLiteral("wg\"") << false;
    QTest::newRow("nonAsciiLetter") << QStringLiteral("wgé") << false;
}

void TestValidation::checksNames()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidName(text), valid);
}

void TestValidation::checksWireGuardKeys_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    const QString key = QStringLiteral("yAnz5TF+lXXJte14tji3zlMNq+hd2rYUIgJBgB3fBmk=");
    QTest::newRow("key") << key << true;
    QTest::newRow("blanksAround") << QStringLiteral("  ") + key + QStringLiteral("\n") << true;
    QTest::newRow("noPadding") << key.chopped(1) << false;
    QTest::newRow("doublePadding") << key.chopped(1) + QStringLiteral("==") << false;
    QTest::newRow("urlSafeDash") << QString(key).replace(QLatin1Char('+'), QLatin1Char('-'))
                                 << false;
    QTest::newRow("urlSafeUnderscore") << QString(key).replace(10, 1, QLatin1Char('_')) << false;
    QTest::newRow("lineEndInside") << QString(key).replace(20, 1, QLatin1Char('\n')) << false;
    QTest::newRow("quoteInside") << QString(key).replace(5, 1, QLatin1Char('"')) << false;
}

void TestValidation::checksWireGuardKeys()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidWireGuardKey(text), valid);
}

void TestValidation::checksHostNames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("ipv4") << QStringLiteral("203.0.113.7") << true;
    QTest::newRow("name") << QStringLiteral("wg-1.manage.quillmor.com") << true;
    QTest::newRow("253chars") << QString(253, QLatin1Char('a')) << true;
    QTest::newRow("254chars") << QString(254, QLatin1Char('a')) << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("blank") << QStringLiteral("a b") << false;
    QTest::newRow("ipv6") << QStringLiteral("2001:db8::1") << false;
    QTest::newRow("slash") << QStringLiteral("host/x") << false;
    QTest::newRow("lineEnd") << QStringLiteral("host.com\n") << false;
    QTest::newRow("quote") << QStringLiteral("a\"b") << false;
}

void TestValidation::checksHostNames()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidHostName(text), valid);
}

void TestValidation::checksIpv4Networks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("classA") << QStringLiteral("10.0.0.0/8") << true;
    QTest::newRow("zeroRoute") << QStringLiteral("0.0.0.0/0") << true;
    QTest::newRow("host") << QStringLiteral("255.255.255.255/32") << true;
    QTest::newRow("noPrefix") << QStringLiteral("10.0.0.0") << false;
    QTest::newRow("threeOctets") << QStringLiteral("10.0.0/8") << false;
    QTest::newRow("fiveOctets") << QStringLiteral("10.0.0.0.0/8") << false;
    QTest::newRow("emptyOctet") << QStringLiteral("10..0.0/8") << false;
    QTest::newRow("octet256") << QStringLiteral("10.0.0.256/8") << false;
    QTest::newRow("leadingZeroOctet") << QStringLiteral("10.0.0.01/8") << false;
    QTest::newRow("prefix33") << QStringLiteral("10.0.0.0/33") << false;
    QTest::newRow("leadingZeroPrefix") << QStringLiteral("10.0.0.0/08") << false;
    QTest::newRow("signedPrefix") << QStringLiteral("10.0.0.0/+8") << false;
    QTest::newRow("emptyPrefix") << QStringLiteral("10.0.0.0/") << false;
    QTest::newRow("twoSlashes") << QStringLiteral("10.0.0.0/8/1") << false;
    QTest::newRow("lineEndAfterOctet") << QStringLiteral("10.20.0.5\n/32") << false;
    QTest::newRow("lineEndBeforeOctet") << QStringLiteral("10.20.0.\n5/32") << false;
    QTest::newRow("refusesOctetWithBlank") << QStringLiteral("10. 20.0.5/32") << false;
    QTest::newRow("trailingBlankOctet") << QStringLiteral("10.20.0.5 /32") << false;
    QTest::newRow("plusOctet") << QStringLiteral("10.+20.0.5/32") << false;
    QTest::newRow("minusZeroOctet") << QStringLiteral("10.-0.0.5/32") << false;
    QTest::newRow("tabOctet") << QStringLiteral("10.20.0.5\t/32") << false;
    QTest::newRow("arabicIndicDigit") << QStringLiteral("10.20.0.\u0665/32") << false;
    QTest::newRow("fullwidthDigit") << QStringLiteral("10.20.0.\uFF15/32") << false;
    QTest::newRow("prefixLineEnd") << QStringLiteral("10.20.0.5/32\n") << false;
}

void TestValidation::checksIpv4Networks()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidIpv4Network(text), valid);
}

void TestValidation::refusesZeroRouteAsUsableNetwork()
{
    QVERIFY(!isUsableNetwork(QStringLiteral("0.0.0.0/0")));
    QVERIFY(isUsableNetwork(QStringLiteral("0.0.0.0/1")));
    QVERIFY(!isUsableNetwork(QStringLiteral("10.20.0.5\n/32")));
}

void TestValidation::computesNetworkOf_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("network");

    QTest::newRow("slash24") << QStringLiteral("10.20.30.40/24") << QStringLiteral("10.20.30.0/24");
    QTest::newRow("slash30") << QStringLiteral("10.20.30.41/30")
                             << QStringLiteral("10.20.30.40/30");
    QTest::newRow("slash1HighBit")
        << QStringLiteral("200.1.2.3/1") << QStringLiteral("128.0.0.0/1");
    QTest::newRow("slash0") << QStringLiteral("10.20.30.40/0") << QStringLiteral("0.0.0.0/0");
    QTest::newRow("slash31") << QStringLiteral("10.20.30.40/31") << QString();
    QTest::newRow("slash32") << QStringLiteral("10.20.30.40/32") << QString();
    QTest::newRow("invalid") << QStringLiteral("10.20.30/24") << QString();
}

void TestValidation::computesNetworkOf()
{
    QFETCH(QString, text);
    QFETCH(QString, network);
    QCOMPARE(networkOf(text), network);
}

void TestValidation::readsJsonStringLists_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QStringList>("list");

    QTest::newRow("array") << QJsonValue(QJsonArray{QStringLiteral(" a "), QString(), 5})
                           << QStringList{QStringLiteral("a"), QString()};
    QTest::newRow("commaText") << QJsonValue(QStringLiteral("a, ,b,"))
                               << QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")};
    QTest::newRow("emptyText") << QJsonValue(QString()) << QStringList();
    QTest::newRow("number") << QJsonValue(5) << QStringList();
    QTest::newRow("object") << QJsonValue(QJsonObject{{QStringLiteral("a"), 1}}) << QStringList();
    QTest::newRow("null") << QJsonValue(QJsonValue::Null) << QStringList();
}

void TestValidation::readsJsonStringLists()
{
    QFETCH(QJsonValue, value);
    QFETCH(QStringList, list);
    QCOMPARE(jsonStringList(value), list);
}

QTEST_GUILESS_MAIN(TestValidation)
#include "tst_validation.moc"

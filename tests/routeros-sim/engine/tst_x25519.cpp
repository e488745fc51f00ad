#include "curve25519.h"

#include <QTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

// The simulated router's WireGuard keys: X25519 from libsodium, held against RFC 7748.
class TestX25519 final : public QObject
{
    Q_OBJECT

private slots:
    void matchesRfcVectors_data();
    void matchesRfcVectors();
    void matchesRfcIterations();
    void agreesOnSharedSecret();
    void refusesUnusableInput();
    void generatesClampedKeys();
};

void TestX25519::matchesRfcVectors_data()
{
    QTest::addColumn<QByteArray>("scalar");
    QTest::addColumn<QByteArray>("point");
    QTest::addColumn<QByteArray>("expected");

    // Section 5.2; the second point has its top bit set, which X25519 must ignore.
    QTest::newRow("5.2 first")
        << hex("a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4")
        << hex("e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c")
        << hex("c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552");
    QTest::newRow("5.2 second, top bit set")
        << hex("4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d")
        << hex("e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493")
        << hex("95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957");
    // Section 6.1, each side's public key from the base point.
    QByteArray base(32, '\0');
    base[0] = 9;
    QTest::newRow("6.1 Alice's public key")
        << hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a") << base
        << hex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
    QTest::newRow("6.1 Bob's public key")
        << hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb") << base
        << hex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
}

void TestX25519::matchesRfcVectors()
{
    QFETCH(QByteArray, scalar);
    QFETCH(QByteArray, point);
    QFETCH(QByteArray, expected);

    QCOMPARE(Curve25519::scalarMult(scalar, point).toHex(), expected.toHex());
    if (point.at(0) == 9 && point.count('\0') == 31)
        QCOMPARE(Curve25519::publicKey(scalar).toHex(), expected.toHex());
}

void TestX25519::matchesRfcIterations()
{
    // Section 5.2: k and u start as the base point; each round k becomes X25519(k, u) and u the
    // old k. The million-round figure is left out: it takes a minute and adds nothing here.
    QByteArray k(32, '\0');
    k[0] = 9;
    QByteArray u = k;
    for (int round = 1; round <= 1000; ++round) {
        const QByteArray next = Curve25519::scalarMult(k, u);
        u = k;
        k = next;
        if (round == 1)
            QCOMPARE(
                k.toHex(),
                QByteArray("422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079"));
    }
    QCOMPARE(k.toHex(),
             QByteArray("684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51"));
}

void TestX25519::agreesOnSharedSecret()
{
    const QByteArray alice =
        hex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
    const QByteArray bob = hex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
    const QByteArray shared =
        hex("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
    QCOMPARE(Curve25519::scalarMult(alice, Curve25519::publicKey(bob)).toHex(), shared.toHex());
    QCOMPARE(Curve25519::scalarMult(bob, Curve25519::publicKey(alice)).toHex(), shared.toHex());
}

void TestX25519::refusesUnusableInput()
{
    const QByteArray key = Curve25519::generatePrivateKey();
    QVERIFY(Curve25519::publicKey(key.left(31)).isEmpty());
    QVERIFY(Curve25519::publicKey(key + '\0').isEmpty());
    QVERIFY(Curve25519::scalarMult(key, QByteArray(31, '\1')).isEmpty());
    // A point of small order gives the all-zero secret, which no peer may be left with.
    QVERIFY(Curve25519::scalarMult(key, QByteArray(32, '\0')).isEmpty());
}

void TestX25519::generatesClampedKeys()
{
    const QByteArray first = Curve25519::generatePrivateKey();
    const QByteArray second = Curve25519::generatePrivateKey();
    QCOMPARE(first.size(), 32);
    QVERIFY(first != second);
    for (const QByteArray &key : {first, second}) {
        QCOMPARE(key.at(0) & 7, 0);
        QCOMPARE(key.at(31) & 0xc0, 0x40);
        QCOMPARE(Curve25519::publicKey(key).size(), 32);
    }
}

QTEST_GUILESS_MAIN(TestX25519)
#include "tst_x25519.moc"

#include "mndpannouncer.h"
#include "router/mndp.h"
#include "router/mndpscanner.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

namespace {

// A real announcement of a hAP ac² (RBD52G-5HacD2HnD) on RouterOS 7.15.3, as published in the
// test suite of the Elixir MNDP library github.com/kevinschweikert/mndp (test/mndp_test.exs),
// written here in hex.
const char kCapturedHex[] =
    "61000000"
    "00010006744d28910d2f"
    "000500084d696b726f54696b"
    "00070023372e31352e332028737461626c652920323032342d30372d32342031303a33393a3031"
    "000800084d696b726f54696b"
    "000a0004dc150000"
    "000b0009483739322d4d584a33"
    "000c00105242443532472d354861634432486e44"
    "000e000101"
    "000f0010fe80000000000000764d28fffe910d2f"
    "0010000d6272696467652f657468657232"
    "00110004c0a85801";

QByteArray captured()
{
    return QByteArray::fromHex(kCapturedHex);
}

QByteArray field(quint16 type, const QByteArray &value)
{
    QByteArray f;
    f.append(char(type >> 8)).append(char(type & 0xff));
    f.append(char(value.size() >> 8)).append(char(value.size() & 0xff));
    return f + value;
}

QByteArray header()
{
    return QByteArray::fromHex("00000001");
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return 0;
    return probe.localPort();
}

} // namespace

// Neighbour discovery: the announcement parser on a real capture and on broken packets, and the
// scanner against the simulated router's announcer on the loopback.
class TestMndp final : public QObject
{
    Q_OBJECT

private slots:
    void parsesCapturedAnnouncement();
    void everyCutOfCaptureIsRefusedOrWhole();
    void refusesMalformed_data();
    void refusesMalformed();
    void readsHostileText();

    void readsTarget();
    void refusesBadTarget_data();
    void refusesBadTarget();
    void findsSimulatedRouterOnce();
    void simulatorAnswersDiscoveryRequest();
};

void TestMndp::parsesCapturedAnnouncement()
{
    MndpNeighbour n;
    QVERIFY(parseMndpAnnouncement(captured(), &n));
    QCOMPARE(n.identity, QStringLiteral("MikroTik"));
    QCOMPARE(n.ipv4, QStringLiteral("192.168.88.1"));
    QCOMPARE(n.mac, QStringLiteral("74:4D:28:91:0D:2F"));
    QCOMPARE(n.version, QStringLiteral("7.15.3 (stable) 2024-07-24 10:39:01"));
    QCOMPARE(n.board, QStringLiteral("RBD52G-5HacD2HnD"));
    QCOMPARE(n.platform, QStringLiteral("MikroTik"));
    QCOMPARE(n.interfaceName, QStringLiteral("bridge/ether2"));
}

void TestMndp::everyCutOfCaptureIsRefusedOrWhole()
{
    // A cut inside a field is a truncated packet; a cut between fields is a shorter, whole one.
    const QByteArray packet = captured();
    QList<int> boundaries;
    for (int at = 4; at < packet.size();) {
        boundaries << at;
        at += 4 + ((quint8(packet.at(at + 2)) << 8) | quint8(packet.at(at + 3)));
    }
    for (int size = 0; size < packet.size(); ++size) {
        MndpNeighbour n;
        n.identity = QStringLiteral("untouched");
        const bool whole = boundaries.contains(size) && size > 4;
        QCOMPARE(parseMndpAnnouncement(packet.left(size), &n), whole);
        if (!whole)
            QCOMPARE(n.identity, QStringLiteral("untouched"));
    }
}

void TestMndp::refusesMalformed_data()
{
    QTest::addColumn<QByteArray>("packet");
    const QByteArray mac = field(1, QByteArray::fromHex("d401c35a1001"));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("discovery request") << QByteArray(4, '\0');
    QTest::newRow("length past the end") << header() + mac + field(5, "Shop").left(6);
    QTest::newRow("half a field header") << header() + mac + QByteArray::fromHex("0005");
    QTest::newRow("length 0xffff") << header() + mac + QByteArray::fromHex("0005ffff") + "abc";
    QTest::newRow("MAC of five bytes") << header() + field(1, QByteArray::fromHex("d401c35a10"));
    QTest::newRow("IPv4 of three bytes")
        << header() + mac + field(17, QByteArray::fromHex("c0a858"));
    QTest::newRow("neither MAC nor identity") << header() + field(7, "7.14.3");
    QTest::newRow("oversized datagram") << header() + mac + field(0x7777, QByteArray(1500, 'x'));
}

void TestMndp::refusesMalformed()
{
    QFETCH(QByteArray, packet);
    MndpNeighbour n;
    n.identity = QStringLiteral("untouched");
    QVERIFY(!parseMndpAnnouncement(packet, &n));
    QCOMPARE(n.identity, QStringLiteral("untouched"));
}

void TestMndp::readsHostileText()
{
    // Unknown field types are skipped; control characters never reach a label; no IPv4 is none.
    const QByteArray packet = header() + field(0x7777, "future") + field(5, "Shop\r\n\x1b[2JA") +
                              field(12, QByteArray()) + field(16, "ether2");
    MndpNeighbour n;
    QVERIFY(parseMndpAnnouncement(packet, &n));
    QCOMPARE(n.identity, QStringLiteral("Shop   [2JA"));
    QCOMPARE(n.ipv4, QString());
    QCOMPARE(n.mac, QString());
    QCOMPARE(n.board, QString());
    QCOMPARE(n.interfaceName, QStringLiteral("ether2"));
}

void TestMndp::readsTarget()
{
    QHostAddress host;
    quint16 port = 0;
    qunsetenv("QUILLMOR_MNDP_TARGET");
    QVERIFY(MndpScanner::target(&host, &port));
    QCOMPARE(host, QHostAddress(QHostAddress::Broadcast));
    QCOMPARE(port, quint16(5678));
    qputenv("QUILLMOR_MNDP_TARGET", " 127.0.0.1:40123 ");
    QVERIFY(MndpScanner::target(&host, &port));
    QCOMPARE(host, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(port, quint16(40123));
}

void TestMndp::refusesBadTarget_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("no port") << QByteArray("127.0.0.1");
    QTest::newRow("port 0") << QByteArray("127.0.0.1:0");
    QTest::newRow("port too big") << QByteArray("127.0.0.1:65536");
    QTest::newRow("host name") << QByteArray("localhost:5678");
    QTest::newRow("IPv6") << QByteArray("::1:5678");
}

void TestMndp::refusesBadTarget()
{
    QFETCH(QByteArray, value);
    qputenv("QUILLMOR_MNDP_TARGET", value);
    MndpScanner scanner;
    QString error;
    QVERIFY(!scanner.start(1000, &error));
    QCOMPARE(error, QStringLiteral("QUILLMOR_MNDP_TARGET must be an IPv4 address and a port, such "
                                   "as 127.0.0.1:5678."));
    QVERIFY(!scanner.isScanning());
}

void TestMndp::findsSimulatedRouterOnce()
{
    const quint16 port = freeUdpPort();
    QVERIFY(port != 0);
    qputenv("QUILLMOR_MNDP_TARGET", QByteArray("127.0.0.1:") + QByteArray::number(port));
    MndpScanner scanner;
    QSignalSpy found(&scanner, &MndpScanner::neighbourFound);
    QSignalSpy finished(&scanner, &MndpScanner::finished);
    QVERIFY(scanner.start(1500));

    const NeighbourInfo info{QStringLiteral("Hill-AP"), QStringLiteral("7.14.3 (stable)"),
                             QStringLiteral("RB750Gr3"), QStringLiteral("D4:01:C3:5A:10:01"),
                             QStringLiteral("bridge")};
    MndpAnnouncer announcer([info] { return info; });
    QVERIFY(announcer.start(QHostAddress::LocalHost, port, 150));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QVERIFY(announcer.announcementsSent() >= 3);
    // Every announcement of one router counts once.
    QCOMPARE(found.size(), 1);
    const MndpNeighbour n = scanner.neighbours().value(0);
    QCOMPARE(n.identity, info.identity);
    QCOMPARE(n.ipv4, QStringLiteral("127.0.0.1"));
    QCOMPARE(n.mac, info.mac);
    QCOMPARE(n.version, info.version);
    QCOMPARE(n.board, info.board);
    QCOMPARE(n.interfaceName, info.interfaceName);
    QVERIFY(!scanner.isScanning());
}

void TestMndp::simulatorAnswersDiscoveryRequest()
{
    const NeighbourInfo info{QStringLiteral("MikroTik"), QStringLiteral("7.14.3 (stable)"),
                             QString(), QStringLiteral("D4:01:C3:5A:10:01"),
                             QStringLiteral("ether1")};
    MndpAnnouncer announcer([info] { return info; });
    announcer.setAnnouncedAddress(QString());
    // No target: it only answers.
    QVERIFY(announcer.start(QHostAddress(), 0, 1000));
    QCOMPARE(announcer.announcementsSent(), 0);

    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    client.writeDatagram(mndpDiscoveryRequest(), QHostAddress::LocalHost, announcer.listenPort());
    QTRY_VERIFY_WITH_TIMEOUT(client.hasPendingDatagrams(), 5000);
    MndpNeighbour n;
    QVERIFY(parseMndpAnnouncement(client.receiveDatagram().data(), &n));
    QCOMPARE(n.identity, info.identity);
    // A router without an address yet announces none.
    QCOMPARE(n.ipv4, QString());
    QCOMPARE(n.board, QString());
    QCOMPARE(n.mac, info.mac);

    // Another router's announcement gets no answer: after it, a request is answered, and that
    // answer is the only datagram that comes back.
    client.writeDatagram(captured(), QHostAddress::LocalHost, announcer.listenPort());
    client.writeDatagram(mndpDiscoveryRequest(), QHostAddress::LocalHost, announcer.listenPort());
    QTRY_VERIFY_WITH_TIMEOUT(client.hasPendingDatagrams(), 5000);
    QVERIFY(parseMndpAnnouncement(client.receiveDatagram().data(), &n));
    QCOMPARE(n.mac, info.mac);
    QVERIFY(!client.hasPendingDatagrams());
    QCOMPARE(announcer.announcementsSent(), 2);
}

QTEST_GUILESS_MAIN(TestMndp)
#include "tst_mndp.moc"

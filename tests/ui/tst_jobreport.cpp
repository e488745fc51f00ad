#include "ui/jobreport.h"

#include <QTest>

// The report's text and masking, apart from the window.
class TestJobReport final : public QObject
{
    Q_OBJECT

private slots:
    void masksSecrets_data();
    void masksSecrets();
    void reportsFailureAndRunningJob();
    void namesReportFile();
};

void TestJobReport::masksSecrets_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("secrets");
    QTest::addColumn<QString>("expected");

    QTest::newRow("quoted password literal")
        << QStringLiteral(R"(/user add name=q password="a\"b$c" group=full)") << QStringList()
        << QStringLiteral(R"(/user add name=q password="***" group=full)");
    QTest::newRow("private key literal")
        << QStringLiteral(R"(set private-key="kEy=" listen-port=13231)") << QStringList()
        << QStringLiteral(R"(set private-key="***" listen-port=13231)");
    QTest::newRow("known secret anywhere")
        << QStringLiteral("[10:00:01] failure: bad login pp$secret for line-42")
        << QStringList{QStringLiteral("pp$secret")}
        << QStringLiteral("[10:00:01] failure: bad login *** for line-42");
    QTest::newRow("token and password together")
        << QStringLiteral("tok-123 and fieldpass")
        << QStringList{QStringLiteral("fieldpass"), QStringLiteral("tok-123")}
        << QStringLiteral("*** and ***");
    // Masking one or two letters everywhere would garble the report and hide nothing.
    QTest::newRow("too short to mask")
        << QStringLiteral("a router at 10.0.0.1") << QStringList{QStringLiteral("a"), QString()}
        << QStringLiteral("a router at 10.0.0.1");
}

void TestJobReport::masksSecrets()
{
    QFETCH(QString, text);
    QFETCH(QStringList, secrets);
    QFETCH(QString, expected);
    QCOMPARE(maskSecrets(text, secrets), expected);

    JobReport report;
    report.logLines = {text};
    report.finished = true;
    report.ok = true;
    QVERIFY(reportText(report, secrets).contains(QLatin1Char('\n') + expected + QLatin1Char('\n')));
}

void TestJobReport::reportsFailureAndRunningJob()
{
    JobReport report;
    report.product = QStringLiteral("Quillmor MikroTik Setup");
    report.version = QStringLiteral("1.0.0");
    report.when = QDateTime(QDate(2026, 12, 8), QTime(14, 32, 5));
    report.accountNumber = QStringLiteral("100200");
    report.accountName = QStringLiteral("Riverside");
    report.address = QStringLiteral("192.168.88.1");
    report.port = 2222;
    report.runChoice = QStringLiteral("Setting the router internet...");
    report.logLines = {QStringLiteral("[14:31:00] Signing in to the router...")};
    report.finished = true;
    report.error = QStringLiteral("Wrong password fieldpass");
    QCOMPARE(reportText(report, {QStringLiteral("fieldpass")}),
             QStringLiteral("Quillmor MikroTik Setup 1.0.0\n"
                            "Report time: 2026-12-08T14:32:05\n"
                            "Account: 100200 Riverside\n"
                            "Router identity: not known\n"
                            "Router model: not known\n"
                            "RouterOS version: not known\n"
                            "Router address: 192.168.88.1 port 2222\n"
                            "Run: Setting the router internet...\n"
                            "Backup file: none\n"
                            "\n"
                            "Activity log:\n"
                            "[14:31:00] Signing in to the router...\n"
                            "\n"
                            "Result: failed\n"
                            "Error: Wrong password ***\n"));

    report.finished = false;
    QVERIFY(reportText(report, {}).endsWith(QLatin1String("\nResult: still running\n")));
    report.status = QStringLiteral("Installing the hotspot login page...");
    QVERIFY(reportText(report, {})
                .endsWith(QLatin1String("\nResult: Installing the hotspot login page...\n")));
}

void TestJobReport::namesReportFile()
{
    const QDateTime when(QDate(2026, 12, 8), QTime(9, 5));
    QCOMPARE(reportFileName(QStringLiteral("hAP-ax2/Main"), when),
             QStringLiteral("Quillmor report hAP-ax2_Main 2026-12-08 0905.txt"));
    QCOMPARE(reportFileName(QString(), when),
             QStringLiteral("Quillmor report router 2026-12-08 0905.txt"));
}

QTEST_GUILESS_MAIN(TestJobReport)
#include "tst_jobreport.moc"

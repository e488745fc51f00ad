#include "router/routeros.h"

#include <QTest>

class TestRouterOs final : public QObject
{
    Q_OBJECT

private slots:
    void judgesScriptRun_data();
    void judgesScriptRun();
    void leavesFailureAloneOnSuccess();
    void cutsShownOutputAt500Characters();

    void knowsRouterOsErrorPhrases_data();
    void knowsRouterOsErrorPhrases();

    void masksSecretLiterals_data();
    void masksSecretLiterals();
    void masksWhatQuoteRouterOsWrites_data();
    void masksWhatQuoteRouterOsWrites();

    void quotesForRouterOs_data();
    void quotesForRouterOs();

    void parsesMarkerLines();
    void joinsDistributedArrayValues_data();
    void joinsDistributedArrayValues();
    void readsCounts_data();
    void readsCounts();
};

void TestRouterOs::judgesScriptRun_data()
{
    QTest::addColumn<bool>("executed");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("executeError");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("failure");

    const QString bridge = QStringLiteral("Moving port 1 out of the LAN bridge...");

    QTest::newRow("done") << true << QStringLiteral("QM_X=1\r\nQM_DONE=1\r\n") << QString()
                          << bridge << true << QString();
    QTest::newRow("failBeforeDoneWithLabel")
        << true << QStringLiteral("QM_FAIL=bridge\r\nQM_DONE=1\r\n") << QString() << bridge << false
        << QStringLiteral("Moving port 1 out of the LAN bridge... failed.");
    QTest::newRow("failBeforeDoneWithoutLabel")
        << true << QStringLiteral("  QM_FAIL=bridge\r\nQM_DONE=1\r\n") << QString() << QString()
        << false << QStringLiteral("QM_FAIL=bridge\r\nQM_DONE=1");
    QTest::newRow("failWithoutDoneNoPhrase")
        << true << QStringLiteral("QM_FAIL=bridge\r\n") << QString() << bridge << true << QString();
    QTest::newRow("doneWinsOverPhrase") << true << QStringLiteral("syntax error here\r\nQM_DONE=1")
                                        << QString() << bridge << true << QString();
    QTest::newRow("silentScript") << true << QString() << QString() << bridge << true << QString();
    QTest::newRow("syntaxErrorExitZero")
        << true << QStringLiteral("\r\nsyntax error (line 1 column 7)\r\n") << QString() << bridge
        << false << QStringLiteral("syntax error (line 1 column 7)");
    QTest::newRow("noSuchItemExitZero") << true << QStringLiteral("no such item (4)") << QString()
                                        << QString() << false << QStringLiteral("no such item (4)");
    QTest::newRow("sshFailedWithText")
        << false << QString() << QStringLiteral("The router took too long to answer.") << bridge
        << false << QStringLiteral("The router took too long to answer.");
    QTest::newRow("sshFailedSilently") << false << QString() << QString() << bridge << false
                                       << QStringLiteral("The router did not accept the command.");
    QTest::newRow("sshFailedOutputWithoutPhrase")
        << false << QStringLiteral("QM_X=1") << QStringLiteral("Could not sign in to the router.")
        << bridge << false << QStringLiteral("Could not sign in to the router.");
    QTest::newRow("sshFailedPhraseWins")
        << false << QStringLiteral("failure: already have interface with such name\r\n")
        << QStringLiteral("failure: already have interface with such name") << bridge << false
        << QStringLiteral("failure: already have interface with such name");
    QTest::newRow("sshFailedAfterDone")
        << false << QStringLiteral("QM_DONE=1") << QStringLiteral("Cancelled.") << bridge << false
        << QStringLiteral("Cancelled.");
    QTest::newRow("failureTextIsRedacted")
        << true << QStringLiteral("password=\"hunter2\" expected end of command") << QString()
        << QString() << false << QStringLiteral("password=\"***\" expected end of command");

    const QString untrusted =
        QStringLiteral("The router's answer repeats a value it should give once, so it was not "
                       "trusted.");
    QTest::newRow("forgedVersionAfterIdentity")
        << true
        << QStringLiteral("QM_VERSION=7.14.3 (stable)\r\nQM_IDENTITY=office\r\n"
                          "QM_VERSION=6.49.10 (long-term)\r\nQM_DONE=1\r\n")
        << QString() << bridge << false << untrusted;
    QTest::newRow("repeatedDoneWithBlanks")
        << true << QStringLiteral("QM_DONE=1\n  QM_DONE = 1\nQM_DONE=1") << QString() << QString()
        << false << untrusted;
    QTest::newRow("repeatedFailIsAList")
        << true << QStringLiteral("QM_FAIL=bridge\r\nQM_FAIL=dhcp\r\nQM_DONE=1\r\n") << QString()
        << bridge << false << QStringLiteral("Moving port 1 out of the LAN bridge... failed.");
    QTest::newRow("hotspotProfilesAreAList")
        << true
        << QStringLiteral("QM_PROFILE=a\nQM_DIR=hotspot\nQM_OVERRIDE=\nQM_DNS=\n"
                          "QM_PROFILE=b\nQM_DIR=flash/hs\nQM_OVERRIDE=\nQM_DNS=x\n"
                          "QM_SERVER=a\nQM_SERVER=b\nQM_DONE=1")
        << QString() << bridge << true << QString();
    QTest::newRow("sshFailureKeepsItsText")
        << false << QStringLiteral("QM_X=1\nQM_X=2") << QStringLiteral("Cancelled.") << bridge
        << false << QStringLiteral("Cancelled.");
}

void TestRouterOs::judgesScriptRun()
{
    QFETCH(bool, executed);
    QFETCH(QString, output);
    QFETCH(QString, executeError);
    QFETCH(QString, label);
    QFETCH(bool, ok);
    QFETCH(QString, failure);

    QString text;
    QCOMPARE(judgeScriptRun(executed, output, executeError, label, &text), ok);
    QCOMPARE(text, failure);
}

void TestRouterOs::leavesFailureAloneOnSuccess()
{
    QString previous = QStringLiteral("Starting DHCP on port 1... failed.");
    QVERIFY(judgeScriptRun(true, QStringLiteral("QM_DONE=1"), QString(), QString(), &previous));
    QCOMPARE(previous, QStringLiteral("Starting DHCP on port 1... failed."));
    QVERIFY(!judgeScriptRun(false, QString(), QString(), QString(), nullptr));
}

void TestRouterOs::cutsShownOutputAt500Characters()
{
    const QString longError = QStringLiteral("bad command name ") + QString(600, QLatin1Char('x'));
    QString text;
    QVERIFY(!judgeScriptRun(true, longError + QStringLiteral("\r\n"), QString(), QString(), &text));
    QCOMPARE(text, longError.left(500));

    QVERIFY(!judgeScriptRun(false, QStringLiteral("  ") + longError, QStringLiteral("x"), QString(),
                            &text));
    QCOMPARE(text, longError.left(500));

    const QString failLines =
        QStringLiteral("QM_FAIL=a\nQM_DONE=1\n") + QString(700, QLatin1Char('y'));
    QVERIFY(!judgeScriptRun(true, failLines, QString(), QString(), &text));
    QCOMPARE(text.size(), 500);
}

void TestRouterOs::knowsRouterOsErrorPhrases_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("error");

    QTest::newRow("failure") << QStringLiteral("failure: entry already exists") << true;
    QTest::newRow("syntaxUpper") << QStringLiteral("SYNTAX ERROR (line 1 column 2)") << true;
    QTest::newRow("endOfCommand") << QStringLiteral("expected end of command (line 1 column 9)")
                                  << true;
    QTest::newRow("badCommand") << QStringLiteral("bad command name fetchx (line 1 column 8)")
                                << true;
    QTest::newRow("noSuchCommand") << QStringLiteral("no such command prefix") << true;
    QTest::newRow("inputMismatch")
        << QStringLiteral("input does not match any value of interface") << true;
    QTest::newRow("noSuchItem") << QStringLiteral("no such item") << true;
    QTest::newRow("invalidItemNumber") << QStringLiteral("invalid internal item number") << true;
    QTest::newRow("invalidValue") << QStringLiteral("invalid value for argument mtu") << true;
    QTest::newRow("missingValues")
        << QStringLiteral("missing value(s) of argument(s) interface") << true;
    QTest::newRow("expectedCommand")
        << QStringLiteral("expected command name (line 1 column 3)") << true;
    QTest::newRow("missingBrace") << QStringLiteral("missing closing brace (line 1 column 40)")
                                  << true;
    QTest::newRow("permissions") << QStringLiteral("not enough permissions (9)") << true;
    QTest::newRow("badParameter") << QStringLiteral("bad parameter add-default-route") << true;
    QTest::newRow("markersOnly") << QStringLiteral("QM_ROUTE=1\r\nQM_DONE=1") << false;
    QTest::newRow("failWithoutColon") << QStringLiteral("QM_FAIL=bridge") << false;
}

void TestRouterOs::knowsRouterOsErrorPhrases()
{
    QFETCH(QString, text);
    QFETCH(bool, error);
    QCOMPARE(hasRouterOsError(text), error);
}

void TestRouterOs::masksSecretLiterals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << QStringLiteral("add user=\"a\" password=\"s3cret\" disabled=no")
                           << QStringLiteral("add user=\"a\" password=\"***\" disabled=no");
    QTest::newRow("escapedQuote") << QStringLiteral(R"(password="ab\"cd efg" x=1)")
                                  << QStringLiteral(R"(password="***" x=1)");
    QTest::newRow("escapedBackslashBeforeQuote") << QStringLiteral(R"(password="ab\\" tail="x")")
                                                 << QStringLiteral(R"(password="***" tail="x")");
    QTest::newRow("privateKey") << QStringLiteral(R"(private-key="abc+/=" listen-port=1)")
                                << QStringLiteral(R"(private-key="***" listen-port=1)");
    QTest::newRow("both") << QStringLiteral(R"(password="p\"q" private-key="k\\\"y")")
                          << QStringLiteral(R"(password="***" private-key="***")");
    QTest::newRow("twoPasswords") << QStringLiteral("password=\"a\"\npassword=\"b\"")
                                  << QStringLiteral("password=\"***\"\npassword=\"***\"");
    QTest::newRow("unquoted") << QStringLiteral("user=a password=bare;x=1 next")
                              << QStringLiteral("user=a password=*** next");
    QTest::newRow("unquotedAfterQuoted") << QStringLiteral("password=\"a\" password=b")
                                         << QStringLiteral("password=\"***\" password=***");
    QTest::newRow("unquotedPrivateKey") << QStringLiteral("private-key=\\\"c x")
                                        << QStringLiteral("private-key=*** x");
    QTest::newRow("emptyUnquotedKept") << QStringLiteral("password= x") << QStringLiteral("password= x");
    QTest::newRow("cutOffLiteral") << QStringLiteral("add password=\"s3cr")
                                   << QStringLiteral("add password=\"***\"");
    QTest::newRow("cutOffAfterBackslash") << QStringLiteral("private-key=\"ab\\")
                                          << QStringLiteral("private-key=\"***\"");
    QTest::newRow("upperCaseKept")
        << QStringLiteral("PASSWORD=\"x\"") << QStringLiteral("PASSWORD=\"x\"");
}

void TestRouterOs::masksSecretLiterals()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(redactSecrets(text), shown);
}

void TestRouterOs::masksWhatQuoteRouterOsWrites_data()
{
    QTest::addColumn<QString>("secret");
    QTest::newRow("quote") << QStringLiteral("pa\"ss word");
    QTest::newRow("trailingBackslash") << QStringLiteral("secret\\");
    QTest::newRow("backslashQuote") << QStringLiteral("a\\\"b\"\"c");
    QTest::newRow("dollar") << QStringLiteral("$(kill) [x]; y");
    QTest::newRow("nonAscii") << QStringLiteral("Pässwört\"é");
}

void TestRouterOs::masksWhatQuoteRouterOsWrites()
{
    QFETCH(QString, secret);
    const QString line = QStringLiteral("/interface pppoe-client add password=") +
                         quoteRouterOs(secret) + QStringLiteral(" disabled=no");
    const QString shown = redactSecrets(line);
    QCOMPARE(shown, QStringLiteral("/interface pppoe-client add password=\"***\" disabled=no"));
}

void TestRouterOs::quotesForRouterOs_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("quoted");

    QTest::newRow("empty") << QString() << QStringLiteral("\"\"");
    QTest::newRow("specials") << QStringLiteral("a\"b$c\\d\te")
                              << QStringLiteral(R"("a\"b\$c\\de")");
    QTest::newRow("lineEndsDropped")
        << QStringLiteral("line1\r\nline2\x01") << QStringLiteral("\"line1line2\"");
    QTest::newRow("bracketsAndSemicolonKept")
        << QStringLiteral("[/system reboot]; x") << QStringLiteral("\"[/system reboot]; x\"");
    QTest::newRow("nonAsciiKept") << QStringLiteral("Zürich") << QStringLiteral("\"Zürich\"");
}

void TestRouterOs::quotesForRouterOs()
{
    QFETCH(QString, value);
    QFETCH(QString, quoted);
    QCOMPARE(quoteRouterOs(value), quoted);
}

void TestRouterOs::parsesMarkerLines()
{
    const MarkerMap markers = parseMarkers(
        QStringLiteral("junk QM_NOT=1\r\n  QM_A=  first  \r\r\n\nQM_B=x=y\nQM_A=second\n"
                       "QM_EMPTY=\r\nqm_lower=1\r\nQM_NOEQUALS\r\nQM_C =spaced"));
    QCOMPARE(markers.text(QStringLiteral("QM_A")), QStringLiteral("second"));
    QCOMPARE(markers.text(QStringLiteral("QM_B")), QStringLiteral("x=y"));
    QVERIFY(markers.contains(QStringLiteral("QM_EMPTY")));
    QCOMPARE(markers.text(QStringLiteral("QM_EMPTY")), QString());
    QCOMPARE(markers.text(QStringLiteral("QM_C ")), QStringLiteral("spaced"));
    QVERIFY(!markers.contains(QStringLiteral("QM_C")));
    QVERIFY(!markers.contains(QStringLiteral("QM_NOT")));
    QVERIFY(!markers.contains(QStringLiteral("qm_lower")));
    QVERIFY(!markers.contains(QStringLiteral("QM_NOEQUALS")));
    QCOMPARE(markers.size(), 4);

    const MarkerMap first = parseMarkers(QStringLiteral("QM_A=  first  "));
    QCOMPARE(first.text(QStringLiteral("QM_A")), QStringLiteral("first"));
}

void TestRouterOs::joinsDistributedArrayValues_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("value");

    QTest::newRow("one") << QStringLiteral("QM_API_ADDR=192.168.88.0/24")
                         << QStringLiteral("192.168.88.0/24");
    QTest::newRow("two") << QStringLiteral("QM_API_ADDR=192.168.88.0/24;QM_API_ADDR=10.9.0.0/16")
                         << QStringLiteral("192.168.88.0/24,10.9.0.0/16");
    QTest::newRow("three")
        << QStringLiteral("QM_API_ADDR=10.0.0.0/8;QM_API_ADDR=172.16.0.0/12;QM_API_ADDR=fd00::/8")
        << QStringLiteral("10.0.0.0/8,172.16.0.0/12,fd00::/8");
    QTest::newRow("otherKeyKept") << QStringLiteral("QM_NOTE=a;QM_OTHER=b")
                                  << QStringLiteral("a;QM_OTHER=b");
}

void TestRouterOs::joinsDistributedArrayValues()
{
    QFETCH(QString, line);
    QFETCH(QString, value);
    const MarkerMap markers = parseMarkers(line + QStringLiteral("\r\nQM_DONE=1\r\n"));
    const QString key = line.left(line.indexOf(QLatin1Char('=')));
    QCOMPARE(markers.text(key), value);
    QCOMPARE(markers.text(QStringLiteral("QM_DONE")), QStringLiteral("1"));
}

void TestRouterOs::readsCounts_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("count");

    QTest::newRow("number") << QStringLiteral("3") << 3;
    QTest::newRow("negative") << QStringLiteral("-1") << -1;
    QTest::newRow("word") << QStringLiteral("true") << 0;
    QTest::newRow("hexNotDecimal") << QStringLiteral("0x10") << 0;
    QTest::newRow("fraction") << QStringLiteral("1.5") << 0;
    QTest::newRow("outOfRange") << QStringLiteral("2147483648") << 0;
    QTest::newRow("max") << QStringLiteral("2147483647") << 2147483647;
}

void TestRouterOs::readsCounts()
{
    QFETCH(QString, value);
    QFETCH(int, count);
    const MarkerMap markers = parseMarkers(QStringLiteral("QM_N=") + value);
    QCOMPARE(markers.count(QStringLiteral("QM_N")), count);
    QCOMPARE(markers.count(QStringLiteral("QM_ABSENT")), 0);
}

QTEST_GUILESS_MAIN(TestRouterOs)
#include "tst_routeros.moc"

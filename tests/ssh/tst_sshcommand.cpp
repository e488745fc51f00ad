#include "ssh/sshclient.h"

#include <QFile>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

// The ssh command line, its environment and the reading of its complaints, without a router.
class TestSshCommand final : public QObject
{
    Q_OBJECT

private slots:
    void argumentsKeepScriptAsOnePiece();
    void environmentCarriesPasswordOnlyThere();
    void failureText_data();
    void failureText();
    void refusesSignInBeforeAnyProcess_data();
    void refusesSignInBeforeAnyProcess();
    void locatesSshOnPath();
    void missingSshClientIsReported();
    void executeNeedsConnectionAndNoCancel();
};

void TestSshCommand::argumentsKeepScriptAsOnePiece()
{
    const QString script = QStringLiteral(":put \"a;b\"\n/ip address print; :put 'x' $y \\ ü");
    const QStringList expected{
            QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=no"),
            QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=\"/data home/100%%/known_hosts\""),
            QStringLiteral("-o"), QStringLiteral("ConnectTimeout=12"),
            QStringLiteral("-o"), QStringLiteral("NumberOfPasswordPrompts=1"),
            QStringLiteral("-o"), QStringLiteral("PreferredAuthentications=keyboard-interactive,password"),
            QStringLiteral("-o"), QStringLiteral("PubkeyAuthentication=no"),
            QStringLiteral("-o"), QStringLiteral("PasswordAuthentication=yes"),
            QStringLiteral("-o"), QStringLiteral("IdentitiesOnly=yes"),
            QStringLiteral("-o"), QStringLiteral("LogLevel=ERROR"),
            QStringLiteral("-l"), QStringLiteral("admin"),
            QStringLiteral("-p"), QStringLiteral("2222"),
            QStringLiteral("192.168.88.1"),
            script};
    QCOMPARE(sshArguments(QStringLiteral("192.168.88.1"), 2222, QStringLiteral("admin"),
                          QStringLiteral("/data home/100%/known_hosts"), script),
             expected);
}

void TestSshCommand::environmentCarriesPasswordOnlyThere()
{
    QProcessEnvironment base;
    base.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin"));
    base.insert(QStringLiteral("QUILLMOR_SSH_PASS"), QStringLiteral("stale"));
    base.insert(QStringLiteral("DISPLAY"), QStringLiteral(":0"));
    base.insert(QStringLiteral("QUILLMOR_API_KEY"), QStringLiteral("installer-key"));
    base.insert(QStringLiteral("QUILLMOR_BASE_URL"), QStringLiteral("https://127.0.0.1:9"));
    base.insert(QStringLiteral("QUILLMOR_ANYTHING"), QStringLiteral("x"));
    base.insert(QStringLiteral("XQUILLMOR_KEPT"), QStringLiteral("y"));

    const QProcessEnvironment env = sshEnvironment(base, QStringLiteral("pä ss"),
                                                   QStringLiteral("/data/askpass"));
    QCOMPARE(env.value(QStringLiteral("QUILLMOR_SSH_PASS")), QStringLiteral("pä ss"));
    QCOMPARE(env.value(QStringLiteral("SSH_ASKPASS")), QStringLiteral("/data/askpass"));
    QCOMPARE(env.value(QStringLiteral("SSH_ASKPASS_REQUIRE")), QStringLiteral("force"));
    QCOMPARE(env.value(QStringLiteral("DISPLAY")), QStringLiteral("1"));
    QCOMPARE(env.value(QStringLiteral("PATH")), QStringLiteral("/usr/bin"));
    QCOMPARE(env.value(QStringLiteral("XQUILLMOR_KEPT")), QStringLiteral("y"));
    QStringList quillmorKeys = env.keys().filter(QRegularExpression(QStringLiteral("^QUILLMOR_")));
    QCOMPARE(quillmorKeys, QStringList{QStringLiteral("QUILLMOR_SSH_PASS")});
}

void TestSshCommand::failureText_data()
{
    QTest::addColumn<QString>("standardError");
    QTest::addColumn<QString>("standardOutput");
    QTest::addColumn<QString>("expected");

    const QString refused = QStringLiteral("The router refused this username or password.");
    QTest::newRow("first phrase wins over a later one")
            << QStringLiteral("ssh: connect: Connection refused\nadmin@h: Permission denied (password).")
            << QString() << refused;
    QTest::newRow("phrase in any case") << QStringLiteral("AUTHENTICATION FAILED") << QString()
                                        << refused;
    QTest::newRow("phrase found in standard output")
            << QString() << QStringLiteral("ping: Network unreachable")
            << QStringLiteral("This computer cannot reach that IP address.");
    QTest::newRow("banner time-out")
            << QStringLiteral("Connection timed out during banner exchange\r\nConnection to 127.0.0.1 port 22 timed out")
            << QString() << QStringLiteral("The router did not answer. Check the cable and the IP address.");
    QTest::newRow("router output kept, trimmed")
            << QString() << QStringLiteral("  bad command name foo (line 1 column 1)\r\n")
            << QStringLiteral("bad command name foo (line 1 column 1)");
    QTest::newRow("error before output")
            << QStringLiteral("e") << QStringLiteral("o") << QStringLiteral("e\no");
    QTest::newRow("501 characters cut to 500")
            << QString() << QString(500, QLatin1Char('x')) + QLatin1Char('Y')
            << QString(500, QLatin1Char('x'));
    QTest::newRow("echoed command masked")
            << QStringLiteral("ssh: /user set admin password=\"hunter2\"; x password=bare")
            << QString()
            << QStringLiteral("ssh: /user set admin password=\"***\"; x password=***");
    QTest::newRow("nothing at all") << QStringLiteral(" \r\n") << QString()
                                    << QStringLiteral("Could not sign in to the router.");
}

void TestSshCommand::failureText()
{
    QFETCH(QString, standardError);
    QFETCH(QString, standardOutput);
    QFETCH(QString, expected);
    QCOMPARE(sshFailureText(standardError, standardOutput), expected);
}

void TestSshCommand::refusesSignInBeforeAnyProcess_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");

    const QString enter = QStringLiteral("Enter the router address and username.");
    const QString cannotSend =
            QStringLiteral("The router sign-in contains a character this app cannot send.");
    QTest::newRow("empty host") << QString() << QStringLiteral("admin") << QString() << enter;
    QTest::newRow("blank user") << QStringLiteral("192.168.88.1") << QStringLiteral(" \t")
                                << QString() << enter;
    QTest::newRow("blank host and bad password")
            << QStringLiteral("  ") << QStringLiteral("admin") << QStringLiteral("a\nb") << enter;
    QTest::newRow("host with a trailing space")
            << QStringLiteral("192.168.88.1 ") << QStringLiteral("admin") << QString() << cannotSend;
    QTest::newRow("user with a line feed")
            << QStringLiteral("192.168.88.1") << QStringLiteral("ad\nmin") << QString() << cannotSend;
    QTest::newRow("password with a line feed")
            << QStringLiteral("192.168.88.1") << QStringLiteral("admin") << QStringLiteral("pw\n")
            << cannotSend;
    QTest::newRow("password with a carriage return")
            << QStringLiteral("192.168.88.1") << QStringLiteral("admin") << QStringLiteral("p\rw")
            << cannotSend;
    QTest::newRow("host read as an ssh option")
            << QStringLiteral("-oProxyCommand=touch%20/tmp/pwned") << QStringLiteral("admin")
            << QString() << cannotSend;
    QTest::newRow("user read as an ssh option")
            << QStringLiteral("192.168.88.1") << QStringLiteral("-oProxyCommand=id") << QString()
            << cannotSend;
}

void TestSshCommand::refusesSignInBeforeAnyProcess()
{
    QFETCH(QString, host);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, expected);

    SshClient client;
    QString error;
    QVERIFY(!client.connectToRouter(host, 22, user, password, &error));
    QCOMPARE(error, expected);
    QVERIFY(!client.isConnected());
}

void TestSshCommand::locatesSshOnPath()
{
    QTemporaryDir empty;
    QTemporaryDir bin;
    QVERIFY(empty.isValid() && bin.isValid());
    QFile ssh(bin.filePath(QStringLiteral("ssh")));
    QVERIFY(ssh.open(QIODevice::WriteOnly));
    QVERIFY(ssh.write("#!/bin/sh\nexit 0\n") > 0);
    ssh.close();
    QVERIFY(ssh.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                               | QFileDevice::ExeOwner));

    // The first folder of PATH that holds it wins, as the shell would choose; the result is an
    // absolute path so that the sign-in's existence check means something.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty.path().toLocal8Bit() + ':' + bin.path().toLocal8Bit() + ":/usr/bin");
    const QString located = locateSsh();
    qputenv("PATH", path);
    QCOMPARE(located, ssh.fileName());
}

void TestSshCommand::missingSshClientIsReported()
{
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    const QString located = locateSsh();
    SshClient client;
    QString error;
    const bool connected = client.connectToRouter(QStringLiteral("127.0.0.1"), 22,
                                                  QStringLiteral("admin"), QString(), &error);
    qputenv("PATH", path);
    QVERIFY(!connected);
    QCOMPARE(located, QStringLiteral("ssh"));
    QCOMPARE(error, QStringLiteral("The OpenSSH client (ssh) is not installed. Install it with the "
                                   "system's package manager."));
}

void TestSshCommand::executeNeedsConnectionAndNoCancel()
{
    SshClient client;
    QString out = QStringLiteral("untouched");
    QString err;
    QVERIFY(!client.execute(QStringLiteral(":put 1"), &out, &err, 1000));
    QCOMPARE(err, QStringLiteral("Not connected to the router."));

    const std::atomic_bool cancel{true};
    client.setCancelFlag(&cancel);
    QVERIFY(!client.execute(QStringLiteral(":put 1"), &out, &err, 1000));
    QCOMPARE(err, QStringLiteral("Cancelled."));
    QCOMPARE(out, QStringLiteral("untouched"));
}

QTEST_GUILESS_MAIN(TestSshCommand)
#include "tst_sshcommand.moc"

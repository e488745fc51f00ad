#include "ssh/askpasshelper.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Finding, writing and building the program that hands the router password to OpenSSH.
class TestAskpassHelper final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void findsShippedHelper_data();
    void findsShippedHelper();
    void writtenHelperPrintsPasswordUnchanged_data();
    void writtenHelperPrintsPasswordUnchanged();
    void existingHelperIsReusedAsIs();
    void compilesWithTheFiveArgumentsOnce();
    void sourceIsTheHelperProgram();
    void rivalCopysHelperIsKept_data();
    void rivalCopysHelperIsKept();
    void failedBuildReportsDetailAndLeavesNoProgram_data();
    void failedBuildReportsDetailAndLeavesNoProgram();
    void missingCompilerIsReported();

private:
    [[nodiscard]] QString dataFolder() const;
    [[nodiscard]] QString fakeCompiler() const;

    QTemporaryDir m_tools;
};

namespace {

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestAskpassHelper::initTestCase()
{
    QVERIFY(m_tools.isValid());
    // Stands in for csc.exe: records its arguments and behaves as FAKE_CSC_MODE says.
    QFile script(fakeCompiler());
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n"
                 "printf '%s\\n' \"$@\" >> \"$FAKE_CSC_LOG\"\n"
                 "out=''\n"
                 "for a in \"$@\"; do case \"$a\" in /out:*) out=\"${a#/out:}\";; esac; done\n"
                 "case \"$FAKE_CSC_MODE\" in\n"
                 "  ok) printf 'built' > \"$out\"; exit 0;;\n"
                 "  partial) printf 'half' > \"$out\"; printf '  error CS1002: ; expected \\n' >&2; exit 1;;\n"
                 "  stdout) printf 'half' > \"$out\"; echo 'error CS0116 on stdout'; exit 4;;\n"
                 "  long) printf '%s' \"$FAKE_CSC_TEXT\" >&2; exit 1;;\n"
                 "  nofile) exit 0;;\n"
                 "  rival) printf 'theirs' > \"$FAKE_CSC_FINAL\"; printf 'built' > \"$out\"; exit 0;;\n"
                 "  keepsource) cp \"$5\" \"${FAKE_CSC_LOG%/*}/source.cs\"; printf 'built' > \"$out\"; exit 0;;\n"
                 "  rivalfail) printf 'theirs' > \"$FAKE_CSC_FINAL\"; exit 1;;\n"
                 "esac\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner));
    qputenv("FAKE_CSC_LOG", m_tools.filePath(QStringLiteral("csc.log")).toLocal8Bit());
}

void TestAskpassHelper::init()
{
    QDir(dataFolder()).removeRecursively();
    QFile::remove(m_tools.filePath(QStringLiteral("csc.log")));
    setAskpassCompilerLocations({});
}

void TestAskpassHelper::cleanup()
{
    setAskpassCompilerLocations({});
}

QString TestAskpassHelper::dataFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString TestAskpassHelper::fakeCompiler() const
{
    return m_tools.filePath(QStringLiteral("csc"));
}

void TestAskpassHelper::findsShippedHelper_data()
{
    QTest::addColumn<QStringList>("helpers"); // relative to the tree's root
    QTest::addColumn<QString>("expected");    // empty: none is found

    const QString app = QStringLiteral("a/b/c/d/e/f/app");
    QTest::newRow("next to the application") << QStringList{app + QStringLiteral("/askpass")}
                                             << app + QStringLiteral("/askpass");
    QTest::newRow("in tools/ next to it") << QStringList{app + QStringLiteral("/tools/askpass")}
                                          << app + QStringLiteral("/tools/askpass");
    QTest::newRow("own folder before tools/")
            << QStringList{app + QStringLiteral("/tools/askpass"), app + QStringLiteral("/askpass")}
            << app + QStringLiteral("/askpass");
    // A folder above the program may be writable by every local user (an archive unpacked
    // below /tmp), so a planted helper there must never be run.
    QTest::newRow("parent folder is not searched")
            << QStringList{QStringLiteral("a/b/c/d/e/f/askpass")} << QString();
    QTest::newRow("tools/ of the parent is not searched")
            << QStringList{QStringLiteral("a/b/c/d/e/f/tools/askpass"), QStringLiteral("a/askpass")}
            << QString();
}

void TestAskpassHelper::findsShippedHelper()
{
    QFETCH(QStringList, helpers);
    QFETCH(QString, expected);

    QTemporaryDir outer;
    const QDir root(outer.filePath(QStringLiteral("root")));
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("a/b/c/d/e/f/app"))));
    for (const QString &helper : helpers)
        QVERIFY(touch(root.filePath(helper)));

    const QString found = findAskpassHelperNear(root.filePath(QStringLiteral("a/b/c/d/e/f/app")));
    QCOMPARE(found, expected.isEmpty() ? QString() : QFileInfo(root.filePath(expected)).absoluteFilePath());
}

void TestAskpassHelper::writtenHelperPrintsPasswordUnchanged_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("empty") << QString();
    QTest::newRow("looks like an option") << QStringLiteral("-n");
    QTest::newRow("printf and shell syntax") << QStringLiteral("%s %d \\n $HOME `id` $(id) '\"");
    QTest::newRow("tabs and non-ASCII") << QStringLiteral("p\tä ß ✓ 🔑");
}

void TestAskpassHelper::writtenHelperPrintsPasswordUnchanged()
{
    QFETCH(QString, password);

    QString error;
    const QString helper = prepareAskpassHelper(&error);
    QCOMPARE(helper, QDir(dataFolder()).absoluteFilePath(QStringLiteral("askpass")));
    const QFileDevice::Permissions permissions = QFile::permissions(helper);
    const QFileDevice::Permissions owner =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
            | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther
            | QFileDevice::ExeOther;
    QCOMPARE(permissions & owner, owner);
    QCOMPARE(permissions & others, QFileDevice::Permissions());
    QCOMPARE(QFile::permissions(dataFolder()) & others, QFileDevice::Permissions());
    QCOMPARE(QDir(dataFolder()).entryList(QDir::Files), QStringList{QStringLiteral("askpass")});

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLMOR_SSH_PASS"), password);
    process.setProcessEnvironment(env);
    process.start(helper, {QStringLiteral("admin@192.168.88.1's password: ")});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardOutput(), password.toUtf8() + '\n');
}

void TestAskpassHelper::existingHelperIsReusedAsIs()
{
    const QString helper = QDir(dataFolder()).absoluteFilePath(QStringLiteral("askpass"));
    QVERIFY(touch(helper));
    setAskpassCompilerLocations({fakeCompiler()});
    qputenv("FAKE_CSC_MODE", "ok");

    QString error;
    QCOMPARE(prepareAskpassHelper(&error), helper);
    QCOMPARE(readAll(helper), QByteArray("x"));
    QVERIFY(!QFile::exists(m_tools.filePath(QStringLiteral("csc.log"))));
}

void TestAskpassHelper::compilesWithTheFiveArgumentsOnce()
{
    setAskpassCompilerLocations({m_tools.filePath(QStringLiteral("absent/csc")), fakeCompiler()});
    qputenv("FAKE_CSC_MODE", "ok");
    const QDir data(dataFolder());
    const QString helper = data.absoluteFilePath(QStringLiteral("askpass"));

    QString error;
    QCOMPARE(prepareAskpassHelper(&error), helper);
    QCOMPARE(prepareAskpassHelper(&error), helper);
    QCOMPARE(readAll(helper), QByteArray("built"));

    // The program is built under a name of its own and then moved into place, so a second copy
    // of the app never finds, runs or removes a half-written one.
    const QList<QByteArray> args = readAll(m_tools.filePath(QStringLiteral("csc.log"))).split('\n');
    QCOMPARE(args.size(), 6);
    QCOMPARE(args.mid(0, 3), (QList<QByteArray>{"/nologo", "/optimize+", "/target:exe"}));
    const QString out = QString::fromLocal8Bit(args.at(3).mid(5));
    const QString source = QString::fromLocal8Bit(args.at(4));
    QVERIFY(args.at(3).startsWith("/out:"));
    QCOMPARE(QFileInfo(out).absolutePath(), data.absolutePath());
    QVERIFY(out != helper);
    QVERIFY(out.endsWith(QLatin1String(".exe")));
    QCOMPARE(QFileInfo(source).absolutePath(), data.absolutePath());
    QVERIFY(source.endsWith(QLatin1String(".cs")));
    QCOMPARE(data.entryList(QDir::Files), QStringList{QStringLiteral("askpass")});
}

void TestAskpassHelper::sourceIsTheHelperProgram()
{
    setAskpassCompilerLocations({fakeCompiler()});
    qputenv("FAKE_CSC_MODE", "keepsource");
    QString error;
    QVERIFY(!prepareAskpassHelper(&error).isEmpty());
    QCOMPARE(readAll(m_tools.filePath(QStringLiteral("source.cs"))),
             QByteArray("using System;\r\n"
                        "using System.Text;\r\n"
                        "class P {\r\n"
                        "  static void Main() {\r\n"
                        "    Console.OutputEncoding = new UTF8Encoding(false);\r\n"
                        "    string p = Environment.GetEnvironmentVariable(\"QUILLMOR_SSH_PASS\");\r\n"
                        "    if (p == null) p = \"\";\r\n"
                        "    Console.Out.WriteLine(p);\r\n"
                        "  }\r\n"
                        "}\r\n"));
}

void TestAskpassHelper::rivalCopysHelperIsKept_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<bool>("ok");
    QTest::newRow("both built") << QByteArray("rival") << true;
    QTest::newRow("ours failed") << QByteArray("rivalfail") << false;
}

void TestAskpassHelper::rivalCopysHelperIsKept()
{
    QFETCH(QByteArray, mode);
    QFETCH(bool, ok);

    // Another copy of the app finishes its helper while this one is compiling.
    const QString helper = QDir(dataFolder()).absoluteFilePath(QStringLiteral("askpass"));
    setAskpassCompilerLocations({fakeCompiler()});
    qputenv("FAKE_CSC_MODE", mode);
    qputenv("FAKE_CSC_FINAL", QFile::encodeName(helper));

    QString error;
    QCOMPARE(prepareAskpassHelper(&error), ok ? helper : QString());
    QCOMPARE(readAll(helper), QByteArray("theirs"));
    QCOMPARE(QDir(dataFolder()).entryList(QDir::Files), QStringList{QStringLiteral("askpass")});
}

void TestAskpassHelper::failedBuildReportsDetailAndLeavesNoProgram_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    const QString prefix = QStringLiteral("Could not build the router sign-in helper. ");
    QTest::newRow("diagnostics on stderr, partial program")
            << QByteArray("partial") << QByteArray() << prefix + QStringLiteral("error CS1002: ; expected");
    // Only standard error is read, so the process's own description is all there is.
    QTest::newRow("diagnostics only on stdout")
            << QByteArray("stdout") << QByteArray() << prefix + QStringLiteral("Unknown error");
    QTest::newRow("exit 0 without a program")
            << QByteArray("nofile") << QByteArray() << prefix + QStringLiteral("Unknown error");
    QTest::newRow("301 characters cut to 300")
            << QByteArray("long") << QByteArray(300, 'e') + 'X' << prefix + QString(300, QLatin1Char('e'));
}

void TestAskpassHelper::failedBuildReportsDetailAndLeavesNoProgram()
{
    QFETCH(QByteArray, mode);
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    setAskpassCompilerLocations({fakeCompiler()});
    qputenv("FAKE_CSC_MODE", mode);
    qputenv("FAKE_CSC_TEXT", text);

    QString error;
    QCOMPARE(prepareAskpassHelper(&error), QString());
    QCOMPARE(error, expected);
    QCOMPARE(QDir(dataFolder()).entryList(QDir::Files), QStringList());

    // The next sign-in builds again instead of reusing a broken program.
    qputenv("FAKE_CSC_MODE", "ok");
    QVERIFY(!prepareAskpassHelper(&error).isEmpty());
}

void TestAskpassHelper::missingCompilerIsReported()
{
    setAskpassCompilerLocations({m_tools.filePath(QStringLiteral("absent/csc"))});
    QString error;
    QCOMPARE(prepareAskpassHelper(&error), QString());
    QCOMPARE(error, QStringLiteral("Windows could not build the router sign-in helper because the "
                                   ".NET compiler is missing."));
}

QTEST_GUILESS_MAIN(TestAskpassHelper)
#include "tst_askpasshelper.moc"

#include "api/quillmorapi.h"
#include "api/servicedefaults.h"
#include "api/settingssearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestSettingsSearch final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void findsFileWithinFiveAncestors_data();
    void findsFileWithinFiveAncestors();
    void prefersExecutableFolderOverWorkingFolder();

    void skipsFilesOthersCouldWrite_data();
    void skipsFilesOthersCouldWrite();
    void skipsFileOfAnotherUser();
    void fixedFilesComeAfterBothChains();
    void clientReadsPerUserConfigurationFile();

    void appliesPrecedence_data();
    void appliesPrecedence();

private:
    static void writeFile(const QString &path, const QByteArray &content);

    QTemporaryDir m_root;
    QString m_originalDir;
};

void TestSettingsSearch::initTestCase()
{
    QVERIFY(m_root.isValid());
    m_originalDir = QDir::currentPath();
}

void TestSettingsSearch::cleanup()
{
    QDir::setCurrent(m_originalDir);
    qunsetenv("QUILLMOR_BASE_URL");
    qunsetenv("QUILLMOR_API_KEY");
}

void TestSettingsSearch::writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

void TestSettingsSearch::findsFileWithinFiveAncestors_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("workingRelative");
    QTest::addColumn<bool>("found");

    QTest::newRow("next to the executable") << 0 << QString() << true;
    QTest::newRow("five levels up") << 5 << QString() << true;
    QTest::newRow("six levels up is out of reach") << 6 << QString() << false;
    QTest::newRow("six levels up, reached from the working folder")
        << 6 << QStringLiteral("l1/l2") << true;
}

void TestSettingsSearch::findsFileWithinFiveAncestors()
{
    QFETCH(int, depth);
    QFETCH(QString, workingRelative);
    QFETCH(bool, found);

    const QString top = m_root.filePath(QStringLiteral("depth-%1").arg(depth));
    QString executableDir = top;
    for (int level = 1; level <= depth; ++level)
        executableDir += QStringLiteral("/l%1").arg(level);
    QVERIFY(QDir().mkpath(executableDir));
    writeFile(top + QStringLiteral("/quillmor.ini"), "[quillmor]\n");

    QTemporaryDir elsewhere;
    const QString workingDir =
        workingRelative.isEmpty() ? elsewhere.path() : top + QLatin1Char('/') + workingRelative;
    const QString result = findSettingsFile(executableDir, workingDir);
    QCOMPARE(result.isEmpty(), !found);
    if (found)
        QCOMPARE(QFileInfo(result).canonicalFilePath(),
                 QFileInfo(top + QStringLiteral("/quillmor.ini")).canonicalFilePath());
}

void TestSettingsSearch::prefersExecutableFolderOverWorkingFolder()
{
    const QString executableDir = m_root.filePath(QStringLiteral("both/app/bin"));
    const QString workingDir = m_root.filePath(QStringLiteral("both/work"));
    writeFile(m_root.filePath(QStringLiteral("both/app/quillmor.ini")), "[quillmor]\n");
    writeFile(workingDir + QStringLiteral("/quillmor.ini"), "[quillmor]\n");
    QVERIFY(QDir().mkpath(executableDir));

    QCOMPARE(
        QFileInfo(findSettingsFile(executableDir, workingDir)).canonicalFilePath(),
        QFileInfo(m_root.filePath(QStringLiteral("both/app/quillmor.ini"))).canonicalFilePath());
}

void TestSettingsSearch::skipsFilesOthersCouldWrite_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("fileMode");
    QTest::addColumn<bool>("trusted");

    QTest::newRow("owner only") << 0755 << 0644 << true;
    QTest::newRow("read-only file") << 0700 << 0400 << true;
    QTest::newRow("folder writable by all, like /tmp") << 01777 << 0644 << false;
    QTest::newRow("folder writable by the group") << 0775 << 0644 << false;
    QTest::newRow("file writable by all") << 0755 << 0666 << false;
    QTest::newRow("file writable by the group") << 0755 << 0664 << false;
}

void TestSettingsSearch::skipsFilesOthersCouldWrite()
{
    QFETCH(int, folderMode);
    QFETCH(int, fileMode);
    QFETCH(bool, trusted);

    // A planted file is passed over, and the search goes on to the next place.
    QTemporaryDir dir;
    const QString executableDir = dir.filePath(QStringLiteral("shared/app"));
    const QString planted = dir.filePath(QStringLiteral("shared/quillmor.ini"));
    const QString own = dir.filePath(QStringLiteral("work/quillmor.ini"));
    writeFile(planted, "[quillmor]\n");
    writeFile(own, "[quillmor]\n");
    QVERIFY(QDir().mkpath(executableDir));
    QCOMPARE(::chmod(QFile::encodeName(planted).constData(), mode_t(fileMode)), 0);
    QCOMPARE(::chmod(QFile::encodeName(QFileInfo(planted).absolutePath()).constData(),
                     mode_t(folderMode)),
             0);

    QCOMPARE(isTrustedSettingsFile(planted), trusted);
    QCOMPARE(findSettingsFile(executableDir, QFileInfo(own).absolutePath(), {}),
             trusted ? planted : own);
    QCOMPARE(::chmod(QFile::encodeName(QFileInfo(planted).absolutePath()).constData(), 0755), 0);
}

void TestSettingsSearch::skipsFileOfAnotherUser()
{
    if (::getuid() != 0)
        QSKIP("Handing a file to another user needs root (CI runs as root).");
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("quillmor.ini"));
    writeFile(file, "[quillmor]\n");
    QVERIFY(isTrustedSettingsFile(file));
    QCOMPARE(::chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
    QVERIFY(!isTrustedSettingsFile(file));
    QCOMPARE(::chown(QFile::encodeName(file).constData(), 0, 0), 0);
    QCOMPARE(::chown(QFile::encodeName(dir.path()).constData(), 65534, 65534), 0);
    QVERIFY(!isTrustedSettingsFile(file));
}

void TestSettingsSearch::fixedFilesComeAfterBothChains()
{
    QTemporaryDir dir;
    const QString executableDir = dir.filePath(QStringLiteral("app"));
    const QString workingDir = dir.filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(executableDir));
    QVERIFY(QDir().mkpath(workingDir));
    const QString open = dir.filePath(QStringLiteral("open/quillmor.ini"));
    const QString user = dir.filePath(QStringLiteral("user/quillmor.ini"));
    const QString system = dir.filePath(QStringLiteral("system/quillmor.ini"));
    writeFile(open, "[quillmor]\n");
    writeFile(user, "[quillmor]\n");
    writeFile(system, "[quillmor]\n");
    QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0666), 0);
    const QStringList fixed{dir.filePath(QStringLiteral("absent/quillmor.ini")), open, user, system};

    QCOMPARE(findSettingsFile(executableDir, workingDir, fixed), user);
    writeFile(workingDir + QStringLiteral("/quillmor.ini"), "[quillmor]\n");
    QCOMPARE(findSettingsFile(executableDir, workingDir, fixed),
             workingDir + QStringLiteral("/quillmor.ini"));

    QVERIFY(fixedSettingsFiles().contains(QStringLiteral("/etc/xdg/Quillmor/quillmor.ini")));
    QCOMPARE(fixedSettingsFiles().constLast(), QStringLiteral("/etc/xdg/Quillmor/quillmor.ini"));
}

void TestSettingsSearch::clientReadsPerUserConfigurationFile()
{
    QTemporaryDir nowhere;
    if (!findSettingsFile(QCoreApplication::applicationDirPath(), nowhere.path(), {}).isEmpty())
        QSKIP("A quillmor.ini near the test executable would take part in every client.");
    QVERIFY(QDir::setCurrent(nowhere.path()));
    const QString file = fixedSettingsFiles().constFirst();
    QVERIFY(file.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)));
    writeFile(file, "[quillmor]\nbaseUrl=https://user.example\napiKey=userkey\n");
    const auto remove = qScopeGuard([&file] { QFile::remove(file); });

    QuillmorApi api;
    QCOMPARE(api.baseUrl(), QStringLiteral("https://user.example"));
    QVERIFY(api.hasApiKey());
}

void TestSettingsSearch::appliesPrecedence_data()
{
    QTest::addColumn<QByteArray>("file");       // empty: no settings file at all
    QTest::addColumn<QByteArray>("envBaseUrl"); // "-": unset
    QTest::addColumn<QByteArray>("envApiKey");
    QTest::addColumn<QString>("baseUrl");
    QTest::addColumn<bool>("hasKey");

    const QByteArray unset = "-";
    const QString fallback = defaultServiceBaseUrl();
    const QByteArray full =
        "[quillmor]\nbaseUrl=\"  https://file.example/billing  \"\napiKey=filekey\n";

    QTest::newRow("nothing anywhere") << QByteArray() << unset << unset << fallback << false;
    QTest::newRow("file values, trimmed")
        << full << unset << unset << QStringLiteral("https://file.example/billing") << true;
    QTest::newRow("environment over file")
        << full << QByteArray(" https://env.example ") << QByteArray("envkey")
        << QStringLiteral("https://env.example") << true;
    QTest::newRow("empty variables change nothing")
        << full << QByteArray("") << QByteArray("")
        << QStringLiteral("https://file.example/billing") << true;
    QTest::newRow("blank environment base URL ends at default")
        << full << QByteArray("   ") << unset << fallback << true;
    QTest::newRow("blank environment key clears the file's key")
        << full << unset << QByteArray("  ") << QStringLiteral("https://file.example/billing")
        << false;
    QTest::newRow("blank file base URL keeps default")
        << QByteArray("[quillmor]\nbaseUrl=\"   \"\n") << unset << unset << fallback << false;
    QTest::newRow("lone slash becomes default")
        << QByteArray("[quillmor]\nbaseUrl=/\n") << unset << unset << fallback << false;
    QTest::newRow("three trailing slashes go")
        << QByteArray("[quillmor]\nbaseUrl=https://x.example///\n") << unset << unset
        << QStringLiteral("https://x.example") << false;
    QTest::newRow("environment path keeps its path")
        << QByteArray() << QByteArray("https://x.example/api/") << unset
        << QStringLiteral("https://x.example/api") << false;
    QTest::newRow("http is accepted here")
        << QByteArray() << QByteArray("http://127.0.0.1:8080") << QByteArray("k")
        << QStringLiteral("http://127.0.0.1:8080") << true;
}

void TestSettingsSearch::appliesPrecedence()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, envBaseUrl);
    QFETCH(QByteArray, envApiKey);
    QFETCH(QString, baseUrl);
    QFETCH(bool, hasKey);

    QTemporaryDir nowhere;
    if (!findSettingsFile(QCoreApplication::applicationDirPath(), nowhere.path()).isEmpty())
        QSKIP("A quillmor.ini near the test executable would take part in every client.");

    QTemporaryDir working;
    if (!file.isEmpty())
        writeFile(working.filePath(QStringLiteral("quillmor.ini")), file);
    QVERIFY(QDir::setCurrent(file.isEmpty() ? nowhere.path() : working.path()));
    if (envBaseUrl != "-")
        qputenv("QUILLMOR_BASE_URL", envBaseUrl);
    if (envApiKey != "-")
        qputenv("QUILLMOR_API_KEY", envApiKey);

    QuillmorApi api;
    QCOMPARE(api.baseUrl(), baseUrl);
    QCOMPARE(api.hasApiKey(), hasKey);
}

QTEST_GUILESS_MAIN(TestSettingsSearch)
#include "tst_settingssearch.moc"

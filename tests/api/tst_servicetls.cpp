#include "api/quillmorapi.h"
#include "billingsim.h"
#include "billingsimcertificate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kAccount = QStringLiteral("555001");
const QString kApiKey = QStringLiteral("tls-key");

QJsonObject scenario()
{
    return QJsonObject{
        {QStringLiteral("api_key"), kApiKey},
        {QStringLiteral("accounts"),
         QJsonArray{QJsonObject{{QStringLiteral("number"), kAccount},
                                {QStringLiteral("code"), QStringLiteral("111222")}}}}};
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

// The service client trusts a service whose certificate comes from a provider's own authority
// only when that authority's certificate is named in the settings, and never through anything
// else; a real TLS handshake against the simulator's throwaway certificate decides each case.
class TestServiceTls final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void trustsServiceOnlyWithItsCaFile_data();
    void trustsServiceOnlyWithItsCaFile();

private:
    BillingSim m_sim;
    BillingSimCertificate m_stranger; // a certificate of another authority
    QTemporaryDir m_working;
    QString m_originalDir;
};

void TestServiceTls::initTestCase()
{
    QString error;
    QVERIFY2(m_sim.enableHttps(&error), qPrintable(error));
    QVERIFY2(m_sim.start(scenario(), 0, &error), qPrintable(error));
    QVERIFY(m_sim.baseUrl().startsWith(QLatin1String("https://127.0.0.1:")));
    QVERIFY2(m_stranger.generate(QString(), &error), qPrintable(error));
    QVERIFY(m_working.isValid());
    m_originalDir = QDir::currentPath();
}

void TestServiceTls::init()
{
    QDir exeDir(QCoreApplication::applicationDirPath());
    for (int i = 0; i < 6; ++i) {
        if (QFileInfo::exists(exeDir.filePath(QStringLiteral("quillmor.ini"))))
            QSKIP("A quillmor.ini near the test executable would take part in every client.");
        if (!exeDir.cdUp())
            break;
    }
    // The program runs one folder below quillmor.ini, so a name relative to the working folder
    // and one relative to the file's own folder lead to different places.
    QVERIFY(QDir(m_working.path()).mkpath(QStringLiteral("app")));
    QVERIFY(QDir::setCurrent(m_working.filePath(QStringLiteral("app"))));
    qputenv("QUILLMOR_BASE_URL", m_sim.baseUrl().toUtf8());
    qputenv("QUILLMOR_API_KEY", kApiKey.toUtf8());
    m_sim.clearRequests();
}

void TestServiceTls::cleanup()
{
    qunsetenv("QUILLMOR_BASE_URL");
    qunsetenv("QUILLMOR_API_KEY");
    qunsetenv("QUILLMOR_CA_FILE");
    QFile::remove(m_working.filePath(QStringLiteral("quillmor.ini")));
    QDir::setCurrent(m_originalDir);
}

void TestServiceTls::trustsServiceOnlyWithItsCaFile_data()
{
    // "sim" stands for the simulator's certificate ("der" for it in DER form), "stranger" for
    // another authority's, "text" for a file that holds no certificate; file values are written to
    // quillmor.ini as they stand, so a bare name is relative to the folder of that file.
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("settingsFile");
    QTest::addColumn<bool>("trusted");

    QTest::newRow("no CA file") << QString() << QString() << false;
    QTest::newRow("environment") << QStringLiteral("sim") << QString() << true;
    QTest::newRow("environment, DER") << QStringLiteral("der") << QString() << true;
    QTest::newRow("settings file, relative") << QString() << QStringLiteral("sim.pem") << true;
    QTest::newRow("settings file, absolute") << QString() << QStringLiteral("/sim") << true;
    QTest::newRow("another authority") << QStringLiteral("stranger") << QString() << false;
    QTest::newRow("environment over file")
        << QStringLiteral("stranger") << QStringLiteral("sim.pem") << false;
    QTest::newRow("environment of blanks clears the file")
        << QStringLiteral("   ") << QStringLiteral("sim.pem") << false;
    QTest::newRow("no certificate in the file") << QStringLiteral("text") << QString() << false;
    QTest::newRow("missing file") << QStringLiteral("missing") << QString() << false;
}

void TestServiceTls::trustsServiceOnlyWithItsCaFile()
{
    QFETCH(QString, environment);
    QFETCH(QString, settingsFile);
    QFETCH(bool, trusted);

    const QString simPem = m_working.filePath(QStringLiteral("sim.pem"));
    const QString textFile = m_working.filePath(QStringLiteral("notes.txt"));
    QVERIFY(copyFile(m_sim.certificateFile(), simPem));
    QVERIFY(writeFile(textFile, "not a certificate\n"));
    const QString simDer = m_working.filePath(QStringLiteral("sim.der"));
    const QList<QSslCertificate> simCertificates = QSslCertificate::fromPath(simPem);
    QCOMPARE(simCertificates.size(), 1);
    QVERIFY(writeFile(simDer, simCertificates.first().toDer()));
    const QHash<QString, QString> paths{
        {QStringLiteral("sim"), simPem},
        {QStringLiteral("/sim"), simPem},
        {QStringLiteral("der"), simDer},
        {QStringLiteral("stranger"), m_stranger.certificateFile()},
        {QStringLiteral("text"), textFile},
        {QStringLiteral("missing"), m_working.filePath(QStringLiteral("gone.pem"))}};

    if (!environment.isEmpty())
        qputenv("QUILLMOR_CA_FILE", paths.value(environment, environment).toUtf8());
    if (!settingsFile.isEmpty()) {
        const QString value = paths.value(settingsFile, settingsFile);
        QVERIFY(writeFile(m_working.filePath(QStringLiteral("quillmor.ini")),
                          "[quillmor]\ncaFile=" + value.toUtf8() + "\n"));
    }

    QuillmorApi api;
    QString error;
    const bool ok = api.requestCode(kAccount, &error);
    if (trusted) {
        QVERIFY2(ok, qPrintable(error));
        QCOMPARE(m_sim.requests().size(), 1);
        return;
    }
    QVERIFY(!ok);
    // The handshake fails before a request is sent, and the network layer's own words follow
    // the client's sentence.
    const QString prefix =
        QStringLiteral("Cannot reach Quillmor at %1. Check this computer's internet. ")
            .arg(m_sim.baseUrl());
    QVERIFY2(error.startsWith(prefix), qPrintable(error));
    QVERIFY2(error.mid(prefix.size()).startsWith(QLatin1String("SSL handshake failed")),
             qPrintable(error));
    QVERIFY(m_sim.requests().isEmpty());
}

QTEST_GUILESS_MAIN(TestServiceTls)
#include "tst_servicetls.moc"

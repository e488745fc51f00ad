#include "billingsimcertificate.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

namespace {

const QString kCertificateName = QStringLiteral("billing-sim.crt");
const QString kKeyName = QStringLiteral("billing-sim.key");
constexpr int kOpensslTimeoutMs = 30000;

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

bool BillingSimCertificate::generate(const QString &folder, QString *error)
{
    if (folder.isEmpty()) {
        m_temporary = std::make_unique<QTemporaryDir>();
        if (!m_temporary->isValid())
            return fail(error, QStringLiteral("Cannot make a temporary folder for the simulator's "
                                              "certificate."));
        m_folder = m_temporary->path();
    } else if (QDir().mkpath(folder)) {
        m_folder = QDir(folder).absolutePath();
    } else {
        return fail(error, QStringLiteral("Cannot make the folder %1.").arg(folder));
    }
    const QString certificatePath = QDir(m_folder).filePath(kCertificateName);
    const QString keyPath = QDir(m_folder).filePath(kKeyName);

    // A day is enough for any test or demo run. The address is both the common name and the
    // alternative name, as TLS clients match an IP address against either.
    const QStringList arguments{QStringLiteral("req"),
                                QStringLiteral("-x509"),
                                QStringLiteral("-newkey"),
                                QStringLiteral("ec"),
                                QStringLiteral("-pkeyopt"),
                                QStringLiteral("ec_paramgen_curve:prime256v1"),
                                QStringLiteral("-nodes"),
                                QStringLiteral("-days"),
                                QStringLiteral("1"),
                                QStringLiteral("-subj"),
                                QStringLiteral("/CN=127.0.0.1"),
                                QStringLiteral("-addext"),
                                QStringLiteral("subjectAltName=IP:127.0.0.1"),
                                QStringLiteral("-keyout"),
                                keyPath,
                                QStringLiteral("-out"),
                                certificatePath};
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForStarted(kOpensslTimeoutMs))
        return fail(error, QStringLiteral("Cannot run openssl to make the simulator's "
                                          "certificate: %1")
                               .arg(openssl.errorString()));
    if (!openssl.waitForFinished(kOpensslTimeoutMs) ||
        openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        return fail(error, QStringLiteral("openssl could not make the simulator's certificate: %1")
                               .arg(QString::fromLocal8Bit(openssl.readAll()).trimmed()));

    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certificatePath);
    QFile keyFile(keyPath);
    if (certificates.size() != 1 || !keyFile.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("openssl did not write the simulator's certificate."));
    const QSslKey key(&keyFile, QSsl::Ec);
    if (key.isNull())
        return fail(error, QStringLiteral("openssl did not write the simulator's key."));
    m_certificate = certificates.first();
    m_key = key;
    return true;
}

QString BillingSimCertificate::certificateFile() const
{
    return m_certificate.isNull() ? QString() : QDir(m_folder).filePath(kCertificateName);
}

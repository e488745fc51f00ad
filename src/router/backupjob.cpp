#include "backupjob.h"

#include "routeros.h"
#include "routertask.h"
#include "ssh/sshclient.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

const char kFolderName[] = "Quillmor backups";
const char kIdentityScript[] = ":put (\"QM_IDENTITY=\" . [/system identity get name])";
// "terse" keeps one command per line; RouterOS 7 leaves sensitive values out unless asked.
const char kExportScript[] = "/export terse";

const char kReadingLabel[] = "Saving a backup of the router's configuration...";
const char kSaved[] = "Saved the router's configuration to %1.";
const char kExportFailed[] = "Could not read the router's configuration for a backup, so "
                             "nothing was changed.";
const char kFolderFailed[] = "Could not create the backup folder %1.";
const char kWriteFailed[] = "Could not save the router backup to %1.";

constexpr int kIdentityTimeoutMs = 20000;
constexpr int kExportTimeoutMs = 90000;
constexpr int kMaxSameMinute = 99;

} // namespace

QString defaultBackupFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QLatin1String(kFolderName));
}

QString backupFileName(const QString &identity, const QDateTime &when)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    QString base = identity.trimmed();
    base.replace(unsafe, QStringLiteral("_"));
    // A name of dots alone would be "." or ".." on the way to the folder.
    if (base.isEmpty() || base.count(QLatin1Char('.')) == base.size())
        base = QStringLiteral("router");
    return base + QLatin1Char('-') + when.toString(QStringLiteral("yyyy-MM-dd-HHmm")) +
           QStringLiteral(".rsc");
}

bool writeBackupFile(const QString &folder, const QString &identity, const QDateTime &when,
                     const QByteArray &content, QString *path, QString *error)
{
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        if (error)
            *error = QString::fromLatin1(kFolderFailed).arg(QDir::toNativeSeparators(folder));
        return false;
    }
    const QString name = backupFileName(identity, when);
    const QString stem = name.chopped(4);
    for (int n = 1; n <= kMaxSameMinute; ++n) {
        const QString candidate = dir.filePath(
            n == 1 ? name : stem + QLatin1Char('-') + QString::number(n) + QStringLiteral(".rsc"));
        QFile file(candidate);
        // NewOnly never overwrites an earlier backup; the permissions hold from the first byte.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
            if (file.exists())
                continue;
            break;
        }
        if (file.write(content) != content.size() || !file.flush()) {
            file.close();
            file.remove();
            break;
        }
        file.close();
        if (path)
            *path = candidate;
        return true;
    }
    if (error)
        *error =
            QString::fromLatin1(kWriteFailed).arg(QDir::toNativeSeparators(dir.filePath(name)));
    return false;
}

bool RouterTask::saveBackup(SshClient &client, QString *path)
{
    QString output;
    if (!runScript(client, QString::fromLatin1(kIdentityScript), QString::fromLatin1(kReadingLabel),
                   &output, kIdentityTimeoutMs)) {
        m_lastError = QString::fromLatin1(kExportFailed);
        emit logLine(m_lastError);
        return false;
    }
    const QString identity = parseMarkers(output).text(QStringLiteral("QM_IDENTITY"));

    QString exported;
    const bool read = runScript(client, QString::fromLatin1(kExportScript), QString(), &exported,
                                kExportTimeoutMs);
    // An export always holds at least its header comment; nothing at all is not a backup.
    if (!read || exported.trimmed().isEmpty()) {
        m_lastError = QString::fromLatin1(kExportFailed);
        emit logLine(m_lastError);
        return false;
    }
    // RouterOS ends its lines with CR LF over SSH; the file keeps the router's own text.
    if (!writeBackupFile(m_backupFolder, identity, QDateTime::currentDateTime(), exported.toUtf8(),
                         path, &m_lastError)) {
        emit logLine(m_lastError);
        return false;
    }
    emit logLine(QString::fromLatin1(kSaved).arg(QDir::toNativeSeparators(*path)));
    return true;
}

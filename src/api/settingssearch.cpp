#include "settingssearch.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString kSettingsFileName = QStringLiteral("quillmor.ini");
// The start directory and five of its ancestors: enough for an install folder or a build tree,
// without wandering up to unrelated files near the root.
constexpr int kDirectoriesPerStart = 6;
const char kChainPlace[] = "%1 and five folders above it";

QString searchUpwards(const QString &start)
{
    QDir dir(QDir(start).absolutePath());
    for (int i = 0; i < kDirectoriesPerStart; ++i) {
        const QString candidate = dir.absoluteFilePath(kSettingsFileName);
        if (QFileInfo::exists(candidate) && isTrustedSettingsFile(candidate))
            return candidate;
        if (!dir.cdUp())
            break;
    }
    return {};
}

#ifdef Q_OS_UNIX
bool ownedByUsAndClosed(const QString &path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    const bool othersMayWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool ownOwner = info.st_uid == ::getuid() || info.st_uid == 0;
    return ownOwner && !othersMayWrite;
}
#endif

} // namespace

bool isTrustedSettingsFile(const QString &path)
{
#ifdef Q_OS_UNIX
    // Anyone who can write the file, or replace it in its folder, could point the app at another
    // service or hand it their API key.
    return ownedByUsAndClosed(path) && ownedByUsAndClosed(QFileInfo(path).absolutePath());
#else
    Q_UNUSED(path);
    return true;
#endif
}

QStringList fixedSettingsFiles()
{
#ifdef Q_OS_UNIX
    QStringList files;
    const QString appConfig = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (!appConfig.isEmpty())
        files << QDir(appConfig).filePath(kSettingsFileName);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!config.isEmpty())
        files << QDir(config).filePath(QStringLiteral("Quillmor/") + kSettingsFileName);
    files << QStringLiteral("/etc/xdg/Quillmor/") + kSettingsFileName;
    files.removeDuplicates();
    return files;
#else
    return {};
#endif
}

QString findSettingsFile(const QString &executableDir, const QString &workingDir)
{
    return findSettingsFile(executableDir, workingDir, fixedSettingsFiles());
}

QString findSettingsFile(const QString &executableDir, const QString &workingDir,
                         const QStringList &fixedFiles)
{
    for (const QString &start : {executableDir, workingDir}) {
        const QString found = searchUpwards(start);
        if (!found.isEmpty())
            return found;
    }
    for (const QString &file : fixedFiles) {
        if (QFileInfo::exists(file) && isTrustedSettingsFile(file))
            return QFileInfo(file).absoluteFilePath();
    }
    return {};
}

QString settingsSearchPlaces(const QString &executableDir, const QString &workingDir)
{
    QStringList places;
    places << QString::fromLatin1(kChainPlace).arg(QDir::toNativeSeparators(executableDir));
    if (QDir(workingDir).absolutePath() != QDir(executableDir).absolutePath())
        places << QString::fromLatin1(kChainPlace).arg(QDir::toNativeSeparators(workingDir));
    for (const QString &file : fixedSettingsFiles())
        places << QDir::toNativeSeparators(file);
    return places.join(QStringLiteral("; "));
}

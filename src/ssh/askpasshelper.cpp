#include "askpasshelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include "childprocess.h"

namespace {

const char PrepareFailedText[] = "Could not prepare the router sign-in helper.";
const char CompilerMissingText[] =
        "Windows could not build the router sign-in helper because the .NET compiler is missing.";
const char BuildFailedText[] = "Could not build the router sign-in helper.";

constexpr int CompilerStartMs = 8000;
constexpr int CompilerFinishMs = 30000;
constexpr int MaxDetailLength = 300;

const char HelperSource[] = "using System;\r\n"
                            "using System.Text;\r\n"
                            "class P {\r\n"
                            "  static void Main() {\r\n"
                            "    Console.OutputEncoding = new UTF8Encoding(false);\r\n"
                            "    string p = Environment.GetEnvironmentVariable(\"QUILLMOR_SSH_PASS\");\r\n"
                            "    if (p == null) p = \"\";\r\n"
                            "    Console.Out.WriteLine(p);\r\n"
                            "  }\r\n"
                            "}\r\n";

#ifndef Q_OS_WIN
// printf, unlike echo, leaves a password such as "-n" or "a\tb" alone.
const char HelperScript[] = "#!/bin/sh\n"
                            "printf '%s\\n' \"$QUILLMOR_SSH_PASS\"\n";
#endif

QMutex &locationsMutex()
{
    static QMutex mutex;
    return mutex;
}

QStringList &replacedLocations()
{
    static QStringList locations;
    return locations;
}

#ifndef Q_OS_WIN
bool compilerLocationsReplaced()
{
    QMutexLocker lock(&locationsMutex());
    return !replacedLocations().isEmpty();
}
#endif

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// The data folder holds the helper that ssh runs with the password: only its owner may change it.
bool restrictToOwner(const QString &folder)
{
#ifdef Q_OS_UNIX
    return QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                 | QFileDevice::ExeOwner);
#else
    Q_UNUSED(folder);
    return true;
#endif
}

} // namespace

QString findAskpassHelperNear(const QString &applicationDir)
{
    // Only the program's own folders: any folder above it may be one that every local user can
    // write (an archive unpacked below /tmp), and the helper is handed the router password.
    const QDir dir(applicationDir);
    const QStringList candidates{askpassHelperFileName(),
                                 QStringLiteral("tools/") + askpassHelperFileName()};
    for (const QString &relative : candidates) {
        const QString candidate = dir.filePath(relative);
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).absoluteFilePath();
    }
    return {};
}

namespace {

// A file of our own with a name no other copy of the app uses, in the data folder; the caller
// renames it into place or removes it.
QString reserveTemporaryName(const QDir &dataDir, const QString &pattern)
{
    QTemporaryFile file(dataDir.filePath(pattern));
    file.setAutoRemove(false);
    if (!file.open())
        return {};
    return file.fileName();
}

// Moves a finished helper into place. When another copy of the app was quicker, its helper is the
// same program and is kept; ours is dropped.
bool moveIntoPlace(const QString &temporaryPath, const QString &helperPath)
{
    if (QFile::rename(temporaryPath, helperPath))
        return true;
    QFile::remove(temporaryPath);
    return QFileInfo::exists(helperPath);
}

#ifndef Q_OS_WIN
bool writeHelperScript(const QDir &dataDir, const QString &path, QString *error)
{
    const QString temporaryPath = reserveTemporaryName(dataDir, QStringLiteral("askpass-XXXXXX"));
    if (temporaryPath.isEmpty())
        return fail(error, QString::fromLatin1(PrepareFailedText));
    QFile file(temporaryPath);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(HelperScript) == qint64(sizeof HelperScript - 1) && file.flush()
            && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                   | QFileDevice::ExeOwner);
    file.close();
    if (!written) {
        QFile::remove(temporaryPath);
        return fail(error, QString::fromLatin1(PrepareFailedText));
    }
    if (!moveIntoPlace(temporaryPath, path))
        return fail(error, QString::fromLatin1(PrepareFailedText));
    return true;
}
#endif

bool compileHelper(const QDir &dataDir, const QString &helperPath, QString *error)
{
    QString compiler;
    for (const QString &location : askpassCompilerLocations()) {
        if (QFileInfo::exists(location)) {
            compiler = location;
            break;
        }
    }
    if (compiler.isEmpty())
        return fail(error, QString::fromLatin1(CompilerMissingText));

    const QString sourcePath = reserveTemporaryName(dataDir, QStringLiteral("askpass-XXXXXX.cs"));
    const QString outputPath = reserveTemporaryName(dataDir, QStringLiteral("askpass-XXXXXX.exe"));
    QFile source(sourcePath);
    if (sourcePath.isEmpty() || outputPath.isEmpty()
        || !source.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || source.write(HelperSource) != qint64(sizeof HelperSource - 1)) {
        QFile::remove(sourcePath);
        QFile::remove(outputPath);
        return fail(error, QString::fromLatin1(PrepareFailedText));
    }
    source.close();
    // The compiler only writes a program where there is none yet.
    QFile::remove(outputPath);

    QProcess process;
    prepareChildProcess(process);
    process.setProcessEnvironment(childEnvironment(QProcessEnvironment::systemEnvironment()));
    process.start(compiler, {QStringLiteral("/nologo"), QStringLiteral("/optimize+"),
                             QStringLiteral("/target:exe"), QStringLiteral("/out:") + outputPath,
                             sourcePath});
    const bool ok = process.waitForStarted(CompilerStartMs)
            && process.waitForFinished(CompilerFinishMs) && process.exitCode() == 0
            && QFileInfo::exists(outputPath);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(CompilerStartMs);
    }
    QFile::remove(sourcePath);
    if (ok) {
        if (moveIntoPlace(outputPath, helperPath))
            return true;
        return fail(error, QString::fromLatin1(PrepareFailedText));
    }

    QString detail = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (detail.isEmpty())
        detail = process.errorString().trimmed();
    QString text = QString::fromLatin1(BuildFailedText);
    if (!detail.isEmpty())
        text += QLatin1Char(' ') + detail.left(MaxDetailLength);

    // A compiler that was stopped or failed half way may leave a broken program behind; it is ours
    // alone, under its temporary name, so removing it never touches another copy's helper.
    QFile::remove(outputPath);
    return fail(error, text);
}

} // namespace

QString askpassHelperFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("askpass.exe");
#else
    return QStringLiteral("askpass");
#endif
}

void setAskpassCompilerLocations(const QStringList &locations)
{
    QMutexLocker lock(&locationsMutex());
    replacedLocations() = locations;
}

QStringList askpassCompilerLocations()
{
    {
        QMutexLocker lock(&locationsMutex());
        if (!replacedLocations().isEmpty())
            return replacedLocations();
    }
#ifdef Q_OS_WIN
    return {QStringLiteral("C:/Windows/Microsoft.NET/Framework64/v4.0.30319/csc.exe"),
            QStringLiteral("C:/Windows/Microsoft.NET/Framework/v4.0.30319/csc.exe")};
#else
    return {};
#endif
}

QString prepareAskpassHelper(QString *error)
{
    const QString found = findAskpassHelperNear(QCoreApplication::applicationDirPath());
    if (!found.isEmpty())
        return found;

    const QString dataPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dataPath.isEmpty() || !QDir(dataPath).mkpath(QStringLiteral("."))
        || !restrictToOwner(dataPath)) {
        fail(error, QString::fromLatin1(PrepareFailedText));
        return {};
    }
    const QDir dataDir(dataPath);
    const QString helperPath = dataDir.absoluteFilePath(askpassHelperFileName());
    if (QFileInfo::exists(helperPath))
        return helperPath;

#ifdef Q_OS_WIN
    const bool built = compileHelper(dataDir, helperPath, error);
#else
    const bool built = compilerLocationsReplaced() ? compileHelper(dataDir, helperPath, error)
                                                   : writeHelperScript(dataDir, helperPath, error);
#endif
    return built ? helperPath : QString();
}

#include "askpasshelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

const char PrepareFailedText[] = "Could not prepare the router sign-in helper.";
const char CompilerMissingText[] =
        "Windows could not build the router sign-in helper because the .NET compiler is missing.";
const char BuildFailedText[] = "Could not build the router sign-in helper.";

constexpr int CompilerStartMs = 8000;
constexpr int CompilerFinishMs = 30000;
constexpr int MaxDetailLength = 300;
constexpr int MaxAncestorSteps = 6;

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

} // namespace

QString findAskpassHelperNear(const QString &applicationDir)
{
    const QString name = askpassHelperFileName();
    QStringList folders{applicationDir};
    QDir dir(folders.constFirst());
    for (int step = 0; step < MaxAncestorSteps && dir.cdUp(); ++step)
        folders.append(dir.absolutePath());

    for (const QString &folder : folders) {
        const QDir candidate(folder);
        const QString own = candidate.filePath(name);
        if (QFileInfo::exists(own))
            return QFileInfo(own).absoluteFilePath();
        const QString inTools = candidate.filePath(QStringLiteral("tools/") + name);
        if (QFileInfo::exists(inTools))
            return QFileInfo(inTools).absoluteFilePath();
    }
    return {};
}

namespace {

#ifndef Q_OS_WIN
bool writeHelperScript(const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(HelperScript) != qint64(sizeof HelperScript - 1) || !file.commit()) {
        return fail(error, QString::fromLatin1(PrepareFailedText));
    }
    if (!QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                             | QFileDevice::ExeOwner)) {
        QFile::remove(path);
        return fail(error, QString::fromLatin1(PrepareFailedText));
    }
    return true;
}
#endif

bool compileHelper(const QDir &dataDir, const QString &helperPath, QString *error)
{
    const QString sourcePath = dataDir.absoluteFilePath(QStringLiteral("askpass.cs"));
    QFile source(sourcePath);
    if (!source.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || source.write(HelperSource) != qint64(sizeof HelperSource - 1)) {
        return fail(error, QString::fromLatin1(PrepareFailedText));
    }
    source.close();

    QString compiler;
    for (const QString &location : askpassCompilerLocations()) {
        if (QFileInfo::exists(location)) {
            compiler = location;
            break;
        }
    }
    if (compiler.isEmpty())
        return fail(error, QString::fromLatin1(CompilerMissingText));

    QProcess process;
    process.start(compiler, {QStringLiteral("/nologo"), QStringLiteral("/optimize+"),
                             QStringLiteral("/target:exe"), QStringLiteral("/out:") + helperPath,
                             sourcePath});
    const bool ok = process.waitForStarted(CompilerStartMs)
            && process.waitForFinished(CompilerFinishMs) && process.exitCode() == 0
            && QFileInfo::exists(helperPath);
    if (ok)
        return true;

    QString detail = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (detail.isEmpty())
        detail = process.errorString().trimmed();
    QString text = QString::fromLatin1(BuildFailedText);
    if (!detail.isEmpty())
        text += QLatin1Char(' ') + detail.left(MaxDetailLength);

    // A compiler that was stopped or failed half way may leave a broken program behind; since a
    // helper that exists is never rebuilt, it would turn every later sign-in into a refused
    // password.
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(CompilerStartMs);
    }
    QFile::remove(helperPath);
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
    if (dataPath.isEmpty() || !QDir(dataPath).mkpath(QStringLiteral("."))) {
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
                                                   : writeHelperScript(helperPath, error);
#endif
    return built ? helperPath : QString();
}

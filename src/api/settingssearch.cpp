#include "settingssearch.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kSettingsFileName = QStringLiteral("quillmor.ini");
// The start directory and five of its ancestors: enough for an install folder or a build tree,
// without wandering up to unrelated files near the root.
constexpr int kDirectoriesPerStart = 6;

QString searchUpwards(const QString &start)
{
    QDir dir(QDir(start).absolutePath());
    for (int i = 0; i < kDirectoriesPerStart; ++i) {
        const QString candidate = dir.absoluteFilePath(kSettingsFileName);
        if (QFileInfo::exists(candidate))
            return candidate;
        if (!dir.cdUp())
            break;
    }
    return {};
}

} // namespace

QString findSettingsFile(const QString &executableDir, const QString &workingDir)
{
    for (const QString &start : {executableDir, workingDir}) {
        const QString found = searchUpwards(start);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

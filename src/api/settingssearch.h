#pragma once

#include <QString>

// Where quillmor.ini is looked for: the executable's folder and then the working folder, each with
// at most five of its ancestors. Returns the first file found, or an empty string.
[[nodiscard]] QString findSettingsFile(const QString &executableDir, const QString &workingDir);

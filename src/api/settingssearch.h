#pragma once

#include <QString>
#include <QStringList>

// Where quillmor.ini is looked for: the executable's folder and then the working folder, each with
// at most five of its ancestors; then, on Unix, the fixed files below. Returns the first file found
// that only its owner can change, or an empty string.
[[nodiscard]] QString findSettingsFile(const QString &executableDir, const QString &workingDir);
[[nodiscard]] QString findSettingsFile(const QString &executableDir, const QString &workingDir,
                                       const QStringList &fixedFiles);

// The settings files looked at after the two folder chains, in order: on Unix the per-user
// configuration folder, then the system one; nothing elsewhere.
[[nodiscard]] QStringList fixedSettingsFiles();

// On Unix, false for a file, or a file in a folder, that another user could have written: writable
// by group or others, or owned by someone other than this user or root. Always true elsewhere.
[[nodiscard]] bool isTrustedSettingsFile(const QString &path);

// The places searched, as one line for a message.
[[nodiscard]] QString settingsSearchPlaces(const QString &executableDir, const QString &workingDir);

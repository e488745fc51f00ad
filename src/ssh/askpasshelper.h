#pragma once

#include <QString>
#include <QStringList>

// Finds or builds the tiny program that OpenSSH runs as its askpass helper: it prints the value of
// QUILLMOR_SSH_PASS and a line end. A built helper lives in the per-user data folder (owner only on
// Unix). Returns its absolute path, or an empty string with *error set.
[[nodiscard]] QString prepareAskpassHelper(QString *error);

// Where the helper's compiler is looked for, in order. Tests replace the list with a stand-in
// compiler; an empty list restores the platform's own. On Unix a replaced list makes the helper
// be compiled like on Windows, instead of written out as a shell script.
void setAskpassCompilerLocations(const QStringList &locations);
[[nodiscard]] QStringList askpassCompilerLocations();

// A helper shipped with the application: in its own folder, else in its "tools/" subfolder, never
// in a folder above. Empty when there is none.
[[nodiscard]] QString findAskpassHelperNear(const QString &applicationDir);

// The helper's file name on this platform ("askpass.exe" on Windows, "askpass" elsewhere).
[[nodiscard]] QString askpassHelperFileName();

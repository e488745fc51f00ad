#pragma once

#include <QString>
#include <QStringList>

// Finds or builds the tiny program that OpenSSH runs as its askpass helper: it prints the value of
// QUILLMOR_SSH_PASS and a line end. Returns its absolute path, or an empty string with *error set.
[[nodiscard]] QString prepareAskpassHelper(QString *error);

// Where the helper's compiler is looked for, in order. Tests replace the list with a stand-in
// compiler; an empty list restores the platform's own.
void setAskpassCompilerLocations(const QStringList &locations);
[[nodiscard]] QStringList askpassCompilerLocations();

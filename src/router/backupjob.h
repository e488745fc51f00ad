#pragma once

#include <QDateTime>
#include <QString>

// The per-user folder that router backups go to: "Quillmor backups" in the documents folder.
[[nodiscard]] QString defaultBackupFolder();

// The file name of a backup taken at `when`: the identity, made safe for every file system
// (anything but letters, digits, '.', '-' and '_' becomes '_'; "router" when nothing is left),
// then the time as yyyy-MM-dd-HHmm and ".rsc".
[[nodiscard]] QString backupFileName(const QString &identity, const QDateTime &when);

// Writes the export as a new file in the folder (created when missing), readable by the owner
// only. A name already taken in the folder gets "-2", "-3", ... before ".rsc". *path receives the
// file written; on failure *error gets one sentence.
[[nodiscard]] bool writeBackupFile(const QString &folder, const QString &identity,
                                   const QDateTime &when, const QByteArray &content, QString *path,
                                   QString *error = nullptr);

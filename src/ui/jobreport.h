#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// Everything the report of one router job says; the window fills it from what it holds.
struct JobReport
{
    QString product;
    QString version;
    QDateTime when;
    QString accountNumber;
    QString accountName;
    QString identity;
    QString model;
    QString routerOsVersion;
    QString address;
    int port = 22;
    QString runChoice;
    QStringList logLines;  // as the activity log shows them, "[HH:mm:ss] text"
    bool finished = false; // false while the job still runs, or when it ended without a result
    QString status;        // for an unfinished job: what the window shows about it
    bool ok = false;
    QString error;
    QString tunnelAddress;
    QString endpoint;
    QString confirmation;
    QString backupFile;
};

// The plain-text report. Every value passes through the log's masking, and every secret the
// window knows (passwords, the session token) is replaced by "***" wherever it appears.
[[nodiscard]] QString reportText(const JobReport &report, const QStringList &secrets);

// The text with the log's masking applied and every known secret (three characters or more)
// replaced by "***".
[[nodiscard]] QString maskSecrets(const QString &text, const QStringList &secrets);

// The file name offered for a saved report: "Quillmor report <identity> yyyy-MM-dd HHmm.txt".
[[nodiscard]] QString reportFileName(const QString &identity, const QDateTime &when);

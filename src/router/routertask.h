#pragma once

#include <QString>
#include <QThread>
#include <QVariantMap>

#include <atomic>
#include <memory>

class CancelWaker;
class SshClient;

struct RouterLogin
{
    QString host;
    quint16 port = 22;
    QString user;
    QString password;
};

enum JobKind { Inspect = 0, Wan = 1, Provision = 2, Hotspot = 3, Backup = 4 };

// Runs one router job at a time on its own thread: signs in with a fresh SshClient, runs the job's
// scripts, and ends every job with exactly one result signal.
class RouterTask final : public QThread
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RouterTask)

public:
    explicit RouterTask(QObject *parent = nullptr);
    ~RouterTask() override;

    void startInspect(const RouterLogin &login);
    void startWan(const RouterLogin &login, const QString &mode, const QString &pppoeUser,
                  const QString &pppoePassword, bool fresh, bool dhcpOnEther1, bool hasPppoe);
    void startProvision(const RouterLogin &login, const QVariantMap &provisionOptions,
                        const QString &routerName, const QString &serviceToken);
    void startHotspot(const RouterLogin &login, const QString &loginPageUrl);
    // Saves the router's configuration export in the backup folder and changes nothing.
    void startBackup(const RouterLogin &login);

    // With a folder set, every job that changes the router first saves its configuration export
    // there; a job whose backup fails stops before its first step with backupStopped and keeps
    // its inputs, so that restartWithoutBackup can run it as it was, or discardStoppedJob wipes
    // them. An empty folder (the default) takes no backups.
    void setBackupFolder(const QString &folder);
    [[nodiscard]] QString backupFolder() const { return m_backupFolder; }
    [[nodiscard]] bool hasStoppedJob() const { return m_stoppedForBackup; }
    bool restartWithoutBackup();
    void discardStoppedJob();

    void requestCancel();
    [[nodiscard]] bool isCancelled() const;

    // Read-only views for tests and for the window's checks after a job.
    [[nodiscard]] QString host() const { return m_host; }
    [[nodiscard]] QString user() const { return m_user; }
    [[nodiscard]] QString password() const { return m_password; }
    [[nodiscard]] QString wanMode() const { return m_wanMode; }
    [[nodiscard]] QString pppoePassword() const { return m_pppoePassword; }
    [[nodiscard]] QString lastError() const { return m_lastError; }
    // The kind of the job running now, or of the last one; set on the window's thread at its start.
    [[nodiscard]] JobKind jobKind() const { return static_cast<JobKind>(m_jobKind); }

signals:
    void logLine(const QString &line);
    void inspectReady(bool ok, const QString &error, const QVariantMap &facts);
    void wanReady(bool ok, const QString &error, bool internet, bool hasRoute);
    void provisionReady(bool ok, const QString &error, const QVariantMap &result);
    void hotspotReady(bool ok, const QString &error, const QString &path);
    void backupReady(bool ok, const QString &error, const QString &path);
    // The backup before a changing job: saved (the job goes on), or failed (the job's only
    // result; nothing was changed).
    void backupSaved(const QString &path);
    void backupStopped(const QString &error);

protected:
    void run() override;

private:
    bool beginJob(JobKind kind, const RouterLogin &login);
    void emitBusyRefusal(JobKind kind);
    void clearSecrets();
    void failProvision();

    // Waits the pause on the worker thread; false when a cancel ended it early.
    [[nodiscard]] bool pauseUnlessCancelled(int ms);

    bool runScript(SshClient &client, const QString &script, const QString &label, QString *out,
                   int timeoutMs);

    // Job bodies, one source file each.
    void inspectRouter(SshClient &client);
    bool checkInternet(SshClient &client, bool *internet, bool *hasRoute);
    void setUpWan(SshClient &client);
    void provisionLink(SshClient &client);
    void installHotspotPage(SshClient &client);
    bool saveBackup(SshClient &client, QString *path);
    [[nodiscard]] bool changesRouter() const;

    std::atomic_bool m_cancelRequested{false};
    std::unique_ptr<CancelWaker> m_waker;
    int m_jobKind = Inspect;
    QString m_host;
    quint16 m_port = 22;
    QString m_user;
    QString m_password;
    QString m_wanMode;
    QString m_pppoeUser;
    QString m_pppoePassword;
    bool m_fresh = false;
    bool m_dhcpOnEther1 = false;
    bool m_hasPppoe = false;
    QVariantMap m_provisionOptions;
    QString m_routerName;
    QString m_serviceToken;
    QString m_loginPageUrl;
    QString m_lastError;
    QString m_backupFolder;
    bool m_skipBackup = false;
    bool m_stoppedForBackup = false;
};

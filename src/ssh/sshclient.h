#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class CancelWaker;
struct SshSession;

// The program to start for every ssh run.
[[nodiscard]] QString locateSsh();

// The per-user known_hosts file that every ssh run reads and writes.
[[nodiscard]] QString sshKnownHostsPath();

// The command line and environment of one ssh run, apart from the process that runs them.
[[nodiscard]] QStringList sshArguments(const QString &host, quint16 port, const QString &user,
                                       const QString &knownHostsPath, const QString &script);
[[nodiscard]] QProcessEnvironment sshEnvironment(const QProcessEnvironment &base,
                                                 const QString &password,
                                                 const QString &askpassPath);

// The user-facing sentence for an ssh run that ended with a failure.
[[nodiscard]] QString sshFailureText(const QString &standardError, const QString &standardOutput);

// True when ssh refused to sign in because the router's host key differs from the remembered one.
[[nodiscard]] bool sshReportsChangedHostKey(const QString &standardError);

// One router sign-in. Every command runs in a fresh OpenSSH client process; being connected means
// the sign-in was checked by a probe that the router answered as a MikroTik.
class SshClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SshClient)

public:
    explicit SshClient(QObject *parent = nullptr);
    ~SshClient() override;

    // The waker, when given, lives on the thread that runs the commands; a cancel raises the flag
    // first and then wakes it, so that a running command stops at once.
    void setCancelFlag(const std::atomic_bool *flag, CancelWaker *waker = nullptr);
    [[nodiscard]] bool isConnected() const;

    [[nodiscard]] bool connectToRouter(const QString &host, int port, const QString &user,
                                       const QString &password, QString *error = nullptr);
    void close();

    [[nodiscard]] bool execute(const QString &script, QString *out, QString *err, int timeoutMs);

signals:
    void logMessage(const QString &msg);
    // The router's host key had changed and the remembered one was dropped: one line naming the
    // address, for the activity log.
    void hostKeyForgotten(const QString &line);

private:
    // Reads the session record to check that no copy of the password outlives the sign-in.
    friend class TestSshClient;

    void wipePassword();
    [[nodiscard]] const QString &heldPassword() const;

    std::unique_ptr<SshSession> m_session;
};

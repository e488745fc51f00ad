#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

struct SshSession;

// The program to start for every ssh run.
[[nodiscard]] QString locateSsh();

// One router sign-in. Every command runs in a fresh OpenSSH client process; being connected means
// the sign-in was checked by a probe that the router answered as a MikroTik.
class SshClient final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SshClient)

public:
    explicit SshClient(QObject *parent = nullptr);
    ~SshClient() override;

    void setCancelFlag(const std::atomic_bool *flag);
    [[nodiscard]] bool isConnected() const;

    [[nodiscard]] bool connectToRouter(const QString &host, int port, const QString &user,
                                       const QString &password, QString *error = nullptr);
    void close();

    [[nodiscard]] bool execute(const QString &script, QString *out, QString *err, int timeoutMs);

signals:
    void logMessage(const QString &msg);

private:
    std::unique_ptr<SshSession> m_session;
};

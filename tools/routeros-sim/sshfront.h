#pragma once

#include "simexec.h"

#include <QString>

#include <functional>
#include <memory>

class SshFrontPrivate;

// A real SSH server on 127.0.0.1 for the router simulator: password and keyboard-interactive
// sign-in, one exec request per connection, each connection served on a thread of its own.
// Configure it before start(); the callbacks are called from the session threads.
class SshFront final
{
public:
    using Authenticator = std::function<bool(const QString &user, const QString &password)>;
    using ExecHandler = std::function<ExecOutcome(const ExecRequest &request)>;

    SshFront();
    ~SshFront();
    SshFront(const SshFront &) = delete;
    SshFront &operator=(const SshFront &) = delete;

    // An Ed25519 host key in OpenSSH format, written to path (its folder must exist).
    [[nodiscard]] static bool generateHostKey(const QString &path, QString *error = nullptr);

    void setHostKeyPath(const QString &path);
    void setAuthenticator(Authenticator authenticator);
    void setExecHandler(ExecHandler handler);
    // Every sign-in fails, whatever the password.
    void setRefuseSignIn(bool refuse);
    // Connections are accepted and then left without a single byte, not even the SSH banner.
    void setSilent(bool silent);

    // Port 0 picks a free port; port() tells which one.
    [[nodiscard]] bool start(quint16 port = 0, QString *error = nullptr);
    [[nodiscard]] quint16 port() const;
    [[nodiscard]] bool isRunning() const;
    // Ends the listener and every open connection, and waits for their threads.
    void stop();

private:
    std::unique_ptr<SshFrontPrivate> d;
};

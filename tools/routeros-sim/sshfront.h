#pragma once

#include "simexec.h"

#include <QString>

#include <functional>
#include <memory>

class SshFrontPrivate;

// A real SSH server on 127.0.0.1 for the router simulator: password and keyboard-interactive
// sign-in, one exec request per connection, each connection served on a thread of its own.
// Each listening port stands for one address of the router; an admission check decides, per
// address, whether a new connection is answered, left without an answer or refused.
// Configure it before start(); the callbacks are called from the session and listener threads.
class SshFront final
{
public:
    using Authenticator = std::function<bool(const QString &user, const QString &password)>;
    using ExecHandler = std::function<ExecOutcome(const ExecRequest &request)>;
    using AdmissionCheck = std::function<Admission(const QString &routerAddress)>;

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
    // Without a check every connection is answered.
    void setAdmissionCheck(AdmissionCheck check);
    // The router address the port of start() stands for (handed on in ExecRequest).
    void setRouterAddress(const QString &routerAddress);

    // Port 0 picks a free port; port() tells which one.
    [[nodiscard]] bool start(quint16 port = 0, QString *error = nullptr);
    [[nodiscard]] quint16 port() const;
    // Another listening port, standing for another router address; after start(). Returns the
    // port, 0 on failure.
    [[nodiscard]] quint16 addListener(const QString &routerAddress, quint16 port = 0,
                                      QString *error = nullptr);
    // Asks the admission check again for every listener. A refused address stops listening, so
    // that a client gets "Connection refused" as from a TCP reset, and listens again on the same
    // port once it is answered. Call it after anything that may change the router's paths; it
    // returns once the listeners follow the new answers.
    void recheckAdmission();
    [[nodiscard]] bool isRunning() const;
    // Ends the listener and every open connection, and waits for their threads.
    void stop();

private:
    std::unique_ptr<SshFrontPrivate> d;
};

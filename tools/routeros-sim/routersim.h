#pragma once

#include "engine/routerosengine.h"
#include "sshfront.h"

#include <QString>

// The router simulator in one object: a RouterOS engine loaded from a scenario, served through the
// SSH front on 127.0.0.1. Tests and the demo start it in-process.
class RouterSim final
{
public:
    RouterSim();
    ~RouterSim();
    RouterSim(const RouterSim &) = delete;
    RouterSim &operator=(const RouterSim &) = delete;

    // The host key file is created when it does not exist yet. Port 0 picks a free port.
    [[nodiscard]] bool start(const QString &scenarioPath, const QString &hostKeyPath,
                             quint16 port = 0, QString *error = nullptr);
    [[nodiscard]] quint16 port() const;
    [[nodiscard]] RouterOsEngine *engine();
    void stop();

private:
    RouterOsEngine m_engine;
    SshFront m_front;
};

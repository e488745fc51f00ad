#pragma once

#include "engine/routerosengine.h"
#include "sshfront.h"

#include <QString>

// The router simulator in one object: a RouterOS engine loaded from a scenario, served through the
// SSH front on 127.0.0.1. Tests and the demo start it in-process. The port of start() stands for
// the scenario's session address (192.168.88.1 in the bundled scenarios); listen() adds a port for
// another address of the router, such as 172.16.0.1. Whether a connection to a port is answered
// follows the router's management path as seen from the operator's computer.
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
    // Another port on 127.0.0.1 that stands for routerAddress; returns it, 0 on failure.
    [[nodiscard]] quint16 listen(const QString &routerAddress, quint16 port = 0,
                                 QString *error = nullptr);
    [[nodiscard]] RouterOsEngine *engine();
    void stop();

private:
    RouterOsEngine m_engine;
    SshFront m_front;
};

#include "routersim.h"

#include <QFileInfo>

RouterSim::RouterSim() = default;

RouterSim::~RouterSim()
{
    stop();
}

bool RouterSim::start(const QString &scenarioPath, const QString &hostKeyPath, quint16 port,
                      QString *error)
{
    stop();
    if (!m_engine.loadScenarioFile(scenarioPath, error))
        return false;
    if (!QFileInfo::exists(hostKeyPath) && !SshFront::generateHostKey(hostKeyPath, error))
        return false;

    RouterOsEngine *engine = &m_engine;
    m_front.setHostKeyPath(hostKeyPath);
    m_front.setAuthenticator([engine](const QString &user, const QString &password) {
        return engine->authenticate(user, password);
    });
    m_front.setExecHandler(
            [engine](const ExecRequest &request) { return engine->execute(request); });
    m_front.setAdmissionCheck(
            [engine](const QString &routerAddress) { return engine->admit(routerAddress); });
    m_front.setRouterAddress(m_engine.sessionAddress());
    m_front.setRefuseSignIn(m_engine.refuseSignIn());
    m_front.setSilent(m_engine.silentPort());
    SshFront *front = &m_front;
    m_engine.setPathChangedCallback([front] { front->recheckAdmission(); });
    return m_front.start(port, error);
}

quint16 RouterSim::listen(const QString &routerAddress, quint16 port, QString *error)
{
    return m_front.addListener(routerAddress, port, error);
}

quint16 RouterSim::port() const
{
    return m_front.port();
}

RouterOsEngine *RouterSim::engine()
{
    return &m_engine;
}

void RouterSim::stop()
{
    m_front.stop();
}

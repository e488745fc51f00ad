// placeholder until the internet setup job lands
#include "routertask.h"
#include "ssh/sshclient.h"

bool RouterTask::checkInternet(SshClient &, bool *, bool *)
{
    m_lastError = QStringLiteral("Checking the router internet is not available yet.");
    return false;
}

void RouterTask::setUpWan(SshClient &)
{
    emit wanReady(false, QStringLiteral("Setting up the router internet is not available yet."),
                  false, false);
}

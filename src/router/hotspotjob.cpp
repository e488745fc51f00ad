#include "routertask.h"
#include "ssh/sshclient.h"

namespace {

const char kNotAvailable[] = "Installing the login page is not available in this build yet.";

} // namespace

void RouterTask::installHotspotPage(SshClient &)
{
    m_lastError = QString::fromLatin1(kNotAvailable);
    emit hotspotReady(false, m_lastError, QString());
}

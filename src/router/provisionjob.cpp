#include "routertask.h"
#include "ssh/sshclient.h"

namespace {

const char kNotAvailable[] = "Onboarding is not available in this build yet.";

} // namespace

void RouterTask::provisionLink(SshClient &)
{
    // Nothing is sent to the router until onboarding exists; the operator gets an honest answer.
    m_lastError = QString::fromLatin1(kNotAvailable);
    failProvision();
}

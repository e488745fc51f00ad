// placeholder until the inspection job lands
#include "routertask.h"
#include "ssh/sshclient.h"

void RouterTask::inspectRouter(SshClient &)
{
    emit inspectReady(false, QStringLiteral("Reading the router is not available yet."), {});
}

#include "routeros.h"
#include "routertask.h"
#include "ssh/sshclient.h"

namespace {

const char kCancelled[] = "Cancelled.";
const char kNotAccepted[] = "The router did not accept the command.";
const char kStepFailed[] = "%1 failed.";
const char kRepeatedMarker[] = "The router's answer repeats a value it should give once, so it was not "
                               "trusted.";
constexpr int kShownLimit = 500;

} // namespace

bool judgeScriptRun(bool executed, const QString &output, const QString &executeError,
                    const QString &label, QString *failure)
{
    const QString shown = redactSecrets(output).trimmed();
    QString text;
    if (executed && !repeatedMarker(output).isEmpty()) {
        text = QString::fromLatin1(kRepeatedMarker);
    } else if (executed) {
        if (shown.contains(QLatin1String("QM_DONE=1"))) {
            if (!shown.contains(QLatin1String("QM_FAIL=")))
                return true;
            text = label.isEmpty() ? shown.left(kShownLimit)
                                   : QString::fromLatin1(kStepFailed).arg(label);
        } else {
            // A script without markers succeeds unless RouterOS printed one of its error texts.
            if (!hasRouterOsError(shown))
                return true;
            text = shown.left(kShownLimit);
        }
    } else {
        text = executeError.isEmpty() ? QString::fromLatin1(kNotAccepted) : executeError;
        if (!shown.isEmpty() && hasRouterOsError(shown))
            text = shown.left(kShownLimit);
    }
    if (failure)
        *failure = text;
    return false;
}

bool RouterTask::runScript(SshClient &client, const QString &script, const QString &label,
                           QString *out, int timeoutMs)
{
    if (isCancelled()) {
        m_lastError = QString::fromLatin1(kCancelled);
        emit logLine(m_lastError);
        return false;
    }
    if (!label.isEmpty())
        emit logLine(label);

    QString output;
    QString error;
    const bool executed = client.execute(script, &output, &error, timeoutMs);
    if (out)
        *out = output;
    if (judgeScriptRun(executed, output, error, label, &m_lastError))
        return true;
    emit logLine(m_lastError);
    return false;
}

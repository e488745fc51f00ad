#include "sshclient.h"

#include "askpasshelper.h"
#include "cancelwaker.h"
#include "childprocess.h"
#include "router/routeros.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

struct SshSession
{
    bool connected = false;
    QString host;
    quint16 port = 22;
    QString user;
    QString password;
    QString askpassPath;
    const std::atomic_bool *cancelFlag = nullptr;
    CancelWaker *cancelWaker = nullptr;
};

namespace {

const char EnterAddressText[] = "Enter the router address and username.";
const char ForbiddenCharacterText[] = "The router sign-in contains a character this app cannot send.";
#ifdef Q_OS_WIN
const char SshMissingText[] =
        "Windows OpenSSH Client is not installed. Install it from Settings, Apps, Optional features.";
#else
const char SshMissingText[] =
        "The OpenSSH client (ssh) is not installed. Install it with the system's package manager.";
#endif
const char NotMikroTikText[] = "Signed in, but the device did not answer as a MikroTik.";
const char SignedInText[] = "Signed in to the router.";
const char CancelledText[] = "Cancelled.";
const char NotConnectedText[] = "Not connected to the router.";
const char TookTooLongText[] = "The router took too long to answer.";
const char SilentFailureText[] = "Could not sign in to the router.";

const char ProbeScript[] = ":put (\"QM_IDENTITY=\" . [/system identity get name])";
const char IdentityMarker[] = "QM_IDENTITY=";

constexpr int ProbeTimeoutMs = 20000;
constexpr int StartTimeoutMs = 8000;
constexpr int WaitSliceMs = 400;
constexpr int KillGraceMs = 2000;
constexpr int KeygenTimeoutMs = 10000;
constexpr int MaxFailureTextLength = 500;

struct PhraseText
{
    const char *phrase;
    const char *text;
};

// The first phrase found in ssh's lower-cased complaint decides the sentence.
const PhraseText FailurePhrases[] = {
        {"permission denied", "The router refused this username or password."},
        {"authentication failed", "The router refused this username or password."},
        {"connection refused", "The router is reachable, but SSH is turned off or the port is wrong."},
        {"timed out", "The router did not answer. Check the cable and the IP address."},
        {"timeout", "The router did not answer. Check the cable and the IP address."},
        {"no route", "This computer cannot reach that IP address."},
        {"host unreachable", "This computer cannot reach that IP address."},
        {"network unreachable", "This computer cannot reach that IP address."},
};

const char ChangedHostKeyPhrase[] = "remote host identification has changed";
const char ForgotHostKeyText[] =
        "The router at %1 showed a new host key. The old key was forgotten and the new one trusted.";

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool cancelled(const std::atomic_bool *flag)
{
    return flag && flag->load();
}

QString sshKeygenProgram()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("ssh-keygen.exe");
#else
    const QString name = QStringLiteral("ssh-keygen");
#endif
    const QFileInfo ssh(locateSsh());
    if (ssh.isAbsolute()) {
        const QString sibling = ssh.dir().filePath(name);
        if (QFileInfo::exists(sibling))
            return sibling;
    }
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? name : found;
}

// Every new router answers at the same factory address with a key of its own, and the app accepts
// any key it has not seen. A remembered key for that address would only make OpenSSH turn off
// password sign-in, so it is forgotten (ssh-keygen also finds hashed entries).
bool forgetHostKey(const QString &host, quint16 port, const QString &knownHostsPath)
{
    const QString entry = port == 22 ? host
                                     : QStringLiteral("[%1]:%2").arg(host).arg(port);
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setProcessEnvironment(childEnvironment(QProcessEnvironment::systemEnvironment()));
    prepareChildProcess(process);
    process.start(sshKeygenProgram(),
                  {QStringLiteral("-R"), entry, QStringLiteral("-f"), knownHostsPath});
    return process.waitForStarted(StartTimeoutMs) && process.waitForFinished(KeygenTimeoutMs)
            && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Only a line that begins with the marker counts: a device that echoes the command, or prints the
// marker inside some other text, is not a MikroTik that ran the probe.
bool answersAsMikroTik(const QString &probeOutput)
{
    const QStringList lines = probeOutput.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String(IdentityMarker)))
            return true;
    }
    return false;
}

enum class RunEnd { Finished, NotStarted, Cancelled, TimedOut };

struct SshRun
{
    RunEnd end = RunEnd::NotStarted;
    bool succeeded = false;
    QString out;
    QString err;
};

SshRun runSsh(const SshSession &session, const QString &script, int timeoutMs)
{
    SshRun run;
    QProcess process;
    process.setProcessEnvironment(sshEnvironment(QProcessEnvironment::systemEnvironment(),
                                                 session.password, session.askpassPath));
    process.setProcessChannelMode(QProcess::SeparateChannels);
    prepareChildProcess(process);
    process.start(locateSsh(),
                  sshArguments(session.host, session.port, session.user, sshKnownHostsPath(),
                               script),
                  QIODevice::ReadWrite);
    if (!process.waitForStarted(StartTimeoutMs))
        return run;

    // The loop wakes when ssh ends, when a cancel arrives, and at every slice to check the time.
    QEventLoop loop;
    QTimer slice;
    slice.setInterval(WaitSliceMs);
    QObject::connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    if (session.cancelWaker)
        QObject::connect(session.cancelWaker, &CancelWaker::woken, &loop, &QEventLoop::quit);
    slice.start();

    QElapsedTimer timer;
    timer.start();
    while (process.state() != QProcess::NotRunning) {
        if (cancelled(session.cancelFlag) || timer.elapsed() > timeoutMs) {
            run.end = cancelled(session.cancelFlag) ? RunEnd::Cancelled : RunEnd::TimedOut;
            process.kill();
            process.waitForFinished(KillGraceMs);
            return run;
        }
        loop.exec();
    }

    run.end = RunEnd::Finished;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    run.succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

} // namespace

QString locateSsh()
{
#ifdef Q_OS_WIN
    for (const QString &candidate : {QStringLiteral("C:/Windows/System32/OpenSSH/ssh.exe"),
                                     QStringLiteral("C:/Windows/Sysnative/OpenSSH/ssh.exe")}) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return QStringLiteral("ssh");
#else
    const QString found = QStandardPaths::findExecutable(QStringLiteral("ssh"));
    return found.isEmpty() ? QStringLiteral("ssh") : found;
#endif
}

QString sshKnownHostsPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
            .filePath(QStringLiteral("known_hosts"));
}

QStringList sshArguments(const QString &host, quint16 port, const QString &user,
                         const QString &knownHostsPath, const QString &script)
{
    const QString o = QStringLiteral("-o");
    // ssh splits the value at blanks and expands "%" sequences in it; a user folder such as
    // "C:/Users/Ana Silva" needs the quotes.
    QString knownHosts = knownHostsPath;
    knownHosts.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return {o, QStringLiteral("StrictHostKeyChecking=no"),
            o, QStringLiteral("UserKnownHostsFile=\"") + knownHosts + QLatin1Char('"'),
            o, QStringLiteral("ConnectTimeout=12"),
            o, QStringLiteral("NumberOfPasswordPrompts=1"),
            o, QStringLiteral("PreferredAuthentications=keyboard-interactive,password"),
            o, QStringLiteral("PubkeyAuthentication=no"),
            o, QStringLiteral("PasswordAuthentication=yes"),
            o, QStringLiteral("IdentitiesOnly=yes"),
            o, QStringLiteral("LogLevel=ERROR"),
            QStringLiteral("-l"), user,
            QStringLiteral("-p"), QString::number(port),
            host,
            script};
}

QProcessEnvironment sshEnvironment(const QProcessEnvironment &base, const QString &password,
                                   const QString &askpassPath)
{
    // The helper reads QUILLMOR_SSH_PASS; no other QUILLMOR_ value of the app reaches ssh.
    QProcessEnvironment env = childEnvironment(base);
    env.insert(QStringLiteral("QUILLMOR_SSH_PASS"), password);
    env.insert(QStringLiteral("SSH_ASKPASS"), askpassPath);
    env.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral("1"));
    return env;
}

QString sshFailureText(const QString &standardError, const QString &standardOutput)
{
    const QString combined = standardError + QLatin1Char('\n') + standardOutput;
    const QString lower = combined.toLower();
    for (const PhraseText &entry : FailurePhrases) {
        if (lower.contains(QLatin1String(entry.phrase)))
            return QString::fromLatin1(entry.text);
    }
    // ssh may echo the command it was given, and the router's output may quote it: either can
    // hold a password.
    const QString trimmed = redactSecrets(combined).trimmed();
    if (trimmed.isEmpty())
        return QString::fromLatin1(SilentFailureText);
    return trimmed.left(MaxFailureTextLength);
}

bool sshReportsChangedHostKey(const QString &standardError)
{
    return standardError.toLower().contains(QLatin1String(ChangedHostKeyPhrase));
}

SshClient::SshClient(QObject *parent)
    : QObject(parent)
    , m_session(std::make_unique<SshSession>())
{
}

SshClient::~SshClient()
{
    close();
}

void SshClient::setCancelFlag(const std::atomic_bool *flag, CancelWaker *waker)
{
    m_session->cancelFlag = flag;
    m_session->cancelWaker = waker;
}

bool SshClient::isConnected() const
{
    return m_session->connected;
}

void SshClient::wipePassword()
{
    m_session->password.fill(QLatin1Char(' '));
    m_session->password.clear();
}

const QString &SshClient::heldPassword() const
{
    return m_session->password;
}

bool SshClient::connectToRouter(const QString &host, int port, const QString &user,
                                const QString &password, QString *error)
{
    if (m_session->connected)
        close();

    const QString trimmedHost = host.trimmed();
    const QString trimmedUser = user.trimmed();
    if (trimmedHost.isEmpty() || trimmedUser.isEmpty())
        return fail(error, QString::fromLatin1(EnterAddressText));

    // A leading "-" would make ssh read the address (or, for safety, the name) as an option,
    // such as -oProxyCommand=..., which runs a local command.
    if (host.contains(QLatin1Char(' ')) || user.contains(QLatin1Char('\n'))
        || password.contains(QLatin1Char('\n')) || password.contains(QLatin1Char('\r'))
        || trimmedHost.startsWith(QLatin1Char('-')) || trimmedUser.startsWith(QLatin1Char('-'))) {
        return fail(error, QString::fromLatin1(ForbiddenCharacterText));
    }

    QString helperError;
    m_session->askpassPath = prepareAskpassHelper(&helperError);
    if (m_session->askpassPath.isEmpty())
        return fail(error, helperError);

    const QString ssh = locateSsh();
    if (!QFileInfo::exists(ssh) && ssh == QStringLiteral("ssh"))
        return fail(error, QString::fromLatin1(SshMissingText));

    m_session->host = trimmedHost;
    m_session->port = static_cast<quint16>(port);
    m_session->user = trimmedUser;
    // A copy of our own, so that wiping it overwrites this buffer and not a shared one.
    m_session->password = QString(password.constData(), password.size());
    m_session->connected = true;

    QString out;
    QString probeError;
    if (!execute(QString::fromLatin1(ProbeScript), &out, &probeError, ProbeTimeoutMs)) {
        m_session->connected = false;
        wipePassword();
        return fail(error, probeError);
    }
    if (!answersAsMikroTik(out)) {
        m_session->connected = false;
        wipePassword();
        return fail(error, QString::fromLatin1(NotMikroTikText));
    }
    emit logMessage(QString::fromLatin1(SignedInText));
    return true;
}

void SshClient::close()
{
    wipePassword();
    m_session->connected = false;
}

bool SshClient::execute(const QString &script, QString *out, QString *err, int timeoutMs)
{
    if (cancelled(m_session->cancelFlag))
        return fail(err, QString::fromLatin1(CancelledText));
    if (!m_session->connected)
        return fail(err, QString::fromLatin1(NotConnectedText));

    SshRun run = runSsh(*m_session, script, timeoutMs);
    if (run.end == RunEnd::Finished && !run.succeeded && sshReportsChangedHostKey(run.err)
        && forgetHostKey(m_session->host, m_session->port, sshKnownHostsPath())) {
        emit hostKeyForgotten(QString::fromLatin1(ForgotHostKeyText).arg(m_session->host));
        run = runSsh(*m_session, script, timeoutMs);
    }

    switch (run.end) {
    case RunEnd::NotStarted:
        return fail(err, QString::fromLatin1(SshMissingText));
    case RunEnd::Cancelled:
        return fail(err, QString::fromLatin1(CancelledText));
    case RunEnd::TimedOut:
        return fail(err, QString::fromLatin1(TookTooLongText));
    case RunEnd::Finished:
        break;
    }
    if (out)
        *out = run.out;
    if (run.succeeded)
        return true;
    return fail(err, sshFailureText(run.err, run.out));
}

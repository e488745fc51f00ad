#include "routertask.h"

#include "ssh/cancelwaker.h"
#include "ssh/sshclient.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

const char kBusy[] = "Still working on the previous step.";
const char kProvisionGaveUp[] = "Could not finish onboarding.";

// A buffer of the job's own, so that the wipe at the end overwrites it in place; on a buffer still
// shared with the caller the wipe would only detach and overwrite a fresh copy.
QString privateCopy(const QString &secret)
{
    return QString(secret.constData(), secret.size());
}

void wipe(QString &secret)
{
    secret.fill(QLatin1Char(' '));
    secret.clear();
}

} // namespace

RouterTask::RouterTask(QObject *parent)
    : QThread(parent)
    , m_waker(std::make_unique<CancelWaker>())
{
    // The waits it ends run on the job's thread, so that is where it must be delivered.
    m_waker->moveToThread(this);
}

RouterTask::~RouterTask()
{
    // A job stopped for want of a backup still holds its passwords.
    if (!isRunning())
        clearSecrets();
}

void RouterTask::startInspect(const RouterLogin &login)
{
    if (!beginJob(Inspect, login))
        return;
    start(QThread::InheritPriority);
}

void RouterTask::startWan(const RouterLogin &login, const QString &mode, const QString &pppoeUser,
                          const QString &pppoePassword, bool fresh, bool dhcpOnEther1,
                          bool hasPppoe)
{
    if (!beginJob(Wan, login))
        return;
    m_wanMode = mode;
    m_pppoeUser = pppoeUser;
    m_pppoePassword = privateCopy(pppoePassword);
    m_fresh = fresh;
    m_dhcpOnEther1 = dhcpOnEther1;
    m_hasPppoe = hasPppoe;
    start(QThread::InheritPriority);
}

void RouterTask::startProvision(const RouterLogin &login, const QVariantMap &provisionOptions,
                                const QString &routerName, const QString &serviceToken)
{
    if (!beginJob(Provision, login))
        return;
    m_provisionOptions = provisionOptions;
    m_routerName = routerName;
    m_serviceToken = serviceToken;
    start(QThread::InheritPriority);
}

void RouterTask::startHotspot(const RouterLogin &login, const QString &loginPageUrl)
{
    if (!beginJob(Hotspot, login))
        return;
    m_loginPageUrl = loginPageUrl;
    start(QThread::InheritPriority);
}

void RouterTask::startBackup(const RouterLogin &login)
{
    if (!beginJob(Backup, login))
        return;
    start(QThread::InheritPriority);
}

void RouterTask::setBackupFolder(const QString &folder)
{
    if (!isRunning())
        m_backupFolder = folder;
}

bool RouterTask::restartWithoutBackup()
{
    if (isRunning() || !m_stoppedForBackup)
        return false;
    m_stoppedForBackup = false;
    m_skipBackup = true;
    m_cancelRequested.store(false);
    start(QThread::InheritPriority);
    return true;
}

void RouterTask::discardStoppedJob()
{
    if (isRunning() || !m_stoppedForBackup)
        return;
    m_stoppedForBackup = false;
    clearSecrets();
}

bool RouterTask::changesRouter() const
{
    return m_jobKind == Wan || m_jobKind == Provision || m_jobKind == Hotspot;
}

void RouterTask::requestCancel()
{
    m_cancelRequested.store(true, std::memory_order_seq_cst);
    m_waker->wake();
}

bool RouterTask::pauseUnlessCancelled(int ms)
{
    // A wake-up left over from a cancel of an earlier job ends one wait early; the deadline keeps
    // the pause whole all the same.
    const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    while (!isCancelled() && !deadline.hasExpired()) {
        QEventLoop loop;
        // Precise: a coarse timer may end a pause of seconds up to 5 % early.
        QTimer::singleShot(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)),
                           Qt::PreciseTimer, &loop,
                           &QEventLoop::quit);
        connect(m_waker.get(), &CancelWaker::woken, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return !isCancelled();
}

bool RouterTask::isCancelled() const
{
    return m_cancelRequested.load() || isInterruptionRequested();
}

bool RouterTask::beginJob(JobKind kind, const RouterLogin &login)
{
    // The running job reads these fields without a lock, so nothing may change while it runs.
    if (isRunning()) {
        emitBusyRefusal(kind);
        return false;
    }
    // A new job replaces one that waited for a decision about its backup.
    if (m_stoppedForBackup) {
        m_stoppedForBackup = false;
        clearSecrets();
    }
    m_skipBackup = false;
    m_cancelRequested.store(false);
    m_jobKind = kind;
    m_host = login.host;
    m_port = login.port;
    m_user = login.user;
    m_password = privateCopy(login.password);
    return true;
}

void RouterTask::emitBusyRefusal(JobKind kind)
{
    const QString busy = QString::fromLatin1(kBusy);
    switch (kind) {
    case Inspect:
        emit inspectReady(false, busy, QVariantMap());
        break;
    case Wan:
        emit wanReady(false, busy, false, false);
        break;
    case Hotspot:
        emit hotspotReady(false, busy, QString());
        break;
    case Provision:
        emit provisionReady(false, busy, QVariantMap());
        break;
    case Backup:
        emit backupReady(false, busy, QString());
        break;
    }
}

void RouterTask::clearSecrets()
{
    wipe(m_password);
    wipe(m_pppoePassword);
    m_pppoeUser.clear();
    m_serviceToken.clear();
    m_loginPageUrl.clear();
}

void RouterTask::failProvision()
{
    const QString text =
        m_lastError.isEmpty() ? QString::fromLatin1(kProvisionGaveUp) : m_lastError;
    emit provisionReady(false, text, QVariantMap());
}

void RouterTask::run()
{
    auto client = std::make_unique<SshClient>();
    client->setCancelFlag(&m_cancelRequested, m_waker.get());
    connect(client.get(), &SshClient::hostKeyForgotten, this, &RouterTask::logLine,
            Qt::DirectConnection);

    emit logLine(QStringLiteral("Signing in to the router..."));
    QString error;
    bool stopped = false;
    if (client->connectToRouter(m_host, m_port, m_user, m_password, &error)) {
        emit logLine(QStringLiteral("Signed in."));
        QString backupPath;
        const bool wantsBackup = changesRouter() && !m_skipBackup && !m_backupFolder.isEmpty();
        if (wantsBackup && !saveBackup(*client, &backupPath))
            stopped = true;
        else if (wantsBackup)
            emit backupSaved(backupPath);
        else if (changesRouter() && m_skipBackup)
            emit logLine(QStringLiteral("Going on without a backup."));
        switch (stopped ? -1 : m_jobKind) {
        case -1:
            break;
        case Backup:
            if (saveBackup(*client, &backupPath))
                emit backupReady(true, QString(), backupPath);
            else
                emit backupReady(false, m_lastError, QString());
            break;
        case Inspect:
            inspectRouter(*client);
            break;
        case Wan:
            setUpWan(*client);
            break;
        case Hotspot:
            installHotspotPage(*client);
            break;
        default:
            provisionLink(*client);
            break;
        }
        client->close();
    } else {
        switch (m_jobKind) {
        case Backup:
            emit backupReady(false, error, QString());
            break;
        case Inspect:
            emit inspectReady(false, error, QVariantMap());
            break;
        case Wan:
            emit wanReady(false, error, false, false);
            break;
        case Hotspot:
            emit hotspotReady(false, error, QString());
            break;
        default:
            emit provisionReady(false, error, QVariantMap());
            break;
        }
    }

    client.reset();
    if (stopped) {
        // The inputs stay for restartWithoutBackup; the signal goes out once they are settled.
        m_stoppedForBackup = true;
        emit backupStopped(m_lastError);
        return;
    }
    clearSecrets();
}

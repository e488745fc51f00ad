#include "sshfront.h"

#include <libssh/libssh.h>
#include <libssh/server.h>

#include <QByteArray>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// libssh waits this long (seconds) for a client that stops talking during sign-in.
constexpr long SessionTimeoutSeconds = 120;
// How long the threads sleep between looks at the stop flag and the peer.
constexpr int PollSliceMs = 100;
// After the exit status, the client gets this long to close its side.
constexpr int CloseGraceMs = 2000;
// recheckAdmission() waits at most this long for the listener thread.
constexpr int RecheckWaitMs = 2000;

void initLibssh()
{
    static std::once_flag once;
    std::call_once(once, [] { ssh_init(); });
}

std::string toStd(const QString &text)
{
    return text.toStdString();
}

QString fromC(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// libssh 0.10 marks the message API's password getter deprecated in favour of its callback API,
// but still ships it; the message loop keeps sign-in, channel and exec handling in one place.
QString messagePassword(ssh_message message)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return fromC(ssh_message_auth_password(message));
#pragma GCC diagnostic pop
}

// A listening socket on 127.0.0.1; port 0 picks a free one. -1 on failure, errno set.
int listenOn(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 16) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

quint16 boundPort(int fd)
{
    sockaddr_in address {};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

// Closes an accepted connection with a TCP reset instead of an orderly close.
void resetConnection(int fd)
{
    const linger abort {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

} // namespace

// One listening port and the router address it stands for.
struct FrontListener
{
    QString routerAddress;
    quint16 port = 0;
    int fd = -1; // -1 while the address refuses connections
};

struct FrontConnection
{
    std::thread thread;
    int fd = -1; // guarded by SshFrontPrivate::mutex; -1 once libssh has closed it
    std::atomic_bool done{false};
};

class SshFrontPrivate
{
public:
    void listenLoop();
    [[nodiscard]] Admission admission(const QString &address) const;
    void recheckListeners();
    // Adds a listening port; 0 on failure.
    [[nodiscard]] quint16 openListener(const QString &routerAddress, quint16 port, QString *error);
    void acceptOn(const FrontListener &listener, std::vector<int> *heldFds);
    void wake(char reason);
    // Reads and throws away whatever the peer sends until it leaves or we stop.
    void ignorePeer(int fd);
    void serve(FrontConnection *connection, ssh_session session, const QString &clientAddress,
               const QString &routerAddress);
    // Lets libssh process packets for up to sliceMs; false once the peer is gone or we stop.
    bool pump(ssh_event event, ssh_session session, ssh_channel channel, int sliceMs);
    void releaseFd(FrontConnection *connection);

    QString hostKeyPath;
    SshFront::Authenticator authenticator;
    SshFront::ExecHandler execHandler;
    SshFront::AdmissionCheck admissionCheck;
    bool refuseSignIn = false;
    bool silent = false;
    QString routerAddress;

    ssh_bind bind = nullptr;
    int wakePipe[2] = {-1, -1};
    std::mutex listenerMutex;
    // recheckAdmission() waits until the listener thread has applied its request.
    std::mutex recheckMutex;
    std::condition_variable rechecked;
    quint64 recheckAsked = 0;
    quint64 recheckApplied = 0;
    std::vector<FrontListener> listeners; // the first is the port of start()
    quint16 port = 0;                     // the port of start(), kept after stop()
    std::thread listener;
    std::atomic_bool stopping{false};
    bool running = false;

    std::mutex mutex;
    std::list<std::unique_ptr<FrontConnection>> connections;
};

void SshFrontPrivate::releaseFd(FrontConnection *connection)
{
    std::lock_guard<std::mutex> lock(mutex);
    connection->fd = -1;
}

void SshFrontPrivate::ignorePeer(int fd)
{
    while (!stopping.load()) {
        pollfd entry {fd, POLLIN, 0};
        if (::poll(&entry, 1, PollSliceMs) < 0 && errno != EINTR)
            return;
        if (entry.revents == 0)
            continue;
        char buffer[4096];
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

void SshFrontPrivate::wake(char reason)
{
    if (wakePipe[1] >= 0)
        [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &reason, 1);
}

Admission SshFrontPrivate::admission(const QString &address) const
{
    return admissionCheck ? admissionCheck(address) : Admission::Answer;
}

void SshFrontPrivate::recheckListeners()
{
    std::lock_guard<std::mutex> lock(listenerMutex);
    for (FrontListener &listener : listeners) {
        const bool refused = admission(listener.routerAddress) == Admission::Refuse;
        if (refused && listener.fd >= 0) {
            ::close(listener.fd);
            listener.fd = -1;
        } else if (!refused && listener.fd < 0) {
            // Fails only if something else took the port meanwhile; the next recheck tries again.
            listener.fd = listenOn(listener.port);
        }
    }
}

void SshFrontPrivate::acceptOn(const FrontListener &listener, std::vector<int> *heldFds)
{
    sockaddr_in peer {};
    socklen_t peerLength = sizeof peer;
    const int fd = ::accept4(listener.fd, reinterpret_cast<sockaddr *>(&peer), &peerLength,
                             SOCK_CLOEXEC);
    if (fd < 0)
        return;
    // Every exec answer is a few small writes; without this each one waits out the peer's
    // delayed acknowledgement (about 40 ms), which made every router step cost ~130 ms.
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);

    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->done.load()) {
                (*it)->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    const Admission admitted = silent ? Admission::NoAnswer : admission(listener.routerAddress);
    if (admitted == Admission::NoAnswer) {
        heldFds->push_back(fd);
        return;
    }
    if (admitted == Admission::Refuse) {
        // The path closed between the last recheck and this connection.
        resetConnection(fd);
        return;
    }

    char addressText[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, addressText, sizeof addressText);
    const QString clientAddress = QString::fromLatin1(addressText);

    ssh_session session = ssh_new();
    if (!session || ssh_bind_accept_fd(bind, session, fd) != SSH_OK) {
        if (session)
            ssh_free(session);
        ::close(fd);
        return;
    }
    long timeout = SessionTimeoutSeconds;
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &timeout);

    auto connection = std::make_unique<FrontConnection>();
    FrontConnection *raw = connection.get();
    raw->fd = fd;
    std::lock_guard<std::mutex> lock(mutex);
    connections.push_back(std::move(connection));
    const QString routerAddress = listener.routerAddress;
    raw->thread = std::thread([this, raw, session, clientAddress, routerAddress] {
        serve(raw, session, clientAddress, routerAddress);
        raw->done.store(true);
    });
}

void SshFrontPrivate::listenLoop()
{
    std::vector<int> heldFds; // connections left without an answer, kept until the peer leaves

    while (!stopping.load()) {
        std::vector<FrontListener> open;
        {
            std::lock_guard<std::mutex> lock(listenerMutex);
            for (const FrontListener &listener : listeners) {
                if (listener.fd >= 0)
                    open.push_back(listener);
            }
        }
        std::vector<pollfd> fds;
        fds.push_back({wakePipe[0], POLLIN, 0});
        for (const FrontListener &listener : open)
            fds.push_back({listener.fd, POLLIN, 0});
        const size_t firstHeld = fds.size();
        for (int fd : heldFds)
            fds.push_back({fd, POLLIN, 0});

        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0) {
            char reasons[64];
            const ssize_t got = ::read(wakePipe[0], reasons, sizeof reasons);
            if (stopping.load() || got <= 0)
                break;
            quint64 ticket = 0;
            {
                std::lock_guard<std::mutex> lock(recheckMutex);
                ticket = recheckAsked;
            }
            // The listening sockets may be replaced: poll them afresh.
            recheckListeners();
            {
                std::lock_guard<std::mutex> lock(recheckMutex);
                recheckApplied = std::max(recheckApplied, ticket);
            }
            rechecked.notify_all();
            continue;
        }

        for (size_t i = fds.size(); i-- > firstHeld;) {
            if (fds[i].revents == 0)
                continue;
            char buffer[512];
            const ssize_t got = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                ::close(fds[i].fd);
                heldFds.erase(heldFds.begin() + static_cast<std::ptrdiff_t>(i - firstHeld));
            }
        }
        for (size_t i = 0; i < open.size(); ++i) {
            if ((fds[i + 1].revents & POLLIN) != 0)
                acceptOn(open[i], &heldFds);
        }
    }

    for (int fd : heldFds)
        ::close(fd);
}

bool SshFrontPrivate::pump(ssh_event event, ssh_session session, ssh_channel channel, int sliceMs)
{
    if (stopping.load())
        return false;
    if (ssh_event_dopoll(event, sliceMs) == SSH_ERROR)
        return false;
    if (!ssh_is_connected(session))
        return false;
    return channel == nullptr || !ssh_channel_is_closed(channel);
}

void SshFrontPrivate::serve(FrontConnection *connection, ssh_session session,
                            const QString &clientAddress, const QString &routerAddress)
{
    ssh_channel channel = nullptr;
    ssh_event event = nullptr;
    QString user;
    QString script;

    bool sayGoodbye = true;
    auto finish = [&] {
        if (event) {
            ssh_event_remove_session(event, session);
            ssh_event_free(event);
        }
        // From here on stop() must not touch the socket: libssh closes it and the number may be
        // reused at once.
        releaseFd(connection);
        if (channel)
            ssh_channel_free(channel);
        if (sayGoodbye)
            ssh_disconnect(session);
        ssh_free(session);
    };

    if (ssh_handle_key_exchange(session) != SSH_OK) {
        finish();
        return;
    }
    ssh_set_auth_methods(session, SSH_AUTH_METHOD_PASSWORD | SSH_AUTH_METHOD_INTERACTIVE);

    auto checkPassword = [this](const QString &name, const QString &password) {
        if (refuseSignIn)
            return false;
        return authenticator ? authenticator(name, password) : false;
    };

    // Sign-in, then the session channel, then its one exec request.
    bool signedIn = false;
    QString pendingInteractiveUser;
    while (script.isNull()) {
        ssh_message message = ssh_message_get(session);
        if (!message) {
            finish();
            return;
        }
        const int type = ssh_message_type(message);
        const int subtype = ssh_message_subtype(message);
        bool handled = false;

        if (type == SSH_REQUEST_AUTH && !signedIn) {
            if (subtype == SSH_AUTH_METHOD_PASSWORD) {
                const QString name = fromC(ssh_message_auth_user(message));
                if (checkPassword(name, messagePassword(message))) {
                    ssh_message_auth_reply_success(message, 0);
                    signedIn = true;
                    user = name;
                    handled = true;
                }
            } else if (subtype == SSH_AUTH_METHOD_INTERACTIVE) {
                if (!ssh_message_auth_kbdint_is_response(message)) {
                    pendingInteractiveUser = fromC(ssh_message_auth_user(message));
                    const char *prompts[] = {"Password: "};
                    char echo[] = {0};
                    ssh_message_auth_interactive_request(message, "", "", 1, prompts, echo);
                    handled = true;
                } else if (ssh_userauth_kbdint_getnanswers(session) == 1
                           && checkPassword(pendingInteractiveUser,
                                            fromC(ssh_userauth_kbdint_getanswer(session, 0)))) {
                    ssh_message_auth_reply_success(message, 0);
                    signedIn = true;
                    user = pendingInteractiveUser;
                    handled = true;
                }
            }
            if (!handled) {
                ssh_message_auth_set_methods(message, SSH_AUTH_METHOD_PASSWORD
                                                          | SSH_AUTH_METHOD_INTERACTIVE);
                ssh_message_reply_default(message);
                handled = true;
            }
        } else if (signedIn && type == SSH_REQUEST_CHANNEL_OPEN && subtype == SSH_CHANNEL_SESSION
                   && !channel) {
            channel = ssh_message_channel_request_open_reply_accept(message);
            handled = channel != nullptr;
        } else if (signedIn && channel && type == SSH_REQUEST_CHANNEL
                   && subtype == SSH_CHANNEL_REQUEST_EXEC) {
            const char *command = ssh_message_channel_request_command(message);
            script = command ? QString::fromUtf8(command) : QString::fromLatin1("");
            ssh_message_channel_request_reply_success(message);
            handled = true;
        }
        if (!handled)
            ssh_message_reply_default(message);
        ssh_message_free(message);
    }

    ExecOutcome outcome;
    if (execHandler)
        outcome = execHandler(ExecRequest{user, script, clientAddress, routerAddress});

    event = ssh_event_new();
    if (!event || ssh_event_add_session(event, session) != SSH_OK) {
        finish();
        return;
    }

    if (outcome.hang) {
        while (pump(event, session, channel, PollSliceMs)) {
        }
        finish();
        return;
    }
    // A session whose path is gone gets what was sent before, then nothing at all: no keepalive
    // answer, no exit status, no close, until the client gives up.
    if (outcome.silent) {
        if (!outcome.out.isEmpty())
            ssh_channel_write(channel, outcome.out.constData(),
                              static_cast<uint32_t>(outcome.out.size()));
        ssh_blocking_flush(session, CloseGraceMs);
        ignorePeer(connection->fd);
        sayGoodbye = false;
        finish();
        return;
    }
    const auto answerAt = std::chrono::steady_clock::now()
            + std::chrono::milliseconds(outcome.delayMs);
    while (std::chrono::steady_clock::now() < answerAt) {
        if (!pump(event, session, channel, PollSliceMs)) {
            finish();
            return;
        }
    }

    if (!outcome.out.isEmpty())
        ssh_channel_write(channel, outcome.out.constData(),
                          static_cast<uint32_t>(outcome.out.size()));
    if (!outcome.err.isEmpty())
        ssh_channel_write_stderr(channel, outcome.err.constData(),
                                 static_cast<uint32_t>(outcome.err.size()));

    if (outcome.drop) {
        ssh_blocking_flush(session, CloseGraceMs);
        finish();
        return;
    }
    if (outcome.reset) {
        ssh_blocking_flush(session, CloseGraceMs);
        const linger abort {1, 0};
        ::setsockopt(connection->fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        sayGoodbye = false;
        finish();
        return;
    }

    ssh_channel_request_send_exit_status(channel, outcome.exitStatus);
    ssh_channel_send_eof(channel);
    ssh_channel_close(channel);
    const auto giveUpAt = std::chrono::steady_clock::now()
            + std::chrono::milliseconds(CloseGraceMs);
    while (std::chrono::steady_clock::now() < giveUpAt
           && pump(event, session, nullptr, PollSliceMs)) {
    }
    finish();
}

SshFront::SshFront()
    : d(std::make_unique<SshFrontPrivate>())
{
}

SshFront::~SshFront()
{
    stop();
}

bool SshFront::generateHostKey(const QString &path, QString *error)
{
    initLibssh();
    ssh_key key = nullptr;
    if (ssh_pki_generate(SSH_KEYTYPE_ED25519, 0, &key) != SSH_OK) {
        if (error)
            *error = QStringLiteral("Could not generate a host key.");
        return false;
    }
    const int rc = ssh_pki_export_privkey_file(key, nullptr, nullptr, nullptr,
                                               toStd(path).c_str());
    ssh_key_free(key);
    if (rc != SSH_OK) {
        if (error)
            *error = QStringLiteral("Could not write the host key to %1.").arg(path);
        return false;
    }
    return true;
}

void SshFront::setHostKeyPath(const QString &path)
{
    d->hostKeyPath = path;
}

void SshFront::setAuthenticator(Authenticator authenticator)
{
    d->authenticator = std::move(authenticator);
}

void SshFront::setExecHandler(ExecHandler handler)
{
    d->execHandler = std::move(handler);
}

void SshFront::setRefuseSignIn(bool refuse)
{
    d->refuseSignIn = refuse;
}

void SshFront::setSilent(bool silent)
{
    d->silent = silent;
}

void SshFront::setAdmissionCheck(AdmissionCheck check)
{
    d->admissionCheck = std::move(check);
}

void SshFront::setRouterAddress(const QString &routerAddress)
{
    d->routerAddress = routerAddress;
}

bool SshFront::start(quint16 port, QString *error)
{
    auto fail = [&](const QString &text) {
        if (error)
            *error = text;
        stop();
        return false;
    };
    if (d->running)
        return fail(QStringLiteral("The SSH front is already running."));
    initLibssh();

    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(toStd(d->hostKeyPath).c_str(), nullptr, nullptr, nullptr, &key)
        != SSH_OK) {
        return fail(QStringLiteral("Could not read the host key %1.").arg(d->hostKeyPath));
    }
    d->bind = ssh_bind_new();
    bool processConfig = false;
    ssh_bind_options_set(d->bind, SSH_BIND_OPTIONS_PROCESS_CONFIG, &processConfig);
    if (ssh_bind_options_set(d->bind, SSH_BIND_OPTIONS_IMPORT_KEY, key) != SSH_OK) {
        ssh_key_free(key);
        return fail(QStringLiteral("Could not use the host key %1.").arg(d->hostKeyPath));
    }

    if (::pipe2(d->wakePipe, O_CLOEXEC) != 0)
        return fail(QStringLiteral("Could not create the stop pipe."));
    d->stopping.store(false);
    d->running = true;
    d->port = d->openListener(d->routerAddress, port, error);
    if (d->port == 0) {
        stop();
        return false;
    }
    d->listener = std::thread([this] { d->listenLoop(); });
    recheckAdmission();
    return true;
}

quint16 SshFront::port() const
{
    return d->port;
}

quint16 SshFront::addListener(const QString &routerAddress, quint16 port, QString *error)
{
    if (!d->running) {
        if (error)
            *error = QStringLiteral("The SSH front is not running.");
        return 0;
    }
    const quint16 bound = d->openListener(routerAddress, port, error);
    // A listener for an address that refuses closes before this returns.
    if (bound != 0)
        recheckAdmission();
    return bound;
}

quint16 SshFrontPrivate::openListener(const QString &routerAddress, quint16 port, QString *error)
{
    const int fd = listenOn(port);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("Could not listen on 127.0.0.1 port %1: %2")
                             .arg(port)
                             .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return 0;
    }
    FrontListener listener;
    listener.routerAddress = routerAddress;
    listener.port = boundPort(fd);
    listener.fd = fd;
    std::lock_guard<std::mutex> lock(listenerMutex);
    listeners.push_back(listener);
    return listener.port;
}

void SshFront::recheckAdmission()
{
    if (!d->running || std::this_thread::get_id() == d->listener.get_id()) {
        d->wake('r');
        return;
    }
    std::unique_lock<std::mutex> lock(d->recheckMutex);
    const quint64 ticket = ++d->recheckAsked;
    d->wake('r');
    // Bounded, so that a caller never hangs on a front that is being stopped.
    d->rechecked.wait_for(lock, std::chrono::milliseconds(RecheckWaitMs), [this, ticket] {
        return d->recheckApplied >= ticket || d->stopping.load();
    });
}

bool SshFront::isRunning() const
{
    return d->running;
}

void SshFront::stop()
{
    d->stopping.store(true);
    {
        // Whoever waits in recheckAdmission() stops waiting.
        std::lock_guard<std::mutex> lock(d->recheckMutex);
        d->rechecked.notify_all();
    }
    if (d->listener.joinable()) {
        d->wake('s');
        d->listener.join();
    }
    {
        // Sessions blocked inside libssh wake up when their socket is shut down under them.
        std::lock_guard<std::mutex> lock(d->mutex);
        for (const auto &connection : d->connections) {
            if (connection->fd >= 0)
                ::shutdown(connection->fd, SHUT_RDWR);
        }
    }
    for (const auto &connection : d->connections) {
        if (connection->thread.joinable())
            connection->thread.join();
    }
    d->connections.clear();

    for (int &fd : d->wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    {
        std::lock_guard<std::mutex> lock(d->listenerMutex);
        for (const FrontListener &listener : d->listeners) {
            if (listener.fd >= 0)
                ::close(listener.fd);
        }
        d->listeners.clear();
    }
    if (d->bind)
        ssh_bind_free(d->bind);
    d->bind = nullptr;
    d->running = false;
}

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
#include <cerrno>
#include <chrono>
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

} // namespace

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
    void serve(FrontConnection *connection, ssh_session session, const QString &clientAddress);
    // Lets libssh process packets for up to sliceMs; false once the peer is gone or we stop.
    bool pump(ssh_event event, ssh_session session, ssh_channel channel, int sliceMs);
    void releaseFd(FrontConnection *connection);

    QString hostKeyPath;
    SshFront::Authenticator authenticator;
    SshFront::ExecHandler execHandler;
    bool refuseSignIn = false;
    bool silent = false;

    ssh_bind bind = nullptr;
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    quint16 port = 0;
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

void SshFrontPrivate::listenLoop()
{
    std::vector<int> heldFds; // connections of a silent port, kept open until the peer leaves

    while (!stopping.load()) {
        std::vector<pollfd> fds;
        fds.push_back({wakePipe[0], POLLIN, 0});
        fds.push_back({listenFd, POLLIN, 0});
        for (int fd : heldFds)
            fds.push_back({fd, POLLIN, 0});

        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0)
            break;

        for (size_t i = fds.size(); i-- > 2;) {
            if (fds[i].revents == 0)
                continue;
            char buffer[512];
            const ssize_t got = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                ::close(fds[i].fd);
                heldFds.erase(heldFds.begin() + static_cast<std::ptrdiff_t>(i - 2));
            }
        }

        if ((fds[1].revents & POLLIN) == 0)
            continue;
        sockaddr_in peer {};
        socklen_t peerLength = sizeof peer;
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr *>(&peer), &peerLength,
                                 SOCK_CLOEXEC);
        if (fd < 0)
            continue;
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

        if (silent) {
            heldFds.push_back(fd);
            continue;
        }

        char addressText[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, addressText, sizeof addressText);
        const QString clientAddress = QString::fromLatin1(addressText);

        ssh_session session = ssh_new();
        if (!session || ssh_bind_accept_fd(bind, session, fd) != SSH_OK) {
            if (session)
                ssh_free(session);
            ::close(fd);
            continue;
        }
        long timeout = SessionTimeoutSeconds;
        ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &timeout);

        auto connection = std::make_unique<FrontConnection>();
        FrontConnection *raw = connection.get();
        raw->fd = fd;
        std::lock_guard<std::mutex> lock(mutex);
        connections.push_back(std::move(connection));
        raw->thread = std::thread([this, raw, session, clientAddress] {
            serve(raw, session, clientAddress);
            raw->done.store(true);
        });
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
                            const QString &clientAddress)
{
    ssh_channel channel = nullptr;
    ssh_event event = nullptr;
    QString user;
    QString script;

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
        outcome = execHandler(ExecRequest{user, script, clientAddress});

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

    d->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (d->listenFd < 0)
        return fail(QStringLiteral("Could not open a listening socket."));
    const int yes = 1;
    ::setsockopt(d->listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(d->listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(d->listenFd, 16) != 0) {
        return fail(QStringLiteral("Could not listen on 127.0.0.1 port %1: %2")
                            .arg(port)
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    socklen_t length = sizeof address;
    ::getsockname(d->listenFd, reinterpret_cast<sockaddr *>(&address), &length);
    d->port = ntohs(address.sin_port);

    if (::pipe2(d->wakePipe, O_CLOEXEC) != 0)
        return fail(QStringLiteral("Could not create the stop pipe."));

    d->stopping.store(false);
    d->running = true;
    d->listener = std::thread([this] { d->listenLoop(); });
    return true;
}

quint16 SshFront::port() const
{
    return d->port;
}

bool SshFront::isRunning() const
{
    return d->running;
}

void SshFront::stop()
{
    d->stopping.store(true);
    if (d->listener.joinable()) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(d->wakePipe[1], &wake, 1);
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
    if (d->listenFd >= 0)
        ::close(d->listenFd);
    d->listenFd = -1;
    if (d->bind)
        ssh_bind_free(d->bind);
    d->bind = nullptr;
    d->running = false;
}

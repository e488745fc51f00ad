#include "quitsignals.h"

#include <QWidget>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

const int QuitSignals[] = {SIGTERM, SIGINT, SIGHUP};
int signalSocket[2] = {-1, -1};

// Only async-signal-safe calls here: the event loop does the rest.
void onQuitSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
}

} // namespace

void closeOnQuitSignals(QWidget *window)
{
    if (signalSocket[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSocket) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalSocket[1], &byte, 1);
        window->close();
    });

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    // The handler is used once: a second signal, while the job winds down, ends the app at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signalNumber : QuitSignals)
        ::sigaction(signalNumber, &action, nullptr);
}
#else
void closeOnQuitSignals(QWidget *window)
{
    Q_UNUSED(window);
}
#endif

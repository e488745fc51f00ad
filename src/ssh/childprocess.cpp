#include "childprocess.h"

#include <QProcess>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

void prepareChildProcess(QProcess &process)
{
#ifdef Q_OS_WIN
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags |= 0x08000000; // CREATE_NO_WINDOW
    });
#elif defined(Q_OS_UNIX)
#ifdef Q_OS_LINUX
    const pid_t parent = ::getpid();
#endif
    process.setChildProcessModifier([=] {
        // No controlling terminal, so ssh never finds a console to ask on.
        ::setsid();
#ifdef Q_OS_LINUX
        // A child that holds the router password in its environment must not outlive the app,
        // even when the app is killed. The signal follows the thread that starts the child; every
        // child is waited for by that same thread. Should the app already be gone, stop here.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
#endif
    });
#endif
}

QProcessEnvironment childEnvironment(const QProcessEnvironment &base)
{
    QProcessEnvironment env = base;
    const QStringList keys = env.keys();
    for (const QString &key : keys) {
        if (key.startsWith(QLatin1String("QUILLMOR_")))
            env.remove(key);
    }
    return env;
}

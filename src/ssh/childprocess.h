#pragma once

#include <QProcessEnvironment>

class QProcess;

// How every helper program the app starts (ssh, ssh-keygen, the password helper and its compiler)
// is set up: no console to ask on, and on Linux no life beyond the app's own.
void prepareChildProcess(QProcess &process);

// The app's environment for a child: without any QUILLMOR_ value, so that the service's API key
// and address never reach a program that has no use for them.
[[nodiscard]] QProcessEnvironment childEnvironment(const QProcessEnvironment &base);

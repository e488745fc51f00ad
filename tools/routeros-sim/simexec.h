#pragma once

#include <QByteArray>
#include <QString>

// What the SSH front hands to the router engine for one exec request, and what it gets back.
struct ExecRequest
{
    QString user;
    QString script;        // the remote command exactly as the client sent it
    QString clientAddress; // the address the session came in from
};

struct ExecOutcome
{
    QByteArray out;      // standard output; RouterOS ends lines with CR LF
    QByteArray err;      // standard error
    int exitStatus = 0;
    int delayMs = 0;     // wait this long before answering
    bool hang = false;   // never answer; the client has to give up
    bool drop = false;   // write `out`, then close the connection without an exit status
};

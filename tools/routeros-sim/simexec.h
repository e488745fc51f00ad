#pragma once

#include <QByteArray>
#include <QString>

// What the SSH front hands to the router engine for one exec request, and what it gets back.
struct ExecRequest
{
    QString user;
    QString script;        // the remote command exactly as the client sent it
    QString clientAddress; // the address the session came in from
    QString routerAddress; // the router address the session came in on; empty: the default one
};

// What a new connection to one router address meets.
enum class Admission {
    Answer,   // the SSH server answers
    NoAnswer, // nothing answers; the client runs into its connect time-out
    Refuse,   // the connection is refused at once (TCP reset)
};

struct ExecOutcome
{
    QByteArray out;      // standard output; RouterOS ends lines with CR LF
    QByteArray err;      // standard error
    int exitStatus = 0;
    int delayMs = 0;     // wait this long before answering
    bool hang = false;   // never answer; the client has to give up
    bool drop = false;   // write `out`, then close the connection without an exit status
    bool silent = false; // write `out`, then nothing more, not even a close: the path is gone
    bool reset = false;  // write `out`, then reset the TCP connection: a reject or the hotspot
};

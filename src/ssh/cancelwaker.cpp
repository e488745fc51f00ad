#include "cancelwaker.h"

CancelWaker::CancelWaker(QObject *parent)
    : QObject(parent)
{
}

CancelWaker::~CancelWaker() = default;

void CancelWaker::wake()
{
    // A queued call is posted to the waker's thread, where the waiting event loop delivers it; if
    // nothing waits just then, the next wait returns once early and checks again.
    QMetaObject::invokeMethod(this, &CancelWaker::woken, Qt::QueuedConnection);
}

#pragma once

#include <QObject>

// Carries a cancel from the window's thread into a wait on the worker thread, so that the wait
// ends at once instead of at its next time slice. It lives on the thread that waits.
class CancelWaker final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CancelWaker)

public:
    explicit CancelWaker(QObject *parent = nullptr);
    ~CancelWaker() override;

    // Safe from any thread: woken() is emitted on the waker's own thread.
    void wake();

signals:
    void woken();
};

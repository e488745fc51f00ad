#pragma once

#include "router/routertask.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTest>

// A failed check leaves the test early; the worker must still end before it is destroyed.
struct Worker
{
    ~Worker()
    {
        task.requestCancel();
        task.wait(QDeadlineTimer(30000));
    }
    RouterTask task;
};

// Everything one job reports, received on the test thread.
class JobRecorder final : public QObject
{
public:
    explicit JobRecorder(RouterTask &task)
    {
        connect(&task, &RouterTask::logLine, this, [this](const QString &line) { lines << line; });
        connect(&task, &RouterTask::inspectReady, this,
                [this](bool ok, const QString &error, const QVariantMap &map) {
                    record(ok, error);
                    payload = map;
                });
        connect(&task, &RouterTask::wanReady, this,
                [this](bool ok, const QString &error, bool internetSeen, bool routeSeen) {
                    record(ok, error);
                    internet = internetSeen;
                    hasRoute = routeSeen;
                });
        connect(&task, &RouterTask::provisionReady, this,
                [this](bool ok, const QString &error, const QVariantMap &map) {
                    record(ok, error);
                    payload = map;
                });
        connect(&task, &RouterTask::hotspotReady, this,
                [this](bool ok, const QString &error, const QString &folder) {
                    record(ok, error);
                    path = folder;
                });
        connect(&task, &QThread::finished, this, [this] { finished = true; });
    }

    QStringList lines;
    QList<bool> oks;
    QStringList errors;
    QVariantMap payload;
    bool internet = false;
    bool hasRoute = false;
    QString path;
    bool finished = false;
    QElapsedTimer sinceCancel;
    qint64 resultAfterCancelMs = -1;

private:
    void record(bool ok, const QString &error)
    {
        oks << ok;
        errors << error;
        if (sinceCancel.isValid())
            resultAfterCancelMs = sinceCancel.elapsed();
    }
};

// Waits until the job's thread has ended, then checks what every job leaves behind: one result
// signal, no secrets, and the sign-in kept for the window's next job.
inline void waitForJobEnd(RouterTask &task, JobRecorder &recorder, int timeoutMs = 30000)
{
    QTRY_VERIFY_WITH_TIMEOUT(recorder.finished, timeoutMs);
    QVERIFY(task.wait(5000));
    QCOMPARE(recorder.oks.size(), 1);
    // The secrets go, the rest of the sign-in stays for the window's next job.
    QCOMPARE(task.password(), QString());
    QCOMPARE(task.pppoePassword(), QString());
    QCOMPARE(task.host(), QStringLiteral("127.0.0.1"));
    QCOMPARE(task.user(), QStringLiteral("admin"));
}

#define WAIT_FOR_JOB_END(...)                                                                      \
    do {                                                                                           \
        waitForJobEnd(__VA_ARGS__);                                                                \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

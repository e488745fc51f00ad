#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;
class QListWidget;
class QListWidgetItem;

// The run's steps at a glance, beside the activity log: every log line that announces a step
// ("...") becomes a row, the rows before it are done, and the run's end marks the last one.
class ProgressChecklist final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgressChecklist)

public:
    enum class State { Waiting, Running, Done, Failed };

    struct Step
    {
        QString label;
        QString attempt; // "2/5" while a step repeats, empty otherwise
        State state = State::Running;
        qint64 startedMs = 0;
        qint64 endedMs = -1;
    };

    explicit ProgressChecklist(QWidget *parent = nullptr);

    void start();
    void addLogLine(const QString &line);
    void finish(bool ok, const QString &error);

    [[nodiscard]] const QList<Step> &steps() const { return m_steps; }
    [[nodiscard]] bool isRunning() const { return m_running; }
    [[nodiscard]] QString elapsedText() const;

    // "Checking internet (2/5)..." is the step "Checking internet" at attempt "2/5"; a line that
    // announces no step gives an empty label.
    [[nodiscard]] static Step parseStepLine(const QString &line);
    [[nodiscard]] static QString formatDuration(qint64 ms);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void endCurrentStep(State state);
    void render();
    void fitItemHeight(QListWidgetItem *item) const;

    QList<Step> m_steps;
    QElapsedTimer m_clock;
    QTimer m_tick;
    bool m_running = false;
    qint64 m_endedMs = 0;
    QLabel *m_elapsed = nullptr;
    QListWidget *m_list = nullptr;
};

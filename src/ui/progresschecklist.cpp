#include "progresschecklist.h"

#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

const char kStepEnd[] = "...";
const char kElapsed[] = "Elapsed %1";
constexpr int kTickMs = 1000;
constexpr int kColumnWidth = 300;

QString stateMark(ProgressChecklist::State state)
{
    switch (state) {
    case ProgressChecklist::State::Waiting:
        return QStringLiteral("\u25CB waiting");
    case ProgressChecklist::State::Running:
        return QStringLiteral("\u25B6 running");
    case ProgressChecklist::State::Done:
        return QStringLiteral("\u2713 done");
    case ProgressChecklist::State::Failed:
        return QStringLiteral("\u2717 failed");
    }
    return QString();
}

} // namespace

ProgressChecklist::ProgressChecklist(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("checklist"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_elapsed = new QLabel(this);
    m_elapsed->setObjectName(QStringLiteral("muted"));
    layout->addWidget(m_elapsed);
    m_list = new QListWidget(this);
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setWordWrap(true);
    m_list->setSpacing(3);
    // The activity log beside it is the page's one scroll bar; the list follows the newest step
    // instead (render), and the wheel still reaches the earlier ones.
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Framed like the activity log beside it.
    m_list->setStyleSheet(QStringLiteral("QListWidget { background: white; border: 1px solid "
                                         "#c9d3dc; border-radius: 8px; padding: 6px; }"));
    layout->addWidget(m_list, 1);
    setFixedWidth(kColumnWidth);

    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &ProgressChecklist::render);
}

ProgressChecklist::Step ProgressChecklist::parseStepLine(const QString &line)
{
    Step step;
    QString text = line.trimmed();
    if (!text.endsWith(QLatin1String(kStepEnd)))
        return step;
    text.chop(int(qstrlen(kStepEnd)));
    static const QRegularExpression attempt(QStringLiteral("\\s*\\((\\d+/\\d+)\\)$"));
    const QRegularExpressionMatch match = attempt.match(text);
    if (match.hasMatch()) {
        step.attempt = match.captured(1);
        text.truncate(int(match.capturedStart()));
    }
    step.label = text;
    return step;
}

QString ProgressChecklist::formatDuration(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void ProgressChecklist::start()
{
    m_steps.clear();
    m_clock.start();
    m_running = true;
    m_endedMs = 0;
    if (isVisible())
        m_tick.start();
    render();
}

void ProgressChecklist::addLogLine(const QString &line)
{
    if (!m_running)
        return;
    Step step = parseStepLine(line);
    if (step.label.isEmpty())
        return;
    const qint64 now = m_clock.elapsed();
    if (!m_steps.isEmpty() && m_steps.last().endedMs < 0 && m_steps.last().label == step.label) {
        // Another attempt of the same step: a wait on something outside the router's control.
        m_steps.last().attempt = step.attempt;
        m_steps.last().state = step.attempt.isEmpty() ? State::Running : State::Waiting;
        render();
        return;
    }
    endCurrentStep(State::Done);
    step.state = step.attempt.isEmpty() ? State::Running : State::Waiting;
    step.startedMs = now;
    m_steps.append(step);
    render();
}

void ProgressChecklist::finish(bool ok, const QString &error)
{
    if (!m_running)
        return;
    endCurrentStep(ok ? State::Done : State::Failed);
    if (!ok && m_steps.isEmpty() && !error.isEmpty()) {
        Step failed;
        failed.label = error;
        failed.state = State::Failed;
        failed.endedMs = m_clock.elapsed();
        m_steps.append(failed);
    }
    m_running = false;
    m_endedMs = m_clock.elapsed();
    m_tick.stop();
    render();
}

void ProgressChecklist::endCurrentStep(State state)
{
    if (m_steps.isEmpty() || m_steps.last().endedMs >= 0)
        return;
    m_steps.last().state = state;
    m_steps.last().endedMs = m_clock.elapsed();
}

QString ProgressChecklist::elapsedText() const
{
    const qint64 ms = m_running ? m_clock.elapsed() : m_endedMs;
    return QString::fromLatin1(kElapsed).arg(formatDuration(ms));
}

void ProgressChecklist::render()
{
    m_elapsed->setText(elapsedText());
    const qint64 now = m_clock.isValid() ? m_clock.elapsed() : 0;
    while (m_list->count() > m_steps.size())
        delete m_list->takeItem(m_list->count() - 1);
    for (int i = 0; i < m_steps.size(); ++i) {
        const Step &step = m_steps.at(i);
        QString text = step.label;
        if (!step.attempt.isEmpty())
            text += QStringLiteral(" (%1)").arg(step.attempt);
        const qint64 end = step.endedMs >= 0 ? step.endedMs : now;
        text += QStringLiteral("\n%1  %2")
                    .arg(stateMark(step.state), formatDuration(end - step.startedMs));
        if (i >= m_list->count())
            m_list->addItem(text);
        else if (m_list->item(i)->text() != text)
            m_list->item(i)->setText(text);
        fitItemHeight(m_list->item(i));
    }
    if (m_list->count() > 0)
        m_list->scrollToItem(m_list->item(m_list->count() - 1));
}

void ProgressChecklist::fitItemHeight(QListWidgetItem *item) const
{
    // The list measures a wrapped item before its final width is known, which cut a long label's
    // state line off; the height is measured here at the width the item really gets.
    const int width = m_list->viewport()->width() - 2 * m_list->spacing() - 8;
    if (width <= 0)
        return;
    const QRect needed = m_list->fontMetrics().boundingRect(QRect(0, 0, width, 0),
                                                            Qt::TextWordWrap, item->text());
    const QSize hint(width, needed.height() + 6);
    if (item->sizeHint() != hint)
        item->setSizeHint(hint);
}

void ProgressChecklist::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_running)
        m_tick.start();
    render();
}

void ProgressChecklist::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Nobody reads the clock while the page is away; the elapsed time itself keeps counting.
    m_tick.stop();
}

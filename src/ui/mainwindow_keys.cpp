#include "mainwindow.h"
#include "progresschecklist.h"
#include "router/routertask.h"

#include <algorithm>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

const char kCancelled[] = "Cancelled.";
const char kNeutralColour[] = "color: #4b5b68;";
const char kCloseTitle[] = "Stop the router job?";
const char kCloseQuestion[] = "A router job is still running. Stop it and close?";

// Room for a title bar and borders when the window system has not reported its frame yet.
const QMargins kAssumedFrame(8, 38, 8, 8);

void setMnemonic(QPushButton *button, int letter)
{
    QString text = button->text();
    text.insert(letter, QLatin1Char('&'));
    button->setText(text);
}

} // namespace

QRect MainWindow::fittedGeometry(const QSize &preferred, const QSize &minimum,
                                 const QRect &available, const QMargins &frame)
{
    const QSize room(available.width() - frame.left() - frame.right(),
                     available.height() - frame.top() - frame.bottom());
    const QSize size = preferred.boundedTo(room).expandedTo(minimum);
    QRect frameRect(QPoint(0, 0), size.grownBy(frame));
    frameRect.moveCenter(available.center());
    // A screen smaller than the minimum size keeps the title bar on screen.
    frameRect.moveTop(std::max(frameRect.top(), available.top()));
    frameRect.moveLeft(std::max(frameRect.left(), available.left()));
    return frameRect.marginsRemoved(frame);
}

void MainWindow::fitToScreen()
{
    const QScreen *target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    const QRect geometry =
        fittedGeometry(size(), minimumSize(), target->availableGeometry(), kAssumedFrame);
    resize(geometry.size());
    move(geometry.topLeft() - QPoint(kAssumedFrame.left(), kAssumedFrame.top()));
}

void MainWindow::setUpKeys()
{
    // Run once for the sign-in page and once more when the other pages are made: a control
    // not made yet, or one that has its letter already, is passed over.
    for (QLineEdit *field : {m_accountEdit, m_codeEdit, m_passwordEdit}) {
        if (field)
            field->installEventFilter(this);
    }

    // Letters are unique among the buttons that can be on show together: the brand row, the page
    // and the hotspot card. The progress button changes its text and answers Esc instead.
    const std::pair<QPushButton *, int> letters[] = {
        {m_signOutButton, 0},               // &Sign out
        {m_sendCodeButton, 0},              // &Send verification code (sign-in page, no Sign out)
        {m_signInButton, 5},                // Sign &in
        {m_onboardHomeButton, 0},           // &Onboard a MikroTik
        {m_connectBackButton, 0},           // &Back
        {m_connectButton, 0},               // &Connect
        {m_reviewBackButton, 0},            // &Back
        {m_provisionButton, 0},             // &Onboard this MikroTik
        {m_onboardAnotherButton, 0},        // &Onboard another
        {m_backToAccountButton, 0},         // &Back to the account
        {m_loadStationsButton, 0},          // &Load stations
        {m_installButton, 0},               // &Install login page
        {m_findRoutersButton, 0},           // &Find routers
        {m_saveBackupButton, 2},            // Sa&ve router backup
        {m_showCommandsButton, 1},          // S&how commands
        {m_continueWithoutBackupButton, 9}, // Continue &without a backup
        {m_copyLogButton, 0},               // &Copy log
        {m_saveReportButton, 5},            // Save &report
    };
    for (const auto &[button, letter] : letters) {
        if (button && !button->text().contains(QLatin1Char('&')))
            setMnemonic(button, letter);
    }
}

bool MainWindow::handleFieldReturn(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress ||
        (watched != m_accountEdit && watched != m_codeEdit && watched != m_passwordEdit)) {
        return false;
    }
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    // These fields run their own action on Return. A line edit lets the key travel on to the
    // window afterwards, where the focus may already sit on the next page's button; the key ends
    // here instead.
    static_cast<QObject *>(watched)->event(event);
    event->accept();
    return true;
}

QPushButton *MainWindow::mainAction() const
{
    const QWidget *focus = focusWidget();
    if (focus && m_hotspotCard && m_hotspotCard->isAncestorOf(focus))
        return m_installButton;
    switch (m_currentPage) {
    case LoginPage:
        return m_codeRow->isHidden() ? m_sendCodeButton : m_signInButton;
    case HomePage:
        return m_onboardHomeButton;
    case ConnectPage:
        return m_connectButton;
    case ReviewPage:
        return focus && m_pppoeBox->isAncestorOf(focus) ? m_pppoeButton : m_provisionButton;
    case DonePage:
        return m_onboardAnotherButton;
    default:
        // The progress page has no main action: Return must never cancel a run by accident.
        return nullptr;
    }
}

QPushButton *MainWindow::backAction() const
{
    switch (m_currentPage) {
    case ConnectPage:
        return m_connectBackButton;
    case ReviewPage:
        return m_reviewBackButton;
    case ApplyPage:
        return m_progressButton;
    case DonePage:
        return m_backToAccountButton;
    default:
        return nullptr;
    }
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const int key = event->key();
    QPushButton *target = nullptr;
    if (plain && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
        QWidget *focus = focusWidget();
        // Outside a dialog a push button ignores Return; here it presses the button in focus.
        auto *focusedButton = qobject_cast<QPushButton *>(focus);
        target = focusedButton ? focusedButton : mainAction();
    } else if (plain && key == Qt::Key_Escape) {
        target = backAction();
    }
    if (target && !target->isHidden() && target->isEnabled()) {
        event->accept();
        target->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::focusFirstEmptyField()
{
    QWidget *page = m_stack->currentWidget();
    const QList<QLineEdit *> fields = page->findChildren<QLineEdit *>();
    for (QLineEdit *field : fields) {
        if (field->isVisibleTo(page) && field->isEnabled() && !field->isReadOnly() &&
            field->text().isEmpty()) {
            field->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    if (m_currentPage == ApplyPage) {
        m_log->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (QPushButton *button = mainAction(); button && button->isEnabled())
        button->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::routerChangeRunning() const
{
    if (m_worker->isRunning())
        return m_worker->jobKind() != Inspect && m_worker->jobKind() != Backup;
    // The install through the Quillmor link runs as a service call on the progress page.
    return m_busy && m_currentPage == ApplyPage;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (routerChangeRunning()) {
        if (!confirm(QLatin1String(kCloseTitle), QLatin1String(kCloseQuestion))) {
            event->ignore();
            return;
        }
        // Whichever is running stops at once: a router job, or a service call waiting in a nested
        // event loop (the install through the Quillmor link), which must not fall back to the
        // router's address afterwards either.
        m_cancelAsked = true;
        m_worker->requestCancel();
        m_api.cancelRequest();
    }
    // Remembered when the operator closes the window, the one way a run of the app ends.
    saveRecentSettings();
    QMainWindow::closeEvent(event);
}

void MainWindow::showErrorText(QLabel *label, const QString &text)
{
    label->setText(text);
    // Stopping on request is not a failure, so it does not wear the error colour.
    label->setStyleSheet(text == QLatin1String(kCancelled) ? QLatin1String(kNeutralColour)
                                                           : QString());
}

namespace {

// Layouts cache their height for a width, nested ones too; a new height of a part has to reach
// every layout between it and the page before the page is measured again.
void invalidateLayouts(QLayout *layout)
{
    if (!layout)
        return;
    layout->invalidate();
    for (int i = 0; i < layout->count(); ++i)
        invalidateLayouts(layout->itemAt(i)->layout());
}

void setPartHeight(QAbstractScrollArea *part, QWidget *page, int height)
{
    part->setFixedHeight(height);
    for (QWidget *w = part->parentWidget(); w; w = w->parentWidget()) {
        invalidateLayouts(w->layout());
        w->updateGeometry();
        if (w == page)
            break;
    }
}

int pageHeightForWidth(QLayout *layout, int width)
{
    return layout->hasHeightForWidth() ? layout->heightForWidth(width)
                                       : layout->sizeHint().height();
}

} // namespace

bool MainWindow::fitScrollingPart(QAbstractScrollArea *part, int fullHeight, int room, int width)
{
    // The smallest useful view: three lines and the frame around them.
    part->ensurePolished();
    const int frame = part->height() - part->viewport()->height();
    const int minimum = 3 * part->fontMetrics().lineSpacing() + std::max(frame, 0) + 12;
    QWidget *page = m_stack->currentWidget();
    setPartHeight(part, page, minimum);
    const int rest = pageHeightForWidth(page->layout(), width) - minimum;
    const int space = room - rest;
    // One scroll bar at a time: where the part fits beside the rest of the page and the hotspot
    // card, it scrolls on its own and the window does not; where it does not, the window scrolls
    // and the part shows all of itself (or, for a log of unknown length, shows no bar of its own).
    const bool bounded = space >= minimum;
    int height = minimum;
    if (bounded)
        height = fullHeight >= 0 ? std::clamp(fullHeight, minimum, space) : space;
    else if (fullHeight >= 0)
        height = std::max(fullHeight, minimum);
    part->setVerticalScrollBarPolicy(bounded ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setPartHeight(part, page, height);
    return bounded && fullHeight > height;
}

void MainWindow::fitReviewText(int room, int width)
{
    // The card's margins and the text area's own scroll bar take this much of the page's width.
    const int barWidth = m_reviewTextArea->verticalScrollBar()->sizeHint().width();
    const int textWidth = std::max(width - 8 - 44 - barWidth, 120);
    const int textHeight = m_reviewText->heightForWidth(textWidth);
    const bool scrolls = fitScrollingPart(m_reviewTextArea, textHeight, room, width);
    // A text that is all on show is no stop for Tab; one that scrolls is reached by the keys.
    m_reviewTextArea->setFocusPolicy(scrolls ? Qt::StrongFocus : Qt::NoFocus);
}

void MainWindow::addProgressChecklist()
{
    // The checklist sits beside the activity log, in the log's place in the progress page.
    auto *pageLayout = qobject_cast<QBoxLayout *>(m_log->parentWidget()->layout());
    const int index = pageLayout->indexOf(m_log);
    pageLayout->removeWidget(m_log);
    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    m_checklist = new ProgressChecklist(m_log->parentWidget());
    // As tall as the log beside it, which takes the room the page has (fitPage); the list follows
    // its newest step rather than asking for more.
    m_checklist->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    row->addWidget(m_checklist);
    row->addWidget(m_log, 1);
    pageLayout->insertLayout(index, row, 1);

    const auto finish = [this](bool ok, const QString &error) { m_checklist->finish(ok, error); };
    connect(m_worker, &RouterTask::inspectReady, this,
            [finish](bool ok, const QString &error, const QVariantMap &) { finish(ok, error); });
    connect(m_worker, &RouterTask::wanReady, this,
            [finish](bool ok, const QString &error, bool, bool) { finish(ok, error); });
    connect(m_worker, &RouterTask::provisionReady, this,
            [finish](bool ok, const QString &error, const QVariantMap &) { finish(ok, error); });
    connect(m_worker, &RouterTask::hotspotReady, this,
            [finish](bool ok, const QString &error, const QString &) { finish(ok, error); });
}

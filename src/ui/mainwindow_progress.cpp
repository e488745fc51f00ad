#include "mainwindow.h"

#include "progresschecklist.h"
#include "router/routertask.h"
#include "textlabel.h"
#include "wizardrules.h"

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int kLogBlocks = 400;
constexpr int kShutdownWaitMs = 30000;

} // namespace

MainWindow::~MainWindow()
{
    if (m_worker->isRunning()) {
        m_worker->requestCancel();
        m_worker->wait(QDeadlineTimer(kShutdownWaitMs, Qt::CoarseTimer));
    }
    if (m_worker->isRunning()) {
        // Some waits of a job ignore the cancel flag (building the password helper, a service
        // request of the provisioning job). Destroying a QThread that still runs aborts the
        // process, so the worker leaves the window's object tree instead and deletes itself once
        // its thread has finished; its signals go nowhere, since the window is gone.
        disconnect(m_worker, nullptr, this, nullptr);
        m_worker->setParent(nullptr);
        connect(m_worker, &QThread::finished, m_worker, &QObject::deleteLater);
        // The thread may have ended between the check above and the connect.
        if (m_worker->isFinished())
            m_worker->deleteLater();
        m_worker = nullptr;
    }
    if (m_waitCursorShown)
        QApplication::restoreOverrideCursor();
    // Pages never shown are outside the object tree, so nothing else deletes them.
    for (QWidget *page : std::as_const(m_laterPages)) {
        if (!page->parentWidget())
            delete page;
    }
}

QWidget *MainWindow::buildProgressPage()
{
    auto *page = new QWidget;
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    m_progressTitle = new TextLabel(QString(), page);
    m_progressTitle->setObjectName(QStringLiteral("title"));
    layout->addWidget(m_progressTitle);
    m_log = new QPlainTextEdit(page);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(kLogBlocks);
    layout->addWidget(m_log, 1);
    m_progressButton = new QPushButton(QStringLiteral("Cancel"), page);
    m_progressButton->setObjectName(QStringLiteral("secondary"));
    layout->addWidget(buildProgressTools(page));
    return page;
}

void MainWindow::setBusy(bool on)
{
    m_busy = on;
    for (QPushButton *button :
         {m_sendCodeButton, m_signInButton, m_connectButton, m_dhcpButton, m_pppoeButton,
          m_provisionButton, m_loadStationsButton, m_installButton, m_signOutButton}) {
        // The later pages' buttons are set once more when those pages are made.
        if (button)
            button->setEnabled(!on);
    }
    if (on) {
        if (!m_waitCursorShown) {
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            m_waitCursorShown = true;
        }
        return;
    }
    if (m_waitCursorShown) {
        QApplication::restoreOverrideCursor();
        m_waitCursorShown = false;
    }
    if (!m_api.hasApiKey())
        m_sendCodeButton->setEnabled(false);
    if (!m_complete)
        return;
    // Every way back to the review passes here, and not all of them rebuild it.
    m_provisionButton->setEnabled(reviewDecisions(m_facts, m_profile).onboardAllowed);
    const bool signedIn = !m_profile.token.isEmpty();
    m_loadStationsButton->setEnabled(signedIn);
    m_installButton->setEnabled(signedIn);
}

void MainWindow::beginJobPage(const QString &title, int returnPage)
{
    m_returnPage = returnPage;
    m_log->clear();
    startJobRecord(title);
    m_progressTitle->setText(title);
    m_progressButton->setText(QStringLiteral("Cancel"));
    m_progressButton->setEnabled(true);
    showPage(ApplyPage);
    setBusy(true);
}

RouterLogin MainWindow::routerLogin() const
{
    RouterLogin login;
    login.host = m_hostEdit->text().trimmed();
    login.port = static_cast<quint16>(m_portSpin->value());
    login.user = m_userEdit->text().trimmed();
    login.password = m_passwordEdit->text();
    return login;
}

bool MainWindow::hasLocalLogin() const
{
    return !m_reachedOnlyThroughService && !m_hostEdit->text().trimmed().isEmpty()
           && !m_userEdit->text().trimmed().isEmpty() && !m_passwordEdit->text().isEmpty();
}

void MainWindow::failOnProgressPage(const QString &error)
{
    m_progressTitle->setText(error);
    m_checklist->finish(false, error);
    m_progressButton->setText(QStringLiteral("Back"));
    // A "Cancel" pressed during a service call greys the button; the failed page needs its way
    // back.
    m_progressButton->setEnabled(true);
}

void MainWindow::onProgressBack()
{
    if (m_busy) {
        // Whichever is running stops: the router job at its next check, a service call at once.
        m_cancelAsked = true;
        m_worker->requestCancel();
        m_api.cancelRequest();
        appendLog(QStringLiteral("Cancel requested."));
        m_progressButton->setEnabled(false);
        return;
    }
    if (m_returnPage == ReviewPage) {
        buildReview();
        showPage(ReviewPage);
    } else {
        showPage(m_returnPage);
    }
}

void MainWindow::appendLog(const QString &line)
{
    const QString stamped = QStringLiteral("[%1] %2").arg(
        QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), line);
    m_log->appendPlainText(stamped);
    m_checklist->addLogLine(line);
    // The view keeps the last lines only; the report keeps every line of the job.
    m_report.logLines << stamped;
}

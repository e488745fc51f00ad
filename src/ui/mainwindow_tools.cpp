#include "mainwindow.h"
#include "router/backupjob.h"
#include "router/mndpscanner.h"
#include "router/routertask.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {

constexpr int kScanMs = 4000;

const char kLinkTitle[] = "Linking this router to Quillmor...";
const char kBackupTitle[] = "Saving a backup of the router...";
const char kHotspotTitle[] = "Installing the hotspot login page...";
const char kBackupSaved[] = "Saved the router backup to %1.";
const char kLooking[] = "Looking for routers on the cable...";
const char kFoundSome[] = "Choose a router to use its address.";
const char kFoundNone[] = "No router answered. Check the cable, or type the router's address.";
const char kNoAddressYet[] = "no IPv4 address yet";
const char kReportSaved[] = "Saved the report to %1.";
const char kReportNotSaved[] = "Could not save the report to %1.";

// What the window remembers between runs; never a password, code, token or key.
const char kRecentAccount[] = "recent/accountNumber";
const char kRecentHost[] = "recent/routerAddress";
const char kRecentPort[] = "recent/routerPort";
const char kRecentUser[] = "recent/routerUser";
const char kRecentMode[] = "recent/routerMode";
const char kRecentGeometry[] = "window/geometry";
const char kModeInUse[] = "inUse";
const char kModeNew[] = "new";

constexpr int kAddressRole = Qt::UserRole;

QString neighbourText(const MndpNeighbour &n)
{
    QStringList parts;
    parts << (n.identity.isEmpty() ? QStringLiteral("MikroTik") : n.identity);
    parts << (n.ipv4.isEmpty() ? QString::fromLatin1(kNoAddressYet) : n.ipv4);
    if (!n.mac.isEmpty())
        parts << n.mac;
    if (!n.version.isEmpty())
        parts << QStringLiteral("RouterOS ") + n.version;
    if (!n.board.isEmpty())
        parts << n.board;
    if (!n.interfaceName.isEmpty())
        parts << QStringLiteral("via ") + n.interfaceName;
    return parts.join(QStringLiteral("  \u00b7  "));
}

} // namespace

void MainWindow::setSaveFileFunction(SaveFileFunction saveFile)
{
    m_saveFile = std::move(saveFile);
}

QWidget *MainWindow::buildFindRouters(QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    m_findRoutersButton = new QPushButton(QStringLiteral("Find routers"), box);
    m_findRoutersButton->setObjectName(QStringLiteral("secondary"));
    row->addWidget(m_findRoutersButton);
    m_findStatus = makeLabel(QString(), "muted", box);
    m_findStatus->setTextFormat(Qt::PlainText);
    row->addWidget(m_findStatus, 1);
    layout->addLayout(row);
    m_neighbourList = new QListWidget(box);
    m_neighbourList->setMaximumHeight(120);
    m_neighbourList->hide();
    layout->addWidget(m_neighbourList);
    return box;
}

QPushButton *MainWindow::buildSaveBackupButton(QWidget *parent)
{
    m_saveBackupButton = new QPushButton(QStringLiteral("Save router backup"), parent);
    m_saveBackupButton->setObjectName(QStringLiteral("secondary"));
    return m_saveBackupButton;
}

QWidget *MainWindow::buildProgressTools(QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    // Cancel (Back once the job ends) keeps its place at the left; the log's tools sit right.
    layout->addWidget(m_progressButton);
    m_continueWithoutBackupButton =
        new QPushButton(QStringLiteral("Continue without a backup"), row);
    m_continueWithoutBackupButton->hide();
    layout->addWidget(m_continueWithoutBackupButton);
    layout->addStretch(1);
    m_copyLogButton = new QPushButton(QStringLiteral("Copy log"), row);
    m_copyLogButton->setObjectName(QStringLiteral("secondary"));
    layout->addWidget(m_copyLogButton);
    m_saveReportButton = new QPushButton(QStringLiteral("Save report"), row);
    m_saveReportButton->setObjectName(QStringLiteral("secondary"));
    layout->addWidget(m_saveReportButton);
    return row;
}

QWidget *MainWindow::buildDoneLog(QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    m_doneLogToggle = new QPushButton(QStringLiteral("Show the &activity log"), box);
    m_doneLogToggle->setObjectName(QStringLiteral("secondary"));
    m_doneLogToggle->setCheckable(true);
    row->addWidget(m_doneLogToggle);
    row->addStretch(1);
    auto *copy = new QPushButton(QStringLiteral("&Copy log"), box);
    copy->setObjectName(QStringLiteral("secondary"));
    row->addWidget(copy);
    auto *save = new QPushButton(QStringLiteral("Save &report"), box);
    save->setObjectName(QStringLiteral("secondary"));
    row->addWidget(save);
    layout->addLayout(row);
    m_doneLog = new QPlainTextEdit(box);
    m_doneLog->setReadOnly(true);
    m_doneLog->hide();
    layout->addWidget(m_doneLog);
    connect(copy, &QPushButton::clicked, this, &MainWindow::onCopyLog);
    connect(save, &QPushButton::clicked, this, &MainWindow::onSaveReport);
    connect(m_doneLogToggle, &QPushButton::toggled, this, [this](bool open) {
        m_doneLog->setVisible(open);
        m_doneLogToggle->setText(open ? QStringLiteral("Hide the &activity log")
                                      : QStringLiteral("Show the &activity log"));
        fitPage();
    });
    return box;
}

QWidget *MainWindow::buildSessionRouters(QWidget *parent)
{
    m_sessionRoutersLabel = makeLabel(QString(), "muted", parent);
    m_sessionRoutersLabel->setTextFormat(Qt::PlainText);
    m_sessionRoutersLabel->hide();
    return m_sessionRoutersLabel;
}

void MainWindow::wireToolControls()
{
    m_scanner = new MndpScanner(this);
    connect(m_findRoutersButton, &QPushButton::clicked, this, &MainWindow::onFindRouters);
    connect(m_scanner, &MndpScanner::neighbourFound, this, &MainWindow::addNeighbour);
    connect(m_scanner, &MndpScanner::finished, this, [this] {
        m_findRoutersButton->setEnabled(true);
        m_findStatus->setText(
            QString::fromLatin1(m_neighbourList->count() > 0 ? kFoundSome : kFoundNone));
    });
    const auto choose = [this](QListWidgetItem *item) {
        const QString address = item ? item->data(kAddressRole).toString() : QString();
        if (!address.isEmpty())
            m_hostEdit->setText(address);
    };
    connect(m_neighbourList, &QListWidget::itemClicked, this, choose);
    connect(m_neighbourList, &QListWidget::itemActivated, this, choose);

    m_worker->setBackupFolder(defaultBackupFolder());
    connect(m_saveBackupButton, &QPushButton::clicked, this, &MainWindow::onSaveBackup);
    connect(m_continueWithoutBackupButton, &QPushButton::clicked, this,
            &MainWindow::onContinueWithoutBackup);
    connect(m_copyLogButton, &QPushButton::clicked, this, &MainWindow::onCopyLog);
    connect(m_saveReportButton, &QPushButton::clicked, this, &MainWindow::onSaveReport);
    // Runs after onProgressBack: leaving the page is the answer "not without a backup".
    connect(m_progressButton, &QPushButton::clicked, this, [this] {
        if (m_busy)
            return;
        m_continueWithoutBackupButton->hide();
        m_worker->discardStoppedJob();
    });

    connect(m_worker, &RouterTask::backupSaved, this,
            [this](const QString &path) { m_report.backupFile = path; });
    connect(m_worker, &RouterTask::backupStopped, this, [this](const QString &error) {
        setBusy(false);
        failOnProgressPage(error);
        m_continueWithoutBackupButton->show();
        finishJobRecord(false, error, QVariantMap());
    });
    connect(m_worker, &RouterTask::backupReady, this,
            [this](bool ok, const QString &error, const QString &path) {
                setBusy(false);
                m_progressButton->setEnabled(true);
                m_progressButton->setText(QStringLiteral("Back"));
                if (ok) {
                    m_report.backupFile = path;
                    m_progressTitle->setText(
                        QString::fromLatin1(kBackupSaved).arg(QDir::toNativeSeparators(path)));
                } else {
                    failOnProgressPage(error);
                }
                finishJobRecord(ok, error, QVariantMap());
            });

    // These run after the page handlers, which were connected first.
    connect(m_worker, &RouterTask::inspectReady, this,
            [this](bool ok, const QString &error, const QVariantMap &) {
                m_connectedOnce = m_connectedOnce || ok;
                finishJobRecord(ok, error, QVariantMap());
            });
    connect(m_worker, &RouterTask::wanReady, this,
            [this](bool ok, const QString &error, bool, bool) {
                finishJobRecord(ok, error, QVariantMap());
            });
    connect(m_worker, &RouterTask::provisionReady, this,
            [this](bool ok, const QString &error, const QVariantMap &result) {
                finishJobRecord(ok, error, result);
            });
    connect(m_worker, &RouterTask::hotspotReady, this,
            [this](bool ok, const QString &error, const QString &) {
                finishJobRecord(ok, error, QVariantMap());
            });

}

void MainWindow::onFindRouters()
{
    if (m_scanner->isScanning())
        return;
    m_neighbourList->clear();
    m_neighbourList->hide();
    QString error;
    if (!m_scanner->start(kScanMs, &error)) {
        m_findStatus->setText(error);
        return;
    }
    m_findRoutersButton->setEnabled(false);
    m_findStatus->setText(QString::fromLatin1(kLooking));
    fitPage();
}

void MainWindow::addNeighbour(const MndpNeighbour &neighbour)
{
    auto *item = new QListWidgetItem(neighbourText(neighbour), m_neighbourList);
    item->setData(kAddressRole, neighbour.ipv4);
    m_neighbourList->show();
    fitPage();
}

void MainWindow::onSaveBackup()
{
    if (m_busy)
        return;
    beginJobPage(QString::fromLatin1(kBackupTitle), ReviewPage);
    m_worker->startBackup(routerLogin());
}

void MainWindow::onContinueWithoutBackup()
{
    if (m_busy || !m_worker->hasStoppedJob())
        return;
    // The stopped job's thread sends its signal as its last act; let it end first.
    m_worker->wait(5000);
    m_continueWithoutBackupButton->hide();
    m_progressTitle->setText(m_jobTitle);
    m_progressButton->setText(QStringLiteral("Cancel"));
    m_progressButton->setEnabled(true);
    m_reportHasResult = false;
    setBusy(true);
    if (!m_worker->restartWithoutBackup()) {
        setBusy(false);
        failOnProgressPage(QStringLiteral("Still working on the previous step."));
    }
}

void MainWindow::startJobRecord(const QString &title)
{
    m_jobTitle = title;
    m_continueWithoutBackupButton->hide();
    m_report = JobReport();
    m_reportHasResult = false;
    m_report.runChoice = title;
    if (title == QLatin1String(kLinkTitle)) {
        m_report.runChoice += QStringLiteral(" (%1)").arg(m_fullSetupRadio->isChecked()
                                                              ? m_fullSetupRadio->text()
                                                              : m_wireguardOnlyRadio->text());
    }
    m_doneLog->clear();
}

void MainWindow::finishJobRecord(bool ok, const QString &error, const QVariantMap &result)
{
    m_reportHasResult = true;
    m_report.finished = true;
    m_report.ok = ok;
    m_report.error = ok ? QString() : error;
    m_report.tunnelAddress = result.value(QStringLiteral("address")).toString();
    m_report.endpoint = result.value(QStringLiteral("endpoint")).toString();
    m_report.confirmation = result.value(QStringLiteral("message")).toString();
    m_doneLog->setPlainText(m_report.logLines.join(QLatin1Char('\n')));

    const RouterLogin login = routerLogin();
    if (login.host.isEmpty())
        return;
    const QString identity = factString(QStringLiteral("identity"));
    QString outcome = ok ? QStringLiteral("done") : error;
    if (ok && result.value(QStringLiteral("online")).toBool())
        outcome = QStringLiteral("linked, Quillmor can see it");
    else if (ok && !result.isEmpty())
        outcome = QStringLiteral("link added");
    const QString key = QStringLiteral("%1:%2").arg(login.host).arg(login.port);
    m_sessionRouters.insert(key, QStringLiteral("%1 (%2) - %3: %4")
                                     .arg(identity.isEmpty() ? QStringLiteral("Router") : identity,
                                          key, m_jobTitle.chopped(3), outcome));
    updateSessionRouters();
}

void MainWindow::updateSessionRouters()
{
    if (m_sessionRouters.isEmpty()) {
        m_sessionRoutersLabel->hide();
        return;
    }
    m_sessionRoutersLabel->setText(QStringLiteral("Routers this session:\n") +
                                   QStringList(m_sessionRouters.values()).join(QLatin1Char('\n')));
    m_sessionRoutersLabel->show();
}

JobReport MainWindow::currentReport() const
{
    JobReport report = m_report;
    report.product = QStringLiteral("Quillmor MikroTik Setup");
    report.version = QApplication::applicationVersion();
    report.when = QDateTime::currentDateTime();
    report.accountNumber = m_profile.accountNumber;
    report.accountName = m_profile.accountName;
    report.identity = factString(QStringLiteral("identity"));
    report.model = factString(QStringLiteral("model"));
    report.routerOsVersion = factString(QStringLiteral("version"));
    const RouterLogin login = routerLogin();
    report.address = login.host;
    report.port = login.port;
    // A job that ended outside the router worker (the install through the service) leaves its
    // word in the hotspot card, or else in the progress title.
    if (!m_reportHasResult && !m_busy) {
        const bool hotspot = m_jobTitle == QLatin1String(kHotspotTitle);
        report.status = hotspot && !m_hotspotNote->text().isEmpty() ? m_hotspotNote->text()
                                                                    : m_progressTitle->text();
    }
    return report;
}

QStringList MainWindow::knownSecrets() const
{
    return {m_passwordEdit->text(), m_pppoePasswordEdit->text(), m_profile.token,
            m_profile.mikrotikPassword, m_codeEdit->text()};
}

void MainWindow::onCopyLog()
{
    // The report's masking, so the clipboard never holds more than a saved report would.
    QApplication::clipboard()->setText(
        maskSecrets(m_report.logLines.join(QLatin1Char('\n')) + QLatin1Char('\n'), knownSecrets()));
}

void MainWindow::onSaveReport()
{
    const JobReport report = currentReport();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = QDir(folder).filePath(reportFileName(report.identity, report.when));
    const QString title = QStringLiteral("Save report");
    const QString path = m_saveFile
                             ? m_saveFile(this, title, suggested)
                             : QFileDialog::getSaveFileName(this, title, suggested,
                                                            QStringLiteral("Text files (*.txt)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray text = reportText(report, knownSecrets()).toUtf8();
    const bool saved =
        file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
    appendLog(QString::fromLatin1(saved ? kReportSaved : kReportNotSaved)
                  .arg(QDir::toNativeSeparators(path)));
}

void MainWindow::restoreRecentSettings()
{
    QSettings recent(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmor"),
                     QStringLiteral("QuillmorMikroTikSetup"));
    const QString account = recent.value(QLatin1String(kRecentAccount)).toString();
    if (!account.isEmpty())
        m_accountEdit->setText(account);
    const QByteArray geometry = recent.value(QLatin1String(kRecentGeometry)).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
}

void MainWindow::restoreRecentRouter()
{
    QSettings recent(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmor"),
                     QStringLiteral("QuillmorMikroTikSetup"));
    if (recent.value(QLatin1String(kRecentMode)).toString() == QLatin1String(kModeInUse))
        m_inUseRadio->setChecked(true);
    if (recent.contains(QLatin1String(kRecentHost))) {
        m_hostEdit->setText(recent.value(QLatin1String(kRecentHost)).toString());
        m_portSpin->setValue(recent.value(QLatin1String(kRecentPort), 22).toInt());
        m_userEdit->setText(recent.value(QLatin1String(kRecentUser)).toString());
    }
}

void MainWindow::saveRecentSettings() const
{
    QSettings recent(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quillmor"),
                     QStringLiteral("QuillmorMikroTikSetup"));
    if (!m_profile.accountNumber.isEmpty())
        recent.setValue(QLatin1String(kRecentAccount), m_profile.accountNumber);
    // Only a router this window reached is worth offering again.
    if (m_connectedOnce) {
        recent.setValue(QLatin1String(kRecentHost), m_hostEdit->text().trimmed());
        recent.setValue(QLatin1String(kRecentPort), m_portSpin->value());
        recent.setValue(QLatin1String(kRecentUser), m_userEdit->text().trimmed());
        recent.setValue(QLatin1String(kRecentMode),
                        QLatin1String(m_inUseRadio->isChecked() ? kModeInUse : kModeNew));
    }
    recent.setValue(QLatin1String(kRecentGeometry), saveGeometry());
}

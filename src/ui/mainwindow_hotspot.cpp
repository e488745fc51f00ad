#include "mainwindow.h"

#include "router/routertask.h"
#include "wizardrules.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char kLoadStationsFirst[] = "Load stations first";

} // namespace

QWidget *MainWindow::buildHotspotCard()
{
    const Card card = makeCard(nullptr);
    m_hotspotCard = card.widget;
    auto *section = new QLabel(QStringLiteral("Hotspot login page"), card.widget);
    section->setObjectName(QStringLiteral("section"));
    card.layout->addWidget(section);
    auto *text = new QLabel(
        QStringLiteral("Do this after the router is linked, and after the station exists in your "
                       "Quillmor system. Choose the station, then install. Quillmor reads the "
                       "hotspot folder through the tunnel and replaces login.html there, so this "
                       "computer does not need to reach the hotspot. The router is saved in "
                       "Quillmor. Only Quillmor management can remove it."),
        card.widget);
    text->setObjectName(QStringLiteral("muted"));
    text->setWordWrap(true);
    card.layout->addWidget(text);

    m_stationList = new QComboBox(card.widget);
    m_stationList->addItem(QLatin1String(kLoadStationsFirst));
    m_stationList->setMinimumHeight(44);
    m_stationList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    card.layout->addWidget(m_stationList);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    m_loadStationsButton = new QPushButton(QStringLiteral("Load stations"), card.widget);
    m_loadStationsButton->setObjectName(QStringLiteral("secondary"));
    m_loadStationsButton->setEnabled(false);
    buttons->addWidget(m_loadStationsButton);
    m_installButton = new QPushButton(QStringLiteral("Install login page"), card.widget);
    m_installButton->setEnabled(false);
    buttons->addWidget(m_installButton);
    buttons->addStretch(1);
    card.layout->addLayout(buttons);

    m_hotspotNote = new QLabel(card.widget);
    m_hotspotNote->setObjectName(QStringLiteral("muted"));
    m_hotspotNote->setWordWrap(true);
    m_hotspotNote->setTextFormat(Qt::PlainText);
    card.layout->addWidget(m_hotspotNote);
    return card.widget;
}

void MainWindow::onLoadStations()
{
    if (m_busy || m_profile.token.isEmpty())
        return;
    setBusy(true);
    m_hotspotNote->setText(QStringLiteral("Loading stations from your Quillmor system..."));
    QList<StationInfo> stations;
    QString error;
    const bool ok = m_api.listStations(&stations, &error);
    setBusy(false);

    m_stationList->clear();
    if (ok && !stations.isEmpty()) {
        for (const StationInfo &station : std::as_const(stations))
            m_stationList->addItem(stationLabel(station), station.id);
        m_hotspotNote->setText(QStringLiteral("Choose the station, then install the login page."));
    } else if (ok) {
        m_stationList->addItem(QStringLiteral("No stations yet"));
        m_hotspotNote->setText(QStringLiteral(
            "Create the station in your Quillmor system first, then load stations again."));
    } else {
        m_stationList->addItem(QLatin1String(kLoadStationsFirst));
        m_hotspotNote->setText(error);
    }
    fitPage();
}

void MainWindow::onInstallHotspot()
{
    if (m_busy)
        return;
    if (m_profile.token.isEmpty()) {
        m_hotspotNote->setText(QStringLiteral("Sign in with the Quillmor account first."));
        return;
    }
    const QString stationId = m_stationList->currentData().toString().trimmed();
    if (!isStationId(stationId)) {
        m_hotspotNote->setText(QStringLiteral("Choose a station. Create it in your Quillmor system "
                                              "first, then load stations."));
        return;
    }

    QString newestName;
    if (m_savedRouterId.isEmpty()) {
        QList<SavedRouter> routers;
        // The call waits in a nested event loop; busy keeps the buttons from starting a second
        // install meanwhile. A failed lookup only means the install cannot go through the tunnel.
        setBusy(true);
        const bool listed = m_api.listRouters(&routers, nullptr);
        setBusy(false);
        if (listed && !routers.isEmpty()) {
            m_savedRouterId = routers.first().id;
            newestName = routers.first().name;
        }
    }
    m_chosenStationId = stationId;

    m_returnPage = m_currentPage == ApplyPage ? HomePage : m_currentPage;
    m_log->clear();
    m_progressTitle->setText(QStringLiteral("Installing the hotspot login page..."));
    m_progressButton->setText(QStringLiteral("Cancel"));
    m_progressButton->setEnabled(true);
    showPage(ApplyPage);

    if (!m_savedRouterId.isEmpty()) {
        setBusy(true);
        appendLog(QStringLiteral("Installing through the Quillmor link. The hotspot can block this "
                                 "computer from the router."));
        if (!newestName.isEmpty())
            appendLog(QStringLiteral("Using the newest saved router, %1.").arg(newestName));
        QString path;
        QString error;
        const bool ok = m_api.installHotspot(m_savedRouterId, stationId, &path, &error);
        if (ok) {
            setBusy(false);
            m_hotspotNote->setText(QStringLiteral("Login page installed at %1.").arg(path));
            showPage(m_returnPage);
            return;
        }
        appendLog(error);
        setBusy(false);
        if (!hasLocalLogin()) {
            m_hotspotNote->setText(
                error
                + QStringLiteral("\n\nThe hotspot can block this computer. If the Quillmor link "
                                 "cannot reach the router, enter its address and password on the "
                                 "connect step. After a new layout that address is often "
                                 "172.16.0.1."));
            failOnProgressPage(error);
            return;
        }
        appendLog(QStringLiteral("Trying the router address on this computer."));
    } else if (!hasLocalLogin()) {
        m_hotspotNote->setText(QStringLiteral("Onboard this router first so Quillmor can reach it. "
                                              "Or enter its address and password on the connect "
                                              "step."));
        failOnProgressPage(QStringLiteral("This router is not saved on the account yet."));
        return;
    }
    startLocalHotspotInstall(stationId);
}

void MainWindow::startLocalHotspotInstall(const QString &stationId)
{
    QString pageUrl;
    if (!loginPageUrl(m_api.baseUrl(), stationId, &pageUrl)) {
        m_hotspotNote->setText(
            QStringLiteral("The Quillmor address in quillmor.ini is not a secure URL."));
        showPage(m_returnPage);
        return;
    }
    setBusy(true);
    m_worker->startHotspot(routerLogin(), pageUrl);
}

void MainWindow::onHotspotReady(bool ok, const QString &error, const QString &path)
{
    setBusy(false);
    m_progressButton->setEnabled(true);
    if (ok) {
        QString message = QStringLiteral("Login page installed at %1.").arg(path);
        if (!m_savedRouterId.isEmpty()) {
            QString saveError;
            setBusy(true);
            const bool saved = m_api.saveHotspot(m_savedRouterId, m_chosenStationId, path,
                                                 &saveError);
            setBusy(false);
            if (!saved) {
                message += QStringLiteral(" The page is on the router. Quillmor did not record the "
                                          "station: %1")
                               .arg(saveError);
            }
        }
        m_hotspotNote->setText(message);
        showPage(m_returnPage);
        return;
    }
    QString message = error;
    if (!m_hostEdit->text().trimmed().startsWith(QLatin1String("172.16.0.1"))) {
        message += QStringLiteral("\n\nIf this router was just set up, the LAN address is "
                                  "172.16.0.1. Put that in the router address field and try again "
                                  "before a customer opens the hotspot.");
    }
    m_hotspotNote->setText(message);
    failOnProgressPage(error);
}

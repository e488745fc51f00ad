#include "mainwindow.h"

#include "router/routertask.h"
#include "textlabel.h"
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
const char kInstalledOn[] = "Login page installed at %1 on %2.";

} // namespace

QWidget *MainWindow::buildHotspotCard()
{
    const Card card = makeCard(nullptr);
    m_hotspotCard = card.widget;
    auto *section = new QLabel(QStringLiteral("Hotspot login page"), card.widget);
    section->setObjectName(QStringLiteral("section"));
    card.layout->addWidget(section);
    auto *text = new TextLabel(
        QStringLiteral("Do this after the router is linked, and after the station exists in your "
                       "Quillmor system. Choose the station, then install. Quillmor reads the "
                       "hotspot folder through the tunnel and replaces login.html there, so this "
                       "computer does not need to reach the hotspot. The router is saved in "
                       "Quillmor. Only Quillmor management can remove it."),
        card.widget);
    text->setObjectName(QStringLiteral("muted"));
    card.layout->addWidget(text);

    m_stationList = new QComboBox(card.widget);
    m_stationList->addItem(QLatin1String(kLoadStationsFirst));
    m_stationList->setMinimumHeight(44);
    m_stationList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    // The station and its two buttons share a row, and the card is set closer than the others:
    // on the review page it has to fit under the page without making the window scroll.
    card.layout->setSpacing(8);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(m_stationList, 1);
    m_loadStationsButton = new QPushButton(QStringLiteral("Load stations"), card.widget);
    m_loadStationsButton->setObjectName(QStringLiteral("secondary"));
    m_loadStationsButton->setEnabled(false);
    buttons->addWidget(m_loadStationsButton);
    m_installButton = new QPushButton(QStringLiteral("Install login page"), card.widget);
    m_installButton->setEnabled(false);
    buttons->addWidget(m_installButton);
    card.layout->addLayout(buttons);

    m_hotspotNote = new TextLabel(QString(), card.widget);
    m_hotspotNote->setObjectName(QStringLiteral("muted"));
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

    HotspotTarget target;
    if (!chooseHotspotTarget(&target))
        return;
    QString question = QStringLiteral("Install the login page of %1 on %2?")
                           .arg(m_stationList->currentText(), target.name);
    if (!target.routerId.isEmpty() && target.localFallback && hasLocalLogin()) {
        question += QStringLiteral(" If the Quillmor link cannot reach that router, this computer "
                                   "installs it at %1 instead.")
                        .arg(m_hostEdit->text().trimmed());
    }
    if (!confirm(QStringLiteral("Install login page?"), question))
        return;
    m_chosenStationId = stationId;

    beginHotspotPage();
    if (target.routerId.isEmpty()) {
        startLocalHotspotInstall(stationId, target);
        return;
    }

    setBusy(true);
    appendLog(QStringLiteral("Installing through the Quillmor link. The hotspot can block this "
                             "computer from the router."));
    QString path;
    QString error;
    const bool ok = m_api.installHotspot(target.routerId, stationId, &path, &error);
    setBusy(false);
    if (ok) {
        m_hotspotNote->setText(QLatin1String(kInstalledOn).arg(path, target.name));
        showPage(m_returnPage);
        return;
    }
    appendLog(error);
    if (m_cancelAsked) {
        m_hotspotNote->setText(error);
        failOnProgressPage(error);
        return;
    }
    if (!target.localFallback || !hasLocalLogin()) {
        // After a full setup this computer has no path to the router, so none is suggested.
        m_hotspotNote->setText(
            error
            + (m_reachedOnlyThroughService
                   ? QStringLiteral("\n\nAfter the full setup only Quillmor reaches this "
                                    "router. Check that Quillmor shows it online, then try again.")
                   : QStringLiteral("\n\nThe hotspot can block this computer. If the Quillmor "
                                    "link cannot reach the router, enter its address and password "
                                    "on the connect step. After a new layout that address is "
                                    "often 172.16.0.1.")));
        failOnProgressPage(error);
        return;
    }
    appendLog(QStringLiteral("Trying the router address on this computer."));
    startLocalHotspotInstall(stationId, target);
}

void MainWindow::beginHotspotPage()
{
    m_returnPage = m_currentPage == ApplyPage ? HomePage : m_currentPage;
    m_cancelAsked = false;
    m_log->clear();
    startJobRecord(QStringLiteral("Installing the hotspot login page..."));
    m_progressTitle->setText(QStringLiteral("Installing the hotspot login page..."));
    m_progressButton->setText(QStringLiteral("Cancel"));
    m_progressButton->setEnabled(true);
    showPage(ApplyPage);
}

bool MainWindow::chooseHotspotTarget(HotspotTarget *target)
{
    if (!m_savedRouterId.isEmpty()) {
        // Linking forgets nothing of the connect page, and another router's inspection or
        // "Onboard another" forgets the linked router, so the page's login is this router's.
        *target = {m_savedRouterId, m_savedRouterName, true};
        return true;
    }

    QList<SavedRouter> routers;
    // The call waits in a nested event loop; busy keeps the buttons from starting a second
    // install meanwhile. A failed lookup only leaves the router on the connect page to offer.
    setBusy(true);
    const bool listed = m_api.listRouters(&routers, nullptr);
    setBusy(false);
    if (!listed)
        routers.clear();
    QStringList items = routerChoiceLabels(routers);
    const QString host = m_hostEdit->text().trimmed();
    if (hasLocalLogin())
        items << QStringLiteral("The router at %1, from this computer").arg(host);
    if (items.isEmpty()) {
        m_hotspotNote->setText(QStringLiteral("Onboard this router first so Quillmor can reach it. "
                                              "Or enter its address and password on the connect "
                                              "step."));
        beginHotspotPage();
        failOnProgressPage(QStringLiteral("This router is not saved on the account yet."));
        return false;
    }

    const int index = m_choose ? m_choose(this, QStringLiteral("Choose the router"),
                                          QStringLiteral("Which router gets the login page?"),
                                          items)
                               : -1;
    if (index < 0 || index >= items.size())
        return false;
    if (index < routers.size()) {
        // Nothing tells this computer that the connect page reaches that router, so the page
        // goes through the Quillmor link only.
        *target = {routers.at(index).id, items.at(index), false};
    } else {
        *target = {QString(), QStringLiteral("the router at %1").arg(host), true};
    }
    return true;
}

void MainWindow::rememberLinkedRouter(const QString &routerId, const QString &name)
{
    m_savedRouterId = routerId;
    m_savedRouterName = name.trimmed().isEmpty() ? routerId : name.trimmed();
    m_hotspotNote->clear();
}

void MainWindow::forgetLinkedRouter()
{
    m_savedRouterId.clear();
    m_savedRouterName.clear();
    // A note about the previous router must not stand beside the next one.
    m_hotspotNote->clear();
}

void MainWindow::startLocalHotspotInstall(const QString &stationId, const HotspotTarget &target)
{
    QString pageUrl;
    if (!loginPageUrl(m_api.baseUrl(), stationId, &pageUrl)) {
        m_hotspotNote->setText(
            QStringLiteral("The Quillmor address in quillmor.ini is not a secure URL."));
        showPage(m_returnPage);
        return;
    }
    m_localTarget = target;
    setBusy(true);
    m_worker->startHotspot(routerLogin(), pageUrl);
}

void MainWindow::onHotspotReady(bool ok, const QString &error, const QString &path)
{
    setBusy(false);
    m_progressButton->setEnabled(true);
    if (ok) {
        QString message = QLatin1String(kInstalledOn).arg(path, m_localTarget.name);
        // Only the router this job wrote is recorded; one known by its address alone is not.
        if (!m_localTarget.routerId.isEmpty()) {
            QString saveError;
            setBusy(true);
            const bool saved = m_api.saveHotspot(m_localTarget.routerId, m_chosenStationId, path,
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

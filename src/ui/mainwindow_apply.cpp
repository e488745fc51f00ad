#include "mainwindow.h"

#include "router/routertask.h"
#include "textlabel.h"
#include "wizardrules.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

QWidget *MainWindow::buildDonePage()
{
    const Card card = makeCard(nullptr);
    m_doneTitle = new TextLabel(QString(), card.widget);
    m_doneTitle->setObjectName(QStringLiteral("title"));
    card.layout->addWidget(m_doneTitle);
    m_doneText = new TextLabel(QString(), card.widget);
    card.layout->addWidget(m_doneText);
    m_onboardAnotherButton = new QPushButton(QStringLiteral("Onboard another"), card.widget);
    card.layout->addWidget(m_onboardAnotherButton);
    m_backToAccountButton = new QPushButton(QStringLiteral("Back to the account"), card.widget);
    m_backToAccountButton->setObjectName(QStringLiteral("secondary"));
    card.layout->addWidget(m_backToAccountButton);
    card.layout->addWidget(buildDoneLog(card.widget));
    return centredPage(card.widget, 640);
}

void MainWindow::onProvision()
{
    if (m_busy)
        return;
    const QString notReady = QStringLiteral("This router is not ready for the link yet.");
    const QString name = m_routerNameEdit->text().trimmed();
    if (name.isEmpty()) {
        showErrorText(m_reviewError,
                      QStringLiteral("Name this router so you can find it in Quillmor."));
        return;
    }
    if (m_profile.mikrotikUsername.trimmed().isEmpty() || m_profile.mikrotikPassword.isEmpty()) {
        showErrorText(m_reviewError,
                      QStringLiteral("This Quillmor account has no MikroTik username or password. "
                                     "Add them in Quillmor management, then sign in again."));
        return;
    }
    if (!factBool(QStringLiteral("internet")) || !factBool(QStringLiteral("ros7"))) {
        showErrorText(m_reviewError, notReady);
        return;
    }
    if (factString(QStringLiteral("ifName")).isEmpty()) {
        showErrorText(m_reviewError, notReady);
        return;
    }

    bool applyBase = false;
    if (m_fullSetupRadio->isChecked()) {
        const QString question =
            factBool(QStringLiteral("fresh"))
                ? QStringLiteral("The Quillmor link is added first. Then the DHCP servers and IP "
                                 "addresses are removed, Bridge-Network is built at 172.16.0.1 and "
                                 "port 1 is used as ether1-WAN. This computer then loses its "
                                 "connection to the router, and the router is managed through "
                                 "Quillmor. Do this only on a router that is not serving "
                                 "customers.")
                : QStringLiteral("This router is not empty. The Quillmor link is added first. "
                                 "Then DHCP servers, IP addresses, the hotspot, and PPPoE servers "
                                 "will be removed, Bridge-Network is built at 172.16.0.1 and port "
                                 "1 becomes ether1-WAN. Anyone using this router will drop. This "
                                 "computer then loses its connection to the router, and the "
                                 "router is managed through Quillmor.");
        if (!confirm(QStringLiteral("Build the full setup?"), question))
            return;
        applyBase = true;
    }

    m_facts = runOptions(applyBase);

    beginJobPage(QStringLiteral("Linking this router to Quillmor..."), ReviewPage);
    m_worker->startProvision(routerLogin(), m_facts, name, m_profile.token);
}

void MainWindow::onProvisionReady(bool ok, const QString &error, const QVariantMap &result)
{
    setBusy(false);
    m_progressButton->setEnabled(true);
    if (!ok) {
        failOnProgressPage(error);
        return;
    }
    if (result.contains(QStringLiteral("routerLimit")))
        m_profile.routerLimit = result.value(QStringLiteral("routerLimit")).toInt();
    if (result.contains(QStringLiteral("routersUsed")))
        m_profile.routersUsed = result.value(QStringLiteral("routersUsed")).toInt();
    rememberLinkedRouter(result.value(QStringLiteral("routerId")).toString(),
                         result.value(QStringLiteral("site")).toString());
    m_reachedOnlyThroughService = result.value(QStringLiteral("layout")).toBool();
    m_doneTitle->setText(result.value(QStringLiteral("online")).toBool()
                             ? QStringLiteral("Quillmor can see this router")
                             : QStringLiteral("The link is on the router"));
    m_doneText->setText(doneText(result));
    showPage(DonePage);
}

QVariantMap MainWindow::runOptions(bool applyBase) const
{
    QVariantMap options = m_facts;
    options.insert(QStringLiteral("applyBase"), applyBase);
    options.insert(QStringLiteral("mgmtUser"), m_profile.mikrotikUsername.trimmed());
    options.insert(QStringLiteral("hotspotDns"), m_profile.hotspotDns);
    options.insert(QStringLiteral("walledHosts"), m_profile.walledHosts.join(QLatin1Char(',')));
    return options;
}

#include "mainwindow.h"

#include "router/commandpreview.h"
#include "router/routertask.h"
#include "wizardrules.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const char kDefaultRouterAddress[] = "192.168.88.1";
const char kDefaultRouterUser[] = "admin";

} // namespace

QWidget *MainWindow::buildConnectPage()
{
    auto *page = new QWidget;
    auto *pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    const Card card = makeCard(page);
    pageLayout->addWidget(card.widget);
    QVBoxLayout *layout = card.layout;

    auto *title = new QLabel(QStringLiteral("Connect the router"), card.widget);
    title->setObjectName(QStringLiteral("title"));
    layout->addWidget(title);
    m_newRouterRadio =
        new QRadioButton(QStringLiteral("New MikroTik, just plugged into this computer"), card.widget);
    m_newRouterRadio->setChecked(true);
    layout->addWidget(m_newRouterRadio);
    m_inUseRadio = new QRadioButton(QStringLiteral("Router that is already in use"), card.widget);
    layout->addWidget(m_inUseRadio);
    m_connectHint = makeLabel(QString(), "muted", card.widget);
    layout->addWidget(m_connectHint);

    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    form->setHorizontalSpacing(16);
    form->setVerticalSpacing(12);
    m_hostEdit = new QLineEdit(card.widget);
    m_portSpin = new QSpinBox(card.widget);
    m_portSpin->setRange(1, 65535);
    m_portSpin->setValue(22);
    // The window's style sheet leaves the step arrows unstyled; arrow keys and the wheel still step.
    m_portSpin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_userEdit = new QLineEdit(card.widget);
    m_passwordEdit = new QLineEdit(card.widget);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    for (QWidget *field : {static_cast<QWidget *>(m_hostEdit), static_cast<QWidget *>(m_portSpin),
                           static_cast<QWidget *>(m_userEdit),
                           static_cast<QWidget *>(m_passwordEdit)}) {
        field->setMinimumHeight(44);
    }
    const auto addRow = [form, &card](const QString &label, QWidget *field) {
        // As tall as the field, so that the label's own alignment centres it beside the field.
        auto *text = new QLabel(label, card.widget);
        text->setMinimumHeight(44);
        text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        form->addRow(text, field);
    };
    addRow(QStringLiteral("Router IP"), m_hostEdit);
    addRow(QStringLiteral("SSH port"), m_portSpin);
    addRow(QStringLiteral("Username"), m_userEdit);
    addRow(QStringLiteral("Password"), m_passwordEdit);
    layout->addWidget(buildFindRouters(card.widget));
    layout->addLayout(form);

    m_connectError = makeLabel(QString(), "error", card.widget);
    layout->addWidget(m_connectError);

    auto *buttons = new QHBoxLayout;
    m_connectBackButton = new QPushButton(QStringLiteral("Back"), card.widget);
    m_connectBackButton->setObjectName(QStringLiteral("secondary"));
    buttons->addWidget(m_connectBackButton);
    buttons->addStretch(1);
    m_connectButton = new QPushButton(QStringLiteral("Connect"), card.widget);
    buttons->addWidget(m_connectButton);
    layout->addLayout(buttons);
    return page;
}

QWidget *MainWindow::buildReviewPage()
{
    // The page itself never scrolls: the window's scroll area does that. Only the review text has
    // a bounded area of its own (fitted in fitPage), so the buttons below it stay in view.
    auto *content = new QWidget;
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(12);

    const Card review = makeCard(content);
    QVBoxLayout *layout = review.layout;
    // Set closer than other cards, so that the text area keeps a few lines at the first size.
    layout->setContentsMargins(22, 14, 22, 14);
    layout->setSpacing(8);
    auto *title = new QLabel(QStringLiteral("Ready to link"), review.widget);
    title->setObjectName(QStringLiteral("title"));
    layout->addWidget(title);
    m_reviewTextArea = new QScrollArea(review.widget);
    m_reviewTextArea->setObjectName(QStringLiteral("reviewTextArea"));
    m_reviewTextArea->setWidgetResizable(true);
    m_reviewTextArea->setFrameShape(QFrame::NoFrame);
    m_reviewTextArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_reviewText = makeLabel(QString(), nullptr, nullptr);
    m_reviewText->setTextFormat(Qt::PlainText);
    m_reviewText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_reviewText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_reviewTextArea->setWidget(m_reviewText);
    // The scroll area fills its widget's background; the text sits on the card's white instead.
    m_reviewText->setAutoFillBackground(false);
    m_reviewTextArea->viewport()->setAutoFillBackground(false);
    layout->addWidget(m_reviewTextArea);
    m_reviewError = makeLabel(QString(), "error", review.widget);
    m_reviewError->setTextFormat(Qt::PlainText);
    layout->addWidget(m_reviewError);
    auto *section = new QLabel(QStringLiteral("What should this run do?"), review.widget);
    section->setObjectName(QStringLiteral("section"));
    layout->addWidget(section);
    m_fullSetupRadio =
        new QRadioButton(QStringLiteral("Add WireGuard, then the full setup"), review.widget);
    layout->addWidget(m_fullSetupRadio);
    layout->addWidget(makeLabel(
        QStringLiteral("Once the link is in, rebuilds the bridge, hotspot at 172.16.0.1, pools, "
                       "PPPoE, and services. DHCP servers and IP addresses are removed first. "
                       "This computer then loses its connection to the router."),
        "muted", review.widget));
    m_wireguardOnlyRadio =
        new QRadioButton(QStringLiteral("Skip the setup and only add WireGuard"), review.widget);
    m_wireguardOnlyRadio->setChecked(true);
    layout->addWidget(m_wireguardOnlyRadio);
    layout->addWidget(makeLabel(
        QStringLiteral("Leaves the bridge, hotspot, addresses, and customers as they are. Only the "
                       "Quillmor link is added."),
        "muted", review.widget));
    layout->addWidget(new QLabel(QStringLiteral("Name in Quillmor"), review.widget));
    m_routerNameEdit = new QLineEdit(review.widget);
    layout->addWidget(m_routerNameEdit);
    contentLayout->addWidget(review.widget);

    const Card internet = makeCard(content);
    m_internetCard = internet.widget;
    auto *internetTitle = new QLabel(QStringLiteral("Router internet"), internet.widget);
    internetTitle->setObjectName(QStringLiteral("section"));
    internet.layout->addWidget(internetTitle);
    m_internetText = makeLabel(QString(), "muted", internet.widget);
    internet.layout->addWidget(m_internetText);
    m_dhcpButton =
        new QPushButton(QStringLiteral("Use automatic internet (DHCP) on port 1"), internet.widget);
    internet.layout->addWidget(m_dhcpButton);
    m_pppoeBox = new QWidget(internet.widget);
    auto *pppoeLayout = new QVBoxLayout(m_pppoeBox);
    pppoeLayout->setContentsMargins(0, 0, 0, 0);
    m_pppoeUserEdit = new QLineEdit(m_pppoeBox);
    m_pppoeUserEdit->setPlaceholderText(QStringLiteral("PPPoE username"));
    pppoeLayout->addWidget(m_pppoeUserEdit);
    m_pppoePasswordEdit = new QLineEdit(m_pppoeBox);
    m_pppoePasswordEdit->setPlaceholderText(QStringLiteral("PPPoE password"));
    m_pppoePasswordEdit->setEchoMode(QLineEdit::Password);
    pppoeLayout->addWidget(m_pppoePasswordEdit);
    m_pppoeButton = new QPushButton(QStringLiteral("Use PPPoE on port 1"), m_pppoeBox);
    pppoeLayout->addWidget(m_pppoeButton);
    internet.layout->addWidget(m_pppoeBox);
    m_internetCard->hide();
    contentLayout->addWidget(m_internetCard);

    auto *buttons = new QHBoxLayout;
    m_reviewBackButton = new QPushButton(QStringLiteral("Back"), content);
    m_reviewBackButton->setObjectName(QStringLiteral("secondary"));
    buttons->addWidget(m_reviewBackButton);
    buttons->addStretch(1);
    buttons->addWidget(buildSaveBackupButton(content));
    m_showCommandsButton = new QPushButton(QStringLiteral("Show commands"), content);
    m_showCommandsButton->setObjectName(QStringLiteral("secondary"));
    buttons->addWidget(m_showCommandsButton);
    m_provisionButton = new QPushButton(QStringLiteral("Onboard this MikroTik"), content);
    m_provisionButton->setEnabled(false);
    buttons->addWidget(m_provisionButton);
    contentLayout->addLayout(buttons);
    contentLayout->addStretch(1);

    return content;
}

void MainWindow::onRouterMode()
{
    if (m_newRouterRadio->isChecked()) {
        m_hostEdit->setText(QLatin1String(kDefaultRouterAddress));
        m_userEdit->setText(QLatin1String(kDefaultRouterUser));
        m_portSpin->setValue(22);
        if (m_passwordEdit->text() == m_profile.mikrotikPassword)
            m_passwordEdit->clear();
        m_passwordEdit->setPlaceholderText(QStringLiteral("Password printed on the router"));
        const QString user = m_profile.mikrotikUsername.isEmpty()
                                 ? QStringLiteral("the user saved on this Quillmor account")
                                 : m_profile.mikrotikUsername;
        m_connectHint->setText(
            QStringLiteral("Put the internet cable in Ethernet port 1. Put a cable from this "
                           "computer into any other port. Sign in as admin with the sticker "
                           "password. Quillmor then adds user %1. A new unused router also gets "
                           "the standard hotspot layout. A router that already serves customers "
                           "does not.")
                .arg(user));
        return;
    }
    if (m_hostEdit->text() == QLatin1String(kDefaultRouterAddress))
        m_hostEdit->clear();
    if (!m_profile.mikrotikUsername.isEmpty())
        m_userEdit->setText(m_profile.mikrotikUsername);
    else if (m_userEdit->text() == QLatin1String(kDefaultRouterUser))
        m_userEdit->clear();
    if (!m_profile.mikrotikPassword.isEmpty())
        m_passwordEdit->setText(m_profile.mikrotikPassword);
    m_hostEdit->setPlaceholderText(QStringLiteral("Router IP, the one you use in Winbox"));
    m_userEdit->setPlaceholderText(QStringLiteral("Username from Quillmor"));
    m_passwordEdit->setPlaceholderText(QStringLiteral("Password from Quillmor"));
    m_connectHint->setText(
        QStringLiteral("The username and password are the MikroTik login saved on this Quillmor "
                       "account. Change them only if this router still uses a different login, "
                       "such as admin. The current network is left as it is."));
}

void MainWindow::onConnect()
{
    if (m_busy)
        return;
    if (m_hostEdit->text().trimmed().isEmpty() || m_userEdit->text().trimmed().isEmpty()) {
        showErrorText(m_connectError, QStringLiteral("Enter the router address and username."));
        return;
    }
    m_connectError->clear();
    forgetLinkedRouter();
    beginJobPage(QStringLiteral("Connecting to the router..."), ConnectPage);
    m_worker->startInspect(routerLogin());
}

void MainWindow::onInspectReady(bool ok, const QString &error, const QVariantMap &facts)
{
    setBusy(false);
    m_progressButton->setEnabled(true);
    if (!ok) {
        showErrorText(m_connectError, error);
        showPage(ConnectPage);
        return;
    }
    m_facts = facts;
    // This computer reached the router, so the router is reachable from here again.
    m_reachedOnlyThroughService = false;
    if (!m_profile.mikrotikUsername.isEmpty())
        m_facts.insert(QStringLiteral("mgmtUser"), m_profile.mikrotikUsername);
    if (!m_profile.hotspotDns.isEmpty())
        m_facts.insert(QStringLiteral("hotspotDns"), m_profile.hotspotDns);
    if (!m_profile.walledHosts.isEmpty())
        m_facts.insert(QStringLiteral("walledHosts"), m_profile.walledHosts.join(QLatin1Char(',')));
    m_routerNameEdit->setText(factString(QStringLiteral("identity")));
    m_reviewError->clear();
    // The page is not the review yet, so these toggles do not rebuild the text on their own.
    const bool fullSetup = fullSetupPreselected(m_facts, m_newRouterRadio->isChecked());
    if (fullSetup)
        m_fullSetupRadio->setChecked(true);
    else
        m_wireguardOnlyRadio->setChecked(true);
    buildReview();
    showPage(ReviewPage);
}

void MainWindow::buildReview()
{
    m_reviewText->setText(reviewText(m_facts, m_profile, m_fullSetupRadio->isChecked()));

    const ReviewDecisions decisions = reviewDecisions(m_facts, m_profile);
    if (decisions.replaceError)
        showErrorText(m_reviewError, decisions.errorText);
    m_provisionButton->setEnabled(!m_busy && decisions.onboardAllowed);

    const InternetCard &card = decisions.card;
    m_internetCard->setVisible(card.visible);
    if (card.visible) {
        m_internetText->setText(card.text);
        m_dhcpButton->setVisible(card.dhcpVisible);
        if (card.dhcpVisible)
            m_dhcpButton->setText(card.dhcpText);
        m_pppoeBox->setVisible(card.pppoeVisible);
        if (card.pppoeVisible)
            m_pppoeButton->setText(card.pppoeText);
    }
    fitPage();
}

void MainWindow::onWan()
{
    if (m_busy)
        return;
    const bool bridged = factBool(QStringLiteral("ether1Bridged"));
    const bool fresh = factBool(QStringLiteral("fresh"));
    const bool viaPppoe = sender() == m_pppoeButton;
    const QString mode = wanMode(viaPppoe, bridged, fresh);
    if (viaPppoe
        && (m_pppoeUserEdit->text().trimmed().isEmpty() || m_pppoePasswordEdit->text().isEmpty())) {
        showErrorText(m_reviewError, QStringLiteral("Enter the PPPoE username and password."));
        return;
    }
    // Sent exactly as typed or not at all: a login changed on its way would fail at the provider.
    const QString pppoeProblem =
        viaPppoe ? pppoeLoginProblem(m_pppoeUserEdit->text(), m_pppoePasswordEdit->text())
                 : QString();
    if (!pppoeProblem.isEmpty()) {
        m_reviewError->setText(pppoeProblem);
        return;
    }
    const QString question =
        mode.startsWith(QLatin1String("split"))
            ? QStringLiteral("This removes port 1 from the LAN and uses it as the internet port. "
                             "Do this only on a new router that is not serving customers.")
            : QStringLiteral("This changes the internet client on port 1. The rest of the router "
                             "is left as it is.");
    if (!confirm(QStringLiteral("Change port 1?"), question))
        return;
    beginJobPage(QStringLiteral("Setting the router internet..."), ReviewPage);
    m_worker->startWan(routerLogin(), mode, m_pppoeUserEdit->text().trimmed(),
                       m_pppoePasswordEdit->text(), fresh, factBool(QStringLiteral("dhcpOnEther1")),
                       factBool(QStringLiteral("pppoe")));
}

void MainWindow::onWanReady(bool ok, const QString &error, bool internet, bool hasRoute)
{
    setBusy(false);
    m_progressButton->setEnabled(true);
    if (ok) {
        m_facts.insert(QStringLiteral("internet"), internet);
        m_facts.insert(QStringLiteral("hasRoute"), hasRoute);
        buildReview();
        if (internet)
            m_reviewError->clear();
        else if (!error.isEmpty())
            showErrorText(m_reviewError, error);
    } else {
        buildReview();
        showErrorText(m_reviewError, error);
    }
    showPage(ReviewPage);
}

void MainWindow::onShowCommands()
{
    // Built from what is known now; nothing goes to the router or the service for it.
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("commandsWindow"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Commands for this run"));
    auto *layout = new QVBoxLayout(dialog);
    auto *commands = new QPlainTextEdit(dialog);
    commands->setObjectName(QStringLiteral("commandsText"));
    commands->setReadOnly(true);
    commands->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    commands->setPlainText(commandPreviewText(runOptions(m_fullSetupRadio->isChecked())));
    layout->addWidget(commands);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->resize(760, 560);
    dialog->open();
}

#include "mainwindow.h"

#include "brandlogo.h"
#include "wizardrules.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char kMutedColour[] = "color: #4b5b68;";
const char kErrorColour[] = "color: #9f1239;";

QLabel *logoLabel(int size, QWidget *parent)
{
    auto *logo = new QLabel(parent);
    logo->setPixmap(brandLogo(size));
    return logo;
}

} // namespace

QWidget *MainWindow::buildLoginPage()
{
    const Card card = makeCard(nullptr);
    card.widget->setMinimumWidth(320);
    QVBoxLayout *layout = card.layout;

    layout->addWidget(logoLabel(84, card.widget), 0, Qt::AlignHCenter);
    layout->addWidget(
        makeLabel(QStringLiteral("Sign in with your account number"), "title", card.widget));
    layout->addWidget(makeLabel(
        QStringLiteral("Use the account number from Quillmor management. We send a verification "
                       "code, then you connect the MikroTik that should join this account."),
        "muted", card.widget));
    m_loginError = makeLabel(QString(), "error", card.widget);
    layout->addWidget(m_loginError);

    m_accountEdit = new QLineEdit(card.widget);
    m_accountEdit->setPlaceholderText(QStringLiteral("Account number"));
    m_accountEdit->setClearButtonEnabled(true);
    m_accountEdit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(m_accountEdit);
    m_sendCodeButton = new QPushButton(QStringLiteral("Send verification code"), card.widget);
    layout->addWidget(m_sendCodeButton);

    m_codeRow = new QWidget(card.widget);
    auto *codeLayout = new QVBoxLayout(m_codeRow);
    codeLayout->setContentsMargins(0, 0, 0, 0);
    codeLayout->setSpacing(12);
    m_codeEdit = new QLineEdit(m_codeRow);
    m_codeEdit->setPlaceholderText(QStringLiteral("Verification code"));
    m_codeEdit->setClearButtonEnabled(true);
    m_codeEdit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    codeLayout->addWidget(m_codeEdit);
    m_signInButton = new QPushButton(QStringLiteral("Sign in"), m_codeRow);
    codeLayout->addWidget(m_signInButton);
    m_codeRow->hide();
    layout->addWidget(m_codeRow);

    m_loginNote = makeLabel(QString(), "muted", card.widget);
    layout->addWidget(m_loginNote);
    layout->addWidget(
        makeLabel(QStringLiteral("Make sure this computer has internet."), "muted", card.widget));

    return centredPage(card.widget, 520);
}

QWidget *MainWindow::buildHomePage()
{
    const Card card = makeCard(nullptr);
    QVBoxLayout *layout = card.layout;
    layout->addWidget(logoLabel(56, card.widget));
    m_homeTitle = makeLabel(QString(), "title", card.widget);
    layout->addWidget(m_homeTitle);
    m_seatLabel = makeLabel(QString(), "muted", card.widget);
    layout->addWidget(m_seatLabel);
    layout->addWidget(makeLabel(
        QStringLiteral("Onboard a MikroTik and Quillmor will pick it up over WireGuard.\n\nThe "
                       "router calls Quillmor, so it does not need a public IP. This computer "
                       "needs internet, and the router needs internet too.\n\nA new router and a "
                       "router that is already serving customers both work. The app adds the link "
                       "beside the current setup. It does not factory-reset the router."),
        "muted", card.widget));
    m_onboardHomeButton = new QPushButton(QStringLiteral("Onboard a MikroTik"), card.widget);
    layout->addWidget(m_onboardHomeButton);
    layout->addWidget(buildSessionRouters(card.widget));
    return centredPage(card.widget, 640);
}

void MainWindow::onSendCode()
{
    if (m_busy)
        return;
    const QString account = m_accountEdit->text().trimmed();
    if (account.size() < 3) {
        setLoginNote(QStringLiteral("Enter the account number from Quillmor."), false);
        return;
    }
    setLoginNote(QStringLiteral("Sending the code..."), false);
    QString error;
    setBusy(true);
    const bool ok = m_api.requestCode(account, &error);
    setBusy(false);
    if (ok) {
        m_codeRow->show();
        setLoginNote(QStringLiteral("Enter the code sent to the phone or email on this account."),
                     false);
        fitPage();
        m_codeEdit->setFocus();
    } else {
        setLoginNote(error, true);
    }
}

void MainWindow::onVerify()
{
    if (m_busy)
        return;
    const QString account = m_accountEdit->text().trimmed();
    const QString code = m_codeEdit->text().trimmed();
    if (code.size() < 4) {
        setLoginNote(QStringLiteral("Enter the verification code."), false);
        return;
    }
    setLoginNote(QStringLiteral("Checking the code..."), false);
    AccountProfile profile;
    profile.routerLimit = -1;
    QString error;
    setBusy(true);
    const bool ok = m_api.verifyCode(account, code, &profile, &error);
    setBusy(false);
    if (!ok) {
        setLoginNote(error, true);
        return;
    }
    completeWindow();
    m_profile = profile;
    const QString label = accountLabel(m_profile);
    m_homeTitle->setText(label);
    m_chip->setText(label);
    m_codeEdit->clear();
    showPage(HomePage);
    onLoadStations();
}

void MainWindow::onSignOut()
{
    if (m_busy)
        return;
    completeWindow();
    m_profile = AccountProfile();
    m_api.setToken(QString());
    m_facts.clear();
    m_savedRouterId.clear();
    m_chosenStationId.clear();
    m_stationList->clear();
    m_stationList->addItem(QStringLiteral("Load stations first"));
    m_hotspotNote->clear();
    // Without a token these buttons would only say "sign in first"; grey them until the next sign-in.
    m_loadStationsButton->setEnabled(false);
    m_installButton->setEnabled(false);
    m_passwordEdit->clear();
    m_pppoePasswordEdit->clear();
    m_codeEdit->clear();
    m_codeRow->hide();
    setLoginNote(QString(), false);
    fitPage();
    showPage(LoginPage);
}

void MainWindow::setLoginNote(const QString &text, bool isError)
{
    // Each text sets its own colour: a prompt or a progress text after a refusal is not an error.
    m_loginNote->setStyleSheet(QLatin1String(isError ? kErrorColour : kMutedColour));
    m_loginNote->setText(text);
}

void MainWindow::updateSeatText()
{
    m_seatLabel->setText(seatText(m_profile.routerLimit, m_profile.routersUsed));
}

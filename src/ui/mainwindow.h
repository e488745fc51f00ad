#pragma once

#include "api/apitypes.h"
#include "api/quillmorapi.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QString>
#include <QVariantMap>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QResizeEvent;
class QScrollArea;
class QSpinBox;
class QStackedWidget;
class QVBoxLayout;
class QWidget;
class RouterTask;
struct RouterLogin;

// The wizard: sign-in, connect, review, onboarding run and hotspot login page, one page at a time,
// with the service client and the router job worker it owns.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    // Every yes/no question of the window goes through this, so tests can answer it.
    using AskFunction = std::function<QMessageBox::StandardButton(
        QWidget *parent, const QString &title, const QString &text)>;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void setAskFunction(AskFunction ask);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onSendCode();
    void onVerify();
    void onSignOut();
    void onRouterMode();
    void onConnect();
    void onWan();
    void onProvision();
    void onLoadStations();
    void onInstallHotspot();
    void onInspectReady(bool ok, const QString &error, const QVariantMap &facts);
    void onWanReady(bool ok, const QString &error, bool internet, bool hasRoute);
    void onProvisionReady(bool ok, const QString &error, const QVariantMap &result);
    void onHotspotReady(bool ok, const QString &error, const QString &path);
    void onProgressBack();
    void appendLog(const QString &line);

private:
    friend class TestWindowFrame;
    friend class TestSignInFlow;
    friend class TestRouterFlow;
    friend class TestOnboardingSecrets;

    enum Page { LoginPage = 0, HomePage, ConnectPage, ReviewPage, ApplyPage, DonePage };

    struct Card
    {
        QWidget *widget;
        QVBoxLayout *layout;
    };
    [[nodiscard]] static Card makeCard(QWidget *parent);
    // A word-wrapped label; the object name (may be null) carries its look.
    [[nodiscard]] static QLabel *makeLabel(const QString &text, const char *objectName,
                                           QWidget *parent);
    [[nodiscard]] static QWidget *centredPage(QWidget *card, int maxWidth);

    void buildFrame();
    [[nodiscard]] QWidget *buildLoginPage();
    [[nodiscard]] QWidget *buildHomePage();
    [[nodiscard]] QWidget *buildConnectPage();
    [[nodiscard]] QWidget *buildReviewPage();
    [[nodiscard]] QWidget *buildProgressPage();
    [[nodiscard]] QWidget *buildDonePage();
    [[nodiscard]] QWidget *buildHotspotCard();
    void wireControls();
    void runStartupChecks();

    void showPage(int index);
    void fitPage();
    void updateSeatText();
    void buildReview();
    void setBusy(bool on);
    void beginJobPage(const QString &title, int returnPage);
    [[nodiscard]] RouterLogin routerLogin() const;
    [[nodiscard]] bool hasLocalLogin() const;
    void failOnProgressPage(const QString &error);
    [[nodiscard]] bool factBool(const QString &key) const;
    [[nodiscard]] QString factString(const QString &key) const;
    [[nodiscard]] bool confirm(const QString &title, const QString &text);
    void startLocalHotspotInstall(const QString &stationId);

    QuillmorApi m_api;
    int m_currentPage = LoginPage;
    bool m_fitting = false;

    AccountProfile m_profile;
    RouterTask *m_worker = nullptr;
    QVariantMap m_facts;
    int m_returnPage = ConnectPage;
    bool m_busy = false;
    bool m_waitCursorShown = false;
    QString m_savedRouterId;
    QString m_chosenStationId;
    AskFunction m_ask;

    // Frame
    QWidget *m_root = nullptr;
    QScrollArea *m_scroll = nullptr;
    QStackedWidget *m_stack = nullptr;
    QLabel *m_product = nullptr;
    QLabel *m_chip = nullptr;
    QPushButton *m_signOutButton = nullptr;

    // Sign-in and home
    QLabel *m_loginError = nullptr;
    QLineEdit *m_accountEdit = nullptr;
    QPushButton *m_sendCodeButton = nullptr;
    QWidget *m_codeRow = nullptr;
    QLineEdit *m_codeEdit = nullptr;
    QPushButton *m_signInButton = nullptr;
    QLabel *m_loginNote = nullptr;
    QLabel *m_homeTitle = nullptr;
    QLabel *m_seatLabel = nullptr;
    QPushButton *m_onboardHomeButton = nullptr;

    // Connect and review
    QRadioButton *m_newRouterRadio = nullptr;
    QRadioButton *m_inUseRadio = nullptr;
    QLabel *m_connectHint = nullptr;
    QLineEdit *m_hostEdit = nullptr;
    QSpinBox *m_portSpin = nullptr;
    QLineEdit *m_userEdit = nullptr;
    QLineEdit *m_passwordEdit = nullptr;
    QLabel *m_connectError = nullptr;
    QPushButton *m_connectBackButton = nullptr;
    QPushButton *m_connectButton = nullptr;
    QLabel *m_reviewText = nullptr;
    QLabel *m_reviewError = nullptr;
    QRadioButton *m_fullSetupRadio = nullptr;
    QRadioButton *m_wireguardOnlyRadio = nullptr;
    QLineEdit *m_routerNameEdit = nullptr;
    QWidget *m_internetCard = nullptr;
    QLabel *m_internetText = nullptr;
    QPushButton *m_dhcpButton = nullptr;
    QWidget *m_pppoeBox = nullptr;
    QLineEdit *m_pppoeUserEdit = nullptr;
    QLineEdit *m_pppoePasswordEdit = nullptr;
    QPushButton *m_pppoeButton = nullptr;
    QPushButton *m_reviewBackButton = nullptr;
    QPushButton *m_provisionButton = nullptr;

    // Progress and done
    QLabel *m_progressTitle = nullptr;
    QPlainTextEdit *m_log = nullptr;
    QPushButton *m_progressButton = nullptr;
    QLabel *m_doneTitle = nullptr;
    QLabel *m_doneText = nullptr;
    QPushButton *m_onboardAnotherButton = nullptr;
    QPushButton *m_backToAccountButton = nullptr;

    // Hotspot card
    QWidget *m_hotspotCard = nullptr;
    QComboBox *m_stationList = nullptr;
    QPushButton *m_loadStationsButton = nullptr;
    QPushButton *m_installButton = nullptr;
    QLabel *m_hotspotNote = nullptr;
};

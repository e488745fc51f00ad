#pragma once

#include "api/apitypes.h"
#include "api/quillmorapi.h"
#include "jobreport.h"

#include <QMainWindow>
#include <QMargins>
#include <QMap>
#include <QMessageBox>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class QAbstractScrollArea;
class QCloseEvent;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class MndpScanner;
struct MndpNeighbour;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QResizeEvent;
class QScrollArea;
class QSpinBox;
class QStackedWidget;
class QVBoxLayout;
class QWidget;
class ProgressChecklist;
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

    // The operator's pick from a list: the index of the chosen item, or -1 when none was chosen.
    using ChooseFunction = std::function<int(QWidget *parent, const QString &title,
                                             const QString &text, const QStringList &items)>;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void setAskFunction(AskFunction ask);
    void setChooseFunction(ChooseFunction choose);

    // The first size, reduced to what the available area of the given screen holds, centred on it.
    [[nodiscard]] static QRect fittedGeometry(const QSize &preferred, const QSize &minimum,
                                              const QRect &available, const QMargins &frame);

    // Where "Save report" writes: asks for a file name (empty: cancelled), so tests can answer.
    using SaveFileFunction = std::function<QString(QWidget *parent, const QString &title,
                                                   const QString &suggestedPath)>;
    void setSaveFileFunction(SaveFileFunction saveFile);

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onSendCode();
    void onVerify();
    void onSignOut();
    void onRouterMode();
    void onConnect();
    void onWan();
    void onProvision();
    void onShowCommands();
    void onLoadStations();
    void onInstallHotspot();
    void onInspectReady(bool ok, const QString &error, const QVariantMap &facts);
    void onWanReady(bool ok, const QString &error, bool internet, bool hasRoute);
    void onProvisionReady(bool ok, const QString &error, const QVariantMap &result);
    void onHotspotReady(bool ok, const QString &error, const QString &path);
    void onProgressBack();
    void appendLog(const QString &line);
    void onFindRouters();
    void onSaveBackup();
    void onContinueWithoutBackup();
    void onCopyLog();
    void onSaveReport();

private:
    friend class TestWindowFrame;
    friend class TestSignInFlow;
    friend class TestRouterFlow;
    friend class TestOnboardingSecrets;
    friend class TestWindowKeys;
    friend class TestTechnicianTools;

    enum Page { LoginPage = 0, HomePage, ConnectPage, ReviewPage, ApplyPage, DonePage };

    // The router a login page goes to. Without an id it is only the router this computer reaches
    // with the connect page's login, and nothing is recorded with the service.
    struct HotspotTarget
    {
        QString routerId;
        QString name;
        bool localFallback = false; // the connect page's login may reach this same router
    };

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
    // Makes the pages after sign-in and the hotspot card, and wires them; at most once, when
    // the first of them is needed.
    void completeWindow();
    void wireLoginControls();
    void wireControls();
    void runStartupChecks();
    void checkReachability();

    // Puts a page into the stack the first time it is shown.
    void placePage(int index);
    void restoreTabOrder();
    void showPage(int index);
    void fitPage();
    void updateSeatText();
    // The sign-in note: the error colour for errors only, the neutral one for everything else.
    void setLoginNote(const QString &text, bool isError);
    void buildReview();
    void setBusy(bool on);
    void beginJobPage(const QString &title, int returnPage);
    [[nodiscard]] RouterLogin routerLogin() const;
    [[nodiscard]] bool hasLocalLogin() const;
    void failOnProgressPage(const QString &error);
    [[nodiscard]] bool factBool(const QString &key) const;
    [[nodiscard]] QString factString(const QString &key) const;
    [[nodiscard]] bool confirm(const QString &title, const QString &text);
    void beginHotspotPage();
    [[nodiscard]] bool chooseHotspotTarget(HotspotTarget *target);
    void rememberLinkedRouter(const QString &routerId, const QString &name);
    void forgetLinkedRouter();
    void startLocalHotspotInstall(const QString &stationId, const HotspotTarget &target);

    // Keys, focus and fit (mainwindow_keys.cpp).
    void fitToScreen();
    void setUpKeys();
    [[nodiscard]] bool handleFieldReturn(QObject *watched, QEvent *event);
    void focusFirstEmptyField();
    [[nodiscard]] QPushButton *mainAction() const;
    [[nodiscard]] QPushButton *backAction() const;
    [[nodiscard]] bool routerChangeRunning() const;
    void showErrorText(QLabel *label, const QString &text);
    // Sizes a part that scrolls on its own (fullHeight -1: as tall as the room allows) so that
    // it and the window never both scroll; returns whether the part itself scrolls.
    [[nodiscard]] bool fitScrollingPart(QAbstractScrollArea *part, int fullHeight, int room,
                                        int width);
    void fitReviewText(int room, int width);
    void addProgressChecklist();

    // Find routers, backups, the job report and what the window remembers (mainwindow_tools.cpp).
    [[nodiscard]] QWidget *buildFindRouters(QWidget *parent);
    [[nodiscard]] QPushButton *buildSaveBackupButton(QWidget *parent);
    // The row under the log: the page's own Cancel/Back button, then the tools.
    [[nodiscard]] QWidget *buildProgressTools(QWidget *parent);
    [[nodiscard]] QWidget *buildDoneLog(QWidget *parent);
    [[nodiscard]] QWidget *buildSessionRouters(QWidget *parent);
    void wireToolControls();
    void startJobRecord(const QString &title);
    void finishJobRecord(bool ok, const QString &error, const QVariantMap &result);
    void addNeighbour(const MndpNeighbour &neighbour);
    void updateSessionRouters();
    [[nodiscard]] JobReport currentReport() const;
    [[nodiscard]] QStringList knownSecrets() const;
    // The account number and the window's place, before the first frame.
    void restoreRecentSettings();
    // The router last reached and how, into the connect page once it exists.
    void restoreRecentRouter();
    void saveRecentSettings() const;
    // The facts map with what the window adds before an onboarding run.
    [[nodiscard]] QVariantMap runOptions(bool applyBase) const;

    QuillmorApi m_api;
    int m_currentPage = LoginPage;
    bool m_fitting = false;
    bool m_firstPaintSeen = false;
    bool m_complete = false;

    AccountProfile m_profile;
    RouterTask *m_worker = nullptr;
    QVariantMap m_facts;
    int m_returnPage = ConnectPage;
    bool m_busy = false;
    bool m_waitCursorShown = false;
    QString m_savedRouterId;
    QString m_savedRouterName;
    // After a full setup this computer has no path to the router; only the service reaches it.
    bool m_reachedOnlyThroughService = false;
    QString m_chosenStationId;
    HotspotTarget m_localTarget; // the router the running hotspot job writes
    bool m_cancelAsked = false;
    AskFunction m_ask;
    ChooseFunction m_choose;
    SaveFileFunction m_saveFile;
    MndpScanner *m_scanner = nullptr;
    JobReport m_report;
    bool m_reportHasResult = false;
    QString m_jobTitle;
    bool m_connectedOnce = false;
    QMap<QString, QString> m_sessionRouters; // "address:port" -> "identity: result"

    // Frame
    QWidget *m_root = nullptr;
    QScrollArea *m_scroll = nullptr;
    QStackedWidget *m_stack = nullptr;
    // The pages after the sign-in page; one without a parent has not been shown yet.
    QList<QWidget *> m_laterPages;
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
    QLabel *m_sessionRoutersLabel = nullptr;

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
    QPushButton *m_findRoutersButton = nullptr;
    QLabel *m_findStatus = nullptr;
    QListWidget *m_neighbourList = nullptr;
    QPushButton *m_saveBackupButton = nullptr;
    QLabel *m_reviewText = nullptr;
    QScrollArea *m_reviewTextArea = nullptr;
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
    QPushButton *m_showCommandsButton = nullptr;

    // Progress and done
    QLabel *m_progressTitle = nullptr;
    QPlainTextEdit *m_log = nullptr;
    ProgressChecklist *m_checklist = nullptr;
    QPushButton *m_progressButton = nullptr;
    QPushButton *m_continueWithoutBackupButton = nullptr;
    QPushButton *m_copyLogButton = nullptr;
    QPushButton *m_saveReportButton = nullptr;
    QPushButton *m_doneLogToggle = nullptr;
    QPlainTextEdit *m_doneLog = nullptr;
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

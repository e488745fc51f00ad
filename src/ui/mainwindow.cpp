#include "mainwindow.h"

#include "api/settingssearch.h"
#include "brandlogo.h"
#include "progresschecklist.h"
#include "router/routertask.h"
#include "stylesheet.h"
#include "textlabel.h"
#include "wizardrules.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInformation>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kFullBrandRowWidth = 620;

} // namespace

static void initResources()
{
    // The resources live in a static library, whose initialiser the linker would otherwise drop.
    Q_INIT_RESOURCE(resources);
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_api(this)
{
    initResources();
    setObjectName(QStringLiteral("MainWindow"));

    m_profile = AccountProfile();
    m_worker = new RouterTask(this);
    m_ask = [](QWidget *parentWidget, const QString &title, const QString &text) {
        // No is the default: Return pressed out of habit never confirms a change to a router.
        return QMessageBox::question(parentWidget, title, text,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    };
    m_choose = [](QWidget *parentWidget, const QString &title, const QString &text,
                  const QStringList &items) {
        bool ok = false;
        const QString item =
            QInputDialog::getItem(parentWidget, title, text, items, 0, false, &ok);
        return ok ? static_cast<int>(items.indexOf(item)) : -1;
    };

    // The style sheet first: widgets made after it are polished once, not once more when it comes.
    setStyleSheet(windowStyleSheet() + focusStyleSheet());
    buildFrame();
    wireLoginControls();
    setUpKeys();
    restoreRecentSettings();
    runStartupChecks();
    showPage(LoginPage);
    fitToScreen();
}

void MainWindow::completeWindow()
{
    if (m_complete)
        return;
    m_complete = true;
    m_laterPages = {buildHomePage(), buildConnectPage(), buildReviewPage(), buildProgressPage(),
                    buildDonePage()};
    // Under the page stack, above the stretch that keeps the pages at the top.
    auto *canvasLayout = qobject_cast<QBoxLayout *>(m_stack->parentWidget()->layout());
    canvasLayout->insertWidget(canvasLayout->indexOf(m_stack) + 1, buildHotspotCard());
    m_hotspotCard->setVisible(m_currentPage != LoginPage);

    wireControls();
    setUpKeys();
    connect(m_worker, &RouterTask::logLine, this, &MainWindow::appendLog);
    connect(m_worker, &RouterTask::inspectReady, this, &MainWindow::onInspectReady);
    connect(m_worker, &RouterTask::wanReady, this, &MainWindow::onWanReady);
    connect(m_worker, &RouterTask::provisionReady, this, &MainWindow::onProvisionReady);
    connect(m_worker, &RouterTask::hotspotReady, this, &MainWindow::onHotspotReady);
    addProgressChecklist();
    // After the page handlers: its own handlers of the same signals run once those are done.
    wireToolControls();
    restoreRecentRouter();
    restoreTabOrder();
    // The new buttons take the state the window is in, busy or not, signed in or not.
    setBusy(m_busy);
}

void MainWindow::setAskFunction(AskFunction ask)
{
    m_ask = std::move(ask);
}

void MainWindow::setChooseFunction(ChooseFunction choose)
{
    m_choose = std::move(choose);
}

bool MainWindow::confirm(const QString &title, const QString &text)
{
    return m_ask && m_ask(this, title, text) == QMessageBox::Yes;
}

MainWindow::Card MainWindow::makeCard(QWidget *parent)
{
    auto *card = new QWidget(parent);
    card->setObjectName(QStringLiteral("card"));
    // A plain QWidget paints its style-sheet background only with this attribute.
    card->setAttribute(Qt::WA_StyledBackground, true);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(22, 20, 22, 20);
    layout->setSpacing(14);
    card->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return {card, layout};
}

QLabel *MainWindow::makeLabel(const QString &text, const char *objectName, QWidget *parent)
{
    auto *label = new TextLabel(text, parent);
    if (objectName)
        label->setObjectName(QLatin1String(objectName));
    return label;
}

QWidget *MainWindow::centredPage(QWidget *card, int maxWidth)
{
    auto *page = new QWidget;
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->addStretch(1);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    card->setMaximumWidth(maxWidth);
    // The large factor lets the card grow to its maximum width before the margins take the rest.
    row->addWidget(card, 1000);
    row->addStretch(1);
    column->addLayout(row);
    column->addStretch(1);
    return page;
}

void MainWindow::buildFrame()
{
    setWindowTitle(QStringLiteral("Quillmor - MikroTik setup"));
    resize(980, 720);
    setMinimumSize(420, 360);

    m_root = new QWidget(this);
    m_root->setObjectName(QStringLiteral("root"));
    auto *rootLayout = new QVBoxLayout(m_root);
    rootLayout->setContentsMargins(20, 16, 20, 16);
    rootLayout->setSpacing(12);

    auto *brandRow = new QHBoxLayout;
    auto *logo = new QLabel(m_root);
    logo->setPixmap(brandLogo(34));
    logo->setFixedSize(36, 36);
    brandRow->addWidget(logo);
    auto *brand = new QLabel(QStringLiteral("Quillmor"), m_root);
    brand->setObjectName(QStringLiteral("brand"));
    brandRow->addWidget(brand);
    m_product = new QLabel(QStringLiteral("MikroTik setup"), m_root);
    m_product->setObjectName(QStringLiteral("product"));
    brandRow->addWidget(m_product);
    brandRow->addStretch(1);
    m_chip = new TextLabel(QString(), m_root);
    m_chip->setObjectName(QStringLiteral("chip"));
    m_chip->setMaximumWidth(320);
    brandRow->addWidget(m_chip);
    m_signOutButton = new QPushButton(QStringLiteral("Sign out"), m_root);
    m_signOutButton->setObjectName(QStringLiteral("secondary"));
    brandRow->addWidget(m_signOutButton);
    rootLayout->addLayout(brandRow);

    m_scroll = new QScrollArea(m_root);
    m_scroll->setObjectName(QStringLiteral("pageScroll"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The page scrolls to the control in focus; the frame around it is no stop of its own.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    rootLayout->addWidget(m_scroll, 1);

    auto *canvas = new QWidget;
    canvas->setObjectName(QStringLiteral("canvas"));
    // Measured by its height for the width it gets, not by the narrowest width's height of its
    // word-wrapped texts, so that a page fitted to the window does not make the window scroll.
    canvas->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    auto *canvasLayout = new QVBoxLayout(canvas);
    canvasLayout->setContentsMargins(0, 0, 8, 0);
    canvasLayout->setSpacing(12);

    m_stack = new QStackedWidget(canvas);
    m_stack->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_stack->addWidget(buildLoginPage());
    // Only the sign-in page is made before the first frame. The other pages, and the hotspot
    // card under them, are made when one of them is first needed (completeWindow); until then an
    // empty stand-in keeps each page's place in the stack. A page made later still enters the
    // stack only when it is first shown: a stacked layout measures every page it holds.
    for (int i = HomePage; i <= DonePage; ++i)
        m_stack->addWidget(new QWidget);
    canvasLayout->addWidget(m_stack);
    canvasLayout->addStretch(1);

    m_scroll->setWidget(canvas);
    setCentralWidget(m_root);
    m_root->installEventFilter(this);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Near the minimum width the brand row cannot hold the product name, the account chip and
    // "Sign out" at once; the product name is the one that can go without losing anything.
    if (watched == m_root && event->type() == QEvent::Resize)
        m_product->setVisible(m_root->width() >= kFullBrandRowWidth);
    if (handleFieldReturn(watched, event))
        return true;
    // The reachability backend is a plugin that costs a noticeable share of the start-up: it is
    // loaded once the first frame is on screen, and answers before the operator can send a code.
    if (watched == m_root && event->type() == QEvent::Paint && !m_firstPaintSeen) {
        m_firstPaintSeen = true;
        QTimer::singleShot(0, this, &MainWindow::checkReachability);
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::wireLoginControls()
{
    connect(m_sendCodeButton, &QPushButton::clicked, this, &MainWindow::onSendCode);
    connect(m_accountEdit, &QLineEdit::returnPressed, this, &MainWindow::onSendCode);
    connect(m_signInButton, &QPushButton::clicked, this, &MainWindow::onVerify);
    connect(m_codeEdit, &QLineEdit::returnPressed, this, &MainWindow::onVerify);
    connect(m_signOutButton, &QPushButton::clicked, this, &MainWindow::onSignOut);
}

void MainWindow::wireControls()
{
    connect(m_onboardHomeButton, &QPushButton::clicked, this, [this] { showPage(ConnectPage); });

    const auto onModeToggled = [this](bool checked) {
        if (checked)
            onRouterMode();
    };
    connect(m_newRouterRadio, &QRadioButton::toggled, this, onModeToggled);
    connect(m_inUseRadio, &QRadioButton::toggled, this, onModeToggled);
    connect(m_connectBackButton, &QPushButton::clicked, this, [this] { showPage(HomePage); });
    connect(m_connectButton, &QPushButton::clicked, this, &MainWindow::onConnect);
    connect(m_passwordEdit, &QLineEdit::returnPressed, this, &MainWindow::onConnect);

    connect(m_reviewBackButton, &QPushButton::clicked, this, [this] { showPage(ConnectPage); });
    connect(m_dhcpButton, &QPushButton::clicked, this, &MainWindow::onWan);
    connect(m_pppoeButton, &QPushButton::clicked, this, &MainWindow::onWan);
    connect(m_provisionButton, &QPushButton::clicked, this, &MainWindow::onProvision);
    connect(m_showCommandsButton, &QPushButton::clicked, this, &MainWindow::onShowCommands);
    const auto onRunChoiceToggled = [this](bool checked) {
        if (checked && m_currentPage == ReviewPage)
            buildReview();
    };
    connect(m_fullSetupRadio, &QRadioButton::toggled, this, onRunChoiceToggled);
    connect(m_wireguardOnlyRadio, &QRadioButton::toggled, this, onRunChoiceToggled);

    connect(m_loadStationsButton, &QPushButton::clicked, this, &MainWindow::onLoadStations);
    connect(m_installButton, &QPushButton::clicked, this, &MainWindow::onInstallHotspot);
    connect(m_onboardAnotherButton, &QPushButton::clicked, this, [this] {
        forgetLinkedRouter();
        m_passwordEdit->clear();
        m_pppoePasswordEdit->clear();
        showPage(ConnectPage);
    });
    connect(m_backToAccountButton, &QPushButton::clicked, this, [this] { showPage(HomePage); });
    connect(m_progressButton, &QPushButton::clicked, this, &MainWindow::onProgressBack);

    onRouterMode();
}

void MainWindow::runStartupChecks()
{
    if (!m_api.hasApiKey()) {
        m_loginError->setText(
            QStringLiteral("The Quillmor API key is not in quillmor.ini yet. Add it, then open "
                           "this app again. Looked in: %1.")
                .arg(settingsSearchPlaces(QCoreApplication::applicationDirPath(),
                                          QDir::currentPath())));
        m_sendCodeButton->setEnabled(false);
        return;
    }
    if (!m_api.apiKeyProblem().isEmpty()) {
        m_loginError->setText(m_api.apiKeyProblem());
        m_sendCodeButton->setEnabled(false);
        return;
    }
}

void MainWindow::checkReachability()
{
    if (!m_api.hasApiKey())
        return;
    // A missing backend is not an answer: only a backend that says "disconnected" shows the note.
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        const QNetworkInformation *info = QNetworkInformation::instance();
        if (info && info->reachability() == QNetworkInformation::Reachability::Disconnected) {
            setLoginNote(QStringLiteral("This computer looks offline. Sign-in needs internet."),
                         false);
        }
    }
}

void MainWindow::placePage(int index)
{
    QWidget *page = index > LoginPage ? m_laterPages.value(index - 1) : nullptr;
    if (!page || page->parentWidget())
        return;
    QWidget *placeholder = m_stack->widget(index);
    m_stack->removeWidget(placeholder);
    delete placeholder;
    m_stack->insertWidget(index, page);
    restoreTabOrder();
}

void MainWindow::restoreTabOrder()
{
    // A page put into the stack late brings its controls, in their own order, to the end of the
    // window's focus chain, behind the hotspot card. Tab goes from the brand row through the
    // pages in the stack's order to the hotspot card, as if every page had been there from the
    // start; hidden pages' controls are passed over.
    QList<QWidget *> chain;
    const auto collect = [this, &chain](const QWidget *container) {
        for (QWidget *w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
            const bool tabStop = (w->focusPolicy() & Qt::TabFocus) || w == m_reviewTextArea;
            if (tabStop && !w->focusProxy() && container->isAncestorOf(w))
                chain << w;
        }
    };
    chain << m_signOutButton;
    for (int i = 0; i < m_stack->count(); ++i)
        collect(m_stack->widget(i));
    collect(m_hotspotCard);
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain.at(i - 1), chain.at(i));
}

void MainWindow::showPage(int index)
{
    if (index != LoginPage)
        completeWindow();
    placePage(index);
    m_currentPage = index;
    m_stack->setCurrentIndex(index);
    const bool signedInPage = index != LoginPage;
    m_signOutButton->setVisible(signedInPage);
    m_chip->setVisible(signedInPage);
    if (m_hotspotCard)
        m_hotspotCard->setVisible(signedInPage);
    if (index == HomePage)
        updateSeatText();
    if (index == ApplyPage)
        m_checklist->start();
    // A new page starts at its top, not where the previous page was scrolled to.
    m_scroll->verticalScrollBar()->setValue(0);
    fitPage();
    focusFirstEmptyField();
}

void MainWindow::fitPage()
{
    if (m_fitting || !m_stack || !m_scroll)
        return;
    QWidget *page = m_stack->currentWidget();
    QLayout *pageLayout = page ? page->layout() : nullptr;
    if (!pageLayout)
        return;
    m_fitting = true;

    const QScrollBar *bar = m_scroll->verticalScrollBar();
    const int scrollBarWidth = bar ? bar->sizeHint().width() : 14;
    const QWidget *viewport = m_scroll->viewport();
    const int width = std::max(viewport->width() - scrollBarWidth, 360);

    int cardHeight = 0;
    if (m_hotspotCard && !m_hotspotCard->isHidden() && m_hotspotCard->layout()) {
        QLayout *cardLayout = m_hotspotCard->layout();
        cardHeight = (cardLayout->hasHeightForWidth() ? cardLayout->heightForWidth(width)
                                                      : cardLayout->sizeHint().height())
                     + 16;
    }
    // What the page has of the viewport once the hotspot card below it is on show as well.
    const int room = viewport->height() - cardHeight;
    if (m_currentPage == ReviewPage)
        fitReviewText(room, width);
    else if (m_currentPage == ApplyPage)
        (void)fitScrollingPart(m_log, -1, room, width);
    else if (m_currentPage == DonePage && !m_doneLog->isHidden())
        (void)fitScrollingPart(m_doneLog, -1, room, width);

    int needed = 0;
    if (pageLayout->hasHeightForWidth())
        needed = pageLayout->heightForWidth(width);
    else
        needed = std::max(pageLayout->sizeHint().height(), pageLayout->minimumSize().height());
    needed = std::max(needed, 0);

    const int height = std::max(room, needed);
    if (height != m_stack->minimumHeight() || height != m_stack->maximumHeight())
        m_stack->setFixedHeight(height);
    m_fitting = false;
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    fitPage();
}

bool MainWindow::factBool(const QString &key) const
{
    return ::factBool(m_facts, key);
}

QString MainWindow::factString(const QString &key) const
{
    return ::factString(m_facts, key);
}

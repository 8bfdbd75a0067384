#include "CMainFrame.h"

#include "AppIcon.h"
#include "CChildView.h"
#include "CKpConfigApp.h"
#include "KpConfigTexts.h"
#include "UserMessage.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>

#include <algorithm>

CMainFrame::CMainFrame(CKpConfigApp& app) : app_(app) {
    setWindowTitle(QString::fromUtf8(kAppName));
    resize(kDefaultWidth, kDefaultHeight);
}

void CMainFrame::PlaceWindow(const QRect& lastRun) {
    QRect wanted = lastRun.isValid() ? lastRun : QRect(0, 0, kDefaultWidth, kDefaultHeight);
    QScreen* screen = lastRun.isValid() ? QGuiApplication::screenAt(lastRun.center()) : nullptr;
    const bool centre = screen == nullptr; // a first run, or the last run's screen is gone
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        resize(wanted.size());
        return;
    }
    const QRect area = screen->availableGeometry();
    if (centre)
        wanted.moveCenter(area.center());
    setGeometry(Fitted(wanted, area));
}

void CMainFrame::KeepOnScreen() {
    if (screen() == nullptr)
        return;
    const QRect fitted = Fitted(geometry(), screen()->availableGeometry());
    if (fitted != geometry())
        setGeometry(fitted);
}

QMargins CMainFrame::FrameMargins() const {
    // The border and title bar the window system puts around the window. Before it has framed
    // the window (before the first show, and on some desktops for a moment after it) they read
    // as zero: then room as wide as the style's frame and as tall as its title bar is kept, so
    // that the title bar does not end up above the screen's top edge.
    const QRect outer = frameGeometry(), inner = geometry();
    const QMargins known(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    if (!known.isNull())
        return known;
    const int border = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    return QMargins(border, titleBar + border, border, border);
}

bool CMainFrame::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    // The first time the window system reports the frame it drew, the frame too is fitted into
    // the screen's available area; later moves are the user's own, and a maximised window is
    // the window system's to place.
    const QEvent::Type type = event->type();
    if (!framed_ && isVisible() && frameGeometry() != geometry() &&
        (type == QEvent::Move || type == QEvent::Resize || type == QEvent::WindowActivate)) {
        framed_ = true;
        if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            KeepOnScreen();
    }
    return handled;
}

QRect CMainFrame::Fitted(QRect client, const QRect& area) const {
    const QRect room = area.marginsRemoved(FrameMargins());
    client.setSize(client.size().boundedTo(room.size()));
    client.moveLeft(
        std::max(room.left(), std::min(client.left(), room.right() + 1 - client.width())));
    client.moveTop(
        std::max(room.top(), std::min(client.top(), room.bottom() + 1 - client.height())));
    return client;
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::Create() {
    view_ = new CChildView(app_, this);
    if (!view_->Create()) {
        delete view_;
        view_ = nullptr;
        return false;
    }
    setCentralWidget(view_);
    setWindowIcon(AppIcon());
    CreateMenu();
    CreateStatusBar();

    startupTimer_.setSingleShot(true);
    connect(&startupTimer_, &QTimer::timeout, this, [this] { OnTimer(0); });
    startupTimer_.start(StartupCheckMs);
    // The pane follows the service without an idle hook: a short timer reads its state.
    connect(&paneTimer_, &QTimer::timeout, this, &CMainFrame::OnUpdateConnectionPane);
    paneTimer_.start(PaneRefreshMs);
    return true;
}

void CMainFrame::CreateMenu() {
    auto addCommand = [this](QMenu* menu, const char* text, int id) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setObjectName(QString::number(id));
        connect(action, &QAction::triggered, this, [this, id] { OnCmdMsg(id); });
        return action;
    };
    QMenu* file = menuBar()->addMenu(QString::fromUtf8(kMenuFile));
    addCommand(file, kMenuSettings, IdSettings);
    file->addSeparator();
    addCommand(file, kMenuExit, IdAppExit);
    addCommand(menuBar()->addMenu(QString::fromUtf8(kMenuView)), kMenuReload, IdReloadWebUi);
    addCommand(menuBar()->addMenu(QString::fromUtf8(kMenuHelp)), kMenuAbout, IdAppAbout);

    // The accelerator: Ctrl+F4 anywhere in the window opens the device page.
    auto* devConfig = new QAction(this);
    devConfig->setObjectName(QString::number(IdDevConfig));
    devConfig->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
    devConfig->setShortcutContext(Qt::WindowShortcut);
    connect(devConfig, &QAction::triggered, this, [this] { OnCmdMsg(IdDevConfig); });
    addAction(devConfig);
}

void CMainFrame::CreateStatusBar() {
    // A runtime file that could not be written is said where it stays in view; the tip names
    // the file.
    const std::string runtimeError = app_.runtimeFile.Error(false);
    messagePane_ = new QLabel(runtimeError.empty() ? QString::fromUtf8(kIdleText)
                                                   : QString::fromStdString(runtimeError));
    messagePane_->setToolTip(QString::fromStdString(app_.runtimeFile.Error()));
    connectionPane_ = new QLabel(QString::fromUtf8(kNotConnected));
    // Serial numbers come from a USB device or the service: shown as they are, never as markup.
    connectionPane_->setTextFormat(Qt::PlainText);
    connectionPane_->setObjectName(QString::number(IdIndicatorConnection));
    connectionPane_->setFixedWidth(kConnectionPaneWidth);
    statusBar()->addWidget(messagePane_, 1);
    statusBar()->addPermanentWidget(connectionPane_);
}

bool CMainFrame::OnCmdMsg(int id) {
    if (view_ != nullptr && view_->OnCmdMsg(id))
        return true;
    switch (id) {
    case IdAppExit:
        close();
        return true;
    case IdAppAbout:
        app_.OnAppAbout();
        return true;
    default:
        return false;
    }
}

void CMainFrame::OnTimer(int id) {
    if (id != 0)
        return;
    startupTimer_.stop();
    if (app_.service.GetState() != ServiceState::Stopped)
        return;
    ShowUserMessage(this, QString::fromUtf8(kMsgNoInterface));
    if (view_ != nullptr)
        view_->OnSettings();
}

void CMainFrame::OnUpdateConnectionPane() {
    connectionPane_->setEnabled(true);
    const QString description = QString::fromStdString(app_.service.GetDescription());
    QString text;
    const ServiceState state = app_.service.GetState();
    // An ended service has no address: the device page then says that no service runs. A
    // successful start sets the address again.
    if (state == ServiceState::Stopped)
        app_.webServer.UpdateRadlexService("");
    switch (state) {
    case ServiceState::Stopped:
        text = QString::fromUtf8(kNotConnected);
        break;
    case ServiceState::Unreachable:
    case ServiceState::InterfaceDown:
        text = QString::fromUtf8(kConnectingTo).arg(description);
        break;
    case ServiceState::Connected:
        text = QString::fromUtf8(kConnectedTo).arg(description);
        break;
    }
    if (connectionPane_->text() != text)
        connectionPane_->setText(text);
}

void CMainFrame::focusInEvent(QFocusEvent* event) {
    QMainWindow::focusInEvent(event);
    if (view_ != nullptr)
        view_->setFocus();
}

#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QRect>
#include <QTimer>

class CChildView;
class CKpConfigApp;
class QLabel;

// The main window: menu, the browser view filling the client area, and a status bar whose
// connection pane follows the radio service's state. Five seconds after creation it checks
// once that the service runs and, if not, says so and opens the connection wizard.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int StartupCheckMs = 5000;
    static constexpr int PaneRefreshMs = 250;

    explicit CMainFrame(CKpConfigApp& app);
    ~CMainFrame() override;

    // Builds the view, icon, menu and status bar and starts the timers; false when the view
    // (its browser) could not be created.
    bool Create();

    // Routes a command: to the view first, then to the frame, then to the application.
    bool OnCmdMsg(int id);
    // The start-up check (timer 0); other timer ids are ignored.
    void OnTimer(int id);
    // Sets the connection pane's text from the service state. When the service is seen to have
    // ended, the web UI's scripts are told that no service runs (RADLEX_SERVICE empty).
    void OnUpdateConnectionPane();

    // Size and position: those of the last run when given (valid), else 1024 x 768; never
    // larger than the available area of the screen it opens on, and on a screen.
    void PlaceWindow(const QRect& lastRun);
    // Once shown: the frame too within the screen's available area. It runs again by itself when
    // the window system first reports the frame, which some do only after the window shows.
    void KeepOnScreen();

    CChildView* View() const { return view_; }
    QLabel* MessagePane() const { return messagePane_; }
    QLabel* ConnectionPane() const { return connectionPane_; }

protected:
    void focusInEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

private:
    void CreateMenu();
    void CreateStatusBar();
    // The client rectangle moved and shrunk as needed so that it and the frame around it lie
    // within area.
    QRect Fitted(QRect client, const QRect& area) const;
    QMargins FrameMargins() const;

    CKpConfigApp& app_;
    CChildView* view_ = nullptr;
    QLabel* messagePane_ = nullptr;
    QLabel* connectionPane_ = nullptr;
    QTimer startupTimer_;
    QTimer paneTimer_;
    bool framed_ = false; // the window system's frame was seen and fitted
};

#pragma once

#include <QWidget>

class CKpConfigApp;
class CWebBrowser2;

// The main window's client area: the embedded browser showing the web UI, covering the whole
// view. F4 anywhere inside the view (the browser's own widgets included) opens the device page.
class CChildView : public QWidget {
    Q_OBJECT
public:
    CChildView(CKpConfigApp& app, QWidget* parent);
    ~CChildView() override;

    // Creates the browser and shows the home page; false (after saying so) when the browser
    // cannot be created.
    bool Create();

    // The view's commands; false for a command that is not the view's.
    bool OnCmdMsg(int id);
    // Runs the connection wizard and, on Finish, stores the choice and restarts the service.
    void OnSettings();
    void NavigateHome();
    void NavigateDeviceConfig();

    CWebBrowser2* Browser() const { return browser_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Navigate(const char* path);

    CKpConfigApp& app_;
    CWebBrowser2* browser_ = nullptr;
};

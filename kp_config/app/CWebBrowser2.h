#pragma once

#include <QWebEngineView>

class WebUiPage;

// The embedded browser of the main window's view, named "BrowserWnd"; its page stays on the
// program's own web server (see WebUiPage).
class CWebBrowser2 : public QWebEngineView {
    Q_OBJECT
public:
    static constexpr int ControlId = 1000;

    explicit CWebBrowser2(QWidget* parent);

    // Whether the browser engine can run here: its page process must be present, or the engine
    // would end the whole program when it first needs it.
    static bool EngineAvailable();

    WebUiPage* Page() const { return page_; }

    // True while the local page that reports an ended page process is shown.
    bool ShowsRendererGonePage() const { return rendererGone_; }

private:
    void OnRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status);

    WebUiPage* page_;
    bool rendererGone_ = false;
};

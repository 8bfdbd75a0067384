#pragma once

#include "ConnectionSettings.h"

#include <QWizardPage>

struct DialogTemplate;

// The pages of the connection wizard, in their order; a page's id is its place.
enum ConfigPageId : int {
    PageStart = 0,
    PageLanif = 1,
    PageService = 2,
    PageFinish = 3,
};

// A page of the connection wizard: built from its dialog template, working on the one working
// copy of the settings that all pages share. OnSetActive runs every time the page is shown,
// going forward or back; leaving it with Next first reads the page (validatePage).
//
// The template's size is the page's smallest; when the wizard is made larger, the page's growing
// control (if it has one) takes the room and the controls below it move down with its bottom.
class ProppageConfig : public QWizardPage {
    Q_OBJECT
public:
    ProppageConfig(const DialogTemplate& dialogTemplate, ConnectionSettings& settings,
                   int growingControl = -1);

    virtual void OnSetActive() = 0;
    // The control that takes the focus when the page is shown; none leaves it to the sheet's
    // buttons.
    virtual QWidget* FirstFocus() const { return nullptr; }

protected:
    void resizeEvent(QResizeEvent* event) override;

    ConnectionSettings& settings_;

private:
    const DialogTemplate& template_;
    int growingControl_;
};

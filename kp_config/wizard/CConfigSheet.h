#pragma once

#include "ConnectionSettings.h"

#include <QWizard>

class CServiceController;
class ProppageConfigFinish;

// The connection wizard: four pages over one working copy of the settings. Run it modally;
// after Finish the working copy holds the user's checked choice, after Cancel it is dropped.
// How it ended and what was chosen go to the program's log.
class CConfigSheet : public QWizard {
    Q_OBJECT
public:
    CConfigSheet(ConnectionSettings& workingCopy, CServiceController& controller,
                 QWidget* parent = nullptr);

    ProppageConfigFinish* FinishPage() const;

    void done(int result) override;

private:
    void OnPageActivated(int id);
    // Makes the button that goes on (Next, or Finish on the last page) the default while the
    // page allows it, and keeps the focus off "< Zurück": a focused button is what Return
    // presses.
    void UpdateDefaultButton(bool pageShown);

    ConnectionSettings& workingCopy_;
};

#pragma once

#include "ConnectionSettings.h"

#include <QWizard>

class CServiceController;
class ProppageConfigFinish;

// The connection wizard: four pages over one working copy of the settings. Run it modally;
// after Finish the working copy holds the user's checked choice, after Cancel it is dropped.
class CConfigSheet : public QWizard {
    Q_OBJECT
public:
    CConfigSheet(ConnectionSettings& workingCopy, CServiceController& controller,
                 QWidget* parent = nullptr);

    ProppageConfigFinish* FinishPage() const;

private:
    void OnPageActivated(int id);
};

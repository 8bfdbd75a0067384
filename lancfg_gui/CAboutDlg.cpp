#include "CAboutDlg.h"

#include "AppIcon.h"
#include "ControlIds.h"

#include <QLabel>
#include <QPushButton>

namespace {

enum : int { IdAboutIcon = 2001 };

const ControlTemplate kAboutControls[] = {
    {IdAboutIcon, ControlKind::StaticText, "", 14, 14, 21, 20},
    {IdNone, ControlKind::StaticText, "lancfg, Version 1.0", 42, 14, 114, 8},
    {IdOk, ControlKind::DefaultPushButton, "OK", 113, 41, 50, 14},
};

const DialogTemplate kAboutTemplate{"Info über lancfg", 170, 62, kAboutControls};

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    BuildDialog(*this, kAboutTemplate);
    setWindowIcon(AppIcon());
    auto* icon = FindControl<QLabel>(*this, IdAboutIcon);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    connect(FindControl<QPushButton>(*this, IdOk), &QPushButton::clicked, this, &QDialog::accept);
}

#include "ModalDriver.h"

#include "DialogTemplate.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

ModalDriver::ModalDriver() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::Poll);
    timer_.start();
}

void ModalDriver::Expect(Handler handler) {
    handlers_.push_back(std::move(handler));
}

void ModalDriver::Poll() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible())
        return;
    if (auto* box = qobject_cast<QMessageBox*>(dialog))
        texts << box->text();
    if (handlers_.empty()) {
        unexpected << dialog->windowTitle();
        dialog->reject();
        return;
    }
    seen << dialog->windowTitle();
    Handler handler = std::move(handlers_.front());
    handlers_.pop_front();
    handler(*dialog);
    if (dialog->isVisible()) {
        unexpected << dialog->windowTitle() + QStringLiteral(" (left open)");
        dialog->reject();
    }
}

ModalDriver::Handler Accept() {
    return [](QDialog& dialog) {
        if (auto* ok = FindControl<QPushButton>(dialog, IdOk); ok != nullptr && ok->isEnabled())
            ok->click();
        else
            dialog.accept();
    };
}

ModalDriver::Handler Reject() {
    return [](QDialog& dialog) {
        if (auto* cancel = FindControl<QPushButton>(dialog, IdCancel))
            cancel->click();
        else
            dialog.reject();
    };
}

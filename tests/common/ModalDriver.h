#pragma once

// Answers the modal dialogs that a test's action opens, one handler per dialog, in order.
// A timer looks for the application's active modal widget from inside the dialog's own event
// loop, hands it to the next handler, and makes sure it is closed afterwards. A modal dialog
// that no handler expects is closed with reject and noted, so a test never hangs on one.

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>

class QDialog;

class ModalDriver : public QObject {
public:
    using Handler = std::function<void(QDialog&)>;

    ModalDriver();

    // The next modal dialog goes to handler, which should close it (accept or reject).
    void Expect(Handler handler);
    size_t Pending() const { return handlers_.size(); }

    QStringList seen;       // window titles of the dialogs handled, in order
    QStringList unexpected; // window titles of the dialogs nobody expected
    QStringList texts;      // the texts of the message boxes handled

private:
    void Poll();

    QTimer timer_;
    std::deque<Handler> handlers_;
};

// Handlers for the common answers: the dialog's OK (IdOk) or Cancel (IdCancel) button when it
// has one, else accept or reject.
ModalDriver::Handler Accept();
ModalDriver::Handler Reject();

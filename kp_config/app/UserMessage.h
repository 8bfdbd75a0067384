#pragma once

class QString;
class QWidget;

// Shows text in a modal message box with an OK button and the application name as caption, and
// writes it into the program's log first, so that every error a user was shown can be found
// there afterwards.
void ShowUserMessage(QWidget* parent, const QString& text);

// One line in the program's log (module "kp_config").
void LogLine(const QString& text);

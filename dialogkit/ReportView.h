#pragma once

#include <QTableWidget>

// The list view of the dialog templates: a report of rows, selected whole. The keys move from
// row to row as in the list views users know (Home and End go to the first and the last row),
// and while the list has the focus its current row carries a focus frame, so that a keyboard
// user sees where the arrow keys and Return act.
class ReportView : public QTableWidget {
    Q_OBJECT
public:
    explicit ReportView(QWidget* parent = nullptr);

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

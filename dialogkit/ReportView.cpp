#include "ReportView.h"

#include <QFocusEvent>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// The cells draw no focus frame of their own: the view draws one around the whole row.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        cell.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, cell, index);
    }
};

} // namespace

ReportView::ReportView(QWidget* parent) : QTableWidget(parent) {
    setItemDelegate(new RowDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

QModelIndex ReportView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    // A table goes to the first or last cell of the row; a list of rows to its first or last row.
    if (cursorAction == MoveHome || cursorAction == MoveEnd)
        modifiers |= Qt::ControlModifier;
    return QTableWidget::moveCursor(cursorAction, modifiers);
}

void ReportView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableWidget::currentChanged(current, previous);
    viewport()->update(); // the frame spans rows, the view repaints only the two cells
}

void ReportView::paintEvent(QPaintEvent* event) {
    QTableWidget::paintEvent(event);
    const QModelIndex current = currentIndex();
    if (!hasFocus() || !current.isValid())
        return;
    // A dotted frame around the columns of the current row, in the colour of the text on that
    // row, so it shows on a selected row as well as on a plain one.
    const QRect cell = visualRect(current);
    const QRect row(-horizontalOffset(), cell.top(), horizontalHeader()->length(), cell.height());
    const bool selected = selectionModel()->isRowSelected(current.row(), current.parent());
    QPainter painter(viewport());
    QPen pen(
        palette().color(QPalette::Active, selected ? QPalette::HighlightedText : QPalette::Text));
    pen.setStyle(Qt::DotLine);
    painter.setPen(pen);
    painter.drawRect(row.adjusted(0, 0, -1, -1));
}

void ReportView::focusInEvent(QFocusEvent* event) {
    QTableWidget::focusInEvent(event);
    viewport()->update(); // the focus frame appears
}

void ReportView::focusOutEvent(QFocusEvent* event) {
    QTableWidget::focusOutEvent(event);
    viewport()->update();
}

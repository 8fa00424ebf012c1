// SPDX-License-Identifier: MIT
#include "dialogs/edit_list_ctrl.h"

#include <QApplication>
#include <QCursor>
#include <QFocusEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>

namespace kx {

CItemEdit::CItemEdit(QWidget* parent) : QLineEdit(parent) {}

void CItemEdit::SetFixedLeft(int x) {
    fixedLeft_ = x;
    if (pos().x() != x) {
        move(x, pos().y());
    }
}

void CItemEdit::moveEvent(QMoveEvent* event) {
    QLineEdit::moveEvent(event);
    if (pos().x() != fixedLeft_) {
        move(fixedLeft_, pos().y());
    }
}

// Draws every cell of the list and makes its edit boxes.
class EditListDelegate : public QStyledItemDelegate {
public:
    explicit EditListDelegate(CEditListCtrl* list) : QStyledItemDelegate(list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QRect cell = option.rect;
        const QPalette& palette = option.palette;
        const bool chosen = list_->IsChosen(index.row(), index.column());
        painter->save();
        painter->fillRect(cell, palette.color(QPalette::Base));
        if (chosen && list_->editor_ != nullptr) {
            // The edit box covers the cell; whatever of it the box leaves
            // free stays plain.
            painter->restore();
            return;
        }
        const QString text = index.data(Qt::DisplayRole).toString();
        const QFontMetrics metrics(option.font);
        QColor textColour = palette.color(QPalette::Text);
        if (chosen && list_->pressed_) {
            const QRect mark = list_->MarkRect(index.row(), index.column());
            if (list_->selected_) {
                textColour = palette.color(QPalette::HighlightedText);
                painter->fillRect(mark, palette.color(QPalette::Highlight));
            }
            QPen dotted(list_->selected_ ? textColour : palette.color(QPalette::Text));
            dotted.setStyle(Qt::DotLine);
            painter->setPen(dotted);
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(mark.adjusted(0, 0, -1, -1));
        }
        const QRect textRect = cell.adjusted(6, 0, 0, 0);
        painter->setFont(option.font);
        painter->setPen(textColour);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          metrics.elidedText(text, Qt::ElideRight, textRect.width()));
        painter->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* editor = new CItemEdit(parent);
        list_->editor_ = editor;
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        static_cast<CItemEdit*>(editor)->setText(index.data(Qt::DisplayRole).toString());
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        model->setData(index, static_cast<CItemEdit*>(editor)->text(), Qt::EditRole);
        emit list_->cellTextEdited(index.row(), index.column());
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        auto* edit = static_cast<CItemEdit*>(editor);
        const QRect cell = option.rect;
        const int left = cell.left() + 4;
        edit->setGeometry(left, cell.top(), std::max(cell.right() + 1 - left, 1), cell.height());
        edit->SetFixedLeft(left);
    }

private:
    CEditListCtrl* list_;
};

CEditListCtrl::CEditListCtrl(QWidget* parent) : QTableWidget(parent) {
    setItemDelegate(new EditListDelegate(this));
    // Editing starts only from a second click on the chosen cell.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    verticalHeader()->hide();
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
}

int CEditListCtrl::InsertColumn(int column, const QString& heading, int width) {
    column = std::clamp(column, 0, columnCount());
    insertColumn(column);
    auto* header = new QTableWidgetItem(heading);
    header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    setColumnWidth(column, width);
    return column;
}

int CEditListCtrl::InsertItem(int row, const QString& text) {
    row = std::clamp(row, 0, rowCount());
    insertRow(row);
    setItem(row, 0, new QTableWidgetItem(text));
    // The choice moves with its row.
    if (editRow_ >= row) {
        ++editRow_;
    }
    return row;
}

bool CEditListCtrl::SetItemText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        return false;
    }
    if (QTableWidgetItem* cell = item(row, column)) {
        cell->setText(text);
    } else {
        setItem(row, column, new QTableWidgetItem(text));
    }
    return true;
}

QString CEditListCtrl::GetItemText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

void CEditListCtrl::DeleteAllItems() {
    setRowCount(0);
    ClearChoice();
}

QRect CEditListCtrl::MarkRect(int row, int column) const {
    const QRect cell = visualRect(model()->index(row, column));
    if (!cell.isValid()) {
        return {};
    }
    const QString text = GetItemText(row, column);
    const int w = text.isEmpty() ? kEmptyTextWidth : fontMetrics().horizontalAdvance(text);
    const int left = cell.left() + 4;
    const int right = std::min(left + w + 6, cell.right() + 1);  // exclusive
    return QRect(left, cell.top(), std::max(right - left, 0), cell.height());
}

void CEditListCtrl::Click(QMouseEvent* event) {
    pressed_ = true;
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (hit.isValid()) {
        QTableWidget::mousePressEvent(event);  // selection and focus
        if (selected_ && IsChosen(hit.row(), hit.column())) {
            edit(hit);
            return;
        }
        editRow_ = hit.row();
        editColumn_ = hit.column();
        selected_ = true;
    } else {
        if (editor_ == nullptr && !editorClosedByPress_) {
            selected_ = false;
        }
        QTableWidget::mousePressEvent(event);
    }
    editorClosedByPress_ = false;
    viewport()->update();
}

void CEditListCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QTableWidget::mousePressEvent(event);
        return;
    }
    Click(event);
}

void CEditListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a double click counts as a click of its own, so a
    // quick double click on the chosen cell edits it.
    if (event->button() != Qt::LeftButton) {
        QTableWidget::mouseDoubleClickEvent(event);
        return;
    }
    Click(event);
}

void CEditListCtrl::focusInEvent(QFocusEvent* event) {
    // Gaining the focus changes nothing: the item view would otherwise make
    // a cell current and repaint.
    QWidget::focusInEvent(event);
}

void CEditListCtrl::focusOutEvent(QFocusEvent* event) {
    QTableWidget::focusOutEvent(event);
    if (CursorInside()) {
        return;
    }
    QWidget* gaining = QApplication::focusWidget();
    // The list's own edit box taking the focus is no loss.
    if (gaining == nullptr || isAncestorOf(gaining)) {
        return;
    }
    ClearChoice();
    viewport()->update();
}

void CEditListCtrl::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    // Tab ends the edit in place instead of opening the next cell.
    if (hint == QAbstractItemDelegate::EditNextItem ||
        hint == QAbstractItemDelegate::EditPreviousItem) {
        hint = QAbstractItemDelegate::NoHint;
    }
    QTableWidget::closeEditor(editor, hint);
    editor_ = nullptr;
    if (!CursorInside()) {
        ClearChoice();
    } else if (QApplication::mouseButtons() & Qt::LeftButton) {
        // A press in the list takes the focus from the edit box, which
        // closes it, before the press itself arrives: for that press the box
        // was still open. The flag does not outlive the press's delivery.
        editorClosedByPress_ = true;
        QTimer::singleShot(0, this, [this] { editorClosedByPress_ = false; });
    }
    viewport()->update();
}

void CEditListCtrl::ClearChoice() {
    editRow_ = -1;
    editColumn_ = -1;
    pressed_ = false;
    selected_ = false;
}

bool CEditListCtrl::CursorInside() const {
    return QRect(mapToGlobal(QPoint(0, 0)), size()).contains(QCursor::pos());
}

}  // namespace kx

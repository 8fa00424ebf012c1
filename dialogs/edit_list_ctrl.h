// SPDX-License-Identifier: MIT
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QTableWidget>

namespace kx {

// The in-place edit box of CEditListCtrl. It stays at a fixed x position, the
// left of the chosen cell plus 4 pixels, whatever moves it.
class CItemEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit CItemEdit(QWidget* parent = nullptr);

    void SetFixedLeft(int x);
    int FixedLeft() const { return fixedLeft_; }

protected:
    void moveEvent(QMoveEvent* event) override;

private:
    int fixedLeft_ = 0;
};

// A report-view list whose every cell can be edited in place:
//
// - a first click on a cell chooses it and highlights its text (a filled mark
//   from the cell's left + 4, as wide as the text + 6, or 47 pixels for an
//   empty cell, with a dotted frame);
// - a second click (or the second click of a double click) on the chosen cell
//   opens a CItemEdit over exactly that cell, filled with its text;
// - Enter, or leaving the edit box, stores the text into that cell; Escape
//   leaves the cell unchanged; Tab does not move on to another cell;
// - a click on empty space removes the highlight fill (the frame stays)
//   unless an edit box is open;
// - when the focus moves to another window while the mouse is outside the
//   list, or an edit ends with the mouse outside it, the choice is cleared.
//
// Its owner fills and reads it with the list operations below. Rows have no
// header; every cell is drawn by the list itself (the standard selection
// colours are not used).
class CEditListCtrl : public QTableWidget {
    Q_OBJECT

public:
    // Width of the highlight of an empty cell's text.
    static constexpr int kEmptyTextWidth = 41;

    explicit CEditListCtrl(QWidget* parent = nullptr);

    // List operations. Rows and columns count from 0; out-of-range arguments
    // do nothing (getters return an empty text).
    // Inserts a column before `column` (at the end when beyond it) with its
    // heading and width; returns its index.
    int InsertColumn(int column, const QString& heading, int width = 50);
    // Inserts a row before `row` (at the end when beyond it) with `text` in
    // column 0; returns its index.
    int InsertItem(int row, const QString& text);
    bool SetItemText(int row, int column, const QString& text);
    QString GetItemText(int row, int column) const;
    void DeleteAllItems();  // every row; columns stay
    int GetItemCount() const { return rowCount(); }

    // The chosen cell: (-1, -1) when none.
    int EditRow() const { return editRow_; }
    int EditColumn() const { return editColumn_; }
    // The chosen cell is highlighted; a click on it starts editing.
    bool IsCellSelected() const { return selected_; }
    // A left-button press has happened since the choice was last cleared.
    bool IsPressed() const { return pressed_; }
    // The open edit box, or nullptr.
    CItemEdit* Editor() const { return editor_; }

    // Where the highlight of a cell's text goes, in viewport coordinates.
    QRect MarkRect(int row, int column) const;

signals:
    // The operator stored a new text into a cell.
    void cellTextEdited(int row, int column);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    friend class EditListDelegate;

    void Click(QMouseEvent* event);
    void ClearChoice();
    bool CursorInside() const;
    bool IsChosen(int row, int column) const { return row == editRow_ && column == editColumn_; }

    int editColumn_ = -1;
    int editRow_ = -1;
    bool selected_ = false;
    bool pressed_ = false;
    QPointer<CItemEdit> editor_;
    bool editorClosedByPress_ = false;
};

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "dialogs/edit_list_ctrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

namespace kx {
namespace {

// A list of three columns and two rows in a window with a second control to
// take the focus, as the master board dialog lays out its head table.
class EditListTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        list = new CEditListCtrl(&window);
        other = new QLineEdit(&window);
        layout->addWidget(list);
        layout->addWidget(other);
        list->InsertColumn(0, QStringLiteral("头"), 80);
        list->InsertColumn(1, QStringLiteral("行"), 80);
        list->InsertColumn(2, QStringLiteral("列"), 80);
        list->InsertItem(0, QStringLiteral("A0"));
        list->InsertItem(1, QStringLiteral("A1"));
        list->SetItemText(0, 1, QStringLiteral("B0"));
        list->SetItemText(1, 1, QStringLiteral("B1"));
        list->SetItemText(0, 2, QStringLiteral("C0"));
        // (1, 2) stays empty.
        window.resize(400, 300);
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        CursorOverList();
    }

    QRect Cell(int row, int column) const {
        return list->visualRect(list->model()->index(row, column));
    }
    void Click(int row, int column) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          Cell(row, column).center());
    }
    void CursorOverList() { QCursor::setPos(list->mapToGlobal(list->rect().center())); }
    void CursorAway() { QCursor::setPos(window.mapToGlobal(QPoint(-200, -200))); }
    QImage Shot() const { return list->viewport()->grab().toImage(); }
    QRgb Colour(QPalette::ColorRole role) const { return list->palette().color(role).rgb(); }

    QWidget window;
    CEditListCtrl* list = nullptr;
    QLineEdit* other = nullptr;
};

TEST_F(EditListTest, FirstClickHighlightsSecondClickEditsOverThatCell) {
    Click(0, 1);
    EXPECT_EQ(list->EditRow(), 0);
    EXPECT_EQ(list->EditColumn(), 1);
    EXPECT_TRUE(list->IsCellSelected());
    EXPECT_EQ(list->Editor(), nullptr);

    Click(1, 2);  // another cell: the highlight moves, no editing
    EXPECT_EQ(list->EditRow(), 1);
    EXPECT_EQ(list->EditColumn(), 2);
    EXPECT_EQ(list->Editor(), nullptr);

    Click(0, 1);
    Click(0, 1);  // the chosen cell again
    CItemEdit* editor = list->Editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), QStringLiteral("B0"));
    const QRect cell = Cell(0, 1);
    EXPECT_EQ(editor->FixedLeft(), cell.left() + 4);
    EXPECT_EQ(editor->geometry().left(), cell.left() + 4);
    EXPECT_EQ(editor->geometry().top(), cell.top());
    EXPECT_EQ(editor->geometry().right(), cell.right());
    // Whatever moves the box, it stays over its column.
    editor->move(0, cell.top());
    EXPECT_EQ(editor->x(), cell.left() + 4);
}

TEST_F(EditListTest, EnterStoresIntoTheEditedCellAndEscapeLeavesIt) {
    QSignalSpy edited(list, &CEditListCtrl::cellTextEdited);
    struct Case {
        int row;
        int column;
        Qt::Key key;
        QString expected;
    };
    const Case cases[] = {
        {0, 2, Qt::Key_Return, QStringLiteral("new")},
        {1, 2, Qt::Key_Enter, QStringLiteral("new")},  // an empty cell gets its text
        {1, 1, Qt::Key_Escape, QStringLiteral("B1")},
        {0, 0, Qt::Key_Return, QStringLiteral("new")},
    };
    for (const Case& c : cases) {
        const QString before0 = list->GetItemText(c.row, 0);
        Click(c.row, c.column);
        Click(c.row, c.column);
        CItemEdit* editor = list->Editor();
        ASSERT_NE(editor, nullptr) << c.row << "," << c.column;
        editor->setText(QStringLiteral("new"));
        QTest::keyClick(editor, c.key);
        QApplication::processEvents();  // the delegate commits queued
        EXPECT_EQ(list->Editor(), nullptr);
        EXPECT_EQ(list->GetItemText(c.row, c.column), c.expected) << c.row << "," << c.column;
        if (c.column != 0) {
            EXPECT_EQ(list->GetItemText(c.row, 0), before0) << "never the first column";
        }
        // The cursor stayed over the list: the cell is still chosen.
        EXPECT_EQ(list->EditRow(), c.row);
        EXPECT_EQ(list->EditColumn(), c.column);
    }
    ASSERT_EQ(edited.count(), 3);
    EXPECT_EQ(edited.at(1).at(0).toInt(), 1);
    EXPECT_EQ(edited.at(1).at(1).toInt(), 2);
}

TEST_F(EditListTest, HighlightIsTheTextWidthPlusSixOr47ForAnEmptyCell) {
    const QRgb highlight = Colour(QPalette::Highlight);
    const QRgb base = Colour(QPalette::Base);
    struct Case {
        int row;
        int column;
        int width;
    };
    const Case cases[] = {
        {1, 2, 47},
        {0, 1, list->fontMetrics().horizontalAdvance(QStringLiteral("B0")) + 6},
    };
    for (const Case& c : cases) {
        Click(c.row, c.column);
        const QRect cell = Cell(c.row, c.column);
        const QRect mark = list->MarkRect(c.row, c.column);
        EXPECT_EQ(mark.left(), cell.left() + 4);
        EXPECT_EQ(mark.width(), c.width);
        const QImage shot = Shot();
        const int y = cell.center().y();
        // The filled mark lies inside its dotted frame at left and right.
        const int left = cell.left() + 4;
        const int right = left + c.width - 1;
        if (c.width == 47) {
            for (int x = left + 1; x < right; ++x) {
                ASSERT_EQ(shot.pixel(x, y), highlight) << "x " << x;
            }
        } else {
            EXPECT_EQ(shot.pixel(left + 1, y), highlight);
            EXPECT_EQ(shot.pixel(right - 1, cell.top() + 2), highlight);
        }
        EXPECT_EQ(shot.pixel(left - 1, y), base);
        EXPECT_EQ(shot.pixel(right + 1, y), base);
    }
}

TEST_F(EditListTest, ClickOnEmptySpaceDropsTheFillButKeepsTheFrame) {
    const QRgb highlight = Colour(QPalette::Highlight);
    Click(0, 2);
    const QRect cell = Cell(0, 2);
    const QPoint inside(cell.left() + 10, cell.top() + 2);
    ASSERT_EQ(Shot().pixel(inside), highlight);

    const QPoint below(Cell(1, 0).center().x(), Cell(1, 0).bottom() + 40);
    ASSERT_FALSE(list->indexAt(below).isValid());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, below);
    EXPECT_FALSE(list->IsCellSelected());
    EXPECT_TRUE(list->IsPressed());
    EXPECT_EQ(list->EditRow(), 0);
    const QImage shot = Shot();
    EXPECT_NE(shot.pixel(inside), highlight);
    // Some pixel of the dotted frame's top edge is drawn in the text colour.
    bool frame = false;
    const QRect mark = list->MarkRect(0, 2);
    for (int x = mark.left(); x <= mark.right(); ++x) {
        frame = frame || shot.pixel(x, mark.top()) == Colour(QPalette::Text);
    }
    EXPECT_TRUE(frame);

    // With an edit box open the choice stays highlighted.
    Click(0, 2);
    Click(0, 2);
    ASSERT_NE(list->Editor(), nullptr);
    QTest::mousePress(list->viewport(), Qt::LeftButton, Qt::NoModifier, below);
    EXPECT_TRUE(list->IsCellSelected());
}

TEST_F(EditListTest, FocusLeavingKeepsTheChoiceOnlyWhileTheMouseIsOverTheList) {
    Click(1, 1);
    list->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(list->hasFocus());

    CursorOverList();
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(list->EditRow(), 1);
    EXPECT_TRUE(list->IsCellSelected());

    list->setFocus();
    QApplication::processEvents();
    CursorAway();
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(list->EditRow(), -1);
    EXPECT_EQ(list->EditColumn(), -1);
    EXPECT_FALSE(list->IsCellSelected());
    EXPECT_FALSE(list->IsPressed());

    // An edit that ends with the mouse outside the list clears the choice.
    CursorOverList();
    Click(0, 1);
    Click(0, 1);
    ASSERT_NE(list->Editor(), nullptr);
    CursorAway();
    QTest::keyClick(list->Editor(), Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(list->EditRow(), -1);
    EXPECT_EQ(list->GetItemText(0, 1), QStringLiteral("B0"));
}

TEST_F(EditListTest, ListOperationsForTheOwner) {
    EXPECT_EQ(list->columnCount(), 3);
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral("行"));
    EXPECT_EQ(list->columnWidth(2), 80);
    EXPECT_EQ(list->InsertColumn(99, QStringLiteral("X")), 3);
    EXPECT_EQ(list->InsertItem(-4, QStringLiteral("top")), 0);
    EXPECT_EQ(list->GetItemCount(), 3);
    EXPECT_EQ(list->GetItemText(0, 0), QStringLiteral("top"));
    EXPECT_EQ(list->GetItemText(1, 1), QStringLiteral("B0"));
    EXPECT_EQ(list->GetItemText(0, 3), QString());
    EXPECT_EQ(list->GetItemText(7, 0), QString());
    EXPECT_FALSE(list->SetItemText(7, 0, QStringLiteral("x")));
    EXPECT_FALSE(list->SetItemText(0, 4, QStringLiteral("x")));
    list->DeleteAllItems();
    EXPECT_EQ(list->GetItemCount(), 0);
    EXPECT_EQ(list->columnCount(), 4);
}

}  // namespace
}  // namespace kx

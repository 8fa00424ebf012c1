// SPDX-License-Identifier: MIT
#include "dialogs/reset_row_col_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>

#include "tests/support/message_recorder.h"

namespace kx {
namespace {

TEST(ResetRowColDlg, OkAcceptsColumns1To10AndRows1To5) {
    struct Case {
        const char* columns;
        const char* rows;
        QString message;  // empty: accepted
        bool columnsInError;
    };
    const QString columnsRange = QStringLiteral("请输入一个 1 至 10 之间的整数。");
    const QString rowsRange = QStringLiteral("请输入一个 1 至 5 之间的整数。");
    const QString integer = QStringLiteral("请输入一个整数。");
    const Case cases[] = {
        {"10", "5", QString(), false},   {"1", "1", QString(), false},
        {"11", "5", columnsRange, true}, {"0", "5", columnsRange, true},
        {"10", "0", rowsRange, false},   {"10", "6", rowsRange, false},
        {"abc", "5", integer, true},     {"", "5", integer, true},
        {"3", "2.5", integer, false},    {"11", "0", columnsRange, true},
    };
    for (const Case& c : cases) {
        test::MessageRecorder messages;
        std::int32_t ownerColumns = 4;
        std::int32_t ownerRows = 2;
        CResetRowColDlg dlg(ownerColumns, ownerRows);
        dlg.open();
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("设置测试头行列数"));
        EXPECT_EQ(dlg.columnsEdit()->text(), QStringLiteral("4"));
        EXPECT_EQ(dlg.rowsEdit()->text(), QStringLiteral("2"));
        dlg.columnsEdit()->setText(QString::fromUtf8(c.columns));
        dlg.rowsEdit()->setText(QString::fromUtf8(c.rows));
        dlg.accept();
        const bool accepted = c.message.isEmpty();
        EXPECT_EQ(dlg.isVisible(), !accepted) << c.columns << "x" << c.rows;
        EXPECT_EQ(dlg.TakeSize(ownerColumns, ownerRows), accepted);
        if (accepted) {
            EXPECT_TRUE(messages.texts.isEmpty());
            EXPECT_EQ(ownerColumns, QString::fromUtf8(c.columns).toInt());
            EXPECT_EQ(ownerRows, QString::fromUtf8(c.rows).toInt());
            continue;
        }
        EXPECT_EQ(messages.texts, QStringList{c.message}) << c.columns << "x" << c.rows;
        EXPECT_EQ(dlg.focusWidget(), c.columnsInError ? dlg.columnsEdit() : dlg.rowsEdit());
        EXPECT_EQ(ownerColumns, 4);
        EXPECT_EQ(ownerRows, 2);

        // Cancel after the rejected entry: the owner keeps its size, also when
        // the columns had been read before the rows were rejected.
        dlg.reject();
        EXPECT_FALSE(dlg.TakeSize(ownerColumns, ownerRows));
        EXPECT_EQ(ownerColumns, 4);
        EXPECT_EQ(ownerRows, 2);
        EXPECT_EQ(dlg.Columns(), 4);
        EXPECT_EQ(dlg.Rows(), 2);
    }
}

TEST(ResetRowColDlg, CancelAfterEditingLeavesTheOwnerUnchanged) {
    test::MessageRecorder messages;
    std::int32_t ownerColumns = 3;
    std::int32_t ownerRows = 5;
    CResetRowColDlg dlg(ownerColumns, ownerRows);
    dlg.open();
    dlg.columnsEdit()->setText(QStringLiteral("8"));
    dlg.rowsEdit()->setText(QStringLiteral("1"));
    dlg.reject();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(dlg.TakeSize(ownerColumns, ownerRows));
    EXPECT_EQ(ownerColumns, 3);
    EXPECT_EQ(ownerRows, 5);
    EXPECT_TRUE(messages.texts.isEmpty());
}

}  // namespace
}  // namespace kx

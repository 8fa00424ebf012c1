// SPDX-License-Identifier: MIT
#include "ui/data_exchange.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QVBoxLayout>

#include "tests/support/message_recorder.h"

namespace kx {
namespace {

// A form of an integer with a range, an integer without, a number and a
// check box, read in that order.
class DataExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&form);
        for (QWidget* w : {static_cast<QWidget*>(ranged), static_cast<QWidget*>(plain),
                           static_cast<QWidget*>(number), static_cast<QWidget*>(box),
                           static_cast<QWidget*>(other)}) {
            layout->addWidget(w);
        }
        form.show();
    }

    bool Exchange() {
        DataExchange dx(&form);
        dx.Int(ranged, rangedValue, 0, 65535).Int(plain, plainValue).Number(number, numberValue);
        dx.Check(box, checked);
        return dx.ok();
    }

    QDialog form;
    QLineEdit* ranged = new QLineEdit(&form);
    QLineEdit* plain = new QLineEdit(&form);
    QLineEdit* number = new QLineEdit(&form);
    QCheckBox* box = new QCheckBox(&form);
    QLineEdit* other = new QLineEdit(&form);  // holds the focus before each exchange
    std::int32_t rangedValue = -5;
    std::int32_t plainValue = -5;
    float numberValue = -5.0f;
    bool checked = false;
    test::MessageRecorder messages;
};

TEST_F(DataExchangeTest, StopsAtTheFirstBadControlWithItsMessageAndFocus) {
    struct Case {
        const char* ranged;
        const char* plain;
        const char* number;
        QString message;  // empty: accepted
        int failed;       // 0 ranged, 1 plain, 2 number; -1 none
    };
    const QString range = QStringLiteral("请输入一个 0 至 65535 之间的整数。");
    const QString integer = QStringLiteral("请输入一个整数。");
    const QString numberText = QStringLiteral("请输入一个数字。");
    const Case cases[] = {
        {"70000", "1", "1", range, 0},
        {"-1", "1", "1", range, 0},
        {"99999999999999", "1", "1", range, 0},
        {"abc", "1", "1", integer, 0},
        {"", "1", "1", integer, 0},
        {"1e3", "1", "1", integer, 0},
        {"10", "2147483648", "1", integer, 1},
        {"10", "5 apples", "1", integer, 1},
        {"10", "5", "1e3x", numberText, 2},
        {"10", "5", "inf", numberText, 2},
        {"10", "5", " ", numberText, 2},
        // Full-width text from a Chinese input method, blanks around.
        {"\xef\xbc\x91\xef\xbc\x92", "\xef\xbc\x8d\xef\xbc\x93\xe3\x80\x80",
         "\xef\xbc\x8e\xef\xbc\x95", QString(), -1},
        {" 65535 ", "-2147483648", "1e3", QString(), -1},
    };
    for (const Case& c : cases) {
        rangedValue = plainValue = -5;
        numberValue = -5.0f;
        box->setChecked(true);
        checked = false;
        messages.texts.clear();
        ranged->setText(QString::fromUtf8(c.ranged));
        plain->setText(QString::fromUtf8(c.plain));
        number->setText(QString::fromUtf8(c.number));
        other->setFocus();
        ASSERT_EQ(form.focusWidget(), other);
        const bool ok = Exchange();
        EXPECT_EQ(ok, c.message.isEmpty()) << c.ranged << "|" << c.plain << "|" << c.number;
        if (c.message.isEmpty()) {
            EXPECT_TRUE(messages.texts.isEmpty());
            EXPECT_TRUE(checked);
            continue;
        }
        ASSERT_EQ(messages.texts.size(), 1) << c.ranged;
        EXPECT_EQ(messages.texts.front(), c.message) << c.ranged << "|" << c.plain;
        QLineEdit* const edits[] = {ranged, plain, number};
        QLineEdit* failed = edits[c.failed];
        EXPECT_EQ(form.focusWidget(), failed) << c.ranged;
        EXPECT_EQ(failed->selectedText(), failed->text());
        // Fields before the bad one are read, it and those after are not.
        EXPECT_EQ(rangedValue != -5, failed != ranged) << c.ranged;
        EXPECT_EQ(plainValue != -5, failed == number) << c.ranged;
        EXPECT_EQ(numberValue, -5.0f);
        EXPECT_FALSE(checked) << "the check box after the bad field is not read";
    }
}

TEST_F(DataExchangeTest, ReadsTheValuesAndShowsThemBack) {
    ranged->setText(QString::fromUtf8("\xef\xbc\x91\xef\xbc\x92"));  // full-width 12
    plain->setText(QStringLiteral(" +7 "));
    number->setText(QStringLiteral("12.5"));
    box->setChecked(true);
    ASSERT_TRUE(Exchange());
    EXPECT_EQ(rangedValue, 12);
    EXPECT_EQ(plainValue, 7);
    EXPECT_FLOAT_EQ(numberValue, 12.5f);
    EXPECT_TRUE(checked);

    ShowInt(plain, -42);
    ShowNumber(number, 10.0f);
    ShowCheck(box, false);
    EXPECT_EQ(plain->text(), QStringLiteral("-42"));
    EXPECT_EQ(number->text(), QStringLiteral("10"));
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(RangeMessage(1, 10), QStringLiteral("请输入一个 1 至 10 之间的整数。"));
}

}  // namespace
}  // namespace kx

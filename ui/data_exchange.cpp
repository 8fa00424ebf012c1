// SPDX-License-Identifier: MIT
#include "ui/data_exchange.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>

#include "ui/message_box.h"
#include "ui/typed_value.h"

namespace kx {

namespace {

// The field's text with the full-width forms a Chinese input method types
// ("１２", "－", "．", the ideographic space) folded into their ASCII twins and
// Unicode blanks trimmed; anything else that is not ASCII stays and is
// refused by the parser.
std::string PlainText(const QLineEdit* edit) {
    QString text = edit->text();
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u >= 0xFF01 && u <= 0xFF5E) {
            c = QChar(static_cast<char16_t>(u - 0xFEE0));
        } else if (u == 0x3000) {
            c = QChar(u' ');
        }
    }
    return text.trimmed().toStdString();
}

}  // namespace

QString IntegerMessage() {
    return QCoreApplication::translate("DataExchange", "请输入一个整数。");
}

QString NumberMessage() {
    return QCoreApplication::translate("DataExchange", "请输入一个数字。");
}

QString RangeMessage(std::int32_t min, std::int32_t max) {
    return QCoreApplication::translate("DataExchange", "请输入一个 %1 至 %2 之间的整数。")
        .arg(min)
        .arg(max);
}

void DataExchange::Fail(QLineEdit* edit, const QString& message) {
    failed_ = edit;
    ShowMessage(owner_, message, QString(), QMessageBox::Warning);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

DataExchange& DataExchange::Int(QLineEdit* edit, std::int32_t& value) {
    if (!ok()) {
        return *this;
    }
    const TypedInt typed = ParseTypedInt(PlainText(edit));
    if (typed.status != TypedIntStatus::Ok) {
        Fail(edit, IntegerMessage());
    } else {
        value = typed.value;
    }
    return *this;
}

DataExchange& DataExchange::Int(QLineEdit* edit, std::int32_t& value, std::int32_t min,
                                std::int32_t max) {
    if (!ok()) {
        return *this;
    }
    const TypedInt typed = ParseTypedInt(PlainText(edit), min, max);
    switch (typed.status) {
        case TypedIntStatus::Ok:
            value = typed.value;
            break;
        case TypedIntStatus::NotInteger:
            Fail(edit, IntegerMessage());
            break;
        case TypedIntStatus::OutOfRange:
            Fail(edit, RangeMessage(min, max));
            break;
    }
    return *this;
}

DataExchange& DataExchange::Number(QLineEdit* edit, float& value) {
    if (!ok()) {
        return *this;
    }
    const std::optional<float> typed = ParseTypedNumber(PlainText(edit));
    if (!typed) {
        Fail(edit, NumberMessage());
    } else {
        value = *typed;
    }
    return *this;
}

DataExchange& DataExchange::Check(QAbstractButton* box, bool& value) {
    if (ok()) {
        value = box->isChecked();
    }
    return *this;
}

void ShowInt(QLineEdit* edit, std::int32_t value) {
    edit->setText(QString::number(value));
}

void ShowNumber(QLineEdit* edit, float value) {
    edit->setText(QString::fromStdString(FormatNumber(value)));
}

void ShowCheck(QAbstractButton* box, bool value) {
    box->setChecked(value);
}

}  // namespace kx

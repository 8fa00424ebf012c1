// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <cstdint>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace kx {

// The standard messages of a rejected field.
QString IntegerMessage();                                  // "请输入一个整数。"
QString NumberMessage();                                   // "请输入一个数字。"
QString RangeMessage(std::int32_t min, std::int32_t max);  // "请输入一个 min 至 max 之间的整数。"

// Reads a dialog's controls into its fields, one call per control, in the
// order of the calls:
//
//     DataExchange dx(this);
//     dx.Int(lowerEdit, lower, 0, 65535).Int(upperEdit, upper).Number(pctEdit, pct);
//     if (!dx.ok()) return;  // stay open
//
// The first control whose text is not acceptable stops the exchange: its
// standard message is shown (through ShowMessage), it gets the focus with
// its text selected, and neither its field nor any later one is changed.
// The fields read before it keep their new values. Calls after the failure
// do nothing.
//
// Typed text is untrusted. Full-width digits, signs, points and blanks (as a
// Chinese input method types them) are taken as their plain forms; blanks
// around the text are ignored. An integer is a sign and digits only ("1e3",
// "12abc", "" are refused with the integer message; a well-formed integer
// outside the range, however long, gets the range message, and outside int32
// without a range the integer message). A number may carry a point and an
// exponent; infinity, NaN and values beyond the float range are refused.
class DataExchange {
public:
    // `owner`: the dialog the messages belong to.
    explicit DataExchange(QWidget* owner) : owner_(owner) {}

    DataExchange& Int(QLineEdit* edit, std::int32_t& value);
    DataExchange& Int(QLineEdit* edit, std::int32_t& value, std::int32_t min, std::int32_t max);
    DataExchange& Number(QLineEdit* edit, float& value);
    // A check box: checked or not. Never fails.
    DataExchange& Check(QAbstractButton* box, bool& value);

    // Every control read so far was accepted.
    bool ok() const { return failed_ == nullptr; }
    // The control that stopped the exchange, or nullptr.
    QWidget* failedControl() const { return failed_; }

private:
    void Fail(QLineEdit* edit, const QString& message);

    QWidget* owner_;
    QWidget* failed_ = nullptr;
};

// The other direction: a field shown in its control.
void ShowInt(QLineEdit* edit, std::int32_t value);
void ShowNumber(QLineEdit* edit, float value);  // six significant digits: "10", "12.5"
void ShowCheck(QAbstractButton* box, bool value);

}  // namespace kx

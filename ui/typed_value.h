// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// What an operator typed into a field, checked the way a person expects: the
// text is untrusted and may be blank, signed, too long, or carry junk.

enum class TypedIntStatus {
    Ok,
    NotInteger,  // blank, no digits, junk, a point or an exponent
    OutOfRange,  // a well-formed integer outside the accepted range, however long
};

struct TypedInt {
    TypedIntStatus status = TypedIntStatus::NotInteger;
    std::int32_t value = 0;  // only meaningful when status is Ok
};

// Blanks around the text are ignored; then one optional sign and decimal
// digits only. "1e3", "12abc", "1.0", "- 3" and "" are NotInteger; "+007" is 7.
TypedInt ParseTypedInt(std::string_view text,
                       std::int32_t min = std::numeric_limits<std::int32_t>::min(),
                       std::int32_t max = std::numeric_limits<std::int32_t>::max());

// A decimal number: blanks around, one optional sign, digits with an optional
// point and an optional exponent ("10", "-2.5", ".5", "1e3"). Infinity, NaN,
// hexadecimal, junk and values beyond the float range give nullopt.
std::optional<float> ParseTypedNumber(std::string_view text);

// The text a number field shows: six significant digits without trailing
// zeros ("10", "12.5", "1e+07").
std::string FormatNumber(float value);

}  // namespace kx

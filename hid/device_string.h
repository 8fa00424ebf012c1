// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kx {

// Longest device string the station reads, in UTF-16 units, terminator
// included (a 512-byte buffer).
inline constexpr std::size_t kDeviceStringUnits = 256;

// Folds a device's UTF-16 string to the narrow form the identity tables are
// written in: every unit below 256 becomes the byte of the same value, every
// other unit becomes '?', one character per unit. Stops at the first zero
// unit, at the end of the view, or after kDeviceStringUnits - 1 units.
std::string FoldDeviceString(std::u16string_view units);

// UTF-16 units of a wide string as the platform returns it (UTF-32 wchar_t on
// Linux): characters above U+FFFF become a surrogate pair, so they fold to
// "??" as they would on a platform with 16-bit units.
std::u16string ToUtf16(const wchar_t* text);

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "hid/device_string.h"

#include <cstdint>

namespace kx {

std::string FoldDeviceString(std::u16string_view units) {
    std::string out;
    for (char16_t unit : units) {
        if (unit == 0 || out.size() + 1 >= kDeviceStringUnits) {
            break;
        }
        out.push_back(unit < 256 ? static_cast<char>(unit) : '?');
    }
    return out;
}

std::u16string ToUtf16(const wchar_t* text) {
    std::u16string out;
    if (text == nullptr) {
        return out;
    }
    for (; *text != 0 && out.size() < kDeviceStringUnits; ++text) {
        auto c = static_cast<std::uint32_t>(*text);
        if (c > 0xFFFF && c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else if (c > 0x10FFFF) {
            out.push_back(u'\uFFFD');
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "hid/firmware_text.h"

#include <cstdio>

#include "core/tr_text.h"

namespace kx {

std::string FirmwareVersionText(std::uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%x.%x.%x.%x", (version >> 12) & 0xFu, (version >> 8) & 0xFu,
                  (version >> 4) & 0xFu, version & 0xFu);
    return text;
}

std::string FirmwareDateText(unsigned year, unsigned month, unsigned day) {
    // The board sends three numbers; the words around them are the station's.
    char y[16];
    char m[16];
    char d[16];
    std::snprintf(y, sizeof y, "%04u", year);
    std::snprintf(m, sizeof m, "%02u", month);
    std::snprintf(d, sizeof d, "%02u", day);
    return FormatText(TrText("FirmwareText", "%1年%2月%3日"), {y, m, d});
}

}  // namespace kx

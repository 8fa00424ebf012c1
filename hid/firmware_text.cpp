// SPDX-License-Identifier: MIT
#include "hid/firmware_text.h"

#include <cstdio>

namespace kx {

std::string FirmwareVersionText(std::uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%x.%x.%x.%x", (version >> 12) & 0xFu, (version >> 8) & 0xFu,
                  (version >> 4) & 0xFu, version & 0xFu);
    return text;
}

std::string FirmwareDateText(unsigned year, unsigned month, unsigned day) {
    // Room for three ten-digit numbers and the three 3-byte characters.
    char text[48];
    std::snprintf(text, sizeof text, "%04u年%02u月%02u日", year, month, day);
    return text;
}

}  // namespace kx

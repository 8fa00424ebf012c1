// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace kx {

// How the information dialogs show a board's firmware version: one
// hexadecimal digit per 4-bit group, highest first ("1.2.3.4" for 0x1234).
std::string FirmwareVersionText(std::uint16_t version);

// The firmware date as the dialogs show it, in the station's language, e.g.
// "2026年03月05日".
std::string FirmwareDateText(unsigned year, unsigned month, unsigned day);

}  // namespace kx

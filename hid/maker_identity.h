// SPDX-License-Identifier: MIT
#pragma once

namespace kx {

// The maker's own identity: the manufacturer string that the maker-branded
// boards of several families report, and the OEM name the station records
// and shows for them (the same text in upper case).
inline constexpr const char* kMakerIdentity = "borvane";
inline constexpr const char* kMakerOemName = "BORVANE";

}  // namespace kx

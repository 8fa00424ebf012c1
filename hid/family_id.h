// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace kx {

// The board families the station knows, by one id everywhere: the station
// core, the baseline and load commands, the about command and the
// demonstration's software boards. None is "no family" (nothing connected).
// The type is open: a station given a family table of its own may use
// further values for families of its own.
enum class FamilyId : std::uint8_t { None = 0, OneToOne, Velmora5, Master, Classic };

}  // namespace kx

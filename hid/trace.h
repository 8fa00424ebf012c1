// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

// Report trace for engineers at the line: with KALDRIX_TRACE set to anything
// but "" or "0", every report the station writes or reads is hex-dumped to
// standard error with a time stamp and the board family. The variable is read
// once; with the trace off each transfer pays one test of a cached flag.
bool TraceEnabled();

// direction: a short tag such as "OUT", "IN", "SETF", "GETF", "TMO", "DROP".
// data may be null with size 0 for events without a report.
void TraceReport(const char* family, const char* direction, const std::uint8_t* data,
                 std::size_t size);
// An event without a report, such as which device an identity opened.
void TraceNote(const char* family, const char* text);

}  // namespace kx

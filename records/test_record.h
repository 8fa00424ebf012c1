// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/page_table.h"

namespace kx {

// The verdict a record keeps. Heads judged LOAD or without data are never
// recorded, so a record is a pass or a fail.
enum class RecordVerdict : std::uint8_t { Pass = 0, Fail = 1 };

// The worst judgement a head had at any step of its cycle, from best to
// worst.
enum class WorstVerdict : std::uint8_t { Pass = 0, NoData = 1, Fail = 2 };

// "PASS" / "FAIL"; "PASS" / "NODATA" / "FAIL". The texts stored in the
// database and written by the exports.
const char* VerdictText(RecordVerdict verdict);
const char* WorstVerdictText(WorstVerdict verdict);

// What the configuration of a record says when no file was loaded since the
// connection: the limits came from the board's own settings.
inline constexpr const char* kBoardSettings = "board settings";

// The reasons a record gives (stored as they stand; a window may show them
// in its own language).
inline constexpr const char* kReasonEveryChannelResponded = "every channel responded";
inline constexpr const char* kReasonChannelsDidNotRespond = "channels did not respond";
inline constexpr const char* kReasonChannelsOutOfLimits = "channels out of limits";

// One channel of a head at the close of its cycle.
struct ChannelRecord {
    std::uint8_t mode = 0;          // the page table's code: 0 tested, 1 masked, 2 greyed
    std::uint8_t channelClass = 0;  // 0 unjudged, 1 within, 2 over, 3 under
    std::uint8_t greenMark = 0;     // 1 once seen above its upper limit (FPC test)
    std::int32_t value = 0;         // at the close
    std::int32_t low = 0;           // lowest value during the cycle
    std::int32_t high = 0;          // highest value during the cycle
    std::int32_t upper = 0;
    std::int32_t lower = 0;
    std::int32_t reference = 0;
    bool operator==(const ChannelRecord&) const = default;
};

// The board the head was read from.
struct BoardInfo {
    std::string family;        // the family's name, e.g. "one-to-one"
    std::string manufacturer;  // the USB manufacturer string
    std::string product;       // the USB product string
    std::string firmware;      // firmware version as the board reports it
    std::string deviceId;      // device id or serial number
    std::int32_t machineType = 0;  // 0 standard, 1 to 5 machine n
    bool operator==(const BoardInfo&) const = default;
};

// One head's test of one panel: the record of its closed cycle.
struct TestRecord {
    std::string uuid;  // 36 characters, lower case (version 4)
    std::int64_t timeMs = 0;  // the close, UTC milliseconds since 1970
    std::int32_t utcOffsetMinutes = 0;  // the station's offset from UTC then
    std::int64_t startMs = 0;  // the cycle's start, UTC milliseconds
    std::int64_t durationMs = 0;
    std::string station;       // host name unless set
    std::string operatorName;  // "" when none is set
    std::string config;        // the file's absolute path, or kBoardSettings
    std::string configSha256;  // 64 lower-case hex digits; "" with kBoardSettings
    BoardInfo board;
    std::int32_t page = 0;    // the page table's index
    std::int32_t row = 0;     // from 1, as the grid shows it
    std::int32_t column = 0;  // from 1
    std::string serial;       // "" when none was typed
    RecordVerdict verdict = RecordVerdict::Fail;
    std::string reason;  // one of the kReason texts, ": " and channels from 1 ("3, 17"), or ""
    bool fpc = false;    // the FPC test was on
    WorstVerdict worst = WorstVerdict::Pass;
    std::int64_t steps = 0;        // steps with values during the cycle
    std::int64_t failedSteps = 0;  // of those, the steps the head failed
    std::array<ChannelRecord, kChannels> channels{};
    bool operator==(const TestRecord&) const = default;
};

// A fresh random version-4 UUID.
std::string NewUuid();

}  // namespace kx

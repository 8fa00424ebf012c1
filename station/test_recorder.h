// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "grid/grid_model.h"
#include "records/test_record.h"

namespace kx {

// --- the serial typed before the end-of-panel key -------------------------------

// The serial a key buffer stands for: the text with ASCII white space and
// ideographic spaces (U+3000) trimmed from both ends; "" when that text is
// the unlock word in any case. The window compares its whole buffer, lower-
// cased, with the word; comparing the trimmed text without regard to ASCII
// case takes in every buffer the window unlocks with (no other character
// lower-cases to a letter of an ASCII word), so the word never becomes a
// serial.
std::string SerialFromKeyBuffer(std::string_view utf8Buffer, std::string_view unlockWord);

// The window's key buffer without Qt, by the same rules: printable characters
// are appended (at most kLimit code points), Backspace takes the last one
// back, a full buffer takes nothing more, Backspace included, until it is
// emptied. A scanner that corrects itself with Backspace gives the serial it
// meant.
class KeyBuffer {
public:
    static constexpr std::size_t kLimit = 255;

    // UTF-8 text of one key; characters below U+0020 and U+007F are dropped,
    // as are bytes that are not UTF-8.
    void Type(std::string_view utf8Text);
    void Backspace();
    const std::string& Text() const { return text_; }
    // The serial (SerialFromKeyBuffer) and an empty buffer.
    std::string TakeSerial(std::string_view unlockWord);
    void Clear() { text_.clear(), count_ = 0; }

private:
    std::string text_;
    std::size_t count_ = 0;  // code points in text_
};

// --- turning closed cycles into records -----------------------------------------

// What the recorder asks of the outside world; tests inject their own.
struct RecorderClock {
    // UTC milliseconds since 1970.
    std::function<std::int64_t()> nowMs;
    // The station's offset from UTC at that time, in minutes.
    std::function<std::int32_t(std::int64_t utcMs)> utcOffsetMinutes;
    // A fresh record UUID.
    std::function<std::string()> newUuid;
};
// The system clock, the local time zone and NewUuid.
RecorderClock SystemRecorderClock();
// The machine's host name; "" when it cannot be had.
std::string HostName();

// Turns the grid's closed cycles into test records. User-interface thread
// only (it shares nothing with the worker but the grid, which has its lock).
//
// Rules, per head inside the layout:
// - A head without a Tested channel (LOAD) or without data at the close is
//   not recorded, nor a head whose cycle had no step with values.
// - FPC test off: the verdict is the head's at the close; the reason is ""
//   for PASS and "channels out of limits: 3, 17" (channels from 1) for FAIL.
// - FPC test on: the grid's automatic close gives PASS "every channel
//   responded" (FAIL "channels out of limits: ..." for a head out of its
//   limits then, which the grid's close allows while the verdict row is
//   hidden: it goes by the fail count of the last repaint that showed it).
//   A key before it gives FAIL "channels did not respond: ..."
//   with the Tested channels never marked; a head whose Tested channels were
//   all marked gives PASS "every channel responded", or FAIL "channels out of
//   limits: ..." when it is out of its limits at the key.
// - Empty cycle (FPC test on): the cycle began at an automatic close and no
//   Tested channel of the head has been marked since. A key then writes
//   nothing for the head: it is the key an operator presses after a panel
//   that passed by itself. The key still starts a new cycle, which did not
//   begin at an automatic close, so a dead panel put in after a good one
//   (nothing of it responds, so nothing is marked) is recorded FAIL by the
//   next key, not by the first.
// - Every record keeps the cycle's worst verdict (with the verdict at the
//   close taken in) and its steps and failed steps (with the FPC test on,
//   the steps a channel was driven over its limit count as failed).
// Every head's cycle starts at StartCycles and again at every close.
class TestRecorder {
public:
    explicit TestRecorder(GridModel& grid, RecorderClock clock = SystemRecorderClock());

    // "" gives the host name.
    void SetStationName(std::string name);
    const std::string& StationName() const { return station_; }
    void SetOperator(std::string name) { operator_ = std::move(name); }
    // A configuration file loaded: its absolute path and the bytes it was
    // loaded from (their SHA-256 goes into every record).
    void SetConfigFile(std::string absolutePath, std::span<const std::uint8_t> bytes);
    // No file loaded since the connection: the board's own settings.
    void SetBoardSettings();
    const std::string& Config() const { return config_; }
    void SetBoard(BoardInfo board) { board_ = std::move(board); }
    const BoardInfo& Board() const { return board_; }

    // Every head's cycle starts afresh now (connection, configuration load):
    // the grid's statistics too. Automatic closes not yet taken are kept.
    void StartCycles();

    // The end-of-panel key (Enter, Space, the "clear green marks" command):
    // first the automatic closes not yet taken, then every head's cycle
    // closed with `serial`, the green marks cleared. The records to submit,
    // in that order.
    std::vector<TestRecord> EndOfPanel(std::string_view serial);
    // The automatic FPC closes of the grid since the last call (the window
    // calls it after each Evaluate); their serial is "".
    std::vector<TestRecord> TakeAutomaticCloses();

    std::int64_t CycleStartMs(int column, int row) const;

private:
    void Append(const ClosedCycles& closed, std::string_view serial, std::vector<TestRecord>& out);

    GridModel& grid_;
    RecorderClock clock_;
    std::string station_;
    std::string operator_;
    std::string config_ = kBoardSettings;
    std::string configSha256_;
    BoardInfo board_;
    HeadGrid<std::int64_t> startMs_{};
};

// --- the counters on screen -------------------------------------------------------

// Panels tested, passed and failed since the start or the last Reset, and the
// last serial, counted from the records the writer has committed: fed only
// from RecordWriter's committed callback (any thread), read by the window.
class RecordCounters {
public:
    struct Figures {
        std::int64_t tested = 0;
        std::int64_t passed = 0;
        std::int64_t failed = 0;
        // Passed per tested, in percent; nullopt before the first record.
        std::optional<double> yieldPercent;
        // The serial of the last committed record that had one.
        std::string lastSerial;
    };

    // A committed batch (a batch that was not committed counts nothing).
    void OnCommitted(const std::vector<TestRecord>& batch, bool ok);
    void Reset();
    Figures Get() const;

private:
    mutable std::mutex lock_;
    std::int64_t passed_ = 0;
    std::int64_t failed_ = 0;
    std::string lastSerial_;
};

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/page_table.h"
#include "core/section_lock.h"
#include "grid/grid_layout.h"

namespace kx {

enum class HeadVerdict : std::int32_t {
    Pass = 0,
    Fail = 1,
    Load = 2,  // no channel of the head is Tested
    // Tested channels, but no values from the board since the head's data
    // were last forgotten (connection, layout change) or since its last read
    // went unanswered: never a pass.
    NoData = 3,
};

// Class of one channel at the last evaluation; only Tested channels are
// judged.
enum class ChannelClass : std::uint8_t {
    Unjudged,
    Within,
    Over,
    Under,
};

using GreenMarks = std::array<std::int32_t, kChannels>;

// Everything the grid holds for one head.
struct HeadSlot {
    ChannelValues upper{};
    ChannelValues lower{};
    ChannelModes mode{};
    ChannelValues value{};
    ChannelValues reference{};
    double rangeMax = 0;
    double rangeMin = 0;
    // 1 once the Tested channel has been seen above its upper limit.
    GreenMarks greenMark{};
    // The values came from a board (see HeadVerdict::NoData).
    bool hasData = false;
};

// The worst judgement of a head during its cycle, from best to worst.
enum class CycleWorst : std::uint8_t { Pass = 0, NoData = 1, Fail = 2 };

// What the grid has seen of one head since its cycle began. A step is one
// SetValues (values from the board: judged with the head's limits and modes
// as they stand, by the same rule as Evaluate) or one read without data
// (SetNoData, or SetValues at a forgotten epoch).
struct HeadCycleStats {
    // Lowest and highest value of every channel over the steps with values;
    // only meaningful when steps > 0.
    ChannelValues low{};
    ChannelValues high{};
    std::int64_t steps = 0;        // steps with values
    std::int64_t failedSteps = 0;  // of those, steps with a Tested channel out of its limits
    CycleWorst worst = CycleWorst::Pass;
    // The cycle began at an automatic close of the FPC test (Evaluate), not
    // at a key, a layout change or a restart.
    bool startedAtFpcClose = false;
};

template <typename T>
using HeadGrid = std::array<std::array<T, kMaxGridRows>, kMaxGridColumns>;  // [column][row]

// One repaint's view of the grid: a copy of the heads taken under the grid's
// lock and the judgement made from it at the same moment. Painting reads only
// this, so the acquisition thread can keep pushing data meanwhile. Only the
// heads inside rows x columns are filled in.
struct GridFrame {
    int clientWidth = 0;
    int clientHeight = 0;
    std::int32_t columns = 0;
    std::int32_t rows = 0;
    bool showVerdictRow = true;
    std::int32_t fpcTest = 0;
    // What the idle screen (no rows and no columns) says under its title:
    // which case the station is in and what to do, one line per '\n'.
    std::string idleNote;

    // Head data as it stood when the repaint began; the green marks are the
    // ones the value bars show, so a channel that goes over in this repaint
    // turns its bar green from the next one on.
    HeadGrid<HeadSlot> heads{};
    HeadGrid<std::array<ChannelClass, kChannels>> classes{};
    // Only meaningful when showVerdictRow is set.
    HeadGrid<HeadVerdict> verdicts{};

    std::int32_t failCount = 0;
    // Heads with Tested channels and no data.
    std::int32_t noDataCount = 0;
    std::int32_t testedCount = 0;
    std::int32_t markedCount = 0;
    // The big "PASS": more than one column and row, no head failing or
    // without data, and at least one passing.
    bool passOverlay = false;
    std::int32_t hitColumn = 0;
    std::int32_t hitRow = 0;
    std::int32_t hitChannel = 0;

    GridLayout Layout() const {
        return GridLayout(clientWidth, clientHeight, columns, rows, showVerdictRow);
    }
};

// One head at the close of its cycle: its data, and its judgement by
// Evaluate's rules at that moment. `slot.greenMark` holds the marks as they
// stood before the close cleared them, with the channels over their upper
// limit at the close marked too (the next repaint would have marked them).
struct ClosedHead {
    std::int32_t column = 0;
    std::int32_t row = 0;
    HeadSlot slot{};
    std::array<ChannelClass, kChannels> classes{};
    HeadVerdict verdict = HeadVerdict::Load;
    HeadCycleStats stats{};
};

// Every head inside the layout at one close, row by row.
struct ClosedCycles {
    std::int32_t columns = 0;
    std::int32_t fpcTest = 0;
    bool automatic = false;  // closed by Evaluate's FPC rule, not by a caller
    std::vector<ClosedHead> heads;
};

// The channel grid's data and rules, without any drawing: up to 10 x 10 heads
// addressed (column, row), their settings and live values, the judgement of
// every channel and head, the count of failing heads and the green marks of
// the FPC test.
//
// Threads: the acquisition worker calls the setters and GetFailCount; the
// user-interface thread evaluates, paints and handles the pointer. Every
// member is guarded by the grid's lock, held only while data are copied in or
// out or judged; failCount is also readable without it.
//
// Indices are checked: a setter with a column, row or channel outside the grid
// storage does nothing, a getter returns zeros.
//
// Data. A head's values count only once they came from a board: SetValues
// marks them so, SetNoData takes the mark away (its read went unanswered or
// out of step), and a layout change or ForgetData takes it from every head.
// A head with Tested channels and no data is judged NoData, never Pass, and
// the PASS output may be driven only while GetPassAllowed says so.
class GridModel {
public:
    GridModel();
    GridModel(const GridModel&) = delete;
    GridModel& operator=(const GridModel&) = delete;

    // Counts are kept within 0 .. 10; no repaint is requested. A count that
    // changes forgets every head's data (ForgetData).
    void SetColumns(std::int32_t columns);
    void SetRows(std::int32_t rows);
    std::int32_t GetColumns() const;
    std::int32_t GetRows() const;

    // Values from a board: the head has data from now on.
    void SetValues(int column, int row, std::span<const std::int32_t, kChannels> values);
    // The same for values read while DataEpoch() was `epoch`: when the data
    // have been forgotten since, the values are shown but the head has no
    // data. True when the head has data.
    bool SetValues(int column, int row, std::span<const std::int32_t, kChannels> values,
                   std::uint32_t epoch);
    // The head's last read brought nothing usable: it has no data until its
    // next values come.
    void SetNoData(int column, int row);
    bool HasData(int column, int row) const;
    // Every head loses its data; the epoch moves on.
    void ForgetData();
    // Changes whenever the data of every head are forgotten.
    std::uint32_t DataEpoch() const;
    void SetReference(int column, int row, std::span<const std::int32_t, kChannels> values);
    void SetUpperLimits(int column, int row, std::span<const std::int32_t, kChannels> values);
    void SetLowerLimits(int column, int row, std::span<const std::int32_t, kChannels> values);
    void SetChannelModes(int column, int row, std::span<const std::uint8_t, kChannels> modes);
    ChannelValues GetValues(int column, int row) const;
    ChannelValues GetReference(int column, int row) const;
    ChannelValues GetUpperLimits(int column, int row) const;
    ChannelValues GetLowerLimits(int column, int row) const;
    ChannelModes GetChannelModes(int column, int row) const;
    std::uint8_t GetChannelMode(int column, int row, int channel) const;
    void SetChannelMode(int column, int row, int channel, std::uint8_t mode);
    void SetRange(int column, int row, std::int32_t max, std::int32_t min);
    GreenMarks GetGreenMarks(int column, int row) const;

    void ShowVerdictRow(bool show);
    bool IsVerdictRowShown() const;

    // Heads judged Fail at the last evaluation that had the verdict row shown.
    std::int32_t GetFailCount() const { return failCount_.load(std::memory_order_relaxed); }
    // The PASS output may be driven: at that evaluation at least one head
    // with Tested channels had data and passed, no head failed and none had
    // Tested channels without data; and since then no head has lost its
    // data and the layout has not changed.
    bool GetPassAllowed() const { return passAllowed_.load(std::memory_order_relaxed); }

    // Clears every mark of every head inside rows x columns.
    void ClearGreenMarks();
    void SetFpcTest(std::int32_t on);
    std::int32_t GetFpcTest() const;

    // The idle screen's note (GridFrame::idleNote), copied in; "" for none.
    void SetIdleNote(const std::string& note);
    std::string GetIdleNote() const;

    // Head and channel under the pointer as found by the last evaluation,
    // kept inside the current grid.
    std::int32_t GetHitColumn() const;
    std::int32_t GetHitRow() const;
    std::int32_t GetHitChannel() const;

    // Pointer position and button/key flags as the window reported them.
    void SetPointer(std::int32_t x, std::int32_t y, std::int32_t keyFlags);
    // Double click: Tested -> Masked -> Greyed -> Tested on the hit channel of
    // the hit head of the last evaluation; other mode bytes stay.
    void CycleHitChannelMode();

    // --- cycles ------------------------------------------------------------------
    //
    // Every head keeps the statistics of its current cycle (HeadCycleStats),
    // updated by SetValues and SetNoData. A cycle of every head starts afresh
    // at a layout change or ForgetData, at CloseCycles, at RestartCycles and
    // at an automatic FPC close (Evaluate, while the FPC test is on).

    // Copies every head inside the layout with its judgement now and its
    // statistics, then starts every head's statistics afresh; with
    // `clearMarks`, the green marks are cleared in the same locked section,
    // so the copy holds the marks as they were just before they went.
    ClosedCycles CloseCycles(bool clearMarks);
    // Starts every head's statistics afresh, copying nothing.
    void RestartCycles();
    // The heads of the automatic FPC closes made by Evaluate since the last
    // call, oldest first (copies taken before Evaluate cleared the marks).
    // The window takes them after each Evaluate.
    std::vector<ClosedCycles> TakeFpcClosed();
    HeadCycleStats GetCycleStats(int column, int row) const;

    // One repaint's judgement for a window of clientWidth x clientHeight:
    // classifies every channel, sets green marks, judges the heads, finds the
    // head and channel under the pointer, closes a finished FPC cycle, and
    // fills `frame` with the copy to paint from.
    void Evaluate(int clientWidth, int clientHeight, GridFrame& frame);

private:
    static bool InStorage(int column, int row) {
        return column >= 0 && column < kMaxGridColumns && row >= 0 && row < kMaxGridRows;
    }
    void CopyIn(int column, int row, ChannelValues HeadSlot::*field,
                std::span<const std::int32_t, kChannels> values);
    ChannelValues CopyOut(int column, int row, ChannelValues HeadSlot::*field) const;
    void ClearGreenMarksLocked();
    void ForgetDataLocked();
    void SetHasDataLocked(HeadSlot& head, bool hasData);
    void RestartCyclesLocked(bool atFpcClose);
    ClosedCycles CopyHeadsLocked(bool automatic) const;
    void NoteStepLocked(int column, int row, bool hasData);
    std::int32_t ClampedHitColumnLocked() const;
    std::int32_t ClampedHitRowLocked() const;

    mutable CSectionLock lock_;
    std::int32_t rows_ = 2;
    std::int32_t columns_ = 2;
    bool showVerdictRow_ = true;
    HeadGrid<HeadSlot> heads_;
    bool pointerKnown_ = false;
    std::int32_t pointerX_ = 0;
    std::int32_t pointerY_ = 0;
    std::int32_t keyFlags_ = 0;
    std::int32_t hitColumn_ = 0;
    std::int32_t hitRow_ = 0;
    std::int32_t hitChannel_ = 0;
    std::int32_t fpcTest_ = 0;
    std::string idleNote_;
    std::atomic<std::int32_t> failCount_{0};
    std::atomic<bool> passAllowed_{false};
    std::uint32_t dataEpoch_ = 1;
    // Heads judged Pass, and heads with Tested channels and no data, at the
    // same evaluation as failCount_.
    std::int32_t passCount_ = 0;
    std::int32_t noDataCount_ = 0;
    HeadGrid<HeadCycleStats> cycles_{};
    std::vector<ClosedCycles> fpcClosed_;
};

// Cycle of a double click: 0 -> 1 -> 2 -> 0, any other byte unchanged.
std::uint8_t NextChannelMode(std::uint8_t mode);

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "grid/grid_model.h"

#include <algorithm>

namespace kx {

namespace {

// A head nobody has filled yet looks like a fresh page: the station's default
// limits with every channel masked, so it shows LOAD rather than a verdict on
// data that never came.
HeadSlot UnfilledHead() {
    const PageRecord page = PageRecord::Defaults();
    HeadSlot h;
    h.upper = page.upper;
    h.lower = page.lower;
    h.mode = page.mask;
    std::copy_n(page.live.begin(), kChannels, h.value.begin());
    h.reference = page.reference;
    h.rangeMax = page.rangeMax;
    h.rangeMin = page.rangeMin;
    return h;
}

bool AnyTested(const ChannelModes& modes) {
    return std::any_of(modes.begin(), modes.end(), [](std::uint8_t m) { return m == Tested; });
}

// Evaluate's classification of one channel, without setting its mark.
ChannelClass ClassOf(const HeadSlot& head, int k) {
    if (head.mode[k] != Tested || !head.hasData) {
        return ChannelClass::Unjudged;
    }
    if (head.value[k] > head.upper[k]) {
        return ChannelClass::Over;
    }
    if (head.value[k] < head.lower[k]) {
        return ChannelClass::Under;
    }
    return ChannelClass::Within;
}

HeadVerdict VerdictOf(const HeadSlot& head, const std::array<ChannelClass, kChannels>& classes) {
    if (!AnyTested(head.mode)) {
        return HeadVerdict::Load;
    }
    if (!head.hasData) {
        return HeadVerdict::NoData;
    }
    const bool anyOut = std::any_of(classes.begin(), classes.end(), [](ChannelClass c) {
        return c == ChannelClass::Over || c == ChannelClass::Under;
    });
    return anyOut ? HeadVerdict::Fail : HeadVerdict::Pass;
}

void Worsen(CycleWorst& worst, CycleWorst step) {
    if (static_cast<int>(step) > static_cast<int>(worst)) {
        worst = step;
    }
}

std::int32_t ClampCount(std::int32_t n, std::int32_t max) {
    return std::clamp<std::int32_t>(n, 0, max);
}

}  // namespace

std::uint8_t NextChannelMode(std::uint8_t mode) {
    switch (mode) {
        case Tested:
            return Masked;
        case Masked:
            return Greyed;
        case Greyed:
            return Tested;
        default:
            return mode;
    }
}

GridModel::GridModel() {
    const HeadSlot unfilled = UnfilledHead();
    for (auto& column : heads_) {
        column.fill(unfilled);
    }
}

void GridModel::SetColumns(std::int32_t columns) {
    CSectionGuard guard(&lock_);
    const std::int32_t n = ClampCount(columns, kMaxGridColumns);
    if (n != columns_) {
        columns_ = n;
        ForgetDataLocked();
    }
}

void GridModel::SetRows(std::int32_t rows) {
    CSectionGuard guard(&lock_);
    const std::int32_t n = ClampCount(rows, kMaxGridRows);
    if (n != rows_) {
        rows_ = n;
        ForgetDataLocked();
    }
}

void GridModel::ForgetData() {
    CSectionGuard guard(&lock_);
    ForgetDataLocked();
}

void GridModel::ForgetDataLocked() {
    for (auto& column : heads_) {
        for (HeadSlot& head : column) {
            head.hasData = false;
        }
    }
    // Epoch 0 stands for "no good read" and is never the grid's.
    if (++dataEpoch_ == 0) {
        dataEpoch_ = 1;
    }
    passAllowed_.store(false, std::memory_order_relaxed);
    RestartCyclesLocked(false);
}

std::uint32_t GridModel::DataEpoch() const {
    CSectionGuard guard(&lock_);
    return dataEpoch_;
}

void GridModel::SetNoData(int column, int row) {
    if (!InStorage(column, row)) {
        return;
    }
    CSectionGuard guard(&lock_);
    SetHasDataLocked(heads_[column][row], false);
    NoteStepLocked(column, row, false);
}

// A pass allowed at the last evaluation stands only while every head with
// Tested channels that had data still has them: one that loses them, or one
// without data that gets a Tested channel, takes it back at once.
void GridModel::SetHasDataLocked(HeadSlot& head, bool hasData) {
    if (head.hasData && !hasData && AnyTested(head.mode)) {
        passAllowed_.store(false, std::memory_order_relaxed);
    }
    head.hasData = hasData;
}

bool GridModel::HasData(int column, int row) const {
    if (!InStorage(column, row)) {
        return false;
    }
    CSectionGuard guard(&lock_);
    return heads_[column][row].hasData;
}

std::int32_t GridModel::GetColumns() const {
    CSectionGuard guard(&lock_);
    return columns_;
}

std::int32_t GridModel::GetRows() const {
    CSectionGuard guard(&lock_);
    return rows_;
}

void GridModel::CopyIn(int column, int row, ChannelValues HeadSlot::*field,
                       std::span<const std::int32_t, kChannels> values) {
    if (!InStorage(column, row)) {
        return;
    }
    CSectionGuard guard(&lock_);
    std::copy(values.begin(), values.end(), (heads_[column][row].*field).begin());
}

ChannelValues GridModel::CopyOut(int column, int row, ChannelValues HeadSlot::*field) const {
    if (!InStorage(column, row)) {
        return {};
    }
    CSectionGuard guard(&lock_);
    return heads_[column][row].*field;
}

void GridModel::SetValues(int column, int row, std::span<const std::int32_t, kChannels> values) {
    if (!InStorage(column, row)) {
        return;
    }
    CSectionGuard guard(&lock_);
    SetValues(column, row, values, dataEpoch_);
}

bool GridModel::SetValues(int column, int row, std::span<const std::int32_t, kChannels> values,
                          std::uint32_t epoch) {
    if (!InStorage(column, row)) {
        return false;
    }
    CSectionGuard guard(&lock_);
    HeadSlot& head = heads_[column][row];
    std::copy(values.begin(), values.end(), head.value.begin());
    SetHasDataLocked(head, epoch == dataEpoch_);
    NoteStepLocked(column, row, head.hasData);
    return head.hasData;
}

void GridModel::SetReference(int column, int row, std::span<const std::int32_t, kChannels> values) {
    CopyIn(column, row, &HeadSlot::reference, values);
}

void GridModel::SetUpperLimits(int column, int row,
                               std::span<const std::int32_t, kChannels> values) {
    CopyIn(column, row, &HeadSlot::upper, values);
}

void GridModel::SetLowerLimits(int column, int row,
                               std::span<const std::int32_t, kChannels> values) {
    CopyIn(column, row, &HeadSlot::lower, values);
}

ChannelValues GridModel::GetValues(int column, int row) const {
    return CopyOut(column, row, &HeadSlot::value);
}

ChannelValues GridModel::GetReference(int column, int row) const {
    return CopyOut(column, row, &HeadSlot::reference);
}

ChannelValues GridModel::GetUpperLimits(int column, int row) const {
    return CopyOut(column, row, &HeadSlot::upper);
}

ChannelValues GridModel::GetLowerLimits(int column, int row) const {
    return CopyOut(column, row, &HeadSlot::lower);
}

void GridModel::SetChannelModes(int column, int row,
                                std::span<const std::uint8_t, kChannels> modes) {
    if (!InStorage(column, row)) {
        return;
    }
    CSectionGuard guard(&lock_);
    HeadSlot& head = heads_[column][row];
    std::copy(modes.begin(), modes.end(), head.mode.begin());
    if (!head.hasData && AnyTested(head.mode)) {
        passAllowed_.store(false, std::memory_order_relaxed);
    }
}

ChannelModes GridModel::GetChannelModes(int column, int row) const {
    if (!InStorage(column, row)) {
        return {};
    }
    CSectionGuard guard(&lock_);
    return heads_[column][row].mode;
}

std::uint8_t GridModel::GetChannelMode(int column, int row, int channel) const {
    if (!InStorage(column, row) || channel < 0 || channel >= kChannels) {
        return 0;
    }
    CSectionGuard guard(&lock_);
    return heads_[column][row].mode[channel];
}

void GridModel::SetChannelMode(int column, int row, int channel, std::uint8_t mode) {
    if (!InStorage(column, row) || channel < 0 || channel >= kChannels) {
        return;
    }
    CSectionGuard guard(&lock_);
    HeadSlot& head = heads_[column][row];
    head.mode[channel] = mode;
    if (!head.hasData && mode == Tested) {
        passAllowed_.store(false, std::memory_order_relaxed);
    }
}

void GridModel::SetRange(int column, int row, std::int32_t max, std::int32_t min) {
    if (!InStorage(column, row)) {
        return;
    }
    CSectionGuard guard(&lock_);
    heads_[column][row].rangeMax = max;
    heads_[column][row].rangeMin = min;
}

GreenMarks GridModel::GetGreenMarks(int column, int row) const {
    if (!InStorage(column, row)) {
        return {};
    }
    CSectionGuard guard(&lock_);
    return heads_[column][row].greenMark;
}

void GridModel::ShowVerdictRow(bool show) {
    CSectionGuard guard(&lock_);
    showVerdictRow_ = show;
}

bool GridModel::IsVerdictRowShown() const {
    CSectionGuard guard(&lock_);
    return showVerdictRow_;
}

void GridModel::ClearGreenMarks() {
    CSectionGuard guard(&lock_);
    ClearGreenMarksLocked();
}

void GridModel::ClearGreenMarksLocked() {
    for (int row = 0; row < rows_; ++row) {
        for (int column = 0; column < columns_; ++column) {
            heads_[column][row].greenMark.fill(0);
        }
    }
}

// --- cycles -------------------------------------------------------------------

void GridModel::NoteStepLocked(int column, int row, bool hasData) {
    HeadCycleStats& stats = cycles_[column][row];
    if (!hasData) {
        Worsen(stats.worst, CycleWorst::NoData);
        return;
    }
    const HeadSlot& head = heads_[column][row];
    bool failed = false;
    for (int k = 0; k < kChannels; ++k) {
        const std::int32_t v = head.value[k];
        if (stats.steps == 0) {
            stats.low[k] = v;
            stats.high[k] = v;
        } else {
            stats.low[k] = std::min(stats.low[k], v);
            stats.high[k] = std::max(stats.high[k], v);
        }
        const ChannelClass c = ClassOf(head, k);
        failed = failed || c == ChannelClass::Over || c == ChannelClass::Under;
    }
    ++stats.steps;
    if (failed) {
        ++stats.failedSteps;
        Worsen(stats.worst, CycleWorst::Fail);
    }
}

void GridModel::RestartCyclesLocked(bool atFpcClose) {
    HeadCycleStats fresh;
    fresh.startedAtFpcClose = atFpcClose;
    for (auto& column : cycles_) {
        column.fill(fresh);
    }
}

ClosedCycles GridModel::CopyHeadsLocked(bool automatic) const {
    ClosedCycles closed;
    closed.columns = columns_;
    closed.fpcTest = fpcTest_;
    closed.automatic = automatic;
    closed.heads.reserve(static_cast<std::size_t>(rows_ * columns_));
    for (int row = 0; row < rows_; ++row) {
        for (int column = 0; column < columns_; ++column) {
            ClosedHead& h = closed.heads.emplace_back();
            h.column = column;
            h.row = row;
            h.slot = heads_[column][row];
            for (int k = 0; k < kChannels; ++k) {
                h.classes[k] = ClassOf(h.slot, k);
                if (h.classes[k] == ChannelClass::Over) {
                    h.slot.greenMark[k] = 1;
                }
            }
            h.verdict = VerdictOf(h.slot, h.classes);
            h.stats = cycles_[column][row];
        }
    }
    return closed;
}

ClosedCycles GridModel::CloseCycles(bool clearMarks) {
    CSectionGuard guard(&lock_);
    ClosedCycles closed = CopyHeadsLocked(false);
    RestartCyclesLocked(false);
    if (clearMarks) {
        ClearGreenMarksLocked();
    }
    return closed;
}

void GridModel::RestartCycles() {
    CSectionGuard guard(&lock_);
    RestartCyclesLocked(false);
}

std::vector<ClosedCycles> GridModel::TakeFpcClosed() {
    std::vector<ClosedCycles> taken;
    CSectionGuard guard(&lock_);
    taken.swap(fpcClosed_);
    return taken;
}

HeadCycleStats GridModel::GetCycleStats(int column, int row) const {
    if (!InStorage(column, row)) {
        return {};
    }
    CSectionGuard guard(&lock_);
    return cycles_[column][row];
}

void GridModel::SetFpcTest(std::int32_t on) {
    CSectionGuard guard(&lock_);
    fpcTest_ = on;
}

std::int32_t GridModel::GetFpcTest() const {
    CSectionGuard guard(&lock_);
    return fpcTest_;
}

void GridModel::SetIdleNote(const std::string& note) {
    CSectionGuard guard(&lock_);
    idleNote_ = note;
}

std::string GridModel::GetIdleNote() const {
    CSectionGuard guard(&lock_);
    return idleNote_;
}

std::int32_t GridModel::ClampedHitColumnLocked() const {
    return std::clamp<std::int32_t>(hitColumn_, 0, std::max(columns_ - 1, 0));
}

std::int32_t GridModel::ClampedHitRowLocked() const {
    return std::clamp<std::int32_t>(hitRow_, 0, std::max(rows_ - 1, 0));
}

std::int32_t GridModel::GetHitColumn() const {
    CSectionGuard guard(&lock_);
    return ClampedHitColumnLocked();
}

std::int32_t GridModel::GetHitRow() const {
    CSectionGuard guard(&lock_);
    return ClampedHitRowLocked();
}

std::int32_t GridModel::GetHitChannel() const {
    CSectionGuard guard(&lock_);
    return hitChannel_;
}

void GridModel::SetPointer(std::int32_t x, std::int32_t y, std::int32_t keyFlags) {
    CSectionGuard guard(&lock_);
    pointerKnown_ = true;
    pointerX_ = x;
    pointerY_ = y;
    keyFlags_ = keyFlags;
}

void GridModel::CycleHitChannelMode() {
    CSectionGuard guard(&lock_);
    if (rows_ == 0 || columns_ == 0) {
        return;  // no head on screen to change
    }
    HeadSlot& head = heads_[ClampedHitColumnLocked()][ClampedHitRowLocked()];
    std::uint8_t& mode = head.mode[hitChannel_];
    mode = NextChannelMode(mode);
    if (!head.hasData && mode == Tested) {
        passAllowed_.store(false, std::memory_order_relaxed);
    }
}

void GridModel::Evaluate(int clientWidth, int clientHeight, GridFrame& frame) {
    CSectionGuard guard(&lock_);
    frame.clientWidth = clientWidth;
    frame.clientHeight = clientHeight;
    frame.columns = columns_;
    frame.rows = rows_;
    frame.showVerdictRow = showVerdictRow_;
    frame.fpcTest = fpcTest_;
    frame.idleNote = idleNote_;

    // Classify every Tested channel: signed compares, Over before Under, a
    // value on a limit is Within. Over sets the green mark whatever fpcTest
    // says, so switching the FPC test on shows the marks already collected.
    for (int row = 0; row < rows_; ++row) {
        for (int column = 0; column < columns_; ++column) {
            HeadSlot& head = heads_[column][row];
            frame.heads[column][row] = head;
            auto& classes = frame.classes[column][row];
            for (int k = 0; k < kChannels; ++k) {
                // Values that did not come from the board are not judged and
                // mark nothing (ClassOf).
                classes[k] = ClassOf(head, k);
                if (classes[k] == ChannelClass::Over) {
                    head.greenMark[k] = 1;
                }
            }
        }
    }

    // Verdicts only while the verdict row is shown; otherwise failCount keeps
    // the value of the last repaint that showed it.
    if (showVerdictRow_) {
        std::int32_t fails = 0;
        std::int32_t passes = 0;
        std::int32_t noData = 0;
        for (int row = 0; row < rows_; ++row) {
            for (int column = 0; column < columns_; ++column) {
                const HeadVerdict verdict =
                    VerdictOf(frame.heads[column][row], frame.classes[column][row]);
                noData += verdict == HeadVerdict::NoData ? 1 : 0;
                fails += verdict == HeadVerdict::Fail ? 1 : 0;
                passes += verdict == HeadVerdict::Pass ? 1 : 0;
                frame.verdicts[column][row] = verdict;
            }
        }
        failCount_.store(fails, std::memory_order_relaxed);
        passCount_ = passes;
        noDataCount_ = noData;
        passAllowed_.store(fails == 0 && noData == 0 && passes > 0, std::memory_order_relaxed);
    }

    // Head and channel under the pointer. The head is clamped into the grid:
    // the last pixel column and row of the window would otherwise give one
    // past the last head. A pointer on a frame line or in a gap keeps the
    // previous channel.
    if (pointerKnown_ && rows_ > 0 && columns_ > 0) {
        const GridLayout layout(clientWidth, clientHeight, columns_, rows_, showVerdictRow_);
        hitColumn_ = std::clamp(layout.HitColumnUnclamped(pointerX_), 0, columns_ - 1);
        hitRow_ = std::clamp(layout.HitRowUnclamped(pointerY_), 0, rows_ - 1);
        const int channel = layout.HitChannel(pointerX_, hitColumn_);
        if (channel >= 0) {
            hitChannel_ = channel;
        }
    }

    // An FPC cycle is over once every Tested channel has been seen over its
    // upper limit and no head fails any more: the marks start afresh. Only
    // marks of Tested channels count, so a channel masked after it was marked
    // cannot stand in for a tested one that never went over.
    std::int32_t tested = 0;
    std::int32_t marked = 0;
    for (int row = 0; row < rows_; ++row) {
        for (int column = 0; column < columns_; ++column) {
            const HeadSlot& head = heads_[column][row];
            for (int k = 0; k < kChannels; ++k) {
                if (head.mode[k] == Tested) {
                    ++tested;
                    if (head.greenMark[k] != 0) {
                        ++marked;
                    }
                }
            }
        }
    }
    const std::int32_t failCount = failCount_.load(std::memory_order_relaxed);
    // A head without data has not shown that its channels respond.
    if (tested - marked == 0 && failCount == 0 && noDataCount_ == 0 && rows_ * columns_ != 0) {
        // With the FPC test on this closes every head's cycle: the copy is
        // kept for the window (TakeFpcClosed) before the marks go. A grid
        // without a Tested channel has tested nothing and closes nothing.
        if (fpcTest_ != 0 && tested > 0) {
            fpcClosed_.push_back(CopyHeadsLocked(true));
            RestartCyclesLocked(true);
        }
        ClearGreenMarksLocked();
    }

    frame.failCount = failCount;
    frame.noDataCount = noDataCount_;
    frame.testedCount = tested;
    frame.markedCount = marked;
    // No failing head is not yet a pass: a grid whose heads are all LOAD
    // (a fresh page before its settings arrive has every channel masked)
    // has tested nothing, and a big green PASS over it would report success
    // where there was no test. At least one head must have passed.
    frame.passOverlay =
        failCount == 0 && noDataCount_ == 0 && passCount_ > 0 && columns_ > 1 && rows_ > 1;
    frame.hitColumn = ClampedHitColumnLocked();
    frame.hitRow = ClampedHitRowLocked();
    frame.hitChannel = hitChannel_;
}

}  // namespace kx

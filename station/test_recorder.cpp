// SPDX-License-Identifier: MIT
#include "station/test_recorder.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>

#include "records/sha256.h"

namespace kx {

namespace {

// Length of the UTF-8 sequence that starts with `lead`; 0 for a byte that
// cannot start one.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";

std::string_view Trim(std::string_view s) {
    for (;;) {
        if (!s.empty() && IsAsciiSpace(s.front())) {
            s.remove_prefix(1);
        } else if (s.starts_with(kIdeographicSpace)) {
            s.remove_prefix(kIdeographicSpace.size());
        } else {
            break;
        }
    }
    for (;;) {
        if (!s.empty() && IsAsciiSpace(s.back())) {
            s.remove_suffix(1);
        } else if (s.ends_with(kIdeographicSpace)) {
            s.remove_suffix(kIdeographicSpace.size());
        } else {
            break;
        }
    }
    return s;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

// "<reason>: 3, 17" with the channels counted from 1.
std::string ReasonWithChannels(const char* reason, const std::vector<int>& channels) {
    std::string text = reason;
    text += ": ";
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i != 0) {
            text += ", ";
        }
        text += std::to_string(channels[i] + 1);
    }
    return text;
}

WorstVerdict ToWorst(CycleWorst worst) {
    switch (worst) {
        case CycleWorst::Pass:
            return WorstVerdict::Pass;
        case CycleWorst::NoData:
            return WorstVerdict::NoData;
        case CycleWorst::Fail:
            break;
    }
    return WorstVerdict::Fail;
}

}  // namespace

// --- serial ----------------------------------------------------------------------

std::string SerialFromKeyBuffer(std::string_view utf8Buffer, std::string_view unlockWord) {
    const std::string_view serial = Trim(utf8Buffer);
    if (!unlockWord.empty() && EqualsIgnoringAsciiCase(serial, unlockWord)) {
        return {};
    }
    return std::string(serial);
}

void KeyBuffer::Type(std::string_view utf8Text) {
    std::size_t i = 0;
    while (i < utf8Text.size()) {
        const auto lead = static_cast<unsigned char>(utf8Text[i]);
        std::size_t n = SequenceLength(lead);
        bool valid = n != 0 && i + n <= utf8Text.size();
        for (std::size_t j = 1; valid && j < n; ++j) {
            valid = IsContinuation(static_cast<unsigned char>(utf8Text[i + j]));
        }
        if (!valid) {
            ++i;  // not UTF-8: skipped
            continue;
        }
        const bool printable = n > 1 || (lead >= 0x20 && lead != 0x7F);
        if (printable && count_ < kLimit) {
            text_.append(utf8Text.substr(i, n));
            ++count_;
        }
        i += n;
    }
}

void KeyBuffer::Backspace() {
    if (count_ == 0 || count_ >= kLimit) {
        return;  // a full buffer takes nothing back, as the window's does
    }
    std::size_t end = text_.size() - 1;
    while (end > 0 && IsContinuation(static_cast<unsigned char>(text_[end]))) {
        --end;
    }
    text_.resize(end);
    --count_;
}

std::string KeyBuffer::TakeSerial(std::string_view unlockWord) {
    std::string serial = SerialFromKeyBuffer(text_, unlockWord);
    Clear();
    return serial;
}

// --- clock -----------------------------------------------------------------------

RecorderClock SystemRecorderClock() {
    RecorderClock clock;
    clock.nowMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    clock.utcOffsetMinutes = [](std::int64_t utcMs) -> std::int32_t {
        const std::time_t t = static_cast<std::time_t>(utcMs / 1000);
        std::tm local{};
        if (localtime_r(&t, &local) == nullptr) {
            return 0;
        }
        return static_cast<std::int32_t>(local.tm_gmtoff / 60);
    };
    clock.newUuid = [] { return NewUuid(); };
    return clock;
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return std::string(name);
}

// --- recorder --------------------------------------------------------------------

TestRecorder::TestRecorder(GridModel& grid, RecorderClock clock)
    : grid_(grid), clock_(std::move(clock)), station_(HostName()) {
    const std::int64_t now = clock_.nowMs();
    for (auto& column : startMs_) {
        column.fill(now);
    }
}

void TestRecorder::SetStationName(std::string name) {
    station_ = name.empty() ? HostName() : std::move(name);
}

void TestRecorder::SetConfigFile(std::string absolutePath, std::span<const std::uint8_t> bytes) {
    config_ = std::move(absolutePath);
    configSha256_ = Sha256Hex(bytes);
}

void TestRecorder::SetBoardSettings() {
    config_ = kBoardSettings;
    configSha256_.clear();
}

void TestRecorder::StartCycles() {
    grid_.RestartCycles();
    const std::int64_t now = clock_.nowMs();
    for (auto& column : startMs_) {
        column.fill(now);
    }
}

std::vector<TestRecord> TestRecorder::EndOfPanel(std::string_view serial) {
    std::vector<TestRecord> records = TakeAutomaticCloses();
    const ClosedCycles closed = grid_.CloseCycles(true);
    Append(closed, serial, records);
    return records;
}

std::vector<TestRecord> TestRecorder::TakeAutomaticCloses() {
    std::vector<TestRecord> records;
    for (const ClosedCycles& closed : grid_.TakeFpcClosed()) {
        Append(closed, {}, records);
    }
    return records;
}

std::int64_t TestRecorder::CycleStartMs(int column, int row) const {
    if (column < 0 || column >= kMaxGridColumns || row < 0 || row >= kMaxGridRows) {
        return 0;
    }
    return startMs_[column][row];
}

void TestRecorder::Append(const ClosedCycles& closed, std::string_view serial,
                          std::vector<TestRecord>& out) {
    const std::int64_t now = clock_.nowMs();
    const std::int32_t offset = clock_.utcOffsetMinutes(now);
    const bool fpc = closed.fpcTest != 0;
    for (const ClosedHead& head : closed.heads) {
        const HeadSlot& slot = head.slot;
        std::int64_t& start = startMs_[head.column][head.row];
        const std::int64_t cycleStart = start;
        // Every head of the layout closed: its next cycle starts now, recorded
        // or not.
        start = now;
        // LOAD (no tested channel) and no data are the grid's own verdicts.
        if (head.verdict == HeadVerdict::Load || head.verdict == HeadVerdict::NoData ||
            head.stats.steps == 0) {
            continue;
        }

        std::vector<int> unmarked;
        std::vector<int> outOfLimits;
        for (int k = 0; k < kChannels; ++k) {
            if (slot.mode[k] == Tested && slot.greenMark[k] == 0) {
                unmarked.push_back(k);
            }
            if (head.classes[k] == ChannelClass::Over || head.classes[k] == ChannelClass::Under) {
                outOfLimits.push_back(k);
            }
        }
        const int tested = static_cast<int>(
            std::count(slot.mode.begin(), slot.mode.end(), static_cast<std::uint8_t>(Tested)));

        RecordVerdict verdict = RecordVerdict::Pass;
        std::string reason;
        if (fpc) {
            if (closed.automatic && head.verdict != HeadVerdict::Fail) {
                reason = kReasonEveryChannelResponded;
            } else if (closed.automatic) {
                // The grid closes by the fail count of the last repaint that
                // showed the verdict row; a head out of its limits at the
                // close is no pass.
                verdict = RecordVerdict::Fail;
                reason = ReasonWithChannels(kReasonChannelsOutOfLimits, outOfLimits);
            } else if (head.stats.startedAtFpcClose &&
                       static_cast<int>(unmarked.size()) == tested) {
                continue;  // empty: nothing of the head responded since the automatic close
            } else if (!unmarked.empty()) {
                verdict = RecordVerdict::Fail;
                reason = ReasonWithChannels(kReasonChannelsDidNotRespond, unmarked);
            } else if (head.verdict == HeadVerdict::Fail) {
                verdict = RecordVerdict::Fail;
                reason = ReasonWithChannels(kReasonChannelsOutOfLimits, outOfLimits);
            } else {
                reason = kReasonEveryChannelResponded;
            }
        } else if (head.verdict == HeadVerdict::Fail) {
            verdict = RecordVerdict::Fail;
            reason = ReasonWithChannels(kReasonChannelsOutOfLimits, outOfLimits);
        }

        TestRecord& r = out.emplace_back();
        r.uuid = clock_.newUuid();
        r.timeMs = now;
        r.utcOffsetMinutes = offset;
        r.startMs = cycleStart;
        r.durationMs = std::max<std::int64_t>(0, now - cycleStart);
        r.station = station_;
        r.operatorName = operator_;
        r.config = config_;
        r.configSha256 = configSha256_;
        r.board = board_;
        r.page = PageOf(head.row, head.column, closed.columns);
        r.row = head.row + 1;
        r.column = head.column + 1;
        r.serial = std::string(serial);
        r.verdict = verdict;
        r.reason = std::move(reason);
        r.fpc = fpc;
        WorstVerdict worst = ToWorst(head.stats.worst);
        if (!fpc && verdict == RecordVerdict::Fail) {
            worst = WorstVerdict::Fail;
        }
        r.worst = worst;
        r.steps = head.stats.steps;
        r.failedSteps = head.stats.failedSteps;
        for (int k = 0; k < kChannels; ++k) {
            ChannelRecord& c = r.channels[static_cast<std::size_t>(k)];
            c.mode = slot.mode[k];
            c.channelClass = static_cast<std::uint8_t>(head.classes[k]);
            c.greenMark = slot.greenMark[k] != 0 ? 1 : 0;
            c.value = slot.value[k];
            c.low = head.stats.low[k];
            c.high = head.stats.high[k];
            c.upper = slot.upper[k];
            c.lower = slot.lower[k];
            c.reference = slot.reference[k];
        }
    }
}

// --- counters --------------------------------------------------------------------

void RecordCounters::OnCommitted(const std::vector<TestRecord>& batch, bool ok) {
    if (!ok) {
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    for (const TestRecord& r : batch) {
        if (r.verdict == RecordVerdict::Pass) {
            ++passed_;
        } else {
            ++failed_;
        }
        if (!r.serial.empty()) {
            lastSerial_ = r.serial;
        }
    }
}

void RecordCounters::Reset() {
    std::lock_guard<std::mutex> guard(lock_);
    passed_ = 0;
    failed_ = 0;
    lastSerial_.clear();
}

RecordCounters::Figures RecordCounters::Get() const {
    std::lock_guard<std::mutex> guard(lock_);
    Figures f;
    f.passed = passed_;
    f.failed = failed_;
    f.tested = passed_ + failed_;
    if (f.tested > 0) {
        f.yieldPercent = 100.0 * static_cast<double>(f.passed) / static_cast<double>(f.tested);
    }
    f.lastSerial = lastSerial_;
    return f;
}

}  // namespace kx

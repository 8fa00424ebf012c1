// SPDX-License-Identifier: MIT
// The cycle of every head from the grid's setters (as the worker calls them)
// and Evaluate (as the repaint calls it) to the records the recorder makes.
#include "station/test_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kx {
namespace {

constexpr const char* kUnlock = "tavrel";

// --- the serial ---------------------------------------------------------------

struct KeyCase {
    const char* name;
    std::vector<std::string> keys;  // "\b" is Backspace
    std::string serial;
};

TEST(KeyBufferTest, SerialFromKeys) {
    const std::vector<KeyCase> cases = {
        {"plain scan", {"S", "N", "0", "0", "1"}, "SN001"},
        {"scanner corrects itself", {"S", "N", "X", "\b", "7", "Z", "\b", "\b", "8"}, "SN8"},
        {"backspace on empty buffer", {"\b", "\b", "A"}, "A"},
        {"backspace over a Chinese character", {"批", "号", "\b", "1"}, "批1"},
        {"white space trimmed", {" ", "\t", "A", "B", "　"}, "AB"},
        {"unlock word is no serial", {"t", "a", "v", "r", "e", "l"}, ""},
        {"unlock word in any case", {"T", "a", "V", "r", "E", "L"}, ""},
        {"unlock word with spaces around", {" ", "tavrel", "　"}, ""},
        {"unlock word typed over a slip", {"t", "a", "x", "\b", "vrel"}, ""},
        {"longer than the word", {"tavrel2"}, "tavrel2"},
        {"control characters dropped", {"A", "\x01", "\x7f", "B"}, "AB"},
        {"nothing typed", {}, ""},
    };
    for (const KeyCase& c : cases) {
        KeyBuffer buffer;
        for (const std::string& key : c.keys) {
            if (key == "\b") {
                buffer.Backspace();
            } else {
                buffer.Type(key);
            }
        }
        EXPECT_EQ(buffer.TakeSerial(kUnlock), c.serial) << c.name;
        EXPECT_TRUE(buffer.Text().empty()) << c.name;
    }
}

TEST(KeyBufferTest, FullBufferTakesNothingMoreBackspaceIncluded) {
    KeyBuffer buffer;
    for (std::size_t i = 0; i < KeyBuffer::kLimit + 10; ++i) {
        buffer.Type("9");
    }
    buffer.Backspace();
    EXPECT_EQ(buffer.Text(), std::string(KeyBuffer::kLimit, '9'));
}

// --- the cycle rules ----------------------------------------------------------

// A 2 x 1 grid: head A (column 1) tests channels 1 to 3 (indices 0 to 2),
// head B (column 2) is LOAD unless the case tests it too; limits 0 .. 100,
// values 50 unless a step says otherwise.
constexpr int kTestedA = 3;

struct Action {
    enum Kind { Values, NoData, Paint, EvaluateOnly, HideVerdictRow, Key } kind;
    int column = 0;
    std::vector<std::pair<int, std::int32_t>> set{};  // channel index -> value
    std::vector<std::string> keys{};                  // Key: what was typed
};

Action V(int column, std::vector<std::pair<int, std::int32_t>> set = {}) {
    return {Action::Values, column, std::move(set), {}};
}
Action NoDataOf(int column) {
    return {Action::NoData, column, {}, {}};
}
// A repaint: Evaluate, then the window takes the automatic closes.
Action Paint() {
    return {Action::Paint, 0, {}, {}};
}
Action HideVerdicts() {
    return {Action::HideVerdictRow, 0, {}, {}};
}
// Evaluate with the automatic closes left in the grid.
Action Eval() {
    return {Action::EvaluateOnly, 0, {}, {}};
}
Action Key(std::vector<std::string> keys = {}) {
    return {Action::Key, 0, {}, std::move(keys)};
}
// Every tested channel of head A over its upper limit.
Action AllOverA() {
    return V(0, {{0, 150}, {1, 150}, {2, 150}});
}

struct Expected {
    int column;  // from 1
    std::string serial;
    RecordVerdict verdict;
    std::string reason;
    WorstVerdict worst;
    std::int64_t steps;
    std::int64_t failedSteps;
};

struct CycleCase {
    const char* name;
    bool fpc;
    bool bTested;  // head B tests its channel 1 too
    std::vector<Action> actions;
    std::vector<Expected> records;
};

constexpr auto P = RecordVerdict::Pass;
constexpr auto F = RecordVerdict::Fail;
constexpr auto WP = WorstVerdict::Pass;
constexpr auto WN = WorstVerdict::NoData;
constexpr auto WF = WorstVerdict::Fail;
const std::string kResponded = kReasonEveryChannelResponded;

std::vector<CycleCase> Cases() {
    return {
        // FPC test off: the key closes every head with its verdict then.
        {"off: pass at the key with its serial",
         false,
         false,
         {V(0), V(0), Paint(), Key({"S", "N", "1"})},
         {{1, "SN1", P, "", WP, 2, 0}}},
        {"off: fail at the key lists the channels out of limits",
         false,
         false,
         {V(0, {{0, -5}, {2, 150}}), Key()},
         {{1, "", F, "channels out of limits: 1, 3", WF, 1, 1}}},
        {"off: the worst verdict and failed steps are kept",
         false,
         false,
         {V(0, {{1, 101}}), V(0), V(0), Key()},
         {{1, "", P, "", WF, 3, 1}}},
        {"off: a step without data is kept as the worst",
         false,
         false,
         {V(0), NoDataOf(0), V(0), Key()},
         {{1, "", P, "", WN, 2, 0}}},
        {"off: a head without data at the key is not recorded",
         false,
         true,
         {V(0), V(1), NoDataOf(1), Key()},
         {{1, "", P, "", WP, 1, 0}}},
        {"off: a tested head that never had data is not recorded",
         false,
         true,
         {V(0), Key()},
         {{1, "", P, "", WP, 1, 0}}},
        {"off: both tested heads recorded with the one serial",
         false,
         true,
         {V(0), V(1, {{0, 200}}), Key({"P", "7"})},
         {{1, "P7", P, "", WP, 1, 0}, {2, "P7", F, "channels out of limits: 1", WF, 1, 1}}},
        {"off: scanned serial with Backspace",
         false,
         false,
         {V(0), Key({"A", "B", "X", "\b", "C"})},
         {{1, "ABC", P, "", WP, 1, 0}}},
        {"off: the unlock word is never a serial",
         false,
         false,
         {V(0), Key({"T", "A", "V", "R", "E", "L"})},
         {{1, "", P, "", WP, 1, 0}}},
        {"off: a second key with no step since writes nothing",
         false,
         false,
         {V(0), Key({"A"}), Key({"B"}), V(0), Key({"C"})},
         {{1, "A", P, "", WP, 1, 0}, {1, "C", P, "", WP, 1, 0}}},
        {"off: a finished FPC cycle while the test is off closes nothing",
         false,
         false,
         {AllOverA(), Paint(), V(0), Paint(), V(0), Key({"K"})},
         {{1, "K", P, "", WF, 3, 1}}},

        // FPC test on.
        {"on: the automatic close writes PASS",
         true,
         false,
         {AllOverA(), Paint(), V(0), Paint()},
         {{1, "", P, kResponded, WF, 2, 1}}},
        {"on: a key right after the automatic close writes nothing",
         true,
         false,
         {AllOverA(), Paint(), V(0), Paint(), V(0), V(0), Key({"S", "1"})},
         {{1, "", P, kResponded, WF, 2, 1}}},
        {"on: an automatic close not yet taken is recorded before the key's",
         true,
         false,
         {AllOverA(), Paint(), V(0), Eval(), Key()},
         {{1, "", P, kResponded, WF, 2, 1}}},
        {"on: a key before the close lists the channels that did not respond",
         true,
         false,
         {V(0, {{1, 150}}), Paint(), V(0), Paint(), Key({"Q"})},
         {{1, "Q", F, "channels did not respond: 1, 3", WF, 2, 1}}},
        {"on: a channel over at the key has responded",
         true,
         false,
         {V(0, {{0, 150}, {1, 150}}), Paint(), V(0, {{2, 150}}), Key()},
         {{1, "", F, "channels out of limits: 3", WF, 2, 2}}},
        {"on: a dead panel after a good one: the first key nothing, the next FAIL",
         true,
         false,
         {AllOverA(), Paint(), V(0), Paint(), V(0), Key({"D"}), V(0), Paint(), Key({"D"})},
         {{1, "", P, kResponded, WF, 2, 1},
          {1, "D", F, "channels did not respond: 1, 2, 3", WP, 1, 0}}},
        {"on: a panel that responds in part after a close is recorded",
         true,
         false,
         {AllOverA(), Paint(), V(0), Paint(), V(0, {{0, 150}}), Paint(), V(0), Key({"E"})},
         {{1, "", P, kResponded, WF, 2, 1},
          {1, "E", F, "channels did not respond: 2, 3", WF, 2, 1}}},
        {"on: every channel marked before the key is a pass",
         true,
         true,
         // Head B never goes over, so no automatic close; head A is whole.
         {AllOverA(), V(1), Paint(), V(0), V(1), Paint(), Key()},
         {{1, "", P, kResponded, WF, 2, 1}, {2, "", F, "channels did not respond: 1", WP, 2, 0}}},
        {"on: an automatic close with the verdict row hidden is no pass for a head out of limits",
         true,
         false,
         {V(0), Paint(), HideVerdicts(), AllOverA(), Paint()},
         {{1, "", F, "channels out of limits: 1, 2, 3", WF, 2, 1}}},
        {"on: a head without data holds up the close and is not recorded",
         true,
         true,
         {AllOverA(), Paint(), V(0), Paint(), Key()},
         {{1, "", P, kResponded, WF, 2, 1}}},
    };
}

class RecorderFixture {
public:
    explicit RecorderFixture(bool bTested) : recorder(grid, Clock()) {
        grid.SetColumns(2);
        grid.SetRows(1);
        ChannelValues upper{};
        upper.fill(100);
        const ChannelValues lower{};
        for (int c = 0; c < 2; ++c) {
            ChannelModes modes{};
            modes.fill(Masked);
            const int tested = c == 0 ? kTestedA : (bTested ? 1 : 0);
            for (int k = 0; k < tested; ++k) {
                modes[k] = Tested;
            }
            grid.SetChannelModes(c, 0, modes);
            grid.SetUpperLimits(c, 0, upper);
            grid.SetLowerLimits(c, 0, lower);
        }
        recorder.StartCycles();
    }

    RecorderClock Clock() {
        RecorderClock clock;
        clock.nowMs = [this] { return now += 10; };
        clock.utcOffsetMinutes = [](std::int64_t) { return 480; };
        clock.newUuid = [this] { return "uuid-" + std::to_string(++uuids); };
        return clock;
    }

    void Run(const Action& a) {
        switch (a.kind) {
            case Action::Values: {
                ChannelValues v{};
                v.fill(50);
                for (const auto& [k, value] : a.set) {
                    v[k] = value;
                }
                grid.SetValues(a.column, 0, v);
                break;
            }
            case Action::NoData:
                grid.SetNoData(a.column, 0);
                break;
            case Action::Paint: {
                grid.Evaluate(800, 600, *frame);
                Add(recorder.TakeAutomaticCloses());
                break;
            }
            case Action::HideVerdictRow:
                grid.ShowVerdictRow(false);
                break;
            case Action::EvaluateOnly:
                grid.Evaluate(800, 600, *frame);
                break;
            case Action::Key: {
                KeyBuffer buffer;
                for (const std::string& key : a.keys) {
                    if (key == "\b") {
                        buffer.Backspace();
                    } else {
                        buffer.Type(key);
                    }
                }
                Add(recorder.EndOfPanel(buffer.TakeSerial(kUnlock)));
                break;
            }
        }
    }

    void Add(std::vector<TestRecord> batch) {
        for (TestRecord& r : batch) {
            records.push_back(std::move(r));
        }
    }

    std::int64_t now = 1'700'000'000'000;
    int uuids = 0;
    GridModel grid;
    std::unique_ptr<GridFrame> frame = std::make_unique<GridFrame>();
    TestRecorder recorder;
    std::vector<TestRecord> records;
};

TEST(TestRecorderTest, CycleRules) {
    for (const CycleCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        RecorderFixture f(c.bTested);
        f.grid.SetFpcTest(c.fpc ? 1 : 0);
        for (const Action& a : c.actions) {
            f.Run(a);
        }
        ASSERT_EQ(f.records.size(), c.records.size());
        for (std::size_t i = 0; i < c.records.size(); ++i) {
            const Expected& e = c.records[i];
            const TestRecord& r = f.records[i];
            SCOPED_TRACE("record " + std::to_string(i));
            EXPECT_EQ(r.column, e.column);
            EXPECT_EQ(r.row, 1);
            EXPECT_EQ(r.serial, e.serial);
            EXPECT_EQ(r.verdict, e.verdict);
            EXPECT_EQ(r.reason, e.reason);
            EXPECT_EQ(r.fpc, c.fpc);
            EXPECT_EQ(r.worst, e.worst);
            EXPECT_EQ(r.steps, e.steps);
            EXPECT_EQ(r.failedSteps, e.failedSteps);
        }
    }
}

// What one record holds besides the verdict: where it was made, the cycle's
// times, the channels with their low and high during the cycle, the marks
// as they stood before the key cleared them.
TEST(TestRecorderTest, RecordHoldsTheCycle) {
    RecorderFixture f(false);
    f.grid.SetFpcTest(1);
    f.recorder.SetStationName("line-3");
    f.recorder.SetOperator("王");
    const std::string bytes = "abc";
    f.recorder.SetConfigFile(
        "/srv/cfg/a.kxc",
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    BoardInfo board{"one-to-one", "maker", "tester", "1.2", "ID9", 2};
    f.recorder.SetBoard(board);
    f.recorder.StartCycles();
    const std::int64_t start = f.now;

    f.Run(V(0, {{0, 150}, {5, -40}}));
    f.Run(Paint());
    f.Run(V(0, {{0, 20}}));
    f.Run(Key({"X"}));
    ASSERT_EQ(f.records.size(), 1u);
    const TestRecord& r = f.records[0];
    EXPECT_EQ(r.uuid, "uuid-1");
    EXPECT_EQ(r.startMs, start);
    EXPECT_EQ(r.timeMs, f.now);
    EXPECT_EQ(r.durationMs, r.timeMs - r.startMs);
    EXPECT_EQ(r.utcOffsetMinutes, 480);
    EXPECT_EQ(r.station, "line-3");
    EXPECT_EQ(r.operatorName, "王");
    EXPECT_EQ(r.config, "/srv/cfg/a.kxc");
    EXPECT_EQ(r.configSha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(r.board, board);
    EXPECT_EQ(r.page, 0);
    EXPECT_EQ(r.reason, "channels did not respond: 2, 3");
    const ChannelRecord& ch0 = r.channels[0];
    EXPECT_EQ(ch0.mode, Tested);
    EXPECT_EQ(ch0.greenMark, 1);
    EXPECT_EQ(ch0.value, 20);
    EXPECT_EQ(ch0.low, 20);
    EXPECT_EQ(ch0.high, 150);
    EXPECT_EQ(ch0.upper, 100);
    EXPECT_EQ(ch0.channelClass, 1);  // within
    EXPECT_EQ(r.channels[5].low, -40);
    EXPECT_EQ(r.channels[5].mode, Masked);
    EXPECT_EQ(r.channels[5].channelClass, 0);  // unjudged
    // The key cleared the marks; the next cycle starts at the close.
    EXPECT_EQ(f.grid.GetGreenMarks(0, 0)[0], 0);
    EXPECT_EQ(f.recorder.CycleStartMs(0, 0), r.timeMs);

    f.recorder.SetBoardSettings();
    f.Run(V(0));
    f.Run(Key());
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[1].config, kBoardSettings);
    EXPECT_EQ(f.records[1].configSha256, "");
    EXPECT_EQ(f.records[1].uuid, "uuid-2");
}

// A layout change, ForgetData and RestartCycles start every head's
// statistics afresh.
TEST(TestRecorderTest, StatisticsStartAfresh) {
    RecorderFixture f(false);
    const std::vector<std::pair<const char*, std::function<void(GridModel&)>>> restarts = {
        {"forget data", [](GridModel& g) { g.ForgetData(); }},
        {"columns", [](GridModel& g) { g.SetColumns(3); }},
        {"rows", [](GridModel& g) { g.SetRows(2); }},
        {"restart", [](GridModel& g) { g.RestartCycles(); }},
    };
    for (const auto& [name, restart] : restarts) {
        f.Run(V(0, {{0, 300}}));
        ASSERT_EQ(f.grid.GetCycleStats(0, 0).steps, 1) << name;
        restart(f.grid);
        const HeadCycleStats s = f.grid.GetCycleStats(0, 0);
        EXPECT_EQ(s.steps, 0) << name;
        EXPECT_EQ(s.worst, CycleWorst::Pass) << name;
        EXPECT_FALSE(s.startedAtFpcClose) << name;
    }
}

TEST(RecordCountersTest, CountsCommittedRecordsOnly) {
    RecordCounters counters;
    EXPECT_FALSE(counters.Get().yieldPercent.has_value());
    std::vector<TestRecord> batch(4);
    batch[0].verdict = RecordVerdict::Pass;
    batch[0].serial = "A";
    batch[1].verdict = RecordVerdict::Pass;
    batch[2].verdict = RecordVerdict::Fail;
    batch[2].serial = "C";
    batch[3].verdict = RecordVerdict::Pass;
    counters.OnCommitted(batch, false);  // not committed: tried again later
    EXPECT_EQ(counters.Get().tested, 0);
    counters.OnCommitted(batch, true);
    RecordCounters::Figures f = counters.Get();
    EXPECT_EQ(f.tested, 4);
    EXPECT_EQ(f.passed, 3);
    EXPECT_EQ(f.failed, 1);
    EXPECT_DOUBLE_EQ(*f.yieldPercent, 75.0);
    EXPECT_EQ(f.lastSerial, "C");
    counters.Reset();
    f = counters.Get();
    EXPECT_EQ(f.tested, 0);
    EXPECT_FALSE(f.yieldPercent.has_value());
    EXPECT_EQ(f.lastSerial, "");
}

// The worker's setters on one thread, closes and repaints on another: no
// step is lost or counted twice (run in the ThreadSanitizer build too).
TEST(TestRecorderTest, StatisticsWhileAnotherThreadCloses) {
    GridModel grid;
    grid.SetColumns(2);
    grid.SetRows(2);
    ChannelModes modes{};
    modes.fill(Masked);
    modes[0] = Tested;
    ChannelValues upper{};
    upper.fill(100);
    for (int c = 0; c < 2; ++c) {
        for (int r = 0; r < 2; ++r) {
            grid.SetChannelModes(c, r, modes);
            grid.SetUpperLimits(c, r, upper);
        }
    }
    grid.SetFpcTest(1);
    constexpr int kSteps = 4000;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        ChannelValues v{};
        for (int i = 0; i < kSteps; ++i) {
            v[0] = (i % 7 == 0) ? 150 : 50;
            for (int c = 0; c < 2; ++c) {
                for (int r = 0; r < 2; ++r) {
                    grid.SetValues(c, r, v);
                }
            }
        }
        done = true;
    });
    std::int64_t closedSteps = 0;
    auto frame = std::make_unique<GridFrame>();
    auto count = [&](const ClosedCycles& closed) {
        for (const ClosedHead& h : closed.heads) {
            if (h.column == 1 && h.row == 1) {
                closedSteps += h.stats.steps;
            }
        }
    };
    while (!done) {
        grid.Evaluate(400, 400, *frame);
        for (const ClosedCycles& closed : grid.TakeFpcClosed()) {
            count(closed);
        }
        count(grid.CloseCycles(true));
    }
    worker.join();
    for (const ClosedCycles& closed : grid.TakeFpcClosed()) {
        count(closed);
    }
    count(grid.CloseCycles(false));
    EXPECT_EQ(closedSteps, kSteps);
}

}  // namespace
}  // namespace kx

// SPDX-License-Identifier: MIT
#include "hid/hiddata.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "hid/device_string.h"
#include "sim/sim_bus.h"
#include "sim/usb_frame_bus.h"
#include "tests/support/fixed_reply_board.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A board that answers every output report with one input report: byte 1
// counts the replies, bytes 2-4 repeat bytes 1-3 of the report it answers.
class CountingBoard : public sim::SimBoard {
public:
    explicit CountingBoard(sim::BoardIdentity id) : SimBoard(std::move(id)) {}
    const char* family() const override { return "counting"; }

protected:
    void on_output(const Frame& f) override {
        Frame r{};
        r[1] = ++replies_;
        r[2] = f[1];
        r[3] = f[2];
        r[4] = f[3];
        queue_reply(r);
    }

private:
    std::uint8_t replies_ = 0;
};

sim::BoardIdentity Identity(const std::u16string& manufacturer, const std::u16string& product) {
    sim::BoardIdentity id;
    id.vendor_id = 0x1234;
    id.product_id = 0x5678;
    id.manufacturer = manufacturer;
    id.product = product;
    return id;
}

// hiddata with its report buffer in view.
struct Exposed : hiddata {
    explicit Exposed(HidBus& bus) : hiddata(bus, "test") {}
    using hiddata::exchange_query;
    using hiddata::exchange_set;
    using hiddata::report;
};

std::chrono::nanoseconds ThreadCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

// A case of the late-reply tests: the board answers the first command after
// `delay`, and that command gets its reply (`answered`) or gives up.
struct DelayedReply {
    std::chrono::milliseconds delay;
    bool answered;
};

class Transport : public ::testing::Test {
protected:
    template <class Board = CountingBoard>
    std::shared_ptr<Board> Plug(const std::u16string& manufacturer, const std::u16string& product) {
        auto board = std::make_shared<Board>(Identity(manufacturer, product));
        bus.plug(board);
        return board;
    }
    int Open(hiddata& h, const char* manufacturer = "maker", const char* product = "tester") {
        return h.open(0x5678, 0x1234, manufacturer, product);
    }

    sim::SimBus bus;
};

TEST(DeviceString, FoldsOneCharacterPerUnitAndStopsAtTheTerminator) {
    struct Case {
        std::u16string units;
        std::string folded;
    };
    const Case cases[] = {
        {u"TARSEL", "TARSEL"},
        {u"TAR\u00C9SEL", "TAR\xC9SEL"},  // below 256: the byte itself
        {u"TAR\u0100SEL", "TAR?SEL"},     // 256 and above: '?'
        {u"\u4E2D\u6587", "??"},          // one '?' per unit, nothing skipped
        {std::u16string(u"AB\0CD", 5), "AB"},
        {u"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FoldDeviceString(c.units), c.folded);
    }
    // Never more than the platform's 256-unit buffer, terminator included.
    EXPECT_EQ(FoldDeviceString(std::u16string(1000, u'x')).size(), kDeviceStringUnits - 1);
    // A character beyond the 16-bit plane is two units, so two '?'.
    EXPECT_EQ(FoldDeviceString(ToUtf16(L"A\U0001F600B")), "A??B");
}

TEST_F(Transport, OpensOnlyWhenAllFourItemsMatchAndTheFirstMatchWins) {
    // Same ids, other manufacturer; a non-ASCII twin; then two real matches.
    Plug(u"other", u"tester");
    Plug(u"m\u0430ker", u"tester");  // Cyrillic a folds to '?'
    auto first = Plug(u"maker", u"tester");
    auto second = Plug(u"maker", u"tester");
    // A board whose descriptor lacks both strings: hidapi reports NULL.
    sim::BoardIdentity nameless;
    nameless.vendor_id = 0x1234;
    nameless.product_id = 0x5678;
    bus.plug(std::make_shared<CountingBoard>(nameless));

    hiddata h(bus, "test");
    ASSERT_EQ(Open(h), 0);
    EXPECT_EQ(first->open_handle_count(), 1);
    EXPECT_EQ(second->open_handle_count(), 0);

    EXPECT_EQ(Open(h, "other", "tester"), 0);
    EXPECT_EQ(Open(h, "m?ker", "tester"), 0);  // the folded form is what is compared
    EXPECT_EQ(Open(h, "maker", "Tester"), 1);  // case counts
    EXPECT_EQ(Open(h, "", ""), 1);             // missing strings match nothing
    EXPECT_EQ(h.open(0x5679, 0x1234, "maker", "tester"), 1);
    EXPECT_FALSE(h.is_open());
}

TEST_F(Transport, RepeatedOpenReplacesAndClosesTheHandleAndDestructionClosesIt) {
    auto board = Plug(u"maker", u"tester");
    {
        hiddata h(bus, "test");
        ASSERT_EQ(Open(h), 0);
        ASSERT_EQ(Open(h), 0);  // same board again: still open, one handle
        EXPECT_TRUE(h.is_open());
        EXPECT_EQ(board->open_handle_count(), 1);
        EXPECT_EQ(Open(h, "nobody", "tester"), 1);
        EXPECT_EQ(board->open_handle_count(), 0);
        ASSERT_EQ(Open(h), 0);
    }
    EXPECT_EQ(board->open_handle_count(), 0);
}

TEST_F(Transport, ReadsTheReplyIntoReportAfterTheReportId) {
    Plug(u"maker", u"tester");
    hiddata h(bus, "test");
    ASSERT_EQ(Open(h), 0);
    const Frame cmd = testing::CommandFrame(0x42);
    EXPECT_TRUE(h.write_report(cmd.data()));
    const std::uint8_t* r = h.read_report();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[1], 1);
    EXPECT_EQ(r[2], 0x01);
    EXPECT_EQ(r[3], 0x29);
    EXPECT_EQ(r[4], 0x42);
}

TEST_F(Transport, SilentBoardReadGivesUpAfterTheBoundAndLeavesTheReport) {
    auto board = Plug(u"maker", u"tester");
    Exposed h(bus);
    ASSERT_EQ(Open(h), 0);
    const Frame cmd = testing::CommandFrame(0x42);
    h.write_report(cmd.data());
    ASSERT_NE(h.read_report(), nullptr);
    const Frame before = h.report;

    board->set_silent(true);
    EXPECT_TRUE(h.write_report(cmd.data()));
    const auto start = Clock::now();
    EXPECT_EQ(h.read_report(), nullptr);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(hiddata::kReadBoundMs - 5));
    EXPECT_LT(waited, std::chrono::milliseconds(hiddata::kReadBoundMs + 400));
    EXPECT_EQ(h.report, before);
}

// The replies carry no echo of their command; the board here adds one, so
// the test sees which command a reply answers. A reply inside the read bound
// is its own command's answer; one later than the bound is waited for and
// discarded before the next command goes out.
TEST_F(Transport, LateReplyIsItsOwnAnswerOrDiscardedButNeverTheNextCommands) {
    const DelayedReply cases[] = {{250ms, true}, {600ms, false}};
    for (const DelayedReply& c : cases) {
        auto board = Plug(u"maker", u"tester");
        hiddata h(bus, "test");
        ASSERT_EQ(Open(h), 0);

        board->set_reply_delay(c.delay);
        EXPECT_TRUE(h.write_report(testing::CommandFrame(0x42).data()));
        const std::uint8_t* first = h.read_report();
        EXPECT_EQ(first != nullptr, c.answered) << c.delay.count();
        if (first != nullptr) {
            EXPECT_EQ(first[4], 0x42);
        }

        board->set_reply_delay(0ms);
        EXPECT_TRUE(h.write_report(testing::CommandFrame(0x43).data()));
        const std::uint8_t* second = h.read_report();
        ASSERT_NE(second, nullptr) << c.delay.count();
        EXPECT_EQ(second[4], 0x43) << c.delay.count();
        EXPECT_EQ(second[1], 2) << "the board's second reply";
        bus.unplug(board);
    }
}

// Every open hidraw file gets the reports that arrive while it is open, so a
// late reply still on its way when the object opens the same board again (the
// station's Connect probes the board in use once more) reaches the new handle
// too. It is waited out and discarded there as on the old handle; a reopen
// that lands on another board owes nothing and waits for nothing.
TEST_F(Transport, LateReplyOnItsWayAcrossAReopenIsNeverTheNextCommandsAnswer) {
    struct Case {
        const char* reopened;  // product string of the board opened again
        bool same_board;
    };
    const Case cases[] = {{"tester", true}, {"other", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reopened);
        auto board = Plug(u"maker", u"tester");
        auto other = Plug(u"maker", u"other");
        hiddata h(bus, "test");
        ASSERT_EQ(Open(h), 0);
        const std::string first_path = h.device_path();

        board->set_reply_delay(700ms);
        ASSERT_TRUE(h.write_report(testing::CommandFrame(0x42).data()));
        EXPECT_EQ(h.read_report(), nullptr);  // given up; the reply comes 200 ms later
        ASSERT_EQ(Open(h, "maker", c.reopened), 0);
        EXPECT_EQ(h.device_path() == first_path, c.same_board);
        board->set_reply_delay(0ms);

        const auto start = Clock::now();
        ASSERT_TRUE(h.write_report(testing::CommandFrame(0x43).data()));
        const std::uint8_t* r = h.read_report();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r[4], 0x43) << "another command's reply taken for this one's";
        EXPECT_EQ(r[1], c.same_board ? 2 : 1) << "the board's own count of replies";
        if (!c.same_board) {
            EXPECT_LT(Clock::now() - start, 150ms) << "waited for a reply it was not owed";
        }
        bus.unplug(board);
        bus.unplug(other);
    }
}

// A board that sends one report too many: two replies to command 0x42 (a
// duplicated report, or a spontaneous one right after the reply).
class TwinReplyBoard : public CountingBoard {
public:
    using CountingBoard::CountingBoard;

protected:
    void on_output(const Frame& f) override {
        CountingBoard::on_output(f);
        if (f[3] == 0x42) {
            CountingBoard::on_output(f);
        }
    }
};

// The report too many waits in the queue when the next command goes out; it
// is never that command's answer, whether the first reply came in time or
// the read gave up and it arrived, with its twin, in the late-reply window.
TEST_F(Transport, AReportTooManyIsNeverTheNextCommandsAnswer) {
    const DelayedReply cases[] = {{0ms, true}, {700ms, false}};
    for (const DelayedReply& c : cases) {
        SCOPED_TRACE(c.delay.count());
        auto board = Plug<TwinReplyBoard>(u"maker", u"tester");
        Exposed h(bus);
        ASSERT_EQ(Open(h), 0);

        board->set_reply_delay(c.delay);
        const Frame* first = h.exchange_query(testing::CommandFrame(0x42));
        EXPECT_EQ(first != nullptr, c.answered);
        board->set_reply_delay(0ms);
        const Frame* second = h.exchange_query(testing::CommandFrame(0x43));
        ASSERT_NE(second, nullptr);
        EXPECT_EQ((*second)[4], 0x43) << "another command's reply taken for this one's";
        EXPECT_EQ((*second)[1], 3) << "the board's third reply";
        bus.unplug(board);
    }
}

// However many reports too many lie waiting when the next command is due,
// all of them go, and each is counted as out of step.
class ExtraReplyBoard : public CountingBoard {
public:
    ExtraReplyBoard(sim::BoardIdentity id, int extra)
        : CountingBoard(std::move(id)), extra_(extra) {}

protected:
    void on_output(const Frame& f) override {
        CountingBoard::on_output(f);
        for (int i = 0; f[3] == 0x42 && i < extra_; ++i) {
            CountingBoard::on_output(f);
        }
    }

private:
    const int extra_;
};

TEST_F(Transport, EveryReportTooManyIsDiscardedAndCounted) {
    for (int extra : {1, 3, 20}) {
        SCOPED_TRACE(extra);
        auto board = std::make_shared<ExtraReplyBoard>(Identity(u"maker", u"tester"), extra);
        bus.plug(board);
        Exposed h(bus);
        ASSERT_EQ(Open(h), 0);
        ASSERT_NE(h.exchange_query(testing::CommandFrame(0x42)), nullptr);
        const Frame* next = h.exchange_query(testing::CommandFrame(0x43));
        ASSERT_NE(next, nullptr);
        EXPECT_EQ((*next)[4], 0x43) << "a report too many taken for this command's answer";
        EXPECT_EQ(h.out_of_step_count(), static_cast<std::uint32_t>(extra));
        EXPECT_TRUE(h.settle());
        bus.unplug(board);
    }
}

// A stop cuts a read's wait short, but the board does not know: its reply
// may still come as late as it would have without the stop, and then it is
// never the next command's answer. And a stop that lands while the next
// exchange waits out that late reply leaves the reply owed.
TEST_F(Transport, AStopNeverShortensTheLateReplyWindow) {
    struct Case {
        const char* what;
        std::chrono::milliseconds delay;  // of the first command's reply
        std::chrono::milliseconds cancel_at;
        bool cancel_in_late_wait;  // else during the read itself
    };
    const Case cases[] = {
        {"stop during the read", 1250ms, 100ms, false},
        {"stop while the late reply is waited for", 750ms, 600ms, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto board = Plug(u"maker", u"tester");
        hiddata h(bus, "test");
        ASSERT_EQ(Open(h), 0);
        board->set_reply_delay(c.delay);
        const auto start = Clock::now();
        ASSERT_TRUE(h.write_report(testing::CommandFrame(0x42).data()));
        board->set_reply_delay(0ms);

        std::thread other([&] {
            if (!c.cancel_in_late_wait) {
                EXPECT_EQ(h.read_report(), nullptr);
            } else {
                EXPECT_EQ(h.read_report(), nullptr);  // gives up at 500 ms
                // The next write waits for the late reply, until it is cut.
                EXPECT_FALSE(h.write_report(testing::CommandFrame(0x44).data()));
            }
        });
        std::this_thread::sleep_until(start + c.cancel_at);
        h.cancel_waits();
        other.join();
        h.resume_waits();
        EXPECT_LT(Clock::now() - start, c.delay) << "the stop did not cut the wait short";

        ASSERT_TRUE(h.write_report(testing::CommandFrame(0x43).data()));
        const std::uint8_t* r = h.read_report();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r[4], 0x43) << "the late reply taken for the next command's answer";
        bus.unplug(board);
    }
}

// A command whose later report does not go, even when retried, closes the
// handle; the report is owed to the board at that path. On a USB endpoint
// (one report per frame) it goes first when the same board is opened again,
// and the reply it brings is never the next command's answer; another board
// of the same kind, at another path, never gets it.
TEST_F(Transport, AnOwedReportGoesFirstToItsOwnBoardAndToNoOther) {
    struct Case {
        const char* what;
        bool same_board;
    };
    const Case cases[] = {{"the same board opened again", true},
                          {"another board of the same kind", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::UsbFrameBus frames(bus);
        auto board = Plug(u"maker", u"tester");
        Exposed h(frames);
        ASSERT_EQ(Open(h), 0);
        const Frame command = testing::CommandFrame(0x42);
        Frame second = command;
        second[10] = 0x5A;
        frames.fail_output([](const Frame& f) { return f[10] == 0x5A; }, 0,
                           hiddata::kContinuationTries);
        EXPECT_FALSE(h.exchange_set(command, second));
        EXPECT_TRUE(h.lost());
        EXPECT_FALSE(h.is_open());
        EXPECT_EQ(frames.delivered().failed_writes, hiddata::kContinuationTries);

        auto opened = board;
        if (!c.same_board) {
            bus.unplug(board);
            opened = Plug(u"maker", u"tester");
        }
        board->clear_received();
        ASSERT_EQ(Open(h), 0);
        EXPECT_FALSE(h.lost());
        const std::vector<Frame> got = opened->received_outputs();
        if (c.same_board) {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0], second);
        } else {
            EXPECT_TRUE(got.empty()) << "another board got the report owed to the first";
        }

        const Frame* next = h.exchange_query(testing::CommandFrame(0x43));
        ASSERT_NE(next, nullptr);
        EXPECT_EQ((*next)[4], 0x43) << "the owed report's reply taken for this command's";
        bus.unplug_all();
    }
}

TEST_F(Transport, UnpluggedBoardReadReturnsAtOnceWithoutAReply) {
    auto board = Plug(u"maker", u"tester");
    Exposed h(bus);
    ASSERT_EQ(Open(h), 0);
    const Frame cmd = testing::CommandFrame(0x42);
    h.write_report(cmd.data());
    ASSERT_NE(h.read_report(), nullptr);
    const Frame before = h.report;

    bus.unplug(board);
    EXPECT_FALSE(h.write_report(cmd.data()));
    const auto start = Clock::now();
    EXPECT_EQ(h.read_report(), nullptr);
    EXPECT_EQ(h.get_feature_report(), nullptr);
    EXPECT_FALSE(h.set_feature_report(cmd.data()));
    EXPECT_LT(Clock::now() - start, 50ms);
    EXPECT_EQ(h.report, before);
}

TEST_F(Transport, ClosedObjectSendsNothing) {
    auto board = Plug(u"maker", u"tester");
    hiddata h(bus, "test");
    const Frame cmd = testing::CommandFrame(0x42);
    EXPECT_FALSE(h.write_report(cmd.data()));
    EXPECT_FALSE(h.set_feature_report(cmd.data()));
    EXPECT_EQ(h.read_report(), nullptr);
    EXPECT_EQ(h.get_feature_report(), nullptr);
    EXPECT_TRUE(board->received().empty());
}

// A wait cut short by a cancel ends within a slice; while cancelled nothing
// is sent; after resuming, the reply the cancelled read was owed is still
// discarded, not taken for the next command's answer.
TEST_F(Transport, CancelledWaitGivesUpAtOnceAndItsReplyIsStillDiscarded) {
    auto board = Plug(u"maker", u"tester");
    hiddata h(bus, "test");
    ASSERT_EQ(Open(h), 0);
    board->set_reply_delay(300ms);
    ASSERT_TRUE(h.write_report(testing::CommandFrame(0x42).data()));

    Clock::time_point returned;
    std::thread reader([&] {
        EXPECT_EQ(h.read_report(), nullptr);
        returned = Clock::now();
    });
    std::this_thread::sleep_for(50ms);
    const auto cancelled = Clock::now();
    h.cancel_waits();
    reader.join();
    // Uncancelled, the reply would come 250 ms after the cancel.
    EXPECT_LT(returned - cancelled, 150ms);

    // Future transfers fail at once and send nothing.
    EXPECT_TRUE(h.waits_cancelled());
    board->clear_received();
    const auto start = Clock::now();
    EXPECT_FALSE(h.write_report(testing::CommandFrame(0x44).data()));
    EXPECT_EQ(h.read_report(), nullptr);
    EXPECT_FALSE(h.set_feature_report(testing::CommandFrame(0x44).data()));
    EXPECT_EQ(h.get_feature_report(), nullptr);
    EXPECT_LT(Clock::now() - start, 50ms);
    EXPECT_TRUE(board->received().empty());

    h.resume_waits();
    board->set_reply_delay(0ms);
    ASSERT_TRUE(h.write_report(testing::CommandFrame(0x43).data()));
    const std::uint8_t* r = h.read_report();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[4], 0x43);
}

// What the station does when it stops: a worker polling a board that has
// gone silent is joined within a fraction of a second once the object's
// waits are cancelled, although every exchange would otherwise wait for
// seconds.
TEST_F(Transport, WorkerOnASilentBoardIsJoinedPromptlyAfterACancel) {
    auto board = Plug(u"maker", u"tester");
    hiddata h(bus, "test");
    ASSERT_EQ(Open(h), 0);
    board->set_silent(true);
    std::atomic<bool> running{true};
    std::atomic<int> exchanges{0};
    std::thread worker([&] {
        while (running.load()) {
            h.write_report(testing::CommandFrame(0xF0).data());
            h.read_report();
            ++exchanges;
        }
    });
    std::this_thread::sleep_for(700ms);  // into the late-reply wait of the second exchange
    const auto stop = Clock::now();
    h.cancel_waits();
    running = false;
    worker.join();
    // Uncancelled, the wait alone would last another 800 ms.
    EXPECT_LT(Clock::now() - stop, 250ms);
    EXPECT_GE(exchanges.load(), 1);
    h.resume_waits();
}

TEST_F(Transport, OpenTellsAPresentBoardThatRefusesFromNoBoard) {
    hiddata h(bus, "test");
    EXPECT_EQ(h.last_open_failure(), OpenFailure::None);
    EXPECT_EQ(Open(h), 1);
    EXPECT_EQ(h.last_open_failure(), OpenFailure::NotFound);

    // Another identity that refuses does not count for this one.
    auto other = Plug(u"someone", u"tester");
    other->set_open_failure(OpenFailure::Busy);
    EXPECT_EQ(Open(h), 1);
    EXPECT_EQ(h.last_open_failure(), OpenFailure::NotFound);

    for (OpenFailure failure : {OpenFailure::NoPermission, OpenFailure::Busy, OpenFailure::Other}) {
        auto board = Plug(u"maker", u"tester");
        board->set_open_failure(failure);
        EXPECT_EQ(Open(h), 1);
        EXPECT_FALSE(h.is_open());
        EXPECT_EQ(h.last_open_failure(), failure) << OpenFailureName(failure);
        EXPECT_EQ(board->open_handle_count(), 0);
        bus.unplug(board);
    }

    // A refusing board first in line does not hide a second one that opens.
    auto refusing = Plug(u"maker", u"tester");
    refusing->set_open_failure(OpenFailure::NoPermission);
    auto good = Plug(u"maker", u"tester");
    EXPECT_EQ(Open(h), 0);
    EXPECT_EQ(h.last_open_failure(), OpenFailure::None);
    EXPECT_EQ(good->open_handle_count(), 1);

    // Once the node may be opened again, the board opens.
    bus.unplug(good);
    EXPECT_EQ(Open(h), 1);
    EXPECT_EQ(h.last_open_failure(), OpenFailure::NoPermission);
    refusing->set_open_failure(OpenFailure::None);
    EXPECT_EQ(Open(h), 0);
    EXPECT_EQ(refusing->open_handle_count(), 1);
}

// Software boards at USB pace: a station polling them flat out is paced by
// the boards and sleeps between reports rather than spinning on a core. The
// pace is off unless a station switches it on for the bus.
TEST_F(Transport, BusWideReportTimePacesBoardsLikeAFullSpeedEndpointWithoutSpinning) {
    auto before = Plug(u"maker", u"tester");
    EXPECT_EQ(before->report_time(), sim::SimBoard::Duration::zero());
    bus.set_report_time(sim::SimBoard::kFullSpeedReportTime);
    auto after = Plug(u"maker", u"B");
    EXPECT_EQ(before->report_time(), sim::SimBoard::kFullSpeedReportTime);
    EXPECT_EQ(after->report_time(), sim::SimBoard::kFullSpeedReportTime);

    hiddata h(bus, "test");
    ASSERT_EQ(Open(h), 0);
    constexpr int kExchanges = 20;
    const auto cpu_start = ThreadCpuTime();
    const auto start = Clock::now();
    for (int i = 0; i < kExchanges; ++i) {
        ASSERT_TRUE(h.write_report(testing::CommandFrame(0xF0).data()));
        ASSERT_NE(h.read_report(), nullptr);
    }
    const auto wall = Clock::now() - start;
    const auto cpu = ThreadCpuTime() - cpu_start;
    // One report out and one back, about 1 ms each.
    EXPECT_GE(wall, kExchanges * 2 * sim::SimBoard::kFullSpeedReportTime);
    EXPECT_LT(cpu * 4, wall) << "the pacing must sleep, not spin";
}

TEST_F(Transport, ConcurrentReadersOfTwoObjectsDoNotDisturbEachOther) {
    // Two objects on two boards, two threads: each sees only its own board's
    // replies, in order.
    auto a = Plug(u"maker", u"A");
    auto b = Plug(u"maker", u"B");
    hiddata ha(bus, "a");
    hiddata hb(bus, "b");
    ASSERT_EQ(Open(ha, "maker", "A"), 0);
    ASSERT_EQ(Open(hb, "maker", "B"), 0);
    auto run = [](hiddata& h, bool& ok) {
        const Frame cmd = testing::CommandFrame(0x10);
        for (int i = 1; i <= 200; ++i) {
            h.write_report(cmd.data());
            ok = ok && h.read_report()[1] == static_cast<std::uint8_t>(i);
        }
    };
    bool ok_a = true;
    bool ok_b = true;
    std::thread ta(run, std::ref(ha), std::ref(ok_a));
    std::thread tb(run, std::ref(hb), std::ref(ok_b));
    ta.join();
    tb.join();
    EXPECT_TRUE(ok_a);
    EXPECT_TRUE(ok_b);
}

}  // namespace
}  // namespace kx

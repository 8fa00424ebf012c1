// SPDX-License-Identifier: MIT
#include "sim/usb_frame_bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "tests/support/fixed_reply_board.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sim::UsbFrameBus;
using testing::CommandFrame;

// One-to-one tester queries whose replies tell them apart by their first
// word (big-endian): upper limits 1100, lower limits 500, reference 700.
constexpr std::uint8_t kUpper = 0x10;
constexpr std::uint8_t kLower = 0x20;
constexpr std::uint8_t kReference = 0x01;
constexpr std::uint16_t kUpperWord = 1100;
constexpr std::uint16_t kLowerWord = 500;
constexpr std::uint16_t kReferenceWord = 700;

// Long enough that a check made right after a write is well inside the
// frame, even on a loaded machine; used where the timing is the point.
constexpr auto kSlowFrame = 50ms;

struct Input {
    int n = 0;
    std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
    Clock::time_point at;
    std::uint16_t word() const { return static_cast<std::uint16_t>(payload[0] << 8 | payload[1]); }
};

Input Read(HidHandle& h, int timeout_ms = 300) {
    Input in;
    in.n = h.read_input(in.payload.data(), timeout_ms);
    in.at = Clock::now();
    return in;
}

int Write(HidHandle& h, std::uint8_t code, std::uint8_t byte4 = 0) {
    const Frame f = CommandFrame(code, byte4);
    return h.write_output(f.data());
}

class UsbFrames : public ::testing::Test {
protected:
    UsbFrames() {
        board->set_noise(0);
        path = sim.plug(board);
    }
    std::unique_ptr<HidHandle> Open(HidBus& bus) {
        auto opened = bus.open_path(path);
        EXPECT_TRUE(opened.handle);
        return std::move(opened.handle);
    }

    sim::SimBus sim;
    std::shared_ptr<sim::SimRunoffBoard> board = std::make_shared<sim::SimRunoffBoard>("borvane");
    std::string path;
    UsbFrameBus usb{sim};
};

TEST_F(UsbFrames, WrapsTheInnerBusAndItsHandles) {
    EXPECT_STREQ(usb.name(), "usb-frame");
    const auto listed = usb.enumerate();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, path);
    EXPECT_EQ(listed[0].vendor_id, 0x16A0);
    EXPECT_EQ(listed[0].manufacturer, u"borvane");

    EXPECT_EQ(usb.open_path("sim:9999").failure, OpenFailure::NotFound);
    board->set_open_failure(OpenFailure::Busy);
    const auto busy = usb.open_path(path);
    EXPECT_FALSE(busy.handle);
    EXPECT_EQ(busy.failure, OpenFailure::Busy);
    board->set_open_failure(OpenFailure::None);

    auto h = Open(usb);
    EXPECT_EQ(h->input_interval(), 1ms);
    UsbFrameBus fast(sim, 100us);
    EXPECT_EQ(Open(fast)->input_interval(), 100us);

    // A reply on its way dies with the device: the read says it is gone.
    ASSERT_GT(Write(*h, kUpper), 0);
    sim.unplug(board);
    EXPECT_EQ(Read(*h).n, -1);
    EXPECT_EQ(Write(*h, kUpper), -1);
}

// The software board has all three replies ready at once; the endpoint hands
// them over a frame apart, in order, the first a frame after the command.
TEST_F(UsbFrames, OneReportPerFrameInOrder) {
    UsbFrameBus slow(sim, kSlowFrame);
    auto h = Open(slow);

    const auto t0 = Clock::now();
    ASSERT_GT(Write(*h, kUpper), 0);
    ASSERT_GT(Write(*h, kLower), 0);
    ASSERT_GT(Write(*h, kReference), 0);
    const Input early = Read(*h, 0);
    EXPECT_TRUE(early.n == 0 || early.at - t0 >= kSlowFrame) << "a reply before its frame";

    const std::uint16_t expected[] = {kUpperWord, kLowerWord, kReferenceWord};
    for (int k = 0; k < 3; ++k) {
        const Input in = Read(*h);
        ASSERT_EQ(in.n, 64) << k;
        EXPECT_EQ(in.word(), expected[k]) << k;
        EXPECT_GE(in.at - t0, (k + 1) * kSlowFrame) << k;
    }
    EXPECT_EQ(Read(*h, 0).n, 0);

    // A board that answers late: its reply is found when ready and handed
    // over a frame later.
    board->set_reply_delay(30ms);
    const auto t1 = Clock::now();
    ASSERT_GT(Write(*h, kLower), 0);
    const Input late = Read(*h);
    ASSERT_EQ(late.n, 64);
    EXPECT_EQ(late.word(), kLowerWord);
    EXPECT_GE(late.at - t1, 30ms + kSlowFrame);
}

// A stray report the board sends right after a reply reaches the host a
// frame after that reply: after the station has sent its next command, so a
// reader that takes the first report after a command as its reply is one
// reply behind from then on.
TEST_F(UsbFrames, StrayArrivesAfterTheNextCommandAndShiftsTheReplies) {
    Frame given{};
    given[1] = 0xAB;
    given[2] = 0xCD;
    struct Case {
        const char* name;
        bool given_bytes;
        std::uint16_t stray_word;
    };
    const Case cases[] = {
        {"copy of the reply", false, kUpperWord},
        {"given bytes", true, 0xABCD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UsbFrameBus slow(sim, kSlowFrame);
        auto h = Open(slow);
        if (c.given_bytes) {
            slow.add_stray(UsbFrameBus::Code(kUpper), given);
        } else {
            slow.add_stray(UsbFrameBus::Code(kUpper));
        }
        // Another command's reply gets no stray.
        ASSERT_GT(Write(*h, kReference), 0);
        EXPECT_EQ(Read(*h).word(), kReferenceWord);

        const auto t0 = Clock::now();
        ASSERT_GT(Write(*h, kUpper), 0);
        EXPECT_EQ(Read(*h).word(), kUpperWord);
        // Nothing is waiting when the next command goes out: discarding what
        // is waiting before a command does not catch the stray.
        const Input before = Read(*h, 0);
        EXPECT_TRUE(before.n == 0 || before.at - t0 >= 2 * kSlowFrame);
        ASSERT_GT(Write(*h, kLower), 0);

        const Input stray = Read(*h);
        ASSERT_EQ(stray.n, 64);
        EXPECT_EQ(stray.word(), c.stray_word) << "taken as the lower limits' reply";
        EXPECT_GE(stray.at - t0, 2 * kSlowFrame);

        ASSERT_GT(Write(*h, kReference), 0);
        EXPECT_EQ(Read(*h).word(), kLowerWord) << "taken as the reference's reply";
        EXPECT_EQ(Read(*h).word(), kReferenceWord);
        EXPECT_EQ(Read(*h, 0).n, 0);
        EXPECT_EQ(slow.delivered().strays, 1);
    }
}

TEST_F(UsbFrames, StraysFollowOnlyTheNextCountMatchingReplies) {
    auto h = Open(usb);
    usb.add_stray(UsbFrameBus::Code(kUpper), 2);
    // Replies read after each command, in order: the count runs down on
    // matching replies only.
    const std::uint8_t commands[] = {kUpper, kLower, kUpper, kUpper};
    std::vector<std::uint16_t> read;
    for (std::uint8_t code : commands) {
        ASSERT_GT(Write(*h, code), 0);
        for (Input in = Read(*h, 20); in.n > 0; in = Read(*h, 20)) {
            read.push_back(in.word());
        }
    }
    EXPECT_EQ(read, (std::vector<std::uint16_t>{kUpperWord, kUpperWord, kLowerWord, kUpperWord,
                                                kUpperWord, kUpperWord}));
    EXPECT_EQ(usb.delivered().strays, 2);
}

TEST_F(UsbFrames, CutShortRepliesKeepTheRestOfTheBuffer) {
    auto h = Open(usb);
    // The reply to the upper limits: 1100 (0x044C) in every channel.
    std::array<std::uint8_t, 64> full{};
    for (std::size_t i = 0; i < full.size(); i += 2) {
        full[i] = 0x04;
        full[i + 1] = 0x4C;
    }
    for (int bytes : {0, 1, 2, 33, 63, 64}) {
        SCOPED_TRACE(bytes);
        usb.cut_short(UsbFrameBus::Code(kUpper), bytes);
        ASSERT_GT(Write(*h, kUpper), 0);
        std::array<std::uint8_t, 64> payload;
        payload.fill(0xEE);
        // A report of no bytes reads as none, once its frame has come.
        EXPECT_EQ(h->read_input(payload.data(), 100), bytes);
        for (std::size_t i = 0; i < payload.size(); ++i) {
            ASSERT_EQ(payload[i], i < static_cast<std::size_t>(bytes) ? full[i] : 0xEE) << i;
        }
    }

    // Only the next `count` matching replies.
    usb.cut_short(UsbFrameBus::Code(kLower), 4, 2);
    std::vector<int> lengths;
    for (std::uint8_t code : {kUpper, kLower, kUpper, kLower, kLower}) {
        ASSERT_GT(Write(*h, code), 0);
        lengths.push_back(Read(*h).n);
    }
    EXPECT_EQ(lengths, (std::vector<int>{64, 4, 64, 4, 64}));
    EXPECT_EQ(usb.delivered().shorts, 8);
}

TEST_F(UsbFrames, FailedWritesNeverReachTheBoard) {
    // Attempts in order: 'u' the matching upper-limits query, 'l' another
    // command. `results` is what each attempt returned (+ written, - refused).
    struct Case {
        int skip;
        int times;
        const char* attempts;
        const char* results;
    };
    const Case cases[] = {
        {0, 1, "uuu", "-++"},     {1, 2, "ululuu", "++-+-+"},
        {2, 1, "uluuu", "+++-+"},  // the l does not count
        {0, 2, "uuu", "--+"},      // a retry of the refused report counts
        {0, 3, "ulu", "-+-"},      // runs out with the attempts
        {0, 0, "uu", "++"},        // nothing to refuse
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.attempts) + " skip " + std::to_string(c.skip) + " times " +
                     std::to_string(c.times));
        UsbFrameBus bus(sim);
        auto h = Open(bus);
        bus.fail_output(UsbFrameBus::Code(kUpper), c.skip, c.times);
        board->clear_received();
        std::string results;
        std::vector<std::uint8_t> written;  // byte 4: the attempt's number
        std::uint8_t number = 0;
        for (const char* a = c.attempts; *a != 0; ++a, ++number) {
            const int n = Write(*h, *a == 'u' ? kUpper : kLower, number);
            results += n > 0 ? '+' : '-';
            EXPECT_TRUE(n == 65 || n == -1) << n;
            if (n > 0) {
                written.push_back(number);
            }
        }
        EXPECT_EQ(results, c.results);
        std::vector<std::uint8_t> received;
        for (const Frame& f : board->received_outputs()) {
            received.push_back(f[4]);
        }
        EXPECT_EQ(received, written);
        // Only what the board took is answered.
        int replies = 0;
        while (Read(*h, 20).n > 0) {
            ++replies;
        }
        EXPECT_EQ(replies, static_cast<int>(written.size()));
        EXPECT_EQ(bus.delivered().failed_writes,
                  static_cast<int>(std::count(results.begin(), results.end(), '-')));
    }
}

// A master board with three heads; the read-values command (0xF0, head in
// byte 4) of head 1 gets no reply, every other command and head does.
TEST(UsbFrameMaster, SilenceOneHeadWhileTheOthersAnswer) {
    sim::SimBus sim;
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->set_noise(0);
    board->set_present_heads({0, 1, 2});
    for (int head = 0; head < 3; ++head) {
        board->set_value(head, 0, static_cast<std::uint16_t>(1000 + head));
    }
    const std::string path = sim.plug(board);
    UsbFrameBus usb(sim);
    hiddata_masterHID master(usb);
    ASSERT_EQ(master.open_board(), 0);

    // Set after the transport opened its handle: applies to it as well.
    const auto values = UsbFrameBus::Code(0xF0);
    usb.silence([values](const Frame& f) { return values(f) && f[4] == 1; });

    EXPECT_EQ(master.read_values(0).value_or(Words{})[0], 1000);
    EXPECT_EQ(master.read_values(2).value_or(Words{})[0], 1002);
    EXPECT_TRUE(master.probe_head(1));
    EXPECT_EQ(master.read_upper_limits(1).value_or(Words{})[0], 1100);
    // The transport waits out its read bound for the swallowed reply.
    EXPECT_FALSE(master.read_values(1).has_value());
    EXPECT_EQ(usb.delivered().silenced, 1);
    // The board took the command; only its reply was lost.
    const auto outputs = board->received_outputs();
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(outputs.back(), CommandFrame(0xF0, 1));

    // A handle opened later is silenced too, until the silence is cleared.
    auto h = usb.open_path(path).handle;
    ASSERT_TRUE(h);
    ASSERT_GT(Write(*h, 0xF0, 1), 0);
    EXPECT_EQ(Read(*h, 20).n, 0);
    ASSERT_GT(Write(*h, 0xF0, 2), 0);
    EXPECT_EQ(Read(*h).word(), 1002);
    usb.clear_silence();
    ASSERT_GT(Write(*h, 0xF0, 1), 0);
    EXPECT_EQ(Read(*h).word(), 1001);
    EXPECT_EQ(usb.delivered().silenced, 2);
}

TEST_F(UsbFrames, DelayedReplyKeepsTheOnesBehindIt) {
    auto h = Open(usb);
    usb.delay_next(UsbFrameBus::Code(kUpper), 40ms);
    const auto t0 = Clock::now();
    ASSERT_GT(Write(*h, kUpper), 0);
    ASSERT_GT(Write(*h, kLower), 0);  // answered at once, handed over after
    const Input first = Read(*h);
    const Input second = Read(*h);
    EXPECT_EQ(first.word(), kUpperWord);
    EXPECT_GE(first.at - t0, 40ms + 1ms);
    EXPECT_EQ(second.word(), kLowerWord);
    EXPECT_GE(second.at - t0, 40ms + 2ms);
    // Only the next one.
    ASSERT_GT(Write(*h, kUpper), 0);
    EXPECT_EQ(Read(*h).word(), kUpperWord);
    EXPECT_EQ(usb.delivered().delayed, 1);
}

// Feature transfers pass straight through, with the faults matched on the
// last set_feature frame. A classic tester answers a feature read with the
// reply its last query frame (code in byte 1, 0x55 0xAA at 7-8) prepared.
TEST(UsbFrameFeatures, ShortRefusedAndFailedFeatureTransfers) {
    sim::SimBus sim;
    auto board = std::make_shared<sim::SimClassicBoard>();
    const std::string path = sim.plug(board);
    UsbFrameBus usb(sim);
    auto h = usb.open_path(path).handle;
    ASSERT_TRUE(h);
    const auto query = [](std::uint8_t code) {
        Frame f{};
        f[1] = code;
        f[7] = 0x55;
        f[8] = 0xAA;
        return f;
    };
    const auto firmware = [](const Frame& f) { return f[1] == 0x40; };
    const auto ask = [&](std::uint8_t code, Frame& reply) {
        const Frame q = query(code);
        EXPECT_EQ(h->set_feature(q.data()), 65);
        reply.fill(0xEE);
        reply[0] = 0;
        return h->get_feature(reply.data());
    };

    Frame reply;
    ASSERT_EQ(ask(0x40, reply), 65);
    const Frame full = reply;  // firmware date, version and flags in 1-7
    EXPECT_EQ(full[7], 0x80);

    usb.cut_short(firmware, 4);
    EXPECT_EQ(ask(0x52, reply), 65);  // another query: whole
    EXPECT_EQ(ask(0x40, reply), 4);
    EXPECT_EQ(reply[3], full[3]);
    EXPECT_EQ(reply[4], 0xEE);
    EXPECT_EQ(ask(0x40, reply), 65);

    usb.silence(firmware);
    EXPECT_EQ(ask(0x40, reply), -1);
    EXPECT_EQ(ask(0x52, reply), 65);
    usb.clear_silence();
    EXPECT_EQ(ask(0x40, reply), 65);

    // Of the matching set_feature attempts, the second is refused and never
    // reaches the board.
    board->clear_received();
    usb.fail_set_feature(firmware, 1, 1);
    std::vector<int> sent;
    for (std::uint8_t code : {0x40, 0x52, 0x40, 0x40}) {
        const Frame q = query(code);
        sent.push_back(h->set_feature(q.data()));
    }
    EXPECT_EQ(sent, (std::vector<int>{65, 65, -1, 65}));
    int taken = 0;
    for (const auto& r : board->received()) {
        taken += r.kind == sim::ReceivedReport::Kind::SetFeature;
    }
    EXPECT_EQ(taken, 3);
    EXPECT_EQ(usb.delivered(), (UsbFrameBus::FaultCounts{0, 1, 1, 1, 0}));
}

// Every kind of fault applied once, then cleared; the counters stay until
// reset.
TEST_F(UsbFrames, CountersCountAppliedFaultsOnly) {
    auto h = Open(usb);
    usb.add_stray(UsbFrameBus::Code(kUpper));
    usb.cut_short(UsbFrameBus::Code(kLower), 8);
    usb.fail_output(UsbFrameBus::Code(kReference));
    usb.silence(UsbFrameBus::Code(0xF0));
    usb.delay_next(UsbFrameBus::Code(0x30), 1ms);
    // Faults on commands that are not sent are not counted.
    usb.delay_next(UsbFrameBus::Code(0x50), 1ms);
    EXPECT_EQ(usb.delivered(), (UsbFrameBus::FaultCounts{}));

    for (std::uint8_t code : {kUpper, kLower, kReference, std::uint8_t{0xF0}, std::uint8_t{0x30}}) {
        Write(*h, code);
        while (Read(*h, 10).n > 0) {
        }
    }
    EXPECT_EQ(usb.delivered(), (UsbFrameBus::FaultCounts{1, 1, 1, 1, 1}));

    usb.clear_faults();
    for (std::uint8_t code : {kUpper, kLower, kReference, std::uint8_t{0xF0}, std::uint8_t{0x50}}) {
        ASSERT_GT(Write(*h, code), 0);
        EXPECT_EQ(Read(*h).n, 64);
    }
    EXPECT_EQ(Read(*h, 5).n, 0);
    EXPECT_EQ(usb.delivered(), (UsbFrameBus::FaultCounts{1, 1, 1, 1, 1}));
    usb.reset_counts();
    EXPECT_EQ(usb.delivered(), (UsbFrameBus::FaultCounts{}));
}

// The transport on 100 us frames while another thread adds faults and reads
// the counters: every reply is its command's, late or not.
TEST_F(UsbFrames, FaultsSetWhileTheTransportRuns) {
    board->set_value(3, 1234);
    UsbFrameBus fast(sim, 100us);
    hiddata_simple_runoff runoff(fast);
    ASSERT_EQ(runoff.open_maker(), 0);

    constexpr int kDelays = 20;
    const auto give_up = Clock::now() + 5s;
    std::atomic<bool> done{false};
    std::atomic<int> seen{0};
    std::thread faults([&] {
        for (int i = 0; i < kDelays && Clock::now() < give_up; ++i) {
            fast.delay_next(UsbFrameBus::Code(0xF0), 2ms);
            // Faults on a command the transport does not send: they change
            // the lists the handle reads, and nothing else.
            fast.silence(UsbFrameBus::Code(0x77));
            fast.cut_short(UsbFrameBus::Code(0x77), 1);
            while (fast.delivered().delayed <= i && Clock::now() < give_up) {
                std::this_thread::sleep_for(100us);
            }
            fast.clear_silence();
            seen.store(fast.delivered().delayed);
        }
        done.store(true);
    });
    int wrong = 0;
    while (!done.load() && Clock::now() < give_up) {
        const auto v = runoff.read_values();
        wrong += !v || (*v)[3] != 1234;
    }
    faults.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(seen.load(), kDelays);
}

}  // namespace
}  // namespace kx

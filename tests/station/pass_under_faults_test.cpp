// SPDX-License-Identifier: MIT
// The verdict and the PASS output when the wire misbehaves: boards whose
// reports arrive as a USB interrupt endpoint delivers them (one per frame, a
// stray one a frame after the reply it follows), with a silent head, a stray
// report, a short report, a late reply across a stop and a report that does
// not reach the board. In every case the station must never show or drive
// PASS from data it did not get whole, in order, from the head it belongs to.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/fault_rig.h"
#include "tests/support/station_wait.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using sim::UsbFrameBus;
using test::FaultRig;
using test::kFailing;
using test::kPassing;

// One master head does not answer: the others are still read, the inputs
// and the emergency stop are read and the outputs written at every step, and
// the operator is told which head is silent.
TEST(PassUnderFaults, ASilentMasterHeadHoldsUpNothingAndIsNamed) {
    FaultRig rig;
    auto board = test::MasterBoard(2);
    rig.inner.plug(board);
    ASSERT_EQ(rig.grid.GetColumns(), 2);
    rig.bus.silence(test::MasterValuesOf(2));
    board->set_value(1, 3, 900);

    const int written = board->memory().outputs_written;
    int steps = 0;
    const auto start = Clock::now();
    // Long enough for the silent head to be tried several times.
    while (Clock::now() - start < 4s || steps < 8) {
        rig.Step();
        ++steps;
        ASSERT_EQ(board->memory().outputs_written, written + steps) << "step " << steps;
        if (g_emergencyStop == 0) {
            EXPECT_EQ(board->memory().outputs[2], 0) << "PASS with a head without data";
        }
        // The stop is pressed for a moment in the middle of the run.
        if (steps == 3) {
            board->set_input(7, 1);
        } else if (steps == 5) {
            board->set_input(7, 0);
        }
    }
    EXPECT_GE(steps, 6);
    EXPECT_EQ(g_emergencyStop, 1) << "the stop pressed during the run was never latched";
    EXPECT_EQ(board->memory().outputs, (std::array<std::uint8_t, 7>{}));  // latched, buzzer off
    EXPECT_EQ(rig.Page(0).live[3], 900) << "the head that answers was not read";
    EXPECT_TRUE(rig.grid.HasData(0, 0));
    EXPECT_FALSE(rig.grid.HasData(1, 0));
    EXPECT_EQ(rig.frame->verdicts[1][0], HeadVerdict::NoData);
    EXPECT_EQ(rig.core->SilentPages(), std::vector<int>{1});
    ASSERT_FALSE(rig.Notices().empty());
    EXPECT_NE(rig.Notices().back().find("第 1 行第 2 列"), std::string::npos)
        << rig.Notices().back();

    // The head answers again: its notice goes, its data come back.
    g_emergencyStop = 0;
    rig.bus.clear_silence();
    EXPECT_TRUE(test::WaitFor([&] {
        rig.Step();
        return rig.grid.HasData(1, 0);
    }));
    EXPECT_TRUE(rig.core->SilentPages().empty());
    EXPECT_EQ(rig.Notices().back(), "");
    rig.Step();
    EXPECT_EQ(board->memory().outputs[2], 1);
}

// A stray report (a copy of a reply, a frame after it) must cost at most the
// exchange it lands in: a failing head is never judged or driven PASS, and a
// head never shows another head's values.
TEST(PassUnderFaults, AStrayReportNeverShiftsAHeadsValuesOrMakesAPass) {
    struct Case {
        const char* family;
        int strayEvery;  // steps between strays; 0: one stray only
    };
    const Case cases[] = {{"one-to-one", 0}, {"one-to-one", 100}, {"master", 0}, {"master", 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " every " + std::to_string(c.strayEvery));
        FaultRig rig(200us);
        const bool master = std::string(c.family) == "master";
        std::shared_ptr<sim::SimMasterBoard> masterBoard;
        std::shared_ptr<sim::SimRunoffBoard> runoffBoard;
        if (master) {
            masterBoard = test::MasterBoard(2);
            masterBoard->set_value(1, 0, kFailing);  // head (0, 0) fails
            rig.inner.plug(masterBoard);
        } else {
            runoffBoard = test::OneToOneBoard();
            runoffBoard->set_value(0, kFailing);
            rig.inner.plug(runoffBoard);
        }
        const hiddata& transport =
            master ? static_cast<const hiddata&>(rig.core->Find<MasterFamily>()->Board())
                   : static_cast<const hiddata&>(rig.core->Find<RunoffFamily>()->Board());
        int withData = 0;
        for (int step = 1; step <= 400; ++step) {
            if (step == 50 || (c.strayEvery > 0 && step % c.strayEvery == 0)) {
                rig.bus.add_stray(UsbFrameBus::Any());
            }
            rig.Step();
            const std::uint8_t pass =
                master ? masterBoard->memory().outputs[2] : runoffBoard->memory().outputs[0];
            ASSERT_EQ(pass, 0) << "PASS driven for a failing head at step " << step;
            ASSERT_NE(rig.frame->verdicts[0][0], HeadVerdict::Pass) << "step " << step;
            if (rig.grid.HasData(0, 0)) {
                ++withData;
                ASSERT_EQ(rig.grid.GetValues(0, 0)[0], kFailing)
                    << "another reply's values, step " << step;
            }
            if (master && rig.grid.HasData(1, 0)) {
                ASSERT_EQ(rig.grid.GetValues(1, 0)[0], kPassing) << "step " << step;
            }
        }
        const int strays = rig.bus.delivered().strays;
        EXPECT_EQ(strays, c.strayEvery > 0 ? 1 + 400 / c.strayEvery : 1);
        EXPECT_GE(transport.out_of_step_count(), static_cast<std::uint32_t>(strays));
        // Each stray costs the step it lands in, not the stream.
        EXPECT_GE(withData, 400 - 2 * strays);
    }
}

// A reply shorter than a full report is no reply: it never becomes limits
// or values padded with zeros.
TEST(PassUnderFaults, AShortReportIsNoReplyNeverZeros) {
    FaultRig rig;
    auto board = test::OneToOneBoard();
    board->set_value(9, 0);  // an open channel: below every sane lower limit
    rig.bus.cut_short(UsbFrameBus::Code(test::kReadLowerCode), 16);
    rig.inner.plug(board);

    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_EQ(rig.messages[0], NoAnswerMessage(RunoffFamily::kName));
    // The lower limits never came: the page keeps its own, none became 0.
    for (int k = 0; k < kChannels; ++k) {
        EXPECT_EQ(rig.Page(0).lower[static_cast<std::size_t>(k)], PageRecord::Defaults().lower[0])
            << k;
    }
    rig.bus.cut_short(UsbFrameBus::Code(test::kReadValuesCode), 16, 3);
    for (int step = 0; step < 20; ++step) {
        rig.Step();
        EXPECT_EQ(board->memory().outputs[0], 0) << "PASS with an open channel, step " << step;
        if (rig.grid.HasData(0, 0)) {
            EXPECT_EQ(rig.grid.GetValues(0, 0)[0], kPassing) << step;
            EXPECT_EQ(rig.grid.GetValues(0, 0)[31], kPassing) << "a short reply padded, " << step;
        }
    }
    EXPECT_EQ(rig.bus.delivered().shorts, 4);
    EXPECT_NE(rig.frame->verdicts[0][0], HeadVerdict::Pass);
}

// A stop (here: another HID device unplugged while a live read waits) cuts
// the read's wait short; its reply, on its way, must still never be taken
// for the answer of the settings read that the reconnection starts.
TEST(PassUnderFaults, ALateReplyAcrossAStopNeverBecomesASetting) {
    FaultRig rig;
    auto board = test::OneToOneBoard();
    board->set_value(0, 0x0923);  // 2339, byte-swapped 0x2309
    rig.inner.plug(board);
    auto mouse = std::make_shared<sim::SimRunoffBoard>("a mouse, to the station");
    rig.inner.plug(mouse);

    // The worker's next live read gets its reply 1.2 s late; 100 ms into
    // its wait the mouse goes, which stops the worker (cutting the wait
    // short) and sets the board up again, reading its settings.
    rig.bus.delay_next(UsbFrameBus::Code(test::kReadValuesCode), 1200ms);
    rig.core->StartAcquisition();
    std::this_thread::sleep_for(100ms);
    rig.inner.unplug(mouse);
    EXPECT_EQ(rig.bus.delivered().delayed, 1);

    EXPECT_EQ(rig.Page(0).reference[0], kPassing) << "the late live values became the reference";
    EXPECT_EQ(rig.Page(0).upper[0], test::kUpper);
    EXPECT_EQ(rig.Page(0).lower[0], test::kLower);
}

// The second report of the outputs command does not reach the board: it is
// sent again, and the board never takes another command's report for it.
// When it never goes, the handle is closed and the station asks to connect
// again; the next open sends the missing report first.
TEST(PassUnderFaults, AnOutputsReportThatDoesNotGoNeverLeavesHalfACommand) {
    struct Case {
        const char* what;
        int failures;  // consecutive failed attempts at the second report
        bool lost;
    };
    const Case cases[] = {
        {"once, then retried", 1, false},
        {"never: the board is lost and reopened", hiddata::kContinuationTries, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FaultRig rig;
        auto board = test::MasterBoard(2);
        board->set_value(2, 0, kFailing);
        rig.inner.plug(board);
        for (int i = 0; i < 3; ++i) {
            rig.Step();
        }
        ASSERT_EQ(board->memory().outputs[4], 1) << "the fail count";
        board->clear_received();
        rig.bus.fail_output(test::DataReportOf(test::kOutputsCode), 0, c.failures);
        for (int i = 0; i < 5; ++i) {
            rig.Step();
            const auto outputs = board->memory().outputs;
            ASSERT_EQ(outputs[2], 0) << "PASS from another command's bytes, step " << i;
            ASSERT_LE(outputs[4], 2) << "a fail count from another command's bytes";
            if (c.lost && i == 0) {
                EXPECT_TRUE(rig.core->Find<MasterFamily>()->Board().lost());
                EXPECT_EQ(rig.reconnectsAsked.load(), 1);
                rig.core->Connect();  // what the window does when asked
                EXPECT_FALSE(rig.core->Find<MasterFamily>()->Board().lost());
            }
        }
        EXPECT_EQ(rig.bus.delivered().failed_writes, c.failures);
        EXPECT_EQ(board->memory().unknown_commands, 0);
        EXPECT_EQ(board->memory().outputs, (std::array<std::uint8_t, 7>{0, 0, 0, 0, 1, 0, 0}));
        // Every outputs command the board got was whole: its data report,
        // not another command's report, came right after it.
        const std::vector<Frame> got = board->received_outputs();
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (test::IsCommandReport(got[i]) && got[i][3] == test::kOutputsCode) {
                ASSERT_LT(i + 1, got.size());
                EXPECT_FALSE(test::IsCommandReport(got[i + 1])) << "report " << i + 1;
            }
        }
        EXPECT_EQ(rig.reconnectsAsked.load(), c.lost ? 1 : 0);
    }
}

// A Velmora5 setting is three reports: the command, the head and the data.
// Whichever of the last two does not go, the board must never take another
// command's report for what is missing: the next open sends the rest of the
// setting whole, and the board holds the limits the station wrote.
TEST(PassUnderFaults, AVelmora5SettingThatDoesNotGoWholeIsOwedWhole) {
    struct Case {
        const char* what;
        int skip;  // attempts at the setting's later reports that go
    };
    const Case cases[] = {{"the head report does not go", 0}, {"the data report does not go", 1}};
    constexpr std::uint8_t kWriteUpperCode = 0x11;
    constexpr std::int32_t kWritten = 1150;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FaultRig rig;
        auto board = test::Velmora5Board();
        rig.inner.plug(board);
        ASSERT_EQ(rig.core->ActiveFamily(), FamilyId::Velmora5);
        {
            CSectionGuard guard(&rig.pages.lock);
            rig.pages.table[0].upper.fill(kWritten);
        }
        rig.bus.fail_output(test::DataReportOf(kWriteUpperCode), c.skip,
                            hiddata::kContinuationTries);
        EXPECT_FALSE(rig.core->Find<Velmora5Family>()->WritePage(0));
        ASSERT_TRUE(rig.core->Find<Velmora5Family>()->Board().lost());
        rig.core->Connect();  // what the window does when asked
        ASSERT_FALSE(rig.core->Find<Velmora5Family>()->Board().lost());
        for (int i = 0; i < 6; ++i) {
            rig.Step();
        }
        EXPECT_EQ(rig.bus.delivered().failed_writes, hiddata::kContinuationTries);
        const sim::Velmora5Memory memory = board->memory();
        EXPECT_EQ(memory.protocol_errors, 0);
        const auto& upper = memory.heads[hiddata_velmora5::head_of_page(0)].upper;
        for (int k = 0; k < kChannels; ++k) {
            EXPECT_EQ(upper[static_cast<std::size_t>(k)], kWritten)
                << "channel " << k << ": another command's report taken for the limits";
        }
    }
}

// The classic tester is read one channel per step: its head has data only
// once every one of its 32 channels answered since the connection, and a
// channel whose read goes unanswered takes the data away until it answers
// again. Values left from before must never be judged with one fresh channel.
TEST(PassUnderFaults, AClassicHeadHasDataOnlyWithEveryChannelAnswered) {
    FaultRig rig;
    auto board = test::ClassicBoard();
    rig.inner.plug(board);
    ASSERT_EQ(rig.core->ActiveFamily(), FamilyId::Classic);
    // The worker the plug's connection started may have read channels before
    // the rig stopped it (on a loaded machine, all of them): start from none.
    rig.grid.ForgetData();
    g_classicChannel = 0;
    for (int channel = 0; channel < kChannels; ++channel) {
        EXPECT_FALSE(rig.grid.HasData(0, 0)) << "data with channels " << channel << " to 31 unread";
        rig.Step();
    }
    EXPECT_TRUE(rig.grid.HasData(0, 0));
    EXPECT_EQ(rig.frame->verdicts[0][0], HeadVerdict::Pass);

    // Channel 7's read goes unanswered once: no data until it answers again.
    constexpr std::uint8_t kReadValueCode = 0x10;
    rig.bus.silence([](const Frame& f) { return f[1] == kReadValueCode && f[2] == 7; });
    g_classicChannel = 7;
    rig.Step();
    rig.bus.clear_silence();
    for (int i = 0; i < kChannels; ++i) {  // channels 8 .. 32 and 0 .. 6
        rig.Step();
        EXPECT_FALSE(rig.grid.HasData(0, 0)) << "step " << i;
        EXPECT_FALSE(rig.grid.GetPassAllowed()) << "step " << i;
    }
    rig.Step();  // channel 7 again
    EXPECT_TRUE(rig.grid.HasData(0, 0));

    // A layout change forgets the data: every channel must answer afresh.
    rig.grid.SetColumns(2);
    rig.grid.SetColumns(1);
    rig.Step();
    EXPECT_FALSE(rig.grid.HasData(0, 0)) << "data from channels read before the layout changed";
}

// Heads without data: never PASS, on screen or at the outputs.
TEST(PassUnderFaults, AHeadWithoutDataIsNeverAPass) {
    FaultRig rig;
    auto board = test::MasterBoard(1);
    rig.inner.plug(board);
    for (int i = 0; i < 3; ++i) {
        rig.Step();
    }
    ASSERT_EQ(board->memory().outputs[2], 1) << "a passing head drives PASS";
    ASSERT_EQ(rig.frame->verdicts[0][0], HeadVerdict::Pass);

    // The layout is set to 2 x 2 on a board with one head (as the board's
    // information dialog does): three heads never get data. Their pages hold
    // zero values against zero limits, every channel tested.
    {
        CSectionGuard guard(&rig.pages.lock);
        for (int p = 1; p < 4; ++p) {
            PageRecord& page = rig.pages.table[static_cast<std::size_t>(p)];
            page.mask.fill(Tested);
            page.upper.fill(0);
            page.lower.fill(0);
            page.live.fill(0);
        }
    }
    rig.grid.SetRows(2);
    rig.grid.SetColumns(2);
    for (int i = 0; i < 5; ++i) {
        rig.Step();
        ASSERT_EQ(board->memory().outputs[2], 0) << "PASS with heads without data, step " << i;
        ASSERT_FALSE(rig.frame->passOverlay);
    }
    EXPECT_EQ(rig.frame->verdicts[0][0], HeadVerdict::Pass);
    EXPECT_EQ(rig.frame->verdicts[1][0], HeadVerdict::NoData);
    EXPECT_EQ(rig.frame->verdicts[0][1], HeadVerdict::NoData);
    EXPECT_EQ(rig.frame->verdicts[1][1], HeadVerdict::NoData);
    EXPECT_EQ(rig.frame->noDataCount, 3);

    // No heads at all, or only heads without a tested channel: no PASS.
    rig.grid.SetRows(0);
    rig.Step();
    EXPECT_EQ(board->memory().outputs[2], 0) << "PASS from a layout of no heads";
    rig.grid.SetRows(1);
    rig.grid.SetColumns(1);
    {
        CSectionGuard guard(&rig.pages.lock);
        rig.pages.table[0].mask.fill(Masked);
    }
    for (int i = 0; i < 3; ++i) {
        rig.Step();
        EXPECT_EQ(board->memory().outputs[2], 0) << "PASS from a head of LOAD";
    }
    EXPECT_EQ(rig.frame->verdicts[0][0], HeadVerdict::Load);
}

}  // namespace
}  // namespace kx

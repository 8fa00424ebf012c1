#include "hid/hiddata.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "hid/device_string.h"
#include "sim/sim_bus.h"
#include "tests/fixed_reply_board.h"

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

class Transport : public ::testing::Test {
protected:
    std::shared_ptr<CountingBoard> Plug(const std::u16string& manufacturer,
                                        const std::u16string& product) {
        auto board = std::make_shared<CountingBoard>(Identity(manufacturer, product));
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
    h.write_report(cmd.data());
    const std::uint8_t* r = h.read_report();
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[1], 1);
    EXPECT_EQ(r[2], 0x01);
    EXPECT_EQ(r[3], 0x29);
    EXPECT_EQ(r[4], 0x42);
}

TEST_F(Transport, SilentBoardReadReturnsWithinTheBoundAndLeavesTheReport) {
    auto board = Plug(u"maker", u"tester");
    hiddata h(bus, "test");
    ASSERT_EQ(Open(h), 0);
    const Frame cmd = testing::CommandFrame(0x42);
    h.write_report(cmd.data());
    const Frame before = [&] {
        Frame f;
        std::copy_n(h.read_report(), f.size(), f.begin());
        return f;
    }();

    board->set_silent(true);
    h.write_report(cmd.data());
    const auto start = Clock::now();
    const std::uint8_t* r = h.read_report();
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 95ms);
    EXPECT_LT(waited, 1s);  // bounded: it came back, and not much later
    EXPECT_TRUE(std::equal(before.begin(), before.end(), r));
}

TEST_F(Transport, UnpluggedBoardReadReturnsAtOnceWithThePreviousReport) {
    auto board = Plug(u"maker", u"tester");
    hiddata h(bus, "test");
    ASSERT_EQ(Open(h), 0);
    const Frame cmd = testing::CommandFrame(0x42);
    h.write_report(cmd.data());
    const std::uint8_t first = h.read_report()[1];

    bus.unplug(board);
    h.write_report(cmd.data());
    const auto start = Clock::now();
    EXPECT_EQ(h.read_report()[1], first);
    EXPECT_LT(Clock::now() - start, 50ms);
}

TEST_F(Transport, ClosedObjectSendsNothing) {
    auto board = Plug(u"maker", u"tester");
    hiddata h(bus, "test");
    const Frame cmd = testing::CommandFrame(0x42);
    h.write_report(cmd.data());
    h.set_feature_report(cmd.data());
    EXPECT_EQ(h.read_report()[1], 0);
    EXPECT_EQ(h.get_feature_report()[1], 0);
    EXPECT_TRUE(board->received().empty());
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

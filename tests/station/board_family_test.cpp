// SPDX-License-Identifier: MIT
// The family table: one name per family in every message that names one,
// and a family the station core has never heard of, added by a table row,
// driven end to end by the unchanged core.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "station/baseline_store.h"
#include "station/config_transfer.h"
#include "station/page_access.h"
#include "station/station_core.h"
#include "tests/support/station_wait.h"

namespace kx {
namespace {

// --- one name per family ------------------------------------------------------

std::shared_ptr<sim::SimBoard> BoardOf(FamilyId id) {
    switch (id) {
        case FamilyId::OneToOne:
            return std::make_shared<sim::SimRunoffBoard>("TARSEL");
        case FamilyId::Velmora5:
            return std::make_shared<sim::SimVelmora5Board>();
        case FamilyId::Master:
            return std::make_shared<sim::SimMasterBoard>();
        case FamilyId::Classic:
            return std::make_shared<sim::SimClassicBoard>();
        case FamilyId::None:
            break;
    }
    return nullptr;
}

// A station with one board of the family plugged in, and the messages its
// connection showed.
struct OneBoardStation {
    explicit OneBoardStation(const std::shared_ptr<sim::SimBoard>& board) {
        test::ResetStationState();
        StationCallbacks callbacks;
        callbacks.showMessage = [this](const std::string& m) { messages.push_back(m); };
        core = std::make_unique<StationCore>(bus, grid, pages, std::move(callbacks));
        bus.plug(board);
        core->Connect();
    }
    sim::SimBus bus;
    GridModel grid;
    test::DefaultPages pages;
    std::vector<std::string> messages;
    std::unique_ptr<StationCore> core;
};

// `text` names the family `name` and no other family of the table.
void ExpectNamesOnly(const std::string& text, const std::string& name) {
    EXPECT_NE(text.find(name), std::string::npos) << text;
    for (const FamilyRow& other : StandardFamilyTable()) {
        if (other.name != name) {
            EXPECT_EQ(text.find(other.name), std::string::npos) << other.name << " in " << text;
        }
    }
}

TEST(FamilyNames, EveryMessageThatNamesAFamilyUsesItsOneName) {
    std::set<std::string> names;
    for (const FamilyRow& row : StandardFamilyTable()) {
        const std::string name = row.name;
        SCOPED_TRACE(name);
        EXPECT_TRUE(names.insert(name).second) << "two families share a name";
        EXPECT_EQ(FamilyName(row.id), name);

        // Connection: a board that cannot be opened, one that does not answer.
        {
            auto board = BoardOf(row.id);
            board->set_open_failure(OpenFailure::NoPermission);
            OneBoardStation station(board);
            EXPECT_EQ(station.core->Find(row.id)->Name(), name);
            ASSERT_EQ(station.messages.size(), 1u);
            ExpectNamesOnly(station.messages[0], name);
        }
        {
            auto board = BoardOf(row.id);
            board->set_silent(true);
            OneBoardStation station(board);
            ASSERT_EQ(station.core->ActiveFamily(), row.id);
            ASSERT_EQ(station.messages.size(), 1u);
            EXPECT_EQ(station.messages[0], NoAnswerMessage(name));
            ExpectNamesOnly(station.messages[0], name);
        }

        // The baseline store-back and the configuration load.
        BaselineWriteReport report;
        report.notAnswered = {row.id};
        ExpectNamesOnly(BaselineWriteMessage(report), name);
        SettingsWriteRun run;
        run.NoteMissed(row.id);
        ExpectNamesOnly(MissedFamiliesNotice(run), name);

        // The import of the older layout goes to a one-to-one board only.
        if (row.id == FamilyId::OneToOne) {
            LegacyImportResult missing;
            missing.noRunoff = true;
            ExpectNamesOnly(LegacyImportNotice(missing), name);
            LegacyImportResult missed;
            missed.run.NoteMissed(row.id);
            ExpectNamesOnly(LegacyImportNotice(missed), name);
        }
    }
}

TEST(FamilyTable, ConnectionPriorityAndWriteOrderAreTheStationsOwn) {
    sim::SimBus bus;
    GridModel grid;
    PageStore pages;
    StationCore core(bus, grid, pages);
    std::vector<FamilyId> priority;
    for (const BoardFamily* family : core.Families()) {
        priority.push_back(family->Id());
    }
    std::vector<FamilyId> writes;
    for (const BoardFamily* family : core.WriteOrder()) {
        writes.push_back(family->Id());
    }
    EXPECT_EQ(priority, (std::vector<FamilyId>{FamilyId::OneToOne, FamilyId::Velmora5,
                                               FamilyId::Master, FamilyId::Classic}));
    EXPECT_EQ(writes, (std::vector<FamilyId>{FamilyId::Classic, FamilyId::Master,
                                             FamilyId::Velmora5, FamilyId::OneToOne}));

    // The families that missed are named in write order, whatever order
    // they missed in.
    SettingsWriteRun run;
    run.NoteMissed(FamilyId::OneToOne);
    run.NoteMissed(FamilyId::Classic);
    run.NoteMissed(FamilyId::OneToOne);
    EXPECT_EQ(run.MissedNames(),
              (std::vector<std::string>{ClassicFamily::kName, RunoffFamily::kName}));
}

// --- a family added by a table row ----------------------------------------------

// A board kept in memory: what the family reads from it and what the station
// wrote to it.
struct MemoryBoard {
    bool plugged = true;
    bool answers = true;
    std::int32_t measured = 900;
    std::int32_t upperLimit = 1234;
    // Worker and user-interface thread.
    std::mutex lock;
    int steps = 0;
    std::vector<int> pagesWritten;
    std::vector<std::int32_t> upperWritten;
    bool switchedOff = false;
};

// The whole family: one head, its board in memory.
class MemoryFamily final : public BoardFamily {
public:
    static constexpr FamilyId kId = FamilyId{42};
    static constexpr const char* kName = "内存测试板";
    static constexpr const char* kTitle = "内存测试板 设备已经连接";

    MemoryFamily(MemoryBoard& board, FamilyHost& host) : BoardFamily(host), board_(board) {}

    FamilyId Id() const override { return kId; }
    const char* Name() const override { return kName; }
    const char* Title() const override { return kTitle; }

    void Probe(OpenRefusal& /*refusal*/) override { present_ = board_.plugged; }
    bool Ready() const override { return ready_; }
    void ClearReady() override { ready_ = false; }
    bool SetUp() override {
        host_.Grid().SetColumns(1);
        host_.Grid().SetRows(1);
        ready_ = true;
        return ReadSettings();
    }

    void Step() override {
        {
            std::lock_guard guard(board_.lock);
            ++board_.steps;
        }
        host_.Pages().EditPage(0, [&](PageRecord& p) { p.live.fill(board_.measured); });
        host_.SetPageEpoch(0, host_.Grid().DataEpoch());
        host_.HandOverPages();
    }

    bool ReadSettings() override {
        host_.Pages().EditPage(0, [&](PageRecord& p) { p.upper.fill(board_.upperLimit); });
        return board_.answers;
    }
    bool WritePage(int page) override {
        std::lock_guard guard(board_.lock);
        if (!board_.answers) {
            return false;
        }
        board_.pagesWritten.push_back(page);
        board_.upperWritten.push_back(host_.Pages().Copy(page).upper[0]);
        return true;
    }
    void SwitchOff() override {
        std::lock_guard guard(board_.lock);
        board_.switchedOff = Present();
    }

private:
    std::vector<hiddata*> Boards() override { return {}; }

    MemoryBoard& board_;
    bool ready_ = false;
};

class AddedFamily : public ::testing::Test {
protected:
    AddedFamily() {
        test::ResetStationState();
        FamilyTable table = StandardFamilyTable();
        // Lowest priority; written before every standard family.
        table.push_back(
            {MemoryFamily::kId, MemoryFamily::kName, -1, [this](HidBus&, FamilyHost& host) {
                 return std::make_unique<MemoryFamily>(memory, host);
             }});
        StationCallbacks callbacks;
        callbacks.showMessage = [this](const std::string& m) { messages.push_back(m); };
        core = std::make_unique<StationCore>(bus, grid, pages, std::move(callbacks), table);
    }

    int Steps() {
        std::lock_guard guard(memory.lock);
        return memory.steps;
    }

    MemoryBoard memory;
    sim::SimBus bus;
    GridModel grid;
    test::DefaultPages pages;
    std::vector<std::string> messages;
    std::unique_ptr<StationCore> core;
};

TEST_F(AddedFamily, IsConnectedPolledWrittenAndClosedByTheCore) {
    core->Connect();
    EXPECT_EQ(core->Title(), MemoryFamily::kTitle);
    EXPECT_EQ(core->ActiveFamily(), MemoryFamily::kId);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(pages.Copy(0).upper[0], memory.upperLimit);
    EXPECT_EQ(core->AcquisitionWorkers(), 1);

    // Polled by the worker: its values reach the grid as data.
    ASSERT_TRUE(test::WaitFor([&] { return grid.HasData(0, 0); }));
    EXPECT_EQ(grid.GetValues(0, 0)[0], memory.measured);
    core->StopAcquisition();
    const int before = Steps();
    core->AcquireStep();
    EXPECT_EQ(Steps(), before + 1);

    // A load's pages reach it.
    SettingsWriteRun run;
    EXPECT_TRUE(core->WritePageToBoards(0, run));
    EXPECT_TRUE(core->WritePageToBoards(1, run));
    EXPECT_EQ(memory.pagesWritten, (std::vector<int>{0, 1}));
    EXPECT_FALSE(run.AnyMissed());

    core->Close();
    EXPECT_TRUE(memory.switchedOff);
    memory.plugged = false;
    core->Connect();  // closed: nothing
    EXPECT_EQ(core->ActiveFamily(), MemoryFamily::kId);
}

TEST_F(AddedFamily, ABoardThatMissesIsNamedAndSkippedForTheRestOfTheLoad) {
    memory.answers = false;
    core->Connect();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], NoAnswerMessage(MemoryFamily::kName));

    SettingsWriteRun run;
    EXPECT_FALSE(core->WritePageToBoards(0, run));
    EXPECT_TRUE(run.Missed(MemoryFamily::kId));
    memory.answers = true;
    EXPECT_FALSE(core->WritePageToBoards(1, run));
    EXPECT_TRUE(memory.pagesWritten.empty());
    ExpectNamesOnly(MissedFamiliesNotice(run), MemoryFamily::kName);
}

TEST_F(AddedFamily, AHigherPriorityBoardIsPolledAndBothAreWritten) {
    auto classic = std::make_shared<sim::SimClassicBoard>();
    bus.plug(classic);
    core->Connect();
    EXPECT_EQ(core->ActiveFamily(), FamilyId::Classic);
    // The added family's board beside it is named as not in use.
    EXPECT_EQ(core->Title(), TitleWithUnusedBoard(kTitleClassic, MemoryFamily::kName));
    core->StopAcquisition();
    core->AcquireStep();
    EXPECT_EQ(Steps(), 0) << "a lower-priority board is never polled";

    pages.EditPage(0, [](PageRecord& p) { p.upper.fill(1111); });
    SettingsWriteRun run;
    EXPECT_TRUE(core->WritePageToBoards(0, run));
    EXPECT_EQ(memory.upperWritten, (std::vector<std::int32_t>{1111}));
    EXPECT_EQ(classic->memory().upper[0], 1111);

    // Unplugged: the core falls back to the next family of the table.
    bus.unplug(classic);
    core->OnDeviceChange(HotplugEvent::Removal, {});
    EXPECT_EQ(core->ActiveFamily(), MemoryFamily::kId);
    memory.plugged = false;
    core->OnDeviceChange(HotplugEvent::Removal, {});
    EXPECT_EQ(core->ActiveFamily(), FamilyId::None);
    EXPECT_EQ(core->Title(), kTitleDisconnected);
    EXPECT_EQ(grid.GetRows(), 0);
}

}  // namespace
}  // namespace kx

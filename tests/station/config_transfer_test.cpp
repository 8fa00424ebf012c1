// SPDX-License-Identifier: MIT
// The configuration commands without their window, on the simulated bus:
// a load page by page while the acquisition worker polls and hands pages to
// the grid, a save while the worker writes live values (both also run under
// ThreadSanitizer), and the operator's texts about boards that did not take
// a configuration.
#include "station/config_transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "tests/support/default_pages.h"
#include "tests/support/page_settings.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

PageTable Table(int pages, int upperBase) {
    PageTable t;
    InitPageTable(t);
    for (int p = 0; p < pages; ++p) {
        PageRecord& r = t[static_cast<std::size_t>(p)];
        r.upper.fill(upperBase + p);
        r.lower.fill(200 + p);
        r.mask.fill(Tested);
        r.rangeMax = 1500;  // the master's board-wide range, the same for all
    }
    return t;
}

class ConfigTransfer : public ::testing::Test {
protected:
    ConfigTransfer() {
        runoff->set_noise(0);
        master->set_present_heads({0, 1, 2, 3, 4, 5});
        for (int p = 0; p < 6; ++p) {
            master->assign(p, p / 3, p % 3, p);
        }
        bus.plug(runoff);
        bus.plug(velmora5);
        bus.plug(master);
        core.Initialise();  // the worker polls the one-to-one board from now on
    }

    test::TempDir dir;
    sim::SimBus bus;
    GridModel grid;
    PageStore pages;
    StationCore core{bus, grid, pages};
    std::shared_ptr<sim::SimRunoffBoard> runoff = std::make_shared<sim::SimRunoffBoard>("borvane");
    std::shared_ptr<sim::SimVelmora5Board> velmora5 = std::make_shared<sim::SimVelmora5Board>();
    std::shared_ptr<sim::SimMasterBoard> master = std::make_shared<sim::SimMasterBoard>();
};

// The worker keeps polling and handing pages to the grid while the load
// fills the table and writes every page; the live values it wrote stay.
TEST_F(ConfigTransfer, LoadsPageByPageWhileTheWorkerPolls) {
    ASSERT_EQ(core.AcquisitionWorkers(), 1);
    ASSERT_TRUE(core.Find<MasterFamily>()->Board().load_position_map());
    const std::string path = (dir.path() / "six.ini").string();
    const PageTable saved = Table(6, 1000);
    ASSERT_FALSE(SaveConfig(path, ConfigGlobals{0, 3, 2}, saved));

    FileError error;
    std::optional<ConfigLoadJob> job = ConfigLoadJob::Open(path, error);
    ASSERT_TRUE(job) << error.Message();
    job->ApplyGlobals(grid);
    EXPECT_EQ(grid.GetColumns(), 3);
    EXPECT_EQ(grid.GetRows(), 2);
    ASSERT_EQ(job->PageCount(), 6);
    while (!job->Done()) {
        job->LoadNextPage(core);
    }
    job->LoadNextPage(core);  // done: nothing more
    EXPECT_EQ(job->PagesDone(), 6);
    EXPECT_EQ(job->Report(), "");

    for (int p = 0; p < 6; ++p) {
        CSectionGuard guard(&pages.lock);
        EXPECT_EQ(pages.table[static_cast<std::size_t>(p)].upper[0], 1000 + p) << p;
        EXPECT_EQ(master->memory().heads[static_cast<std::size_t>(p)].lower[0], 200 + p) << p;
    }
    for (int p = 0; p < 6; ++p) {
        EXPECT_EQ(velmora5->memory().heads[static_cast<std::size_t>(p + 2)].upper[0], 1000 + p)
            << p;
    }
    // The grid's heads get the new limits from the worker.
    bool handed = false;
    for (int i = 0; i < 2000 && !handed; ++i) {
        handed = grid.GetUpperLimits(0, 0)[0] == 1000;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(handed);

    // A page's live values are the worker's, not the file's: a load keeps them.
    core.StopAcquisition();
    {
        CSectionGuard guard(&pages.lock);
        pages.table[1].live[4] = 777;
    }
    job = ConfigLoadJob::Open(path, error);
    ASSERT_TRUE(job);
    while (!job->Done()) {
        job->LoadNextPage(core);
    }
    CSectionGuard guard(&pages.lock);
    EXPECT_EQ(pages.table[1].live[4], 777);
}

TEST_F(ConfigTransfer, SavesACopyOfTheTableWhileTheWorkerWritesLiveValues) {
    grid.SetFpcTest(1);
    grid.SetColumns(2);
    grid.SetRows(1);
    {
        CSectionGuard guard(&pages.lock);
        pages.table[1].upper.fill(1333);
    }
    const std::string path = (dir.path() / "saved.ini").string();
    SaveReport report;
    ASSERT_FALSE(SaveStationConfig(path, grid, pages, &report));
    EXPECT_EQ(report.pages, 2);
    FileError error;
    std::optional<ConfigReader> reader = ConfigReader::Open(path, error);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Globals().fpcTest, 1);
    EXPECT_EQ(reader->Globals().columns, 2);
    PageRecord r;
    ASSERT_TRUE(reader->ReadPage(1, r));
    EXPECT_EQ(r.upper[31], 1333);
}

// The worker writes a page's live values while a load fills the page's
// settings: the load never puts back the values it copied before.
TEST(ConfigPageFill, NeverOverwritesTheLiveValuesTheWorkerWroteMeanwhile) {
    test::DefaultPages pages;
    {
        CSectionGuard guard(&pages.lock);
        pages.table[3].live.fill(100);
    }
    FillPageSettings(pages, 3, [&](PageRecord& record) {
        record.upper.fill(1234);
        record.live.fill(-1);  // nothing a file holds may reach the live values
        // Meanwhile the worker stores a step's values.
        CSectionGuard guard(&pages.lock);
        pages.table[3].live.fill(555);
    });
    CSectionGuard guard(&pages.lock);
    EXPECT_EQ(pages.table[3].upper[0], 1234);
    EXPECT_EQ(pages.table[3].live[0], 555);
    EXPECT_EQ(pages.table[3].live[32], 555);
}

// Settings of a page, without the live values.
void ExpectSameSettings(const PageRecord& a, const PageRecord& b, int page) {
    SCOPED_TRACE(page);
    kx::ExpectSameSettings(a, b);
}

PageTable CopyOfTable(const PageStore& pages) {
    PageTable table;
    pages.CopyAll(table);
    return table;
}

// One board alone and a 2 x 2 file: the board is unplugged part-way (a
// Velmora5 board, pages 0 to 3 on heads 2 to 5) or falls silent (a master
// board, pages 0 to 3 on heads 4 to 7; the Velmora5 board's writes get no
// reply, so its silence cannot be noticed). The pages it did not take keep
// the settings they had, so that the grid judges against what the board
// holds; the report names those heads, says why and what to do.
TEST(ConfigTransferFailures, PagesNoBoardTookKeepTheirSettingsAndAreNamed) {
    const std::string advice =
        "\n请检查测试板及其 USB 连接（必要时拔下再插上），等窗口标题显示“设备已经连接”后重新载入"
        "配置。";
    const std::string kept = "。这些测试头保留载入前的设置，界面仍按载入前的设置显示和判定。";
    struct Case {
        const char* name;
        int afterPage;  // the board goes once this page is done
        bool unplug;    // else it falls silent
        std::vector<int> unsent;
        std::string report;
    };
    const Case cases[] = {
        {"unplugged after page 1",
         1,
         true,
         {2, 3},
         "以下测试头没有收到载入的设置：第 2 行第 1 列（页 02）、第 2 行第 2 列（页 03）" + kept +
             "\n载入过程中测试板断开了连接。" + advice},
        {"silent after page 0",
         0,
         false,
         {1, 2, 3},
         "以下测试头没有收到载入的设置：第 1 行第 2 列（页 01）、第 2 行第 1 列（页 02）、"
         "第 2 行第 2 列（页 03）" +
             kept + "\n以下测试板没有应答，载入的设置没有完整写入：多测试头主板。" + advice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        sim::SimBus bus;
        GridModel grid;
        auto velmora5 = std::make_shared<sim::SimVelmora5Board>();
        auto master = std::make_shared<sim::SimMasterBoard>();
        master->set_present_heads({4, 5, 6, 7});
        master->edit([](sim::MasterMemory& m) { m.rows = m.columns = 2; });
        for (int p = 0; p < 4; ++p) {
            master->assign(p, p / 2, p % 2, p + 4);
        }
        std::shared_ptr<sim::SimBoard> board = velmora5;
        // The upper limits the board holds for a page.
        std::function<std::array<std::uint16_t, 32>(int)> upperOf = [&](int p) {
            return velmora5->memory().heads[static_cast<std::size_t>(p + 2)].upper;
        };
        if (!c.unplug) {
            board = master;
            upperOf = [&](int p) {
                return master->memory().heads[static_cast<std::size_t>(p + 4)].upper;
            };
        }
        bus.plug(board);
        PageStore pages;
        StationCore core(bus, grid, pages);
        core.Initialise();
        const PageTable before = CopyOfTable(pages);
        std::vector<std::array<std::uint16_t, 32>> boardBefore;
        for (int p = 0; p < 4; ++p) {
            boardBefore.push_back(upperOf(p));
        }

        const std::string path = dir / "four.ini";
        const PageTable file = Table(4, 1000);
        ASSERT_FALSE(SaveConfig(path, ConfigGlobals{1, 2, 2}, file));
        FileError error;
        std::optional<ConfigLoadJob> job = ConfigLoadJob::Open(path, error);
        ASSERT_TRUE(job) << error.Message();
        job->ApplyGlobals(grid);
        while (!job->Done()) {
            job->LoadNextPage(core);
            if (job->PagesDone() - 1 == c.afterPage) {
                if (c.unplug) {
                    bus.unplug(board);
                    core.OnDeviceChange(HotplugEvent::Removal);
                } else {
                    board->set_silent(true);
                }
            }
        }
        EXPECT_EQ(job->UnsentPages(), c.unsent);
        EXPECT_TRUE(job->ReportsAFailure());
        EXPECT_EQ(job->Report(), c.report);

        const PageTable after = CopyOfTable(pages);
        for (int p = 0; p < 4; ++p) {
            const auto i = static_cast<std::size_t>(p);
            const bool sent = p <= c.afterPage;
            ExpectSameSettings(after[i], sent ? file[i] : before[i], p);
            if (sent) {
                EXPECT_EQ(upperOf(p)[0], 1000 + p) << p;
            } else {
                EXPECT_EQ(upperOf(p), boardBefore[i]) << p;
            }
        }
        // The board back: what it holds is what the table shows.
        if (c.unplug) {
            bus.plug(board);
            core.OnDeviceChange(HotplugEvent::Arrival);
        } else {
            board->set_silent(false);
            ASSERT_TRUE(core.Find<MasterFamily>()->ReadSettings());
        }
        const PageTable reread = CopyOfTable(pages);
        for (int p = 0; p < 4; ++p) {
            const auto i = static_cast<std::size_t>(p);
            EXPECT_EQ(reread[i].upper, after[i].upper) << p;
            EXPECT_EQ(reread[i].lower, after[i].lower) << p;
            EXPECT_EQ(reread[i].mask, after[i].mask) << p;
        }
    }
}

// Values whose text is no number load as the readers have always read
// them, and the report names them: the global ones and those of the pages
// that went to a board, not those of a page that kept its old settings.
TEST(ConfigTransferSuspects, ValuesThatAreNoNumbersAreNamedForThePagesLoaded) {
    const std::string named =
        "以下设置的文字不是数字或超出范围，已按原来的规则读入：[GLOBAL] FPCTEST=0abc（读作 0）、"
        "[PAGE00_THRESHOLDHIGH] CH03=nan（读作 0）";
    const std::string page1 =
        "、[PAGE01_OFFSET] PAGE01_PERCENTAGE=inf（读作 0）、[PAGE01_THRESHOLDHIGH] "
        "CH04=1e999（读作 1）";
    for (const bool unplug : {false, true}) {
        SCOPED_TRACE(unplug ? "unplugged after page 0" : "every page loaded");
        test::TempDir dir;
        sim::SimBus bus;
        GridModel grid;
        auto velmora5 = std::make_shared<sim::SimVelmora5Board>();
        bus.plug(velmora5);
        PageStore pages;
        StationCore core(bus, grid, pages);
        core.Initialise();
        const PageTable before = CopyOfTable(pages);

        const std::string path = dir / "odd.ini";
        ASSERT_FALSE(SaveConfig(path, ConfigGlobals{0, 2, 1}, Table(2, 1000)));
        IniFile file;
        ASSERT_FALSE(ReadIniFile(path, file));
        ASSERT_TRUE(file.SetString("GLOBAL", "FPCTEST", "0abc"));
        ASSERT_TRUE(file.SetString("PAGE00_THRESHOLDHIGH", "CH03", "nan"));
        ASSERT_TRUE(file.SetString("PAGE01_THRESHOLDHIGH", "CH04", "1e999"));
        ASSERT_TRUE(file.SetString("PAGE01_OFFSET", "PAGE01_PERCENTAGE", "inf"));
        test::WriteWhole(path, file.Serialize());

        FileError error;
        std::optional<ConfigLoadJob> job = ConfigLoadJob::Open(path, error);
        ASSERT_TRUE(job) << error.Message();
        job->ApplyGlobals(grid);
        while (!job->Done()) {
            job->LoadNextPage(core);
            if (unplug && job->PagesDone() == 1) {
                bus.unplug(velmora5);
                core.OnDeviceChange(HotplugEvent::Removal);
            }
        }

        const PageTable after = CopyOfTable(pages);
        EXPECT_EQ(after[0].upper[3], 0);
        EXPECT_EQ(after[0].upper[2], 1000);
        EXPECT_EQ(job->Suspects().size(), unplug ? 2u : 4u);
        if (unplug) {
            ExpectSameSettings(after[1], before[1], 1);
            EXPECT_EQ(after[1].percentage, before[1].percentage);
            EXPECT_EQ(job->Report().rfind(named + "。\n\n以下测试头没有收到载入的设置：", 0), 0u)
                << job->Report();
        } else {
            EXPECT_EQ(after[1].upper[4], 1);
            EXPECT_EQ(after[1].upper[3], 1001);
            EXPECT_EQ(after[1].percentage, 0.0f);
            EXPECT_EQ(velmora5->memory().heads[3].upper[4], 1);
            EXPECT_FALSE(job->ReportsAFailure());
            EXPECT_EQ(job->Report(), named + page1 + "。");
        }
    }
}

TEST(ConfigTransferTexts, NameEveryFamilyThatMissedAReply) {
    struct Case {
        SettingsWriteRun run;
        const char* names;  // as the message lists them; nullptr: no message
    };
    SettingsWriteRun none, classic, master, velmora5, runoff, two;
    classic.NoteMissed(FamilyId::Classic);
    master.NoteMissed(FamilyId::Master);
    velmora5.NoteMissed(FamilyId::Velmora5);
    runoff.NoteMissed(FamilyId::OneToOne);
    // Noted out of write order: named in write order.
    two.NoteMissed(FamilyId::OneToOne);
    two.NoteMissed(FamilyId::Master);
    const Case cases[] = {
        {none, nullptr},
        {classic, "：经典测试仪。"},
        {master, "：多测试头主板。"},
        {velmora5, "：Velmora5 多头测试板。"},
        {runoff, "：一拖一测试板。"},
        {two, "：多测试头主板、一拖一测试板。"},
    };
    for (const Case& c : cases) {
        const std::string text = MissedFamiliesNotice(c.run);
        if (c.names == nullptr) {
            EXPECT_EQ(text, "");
        } else {
            EXPECT_NE(text.find(c.names), std::string::npos) << text;
            EXPECT_NE(text.find("没有应答"), std::string::npos) << text;
        }
    }
}

TEST(ConfigTransferTexts, UnsentHeadsAreNamedUpToEight) {
    EXPECT_EQ(UnsentHeadsNotice({}, 2), "");
    EXPECT_EQ(UnsentHeadsNotice({0}, 1),
              "以下测试头没有收到载入的设置：第 1 行第 1 列（页 00）。这些测试头保留载入前的设置，"
              "界面仍按载入前的设置显示和判定。");
    const std::string ten = UnsentHeadsNotice({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 3);
    EXPECT_NE(ten.find("第 3 行第 2 列（页 07）等，共 10 个测试头。"), std::string::npos) << ten;
    EXPECT_EQ(ten.find("页 08"), std::string::npos) << ten;
}

TEST(ConfigTransferTexts, AMissingFileIsRefusedAndATypedNameFindsItsIniFile) {
    test::TempDir dir;
    test::WriteWhole(dir.path() / "line.ini", "[GLOBAL]\nCOL=1\nROW=1\n");
    const std::string base = (dir.path() / "line").string();
    EXPECT_EQ(ExistingConfigFileName(base), base + ".ini");
    EXPECT_EQ(ExistingConfigFileName(base + ".ini"), base + ".ini");
    EXPECT_EQ(ExistingConfigFileName(base + "x"), base + "x");

    FileError error;
    EXPECT_FALSE(ConfigLoadJob::Open(base + "x", error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.Message().find("不存在"), std::string::npos) << error.Message();
}

}  // namespace
}  // namespace kx

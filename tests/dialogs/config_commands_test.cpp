// SPDX-License-Identifier: MIT
// The main window's configuration commands on the offscreen platform, with
// the station core on the simulated bus: Load writes every page to every
// connected board family (checked on the boards' memory and on the reports
// they received), Save and Load round-trip through the page table and the
// grid, a save that fails leaves the old file, a layout that does not fit is
// reported, the older layout goes to page 0 and the one-to-one board only,
// and a board that stops answering in the middle of a load neither freezes
// the window nor holds the other families up. The file choosers are replaced
// by the test; every message box is answered by the recorder.
#include "dialogs/config_commands.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "dialogs/about_command.h"
#include "grid/grid_model.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "station/config_transfer.h"
#include "station/station_core.h"
#include "tests/support/default_pages.h"
#include "tests/support/event_loop_gaps.h"
#include "tests/support/message_recorder.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The order in which settings reports reached the boards of several
// families: one entry per run of reports to the same family.
class ArrivalLog {
public:
    void Note(const char* family) {
        std::lock_guard lock(mutex_);
        if (runs_.empty() || runs_.back() != family) {
            runs_.emplace_back(family);
        }
    }
    std::vector<std::string> Runs() const {
        std::lock_guard lock(mutex_);
        return runs_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        runs_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> runs_;
};

// A software board that also notes every report it takes in a shared log.
template <class Board>
class Logged : public Board {
public:
    template <class... Args>
    explicit Logged(ArrivalLog& log, Args&&... args)
        : Board(std::forward<Args>(args)...), log_(log) {}

protected:
    void on_output(const Frame& frame) override {
        log_.Note(this->family());
        Board::on_output(frame);
    }
    void on_set_feature(const Frame& frame) override {
        log_.Note(this->family());
        Board::on_set_feature(frame);
    }

private:
    ArrivalLog& log_;
};

// Command codes of the interrupt-pipe command reports a board received, in
// order, for the codes asked about (data reports skipped: a set's command
// report is followed by `setReports - 1` more).
std::vector<std::uint8_t> Commands(const std::vector<Frame>& frames,
                                   const std::vector<std::uint8_t>& setCodes,
                                   std::size_t setReports) {
    std::vector<std::uint8_t> codes;
    for (std::size_t i = 0; i < frames.size();) {
        const std::uint8_t code = frames[i][3];
        codes.push_back(code);
        const bool isSet = std::find(setCodes.begin(), setCodes.end(), code) != setCodes.end();
        i += isSet ? setReports : 1;
    }
    return codes;
}

std::size_t CountCommand(const sim::SimBoard& board, std::uint8_t code) {
    std::size_t n = 0;
    for (const Frame& f : board.received_outputs()) {
        n += f[1] == 0x01 && f[2] == 0x29 && f[3] == code ? 1 : 0;
    }
    return n;
}

std::size_t CountSetFeatures(const sim::SimBoard& board) {
    const auto reports = board.received();
    return static_cast<std::size_t>(
        std::count_if(reports.begin(), reports.end(), [](const sim::ReceivedReport& r) {
            return r.kind == sim::ReceivedReport::Kind::SetFeature;
        }));
}

// The values a test file gives page p, channel k.
int Reference(int p, int k) {
    return 700 + 10 * p + k;
}
int Upper(int p, int k) {
    return 1200 + 10 * p + k;
}
int Lower(int p, int k) {
    return 300 + 10 * p + k;
}
std::uint8_t Mode(int p, int k) {
    return static_cast<std::uint8_t>((p + k) % 3);
}

// "%02d" of a page or channel number.
std::string Two(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

// A configuration file with FPCTEST=1 (raw channel modes) and pages
// 0 .. pages - 1 filled from the functions above.
std::string ConfigText(int columns, int rows, int pages) {
    std::ostringstream s;
    s << "[GLOBAL]\r\nFPCTEST=1\r\nCOL=" << columns << "\r\nROW=" << rows << "\r\n";
    const auto channels = [&](int p, const char* section, auto&& value) {
        s << "[PAGE" << Two(p) << "_" << section << "]\r\n";
        for (int k = 0; k < 32; ++k) {
            s << "CH" << Two(k) << "=" << value(p, k) << "\r\n";
        }
    };
    for (int p = 0; p < pages; ++p) {
        const std::string n = Two(p);
        s << "[PAGE" << n << "_OFFSET]\r\nPAGE" << n << "_OFFSETTYPE=0\r\nPAGE" << n
          << "_PERCENTAGE=7.5\r\nPAGE" << n << "_OFFSETUPPER=" << 40 + p << "\r\nPAGE" << n
          << "_OFFSETLOWER=" << 60 + p << "\r\n";
        channels(p, "REFDATA", Reference);
        channels(p, "THRESHOLDHIGH", Upper);
        channels(p, "THRESHOLDLOW", Lower);
        s << "[PAGE" << n << "_DATARANG]\r\nMAX=" << 1800 + p << "\r\n";
        s << "[PAGE" << n << "_DATARANGE]\r\nMIN=" << 20 + p << "\r\n";
        channels(p, "MASK", [](int q, int k) { return static_cast<int>(Mode(q, k)); });
    }
    return s.str();
}

// A configuration of the older single-head layout: channel 7 off, limits
// by value.
std::string LegacyText() {
    std::string text =
        "[offset]\noffsetfunction1=0\noffsetfunction2=1\noffsetvalue1=7.5\n"
        "offsetvalue_up=33\noffsetvalue_down=44\n[datarange]\nmaxvalue=1700\n"
        "minvalue=30\n";
    for (const char* section : {"baseline", "upperlimit", "lowerlimit", "channelenable"}) {
        text += std::string("[") + section + "]\n";
        for (int k = 0; k < 32; ++k) {
            const std::string key =
                (std::string(section) == "channelenable" ? "ch_en" : "ch") + std::to_string(k);
            const int value = std::string(section) == "channelenable" ? (k == 7 ? 0 : 1)
                              : std::string(section) == "upperlimit"  ? 1300 + k
                              : std::string(section) == "lowerlimit"  ? 400 + k
                                                                      : 800 + k;
            text += key + "=" + std::to_string(value) + "\n";
        }
    }
    return text;
}

// Page p as the file gives it; its range that of page `rangePage` (a master
// board's range is board-wide: every write reads it back into pages 0 to 3).
void ExpectPageFromFile(const PageStore& pages, int p, int rangePage = -1) {
    const PageRecord r = pages.Copy(p);
    const int q = rangePage < 0 ? p : rangePage;
    for (int k = 0; k < 32; ++k) {
        const auto i = static_cast<std::size_t>(k);
        ASSERT_EQ(r.reference[i], Reference(p, k)) << p << " " << k;
        ASSERT_EQ(r.upper[i], Upper(p, k)) << p << " " << k;
        ASSERT_EQ(r.lower[i], Lower(p, k)) << p << " " << k;
        ASSERT_EQ(r.mask[i], Mode(p, k)) << p << " " << k;
    }
    EXPECT_EQ(r.rangeMax, 1800 + q) << p;
    EXPECT_EQ(r.rangeMin, 20 + q) << p;
    EXPECT_EQ(r.offsetType, 0);
    EXPECT_FLOAT_EQ(r.percentage, 7.5f);
    EXPECT_EQ(r.offsetUpper, 40 + p);
    EXPECT_EQ(r.offsetLower, 60 + p);
}

// The one-to-one, Velmora5 and master boards' settings writes.
const std::vector<std::uint8_t> kRunoffWrite{0x31, 0x11, 0x21, 0x02, 0xD7, 0xD9};
const std::vector<std::uint8_t> kMasterSets{0x31, 0x11, 0x21, 0xD7, 0xD9};
// One classic write: 4 x 32 channel settings and 6 setup values, each two
// feature reports.
constexpr std::size_t kClassicWriteReports = 2 * (4 * 32 + 6);

class ConfigCommandsTest : public ::testing::Test {
protected:
    ConfigCommandsTest() {
        core = std::make_unique<StationCore>(bus, grid, pages);
        owner = std::make_unique<QWidget>();
        owner->resize(400, 300);
        owner->show();
        commands = new CConfigCommands(*core, grid, owner.get());
        commands->SetFileChooser([this](QWidget* w, ConfigFileChoice c) {
            EXPECT_EQ(w, owner.get());
            choices.push_back(c);
            return chosen;
        });
    }
    ~ConfigCommandsTest() override {
        owner.reset();
        core.reset();
    }

    void Choose(const std::filesystem::path& path) {
        chosen = QString::fromStdString(path.string());
    }
    std::filesystem::path File(const std::string& name) const { return dir.path() / name; }
    // The command whose chooser is `choice`.
    void Run(ConfigFileChoice choice) {
        switch (choice) {
            case ConfigFileChoice::Load:
                commands->OnLoad();
                break;
            case ConfigFileChoice::Save:
                commands->OnSave();
                break;
            case ConfigFileChoice::LegacyLoad:
                commands->OnLegacyLoad();
                break;
        }
        Settle();
    }
    // The loads write the boards on the station's lane: waits (bounded) for
    // the command's end.
    void Settle() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !commands->IsBusy(); }, 10000));
    }

    // Plugs one board of every family; the station uses the one-to-one
    // board and is told of the others, whose settings a load writes too.
    void PlugEveryFamily(ArrivalLog* log = nullptr) {
        if (log != nullptr) {
            runoff = std::make_shared<Logged<sim::SimRunoffBoard>>(*log, "borvane");
            velmora5 = std::make_shared<Logged<sim::SimVelmora5Board>>(*log);
            master = std::make_shared<Logged<sim::SimMasterBoard>>(*log);
            classic = std::make_shared<Logged<sim::SimClassicBoard>>(*log);
        } else {
            runoff = std::make_shared<sim::SimRunoffBoard>("borvane");
            velmora5 = std::make_shared<sim::SimVelmora5Board>();
            master = std::make_shared<sim::SimMasterBoard>();
            classic = std::make_shared<sim::SimClassicBoard>();
        }
        // Pages 0 to 3 on heads 4 to 7.
        master->set_present_heads({4, 5, 6, 7});
        for (int p = 0; p < 4; ++p) {
            master->assign(p, p / 2, p % 2, p + 4);
        }
        for (const auto& b :
             std::vector<std::shared_ptr<sim::SimBoard>>{runoff, velmora5, master, classic}) {
            bus.plug(b);
        }
        core->Initialise();
        ASSERT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
        ASSERT_TRUE(core->Present(FamilyId::Velmora5));
        ASSERT_TRUE(core->Present(FamilyId::Master));
        ASSERT_TRUE(core->Present(FamilyId::Classic));
        // The master board beside a one-to-one board is not set up; its map
        // is loaded as its information dialog would.
        ASSERT_TRUE(core->Find<MasterFamily>()->Board().load_position_map());
    }
    // A one-to-one board alone, the family in use; its worker stopped, so
    // that its record of received reports holds the command's alone.
    void PlugOneToOne() {
        runoff = std::make_shared<sim::SimRunoffBoard>("borvane");
        bus.plug(runoff);
        core->Initialise();
        ASSERT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
        core->StopAcquisition();
        runoff->clear_received();
    }
    // A copy of one page, taken under its lock, as the worker may be writing
    // it.
    PageRecord Page(int p) const { return pages.Copy(p); }

    void ClearReceived() {
        for (const auto& b :
             std::vector<std::shared_ptr<sim::SimBoard>>{runoff, velmora5, master, classic}) {
            b->clear_received();
        }
    }

    ArrivalLog log;  // outlives the boards, which note into it until they go
    test::TempDir dir;
    test::MessageRecorder messages;
    sim::SimBus bus;
    GridModel grid;
    test::DefaultPages pages;
    std::unique_ptr<StationCore> core;
    std::unique_ptr<QWidget> owner;
    CConfigCommands* commands = nullptr;
    QString chosen;
    std::vector<ConfigFileChoice> choices;
    std::shared_ptr<sim::SimRunoffBoard> runoff;
    std::shared_ptr<sim::SimVelmora5Board> velmora5;
    std::shared_ptr<sim::SimMasterBoard> master;
    std::shared_ptr<sim::SimClassicBoard> classic;
};

TEST_F(ConfigCommandsTest, LoadWritesEveryPageToEveryConnectedFamilyInOrder) {
    PlugEveryFamily(&log);
    core->StopAcquisition();  // so that the boards' records hold the load alone
    test::WriteWhole(File("two.ini"), ConfigText(2, 1, 3));  // a third page the layout ignores
    Choose(File("two.ini"));
    ClearReceived();
    log.Clear();

    commands->OnLoad();
    Settle();

    EXPECT_EQ(choices, std::vector<ConfigFileChoice>{ConfigFileChoice::Load});
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    EXPECT_EQ(grid.GetFpcTest(), 1);
    EXPECT_EQ(grid.GetColumns(), 2);
    EXPECT_EQ(grid.GetRows(), 1);
    ExpectPageFromFile(pages, 0, 1);
    ExpectPageFromFile(pages, 1, 1);
    EXPECT_EQ(Page(2).upper[0], 1100) << "page 2 is not in the layout";

    // Page after page, each to the classic tester, the master board, the
    // Velmora5 board and the one-to-one board in turn.
    EXPECT_EQ(log.Runs(),
              (std::vector<std::string>{"classic", "master", "Velmora5", "one-to-one", "classic",
                                        "master", "Velmora5", "one-to-one"}));

    // One-to-one: the page under the pointer (page 0 of a 1 x 1 grid's
    // hit position), once per loaded page.
    std::vector<std::uint8_t> twice = kRunoffWrite;
    twice.insert(twice.end(), kRunoffWrite.begin(), kRunoffWrite.end());
    EXPECT_EQ(Commands(runoff->received_outputs(), kRunoffWrite, 2), twice);
    EXPECT_EQ(runoff->memory().upper[31], Upper(0, 31));
    EXPECT_EQ(runoff->memory().modes[2], Mode(0, 2));

    // Velmora5: page p to head p + 2.
    EXPECT_EQ(Commands(velmora5->received_outputs(), kRunoffWrite, 3), twice);
    for (int p = 0; p < 2; ++p) {
        const sim::Velmora5HeadMemory h = velmora5->memory().heads[static_cast<std::size_t>(p + 2)];
        EXPECT_EQ(h.upper[5], Upper(p, 5)) << p;
        EXPECT_EQ(h.lower[5], Lower(p, 5)) << p;
        EXPECT_EQ(h.reference[5], Reference(p, 5)) << p;
        EXPECT_EQ(h.modes[1], Mode(p, 1)) << p;
        EXPECT_EQ(h.range_max, 1800 + p) << p;
    }

    // Master: page p to the head of its map entry, then the board-wide
    // range, read back.
    const std::vector<std::uint8_t> masterPage{0x31, 0x11, 0x21, 0xD7, 0xD9, 0xD8, 0xDA};
    std::vector<std::uint8_t> masterTwice = masterPage;
    masterTwice.insert(masterTwice.end(), masterPage.begin(), masterPage.end());
    EXPECT_EQ(Commands(master->received_outputs(), kMasterSets, 2), masterTwice);
    for (int p = 0; p < 2; ++p) {
        const sim::MasterHeadMemory h = master->memory().heads[static_cast<std::size_t>(p + 4)];
        EXPECT_EQ(h.upper[7], Upper(p, 7)) << p;
        EXPECT_EQ(h.lower[7], Lower(p, 7)) << p;
        EXPECT_EQ(h.modes[7], Mode(p, 7)) << p;
    }
    EXPECT_EQ(master->memory().range_max, 1801);

    // Classic: page 0, complete, once per loaded page.
    EXPECT_EQ(CountSetFeatures(*classic), 2 * kClassicWriteReports);
    const sim::ClassicMemory c = classic->memory();
    EXPECT_EQ(c.upper[9], Upper(0, 9));
    EXPECT_EQ(c.reference[9], Reference(0, 9));
    EXPECT_EQ(c.modes[4], Mode(0, 4));
    EXPECT_EQ(c.offset_type, 0);
    EXPECT_EQ(c.percentage, 7);
    EXPECT_EQ(c.offset_upper, 40);
}

TEST_F(ConfigCommandsTest, SaveThenLoadRestoresThePagesAndTheGridsGlobals) {
    PlugOneToOne();
    grid.SetFpcTest(1);
    grid.SetColumns(3);
    grid.SetRows(2);
    {
        CSectionGuard guard(&pages.lock);
        for (int p = 0; p < 6; ++p) {
            PageRecord& r = pages.table[static_cast<std::size_t>(p)];
            for (int k = 0; k < 32; ++k) {
                const auto i = static_cast<std::size_t>(k);
                r.reference[i] = Reference(p, k);
                r.upper[i] = Upper(p, k);
                r.lower[i] = Lower(p, k);
                r.mask[i] = Mode(p, k);
            }
            r.rangeMax = 1800 + p;
            r.rangeMin = 20 + p;
            r.offsetType = 0;
            r.percentage = 7.5f;
            r.offsetUpper = 40 + p;
            r.offsetLower = 60 + p;
        }
    }
    // Typed without extension.
    Choose(File("station"));
    commands->OnSave();
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    ASSERT_TRUE(std::filesystem::exists(File("station.ini")));
    EXPECT_FALSE(std::filesystem::exists(File("station")));

    pages.Reset();
    grid.SetFpcTest(0);
    grid.SetColumns(1);
    grid.SetRows(1);
    Choose(File("station"));  // the open dialog's typed name as well
    commands->OnLoad();
    Settle();
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    EXPECT_EQ(grid.GetFpcTest(), 1);
    EXPECT_EQ(grid.GetColumns(), 3);
    EXPECT_EQ(grid.GetRows(), 2);
    for (int p = 0; p < 6; ++p) {
        ExpectPageFromFile(pages, p);
    }
    EXPECT_EQ(Page(6).upper[0], 1100);
    EXPECT_EQ(choices,
              (std::vector<ConfigFileChoice>{ConfigFileChoice::Save, ConfigFileChoice::Load}));
}

// Save replaces a file, the one a name typed without extension becomes
// included, only when the operator says so; No brings the chooser back.
TEST_F(ConfigCommandsTest, SaveAsksBeforeReplacingAFile) {
    test::WriteWhole(File("line.ini"), "[GLOBAL]\nCOL=4\n");
    grid.SetColumns(1);
    grid.SetRows(1);
    std::vector<QString> answers{QString::fromStdString(File("line").string()), QString()};
    commands->SetFileChooser([&](QWidget*, ConfigFileChoice c) {
        choices.push_back(c);
        const QString next = answers.front();
        answers.erase(answers.begin());
        return next;
    });
    messages.answers = {QMessageBox::No};
    commands->OnSave();
    EXPECT_EQ(choices.size(), 2u);
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(messages.texts[0], QStringLiteral("“%1”已经存在。\n要替换它吗？")
                                     .arg(QString::fromStdString(File("line.ini").string())));
    EXPECT_EQ(test::ReadWhole(File("line.ini")), "[GLOBAL]\nCOL=4\n");

    answers = {QString::fromStdString(File("line.ini").string())};
    messages.answers = {QMessageBox::Yes};
    commands->OnSave();
    EXPECT_EQ(messages.texts.size(), 2);
    EXPECT_EQ(IniFile::Parse(test::ReadWhole(File("line.ini"))).GetInt("GLOBAL", "COL"), 1);
}

TEST_F(ConfigCommandsTest, AFailedSaveSaysWhyAndLeavesTheOldFile) {
    const std::filesystem::path folder = File("locked");
    std::filesystem::create_directory(folder);
    const std::string old = ConfigText(1, 1, 1);
    test::WriteWhole(folder / "line.ini", old);
    std::filesystem::permissions(
        folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    grid.SetColumns(2);
    grid.SetRows(2);
    Choose(folder / "line.ini");
    messages.answers = {QMessageBox::Yes};  // replace it
    {
        test::ScopedNoDacOverride noOverride;
        ASSERT_FALSE(test::CanCreateIn(folder));
        commands->OnSave();
    }
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    ASSERT_EQ(messages.texts.size(), 2);
    const QString text = messages.texts[1];
    EXPECT_TRUE(text.startsWith(QStringLiteral("保存配置文件失败\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("没有访问权限"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("原文件未改动"))) << text.toStdString();
    EXPECT_EQ(test::ReadWhole(folder / "line.ini"), old);
    // No temporary file left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

// Cancelling a chooser ends the command; a file that cannot be read changes
// nothing and says why.
TEST_F(ConfigCommandsTest, CancelledOrUnreadableFilesChangeNothing) {
    PlugOneToOne();
    const PageRecord before = Page(0);
    grid.SetFpcTest(0);
    grid.SetColumns(1);
    grid.SetRows(1);
    std::filesystem::create_directory(File("folder.ini"));
    test::WriteWhole(File("utf16.ini"), std::string("\xFF\xFE[\0G\0", 6));
    struct Case {
        const char* name;
        std::filesystem::path file;  // empty: cancelled
        ConfigFileChoice command;
        const char* message;  // start of the one message, or nullptr for none
    };
    const Case cases[] = {
        {"load cancelled", {}, ConfigFileChoice::Load, nullptr},
        {"save cancelled", {}, ConfigFileChoice::Save, nullptr},
        {"legacy cancelled", {}, ConfigFileChoice::LegacyLoad, nullptr},
        {"load of a missing file", File("gone.ini"), ConfigFileChoice::Load, "载入配置文件失败\n"},
        {"load of a folder", File("folder.ini"), ConfigFileChoice::Load, "载入配置文件失败\n"},
        {"load of UTF-16", File("utf16.ini"), ConfigFileChoice::Load, "载入配置文件失败\n"},
        {"legacy of a missing file", File("gone.ini"), ConfigFileChoice::LegacyLoad,
         "载入老版本配置文件失败\n"},
        {"save into a missing folder", File("no/such.ini"), ConfigFileChoice::Save,
         "保存配置文件失败\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.texts.clear();
        chosen = c.file.empty() ? QString() : QString::fromStdString(c.file.string());
        Run(c.command);
        if (c.message == nullptr) {
            EXPECT_TRUE(messages.texts.isEmpty());
        } else {
            ASSERT_EQ(messages.texts.size(), 1);
            EXPECT_TRUE(messages.texts[0].startsWith(QString::fromUtf8(c.message)))
                << messages.texts[0].toStdString();
        }
        EXPECT_EQ(grid.GetColumns(), 1);
        EXPECT_EQ(grid.GetRows(), 1);
        EXPECT_EQ(Page(0).upper, before.upper);
        EXPECT_EQ(Page(0).mask, before.mask);
    }
    EXPECT_TRUE(runoff->received().empty());
    // Nothing was written anywhere.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"folder.ini", "utf16.ini"}));
}

TEST_F(ConfigCommandsTest, ALayoutThatDoesNotFitLoadsWhatFitsAndSaysWhich) {
    PlugOneToOne();
    struct Case {
        int columns, rows, filePages;
        int gridColumns, gridRows, pagesLoaded;
        const char* says;
    };
    const Case cases[] = {
        {1000, 1, 12, 10, 1, 10, "配置文件中的布局为 1000 列 × 1 行"},
        {10, 10, 66, 10, 10, 64, "只载入了前 64 个（第 00 至 63 页）"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns);
        pages.Reset();
        messages.texts.clear();
        test::WriteWhole(File("big.ini"), ConfigText(c.columns, c.rows, c.filePages));
        Choose(File("big.ini"));
        commands->OnLoad();
        Settle();
        EXPECT_EQ(grid.GetColumns(), c.gridColumns);
        EXPECT_EQ(grid.GetRows(), c.gridRows);
        ExpectPageFromFile(pages, c.pagesLoaded - 1);
        if (c.pagesLoaded < kPageCount) {
            EXPECT_EQ(Page(c.pagesLoaded).upper[0], 1100);
        }
        ASSERT_EQ(messages.texts.size(), 1);
        EXPECT_TRUE(messages.texts[0].contains(QString::fromUtf8(c.says)))
            << messages.texts[0].toStdString();
        EXPECT_TRUE(messages.texts[0].contains(
            QStringLiteral("已按 %1 列 × %2 行载入").arg(c.gridColumns).arg(c.gridRows)))
            << messages.texts[0].toStdString();
    }
}

TEST_F(ConfigCommandsTest, LegacyImportWritesPageZeroToTheOneToOneBoardOnly) {
    PlugEveryFamily();
    core->StopAcquisition();
    grid.SetFpcTest(1);
    grid.SetColumns(2);
    grid.SetRows(2);
    {
        CSectionGuard guard(&pages.lock);
        pages.table[1].upper.fill(1234);
    }
    test::WriteWhole(File("old.ini"), LegacyText());
    Choose(File("old.ini"));
    ClearReceived();

    commands->OnLegacyLoad();
    Settle();

    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    EXPECT_EQ(choices, std::vector<ConfigFileChoice>{ConfigFileChoice::LegacyLoad});
    const PageRecord p0 = Page(0);
    EXPECT_EQ(p0.upper[3], 1303);
    EXPECT_EQ(p0.lower[3], 403);
    EXPECT_EQ(p0.reference[3], 803);
    EXPECT_EQ(p0.mask[7], Masked);
    EXPECT_EQ(p0.mask[8], Tested);
    EXPECT_EQ(p0.rangeMax, 1700);
    EXPECT_EQ(p0.offsetType, 0);
    EXPECT_FLOAT_EQ(p0.percentage, 7.5f);
    EXPECT_EQ(Page(1).upper[0], 1234);
    EXPECT_EQ(grid.GetFpcTest(), 1);
    EXPECT_EQ(grid.GetColumns(), 2);
    EXPECT_EQ(grid.GetRows(), 2);

    EXPECT_EQ(Commands(runoff->received_outputs(), kRunoffWrite, 2), kRunoffWrite);
    EXPECT_EQ(runoff->memory().upper[3], 1303);
    EXPECT_EQ(runoff->memory().modes[7], Masked);
    EXPECT_EQ(runoff->memory().range_max, 1700);
    EXPECT_TRUE(velmora5->received().empty());
    EXPECT_TRUE(master->received().empty());
    EXPECT_TRUE(classic->received().empty());

    // A one-to-one board that does not answer is named, with its head,
    // which keeps the settings the board holds.
    {
        CSectionGuard guard(&pages.lock);
        pages.table[0].upper.fill(1111);
    }
    const PageRecord before = Page(0);
    runoff->set_silent(true);
    commands->OnLegacyLoad();
    Settle();
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(
        messages.texts[0].toStdString(),
        "以下测试头没有收到载入的设置：第 1 行第 1 列（页 00）。这些测试头保留载入前的设置，"
        "界面仍按载入前的设置显示和判定。\n"
        "以下测试板没有应答，载入的设置没有完整写入：一拖一测试板。\n"
        "请检查测试板及其 USB 连接（必要时拔下再插上），等窗口标题显示“设备已经连接”后重新载入"
        "配置。");
    EXPECT_EQ(Page(0).upper, before.upper);
    EXPECT_EQ(Page(0).mask, before.mask);
    EXPECT_EQ(Page(0).rangeMax, before.rangeMax);
    runoff->set_silent(false);  // so that closing the station does not wait for it
}

// A board that stops answering after the first page: the event loop keeps
// turning between pages (a timer of the test fires, the progress dialog
// comes up window-modal once the load has taken half a second), one message
// names the family, and the other families get every page while the station
// keeps polling its one-to-one board.
TEST_F(ConfigCommandsTest, ABoardThatFallsSilentCostsOneBoundAndIsNamed) {
    PlugEveryFamily();
    ASSERT_EQ(core->AcquisitionWorkers(), 1);
    // The board the worker polls at USB pace, so that its record of
    // received reports holds the whole load.
    runoff->set_report_time(sim::SimBoard::kFullSpeedReportTime);
    test::WriteWhole(File("four.ini"), ConfigText(2, 2, 4));
    Choose(File("four.ini"));
    ClearReceived();

    int ticks = 0;
    bool progressSeenModal = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        QProgressDialog* progress = commands->Progress();
        if (progress != nullptr && progress->isVisible() &&
            progress->windowModality() == Qt::WindowModal &&
            progress->parentWidget() == owner.get()) {
            progressSeenModal = true;
        }
    });
    timer.start(0);
    std::vector<int> ticksAtPage;
    QObject::connect(commands, &CConfigCommands::pageLoaded, [&](int page, int pages) {
        EXPECT_EQ(pages, 4);
        ticksAtPage.push_back(ticks);
        if (page == 0) {
            master->set_silent(true);
            // A command started meanwhile does nothing.
            commands->OnSave();
        }
    });

    const auto start = Clock::now();
    commands->OnLoad();
    Settle();
    const auto took = Clock::now() - start;
    timer.stop();

    EXPECT_EQ(choices, std::vector<ConfigFileChoice>{ConfigFileChoice::Load});
    EXPECT_FALSE(commands->IsBusy());
    ASSERT_EQ(ticksAtPage.size(), 4u);
    for (std::size_t i = 1; i < ticksAtPage.size(); ++i) {
        EXPECT_GT(ticksAtPage[i], ticksAtPage[i - 1])
            << "no event between pages " << i - 1 << " and " << i;
    }
    EXPECT_TRUE(progressSeenModal);
    EXPECT_EQ(commands->Progress(), nullptr);
    // One read bound for the silent board, not one per page.
    EXPECT_LT(took, std::chrono::milliseconds(hiddata::kReadBoundMs + hiddata::kLateReplyWindowMs));

    ASSERT_EQ(messages.texts.size(), 1);
    const QString text = messages.texts[0];
    EXPECT_TRUE(text.contains(QStringLiteral("多测试头主板"))) << text.toStdString();
    for (const char* other : {"一拖一测试板", "Velmora5", "经典测试仪"}) {
        EXPECT_FALSE(text.contains(QString::fromUtf8(other))) << other;
    }
    // Every page went to the other boards: no head kept its old settings.
    EXPECT_FALSE(text.contains(QStringLiteral("没有收到"))) << text.toStdString();

    // The master board got page 0 and the first report of page 1's write.
    EXPECT_EQ(master->memory().heads[4].upper[0], Upper(0, 0));
    EXPECT_EQ(CountCommand(*master, 0x31), 2u);
    // The others got every page.
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(velmora5->memory().heads[static_cast<std::size_t>(p + 2)].upper[0], Upper(p, 0))
            << p;
        ExpectPageFromFile(pages, p);
    }
    EXPECT_EQ(CountSetFeatures(*classic), 4 * kClassicWriteReports);
    EXPECT_EQ(CountCommand(*runoff, 0x11), 4u);
    EXPECT_EQ(CountCommand(*runoff, 0x02), 4u);
    EXPECT_GT(CountCommand(*runoff, 0xF0), 4u) << "the station kept polling";
    EXPECT_EQ(core->AcquisitionWorkers(), 1);
}

// The load's writes run on the station's lane. A master board that answers
// in 20 ms falls silent in the middle of page 1's write: the window's event
// loop keeps turning (no turn waits for a board), the cursor shows the
// work, another command that would talk to the boards is refused at once,
// a second load of this command does nothing, and the load ends with the
// message naming the board. Nothing but the load reaches the master board.
TEST_F(ConfigCommandsTest, ABoardSilentMidLoadNeitherHoldsTheWindowNorLetsACommandIn) {
    PlugEveryFamily();
    test::WriteWhole(File("four.ini"), ConfigText(2, 2, 4));
    Choose(File("four.ini"));
    ClearReceived();
    master->set_reply_delay(std::chrono::milliseconds(20));
    CAboutCommand about(*core, grid, owner.get());
    CConfigCommands other(*core, grid, owner.get());
    other.SetFileChooser([&](QWidget*, ConfigFileChoice c) {
        ADD_FAILURE() << "the refused command asked for a file";
        choices.push_back(c);
        return chosen;
    });
    std::vector<int> loaded;
    QObject::connect(commands, &CConfigCommands::pageLoaded,
                     [&](int page, int) { loaded.push_back(page); });

    commands->OnLoad();
    ASSERT_TRUE(commands->IsBusy());
    bool refused = false;
    bool busyCursor = false;
    const qint64 gap = test::LongestGapWhile(
        [&] { return commands->IsBusy(); },
        [&] {
            if (CountCommand(*master, 0x31) >= 2) {
                master->set_silent(true);
            }
            busyCursor = busyCursor || owner->cursor().shape() == Qt::BusyCursor;
            if (!refused && commands->IsBusy() && core->Lane().Busy()) {
                refused = true;
                commands->OnLoad();  // nothing: this command runs
                commands->OnLegacyLoad();
                about.OnAbout();  // the lane is taken: refused with a message
                other.OnLoad();
                other.OnLegacyLoad();
            }
        });
    std::cout << "longest gap between ticks: " << gap << " ms\n";
    EXPECT_LT(gap, test::kLongestAllowedGapMs);
    ASSERT_FALSE(commands->IsBusy());
    EXPECT_TRUE(refused);
    EXPECT_TRUE(busyCursor);
    EXPECT_NE(owner->cursor().shape(), Qt::BusyCursor);
    EXPECT_EQ(about.CurrentDialog(), nullptr);
    EXPECT_EQ(choices, std::vector<ConfigFileChoice>{ConfigFileChoice::Load});
    EXPECT_EQ(loaded, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(commands->Progress(), nullptr);

    const QString refusal = QStringLiteral("正在与设备通信，请稍候再试。");
    EXPECT_EQ(messages.texts,
              (QStringList{refusal, refusal, refusal,
                           QStringLiteral("以下测试板没有应答，载入的设置没有完整写入：多测试头主板"
                                          "。\n请检查测试板及其 USB 连接（必要时拔下再插上），"
                                          "等窗口标题显示“设备已经连接”后重新载入配置。")}));

    // The master board got page 0 whole and the start of page 1, and no
    // command of another: the about reads never went out.
    const std::vector<std::uint8_t> masterPage{0x31, 0x11, 0x21, 0xD7, 0xD9, 0xD8, 0xDA};
    std::vector<std::uint8_t> twoPages = masterPage;
    twoPages.insert(twoPages.end(), masterPage.begin(), masterPage.end());
    const std::vector<std::uint8_t> got = Commands(master->received_outputs(), kMasterSets, 2);
    ASSERT_GT(got.size(), masterPage.size());
    ASSERT_LT(got.size(), twoPages.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), twoPages.begin()));
    EXPECT_EQ(master->memory().heads[4].upper[0], Upper(0, 0));
    // The other families got every page.
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(velmora5->memory().heads[static_cast<std::size_t>(p + 2)].upper[0], Upper(p, 0))
            << p;
        ExpectPageFromFile(pages, p);
    }
    EXPECT_EQ(CountSetFeatures(*classic), 4 * kClassicWriteReports);
    master->set_silent(false);  // so that closing the station does not wait for it
}

// The owner goes, with the command, in the middle of a load: the load stops
// after the page the lane is writing, no progress or message reaches the
// command that is gone, and the lane is free again at once.
TEST_F(ConfigCommandsTest, TheCommandGoingMidLoadStopsTheLoadAfterItsPage) {
    PlugOneToOne();
    test::WriteWhole(File("four.ini"), ConfigText(2, 2, 4));
    Choose(File("four.ini"));
    bool gone = false;
    std::size_t writtenWhenGone = 0;
    QObject::connect(commands, &CConfigCommands::pageLoaded, [&](int page, int) {
        if (page == 1 && !gone) {
            gone = true;
            // Leaves the handler before the command is deleted. The lane may
            // have taken further pages by then (the window hands their
            // progress over before the timer fires).
            QTimer::singleShot(0, [&] {
                writtenWhenGone = CountCommand(*runoff, 0x11);
                owner.reset();
            });
        }
    });
    commands->OnLoad();
    ASSERT_TRUE(QTest::qWaitFor([&] { return owner == nullptr; }, 10000));
    commands = nullptr;
    EXPECT_FALSE(core->Lane().Busy());
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join("|").toStdString();
    ExpectPageFromFile(pages, 0);
    ExpectPageFromFile(pages, 1);
    // At most the page the lane was writing when the command went.
    EXPECT_GE(writtenWhenGone, 2u);
    EXPECT_LE(CountCommand(*runoff, 0x11), writtenWhenGone + 1);
}

// The settings of every page, without the live values the worker writes.
std::vector<PageRecord> SettingsOfEveryPage(const PageStore& pages) {
    std::vector<PageRecord> settings;
    CSectionGuard guard(&pages.lock);
    for (PageRecord r : pages.table) {
        r.live = {};
        settings.push_back(r);
    }
    return settings;
}

bool SameSettings(const std::vector<PageRecord>& a, const std::vector<PageRecord>& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [](const PageRecord& x, const PageRecord& y) {
            return x.reference == y.reference && x.upper == y.upper && x.lower == y.lower &&
                   x.mask == y.mask && x.rangeMax == y.rangeMax && x.rangeMin == y.rangeMin &&
                   x.offsetType == y.offsetType && x.percentage == y.percentage &&
                   x.offsetUpper == y.offsetUpper && x.offsetLower == y.offsetLower;
        });
}

// A file that is not a whole configuration for its command is refused
// before anything changes: one message says why (and which command takes a
// file of the other layout), and the page table, the grid and the board
// stay as they were.
TEST_F(ConfigCommandsTest, FilesThatAreNotAConfigurationAreRefusedAndChangeNothing) {
    PlugOneToOne();
    grid.SetFpcTest(1);
    grid.SetColumns(2);
    grid.SetRows(1);
    {
        CSectionGuard guard(&pages.lock);
        pages.table[1].upper.fill(1234);
    }
    const std::vector<PageRecord> before = SettingsOfEveryPage(pages);

    std::mt19937 rng(11);
    std::string junk(4096, '\0');
    for (char& c : junk) {
        c = static_cast<char>(rng());
    }
    junk[0] = 'x';  // not a UTF-16 byte-order mark
    std::string rawData;
    for (int item = 0; item < 3; ++item) {
        rawData += "Item=" + std::to_string(item) + ",Checked=1,";
        for (int k = 0; k < 32; ++k) {
            rawData += std::to_string(700 + k) + ",";
        }
        rawData += "\r\n";
    }
    const std::string whole = ConfigText(2, 1, 2);
    std::string withoutGlobal = whole.substr(whole.find("[PAGE00_OFFSET]"));
    // Cut off in the middle of page 1's lower limits, inside a value.
    const std::string cutAt = "[PAGE01_THRESHOLDLOW]\r\nCH00=3";
    const std::string cut = whole.substr(0, whole.find(cutAt) + cutAt.size());
    const std::string legacy = LegacyText();
    const std::string legacyCut = legacy.substr(0, legacy.find("[lowerlimit]\n") + 13);

    const std::string notConfig =
        "不是配置文件：文件中没有载入所读的任何设置（[GLOBAL] 中的 FPCTEST、COL、ROW，或 "
        "PAGE00 至 PAGE63 各测试头的设置）。";
    const std::string notLegacy =
        "不是老版本的配置文件：文件中没有老版本配置载入所读的任何设置（[offset]、[baseline]、"
        "[upperlimit]、[lowerlimit]、[datarange]、[channelenable]）。";
    struct Case {
        const char* name;
        std::string bytes;
        ConfigFileChoice command;
        std::string says;  // after "“<file>”"
    };
    const Case cases[] = {
        {"empty", "", ConfigFileChoice::Load, notConfig},
        {"random bytes", junk, ConfigFileChoice::Load, notConfig},
        {"plain text", "这是一份说明。\nColumns and rows = 2\n", ConfigFileChoice::Load, notConfig},
        {"the raw-data file", rawData, ConfigFileChoice::Load, notConfig},
        {"pages without [GLOBAL]", withoutGlobal, ConfigFileChoice::Load,
         "不完整，可能被截断或改动过：缺少 [GLOBAL] 中的 FPCTEST、COL、ROW。"},
        {"cut off", cut, ConfigFileChoice::Load,
         "不完整，可能被截断或改动过：第 1 行第 2 列（页 01）缺少 65 项设置（如 "
         "[PAGE01_THRESHOLDLOW] 中的 CH01）。"},
        {"a layout without heads", "[GLOBAL]\nFPCTEST=0\nCOL=0\nROW=1\n", ConfigFileChoice::Load,
         "中的布局没有测试头：COL=0，ROW=1。"},
        {"an old-version file", legacy, ConfigFileChoice::Load,
         "是老版本的配置文件，请用“文件”菜单中的“老版本配置载入”载入。"},
        {"a configuration to the old-version load", whole, ConfigFileChoice::LegacyLoad,
         "是新版本的配置文件，请用“文件”菜单中的“载入”载入。"},
        {"plain text to the old-version load", "Hello\n", ConfigFileChoice::LegacyLoad, notLegacy},
        {"empty to the old-version load", "", ConfigFileChoice::LegacyLoad, notLegacy},
        {"a cut-off old-version file", legacyCut, ConfigFileChoice::LegacyLoad,
         "不完整，可能被截断或改动过：缺少 64 项设置（如 [lowerlimit] 中的 ch0）。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.texts.clear();
        const std::filesystem::path file = File("refused.ini");
        test::WriteWhole(file, c.bytes);
        Choose(file);
        Run(c.command);
        const std::string failed =
            c.command == ConfigFileChoice::Load ? "载入配置文件失败" : "载入老版本配置文件失败";
        ASSERT_EQ(messages.texts.size(), 1);
        EXPECT_EQ(messages.texts[0].toStdString(), failed + "\n“" + file.string() + "”" + c.says +
                                                       "\n界面和测试板上的设置都没有改动。");
        EXPECT_TRUE(SameSettings(SettingsOfEveryPage(pages), before));
        EXPECT_EQ(grid.GetFpcTest(), 1);
        EXPECT_EQ(grid.GetColumns(), 2);
        EXPECT_EQ(grid.GetRows(), 1);
        EXPECT_TRUE(runoff->received().empty());
    }
}

// With no board to write to, a load says so before it asks for a file, and
// again when the board left while the chooser was open; nothing changes.
// The old-version load writes to a one-to-one board only.
TEST_F(ConfigCommandsTest, WithoutABoardALoadSaysSoAndChangesNothing) {
    test::WriteWhole(File("two.ini"), ConfigText(2, 1, 2));
    test::WriteWhole(File("old.ini"), LegacyText());
    const std::string noBoard =
        "没有连接测试板，配置没有载入，界面和测试板上的设置都没有改动。\n"
        "请插好测试板，等窗口标题显示“设备已经连接”后再载入配置。";
    const std::string noRunoff =
        "没有连接一拖一测试板，老版本配置只能写入一拖一测试板，没有载入，"
        "界面和测试板上的设置都没有改动。\n"
        "请插好一拖一测试板，等窗口标题显示“设备已经连接”后再载入。";
    struct Case {
        const char* name;
        std::shared_ptr<sim::SimBoard> board;  // plugged before the command
        bool unplugWhileChoosing;
        ConfigFileChoice command;
        const char* file;
        std::string says;
        std::size_t choosers;
    };
    const Case cases[] = {
        {"load, no board", nullptr, false, ConfigFileChoice::Load, "two.ini", noBoard, 0},
        {"load, the board gone while choosing", std::make_shared<sim::SimRunoffBoard>("borvane"),
         true, ConfigFileChoice::Load, "two.ini", noBoard, 1},
        {"old-version load, no board", nullptr, false, ConfigFileChoice::LegacyLoad, "old.ini",
         noRunoff, 0},
        {"old-version load, a Velmora5 board", std::make_shared<sim::SimVelmora5Board>(), false,
         ConfigFileChoice::LegacyLoad, "old.ini", noRunoff, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.texts.clear();
        choices.clear();
        if (c.board) {
            bus.plug(c.board);
        }
        core->Initialise();
        core->StopAcquisition();
        grid.SetFpcTest(0);
        grid.SetColumns(1);
        grid.SetRows(1);
        const std::vector<PageRecord> before = SettingsOfEveryPage(pages);
        commands->SetFileChooser([&](QWidget*, ConfigFileChoice choice) {
            choices.push_back(choice);
            if (c.unplugWhileChoosing) {
                bus.unplug(c.board);
                core->OnDeviceChange(HotplugEvent::Removal);
                grid.SetColumns(1);  // as it was: only the load is watched
                grid.SetRows(1);
            }
            return QString::fromStdString(File(c.file).string());
        });
        if (c.board) {
            c.board->clear_received();
        }
        Run(c.command);
        EXPECT_EQ(messages.texts, QStringList{QString::fromStdString(c.says)});
        EXPECT_EQ(choices.size(), c.choosers);
        EXPECT_TRUE(SameSettings(SettingsOfEveryPage(pages), before));
        EXPECT_EQ(grid.GetFpcTest(), 0);
        EXPECT_EQ(grid.GetColumns(), 1);
        EXPECT_EQ(grid.GetRows(), 1);
        if (c.board) {
            EXPECT_TRUE(c.board->received().empty());
            if (c.board->plugged()) {
                bus.unplug(c.board);
            }
        }
    }
}

// The board is unplugged part-way through a load (the window hears of it
// between pages): the heads whose pages came after keep their settings and
// are named in the one message, which says what happened and what to do.
TEST_F(ConfigCommandsTest, AnUnplugDuringALoadNamesTheHeadsThatKeptTheirSettings) {
    velmora5 = std::make_shared<sim::SimVelmora5Board>();
    bus.plug(velmora5);
    core->Initialise();
    ASSERT_EQ(core->ActiveFamily(), FamilyId::Velmora5);
    const std::vector<PageRecord> before = SettingsOfEveryPage(pages);
    const sim::Velmora5Memory boardBefore = velmora5->memory();
    test::WriteWhole(File("four.ini"), ConfigText(2, 2, 4));
    Choose(File("four.ini"));
    QObject::connect(commands, &CConfigCommands::pageLoaded, [&](int page, int) {
        if (page == 1) {
            bus.unplug(velmora5);
            core->OnDeviceChange(HotplugEvent::Removal);
        }
    });

    commands->OnLoad();
    Settle();

    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(
        messages.texts[0].toStdString(),
        "以下测试头没有收到载入的设置：第 2 行第 1 列（页 02）、第 2 行第 2 列（页 03）。"
        "这些测试头保留载入前的设置，界面仍按载入前的设置显示和判定。\n"
        "载入过程中测试板断开了连接。\n"
        "请检查测试板及其 USB 连接（必要时拔下再插上），等窗口标题显示“设备已经连接”后重新载入"
        "配置。");
    ExpectPageFromFile(pages, 0);
    ExpectPageFromFile(pages, 1);
    const std::vector<PageRecord> after = SettingsOfEveryPage(pages);
    EXPECT_TRUE(SameSettings({after[2], after[3]}, {before[2], before[3]}));
    const sim::Velmora5Memory board = velmora5->memory();
    EXPECT_EQ(board.heads[2].upper[0], Upper(0, 0));
    EXPECT_EQ(board.heads[3].upper[0], Upper(1, 0));
    EXPECT_EQ(board.heads[4].upper, boardBefore.heads[4].upper);
    EXPECT_EQ(board.heads[5].upper, boardBefore.heads[5].upper);
}

// Values whose text is no number load as they always have and are named in
// the load's one message; the boards get them as loaded.
TEST_F(ConfigCommandsTest, ValuesThatAreNoNumbersLoadAsBeforeAndAreNamed) {
    PlugOneToOne();
    IniFile file = IniFile::Parse(ConfigText(1, 1, 1));
    ASSERT_TRUE(file.SetString("PAGE00_THRESHOLDHIGH", "CH03", "nan"));
    ASSERT_TRUE(file.SetString("PAGE00_THRESHOLDLOW", "CH04", "99999999999"));
    ASSERT_TRUE(file.SetString("PAGE00_OFFSET", "PAGE00_PERCENTAGE", "1e999"));
    ASSERT_TRUE(file.SetString("PAGE00_REFDATA", "CH05", " 7 "));  // blanks are no fault
    test::WriteWhole(File("odd.ini"), file.Serialize());
    Choose(File("odd.ini"));

    commands->OnLoad();
    Settle();

    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_EQ(messages.texts[0].toStdString(),
              "以下设置的文字不是数字或超出范围，已按原来的规则读入：[PAGE00_OFFSET] "
              "PAGE00_PERCENTAGE=1e999（读作 0）、[PAGE00_THRESHOLDHIGH] CH03=nan（读作 0）、"
              "[PAGE00_THRESHOLDLOW] CH04=99999999999（读作 2147483647）。");
    const PageRecord r = Page(0);
    EXPECT_EQ(r.upper[3], 0);
    EXPECT_EQ(r.lower[4], INT32_MAX);
    EXPECT_EQ(r.percentage, 0.0f);
    EXPECT_EQ(r.reference[5], 7);
    EXPECT_EQ(r.upper[2], Upper(0, 2));
    EXPECT_EQ(runoff->memory().upper[3], 0);
}

}  // namespace
}  // namespace kx

// SPDX-License-Identifier: MIT
// What the device-information dialogs show and send, without Qt: the texts
// of board values, the brand choice, the version history, and the reads and
// writes of each dialog against the software boards.
#include "station/device_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "sim/sim_bus.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"

namespace kx {
namespace {

// The command codes (byte 3) of the command reports a board received. The
// report after a set command carries its data (and may repeat the header),
// so it is skipped.
std::vector<int> CommandCodes(const sim::SimBoard& board,
                              std::initializer_list<int> setCodes = {}) {
    std::vector<int> codes;
    const std::vector<Frame> frames = board.received_outputs();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        if (f[1] == 0x01 && f[2] == 0x29) {
            codes.push_back(f[3]);
            if (std::find(setCodes.begin(), setCodes.end(), f[3]) != setCodes.end()) {
                ++i;
            }
        }
    }
    return codes;
}

// The master board's sets used here.
constexpr std::initializer_list<int> kMasterSets = {0x33, 0xF3, 0xF5, 0xF7};

TEST(DeviceInfoText, VersionsAndDates) {
    EXPECT_EQ(HexVersionText(0x0105), "0x105");
    EXPECT_EQ(HexVersionText(0), "0x0");
    EXPECT_EQ(HexVersionText(0xFFFF), "0xffff");
    EXPECT_EQ(HexVersionText(std::nullopt), "");
    EXPECT_EQ(NibbleVersionText(0x1234), "1.2.3.4");
    EXPECT_EQ(NibbleVersionText(0x0105), "0.1.0.5");
    EXPECT_EQ(NibbleVersionText(0xABCD), "a.b.c.d");
    EXPECT_EQ(NibbleVersionText(std::nullopt), "");
    EXPECT_EQ(DateText(2013, 5, 7), "2013年05月07日");
    // Out of the calendar: shown as the numbers the board gave.
    EXPECT_EQ(DateText(65535, 200, 255), "65535年200月255日");
    EXPECT_EQ(DateText(2013, std::nullopt, 7), "");
    EXPECT_EQ(DateText(std::nullopt, 5, 7), "");
}

TEST(DeviceInfoText, EditionTable) {
    const char* expected[] = {
        "一拖一基础版本V1", "一拖一升级版本V2", "一拖一之[一号机]", "一拖一之[二号机]",
        "一拖一之[三号机]", "一拖一之[四号机]", "一拖一之[五号机]",
    };
    for (int e = 0; e < 7; ++e) {
        EXPECT_EQ(EditionText(static_cast<std::uint8_t>(e)), expected[e]) << e;
    }
    for (int e : {7, 99, 128, 255}) {
        EXPECT_EQ(EditionText(static_cast<std::uint8_t>(e)), "") << e;
    }
    EXPECT_EQ(EditionText(std::nullopt), "");
}

TEST(DeviceInfoText, BoardTextIsCutAndOnlyPrintableAscii) {
    struct Case {
        std::optional<std::string> in;
        std::size_t max;
        std::string out;
    };
    const Case cases[] = {
        {"DEV-0001", 16, "DEV-0001"},
        {std::string(20, 'A'), 16, std::string(16, 'A')},  // no terminator: cut at the run
        {"AUTHOR12xyz", 8, "AUTHOR12"},
        {std::string("ab\0cd", 5), 16, "ab"},
        {"\xC4\xE3\xBA\xC3ok", 16, "????ok"},  // bytes above 127
        {"a\tb\x7F"
         "c",
         16, "a?b?c"},  // control characters
        {std::nullopt, 16, ""},
        {"", 16, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BoardText(c.in, c.max), c.out) << c.in.value_or("(none)");
    }
}

TEST(DeviceInfoText, ClassicVendorCodeNamesItsBrandExactly) {
    EXPECT_EQ(ClassicVendorName("movira"), "MOVIRA");
    EXPECT_EQ(ClassicVendorName("tarsel"), "TARSEL");
    EXPECT_EQ(ClassicVendorName("borvane"), "BORVANE");
    for (const char* other : {"MOVIRA", "Tarsel", "movira ", "borvaneco", "", "VC-CLS"}) {
        EXPECT_EQ(ClassicVendorName(other), "") << other;
    }
}

TEST(DeviceInfoText, AppVersionHasFourParts) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"0.1.0", "0.1.0.0"},
        {"1.2.3.4", "1.2.3.4"},
        {"7", "7.0.0.0"},
        {"65535.0.1", "65535.0.1.0"},
        {"1.2.3.4.5", ""},
        {"1..2", ""},
        {"1.2.", ""},
        {".1", ""},
        {"65536", ""},
        {"a.b", ""},
        {"", ""},
        {"1.2.3 ", ""},
        {"-1.0", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AppVersionText(c.in), c.out) << c.in;
    }
    // The project's own version must give a text the dialogs can show.
    EXPECT_NE(AppVersionText(KALDRIX_VERSION), "") << KALDRIX_VERSION;
}

TEST(DeviceInfoText, BrandPictureByExactName) {
    struct Case {
        const char* name;
        Brand about;  // the one-to-one and classic about dialog
        Brand board;  // the Velmora5 and master board dialogs
    };
    const Case cases[] = {
        {"", Brand::Default, Brand::Default},        {"TARSEL", Brand::Tarsel, Brand::Tarsel},
        {"MOVIRA", Brand::Movira, Brand::Movira},    {"DARMOLEN", Brand::Darmolen, Brand::Darmolen},
        {"BORVANE", Brand::Maker, Brand::Maker},     {"BORVANECO", Brand::Maker, Brand::Default},
        {"borvane", Brand::Default, Brand::Default}, {"movira", Brand::Default, Brand::Default},
        {"ODM", Brand::Default, Brand::Default},     {"TARSEL ", Brand::Default, Brand::Default},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BrandFor(c.name, LogoRules::AboutDialog), c.about) << c.name;
        EXPECT_EQ(BrandFor(c.name, LogoRules::BoardDialog), c.board) << c.name;
    }
    EXPECT_STREQ(BrandPicturePath(Brand::Movira), ":/brand/movira.png");
    EXPECT_STREQ(BrandPicturePath(Brand::Default), ":/brand/default.png");
}

TEST(DeviceInfoText, OfflineByteAsCheckState) {
    EXPECT_EQ(OfflineCheckState(0), 0);
    EXPECT_EQ(OfflineCheckState(1), 1);
    EXPECT_EQ(OfflineCheckState(2), 2);
    EXPECT_EQ(OfflineCheckState(3), 0);
    EXPECT_EQ(OfflineCheckState(255), 0);
}

// --- against the software boards -------------------------------------------------

class RunoffAbout : public ::testing::Test {
protected:
    void SetUp() override {
        bus.plug(board);
        ASSERT_EQ(runoff.open_version2(0), 0);
    }

    sim::SimBus bus;
    std::shared_ptr<sim::SimRunoffBoard> board = std::make_shared<sim::SimRunoffBoard>("VERSION2");
    hiddata_simple_runoff runoff{bus};
};

TEST_F(RunoffAbout, ReadsEveryFieldInTheBoardsOrder) {
    board->edit([](sim::RunoffMemory& m) {
        m.serial_number = "SN-1";
        m.device_id = "ID-2";
        m.author = "AUTHOR12";  // fills its 8 bytes
        m.firmware_version = 0x0105;
        m.firmware_year = 2013;
        m.firmware_month = 5;
        m.firmware_day = 7;
        m.feature_flags = 0x80;
        m.logo_text = "HELLO";
        m.offline_display = 1;
        m.edition = 3;
        m.vendor_code = "MOVIRA";
    });
    board->clear_received();
    const AboutInfo info = ReadRunoffAbout(runoff, "");
    EXPECT_EQ(info.serialNumber, "SN-1");
    EXPECT_EQ(info.deviceId, "ID-2");
    EXPECT_EQ(info.author, "AUTHOR12");
    EXPECT_EQ(info.firmwareVersion, "0x105");
    EXPECT_EQ(info.firmwareDate, "2013年05月07日");
    EXPECT_TRUE(info.optionEditable);
    EXPECT_EQ(info.logoText, "HELLO");
    EXPECT_EQ(info.offlineDisplay, 1);
    EXPECT_TRUE(info.sendsOffline);
    EXPECT_EQ(info.edition, "一拖一之[二号机]");
    // No OEM name recorded (a VERSION row): the vendor code names the brand.
    EXPECT_EQ(info.vendorName, "MOVIRA");
    EXPECT_EQ(CommandCodes(*board), (std::vector<int>{0x50, 0x50, 0xA0, 0x60, 0x90, 0x80, 0x70,
                                                      0xB0, 0xD0, 0xD6, 0xDC, 0xE0}));

    // With an OEM name the vendor code is not asked for.
    board->clear_received();
    EXPECT_EQ(ReadRunoffAbout(runoff, "TARSEL").vendorName, "TARSEL");
    EXPECT_EQ(CommandCodes(*board).back(), 0xDC);
}

TEST_F(RunoffAbout, HostileValuesShowHarmlessly) {
    board->edit([](sim::RunoffMemory& m) {
        m.firmware_year = 2013;
        m.firmware_month = 200;
        m.firmware_day = 0;
        m.edition = 99;
        m.feature_flags = 0x7F;
        m.offline_display = 3;
        m.serial_number = std::string(16, 'S') + "TAIL";  // the board keeps 16, no terminator
        m.logo_text = "\xC4\xE3\xBA\xC3\x80\xFF";
        m.vendor_code = std::string(16, '\xFF');
    });
    const AboutInfo info = ReadRunoffAbout(runoff, "");
    EXPECT_EQ(info.firmwareDate, "2013年200月00日");
    EXPECT_EQ(info.edition, "");
    EXPECT_FALSE(info.optionEditable);
    EXPECT_EQ(info.offlineDisplay, 0);  // 3 is taken as 0
    EXPECT_EQ(info.serialNumber, std::string(16, 'S'));
    EXPECT_EQ(info.logoText, "??????");
    EXPECT_EQ(info.vendorName, std::string(16, '?'));
}

// A one-to-one board that does not answer one command: every other field
// still shows, and the missing one never shows another command's bytes.
class RunoffBoardSilentOn : public sim::SimRunoffBoard {
public:
    RunoffBoardSilentOn(const std::string& manufacturer, std::uint8_t silentCode)
        : SimRunoffBoard(manufacturer), silentCode_(silentCode) {}

protected:
    void on_output(const Frame& frame) override {
        if (frame[1] == 0x01 && frame[2] == 0x29 && frame[3] == silentCode_) {
            return;
        }
        SimRunoffBoard::on_output(frame);
    }

private:
    std::uint8_t silentCode_;
};

TEST(RunoffAboutMissingReplies, AFieldThatDidNotComeIsEmptyAndNotSentBack) {
    sim::SimBus bus;
    auto board = std::make_shared<RunoffBoardSilentOn>("VERSION2", 0xD6);
    board->edit([](sim::RunoffMemory& m) {
        m.firmware_version = 0x0105;
        m.offline_display = 1;
        m.feature_flags = 0x80;
        m.edition = 1;
    });
    bus.plug(board);
    hiddata_simple_runoff runoff{bus};
    ASSERT_EQ(runoff.open_version2(0), 0);
    const AboutInfo info = ReadRunoffAbout(runoff, "");
    EXPECT_EQ(info.firmwareVersion, "0x105");
    EXPECT_EQ(info.edition, "一拖一升级版本V2");  // the query after the silent one
    EXPECT_EQ(info.offlineDisplay, 0);
    EXPECT_FALSE(info.sendsOffline);
    EXPECT_FALSE(info.optionEditable);
}

TEST(AboutMissingReplies, UnpluggedBoardsGiveEmptyFieldsAndNothingToSend) {
    sim::SimBus bus;
    auto runoffBoard = std::make_shared<sim::SimRunoffBoard>("TARSEL");
    auto velmora5Board = std::make_shared<sim::SimVelmora5Board>();
    auto masterBoard = std::make_shared<sim::SimMasterBoard>();
    bus.plug(runoffBoard);
    bus.plug(velmora5Board);
    bus.plug(masterBoard);
    hiddata_simple_runoff runoff{bus};
    hiddata_velmora5 v5{bus};
    hiddata_masterHID master{bus};
    ASSERT_EQ(runoff.open_tarsel(0), 0);
    ASSERT_EQ(v5.open_maker(), 0);
    ASSERT_EQ(master.open_board(), 0);
    masterBoard->assign(0, 0, 0, 4);
    ASSERT_TRUE(master.load_position_map());
    bus.unplug_all();

    const AboutInfo info = ReadRunoffAbout(runoff, "");
    for (const std::string* field :
         {&info.serialNumber, &info.deviceId, &info.author, &info.firmwareVersion,
          &info.firmwareDate, &info.logoText, &info.edition, &info.vendorName}) {
        EXPECT_EQ(*field, "");
    }
    EXPECT_FALSE(info.sendsOffline);
    EXPECT_FALSE(info.optionEditable);
    EXPECT_FALSE(WriteOfflineDisplay(runoff, 1));

    const Velmora5About v5About = ReadVelmora5About(v5);
    EXPECT_EQ(v5About.firmwareVersion, "");
    EXPECT_EQ(v5About.firmwareDate, "");
    EXPECT_EQ(v5About.vendorName, "");
    EXPECT_FALSE(v5About.layout.has_value());
    EXPECT_FALSE(WriteVelmora5Layout(v5, {1, 2, 2}));

    const MasterAbout masterAbout = ReadMasterAbout(master, 1, 1);
    EXPECT_EQ(masterAbout.deviceId, "");
    EXPECT_EQ(masterAbout.firmwareVersion, "");
    EXPECT_FALSE(masterAbout.buzzerOn.has_value());
    EXPECT_FALSE(masterAbout.buzzerInverted.has_value());
    // The map loaded at connection still names the head.
    EXPECT_EQ(masterAbout.heads[0], 4);
    MasterLayout layout{1, 1, masterAbout.heads, std::nullopt};
    EXPECT_FALSE(WriteMasterLayout(master, layout));
}

TEST(ClassicAboutInfo, FromTheFieldsReadAtConnection) {
    ClassicTesterFields f;
    f.firmware_info = {0xDD, 0x07, 5, 7, 0x05, 0x01, 0x80};  // 2013-05-07, 0x0105, bit 7
    f.serial_number = "CT250001";
    f.device_id = "DEV\xB0\xA1";
    f.vendor_code = "movira";
    const AboutInfo info = ClassicAbout(f);
    EXPECT_EQ(info.firmwareVersion, "0x105");
    EXPECT_EQ(info.firmwareDate, "2013年05月07日");
    EXPECT_EQ(info.serialNumber, "CT250001");
    EXPECT_EQ(info.deviceId, "DEV??");
    EXPECT_EQ(info.edition, "经典版本");
    EXPECT_EQ(info.author, kClassicAuthor);
    EXPECT_EQ(info.logoText, "");
    EXPECT_EQ(info.vendorName, "MOVIRA");
    EXPECT_EQ(info.offlineDisplay, 0);
    EXPECT_FALSE(info.sendsOffline);
    EXPECT_FALSE(info.optionEditable);

    f.vendor_code = "borvane";
    EXPECT_EQ(ClassicAbout(f).vendorName, "BORVANE");
    f.vendor_code = "VC-CLS";
    EXPECT_EQ(ClassicAbout(f).vendorName, "");
}

TEST(Velmora5AboutInfo, ReadsAndSendsTheLayoutRecord) {
    sim::SimBus bus;
    auto board = std::make_shared<sim::SimVelmora5Board>();
    bus.plug(board);
    hiddata_velmora5 v5{bus};
    ASSERT_EQ(v5.open_maker(), 0);
    board->edit([](sim::Velmora5Memory& m) {
        m.firmware_version = 0x1234;
        m.firmware_year = 2024;
        m.firmware_month = 1;
        m.firmware_day = 22;
        m.vendor_code = "TARSEL";
        m.device_id = "V5-9";
        m.heads[1].modes = {1, 2, 3, 9, 9, 9};
    });
    board->clear_received();
    const Velmora5About about = ReadVelmora5About(v5);
    EXPECT_EQ(about.vendorName, "TARSEL");
    EXPECT_EQ(about.deviceId, "V5-9");
    EXPECT_EQ(about.firmwareVersion, "1.2.3.4");
    EXPECT_EQ(about.firmwareDate, "2024年01月22日");
    ASSERT_TRUE(about.layout.has_value());
    EXPECT_EQ(*about.layout, (Velmora5LayoutRecord{1, 2, 3}));
    EXPECT_EQ(CommandCodes(*board), (std::vector<int>{0x40, 0x50, 0x60, 0x90, 0x80, 0x70, 0x30}));

    EXPECT_TRUE(WriteVelmora5Layout(v5, {0, 4, 2}));
    const sim::Velmora5Memory m = board->memory();
    std::array<std::uint8_t, 32> expected{};
    expected[1] = 4;
    expected[2] = 2;
    EXPECT_EQ(m.heads[1].modes, expected);  // the record, then 29 zeros
    EXPECT_EQ(m.protocol_errors, 0);
}

TEST(MasterPositionMapOfTheDialog, HeadsAndMapBytes) {
    // 2 x 2 with heads 3, 5, 7, 9.
    HeadPositions heads;
    heads.fill(kNoHead);
    heads[0] = 3;
    heads[1] = 5;
    heads[2] = 7;
    heads[3] = 9;
    MasterPositionMap map = BuildPositionMap(heads, 2, 2);
    MasterPositionMap expected{};
    const std::uint8_t bytes[] = {0x00, 0x83, 0x10, 0x85, 0x01, 0x87, 0x11, 0x89};
    std::copy(std::begin(bytes), std::end(bytes), expected.begin());
    EXPECT_EQ(map, expected);
    const HeadPositions back = HeadsFromMap(map, 2, 2);
    EXPECT_EQ(back[0], 3);
    EXPECT_EQ(back[3], 9);
    EXPECT_EQ(back[4], kNoHead);

    // An unfilled position goes out assigned, as 0xFF; values keep their low
    // 8 bits with bit 7 forced on.
    heads[1] = kNoHead;
    heads[2] = 0x1FE;
    heads[3] = -1;
    map = BuildPositionMap(heads, 2, 2);
    EXPECT_EQ(map[3], 0xFF);
    EXPECT_EQ(map[5], 0xFE);
    EXPECT_EQ(map[7], 0xFF);

    // 5 rows x 4 columns: 20 positions, only the first 16 have entries.
    HeadPositions many{};
    for (int k = 0; k < 20; ++k) {
        many[static_cast<std::size_t>(k)] = k;
    }
    map = BuildPositionMap(many, 5, 4);
    EXPECT_EQ(map[2 * 15], 3 * 16 + 3);  // position 15: column 3, row 3
    EXPECT_EQ(map[2 * 15 + 1], 0x80 | 15);
    EXPECT_EQ(map[2 * 6], 2 * 16 + 1);  // position 6: column 2, row 1
    const HeadPositions fromMap = HeadsFromMap(map, 5, 4);
    EXPECT_EQ(fromMap[15], 15);
    EXPECT_EQ(fromMap[16], kNoHead);
    EXPECT_EQ(fromMap[19], kNoHead);

    // 3 columns x 1 row: heads 0, 1, 2.
    HeadPositions three{};
    three[0] = 0;
    three[1] = 1;
    three[2] = 2;
    map = BuildPositionMap(three, 1, 3);
    const std::uint8_t row[] = {0x00, 0x80, 0x10, 0x81, 0x20, 0x82, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(row), std::end(row), map.begin()));

    // Sizes beyond what the dialog holds never reach past its table.
    EXPECT_EQ(HeadsFromMap(map, 100, 100)[99], kNoHead);
    EXPECT_EQ(BuildPositionMap(many, 0, 4), MasterPositionMap{});
    EXPECT_EQ(BuildPositionMap(many, -3, 4), MasterPositionMap{});
}

TEST(MasterPositionMapOfTheDialog, CellTextValue) {
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"12", 12},   {" 7x", 7},  {"-1", -1},        {"+5", 5},         {"abc", 0}, {"", 0},
        {"300", 300}, {"0009", 9}, {"4294967296", 0}, {"4294967299", 3}, {"- 4", 0}, {"\t255", 255},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
    }
}

TEST(MasterAboutInfo, ReadsTheBoardAndWritesItsLayout) {
    sim::SimBus bus;
    auto board = std::make_shared<sim::SimMasterBoard>();
    bus.plug(board);
    hiddata_masterHID master{bus};
    ASSERT_EQ(master.open_board(), 0);
    board->assign(0, 0, 0, 3);
    board->assign(1, 0, 1, 5);
    board->assign(2, 1, 0, 7);
    board->assign(3, 1, 1, std::nullopt);
    board->edit([](sim::MasterMemory& m) {
        m.firmware_version = 0x0105;
        m.firmware_year = 2025;
        m.firmware_month = 8;
        m.firmware_day = 14;
        m.buzzer = 0x81;
        m.vendor_code = "BORVANE";
    });
    master.load_position_map();
    board->clear_received();

    const MasterAbout about = ReadMasterAbout(master, 2, 2);
    EXPECT_EQ(about.vendorName, "BORVANE");
    EXPECT_EQ(about.firmwareVersion, "0.1.0.5");
    EXPECT_EQ(about.firmwareDate, "2025年08月14日");
    EXPECT_EQ(about.buzzerOn, true);
    EXPECT_EQ(about.buzzerInverted, true);
    EXPECT_EQ(about.heads[0], 3);
    EXPECT_EQ(about.heads[1], 5);
    EXPECT_EQ(about.heads[2], 7);
    EXPECT_EQ(about.heads[3], kNoHead);
    EXPECT_EQ(CommandCodes(*board),
              (std::vector<int>{0xE0, 0x50, 0x60, 0x90, 0x80, 0x70, 0xF2, 0xF2}));

    board->clear_received();
    MasterLayout layout{1, 3, {}, std::uint8_t{0x00}};
    layout.heads.fill(kNoHead);
    layout.heads[0] = 0;
    layout.heads[1] = 1;
    layout.heads[2] = 2;
    EXPECT_TRUE(WriteMasterLayout(master, layout));
    EXPECT_EQ(CommandCodes(*board, kMasterSets), (std::vector<int>{0xF7, 0xF5, 0x33, 0xF3, 0x32}));
    const sim::MasterMemory m = board->memory();
    EXPECT_EQ(m.columns, 3);
    EXPECT_EQ(m.rows, 1);
    EXPECT_EQ(m.buzzer, 0x00);
    const std::uint8_t row[] = {0x00, 0x80, 0x10, 0x81, 0x20, 0x82, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(row), std::end(row), m.position_map.begin()));
    // The board object's map was reloaded.
    EXPECT_EQ(master.position_head(2), std::optional<std::uint8_t>(2));

    // Without a buzzer value the settings are left alone.
    board->clear_received();
    layout.buzzer = std::nullopt;
    EXPECT_TRUE(WriteMasterLayout(master, layout));
    EXPECT_EQ(CommandCodes(*board, kMasterSets), (std::vector<int>{0xF7, 0xF5, 0x33, 0x32}));
}

}  // namespace
}  // namespace kx

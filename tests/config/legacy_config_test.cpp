// SPDX-License-Identifier: MIT
#include "config/legacy_config.h"

#include <gtest/gtest.h>

#include <string>

#include "config/config_file.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

std::string Channels(const char* section, const char* prefix, int base) {
    std::string s = std::string("[") + section + "]\r\n";
    for (int c = 0; c < kChannels; ++c) {
        s += prefix + std::to_string(c) + "=" + std::to_string(base + c) + "\r\n";
    }
    return s;
}

TEST(LegacyConfig, ImportsEveryFieldOfTheOldLayout) {
    const std::string text =
        "[offset]\r\noffsetfunction1=0\r\noffsetfunction2=1\r\n"
        "offsetvalue1=7.5\r\noffsetvalue_up=120\r\noffsetvalue_down=80\r\n" +
        Channels("baseline", "ch", 700) + Channels("upperlimit", "ch", 1000) +
        Channels("lowerlimit", "ch", 400) + "[datarange]\r\nmaxvalue=1600\r\nminvalue=20\r\n" +
        Channels("channelenable", "ch_en", 0);
    test::TempDir dir;
    const std::string path = dir / "old.ini";
    test::WriteWhole(path, text);
    IniFile file;
    ASSERT_FALSE(ReadIniFile(path, file));

    PageRecord page = PageRecord::Defaults();
    page.live.fill(55);
    ReadLegacyPage(file, page);
    EXPECT_EQ(page.offsetType, 0);
    EXPECT_FLOAT_EQ(page.percentage, 7.5f);
    EXPECT_EQ(page.offsetUpper, 120);
    EXPECT_EQ(page.offsetLower, 80);
    for (int c = 0; c < kChannels; ++c) {
        EXPECT_EQ(page.reference[c], 700 + c);
        EXPECT_EQ(page.upper[c], 1000 + c);
        EXPECT_EQ(page.lower[c], 400 + c);
        EXPECT_EQ(page.mask[c], c == 0 ? Masked : Tested);  // ch_en0=0, the others 1..31
        EXPECT_EQ(page.live[c], 55);                        // not a setting
    }
    EXPECT_EQ(page.rangeMax, 1600);
    EXPECT_EQ(page.rangeMin, 20);
}

TEST(LegacyConfig, ChannelEnablesAndTheOffsetSwitches) {
    const struct {
        const char* value;  // of ch_en7; nullptr: no such key
        std::uint8_t mode;
    } enables[] = {
        {"0", Masked},   {"1", Tested},   {"2", Tested},     {"-1", Tested},
        {"abc", Masked}, {" 1 ", Tested}, {nullptr, Masked},
    };
    for (const auto& e : enables) {
        const std::string text =
            e.value ? std::string("[channelenable]\nch_en7=") + e.value + "\n" : "";
        PageRecord page = PageRecord::Defaults();
        ReadLegacyPage(IniFile::Parse(text), page);
        EXPECT_EQ(page.mask[7], e.mode) << (e.value ? e.value : "(missing)");
    }

    const struct {
        const char* text;
        std::uint8_t offsetType;
    } switches[] = {
        {"offsetfunction1=1\noffsetfunction2=0\n", 1},  // by percentage
        {"offsetfunction1=0\noffsetfunction2=1\n", 0},  // by value
        {"offsetfunction1=0\noffsetfunction2=0\n", 1},
        {"offsetfunction1=1\noffsetfunction2=1\n", 0},  // the second one decides
        {"", 1},
    };
    for (const auto& s : switches) {
        PageRecord page = PageRecord::Defaults();
        ReadLegacyPage(IniFile::Parse(std::string("[offset]\n") + s.text), page);
        EXPECT_EQ(page.offsetType, s.offsetType) << s.text;
    }
}

// The import checks the file first (CheckLegacyConfig, below) and refuses
// such a file; the reader itself gives a defined result.
TEST(LegacyConfig, AFileOfTheNewLayoutGivesAPageOfZerosAllMasked) {
    PageTable table;
    InitPageTable(table);
    const PageRecord untouched = table[1];
    // The window imports into page 0 of a multi-head table.
    ReadLegacyPage(IniFile::Parse("[GLOBAL]\nCOL=2\nROW=2\n[PAGE00_REFDATA]\nCH00=5\n"), table[0]);
    for (int c = 0; c < kChannels; ++c) {
        EXPECT_EQ(table[0].reference[c], 0);
        EXPECT_EQ(table[0].upper[c], 0);
        EXPECT_EQ(table[0].mask[c], Masked);
    }
    EXPECT_EQ(table[0].offsetType, 1);
    EXPECT_EQ(table[0].percentage, 0.0f);
    EXPECT_EQ(table[0].rangeMax, 0);
    EXPECT_EQ(table[1].reference, untouched.reference);
}

TEST(LegacyConfig, CheckTellsAWholeOldConfigurationFromOtherFiles) {
    const std::string whole =
        "[offset]\r\noffsetfunction1=0\r\noffsetfunction2=1\r\n"
        "offsetvalue1=7.5\r\noffsetvalue_up=120\r\noffsetvalue_down=80\r\n" +
        Channels("baseline", "ch", 700) + Channels("upperlimit", "ch", 1000) +
        Channels("lowerlimit", "ch", 400) + "[datarange]\r\nmaxvalue=1600\r\nminvalue=20\r\n" +
        Channels("channelenable", "ch_en", 0);
    const auto without = [](std::string text, const std::string& line) {
        const std::size_t at = text.find(line);
        return text.erase(at, text.find("\r\n", at) + 2 - at);
    };
    const struct {
        const char* name;
        std::string text;
        int code;
        std::string detail;
    } cases[] = {
        {"a whole file", whole, 0, ""},
        // It decides nothing, so files without it load.
        {"without offsetfunction1", without(whole, "offsetfunction1="), 0, ""},
        {"with keys of the new layout too", whole + "[GLOBAL]\r\nCOL=1\r\n", 0, ""},
        {"without its channel switches", whole.substr(0, whole.find("[channelenable]")),
         FileError::kIncompleteConfig, "缺少 32 项设置（如 [channelenable] 中的 ch_en0）"},
        {"one limit missing", without(whole, "ch31=1031"), FileError::kIncompleteConfig,
         "缺少 1 项设置（如 [upperlimit] 中的 ch31）"},
        {"a configuration of the new layout", "[GLOBAL]\nFPCTEST=0\nCOL=1\nROW=1\n",
         FileError::kNewConfig, ""},
        {"neither layout", "[ch]\nch0=5\n", FileError::kNotLegacyConfig,
         "文件中没有老版本配置载入所读的任何设置（[offset]、[baseline]、[upperlimit]、"
         "[lowerlimit]、[datarange]、[channelenable]）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FileError error = CheckLegacyConfig(IniFile::Parse(c.text), "old.ini");
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.detail, c.detail);
    }
}

}  // namespace
}  // namespace kx

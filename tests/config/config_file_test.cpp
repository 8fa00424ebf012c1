// SPDX-License-Identifier: MIT
#include "config/config_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/page_settings.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

using test::ReadWhole;
using test::TempDir;
using test::WriteWhole;

// A page whose every setting differs from the defaults and from every other
// page, channel by channel.
PageRecord VariedPage(int page) {
    PageRecord r = PageRecord::Defaults();
    for (int c = 0; c < kChannels; ++c) {
        r.reference[c] = 600 + page * 100 + c;
        r.upper[c] = 900 + page * 100 + c;
        r.lower[c] = 300 + page * 100 - c;
        r.mask[c] = static_cast<std::uint8_t>((c + page) % 3);
        r.live[c] = 4242;
    }
    r.rangeMax = 1500 + page;
    r.rangeMin = -10 - page;
    r.offsetType = static_cast<std::uint8_t>(page % 2);
    r.percentage = 7.25f + static_cast<float>(page);
    r.offsetUpper = 100 + page;
    r.offsetLower = 50 + page;
    return r;
}

// The window's load: global values, then page after page into the table.
struct Loaded {
    ConfigGlobals globals;
    ConfigLayout layout;
    PageTable table;
    std::vector<int> pagesRead;
};

Loaded LoadFile(const std::string& path, const PageTable& before) {
    FileError error;
    auto reader = ConfigReader::Open(path, error);
    EXPECT_TRUE(reader.has_value()) << error.Message();
    Loaded l;
    l.table = before;
    if (!reader) {
        return l;
    }
    l.globals = reader->Globals();
    l.layout = reader->Layout();
    for (int p = 0; p < reader->PageCount(); ++p) {
        EXPECT_TRUE(reader->ReadPage(p, l.table[p]));
        l.pagesRead.push_back(p);
    }
    return l;
}

PageTable DefaultTable() {
    PageTable t;
    InitPageTable(t);
    return t;
}

class ConfigFile : public ::testing::Test {
protected:
    std::string Save(const ConfigGlobals& g, const PageTable& table,
                     const std::string& name = "test.ini") {
        const std::string path = dir / name;
        const FileError error = SaveConfig(path, g, table);
        EXPECT_FALSE(error) << error.Message();
        return path;
    }

    TempDir dir;
};

TEST_F(ConfigFile, SaveWritesTheSectionsAndKeysInOrder) {
    PageTable table = DefaultTable();
    table[0].mask[0] = Tested;
    const std::string text = ReadWhole(Save({0, 1, 1}, table));

    std::string expected =
        "[GLOBAL]\r\nFPCTEST=0\r\nCOL=1\r\nROW=1\r\n"
        "[PAGE00_OFFSET]\r\nPAGE00_OFFSETTYPE=1\r\nPAGE00_PERCENTAGE=10.000000\r\n"
        "PAGE00_OFFSETUPPER=100\r\nPAGE00_OFFSETLOWER=100\r\n";
    const auto block = [&](const char* section, auto value) {
        expected += std::string("[") + section + "]\r\n";
        for (int c = 0; c < kChannels; ++c) {
            char line[32];
            std::snprintf(line, sizeof line, "CH%02d=%d\r\n", c, value(c));
            expected += line;
        }
    };
    block("PAGE00_REFDATA", [](int) { return 700; });
    block("PAGE00_THRESHOLDHIGH", [](int) { return 1100; });
    block("PAGE00_THRESHOLDLOW", [](int) { return 500; });
    expected += "[PAGE00_DATARANG]\r\nMAX=1500\r\n[PAGE00_DATARANGE]\r\nMIN=10\r\n";
    block("PAGE00_MASK", [](int c) { return c == 0 ? 1 : 0; });
    EXPECT_EQ(text, expected);
}

TEST_F(ConfigFile, EveryPageOfAFullLayoutComesBack) {
    PageTable table = DefaultTable();
    for (int p = 0; p < kPageCount; ++p) {
        table[p] = VariedPage(p);
    }
    const std::string path = Save({1, 8, 8}, table);

    PageTable before = DefaultTable();
    for (PageRecord& r : before) {
        r.live.fill(77);
    }
    const Loaded l = LoadFile(path, before);
    EXPECT_EQ(l.globals.fpcTest, 1);
    EXPECT_EQ(l.globals.columns, 8);
    EXPECT_EQ(l.globals.rows, 8);
    EXPECT_FALSE(l.layout.Adjusted());
    ASSERT_EQ(l.pagesRead.size(), 64u);
    for (int p = 0; p < kPageCount; ++p) {
        SCOPED_TRACE(p);
        ExpectSameSettings(l.table[p], table[p]);
        EXPECT_EQ(l.table[p].live, before[p].live);  // live values are not the file's
    }
}

TEST_F(ConfigFile, MasksWithoutFpcTestRecordOnlyOnAndOff) {
    PageTable table = DefaultTable();
    table[0].mask.fill(Tested);
    table[0].mask[5] = Greyed;
    table[0].mask[6] = Masked;
    table[0].mask[7] = 9;  // a byte no mode has
    const std::string path = Save({0, 1, 1}, table);

    IniFile file;
    ASSERT_FALSE(ReadIniFile(path, file));
    EXPECT_EQ(file.GetString("PAGE00_MASK", "CH05"), "0");
    EXPECT_EQ(file.GetString("PAGE00_MASK", "CH06"), "0");
    EXPECT_EQ(file.GetString("PAGE00_MASK", "CH07"), "0");
    EXPECT_EQ(file.GetString("PAGE00_MASK", "CH04"), "1");

    const Loaded l = LoadFile(path, DefaultTable());
    EXPECT_EQ(l.table[0].mask[4], Tested);
    EXPECT_EQ(l.table[0].mask[5], Masked);
    EXPECT_EQ(l.table[0].mask[6], Masked);
    EXPECT_EQ(l.table[0].mask[7], Masked);
}

TEST_F(ConfigFile, MasksWithFpcTestAreTheModeBytes) {
    PageTable table = DefaultTable();
    for (int c = 0; c < kChannels; ++c) {
        table[0].mask[c] = static_cast<std::uint8_t>(c % 3);
    }
    const std::string path = Save({1, 1, 1}, table);
    IniFile file;
    ASSERT_FALSE(ReadIniFile(path, file));
    EXPECT_EQ(file.GetString("PAGE00_MASK", "CH00"), "0");
    EXPECT_EQ(file.GetString("PAGE00_MASK", "CH01"), "1");
    EXPECT_EQ(file.GetString("PAGE00_MASK", "CH02"), "2");
    EXPECT_EQ(LoadFile(path, DefaultTable()).table[0].mask, table[0].mask);

    // Any number is taken as its low byte.
    WriteWhole(path, "[GLOBAL]\nFPCTEST=1\nCOL=1\nROW=1\n[PAGE00_MASK]\nCH00=258\nCH01=-1\n");
    const Loaded l = LoadFile(path, DefaultTable());
    EXPECT_EQ(l.table[0].mask[0], 2);
    EXPECT_EQ(l.table[0].mask[1], 255);
    EXPECT_EQ(l.table[0].mask[2], 0);  // missing: 0, Tested
}

TEST_F(ConfigFile, ReadsTheFilesOwnSpellingsAndValues) {
    const std::string path = dir / "spellings.ini";
    WriteWhole(path,
               "[GLOBAL]\nFPCTEST=0\nCOL=1\nROW=1\n"
               "[PAGE00_OFFSET]\nPAGE00_OFFSETTYPE=5\nPAGE00_PERCENTAGE=12.5\n"
               "PAGE00_OFFSETUPPER=abc\nOFFSETLOWER=7\n"
               "[PAGE00_DATARANGE]\nMAX=999\nMIN=5\n"
               "[PAGE00_REFDATA]\nCH0=1\nCH00= 42 \n");
    const Loaded l = LoadFile(path, DefaultTable());
    const PageRecord& r = l.table[0];
    EXPECT_EQ(r.offsetType, 1);
    EXPECT_FLOAT_EQ(r.percentage, 12.5f);
    EXPECT_EQ(r.offsetUpper, 0);  // malformed
    EXPECT_EQ(r.offsetLower, 0);  // the key must repeat the page number
    EXPECT_EQ(r.rangeMax, 0);     // MAX lives in PAGE00_DATARANG
    EXPECT_EQ(r.rangeMin, 5);
    EXPECT_EQ(r.reference[0], 42);
    EXPECT_EQ(r.reference[1], 0);
    EXPECT_EQ(r.upper[0], 0);  // missing section

    // Saved back: the percentage as "%f", MAX under the short spelling.
    ASSERT_FALSE(SaveConfig(path, l.globals, l.table));
    IniFile file;
    ASSERT_FALSE(ReadIniFile(path, file));
    EXPECT_EQ(file.GetString("PAGE00_OFFSET", "PAGE00_PERCENTAGE"), "12.500000");
    EXPECT_EQ(file.GetString("PAGE00_OFFSET", "PAGE00_OFFSETTYPE"), "1");
    EXPECT_EQ(file.GetString("PAGE00_DATARANG", "MAX"), "0");
    EXPECT_EQ(file.GetString("PAGE00_DATARANGE", "MAX"), "999");  // left as it was
    EXPECT_EQ(file.GetString("PAGE00_DATARANGE", "MIN"), "5");
}

TEST_F(ConfigFile, LoadsOnlyThePagesOfTheLayout) {
    PageTable six = DefaultTable();
    for (int p = 0; p < 6; ++p) {
        six[p] = VariedPage(p);
    }
    const std::string path = Save({0, 3, 2}, six);
    IniFile file;
    ASSERT_FALSE(ReadIniFile(path, file));
    file.SetString("GLOBAL", "COL", "2");
    file.SetString("GLOBAL", "ROW", "2");
    WriteWhole(path, file.Serialize());

    const PageTable before = DefaultTable();
    const Loaded l = LoadFile(path, before);
    EXPECT_EQ(l.pagesRead, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(l.table[3].reference, six[3].reference);
    EXPECT_EQ(l.table[4].reference, before[4].reference);
    EXPECT_EQ(l.table[5].reference, before[5].reference);
}

TEST_F(ConfigFile, SavingASmallerLayoutKeepsTheOtherPagesInTheFile) {
    PageTable four = DefaultTable();
    for (int p = 0; p < 4; ++p) {
        four[p] = VariedPage(p);
    }
    const std::string path = Save({1, 2, 2}, four);

    PageTable one = DefaultTable();
    one[0] = VariedPage(9);
    Save({1, 1, 1}, one);

    FileError error;
    const auto reader = ConfigReader::Open(path, error);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->PageCount(), 1);
    for (int p = 0; p < 4; ++p) {
        SCOPED_TRACE(p);
        PageRecord r = PageRecord::Defaults();
        ASSERT_TRUE(reader->ReadPage(p, r));
        ExpectSameSettings(r, p == 0 ? one[0] : four[p]);
    }
}

TEST_F(ConfigFile, AnotherStationsFileIsKeptWholeAfterASave) {
    const std::string foreign =
        "\xEF\xBB\xBF; line 3, written by the camera station\n"
        "[GLOBAL]\n"
        "OPERATOR=张三\n"
        "FPCTEST = 1 ; tested\n"
        "\n"
        "[CAMERA]\n"
        "exposure=\"12 ms\"\n"
        "; gain=4\n"
        "not a key\n"
        "[PAGE00_MASK]\n"
        "NOTE=kept\n"
        "\n"
        "[PAGE70_REFDATA]\n"
        "CH00=1\n";
    const std::string path = dir / "foreign.ini";
    WriteWhole(path, foreign);
    PageTable table = DefaultTable();
    ASSERT_FALSE(SaveConfig(path, {0, 1, 1}, table));
    const std::string saved = ReadWhole(path);

    // Our keys went in; every other line is where it was, as it was.
    std::string expectedStart =
        "\xEF\xBB\xBF; line 3, written by the camera station\n"
        "[GLOBAL]\n"
        "OPERATOR=张三\n"
        "FPCTEST=0\n"
        "COL=1\n"
        "ROW=1\n"
        "\n"
        "[CAMERA]\n"
        "exposure=\"12 ms\"\n"
        "; gain=4\n"
        "not a key\n"
        "[PAGE00_MASK]\n"
        "NOTE=kept\n";
    for (int c = 0; c < kChannels; ++c) {
        char line[32];
        std::snprintf(line, sizeof line, "CH%02d=0\n", c);
        expectedStart += line;
    }
    expectedStart += "\n[PAGE70_REFDATA]\nCH00=1\n[PAGE00_OFFSET]\n";
    EXPECT_EQ(saved.substr(0, expectedStart.size()), expectedStart);
    EXPECT_EQ(saved.find('\r'), std::string::npos);  // the file's own line ends
}

TEST_F(ConfigFile, LayoutsTheTableCannotHoldLoadWhatFits) {
    const struct {
        const char* col;
        const char* row;
        std::int32_t columns, rows;
        int pages;
        bool adjusted;
    } cases[] = {
        {"2", "2", 2, 2, 4, false},       {"8", "8", 8, 8, 64, false},
        {"10", "10", 10, 10, 64, true},   {"9", "8", 9, 8, 64, true},
        {"1000", "1", 10, 1, 10, true},   {"1000", "-5", 10, 0, 0, true},
        {"3", "-5", 3, 0, 0, true},       {"-1", "-1", 0, 0, 0, true},
        {"abc", nullptr, 0, 0, 0, false}, {"99999999999", "2", 10, 2, 20, true},
    };
    const std::string path = dir / "layout.ini";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.col) + " x " + (c.row ? c.row : "(none)"));
        std::string text = "[GLOBAL]\nCOL=" + std::string(c.col) + "\n";
        if (c.row) {
            text += "ROW=" + std::string(c.row) + "\n";
        }
        WriteWhole(path, text);
        const Loaded l = LoadFile(path, DefaultTable());
        EXPECT_EQ(l.globals.columns, c.columns);
        EXPECT_EQ(l.globals.rows, c.rows);
        EXPECT_EQ(static_cast<int>(l.pagesRead.size()), c.pages);
        EXPECT_EQ(l.layout.Adjusted(), c.adjusted);
        const std::string notice = LayoutNotice(l.layout);
        EXPECT_EQ(notice.empty(), !c.adjusted);
        if (c.adjusted) {
            EXPECT_NE(notice.find("已按 " + std::to_string(c.columns) + " 列 × " +
                                  std::to_string(c.rows) + " 行载入"),
                      std::string::npos)
                << notice;
        }
    }
}

TEST_F(ConfigFile, LayoutNoticeNamesWhatWasAskedAndWhatWasLoaded) {
    ConfigLayout l{1000, -5, 10, 0, 0};
    EXPECT_EQ(LayoutNotice(l),
              "配置文件中的布局为 1000 列 × -5 行，本机每行、每列最多 10 个测试头。"
              "已按 10 列 × 0 行载入，没有载入任何测试头的设置。");
    l = {10, 10, 10, 10, 64};
    EXPECT_EQ(LayoutNotice(l),
              "已按 10 列 × 10 行载入，本机最多保存 64 个测试头的设置，只载入了前 64 个"
              "（第 00 至 63 页）。");
}

TEST_F(ConfigFile, PagesOutsideTheTableAreNeverRead) {
    const ConfigReader reader(IniFile::Parse("[PAGE64_REFDATA]\nCH00=1\n"));
    PageRecord r = PageRecord::Defaults();
    for (int page : {-1, 64, 100, INT_MIN, INT_MAX}) {
        EXPECT_FALSE(reader.ReadPage(page, r)) << page;
    }
    ExpectSameSettings(r, PageRecord::Defaults());
}

TEST_F(ConfigFile, BadFilesGiveADefinedResult) {
    std::mt19937 rng(7);
    std::string junk(64 * 1024, '\0');
    for (char& ch : junk) {
        ch = static_cast<char>(rng());
    }
    const std::string huge = std::string(10 << 20, '7');
    const struct {
        const char* what;
        std::string bytes;
        std::int32_t columns, rows;
        std::string kept;  // still in the file after a save over it
    } cases[] = {
        {"empty", "", 0, 0, ""},
        {"binary junk", junk, 0, 0, junk},
        {"a 10 MB line",
         "[GLOBAL]\nCOL=1\nROW=1\nNOTE=" + huge +
             "\n[PAGE00_REFDATA]\nCH00=" + huge.substr(0, 1 << 20) + "\n",
         1, 1, "NOTE=" + huge + "\n"},
        {"only blanks and line ends", "\r\n \n\t\r\r\n", 0, 0, "\r\n \n\t\r\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "bad.ini";
        WriteWhole(path, c.bytes);
        const Loaded l = LoadFile(path, DefaultTable());
        EXPECT_EQ(l.globals.columns, c.columns);
        EXPECT_EQ(l.globals.rows, c.rows);
        if (c.columns == 1) {
            EXPECT_EQ(l.table[0].reference[0], INT32_MAX);  // 79 sevens
            EXPECT_EQ(l.table[0].reference[1], 0);
        }
        // A save over it keeps what it held, with the keys added.
        ASSERT_FALSE(SaveConfig(path, {0, 1, 1}, DefaultTable()));
        EXPECT_NE(ReadWhole(path).find(c.kept), std::string::npos);
        EXPECT_EQ(LoadFile(path, DefaultTable()).table[0].reference[0], 700);
    }
}

TEST_F(ConfigFile, AMissingFileReadsAsAllZeros) {
    FileError error;
    const auto reader = ConfigReader::Open(dir / "nothing.ini", error);
    ASSERT_TRUE(reader);
    EXPECT_FALSE(error);
    EXPECT_TRUE(reader->FileMissing());
    EXPECT_EQ(reader->Globals().fpcTest, 0);
    EXPECT_EQ(reader->Globals().columns, 0);
    EXPECT_EQ(reader->Globals().rows, 0);
    EXPECT_EQ(reader->PageCount(), 0);
    PageRecord r = PageRecord::Defaults();
    ASSERT_TRUE(reader->ReadPage(0, r));
    EXPECT_EQ(r.rangeMax, 0);
    EXPECT_EQ(r.mask[0], Masked);
}

TEST_F(ConfigFile, FilesThatAreNoConfigurationAreRefusedWithAReason) {
    const std::string folder = dir / "folder.ini";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string fifo = dir / "pipe.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);  // must not hang
    const std::string utf16 = dir / "utf16.ini";
    WriteWhole(utf16, std::string("\xFF\xFE[\0G\0]\0", 8));
    const std::string large = dir / "large.ini";
    WriteWhole(large, "");
    ASSERT_EQ(::truncate(large.c_str(), kMaxConfigFileBytes + 1), 0);

    const struct {
        std::string path;
        int code;
        const char* reason;
    } cases[] = {
        {folder, FileError::kNotRegular, "不是普通文件"},
        {fifo, FileError::kNotRegular, "不是普通文件"},
        {utf16, FileError::kUtf16, "UTF-16"},
        {large, FileError::kTooLarge, "文件过大"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        FileError error;
        EXPECT_FALSE(ConfigReader::Open(c.path, error));
        EXPECT_EQ(error.code, c.code);
        EXPECT_NE(error.Message().find(c.reason), std::string::npos) << error.Message();
        EXPECT_NE(error.Message().find(c.path), std::string::npos) << error.Message();

        // A save does not replace what it could not read.
        const FileError saved = SaveConfig(c.path, {0, 1, 1}, DefaultTable());
        EXPECT_EQ(saved.code, c.code);
        EXPECT_TRUE(saved.originalKept);
    }
    EXPECT_EQ(ReadWhole(utf16), std::string("\xFF\xFE[\0G\0]\0", 8));
}

// What a load refuses before it changes anything: a file with none of the
// keys it reads, one with some of them but not all it needs (no layout, a
// cut-off page), a layout without heads. Pages the table cannot hold are
// not asked for.
TEST_F(ConfigFile, CheckTellsAWholeConfigurationFromOtherFiles) {
    PageTable table = DefaultTable();
    for (int p = 0; p < kPageCount; ++p) {
        table[p] = VariedPage(p);
    }
    const std::string whole = ReadWhole(Save({1, 2, 2}, table, "whole.ini"));
    const std::string ten = ReadWhole(Save({0, 10, 1}, table, "ten.ini"));
    const std::string all = ReadWhole(Save({0, 8, 8}, table, "all.ini"));
    // The text without the line that starts with `line` after `section`.
    const auto without = [](std::string text, const std::string& section, const std::string& line) {
        const std::size_t at = text.find(line, text.find(section));
        return text.erase(at, text.find("\r\n", at) + 2 - at);
    };
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const struct {
        const char* name;
        std::string text;
        int code;
        std::string detail;
    } cases[] = {
        {"a whole configuration", whole, 0, ""},
        {"1000 columns, the first 10 pages", replaced(ten, "COL=10", "COL=1000"), 0, ""},
        {"10 x 10, the first 64 pages",
         replaced(replaced(all, "COL=8", "COL=10"), "ROW=8", "ROW=10"), 0, ""},
        {"one value missing", without(whole, "[PAGE03_DATARANGE]", "MIN="),
         FileError::kIncompleteConfig,
         "第 2 行第 2 列（页 03）缺少 1 项设置（如 [PAGE03_DATARANGE] 中的 MIN）"},
        {"two pages short",
         without(without(whole, "[PAGE01_MASK]", "CH31="), "[PAGE02_OFFSET]", "PAGE02_PERCENTAGE"),
         FileError::kIncompleteConfig,
         "第 1 行第 2 列（页 01）缺少 1 项设置（如 [PAGE01_MASK] 中的 CH31），共有 2 "
         "个测试头的设置不完整"},
        {"a page of the layout absent", replaced(whole, "ROW=2", "ROW=3"),
         FileError::kIncompleteConfig,
         "第 3 行第 1 列（页 04）缺少 134 项设置（如 [PAGE04_OFFSET] 中的 PAGE04_OFFSETTYPE），"
         "共有 2 个测试头的设置不完整"},
        {"only FPCTEST", "[GLOBAL]\nFPCTEST=1\n", FileError::kIncompleteConfig,
         "缺少 [GLOBAL] 中的 COL、ROW"},
        {"one key of page 63", "[PAGE63_MASK]\nCH05=1\n", FileError::kIncompleteConfig,
         "缺少 [GLOBAL] 中的 FPCTEST、COL、ROW"},
        {"one key of page 64, which no load reads", "[PAGE64_MASK]\nCH05=1\n",
         FileError::kNotConfig,
         "文件中没有载入所读的任何设置（[GLOBAL] 中的 FPCTEST、COL、ROW，或 PAGE00 至 PAGE63 "
         "各测试头的设置）"},
        {"rows below zero", "[GLOBAL]\nFPCTEST=0\nCOL=3\nROW=-2\n", FileError::kNoHeads,
         "COL=3，ROW=-2"},
        {"the older layout", "[datarange]\nmaxvalue=1500\n", FileError::kLegacyConfig, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ConfigReader reader(IniFile::Parse(c.text));
        const FileError error = reader.Check("x.ini");
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.detail, c.detail);
        EXPECT_EQ(error.ContentRefused(), c.code != 0);
    }
}

// A whole 1 x 1 configuration of VariedPage(0) whose value of `key` in
// `section` is the text `value`, as it stands in the line.
std::string ConfigWithValue(const std::string& section, const std::string& key,
                            const std::string& value) {
    IniFile file;
    PageTable table = DefaultTable();
    table[0] = VariedPage(0);
    WriteConfig(file, {0, 1, 1}, table);
    std::string text = file.Serialize();
    const std::size_t header = text.find("[" + section + "]");
    const std::size_t line = text.find("\n" + key + "=", header);
    EXPECT_TRUE(header != std::string::npos && line != std::string::npos) << section << key;
    const std::size_t from = line + key.size() + 2;
    return text.replace(from, text.find('\r', from) - from, value);
}

// Values whose text is not a number, or a number beyond its field, read as
// they always have (stations rely on that), and exactly they are named, with
// what they were read as. Blanks around a number are no fault.
TEST_F(ConfigFile, ValuesThatAreNoNumbersReadAsBeforeAndAreNamed) {
    using Field = double (*)(const ConfigReader&, const PageRecord&);
    const Field upper3 = [](const ConfigReader&, const PageRecord& r) { return 1.0 * r.upper[3]; };
    const Field percentage = [](const ConfigReader&, const PageRecord& r) {
        return 1.0 * r.percentage;
    };
    const Field rangeMax = [](const ConfigReader&, const PageRecord& r) {
        return 1.0 * r.rangeMax;
    };
    const Field mask5 = [](const ConfigReader&, const PageRecord& r) { return 1.0 * r.mask[5]; };
    const Field fpcTest = [](const ConfigReader& c, const PageRecord&) {
        return 1.0 * c.Globals().fpcTest;
    };
    const Field columns = [](const ConfigReader& c, const PageRecord&) {
        return 1.0 * c.Layout().fileColumns;
    };
    const char* high = "PAGE00_THRESHOLDHIGH";
    const char* offset = "PAGE00_OFFSET";
    const struct {
        const char* section;
        const char* key;
        Field field;
        std::string line;  // the value as it stands in the file
        double read;
        const char* readAs;  // nullptr: not named
        std::string text;    // as named
    } cases[] = {
        {high, "CH03", upper3, "nan", 0, "0", "nan"},
        {high, "CH03", upper3, "inf", 0, "0", "inf"},
        {high, "CH03", upper3, "-inf", 0, "0", "-inf"},
        {high, "CH03", upper3, "1e999", 1, "1", "1e999"},
        {high, "CH03", upper3, "99999999999", INT32_MAX, "2147483647", "99999999999"},
        {high, "CH03", upper3, "-99999999999", INT32_MIN, "-2147483648", "-99999999999"},
        {high, "CH03", upper3, "2147483648", INT32_MAX, "2147483647", "2147483648"},
        {high, "CH03", upper3, "12abc", 12, "12", "12abc"},
        {high, "CH03", upper3, "3.7", 3, "3", "3.7"},
        {high, "CH03", upper3, "", 0, "0", ""},
        {high, "CH03", upper3, "\"nan\"", 0, "0", "nan"},
        {high, "CH03", upper3, " 7 ", 7, nullptr, ""},
        {high, "CH03", upper3, "' 7 '", 7, nullptr, ""},
        {high, "CH03", upper3, "-2147483648", INT32_MIN, nullptr, ""},
        {offset, "PAGE00_PERCENTAGE", percentage, "nan", 0, "0", "nan"},
        {offset, "PAGE00_PERCENTAGE", percentage, "-inf", 0, "0", "-inf"},
        {offset, "PAGE00_PERCENTAGE", percentage, "1e999", 0, "0", "1e999"},
        {offset, "PAGE00_PERCENTAGE", percentage, "1e39", 0, "0", "1e39"},
        {offset, "PAGE00_PERCENTAGE", percentage, "12.5abc", 12.5, "12.5", "12.5abc"},
        {offset, "PAGE00_PERCENTAGE", percentage, "", 0, "0", ""},
        {offset, "PAGE00_PERCENTAGE", percentage, " 7.5 ", 7.5, nullptr, ""},
        {offset, "PAGE00_PERCENTAGE", percentage, "99999999999", 99999999999.0f, nullptr, ""},
        {"PAGE00_DATARANG", "MAX", rangeMax, "-99999999999", INT32_MIN, "-2147483648",
         "-99999999999"},
        {"PAGE00_MASK", "CH05", mask5, "1e999", Tested, "1", "1e999"},
        {"GLOBAL", "FPCTEST", fpcTest, "nan", 0, "0", "nan"},
        {"GLOBAL", "COL", columns, "1e999", 1, "1", "1e999"},
        {"GLOBAL", "COL", columns, "\t1", 1, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + " " + c.key + "=" + c.line);
        const std::string path = dir / "values.ini";
        WriteWhole(path, ConfigWithValue(c.section, c.key, c.line));
        FileError error;
        const auto reader = ConfigReader::Open(path, error);
        ASSERT_TRUE(reader) << error.Message();
        EXPECT_FALSE(reader->Check(path)) << reader->Check(path).Message();
        SuspectValues named = reader->GlobalSuspects();
        PageRecord r = PageRecord::Defaults();
        ASSERT_TRUE(reader->ReadPage(0, r, &named));
        EXPECT_EQ(c.field(*reader, r), c.read);
        if (c.readAs == nullptr) {
            EXPECT_TRUE(named.empty()) << SuspectValuesNotice(named);
        } else {
            EXPECT_EQ(named, (SuspectValues{{c.section, c.key, c.text, c.readAs}}))
                << SuspectValuesNotice(named);
        }
        // Everything else as the file gives it.
        PageRecord expected = VariedPage(0);
        expected.mask = r.mask;  // without FPC test only on and off come back
        r.upper[3] = expected.upper[3];
        r.percentage = expected.percentage;
        r.rangeMax = expected.rangeMax;
        ExpectSameSettings(r, expected);
    }
}

TEST_F(ConfigFile, SuspectValuesAreNamedInReadingOrderUpToTen) {
    std::string text = ConfigWithValue("GLOBAL", "FPCTEST", "nan");
    for (int c = 11; c >= 0; --c) {
        const std::string key = "\nCH" + std::string(c < 10 ? "0" : "") + std::to_string(c) + "=";
        const std::size_t at = text.find(key, text.find("[PAGE00_REFDATA]")) + key.size();
        text.insert(at, "x");
    }
    const ConfigReader reader(IniFile::Parse(text));
    SuspectValues named = reader.GlobalSuspects();
    PageRecord r = PageRecord::Defaults();
    ASSERT_TRUE(reader.ReadPage(0, r, &named));
    ASSERT_EQ(named.size(), 13u);
    EXPECT_EQ(named[1], (SuspectValue{"PAGE00_REFDATA", "CH00", "x600", "0"}));
    EXPECT_EQ(SuspectValuesNotice(named),
              "以下设置的文字不是数字或超出范围，已按原来的规则读入：[GLOBAL] FPCTEST=nan（读作 "
              "0）、[PAGE00_REFDATA] CH00=x600（读作 0）、[PAGE00_REFDATA] CH01=x601（读作 0）、"
              "[PAGE00_REFDATA] CH02=x602（读作 0）、[PAGE00_REFDATA] CH03=x603（读作 0）、"
              "[PAGE00_REFDATA] CH04=x604（读作 0）、[PAGE00_REFDATA] CH05=x605（读作 0）、"
              "[PAGE00_REFDATA] CH06=x606（读作 0）、[PAGE00_REFDATA] CH07=x607（读作 0）、"
              "[PAGE00_REFDATA] CH08=x608（读作 0）等，共 13 项。");

    EXPECT_EQ(SuspectValuesNotice({}), "");
    // Long texts are cut at a character, control bytes shown as '?'.
    const std::string chinese = "一二三四五六七八九十一二三四五六七八九十一二三四五";  // 25
    EXPECT_EQ(SuspectValuesNotice({{"S", "K", chinese, "0"}, {"S", "T", "1\t2\x7f", "1"}}),
              "以下设置的文字不是数字或超出范围，已按原来的规则读入：[S] K=" +
                  chinese.substr(0, 24 * 3) + "…（读作 0）、[S] T=1?2?（读作 1）。");
}

TEST(ConfigHeadName, RowAndColumnFromOneAndThePage) {
    EXPECT_EQ(HeadName(0, 1), "第 1 行第 1 列（页 00）");
    EXPECT_EQ(HeadName(1, 2), "第 1 行第 2 列（页 01）");
    EXPECT_EQ(HeadName(11, 10), "第 2 行第 2 列（页 11）");
    EXPECT_EQ(HeadName(63, 8), "第 8 行第 8 列（页 63）");
    EXPECT_EQ(HeadName(3, 0), "第 4 行第 1 列（页 03）");  // no columns: one head a row
}

TEST_F(ConfigFile, SaveReportsTheHeadsItCouldNotWrite) {
    const std::string path = dir / "big.ini";
    SaveReport report;
    ASSERT_FALSE(SaveConfig(path, {0, 10, 10}, DefaultTable(), &report));
    EXPECT_EQ(report.pages, 64);
    EXPECT_EQ(report.layoutHeads, 100);
    EXPECT_EQ(SaveNotice(report),
              "布局共有 100 个测试头，本机最多保存 64 个测试头的设置，只保存了前 64 个"
              "（第 00 至 63 页）。");
    IniFile file;
    ASSERT_FALSE(ReadIniFile(path, file));
    EXPECT_TRUE(file.Find("PAGE63_MASK", "CH31"));
    EXPECT_FALSE(file.Find("PAGE64_OFFSET", "PAGE64_OFFSETTYPE"));

    ASSERT_FALSE(SaveConfig(path, {0, 2, 3}, DefaultTable(), &report));
    EXPECT_EQ(report.pages, 6);
    EXPECT_EQ(SaveNotice(report), "");
    ASSERT_FALSE(SaveConfig(path, {0, -3, 3}, DefaultTable(), &report));
    EXPECT_EQ(report.pages, 0);
}

TEST(ConfigFileName, ANameWithoutExtensionGetsIni) {
    const struct {
        const char* typed;
        const char* completed;
    } cases[] = {
        {"line3", "line3.ini"},
        {"/home/op/line3", "/home/op/line3.ini"},
        {"line3.", "line3.ini"},
        {"line3.ini", "line3.ini"},
        {"line3.INI", "line3.INI"},
        {"line3.txt", "line3.txt"},
        {"/home/op.d/line3", "/home/op.d/line3.ini"},
        {".hidden", ".hidden.ini"},
        {"产线三", "产线三.ini"},
        {"/home/op/", "/home/op/"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompleteIniFileName(c.typed), c.completed) << c.typed;
    }
    EXPECT_STREQ(kConfigFileFilter, "配置文件(*.ini)");
}

}  // namespace
}  // namespace kx

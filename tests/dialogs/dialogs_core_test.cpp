// SPDX-License-Identifier: MIT
// The dialogs' computations without Qt: typed values, the baseline
// arithmetic, the readings, the raw-data file and the store-back into a page.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/baseline_calc.h"
#include "dialogs/change_log.h"
#include "dialogs/raw_data_file.h"
#include "dialogs/reading_table.h"
#include "station/baseline_result.h"
#include "tests/support/channel_values.h"
#include "tests/support/temp_dir.h"
#include "ui/typed_value.h"

namespace kx {
namespace {

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

using test::Filled;
using test::Ramp;

TEST(TypedValue, IntegersAsAPersonTypesThem) {
    struct Case {
        const char* text;
        std::int32_t min;
        std::int32_t max;
        TypedIntStatus status;
        std::int32_t value;
    };
    const Case cases[] = {
        {"42", kInt32Min, kInt32Max, TypedIntStatus::Ok, 42},
        {"  -7\t", kInt32Min, kInt32Max, TypedIntStatus::Ok, -7},
        {"+007", kInt32Min, kInt32Max, TypedIntStatus::Ok, 7},
        {"-0", kInt32Min, kInt32Max, TypedIntStatus::Ok, 0},
        {"2147483647", kInt32Min, kInt32Max, TypedIntStatus::Ok, kInt32Max},
        {"-2147483648", kInt32Min, kInt32Max, TypedIntStatus::Ok, kInt32Min},
        {"2147483648", kInt32Min, kInt32Max, TypedIntStatus::OutOfRange, 0},
        {"99999999999999999999999999", kInt32Min, kInt32Max, TypedIntStatus::OutOfRange, 0},
        {"", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"   ", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"+", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"1e3", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"12abc", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"99999999999999999999x", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"1.0", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"- 3", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"--3", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"0x10", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"1 2", kInt32Min, kInt32Max, TypedIntStatus::NotInteger, 0},
        {"0", 0, 65535, TypedIntStatus::Ok, 0},
        {"65535", 0, 65535, TypedIntStatus::Ok, 65535},
        {"70000", 0, 65535, TypedIntStatus::OutOfRange, 0},
        {"-1", 0, 65535, TypedIntStatus::OutOfRange, 0},
        {"123456789012345", 0, 65535, TypedIntStatus::OutOfRange, 0},
        {"abc", 0, 65535, TypedIntStatus::NotInteger, 0},
    };
    for (const Case& c : cases) {
        const TypedInt typed = ParseTypedInt(c.text, c.min, c.max);
        EXPECT_EQ(typed.status, c.status) << '"' << c.text << '"';
        if (c.status == TypedIntStatus::Ok) {
            EXPECT_EQ(typed.value, c.value) << '"' << c.text << '"';
        }
    }
}

TEST(TypedValue, NumbersAsAPersonTypesThem) {
    struct Case {
        const char* text;
        bool ok;
        float value;
    };
    const Case cases[] = {
        {"10", true, 10.0f},      {" -2.5 ", true, -2.5f}, {".5", true, 0.5f},
        {"5.", true, 5.0f},       {"1e3", true, 1000.0f},  {"+3", true, 3.0f},
        {"12.5E-1", true, 1.25f}, {"", false, 0},          {"abc", false, 0},
        {"1e3x", false, 0},       {"inf", false, 0},       {"-inf", false, 0},
        {"nan", false, 0},        {"0x10", false, 0},      {"1e39", false, 0},
        {"1e400", false, 0},      {"1,5", false, 0},       {"+-1", false, 0},
        {".", false, 0},          {"e5", false, 0},
    };
    for (const Case& c : cases) {
        const std::optional<float> typed = ParseTypedNumber(c.text);
        EXPECT_EQ(typed.has_value(), c.ok) << '"' << c.text << '"';
        if (c.ok && typed) {
            EXPECT_FLOAT_EQ(*typed, c.value) << '"' << c.text << '"';
        }
    }
    EXPECT_EQ(FormatNumber(10.0f), "10");
    EXPECT_EQ(FormatNumber(12.5f), "12.5");
    EXPECT_EQ(FormatNumber(0.1f), "0.1");
    EXPECT_EQ(FormatNumber(1e7f), "1e+07");
}

TEST(BaselineCalc, AveragesOfTickedReadingsTruncateTowardZero) {
    struct Case {
        std::vector<std::int32_t> values;
        std::vector<bool> ticked;
        std::int32_t average;
    };
    const Case cases[] = {
        {{100, 110, 120}, {true, true, true}, 110},
        {{100, 110, 120}, {true, true, false}, 105},
        {{1, 2}, {true, true}, 1},
        {{-1, -2}, {true, true}, -1},
        {{7}, {true}, 7},
        {{kInt32Max, kInt32Max, kInt32Max}, {true, true, true}, kInt32Max},
        {{kInt32Min, kInt32Min}, {true, true}, kInt32Min},
    };
    for (const Case& c : cases) {
        std::vector<Reading> readings;
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            readings.push_back(Reading{std::to_string(i), c.ticked[i], Filled(c.values[i])});
        }
        const ChannelAverages averages = AverageTicked(readings);
        EXPECT_TRUE(averages.anyTicked);
        EXPECT_EQ(averages.values, Filled(c.average)) << c.values.front();
    }

    // Channels average on their own.
    const std::vector<Reading> ramps = {{"0", true, Ramp(0)}, {"1", true, Ramp(10)}};
    EXPECT_EQ(AverageTicked(ramps).values, Ramp(5));

    // Nothing ticked, or nothing at all: -1 everywhere.
    const std::vector<Reading> unticked = {{"0", false, Filled(100)}, {"1", false, Filled(200)}};
    for (const auto& readings : {unticked, std::vector<Reading>{}}) {
        const ChannelAverages averages = AverageTicked(readings);
        EXPECT_FALSE(averages.anyTicked);
        EXPECT_EQ(averages.values, Filled(-1));
    }
}

TEST(BaselineCalc, LimitsByPercentageAndByValue) {
    struct Case {
        std::int32_t reference;
        float percentage;
        std::int32_t upper;
        std::int32_t lower;
    };
    const Case cases[] = {
        {700, 10.0f, 770, 630},
        {15, 10.0f, 16, 14},  // d = trunc(1.5) = 1
        {-15, 10.0f, -16, -14},
        {700, 0.0f, 700, 700},
        {1000, 12.5f, 1125, 875},
        {kInt32Max, 100.0f, kInt32Max, 0},
        {kInt32Max, 1e30f, kInt32Max, kInt32Min},
    };
    for (const Case& c : cases) {
        ChannelValues upper{};
        ChannelValues lower{};
        LimitsByPercentage(Filled(c.reference), c.percentage, upper, lower);
        EXPECT_EQ(upper, Filled(c.upper)) << c.reference << " at " << c.percentage;
        EXPECT_EQ(lower, Filled(c.lower)) << c.reference << " at " << c.percentage;
    }

    ChannelValues upper{};
    ChannelValues lower{};
    LimitsByValue(Filled(700), 100, 50, upper, lower);
    EXPECT_EQ(upper, Filled(800));
    EXPECT_EQ(lower, Filled(650));
    LimitsByValue(Filled(kInt32Max), kInt32Max, kInt32Min, upper, lower);
    EXPECT_EQ(upper, Filled(kInt32Max));
    EXPECT_EQ(lower, Filled(kInt32Max));
    LimitsByValue(Filled(kInt32Min), kInt32Min, kInt32Max, upper, lower);
    EXPECT_EQ(upper, Filled(kInt32Min));
    EXPECT_EQ(lower, Filled(kInt32Min));
}

TEST(ReadingTable, NumbersReadingsOnAndStopsAt255) {
    ReadingTable table;
    EXPECT_EQ(table.Add(Filled(1)), 0);
    EXPECT_EQ(table.Add(Filled(2)), 1);
    EXPECT_EQ(table.At(1).label, "1");
    EXPECT_TRUE(table.At(1).ticked);

    // After a load the next reading follows the loaded ones.
    std::vector<Reading> loaded(3, Reading{"x", false, Filled(9)});
    EXPECT_EQ(table.Assign(loaded), 0);
    EXPECT_EQ(table.Add(Filled(3)), 3);
    EXPECT_EQ(table.At(3).values, Filled(3));
    EXPECT_EQ(table.At(0).values, Filled(9));

    while (!table.Full()) {
        table.Add(Filled(table.Count()));
    }
    EXPECT_EQ(table.Count(), kMaxReadings);
    EXPECT_EQ(table.Add(Filled(-5)), -1);
    EXPECT_EQ(table.Count(), kMaxReadings);
    EXPECT_EQ(table.At(kMaxReadings - 1).values, Filled(kMaxReadings - 1));

    EXPECT_EQ(table.Assign(std::vector<Reading>(300)), 300 - kMaxReadings);
    EXPECT_EQ(table.Count(), kMaxReadings);
    table.SetTicked(-1, false);  // ignored
    table.SetTicked(kMaxReadings, false);
}

TEST(RawDataFile, LineFormatAndItsParser) {
    ChannelValues values = Ramp(100);
    values[3] = -4;
    const std::string line = FormatRawDataLine(2, true, values);
    std::string expected = "Item=2,Checked=1,";
    for (std::int32_t v : values) {
        expected += std::to_string(v) + ",";
    }
    expected += "\r\n";
    EXPECT_EQ(line, expected);

    const Reading back = ParseRawDataLine(std::string_view(line).substr(0, line.size() - 1));
    EXPECT_EQ(back.label, "2");
    EXPECT_TRUE(back.ticked);
    EXPECT_EQ(back.values, values);

    const Reading five = ParseRawDataLine(FormatRawDataLine(5, false, Filled(650)));
    EXPECT_EQ(five.label, "5");
    EXPECT_FALSE(five.ticked);
    EXPECT_EQ(five.values, Filled(650));
}

TEST(RawDataFile, ShortAndMalformedLinesNeverReadPastTheirEnd) {
    struct Case {
        std::string line;
        std::string label;
        bool ticked;
        std::vector<std::int32_t> first;  // leading channels; the rest are 0
    };
    const Case cases[] = {
        {"Item=1,Checked=1,5,6", "1", true, {5, 0}},  // 6 has no comma: 0
        {"Item=1,Checked=1,5,6,\r", "1", true, {5, 6, 0}},
        {"Item=3,Checked=1,", "3", true, {0}},
        {"Item=3,Checked=1", "3", true, {0}},
        {"Item=3,Checked=11,7,", "3", false, {7}},
        {"Item=3,Checked= 1,7,", "3", false, {7}},
        {"Item=3", "3", false, {0}},
        {"Item=", "", false, {0}},
        {"garbage", "", false, {0}},
        {"", "", false, {0}},
        {"\r", "", false, {0}},
        {",,,,", "", false, {0}},
        {"=a,=1,x,-2,+3, 12abc,99999999999,-99999999999,",
         "a",
         true,
         {0, -2, 3, 12, kInt32Max, kInt32Min, 0}},
    };
    for (const Case& c : cases) {
        // An exactly sized buffer without terminator: AddressSanitizer
        // catches any read past the line.
        std::vector<char> exact(c.line.begin(), c.line.end());
        const Reading r = ParseRawDataLine(std::string_view(exact.data(), exact.size()));
        EXPECT_EQ(r.label, c.label) << c.line;
        EXPECT_EQ(r.ticked, c.ticked) << c.line;
        ChannelValues expected{};
        std::copy(c.first.begin(), c.first.end(), expected.begin());
        EXPECT_EQ(r.values, expected) << c.line;
    }

    // Values beyond the 32nd are ignored; a long label is cut.
    std::string longLine = "Item=" + std::string(500, '7') + ",Checked=0,";
    for (int c = 0; c < 40; ++c) {
        longLine += std::to_string(c) + ",";
    }
    const Reading r = ParseRawDataLine(longLine);
    EXPECT_EQ(r.values, Ramp(0));
    EXPECT_EQ(r.label.size(), 64u);
}

class RawDataFiles : public ::testing::Test {
protected:
    std::filesystem::path Folder() const { return dir.path() / kRawDataFolder; }
    std::filesystem::path File() const { return Folder() / kRawDataFile; }
    std::vector<Reading> Three() const {
        return {{"0", false, Filled(100)}, {"1", false, Filled(110)}, {"2", true, Filled(120)}};
    }

    test::TempDir dir;
};

TEST_F(RawDataFiles, SaveCreatesTheFolderAndLoadReadsItBack) {
    ASSERT_FALSE(std::filesystem::exists(Folder()));
    EXPECT_EQ(SaveRawData(Folder(), Three()).status, RawDataSave::Ok);
    const std::string text = test::ReadWhole(File());
    EXPECT_EQ(text, FormatRawDataLine(0, false, Filled(100)) +
                        FormatRawDataLine(1, false, Filled(110)) +
                        FormatRawDataLine(2, true, Filled(120)));
    EXPECT_EQ(dir.List(Folder()), std::vector<std::string>{kRawDataFile});

    const RawDataLoad loaded = LoadRawData(File());
    ASSERT_EQ(loaded.status, RawDataLoad::Ok);
    EXPECT_FALSE(loaded.truncated);
    ASSERT_EQ(loaded.readings.size(), 3u);
    EXPECT_EQ(loaded.readings[2].label, "2");
    EXPECT_TRUE(loaded.readings[2].ticked);
    EXPECT_FALSE(loaded.readings[0].ticked);
    EXPECT_EQ(loaded.readings[1].values, Filled(110));

    // An empty list saves an empty file, which loads as no reading.
    EXPECT_EQ(SaveRawData(Folder(), {}).status, RawDataSave::Ok);
    EXPECT_EQ(test::ReadWhole(File()), "");
    const RawDataLoad empty = LoadRawData(File());
    EXPECT_EQ(empty.status, RawDataLoad::Ok);
    EXPECT_TRUE(empty.readings.empty());
}

TEST_F(RawDataFiles, LoadSkipsBlankLinesKeeps255AndCutsLongLines) {
    std::filesystem::create_directory(Folder());
    // Unix line ends, blank lines, a last line without line end.
    test::WriteWhole(File(), "Item=0,Checked=1,1,\n\n\r\nItem=1,Checked=0,2,");
    RawDataLoad loaded = LoadRawData(File());
    ASSERT_EQ(loaded.readings.size(), 2u);
    EXPECT_EQ(loaded.readings[0].values[0], 1);
    EXPECT_EQ(loaded.readings[1].values[0], 2);
    EXPECT_FALSE(loaded.readings[1].ticked);

    std::string many;
    for (int n = 0; n < 300; ++n) {
        many += FormatRawDataLine(n, n % 2 == 0, Filled(n));
    }
    test::WriteWhole(File(), many);
    loaded = LoadRawData(File());
    EXPECT_TRUE(loaded.truncated);
    ASSERT_EQ(loaded.readings.size(), static_cast<std::size_t>(kMaxReadings));
    EXPECT_EQ(loaded.readings.back().values, Filled(kMaxReadings - 1));

    // Exactly 255 lines are not too many.
    many.clear();
    for (int n = 0; n < kMaxReadings; ++n) {
        many += FormatRawDataLine(n, true, Filled(n));
    }
    test::WriteWhole(File(), many + "\r\n\r\n");
    loaded = LoadRawData(File());
    EXPECT_FALSE(loaded.truncated);
    EXPECT_EQ(loaded.readings.size(), static_cast<std::size_t>(kMaxReadings));

    // A line longer than the cut keeps its start and does not swallow the next.
    test::WriteWhole(File(),
                     "Item=0,Checked=1,5," + std::string(100000, '9') + ",\nItem=1,Checked=1,6,\n");
    loaded = LoadRawData(File());
    ASSERT_EQ(loaded.readings.size(), 2u);
    EXPECT_EQ(loaded.readings[0].values[0], 5);
    EXPECT_EQ(loaded.readings[0].values[1], 0);
    EXPECT_EQ(loaded.readings[1].values[0], 6);

    // The cut never splits a value: one whose end lies past the limit is not
    // read (not as a shorter number), and a sign just before the limit does
    // not make the line a broken one.
    const std::string start = "Item=0,Checked=1,";
    const std::string seven = std::string(kMaxRawDataLine - 1 - start.size() - 2, '0') + "7,";
    struct Cut {
        const char* name;
        std::string line;
    };
    const Cut cuts[] = {
        {"sign before the limit", start + seven + "-5,3,"},
        {"digits across the limit", start + seven + "12,3,"},
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.name);
        ASSERT_EQ((start + seven).size(), kMaxRawDataLine - 1);  // the next value straddles the cut
        test::WriteWhole(File(), cut.line + "\nItem=1,Checked=1,6,\n");
        loaded = LoadRawData(File());
        ASSERT_EQ(loaded.readings.size(), 2u) << loaded.Message();
        EXPECT_EQ(loaded.readings[0].values[0], 7);
        EXPECT_EQ(loaded.readings[0].values[1], 0);
        EXPECT_EQ(loaded.readings[1].values[0], 6);
    }
}

TEST_F(RawDataFiles, MissingAndUnreadableFiles) {
    const RawDataLoad missing = LoadRawData(File());
    EXPECT_EQ(missing.status, RawDataLoad::Missing);
    EXPECT_EQ(missing.Message(), "文件不存在：" + File().string());
    std::filesystem::create_directories(File());  // a folder where the file should be
    const RawDataLoad folder = LoadRawData(File());
    EXPECT_EQ(folder.status, RawDataLoad::Unreadable);
    EXPECT_TRUE(folder.readings.empty());
    EXPECT_EQ(folder.Message(),
              "无法读取文件 " + File().string() + "（不是普通文件），读数表没有改动。");
}

// Ten readings with CR LF (as saved), LF (a Unix editor), CR alone (an old
// Mac editor) or a mixture, a byte-order mark and blank lines read alike.
TEST_F(RawDataFiles, EveryLineEndStyleReadsAlike) {
    std::vector<Reading> ten;
    for (int n = 0; n < 10; ++n) {
        ten.push_back({std::to_string(n), n % 3 == 0, Ramp(100 * n - 450)});
    }
    const std::string saved = RawDataText(ten);
    auto withEnds = [&](const std::vector<std::string>& ends) {
        std::string text;
        std::size_t n = 0;
        for (std::size_t pos = 0; pos < saved.size();) {
            const std::size_t end = saved.find("\r\n", pos);
            text += saved.substr(pos, end - pos) + ends[n++ % ends.size()];
            pos = end + 2;
        }
        return text;
    };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"CR LF", saved},
        {"LF", withEnds({"\n"})},
        {"CR", withEnds({"\r"})},
        {"mixed", withEnds({"\r", "\n", "\r\n"})},
        {"CR, blank lines, no end after the last",
         withEnds({"\r\r\r"}).substr(0, withEnds({"\r\r\r"}).size() - 3)},
        {"byte-order mark, blank lines of blanks", "\xEF\xBB\xBF" + withEnds({"\r\n \t\r\n"})},
    };
    std::filesystem::create_directory(Folder());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteWhole(File(), c.text);
        const RawDataLoad loaded = LoadRawData(File());
        ASSERT_EQ(loaded.status, RawDataLoad::Ok) << loaded.Message();
        ASSERT_EQ(loaded.readings.size(), ten.size());
        for (std::size_t n = 0; n < ten.size(); ++n) {
            EXPECT_EQ(loaded.readings[n].label, ten[n].label);
            EXPECT_EQ(loaded.readings[n].ticked, ten[n].ticked);
            EXPECT_EQ(loaded.readings[n].values, ten[n].values);
        }
    }
}

// What is not a raw-data file is refused as a whole, with the reason, and
// gives no reading.
TEST_F(RawDataFiles, AFileThatIsNotRawDataIsRefusedWithItsReason) {
    const std::string good = RawDataText(Three());
    std::string huge;
    while (huge.size() <= kMaxRawDataFileBytes) {
        huge += good;
    }
    const struct {
        const char* what;
        std::string bytes;
        RawDataLoad::Refusal refusal;
        const char* why;
    } cases[] = {
        {"a picture", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x20", 20),
         RawDataLoad::Binary, "含有二进制数据"},
        {"raw data with a zero byte", good.substr(0, 40) + '\0' + good.substr(40),
         RawDataLoad::Binary, "含有二进制数据"},
        {"UTF-16, little-endian with mark", test::Utf16(good, false, true), RawDataLoad::Utf16,
         "文件为 UTF-16 编码，请另存为 UTF-8 或 ANSI 编码后再使用"},
        {"UTF-16, big-endian without mark", test::Utf16(good, true, false), RawDataLoad::Utf16,
         "文件为 UTF-16 编码，请另存为 UTF-8 或 ANSI 编码后再使用"},
        {"a configuration", "[GLOBAL]\r\nCOL=1\r\n", RawDataLoad::BadLine, "第 1 行不是读数"},
        {"a line cut off", good + "\r\nItem=3,Chec", RawDataLoad::BadLine, "第 5 行不是读数"},
        {"two lines run together (CR ends)",
         "Item=0,Checked=1,1,\rItem=1,Checked=1,2,Item=2,Checked=1,3,\r", RawDataLoad::BadLine,
         "第 2 行不是读数"},
        {"a value that is no number", good + "Item=3,Checked=0,1,2,x3,\r\n", RawDataLoad::BadLine,
         "第 4 行不是读数"},
        {"too large", huge, RawDataLoad::TooLarge, "文件过大"},
    };
    std::filesystem::create_directory(Folder());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteWhole(File(), c.bytes);
        const RawDataLoad loaded = LoadRawData(File());
        EXPECT_EQ(loaded.status, RawDataLoad::NotRawData);
        EXPECT_EQ(loaded.refusal, c.refusal);
        EXPECT_TRUE(loaded.readings.empty());
        EXPECT_FALSE(loaded.truncated);
        EXPECT_EQ(loaded.Message(),
                  "文件 " + File().string() + " 不是读数文件（" + c.why + "），读数表没有改动。");
    }
}

// A file of another user that the saver may not write, or that is read-only,
// is not replaced behind its owner's back: neither by the operator nor by
// root. Owner, permissions and content stay as they were.
TEST_F(RawDataFiles, AFileThatMayNotBeWrittenIsNotReplaced) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user needs root";
    }
    constexpr uid_t kOtherUser = 4321;
    const struct {
        const char* what;
        mode_t mode;
        bool asRoot;
    } cases[] = {
        {"read-only, saved by root", 0444, true},
        {"read-only, saved by the operator", 0444, false},
        {"writable by its owner only, saved by the operator", 0644, false},
    };
    std::filesystem::create_directory(Folder());
    ASSERT_EQ(::chmod(Folder().c_str(), 0777), 0);  // the operator may create files there
    const std::string old = FormatRawDataLine(0, true, Filled(700));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteWhole(File(), old);
        ASSERT_EQ(::chown(File().c_str(), kOtherUser, kOtherUser), 0);
        ASSERT_EQ(::chmod(File().c_str(), c.mode), 0);
        auto save = [&] { return SaveRawData(Folder(), Three()).Message(); };
        const std::optional<std::string> message = c.asRoot ? save() : test::RunUnprivileged(save);
        ASSERT_TRUE(message) << "cannot act as an unprivileged user";
        EXPECT_EQ(*message, "无法写入文件 " + File().string() +
                                "（文件为只读），读数没有保存，原有的文件没有改动。");
        struct stat st {};
        ASSERT_EQ(::stat(File().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kOtherUser);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(test::ReadWhole(File()), old);
        EXPECT_EQ(dir.List(Folder()), std::vector<std::string>{kRawDataFile});
    }
}

// A raw-data save killed half-way leaves its temporary file, and so does a
// configuration save into the same folder; the next raw-data save removes
// both once they are stale, and leaves another program's file alone (here
// the fixed name older versions of this save used: it cannot be told from a
// file of somebody else).
TEST_F(RawDataFiles, ASaveRemovesStaleTemporaryFilesOfKilledSaves) {
    std::filesystem::create_directory(Folder());
    ASSERT_TRUE(test::RunKilledWhileWriting(100, [&] { SaveRawData(Folder(), Three()); }));
    ASSERT_TRUE(test::RunKilledWhileWriting(100, [&] {
        ReplaceFileContents((Folder() / "station.ini").string(), std::string(500, 'x'));
    }));
    test::WriteWhole(Folder() / "rawdata.csv.tmp", "someone else's");
    const std::vector<std::string> left = dir.List(Folder());
    ASSERT_EQ(left.size(), 3u);
    for (const std::string& name : left) {
        test::Backdate(Folder() / name, kStaleSaveFileAge.count() + 60);
    }

    ASSERT_EQ(SaveRawData(Folder(), Three()).status, RawDataSave::Ok);
    EXPECT_EQ(dir.List(Folder()), (std::vector<std::string>{kRawDataFile, "rawdata.csv.tmp"}));
}

TEST_F(RawDataFiles, ASaveThatCannotWriteLeavesTheOldFileWhole) {
    ASSERT_EQ(SaveRawData(Folder(), {{"0", true, Filled(700)}}).status, RawDataSave::Ok);
    const std::string old = test::ReadWhole(File());

    {
        // A read-only folder.
        std::filesystem::permissions(
            Folder(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        test::ScopedNoDacOverride readOnly;
        ASSERT_FALSE(test::CanCreateIn(Folder()));
        const RawDataSave saved = SaveRawData(Folder(), Three());
        EXPECT_EQ(saved.status, RawDataSave::WriteFailed);
        EXPECT_EQ(saved.error.code, EACCES);
    }
    std::filesystem::permissions(Folder(), std::filesystem::perms::owner_all);
    EXPECT_EQ(test::ReadWhole(File()), old);

    {
        // A disk that fills up halfway through the file: the file-size limit
        // stops the write after 100 bytes, as a full disk would.
        struct sigaction ignore {};
        struct sigaction previous {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previous);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 100;
        setrlimit(RLIMIT_FSIZE, &small);
        const RawDataSave result = SaveRawData(Folder(), Three());
        setrlimit(RLIMIT_FSIZE, &saved);
        sigaction(SIGXFSZ, &previous, nullptr);
        EXPECT_EQ(result.status, RawDataSave::WriteFailed);
        EXPECT_EQ(result.error.code, EFBIG);
    }
    EXPECT_EQ(test::ReadWhole(File()), old);
    EXPECT_EQ(dir.List(Folder()), std::vector<std::string>{kRawDataFile});

    // "rawdata" is a file: no folder can be made.
    const std::filesystem::path other = dir.path() / "other";
    test::WriteWhole(other, "x");
    EXPECT_EQ(SaveRawData(other, Three()).status, RawDataSave::FolderFailed);
    EXPECT_EQ(test::ReadWhole(other), "x");
}

// Two stations on one share (or two windows) save at the same moment, twenty
// times over: every save goes through, and the file is always one of the two
// versions, whole, with no temporary file left beside it.
TEST_F(RawDataFiles, TwoProcessesSavingAtOnceLeaveOneWholeVersion) {
    std::vector<Reading> first;
    std::vector<Reading> second;
    for (int n = 0; n < kMaxReadings; ++n) {
        first.push_back({std::to_string(n), true, Ramp(1000 + n)});
        second.push_back({std::to_string(n), n % 2 == 0, Filled(-n)});
    }
    const std::string firstText = RawDataText(first);
    const std::string secondText = RawDataText(second);
    std::filesystem::create_directory(Folder());

    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Each child waits at the gate, so that both start their save together.
        auto saver = [&](const std::vector<Reading>& readings) {
            return [&] {
                char go = 0;
                if (::read(gate[0], &go, 1) != 1) {
                    return std::string("no start");
                }
                const RawDataSave saved = SaveRawData(Folder(), readings);
                return saved.status == RawDataSave::Ok
                           ? std::string("saved")
                           : "failed with status " + std::to_string(saved.status);
            };
        };
        test::ChildProcess a(saver(first));
        test::ChildProcess b(saver(second));
        ASSERT_EQ(::write(gate[1], "go", 2), 2);
        EXPECT_EQ(a.Wait(), "saved");
        EXPECT_EQ(b.Wait(), "saved");
        const std::string text = test::ReadWhole(File());
        EXPECT_TRUE(text == firstText || text == secondText)
            << text.size() << " bytes, neither version";
        EXPECT_EQ(dir.List(Folder()), std::vector<std::string>{kRawDataFile});
    }
    ::close(gate[0]);
    ::close(gate[1]);
}

// A pipe or a device where the file should be is refused at once: the load
// neither waits for a writer nor reads for ever. It runs in a child process,
// which is killed when it hangs.
TEST_F(RawDataFiles, APipeOrADeviceIsRefusedWithoutBlocking) {
    std::filesystem::create_directory(Folder());
    ASSERT_EQ(::mkfifo(File().c_str(), 0666), 0);
    for (const std::filesystem::path& path : {File(), std::filesystem::path("/dev/zero")}) {
        SCOPED_TRACE(path.string());
        test::ChildProcess child([&] {
            const RawDataLoad loaded = LoadRawData(path);
            return std::to_string(loaded.status) + " " + std::to_string(loaded.readings.size()) +
                   " " + loaded.Message();
        });
        EXPECT_EQ(child.Wait(std::chrono::seconds(5)), std::to_string(RawDataLoad::Unreadable) +
                                                           " 0 无法读取文件 " + path.string() +
                                                           "（不是普通文件），读数表没有改动。");
    }
}

TEST(BaselineResult, WhatIsStoredIntoThePagePerFamily) {
    PageRecord page = PageRecord::Defaults();
    page.live.fill(333);
    BaselineResult r;
    r.edit = BaselineExchangeFromPage(5, page);
    EXPECT_EQ(r.edit.selectedPage, 5);
    EXPECT_EQ(r.edit.editModes[0], Masked);
    EXPECT_EQ(r.edit.editReference, Filled(700));
    r.edit.editModes.fill(Tested);
    r.edit.editModes[1] = Greyed;
    r.edit.editModes[2] = 0x101;  // only the low byte goes to the page
    r.edit.editUpper = Filled(770);
    r.edit.editLower = Filled(630);
    r.edit.editReference = Ramp(690);
    r.coordinateUpper = 2000;
    r.coordinateLower = 20;
    r.percentage = 12.5f;
    r.valueUpper = 80;
    r.valueLower = 60;

    struct Case {
        FamilyId family;
        bool byPercentage;
        bool byValue;
        std::uint8_t offsetType;
    };
    const Case cases[] = {
        {FamilyId::OneToOne, true, false, 1},  {FamilyId::OneToOne, false, true, 0},
        {FamilyId::OneToOne, false, false, 1}, {FamilyId::Velmora5, false, true, 0},
        {FamilyId::Master, true, false, 1},    {FamilyId::Master, false, false, 1},
        {FamilyId::Classic, true, false, 1},   {FamilyId::Classic, false, true, 0},
        {FamilyId::Classic, false, false, 0},  {FamilyId::Classic, true, true, 1},
    };
    for (const Case& c : cases) {
        r.byPercentage = c.byPercentage;
        r.byValue = c.byValue;
        PageRecord stored = page;
        StoreBaselineResult(r, c.family, stored);
        EXPECT_EQ(stored.offsetType, c.offsetType)
            << static_cast<int>(c.family) << " " << c.byPercentage << c.byValue;
        EXPECT_EQ(stored.mask[0], Tested);
        EXPECT_EQ(stored.mask[1], Greyed);
        EXPECT_EQ(stored.mask[2], 1);
        EXPECT_EQ(stored.upper, Filled(770));
        EXPECT_EQ(stored.lower, Filled(630));
        EXPECT_EQ(stored.reference, Ramp(690));
        EXPECT_EQ(stored.rangeMax, 2000);
        EXPECT_EQ(stored.rangeMin, 20);
        EXPECT_FLOAT_EQ(stored.percentage, 12.5f);
        EXPECT_EQ(stored.offsetUpper, 80);
        EXPECT_EQ(stored.offsetLower, 60);
        EXPECT_EQ(stored.live, page.live);
    }

    // Into the table, under its lock; a page outside the table is refused.
    PageStore pages;
    EXPECT_TRUE(StoreBaselineResult(r, FamilyId::Master, pages));
    EXPECT_EQ(pages.table[5].upper, Filled(770));
    EXPECT_EQ(pages.table[4].upper, Filled(0));
    for (std::int32_t bad : {-1, kPageCount}) {
        r.edit.selectedPage = bad;
        EXPECT_FALSE(StoreBaselineResult(r, FamilyId::Master, pages));
    }
}

TEST(BaselineResult, PageOfAClickedHead) {
    EXPECT_EQ(BaselinePageOf(0, 0, 1), 0);
    EXPECT_EQ(BaselinePageOf(1, 1, 2), 3);
    EXPECT_EQ(BaselinePageOf(6, 3, 10), 63);
    EXPECT_EQ(BaselinePageOf(6, 4, 10), std::nullopt);  // page 64
    EXPECT_EQ(BaselinePageOf(9, 9, 10), std::nullopt);
    EXPECT_EQ(BaselinePageOf(0, 2, 2), std::nullopt);
    EXPECT_EQ(BaselinePageOf(-1, 0, 2), std::nullopt);
    EXPECT_EQ(BaselinePageOf(0, 0, 0), std::nullopt);
}

TEST(ChangeLog, ThirtyFourEntriesNewestFirstInTheirForm) {
    BuildChangeLog();
    BuildChangeLog();  // built twice: cleared first, not appended to
    const std::string& log = g_changeLog;
    // Every line ends in CR LF, and no LF stands alone.
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i] == '\n') {
            ASSERT_GT(i, start) << "empty line at " << i;
            ASSERT_EQ(log[i - 1], '\r') << "bare LF at " << i;
            lines.push_back(log.substr(start, i - 1 - start));
            start = i + 1;
        }
    }
    ASSERT_EQ(lines.size(), 34u * 3);
    std::string previousDate = "9999/99/99";
    std::vector<int> previousVersion = {1 << 30, 0, 0, 0};
    for (std::size_t e = 0; e < 34; ++e) {
        // "YYYY/MM/DD;Ver a.b.c.d;"
        const std::string& date = lines[3 * e];
        int year = 0, month = 0, day = 0, a = 0, b = 0, c = 0, d = 0, used = 0;
        ASSERT_EQ(std::sscanf(date.c_str(), "%4d/%2d/%2d;Ver %d.%d.%d.%d;%n", &year, &month, &day,
                              &a, &b, &c, &d, &used),
                  7)
            << date;
        EXPECT_EQ(static_cast<std::size_t>(used), date.size()) << date;
        EXPECT_EQ(date[4], '/');
        EXPECT_EQ(date[7], '/');
        EXPECT_EQ(date.substr(10, 5), ";Ver ");
        EXPECT_TRUE(year >= 2000 && month >= 1 && month <= 12 && day >= 1 && day <= 31) << date;
        EXPECT_LT(date.substr(0, 10), previousDate) << "not newest first at " << date;
        previousDate = date.substr(0, 10);
        const std::vector<int> version = {a, b, c, d};
        EXPECT_LT(version, previousVersion) << date;
        previousVersion = version;

        const std::string& text = lines[3 * e + 1];
        EXPECT_GT(text.size(), 1u);
        EXPECT_EQ(text.back(), ';') << text;
        EXPECT_EQ(lines[3 * e + 2], std::string(42, '-'));
    }
}

}  // namespace
}  // namespace kx

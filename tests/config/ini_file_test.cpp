// SPDX-License-Identifier: MIT
#include "config/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>

namespace kx {
namespace {

struct LookupCase {
    const char* what;
    std::string file;
    const char* section;
    const char* key;
    std::optional<std::string> expected;  // nothing: the key is not found
};

TEST(IniFile, LooksUpLikeTheWindowsProfileFunctions) {
    const LookupCase cases[] = {
        {"names without regard to case", "[Global]\nfpcTest=1\n", "GLOBAL", "FPCTEST", "1"},
        {"blanks around names and value", "  [  GLOBAL  ]  \n   COL   =   3   \n", "GLOBAL", "COL",
         "3"},
        {"tabs too", "[S]\n\tK\t=\t7\t\n", "S", "K", "7"},
        {"double quotes", "[S]\nK=\"a b\"\n", "S", "K", "a b"},
        {"single quotes", "[S]\nK='a b'\n", "S", "K", "a b"},
        {"blanks inside quotes stay", "[S]\nK=\" x \"\n", "S", "K", " x "},
        {"only one pair", "[S]\nK=\"\"x\"\"\n", "S", "K", "\"x\""},
        {"quotes that do not match", "[S]\nK=\"abc'\n", "S", "K", "\"abc'"},
        {"a lone quote", "[S]\nK=\"\n", "S", "K", "\""},
        {"empty value", "[S]\nK=\n", "S", "K", ""},
        {"'=' inside the value", "[S]\nK=a=b\n", "S", "K", "a=b"},
        {"first of two keys", "[S]\nK=1\nK=2\n", "S", "K", "1"},
        {"first of two sections", "[S]\nA=1\n[s]\nK=2\n", "S", "K", std::nullopt},
        {"first of two sections has it", "[S]\nA=1\n[s]\nA=2\n", "S", "A", "1"},
        {"comment is no key", "[S]\n;K=1\n", "S", "K", std::nullopt},
        {"comment before the key", "[S]\n  ;K=1\nK=2\n", "S", "K", "2"},
        {"line without '='", "[S]\nK\nK=5\n", "S", "K", "5"},
        {"before the first section", "K=1\n[S]\n", "S", "K", std::nullopt},
        {"text after the header", "[S] ; note\nK=1\n", "S", "K", "1"},
        {"header without ']' is no header", "[S]\nK=1\n[T\nJ=2\n", "S", "J", "2"},
        {"missing section", "[S]\nK=1\n", "T", "K", std::nullopt},
        {"missing key", "[S]\nK=1\n", "S", "J", std::nullopt},
        {"key of another section", "[S]\nK=1\n[T]\n", "T", "K", std::nullopt},
        {"CRLF", "[S]\r\nA=1\r\nK=2\r\n", "S", "K", "2"},
        {"CR", "[S]\rA=1\rK=2", "S", "K", "2"},
        {"mixed line ends", "[S]\nA=1\r\nB=2\rK=3", "S", "K", "3"},
        {"byte-order mark", "\xEF\xBB\xBF[S]\nK=1\n", "S", "K", "1"},
        {"UTF-8 names, exact", "[测试]\n键=值\n", "测试", "键", "值"},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.what);
        const IniFile file = IniFile::Parse(c.file);
        const auto found = file.Find(c.section, c.key);
        ASSERT_EQ(found.has_value(), c.expected.has_value());
        if (found) {
            EXPECT_EQ(*found, *c.expected);
            EXPECT_EQ(file.GetString(c.section, c.key), *c.expected);
        } else {
            EXPECT_EQ(file.GetString(c.section, c.key), "");
            EXPECT_EQ(file.GetInt(c.section, c.key), 0);
        }
    }
}

TEST(IniFile, AValueReadsThroughAnEightyCharacterBuffer) {
    const std::string long100(100, 'v');
    const std::string inner79(79, 'q');
    const IniFile file = IniFile::Parse(
        "[S]\nLONG=" + long100 + "\nEXACT=" + inner79 + "\nQUOTED=\"" + inner79 +
        "x\"\nZEROS=" + std::string(80, '0') + "5\nDIGITS=" + std::string(100, '9') + "\n");
    EXPECT_EQ(file.GetString("S", "LONG"), std::string(79, 'v'));
    EXPECT_EQ(file.GetString("S", "EXACT"), inner79);
    // Quotes come off first, then the cut.
    EXPECT_EQ(file.GetString("S", "QUOTED"), inner79);
    EXPECT_EQ(file.GetString("S", "LONG", 10), std::string(9, 'v'));
    // The number goes through the same buffer: the 5 is cut off.
    EXPECT_EQ(file.GetInt("S", "ZEROS"), 0);
    EXPECT_EQ(file.GetInt("S", "DIGITS"), INT32_MAX);
    // The file itself keeps the whole value.
    EXPECT_EQ(file.Find("S", "LONG")->size(), 100u);
}

// The value is atoi's, whatever the text; `how` says whether the text was
// the number it reads as.
TEST(IniFile, IntegersReadAsAtoi) {
    constexpr NumberText ok = NumberText::kNumber;
    constexpr NumberText junk = NumberText::kNotANumber;
    constexpr NumberText range = NumberText::kOutOfRange;
    const struct {
        const char* text;
        std::int32_t value;
        NumberText how;
    } cases[] = {
        {"", 0, junk},
        {"abc", 0, junk},
        {"12", 12, ok},
        {"  -7x", -7, junk},
        {"+5", 5, ok},
        {"--5", 0, junk},
        {"- 5", 0, junk},
        {"+", 0, junk},
        {"12 34", 12, junk},
        {"\t\n 9", 9, ok},
        {" 7 ", 7, ok},
        {"0x10", 0, junk},
        {"1e3", 1, junk},
        {"1e999", 1, junk},
        {"3.7", 3, junk},
        {"12abc", 12, junk},
        {"nan", 0, junk},
        {"inf", 0, junk},
        {"-inf", 0, junk},
        {"007", 7, ok},
        {"-0", 0, ok},
        {"2147483647", INT32_MAX, ok},
        {"2147483648", INT32_MAX, range},
        {"-2147483648", INT32_MIN, ok},
        {"-2147483649", INT32_MIN, range},
        {"99999999999", INT32_MAX, range},
        {"-99999999999", INT32_MIN, range},
        {"-99999999999999999999", INT32_MIN, range},
        {"99999999999x", INT32_MAX, junk},
    };
    for (const auto& c : cases) {
        NumberText how = NumberText::kMissing;
        EXPECT_EQ(ParseProfileInt(c.text, &how), c.value) << '"' << c.text << '"';
        EXPECT_EQ(how, c.how) << '"' << c.text << '"';
        EXPECT_EQ(ParseProfileInt(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(IniFile, NumbersReadAsAtofInTheCLocale) {
    constexpr NumberText ok = NumberText::kNumber;
    constexpr NumberText junk = NumberText::kNotANumber;
    constexpr NumberText range = NumberText::kOutOfRange;
    const struct {
        const char* text;
        float value;
        NumberText how;
    } cases[] = {
        {"12.5", 12.5f, ok},
        {"7.5", 7.5f, ok},
        {" 7.5 ", 7.5f, ok},
        {" -3.25abc", -3.25f, junk},
        {"+2", 2.0f, ok},
        {".5", 0.5f, ok},
        {"5.", 5.0f, ok},
        {"1e2", 100.0f, ok},
        {"1,5", 1.0f, junk},
        {"abc", 0.0f, junk},
        {"", 0.0f, junk},
        {".", 0.0f, junk},
        {"+-1", 0.0f, junk},
        {"0x1p3", 8.0f, ok},
        {"0x", 0.0f, junk},
        {"0xg", 0.0f, junk},
        {"0x1A", 26.0f, ok},
        {"10.000000", 10.0f, ok},
        {"99999999999", 99999999999.0f, ok},
        {"3.4e38", 3.4e38f, ok},
        {"1e-40", 1e-40f, ok},  // a denormal float still holds it
        // Too small for a float: read as 0.
        {"1e-50", 0.0f, range},
        {"1e-999", 0.0f, range},
        // Not a finite float: read as no number at all.
        {"inf", 0.0f, junk},
        {"-inf", 0.0f, junk},
        {"-infinity", 0.0f, junk},
        {"nan", 0.0f, junk},
        {"1e39", 0.0f, range},
        {"-1e39", 0.0f, range},
        {"1e999", 0.0f, range},
        {"1e999x", 0.0f, junk},
    };
    for (const auto& c : cases) {
        NumberText how = NumberText::kMissing;
        EXPECT_FLOAT_EQ(ParseProfileFloat(c.text, &how), c.value) << '"' << c.text << '"';
        EXPECT_EQ(how, c.how) << '"' << c.text << '"';
        EXPECT_FLOAT_EQ(ParseProfileFloat(c.text), c.value) << '"' << c.text << '"';
    }
}

// Through the file: a missing key says so; the number is read through the
// value's buffer, so text beyond it is never looked at.
TEST(IniFile, NumbersOfTheFileSayHowTheirTextRead) {
    const IniFile file =
        IniFile::Parse("[S]\nA=' 7 '\nB=\"nan\"\nC=5" + std::string(78, ' ') + "x\nD=1.5e\n");
    NumberText how = NumberText::kNumber;
    EXPECT_EQ(file.GetInt("S", "A", &how), 7);
    EXPECT_EQ(how, NumberText::kNumber);
    EXPECT_EQ(file.GetFloat("S", "B", &how), 0.0f);
    EXPECT_EQ(how, NumberText::kNotANumber);
    EXPECT_EQ(file.GetInt("S", "C", &how), 5);
    EXPECT_EQ(how, NumberText::kNumber);
    EXPECT_FLOAT_EQ(file.GetFloat("S", "D", &how), 1.5f);
    EXPECT_EQ(how, NumberText::kNotANumber);
    EXPECT_EQ(file.GetInt("S", "E", &how), 0);
    EXPECT_EQ(how, NumberText::kMissing);
    EXPECT_EQ(file.GetFloat("T", "A", &how), 0.0f);
    EXPECT_EQ(how, NumberText::kMissing);
}

TEST(IniFile, NumbersWriteAsPrintf) {
    EXPECT_EQ(FormatProfileInt(0), "0");
    EXPECT_EQ(FormatProfileInt(-5), "-5");
    EXPECT_EQ(FormatProfileInt(INT32_MIN), "-2147483648");
    EXPECT_EQ(FormatProfileFloat(10.0f), "10.000000");
    EXPECT_EQ(FormatProfileFloat(12.5f), "12.500000");
    EXPECT_EQ(FormatProfileFloat(0.1f), "0.100000");
    EXPECT_EQ(FormatProfileFloat(-0.5f), "-0.500000");
    EXPECT_EQ(FormatProfileFloat(3.4028234663852886e38f),
              "340282346638528859811704183484516925440.000000");
}

struct WriteCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

TEST(IniFile, WritesOneKeyAndKeepsEveryOtherLine) {
    const WriteCase cases[] = {
        {"existing key in place", "[S]\r\nA=1\r\nB=2\r\n", "S", "A", "9", "[S]\r\nA=9\r\nB=2\r\n"},
        {"existing key keeps its spelling", "[s]\n  a  =  1  \n", "S", "A", "5", "[s]\na=5\n"},
        {"missing key at the end of its section", "[S]\nA=1\n\n[T]\nX=1\n", "S", "B", "2",
         "[S]\nA=1\nB=2\n\n[T]\nX=1\n"},
        {"missing key into a section of comments", "; head\n\n[S]\n; note\nA=1\n\n; tail\n\n", "S",
         "B", "4", "; head\n\n[S]\n; note\nA=1\n\n; tail\nB=4\n\n"},
        {"missing key, file without final line end", "[S]\nA=1", "S", "B", "2", "[S]\nA=1\nB=2\n"},
        {"missing key into an empty section", "[S]\n\n[T]\n", "S", "A", "1", "[S]\nA=1\n\n[T]\n"},
        {"missing key after a header that ends the file", "[S]", "S", "A", "1", "[S]\r\nA=1\r\n"},
        {"missing section at the end", "[S]\nA=1\n", "T", "X", "5", "[S]\nA=1\n[T]\nX=5\n"},
        {"missing section, CR file without final line end", "[S]\rA=1", "T", "X", "5",
         "[S]\rA=1\r[T]\rX=5\r"},
        {"new file gets CRLF", "", "GLOBAL", "COL", "2", "[GLOBAL]\r\nCOL=2\r\n"},
        {"only comments", "; a\n", "S", "A", "1", "; a\n[S]\nA=1\n"},
        {"line end of the first line", "[S]\nA=1\r\n", "S", "B", "2", "[S]\nA=1\r\nB=2\n"},
        {"byte-order mark kept", "\xEF\xBB\xBF[S]\r\nA=1\r\n", "S", "A", "2",
         "\xEF\xBB\xBF[S]\r\nA=2\r\n"},
        {"first of two keys", "[S]\nA=1\nA=2\n", "S", "A", "9", "[S]\nA=9\nA=2\n"},
        {"first of two sections", "[S]\nA=1\n[S]\nB=2\n", "S", "B", "5",
         "[S]\nA=1\nB=5\n[S]\nB=2\n"},
        {"names without regard to case", "[global]\nfpctest=0\n", "GLOBAL", "FPCTEST", "1",
         "[global]\nfpctest=1\n"},
        {"a key before the first section is not it", "A=1\n[S]\n", "S", "A", "2",
         "A=1\n[S]\nA=2\n"},
        {"a commented key is not it", "[S]\n;A=1\n", "S", "A", "2", "[S]\n;A=1\nA=2\n"},
        {"junk lines stay", "[S]\n\x01\x02 junk\nA=1\n", "S", "A", "2",
         "[S]\n\x01\x02 junk\nA=2\n"},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.what);
        IniFile file = IniFile::Parse(c.before);
        ASSERT_TRUE(file.SetString(c.section, c.key, c.value));
        EXPECT_EQ(file.Serialize(), c.after);
        EXPECT_EQ(file.GetString(c.section, c.key), c.value);
        // What was written reads back the same from the bytes.
        EXPECT_EQ(IniFile::Parse(file.Serialize()).GetString(c.section, c.key), c.value);
    }
}

TEST(IniFile, SeveralWritesIntoOneSectionKeepTheirOrder) {
    IniFile file = IniFile::Parse("[S]\nA=1\n\n[T]\nX=1\n");
    for (const char* key : {"B", "C", "D"}) {
        ASSERT_TRUE(file.SetString("S", key, key));
    }
    ASSERT_TRUE(file.SetString("S", "A", "0"));
    ASSERT_TRUE(file.SetString("T", "Y", "2"));
    ASSERT_TRUE(file.SetString("U", "Z", "3"));
    ASSERT_TRUE(file.SetString("U", "Z", "4"));
    EXPECT_EQ(file.Serialize(), "[S]\nA=0\nB=B\nC=C\nD=D\n\n[T]\nX=1\nY=2\n[U]\nZ=4\n");
}

TEST(IniFile, RefusesNamesThatWouldNotReadBack) {
    const std::string before = "[S]\nA=1\n";
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"", "A", "1"},   {"S", "", "1"},    {" S", "A", "1"},  {"S", "A ", "1"},
        {"S]", "A", "1"}, {"S\n", "A", "1"}, {"S", "A\r", "1"}, {"S", "A", "1\r\n[T]"},
        {"S", ";A", "1"}, {"S", "[A]", "1"}, {"S", "A=B", "1"},
    };
    for (const auto& c : cases) {
        IniFile file = IniFile::Parse(before);
        EXPECT_FALSE(file.SetString(c.section, c.key, c.value))
            << '[' << c.section << "] " << c.key << '=' << c.value;
        EXPECT_EQ(file.Serialize(), before);
    }
    // Section ids that no section of the file has, and the lines before the
    // first section, take no keys either.
    IniFile file = IniFile::Parse(before);
    EXPECT_FALSE(file.SetString(IniFile::SectionId{0}, "A", "1"));
    EXPECT_FALSE(file.SetString(IniFile::SectionId{7}, "A", "1"));
    IniFile twice = IniFile::Parse("[S]\n[S]\n");
    EXPECT_FALSE(twice.SetString(IniFile::SectionId{2}, "A", "1"));  // the second [S]
    EXPECT_FALSE(file.Find(IniFile::SectionId{7}, "A"));
    EXPECT_FALSE(file.AddSection("S]"));
    EXPECT_EQ(file.Serialize(), before);
}

TEST(IniFile, GivesBackTheBytesItParsed) {
    std::string binary;
    for (int i = 0; i < 512; ++i) {
        binary.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    }
    const std::string inputs[] = {
        "",
        "\n",
        "\r\n\r\n",
        "\r",
        "\n\r",  // LF, then a CR of its own
        "[S]",
        "\xEF\xBB\xBF",
        "\xEF\xBB\xBF[S]\r\nA=1",
        "  [ S ] tail \r\n  ; c \r\n A = 1 \r\n\r\n\t\r\n",
        std::string("[S]\0\nA=\0 1\n", 12),
        binary,
    };
    for (const std::string& in : inputs) {
        EXPECT_EQ(IniFile::Parse(in).Serialize(), in);
    }
}

}  // namespace
}  // namespace kx

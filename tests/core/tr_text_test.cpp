// SPDX-License-Identifier: MIT
#include "core/tr_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kx {
namespace {

TEST(FormatTextTest, PlaceHolders) {
    struct Case {
        const char* pattern;
        std::initializer_list<std::string_view> args;
        const char* expected;
    };
    const Case cases[] = {
        {"第 %1 行：%2", {"7", "缺少等号"}, "第 7 行：缺少等号"},
        {"%2 before %1", {"a", "b"}, "b before a"},
        {"twice %1 %1", {"x"}, "twice x x"},
        // An argument's own "%2" is not replaced again.
        {"%1 and %2", {"50%2", "y"}, "50%2 and y"},
        // Place holders without an argument, a lone or final %, %0.
        {"%1 %3", {"a"}, "a %3"},
        {"100% sure %", {}, "100% sure %"},
        {"%0", {"a"}, "%0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(c.pattern, c.args), c.expected) << c.pattern;
    }
}

std::string Shout(const char* context, const char* source) {
    return std::string(context) + ":" + (std::strcmp(source, "二") == 0 ? "two" : source);
}

TEST(TrTextTest, SourceUntilATranslatorIsInstalled) {
    EXPECT_EQ(TrText("Ctx", "二"), "二");
    SetTextTranslator(&Shout);
    EXPECT_EQ(TrText("Ctx", "二"), "Ctx:two");
    EXPECT_EQ(TrText("Ctx", nullptr), "");
    SetTextTranslator(nullptr);
    EXPECT_EQ(TrText("Ctx", "二"), "二");
}

}  // namespace
}  // namespace kx

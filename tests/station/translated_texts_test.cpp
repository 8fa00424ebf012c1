// SPDX-License-Identifier: MIT
// The texts of the layers without Qt reach the station's translator through
// the TrText hook: with a translator installed, messages built in config/,
// hid/ and station/ come out whole in its language (place holders filled,
// nested names translated too); without it they are the Chinese they were.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "config/config_file.h"
#include "config/file_access.h"
#include "core/tr_text.h"
#include "station/config_transfer.h"
#include "station/device_info.h"
#include "station/station_texts.h"

namespace kx {
namespace {

// A small English dictionary in place of Qt's translator: anything it does
// not know stays as it is, so an untranslated piece shows up as Chinese.
std::string FakeEnglish(const char* context, const char* source) {
    struct Entry {
        const char* context;
        const char* source;
        const char* english;
    };
    static const Entry kEntries[] = {
        {"FileAccess", "“%1”：%2失败，%3。", "\"%1\": %2 failed: %3."},
        {"FileAccess", "写入临时文件", "writing the temporary file"},
        {"FileAccess", "磁盘空间不足", "not enough disk space"},
        {"FileAccess", "原文件未改动。", " The original file is unchanged."},
        {"ConfigFile", "第 %1 行第 %2 列（页 %3）", "row %1, column %2 (page %3)"},
        {"ConfigTransfer",
         "没有连接%1，老版本配置只能写入%1，没有载入，界面和测试板上的设置都没有改动。\n"
         "请插好%1，等窗口标题显示“设备已经连接”后再载入。",
         "No %1 is connected. Nothing was loaded.\nPlug in the %1."},
        {"BoardFamily", "一拖一测试板", "one-to-one tester board"},
        {"StationTexts",
         "%1没有应答，未能读出测试板中保存的测试设置（界面上显示的是原来的设置）。\n"
         "请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。",
         "The %1 did not answer."},
        {"FirmwareText", "%1年%2月%3日", "%1-%2-%3"},
    };
    for (const Entry& e : kEntries) {
        if (std::strcmp(e.context, context) == 0 && std::strcmp(e.source, source) == 0) {
            return e.english;
        }
    }
    return source;
}

// Takes the translator away again at the end of a test, also when it fails.
struct FakeEnglishInstalled {
    FakeEnglishInstalled() { SetTextTranslator(&FakeEnglish); }
    ~FakeEnglishInstalled() { SetTextTranslator(nullptr); }
    FakeEnglishInstalled(const FakeEnglishInstalled&) = delete;
    FakeEnglishInstalled& operator=(const FakeEnglishInstalled&) = delete;
};

std::string DiskFullMessage() {
    FileError error;
    error.code = ENOSPC;
    error.action = KX_TRANSLATE_NOOP("FileAccess", "写入临时文件");
    error.path = "/line/a.ini";
    error.originalKept = true;
    return error.Message();
}

TEST(TranslatedTextsTest, MessagesOfTheLayersWithoutQtFollowTheTranslator) {
    struct Case {
        const char* what;
        std::function<std::string()> make;
        const char* chinese;
        const char* english;
    };
    const Case cases[] = {
        {"config/ save failure", DiskFullMessage,
         "“/line/a.ini”：写入临时文件失败，磁盘空间不足。原文件未改动。",
         "\"/line/a.ini\": writing the temporary file failed: not enough disk space. The "
         "original file is unchanged."},
        {"config/ head name", [] { return HeadName(5, 2); }, "第 3 行第 2 列（页 05）",
         "row 3, column 2 (page 05)"},
        {"station/ legacy load without its board", NoRunoffForLegacyText,
         "没有连接一拖一测试板，老版本配置只能写入一拖一测试板，没有载入，界面和测试板上的设置都没"
         "有"
         "改动。\n请插好一拖一测试板，等窗口标题显示“设备已经连接”后再载入。",
         "No one-to-one tester board is connected. Nothing was loaded.\nPlug in the one-to-one "
         "tester board."},
        // The family's name is stored in Chinese and translated where shown.
        {"station/ a board that does not answer", [] { return NoAnswerMessage("一拖一测试板"); },
         "一拖一测试板没有应答，未能读出测试板中保存的测试设置（界面上显示的是原来的设置）。\n"
         "请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。",
         "The one-to-one tester board did not answer."},
        {"station/ and hid/ firmware date", [] { return DateText(2026, 3, 5); }, "2026年03月05日",
         "2026-03-05"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.make(), c.chinese) << c.what;
    }
    {
        FakeEnglishInstalled english;
        for (const Case& c : cases) {
            EXPECT_EQ(c.make(), c.english) << c.what;
        }
    }
    for (const Case& c : cases) {
        EXPECT_EQ(c.make(), c.chinese) << c.what << " (after the translator was removed)";
    }
}

}  // namespace
}  // namespace kx

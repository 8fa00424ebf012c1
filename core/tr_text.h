// SPDX-License-Identifier: MIT
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The station's texts are written in Chinese and translated at run time by
// the program's translator (Qt's, installed by the windows' side); code
// without Qt reaches it through this hook. The extractor (tools/
// update_translations.sh) collects the texts of TrText calls and of
// KX_TRANSLATE_NOOP markers by their context, as it does Qt's own.
//
//     ShowMessage(TrText("StationTexts", "设备已经断开"));
//     constexpr const char* kTitle = KX_TRANSLATE_NOOP("StationTexts", "设备已经断开");
//     SetTitle(TrText("StationTexts", kTitle));
//     FormatText(TrText("ConfigFile", "第 %1 行：%2"), {std::to_string(line), why});

// Marks a constant's text for the extractor; translated where it is used.
#define KX_TRANSLATE_NOOP(context, text) text

namespace kx {

// context and source are UTF-8; returns UTF-8.
using TextTranslator = std::string (*)(const char* context, const char* source);

// Installed once, before the threads that ask for texts start; nullptr
// restores the source texts.
void SetTextTranslator(TextTranslator translator);

// `source` in the station's language: the source itself while no
// translator is installed or the translator has no text for it.
std::string TrText(const char* context, const char* source);

// `pattern` with %1 ... %9 replaced by the arguments in order (a place
// holder without an argument stays as it is). The arguments are inserted
// as they are: a "%2" inside the first argument is not replaced.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace kx

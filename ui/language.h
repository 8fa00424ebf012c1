// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace kx {

// The station's language. Its texts are written in Chinese; English comes
// from the translation compiled into the program
// (resources/translations/kaldrixplus_en.ts).
enum class Language { Chinese, English };

// "zh" or "en" (as --lang and KALDRIX_LANG take them, any case); nullopt
// for anything else.
std::optional<Language> ParseLanguage(const QString& text);

// The language to show: --lang's when given, else KALDRIX_LANG's ("en" on
// an English station), else Chinese. The system's locale alone never
// changes it: the line's operators read Chinese.
Language ChooseLanguage(std::optional<Language> option, const QByteArray& environment);

// Installs Qt's own texts (standard buttons, file chooser) and the
// station's for `language`, for the windows and for the code without Qt
// (TrText). Call once, from the user-interface thread, before the station's
// threads start. False when a translation could not be loaded (the texts
// then stay Chinese, or Qt's stay English).
bool InstallLanguage(Language language);

}  // namespace kx

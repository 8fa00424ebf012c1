// SPDX-License-Identifier: MIT
#include "ui/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "core/tr_text.h"

namespace kx {

namespace {

QTranslator* g_qtTexts = nullptr;
QTranslator* g_stationTexts = nullptr;

std::string TranslateWithQt(const char* context, const char* source) {
    return QCoreApplication::translate(context, source).toStdString();
}

void Remove(QTranslator*& translator) {
    if (translator != nullptr) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
        translator = nullptr;
    }
}

// Loads `translator` and installs it; false (and nothing installed) when
// the file is not there.
bool Install(QTranslator*& slot, const QString& name, const QString& directory) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(name, directory) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    slot = translator;
    return true;
}

}  // namespace

std::optional<Language> ParseLanguage(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("zh") || t == QLatin1String("zh_cn")) {
        return Language::Chinese;
    }
    if (t == QLatin1String("en")) {
        return Language::English;
    }
    return std::nullopt;
}

Language ChooseLanguage(std::optional<Language> option, const QByteArray& environment) {
    if (option) {
        return *option;
    }
    return ParseLanguage(QString::fromLatin1(environment)).value_or(Language::Chinese);
}

bool InstallLanguage(Language language) {
    Remove(g_qtTexts);
    Remove(g_stationTexts);
    SetTextTranslator(nullptr);
    if (language == Language::Chinese) {
        // The station's texts are Chinese already; Qt's own come from Qt's
        // translation.
        return Install(g_qtTexts, QStringLiteral("qtbase_zh_CN"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
    // Qt's own texts are English already.
    const bool ok =
        Install(g_stationTexts, QStringLiteral("kaldrixplus_en"), QStringLiteral(":/i18n"));
    if (ok) {
        SetTextTranslator(&TranslateWithQt);
    }
    return ok;
}

}  // namespace kx

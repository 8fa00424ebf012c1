// SPDX-License-Identifier: MIT
#include "config/config_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdio>

#include "config/legacy_config.h"
#include "core/tr_text.h"

namespace kx {

namespace {

constexpr char kGlobal[] = "GLOBAL";

// "CH00" .. "CH31".
const std::array<std::string, kChannels>& ChannelKeys() {
    static const std::array<std::string, kChannels> keys = [] {
        std::array<std::string, kChannels> k;
        char buf[16];
        for (int c = 0; c < kChannels; ++c) {
            std::snprintf(buf, sizeof buf, "CH%02d", c);
            k[c] = buf;
        }
        return k;
    }();
    return keys;
}

// The section and key names of one page.
struct PageNames {
    explicit PageNames(int page) {
        Format(offset, "PAGE%02d_OFFSET", page);
        Format(offsetType, "PAGE%02d_OFFSETTYPE", page);
        Format(percentage, "PAGE%02d_PERCENTAGE", page);
        Format(offsetUpper, "PAGE%02d_OFFSETUPPER", page);
        Format(offsetLower, "PAGE%02d_OFFSETLOWER", page);
        Format(refData, "PAGE%02d_REFDATA", page);
        Format(high, "PAGE%02d_THRESHOLDHIGH", page);
        Format(low, "PAGE%02d_THRESHOLDLOW", page);
        // MAX and MIN live in two differently spelled sections; files in the
        // field depend on both spellings.
        Format(rangeMax, "PAGE%02d_DATARANG", page);
        Format(rangeMin, "PAGE%02d_DATARANGE", page);
        Format(mask, "PAGE%02d_MASK", page);
    }

    using Name = std::array<char, 48>;
    template <typename... Args>
    static void Format(Name& out, const char* format, Args... args) {
        std::snprintf(out.data(), out.size(), format, args...);
    }

    Name offset, offsetType, percentage, offsetUpper, offsetLower;
    Name refData, high, low, rangeMax, rangeMin, mask;
};

// Calls f(section, key) for every key a page's settings are read from, in
// the order ReadPage reads them.
template <typename F>
void ForEachPageKey(const PageNames& n, F&& f) {
    const auto& keys = ChannelKeys();
    f(n.offset.data(), n.offsetType.data());
    f(n.offset.data(), n.percentage.data());
    f(n.offset.data(), n.offsetUpper.data());
    f(n.offset.data(), n.offsetLower.data());
    for (const PageNames::Name* section : {&n.refData, &n.high, &n.low}) {
        for (const std::string& key : keys) {
            f(section->data(), key.c_str());
        }
    }
    f(n.rangeMax.data(), "MAX");
    f(n.rangeMin.data(), "MIN");
    for (const std::string& key : keys) {
        f(n.mask.data(), key.c_str());
    }
}

// The keys of a page a file lacks: how many, and the first of them.
struct MissingKeys {
    int count = 0;
    std::string first;  // "[PAGE03_THRESHOLDLOW] 中的 CH20", for the operator
};

MissingKeys FindMissingKeys(const IniFile& file, int page) {
    MissingKeys missing;
    ForEachPageKey(PageNames(page), [&](const char* section, const char* key) {
        if (!file.Find(section, key)) {
            if (missing.count++ == 0) {
                missing.first = FormatText(TrText("ConfigFile", "[%1] 中的 %2"), {section, key});
            }
        }
    });
    return missing;
}

constexpr const char* kGlobalKeys[] = {"FPCTEST", "COL", "ROW"};

std::int32_t ClampCount(std::int32_t n, std::int32_t max) {
    return std::clamp<std::int32_t>(n, 0, max);
}

// The text of a value as the readers read it, for a SuspectValue.
std::string ReadText(const IniFile& file, IniFile::SectionId section, const char* key) {
    const auto v = file.Find(section, key);
    return v ? std::string(v->substr(0, kProfileBufferSize - 1)) : std::string();
}

bool Suspect(NumberText how) {
    return how == NumberText::kNotANumber || how == NumberText::kOutOfRange;
}

// A number read from a section that may be missing (0 then), noted in
// `suspects` when its text was not a number or out of range.
std::int32_t ReadInt(const IniFile& file, std::optional<IniFile::SectionId> s, const char* section,
                     const char* key, SuspectValues* suspects) {
    if (!s) {
        return 0;
    }
    NumberText how = NumberText::kNumber;
    const std::int32_t v = file.GetInt(*s, key, &how);
    if (suspects != nullptr && Suspect(how)) {
        suspects->push_back({section, key, ReadText(file, *s, key), FormatProfileInt(v)});
    }
    return v;
}

float ReadFloat(const IniFile& file, std::optional<IniFile::SectionId> s, const char* section,
                const char* key, SuspectValues* suspects) {
    if (!s) {
        return 0.0f;
    }
    NumberText how = NumberText::kNumber;
    const float v = file.GetFloat(*s, key, &how);
    if (suspects != nullptr && Suspect(how)) {
        // Six significant digits, as the window shows a number.
        std::array<char, 32> buf;
        const auto r =
            std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::general, 6);
        suspects->push_back(
            {section, key, ReadText(file, *s, key), std::string(buf.data(), r.ptr)});
    }
    return v;
}

// The 32 channel values of a section, 0 where missing.
void ReadChannels(const IniFile& file, const char* section, ChannelValues& values,
                  SuspectValues* suspects) {
    const auto& keys = ChannelKeys();
    const auto s = file.FindSection(section);
    for (int c = 0; c < kChannels; ++c) {
        values[c] = ReadInt(file, s, section, keys[c].c_str(), suspects);
    }
}

// At most this many characters of a value's text are shown.
constexpr std::size_t kShownTextCharacters = 24;

// A value's text for the operator: control bytes as '?', cut after
// kShownTextCharacters characters (UTF-8, never inside one) with "…".
std::string ShownText(std::string_view text) {
    std::string out;
    std::size_t characters = 0;
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b & 0xC0) != 0x80 && characters++ == kShownTextCharacters) {
            return out + "…";
        }
        out += b < 0x20 || b == 0x7F ? '?' : ch;
    }
    return out;
}

void WriteChannels(IniFile& file, const char* section, const ChannelValues& values) {
    const auto& keys = ChannelKeys();
    const IniFile::SectionId s = *file.AddSection(section);
    for (int c = 0; c < kChannels; ++c) {
        file.SetString(s, keys[c], FormatProfileInt(values[c]));
    }
}

// columns x rows, negative counts taken as 0, at most INT32_MAX.
std::int32_t LayoutHeads(const ConfigGlobals& g) {
    const std::int64_t heads =
        static_cast<std::int64_t>(std::max(g.columns, 0)) * std::max(g.rows, 0);
    return static_cast<std::int32_t>(std::min<std::int64_t>(heads, INT32_MAX));
}

std::string Page2(int p) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", p);
    return buf;
}

}  // namespace

std::string CompleteIniFileName(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? name : name.substr(slash + 1);
    std::string out(name);
    if (last.empty() || last == "." || last == "..") {
        return out;
    }
    const std::size_t dot = last.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        out.append(".").append(kConfigFileSuffix);
    } else if (dot + 1 == last.size()) {
        out.append(kConfigFileSuffix);
    }
    return out;
}

FileError ReadIniFile(const std::string& path, IniFile& file, bool* missing) {
    file = IniFile();
    bool absent = false;
    std::string bytes;
    FileError error = ReadWholeFile(path, bytes, &absent);
    if (missing != nullptr) {
        *missing = absent;
    }
    if (absent) {
        return {};
    }
    if (error) {
        return error;
    }
    // UTF-16 text would read as junk, and a save would mix UTF-8 lines into it.
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                              (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
        error.code = FileError::kUtf16;
        error.action = KX_TRANSLATE_NOOP("FileAccess", "读取文件");
        error.path = path;
        return error;
    }
    file = IniFile::Parse(bytes);
    return {};
}

std::string LayoutNotice(const ConfigLayout& l) {
    if (!l.Adjusted()) {
        return {};
    }
    std::string t;
    if (l.fileColumns != l.columns || l.fileRows != l.rows) {
        t +=
            FormatText(TrText("ConfigFile",
                              "配置文件中的布局为 %1 列 × %2 行，本机每行、每列最多 %3 个测试头。"),
                       {std::to_string(l.fileColumns), std::to_string(l.fileRows),
                        std::to_string(kConfigMaxColumns)});
    }
    const std::string columns = std::to_string(l.columns);
    const std::string rows = std::to_string(l.rows);
    if (l.pages == 0) {
        t += FormatText(TrText("ConfigFile", "已按 %1 列 × %2 行载入，没有载入任何测试头的设置。"),
                        {columns, rows});
    } else if (l.pages < l.columns * l.rows) {
        t += FormatText(TrText("ConfigFile",
                               "已按 %1 列 × %2 行载入，本机最多保存 %3 个测试头的设置，"
                               "只载入了前 %4 个（第 00 至 %5 页）。"),
                        {columns, rows, std::to_string(kPageCount), std::to_string(l.pages),
                         Page2(l.pages - 1)});
    } else {
        t += FormatText(TrText("ConfigFile", "已按 %1 列 × %2 行载入。"), {columns, rows});
    }
    return t;
}

std::string SuspectValuesNotice(const SuspectValues& values) {
    if (values.empty()) {
        return {};
    }
    const std::string separator = TrText("ConfigFile", "、");
    const std::string item = TrText("ConfigFile", "[%1] %2=%3（读作 %4）");
    std::string list;
    for (std::size_t i = 0; i < values.size() && i < kSuspectValuesNamed; ++i) {
        const SuspectValue& v = values[i];
        if (i > 0) {
            list += separator;
        }
        list += FormatText(item, {v.section, v.key, ShownText(v.text), v.readAs});
    }
    if (values.size() > kSuspectValuesNamed) {
        return FormatText(TrText("ConfigFile",
                                 "以下设置的文字不是数字或超出范围，已按原来的规则读入：%1等，共 "
                                 "%2 项。"),
                          {list, std::to_string(values.size())});
    }
    return FormatText(
        TrText("ConfigFile", "以下设置的文字不是数字或超出范围，已按原来的规则读入：%1。"), {list});
}

std::string HeadName(int page, std::int32_t columns) {
    const int c = std::max<std::int32_t>(columns, 1);
    return FormatText(TrText("ConfigFile", "第 %1 行第 %2 列（页 %3）"),
                      {std::to_string(page / c + 1), std::to_string(page % c + 1), Page2(page)});
}

bool HasConfigKeys(const IniFile& file) {
    for (const char* key : kGlobalKeys) {
        if (file.Find(kGlobal, key)) {
            return true;
        }
    }
    for (int p = 0; p < kPageCount; ++p) {
        if (FindMissingKeys(file, p).count < kPageKeys) {
            return true;
        }
    }
    return false;
}

ConfigReader::ConfigReader(IniFile file) : file_(std::move(file)) {
    const auto global = file_.FindSection(kGlobal);
    globals_.fpcTest = ReadInt(file_, global, kGlobal, "FPCTEST", &globalSuspects_);
    layout_.fileColumns = ReadInt(file_, global, kGlobal, "COL", &globalSuspects_);
    layout_.fileRows = ReadInt(file_, global, kGlobal, "ROW", &globalSuspects_);
    layout_.columns = ClampCount(layout_.fileColumns, kConfigMaxColumns);
    layout_.rows = ClampCount(layout_.fileRows, kConfigMaxRows);
    layout_.pages = std::min(layout_.columns * layout_.rows, kPageCount);
    globals_.columns = layout_.columns;
    globals_.rows = layout_.rows;
}

std::optional<ConfigReader> ConfigReader::Open(const std::string& path, FileError& error) {
    IniFile file;
    bool missing = false;
    error = ReadIniFile(path, file, &missing);
    if (error) {
        return std::nullopt;
    }
    ConfigReader reader(std::move(file));
    reader.missing_ = missing;
    return reader;
}

FileError ConfigReader::Check(const std::string& path) const {
    FileError error;
    error.path = path;
    if (!HasConfigKeys(file_)) {
        if (HasLegacyKeys(file_)) {
            error.code = FileError::kLegacyConfig;
        } else {
            error.code = FileError::kNotConfig;
            error.detail = TrText("ConfigFile",
                                  "文件中没有载入所读的任何设置（[GLOBAL] 中的 FPCTEST、COL、ROW，"
                                  "或 PAGE00 至 PAGE63 各测试头的设置）");
        }
        return error;
    }
    std::string globals;
    for (const char* key : kGlobalKeys) {
        if (!file_.Find(kGlobal, key)) {
            globals += (globals.empty() ? std::string() : TrText("ConfigFile", "、")) + key;
        }
    }
    if (!globals.empty()) {
        error.code = FileError::kIncompleteConfig;
        error.detail = FormatText(TrText("ConfigFile", "缺少 [GLOBAL] 中的 %1"), {globals});
        return error;
    }
    if (layout_.columns * layout_.rows == 0) {
        error.code = FileError::kNoHeads;
        error.detail =
            FormatText(TrText("ConfigFile", "COL=%1，ROW=%2"),
                       {std::to_string(layout_.fileColumns), std::to_string(layout_.fileRows)});
        return error;
    }
    int incomplete = 0;
    int firstPage = 0;
    MissingKeys first;
    for (int p = 0; p < layout_.pages; ++p) {
        MissingKeys missing = FindMissingKeys(file_, p);
        if (missing.count == 0) {
            continue;
        }
        if (incomplete++ == 0) {
            firstPage = p;
            first = std::move(missing);
        }
    }
    if (incomplete > 0) {
        error.code = FileError::kIncompleteConfig;
        const std::string head = HeadName(firstPage, layout_.columns);
        const std::string count = std::to_string(first.count);
        error.detail =
            incomplete == 1
                ? FormatText(TrText("ConfigFile", "%1缺少 %2 项设置（如 %3）"),
                             {head, count, first.first})
                : FormatText(TrText("ConfigFile",
                                    "%1缺少 %2 项设置（如 %3），共有 %4 个测试头的设置不完整"),
                             {head, count, first.first, std::to_string(incomplete)});
        return error;
    }
    return {};
}

bool ConfigReader::ReadPage(int page, PageRecord& r, SuspectValues* suspects) const {
    if (page < 0 || page >= kPageCount) {
        return false;
    }
    const PageNames n(page);
    const auto offset = file_.FindSection(n.offset.data());
    const auto readInt = [&](const std::optional<IniFile::SectionId>& s, const char* section,
                             const char* key) { return ReadInt(file_, s, section, key, suspects); };
    r.offsetType = readInt(offset, n.offset.data(), n.offsetType.data()) != 0 ? 1 : 0;
    r.percentage = ReadFloat(file_, offset, n.offset.data(), n.percentage.data(), suspects);
    r.offsetUpper = readInt(offset, n.offset.data(), n.offsetUpper.data());
    r.offsetLower = readInt(offset, n.offset.data(), n.offsetLower.data());
    ReadChannels(file_, n.refData.data(), r.reference, suspects);
    ReadChannels(file_, n.high.data(), r.upper, suspects);
    ReadChannels(file_, n.low.data(), r.lower, suspects);
    r.rangeMax = readInt(file_.FindSection(n.rangeMax.data()), n.rangeMax.data(), "MAX");
    r.rangeMin = readInt(file_.FindSection(n.rangeMin.data()), n.rangeMin.data(), "MIN");
    const auto& keys = ChannelKeys();
    const auto mask = file_.FindSection(n.mask.data());
    for (int c = 0; c < kChannels; ++c) {
        const std::int32_t v = readInt(mask, n.mask.data(), keys[c].c_str());
        // With FPC test the mode byte itself; without, 1 means "channel on".
        r.mask[c] = globals_.fpcTest != 0 ? static_cast<std::uint8_t>(v)
                                          : static_cast<std::uint8_t>(v != 0 ? Tested : Masked);
    }
    return true;
}

int WriteConfig(IniFile& file, const ConfigGlobals& g, std::span<const PageRecord> pages) {
    file.SetString(kGlobal, "FPCTEST", FormatProfileInt(g.fpcTest));
    file.SetString(kGlobal, "COL", FormatProfileInt(g.columns));
    file.SetString(kGlobal, "ROW", FormatProfileInt(g.rows));

    const int count = static_cast<int>(
        std::min<std::int64_t>(LayoutHeads(g), static_cast<std::int64_t>(pages.size())));
    const auto& keys = ChannelKeys();
    for (int p = 0; p < count; ++p) {
        const PageRecord& r = pages[p];
        const PageNames n(p);
        const IniFile::SectionId offset = *file.AddSection(n.offset.data());
        file.SetString(offset, n.offsetType.data(), FormatProfileInt(r.offsetType));
        file.SetString(offset, n.percentage.data(), FormatProfileFloat(r.percentage));
        file.SetString(offset, n.offsetUpper.data(), FormatProfileInt(r.offsetUpper));
        file.SetString(offset, n.offsetLower.data(), FormatProfileInt(r.offsetLower));
        WriteChannels(file, n.refData.data(), r.reference);
        WriteChannels(file, n.high.data(), r.upper);
        WriteChannels(file, n.low.data(), r.lower);
        file.SetString(n.rangeMax.data(), "MAX", FormatProfileInt(r.rangeMax));
        file.SetString(n.rangeMin.data(), "MIN", FormatProfileInt(r.rangeMin));
        const IniFile::SectionId mask = *file.AddSection(n.mask.data());
        for (int c = 0; c < kChannels; ++c) {
            const std::int32_t v = g.fpcTest != 0 ? r.mask[c] : (r.mask[c] == Tested ? 1 : 0);
            file.SetString(mask, keys[c], FormatProfileInt(v));
        }
    }
    return count;
}

FileError SaveConfig(const std::string& path, const ConfigGlobals& globals,
                     std::span<const PageRecord> pages, SaveReport* report,
                     const FileHooks* hooks) {
    IniFile file;
    if (FileError error = ReadIniFile(path, file)) {
        // Saving over a file whose lines cannot be kept would lose them.
        error.action = KX_TRANSLATE_NOOP("FileAccess", "读取原文件");
        error.originalKept = true;
        return error;
    }
    SaveReport done;
    done.pages = WriteConfig(file, globals, pages);
    done.layoutHeads = LayoutHeads(globals);
    FileError error = ReplaceFileContents(path, file.Serialize(), hooks);
    if (!error && report != nullptr) {
        *report = done;
    }
    return error;
}

std::string SaveNotice(const SaveReport& report) {
    if (report.pages >= report.layoutHeads) {
        return {};
    }
    const std::string heads = std::to_string(report.layoutHeads);
    const std::string most = std::to_string(kPageCount);
    if (report.pages == 0) {
        return FormatText(TrText("ConfigFile",
                                 "布局共有 %1 个测试头，本机最多保存 %2 个测试头的设置，"
                                 "没有保存任何测试头的设置。"),
                          {heads, most});
    }
    return FormatText(TrText("ConfigFile",
                             "布局共有 %1 个测试头，本机最多保存 %2 个测试头的设置，"
                             "只保存了前 %3 个（第 00 至 %4 页）。"),
                      {heads, most, std::to_string(report.pages), Page2(report.pages - 1)});
}

}  // namespace kx

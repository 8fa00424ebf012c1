// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/file_access.h"
#include "config/ini_file.h"
#include "core/page_table.h"
#include "core/tr_text.h"

namespace kx {

// The grid takes at most this many head columns and rows.
inline constexpr std::int32_t kConfigMaxColumns = 10;
inline constexpr std::int32_t kConfigMaxRows = 10;

// The file choosers' filter (Qt syntax; untranslated, shown through
// translate("ConfigFile", ...)) and the suffix of a name typed without one.
inline constexpr char kConfigFileFilter[] = KX_TRANSLATE_NOOP("ConfigFile", "配置文件(*.ini)");
inline constexpr char kConfigFileSuffix[] = "ini";

// `name` with ".ini" added when its last component has no extension
// ("a" -> "a.ini", "a." -> "a.ini"); names with an extension, and folder
// paths ending in '/', come back unchanged.
std::string CompleteIniFileName(std::string_view name);

// Reads an INI file. A file that does not exist reads as an empty file and
// sets *missing; any other failure (unreadable, not a regular file, too
// large, UTF-16 text) is returned and leaves `file` empty.
FileError ReadIniFile(const std::string& path, IniFile& file, bool* missing = nullptr);

// The [GLOBAL] values of a configuration.
struct ConfigGlobals {
    std::int32_t fpcTest = 0;  // also decides how the masks are written and read
    std::int32_t columns = 0;
    std::int32_t rows = 0;
};

// The head layout a load used, against the one the file asked for.
struct ConfigLayout {
    std::int32_t fileColumns = 0;  // COL and ROW as the file gives them
    std::int32_t fileRows = 0;
    std::int32_t columns = 0;  // what the grid takes: 0..kConfigMaxColumns
    std::int32_t rows = 0;     // 0..kConfigMaxRows
    int pages = 0;             // pages read: 0 .. pages - 1, at most kPageCount

    // The file asked for more than the grid or the page table hold.
    bool Adjusted() const {
        return fileColumns != columns || fileRows != rows || pages < columns * rows;
    }
};

// One Chinese message telling the operator which layout was loaded when the
// file asked for another; empty when the file's layout was used as it is.
std::string LayoutNotice(const ConfigLayout& layout);

// The head of a page as the operator finds it, rows and columns counted
// from 1: "第 2 行第 1 列（页 03）" for page 3 of a layout of 2 columns.
std::string HeadName(int page, std::int32_t columns);

// A value a load read whose text was not a number, or a number beyond what
// its setting holds (NumberText): the load keeps the value as the readers
// have always read it (stations rely on that), and names it to the operator.
struct SuspectValue {
    std::string section;  // as the load looks it up: "PAGE00_THRESHOLDHIGH"
    std::string key;      // "CH03"
    std::string text;     // the value as read, at most kProfileBufferSize - 1 bytes
    std::string readAs;   // the number it was read as: "0", "2147483647", "12.5"

    friend bool operator==(const SuspectValue&, const SuspectValue&) = default;
};
using SuspectValues = std::vector<SuspectValue>;

// At most this many values are named one by one.
inline constexpr std::size_t kSuspectValuesNamed = 10;

// One Chinese sentence naming the first kSuspectValuesNamed values in the
// order given, then how many there are; empty for none:
//   以下设置的文字不是数字或超出范围，已按原来的规则读入：
//   [PAGE00_THRESHOLDHIGH] CH03=nan（读作 0）、…等，共 12 项。
// A text is shown up to its 24th character, bytes below 0x20 and DEL as '?'.
std::string SuspectValuesNotice(const SuspectValues& values);

// The keys a page's settings are read from: 4 offset keys, 32 reference
// values, 32 upper and 32 lower limits, MAX, MIN and 32 masks.
inline constexpr int kPageKeys = 4 + 3 * kChannels + 2 + kChannels;

// Reads a configuration the way the window loads it: first the global
// values, then page after page, so that each page can go to the boards as
// soon as it is read.
//
//     FileError error;
//     auto reader = ConfigReader::Open(path, error);
//     if (!reader) { /* error.Message() */ }
//     grid: SetFpcTest(reader->Globals().fpcTest), SetColumns(...), SetRows(...)
//     for (int p = 0; p < reader->PageCount(); ++p) {
//         pages.EditPage(p, [&](PageRecord& r) { reader->ReadPage(p, r); });
//         write page p to the boards
//     }
//     if (reader->Layout().Adjusted()) { /* LayoutNotice(reader->Layout()) */ }
//
// Every missing or malformed value reads as 0 (a number followed by other
// text as that number, as atoi and atof read it); the values whose text was
// not a number or out of range are named (SuspectValues). COL and ROW are
// kept within 0..10 each, and only pages below kPageCount are read.
class ConfigReader {
public:
    explicit ConfigReader(IniFile file);

    // A file that does not exist reads as empty: no pages, a 0 x 0 grid.
    // Any other failure gives nothing and fills `error`.
    static std::optional<ConfigReader> Open(const std::string& path, FileError& error);

    // fpcTest as the file gives it; columns and rows as the grid takes them.
    const ConfigGlobals& Globals() const { return globals_; }
    // FPCTEST, COL and ROW when their text was not a number or out of range.
    const SuspectValues& GlobalSuspects() const { return globalSuspects_; }
    const ConfigLayout& Layout() const { return layout_; }
    // The file as it was read (IniFile::Serialize gives back the parsed
    // bytes unchanged).
    const IniFile& File() const { return file_; }
    // Pages 0 .. PageCount() - 1 belong to the layout.
    int PageCount() const { return layout_.pages; }
    bool FileMissing() const { return missing_; }

    // Whether the file is a whole configuration, before a load changes
    // anything. Refused, with the reason in the code and `detail`:
    // - kNotConfig: none of the keys a load reads (no FPCTEST, COL or ROW in
    //   [GLOBAL], no key of a page section of pages 0 .. kPageCount - 1);
    //   kLegacyConfig when it holds keys of the older layout instead;
    // - kIncompleteConfig: some of them, but a [GLOBAL] value or a key of a
    //   page of the layout is missing (a cut-off or edited file: a missing
    //   value would otherwise load as 0, and FPCTEST and COL decide how
    //   every page is read and where it goes);
    // - kNoHeads: a layout of no head (COL or ROW 0 or below).
    // Pages beyond the table and columns or rows beyond the grid are not
    // asked for: the load leaves them out and says so (LayoutNotice).
    FileError Check(const std::string& path) const;

    // Fills the settings of `record` (every field but `live`) from the
    // sections of page `page`. Takes no lock. Returns false, and leaves the
    // record alone, for a page outside 0 .. kPageCount - 1. Appends to
    // `suspects`, when given, every value of the page whose text was not a
    // number or out of range, in the order read (missing keys are not
    // named: Check refuses a file that lacks one).
    bool ReadPage(int page, PageRecord& record, SuspectValues* suspects = nullptr) const;

private:
    IniFile file_;
    ConfigGlobals globals_;
    ConfigLayout layout_;
    SuspectValues globalSuspects_;
    bool missing_ = false;
};

// Whether a file holds any of the keys a load reads.
bool HasConfigKeys(const IniFile& file);

// What a save wrote.
struct SaveReport {
    int pages = 0;        // pages written: 0 .. pages - 1
    int layoutHeads = 0;  // columns x rows of the layout saved
};

// Writes the global values and pages 0 .. n - 1 into `file` key by key, where
// n is columns x rows, limited to the pages given. Every other line of the
// file stays. Returns n.
int WriteConfig(IniFile& file, const ConfigGlobals& globals, std::span<const PageRecord> pages);

// Saves a configuration into the file at `path`: the file as it is (when it
// exists), updated key by key by WriteConfig, then written once through
// ReplaceFileContents, so that a failed save leaves the old file whole. An
// existing file that cannot be read is not overwritten.
FileError SaveConfig(const std::string& path, const ConfigGlobals& globals,
                     std::span<const PageRecord> pages, SaveReport* report = nullptr,
                     const FileHooks* hooks = nullptr);

// One Chinese message when a save could not write every head of the layout
// (more heads than the page table holds); empty otherwise.
std::string SaveNotice(const SaveReport& report);

}  // namespace kx

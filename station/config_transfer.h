// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "config/file_access.h"
#include "core/tr_text.h"
#include "grid/grid_model.h"
#include "station/station_core.h"

namespace kx {

// The configuration commands of the main window without the window: a load
// page by page (each page into the page table, then to every connected board
// family), the save of the grid's layout and the page table, and the import
// of the older single-head layout. A file is read and the grid set on the
// user-interface thread; what writes the boards (LoadNextPage,
// WriteLegacyConfig) runs where the station's board operations run (the
// window runs it on the station's board lane), one caller at a time. The
// station's page table is taken under its lock only to copy a page in or
// out, never across a board exchange or a file write.

// --- texts ------------------------------------------------------------------
// The constants are untranslated: show them through TrText("ConfigTransfer",
// ...) (QCoreApplication::translate on the Qt side). The functions return
// translated texts.

// Translated where they are shown (context "ConfigTransfer").
inline constexpr char kLoadFailedText[] = KX_TRANSLATE_NOOP("ConfigTransfer", "载入配置文件失败");
inline constexpr char kSaveFailedText[] = KX_TRANSLATE_NOOP("ConfigTransfer", "保存配置文件失败");
inline constexpr char kLegacyLoadFailedText[] =
    KX_TRANSLATE_NOOP("ConfigTransfer", "载入老版本配置文件失败");
// A load with no board to write to changes nothing.
inline constexpr char kNoBoardForLoadText[] =
    KX_TRANSLATE_NOOP("ConfigTransfer",
                      "没有连接测试板，配置没有载入，界面和测试板上的设置都没有改动。\n"
                      "请插好测试板，等窗口标题显示“设备已经连接”后再载入配置。");
// An import of the older layout with no one-to-one board to write to.
std::string NoRunoffForLegacyText();
// The end of a message about heads or boards that did not take a load.
inline constexpr char kReloadAdviceText[] =
    KX_TRANSLATE_NOOP("ConfigTransfer",
                      "请检查测试板及其 USB 连接（必要时拔下再插上），"
                      "等窗口标题显示“设备已经连接”后重新载入配置。");

// A page's settings from a file into `pages`: `fill` gets a copy of the
// page to change, and the copy replaces the page, except for the live values,
// which stay the ones the worker wrote meanwhile (also while `fill` ran).
void FillPageSettings(PageStore& pages, int page, const std::function<void(PageRecord&)>& fill);

// One sentence naming every family whose board stopped answering while the
// configuration was written to it; empty when every connected board took it.
std::string MissedFamiliesNotice(const SettingsWriteRun& run);

// One sentence naming the heads of `pages` (HeadName, in a layout of
// `columns` columns) that did not get a load's settings and kept their
// old ones; empty for no page.
std::string UnsentHeadsNotice(const std::vector<int>& pages, std::int32_t columns);

// A board of a family a load writes to (any of the station's families) is
// connected.
bool SettingsBoardConnected(const StationCore& station);

// The name a load opens for the name the operator chose: as chosen, unless
// that does not exist and the name completed with ".ini" does.
std::string ExistingConfigFileName(const std::string& chosen);

// --- load -------------------------------------------------------------------

// One configuration load:
//
//     FileError error;
//     auto job = ConfigLoadJob::Open(path, error);
//     if (!job) { /* kLoadFailedText, error.Message() */ }
//     job->ApplyGlobals(grid);
//     while (!job->Done()) {
//         job->LoadNextPage(station);   // the event loop may turn in between
//     }
//     if (const std::string r = job->Report(); !r.empty()) { /* tell the operator */ }
//
// A family whose board missed a reply is written nothing more in the same
// job (one read bound lost, not one per page); the others get every page.
//
// A page that no connected family took (no board connected when its turn
// came, or every connected family had missed a reply) keeps, or gets back,
// the settings it had before: the grid never shows or judges against limits
// no board holds. Such pages are named in the Report. The caller refuses a
// load while no board is connected at all (SettingsBoardConnected).
class ConfigLoadJob {
public:
    // Reads the file. A file that cannot be read, or does not exist, or is
    // not a whole configuration (ConfigReader::Check) gives nothing and
    // fills `error`: nothing has changed then.
    static std::optional<ConfigLoadJob> Open(const std::string& path, FileError& error);

    // The grid takes the file's FPC-test value, columns and rows (columns
    // and rows as far as the grid holds them).
    void ApplyGlobals(GridModel& grid) const;

    int PageCount() const { return reader_.PageCount(); }
    int PagesDone() const { return done_; }
    bool Done() const { return done_ >= PageCount(); }

    // Reads page PagesDone() into the station's page table (its live values
    // kept) and writes it to every connected family in write order
    // (StationCore::WritePageToBoards). A page no family took gets its old
    // settings back; with no family to write to, the page is not touched at
    // all.
    // Does nothing once Done().
    void LoadNextPage(StationCore& station);

    const ConfigLayout& Layout() const { return reader_.Layout(); }
    // The bytes of the file as Open read them, for the records' fingerprint.
    std::string FileBytes() const { return reader_.File().Serialize(); }
    const SettingsWriteRun& Run() const { return run_; }
    // Pages no connected family took, in load order.
    const std::vector<int>& UnsentPages() const { return unsent_; }
    // The values loaded so far whose text was not a number or out of range:
    // the global ones, then those of the pages that went to a board (a page
    // that got its old settings back loaded none of its values).
    const SuspectValues& Suspects() const { return suspects_; }

    // The one message for the operator once the job is done: the layout
    // used when the file asked for more than fits, the values whose text was
    // not a number or out of range (SuspectValuesNotice), the heads that did
    // not get the configuration and why (the board was disconnected, or the
    // families whose board did not answer), and what to do. Empty when
    // there is nothing to say.
    std::string Report() const;
    // The Report says that heads or boards did not take the configuration.
    bool ReportsAFailure() const;

private:
    explicit ConfigLoadJob(ConfigReader reader)
        : reader_(std::move(reader)), suspects_(reader_.GlobalSuspects()) {}

    ConfigReader reader_;
    SuspectValues suspects_;
    SettingsWriteRun run_;
    int done_ = 0;
    std::vector<int> unsent_;
    // A page found no board connected (unplugged during the load).
    bool boardLost_ = false;
};

// --- save -------------------------------------------------------------------

// Saves the grid's FPC-test value, columns and rows and the pages of its
// layout from a copy of `pages` (taken under its lock, released before the
// file is written). A failed save leaves the old file whole.
FileError SaveStationConfig(const std::string& path, const GridModel& grid, const PageStore& pages,
                            SaveReport* report = nullptr, const FileHooks* hooks = nullptr);

// --- import of the older layout ---------------------------------------------

struct LegacyImportResult {
    // The file could not be read, does not exist or is not a whole
    // configuration of the older layout (CheckLegacyConfig): nothing changed.
    FileError error;
    // No one-to-one board is connected: nothing changed.
    bool noRunoff = false;
    // The one-to-one family missed: its board did not take page 0, which got
    // its old settings back.
    SettingsWriteRun run;
};

// The import of a file of the older single-head layout, in two halves, so
// that the file is read on one thread and the board written on another.
// OpenLegacyConfig reads and checks the file (nothing changes; a failure
// fills `error`). WriteLegacyConfig puts it into the station's page 0 (under
// the page table's lock, its live values kept) and writes that to the
// connected one-to-one board. Nothing else changes: no other page, not the
// grid, no other family. Without a one-to-one board (looked for again, as it
// may have gone meanwhile) nothing is changed; a board that does not take
// the page leaves page 0 as it was.
std::optional<IniFile> OpenLegacyConfig(const std::string& path, FileError& error);
LegacyImportResult WriteLegacyConfig(const IniFile& file, StationCore& station);

// The message for the operator after an import; empty when it went through.
std::string LegacyImportNotice(const LegacyImportResult& result);

}  // namespace kx

#include "dialogs/config_transfer.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "config/legacy_config.h"
#include "core/page_table.h"
#include "core/section_lock.h"

namespace kx {

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A page's settings from a file go into the table; the live values the
// worker wrote meanwhile stay.
template <class Fill>
void FillPageSettings(int page, Fill&& fill) {
    PageRecord record;
    {
        CSectionGuard guard(&g_pageLock);
        record = g_pageTable[static_cast<std::size_t>(page)];
    }
    fill(record);
    CSectionGuard guard(&g_pageLock);
    PageRecord& target = g_pageTable[static_cast<std::size_t>(page)];
    record.live = target.live;
    target = record;
}

}  // namespace

std::string MissedFamiliesNotice(const SettingsWriteRun& run) {
    std::string names;
    for (const SettingsFamilyName& family : kSettingsFamilyNames) {
        if (run.*family.missed) {
            names += names.empty() ? "" : "、";
            names += family.name;
        }
    }
    if (names.empty()) {
        return {};
    }
    return "配置已载入，但以下测试板没有应答，设置没有完整写入：" + names +
           "。\n请检查测试板及其 USB 连接，然后重新载入配置。";
}

std::string ExistingConfigFileName(const std::string& chosen) {
    if (Exists(chosen)) {
        return chosen;
    }
    const std::string completed = CompleteIniFileName(chosen);
    return Exists(completed) ? completed : chosen;
}

// --- load -------------------------------------------------------------------

std::optional<ConfigLoadJob> ConfigLoadJob::Open(const std::string& path, FileError& error) {
    std::optional<ConfigReader> reader = ConfigReader::Open(path, error);
    if (!reader) {
        return std::nullopt;
    }
    // A file that vanished between the choice and the read would load as a
    // 0 x 0 layout and leave the station testing nothing.
    if (reader->FileMissing()) {
        error = FileError{};
        error.code = ENOENT;
        error.action = "打开文件";
        error.path = path;
        return std::nullopt;
    }
    // Neither would a file of something else, and a cut-off one would write
    // zeros to the boards.
    error = reader->Check(path);
    if (error) {
        return std::nullopt;
    }
    return ConfigLoadJob(std::move(*reader));
}

void ConfigLoadJob::ApplyGlobals(GridModel& grid) const {
    const ConfigGlobals& g = reader_.Globals();
    grid.SetFpcTest(g.fpcTest);
    grid.SetColumns(g.columns);
    grid.SetRows(g.rows);
}

void ConfigLoadJob::LoadNextPage(StationCore& station) {
    if (Done()) {
        return;
    }
    const int page = done_++;
    FillPageSettings(page, [&](PageRecord& record) { reader_.ReadPage(page, record); });
    station.WritePageToBoards(page, run_);
}

std::string ConfigLoadJob::Report() const {
    const std::string layout = LayoutNotice(reader_.Layout());
    const std::string missed = MissedFamiliesNotice(run_);
    if (layout.empty() || missed.empty()) {
        return layout + missed;
    }
    return layout + "\n\n" + missed;
}

// --- save -------------------------------------------------------------------

FileError SaveStationConfig(const std::string& path, const GridModel& grid, SaveReport* report,
                            const FileHooks* hooks) {
    const ConfigGlobals globals{grid.GetFpcTest(), grid.GetColumns(), grid.GetRows()};
    // 36 KB: on the heap rather than the user-interface thread's stack.
    auto pages = std::make_unique<PageTable>();
    {
        CSectionGuard guard(&g_pageLock);
        *pages = g_pageTable;
    }
    return SaveConfig(path, globals, *pages, report, hooks);
}

// --- import of the older layout ---------------------------------------------

LegacyImportResult ImportLegacyConfig(const std::string& path, StationCore& station) {
    LegacyImportResult result;
    IniFile file;
    bool missing = false;
    result.error = ReadIniFile(path, file, &missing);
    if (result.error) {
        return result;
    }
    if (missing) {
        result.error.code = ENOENT;
        result.error.action = "打开文件";
        result.error.path = path;
        return result;
    }
    result.error = CheckLegacyConfig(file, path);
    if (result.error) {
        return result;
    }
    FillPageSettings(0, [&](PageRecord& record) { ReadLegacyPage(file, record); });
    if (station.m_noRunoff == 0 && !station.WriteRunoffSettings()) {
        result.run.runoffMissed = true;
    }
    return result;
}

}  // namespace kx

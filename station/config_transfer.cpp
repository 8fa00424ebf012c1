// SPDX-License-Identifier: MIT
#include "station/config_transfer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "config/legacy_config.h"
#include "core/page_table.h"
#include "core/section_lock.h"
#include "core/tr_text.h"
#include "station/family_table.h"

namespace kx {

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

void FillPageSettings(PageStore& pages, int page, const std::function<void(PageRecord&)>& fill) {
    PageRecord record = pages.Copy(page);
    fill(record);
    pages.EditPage(page, [&](PageRecord& target) {
        record.live = target.live;
        target = record;
    });
}

namespace {

// Puts a page's settings back as they were, keeping the live values the
// worker wrote since.
void RestorePageSettings(PageStore& pages, int page, PageRecord settings) {
    pages.EditPage(page, [&](PageRecord& target) {
        settings.live = target.live;
        target = settings;
    });
}

// The families a load writes to whose board is connected now.
std::vector<FamilyId> ConnectedFamilies(const StationCore& station) {
    std::vector<FamilyId> connected;
    for (const BoardFamily* family : station.Families()) {
        if (family->Present()) {
            connected.push_back(family->Id());
        }
    }
    return connected;
}

// At most this many heads are named one by one.
constexpr std::size_t kHeadsNamed = 8;

}  // namespace

std::string MissedFamiliesNotice(const SettingsWriteRun& run) {
    std::string names;
    for (const std::string& name : run.MissedNames()) {
        names += names.empty() ? std::string() : TrText("ConfigTransfer", "、");
        names += ShownFamilyName(name);
    }
    if (names.empty()) {
        return {};
    }
    return FormatText(TrText("ConfigTransfer", "以下测试板没有应答，载入的设置没有完整写入：%1。"),
                      {names});
}

std::string UnsentHeadsNotice(const std::vector<int>& pages, std::int32_t columns) {
    if (pages.empty()) {
        return {};
    }
    std::string heads;
    for (std::size_t i = 0; i < pages.size() && i < kHeadsNamed; ++i) {
        heads +=
            (i == 0 ? std::string() : TrText("ConfigTransfer", "、")) + HeadName(pages[i], columns);
    }
    if (pages.size() > kHeadsNamed) {
        return FormatText(TrText("ConfigTransfer",
                                 "以下测试头没有收到载入的设置：%1等，共 %2 个测试头。"
                                 "这些测试头保留载入前的设置，界面仍按载入前的设置显示和判定。"),
                          {heads, std::to_string(pages.size())});
    }
    return FormatText(TrText("ConfigTransfer",
                             "以下测试头没有收到载入的设置：%1。这些测试头保留载入前的设置，"
                             "界面仍按载入前的设置显示和判定。"),
                      {heads});
}

bool SettingsBoardConnected(const StationCore& station) {
    return !ConnectedFamilies(station).empty();
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
        error.action = KX_TRANSLATE_NOOP("FileAccess", "打开文件");
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
    // A family takes the page when it is connected and has not missed a
    // reply, before and during this page's write.
    const std::vector<FamilyId> connected = ConnectedFamilies(station);
    const auto taken = [&] {
        return std::any_of(connected.begin(), connected.end(),
                           [&](FamilyId id) { return !run_.Missed(id); });
    };
    if (!taken()) {
        // Nobody to write to: the page stays as it is.
        boardLost_ = boardLost_ || !SettingsBoardConnected(station);
        unsent_.push_back(page);
        return;
    }
    PageStore& pages = station.Pages();
    const PageRecord before = pages.Copy(page);
    SuspectValues suspects;
    FillPageSettings(pages, page,
                     [&](PageRecord& record) { reader_.ReadPage(page, record, &suspects); });
    station.WritePageToBoards(page, run_);
    if (!taken()) {
        RestorePageSettings(pages, page, before);
        unsent_.push_back(page);
        return;
    }
    suspects_.insert(suspects_.end(), suspects.begin(), suspects.end());
}

bool ConfigLoadJob::ReportsAFailure() const {
    return !unsent_.empty() || !MissedFamiliesNotice(run_).empty();
}

std::string ConfigLoadJob::Report() const {
    // Appended piece by piece: a literal joined to a returned string
    // ("\n" + TrText(...)) trips g++ 12's -Wrestrict at -O3, which stops the
    // Release build.
    std::string failure = UnsentHeadsNotice(unsent_, reader_.Layout().columns);
    const auto addLine = [&failure](const std::string& line) {
        if (!failure.empty()) {
            failure += '\n';
        }
        failure += line;
    };
    if (boardLost_) {
        addLine(TrText("ConfigTransfer", "载入过程中测试板断开了连接。"));
    }
    if (const std::string missed = MissedFamiliesNotice(run_); !missed.empty()) {
        addLine(missed);
    }
    if (!failure.empty()) {
        addLine(TrText("ConfigTransfer", kReloadAdviceText));
    }
    std::string report;
    for (const std::string& part :
         {LayoutNotice(reader_.Layout()), SuspectValuesNotice(suspects_), failure}) {
        if (!part.empty()) {
            report += (report.empty() ? "" : "\n\n") + part;
        }
    }
    return report;
}

// --- save -------------------------------------------------------------------

FileError SaveStationConfig(const std::string& path, const GridModel& grid, const PageStore& pages,
                            SaveReport* report, const FileHooks* hooks) {
    const ConfigGlobals globals{grid.GetFpcTest(), grid.GetColumns(), grid.GetRows()};
    // 36 KB: on the heap rather than the user-interface thread's stack.
    auto table = std::make_unique<PageTable>();
    pages.CopyAll(*table);
    return SaveConfig(path, globals, *table, report, hooks);
}

// --- import of the older layout ---------------------------------------------

std::optional<IniFile> OpenLegacyConfig(const std::string& path, FileError& error) {
    IniFile file;
    bool missing = false;
    error = ReadIniFile(path, file, &missing);
    if (error) {
        return std::nullopt;
    }
    if (missing) {
        error = FileError{};
        error.code = ENOENT;
        error.action = KX_TRANSLATE_NOOP("FileAccess", "打开文件");
        error.path = path;
        return std::nullopt;
    }
    error = CheckLegacyConfig(file, path);
    if (error) {
        return std::nullopt;
    }
    return file;
}

LegacyImportResult WriteLegacyConfig(const IniFile& file, StationCore& station) {
    LegacyImportResult result;
    RunoffFamily* runoff = station.Find<RunoffFamily>();
    if (runoff == nullptr || !runoff->Present()) {
        result.noRunoff = true;
        return result;
    }
    PageStore& pages = station.Pages();
    const PageRecord before = pages.Copy(0);
    FillPageSettings(pages, 0, [&](PageRecord& record) { ReadLegacyPage(file, record); });
    if (!runoff->WriteSettings()) {
        result.run.NoteMissed(FamilyId::OneToOne);
        RestorePageSettings(pages, 0, before);
    }
    return result;
}

std::string NoRunoffForLegacyText() {
    return FormatText(TrText("ConfigTransfer",
                             "没有连接%1，老版本配置只能写入%1，没有载入，"
                             "界面和测试板上的设置都没有改动。\n"
                             "请插好%1，等窗口标题显示“设备已经连接”后再载入。"),
                      {ShownFamilyName(RunoffFamily::kName)});
}

std::string LegacyImportNotice(const LegacyImportResult& result) {
    if (result.noRunoff) {
        return NoRunoffForLegacyText();
    }
    if (!result.run.Missed(FamilyId::OneToOne)) {
        return {};
    }
    return UnsentHeadsNotice({0}, 1) + "\n" + MissedFamiliesNotice(result.run) + "\n" +
           kReloadAdviceText;
}

}  // namespace kx

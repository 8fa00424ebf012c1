// SPDX-License-Identifier: MIT
#include "station/baseline_store.h"

#include <algorithm>
#include <optional>

#include "core/tr_text.h"
#include "station/family_table.h"

namespace kx {

BaselineTarget FindBaselineTarget(const StationCore& station, const GridModel& grid) {
    BaselineTarget target;
    const std::vector<BoardFamily*>& families = station.Families();
    if (std::none_of(families.begin(), families.end(),
                     [](const BoardFamily* f) { return f->Present(); })) {
        target.kind = BaselineTarget::Kind::NoBoard;
        return target;
    }
    const std::int32_t columns = grid.GetColumns();
    const std::int32_t rows = grid.GetRows();
    target.row = grid.GetHitRow();
    target.column = grid.GetHitColumn();
    if (columns <= 0 || rows <= 0) {
        target.kind = BaselineTarget::Kind::NoHead;
        return target;
    }
    target.page = target.row * columns + target.column;
    const std::optional<std::int32_t> page = BaselinePageOf(target.row, target.column, columns);
    target.kind = page ? BaselineTarget::Kind::Page : BaselineTarget::Kind::OutsideTable;
    return target;
}

BaselineWriteReport StoreBaselineAndWrite(const BaselineResult& result, StationCore& station) {
    BaselineWriteReport report;
    const std::int32_t page = result.edit.selectedPage;
    if (page < 0 || page >= kPageCount) {
        report.outsideTable = true;
        return report;
    }
    bool any = false;
    for (BoardFamily* family : station.Families()) {
        if (!family->Present()) {
            continue;
        }
        any = true;
        StoreBaselineResult(result, family->Id(), station.Pages());
        if (family->WriteEditedPage(page)) {
            report.written.push_back(family->Id());
        } else {
            report.notAnswered.push_back(family->Id());
        }
    }
    if (!any) {
        // The board went away while the dialog was open.
        return StoreBaselineWithoutBoards(result, station);
    }
    return report;
}

BaselineWriteReport StoreBaselineWithoutBoards(const BaselineResult& result, StationCore& station) {
    BaselineWriteReport report;
    if (result.edit.selectedPage < 0 || result.edit.selectedPage >= kPageCount) {
        report.outsideTable = true;
        return report;
    }
    // The operator's edits stay in the page (a configuration save keeps
    // them); the two offset-type rules agree while exactly one box is ticked.
    StoreBaselineResult(result, FamilyId::OneToOne, station.Pages());
    report.noBoard = true;
    return report;
}

std::string BaselineOutsideTableMessage(const BaselineTarget& target) {
    if (target.kind != BaselineTarget::Kind::OutsideTable) {
        return {};
    }
    return FormatText(TrText("BaselineStore",
                             "只有前 %1 个测试头可以设置基准和上下限，第 %2 行第 %3 列的测试头"
                             "（第 %4 个）不能设置。"),
                      {std::to_string(kPageCount), std::to_string(target.row + 1),
                       std::to_string(target.column + 1), std::to_string(target.page + 1)});
}

std::string BaselineWriteMessage(const BaselineWriteReport& report) {
    // A board plugged in again has its own settings read into the page
    // table, so the way to keep the edits is through a configuration file.
    if (report.noBoard) {
        return TrText("BaselineStore",
                      "测试板已经断开，新的测试设置没有写入测试板，只保留在程序中。\n"
                      "请先保存配置文件，插上测试板后再载入这个配置文件"
                      "（插上后会读出测试板中原来的设置）。");
    }
    if (report.notAnswered.empty()) {
        return {};
    }
    // The boards one per line, indented.
    std::string boards;
    for (FamilyId family : report.notAnswered) {
        boards += "    ";
        boards += ShownFamilyName(FamilyName(family));
        boards += "\n";
    }
    return FormatText(TrText("BaselineStore",
                             "下列测试板没有应答，新的测试设置可能没有写入：\n"
                             "%1"
                             "界面上显示的是新的设置，测试板中可能仍是原来的设置。\n"
                             "请检查 USB 线和测试板。如果要拔下测试板重新插上，请先保存配置文件"
                             "（重新插上后会读出测试板中原来的设置），插好后再载入这个配置文件。"),
                      {boards});
}

}  // namespace kx

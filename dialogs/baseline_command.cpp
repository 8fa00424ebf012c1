// SPDX-License-Identifier: MIT
#include "dialogs/baseline_command.h"

#include <QString>
#include <QWidget>
#include <atomic>
#include <string>

#include "core/page_table.h"
#include "dialogs/baseline_dlg.h"
#include "grid/color_bar.h"
#include "station/station_core.h"
#include "ui/board_job.h"
#include "ui/message_box.h"

namespace kx {

CBaselineCommand::CBaselineCommand(StationCore& station, GridModel& grid, QWidget* owner)
    : QObject(owner), station_(station), grid_(grid), owner_(owner) {}

CBaselineCommand::~CBaselineCommand() {
    // A store-back that runs ends first (its writes are bounded); one that
    // waits for the lane is dropped, and neither reaches this command again.
    delete job_;
    job_ = nullptr;
    // A dialog still open belongs to the owner; it must not call back into
    // a command that is gone.
    if (current_) {
        current_->disconnect(this);
    }
}

CBaseLineDlg* CBaselineCommand::CurrentDialog() const {
    return current_;
}

void CBaselineCommand::OnGridClicked() {
    if (current_) {
        current_->raise();
        current_->activateWindow();
        return;
    }
    const BaselineTarget target = FindBaselineTarget(station_, grid_);
    switch (target.kind) {
        case BaselineTarget::Kind::NoBoard:
        case BaselineTarget::Kind::NoHead:
            return;
        case BaselineTarget::Kind::OutsideTable:
            ShowMessage(owner_, QString::fromStdString(BaselineOutsideTableMessage(target)),
                        QString(), QMessageBox::Warning);
            return;
        case BaselineTarget::Kind::Page:
            break;
    }
    // The store-back of an earlier OK, or any other board work of the
    // station (a connection may be reading this very page): the dialog
    // would show a page in flux and its OK could not be written now.
    if (job_ != nullptr || station_.Lane().Busy()) {
        ShowBoardBusy(owner_);
        return;
    }

    PageStore& pages = station_.Pages();
    const BaselineExchange exchange =
        BaselineExchangeFromPage(target.page, pages.Copy(target.page));
    auto* dlg = new CBaseLineDlg(pages, exchange, owner_);
    current_ = dlg;
    connect(dlg, &QDialog::finished, this, [this, dlg](int result) { Finish(dlg, result); });
    dlg->open();
    emit dialogOpened(dlg);
}

void CBaselineCommand::Finish(CBaseLineDlg* dialog, int result) {
    current_ = nullptr;
    const bool accepted = result == QDialog::Accepted;
    const BaselineResult edited = dialog->Result();
    dialog->deleteLater();
    if (!accepted) {
        emit finished(false);
        return;
    }
    StoreBack(edited);
}

void CBaselineCommand::StoreBack(const BaselineResult& edited) {
    // Queued rather than refused: the lane was idle when the dialog opened,
    // and a job it took meanwhile (a hot-plug connection) must not cost the
    // operator's OK. With the lane idle the store-back starts at once.
    auto* job = new BoardJob(owner_.data(), &station_.Lane());
    job->setParent(this);
    StationCore* station = &station_;
    const bool queued = job->Queue<BaselineWriteReport>(
        tr("正在写入设备…"),
        [station, edited](const std::atomic<bool>&) {
            // The cancel flag (the station closing) is not looked at: the
            // writes are bounded, each family's stopping at its first missed
            // reply, and the edits reach every board that takes them.
            return StoreBaselineAndWrite(edited, *station);
        },
        [this, job](BaselineWriteReport report) {
            job->deleteLater();
            job_ = nullptr;
            Report(report);
        });
    if (!queued) {
        // The station has closed its lane (the window is closing): no board
        // is written, the edits stay in the page and the operator is told.
        delete job;
        Report(StoreBaselineWithoutBoards(edited, station_));
        return;
    }
    job_ = job;
}

void CBaselineCommand::Report(const BaselineWriteReport& report) {
    lastReport_ = report;
    const std::string text = BaselineWriteMessage(lastReport_);
    if (!text.empty()) {
        ShowMessage(owner_, QString::fromStdString(text), QString(), QMessageBox::Warning);
    }
    emit finished(true);
}

CBaselineCommand* InstallBaselineCommand(CColorBar& grid, StationCore& station, QWidget* owner) {
    auto* command = new CBaselineCommand(station, grid.model(), owner);
    QObject::connect(&grid, &CColorBar::clicked, command, &CBaselineCommand::OnGridClicked);
    return command;
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "dialogs/baseline_command.h"

#include <QString>
#include <QWidget>

#include "core/page_table.h"
#include "dialogs/baseline_dlg.h"
#include "grid/color_bar.h"
#include "station/station_core.h"
#include "ui/message_box.h"
#include "ui/wait_cursor.h"

namespace kx {

CBaselineCommand::CBaselineCommand(StationCore& station, GridModel& grid, QWidget* owner)
    : QObject(owner), station_(station), grid_(grid), owner_(owner) {}

CBaselineCommand::~CBaselineCommand() {
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
    // Taken before anything can run the event loop (the message box below).
    const BaselineResult edited = dialog->Result();
    dialog->deleteLater();
    if (accepted) {
        {
            WaitCursor wait;
            lastReport_ = StoreBaselineAndWrite(edited, station_);
        }
        const std::string text = BaselineWriteMessage(lastReport_);
        if (!text.empty()) {
            ShowMessage(owner_, QString::fromStdString(text), QString(), QMessageBox::Warning);
        }
    }
    emit finished(accepted);
}

CBaselineCommand* InstallBaselineCommand(CColorBar& grid, StationCore& station, QWidget* owner) {
    auto* command = new CBaselineCommand(station, grid.model(), owner);
    QObject::connect(&grid, &CColorBar::clicked, command, &CBaselineCommand::OnGridClicked);
    return command;
}

}  // namespace kx

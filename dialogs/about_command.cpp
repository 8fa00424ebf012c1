// SPDX-License-Identifier: MIT
#include "dialogs/about_command.h"

#include <QDialog>
#include <QWidget>
#include <initializer_list>
#include <vector>

#include "dialogs/about_dlg.h"
#include "dialogs/about_dlg_velmora5.h"
#include "dialogs/about_dlg_velmora5_hid.h"
#include "grid/grid_model.h"
#include "hid/classic_tester.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "station/board_jobs.h"
#include "station/device_info.h"
#include "station/family_classic.h"
#include "station/family_master.h"
#include "station/family_runoff.h"
#include "station/family_table.h"
#include "station/family_velmora5.h"
#include "station/station_core.h"
#include "ui/board_job.h"
#include "ui/message_box.h"

namespace kx {

namespace {

bool Flag(const std::function<bool(FamilyId)>& present, FamilyId family) {
    return present && present(family);
}

}  // namespace

AboutStation AboutStationOf(StationCore& station, GridModel& grid) {
    AboutStation about;
    StationCore* core = &station;
    GridModel* model = &grid;
    about.lane = &core->Lane();
    about.present = [core](FamilyId family) { return core->Present(family); };
    RunoffFamily* runoff = core->Find<RunoffFamily>();
    Velmora5Family* velmora5 = core->Find<Velmora5Family>();
    MasterFamily* master = core->Find<MasterFamily>();
    ClassicFamily* classic = core->Find<ClassicFamily>();
    if (runoff != nullptr) {
        about.oemName = [runoff] { return runoff->OemName(); };
        about.runoff = &runoff->Board();
    }
    about.velmora5 = velmora5 != nullptr ? &velmora5->Board() : nullptr;
    about.master = master != nullptr ? &master->Board() : nullptr;
    about.classic = classic != nullptr ? &classic->Board() : nullptr;
    about.gridRows = [model] { return model->GetRows(); };
    about.gridColumns = [model] { return model->GetColumns(); };
    about.setGridRows = [model](std::int32_t rows) { model->SetRows(rows); };
    about.setGridColumns = [model](std::int32_t columns) { model->SetColumns(columns); };
    about.clearEmergencyStop = [core] { core->ClearEmergencyStop(); };
    if (master != nullptr) {
        about.readMasterSettings = [master, model] {
            model->ForgetData();
            master->ReadSettings();
        };
    }
    return about;
}

CAboutCommand::CAboutCommand(StationCore& station, GridModel& grid, QWidget* owner)
    : CAboutCommand(AboutStationOf(station, grid), owner) {}

CAboutCommand::CAboutCommand(AboutStation station, QWidget* owner)
    : QObject(owner),
      station_(std::move(station)),
      owner_(owner),
      job_(new BoardJob(owner, station_.lane)) {
    // The job lives as long as the command: deleting it waits for a running
    // job and drops its completion, which would call into the command.
    job_->setParent(this);
}

CAboutCommand::~CAboutCommand() {
    // A running read or write ends before the command goes; its completion
    // is dropped with the job. The command goes with its window: a board
    // that fell silent would hold the window's end for every remaining
    // read's bound, so the waits of the boards the job uses are cut short
    // meanwhile (those the station had not cut already are let go again
    // after).
    std::vector<hiddata*> cut;
    if (JobRunning()) {
        for (hiddata* board :
             std::initializer_list<hiddata*>{station_.runoff, station_.velmora5, station_.master}) {
            if (board != nullptr && !board->waits_cancelled()) {
                board->cancel_waits();
                cut.push_back(board);
            }
        }
    }
    delete job_;
    job_ = nullptr;
    for (hiddata* board : cut) {
        board->resume_waits();
    }
    // A dialog still open belongs to the owner; it must not call back into
    // a command that is gone.
    if (current_) {
        current_->disconnect(this);
    }
}

bool CAboutCommand::JobRunning() const {
    return job_ != nullptr && job_->Busy();
}

QString CAboutCommand::JobStatus() const {
    return job_ != nullptr ? job_->Status() : QString();
}

bool CAboutCommand::RefuseWhileBusy() {
    if (current_) {
        current_->raise();
        current_->activateWindow();
        return true;
    }
    // Its own job, or any other command's on the station's lane.
    if (JobRunning() || (station_.lane != nullptr && station_.lane->Busy())) {
        ShowBoardBusy(owner_);
        return true;
    }
    return false;
}

void CAboutCommand::OnAbout() {
    if (RefuseWhileBusy()) {
        return;
    }
    Continue(0);
}

void CAboutCommand::ShowEmptyAbout() {
    if (RefuseWhileBusy()) {
        return;
    }
    auto* dlg = new CAboutDlg(owner_);
    current_ = dlg;
    connect(dlg, &QDialog::finished, this, [this, dlg] {
        current_ = nullptr;
        dlg->deleteLater();
        emit finished();
    });
    dlg->open();
    emit dialogOpened(dlg);
}

void CAboutCommand::Continue(std::size_t next) {
    const FamilyTable& families = StandardFamilyTable();
    for (std::size_t row = next; row < families.size(); ++row) {
        if (OpenFor(families[row].id, row)) {
            return;
        }
    }
    emit finished();
}

bool CAboutCommand::OpenFor(FamilyId family, std::size_t row) {
    const QString reading = tr("正在读取设备信息…");
    bool started = false;
    switch (family) {
        case FamilyId::OneToOne: {
            if (!Flag(station_.present, FamilyId::OneToOne) || station_.runoff == nullptr) {
                return false;
            }
            const std::string oem = station_.oemName ? station_.oemName() : std::string();
            hiddata_simple_runoff* board = station_.runoff;
            started = job_->Run<AboutInfo>(
                reading,
                [board, oem](const std::atomic<bool>&) { return ReadRunoffAbout(*board, oem); },
                [this, row](AboutInfo info) {
                    auto* dlg = new CAboutDlg(owner_);
                    dlg->Fill(info);
                    dlg->setProperty("sendsOffline", info.sendsOffline);
                    Show(dlg, row);
                });
            break;
        }
        case FamilyId::Velmora5: {
            if (!Flag(station_.present, FamilyId::Velmora5) || station_.velmora5 == nullptr) {
                return false;
            }
            hiddata_velmora5* board = station_.velmora5;
            started = job_->Run<Velmora5About>(
                reading, [board](const std::atomic<bool>&) { return ReadVelmora5About(*board); },
                [this, row](Velmora5About about) {
                    auto* dlg = new CAboutDlgVelmora5(owner_);
                    dlg->Fill(about);
                    Show(dlg, row);
                });
            break;
        }
        case FamilyId::Master: {
            if (!Flag(station_.present, FamilyId::Master) || station_.master == nullptr) {
                return false;
            }
            const std::int32_t rows = station_.gridRows ? station_.gridRows() : 0;
            const std::int32_t columns = station_.gridColumns ? station_.gridColumns() : 0;
            hiddata_masterHID* board = station_.master;
            started = job_->Run<MasterAbout>(
                reading,
                [board, rows, columns](const std::atomic<bool>&) {
                    return ReadMasterAbout(*board, rows, columns);
                },
                [this, row](MasterAbout about) {
                    auto* dlg = new CAboutDlgVelmora5HID(station_.clearEmergencyStop, owner_);
                    dlg->Fill(about);
                    Show(dlg, row);
                });
            break;
        }
        case FamilyId::Classic: {
            if (!Flag(station_.present, FamilyId::Classic) || station_.classic == nullptr) {
                return false;
            }
            auto* dlg = new CAboutDlg(owner_);
            dlg->Fill(ClassicAbout(station_.classic->fields()));
            Show(dlg, row);
            return true;
        }
        case FamilyId::None:
            return false;
    }
    if (!started) {
        // Only when another job of this command runs, which the callers rule
        // out; the command then ends rather than leave the operator waiting.
        emit finished();
    }
    return true;
}

void CAboutCommand::Show(QDialog* dialog, std::size_t row) {
    current_ = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog, row](int result) {
        current_ = nullptr;
        dialog->deleteLater();
        if (result == QDialog::Accepted) {
            Apply(dialog, row);
        } else {
            Continue(row + 1);
        }
    });
    dialog->open();
    emit dialogOpened(dialog);
}

void CAboutCommand::Apply(QDialog* dialog, std::size_t row) {
    // What the dialog holds is taken now: it is deleted while the writes run.
    switch (StandardFamilyTable()[row].id) {
        case FamilyId::OneToOne: {
            auto* dlg = static_cast<CAboutDlg*>(dialog);
            if (dlg->property("sendsOffline").toBool()) {
                hiddata_simple_runoff* board = station_.runoff;
                const int offline = dlg->m_offlineDisplay;
                Write([board, offline] { return WriteOfflineDisplay(*board, offline); },
                      tr("脱机显示方式未能写入设备，请检查设备连接后重试。"), row);
                return;
            }
            break;
        }
        case FamilyId::Velmora5: {
            auto* dlg = static_cast<CAboutDlgVelmora5*>(dialog);
            if (dlg->LayoutKnown()) {
                hiddata_velmora5* board = station_.velmora5;
                const Velmora5LayoutRecord layout = dlg->Layout();
                Write([board, layout] { return WriteVelmora5Layout(*board, layout); },
                      tr("行列设置未能写入设备，请检查设备连接后重试。"), row);
                return;
            }
            break;
        }
        case FamilyId::Master: {
            auto* dlg = static_cast<CAboutDlgVelmora5HID*>(dialog);
            const MasterLayout layout = dlg->Layout();
            if (station_.setGridColumns) {
                station_.setGridColumns(layout.columns);
            }
            if (station_.setGridRows) {
                station_.setGridRows(layout.rows);
            }
            hiddata_masterHID* board = station_.master;
            Write(
                [board, layout, readSettings = station_.readMasterSettings] {
                    const bool ok = WriteMasterLayout(*board, layout);
                    if (readSettings) {
                        readSettings();
                    }
                    return ok;
                },
                tr("%1设置未能全部写入设备，请检查设备连接后重试。")
                    .arg(QString::fromStdString(ShownFamilyName(FamilyName(FamilyId::Master)))),
                row);
            return;
        }
        case FamilyId::Classic:
        case FamilyId::None:
            break;
    }
    Continue(row + 1);
}

void CAboutCommand::Write(std::function<bool()> work, QString failure, std::size_t row) {
    const bool started = job_->Run<bool>(
        tr("正在写入设备…"), [work = std::move(work)](const std::atomic<bool>&) { return work(); },
        [this, failure, row](bool ok) {
            if (!ok) {
                Warn(failure);
            }
            Continue(row + 1);
        });
    if (!started) {
        emit finished();
    }
}

void CAboutCommand::Warn(const QString& text) {
    ShowMessage(owner_, text, QString(), QMessageBox::Warning);
}

}  // namespace kx

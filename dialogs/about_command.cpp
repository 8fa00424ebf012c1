// SPDX-License-Identifier: MIT
#include "dialogs/about_command.h"

#include <QDialog>
#include <QWidget>

#include "dialogs/about_dlg.h"
#include "dialogs/about_dlg_velmora5.h"
#include "dialogs/about_dlg_velmora5_hid.h"
#include "grid/grid_model.h"
#include "hid/classic_tester.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "station/device_info.h"
#include "station/family_classic.h"
#include "station/family_master.h"
#include "station/family_runoff.h"
#include "station/family_table.h"
#include "station/family_velmora5.h"
#include "station/station_core.h"
#include "ui/message_box.h"
#include "ui/wait_cursor.h"

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
    : QObject(owner), station_(std::move(station)), owner_(owner) {}

CAboutCommand::~CAboutCommand() {
    // A dialog still open belongs to the owner; it must not call back into
    // a command that is gone.
    if (current_) {
        current_->disconnect(this);
    }
}

void CAboutCommand::OnAbout() {
    if (current_) {
        current_->raise();
        current_->activateWindow();
        return;
    }
    Continue(0);
}

void CAboutCommand::ShowEmptyAbout() {
    if (current_) {
        current_->raise();
        current_->activateWindow();
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
        if (QDialog* dlg = OpenFor(families[row].id)) {
            Show(dlg, row);
            return;
        }
    }
    emit finished();
}

QDialog* CAboutCommand::OpenFor(FamilyId family) {
    switch (family) {
        case FamilyId::OneToOne: {
            if (!Flag(station_.present, FamilyId::OneToOne) || station_.runoff == nullptr) {
                return nullptr;
            }
            const std::string oem = station_.oemName ? station_.oemName() : std::string();
            AboutInfo info;
            {
                WaitCursor wait;
                info = ReadRunoffAbout(*station_.runoff, oem);
            }
            auto* dlg = new CAboutDlg(owner_);
            dlg->Fill(info);
            dlg->setProperty("sendsOffline", info.sendsOffline);
            return dlg;
        }
        case FamilyId::Velmora5: {
            if (!Flag(station_.present, FamilyId::Velmora5) || station_.velmora5 == nullptr) {
                return nullptr;
            }
            Velmora5About about;
            {
                WaitCursor wait;
                about = ReadVelmora5About(*station_.velmora5);
            }
            auto* dlg = new CAboutDlgVelmora5(owner_);
            dlg->Fill(about);
            return dlg;
        }
        case FamilyId::Master: {
            if (!Flag(station_.present, FamilyId::Master) || station_.master == nullptr) {
                return nullptr;
            }
            const std::int32_t rows = station_.gridRows ? station_.gridRows() : 0;
            const std::int32_t columns = station_.gridColumns ? station_.gridColumns() : 0;
            MasterAbout about;
            {
                WaitCursor wait;
                about = ReadMasterAbout(*station_.master, rows, columns);
            }
            auto* dlg = new CAboutDlgVelmora5HID(station_.clearEmergencyStop, owner_);
            dlg->Fill(about);
            return dlg;
        }
        case FamilyId::Classic: {
            if (!Flag(station_.present, FamilyId::Classic) || station_.classic == nullptr) {
                return nullptr;
            }
            auto* dlg = new CAboutDlg(owner_);
            dlg->Fill(ClassicAbout(station_.classic->fields()));
            return dlg;
        }
        case FamilyId::None:
            break;
    }
    return nullptr;
}

void CAboutCommand::Show(QDialog* dialog, std::size_t row) {
    current_ = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog, row](int result) {
        current_ = nullptr;
        if (result == QDialog::Accepted) {
            Apply(StandardFamilyTable()[row].id, dialog);
        }
        dialog->deleteLater();
        Continue(row + 1);
    });
    dialog->open();
    emit dialogOpened(dialog);
}

void CAboutCommand::Apply(FamilyId family, QDialog* dialog) {
    switch (family) {
        case FamilyId::OneToOne: {
            auto* dlg = static_cast<CAboutDlg*>(dialog);
            if (dlg->property("sendsOffline").toBool() &&
                !WriteOfflineDisplay(*station_.runoff, dlg->m_offlineDisplay)) {
                Warn(QStringLiteral("脱机显示方式未能写入设备，请检查设备连接后重试。"));
            }
            break;
        }
        case FamilyId::Velmora5: {
            auto* dlg = static_cast<CAboutDlgVelmora5*>(dialog);
            if (dlg->LayoutKnown() && !WriteVelmora5Layout(*station_.velmora5, dlg->Layout())) {
                Warn(QStringLiteral("行列设置未能写入设备，请检查设备连接后重试。"));
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
            bool ok = false;
            {
                WaitCursor wait;
                ok = WriteMasterLayout(*station_.master, layout);
                if (station_.readMasterSettings) {
                    station_.readMasterSettings();
                }
            }
            if (!ok) {
                Warn(QString::fromUtf8(FamilyName(FamilyId::Master)) +
                     QStringLiteral("设置未能全部写入设备，请检查设备连接后重试。"));
            }
            break;
        }
        case FamilyId::Classic:
        case FamilyId::None:
            break;
    }
}

void CAboutCommand::Warn(const QString& text) {
    ShowMessage(owner_, text, QString(), QMessageBox::Warning);
}

}  // namespace kx

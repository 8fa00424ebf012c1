#include "dialogs/about_command.h"

#include <QDialog>
#include <QWidget>

#include "dialogs/about_dlg.h"
#include "dialogs/about_dlg_velmora5.h"
#include "dialogs/about_dlg_velmora5_hid.h"
#include "hid/classic_tester.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "station/device_info.h"
#include "ui/message_box.h"
#include "ui/wait_cursor.h"

namespace kx {

namespace {

bool Flag(const std::function<bool()>& present) {
    return present && present();
}

}  // namespace

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
    Continue(Step::Runoff);
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

void CAboutCommand::Continue(Step step) {
    for (; step != Step::Done; step = static_cast<Step>(static_cast<int>(step) + 1)) {
        if (QDialog* dlg = OpenFor(step)) {
            Show(dlg, step);
            return;
        }
    }
    emit finished();
}

QDialog* CAboutCommand::OpenFor(Step step) {
    switch (step) {
        case Step::Runoff: {
            if (!Flag(station_.runoffPresent) || station_.runoff == nullptr) {
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
        case Step::Velmora5: {
            if (!Flag(station_.velmora5Present) || station_.velmora5 == nullptr) {
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
        case Step::Master: {
            if (!Flag(station_.masterPresent) || station_.master == nullptr) {
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
        case Step::Classic: {
            if (!Flag(station_.classicPresent) || station_.classic == nullptr) {
                return nullptr;
            }
            auto* dlg = new CAboutDlg(owner_);
            dlg->Fill(ClassicAbout(station_.classic->fields()));
            return dlg;
        }
        case Step::Done:
            break;
    }
    return nullptr;
}

void CAboutCommand::Show(QDialog* dialog, Step step) {
    current_ = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog, step](int result) {
        current_ = nullptr;
        if (result == QDialog::Accepted) {
            Apply(step, dialog);
        }
        dialog->deleteLater();
        Continue(static_cast<Step>(static_cast<int>(step) + 1));
    });
    dialog->open();
    emit dialogOpened(dialog);
}

void CAboutCommand::Apply(Step step, QDialog* dialog) {
    switch (step) {
        case Step::Runoff: {
            auto* dlg = static_cast<CAboutDlg*>(dialog);
            if (dlg->property("sendsOffline").toBool() &&
                !WriteOfflineDisplay(*station_.runoff, dlg->m_offlineDisplay)) {
                Warn(QStringLiteral("脱机显示方式未能写入设备，请检查设备连接后重试。"));
            }
            break;
        }
        case Step::Velmora5: {
            auto* dlg = static_cast<CAboutDlgVelmora5*>(dialog);
            if (dlg->LayoutKnown() && !WriteVelmora5Layout(*station_.velmora5, dlg->Layout())) {
                Warn(QStringLiteral("行列设置未能写入设备，请检查设备连接后重试。"));
            }
            break;
        }
        case Step::Master: {
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
                Warn(QStringLiteral("主板设置未能全部写入设备，请检查设备连接后重试。"));
            }
            break;
        }
        case Step::Classic:
        case Step::Done:
            break;
    }
}

void CAboutCommand::Warn(const QString& text) {
    ShowMessage(owner_, text, QString(), QMessageBox::Warning);
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "dialogs/config_commands.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <QWidget>
#include <optional>
#include <string>

#include "config/config_file.h"
#include "grid/grid_model.h"
#include "station/config_transfer.h"
#include "station/station_core.h"
#include "ui/message_box.h"
#include "ui/wait_cursor.h"

namespace kx {

namespace {

// Marks a command as running for its whole scope.
class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy_;
};

// The load's progress. It has no cancel button, and Escape or the window's
// close button do not take it away: a load stopped half-way would leave the
// boards with some pages of the new configuration and some of the old.
class LoadProgressDialog : public QProgressDialog {
public:
    explicit LoadProgressDialog(QWidget* owner) : QProgressDialog(owner) {}

    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

std::string LocalPath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString FailureText(const char* what, const FileError& error) {
    return QString::fromUtf8(what) + QStringLiteral("\n") + Text(error.Message());
}

QString ChooserTitle(ConfigFileChoice choice) {
    switch (choice) {
        case ConfigFileChoice::Save:
            return QStringLiteral("保存配置");
        case ConfigFileChoice::LegacyLoad:
            return QStringLiteral("老版本配置载入");
        case ConfigFileChoice::Load:
            break;
    }
    return QStringLiteral("载入配置");
}

}  // namespace

QString ChooseConfigFile(QWidget* owner, ConfigFileChoice choice) {
    // The folder of the last file chosen, for the next chooser of this run.
    static QString lastFolder;
    QFileDialog dialog(owner, ChooserTitle(choice), lastFolder);
    dialog.setNameFilter(QString::fromUtf8(kConfigFileFilter));
    dialog.setDefaultSuffix(QString::fromUtf8(kConfigFileSuffix));
    if (choice == ConfigFileChoice::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The command asks before it replaces a file, through the station's
        // own message box.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        // Nothing in an open dialog renames or deletes a file.
        dialog.setOption(QFileDialog::ReadOnly);
    }
    // After the modes, which set the buttons' texts again.
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("查找范围："));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("文件名："));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("文件类型："));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
    dialog.setLabelText(QFileDialog::Accept, choice == ConfigFileChoice::Save
                                                 ? QStringLiteral("保存")
                                                 : QStringLiteral("打开"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    const QString chosen = dialog.selectedFiles().constFirst();
    lastFolder = QFileInfo(chosen).absolutePath();
    return chosen;
}

CConfigCommands::CConfigCommands(StationCore& station, GridModel& grid, QWidget* owner)
    : QObject(owner), station_(station), grid_(grid), owner_(owner) {}

CConfigCommands::~CConfigCommands() {
    CloseProgress();
}

void CConfigCommands::SetFileChooser(ConfigFileChooser chooser) {
    chooser_ = std::move(chooser);
}

QString CConfigCommands::Choose(ConfigFileChoice choice) {
    return chooser_ ? chooser_(owner_, choice) : ChooseConfigFile(owner_, choice);
}

void CConfigCommands::OnLoad() {
    if (busy_) {
        return;
    }
    BusyScope busy(busy_);
    // A configuration no board holds would be shown and judged against as
    // if it were loaded.
    const auto noBoard = [this] {
        if (SettingsBoardConnected(station_)) {
            return false;
        }
        ShowMessage(owner_, Text(kNoBoardForLoadText), {}, QMessageBox::Warning);
        return true;
    };
    if (noBoard()) {
        return;
    }
    const QString chosen = Choose(ConfigFileChoice::Load);
    if (chosen.isEmpty()) {
        return;
    }
    const std::string path = ExistingConfigFileName(LocalPath(chosen));
    FileError error;
    std::optional<ConfigLoadJob> job = ConfigLoadJob::Open(path, error);
    if (!job) {
        ShowMessage(owner_, FailureText(kLoadFailedText, error), {}, QMessageBox::Warning);
        return;
    }
    // The board may have gone while the chooser was open.
    if (noBoard()) {
        return;
    }
    {
        WaitCursor wait;
        job->ApplyGlobals(grid_);
        QElapsedTimer clock;
        clock.start();
        const int pages = job->PageCount();
        while (!job->Done()) {
            job->LoadNextPage(station_);
            const int done = job->PagesDone();
            emit pageLoaded(done - 1, pages);
            if (!progress_ && clock.elapsed() >= kProgressDelay.count()) {
                ShowProgress(done, pages);
            }
            if (progress_) {
                progress_->setLabelText(
                    QStringLiteral("正在把配置写入测试板：第 %1 / %2 个测试头……")
                        .arg(done)
                        .arg(pages));
                progress_->setValue(done);
            }
            // Between pages the window repaints and hot-plug events are
            // handled. Until the window-modal progress dialog shuts the
            // window's input off, the operator's input waits, so that no
            // command starts in the middle of the load.
            QCoreApplication::processEvents(progress_ ? QEventLoop::AllEvents
                                                      : QEventLoop::ExcludeUserInputEvents);
        }
        CloseProgress();
    }
    const std::string report = job->Report();
    if (!report.empty()) {
        // Values the file spells otherwise than they were read want the
        // operator's eye as much as heads that kept their settings.
        const bool warn = job->ReportsAFailure() || !job->Suspects().empty();
        ShowMessage(owner_, Text(report), {},
                    warn ? QMessageBox::Warning : QMessageBox::Information);
    }
}

void CConfigCommands::OnSave() {
    if (busy_) {
        return;
    }
    BusyScope busy(busy_);
    // The name completed with ".ini"; a file of that name is replaced only
    // when the operator says so, otherwise the chooser comes again.
    std::string path;
    for (;;) {
        const QString chosen = Choose(ConfigFileChoice::Save);
        if (chosen.isEmpty()) {
            return;
        }
        path = CompleteIniFileName(LocalPath(chosen));
        const QString name = QFile::decodeName(path.c_str());
        if (!QFileInfo::exists(name) ||
            ShowMessage(owner_, QStringLiteral("“%1”已经存在。\n要替换它吗？").arg(name), {},
                        QMessageBox::Warning,
                        QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
            break;
        }
    }
    SaveReport report;
    FileError error;
    {
        WaitCursor wait;
        error = SaveStationConfig(path, grid_, station_.Pages(), &report);
    }
    if (error) {
        ShowMessage(owner_, FailureText(kSaveFailedText, error), {}, QMessageBox::Warning);
        return;
    }
    if (const std::string notice = SaveNotice(report); !notice.empty()) {
        ShowMessage(owner_, Text(notice), {}, QMessageBox::Information);
    }
}

void CConfigCommands::OnLegacyLoad() {
    if (busy_) {
        return;
    }
    BusyScope busy(busy_);
    if (!station_.Present(FamilyId::OneToOne)) {
        ShowMessage(owner_, Text(NoRunoffForLegacyText()), {}, QMessageBox::Warning);
        return;
    }
    const QString chosen = Choose(ConfigFileChoice::LegacyLoad);
    if (chosen.isEmpty()) {
        return;
    }
    const std::string path = ExistingConfigFileName(LocalPath(chosen));
    LegacyImportResult result;
    {
        WaitCursor wait;
        result = ImportLegacyConfig(path, station_);
    }
    if (result.error) {
        ShowMessage(owner_, FailureText(kLegacyLoadFailedText, result.error), {},
                    QMessageBox::Warning);
        return;
    }
    if (const std::string notice = LegacyImportNotice(result); !notice.empty()) {
        ShowMessage(owner_, Text(notice), {}, QMessageBox::Warning);
    }
}

void CConfigCommands::ShowProgress(int done, int pages) {
    auto* dialog = new LoadProgressDialog(owner_);
    dialog->setWindowTitle(QStringLiteral("载入配置"));
    dialog->setMinimumWidth(420);
    dialog->setCancelButton(nullptr);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    dialog->setRange(0, pages);
    dialog->setValue(done);
    dialog->show();
    progress_ = dialog;
}

void CConfigCommands::CloseProgress() {
    delete progress_.data();
}

}  // namespace kx

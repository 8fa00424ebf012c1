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
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "config/config_file.h"
#include "grid/grid_model.h"
#include "station/config_transfer.h"
#include "station/station_core.h"
#include "ui/board_job.h"
#include "ui/message_box.h"
#include "ui/wait_cursor.h"

namespace kx {

namespace {

// Marks a command as running for its whole scope, unless it is released to
// a job that ends the command later.
class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyScope() {
        if (held_) {
            busy_ = false;
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

    void Release() { held_ = false; }

private:
    bool& busy_;
    bool held_ = true;
};

// How long the lane waits, after a page, for the window to have taken the
// page's progress before it writes the next one: the window's thread is
// only this late when something holds it, and the load then goes on.
constexpr auto kPageTurnBound = std::chrono::seconds(2);

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

// `what`: one of config_transfer.h's failure headings.
QString FailureText(const char* what, const FileError& error) {
    return QCoreApplication::translate("ConfigTransfer", what) + QStringLiteral("\n") +
           Text(error.Message());
}

QString ChooserTitle(ConfigFileChoice choice) {
    switch (choice) {
        case ConfigFileChoice::Save:
            return QCoreApplication::translate("CConfigCommands", "保存配置");
        case ConfigFileChoice::LegacyLoad:
            return QCoreApplication::translate("CConfigCommands", "老版本配置载入");
        case ConfigFileChoice::Load:
            break;
    }
    return QCoreApplication::translate("CConfigCommands", "载入配置");
}

}  // namespace

QString ChooseConfigFile(QWidget* owner, ConfigFileChoice choice) {
    // The folder of the last file chosen, for the next chooser of this run.
    static QString lastFolder;
    QFileDialog dialog(owner, ChooserTitle(choice), lastFolder);
    dialog.setNameFilter(QCoreApplication::translate("ConfigFile", kConfigFileFilter));
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
    dialog.setLabelText(QFileDialog::LookIn,
                        QCoreApplication::translate("CConfigCommands", "查找范围："));
    dialog.setLabelText(QFileDialog::FileName,
                        QCoreApplication::translate("CConfigCommands", "文件名："));
    dialog.setLabelText(QFileDialog::FileType,
                        QCoreApplication::translate("CConfigCommands", "文件类型："));
    dialog.setLabelText(QFileDialog::Reject,
                        QCoreApplication::translate("CConfigCommands", "取消"));
    dialog.setLabelText(QFileDialog::Accept,
                        choice == ConfigFileChoice::Save
                            ? QCoreApplication::translate("CConfigCommands", "保存")
                            : QCoreApplication::translate("CConfigCommands", "打开"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    const QString chosen = dialog.selectedFiles().constFirst();
    lastFolder = QFileInfo(chosen).absolutePath();
    return chosen;
}

struct CConfigCommands::LoadMail {
    std::mutex mutex;
    std::condition_variable turned;
    // Null once the command goes: no more progress is sent and the lane
    // stops waiting for it.
    CConfigCommands* target = nullptr;
    // The pages whose progress the window has taken.
    int taken = 0;
};

CConfigCommands::CConfigCommands(StationCore& station, GridModel& grid, QWidget* owner)
    : QObject(owner),
      station_(station),
      grid_(grid),
      owner_(owner),
      job_(new BoardJob(owner, &station.Lane())),
      mail_(std::make_shared<LoadMail>()) {
    // The job lives as long as the command (see the destructor).
    job_->setParent(this);
    mail_->target = this;
}

CConfigCommands::~CConfigCommands() {
    {
        std::lock_guard<std::mutex> lock(mail_->mutex);
        mail_->target = nullptr;
    }
    mail_->turned.notify_all();
    // A running load ends before the command goes (after the page it is
    // writing: see the job's cancel check); its completion is dropped with
    // the job.
    delete job_;
    job_ = nullptr;
    CloseProgress();
}

void CConfigCommands::SetFileChooser(ConfigFileChooser chooser) {
    chooser_ = std::move(chooser);
}

QString CConfigCommands::Choose(ConfigFileChoice choice) {
    return chooser_ ? chooser_(owner_, choice) : ChooseConfigFile(owner_, choice);
}

bool CConfigCommands::RefuseWhileLaneBusy() {
    if (!station_.Lane().Busy()) {
        return false;
    }
    ShowBoardBusy(owner_);
    return true;
}

void CConfigCommands::OnLoad() {
    Load(QString());
}

void CConfigCommands::LoadFile(const QString& path) {
    if (!path.isEmpty()) {
        Load(path);
    }
}

void CConfigCommands::Load(const QString& file) {
    if (busy_) {
        return;
    }
    BusyScope busy(busy_);
    // Another command talks to the boards: the operator is told at once.
    if (RefuseWhileLaneBusy()) {
        return;
    }
    // A configuration no board holds would be shown and judged against as
    // if it were loaded.
    const auto noBoard = [this] {
        if (SettingsBoardConnected(station_)) {
            return false;
        }
        ShowMessage(owner_, QCoreApplication::translate("ConfigTransfer", kNoBoardForLoadText), {},
                    QMessageBox::Warning);
        return true;
    };
    if (noBoard()) {
        return;
    }
    const QString chosen = file.isEmpty() ? Choose(ConfigFileChoice::Load) : file;
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
    // The board may have gone, or a connection started, while the chooser
    // was open.
    if (noBoard() || RefuseWhileLaneBusy()) {
        return;
    }
    busy.Release();
    loadPath_ = QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath();
    loadBytes_ = QByteArray::fromStdString(job->FileBytes());
    StartLoad(std::make_shared<ConfigLoadJob>(std::move(*job)));
}

void CConfigCommands::StartLoad(std::shared_ptr<ConfigLoadJob> job) {
    // The grid takes the file's globals here, on its own thread, before any
    // page is written (as a refused job would leave them, they are put back
    // then).
    const std::int32_t fpcTest = grid_.GetFpcTest();
    const std::int32_t columns = grid_.GetColumns();
    const std::int32_t rows = grid_.GetRows();
    job->ApplyGlobals(grid_);
    {
        std::lock_guard<std::mutex> lock(mail_->mutex);
        mail_->taken = 0;
    }
    clock_.start();
    StationCore* station = &station_;
    const std::shared_ptr<LoadMail> mail = mail_;
    const bool started = job_->Run<std::shared_ptr<ConfigLoadJob>>(
        QCoreApplication::translate("CConfigCommands", "正在载入配置…"),
        [job, station, mail](const std::atomic<bool>& cancel) {
            // On the lane: page after page, in the order the job writes
            // them. After each page the window is told and takes the
            // progress (and whatever its pageLoaded listeners do) before the
            // next page is written, as it did when the load ran on its
            // thread.
            const int pages = job->PageCount();
            while (!job->Done() && !cancel.load()) {
                job->LoadNextPage(*station);
                const int done = job->PagesDone();
                std::unique_lock<std::mutex> lock(mail->mutex);
                CConfigCommands* target = mail->target;
                if (target == nullptr) {
                    break;
                }
                QMetaObject::invokeMethod(
                    target, [target, done, pages] { target->PageDone(done, pages); },
                    Qt::QueuedConnection);
                const auto until = std::chrono::steady_clock::now() + kPageTurnBound;
                // In short slices, so that a stop of the lane (its cancel
                // flag, which wakes no one) is seen soon.
                while (mail->target != nullptr && mail->taken < done && !cancel.load() &&
                       std::chrono::steady_clock::now() < until) {
                    mail->turned.wait_for(lock, std::chrono::milliseconds(10));
                }
            }
            return job;
        },
        [this](std::shared_ptr<ConfigLoadJob> done) { LoadFinished(*done); });
    if (!started) {
        // Only when a job reached the lane between the check and here.
        grid_.SetFpcTest(fpcTest);
        grid_.SetColumns(columns);
        grid_.SetRows(rows);
        busy_ = false;
        ShowBoardBusy(owner_);
    }
}

void CConfigCommands::PageDone(int done, int pages) {
    emit pageLoaded(done - 1, pages);
    if (!progress_ && clock_.elapsed() >= kProgressDelay.count()) {
        ShowProgress(done, pages);
    }
    if (progress_) {
        progress_->setLabelText(
            QCoreApplication::translate("CConfigCommands",
                                        "正在把配置写入测试板：第 %1 / %2 个测试头……")
                .arg(done)
                .arg(pages));
        progress_->setValue(done);
    }
    {
        std::lock_guard<std::mutex> lock(mail_->mutex);
        mail_->taken = done;
    }
    mail_->turned.notify_all();
}

void CConfigCommands::LoadFinished(const ConfigLoadJob& job) {
    BusyScope busy(busy_);
    CloseProgress();
    emit configLoaded(loadPath_, loadBytes_);
    emit configFileUsed(loadPath_);
    const std::string report = job.Report();
    if (!report.empty()) {
        // Values the file spells otherwise than they were read want the
        // operator's eye as much as heads that kept their settings.
        const bool warn = job.ReportsAFailure() || !job.Suspects().empty();
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
            ShowMessage(
                owner_,
                QCoreApplication::translate("CConfigCommands", "“%1”已经存在。\n要替换它吗？")
                    .arg(name),
                {}, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
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
    emit configFileUsed(QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath());
    if (const std::string notice = SaveNotice(report); !notice.empty()) {
        ShowMessage(owner_, Text(notice), {}, QMessageBox::Information);
    }
}

void CConfigCommands::OnLegacyLoad() {
    if (busy_) {
        return;
    }
    BusyScope busy(busy_);
    if (RefuseWhileLaneBusy()) {
        return;
    }
    if (!station_.Present(FamilyId::OneToOne)) {
        ShowMessage(owner_, Text(NoRunoffForLegacyText()), {}, QMessageBox::Warning);
        return;
    }
    const QString chosen = Choose(ConfigFileChoice::LegacyLoad);
    if (chosen.isEmpty()) {
        return;
    }
    const std::string path = ExistingConfigFileName(LocalPath(chosen));
    FileError error;
    std::optional<IniFile> file = OpenLegacyConfig(path, error);
    if (!file) {
        ShowMessage(owner_, FailureText(kLegacyLoadFailedText, error), {}, QMessageBox::Warning);
        return;
    }
    StationCore* station = &station_;
    auto shared = std::make_shared<const IniFile>(std::move(*file));
    const QByteArray bytes = QByteArray::fromStdString(shared->Serialize());
    const bool started = job_->Run<LegacyImportResult>(
        QCoreApplication::translate("CConfigCommands", "正在载入配置…"),
        [shared, station](const std::atomic<bool>&) {
            return WriteLegacyConfig(*shared, *station);
        },
        [this, loaded = QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath(),
         bytes](LegacyImportResult result) {
            BusyScope done(busy_);
            emit configLoaded(loaded, bytes);
            if (const std::string notice = LegacyImportNotice(result); !notice.empty()) {
                ShowMessage(owner_, Text(notice), {}, QMessageBox::Warning);
            }
        });
    if (!started) {
        ShowBoardBusy(owner_);
        return;
    }
    busy.Release();
}

void CConfigCommands::ShowProgress(int done, int pages) {
    auto* dialog = new LoadProgressDialog(owner_);
    dialog->setWindowTitle(QCoreApplication::translate("CConfigCommands", "载入配置"));
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

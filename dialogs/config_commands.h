// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>

class QWidget;

namespace kx {

class BoardJob;
class ConfigLoadJob;
class GridModel;
class StationCore;

// Which command asks for a file.
enum class ConfigFileChoice { Load, Save, LegacyLoad };

// Asks the operator for a file; an empty name means cancelled.
using ConfigFileChooser = std::function<QString(QWidget* owner, ConfigFileChoice choice)>;

// The real choosers: an open dialog for Load and the legacy load, a save
// dialog for Save; filter "配置文件(*.ini)", a name typed without extension
// gets ".ini". Save asks before it replaces a file (through ShowMessage,
// after the chooser has closed; No brings the chooser back).
QString ChooseConfigFile(QWidget* owner, ConfigFileChoice choice);

// The main window's "文件(&F)" commands: "载入(&L)", "保存(&S)" and
// "老版本配置载入".
//
//     m_config = new CConfigCommands(*m_station, m_colorBar->model(), this);
//     connect(loadAction, &QAction::triggered, m_config, &CConfigCommands::OnLoad);
//     connect(saveAction, &QAction::triggered, m_config, &CConfigCommands::OnSave);
//     connect(legacyAction, &QAction::triggered, m_config, &CConfigCommands::OnLegacyLoad);
//
// The commands start on the user-interface thread; the board writes of the
// two loads run as a job on the station's board lane (StationCore::Lane), so
// that the window keeps painting and answering while a board takes its time
// or stops answering, and no other board command interleaves with them.
// Load writes every page to every connected board family, in order; after
// each page the window hears of it (pageLoaded, the progress) before the
// next page is written, and a load that takes longer than kProgressDelay
// shows a progress dialog, window-modal over the owner. Parsing the file,
// the grid and every message stay on the window's thread.
// While a command runs (IsBusy, from its start until its last message), a
// further command of this object does nothing; a load while another job
// runs on the lane is refused with a message. The owner should not close
// itself meanwhile; when the command goes, the running load stops after the
// page it writes and its completion is dropped. The station and the grid
// outlive the command. Every message goes through ShowMessage.
class CConfigCommands : public QObject {
    Q_OBJECT

public:
    // A load that has taken this long shows its progress.
    static constexpr std::chrono::milliseconds kProgressDelay{500};

    CConfigCommands(StationCore& station, GridModel& grid, QWidget* owner);
    ~CConfigCommands() override;

    // Replaces the file choosers (tests); an empty one restores the real ones.
    void SetFileChooser(ConfigFileChooser chooser);

    bool IsBusy() const { return busy_; }
    // The progress dialog of the load running now, or null (not yet shown,
    // or no load).
    QProgressDialog* Progress() const { return progress_; }

public slots:
    void OnLoad();
    void OnSave();
    void OnLegacyLoad();
    // "载入(&L)" of a file chosen elsewhere (the recent files of the menu):
    // the same checks, load and messages, without the chooser.
    void LoadFile(const QString& path);

signals:
    // A page of a load is in the page table and was written to the boards.
    void pageLoaded(int page, int pages);
    // A load (or a legacy load) has ended and the station tests with the
    // file's settings from now on: its absolute path and the bytes it was
    // read from (the test records keep their fingerprint).
    void configLoaded(const QString& path, const QByteArray& bytes);
    // A configuration file was loaded ("载入(&L)") or saved ("保存(&S)"):
    // its absolute path. The legacy load's files are of an older layout,
    // which "载入(&L)" does not read, and are not named here.
    void configFileUsed(const QString& path);

private:
    // What the lane's thread and this object share: where a page's progress
    // goes and how far the window has taken it.
    struct LoadMail;

    QString Choose(ConfigFileChoice choice);
    // "载入(&L)" with `file`, or with the chooser when it is empty.
    void Load(const QString& file);
    // The lane is taken by another command's job: says so.
    bool RefuseWhileLaneBusy();
    void StartLoad(std::shared_ptr<ConfigLoadJob> job);
    void PageDone(int done, int pages);
    void LoadFinished(const ConfigLoadJob& job);
    void ShowProgress(int done, int pages);
    void CloseProgress();

    StationCore& station_;
    GridModel& grid_;
    QPointer<QWidget> owner_;
    ConfigFileChooser chooser_;
    QPointer<QProgressDialog> progress_;
    bool busy_ = false;
    BoardJob* job_ = nullptr;
    std::shared_ptr<LoadMail> mail_;
    QElapsedTimer clock_;
    // The file of the load running now, for configLoaded.
    QString loadPath_;
    QByteArray loadBytes_;
};

}  // namespace kx

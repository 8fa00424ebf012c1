// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <chrono>
#include <functional>

class QWidget;

namespace kx {

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
// Each command runs on the user-interface thread and returns when it is
// done. Load writes every page to every connected board family; while it
// does, the event loop keeps turning between pages (the grid keeps
// repainting, hot-plug events are handled), and a load that takes longer
// than kProgressDelay shows a progress dialog, window-modal over the owner.
// While a command runs, a further command does nothing (IsBusy); the owner
// should not close or destroy itself, the station or the grid meanwhile.
// Every message goes through ShowMessage.
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

signals:
    // A page of a load is in the page table and was written to the boards.
    void pageLoaded(int page, int pages);

private:
    QString Choose(ConfigFileChoice choice);
    void ShowProgress(int done, int pages);
    void CloseProgress();

    StationCore& station_;
    GridModel& grid_;
    QPointer<QWidget> owner_;
    ConfigFileChooser chooser_;
    QPointer<QProgressDialog> progress_;
    bool busy_ = false;
};

}  // namespace kx

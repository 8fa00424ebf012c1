// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "hid/family_id.h"

class QDialog;
class QWidget;

namespace kx {

class BoardJob;
class BoardJobRunner;
class CAboutDlg;
class GridModel;
class StationCore;
class CClassicTester;
class hiddata_masterHID;
class hiddata_simple_runoff;
class hiddata_velmora5;

// What the about command needs of the station: AboutStationOf gives it for a
// station core and its grid (the main window's case); a test or preview may
// fill it with stand-ins.
struct AboutStation {
    // A board of the family is open.
    std::function<bool(FamilyId)> present;
    // The OEM name the connection recorded for the one-to-one board.
    std::function<std::string()> oemName;
    // The protocol objects.
    hiddata_simple_runoff* runoff = nullptr;
    hiddata_velmora5* velmora5 = nullptr;
    hiddata_masterHID* master = nullptr;
    CClassicTester* classic = nullptr;
    // The grid's size.
    std::function<std::int32_t()> gridRows;
    std::function<std::int32_t()> gridColumns;
    std::function<void(std::int32_t)> setGridRows;
    std::function<void(std::int32_t)> setGridColumns;
    // Clears the master board's emergency-stop latch ("清急停").
    std::function<void()> clearEmergencyStop;
    // Reads the master board's limits, modes and range into the page table.
    std::function<void()> readMasterSettings;
    // Where the command's board work runs: the station's board lane, shared
    // with every other command (null: a runner of the command's own).
    BoardJobRunner* lane = nullptr;
};

// The about command's view of a station core and the grid it feeds. After a
// master layout change every head forgets its data (no head has data of its
// new place until it has been read there) before the settings are read.
AboutStation AboutStationOf(StationCore& station, GridModel& grid);

// The about command of the main window: one device-information dialog for
// every connected family, one after the other, in connection priority
// (StandardFamilyTable: one-to-one board, Velmora5 board, master board,
// classic tester). Each family's flag is
// looked at when its turn comes, its dialog is filled from the board and
// shown window-modal over the owner, and the next one opens only after it
// has closed; nothing is shown when no board is connected.
//
// OK of a dialog applies it before the next one opens: the one-to-one board
// gets its offline-display byte, the Velmora5 board its layout record, the
// master board its columns, rows, position map and buzzer settings (after
// the grid took the new size), then the map is reloaded and the settings are
// read back. The classic dialog and the empty about box send nothing, and a
// dialog closed any other way sends nothing. A write the board did not take
// is reported in a message box.
//
// The board reads and writes run off the window's thread, as board jobs
// (ui/board_job.h): a dialog opens when its family's read has come back, and
// OK's writes run while the window keeps painting; their failure message and
// the next family's dialog follow on the window's thread. While such a job
// runs the owner shows a busy cursor and a further about command is refused
// with a short message, as it is while any other job runs on the station's
// lane; the command's destructor waits for the job.
//
//     about_ = new CAboutCommand(*m_station, m_colorBar->model(), this);
//     connect(aboutAction, &QAction::triggered, about_, &CAboutCommand::OnAbout);
//     connect(sysAboutAction, &QAction::triggered, about_, &CAboutCommand::ShowEmptyAbout);
//
// Both return at once; the dialogs run in the owner's event loop.
// The functions of AboutStation that talk to boards (readMasterSettings) run
// on the job's thread; the others on the window's.
class CAboutCommand : public QObject {
    Q_OBJECT

public:
    CAboutCommand(StationCore& station, GridModel& grid, QWidget* owner);
    CAboutCommand(AboutStation station, QWidget* owner);
    ~CAboutCommand() override;

    // The dialog open now, or null.
    QDialog* CurrentDialog() const { return current_; }
    bool IsRunning() const { return current_ != nullptr || JobRunning(); }
    // A board read or write of the command is running.
    bool JobRunning() const;
    // What that job does ("正在读取设备信息…"), empty when none runs.
    QString JobStatus() const;

public slots:
    // The "关于(&A)" command. While a dialog of the command is open, a
    // further call only brings it to the front; while its board job runs, a
    // further call is refused with a message.
    void OnAbout();
    // The second about entry: the about box with no board data, the default
    // picture and the program's version; it sends nothing.
    void ShowEmptyAbout();

signals:
    // A dialog was opened (for the tests and for the main window's focus).
    void dialogOpened(QDialog* dialog);
    // The command's last dialog has closed (or there was none).
    void finished();

private:
    // Opens the dialog of the first present family from row `next` of the
    // family table on: starts its read, the dialog opens when it is back.
    void Continue(std::size_t next);
    // Starts the read of `family` (or opens the classic dialog at once).
    // False when the family is not present.
    bool OpenFor(FamilyId family, std::size_t row);
    // OK of the dialog of table row `row`: starts its writes; the next
    // family follows when they are done.
    void Apply(QDialog* dialog, std::size_t row);
    // Runs `work` as the command's board job; `done` gets whether the write
    // went through. Without a job runner (refused) the command ends.
    void Write(std::function<bool()> work, QString failure, std::size_t row);
    void Show(QDialog* dialog, std::size_t row);
    void Warn(const QString& text);
    bool RefuseWhileBusy();

    AboutStation station_;
    QPointer<QWidget> owner_;
    QPointer<QDialog> current_;
    BoardJob* job_ = nullptr;  // child of this command
};

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>

#include "station/baseline_store.h"

class QWidget;

namespace kx {

class BoardJob;
class CBaseLineDlg;
class CColorBar;
class GridModel;
class StationCore;

// The main window's baseline command: a click on the grid opens the
// baseline dialog for the head under the pointer, window-modal over the
// owner, and OK stores the result into the head's page and writes it to
// every connected board (StoreBaselineAndWrite).
//
// - No one-to-one, Velmora5, master or classic board connected: nothing.
// - A head whose page lies beyond the page table (64 or more): the operator
//   is told that only the first 64 heads can be set.
// - Cancel (or any way of closing but OK): nothing stored or written; what
//   "全部打开" / "全部关闭" did to the page stays.
// - A board that misses a reply during the writes: the page keeps the new
//   values and the operator is told which board did not take them.
//
// The slot returns at once; the dialog runs in the owner's event loop. On OK
// the store-back (stores and writes, StoreBaselineAndWrite) runs as a board
// job on the station's board lane (StationCore::Lane), off the window's
// thread: the window keeps painting and answering with a busy cursor, and
// the report, the message and `finished(true)` follow on the window's thread
// once every write is done. The stores run with the writes on the lane, as
// each family's write takes the page as stored with that family's rule, and
// so that a connection that ran before them (reading a board's settings
// into the page table) cannot overwrite the edits before they are written.
//
// A click is refused with "正在与设备通信，请稍候再试。" while the store-back
// or any other job of the lane (a connection, the about reads and writes, a
// configuration load) waits or runs: no dialog opens whose page is being
// read or whose OK could not be written at once. While a dialog of the
// command is open, a further click only brings it to the front. A job that
// the lane took while the dialog was open does not lose OK: the store-back
// is queued behind it and runs in its turn.
//
// The command must not outlive the station core; its dialog belongs to the
// owner and is never stored back once the command is gone. The command holds
// a board job only while a store-back is out; its end waits for one that
// runs (each write is bounded by the board's reply bound) and drops its
// completion.
class CBaselineCommand : public QObject {
    Q_OBJECT

public:
    // `grid` is the model of the window's grid (the one the station drives).
    // The command is owned by `owner` (without one, by the caller).
    CBaselineCommand(StationCore& station, GridModel& grid, QWidget* owner);
    ~CBaselineCommand() override;

    // The dialog open now, or null. Defined where CBaseLineDlg is complete:
    // QPointer's conversion casts from QObject.
    CBaseLineDlg* CurrentDialog() const;
    // What the last OK did (once its store-back has ended).
    const BaselineWriteReport& LastReport() const { return lastReport_; }
    // A store-back is waiting for the lane or running.
    bool StoreBackRunning() const { return job_ != nullptr; }

public slots:
    // The grid's click (CColorBar::clicked); the control id is not needed.
    void OnGridClicked();

signals:
    // The dialog was opened (for the tests and for the main window's focus).
    void dialogOpened(CBaseLineDlg* dialog);
    // The dialog closed; after OK once the store-back and every write are
    // done and their message has been shown.
    void finished(bool accepted);

private:
    void Finish(CBaseLineDlg* dialog, int result);
    // The store-back of `edited` on the lane, then Report.
    void StoreBack(const BaselineResult& edited);
    void Report(const BaselineWriteReport& report);

    StationCore& station_;
    GridModel& grid_;
    QPointer<QWidget> owner_;
    QPointer<CBaseLineDlg> current_;
    BaselineWriteReport lastReport_;
    BoardJob* job_ = nullptr;  // child of this command while a store-back is out
};

// The main window's one call: a command owned by `owner`, connected to the
// grid's click.
//
//     InstallBaselineCommand(*m_colorBar, *m_station, this);
CBaselineCommand* InstallBaselineCommand(CColorBar& grid, StationCore& station, QWidget* owner);

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>

#include "station/baseline_store.h"

class QWidget;

namespace kx {

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
// The slot returns at once; the dialog runs in the owner's event loop and the
// store-back runs when it finishes (a wait cursor meanwhile). While a dialog
// of the command is open, a further click only brings it to the front.
// The command must not outlive the station core; its dialog belongs to the
// owner and is never stored back once the command is gone.
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
    // What the last OK did.
    const BaselineWriteReport& LastReport() const { return lastReport_; }

public slots:
    // The grid's click (CColorBar::clicked); the control id is not needed.
    void OnGridClicked();

signals:
    // The dialog was opened (for the tests and for the main window's focus).
    void dialogOpened(CBaseLineDlg* dialog);
    // The dialog closed; after OK the store-back and every write are done.
    void finished(bool accepted);

private:
    void Finish(CBaseLineDlg* dialog, int result);

    StationCore& station_;
    GridModel& grid_;
    QPointer<QWidget> owner_;
    QPointer<CBaseLineDlg> current_;
    BaselineWriteReport lastReport_;
};

// The main window's one call: a command owned by `owner`, connected to the
// grid's click.
//
//     InstallBaselineCommand(*m_colorBar, *m_station, this);
CBaselineCommand* InstallBaselineCommand(CColorBar& grid, StationCore& station, QWidget* owner);

}  // namespace kx

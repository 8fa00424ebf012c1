// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QIcon>
#include <QMap>
#include <QPointer>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_video.h"
#include "capture/capture_window_toggle.h"
#include "capture/dialog_cap_view.h"  // CaptureWindowToggle::Dialog() needs the whole type
#include "grid/color_bar.h"
#include "records/test_record.h"
#include "station/station_core.h"
#include "station/test_recorder.h"
#include "ui/status_strip.h"

class QAction;
class QKeyEvent;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;

namespace kx {

class BoardJob;
class CAboutCommand;
class CBaselineCommand;
class CConfigCommands;
class CRecordsWindow;
class HotplugSource;
class RecordsService;
class StationState;

namespace sim {
class SimBoard;
class SimBus;
}  // namespace sim

// The program's name: the window's title before the station sets one, and
// the caption of its warnings.
inline constexpr const char* kApplicationName = "KaldrixPlus";

// Characters typed into the main window since the last Enter or Space, at
// most kKeyBufferLimit of them. User-interface thread only.
extern QString g_keyBuffer;
inline constexpr int kKeyBufferLimit = 255;
// Typed in any case and followed by Enter or Space, it unlocks the FPC-test
// entry.
inline constexpr const char* kUnlockWord = "tavrel";

// Command ids of the main window's menu entries (QAction::data()).
enum CommandId : int {
    kCmdAbout = 16,
    kCmdLoad = 32771,
    kCmdOldLoad = 32784,
    kCmdMachine1 = 32787,
    kCmdMachine2 = 32788,
    kCmdMachine3 = 32789,
    kCmdMachine4 = 32790,
    kCmdStandard = 32792,
    kCmdMachine5 = 32793,
    kCmdClearGreenMarks = 32794,
    kCmdFpcTest = 32795,
    kCmdCaptureWindow = 32796,
    kCmdBuzzerInvert = 32800,
    kCmdBuzzerOn = 32801,
    kCmdRecords = 32810,
    kCmdExportRecords = 32811,
    kCmdResetCounters = 32812,
    kCmdSave = 57603,
    kCmdExit = 57665,
};
// The device-type commands in the order of the station's type items:
// standard, machine 1, ..., machine 5.
inline constexpr int kDeviceTypeCommands[kDeviceTypes] = {kCmdStandard, kCmdMachine1, kCmdMachine2,
                                                          kCmdMachine3, kCmdMachine4, kCmdMachine5};

// A software board the "模拟" menu plugs and unplugs.
struct DemoBoardEntry {
    std::shared_ptr<sim::SimBoard> board;
    QString label;
};

// What the main window runs on.
struct StationSetup {
    // The bus the station finds its boards on. Required; outlives the window.
    HidBus* bus = nullptr;
    // Set when `bus` is the simulated bus: hot-plug comes from it instead of
    // udev, and the "模拟" menu plugs and unplugs `demoBoards`.
    sim::SimBus* simBus = nullptr;
    std::vector<DemoBoardEntry> demoBoards;
    // Where the camera window finds cameras.
    CaptureSystem capture = SystemCapture();
    // Device type carrying the check mark at start (0 standard, 1-5 machine
    // n); unset: the one `state` remembers, else standard.
    std::optional<int> deviceType;
    // What the station remembers between runs (the recent configuration
    // files, the device type chosen last); null: nothing is remembered.
    // Outlives the window.
    StationState* state = nullptr;
    // The test records: where the records window reads them, and the writer
    // (and sender) that keep them; null when the database could not be
    // opened. The service outlives the window.
    std::string recordsDb;
    RecordsService* records = nullptr;
    // The window's normal (un-maximised) size. Invalid: two thirds of the
    // available screen, and the window starts maximised; valid (--size): the
    // window starts un-maximised at this size.
    QSize normalSize;
};

// The station's main window: the channel grid under a menu bar, over the
// station core (station/), which holds the state and makes every decision
// that needs no window. This class only wires the menus, the keys, the
// hot-plug source and the dialogs to it.
//
//     CKaldrixPlusDlg dlg(setup);
//     dlg.OnInitDialog();     // registers hot-plug, shows maximised, connects
//
// Its normal place, which it keeps when un-maximised (and takes where no
// window manager maximises it), is centred in the available screen area: two
// thirds of it, or StationSetup::normalSize.
//
// Whatever talks to a board runs on the station's board lane, never on the
// window's thread: the connection (at start, after a plug or unplug, after a
// device-type choice, when a board asks for it) is queued there, and the
// title, the device-type marks and the messages it produces come back here.
// The window paints its grid first and shows a busy cursor while the
// connection runs.
// Closing (the window's close button or "退出(&E)") stops and joins the
// acquisition worker and switches a one-to-one board's outputs off before
// anything is destroyed; finished() follows. While a configuration load is
// writing the boards the window does not close. Enter never closes the window
// and Escape does nothing.
class CKaldrixPlusDlg : public QDialog {
    Q_OBJECT

public:
    // Margins of the grid inside the area below the menu bar: left, top,
    // right, bottom.
    static constexpr int kGridMarginLeft = 2;
    static constexpr int kGridMarginTop = 10;
    static constexpr int kGridMarginRight = 10;
    static constexpr int kGridMarginBottom = 7;
    static constexpr int kGridControlId = 1000;

    explicit CKaldrixPlusDlg(StationSetup setup, QWidget* parent = nullptr);
    ~CKaldrixPlusDlg() override;

    // The start of the window, in order: hot-plug registration (when udev
    // cannot register, a message, then the bus is rescanned instead;
    // start-up goes on), the version history, the icon, its normal place
    // set, shown maximised (un-maximised with a normal size), the grid attached with its repaint
    // timer, then the station core's start (page table, grid) and its Connect queued on the lane.
    void OnInitDialog();

    StationCore& station() { return *m_station; }
    CColorBar& colorBar() { return *m_colorBar; }
    QMenuBar* menuBar() const { return m_menuBar; }
    // The menu entry of a command id, or null.
    QAction* CommandAction(int commandId) const;
    // The "文件(&F)" menu's entries of the recent configuration files, most
    // recent first; each entry's data() is its path.
    QList<QAction*> RecentFileActions() const { return m_recentActions; }
    // The "模拟" menu's entry of a software board, or null.
    QAction* DemoBoardAction(const sim::SimBoard* board) const;
    // Unattended plug cycles: every periodMs every software board of the
    // "模拟" menu is unplugged, and plugged back after half the period, at
    // most a second; counted by plugCycles(). Does nothing without software
    // boards or with periodMs < 2.
    void StartPlugCycle(int periodMs);
    int plugCycles() const { return m_plugCycles; }
    // Board work of the window (connection, hot-plug, device type) is queued
    // or running on the lane, or its results have not reached the window yet.
    bool BoardWorkPending() const;
    CaptureWindowToggle& captureWindow() { return m_capture; }
    CAboutCommand& aboutCommand() { return *m_about; }
    CConfigCommands& configCommands() { return *m_config; }
    CBaselineCommand& baselineCommand() { return *m_baseline; }
    // The hot-plug source in use (after OnInitDialog), or null.
    HotplugSource* hotplugSource() const { return m_hotplug; }
    // The notice under the grid (hidden while there is none).
    QLabel* boardNotice() const { return m_boardNotice; }
    // The counters under the grid.
    CStatusStrip* statusStrip() const { return m_strip; }
    // The records window, or null while it is not open.
    CRecordsWindow* recordsWindow() const;
    // "测试记录…": opens the records window (one, not modal) or raises it.
    CRecordsWindow* OpenRecordsWindow();
    // "重置计数": the counts start again from zero.
    void ResetCounters();
    // Turns the grid's closed cycles into records (user-interface thread).
    TestRecorder& recorder() { return *m_recorder; }

    // Runs the update handlers of a popup's entries, as when it opens.
    void OnInitMenuPopup(QMenu* popup);

    // The key filter; installed on the application object, it sees events
    // of this window and its children. True when the event is consumed.
    bool PreTranslateMessage(QObject* watched, QEvent* event);

public slots:
    // Enter's default: nothing, so Enter never closes the window.
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Menu construction.
    void BuildMenus();
    QAction* AddCommand(QMenu* menu, const QString& text, int id);
    // A checkable entry that flips a station setting; its check mark shows
    // the setting, from the start and after every flip.
    void AddToggle(QMenu* menu, const QString& text, int id, void (StationCore::*toggle)());
    void BuildDemoMenu();
    // Plugs `board` into the simulated bus or unplugs it, and sets its "模拟"
    // menu entry's check mark to match.
    void SetDemoBoardPlugged(QAction* action, const std::shared_ptr<sim::SimBoard>& board,
                             bool plugged);

    // Update handlers, as the popup's entries open: `submenu` is set when the
    // entry stands for a submenu (only availability then applies).
    void UpdateCommand(QAction* action, bool submenu);
    void UpdateDeviceTypes();
    // The recent files' entries of the "文件(&F)" menu, from the state.
    void UpdateRecentFiles();
    // A recent file's entry: loaded as "载入(&L)" does; a file that is gone
    // leaves the list with a message.
    void OpenRecentFile(const QString& path);
    void NoteRecentFile(const QString& path);
    void ShowBoardNotice(const QString& text);
    // A batch of records is in the database: the counts follow.
    void OnRecordsCommitted(const std::vector<TestRecord>& batch);
    void UpdateStrip();
    // The end of a panel (Enter, Space, "清除绿色标记"): every head's cycle
    // closed with the serial in the key buffer, the green marks cleared, the
    // records queued for the writer. The buffer is left as it is.
    void EndOfPanel();
    // The grid's automatic FPC closes since the last look, queued for the
    // writer.
    void TakeAutomaticCloses();
    void Submit(std::vector<TestRecord> records);
    // The station set up a board (or lost it): new cycles, with the board's
    // own settings.
    void OnCyclesRestarted(const BoardInfo& board);

    // Commands.
    void OnDeviceType(int type);
    void OnHotplug(HotplugEvent event, const QString& path);
    // Runs `work` on the station's board lane, after what waits there.
    void QueueBoardWork(std::function<void(StationCore&)> work);

    void RegisterHidNotification();
    bool IsOwnWidget(QObject* object) const;
    // Keys the operator types for the station: Enter, Space, Escape,
    // Backspace and characters without Ctrl, Alt or Meta.
    static bool IsOperatorKey(const QKeyEvent& key);
    // The key buffer, the green marks and the unlock word for one key that
    // reached its first receiver; true when the key is consumed.
    bool FilterKey(const QKeyEvent& key);

    StationSetup m_setup;
    CColorBar* m_colorBar = nullptr;  // child; its model outlives m_station
    QFrame* m_gridControl = nullptr;  // placeholder the grid takes over
    QIcon m_hIcon;
    QMenuBar* m_menuBar = nullptr;
    QLabel* m_boardNotice = nullptr;
    CStatusStrip* m_strip = nullptr;
    // What the strip shows: the counts since the start or "重置计数", and
    // what the station runs with.
    StripState m_counts;
    RecordCounters m_recordCounters;
    std::unique_ptr<TestRecorder> m_recorder;
    QPointer<CRecordsWindow> m_recordsWindow;
    QMenu* m_demoMenu = nullptr;
    QMap<int, QAction*> m_commands;
    QAction* m_emptyAboutAction = nullptr;
    QMenu* m_fileMenu = nullptr;
    QAction* m_exitAction = nullptr;
    // The recent files' entries and the separator after them (none while the
    // list is empty).
    QList<QAction*> m_recentActions;
    QAction* m_recentSeparator = nullptr;
    std::vector<std::pair<QAction*, std::shared_ptr<sim::SimBoard>>> m_demoActions;
    CaptureWindowToggle m_capture;
    // Children, deleted before the station core.
    CAboutCommand* m_about = nullptr;
    CConfigCommands* m_config = nullptr;
    CBaselineCommand* m_baseline = nullptr;
    HotplugSource* m_hotplug = nullptr;  // child
    // The connection, hot-plug and device-type jobs on the station's lane.
    BoardJob* m_connection = nullptr;  // child
    // The device-type menu as the station last sent it (the station's own
    // copy belongs to the lane's thread).
    TypeItems m_typeItems{};
    bool m_initialised = false;
    int m_plugCycles = 0;
    // The station's one page table: made before the station core and
    // destroyed after it.
    PageStore m_pages;
    // Declared last: destroyed first, while the grid and the bus still exist.
    std::unique_ptr<StationCore> m_station;
};

}  // namespace kx

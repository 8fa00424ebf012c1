// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/page_table.h"
#include "core/section_lock.h"
#include "grid/grid_model.h"
#include "hid/hid_bus.h"
#include "station/board_family.h"
#include "station/board_jobs.h"
#include "station/family_classic.h"
#include "station/family_master.h"
#include "station/family_runoff.h"
#include "station/family_table.h"
#include "station/family_velmora5.h"
#include "station/station_texts.h"

namespace kx {

// How the station tells its window what changed. Every callback runs on the
// thread that called Connect, OnDeviceChange or a menu command (for the
// window, the station's board lane: see StationCore::Lane), never on the
// worker. Empty ones are skipped.
struct StationCallbacks {
    std::function<void(const std::string& title)> setTitle;
    // Check marks or availability of the device-type entries changed.
    std::function<void(const TypeItems& items)> typeItemsChanged;
    // A message box for the operator (the window shows it with ShowMessage).
    // Sent once Connect has made every change and released its lock.
    std::function<void(const std::string& text)> showMessage;
    // Every head's test cycle starts afresh: a family was just set up as the
    // one in use (`board` describes it, ConnectedBoard) or the board in use
    // went away (`board` empty). The grid's data and cycle statistics have
    // been forgotten by then.
    std::function<void(const BoardInfo& board)> cyclesRestarted;

    // The two below run on the WORKER thread: the window must hand them over
    // to its own thread (a queued call) and must not call into the station
    // from inside them.
    //
    // What the operator should know about the running test, in one line
    // ("" once all is well again): heads whose board does not answer. Sent
    // when it changes.
    std::function<void(const std::string& text)> boardNotice;
    // The board in use could not be sent a command whole and its handle was
    // closed: run Connect, which opens it again.
    std::function<void()> reconnectNeeded;
};

// The notice for heads whose board does not answer (pages in ascending
// order, numbered as the grid shows them: row and column from 1); "" for
// none.
std::string SilentHeadsNotice(const std::vector<int>& pages, int columns);

// The main window's state and its long operations, without the window:
// connection of the board family that is present and the reaction to plug
// and unplug, the acquisition worker that polls the board and feeds the grid
// model, and the settings transfer between the page table and the boards.
// The page table (a PageStore) belongs to the core's owner, who hands it to
// the constructor; it must outlive the core.
//
// Threads. Everything except the worker runs on one thread at a time, the
// "control" thread: the constructor, Initialise, Connect, OnDeviceChange,
// the menu commands, the settings transfer, StartAcquisition,
// StopAcquisition, Close and the destructor. Those that talk to boards
// (Connect, OnDeviceChange, SelectDeviceType, the settings transfer) may
// cost a silent board's timeout for every exchange, so a window never calls
// them itself: it runs them as jobs on the station's board lane (Lane), one
// after the other, and takes the callbacks they make over to its own thread.
// Everything else of that list stays on the window's thread and is
// quick; a test may call everything from its own thread while the lane is
// idle. The worker (one at most) runs AcquisitionThreadProc, which
// repeats AcquireStep. The protocol objects are shared by both; each holds
// its own lock for a whole board exchange. Flags shared with the worker are
// atomic. The page table is shared through its lock (PageStore::lock), held
// only while a page (or some of its fields) is copied, never across a board
// exchange.
//
// Lock order (no code takes them the other way round):
//   m_connectLock -> a family's settings-read lock (Velmora5, master) -> a
//                    protocol object's lock
//   m_stepLock -> a protocol object's lock
//   m_connectLock -> m_workerLock (held while the worker is joined; the
//                    worker never takes it nor m_connectLock)
//   the page table's lock and the grid model's lock are leaves: nothing else
//   is taken while one of them is held.
// StartAcquisition and StopAcquisition join the worker: never call them, or
// an operation that calls them (Connect, OnDeviceChange, Close), while
// holding the step lock, a protocol object's lock, the page table's lock or
// the grid's lock.
//
// Families. The station's board families come from a FamilyTable (default
// the standard one); the core knows no family by itself: it loops over the
// table to probe, set up, poll, write, cancel and switch off.
//
// Family in use. Connect picks the first family of the table whose board is
// present (standard: one-to-one, Velmora5, master, classic) and the worker
// polls that family only. A lower-priority
// board plugged in beside it is opened by its probe but never spoken to: a
// master board beside a one-to-one gets no buzzer, input or output exchange,
// and a classic or Velmora5 board beside it never writes into page 0.
//
// Missing replies. A read that got no reply stores nothing: a head, page or
// channel keeps its own last values, and its head has no data (the grid
// judges it NoData, never Pass) until its next read answers. Settings reads
// and writes stop at the first exchange that got no reply and return false.
//
// Data the station may judge. A head's values count only when they came,
// whole and in step, from its own board since the connection set the family
// up and since the grid's layout last changed: each page remembers the grid's
// data epoch of its last good read, and the hand-over gives the grid the
// values together with that epoch. The values of a step in which the board's
// replies were found out of step (a stray report, a short one) are not
// stored: the heads read in it have no data for that step. The classic
// tester's head has data once each of its 32 channels answered since then.
//
// Outputs. They are written at every step from the grid's judgement: FAIL
// while a head fails, PASS only while GetPassAllowed (no head without data,
// at least one passing); otherwise neither. A master board's silent head
// does not hold up the step: the other heads, the inputs, the emergency-stop
// latch and the outputs go on, and the operator is told which head is silent
// (boardNotice). A one-to-one board that missed its read still gets its
// outputs switched away from PASS once.
class StationCore final : private FamilyHost {
public:
    // `pages` is the page table the core works on, kept by reference for the
    // core's life.
    StationCore(HidBus& bus, GridModel& grid, PageStore& pages, StationCallbacks callbacks = {},
                const FamilyTable& families = StandardFamilyTable());
    ~StationCore();
    StationCore(const StationCore&) = delete;
    StationCore& operator=(const StationCore&) = delete;

    // --- start-up, connection, hot-plug (user-interface thread) ----------------

    // The start of the main window: FPC test off, a 1 x 1 grid, every page
    // of the page table set to its defaults and copied into the grid (range,
    // lower, upper, reference, modes), no family ready, then Connect.
    void Initialise();
    // Initialise without its Connect: no board is spoken to, so the window
    // can paint its grid before the connection (a job on the lane) reads
    // the board's settings.
    void InitialisePages();
    // Probes every family, picks the one to use, sets the grid's size, reads
    // the board's settings into the page table, starts the worker and sets
    // the title. With no board to use, the grid's idle note says why (a
    // board that refused to open, one plugged for another device type, the
    // board in use unplugged, none at all, no udev daemon) and what to do;
    // with one, the note is cleared and a board of another family beside it
    // is named in the title.
    void Connect();
    // A HID device interface arrived or was removed (from the udev monitor on
    // the real bus, from SimBus's hot-plug handler on the simulated one).
    // Arrival: title "USB设备已经插入", then Connect. Removal: acquisition
    // stopped, the grid emptied, then Connect at once, so that the removal of
    // some other HID device leaves a board that is still there connected.
    void OnDeviceChange(HotplugEvent event, const std::string& path = {});

    // --- menu commands (user-interface thread) ---------------------------------

    // Device type 0 = standard, 1 to 5 = machine n: the single check mark
    // moves there, then Connect. Other numbers are ignored.
    void SelectDeviceType(int type);
    void ToggleBuzzerOn();
    void ToggleBuzzerInvert();
    void ToggleFpcTest();
    void ClearGreenMarks();

    // --- acquisition ------------------------------------------------------------

    // Starts the worker; a worker that is running is kept (never two).
    void StartAcquisition();
    // Clears the run flag and joins the worker. Its waits are cancelled
    // meanwhile, so a board that has stopped answering does not hold it up.
    void StopAcquisition();
    // The worker's procedure: AcquireStep while the run flag is set.
    int AcquisitionThreadProc();
    // One step: the family in use's step (live values into the page table,
    // the grid's heads handed their pages, the board's outputs from the
    // grid's judgement); with no family in use, the hand-over only. Run by
    // the worker; a test or benchmark may run it while no worker runs.
    void AcquireStep();
    // Workers started and not yet finished (0 or 1).
    int AcquisitionWorkers() const { return m_workers.load(); }

    // --- families ---------------------------------------------------------------

    // In connection priority (the table's order), and in write order.
    const std::vector<BoardFamily*>& Families() const { return m_families; }
    const std::vector<BoardFamily*>& WriteOrder() const { return m_writeOrder; }
    // The family of `id`, or null when the table has none.
    BoardFamily* Find(FamilyId id) const;
    // The family of class F (its kId), or null.
    template <class F>
    F* Find() const {
        return dynamic_cast<F*>(Find(F::kId));
    }
    // A board of family `id` is open (its last probe).
    bool Present(FamilyId id) const;

    // --- settings transfer (user-interface thread) -----------------------------

    // One loaded page to every connected family in write order (standard:
    // classic, master (page), Velmora5 (page), one-to-one), skipping a family
    // that missed a reply earlier in `run`. True when every write went
    // through.
    bool WritePageToBoards(int page, SettingsWriteRun& run);

    // --- the board lane ----------------------------------------------------------

    // Where the windows run every operation that talks to boards (the
    // connection, hot-plug, device-type choice, configuration loads,
    // baseline store-backs, the about reads and writes): one thread, one job
    // at a time, so that no two operations' exchanges interleave. The worker
    // keeps polling beside it, as it does beside any settings transfer.
    BoardJobRunner& Lane() { return m_lane; }

    // --- closing (user-interface thread) ---------------------------------------

    // Stops the lane (drops the jobs that wait, cancels and waits for the
    // running one), stops and joins the worker, then switches off every
    // connected family's board (a one-to-one board's outputs). After Close,
    // Connect and hot-plug events do nothing. The destructor closes too.
    void Close();

    // The page table the core works on (the one its owner handed it); the
    // windows read and edit a page under its lock. Any thread.
    PageStore& Pages() override { return m_pages; }

    // The window found no hot-plug monitor (no udev daemon) and looks at
    // the bus every 2 s instead: the idle screen says so from the next
    // connection on. Any thread.
    void SetRescanning(bool rescanning) { m_rescanning = rescanning; }

    // The window's title as last set.
    const std::string& Title() const { return m_title; }
    // Pages whose head did not answer its last read (master board), in
    // ascending order. Any thread.
    std::vector<int> SilentPages() const;
    FamilyId ActiveFamily() const { return m_activeFamily.load(); }
    // The board in use as the test records name it, described when its
    // family was set up (machine type: the device type checked then); empty
    // while none is. Any thread.
    BoardInfo ConnectedBoard() const;

    // --- what the window shows and sets (user-interface thread) -----------------

    // The device-type menu: {checked, available} for standard, machine 1-5.
    const TypeItems& DeviceTypes() const override { return m_typeItems; }
    // Moves the device type's check mark without connecting: the start's
    // choice, before Initialise. Other numbers are ignored.
    void PresetDeviceType(int type);
    // The buzzer menu's two check marks (ToggleBuzzerOn, ToggleBuzzerInvert).
    bool BuzzerOn() const override { return m_buzzerOn.load() != 0; }
    bool BuzzerInverted() const override { return m_buzzerInvert.load() != 0; }
    // "使能FPC测试" may be used: true at start; the window's key filter sets it
    // again when the unlock word is typed.
    bool FpcMenuUnlocked() const { return m_fpcMenuUnlocked.load() != 0; }
    void SetFpcMenuUnlocked(bool unlocked) { m_fpcMenuUnlocked = unlocked ? 1 : 0; }
    // The master board's emergency-stop latch ("清急停" clears it). Any thread.
    bool EmergencyStopLatched() const;
    void ClearEmergencyStop();
    // The worker's run flag is set (between StartAcquisition and
    // StopAcquisition).
    bool Acquiring() const { return m_running.load() != 0; }

private:
    // User-interface thread only.
    TypeItems m_typeItems{};

    std::atomic<std::int32_t> m_running{0};
    CSectionLock m_connectLock;
    CSectionLock m_stepLock;
    std::atomic<std::int32_t> m_fpcMenuUnlocked{1};
    std::atomic<std::int32_t> m_buzzerOn{0};
    std::atomic<std::int32_t> m_buzzerInvert{0};

    // Connect under m_connectLock; returns the messages to show.
    std::vector<std::string> ConnectLocked();
    void SetTitle(const std::string& title);
    void NotifyTypeItems();
    void ShowMessage(const std::string& text);
    // The idle screen's note after a connection found no board to use.
    std::string IdleNote(const OpenRefusal& refusal) const;
    // Stops the worker, clears every readiness and empties the grid; a
    // board that was in use counts as unplugged. Under m_connectLock.
    void Disconnect();
    // Notes the board in use (a family just set up, or none) and tells the
    // window its cycles start afresh.
    void NoteBoard(BoardInfo board);
    // Cancels the waits of every family's protocol objects (or resumes them).
    void CancelWaits(bool cancel);
    void StopWorkerLocked();
    // Every page loses its data (a family set up afresh). Worker stopped.
    void ForgetPageData();

    // FamilyHost.
    GridModel& Grid() override { return m_grid; }
    void SetTypesAvailable(bool available) override;
    void SetPageEpoch(int page, std::uint32_t epoch) override;
    // Hands every head of the grid its page; heads whose page has no good
    // read at the grid's current epoch get no data.
    void HandOverPages() override;
    void CheckLost(hiddata& board) override;
    std::uint64_t SilentPageBits() const override { return m_silentPages.load(); }
    void NoteSilentPages(std::uint64_t pages) override;

    // The families, owned; in table order, and the same in write order.
    std::vector<std::unique_ptr<BoardFamily>> m_owned;
    std::vector<BoardFamily*> m_families;
    std::vector<BoardFamily*> m_writeOrder;
    std::vector<FamilyRow> m_writeRows;  // the rows of m_writeOrder

    // Worker only (and the user-interface thread while no worker runs):
    // the grid's data epoch at each page's last good read, 0 for none.
    std::array<std::uint32_t, kPageCount> m_pageEpoch{};
    std::atomic<std::uint64_t> m_silentPages{0};
    std::atomic<bool> m_reconnectAsked{false};

    GridModel& m_grid;
    PageStore& m_pages;
    StationCallbacks m_callbacks;
    std::string m_title;
    // Last open-refusal message shown, so that every hot-plug event does not
    // show it again.
    std::string m_lastRefusal;
    std::atomic<bool> m_closed{false};
    // The board in use was removed and none has connected since (under
    // m_connectLock).
    bool m_unplugged = false;
    std::atomic<bool> m_rescanning{false};

    std::atomic<FamilyId> m_activeFamily{FamilyId::None};
    mutable std::mutex m_boardLock;
    BoardInfo m_board;  // guarded by m_boardLock
    std::atomic<int> m_workers{0};
    std::mutex m_workerLock;
    std::thread m_worker;  // guarded by m_workerLock

    // Last, so that it stops first should Close not have run.
    BoardJobRunner m_lane;
};

}  // namespace kx

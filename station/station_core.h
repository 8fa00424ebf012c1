#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/page_table.h"
#include "core/section_lock.h"
#include "grid/grid_model.h"
#include "hid/classic_tester.h"
#include "hid/hid_bus.h"
#include "hid/hiddata_kestrun9.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"

namespace kx {

// --- loop state shared with the dialogs ---------------------------------------

// Channel position (0..32) the next acquisition step reads from the classic
// tester; position 32 lands in live[32] of page 0.
extern std::atomic<std::int32_t> g_classicChannel;
// Page (0..4) whose live values the next step reads from the Velmora5 board.
extern std::atomic<std::uint8_t> g_velmora5Page;
// 1 once the master board reported an emergency stop; only the master
// board's information dialog ("清急停") clears it.
extern std::atomic<std::uint8_t> g_emergencyStop;

// --- texts ------------------------------------------------------------------

inline constexpr const char* kTitleOrvane = "Orvane 设备已经连接";
inline constexpr const char* kTitleVelmora5 = "Velmora5 设备已经连接";
inline constexpr const char* kTitleClassic = "ClassicTester 设备已经连接";
inline constexpr const char* kTitleDisconnected = "设备已经断开";
inline constexpr const char* kTitleInserted = "USB设备已经插入";

// Title and operator message for a board that is plugged in but could not be
// opened (`family` is the name the title uses for it: "Orvane", "Velmora5",
// "ClassicTester"). Never the texts of "nothing plugged in".
std::string OpenRefusalTitle(OpenFailure failure);
std::string OpenRefusalMessage(OpenFailure failure, const std::string& family);
// Operator message when a board was opened but did not answer while its
// settings were read.
inline constexpr const char* kNoAnswerMessage =
    "测试板没有应答，未能读出测试板中保存的测试设置（界面上显示的是原来的设置）。\n"
    "请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。";

// --- state types --------------------------------------------------------------

// The board family the worker polls: the one the last Connect set up.
enum class StationFamily : std::uint8_t { None, OneToOne, Velmora5, Master, Classic };

// One entry of the device-type menu: standard, machine 1, ..., machine 5.
struct TypeItem {
    std::uint8_t checked = 0;
    std::uint8_t available = 1;
    friend bool operator==(const TypeItem&, const TypeItem&) = default;
};
inline constexpr int kDeviceTypes = 6;
using TypeItems = std::array<TypeItem, kDeviceTypes>;

// How the station tells its window what changed. Every callback runs on the
// thread that called Connect, OnDeviceChange or a menu command (the
// user-interface thread), never on the worker. Empty ones are skipped.
struct StationCallbacks {
    std::function<void(const std::string& title)> setTitle;
    // Check marks or availability of the device-type entries changed.
    std::function<void(const TypeItems& items)> typeItemsChanged;
    // A message box for the operator (the window shows it with ShowMessage).
    // Sent once Connect has made every change and released its lock.
    std::function<void(const std::string& text)> showMessage;

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

// One configuration load's writes: a family whose board missed a reply is
// skipped for the rest of the load (one bound lost, not one per page).
struct SettingsWriteRun {
    bool classicMissed = false;
    bool masterMissed = false;
    bool velmora5Missed = false;
    bool runoffMissed = false;
};

// The main window's state and its long operations, without the window:
// connection of the board family that is present and the reaction to plug
// and unplug, the acquisition worker that polls the board and feeds the grid
// model, and the settings transfer between the page table (g_pageTable) and
// the boards.
//
// Threads. Everything except the worker runs on the user-interface thread:
// the constructor, Initialise, Connect, OnDeviceChange, the menu commands,
// the settings transfer, StartAcquisition, StopAcquisition, Close and the
// destructor. The worker (one at most) runs AcquisitionThreadProc, which
// repeats AcquireStep. The protocol objects are shared by both; each holds
// its own lock for a whole board exchange. Flags shared with the worker are
// atomic. The page table is shared through g_pageLock, held only while a page
// (or some of its fields) is copied, never across a board exchange.
//
// Lock order (no code takes them the other way round):
//   m_connectLock -> m_velmora5ReadLock or m_masterReadLock -> a protocol
//                    object's lock
//   m_stepLock -> a protocol object's lock
//   m_connectLock -> m_workerLock (held while the worker is joined; the
//                    worker never takes it nor m_connectLock)
//   g_pageLock and the grid model's lock are leaves: nothing else is taken
//   while one of them is held.
// StartAcquisition and StopAcquisition join the worker: never call them, or
// an operation that calls them (Connect, OnDeviceChange, Close), while
// holding the step lock, a protocol object's lock, g_pageLock or the grid's
// lock.
//
// Family in use. Connect picks one family by priority (one-to-one, Velmora5,
// master, classic) and the worker polls that family only. A lower-priority
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
class StationCore {
public:
    StationCore(HidBus& bus, GridModel& grid, StationCallbacks callbacks = {});
    ~StationCore();
    StationCore(const StationCore&) = delete;
    StationCore& operator=(const StationCore&) = delete;

    // --- start-up, connection, hot-plug (user-interface thread) ----------------

    // The start of the main window: FPC test off, a 1 x 1 grid, every page
    // of g_pageTable set to its defaults and copied into the grid (range,
    // lower, upper, reference, modes), then Connect.
    void Initialise();
    // Probes every family, picks the one to use, sets the grid's size, reads
    // the board's settings into the page table, starts the worker and sets
    // the title.
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
    // One step: live values of the family in use into the page table, the
    // grid's heads handed their pages, the board's outputs from the grid's
    // fail count. Run by the worker; a test or benchmark may run it while no
    // worker runs.
    void AcquireStep();
    // Workers started and not yet finished (0 or 1).
    int AcquisitionWorkers() const { return m_workers.load(); }

    // --- settings transfer (user-interface thread) -----------------------------

    // Board -> page table. True when every reply came; a read stops at the
    // first exchange that got no reply, and what did not come leaves the
    // page's fields as they were.
    bool ReadRunoffSettings();
    bool ReadVelmora5Settings();
    bool ReadMasterSettings();
    bool ReadClassicSettings();
    // The master board's range, read back into page 0 and copied into pages
    // 1 to lastPage (at most 63). The baseline command calls it after
    // WriteMasterSettings with rows x columns - 1.
    bool ReadMasterRange(int lastPage);

    // Page table -> board. True when the board took every exchange; a write
    // stops at the first exchange that got no reply. A page outside the
    // table writes nothing and returns false.
    bool WriteRunoffSettings();  // page of the head under the pointer
    bool WriteVelmora5Settings(int page);
    // Also reads the range back into page 0 and copies it into pages 1 to 3.
    // A page whose map entry has no head (or a head number the board cannot
    // have) gets no per-head write: another head's settings stay unharmed.
    bool WriteMasterSettings(int page);
    bool WriteClassicSettings();  // page 0
    // Head number of the master map entry of a page: its second byte without
    // bit 7 (0 for a page beyond the map).
    int MasterHeadOfPage(int page) const;
    // One loaded page to every connected family in the order classic,
    // master (page), Velmora5 (page), one-to-one, skipping a family that
    // missed a reply earlier in `run`. True when every write went through.
    bool WritePageToBoards(int page, SettingsWriteRun& run);

    // --- closing (user-interface thread) ---------------------------------------

    // Stops and joins the worker, then switches off a connected one-to-one
    // board's outputs. After Close, Connect and hot-plug events do nothing.
    // The destructor closes too.
    void Close();

    // The window's title as last set.
    const std::string& Title() const { return m_title; }
    // Pages whose head did not answer its last read (master board), in
    // ascending order. Any thread.
    std::vector<int> SilentPages() const;
    StationFamily ActiveFamily() const { return m_activeFamily.load(); }

    // --- state (read directly, as the window and its dialogs need it) ----------

    // Absence flags: 0 = a board of the family is open, 1 = none (the result
    // of the family's last probe).
    std::atomic<std::int32_t> m_noRunoff{1};
    std::atomic<std::int32_t> m_noVelmora5{1};
    std::atomic<std::int32_t> m_noMaster{1};
    std::atomic<std::int32_t> m_noKestrun9{1};
    std::atomic<std::int32_t> m_noClassic{1};
    // 1 once the family's board has been set up; the master board's readiness
    // is its object's head count.
    std::atomic<std::int32_t> m_runoffReady{0};
    std::atomic<std::int32_t> m_velmora5Ready{0};
    std::atomic<std::int32_t> m_classicReady{0};

    hiddata_kestrun9 m_kestrun9;
    hiddata_masterHID m_master;
    hiddata_velmora5 m_velmora5;
    hiddata_simple_runoff m_runoff;
    CClassicTester m_classic;

    // User-interface thread only.
    TypeItems m_typeItems{};
    std::string m_oemName;

    std::atomic<std::int32_t> m_running{0};
    CSectionLock m_connectLock;
    CSectionLock m_stepLock;
    CSectionLock m_velmora5ReadLock;
    CSectionLock m_masterReadLock;
    std::atomic<std::int32_t> m_fpcMenuUnlocked{1};
    std::atomic<std::int32_t> m_buzzerOn{0};
    std::atomic<std::int32_t> m_buzzerInvert{0};

private:
    // Connect under m_connectLock; returns the messages to show.
    std::vector<std::string> ConnectLocked();
    void SetTitle(const std::string& title);
    void SetTypesAvailable(bool available);
    void NotifyTypeItems();
    void ShowMessage(const std::string& text);
    // Stops the worker, clears every readiness and empties the grid.
    void Disconnect();
    // Cancels the waits of every protocol object (or resumes them).
    void CancelWaits(bool cancel);
    void StopWorkerLocked();

    void RunoffStep();
    void Velmora5Step();
    void MasterStep();
    void ClassicStep();
    // Hands every head of the grid its page; heads whose page has no good
    // read at the grid's current epoch get no data.
    void HandOverPages();
    // Every page loses its data (a family set up afresh). Worker stopped.
    void ForgetPageData();
    void NoteSilentPages(std::uint64_t pages);
    // After a step's exchanges: a board that lost its handle asks for Connect.
    void CheckLost(hiddata& board);

    // Worker only (and the user-interface thread while no worker runs):
    // the grid's data epoch at each page's last good read, 0 for none.
    std::array<std::uint32_t, kPageCount> m_pageEpoch{};
    // Classic tester: channels answered at m_classicEpoch.
    std::uint64_t m_classicAnswered = 0;
    std::uint32_t m_classicEpoch = 0;
    // One-to-one outputs last taken by the board.
    std::optional<RunoffOutputs> m_runoffOutputs;
    // Master board: the last inputs and buzzer settings read in step.
    MasterIoBytes m_masterInputs{};
    bool m_masterBuzzerOn = false;
    bool m_masterBuzzerInverted = false;
    std::atomic<std::uint64_t> m_silentPages{0};
    std::array<std::chrono::steady_clock::time_point, kPageCount> m_masterRetryAt{};
    std::array<int, kPageCount> m_masterMisses{};
    std::atomic<bool> m_reconnectAsked{false};

    GridModel& m_grid;
    StationCallbacks m_callbacks;
    std::string m_title;
    // Last open-refusal message shown, so that every hot-plug event does not
    // show it again.
    std::string m_lastRefusal;
    std::atomic<bool> m_closed{false};

    std::atomic<StationFamily> m_activeFamily{StationFamily::None};
    std::atomic<int> m_workers{0};
    std::mutex m_workerLock;
    std::thread m_worker;  // guarded by m_workerLock
};

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "station/station_core.h"

#include <algorithm>
#include <span>
#include <vector>

#include "station/family_master.h"
#include "station/page_access.h"

namespace kx {

namespace {

// The first 32 live values of a page, as the grid takes them.
std::span<const std::int32_t, kChannels> Shown(
    const std::array<std::int32_t, kChannels + 1>& live) {
    return std::span<const std::int32_t, kChannels>(live.data(), kChannels);
}

// The pages whose bits are set, in ascending order.
std::vector<int> PagesOf(std::uint64_t bits) {
    std::vector<int> pages;
    for (int p = 0; p < kPageCount; ++p) {
        if ((bits >> p & 1U) != 0) {
            pages.push_back(p);
        }
    }
    return pages;
}

}  // namespace

StationCore::StationCore(HidBus& bus, GridModel& grid, PageStore& pages, StationCallbacks callbacks,
                         const FamilyTable& families)
    : m_grid(grid), m_pages(pages), m_callbacks(std::move(callbacks)) {
    m_typeItems[0] = {1, 1};
    for (int t = 1; t < kDeviceTypes; ++t) {
        m_typeItems[static_cast<std::size_t>(t)] = {0, 1};
    }
    for (const FamilyRow& row : families) {
        m_owned.push_back(row.make(bus, *this));
        m_families.push_back(m_owned.back().get());
    }
    std::vector<std::size_t> order(families.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return families[a].writeRank < families[b].writeRank;
    });
    for (std::size_t i : order) {
        m_writeOrder.push_back(m_families[i]);
        m_writeRows.push_back(families[i]);
    }
}

StationCore::~StationCore() {
    Close();
}

BoardFamily* StationCore::Find(FamilyId id) const {
    for (BoardFamily* family : m_families) {
        if (family->Id() == id) {
            return family;
        }
    }
    return nullptr;
}

bool StationCore::Present(FamilyId id) const {
    const BoardFamily* family = Find(id);
    return family != nullptr && family->Present();
}

// --- window state -------------------------------------------------------------

void StationCore::SetTitle(const std::string& title) {
    m_title = title;
    if (m_callbacks.setTitle) {
        m_callbacks.setTitle(m_title);
    }
}

void StationCore::NotifyTypeItems() {
    if (m_callbacks.typeItemsChanged) {
        m_callbacks.typeItemsChanged(m_typeItems);
    }
}

void StationCore::SetTypesAvailable(bool available) {
    bool changed = false;
    for (TypeItem& item : m_typeItems) {
        const std::uint8_t a = available ? 1 : 0;
        changed = changed || item.available != a;
        item.available = a;
    }
    if (changed) {
        NotifyTypeItems();
    }
}

void StationCore::ShowMessage(const std::string& text) {
    if (m_callbacks.showMessage) {
        m_callbacks.showMessage(text);
    }
}

// --- start-up -------------------------------------------------------------------

void StationCore::Initialise() {
    InitialisePages();
    Connect();
}

void StationCore::InitialisePages() {
    m_grid.SetFpcTest(0);
    m_grid.SetColumns(1);
    m_grid.SetRows(1);
    m_pages.Reset();
    for (int r = 0; r < m_grid.GetRows(); ++r) {
        for (int c = 0; c < m_grid.GetColumns(); ++c) {
            const int p = PageOf(r, c, m_grid.GetColumns());
            if (!InTable(p)) {
                continue;
            }
            const PageRecord page = m_pages.Copy(p);
            m_grid.SetRange(c, r, page.rangeMax, page.rangeMin);
            m_grid.SetLowerLimits(c, r, page.lower);
            m_grid.SetUpperLimits(c, r, page.upper);
            m_grid.SetReference(c, r, page.reference);
            m_grid.SetChannelModes(c, r, page.mask);
        }
    }
    for (BoardFamily* family : m_families) {
        family->ClearReady();
    }
}

// --- connection ---------------------------------------------------------------

void StationCore::Connect() {
    // Messages go out after the lock is released and every state change is
    // made: a message box's event loop may deliver the next hot-plug event.
    std::vector<std::string> messages;
    {
        CSectionGuard guard(&m_connectLock);
        if (m_closed) {
            return;
        }
        messages = ConnectLocked();
    }
    for (const std::string& text : messages) {
        ShowMessage(text);
    }
}

std::vector<std::string> StationCore::ConnectLocked() {
    std::vector<std::string> messages;
    OpenRefusal refusal;
    for (BoardFamily* family : m_families) {
        family->Probe(refusal);
    }

    const auto chosen = std::find_if(m_families.begin(), m_families.end(),
                                     [](const BoardFamily* f) { return f->Present(); });
    bool setUpAnswered = true;
    if (chosen != m_families.end()) {
        BoardFamily& family = **chosen;
        if (const std::optional<bool> available = family.DeviceTypesAvailable()) {
            SetTypesAvailable(*available);
        }
        // A board of another family plugged in beside it is named in the
        // title, so that the operator knows it is not the one being tested.
        std::string title = TrText("StationTexts", family.Title());
        const auto unused = std::find_if(chosen + 1, m_families.end(),
                                         [](const BoardFamily* f) { return f->Present(); });
        if (unused != m_families.end()) {
            title = TitleWithUnusedBoard(title, (*unused)->Name());
        }
        SetTitle(title);
        m_unplugged = false;
        m_grid.SetIdleNote({});
        if (!family.Ready() || m_activeFamily.load() != family.Id()) {
            StopAcquisition();
            ForgetPageData();
            setUpAnswered = family.SetUp();
            m_activeFamily = family.Id();
            BoardInfo board = family.Describe();
            board.machineType = CheckedDeviceType(m_typeItems).value_or(0);
            StartAcquisition();
            NoteBoard(std::move(board));
        }
        if (!setUpAnswered) {
            messages.push_back(NoAnswerMessage(family.Name()));
        }
    } else {
        // The board in use is gone, whether a removal event said so first or
        // the worker found its handle lost and asked for this connection.
        Disconnect();
        SetTitle(refusal.Seen() ? OpenRefusalTitle(refusal.failure)
                                : TrText("StationTexts", kTitleDisconnected));
        m_grid.SetIdleNote(IdleNote(refusal));
    }

    if (refusal.Seen()) {
        const std::string text = OpenRefusalMessage(refusal.failure, refusal.family);
        if (text != m_lastRefusal) {
            m_lastRefusal = text;
            messages.insert(messages.begin(), text);
        }
    } else {
        m_lastRefusal.clear();
    }
    // A board whose handle was closed for a half-sent command has been
    // probed (and so opened) again above.
    m_reconnectAsked = false;
    return messages;
}

std::string StationCore::IdleNote(const OpenRefusal& refusal) const {
    if (refusal.Seen()) {
        return IdleNoteRefused(refusal.failure, refusal.family);
    }
    if (const std::optional<int> checked = CheckedDeviceType(m_typeItems)) {
        for (const BoardFamily* family : m_families) {
            if (const std::optional<int> type = family->OtherDeviceType(*checked)) {
                return IdleNoteOtherDeviceType(family->Name(), *type, *checked);
            }
        }
    }
    return IdleNoteNoBoard(m_unplugged, m_rescanning.load());
}

void StationCore::Disconnect() {
    StopAcquisition();
    ForgetPageData();
    // A board in use went: until one connects again the idle screen says it
    // was unplugged, not that none was ever there.
    if (m_activeFamily.exchange(FamilyId::None) != FamilyId::None) {
        m_unplugged = true;
    }
    for (BoardFamily* family : m_families) {
        family->ClearReady();
    }
    m_grid.SetColumns(0);
    m_grid.SetRows(0);
    NoteBoard({});
}

void StationCore::NoteBoard(BoardInfo board) {
    {
        std::lock_guard<std::mutex> guard(m_boardLock);
        m_board = board;
    }
    if (m_callbacks.cyclesRestarted) {
        m_callbacks.cyclesRestarted(board);
    }
}

BoardInfo StationCore::ConnectedBoard() const {
    std::lock_guard<std::mutex> guard(m_boardLock);
    return m_board;
}

void StationCore::OnDeviceChange(HotplugEvent event, const std::string& path) {
    if (m_closed) {
        return;
    }
    if (event == HotplugEvent::Arrival) {
        SetTitle(TrText("StationTexts", kTitleInserted));
        Connect();
        return;
    }
    // Any HID device interface that goes away stops acquisition; the absence
    // flags stay until the Connect below has probed again. That Connect sets
    // a board that is still there up again, so unplugging a scanner or a
    // mouse does not leave the station disconnected.
    SetTitle(TrText("StationTexts", kTitleDisconnected));
    {
        CSectionGuard guard(&m_connectLock);
        Disconnect();
        // A board plugged in again starts afresh: what was owed to the one
        // that went is not sent to it.
        if (!path.empty()) {
            for (BoardFamily* family : m_families) {
                family->ForgetOwed(path);
            }
        }
    }
    Connect();
}

// --- menu commands ------------------------------------------------------------

void StationCore::PresetDeviceType(int type) {
    if (type < 0 || type >= kDeviceTypes) {
        return;
    }
    for (int t = 0; t < kDeviceTypes; ++t) {
        m_typeItems[static_cast<std::size_t>(t)].checked = t == type ? 1 : 0;
    }
}

void StationCore::SelectDeviceType(int type) {
    if (type < 0 || type >= kDeviceTypes) {
        return;
    }
    PresetDeviceType(type);
    NotifyTypeItems();
    Connect();
}

bool StationCore::EmergencyStopLatched() const {
    return g_emergencyStop.load() != 0;
}

void StationCore::ClearEmergencyStop() {
    g_emergencyStop = 0;
}

void StationCore::ToggleBuzzerOn() {
    m_buzzerOn = m_buzzerOn.load() == 0 ? 1 : 0;
}

void StationCore::ToggleBuzzerInvert() {
    m_buzzerInvert = m_buzzerInvert.load() == 0 ? 1 : 0;
}

void StationCore::ToggleFpcTest() {
    m_grid.SetFpcTest(m_grid.GetFpcTest() == 0 ? 1 : 0);
}

void StationCore::ClearGreenMarks() {
    m_grid.ClearGreenMarks();
}

// --- worker -------------------------------------------------------------------

void StationCore::CancelWaits(bool cancel) {
    for (BoardFamily* family : m_families) {
        family->CancelWaits(cancel);
    }
}

void StationCore::StopWorkerLocked() {
    m_running = 0;
    if (!m_worker.joinable()) {
        return;
    }
    // The worker may be waiting for a board that has stopped answering:
    // its waits end within a slice, and every further transfer of its step
    // fails at once.
    CancelWaits(true);
    m_worker.join();
    CancelWaits(false);
}

void StationCore::StartAcquisition() {
    std::lock_guard lock(m_workerLock);
    if (m_closed) {
        return;
    }
    if (m_worker.joinable()) {
        if (m_running.load() != 0) {
            return;  // it is polling and keeps doing so
        }
        StopWorkerLocked();
    }
    m_running = 1;
    ++m_workers;
    m_worker = std::thread([this] { AcquisitionThreadProc(); });
}

void StationCore::StopAcquisition() {
    std::lock_guard lock(m_workerLock);
    StopWorkerLocked();
}

int StationCore::AcquisitionThreadProc() {
    while (m_running.load() != 0) {
        AcquireStep();
    }
    --m_workers;
    return 0;
}

void StationCore::AcquireStep() {
    CSectionGuard step(&m_stepLock);
    BoardFamily* family = Find(m_activeFamily.load());
    if (family != nullptr && family->Present()) {
        family->Step();
        return;
    }
    HandOverPages();
}

void StationCore::CheckLost(hiddata& board) {
    if (board.lost() && !m_reconnectAsked.exchange(true) && m_callbacks.reconnectNeeded) {
        m_callbacks.reconnectNeeded();
    }
}

void StationCore::SetPageEpoch(int page, std::uint32_t epoch) {
    m_pageEpoch[static_cast<std::size_t>(page)] = epoch;
}

void StationCore::HandOverPages() {
    // The counts are read afresh at every comparison: the user-interface
    // thread may change them meanwhile.
    for (int r = 0; r < m_grid.GetRows(); ++r) {
        for (int c = 0; c < m_grid.GetColumns(); ++c) {
            std::this_thread::yield();
            const int p = PageOf(r, c, m_grid.GetColumns());
            if (!InTable(p)) {
                continue;
            }
            const PageRecord page = m_pages.Copy(p);
            // A page without a good read shows its last values, without data.
            m_grid.SetValues(c, r, Shown(page.live), m_pageEpoch[static_cast<std::size_t>(p)]);
            m_grid.SetReference(c, r, page.reference);
            m_grid.SetUpperLimits(c, r, page.upper);
            m_grid.SetLowerLimits(c, r, page.lower);
            m_grid.SetChannelModes(c, r, page.mask);
            m_grid.SetRange(c, r, page.rangeMax, page.rangeMin);
        }
    }
}

void StationCore::ForgetPageData() {
    m_pageEpoch.fill(0);
    for (BoardFamily* family : m_families) {
        family->ForgetData();
    }
    m_silentPages = 0;
    m_grid.ForgetData();
}

void StationCore::NoteSilentPages(std::uint64_t pages) {
    if (m_silentPages.exchange(pages) == pages || !m_callbacks.boardNotice) {
        return;
    }
    m_callbacks.boardNotice(SilentHeadsNotice(PagesOf(pages), m_grid.GetColumns()));
}

std::vector<int> StationCore::SilentPages() const {
    return PagesOf(m_silentPages.load());
}

std::string SilentHeadsNotice(const std::vector<int>& pages, int columns) {
    if (pages.empty()) {
        return {};
    }
    const int perRow = std::max(columns, 1);
    std::string heads;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const int p = pages[i];
        if (i > 0) {
            heads += TrText("StationCore", "、");
        }
        heads += FormatText(TrText("StationCore", "第 %1 行第 %2 列"),
                            {std::to_string(p / perRow + 1), std::to_string(p % perRow + 1)});
    }
    return FormatText(TrText("StationCore",
                             "测试头没有应答（无数据，不会判为 PASS）：%1。请检查该测试头的连接。"),
                      {heads});
}

// --- settings: page table -> boards --------------------------------------------

bool StationCore::WritePageToBoards(int page, SettingsWriteRun& run) {
    bool all = true;
    for (std::size_t i = 0; i < m_writeOrder.size(); ++i) {
        BoardFamily& family = *m_writeOrder[i];
        if (!family.Present()) {
            continue;
        }
        if (run.Missed(family.Id()) || !family.WritePage(page)) {
            run.NoteMissed(m_writeRows[i]);
            all = false;
        }
    }
    return all;
}

// --- closing ------------------------------------------------------------------

void StationCore::Close() {
    // The lane first: a job that waits would connect again, and the running
    // one holds the connection lock or writes to a board.
    m_lane.Stop();
    {
        CSectionGuard guard(&m_connectLock);
        if (m_closed) {
            return;
        }
        std::lock_guard lock(m_workerLock);
        m_closed = true;
        StopWorkerLocked();
    }
    // After the worker has stopped, so that no step switches them on again.
    for (BoardFamily* family : m_families) {
        family->SwitchOff();
    }
}

}  // namespace kx

#include "station/station_core.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace kx {

std::atomic<std::int32_t> g_classicChannel{0};
std::atomic<std::uint8_t> g_velmora5Page{0};
std::atomic<std::uint8_t> g_emergencyStop{0};

namespace {

constexpr int kVelmora5LastPage = hiddata_velmora5::kAcquiredPages - 1;  // 4
constexpr int kClassicLastPosition = kChannels;                          // 32
// Pages the master write's range read-back refreshes besides page 0.
constexpr int kMasterWriteRangePages = 3;
// How long a master board's head that keeps missing its reads waits before
// it is tried again: from the second miss on, doubling up to the longest.
constexpr std::chrono::milliseconds kSilentHeadFirstRetry{250};
constexpr std::chrono::milliseconds kSilentHeadRetry{2000};

// The first 32 live values of a page, as the grid takes them.
std::span<const std::int32_t, kChannels> Shown(
    const std::array<std::int32_t, kChannels + 1>& live) {
    return std::span<const std::int32_t, kChannels>(live.data(), kChannels);
}

// Board values widened without sign.
template <class Array>
void Widen(const Words& from, Array& to) {
    std::copy(from.begin(), from.end(), to.begin());
}

// Edits one page under g_pageLock.
template <class Edit>
void EditPage(int page, Edit&& edit) {
    CSectionGuard guard(&g_pageLock);
    edit(g_pageTable[static_cast<std::size_t>(page)]);
}

PageRecord PageCopy(int page) {
    CSectionGuard guard(&g_pageLock);
    return g_pageTable[static_cast<std::size_t>(page)];
}

// The replies a step reads from one board are used only when none of them
// can have been another command's: the board is settled before the reads
// (whatever came after the last step's exchanges is not this step's) and
// after them, and nothing may have been found out of step in between.
class StepReads {
public:
    explicit StepReads(hiddata& board) : board_(board) {
        board_.settle();
        before_ = board_.out_of_step_count();
    }
    bool InStep() {
        board_.settle();
        return board_.out_of_step_count() == before_;
    }

private:
    hiddata& board_;
    std::uint32_t before_ = 0;
};

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

bool InTable(int page) {
    return page >= 0 && page < kPageCount;
}

// Pages 1 .. lastPage (cut to the table) take page 0's range.
void CopyRangeFromPageZero(int lastPage) {
    CSectionGuard guard(&g_pageLock);
    const PageRecord& first = g_pageTable[0];
    for (int p = 1; p <= std::min(lastPage, kPageCount - 1); ++p) {
        g_pageTable[static_cast<std::size_t>(p)].rangeMax = first.rangeMax;
        g_pageTable[static_cast<std::size_t>(p)].rangeMin = first.rangeMin;
    }
}

// The percentage as the classic tester takes it: truncated toward zero (the
// board keeps its low 8 bits). A value read from a file may be anything.
std::int32_t TruncatedPercentage(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double t = std::trunc(static_cast<double>(value));
    const double lo = std::numeric_limits<std::int32_t>::min();
    const double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(t, lo, hi));
}

// First refusal seen during one Connect: a board that is there but could not
// be opened.
struct Refusal {
    OpenFailure failure = OpenFailure::NotFound;
    std::string family;

    void Note(const hiddata& object, const char* name) {
        if (failure != OpenFailure::NotFound) {
            return;
        }
        const OpenFailure why = object.last_open_failure();
        if (why != OpenFailure::NotFound && why != OpenFailure::None) {
            failure = why;
            family = name;
        }
    }
    bool Seen() const { return failure != OpenFailure::NotFound; }
};

}  // namespace

std::string OpenRefusalTitle(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::NoPermission:
            return "设备无法打开：没有访问权限";
        case OpenFailure::Busy:
            return "设备无法打开：设备正被其他程序使用";
        default:
            return "设备无法打开";
    }
}

std::string OpenRefusalMessage(OpenFailure failure, const std::string& family) {
    const std::string found = "找到了 " + family + " 测试板，";
    switch (failure) {
        case OpenFailure::NoPermission:
            return found +
                   "但当前用户没有权限打开它。\n"
                   "请安装 packaging 文件夹中的 udev 规则 70-kaldrixplus.rules"
                   "（复制到 /etc/udev/rules.d/ 后运行 sudo udevadm control --reload），"
                   "然后拔下测试板再重新插上。\n"
                   "规则已安装但没有本地登录会话时（例如自动登录或远程桌面），"
                   "请把当前用户加入 plugdev 组（sudo usermod -aG plugdev 用户名），"
                   "重新登录后再试。";
        case OpenFailure::Busy:
            return found +
                   "但它正被其他程序使用。\n"
                   "请关闭占用测试板的其他程序（例如另一个正在运行的 KaldrixPlus），"
                   "然后拔下测试板再重新插上。";
        default:
            return found +
                   "但无法打开它。\n"
                   "请拔下测试板再重新插上；如果仍然不行，请换一个 USB 接口或检查 USB 线。";
    }
}

StationCore::StationCore(HidBus& bus, GridModel& grid, StationCallbacks callbacks)
    : m_kestrun9(bus),
      m_master(bus),
      m_velmora5(bus),
      m_runoff(bus),
      m_classic(bus),
      m_grid(grid),
      m_callbacks(std::move(callbacks)) {
    m_typeItems[0] = {1, 1};
    for (int t = 1; t < kDeviceTypes; ++t) {
        m_typeItems[static_cast<std::size_t>(t)] = {0, 1};
    }
    m_master.clear_head_count();
}

StationCore::~StationCore() {
    Close();
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
    m_grid.SetFpcTest(0);
    m_grid.SetColumns(1);
    m_grid.SetRows(1);
    {
        CSectionGuard guard(&g_pageLock);
        InitPageTable(g_pageTable);
    }
    for (int r = 0; r < m_grid.GetRows(); ++r) {
        for (int c = 0; c < m_grid.GetColumns(); ++c) {
            const int p = PageOf(r, c, m_grid.GetColumns());
            if (!InTable(p)) {
                continue;
            }
            const PageRecord page = PageCopy(p);
            m_grid.SetRange(c, r, page.rangeMax, page.rangeMin);
            m_grid.SetLowerLimits(c, r, page.lower);
            m_grid.SetUpperLimits(c, r, page.upper);
            m_grid.SetReference(c, r, page.reference);
            m_grid.SetChannelModes(c, r, page.mask);
        }
    }
    m_runoffReady = 0;
    m_velmora5Ready = 0;
    m_classicReady = 0;
    Connect();
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
    Refusal refusal;

    // One-to-one: the chain of the checked device type. A row that opens a
    // board is probed once more, and that second result counts.
    bool anyChecked = false;
    for (int type = 0; type < kDeviceTypes; ++type) {
        if (m_typeItems[static_cast<std::size_t>(type)].checked == 0) {
            continue;
        }
        anyChecked = true;
        bool matched = false;
        for (RunoffProbe row : hiddata_simple_runoff::probe_order(type)) {
            if (m_runoff.probe(row, type) != 0) {
                refusal.Note(m_runoff, "Orvane");
                continue;
            }
            m_noRunoff = m_runoff.probe(row, type);
            refusal.Note(m_runoff, "Orvane");
            const char* oem = hiddata_simple_runoff::identity(row).oem_name;
            if (oem != nullptr) {
                m_oemName = oem;
            }
            matched = true;
            break;
        }
        if (!matched) {
            m_noRunoff = 1;
            m_oemName.clear();
        }
    }

    if (!anyChecked) {
        m_noRunoff = 1;
    }

    // Velmora5: its three identities in order.
    m_noVelmora5 = 1;
    for (const Velmora5IdentityRow& row : hiddata_velmora5::identity_table()) {
        if (m_velmora5.probe(row.probe) != 0) {
            refusal.Note(m_velmora5, "Velmora5");
            continue;
        }
        m_noVelmora5 = m_velmora5.probe(row.probe);
        refusal.Note(m_velmora5, "Velmora5");
        break;
    }

    m_noMaster = m_master.open_board() == 0 ? m_master.open_board() : 1;
    refusal.Note(m_master, "Orvane");
    m_noKestrun9 = m_kestrun9.open_board() == 0 ? m_kestrun9.open_board() : 1;
    m_noClassic = m_classic.open_board() == 0 ? m_classic.open_board() : 1;
    refusal.Note(m_classic, "ClassicTester");

    bool setUpAnswered = true;
    const StationFamily active = m_activeFamily.load();
    if (m_noRunoff == 0) {
        SetTypesAvailable(true);
        SetTitle(kTitleOrvane);
        if (m_runoffReady == 0 || active != StationFamily::OneToOne) {
            StopAcquisition();
            ForgetPageData();
            m_grid.SetColumns(1);
            m_grid.SetRows(1);
            setUpAnswered = ReadRunoffSettings();
            m_runoffReady = 1;
            m_activeFamily = StationFamily::OneToOne;
            StartAcquisition();
        }
    } else if (m_noVelmora5 == 0) {
        SetTypesAvailable(false);
        SetTitle(kTitleVelmora5);
        if (m_velmora5Ready == 0 || active != StationFamily::Velmora5) {
            StopAcquisition();
            ForgetPageData();
            m_grid.SetColumns(2);
            m_grid.SetRows(2);
            // The first read may change the grid's size; the second reads
            // the pages again with it.
            setUpAnswered = ReadVelmora5Settings() && ReadVelmora5Settings();
            m_velmora5Ready = 1;
            m_activeFamily = StationFamily::Velmora5;
            StartAcquisition();
        }
    } else if (m_noMaster == 0) {
        SetTitle(kTitleOrvane);
        if (m_master.head_count() == 0 || active != StationFamily::Master) {
            StopAcquisition();
            ForgetPageData();
            SetTypesAvailable(false);
            m_master.probe_heads();
            // A board that does not answer costs one bound here, not one per
            // command; the grid then keeps its size.
            setUpAnswered = m_master.load_position_map();
            if (setUpAnswered) {
                const std::optional<std::uint8_t> columns = m_master.read_columns();
                const std::optional<std::uint8_t> rows =
                    columns ? m_master.read_rows() : std::nullopt;
                if (columns && rows) {
                    m_grid.SetColumns(*columns);
                    m_grid.SetRows(*rows);
                    setUpAnswered = ReadMasterSettings();
                } else {
                    setUpAnswered = false;
                }
            }
            m_activeFamily = StationFamily::Master;
            StartAcquisition();
        }
    } else if (m_noClassic == 0) {
        SetTitle(kTitleClassic);
        if (m_classicReady == 0 || active != StationFamily::Classic) {
            StopAcquisition();
            ForgetPageData();
            m_grid.SetColumns(1);
            m_grid.SetRows(1);
            setUpAnswered = ReadClassicSettings();
            m_classicReady = 1;
            m_activeFamily = StationFamily::Classic;
            StartAcquisition();
        }
    } else {
        Disconnect();
        SetTitle(refusal.Seen() ? OpenRefusalTitle(refusal.failure) : kTitleDisconnected);
    }

    if (refusal.Seen()) {
        const std::string text = OpenRefusalMessage(refusal.failure, refusal.family);
        if (text != m_lastRefusal) {
            m_lastRefusal = text;
            messages.push_back(text);
        }
    } else {
        m_lastRefusal.clear();
    }
    if (!setUpAnswered) {
        messages.emplace_back(kNoAnswerMessage);
    }
    // A board whose handle was closed for a half-sent command has been
    // probed (and so opened) again above.
    m_reconnectAsked = false;
    return messages;
}

void StationCore::Disconnect() {
    StopAcquisition();
    ForgetPageData();
    m_activeFamily = StationFamily::None;
    m_runoffReady = 0;
    m_velmora5Ready = 0;
    m_classicReady = 0;
    m_master.clear_head_count();
    m_grid.SetColumns(0);
    m_grid.SetRows(0);
}

void StationCore::OnDeviceChange(HotplugEvent event, const std::string& path) {
    if (m_closed) {
        return;
    }
    if (event == HotplugEvent::Arrival) {
        SetTitle(kTitleInserted);
        Connect();
        return;
    }
    // Any HID device interface that goes away stops acquisition; the absence
    // flags stay until the Connect below has probed again. That Connect sets
    // a board that is still there up again, so unplugging a scanner or a
    // mouse does not leave the station disconnected.
    SetTitle(kTitleDisconnected);
    {
        CSectionGuard guard(&m_connectLock);
        Disconnect();
        // A board plugged in again starts afresh: what was owed to the one
        // that went is not sent to it.
        if (!path.empty()) {
            hiddata* objects[] = {&m_kestrun9, &m_master, &m_velmora5, &m_runoff, &m_classic};
            for (hiddata* object : objects) {
                object->forget_owed(path);
            }
        }
    }
    Connect();
}

// --- menu commands ------------------------------------------------------------

void StationCore::SelectDeviceType(int type) {
    if (type < 0 || type >= kDeviceTypes) {
        return;
    }
    for (int t = 0; t < kDeviceTypes; ++t) {
        m_typeItems[static_cast<std::size_t>(t)].checked = t == type ? 1 : 0;
    }
    NotifyTypeItems();
    Connect();
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
    hiddata* objects[] = {&m_kestrun9, &m_master, &m_velmora5, &m_runoff, &m_classic};
    for (hiddata* object : objects) {
        if (cancel) {
            object->cancel_waits();
        } else {
            object->resume_waits();
        }
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
    switch (m_activeFamily.load()) {
        case StationFamily::OneToOne:
            if (m_noRunoff == 0) {
                RunoffStep();
                return;
            }
            break;
        case StationFamily::Velmora5:
            if (m_noVelmora5 == 0) {
                Velmora5Step();
                return;
            }
            break;
        case StationFamily::Master:
            if (m_noMaster == 0) {
                MasterStep();
                return;
            }
            break;
        case StationFamily::Classic:
            if (m_noClassic == 0) {
                ClassicStep();
                return;
            }
            break;
        case StationFamily::None:
            break;
    }
    HandOverPages();
}

void StationCore::CheckLost(hiddata& board) {
    if (board.lost() && !m_reconnectAsked.exchange(true) && m_callbacks.reconnectNeeded) {
        m_callbacks.reconnectNeeded();
    }
}

void StationCore::RunoffStep() {
    StepReads step(m_runoff);
    const std::uint32_t epoch = m_grid.DataEpoch();
    const std::optional<Words> values = m_runoff.read_values();
    const bool inStep = step.InStep();
    if (values && inStep) {
        EditPage(0, [&](PageRecord& p) { Widen(*values, p.live); });
        m_pageEpoch[0] = epoch;
    } else {
        m_pageEpoch[0] = 0;
    }

    HandOverPages();

    // A board that missed its read is left alone once its outputs are off
    // PASS: a silent board costs one bound per step, and it never keeps
    // showing PASS for a head the station has no data of.
    const RunoffOutputs outputs =
        VerdictOutputs(m_grid.GetFailCount(), m_grid.GetPassAllowed(), m_buzzerOn.load() != 0,
                       m_buzzerInvert.load() != 0);
    const bool answered = values.has_value();
    const bool passLeftOn = !m_runoffOutputs || m_runoffOutputs->pass != 0;
    if (answered || (passLeftOn && outputs.pass == 0)) {
        if (m_runoff.set_outputs(outputs)) {
            m_runoffOutputs = outputs;
        } else {
            m_runoffOutputs.reset();
        }
    }
    CheckLost(m_runoff);
}

void StationCore::Velmora5Step() {
    int page = g_velmora5Page.load();
    if (page > kVelmora5LastPage) {
        page = 0;
    }
    StepReads step(m_velmora5);
    const std::uint32_t epoch = m_grid.DataEpoch();
    const std::optional<Words> values =
        m_velmora5.read_values(hiddata_velmora5::head_of_page(page));
    const bool inStep = step.InStep();
    if (values && inStep) {
        EditPage(page, [&](PageRecord& p) { Widen(*values, p.live); });
        m_pageEpoch[static_cast<std::size_t>(page)] = epoch;
    } else {
        m_pageEpoch[static_cast<std::size_t>(page)] = 0;
    }
    g_velmora5Page = static_cast<std::uint8_t>(page < kVelmora5LastPage ? page + 1 : 0);

    HandOverPages();

    const bool pass = m_grid.GetFailCount() == 0 && m_grid.GetPassAllowed();
    m_velmora5.set_result(pass ? 1 : 0, pass ? 0 : 1);
    CheckLost(m_velmora5);
}

void StationCore::MasterStep() {
    StepReads step(m_master);
    const std::uint32_t epoch = m_grid.DataEpoch();
    const int pages = std::min(m_grid.GetRows() * m_grid.GetColumns(), kPageCount);
    const MasterPositionMap map = m_master.position_map();

    // Every head is read, whether an earlier one answered or not: a silent
    // head must not stop the others, the inputs or the outputs.
    struct Read {
        int page;
        Words values;
    };
    std::vector<Read> reads;
    std::uint64_t silent = 0;
    const std::uint64_t wasSilent = m_silentPages.load();
    const auto now = std::chrono::steady_clock::now();
    for (int p = 0; p < pages; ++p) {
        const std::optional<std::uint8_t> head = MapHead(map, p);
        if (!head) {
            continue;  // no head: the page keeps its live values and has no data
        }
        const std::uint64_t bit = std::uint64_t{1} << p;
        auto& retry = m_masterRetryAt[static_cast<std::size_t>(p)];
        auto& misses = m_masterMisses[static_cast<std::size_t>(p)];
        // A head that did not answer costs a read bound and the late-reply
        // window each time it is tried. One miss is tried again at the next
        // step; a head that keeps missing is tried less and less often (up
        // to every kSilentHeadRetry), so that the other heads, the inputs
        // and the outputs keep their pace.
        if ((wasSilent & bit) != 0 && now < retry) {
            silent |= bit;
            m_pageEpoch[static_cast<std::size_t>(p)] = 0;
            continue;
        }
        if (const std::optional<Words> values = m_master.read_values(*head)) {
            reads.push_back({p, *values});
            misses = 0;
        } else {
            silent |= bit;
            misses = std::min(misses + 1, 16);
            const std::chrono::milliseconds wait =
                misses < 2 ? std::chrono::milliseconds(0)
                           : std::min(kSilentHeadRetry,
                                      kSilentHeadFirstRetry * (1 << std::min(misses - 2, 4)));
            retry = std::chrono::steady_clock::now() + wait;
            m_pageEpoch[static_cast<std::size_t>(p)] = 0;
        }
    }

    const std::optional<std::uint8_t> first = m_master.read_buzzer_settings();
    const std::optional<std::uint8_t> second = m_master.read_buzzer_settings();
    const bool latched = g_emergencyStop.load() != 0;
    const std::optional<MasterIoBytes> inputs = m_master.read_inputs();

    const bool inStep = step.InStep();
    for (const Read& read : reads) {
        if (inStep) {
            EditPage(read.page, [&](PageRecord& r) { Widen(read.values, r.live); });
        }
        m_pageEpoch[static_cast<std::size_t>(read.page)] = inStep ? epoch : 0;
    }
    if (inStep && first && second) {
        m_masterBuzzerOn = BuzzerOn(*first);
        m_masterBuzzerInverted = BuzzerInverted(*second);
    }
    NoteSilentPages(silent);

    if (latched) {
        // The inputs are read as always, but only the latched outputs go,
        // and nothing reaches the grid.
        m_master.write_outputs(
            MasterOutputs({}, 0, false, m_masterBuzzerOn, m_masterBuzzerInverted, true));
        CheckLost(m_master);
        return;
    }
    if (inputs && inStep) {
        m_masterInputs = *inputs;
        if (EmergencyStop(*inputs)) {
            g_emergencyStop = 1;  // takes effect from the next step
        }
    }

    HandOverPages();

    m_master.write_outputs(MasterOutputs(m_masterInputs, m_grid.GetFailCount(),
                                         m_grid.GetPassAllowed(), m_masterBuzzerOn,
                                         m_masterBuzzerInverted, false));
    CheckLost(m_master);
}

void StationCore::ClassicStep() {
    int channel = g_classicChannel.load();
    if (channel < 0 || channel > kClassicLastPosition) {
        channel = 0;
    }
    const std::uint32_t epoch = m_grid.DataEpoch();
    if (epoch != m_classicEpoch) {
        m_classicEpoch = epoch;
        m_classicAnswered = 0;
    }
    const std::uint64_t bit = std::uint64_t{1} << channel;
    if (const std::optional<std::uint16_t> value = m_classic.read_value(channel)) {
        EditPage(0, [&](PageRecord& p) { p.live[static_cast<std::size_t>(channel)] = *value; });
        m_classicAnswered |= bit;
    } else {
        m_classicAnswered &= ~bit;
    }
    g_classicChannel = channel < kClassicLastPosition ? channel + 1 : 0;
    constexpr std::uint64_t kAllChannels = (std::uint64_t{1} << kChannels) - 1;
    m_pageEpoch[0] = (m_classicAnswered & kAllChannels) == kAllChannels ? m_classicEpoch : 0;

    HandOverPages();
    CheckLost(m_classic);
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
            const PageRecord page = PageCopy(p);
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
    m_classicAnswered = 0;
    m_runoffOutputs.reset();
    m_silentPages = 0;
    m_masterRetryAt.fill({});
    m_masterMisses.fill(0);
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
    std::string text = "测试头没有应答（无数据，不会判为 PASS）：";
    const int perRow = std::max(columns, 1);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const int p = pages[i];
        if (i > 0) {
            text += "、";
        }
        text += "第 " + std::to_string(p / perRow + 1) + " 行第 " + std::to_string(p % perRow + 1) +
                " 列";
    }
    text += "。请检查该测试头的连接。";
    return text;
}

// --- settings: board -> page table ------------------------------------------

bool StationCore::ReadRunoffSettings() {
    const std::optional<Words> reference = m_runoff.read_reference();
    if (!reference) {
        return false;
    }
    EditPage(0, [&](PageRecord& p) { Widen(*reference, p.reference); });
    const std::optional<Words> upper = m_runoff.read_upper_limits();
    if (!upper) {
        return false;
    }
    EditPage(0, [&](PageRecord& p) { Widen(*upper, p.upper); });
    const std::optional<Words> lower = m_runoff.read_lower_limits();
    if (!lower) {
        return false;
    }
    EditPage(0, [&](PageRecord& p) { Widen(*lower, p.lower); });
    const std::optional<ModeBytes> modes = m_runoff.read_channel_modes();
    if (!modes) {
        return false;
    }
    EditPage(0, [&](PageRecord& p) { p.mask = *modes; });
    const std::optional<std::uint16_t> max = m_runoff.read_range_max();
    if (!max) {
        return false;
    }
    EditPage(0, [&](PageRecord& p) { p.rangeMax = *max; });
    const std::optional<std::uint16_t> min = m_runoff.read_range_min();
    if (!min) {
        return false;
    }
    EditPage(0, [&](PageRecord& p) { p.rangeMin = *min; });
    return true;
}

bool StationCore::ReadVelmora5Settings() {
    CSectionGuard guard(&m_velmora5ReadLock);
    const std::optional<ModeBytes> header =
        m_velmora5.read_channel_modes(hiddata_velmora5::kLayoutHead);
    if (!header) {
        return false;
    }
    if (const std::optional<Velmora5Layout> layout = DecodeVelmora5Layout(*header)) {
        m_grid.SetColumns(layout->columns);
        m_grid.SetRows(layout->rows);
    }
    // Always these four pages, whatever the grid's size.
    for (int page = 0; page < hiddata_velmora5::kSettingsPages; ++page) {
        const std::uint8_t head = hiddata_velmora5::head_of_page(page);
        const std::optional<Words> reference = m_velmora5.read_reference(head);
        if (!reference) {
            return false;
        }
        EditPage(page, [&](PageRecord& p) { Widen(*reference, p.reference); });
        const std::optional<Words> upper = m_velmora5.read_upper_limits(head);
        if (!upper) {
            return false;
        }
        EditPage(page, [&](PageRecord& p) { Widen(*upper, p.upper); });
        const std::optional<Words> lower = m_velmora5.read_lower_limits(head);
        if (!lower) {
            return false;
        }
        EditPage(page, [&](PageRecord& p) { Widen(*lower, p.lower); });
        const std::optional<ModeBytes> modes = m_velmora5.read_channel_modes(head);
        if (!modes) {
            return false;
        }
        EditPage(page, [&](PageRecord& p) { p.mask = *modes; });
        const std::optional<std::uint16_t> max = m_velmora5.read_range_max(head);
        if (!max) {
            return false;
        }
        EditPage(page, [&](PageRecord& p) { p.rangeMax = *max; });
        const std::optional<std::uint16_t> min = m_velmora5.read_range_min(head);
        if (!min) {
            return false;
        }
        EditPage(page, [&](PageRecord& p) { p.rangeMin = *min; });
    }
    return true;
}

bool StationCore::ReadMasterSettings() {
    CSectionGuard guard(&m_masterReadLock);
    const int columns = m_grid.GetColumns();
    const int rows = m_grid.GetRows();
    const int pages = std::min(rows * columns, kPageCount);
    const MasterPositionMap map = m_master.position_map();
    for (int p = 0; p < pages; ++p) {
        const std::optional<std::uint8_t> head = MapHead(map, p);
        if (!head) {
            continue;  // no head: the page stays as it is
        }
        const std::optional<Words> upper = m_master.read_upper_limits(*head);
        if (!upper) {
            return false;
        }
        EditPage(p, [&](PageRecord& r) { Widen(*upper, r.upper); });
        const std::optional<Words> lower = m_master.read_lower_limits(*head);
        if (!lower) {
            return false;
        }
        // The board keeps no reference: the midpoint of the two limits,
        // counted from the lower one.
        EditPage(p, [&](PageRecord& r) {
            Widen(*lower, r.lower);
            for (std::size_t k = 0; k < kChannels; ++k) {
                r.reference[k] = DerivedReference((*upper)[k], (*lower)[k]);
            }
        });
        const std::optional<ModeBytes> modes = m_master.read_channel_modes(*head);
        if (!modes) {
            return false;
        }
        EditPage(p, [&](PageRecord& r) { r.mask = *modes; });
    }
    return ReadMasterRange(pages - 1);
}

bool StationCore::ReadMasterRange(int lastPage) {
    const std::optional<std::uint16_t> max = m_master.read_range_max();
    const std::optional<std::uint16_t> min = max ? m_master.read_range_min() : std::nullopt;
    if (max) {
        EditPage(0, [&](PageRecord& p) { p.rangeMax = *max; });
    }
    if (!min) {
        return false;
    }
    EditPage(0, [&](PageRecord& p) { p.rangeMin = *min; });
    CopyRangeFromPageZero(lastPage);
    return true;
}

bool StationCore::ReadClassicSettings() {
    // Each composite read leaves the object's fields as they were when a
    // reply did not come; only what came is copied into the page.
    if (!m_classic.read_channel_settings()) {
        return false;
    }
    const ClassicTesterFields settings = m_classic.fields();
    EditPage(0, [&](PageRecord& p) {
        Widen(settings.reference, p.reference);
        Widen(settings.upper, p.upper);
        Widen(settings.lower, p.lower);
        p.mask = settings.modes;
        p.offsetType = settings.offset_type != 0 ? 1 : 0;
        p.percentage = static_cast<float>(settings.percentage);
        p.offsetUpper = settings.offset_upper;
        p.offsetLower = settings.offset_lower;
    });
    if (!m_classic.read_identity()) {
        return false;
    }
    const ClassicTesterFields identity = m_classic.fields();
    EditPage(0, [&](PageRecord& p) {
        p.rangeMax = identity.range_max;
        p.rangeMin = identity.range_min;
    });
    return m_classic.load_firmware_info() && m_classic.reread_texts();
}

// --- settings: page table -> board -------------------------------------------

bool StationCore::WriteRunoffSettings() {
    const int page = PageOf(m_grid.GetHitRow(), m_grid.GetHitColumn(), m_grid.GetColumns());
    if (!InTable(page)) {
        return false;
    }
    const PageRecord r = PageCopy(page);
    return m_runoff.write_channel_modes(r.mask) && m_runoff.write_upper_limits(r.upper) &&
           m_runoff.write_lower_limits(r.lower) && m_runoff.write_reference(r.reference) &&
           m_runoff.write_range_max(r.rangeMax) && m_runoff.write_range_min(r.rangeMin);
}

bool StationCore::WriteVelmora5Settings(int page) {
    if (!InTable(page)) {
        return false;
    }
    const std::uint8_t head = hiddata_velmora5::head_of_page(page);
    const PageRecord r = PageCopy(page);
    return m_velmora5.write_channel_modes(head, r.mask) &&
           m_velmora5.write_upper_limits(head, r.upper) &&
           m_velmora5.write_lower_limits(head, r.lower) &&
           m_velmora5.write_reference(head, r.reference) &&
           m_velmora5.write_range_max(head, r.rangeMax) &&
           m_velmora5.write_range_min(head, r.rangeMin);
}

int StationCore::MasterHeadOfPage(int page) const {
    return DecodeMapEntry(m_master.position_map(), page).head;
}

bool StationCore::WriteMasterSettings(int page) {
    if (!InTable(page)) {
        return false;
    }
    const PageRecord r = PageCopy(page);
    const MasterMapEntry entry = DecodeMapEntry(m_master.position_map(), page);
    const int head = MasterHeadOfPage(page);
    if (entry.assigned && head < kMasterHeads) {
        const auto h = static_cast<std::uint8_t>(head);
        if (!m_master.write_channel_modes(h, r.mask) || !m_master.write_upper_limits(h, r.upper) ||
            !m_master.write_lower_limits(h, r.lower)) {
            return false;
        }
    }
    // The range is board-wide; the board has no reference.
    if (!m_master.write_range_max(r.rangeMax) || !m_master.write_range_min(r.rangeMin)) {
        return false;
    }
    return ReadMasterRange(kMasterWriteRangePages);
}

bool StationCore::WriteClassicSettings() {
    const PageRecord r = PageCopy(0);
    // Every channel setting is an exchange of its own.
    for (int k = 0; k < kChannels; ++k) {
        if (!m_classic.write_channel_mode(r.mask[static_cast<std::size_t>(k)], k)) {
            return false;
        }
    }
    for (int k = 0; k < kChannels; ++k) {
        if (!m_classic.write_upper_limit(r.upper[static_cast<std::size_t>(k)], k)) {
            return false;
        }
    }
    for (int k = 0; k < kChannels; ++k) {
        if (!m_classic.write_lower_limit(r.lower[static_cast<std::size_t>(k)], k)) {
            return false;
        }
    }
    for (int k = 0; k < kChannels; ++k) {
        if (!m_classic.write_reference(r.reference[static_cast<std::size_t>(k)], k)) {
            return false;
        }
    }
    return m_classic.write_range_max(r.rangeMax) && m_classic.write_range_min(r.rangeMin) &&
           m_classic.write_offset_type(r.offsetType) &&
           m_classic.write_percentage(TruncatedPercentage(r.percentage)) &&
           m_classic.write_offset_upper(r.offsetUpper) &&
           m_classic.write_offset_lower(r.offsetLower);
}

bool StationCore::WritePageToBoards(int page, SettingsWriteRun& run) {
    bool all = true;
    const auto write = [&all](bool connected, bool& missed, auto&& op) {
        if (!connected) {
            return;
        }
        if (missed || !op()) {
            missed = true;
            all = false;
        }
    };
    write(m_noClassic == 0, run.classicMissed, [&] { return WriteClassicSettings(); });
    write(m_noMaster == 0, run.masterMissed, [&] { return WriteMasterSettings(page); });
    write(m_noVelmora5 == 0, run.velmora5Missed, [&] { return WriteVelmora5Settings(page); });
    write(m_noRunoff == 0, run.runoffMissed, [&] { return WriteRunoffSettings(); });
    return all;
}

// --- closing ------------------------------------------------------------------

void StationCore::Close() {
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
    if (m_noRunoff == 0) {
        m_runoff.set_outputs(0, 0, 0, 0);
    }
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "station/family_master.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "station/page_access.h"
#include "station/station_texts.h"

namespace kx {

std::atomic<std::uint8_t> g_emergencyStop{0};

namespace {

// Pages the write's range read-back refreshes besides page 0.
constexpr int kWriteRangePages = 3;
// How long a head that keeps missing its reads waits before it is tried
// again: from the second miss on, doubling up to the longest.
constexpr std::chrono::milliseconds kSilentHeadFirstRetry{250};
constexpr std::chrono::milliseconds kSilentHeadRetry{2000};

// Pages 1 .. lastPage (cut to the table) take page 0's range.
void CopyRangeFromPageZero(PageStore& pages, int lastPage) {
    CSectionGuard guard(&pages.lock);
    const PageRecord& first = pages.table[0];
    for (int p = 1; p <= std::min(lastPage, kPageCount - 1); ++p) {
        pages.table[static_cast<std::size_t>(p)].rangeMax = first.rangeMax;
        pages.table[static_cast<std::size_t>(p)].rangeMin = first.rangeMin;
    }
}

}  // namespace

MasterFamily::MasterFamily(HidBus& bus, FamilyHost& host)
    : BoardFamily(host), kestrun9_(bus), master_(bus) {
    master_.clear_head_count();
}

const char* MasterFamily::Title() const {
    return kTitleOrvane;
}

void MasterFamily::Probe(OpenRefusal& refusal) {
    present_ = master_.open_board() == 0 && master_.open_board() == 0;
    refusal.Note(master_, kName);
    kestrun9Present_ = kestrun9_.open_board() == 0 && kestrun9_.open_board() == 0;
}

bool MasterFamily::SetUp() {
    GridModel& grid = host_.Grid();
    host_.SetTypesAvailable(false);
    master_.probe_heads();
    // A board that does not answer costs one bound here, not one per
    // command; the grid then keeps its size.
    if (!master_.load_position_map()) {
        return false;
    }
    const std::optional<std::uint8_t> columns = master_.read_columns();
    const std::optional<std::uint8_t> rows = columns ? master_.read_rows() : std::nullopt;
    if (!columns || !rows) {
        return false;
    }
    grid.SetColumns(*columns);
    grid.SetRows(*rows);
    return ReadSettings();
}

void MasterFamily::Step() {
    GridModel& grid = host_.Grid();
    StepReads step(master_);
    const std::uint32_t epoch = grid.DataEpoch();
    const int pages = std::min(grid.GetRows() * grid.GetColumns(), kPageCount);
    const MasterPositionMap map = master_.position_map();

    // Every head is read, whether an earlier one answered or not: a silent
    // head must not stop the others, the inputs or the outputs.
    struct Read {
        int page;
        Words values;
    };
    std::vector<Read> reads;
    std::uint64_t silent = 0;
    const std::uint64_t wasSilent = host_.SilentPageBits();
    const auto now = std::chrono::steady_clock::now();
    for (int p = 0; p < pages; ++p) {
        const std::optional<std::uint8_t> head = MapHead(map, p);
        if (!head) {
            continue;  // no head: the page keeps its live values and has no data
        }
        const std::uint64_t bit = std::uint64_t{1} << p;
        auto& retry = retryAt_[static_cast<std::size_t>(p)];
        auto& misses = misses_[static_cast<std::size_t>(p)];
        // A head that did not answer costs a read bound and the late-reply
        // window each time it is tried. One miss is tried again at the next
        // step; a head that keeps missing is tried less and less often (up
        // to every kSilentHeadRetry), so that the other heads, the inputs
        // and the outputs keep their pace.
        if ((wasSilent & bit) != 0 && now < retry) {
            silent |= bit;
            host_.SetPageEpoch(p, 0);
            continue;
        }
        if (const std::optional<Words> values = master_.read_values(*head)) {
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
            host_.SetPageEpoch(p, 0);
        }
    }

    const std::optional<std::uint8_t> first = master_.read_buzzer_settings();
    const std::optional<std::uint8_t> second = master_.read_buzzer_settings();
    const bool latched = g_emergencyStop.load() != 0;
    const std::optional<MasterIoBytes> inputs = master_.read_inputs();

    const bool inStep = step.InStep();
    for (const Read& read : reads) {
        if (inStep) {
            host_.Pages().EditPage(read.page, [&](PageRecord& r) { Widen(read.values, r.live); });
        }
        host_.SetPageEpoch(read.page, inStep ? epoch : 0);
    }
    if (inStep && first && second) {
        buzzerOn_ = BuzzerOn(*first);
        buzzerInverted_ = BuzzerInverted(*second);
    }
    host_.NoteSilentPages(silent);

    if (latched) {
        // The inputs are read as always, but only the latched outputs go,
        // and nothing reaches the grid.
        master_.write_outputs(MasterOutputs({}, 0, false, buzzerOn_, buzzerInverted_, true));
        host_.CheckLost(master_);
        return;
    }
    if (inputs && inStep) {
        inputs_ = *inputs;
        if (EmergencyStop(*inputs)) {
            g_emergencyStop = 1;  // takes effect from the next step
        }
    }

    host_.HandOverPages();

    master_.write_outputs(MasterOutputs(inputs_, grid.GetFailCount(), grid.GetPassAllowed(),
                                        buzzerOn_, buzzerInverted_, false));
    host_.CheckLost(master_);
}

void MasterFamily::ForgetData() {
    retryAt_.fill({});
    misses_.fill(0);
}

bool MasterFamily::ReadSettings() {
    CSectionGuard guard(&readLock_);
    const int columns = host_.Grid().GetColumns();
    const int rows = host_.Grid().GetRows();
    const int pages = std::min(rows * columns, kPageCount);
    const MasterPositionMap map = master_.position_map();
    for (int p = 0; p < pages; ++p) {
        const std::optional<std::uint8_t> head = MapHead(map, p);
        if (!head) {
            continue;  // no head: the page stays as it is
        }
        const std::optional<Words> upper = master_.read_upper_limits(*head);
        if (!upper) {
            return false;
        }
        host_.Pages().EditPage(p, [&](PageRecord& r) { Widen(*upper, r.upper); });
        const std::optional<Words> lower = master_.read_lower_limits(*head);
        if (!lower) {
            return false;
        }
        // The board keeps no reference: the midpoint of the two limits,
        // counted from the lower one.
        host_.Pages().EditPage(p, [&](PageRecord& r) {
            Widen(*lower, r.lower);
            for (std::size_t k = 0; k < kChannels; ++k) {
                r.reference[k] = DerivedReference((*upper)[k], (*lower)[k]);
            }
        });
        const std::optional<ModeBytes> modes = master_.read_channel_modes(*head);
        if (!modes) {
            return false;
        }
        host_.Pages().EditPage(p, [&](PageRecord& r) { r.mask = *modes; });
    }
    return ReadRange(pages - 1);
}

bool MasterFamily::ReadRange(int lastPage) {
    const std::optional<std::uint16_t> max = master_.read_range_max();
    const std::optional<std::uint16_t> min = max ? master_.read_range_min() : std::nullopt;
    if (max) {
        host_.Pages().EditPage(0, [&](PageRecord& p) { p.rangeMax = *max; });
    }
    if (!min) {
        return false;
    }
    host_.Pages().EditPage(0, [&](PageRecord& p) { p.rangeMin = *min; });
    CopyRangeFromPageZero(host_.Pages(), lastPage);
    return true;
}

int MasterFamily::HeadOfPage(int page) const {
    return DecodeMapEntry(master_.position_map(), page).head;
}

bool MasterFamily::WritePage(int page) {
    if (!InTable(page)) {
        return false;
    }
    const PageRecord r = host_.Pages().Copy(page);
    const MasterMapEntry entry = DecodeMapEntry(master_.position_map(), page);
    const int head = HeadOfPage(page);
    if (entry.assigned && head < kMasterHeads) {
        const auto h = static_cast<std::uint8_t>(head);
        if (!master_.write_channel_modes(h, r.mask) || !master_.write_upper_limits(h, r.upper) ||
            !master_.write_lower_limits(h, r.lower)) {
            return false;
        }
    }
    // The range is board-wide; the board has no reference.
    if (!master_.write_range_max(r.rangeMax) || !master_.write_range_min(r.rangeMin)) {
        return false;
    }
    return ReadRange(kWriteRangePages);
}

bool MasterFamily::WriteEditedPage(int page) {
    // The range is board-wide: every page the grid shows takes what the
    // board now holds. No read after a write that went unanswered.
    const GridModel& grid = host_.Grid();
    return WritePage(page) && ReadRange(grid.GetRows() * grid.GetColumns() - 1);
}

}  // namespace kx

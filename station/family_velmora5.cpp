// SPDX-License-Identifier: MIT
#include "station/family_velmora5.h"

#include "station/page_access.h"
#include "station/station_texts.h"

namespace kx {

std::atomic<std::uint8_t> g_velmora5Page{0};

namespace {

constexpr int kVelmora5LastPage = hiddata_velmora5::kAcquiredPages - 1;  // 4

}  // namespace

Velmora5Family::Velmora5Family(HidBus& bus, FamilyHost& host) : BoardFamily(host), velmora5_(bus) {}

const char* Velmora5Family::Title() const {
    return kTitleVelmora5;
}

void Velmora5Family::Probe(OpenRefusal& refusal) {
    // Its three identities in order.
    present_ = false;
    for (const Velmora5IdentityRow& row : hiddata_velmora5::identity_table()) {
        if (velmora5_.probe(row.probe) != 0) {
            refusal.Note(velmora5_, kName);
            continue;
        }
        present_ = velmora5_.probe(row.probe) == 0;
        refusal.Note(velmora5_, kName);
        break;
    }
}

bool Velmora5Family::SetUp() {
    host_.Grid().SetColumns(2);
    host_.Grid().SetRows(2);
    // The first read may change the grid's size; the second reads the pages
    // again with it.
    const bool answered = ReadSettings() && ReadSettings();
    ready_ = true;
    return answered;
}

void Velmora5Family::Step() {
    GridModel& grid = host_.Grid();
    int page = g_velmora5Page.load();
    if (page > kVelmora5LastPage) {
        page = 0;
    }
    StepReads step(velmora5_);
    const std::uint32_t epoch = grid.DataEpoch();
    const std::optional<Words> values = velmora5_.read_values(hiddata_velmora5::head_of_page(page));
    StoreStepValues(page, values, step.InStep(), epoch);
    g_velmora5Page = static_cast<std::uint8_t>(page < kVelmora5LastPage ? page + 1 : 0);

    host_.HandOverPages();

    const bool pass = grid.GetFailCount() == 0 && grid.GetPassAllowed();
    velmora5_.set_result(pass ? 1 : 0, pass ? 0 : 1);
    host_.CheckLost(velmora5_);
}

bool Velmora5Family::ReadSettings() {
    CSectionGuard guard(&readLock_);
    const std::optional<ModeBytes> header =
        velmora5_.read_channel_modes(hiddata_velmora5::kLayoutHead);
    if (!header) {
        return false;
    }
    if (const std::optional<Velmora5Layout> layout = DecodeVelmora5Layout(*header)) {
        host_.Grid().SetColumns(layout->columns);
        host_.Grid().SetRows(layout->rows);
    }
    // Always these four pages, whatever the grid's size.
    for (int page = 0; page < hiddata_velmora5::kSettingsPages; ++page) {
        if (!ReadHeadSettings(host_.Pages(), page, velmora5_,
                              hiddata_velmora5::head_of_page(page))) {
            return false;
        }
    }
    return true;
}

bool Velmora5Family::WritePage(int page) {
    if (!InTable(page)) {
        return false;
    }
    return WriteHeadSettings(host_.Pages().Copy(page), velmora5_,
                             hiddata_velmora5::head_of_page(page));
}

}  // namespace kx

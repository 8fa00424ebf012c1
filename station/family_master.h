// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "core/page_table.h"
#include "core/section_lock.h"
#include "core/tr_text.h"
#include "hid/hiddata_kestrun9.h"
#include "hid/hiddata_masterhid.h"
#include "station/board_family.h"

namespace kx {

// 1 once the master board reported an emergency stop; only the master
// board's information dialog ("清急停") clears it.
extern std::atomic<std::uint8_t> g_emergencyStop;

// The master board: up to 100 heads on a grid its position map lays out,
// every head read at every step, its inputs, buzzer settings and outputs.
// Its Kestrun9 side is opened with it and otherwise only cancelled and told
// of removals.
class MasterFamily final : public BoardFamily {
public:
    static constexpr FamilyId kId = FamilyId::Master;
    // Untranslated: it goes into the test records as it is; messages show
    // it through ShownFamilyName.
    static constexpr const char* kName = KX_TRANSLATE_NOOP("BoardFamily", "多测试头主板");

    MasterFamily(HidBus& bus, FamilyHost& host);

    FamilyId Id() const override { return kId; }
    const char* Name() const override { return kName; }
    const char* Title() const override;

    void Probe(OpenRefusal& refusal) override;
    // The readiness is the board object's head count.
    bool Ready() const override { return master_.head_count() != 0; }
    void ClearReady() override { master_.clear_head_count(); }
    // Device types unavailable, heads probed, position map loaded, the grid
    // sized as the board says, then the settings.
    bool SetUp() override;

    void Step() override;
    void ForgetData() override;

    // Limits and modes of every page of the grid that has a head, then the
    // range (ReadRange of the last page).
    bool ReadSettings() override;
    // The board's range, read back into page 0 and copied into pages 1 to
    // lastPage (at most 63).
    bool ReadRange(int lastPage);
    // The page's per-head settings, unless its map entry has no head (or a
    // head number the board cannot have), then the board-wide range, read
    // back into page 0 and copied into pages 1 to 3. A page outside the
    // table writes nothing and returns false.
    bool WritePage(int page) override;
    // WritePage, then the range read back into every page of the grid.
    bool WriteEditedPage(int page) override;
    // Head number of the map entry of a page: its second byte without bit 7
    // (0 for a page beyond the map).
    int HeadOfPage(int page) const;

    hiddata_masterHID& Board() { return master_; }
    hiddata_kestrun9& Kestrun9() { return kestrun9_; }
    bool Kestrun9Present() const { return kestrun9Present_.load(); }

private:
    std::vector<hiddata*> Boards() override { return {&kestrun9_, &master_}; }

    hiddata_kestrun9 kestrun9_;
    hiddata_masterHID master_;
    std::atomic<bool> kestrun9Present_{false};
    // Taken by a whole settings read: m_connectLock -> this -> the protocol
    // object's lock.
    CSectionLock readLock_;

    // Worker: the last inputs and buzzer settings read in step, and when a
    // head that keeps missing its reads is tried again.
    MasterIoBytes inputs_{};
    bool buzzerOn_ = false;
    bool buzzerInverted_ = false;
    std::array<std::chrono::steady_clock::time_point, kPageCount> retryAt_{};
    std::array<int, kPageCount> misses_{};
};

}  // namespace kx

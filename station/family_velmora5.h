// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>

#include "core/section_lock.h"
#include "core/tr_text.h"
#include "hid/hiddata_velmora5.h"
#include "station/board_family.h"

namespace kx {

// Page (0..4) whose live values the next step reads from the Velmora5 board.
extern std::atomic<std::uint8_t> g_velmora5Page;

// The Velmora5 board: up to four heads laid out as its layout record says;
// one page's live values per step.
class Velmora5Family final : public BoardFamily {
public:
    static constexpr FamilyId kId = FamilyId::Velmora5;
    // Untranslated: it goes into the test records as it is; messages show
    // it through ShownFamilyName.
    static constexpr const char* kName = KX_TRANSLATE_NOOP("BoardFamily", "Velmora5 多头测试板");

    Velmora5Family(HidBus& bus, FamilyHost& host);

    FamilyId Id() const override { return kId; }
    const char* Name() const override { return kName; }
    const char* Title() const override;

    void Probe(OpenRefusal& refusal) override;
    std::optional<bool> DeviceTypesAvailable() const override { return false; }
    bool Ready() const override { return ready_.load(); }
    void ClearReady() override { ready_ = false; }
    bool SetUp() override;

    void Step() override;

    // The layout record (the grid takes its size), then always the four
    // settings pages, whatever the grid's size.
    bool ReadSettings() override;
    // A page outside the table writes nothing and returns false.
    bool WritePage(int page) override;

    hiddata_velmora5& Board() { return velmora5_; }

private:
    std::vector<hiddata*> Boards() override { return {&velmora5_}; }

    hiddata_velmora5 velmora5_;
    std::atomic<bool> ready_{false};
    // Taken by a whole settings read: m_connectLock -> this -> the protocol
    // object's lock.
    CSectionLock readLock_;
};

}  // namespace kx

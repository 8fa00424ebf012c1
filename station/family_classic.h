// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>

#include "core/tr_text.h"
#include "hid/classic_tester.h"
#include "station/board_family.h"

namespace kx {

// Channel position (0..32) the next acquisition step reads from the classic
// tester; position 32 lands in live[32] of page 0.
extern std::atomic<std::int32_t> g_classicChannel;

// The classic tester: one head, one channel read per step; its head has
// data once each of its 32 channels answered since the grid's data epoch
// last changed.
class ClassicFamily final : public BoardFamily {
public:
    static constexpr FamilyId kId = FamilyId::Classic;
    // Untranslated: it goes into the test records as it is; messages show
    // it through ShownFamilyName.
    static constexpr const char* kName = KX_TRANSLATE_NOOP("BoardFamily", "经典测试仪");

    ClassicFamily(HidBus& bus, FamilyHost& host);

    FamilyId Id() const override { return kId; }
    const char* Name() const override { return kName; }
    const char* Title() const override;

    void Probe(OpenRefusal& refusal) override;
    bool Ready() const override { return ready_.load(); }
    void ClearReady() override { ready_ = false; }
    bool SetUp() override;
    // With the firmware version and serial number its set-up read.
    BoardInfo Describe() override;

    void Step() override;
    void ForgetData() override { answered_ = 0; }

    // Channel settings, identity (range), firmware information and texts.
    // Each composite read leaves the object's fields as they were when a
    // reply did not come; only what came is copied into page 0.
    bool ReadSettings() override;
    // Page 0, whatever page is loaded: every channel setting is an exchange
    // of its own.
    bool WritePage(int /*page*/) override { return WriteSettings(); }
    bool WriteSettings();

    CClassicTester& Board() { return classic_; }

private:
    std::vector<hiddata*> Boards() override { return {&classic_}; }

    CClassicTester classic_;
    std::atomic<bool> ready_{false};
    // Worker: channels answered at epoch_.
    std::uint64_t answered_ = 0;
    std::uint32_t epoch_ = 0;
};

}  // namespace kx

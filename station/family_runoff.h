// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

#include "core/tr_text.h"
#include "hid/hiddata_simple_runoff.h"
#include "station/board_family.h"

namespace kx {

// The one-to-one tester: one head, found through the identity chain of the
// device type checked in the menu.
class RunoffFamily final : public BoardFamily {
public:
    static constexpr FamilyId kId = FamilyId::OneToOne;
    // Untranslated: it goes into the test records as it is; messages show
    // it through ShownFamilyName.
    static constexpr const char* kName = KX_TRANSLATE_NOOP("BoardFamily", "一拖一测试板");

    RunoffFamily(HidBus& bus, FamilyHost& host);

    FamilyId Id() const override { return kId; }
    const char* Name() const override { return kName; }
    const char* Title() const override;

    void Probe(OpenRefusal& refusal) override;
    std::optional<bool> DeviceTypesAvailable() const override { return true; }
    std::optional<int> OtherDeviceType(int checkedType) const override;
    bool Ready() const override { return ready_.load(); }
    void ClearReady() override { ready_ = false; }
    bool SetUp() override;

    void Step() override;
    void ForgetData() override { outputs_.reset(); }

    bool ReadSettings() override;
    // The one head takes the page of the head under the pointer, whatever
    // page is loaded.
    bool WritePage(int /*page*/) override { return WriteSettings(); }
    // The page of the head under the pointer -> board.
    bool WriteSettings();

    // Outputs (0, 0, 0, 0) on a connected board.
    void SwitchOff() override;

    hiddata_simple_runoff& Board() { return runoff_; }
    // The OEM name of the identity row the last probe matched ("" for none).
    // User-interface thread.
    const std::string& OemName() const { return oemName_; }

private:
    std::vector<hiddata*> Boards() override { return {&runoff_}; }

    hiddata_simple_runoff runoff_;
    std::atomic<bool> ready_{false};
    std::string oemName_;
    // Worker: the outputs last taken by the board.
    std::optional<RunoffOutputs> outputs_;
};

}  // namespace kx

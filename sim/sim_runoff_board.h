// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/sim_board.h"

namespace kx::sim {

// Everything a one-to-one tester keeps in its memory.
struct RunoffMemory {
    std::array<std::uint16_t, 32> reference{};
    std::array<std::uint16_t, 32> upper{};
    std::array<std::uint16_t, 32> lower{};
    std::array<std::uint8_t, 32> modes{};
    std::uint16_t range_max = 1500;
    std::uint16_t range_min = 10;
    std::uint16_t firmware_version = 0x0203;
    std::uint16_t firmware_year = 2026;
    std::uint8_t firmware_month = 3;
    std::uint8_t firmware_day = 15;
    std::string author = "kx-fw";
    std::uint8_t feature_flags = 0x80;  // bit 7: offline display may be changed
    std::uint8_t offline_display = 0;
    std::uint8_t edition = 1;
    std::string serial_number = "SN20260315001";
    std::string device_id = "DEV-0001";
    std::string logo_text = "KALDRIX";
    std::string vendor_code = "VC-ORV";

    // The last set_outputs the board was given, and how many it got.
    std::array<std::uint8_t, 4> outputs{};  // pass, fail, third, buzzer
    int outputs_written = 0;
};

// A one-to-one tester in software: answers every query of its protocol from
// its memory, takes every set (and sends the reply the station discards), and
// measures its 32 channels through a signal model around the reference.
class SimRunoffBoard : public SimMemoryBoard<RunoffMemory> {
public:
    // `manufacturer` selects the identity row (for example "TARSEL_DEV2").
    explicit SimRunoffBoard(const std::string& manufacturer, std::uint32_t seed = 1);

    const char* family() const override { return "one-to-one"; }

    // Live values: an exact value on a channel, or back to the signal model.
    void set_value(int channel, std::uint16_t value);
    void clear_value(int channel);
    void set_noise(int amplitude);
    // A finger on the panel now and then (see TouchPattern).
    void set_touches(const TouchPattern& pattern);

protected:
    void on_output(const Frame& frame) override;

private:
    Frame query_reply(std::uint8_t code);
    void apply_set(std::uint8_t code, const Frame& data);

    SignalModel signal_;
    std::optional<std::uint8_t> pending_set_;
};

}  // namespace kx::sim

// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/sim_board.h"

namespace kx::sim {

// Everything a classic tester keeps in its memory.
struct ClassicMemory {
    std::array<std::uint16_t, 32> upper{};
    std::array<std::uint16_t, 32> lower{};
    std::array<std::uint16_t, 32> reference{};
    std::array<std::uint8_t, 32> modes{};
    std::uint8_t offset_type = 1;
    std::uint8_t percentage = 10;
    std::uint16_t offset_upper = 100;
    std::uint16_t offset_lower = 100;
    std::uint8_t reserved = 0x5A;
    // 8-byte texts; eight characters fill the field without a terminator.
    std::string serial_number = "CT250001";
    std::string device_id = "DEV-0042";
    std::string vendor_code = "VC-CLS";
    std::uint16_t firmware_year = 2025;
    std::uint8_t firmware_month = 11;
    std::uint8_t firmware_day = 20;
    std::uint16_t firmware_version = 0x0107;
    std::uint8_t firmware_flags = 0x80;
    std::uint16_t range_max = 1500;
    std::uint16_t range_min = 10;
    // Answer to the live-value query for channel 32, which has no channel.
    std::uint16_t channel32_value = 0;
};

// A classic tester in software. It speaks feature reports only: a query
// frame (0x55 0xAA at bytes 7-8) prepares the reply that the next feature
// read returns; a set frame (value at bytes 3-4, little-endian) changes the
// memory. Query frames without the marker are ignored.
class SimClassicBoard : public SimMemoryBoard<ClassicMemory> {
public:
    explicit SimClassicBoard(std::uint32_t seed = 1);

    const char* family() const override { return "classic"; }

    void set_value(int channel, std::uint16_t value);
    void set_noise(int amplitude);
    // A finger on the panel now and then (see TouchPattern).
    void set_touches(const TouchPattern& pattern);

protected:
    void on_output(const Frame& /*frame*/) override {}  // no interrupt-pipe commands
    void on_set_feature(const Frame& frame) override;
    bool on_get_feature(Frame& frame) override;

private:
    Frame answer(std::uint8_t code, std::size_t channel);
    void apply(std::uint8_t code, std::size_t channel, std::uint16_t value);

    SignalModel signal_;
    Frame reply_{};
};

// A Kestrun9 board: it has an identity and nothing the station talks to.
class SimKestrun9Board : public SimBoard {
public:
    // identity 0 reports "Kestrun9", 1 to 4 "Kestrun9-1" to "Kestrun9-4".
    explicit SimKestrun9Board(int identity = 0);
    const char* family() const override { return "Kestrun9"; }

protected:
    void on_output(const Frame& /*frame*/) override {}
};

}  // namespace kx::sim

// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/sim_board.h"

namespace kx::sim {

// One head's pages in the Velmora5 board's memory.
struct Velmora5HeadMemory {
    std::array<std::uint16_t, 32> reference{};
    std::array<std::uint16_t, 32> upper{};
    std::array<std::uint16_t, 32> lower{};
    std::array<std::uint8_t, 32> modes{};
    std::uint16_t range_max = 1500;
    std::uint16_t range_min = 10;
};

struct Velmora5Memory {
    static constexpr int kHeads = 8;
    // Heads 0 to 7; the first three bytes of head 1's modes are the layout
    // record (in use, rows, columns).
    std::array<Velmora5HeadMemory, kHeads> heads{};
    std::uint16_t firmware_version = 0x0301;
    std::uint16_t firmware_year = 2025;
    std::uint8_t firmware_month = 11;
    std::uint8_t firmware_day = 2;
    std::string vendor_code = "borvane";
    std::string device_id = "V5-0001";
    // Sequences the board dropped because a head report or a command was not
    // what it expected.
    int protocol_errors = 0;
};

// A Velmora5 board in software. Head queries and head sets come in several
// reports; the board checks each head report's filler, answers queries from
// its memory and never answers a set. Live values come from a signal model
// per head around the head's reference.
class SimVelmora5Board : public SimMemoryBoard<Velmora5Memory> {
public:
    explicit SimVelmora5Board(const std::string& manufacturer = "borvane",
                              std::uint16_t vendor_id = 0xDEFE, std::uint16_t product_id = 0x12EF,
                              std::uint32_t seed = 1);

    const char* family() const override { return "Velmora5"; }

    void set_value(int head, int channel, std::uint16_t value);
    void clear_value(int head, int channel);
    void set_noise(int amplitude);
    // A finger now and then on every head, each head on its own schedule
    // (see TouchPattern).
    void set_touches(const TouchPattern& pattern);

protected:
    void on_output(const Frame& frame) override;

private:
    enum class Await { Command, FullHead, ShortHead, Data };

    void on_command(const Frame& frame);
    Frame head_reply(std::uint8_t code, int head);
    void apply_set(std::uint8_t code, int head, const Frame& data);
    Velmora5HeadMemory* head_memory(int head);

    std::array<SignalModel, Velmora5Memory::kHeads> signals_;
    Await await_ = Await::Command;
    std::uint8_t code_ = 0;
    int head_ = 0;
};

}  // namespace kx::sim

// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "sim/sim_board.h"

namespace kx::sim {

// One head's settings in the master board's memory.
struct MasterHeadMemory {
    std::array<std::uint16_t, 32> upper{};
    std::array<std::uint16_t, 32> lower{};
    std::array<std::uint8_t, 32> modes{};
};

// Everything a master board keeps in its memory.
struct MasterMemory {
    // Bit h set: a head answers at number h.
    std::uint32_t present = 0;
    // What a present head answers to a probe (an absent one answers 0xFF).
    std::uint8_t probe_reply = 0x01;
    std::array<MasterHeadMemory, 32> heads{};
    // 16 entries of 2 bytes: column << 4 | row, then 0x80 | head.
    std::array<std::uint8_t, 32> position_map{};
    std::uint8_t rows = 1;
    std::uint8_t columns = 1;
    std::uint8_t buzzer = 0x80;  // bit 7 on, bit 0 inverted
    std::uint16_t range_max = 1500;
    std::uint16_t range_min = 10;
    // Input bytes 1-7 (index 0 = byte 1); byte 7 is the emergency stop.
    std::array<std::uint8_t, 7> inputs{};
    // The last outputs written (bytes 1-7) and how many writes came.
    std::array<std::uint8_t, 7> outputs{};
    int outputs_written = 0;
    std::uint16_t firmware_version = 0x0104;
    std::uint16_t firmware_year = 2026;
    std::uint8_t firmware_month = 4;
    std::uint8_t firmware_day = 20;
    std::string device_id = "MB-0001";
    std::string vendor_code = "borvane";
    // Commands the board did not know.
    int unknown_commands = 0;
};

// A master board in software: up to 32 heads, each answering per-head
// queries and sets from its memory, the board-wide settings, inputs a test
// can set and a record of the outputs written. Every set gets a reply (the
// station reads and discards it). Live values come from a signal model per
// head around the middle of the head's limits.
class SimMasterBoard : public SimMemoryBoard<MasterMemory> {
public:
    explicit SimMasterBoard(const std::string& manufacturer = "borvane", std::uint32_t seed = 1);

    const char* family() const override { return "master"; }

    // The heads that answer; all others are absent.
    void set_present_heads(std::initializer_list<int> heads);
    // Assigns a head to a grid position of the board's map (position 0-15),
    // or clears the assignment with head = nullopt.
    void assign(int position, int row, int column, std::optional<int> head);
    // Input byte 1 to 7 (7 = emergency stop).
    void set_input(int byte, std::uint8_t value);

    // Live values of a head: an exact value on a channel, or back to the
    // signal model.
    void set_value(int head, int channel, std::uint16_t value);
    void clear_value(int head, int channel);
    void set_noise(int amplitude);
    // A finger now and then on every head, each head on its own schedule
    // (see TouchPattern).
    void set_touches(const TouchPattern& pattern);

protected:
    void on_output(const Frame& frame) override;

private:
    bool has_head(int head) const;
    Frame query_reply(std::uint8_t code, int head);
    void apply_set(std::uint8_t code, int head, const Frame& data);

    struct PendingSet {
        std::uint8_t code;
        int head;
    };

    std::array<SignalModel, 32> signals_;
    std::optional<PendingSet> pending_set_;
};

}  // namespace kx::sim

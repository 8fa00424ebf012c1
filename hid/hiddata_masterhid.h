// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "hid/hiddata.h"

namespace kx {

// --- position map ------------------------------------------------------------
//
// The master board keeps a map of 16 grid positions (numbered row by row) to
// the board heads that feed them, two bytes per position:
//   byte 0: column in bits 7-4, row in bits 3-0
//   byte 1: bit 7 set = a head is assigned, bits 6-0 the head's number

inline constexpr int kMasterHeads = 32;
inline constexpr int kMasterMapPositions = 16;
using MasterPositionMap = std::array<std::uint8_t, 2 * kMasterMapPositions>;

struct MasterMapEntry {
    std::uint8_t column = 0;  // 4 bits
    std::uint8_t row = 0;     // 4 bits
    bool assigned = false;
    std::uint8_t head = 0;  // 7 bits
    friend bool operator==(const MasterMapEntry&, const MasterMapEntry&) = default;
};

// The entry of a position as the board stores it; a position outside 0 to 15
// has no entry and reads as unassigned.
MasterMapEntry DecodeMapEntry(const MasterPositionMap& map, int position);
// Stores an entry (column and row cut to 4 bits, head to 7); a position
// outside 0 to 15 is ignored.
void EncodeMapEntry(MasterPositionMap& map, int position, const MasterMapEntry& entry);

// The board head the station talks to for a grid position: nullopt when the
// position is unassigned, beyond the map, or names a head number the board
// cannot have (32 or more, e.g. the 127 an unfilled dialog cell leaves).
std::optional<std::uint8_t> MapHead(const MasterPositionMap& map, int position);

// --- inputs and outputs ----------------------------------------------------
//
// The seven input bytes (reply bytes 1-7 of read_inputs) and the seven output
// bytes (bytes 1-7 of write_outputs); index 0 is byte 1.
using MasterIoBytes = std::array<std::uint8_t, 7>;

// Input byte 7 is the emergency stop; 1 = triggered.
constexpr bool EmergencyStop(const MasterIoBytes& inputs) {
    return inputs[6] == 1;
}

// The buzzer settings byte: bit 7 = buzzer on, bit 0 = inverted.
constexpr bool BuzzerOn(std::uint8_t settings) {
    return (settings & 0x80) != 0;
}
constexpr bool BuzzerInverted(std::uint8_t settings) {
    return (settings & 0x01) != 0;
}
constexpr std::uint8_t BuzzerSettingsByte(bool on, bool inverted) {
    return static_cast<std::uint8_t>((on ? 0x80 : 0) | (inverted ? 0x01 : 0));
}

// The outputs of one acquisition step. Normal step: input bytes 1, 2, 4 and
// 7 echoed, byte 3 = pass (no failing head), byte 5 = the fail count's low 8
// bits, byte 6 = the buzzer drive (off: 0; on: the fail count's low 8 bits,
// or, inverted, 1 on pass). While the emergency-stop latch is set every
// byte is 0 except byte 6, which is 1 when the buzzer is on.
MasterIoBytes MasterOutputs(const MasterIoBytes& inputs, int failCount, bool buzzerOn,
                            bool buzzerInverted, bool emergencyLatched);
// The same when a pass must also be allowed (a head without data is not a
// pass): byte 3 is 1 only with no failing head and the pass allowed.
MasterIoBytes MasterOutputs(const MasterIoBytes& inputs, int failCount, bool passAllowed,
                            bool buzzerOn, bool buzzerInverted, bool emergencyLatched);

// The reference the station derives from a channel's limits when it reads a
// master board's settings: half their distance (truncated) added to the lower
// limit, whichever of the two is larger (1100/500 gives 800, 500/1100 gives
// 1400).
constexpr std::int32_t DerivedReference(std::uint16_t upper, std::uint16_t lower) {
    const std::int32_t distance = upper > lower ? upper - lower : lower - upper;
    return distance / 2 + lower;
}

// The master board: up to 32 heads of 32 channels on one device, addressed
// by the head number in byte 4 of the command report, plus board-wide
// settings, inputs and outputs. Every 16-bit quantity is big-endian.
//
// The acquisition worker and the user-interface thread share one object.
// Every operation holds the object's lock from its first report to its read,
// and every result is returned by value, so no caller sees another thread's
// reply.
class hiddata_masterHID : public hiddata {
public:
    static constexpr std::uint16_t kVendorId = 0x0122;
    static constexpr std::uint16_t kProductId = 0x1985;
    static constexpr const char* kProduct = "Orvane";

    explicit hiddata_masterHID(HidBus& bus);
    ~hiddata_masterHID() override;

    // 0 when the board was opened, 1 when none was found (the object is then
    // closed).
    int open_board();

    // Queries return nullopt when their own reply did not come (the board
    // did not answer within the bound, is gone, or the object is closed or
    // cancelled); the caller decides what a missing value means. Writes
    // return true when the board acknowledged them with its reply.

    // Per-head commands.
    std::optional<Words> read_values(std::uint8_t head);
    std::optional<Words> read_upper_limits(std::uint8_t head);
    std::optional<Words> read_lower_limits(std::uint8_t head);
    std::optional<ModeBytes> read_channel_modes(std::uint8_t head);
    // The low 16 bits of at most 32 values (the station always sends 32);
    // with fewer, the bytes after the last value keep the command report's.
    bool write_upper_limits(std::uint8_t head, std::span<const std::int32_t> values);
    bool write_lower_limits(std::uint8_t head, std::span<const std::int32_t> values);
    bool write_channel_modes(std::uint8_t head, std::span<const std::uint8_t> modes);
    // True when a head answers at this number. A probe that gets no reply
    // counts the head absent.
    bool probe_head(std::uint8_t head);

    // Board-wide commands.
    std::optional<MasterPositionMap> read_position_map();
    bool write_position_map(const MasterPositionMap& map);
    std::optional<std::uint8_t> read_rows();
    bool write_rows(std::uint8_t rows);
    std::optional<std::uint8_t> read_columns();
    bool write_columns(std::uint8_t columns);
    std::optional<std::uint8_t> read_buzzer_settings();
    bool write_buzzer_settings(std::uint8_t settings);
    std::optional<std::uint16_t> read_range_max();
    bool write_range_max(std::int32_t value);
    std::optional<std::uint16_t> read_range_min();
    bool write_range_min(std::int32_t value);
    std::optional<MasterIoBytes> read_inputs();
    bool write_outputs(const MasterIoBytes& outputs);
    std::optional<std::uint16_t> read_firmware_version();
    std::optional<std::uint16_t> read_firmware_year();
    std::optional<std::uint8_t> read_firmware_month();
    std::optional<std::uint8_t> read_firmware_day();
    std::optional<std::string> read_device_id();
    std::optional<std::string> read_vendor_code();

    // Probes head numbers 0 to 31, each probe an exchange of its own (another
    // thread's exchange may fall between two), and stores and returns the
    // number of heads that answered. A board that has stopped answering
    // (kProbeGiveUp probes in a row without any reply) is not asked for the
    // rest, which count absent: each unanswered probe costs the read bound
    // and the late-reply window, and the caller is the user-interface thread.
    static constexpr int kProbeGiveUp = 2;
    int probe_heads();
    // Reads the board's position map into position_map(). True when the
    // board's map came; when it did not, every position is unassigned (never
    // another reply's bytes) and false is returned.
    bool load_position_map();

    // Heads found by the last probe_heads; 0 means the board is not set up.
    int head_count() const { return head_count_.load(); }
    void clear_head_count() { head_count_.store(0); }
    MasterPositionMap position_map() const;
    // The head of a grid position in the loaded map (see MapHead).
    std::optional<std::uint8_t> position_head(int position) const;

private:
    static Frame command(std::uint8_t code, std::uint8_t head = 0);
    // The probe's reply: true = a head, false = 0xFF, nullopt = no reply.
    std::optional<bool> probe_reply(std::uint8_t head);
    bool write_page(std::uint8_t code, std::uint8_t head, std::span<const std::int32_t> values);
    bool write_byte_field(std::uint8_t code, std::size_t pos, std::uint8_t value);

    std::atomic<int> head_count_{0};
    MasterPositionMap position_map_{};  // guarded by lock
};

}  // namespace kx

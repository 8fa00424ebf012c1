// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "hid/hiddata.h"

namespace kx {

// What the classic tester's composite reads leave behind: its whole test
// setup, identification texts and firmware record.
struct ClassicTesterFields {
    // Bytes 1-7 of the firmware reply: year (LE, 0-1), month, day,
    // version (LE, 4-5), flags (bit 7: offline display may be changed).
    std::array<std::uint8_t, 7> firmware_info{};
    std::array<std::uint16_t, 32> upper{};
    std::array<std::uint16_t, 32> lower{};
    std::array<std::uint16_t, 32> reference{};
    std::array<std::uint8_t, 32> modes{};
    std::uint8_t offset_type = 0;  // non-zero: limits by percentage
    std::uint16_t percentage = 0;
    std::uint16_t offset_upper = 0;
    std::uint16_t offset_lower = 0;
    // Texts of at most 8 characters; a text filling all 8 bytes has no
    // terminator on the wire.
    std::string serial_number;
    std::string device_id;
    std::string vendor_code;
    std::uint16_t range_max = 0;
    std::uint16_t range_min = 0;
};

// The firmware record decoded, with the texts the information dialog shows.
struct ClassicFirmware {
    std::uint16_t year = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint16_t version = 0;
    bool offline_display_changeable = false;

    std::string version_text() const;  // "0x%x"
    std::string date_text() const;     // "%04d年%02d月%02d日"
};
ClassicFirmware DecodeFirmwareInfo(const std::array<std::uint8_t, 7>& info);

// The classic tester: one head of 32 channels, spoken to over feature
// reports with little-endian values. Every frame is sent twice, except the
// live-value query's; queries then read feature report 0.
class CClassicTester : public hiddata {
public:
    static constexpr std::uint16_t kVendorId = 0x04B4;
    static constexpr std::uint16_t kProductId = 0xE006;
    static constexpr const char* kProduct = "Corvanis";

    explicit CClassicTester(HidBus& bus);
    ~CClassicTester() override;

    // 0 when a classic tester was opened, 1 otherwise.
    int open_board();

    // Single exchanges. Queries return nullopt when their own reply did not
    // come: a query frame the board did not take, or a feature read that
    // failed (the board keeps its last answer, so a read after a refused
    // query frame would return another command's reply). The station also
    // asks read_value for channel 32.
    std::optional<std::uint16_t> read_value(int channel);
    std::optional<std::uint16_t> read_upper_limit(int channel);
    std::optional<std::uint16_t> read_lower_limit(int channel);
    std::optional<std::uint16_t> read_reference(int channel);
    std::optional<std::uint8_t> read_channel_mode(int channel);
    std::optional<std::uint8_t> read_offset_type();
    std::optional<std::uint8_t> read_percentage();
    std::optional<std::uint16_t> read_offset_upper();
    std::optional<std::uint16_t> read_offset_lower();
    std::optional<std::uint8_t> read_reserved_setting();
    std::optional<std::string> read_serial_number();
    std::optional<std::string> read_device_id();
    std::optional<std::string> read_vendor_code();
    std::optional<std::array<std::uint8_t, 7>> read_firmware_info();
    std::optional<std::uint16_t> read_range_max();
    std::optional<std::uint16_t> read_range_min();

    // Writes take the value first and the channel second; the low 16 bits
    // (low 8 for one-byte settings) are sent. The board answers no set: true
    // says that both feature transfers went through.
    bool write_upper_limit(std::int32_t value, int channel);
    bool write_lower_limit(std::int32_t value, int channel);
    bool write_reference(std::int32_t value, int channel);
    bool write_channel_mode(std::int32_t value, int channel);
    bool write_offset_type(std::int32_t value);
    bool write_percentage(std::int32_t value);
    bool write_offset_upper(std::int32_t value);
    bool write_offset_lower(std::int32_t value);
    bool write_range_max(std::int32_t value);
    bool write_range_min(std::int32_t value);

    // Composite reads into the fields; each exchange holds the lock by
    // itself, so the acquisition thread's read_value may fall between them.
    // Each stops at the first exchange that gets no reply and returns false;
    // the fields then keep what they held before, never half a setup.
    bool read_channel_settings();  // limits, reference, modes, offsets
    bool read_identity();          // range, serial number, device id, vendor code
    bool load_firmware_info();
    bool reread_texts();  // the three texts again; the results are not kept

    // A copy of the fields as the composite reads left them.
    ClassicTesterFields fields() const;

private:
    // The query frame (twice, or once), then feature report 0, decoded under
    // the lock; nullopt when any of the transfers failed.
    template <class Decode>
    auto query(std::uint8_t code, int channel, Decode&& decode, bool send_twice = true)
        -> std::optional<std::decay_t<decltype(decode(std::declval<const Frame&>()))>>;
    bool set(std::uint8_t code, int channel, std::int32_t value);
    std::optional<std::uint16_t> query16(std::uint8_t code, int channel = 0);
    std::optional<std::uint8_t> query8(std::uint8_t code, int channel = 0);
    std::optional<std::string> query_text(std::uint8_t code);

    ClassicTesterFields fields_;
};

}  // namespace kx

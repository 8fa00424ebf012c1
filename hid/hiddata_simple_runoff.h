// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "hid/hiddata.h"

namespace kx {

// The identity rows of the one-to-one testers. All share vendor id, product
// id and product string and differ in the manufacturer string.
enum class RunoffProbe { Demo, Version2, Version3, Version6, Tarsel, Movira, Tovak, Maker };

struct RunoffIdentityRow {
    RunoffProbe probe;
    const char* operation;  // the probe's name, for listings
    const char* plain;      // manufacturer string of machine 0
    // Machines 1 to 5 report this prefix followed by the machine's digit;
    // nullptr for rows that exist for machine 0 only.
    const char* numbered_prefix;
    // OEM name recorded when the row opens a board; nullptr leaves the name
    // recorded before.
    const char* oem_name;
};

// What the board's outputs show for a verdict.
struct RunoffOutputs {
    std::uint8_t pass = 0;
    std::uint8_t fail = 0;
    std::uint8_t third = 0;
    std::uint8_t buzzer = 0;
    friend bool operator==(const RunoffOutputs&, const RunoffOutputs&) = default;
};

// Outputs for the grid's count of failing heads and the two buzzer menu
// flags: the buzzer sounds on fail, or on pass when inverted, and never when
// switched off.
RunoffOutputs VerdictOutputs(int failCount, bool buzzerOn, bool buzzerInvert);
// The same when a pass must also be allowed (a head without data is not a
// pass): no failing head and no pass allowed lights neither lamp and keeps
// the buzzer quiet.
RunoffOutputs VerdictOutputs(int failCount, bool passAllowed, bool buzzerOn, bool buzzerInvert);

// The one-to-one testers: one head of 32 channels. Every operation is one
// exchange under the object's lock; nothing is cached. Live values travel
// little-endian, every other 16-bit value big-endian.
class hiddata_simple_runoff : public hiddata {
public:
    static constexpr std::uint16_t kVendorId = 0x16A0;
    static constexpr std::uint16_t kProductId = 0x05DF;
    static constexpr const char* kProduct = "Kaldrix";
    static constexpr int kMaxMachine = 5;

    explicit hiddata_simple_runoff(HidBus& bus);
    ~hiddata_simple_runoff() override;

    static std::span<const RunoffIdentityRow> identity_table();
    static const RunoffIdentityRow& identity(RunoffProbe probe);
    // The manufacturer string of a row for a machine; nullopt when the row
    // has no such machine.
    static std::optional<std::string> manufacturer_for(RunoffProbe probe, int machine);
    // The rows in the order the connection tries them for a machine (empty
    // for a machine number outside 0 to 5).
    static std::span<const RunoffProbe> probe_order(int machine);

    // Opens the board of a row. 0 when opened; 1 otherwise, and then the
    // object holds no device - except for a machine number the row does not
    // know, which returns 1 at once and leaves the object as it was.
    int probe(RunoffProbe row, int machine);
    int open_demo() { return probe(RunoffProbe::Demo, 0); }
    int open_version2(int machine) { return probe(RunoffProbe::Version2, machine); }
    int open_version3(int machine) { return probe(RunoffProbe::Version3, machine); }
    int open_version6(int machine) { return probe(RunoffProbe::Version6, machine); }
    int open_tarsel(int machine) { return probe(RunoffProbe::Tarsel, machine); }
    int open_movira(int machine) { return probe(RunoffProbe::Movira, machine); }
    int open_tovak(int machine) { return probe(RunoffProbe::Tovak, machine); }
    int open_maker() { return probe(RunoffProbe::Maker, 0); }
    // The first device type (0 standard, 1 to 5 machine n) other than
    // `machine` whose probe order would find a board on the bus, found by
    // enumeration only (nothing is opened); nullopt when there is none.
    std::optional<int> other_machine_listed(int machine) const;

    // Queries return nullopt when their own reply did not come (the board
    // did not answer within the bound, is gone, or the object is closed or
    // cancelled); writes return true when the board acknowledged them.
    std::optional<Words> read_values();
    std::optional<Words> read_reference();
    std::optional<Words> read_upper_limits();
    std::optional<Words> read_lower_limits();
    std::optional<ModeBytes> read_channel_modes();
    // The page writes send the low 16 bits of at most 32 values; with fewer,
    // the bytes after the last value keep the command report's content.
    bool write_reference(std::span<const std::int32_t> values);
    bool write_upper_limits(std::span<const std::int32_t> values);
    bool write_lower_limits(std::span<const std::int32_t> values);
    bool write_channel_modes(std::span<const std::uint8_t> modes);
    std::optional<std::uint16_t> read_range_max();
    std::optional<std::uint16_t> read_range_min();
    bool write_range_max(std::int32_t value);
    bool write_range_min(std::int32_t value);

    bool set_outputs(std::uint8_t pass, std::uint8_t fail, std::uint8_t third, std::uint8_t buzzer);
    bool set_outputs(const RunoffOutputs& o) {
        return set_outputs(o.pass, o.fail, o.third, o.buzzer);
    }

    std::optional<std::string> read_serial_number();
    std::optional<std::string> read_device_id();
    std::optional<std::uint16_t> read_firmware_version();
    std::optional<std::uint16_t> read_firmware_year();
    std::optional<std::uint8_t> read_firmware_month();
    std::optional<std::uint8_t> read_firmware_day();
    std::optional<std::string> read_author();
    std::optional<std::uint8_t> read_feature_flags();
    std::optional<std::string> read_logo_text();
    std::optional<std::uint8_t> read_offline_display();
    bool write_offline_display(std::uint8_t value);
    std::optional<std::uint8_t> read_edition();
    std::optional<std::string> read_vendor_code();

private:
    bool write_page(std::uint8_t code, std::span<const std::int32_t> values);
};

}  // namespace kx

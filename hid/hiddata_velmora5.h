// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "hid/hiddata.h"

namespace kx {

// The Velmora5 board's identity rows, in the order the connection tries them.
// All report the product string "Velmora5".
enum class Velmora5Probe { Maker, MakerName, Version2 };

struct Velmora5IdentityRow {
    Velmora5Probe probe;
    const char* operation;  // the probe's name, for listings
    std::uint16_t vendor_id;
    std::uint16_t product_id;
    const char* manufacturer;
};

// The layout record kept in the first three bytes of head 1's channel-mode
// page: byte 0 = 1 when the board's rows and columns are to be used, byte 1
// the head rows, byte 2 the head columns.
struct Velmora5Layout {
    int rows = 0;
    int columns = 0;
    friend bool operator==(const Velmora5Layout&, const Velmora5Layout&) = default;
};

// The grid size a layout page asks for, rows and columns each cut to at most
// 4; nullopt when byte 0 is not 1 (the grid keeps its size).
std::optional<Velmora5Layout> DecodeVelmora5Layout(const ModeBytes& page);
// The 32-byte page the information dialog sends to head 1: the three record
// bytes, then zeros.
ModeBytes Velmora5LayoutPage(std::uint8_t inUse, std::uint8_t rows, std::uint8_t columns);

// The Velmora5 board: several heads of 32 channels on one device, addressed
// by head number. Page p of the station is head p + 2; head 1 carries the
// layout record. Live values travel little-endian, every other 16-bit value
// big-endian.
//
// Every operation, the probes included, holds the object's lock from its
// first report to its last, so the head report of a head query is always
// followed by that query's own reply. The board answers no set, so no set
// reads a reply.
class hiddata_velmora5 : public hiddata {
public:
    static constexpr const char* kProduct = "Velmora5";
    static constexpr std::uint8_t kLayoutHead = 1;
    static constexpr std::uint8_t kFirstPageHead = 2;
    // Pages the acquisition loop polls (heads 2-6) and pages the settings
    // transfer reads (heads 2-5).
    static constexpr int kAcquiredPages = 5;
    static constexpr int kSettingsPages = 4;

    explicit hiddata_velmora5(HidBus& bus);
    ~hiddata_velmora5() override;

    static std::span<const Velmora5IdentityRow> identity_table();
    static const Velmora5IdentityRow& identity(Velmora5Probe probe);
    static constexpr std::uint8_t head_of_page(int page) {
        return static_cast<std::uint8_t>(page + kFirstPageHead);
    }

    // Opens the board of a row: 0 when opened, 1 otherwise (the object then
    // holds no device).
    int probe(Velmora5Probe row);
    int open_maker() { return probe(Velmora5Probe::Maker); }
    int open_maker_name() { return probe(Velmora5Probe::MakerName); }
    int open_version2() { return probe(Velmora5Probe::Version2); }

    // Queries return nullopt when their own reply did not come (the board
    // did not answer within the bound, is gone, or the object is closed or
    // cancelled). The board answers no set, so a write's true says only that
    // all of its reports were written.
    std::optional<Words> read_values(std::uint8_t head);
    std::optional<Words> read_reference(std::uint8_t head);
    std::optional<Words> read_upper_limits(std::uint8_t head);
    std::optional<Words> read_lower_limits(std::uint8_t head);
    std::optional<ModeBytes> read_channel_modes(std::uint8_t head);
    std::optional<std::uint16_t> read_range_max(std::uint8_t head);
    std::optional<std::uint16_t> read_range_min(std::uint8_t head);

    // The page writes send the low 16 bits of at most 32 values (modes: at
    // most 32 bytes); the station always sends 32.
    bool write_reference(std::uint8_t head, std::span<const std::int32_t> values);
    bool write_upper_limits(std::uint8_t head, std::span<const std::int32_t> values);
    bool write_lower_limits(std::uint8_t head, std::span<const std::int32_t> values);
    bool write_channel_modes(std::uint8_t head, std::span<const std::uint8_t> modes);
    bool write_range_max(std::uint8_t head, std::int32_t value);
    bool write_range_min(std::uint8_t head, std::int32_t value);

    std::optional<std::string> read_vendor_code();
    std::optional<std::string> read_device_id();
    std::optional<std::uint16_t> read_firmware_version();
    std::optional<std::uint16_t> read_firmware_year();
    std::optional<std::uint8_t> read_firmware_month();
    std::optional<std::uint8_t> read_firmware_day();

    // The board is given no verdict: sends nothing.
    void set_result(int pass, int fail);

private:
    // Command report, full head report, one reply decoded under the lock.
    template <class Decode>
    auto head_query(std::uint8_t code, std::uint8_t head, Decode&& decode)
        -> std::optional<std::decay_t<decltype(decode(std::declval<const Frame&>()))>>;
    bool head_set(const Frame& command, const Frame& head_report, const Frame& data);
    bool write_page(std::uint8_t code, std::uint8_t head, std::span<const std::int32_t> values);
    bool write_range(std::uint8_t code, std::uint8_t head, std::int32_t value);
};

}  // namespace kx

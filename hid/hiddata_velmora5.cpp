// SPDX-License-Identifier: MIT
#include "hid/hiddata_velmora5.h"

#include <algorithm>
#include <array>

#include "hid/maker_identity.h"

namespace kx {

namespace {

// Command codes.
constexpr std::uint8_t kReadReference = 0x01;
constexpr std::uint8_t kWriteReference = 0x02;
constexpr std::uint8_t kReadUpper = 0x10;
constexpr std::uint8_t kWriteUpper = 0x11;
constexpr std::uint8_t kReadLower = 0x20;
constexpr std::uint8_t kWriteLower = 0x21;
constexpr std::uint8_t kReadModes = 0x30;
constexpr std::uint8_t kWriteModes = 0x31;
constexpr std::uint8_t kReadVendorCode = 0x40;
constexpr std::uint8_t kReadDeviceId = 0x50;
constexpr std::uint8_t kReadFirmwareVersion = 0x60;
constexpr std::uint8_t kReadFirmwareYear = 0x70;
constexpr std::uint8_t kReadFirmwareMonth = 0x80;
constexpr std::uint8_t kReadFirmwareDay = 0x90;
constexpr std::uint8_t kWriteRangeMax = 0xD7;
constexpr std::uint8_t kReadRangeMax = 0xD8;
constexpr std::uint8_t kWriteRangeMin = 0xD9;
constexpr std::uint8_t kReadRangeMin = 0xDA;
constexpr std::uint8_t kReadValues = 0xF0;

// Positions (report ID = byte 0).
constexpr std::size_t kValuesHeadPos = 4;
constexpr std::size_t kShortHeadBytes = 3;
constexpr std::size_t kTextPos = 1;
constexpr std::size_t kTextLength = 16;
constexpr int kLayoutMaxRowsColumns = 4;

constexpr std::array<Velmora5IdentityRow, 3> kIdentityTable{{
    {Velmora5Probe::Maker, "open_maker", 0xDEFE, 0x12EF, kMakerIdentity},
    {Velmora5Probe::MakerName, "open_maker_name", 0xDEFE, 0x12EF, "borvaneco"},
    {Velmora5Probe::Version2, "open_version2", 0x16A0, 0x05DF, "VERSION2"},
}};

// The head report of a head query and of a full head set: every payload byte
// holds the head number.
Frame FullHeadReport(std::uint8_t head) {
    Frame f;
    f.fill(head);
    f[0] = 0;
    return f;
}

// The head report of a head set: the head number in bytes 1-3, zeros after.
Frame ShortHeadReport(std::uint8_t head) {
    Frame f{};
    std::fill_n(f.begin() + 1, kShortHeadBytes, head);
    return f;
}

}  // namespace

std::optional<Velmora5Layout> DecodeVelmora5Layout(const ModeBytes& page) {
    if (page[0] != 1) {
        return std::nullopt;
    }
    return Velmora5Layout{std::min<int>(page[1], kLayoutMaxRowsColumns),
                          std::min<int>(page[2], kLayoutMaxRowsColumns)};
}

ModeBytes Velmora5LayoutPage(std::uint8_t inUse, std::uint8_t rows, std::uint8_t columns) {
    ModeBytes page{};
    page[0] = inUse;
    page[1] = rows;
    page[2] = columns;
    return page;
}

hiddata_velmora5::hiddata_velmora5(HidBus& bus) : hiddata(bus, "Velmora5") {}

hiddata_velmora5::~hiddata_velmora5() = default;

std::span<const Velmora5IdentityRow> hiddata_velmora5::identity_table() {
    return kIdentityTable;
}

const Velmora5IdentityRow& hiddata_velmora5::identity(Velmora5Probe probe) {
    return kIdentityTable.at(static_cast<std::size_t>(probe));
}

int hiddata_velmora5::probe(Velmora5Probe row) {
    CSectionGuard guard(&lock);
    const Velmora5IdentityRow& id = identity(row);
    return open(id.product_id, id.vendor_id, id.manufacturer, kProduct);
}

template <class Decode>
auto hiddata_velmora5::head_query(std::uint8_t code, std::uint8_t head, Decode&& decode)
    -> std::optional<std::decay_t<decltype(decode(std::declval<const Frame&>()))>> {
    CSectionGuard guard(&lock);
    if (!begin_exchange() || !write_report(CommandReport(code).data()) ||
        !write_continuation(FullHeadReport(head).data()) || read_report() == nullptr) {
        return std::nullopt;
    }
    return decode(report);
}

bool hiddata_velmora5::head_set(const Frame& command, const Frame& head_report, const Frame& data) {
    CSectionGuard guard(&lock);
    // The head and the data go as one rest of the command: when the head
    // report goes and the data report does not, or neither goes, what is
    // missing is owed whole.
    const std::array<Frame, 2> rest{head_report, data};
    return begin_exchange() && write_report(command.data()) && write_continuation(rest);
}

std::optional<Words> hiddata_velmora5::read_values(std::uint8_t head) {
    Frame command = CommandReport(kReadValues);
    command[kValuesHeadPos] = head;
    return query_decoded(command, ReadLe16Page);
}

std::optional<Words> hiddata_velmora5::read_reference(std::uint8_t head) {
    return head_query(kReadReference, head, ReadBe16Page);
}

std::optional<Words> hiddata_velmora5::read_upper_limits(std::uint8_t head) {
    return head_query(kReadUpper, head, ReadBe16Page);
}

std::optional<Words> hiddata_velmora5::read_lower_limits(std::uint8_t head) {
    return head_query(kReadLower, head, ReadBe16Page);
}

std::optional<ModeBytes> hiddata_velmora5::read_channel_modes(std::uint8_t head) {
    return head_query(kReadModes, head, ReadModePage);
}

std::optional<std::uint16_t> hiddata_velmora5::read_range_max(std::uint8_t head) {
    return head_query(kReadRangeMax, head, [](const Frame& f) { return ReadBe16(f, 1); });
}

std::optional<std::uint16_t> hiddata_velmora5::read_range_min(std::uint8_t head) {
    return head_query(kReadRangeMin, head, [](const Frame& f) { return ReadBe16(f, 1); });
}

bool hiddata_velmora5::write_page(std::uint8_t code, std::uint8_t head,
                                  std::span<const std::int32_t> values) {
    const Frame head_report = ShortHeadReport(head);
    Frame data = head_report;
    PutBe16Page(data, values);
    return head_set(CommandReport(code), head_report, data);
}

bool hiddata_velmora5::write_reference(std::uint8_t head, std::span<const std::int32_t> values) {
    return write_page(kWriteReference, head, values);
}

bool hiddata_velmora5::write_upper_limits(std::uint8_t head, std::span<const std::int32_t> values) {
    return write_page(kWriteUpper, head, values);
}

bool hiddata_velmora5::write_lower_limits(std::uint8_t head, std::span<const std::int32_t> values) {
    return write_page(kWriteLower, head, values);
}

bool hiddata_velmora5::write_channel_modes(std::uint8_t head, std::span<const std::uint8_t> modes) {
    const Frame head_report = ShortHeadReport(head);
    Frame data = head_report;
    PutModePage(data, modes);
    return head_set(CommandReport(kWriteModes), head_report, data);
}

bool hiddata_velmora5::write_range(std::uint8_t code, std::uint8_t head, std::int32_t value) {
    const Frame head_report = FullHeadReport(head);
    Frame data = head_report;
    PutBe16(data, 1, static_cast<std::uint32_t>(value));
    return head_set(CommandReport(code), head_report, data);
}

bool hiddata_velmora5::write_range_max(std::uint8_t head, std::int32_t value) {
    return write_range(kWriteRangeMax, head, value);
}

bool hiddata_velmora5::write_range_min(std::uint8_t head, std::int32_t value) {
    return write_range(kWriteRangeMin, head, value);
}

std::optional<std::string> hiddata_velmora5::read_vendor_code() {
    return query_text(kReadVendorCode, kTextPos, kTextLength);
}

std::optional<std::string> hiddata_velmora5::read_device_id() {
    return query_text(kReadDeviceId, kTextPos, kTextLength);
}

std::optional<std::uint16_t> hiddata_velmora5::read_firmware_version() {
    return query_be16(kReadFirmwareVersion, 1);
}

std::optional<std::uint16_t> hiddata_velmora5::read_firmware_year() {
    return query_be16(kReadFirmwareYear, 3);
}

std::optional<std::uint8_t> hiddata_velmora5::read_firmware_month() {
    return query_byte(kReadFirmwareMonth, 5);
}

std::optional<std::uint8_t> hiddata_velmora5::read_firmware_day() {
    return query_byte(kReadFirmwareDay, 6);
}

void hiddata_velmora5::set_result(int /*pass*/, int /*fail*/) {}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "hid/hiddata_masterhid.h"

#include <algorithm>

#include "hid/maker_identity.h"

namespace kx {

namespace {

// Command codes.
constexpr std::uint8_t kProbeHead = 0x09;
constexpr std::uint8_t kReadUpper = 0x10;
constexpr std::uint8_t kWriteUpper = 0x11;
constexpr std::uint8_t kReadLower = 0x20;
constexpr std::uint8_t kWriteLower = 0x21;
constexpr std::uint8_t kReadModes = 0x30;
constexpr std::uint8_t kWriteModes = 0x31;
constexpr std::uint8_t kReadPositionMap = 0x32;
constexpr std::uint8_t kWritePositionMap = 0x33;
constexpr std::uint8_t kReadDeviceId = 0x50;
constexpr std::uint8_t kReadFirmwareVersion = 0x60;
constexpr std::uint8_t kReadFirmwareYear = 0x70;
constexpr std::uint8_t kReadFirmwareMonth = 0x80;
constexpr std::uint8_t kReadFirmwareDay = 0x90;
constexpr std::uint8_t kWriteOutputs = 0xD3;
constexpr std::uint8_t kReadInputs = 0xD4;
constexpr std::uint8_t kWriteRangeMax = 0xD7;
constexpr std::uint8_t kReadRangeMax = 0xD8;
constexpr std::uint8_t kWriteRangeMin = 0xD9;
constexpr std::uint8_t kReadRangeMin = 0xDA;
constexpr std::uint8_t kReadVendorCode = 0xE0;
constexpr std::uint8_t kReadValues = 0xF0;
constexpr std::uint8_t kReadBuzzer = 0xF2;
constexpr std::uint8_t kWriteBuzzer = 0xF3;
constexpr std::uint8_t kReadRows = 0xF4;
constexpr std::uint8_t kWriteRows = 0xF5;
constexpr std::uint8_t kReadColumns = 0xF6;
constexpr std::uint8_t kWriteColumns = 0xF7;

// Positions (report ID = byte 0).
constexpr std::size_t kHeadPos = 4;
constexpr std::size_t kProbeReplyPos = 1;
constexpr std::uint8_t kNoHead = 0xFF;
constexpr std::size_t kBuzzerPos = 30;
constexpr std::size_t kRowsPos = 31;
constexpr std::size_t kColumnsPos = 32;
constexpr std::size_t kRangeMaxPos = 22;
constexpr std::size_t kRangeMinPos = 24;
constexpr std::size_t kIoPos = 1;
constexpr std::size_t kMapPos = 1;
constexpr std::size_t kTextPos = 49;
constexpr std::size_t kTextLength = 16;
constexpr std::uint8_t kColumnsFiller = 0xFF;

}  // namespace

MasterMapEntry DecodeMapEntry(const MasterPositionMap& map, int position) {
    if (position < 0 || position >= kMasterMapPositions) {
        return {};
    }
    const std::uint8_t place = map[static_cast<std::size_t>(2 * position)];
    const std::uint8_t head = map[static_cast<std::size_t>(2 * position + 1)];
    return {static_cast<std::uint8_t>(place >> 4), static_cast<std::uint8_t>(place & 0x0F),
            (head & 0x80) != 0, static_cast<std::uint8_t>(head & 0x7F)};
}

void EncodeMapEntry(MasterPositionMap& map, int position, const MasterMapEntry& entry) {
    if (position < 0 || position >= kMasterMapPositions) {
        return;
    }
    map[static_cast<std::size_t>(2 * position)] =
        static_cast<std::uint8_t>((entry.column & 0x0F) << 4 | (entry.row & 0x0F));
    map[static_cast<std::size_t>(2 * position + 1)] =
        static_cast<std::uint8_t>((entry.assigned ? 0x80 : 0) | (entry.head & 0x7F));
}

std::optional<std::uint8_t> MapHead(const MasterPositionMap& map, int position) {
    const MasterMapEntry entry = DecodeMapEntry(map, position);
    if (!entry.assigned || entry.head >= kMasterHeads) {
        return std::nullopt;
    }
    return entry.head;
}

MasterIoBytes MasterOutputs(const MasterIoBytes& inputs, int failCount, bool buzzerOn,
                            bool buzzerInverted, bool emergencyLatched) {
    return MasterOutputs(inputs, failCount, true, buzzerOn, buzzerInverted, emergencyLatched);
}

MasterIoBytes MasterOutputs(const MasterIoBytes& inputs, int failCount, bool passAllowed,
                            bool buzzerOn, bool buzzerInverted, bool emergencyLatched) {
    MasterIoBytes out{};
    if (emergencyLatched) {
        out[5] = buzzerOn ? 1 : 0;
        return out;
    }
    const bool pass = failCount == 0 && passAllowed;
    const auto count = static_cast<std::uint8_t>(failCount);
    out[0] = inputs[0];
    out[1] = inputs[1];
    out[2] = pass ? 1 : 0;
    out[3] = inputs[3];
    out[4] = count;
    if (buzzerOn) {
        out[5] = buzzerInverted ? (pass ? 1 : 0) : count;
    }
    out[6] = inputs[6];
    return out;
}

hiddata_masterHID::hiddata_masterHID(HidBus& bus) : hiddata(bus, "master") {}

hiddata_masterHID::~hiddata_masterHID() = default;

int hiddata_masterHID::open_board() {
    CSectionGuard guard(&lock);
    return open(kProductId, kVendorId, kMakerIdentity, kProduct);
}

Frame hiddata_masterHID::command(std::uint8_t code, std::uint8_t head) {
    Frame f = CommandReport(code);
    f[kHeadPos] = head;
    return f;
}

std::optional<Words> hiddata_masterHID::read_values(std::uint8_t head) {
    return query_decoded(command(kReadValues, head), ReadBe16Page);
}

std::optional<Words> hiddata_masterHID::read_upper_limits(std::uint8_t head) {
    return query_decoded(command(kReadUpper, head), ReadBe16Page);
}

std::optional<Words> hiddata_masterHID::read_lower_limits(std::uint8_t head) {
    return query_decoded(command(kReadLower, head), ReadBe16Page);
}

std::optional<ModeBytes> hiddata_masterHID::read_channel_modes(std::uint8_t head) {
    return query_decoded(command(kReadModes, head), ReadModePage);
}

bool hiddata_masterHID::write_page(std::uint8_t code, std::uint8_t head,
                                   std::span<const std::int32_t> values) {
    const Frame first = command(code, head);
    Frame second = first;
    PutBe16Page(second, values);
    return exchange_set(first, second);
}

bool hiddata_masterHID::write_upper_limits(std::uint8_t head,
                                           std::span<const std::int32_t> values) {
    return write_page(kWriteUpper, head, values);
}

bool hiddata_masterHID::write_lower_limits(std::uint8_t head,
                                           std::span<const std::int32_t> values) {
    return write_page(kWriteLower, head, values);
}

bool hiddata_masterHID::write_channel_modes(std::uint8_t head,
                                            std::span<const std::uint8_t> modes) {
    const Frame first = command(kWriteModes, head);
    Frame second = first;
    PutModePage(second, modes);
    return exchange_set(first, second);
}

std::optional<bool> hiddata_masterHID::probe_reply(std::uint8_t head) {
    return query_decoded(command(kProbeHead, head),
                         [](const Frame& f) { return f[kProbeReplyPos] != kNoHead; });
}

bool hiddata_masterHID::probe_head(std::uint8_t head) {
    return probe_reply(head).value_or(false);
}

std::optional<MasterPositionMap> hiddata_masterHID::read_position_map() {
    return query_decoded(command(kReadPositionMap), [](const Frame& f) {
        MasterPositionMap map{};
        std::copy_n(f.begin() + kMapPos, map.size(), map.begin());
        return map;
    });
}

bool hiddata_masterHID::write_position_map(const MasterPositionMap& map) {
    const Frame first = command(kWritePositionMap);
    Frame second = first;
    std::copy(map.begin(), map.end(), second.begin() + kMapPos);
    std::fill(second.begin() + kMapPos + map.size(), second.end(), 0);
    return exchange_set(first, second);
}

std::optional<std::uint8_t> hiddata_masterHID::read_rows() {
    return query_byte(kReadRows, kRowsPos);
}

bool hiddata_masterHID::write_byte_field(std::uint8_t code, std::size_t pos, std::uint8_t value) {
    const Frame first = command(code);
    Frame second = first;
    second[pos] = value;
    return exchange_set(first, second);
}

bool hiddata_masterHID::write_rows(std::uint8_t rows) {
    return write_byte_field(kWriteRows, kRowsPos, rows);
}

std::optional<std::uint8_t> hiddata_masterHID::read_columns() {
    return query_byte(kReadColumns, kColumnsPos);
}

bool hiddata_masterHID::write_columns(std::uint8_t columns) {
    // Unlike the other sets, this second report is filled with 0xFF, except
    // for the last byte; the board expects it that way.
    Frame second;
    second.fill(kColumnsFiller);
    second[0] = 0;
    second[kFrameSize - 1] = 0;
    second[kColumnsPos] = columns;
    return exchange_set(command(kWriteColumns), second);
}

std::optional<std::uint8_t> hiddata_masterHID::read_buzzer_settings() {
    return query_byte(kReadBuzzer, kBuzzerPos);
}

bool hiddata_masterHID::write_buzzer_settings(std::uint8_t settings) {
    return write_byte_field(kWriteBuzzer, kBuzzerPos, settings);
}

std::optional<std::uint16_t> hiddata_masterHID::read_range_max() {
    return query_be16(kReadRangeMax, kRangeMaxPos);
}

bool hiddata_masterHID::write_range_max(std::int32_t value) {
    return set_be16(kWriteRangeMax, kRangeMaxPos, value);
}

std::optional<std::uint16_t> hiddata_masterHID::read_range_min() {
    return query_be16(kReadRangeMin, kRangeMinPos);
}

bool hiddata_masterHID::write_range_min(std::int32_t value) {
    return set_be16(kWriteRangeMin, kRangeMinPos, value);
}

std::optional<MasterIoBytes> hiddata_masterHID::read_inputs() {
    return query_decoded(command(kReadInputs), [](const Frame& f) {
        MasterIoBytes in{};
        std::copy_n(f.begin() + kIoPos, in.size(), in.begin());
        return in;
    });
}

bool hiddata_masterHID::write_outputs(const MasterIoBytes& outputs) {
    Frame second{};  // cleared: nothing of the command report survives
    std::copy(outputs.begin(), outputs.end(), second.begin() + kIoPos);
    return exchange_set(command(kWriteOutputs), second);
}

std::optional<std::uint16_t> hiddata_masterHID::read_firmware_version() {
    return query_be16(kReadFirmwareVersion, 1);
}

std::optional<std::uint16_t> hiddata_masterHID::read_firmware_year() {
    return query_be16(kReadFirmwareYear, 3);
}

std::optional<std::uint8_t> hiddata_masterHID::read_firmware_month() {
    return query_byte(kReadFirmwareMonth, 5);
}

std::optional<std::uint8_t> hiddata_masterHID::read_firmware_day() {
    return query_byte(kReadFirmwareDay, 6);
}

std::optional<std::string> hiddata_masterHID::read_device_id() {
    return query_text(kReadDeviceId, kTextPos, kTextLength);
}

std::optional<std::string> hiddata_masterHID::read_vendor_code() {
    return query_text(kReadVendorCode, kTextPos, kTextLength);
}

int hiddata_masterHID::probe_heads() {
    int count = 0;
    int unanswered = 0;
    for (int head = 0; head < kMasterHeads && unanswered < kProbeGiveUp; ++head) {
        // Each probe takes the lock by itself.
        const std::optional<bool> present = probe_reply(static_cast<std::uint8_t>(head));
        unanswered = present ? 0 : unanswered + 1;
        if (present.value_or(false)) {
            ++count;
        }
    }
    head_count_.store(count);
    return count;
}

bool hiddata_masterHID::load_position_map() {
    CSectionGuard guard(&lock);
    const std::optional<MasterPositionMap> map = read_position_map();
    position_map_ = map.value_or(MasterPositionMap{});
    return map.has_value();
}

MasterPositionMap hiddata_masterHID::position_map() const {
    CSectionGuard guard(&lock);
    return position_map_;
}

std::optional<std::uint8_t> hiddata_masterHID::position_head(int position) const {
    CSectionGuard guard(&lock);
    return MapHead(position_map_, position);
}

}  // namespace kx

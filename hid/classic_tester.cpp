// SPDX-License-Identifier: MIT
#include "hid/classic_tester.h"

#include <algorithm>
#include <cstdio>

#include "hid/firmware_text.h"
#include "hid/maker_identity.h"

namespace kx {

namespace {

constexpr std::uint8_t kReadValue = 0x10;
constexpr std::uint8_t kReadUpper = 0x20;
constexpr std::uint8_t kWriteUpper = 0x21;
constexpr std::uint8_t kReadLower = 0x22;
constexpr std::uint8_t kWriteLower = 0x23;
constexpr std::uint8_t kReadReference = 0x24;
constexpr std::uint8_t kWriteReference = 0x25;
constexpr std::uint8_t kReadMode = 0x26;
constexpr std::uint8_t kWriteMode = 0x27;
constexpr std::uint8_t kReadOffsetType = 0x28;
constexpr std::uint8_t kWriteOffsetType = 0x29;
constexpr std::uint8_t kReadPercentage = 0x32;
constexpr std::uint8_t kWritePercentage = 0x33;
constexpr std::uint8_t kReadOffsetUpper = 0x34;
constexpr std::uint8_t kWriteOffsetUpper = 0x35;
constexpr std::uint8_t kReadOffsetLower = 0x36;
constexpr std::uint8_t kWriteOffsetLower = 0x37;
constexpr std::uint8_t kReadReserved = 0x38;
constexpr std::uint8_t kReadSerial = 0x3D;
constexpr std::uint8_t kReadDeviceId = 0x3E;
constexpr std::uint8_t kReadFirmware = 0x40;
constexpr std::uint8_t kReadRangeMax = 0x50;
constexpr std::uint8_t kWriteRangeMax = 0x51;
constexpr std::uint8_t kReadRangeMin = 0x52;
constexpr std::uint8_t kWriteRangeMin = 0x53;
constexpr std::uint8_t kReadVendorCode = 0x54;

constexpr std::size_t kTextLength = 8;

// Byte 1 the command, byte 2 the channel; queries carry 0x55 0xAA at 7-8.
Frame CommandFrame(std::uint8_t code, int channel) {
    Frame f{};
    f[1] = code;
    f[2] = static_cast<std::uint8_t>(channel);
    return f;
}

}  // namespace

std::string ClassicFirmware::version_text() const {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(version));
    return text;
}

std::string ClassicFirmware::date_text() const {
    return FirmwareDateText(year, month, day);
}

ClassicFirmware DecodeFirmwareInfo(const std::array<std::uint8_t, 7>& info) {
    ClassicFirmware fw;
    fw.year = static_cast<std::uint16_t>(info[0] | info[1] << 8);
    fw.month = info[2];
    fw.day = info[3];
    fw.version = static_cast<std::uint16_t>(info[4] | info[5] << 8);
    fw.offline_display_changeable = (info[6] & 0x80) != 0;
    return fw;
}

CClassicTester::CClassicTester(HidBus& bus) : hiddata(bus, "classic") {}

CClassicTester::~CClassicTester() = default;

int CClassicTester::open_board() {
    CSectionGuard guard(&lock);
    return open(kProductId, kVendorId, kMakerIdentity, kProduct);
}

template <class Decode>
auto CClassicTester::query(std::uint8_t code, int channel, Decode&& decode, bool send_twice)
    -> std::optional<std::decay_t<decltype(decode(std::declval<const Frame&>()))>> {
    Frame frame = CommandFrame(code, channel);
    frame[7] = 0x55;
    frame[8] = 0xAA;
    CSectionGuard guard(&lock);
    if (!set_feature_report(frame.data())) {
        return std::nullopt;
    }
    if (send_twice && !set_feature_report(frame.data())) {
        return std::nullopt;
    }
    const std::uint8_t* reply = get_feature_report();
    if (reply == nullptr) {
        return std::nullopt;
    }
    return decode(report);
}

bool CClassicTester::set(std::uint8_t code, int channel, std::int32_t value) {
    Frame frame = CommandFrame(code, channel);
    PutLe16(frame, 3, static_cast<std::uint32_t>(value));
    CSectionGuard guard(&lock);
    return set_feature_report(frame.data()) && set_feature_report(frame.data());
}

namespace {

std::uint16_t Le16At1(const Frame& f) {
    return ReadLe16(f, 1);
}
std::uint8_t ByteAt1(const Frame& f) {
    return f[1];
}

}  // namespace

std::optional<std::uint16_t> CClassicTester::query16(std::uint8_t code, int channel) {
    return query(code, channel, Le16At1);
}

std::optional<std::uint8_t> CClassicTester::query8(std::uint8_t code, int channel) {
    return query(code, channel, ByteAt1);
}

std::optional<std::string> CClassicTester::query_text(std::uint8_t code) {
    return query(code, 0, [](const Frame& f) { return ReadText(f, 1, kTextLength); });
}

std::optional<std::uint16_t> CClassicTester::read_value(int channel) {
    return query(kReadValue, channel, Le16At1, /*send_twice=*/false);
}

std::optional<std::uint16_t> CClassicTester::read_upper_limit(int channel) {
    return query16(kReadUpper, channel);
}

std::optional<std::uint16_t> CClassicTester::read_lower_limit(int channel) {
    return query16(kReadLower, channel);
}

std::optional<std::uint16_t> CClassicTester::read_reference(int channel) {
    return query16(kReadReference, channel);
}

std::optional<std::uint8_t> CClassicTester::read_channel_mode(int channel) {
    return query8(kReadMode, channel);
}

std::optional<std::uint8_t> CClassicTester::read_offset_type() {
    return query8(kReadOffsetType);
}

std::optional<std::uint8_t> CClassicTester::read_percentage() {
    return query8(kReadPercentage);
}

std::optional<std::uint16_t> CClassicTester::read_offset_upper() {
    return query16(kReadOffsetUpper);
}

std::optional<std::uint16_t> CClassicTester::read_offset_lower() {
    return query16(kReadOffsetLower);
}

std::optional<std::uint8_t> CClassicTester::read_reserved_setting() {
    return query8(kReadReserved);
}

std::optional<std::string> CClassicTester::read_serial_number() {
    return query_text(kReadSerial);
}

std::optional<std::string> CClassicTester::read_device_id() {
    return query_text(kReadDeviceId);
}

std::optional<std::string> CClassicTester::read_vendor_code() {
    return query_text(kReadVendorCode);
}

std::optional<std::array<std::uint8_t, 7>> CClassicTester::read_firmware_info() {
    return query(kReadFirmware, 0, [](const Frame& f) {
        std::array<std::uint8_t, 7> info{};
        std::copy_n(f.begin() + 1, info.size(), info.begin());
        return info;
    });
}

std::optional<std::uint16_t> CClassicTester::read_range_max() {
    return query16(kReadRangeMax);
}

std::optional<std::uint16_t> CClassicTester::read_range_min() {
    return query16(kReadRangeMin);
}

bool CClassicTester::write_upper_limit(std::int32_t value, int channel) {
    return set(kWriteUpper, channel, value);
}

bool CClassicTester::write_lower_limit(std::int32_t value, int channel) {
    return set(kWriteLower, channel, value);
}

bool CClassicTester::write_reference(std::int32_t value, int channel) {
    return set(kWriteReference, channel, value);
}

bool CClassicTester::write_channel_mode(std::int32_t value, int channel) {
    return set(kWriteMode, channel, value & 0xFF);
}

bool CClassicTester::write_offset_type(std::int32_t value) {
    return set(kWriteOffsetType, 0, value & 0xFF);
}

bool CClassicTester::write_percentage(std::int32_t value) {
    return set(kWritePercentage, 0, value & 0xFF);
}

bool CClassicTester::write_offset_upper(std::int32_t value) {
    return set(kWriteOffsetUpper, 0, value);
}

bool CClassicTester::write_offset_lower(std::int32_t value) {
    return set(kWriteOffsetLower, 0, value);
}

bool CClassicTester::write_range_max(std::int32_t value) {
    return set(kWriteRangeMax, 0, value);
}

bool CClassicTester::write_range_min(std::int32_t value) {
    return set(kWriteRangeMin, 0, value);
}

bool CClassicTester::read_channel_settings() {
    ClassicTesterFields got = fields();
    for (std::size_t k = 0; k < 32; ++k) {
        const int channel = static_cast<int>(k);
        const auto upper = read_upper_limit(channel);
        const auto lower = upper ? read_lower_limit(channel) : std::nullopt;
        const auto reference = lower ? read_reference(channel) : std::nullopt;
        const auto mode = reference ? read_channel_mode(channel) : std::nullopt;
        if (!mode) {
            return false;
        }
        got.upper[k] = *upper;
        got.lower[k] = *lower;
        got.reference[k] = *reference;
        got.modes[k] = *mode;
    }
    const auto offset_type = read_offset_type();
    const auto percentage = offset_type ? read_percentage() : std::nullopt;
    const auto offset_upper = percentage ? read_offset_upper() : std::nullopt;
    const auto offset_lower = offset_upper ? read_offset_lower() : std::nullopt;
    // Part of the board's settings sequence; its byte is not used.
    if (!offset_lower || !read_reserved_setting()) {
        return false;
    }
    CSectionGuard guard(&lock);
    fields_.upper = got.upper;
    fields_.lower = got.lower;
    fields_.reference = got.reference;
    fields_.modes = got.modes;
    fields_.offset_type = *offset_type;
    fields_.percentage = *percentage;
    fields_.offset_upper = *offset_upper;
    fields_.offset_lower = *offset_lower;
    return true;
}

bool CClassicTester::read_identity() {
    const auto range_max = read_range_max();
    const auto range_min = range_max ? read_range_min() : std::nullopt;
    auto serial = range_min ? read_serial_number() : std::nullopt;
    auto device_id = serial ? read_device_id() : std::nullopt;
    auto vendor_code = device_id ? read_vendor_code() : std::nullopt;
    if (!vendor_code) {
        return false;
    }
    CSectionGuard guard(&lock);
    fields_.range_max = *range_max;
    fields_.range_min = *range_min;
    fields_.serial_number = std::move(*serial);
    fields_.device_id = std::move(*device_id);
    fields_.vendor_code = std::move(*vendor_code);
    return true;
}

bool CClassicTester::load_firmware_info() {
    const auto info = read_firmware_info();
    if (!info) {
        return false;
    }
    CSectionGuard guard(&lock);
    fields_.firmware_info = *info;
    return true;
}

bool CClassicTester::reread_texts() {
    return read_serial_number() && read_device_id() && read_vendor_code();
}

ClassicTesterFields CClassicTester::fields() const {
    CSectionGuard guard(&lock);
    return fields_;
}

}  // namespace kx

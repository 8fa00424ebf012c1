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

const Frame& CClassicTester::query(std::uint8_t code, int channel, bool send_twice) {
    CSectionGuard guard(&lock);
    Frame frame = CommandFrame(code, channel);
    frame[7] = 0x55;
    frame[8] = 0xAA;
    set_feature_report(frame.data());
    if (send_twice) {
        set_feature_report(frame.data());
    }
    get_feature_report();
    return report;
}

void CClassicTester::set(std::uint8_t code, int channel, std::int32_t value) {
    CSectionGuard guard(&lock);
    Frame frame = CommandFrame(code, channel);
    PutLe16(frame, 3, static_cast<std::uint32_t>(value));
    set_feature_report(frame.data());
    set_feature_report(frame.data());
}

std::uint16_t CClassicTester::query16(std::uint8_t code, int channel) {
    CSectionGuard guard(&lock);
    return ReadLe16(query(code, channel), 1);
}

std::string CClassicTester::query_text(std::uint8_t code) {
    CSectionGuard guard(&lock);
    return ReadText(query(code, 0), 1, kTextLength);
}

std::uint16_t CClassicTester::read_value(int channel) {
    CSectionGuard guard(&lock);
    return ReadLe16(query(kReadValue, channel, /*send_twice=*/false), 1);
}

std::uint16_t CClassicTester::read_upper_limit(int channel) {
    return query16(kReadUpper, channel);
}

std::uint16_t CClassicTester::read_lower_limit(int channel) {
    return query16(kReadLower, channel);
}

std::uint16_t CClassicTester::read_reference(int channel) {
    return query16(kReadReference, channel);
}

std::uint8_t CClassicTester::read_channel_mode(int channel) {
    CSectionGuard guard(&lock);
    return query(kReadMode, channel)[1];
}

std::uint8_t CClassicTester::read_offset_type() {
    CSectionGuard guard(&lock);
    return query(kReadOffsetType, 0)[1];
}

std::uint8_t CClassicTester::read_percentage() {
    CSectionGuard guard(&lock);
    return query(kReadPercentage, 0)[1];
}

std::uint16_t CClassicTester::read_offset_upper() {
    return query16(kReadOffsetUpper);
}

std::uint16_t CClassicTester::read_offset_lower() {
    return query16(kReadOffsetLower);
}

std::uint8_t CClassicTester::read_reserved_setting() {
    CSectionGuard guard(&lock);
    return query(kReadReserved, 0)[1];
}

std::string CClassicTester::read_serial_number() {
    return query_text(kReadSerial);
}

std::string CClassicTester::read_device_id() {
    return query_text(kReadDeviceId);
}

std::string CClassicTester::read_vendor_code() {
    return query_text(kReadVendorCode);
}

std::array<std::uint8_t, 7> CClassicTester::read_firmware_info() {
    CSectionGuard guard(&lock);
    const Frame& r = query(kReadFirmware, 0);
    std::array<std::uint8_t, 7> info{};
    std::copy_n(r.begin() + 1, info.size(), info.begin());
    return info;
}

std::uint16_t CClassicTester::read_range_max() {
    return query16(kReadRangeMax);
}

std::uint16_t CClassicTester::read_range_min() {
    return query16(kReadRangeMin);
}

void CClassicTester::write_upper_limit(std::int32_t value, int channel) {
    set(kWriteUpper, channel, value);
}

void CClassicTester::write_lower_limit(std::int32_t value, int channel) {
    set(kWriteLower, channel, value);
}

void CClassicTester::write_reference(std::int32_t value, int channel) {
    set(kWriteReference, channel, value);
}

void CClassicTester::write_channel_mode(std::int32_t value, int channel) {
    set(kWriteMode, channel, value & 0xFF);
}

void CClassicTester::write_offset_type(std::int32_t value) {
    set(kWriteOffsetType, 0, value & 0xFF);
}

void CClassicTester::write_percentage(std::int32_t value) {
    set(kWritePercentage, 0, value & 0xFF);
}

void CClassicTester::write_offset_upper(std::int32_t value) {
    set(kWriteOffsetUpper, 0, value);
}

void CClassicTester::write_offset_lower(std::int32_t value) {
    set(kWriteOffsetLower, 0, value);
}

void CClassicTester::write_range_max(std::int32_t value) {
    set(kWriteRangeMax, 0, value);
}

void CClassicTester::write_range_min(std::int32_t value) {
    set(kWriteRangeMin, 0, value);
}

void CClassicTester::read_channel_settings() {
    for (std::size_t k = 0; k < 32; ++k) {
        const int channel = static_cast<int>(k);
        const std::uint16_t upper = read_upper_limit(channel);
        const std::uint16_t lower = read_lower_limit(channel);
        const std::uint16_t reference = read_reference(channel);
        const std::uint8_t mode = read_channel_mode(channel);
        CSectionGuard guard(&lock);
        fields_.upper[k] = upper;
        fields_.lower[k] = lower;
        fields_.reference[k] = reference;
        fields_.modes[k] = mode;
    }
    const std::uint8_t offset_type = read_offset_type();
    const std::uint8_t percentage = read_percentage();
    const std::uint16_t offset_upper = read_offset_upper();
    const std::uint16_t offset_lower = read_offset_lower();
    read_reserved_setting();  // part of the board's settings sequence; its byte is not used
    CSectionGuard guard(&lock);
    fields_.offset_type = offset_type;
    fields_.percentage = percentage;
    fields_.offset_upper = offset_upper;
    fields_.offset_lower = offset_lower;
}

void CClassicTester::read_identity() {
    const std::uint16_t range_max = read_range_max();
    const std::uint16_t range_min = read_range_min();
    std::string serial = read_serial_number();
    std::string device_id = read_device_id();
    std::string vendor_code = read_vendor_code();
    CSectionGuard guard(&lock);
    fields_.range_max = range_max;
    fields_.range_min = range_min;
    fields_.serial_number = std::move(serial);
    fields_.device_id = std::move(device_id);
    fields_.vendor_code = std::move(vendor_code);
}

void CClassicTester::load_firmware_info() {
    const auto info = read_firmware_info();
    CSectionGuard guard(&lock);
    fields_.firmware_info = info;
}

void CClassicTester::reread_texts() {
    read_serial_number();
    read_device_id();
    read_vendor_code();
}

ClassicTesterFields CClassicTester::fields() const {
    CSectionGuard guard(&lock);
    return fields_;
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "hid/hiddata_simple_runoff.h"

#include <array>

#include "hid/maker_identity.h"

namespace kx {

namespace {

// Command codes.
constexpr std::uint8_t kReadValues = 0xF0;
constexpr std::uint8_t kReadReference = 0x01;
constexpr std::uint8_t kWriteReference = 0x02;
constexpr std::uint8_t kReadUpper = 0x10;
constexpr std::uint8_t kWriteUpper = 0x11;
constexpr std::uint8_t kReadLower = 0x20;
constexpr std::uint8_t kWriteLower = 0x21;
constexpr std::uint8_t kReadModes = 0x30;
constexpr std::uint8_t kWriteModes = 0x31;
constexpr std::uint8_t kReadRangeMax = 0xD8;
constexpr std::uint8_t kWriteRangeMax = 0xD7;
constexpr std::uint8_t kReadRangeMin = 0xDA;
constexpr std::uint8_t kWriteRangeMin = 0xD9;
constexpr std::uint8_t kSetOutputs = 0xD3;
constexpr std::uint8_t kReadSerialAndId = 0x50;
constexpr std::uint8_t kReadFirmwareVersion = 0x60;
constexpr std::uint8_t kReadFirmwareYear = 0x70;
constexpr std::uint8_t kReadFirmwareMonth = 0x80;
constexpr std::uint8_t kReadFirmwareDay = 0x90;
constexpr std::uint8_t kReadAuthor = 0xA0;
constexpr std::uint8_t kReadFeatureFlags = 0xB0;
constexpr std::uint8_t kReadLogoText = 0xD0;
constexpr std::uint8_t kReadOfflineDisplay = 0xD6;
constexpr std::uint8_t kWriteOfflineDisplay = 0xD5;
constexpr std::uint8_t kReadEdition = 0xDC;
constexpr std::uint8_t kReadVendorCode = 0xE0;

// Reply and data positions (report ID = byte 0).
constexpr std::size_t kRangeMaxPos = 22;
constexpr std::size_t kRangeMinPos = 24;
constexpr std::size_t kOfflineDisplayPos = 21;
constexpr std::size_t kEditionPos = 26;
constexpr std::size_t kFeatureFlagsPos = 15;
constexpr std::size_t kAuthorPos = 7;
constexpr std::size_t kAuthorLength = 8;
constexpr std::size_t kTextLowPos = 33;   // serial number, logo text
constexpr std::size_t kTextHighPos = 49;  // device id, vendor code
constexpr std::size_t kTextLength = 16;

constexpr std::array<RunoffIdentityRow, 8> kIdentityTable{{
    {RunoffProbe::Demo, "open_demo", "ravuno-demo", nullptr, "ODM"},
    {RunoffProbe::Version2, "open_version2", "VERSION2", "VERSION2-", nullptr},
    {RunoffProbe::Version3, "open_version3", "VERSION3", "VERSION3-", nullptr},
    {RunoffProbe::Version6, "open_version6", "VERSION6", "VERSION6-", nullptr},
    {RunoffProbe::Tarsel, "open_tarsel", "TARSEL", "TARSEL_DEV", "TARSEL"},
    {RunoffProbe::Movira, "open_movira", "MOVIRA", "MOVIRA_DEV", "MOVIRA"},
    {RunoffProbe::Tovak, "open_tovak", "MR.TOVAK", "MR.TOVAK_DEV", "DARMOLEN"},
    {RunoffProbe::Maker, "open_maker", kMakerIdentity, nullptr, kMakerOemName},
}};

constexpr std::array<RunoffProbe, 8> kStandardOrder{
    RunoffProbe::Demo,   RunoffProbe::Version2, RunoffProbe::Version3, RunoffProbe::Version6,
    RunoffProbe::Tarsel, RunoffProbe::Movira,   RunoffProbe::Tovak,    RunoffProbe::Maker};
constexpr std::array<RunoffProbe, 6> kNumberedOrder{RunoffProbe::Tarsel,   RunoffProbe::Version2,
                                                    RunoffProbe::Version3, RunoffProbe::Version6,
                                                    RunoffProbe::Movira,   RunoffProbe::Tovak};

}  // namespace

RunoffOutputs VerdictOutputs(int failCount, bool buzzerOn, bool buzzerInvert) {
    return VerdictOutputs(failCount, true, buzzerOn, buzzerInvert);
}

RunoffOutputs VerdictOutputs(int failCount, bool passAllowed, bool buzzerOn, bool buzzerInvert) {
    RunoffOutputs o;
    if (failCount == 0 && !passAllowed) {
        return o;
    }
    const bool pass = failCount == 0;
    o.pass = pass ? 1 : 0;
    o.fail = pass ? 0 : 1;
    o.buzzer = buzzerOn && (pass == buzzerInvert) ? 1 : 0;
    return o;
}

hiddata_simple_runoff::hiddata_simple_runoff(HidBus& bus) : hiddata(bus, "one-to-one") {}

hiddata_simple_runoff::~hiddata_simple_runoff() = default;

std::span<const RunoffIdentityRow> hiddata_simple_runoff::identity_table() {
    return kIdentityTable;
}

const RunoffIdentityRow& hiddata_simple_runoff::identity(RunoffProbe probe) {
    return kIdentityTable.at(static_cast<std::size_t>(probe));
}

std::optional<std::string> hiddata_simple_runoff::manufacturer_for(RunoffProbe probe, int machine) {
    const RunoffIdentityRow& row = identity(probe);
    if (machine == 0) {
        return std::string(row.plain);
    }
    if (row.numbered_prefix == nullptr || machine < 1 || machine > kMaxMachine) {
        return std::nullopt;
    }
    return std::string(row.numbered_prefix) + static_cast<char>('0' + machine);
}

std::span<const RunoffProbe> hiddata_simple_runoff::probe_order(int machine) {
    if (machine == 0) {
        return kStandardOrder;
    }
    if (machine >= 1 && machine <= kMaxMachine) {
        return kNumberedOrder;
    }
    return {};
}

int hiddata_simple_runoff::probe(RunoffProbe row, int machine) {
    CSectionGuard guard(&lock);
    const std::optional<std::string> manufacturer = manufacturer_for(row, machine);
    if (!manufacturer) {
        return 1;
    }
    return open(kProductId, kVendorId, *manufacturer, kProduct);
}

std::optional<int> hiddata_simple_runoff::other_machine_listed(int machine) const {
    const std::vector<HidDeviceInfo> devices = listing();
    for (int other = 0; other <= kMaxMachine; ++other) {
        if (other == machine) {
            continue;
        }
        for (RunoffProbe row : probe_order(other)) {
            const std::optional<std::string> manufacturer = manufacturer_for(row, other);
            if (manufacturer && listed(devices, kProductId, kVendorId, *manufacturer, kProduct)) {
                return other;
            }
        }
    }
    return std::nullopt;
}

std::optional<Words> hiddata_simple_runoff::read_values() {
    return query_decoded(CommandReport(kReadValues), ReadLe16Page);
}

std::optional<Words> hiddata_simple_runoff::read_reference() {
    return query_decoded(CommandReport(kReadReference), ReadBe16Page);
}

std::optional<Words> hiddata_simple_runoff::read_upper_limits() {
    return query_decoded(CommandReport(kReadUpper), ReadBe16Page);
}

std::optional<Words> hiddata_simple_runoff::read_lower_limits() {
    return query_decoded(CommandReport(kReadLower), ReadBe16Page);
}

std::optional<ModeBytes> hiddata_simple_runoff::read_channel_modes() {
    return query_decoded(CommandReport(kReadModes), ReadModePage);
}

bool hiddata_simple_runoff::write_page(std::uint8_t code, std::span<const std::int32_t> values) {
    const Frame command = CommandReport(code);
    Frame second = command;
    PutBe16Page(second, values);
    return exchange_set(command, second);
}

bool hiddata_simple_runoff::write_reference(std::span<const std::int32_t> values) {
    return write_page(kWriteReference, values);
}

bool hiddata_simple_runoff::write_upper_limits(std::span<const std::int32_t> values) {
    return write_page(kWriteUpper, values);
}

bool hiddata_simple_runoff::write_lower_limits(std::span<const std::int32_t> values) {
    return write_page(kWriteLower, values);
}

bool hiddata_simple_runoff::write_channel_modes(std::span<const std::uint8_t> modes) {
    const Frame command = CommandReport(kWriteModes);
    Frame second = command;
    PutModePage(second, modes);
    return exchange_set(command, second);
}

std::optional<std::uint16_t> hiddata_simple_runoff::read_range_max() {
    return query_be16(kReadRangeMax, kRangeMaxPos);
}

std::optional<std::uint16_t> hiddata_simple_runoff::read_range_min() {
    return query_be16(kReadRangeMin, kRangeMinPos);
}

bool hiddata_simple_runoff::write_range_max(std::int32_t value) {
    return set_be16(kWriteRangeMax, kRangeMaxPos, value);
}

bool hiddata_simple_runoff::write_range_min(std::int32_t value) {
    return set_be16(kWriteRangeMin, kRangeMinPos, value);
}

bool hiddata_simple_runoff::set_outputs(std::uint8_t pass, std::uint8_t fail, std::uint8_t third,
                                        std::uint8_t buzzer) {
    Frame second{};  // cleared: the command code does not survive into it
    second[1] = pass;
    second[2] = fail;
    second[3] = third;
    second[4] = buzzer;
    return exchange_set(CommandReport(kSetOutputs), second);
}

std::optional<std::string> hiddata_simple_runoff::read_serial_number() {
    return query_text(kReadSerialAndId, kTextLowPos, kTextLength);
}

std::optional<std::string> hiddata_simple_runoff::read_device_id() {
    return query_text(kReadSerialAndId, kTextHighPos, kTextLength);
}

std::optional<std::uint16_t> hiddata_simple_runoff::read_firmware_version() {
    return query_be16(kReadFirmwareVersion, 1);
}

std::optional<std::uint16_t> hiddata_simple_runoff::read_firmware_year() {
    return query_be16(kReadFirmwareYear, 3);
}

std::optional<std::uint8_t> hiddata_simple_runoff::read_firmware_month() {
    return query_byte(kReadFirmwareMonth, 5);
}

std::optional<std::uint8_t> hiddata_simple_runoff::read_firmware_day() {
    return query_byte(kReadFirmwareDay, 6);
}

std::optional<std::string> hiddata_simple_runoff::read_author() {
    return query_text(kReadAuthor, kAuthorPos, kAuthorLength);
}

std::optional<std::uint8_t> hiddata_simple_runoff::read_feature_flags() {
    return query_byte(kReadFeatureFlags, kFeatureFlagsPos);
}

std::optional<std::string> hiddata_simple_runoff::read_logo_text() {
    return query_text(kReadLogoText, kTextLowPos, kTextLength);
}

std::optional<std::uint8_t> hiddata_simple_runoff::read_offline_display() {
    return query_byte(kReadOfflineDisplay, kOfflineDisplayPos);
}

bool hiddata_simple_runoff::write_offline_display(std::uint8_t value) {
    Frame second{};
    second[kOfflineDisplayPos] = value;
    return exchange_set(CommandReport(kWriteOfflineDisplay), second);
}

std::optional<std::uint8_t> hiddata_simple_runoff::read_edition() {
    return query_byte(kReadEdition, kEditionPos);
}

std::optional<std::string> hiddata_simple_runoff::read_vendor_code() {
    return query_text(kReadVendorCode, kTextHighPos, kTextLength);
}

}  // namespace kx

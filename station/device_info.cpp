// SPDX-License-Identifier: MIT
#include "station/device_info.h"

#include <charconv>
#include <cstdio>

#include "hid/firmware_text.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "hid/maker_identity.h"

namespace kx {

namespace {

// The number of positions of a rows x columns grid that the dialogs hold.
int PositionCount(int rows, int columns) {
    if (rows <= 0 || columns <= 0) {
        return 0;
    }
    const long long n = static_cast<long long>(rows) * columns;
    return n > kMaxHeadPositions ? kMaxHeadPositions : static_cast<int>(n);
}

// The identity the Velmora5 and the master board give through the same
// commands, read in the order the dialogs have always read it.
template <typename Board, typename About>
void ReadFirmwareIdentity(Board& board, About& about) {
    about.vendorName = BoardText(board.read_vendor_code());
    about.deviceId = BoardText(board.read_device_id());
    about.firmwareVersion = NibbleVersionText(board.read_firmware_version());
    const std::optional<std::uint8_t> day = board.read_firmware_day();
    const std::optional<std::uint8_t> month = board.read_firmware_month();
    const std::optional<std::uint16_t> year = board.read_firmware_year();
    about.firmwareDate = DateText(year, month, day);
}

}  // namespace

std::string BoardText(const std::optional<std::string>& text, std::size_t maxChars) {
    std::string out;
    if (!text) {
        return out;
    }
    for (const char ch : *text) {
        if (ch == '\0' || out.size() >= maxChars) {
            break;
        }
        const auto byte = static_cast<unsigned char>(ch);
        out.push_back(byte >= 0x20 && byte < 0x7F ? ch : '?');
    }
    return out;
}

std::string HexVersionText(std::optional<std::uint16_t> version) {
    if (!version) {
        return {};
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(*version));
    return text;
}

std::string NibbleVersionText(std::optional<std::uint16_t> version) {
    return version ? FirmwareVersionText(*version) : std::string();
}

std::string DateText(std::optional<std::uint16_t> year, std::optional<std::uint8_t> month,
                     std::optional<std::uint8_t> day) {
    if (!year || !month || !day) {
        return {};
    }
    return FirmwareDateText(*year, *month, *day);
}

std::string EditionText(std::optional<std::uint8_t> edition) {
    static constexpr const char* kEditions[] = {
        KX_TRANSLATE_NOOP("DeviceInfo", "一拖一基础版本V1"),
        KX_TRANSLATE_NOOP("DeviceInfo", "一拖一升级版本V2"),
        KX_TRANSLATE_NOOP("DeviceInfo", "一拖一之[一号机]"),
        KX_TRANSLATE_NOOP("DeviceInfo", "一拖一之[二号机]"),
        KX_TRANSLATE_NOOP("DeviceInfo", "一拖一之[三号机]"),
        KX_TRANSLATE_NOOP("DeviceInfo", "一拖一之[四号机]"),
        KX_TRANSLATE_NOOP("DeviceInfo", "一拖一之[五号机]"),
    };
    if (!edition || *edition >= std::size(kEditions)) {
        return {};
    }
    return TrText("DeviceInfo", kEditions[*edition]);
}

std::string ClassicVendorName(std::string_view vendorCode) {
    if (vendorCode == "movira") {
        return "MOVIRA";
    }
    if (vendorCode == kMakerIdentity) {
        return kMakerOemName;
    }
    if (vendorCode == "tarsel") {
        return "TARSEL";
    }
    return {};
}

std::string AppVersionText(std::string_view dotted) {
    unsigned parts[4] = {0, 0, 0, 0};
    std::size_t count = 0;
    std::size_t pos = 0;
    while (true) {
        if (count == 4) {
            return {};
        }
        const std::size_t dot = dotted.find('.', pos);
        const std::string_view part =
            dotted.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() ||
            value > 0xFFFF) {
            return {};
        }
        parts[count++] = value;
        if (dot == std::string_view::npos) {
            break;
        }
        pos = dot + 1;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    return text;
}

Brand BrandFor(std::string_view vendorName, LogoRules rules) {
    if (vendorName.empty()) {
        return Brand::Default;
    }
    if (vendorName == "TARSEL") {
        return Brand::Tarsel;
    }
    if (vendorName == "MOVIRA") {
        return Brand::Movira;
    }
    if (vendorName == "DARMOLEN") {
        return Brand::Darmolen;
    }
    if (vendorName == kMakerOemName) {
        return Brand::Maker;
    }
    if (rules == LogoRules::AboutDialog && vendorName == "BORVANECO") {
        return Brand::Maker;
    }
    return Brand::Default;
}

const char* BrandPicturePath(Brand brand) {
    switch (brand) {
        case Brand::Tarsel:
            return ":/brand/tarsel.png";
        case Brand::Movira:
            return ":/brand/movira.png";
        case Brand::Darmolen:
            return ":/brand/darmolen.png";
        case Brand::Maker:
            return ":/brand/maker.png";
        case Brand::Default:
            break;
    }
    return ":/brand/default.png";
}

int OfflineCheckState(std::uint8_t offlineByte) {
    return offlineByte <= 2 ? offlineByte : 0;
}

// The reads below are the only place that knows how a board's queries
// answer; everything above takes a value that may not have come.

AboutInfo ReadRunoffAbout(hiddata_simple_runoff& board, const std::string& oemName) {
    AboutInfo info;
    info.serialNumber = BoardText(board.read_serial_number());
    info.deviceId = BoardText(board.read_device_id());
    info.author = BoardText(board.read_author(), 8);
    info.firmwareVersion = HexVersionText(board.read_firmware_version());
    const std::optional<std::uint8_t> day = board.read_firmware_day();
    const std::optional<std::uint8_t> month = board.read_firmware_month();
    const std::optional<std::uint16_t> year = board.read_firmware_year();
    info.firmwareDate = DateText(year, month, day);
    const std::optional<std::uint8_t> flags = board.read_feature_flags();
    info.optionEditable = flags && (*flags & 0x80) != 0;
    info.logoText = BoardText(board.read_logo_text());
    const std::optional<std::uint8_t> offline = board.read_offline_display();
    info.offlineDisplay = offline ? OfflineCheckState(*offline) : 0;
    info.sendsOffline = offline.has_value();
    if (!offline) {
        info.optionEditable = false;
    }
    info.edition = EditionText(board.read_edition());
    info.vendorName = oemName.empty() ? BoardText(board.read_vendor_code()) : oemName;
    return info;
}

bool WriteOfflineDisplay(hiddata_simple_runoff& board, int offlineDisplay) {
    return board.write_offline_display(static_cast<std::uint8_t>(offlineDisplay));
}

AboutInfo ClassicAbout(const ClassicTesterFields& fields) {
    const ClassicFirmware firmware = DecodeFirmwareInfo(fields.firmware_info);
    AboutInfo info;
    info.serialNumber = BoardText(fields.serial_number, 8);
    info.deviceId = BoardText(fields.device_id, 8);
    info.author = kClassicAuthor;
    info.firmwareVersion = HexVersionText(firmware.version);
    info.firmwareDate = DateText(firmware.year, firmware.month, firmware.day);
    info.edition = TrText("DeviceInfo", kClassicEdition);
    info.vendorName = ClassicVendorName(fields.vendor_code);
    // The classic tester has no offline-display setting to write, so the
    // box is never offered, whatever its firmware flag says.
    info.optionEditable = false;
    info.sendsOffline = false;
    return info;
}

Velmora5About ReadVelmora5About(hiddata_velmora5& board) {
    Velmora5About about;
    ReadFirmwareIdentity(board, about);
    if (const std::optional<ModeBytes> page =
            board.read_channel_modes(hiddata_velmora5::kLayoutHead)) {
        about.layout = Velmora5LayoutRecord{(*page)[0], (*page)[1], (*page)[2]};
    }
    return about;
}

bool WriteVelmora5Layout(hiddata_velmora5& board, const Velmora5LayoutRecord& layout) {
    const ModeBytes page = Velmora5LayoutPage(layout.inUse, layout.rows, layout.columns);
    return board.write_channel_modes(hiddata_velmora5::kLayoutHead, page);
}

HeadPositions HeadsFromMap(const MasterPositionMap& map, int rows, int columns) {
    HeadPositions heads;
    heads.fill(kNoHead);
    const int count = PositionCount(rows, columns);
    for (int k = 0; k < count && k < kMasterMapPositions; ++k) {
        const MasterMapEntry entry = DecodeMapEntry(map, k);
        heads[static_cast<std::size_t>(k)] = entry.assigned ? entry.head : kNoHead;
    }
    return heads;
}

MasterPositionMap BuildPositionMap(const HeadPositions& heads, int rows, int columns) {
    MasterPositionMap map{};
    const int count = PositionCount(rows, columns);
    for (int k = 0; k < count && k < kMasterMapPositions; ++k) {
        const int c = k % columns;
        const int r = k / columns;
        const std::int32_t head = heads[static_cast<std::size_t>(r * columns + c)];
        map[static_cast<std::size_t>(2 * k)] = static_cast<std::uint8_t>(c * 16 + r);
        map[static_cast<std::size_t>(2 * k + 1)] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(head) | 0x80u);
    }
    return map;
}

std::int32_t LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<std::int32_t>(value);
}

MasterAbout ReadMasterAbout(hiddata_masterHID& board, int rows, int columns) {
    MasterAbout about;
    ReadFirmwareIdentity(board, about);
    const std::optional<std::uint8_t> first = board.read_buzzer_settings();
    const std::optional<std::uint8_t> second = board.read_buzzer_settings();
    if (first && second) {
        about.buzzerOn = BuzzerOn(*first);
        about.buzzerInverted = BuzzerInverted(*second);
    }
    about.heads = HeadsFromMap(board.position_map(), rows, columns);
    about.columns = columns;
    about.rows = rows;
    return about;
}

bool WriteMasterLayout(hiddata_masterHID& board, const MasterLayout& layout) {
    // Every step is tried even after one failed: the operator is told, and
    // whatever the board took stays consistent with what the dialog showed.
    bool ok = board.write_columns(static_cast<std::uint8_t>(layout.columns));
    ok = board.write_rows(static_cast<std::uint8_t>(layout.rows)) && ok;
    ok =
        board.write_position_map(BuildPositionMap(layout.heads, layout.rows, layout.columns)) && ok;
    if (layout.buzzer) {
        ok = board.write_buzzer_settings(*layout.buzzer) && ok;
    }
    ok = board.load_position_map() && ok;
    return ok;
}

}  // namespace kx

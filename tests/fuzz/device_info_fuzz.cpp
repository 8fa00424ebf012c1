// SPDX-License-Identifier: MIT
// libFuzzer target for the texts the device-information dialogs make of
// board values. The input is cut into the values one board reply could
// carry. Checks, for any values:
// - a board text is at most its field long, printable ASCII only, and is the
//   text up to its first zero byte with every other byte shown as "?";
// - the version and date texts read back as the numbers they came from, and
//   a value that did not come gives an empty text;
// - every text is valid UTF-8;
// - the edition, vendor and brand lookups give a text or picture only for
//   the names they know, the board dialogs never more than the about dialog;
// - the program's version text is four parts and unchanged when read again;
// - a cell's leading number is the typed number's low 32 bits;
// - a position map built for a grid decodes to the heads it was built from
//   (their low 7 bits) and holds nothing past the grid's positions;
// - the classic tester's about record is made of exactly those texts.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "hid/maker_identity.h"
#include "station/device_info.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool ValidUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += len;
    }
    return true;
}

template <typename T>
std::optional<T> MaybeValue(FuzzedDataProvider& fdp) {
    if (!fdp.ConsumeBool()) {
        return std::nullopt;
    }
    return fdp.ConsumeIntegral<T>();
}

void CheckBoardText(const std::optional<std::string>& raw, std::size_t maxChars) {
    const std::string shown = kx::BoardText(raw, maxChars);
    if (!raw) {
        Check(shown.empty());
        return;
    }
    std::string expected;
    for (const char ch : *raw) {
        if (ch == '\0' || expected.size() == maxChars) {
            break;
        }
        const auto c = static_cast<unsigned char>(ch);
        expected.push_back(c >= 0x20 && c <= 0x7E ? ch : '?');
    }
    Check(shown == expected);
    Check(shown.size() <= maxChars);
}

void CheckVersions(std::optional<std::uint16_t> version) {
    const std::string hex = kx::HexVersionText(version);
    const std::string nibbles = kx::NibbleVersionText(version);
    if (!version) {
        Check(hex.empty() && nibbles.empty());
        return;
    }
    Check(hex.starts_with("0x") && hex.size() <= 6);
    Check(std::strtoul(hex.c_str() + 2, nullptr, 16) == *version);
    unsigned a = 99, b = 99, c = 99, d = 99;
    char tail = 0;
    Check(nibbles.size() == 7);
    Check(std::sscanf(nibbles.c_str(), "%x.%x.%x.%x%c", &a, &b, &c, &d, &tail) == 4);
    Check(((a << 12) | (b << 8) | (c << 4) | d) == *version);
}

void CheckDate(std::optional<std::uint16_t> year, std::optional<std::uint8_t> month,
               std::optional<std::uint8_t> day) {
    const std::string text = kx::DateText(year, month, day);
    if (!year || !month || !day) {
        Check(text.empty());
        return;
    }
    Check(ValidUtf8(text));
    unsigned y = 0, m = 0, d = 0;
    Check(std::sscanf(text.c_str(), "%u年%u月%u日", &y, &m, &d) == 3);
    Check(y == *year && m == *month && d == *day);
    Check(text.ends_with("日"));
    char expected[64];
    std::snprintf(expected, sizeof expected, "%04u年%02u月%02u日", unsigned{*year},
                  unsigned{*month}, unsigned{*day});
    Check(text == expected);
}

void CheckNames(std::string_view name) {
    const std::string vendor = kx::ClassicVendorName(name);
    const bool known = name == "movira" || name == "tarsel" || name == kx::kMakerIdentity;
    Check(vendor.empty() != known);
    for (const kx::LogoRules rules : {kx::LogoRules::AboutDialog, kx::LogoRules::BoardDialog}) {
        Check(known == (kx::BrandFor(vendor, rules) != kx::Brand::Default));
        const kx::Brand brand = kx::BrandFor(name, rules);
        const std::string_view path = kx::BrandPicturePath(brand);
        Check(path.starts_with(":/brand/") && path.ends_with(".png"));
        Check((brand == kx::Brand::Default) == (path == kx::BrandPicturePath(kx::Brand::Default)));
    }
    const kx::Brand about = kx::BrandFor(name, kx::LogoRules::AboutDialog);
    const kx::Brand board = kx::BrandFor(name, kx::LogoRules::BoardDialog);
    Check(board == about || (board == kx::Brand::Default && name == "BORVANECO"));
    if (name.empty()) {
        Check(about == kx::Brand::Default);
    }
}

// Four parts of 0 to 65535 read independently of AppVersionText.
void CheckAppVersion(std::string_view dotted) {
    const std::string text = kx::AppVersionText(dotted);
    unsigned long parts[4] = {0, 0, 0, 0};
    int count = 0;
    bool ok = true;
    std::string_view rest = dotted;
    for (;;) {
        const std::size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        if (count == 4 || part.empty() ||
            part.find_first_not_of("0123456789") != std::string_view::npos) {
            ok = false;
            break;
        }
        // Leading zeros are allowed ("007" is 7), however many.
        std::string_view digits = part.substr(std::min(part.find_first_not_of('0'), part.size()));
        if (digits.size() > 5) {
            ok = false;
            break;
        }
        parts[count++] =
            digits.empty() ? 0 : std::strtoul(std::string(digits).c_str(), nullptr, 10);
        if (parts[count - 1] > 0xFFFF) {
            ok = false;
            break;
        }
        if (dot == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(dot + 1);
    }
    if (!ok) {
        Check(text.empty());
        return;
    }
    char expected[32];
    std::snprintf(expected, sizeof expected, "%lu.%lu.%lu.%lu", parts[0], parts[1], parts[2],
                  parts[3]);
    Check(text == expected);
    Check(kx::AppVersionText(text) == text);
}

void CheckLeadingNumber(std::string_view cell) {
    std::size_t i = 0;
    while (i < cell.size() && std::strchr(" \t\n\r\v\f", cell[i]) != nullptr && cell[i] != '\0') {
        ++i;
    }
    bool negative = false;
    if (i < cell.size() && (cell[i] == '+' || cell[i] == '-')) {
        negative = cell[i++] == '-';
    }
    std::uint64_t low = 0;  // the number modulo 2^32
    for (; i < cell.size() && cell[i] >= '0' && cell[i] <= '9'; ++i) {
        low = (low * 10 + static_cast<std::uint64_t>(cell[i] - '0')) & 0xFFFFFFFFu;
    }
    if (negative) {
        low = (0x100000000u - low) & 0xFFFFFFFFu;
    }
    Check(static_cast<std::uint32_t>(kx::LeadingNumber(cell)) == low);
}

void CheckPositionMap(FuzzedDataProvider& fdp) {
    const int rows = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange(-2, 12)
                                       : fdp.ConsumeIntegral<std::int32_t>();
    const int columns = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange(-2, 12)
                                          : fdp.ConsumeIntegral<std::int32_t>();
    kx::HeadPositions heads{};
    for (std::int32_t& h : heads) {
        h = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange(0, 40)
                              : fdp.ConsumeIntegral<std::int32_t>();
    }
    long long cells = rows > 0 && columns > 0 ? static_cast<long long>(rows) * columns : 0;
    const int count = static_cast<int>(std::min<long long>(cells, kx::kMasterMapPositions));

    const kx::MasterPositionMap map = kx::BuildPositionMap(heads, rows, columns);
    for (int k = count; k < kx::kMasterMapPositions; ++k) {
        Check(map[static_cast<std::size_t>(2 * k)] == 0 &&
              map[static_cast<std::size_t>(2 * k + 1)] == 0);
    }
    const kx::HeadPositions back = kx::HeadsFromMap(map, rows, columns);
    for (int k = 0; k < kx::kMaxHeadPositions; ++k) {
        const std::int32_t got = back[static_cast<std::size_t>(k)];
        if (k < count) {
            const kx::MasterMapEntry entry = kx::DecodeMapEntry(map, k);
            Check(entry.assigned);
            Check(entry.column == k % columns && entry.row == k / columns);
            Check(got == (heads[static_cast<std::size_t>(k)] & 0x7F));
        } else {
            Check(got == kx::kNoHead);
        }
    }

    // Any map the board sends: an assigned head is 7 bits, the rest unset.
    kx::MasterPositionMap fromBoard{};
    for (std::uint8_t& b : fromBoard) {
        b = fdp.ConsumeIntegral<std::uint8_t>();
    }
    const kx::HeadPositions read = kx::HeadsFromMap(fromBoard, rows, columns);
    for (int k = 0; k < kx::kMaxHeadPositions; ++k) {
        const std::int32_t got = read[static_cast<std::size_t>(k)];
        Check(got == kx::kNoHead || (got >= 0 && got <= 0x7F));
        if (k >= count) {
            Check(got == kx::kNoHead);
        }
    }
    // Built again from what was read, every assigned head stays.
    const kx::HeadPositions again =
        kx::HeadsFromMap(kx::BuildPositionMap(read, rows, columns), rows, columns);
    for (int k = 0; k < count; ++k) {
        const std::int32_t got = read[static_cast<std::size_t>(k)];
        Check(again[static_cast<std::size_t>(k)] == (got == kx::kNoHead ? 0x7F : got));
    }
}

void CheckClassicAbout(FuzzedDataProvider& fdp) {
    kx::ClassicTesterFields fields;
    for (std::uint8_t& b : fields.firmware_info) {
        b = fdp.ConsumeIntegral<std::uint8_t>();
    }
    fields.serial_number = fdp.ConsumeRandomLengthString(24);
    fields.device_id = fdp.ConsumeRandomLengthString(24);
    fields.vendor_code = fdp.ConsumeRandomLengthString(24);
    const kx::AboutInfo info = kx::ClassicAbout(fields);
    CheckBoardText(fields.serial_number, 8);
    Check(info.serialNumber == kx::BoardText(fields.serial_number, 8));
    Check(info.deviceId == kx::BoardText(fields.device_id, 8));
    const auto& fw = fields.firmware_info;
    const auto year = static_cast<std::uint16_t>(fw[0] | (fw[1] << 8));
    const auto version = static_cast<std::uint16_t>(fw[4] | (fw[5] << 8));
    Check(info.firmwareVersion == kx::HexVersionText(version));
    Check(info.firmwareDate == kx::DateText(year, fw[2], fw[3]));
    Check(info.author == kx::kClassicAuthor && info.edition == kx::kClassicEdition);
    Check(info.vendorName == kx::ClassicVendorName(fields.vendor_code));
    Check(info.logoText.empty() && info.offlineDisplay == 0);
    Check(!info.optionEditable && !info.sendsOffline);
    for (const std::string* s :
         {&info.serialNumber, &info.deviceId, &info.author, &info.firmwareVersion,
          &info.firmwareDate, &info.edition, &info.vendorName}) {
        Check(ValidUtf8(*s));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);

    const std::size_t maxChars = fdp.ConsumeIntegralInRange<std::size_t>(0, 40);
    std::optional<std::string> raw;
    if (fdp.ConsumeBool()) {
        raw = fdp.ConsumeRandomLengthString(64);
    }
    CheckBoardText(raw, maxChars);
    CheckBoardText(raw, 16);

    CheckVersions(MaybeValue<std::uint16_t>(fdp));
    CheckDate(MaybeValue<std::uint16_t>(fdp), MaybeValue<std::uint8_t>(fdp),
              MaybeValue<std::uint8_t>(fdp));

    const std::optional<std::uint8_t> edition = MaybeValue<std::uint8_t>(fdp);
    const std::string editionText = kx::EditionText(edition);
    Check(editionText.empty() == (!edition || *edition > 6));
    Check(ValidUtf8(editionText));

    const std::uint8_t offline = fdp.ConsumeIntegral<std::uint8_t>();
    const int state = kx::OfflineCheckState(offline);
    Check(state == (offline <= 2 ? offline : 0));

    CheckNames(fdp.ConsumeRandomLengthString(16));
    CheckAppVersion(fdp.ConsumeRandomLengthString(40));
    CheckLeadingNumber(fdp.ConsumeRandomLengthString(40));
    const std::int32_t typed = fdp.ConsumeIntegral<std::int32_t>();
    Check(kx::LeadingNumber(" " + std::to_string(typed) + "x") == typed);

    CheckPositionMap(fdp);
    CheckClassicAbout(fdp);
    // Whatever is left is one more board text and cell.
    const std::string rest = fdp.ConsumeRemainingBytesAsString();
    CheckBoardText(rest, 16);
    CheckLeadingNumber(rest);
    CheckNames(rest);
    CheckAppVersion(rest);
    return 0;
}

// SPDX-License-Identifier: MIT
// libFuzzer target for the INI reader and the configuration readers built
// on it. Checks, for any bytes:
// - parsing gives back exactly the bytes it read;
// - the configuration and the old layout read without fault (the
//   sanitizers watch every read), also when the values whose text is not a
//   number are named;
// - asking how a text reads as a number never changes the number;
// - a key written with names taken from the input either is refused and
//   leaves the file as it was, or reads back as written, also after the
//   file is written out and read again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "config/config_file.h"
#include "config/ini_file.h"
#include "config/legacy_config.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// Text between the first '[' and the next ']' and the text before the first
// '=' on its line: names as the input itself spells them.
std::string_view SectionOf(std::string_view in) {
    const std::size_t open = in.find('[');
    if (open == std::string_view::npos) {
        return "GLOBAL";
    }
    const std::size_t close = in.find(']', open);
    return close == std::string_view::npos ? in.substr(open + 1, 8)
                                           : in.substr(open + 1, close - open - 1);
}

std::string_view KeyOf(std::string_view in) {
    const std::size_t eq = in.find('=');
    if (eq == std::string_view::npos) {
        return "COL";
    }
    const std::size_t start = in.find_last_of("\r\n", eq);
    const std::size_t from = start == std::string_view::npos ? 0 : start + 1;
    std::string_view key = in.substr(from, eq - from);
    while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) {
        key.remove_prefix(1);
    }
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
        key.remove_suffix(1);
    }
    return key;
}

void WriteAndReadBack(const kx::IniFile& parsed, std::string_view in, std::string_view section,
                      std::string_view key, const std::string& value) {
    kx::IniFile file = parsed;
    if (!file.SetString(section, key, value)) {
        Check(file.Serialize() == in);
        return;
    }
    Check(file.GetString(section, key) == value);
    const std::string out = file.Serialize();
    const kx::IniFile again = kx::IniFile::Parse(out);
    Check(again.GetString(section, key) == value);
    Check(again.Serialize() == out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const kx::IniFile file = kx::IniFile::Parse(in);
    Check(file.Serialize() == in);

    const kx::ConfigReader reader(file);
    Check(reader.PageCount() >= 0 && reader.PageCount() <= kx::kPageCount);
    Check(reader.Globals().columns >= 0 && reader.Globals().columns <= kx::kConfigMaxColumns);
    Check(reader.Globals().rows >= 0 && reader.Globals().rows <= kx::kConfigMaxRows);
    kx::PageRecord page{};
    kx::SuspectValues suspects = reader.GlobalSuspects();
    for (int p = 0; p < reader.PageCount(); ++p) {
        Check(reader.ReadPage(p, page, &suspects));
    }
    (void)kx::SuspectValuesNotice(suspects);
    (void)kx::LayoutNotice(reader.Layout());
    const kx::FileError refused = reader.Check("fuzz.ini");
    Check(!refused || refused.ContentRefused());
    (void)refused.Message();
    const kx::FileError legacyRefused = kx::CheckLegacyConfig(file, "fuzz.ini");
    Check(!legacyRefused || legacyRefused.ContentRefused());
    kx::ReadLegacyPage(file, page);
    // Asking how a text reads never changes what it reads as.
    kx::NumberText how = kx::NumberText::kMissing;
    const float f = kx::ParseProfileFloat(in);
    const float checkedF = kx::ParseProfileFloat(in, &how);
    Check(how != kx::NumberText::kMissing);
    Check(std::memcmp(&f, &checkedF, sizeof f) == 0);
    how = kx::NumberText::kMissing;
    Check(kx::ParseProfileInt(in, &how) == kx::ParseProfileInt(in));
    Check(how != kx::NumberText::kMissing);

    const std::string value = std::to_string(size);
    WriteAndReadBack(file, in, SectionOf(in), KeyOf(in), value);
    WriteAndReadBack(file, in, "GLOBAL", "FPCTEST", value);
    WriteAndReadBack(file, in, "PAGE00_MASK", "CH31", value);
    return 0;
}

#include "config/legacy_config.h"

#include <cstdio>

namespace kx {

namespace {

void ReadChannels(const IniFile& file, const char* section, ChannelValues& values) {
    char key[24];
    for (int c = 0; c < kChannels; ++c) {
        std::snprintf(key, sizeof key, "ch%d", c);
        values[c] = file.GetInt(section, key);
    }
}

}  // namespace

void ReadLegacyPage(const IniFile& file, PageRecord& page) {
    // The old layout has two switches, "offsetfunction1" (by percentage) and
    // "offsetfunction2" (by value); the second one alone decides.
    page.offsetType = file.GetInt("offset", "offsetfunction2") == 0 ? 1 : 0;
    page.percentage = file.GetFloat("offset", "offsetvalue1");
    page.offsetUpper = file.GetInt("offset", "offsetvalue_up");
    page.offsetLower = file.GetInt("offset", "offsetvalue_down");
    ReadChannels(file, "baseline", page.reference);
    ReadChannels(file, "upperlimit", page.upper);
    ReadChannels(file, "lowerlimit", page.lower);
    page.rangeMax = file.GetInt("datarange", "maxvalue");
    page.rangeMin = file.GetInt("datarange", "minvalue");
    char key[24];
    for (int c = 0; c < kChannels; ++c) {
        std::snprintf(key, sizeof key, "ch_en%d", c);
        page.mask[c] = file.GetInt("channelenable", key) != 0 ? Tested : Masked;
    }
}

}  // namespace kx

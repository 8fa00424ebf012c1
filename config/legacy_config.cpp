// SPDX-License-Identifier: MIT
#include "config/legacy_config.h"

#include <cstdio>

#include "config/config_file.h"
#include "core/tr_text.h"

namespace kx {

namespace {

void ReadChannels(const IniFile& file, const char* section, ChannelValues& values) {
    char key[24];
    for (int c = 0; c < kChannels; ++c) {
        std::snprintf(key, sizeof key, "ch%d", c);
        values[c] = file.GetInt(section, key);
    }
}

// Calls f(section, key) for every key ReadLegacyPage reads a field from,
// in its order.
template <typename F>
void ForEachLegacyKey(F&& f) {
    char key[24];
    f("offset", "offsetfunction2");
    f("offset", "offsetvalue1");
    f("offset", "offsetvalue_up");
    f("offset", "offsetvalue_down");
    for (const char* section : {"baseline", "upperlimit", "lowerlimit"}) {
        for (int c = 0; c < kChannels; ++c) {
            std::snprintf(key, sizeof key, "ch%d", c);
            f(section, key);
        }
    }
    f("datarange", "maxvalue");
    f("datarange", "minvalue");
    for (int c = 0; c < kChannels; ++c) {
        std::snprintf(key, sizeof key, "ch_en%d", c);
        f("channelenable", key);
    }
}

}  // namespace

bool HasLegacyKeys(const IniFile& file) {
    bool any = file.Find("offset", "offsetfunction1").has_value();
    ForEachLegacyKey([&](const char* section, const char* key) {
        any = any || file.Find(section, key).has_value();
    });
    return any;
}

FileError CheckLegacyConfig(const IniFile& file, const std::string& path) {
    FileError error;
    error.path = path;
    if (!HasLegacyKeys(file)) {
        if (HasConfigKeys(file)) {
            error.code = FileError::kNewConfig;
        } else {
            error.code = FileError::kNotLegacyConfig;
            error.detail = TrText("ConfigFile",
                                  "文件中没有老版本配置载入所读的任何设置（[offset]、[baseline]、"
                                  "[upperlimit]、[lowerlimit]、[datarange]、[channelenable]）");
        }
        return error;
    }
    int missing = 0;
    std::string first;
    ForEachLegacyKey([&](const char* section, const char* key) {
        if (!file.Find(section, key) && missing++ == 0) {
            first = FormatText(TrText("ConfigFile", "[%1] 中的 %2"), {section, key});
        }
    });
    if (missing > 0) {
        error.code = FileError::kIncompleteConfig;
        error.detail = FormatText(TrText("ConfigFile", "缺少 %1 项设置（如 %2）"),
                                  {std::to_string(missing), first});
    }
    return error;
}

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

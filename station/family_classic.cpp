// SPDX-License-Identifier: MIT
#include "station/family_classic.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "station/device_info.h"
#include "station/page_access.h"
#include "station/station_texts.h"

namespace kx {

std::atomic<std::int32_t> g_classicChannel{0};

namespace {

constexpr int kClassicLastPosition = kChannels;  // 32

// The percentage as the classic tester takes it: truncated toward zero (the
// board keeps its low 8 bits). A value read from a file may be anything.
std::int32_t TruncatedPercentage(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double t = std::trunc(static_cast<double>(value));
    const double lo = std::numeric_limits<std::int32_t>::min();
    const double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(t, lo, hi));
}

}  // namespace

ClassicFamily::ClassicFamily(HidBus& bus, FamilyHost& host) : BoardFamily(host), classic_(bus) {}

const char* ClassicFamily::Title() const {
    return kTitleClassic;
}

void ClassicFamily::Probe(OpenRefusal& refusal) {
    present_ = classic_.open_board() == 0 && classic_.open_board() == 0;
    refusal.Note(classic_, kName);
}

bool ClassicFamily::SetUp() {
    host_.Grid().SetColumns(1);
    host_.Grid().SetRows(1);
    const bool answered = ReadSettings();
    ready_ = true;
    return answered;
}

void ClassicFamily::Step() {
    GridModel& grid = host_.Grid();
    int channel = g_classicChannel.load();
    if (channel < 0 || channel > kClassicLastPosition) {
        channel = 0;
    }
    const std::uint32_t epoch = grid.DataEpoch();
    if (epoch != epoch_) {
        epoch_ = epoch;
        answered_ = 0;
    }
    const std::uint64_t bit = std::uint64_t{1} << channel;
    if (const std::optional<std::uint16_t> value = classic_.read_value(channel)) {
        host_.Pages().EditPage(
            0, [&](PageRecord& p) { p.live[static_cast<std::size_t>(channel)] = *value; });
        answered_ |= bit;
    } else {
        answered_ &= ~bit;
    }
    g_classicChannel = channel < kClassicLastPosition ? channel + 1 : 0;
    constexpr std::uint64_t kAllChannels = (std::uint64_t{1} << kChannels) - 1;
    host_.SetPageEpoch(0, (answered_ & kAllChannels) == kAllChannels ? epoch_ : 0);

    host_.HandOverPages();
    host_.CheckLost(classic_);
}

bool ClassicFamily::ReadSettings() {
    if (!classic_.read_channel_settings()) {
        return false;
    }
    const ClassicTesterFields settings = classic_.fields();
    host_.Pages().EditPage(0, [&](PageRecord& p) {
        Widen(settings.reference, p.reference);
        Widen(settings.upper, p.upper);
        Widen(settings.lower, p.lower);
        p.mask = settings.modes;
        p.offsetType = settings.offset_type != 0 ? 1 : 0;
        p.percentage = static_cast<float>(settings.percentage);
        p.offsetUpper = settings.offset_upper;
        p.offsetLower = settings.offset_lower;
    });
    if (!classic_.read_identity()) {
        return false;
    }
    const ClassicTesterFields identity = classic_.fields();
    host_.Pages().EditPage(0, [&](PageRecord& p) {
        p.rangeMax = identity.range_max;
        p.rangeMin = identity.range_min;
    });
    return classic_.load_firmware_info() && classic_.reread_texts();
}

BoardInfo ClassicFamily::Describe() {
    BoardInfo info = BoardFamily::Describe();
    if (Ready()) {
        // What the about dialog shows of it: the same texts, read the same way.
        const AboutInfo about = ClassicAbout(classic_.fields());
        info.firmware = about.firmwareVersion;
        info.deviceId = about.serialNumber.empty() ? about.deviceId : about.serialNumber;
    }
    return info;
}

bool ClassicFamily::WriteSettings() {
    const PageRecord r = host_.Pages().Copy(0);
    // Every channel setting is an exchange of its own.
    const auto everyChannel = [](const auto& values, auto&& write) {
        for (int k = 0; k < kChannels; ++k) {
            if (!write(values[static_cast<std::size_t>(k)], k)) {
                return false;
            }
        }
        return true;
    };
    return everyChannel(r.mask, [&](auto v, int k) { return classic_.write_channel_mode(v, k); }) &&
           everyChannel(r.upper, [&](auto v, int k) { return classic_.write_upper_limit(v, k); }) &&
           everyChannel(r.lower, [&](auto v, int k) { return classic_.write_lower_limit(v, k); }) &&
           everyChannel(r.reference,
                        [&](auto v, int k) { return classic_.write_reference(v, k); }) &&
           classic_.write_range_max(r.rangeMax) && classic_.write_range_min(r.rangeMin) &&
           classic_.write_offset_type(r.offsetType) &&
           classic_.write_percentage(TruncatedPercentage(r.percentage)) &&
           classic_.write_offset_upper(r.offsetUpper) && classic_.write_offset_lower(r.offsetLower);
}

}  // namespace kx

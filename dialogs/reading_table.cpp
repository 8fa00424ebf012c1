// SPDX-License-Identifier: MIT
#include "dialogs/reading_table.h"

#include "dialogs/baseline_calc.h"

namespace kx {

int ReadingTable::Add(const ChannelValues& values) {
    if (Full()) {
        return -1;
    }
    const int n = NextNumber();
    readings_.push_back(Reading{std::to_string(n), true, values});
    return n;
}

int ReadingTable::Assign(std::vector<Reading> readings) {
    int dropped = 0;
    if (readings.size() > static_cast<std::size_t>(kMaxReadings)) {
        dropped = static_cast<int>(readings.size()) - kMaxReadings;
        readings.resize(kMaxReadings);
    }
    readings_ = std::move(readings);
    return dropped;
}

void ReadingTable::SetTicked(int n, bool ticked) {
    if (n >= 0 && n < Count()) {
        readings_[static_cast<std::size_t>(n)].ticked = ticked;
    }
}

ChannelAverages AverageTicked(const std::vector<Reading>& readings) {
    ChannelAverages result;
    result.values.fill(-1);
    std::vector<std::int32_t> column;
    column.reserve(readings.size());
    for (int c = 0; c < kChannels; ++c) {
        column.clear();
        for (const Reading& r : readings) {
            if (r.ticked) {
                column.push_back(r.values[c]);
            }
        }
        if (column.empty()) {
            return result;
        }
        result.values[c] = TruncatedMean(column);
    }
    result.anyTicked = true;
    return result;
}

}  // namespace kx

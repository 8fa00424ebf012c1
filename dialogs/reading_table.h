// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

#include "core/page_table.h"

namespace kx {

// The most readings the baseline dialog holds, from the board or from a file.
inline constexpr int kMaxReadings = 255;

// One snapshot of a head's 32 live values.
struct Reading {
    std::string label;   // what the list shows in its "No." column
    bool ticked = true;  // taken into the average
    ChannelValues values{};
};

// The readings of one baseline session, indexed by reading number: reading n
// is the n-th taken or the n-th line of a loaded file. Numbers are never
// reused: the next reading takes the number after the last one held, also
// after a load, so a reading is never overwritten.
class ReadingTable {
public:
    int Count() const { return static_cast<int>(readings_.size()); }
    bool Full() const { return Count() >= kMaxReadings; }
    int NextNumber() const { return Count(); }

    // Stores a reading numbered NextNumber(), labelled with its number and
    // ticked; returns the number, or -1 when the table is full (nothing is
    // stored then).
    int Add(const ChannelValues& values);

    // Replaces everything with loaded readings; at most kMaxReadings are
    // kept. Returns how many were dropped.
    int Assign(std::vector<Reading> readings);
    void Clear() { readings_.clear(); }

    const Reading& At(int n) const { return readings_.at(static_cast<std::size_t>(n)); }
    // Out-of-range numbers are ignored.
    void SetTicked(int n, bool ticked);
    const std::vector<Reading>& readings() const { return readings_; }

private:
    std::vector<Reading> readings_;
};

struct ChannelAverages {
    ChannelValues values{};  // -1 for every channel when no reading is ticked
    bool anyTicked = false;
};

// Per channel, the mean of the ticked readings, truncated toward zero.
ChannelAverages AverageTicked(const std::vector<Reading>& readings);

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

#include "core/section_lock.h"

namespace kx {

inline constexpr int kChannels = 32;
inline constexpr int kPageCount = 64;

// How a channel is treated; the same byte values on the boards, in the page
// table, in the grid and in configuration files. Kept unscoped because the
// byte travels as a plain uint8_t everywhere and any other value may arrive.
enum ChannelMode : std::uint8_t {
    Tested = 0,  // evaluated against its limits
    Masked = 1,  // not evaluated, column hatched
    Greyed = 2,  // not evaluated, bar drawn grey
};

using ChannelValues = std::array<std::int32_t, kChannels>;
using ChannelModes = std::array<std::uint8_t, kChannels>;

// Settings and live values of one head ("page"). Board values are unsigned
// 16-bit (modes 8-bit) widened to int32; writes to boards send the low bits.
struct PageRecord {
    ChannelValues upper{};
    ChannelValues lower{};
    ChannelModes mask{};
    // 0..31 are the channels; 32 takes the classic tester's reading at counter
    // position 32 and is never shown.
    std::array<std::int32_t, kChannels + 1> live{};
    ChannelValues reference{};
    std::int32_t rangeMax = 0;
    std::int32_t rangeMin = 0;
    std::uint8_t offsetType = 0;  // 1: limits by percentage, 0: by fixed offsets
    float percentage = 0.0f;
    std::int32_t offsetUpper = 0;
    std::int32_t offsetLower = 0;

    // The record every head starts from once the station is up.
    static PageRecord Defaults();
};

using PageTable = std::array<PageRecord, kPageCount>;

// Gives every entry of `table` its defaults.
void InitPageTable(PageTable& table);

// One station's page table and the lock that guards it. The owner of a
// station core makes one (the main window, a test) and hands it to the
// core, which hands it on to its board families and its windows' commands.
// Every page is zero until Reset (the core's Initialise) gives all of them
// their defaults.
//
// The lock guards `table` between the user-interface thread and the
// acquisition worker, so that a page is never seen half-written. It is held
// only while a page (or some of its fields) is copied in or out: never while
// a board is spoken to, and no other lock is taken while it is held.
struct PageStore {
    PageStore() = default;
    PageStore(const PageStore&) = delete;
    PageStore& operator=(const PageStore&) = delete;

    // Indexed by page = row * columns + column.
    PageTable table{};
    mutable CSectionLock lock;

    // Every page its defaults, under the lock.
    void Reset();
    // A copy of one page, or of the whole table into `to`, taken under the
    // lock.
    PageRecord Copy(int page) const;
    void CopyAll(PageTable& to) const;
    // Edits one page under the lock; `edit` takes a PageRecord& and must
    // not take another lock.
    template <class Edit>
    void EditPage(int page, Edit&& edit) {
        CSectionGuard guard(&lock);
        edit(table[static_cast<std::size_t>(page)]);
    }
};

// Page number of the head in (row, column) of a grid with `columns` columns.
constexpr int PageOf(int row, int column, int columns) {
    return row * columns + column;
}

}  // namespace kx

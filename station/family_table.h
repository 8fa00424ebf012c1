// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/board_family.h"

namespace kx {

// One board family of a station: how to make it, and its place in a
// settings write. A FamilyTable lists its rows in connection priority: the
// station uses the first family whose board is present.
struct FamilyRow {
    FamilyId id = FamilyId::None;
    const char* name = "";  // BoardFamily::Name
    // Order in which a loaded page goes to the boards: the lowest rank first.
    int writeRank = 0;
    std::function<std::unique_ptr<BoardFamily>(HidBus&, FamilyHost&)> make;
};
using FamilyTable = std::vector<FamilyRow>;

// The row of family class F (its kId, kName and constructor).
template <class F>
FamilyRow FamilyRowOf(int writeRank) {
    return {F::kId, F::kName, writeRank, [](HidBus& bus, FamilyHost& host) {
                return std::unique_ptr<BoardFamily>(std::make_unique<F>(bus, host));
            }};
}

// The station's families: connection priority one-to-one, Velmora5, master,
// classic; a load writes classic, master, Velmora5, one-to-one.
const FamilyTable& StandardFamilyTable();

// The name of a family of the standard table; "测试板" for any other id.
// Untranslated (as stored in the records): what a person reads shows it
// through ShownFamilyName.
const char* FamilyName(FamilyId id);

// A family's name (FamilyName, a kName, or as stored in a record) in the
// station's language.
std::string ShownFamilyName(const std::string& name);

// The families of `table` whose board missed a reply in one configuration
// load (or import): each is skipped for the rest of it (one bound lost, not
// one per page).
class SettingsWriteRun {
public:
    bool Missed(FamilyId id) const;
    bool AnyMissed() const { return !missed_.empty(); }
    void NoteMissed(const FamilyRow& row);
    // A family of the standard table.
    void NoteMissed(FamilyId id);
    // The names of the families that missed, in write order.
    std::vector<std::string> MissedNames() const;

private:
    struct Missing {
        FamilyId id;
        const char* name;
        int writeRank;
    };
    std::vector<Missing> missed_;  // in write order
};

}  // namespace kx

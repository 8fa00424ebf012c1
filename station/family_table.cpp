// SPDX-License-Identifier: MIT
#include "station/family_table.h"

#include <algorithm>

#include "core/tr_text.h"
#include "station/family_classic.h"
#include "station/family_master.h"
#include "station/family_runoff.h"
#include "station/family_velmora5.h"

namespace kx {

const FamilyTable& StandardFamilyTable() {
    static const FamilyTable table{
        FamilyRowOf<RunoffFamily>(3),
        FamilyRowOf<Velmora5Family>(2),
        FamilyRowOf<MasterFamily>(1),
        FamilyRowOf<ClassicFamily>(0),
    };
    return table;
}

namespace {

const FamilyRow* StandardRow(FamilyId id) {
    const FamilyTable& table = StandardFamilyTable();
    const auto row =
        std::find_if(table.begin(), table.end(), [id](const FamilyRow& r) { return r.id == id; });
    return row == table.end() ? nullptr : &*row;
}

}  // namespace

const char* FamilyName(FamilyId id) {
    const FamilyRow* row = StandardRow(id);
    return row != nullptr ? row->name : KX_TRANSLATE_NOOP("BoardFamily", "测试板");
}

std::string ShownFamilyName(const std::string& name) {
    return TrText("BoardFamily", name.c_str());
}

bool SettingsWriteRun::Missed(FamilyId id) const {
    return std::any_of(missed_.begin(), missed_.end(),
                       [id](const Missing& m) { return m.id == id; });
}

void SettingsWriteRun::NoteMissed(const FamilyRow& row) {
    if (Missed(row.id)) {
        return;
    }
    const auto at = std::upper_bound(missed_.begin(), missed_.end(), row.writeRank,
                                     [](int rank, const Missing& m) { return rank < m.writeRank; });
    missed_.insert(at, Missing{row.id, row.name, row.writeRank});
}

void SettingsWriteRun::NoteMissed(FamilyId id) {
    if (const FamilyRow* row = StandardRow(id)) {
        NoteMissed(*row);
    }
}

std::vector<std::string> SettingsWriteRun::MissedNames() const {
    std::vector<std::string> names;
    for (const Missing& m : missed_) {
        names.emplace_back(m.name);
    }
    return names;
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "station/family_runoff.h"

#include "station/page_access.h"
#include "station/station_texts.h"

namespace kx {

RunoffFamily::RunoffFamily(HidBus& bus, FamilyHost& host) : BoardFamily(host), runoff_(bus) {}

const char* RunoffFamily::Title() const {
    return kTitleOrvane;
}

void RunoffFamily::Probe(OpenRefusal& refusal) {
    // The chain of the checked device type. A row that opens a board is
    // probed once more, and that second result counts.
    const TypeItems& types = host_.DeviceTypes();
    bool anyChecked = false;
    for (int type = 0; type < kDeviceTypes; ++type) {
        if (types[static_cast<std::size_t>(type)].checked == 0) {
            continue;
        }
        anyChecked = true;
        bool matched = false;
        for (RunoffProbe row : hiddata_simple_runoff::probe_order(type)) {
            if (runoff_.probe(row, type) != 0) {
                refusal.Note(runoff_, kName);
                continue;
            }
            present_ = runoff_.probe(row, type) == 0;
            refusal.Note(runoff_, kName);
            const char* oem = hiddata_simple_runoff::identity(row).oem_name;
            if (oem != nullptr) {
                oemName_ = oem;
            }
            matched = true;
            break;
        }
        if (!matched) {
            present_ = false;
            oemName_.clear();
        }
    }
    if (!anyChecked) {
        present_ = false;
    }
}

std::optional<int> RunoffFamily::OtherDeviceType(int checkedType) const {
    if (Present()) {
        return std::nullopt;
    }
    return runoff_.other_machine_listed(checkedType);
}

bool RunoffFamily::SetUp() {
    host_.Grid().SetColumns(1);
    host_.Grid().SetRows(1);
    const bool answered = ReadSettings();
    ready_ = true;
    return answered;
}

void RunoffFamily::Step() {
    GridModel& grid = host_.Grid();
    StepReads step(runoff_);
    const std::uint32_t epoch = grid.DataEpoch();
    const std::optional<Words> values = runoff_.read_values();
    StoreStepValues(0, values, step.InStep(), epoch);

    host_.HandOverPages();

    // A board that missed its read is left alone once its outputs are off
    // PASS: a silent board costs one bound per step, and it never keeps
    // showing PASS for a head the station has no data of.
    const RunoffOutputs outputs = VerdictOutputs(grid.GetFailCount(), grid.GetPassAllowed(),
                                                 host_.BuzzerOn(), host_.BuzzerInverted());
    const bool answered = values.has_value();
    const bool passLeftOn = !outputs_ || outputs_->pass != 0;
    if (answered || (passLeftOn && outputs.pass == 0)) {
        if (runoff_.set_outputs(outputs)) {
            outputs_ = outputs;
        } else {
            outputs_.reset();
        }
    }
    host_.CheckLost(runoff_);
}

bool RunoffFamily::ReadSettings() {
    return ReadHeadSettings(host_.Pages(), 0, runoff_);
}

bool RunoffFamily::WriteSettings() {
    const GridModel& grid = host_.Grid();
    const int page = PageOf(grid.GetHitRow(), grid.GetHitColumn(), grid.GetColumns());
    if (!InTable(page)) {
        return false;
    }
    return WriteHeadSettings(host_.Pages().Copy(page), runoff_);
}

void RunoffFamily::SwitchOff() {
    if (Present()) {
        runoff_.set_outputs(0, 0, 0, 0);
    }
}

}  // namespace kx

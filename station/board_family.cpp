// SPDX-License-Identifier: MIT
#include "station/board_family.h"

#include "station/page_access.h"

namespace kx {

BoardInfo BoardFamily::Describe() {
    BoardInfo info;
    info.family = Name();
    for (hiddata* board : Boards()) {
        if (board->is_open()) {
            info.manufacturer = board->device_manufacturer();
            info.product = board->device_product();
            break;
        }
    }
    return info;
}

void OpenRefusal::Note(const hiddata& board, const char* familyName) {
    if (failure != OpenFailure::NotFound) {
        return;
    }
    const OpenFailure why = board.last_open_failure();
    if (why != OpenFailure::NotFound && why != OpenFailure::None) {
        failure = why;
        family = familyName;
    }
}

void BoardFamily::CancelWaits(bool cancel) {
    for (hiddata* board : Boards()) {
        if (cancel) {
            board->cancel_waits();
        } else {
            board->resume_waits();
        }
    }
}

void BoardFamily::ForgetOwed(const std::string& path) {
    for (hiddata* board : Boards()) {
        board->forget_owed(path);
    }
}

void BoardFamily::StoreStepValues(int page, const std::optional<Words>& values, bool inStep,
                                  std::uint32_t epoch) {
    if (values && inStep) {
        host_.Pages().EditPage(page, [&](PageRecord& p) { Widen(*values, p.live); });
        host_.SetPageEpoch(page, epoch);
    } else {
        host_.SetPageEpoch(page, 0);
    }
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

// The station core over software boards that deliver their reports as a USB
// interrupt endpoint does, with transfer faults a test switches on; the grid
// model stands in for the window. Tests run the steps themselves (the worker
// is paused after each connection), each followed by the repaint's judgement.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/page_table.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "sim/usb_frame_bus.h"
#include "station/station_core.h"
#include "tests/support/station_wait.h"

namespace kx::test {

// Every head of `grid`'s layout with Tested channels has data.
inline bool EveryTestedHeadHasData(const GridModel& grid) {
    for (int r = 0; r < grid.GetRows(); ++r) {
        for (int c = 0; c < grid.GetColumns(); ++c) {
            const ChannelModes modes = grid.GetChannelModes(c, r);
            const bool tested = std::find(modes.begin(), modes.end(), Tested) != modes.end();
            if (tested && !grid.HasData(c, r)) {
                return false;
            }
        }
    }
    return true;
}

// Limits every board below is given: a channel at 800 passes, one at 2000
// fails.
inline constexpr std::uint16_t kUpper = 1100;
inline constexpr std::uint16_t kLower = 500;
inline constexpr std::uint16_t kPassing = 800;
inline constexpr std::uint16_t kFailing = 2000;

// Command codes the tests aim faults at.
inline constexpr std::uint8_t kReadValuesCode = 0xF0;
inline constexpr std::uint8_t kOutputsCode = 0xD3;
inline constexpr std::uint8_t kReadLowerCode = 0x20;
inline constexpr std::uint8_t kReadReferenceCode = 0x01;

// A master board's read of one head's values (the head in byte 4).
inline sim::UsbFrameBus::Match MasterValuesOf(int head) {
    return [head](const Frame& f) {
        return f[1] == 0x01 && f[2] == 0x29 && f[3] == kReadValuesCode && f[4] == head;
    };
}

inline bool IsCommandReport(const Frame& f) {
    return f[1] == 0x01 && f[2] == 0x29;
}

// The data report of a two-report command `code` (the report after its
// command report), also when it is sent again.
inline sim::UsbFrameBus::Match DataReportOf(std::uint8_t code) {
    auto lastCommand = std::make_shared<int>(-1);
    return [code, lastCommand](const Frame& f) {
        if (IsCommandReport(f)) {
            *lastCommand = f[3];
            return false;
        }
        return *lastCommand == code;
    };
}

inline std::shared_ptr<sim::SimRunoffBoard> OneToOneBoard() {
    auto board = std::make_shared<sim::SimRunoffBoard>("borvane");
    board->set_noise(0);
    board->edit([](sim::RunoffMemory& m) {
        m.upper.fill(kUpper);
        m.lower.fill(kLower);
        m.reference.fill(kPassing);
        m.modes.fill(Tested);
    });
    for (int k = 0; k < kChannels; ++k) {
        board->set_value(k, kPassing);
    }
    return board;
}

// A master board with one row of `heads` heads: position p is head p + 1.
inline std::shared_ptr<sim::SimMasterBoard> MasterBoard(int heads) {
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->set_noise(0);
    board->edit([heads](sim::MasterMemory& m) {
        m.present = 0;
        for (int h = 1; h <= heads; ++h) {
            m.present |= 1U << h;
            m.heads[static_cast<std::size_t>(h)].upper.fill(kUpper);
            m.heads[static_cast<std::size_t>(h)].lower.fill(kLower);
            m.heads[static_cast<std::size_t>(h)].modes.fill(Tested);
        }
        m.rows = 1;
        m.columns = static_cast<std::uint8_t>(heads);
        m.buzzer = 0;
    });
    for (int p = 0; p < heads; ++p) {
        board->assign(p, 0, p, p + 1);
        for (int k = 0; k < kChannels; ++k) {
            board->set_value(p + 1, k, kPassing);
        }
    }
    return board;
}

// A Velmora5 board laid out 1 x 1: the grid's one head is page 0, read from
// head 2 every fifth step.
inline std::shared_ptr<sim::SimVelmora5Board> Velmora5Board() {
    auto board = std::make_shared<sim::SimVelmora5Board>();
    board->set_noise(0);
    board->edit([](sim::Velmora5Memory& m) {
        for (auto& head : m.heads) {
            head.upper.fill(kUpper);
            head.lower.fill(kLower);
            head.reference.fill(kPassing);
            head.modes.fill(Tested);
        }
        m.heads[1].modes[0] = 1;  // layout record: in use, 1 row, 1 column
        m.heads[1].modes[1] = 1;
        m.heads[1].modes[2] = 1;
    });
    for (int h = 0; h < sim::Velmora5Memory::kHeads; ++h) {
        for (int k = 0; k < kChannels; ++k) {
            board->set_value(h, k, kPassing);
        }
    }
    return board;
}

inline std::shared_ptr<sim::SimClassicBoard> ClassicBoard() {
    auto board = std::make_shared<sim::SimClassicBoard>();
    board->set_noise(0);
    board->edit([](sim::ClassicMemory& m) {
        m.upper.fill(kUpper);
        m.lower.fill(kLower);
        m.reference.fill(kPassing);
        m.modes.fill(Tested);
    });
    for (int k = 0; k < kChannels; ++k) {
        board->set_value(k, kPassing);
    }
    return board;
}

class FaultRig {
public:
    explicit FaultRig(std::chrono::microseconds frame = std::chrono::milliseconds(1))
        : bus(inner, frame) {
        test::ResetStationState();
        StationCallbacks callbacks;
        callbacks.setTitle = [this](const std::string& t) { titles.push_back(t); };
        callbacks.showMessage = [this](const std::string& m) { messages.push_back(m); };
        callbacks.boardNotice = [this](const std::string& text) {
            std::lock_guard lock(noticeMutex_);
            notices_.push_back(text);
        };
        callbacks.reconnectNeeded = [this] { ++reconnectsAsked; };
        core = std::make_unique<StationCore>(bus, grid, pages, std::move(callbacks));
        inner.set_hotplug_handler([this](HotplugEvent e, const std::string& path) {
            core->OnDeviceChange(e, path);
            core->StopAcquisition();  // the test runs the steps
        });
    }
    ~FaultRig() {
        inner.set_hotplug_handler({});
        core.reset();
    }
    FaultRig(const FaultRig&) = delete;
    FaultRig& operator=(const FaultRig&) = delete;

    // One step of the worker, then the judgement the next repaint makes.
    void Step() {
        core->AcquireStep();
        grid.Evaluate(800, 600, *frame);
    }

    std::vector<std::string> Notices() const {
        std::lock_guard lock(noticeMutex_);
        return notices_;
    }

    // Every head of the layout with Tested channels has data.
    bool EveryTestedHeadHasData() const { return test::EveryTestedHeadHasData(grid); }

    // A copy of one page, taken under its lock, as the worker may be writing
    // it.
    PageRecord Page(int p) const { return pages.Copy(p); }

    sim::SimBus inner;
    sim::UsbFrameBus bus;
    GridModel grid;
    DefaultPages pages;
    std::unique_ptr<GridFrame> frame = std::make_unique<GridFrame>();
    std::vector<std::string> titles;
    std::vector<std::string> messages;
    std::atomic<int> reconnectsAsked{0};
    std::unique_ptr<StationCore> core;

private:
    mutable std::mutex noticeMutex_;
    std::vector<std::string> notices_;
};

}  // namespace kx::test

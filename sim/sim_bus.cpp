// SPDX-License-Identifier: MIT
#include "sim/sim_bus.h"

#include <algorithm>
#include <cstdio>

namespace kx::sim {

SimBus::~SimBus() {
    for (const Slot& s : slots_) {
        s.board->set_plugged(false);
    }
}

std::vector<HidDeviceInfo> SimBus::enumerate() {
    std::lock_guard lock(mutex_);
    std::vector<HidDeviceInfo> out;
    out.reserve(slots_.size());
    for (const Slot& s : slots_) {
        const BoardIdentity& id = s.board->identity();
        out.push_back({s.path, id.vendor_id, id.product_id, id.manufacturer, id.product});
    }
    return out;
}

HidOpenResult SimBus::open_path(const std::string& path) {
    std::shared_ptr<SimBoard> board;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(slots_.begin(), slots_.end(),
                               [&](const Slot& s) { return s.path == path; });
        if (it == slots_.end()) {
            return {nullptr, OpenFailure::NotFound};
        }
        board = it->board;
    }
    return board->open_handle();
}

std::string SimBus::plug(std::shared_ptr<SimBoard> board) {
    std::string path;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(slots_.begin(), slots_.end(),
                               [&](const Slot& s) { return s.board == board; });
        if (it != slots_.end()) {
            return it->path;
        }
        char name[32];
        std::snprintf(name, sizeof name, "sim:%04u", next_id_++);
        path = name;
        if (report_time_) {
            board->set_report_time(*report_time_);
        }
        board->set_plugged(true);
        slots_.push_back({path, std::move(board)});
    }
    notify(HotplugEvent::Arrival, path);
    return path;
}

void SimBus::unplug(const std::shared_ptr<SimBoard>& board) {
    std::string path;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(slots_.begin(), slots_.end(),
                               [&](const Slot& s) { return s.board == board; });
        if (it == slots_.end()) {
            return;
        }
        path = it->path;
        it->board->set_plugged(false);
        slots_.erase(it);
    }
    notify(HotplugEvent::Removal, path);
}

void SimBus::unplug_all() {
    for (const auto& board : boards()) {
        unplug(board);
    }
}

void SimBus::set_report_time(SimBoard::Duration time) {
    std::lock_guard lock(mutex_);
    report_time_ = time;
    for (const Slot& s : slots_) {
        s.board->set_report_time(time);
    }
}

void SimBus::set_hotplug_handler(HotplugHandler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<std::shared_ptr<SimBoard>> SimBus::boards() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<SimBoard>> out;
    for (const Slot& s : slots_) {
        out.push_back(s.board);
    }
    return out;
}

void SimBus::notify(HotplugEvent event, const std::string& path) {
    HotplugHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    if (handler) {
        handler(event, path);
    }
}

}  // namespace kx::sim

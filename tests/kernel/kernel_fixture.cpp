// SPDX-License-Identifier: MIT
#include "tests/kernel/kernel_fixture.h"

#include <poll.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

namespace kx::kernel {

namespace {

class KernelEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim::PrepareUsbGadgets(kControllers, error))
            << error << " (run this program through tests/kernel/lane.sh)";
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment);

}  // namespace

void GadgetBusTest::SetUp() {
    ASSERT_TRUE(monitor.ok()) << monitor.error();
}

void GadgetBusTest::TearDown() {
    EXPECT_TRUE(Await([this] { return live_.empty(); }))
        << live_.size() << " node(s) still there after the test";
}

bool GadgetBusTest::Await(const std::function<bool()>& done, std::chrono::milliseconds bound,
                          std::chrono::milliseconds tick) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        while (auto notice = monitor.receive()) {
            if (notice->event == HotplugEvent::Arrival) {
                arrivals_.push_back(notice->path);
                live_.insert(notice->path);
            } else {
                live_.erase(notice->path);
            }
            OnEvent(notice->event, notice->path);
        }
        if (done()) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) {
            return false;
        }
        pollfd p{monitor.fd(), POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::min(left, tick).count()));
    }
}

std::string GadgetBusTest::Plug(sim::UsbGadgetBoard& gadget) {
    const std::size_t before = arrivals_.size();
    if (!gadget.plug()) {
        ADD_FAILURE() << "plug: " << gadget.error();
        return {};
    }
    if (!Await([&] { return arrivals_.size() > before; })) {
        ADD_FAILURE() << "no udev arrival within the bound";
        return {};
    }
    return arrivals_[before];
}

std::vector<std::string> GadgetBusTest::PlugAll(const std::vector<sim::UsbGadgetBoard*>& gadgets) {
    const std::size_t before = arrivals_.size();
    for (sim::UsbGadgetBoard* g : gadgets) {
        if (!g->plug()) {
            ADD_FAILURE() << "plug: " << g->error();
            return {};
        }
    }
    if (!Await([&] { return arrivals_.size() >= before + gadgets.size(); })) {
        ADD_FAILURE() << "not every udev arrival within the bound";
        return {};
    }
    // Each node by its strings: the gadgets may come up in any order.
    std::vector<std::string> paths(gadgets.size());
    for (std::size_t a = before; a < arrivals_.size(); ++a) {
        const auto info = Enumerated(arrivals_[a]);
        if (!info) {
            continue;
        }
        for (std::size_t g = 0; g < gadgets.size(); ++g) {
            const sim::BoardIdentity& id = gadgets[g]->board()->identity();
            if (paths[g].empty() && info->vendor_id == id.vendor_id &&
                info->product_id == id.product_id && info->manufacturer == id.manufacturer &&
                info->product == id.product) {
                paths[g] = arrivals_[a];
                break;
            }
        }
    }
    for (std::size_t g = 0; g < gadgets.size(); ++g) {
        if (paths[g].empty()) {
            ADD_FAILURE() << "no node with the strings of gadget " << g;
            return {};
        }
    }
    return paths;
}

void GadgetBusTest::Unplug(sim::UsbGadgetBoard& gadget, const std::string& path) {
    gadget.unplug();
    EXPECT_TRUE(Await([&] { return !live_.contains(path); }))
        << "no udev removal of " << path << " within the bound";
}

std::optional<HidDeviceInfo> GadgetBusTest::Enumerated(const std::string& path) {
    for (HidDeviceInfo& d : bus.enumerate()) {
        if (d.path == path) {
            return d;
        }
    }
    return std::nullopt;
}

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[512];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, n);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace kx::kernel

// SPDX-License-Identifier: MIT
#include "hid/udev_monitor.h"

#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kx {

namespace {

// udevd's control socket. libudev itself looks for it: without a daemon it
// quietly turns a "udev" monitor into one that never receives anything.
constexpr const char* kUdevControl = "/run/udev/control";

}  // namespace

UdevMonitor::UdevMonitor() {
    udev_ = udev_new();
    if (udev_ == nullptr) {
        fail("udev_new");
        return;
    }
    if (access(kUdevControl, F_OK) != 0) {
        error_ = std::string("no udev daemon runs (") + kUdevControl + " is missing)";
        return;
    }
    ::udev_monitor* monitor = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor == nullptr) {
        fail("udev_monitor_new_from_netlink");
        return;
    }
    int r = udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    if (r >= 0) {
        r = udev_monitor_enable_receiving(monitor);
    }
    if (r < 0) {
        errno = -r;
        fail("udev_monitor_enable_receiving");
        udev_monitor_unref(monitor);
        return;
    }
    monitor_ = monitor;
}

UdevMonitor::~UdevMonitor() {
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    if (udev_ != nullptr) {
        udev_unref(udev_);
    }
}

void UdevMonitor::fail(const char* what) {
    const int e = errno;
    error_ = std::string(what) + " failed";
    if (e != 0) {
        error_ += std::string(": ") + std::strerror(e);
    }
}

int UdevMonitor::fd() const {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

std::optional<HotplugNotice> UdevMonitor::receive() {
    if (monitor_ == nullptr) {
        return std::nullopt;
    }
    // The socket is non-blocking: libudev returns null when nothing waits.
    while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(dev);
        const char* node = udev_device_get_devnode(dev);
        std::optional<HotplugNotice> notice;
        if (action != nullptr && node != nullptr) {
            if (std::strcmp(action, "add") == 0) {
                notice = HotplugNotice{HotplugEvent::Arrival, node};
            } else if (std::strcmp(action, "remove") == 0) {
                notice = HotplugNotice{HotplugEvent::Removal, node};
            }
        }
        udev_device_unref(dev);
        if (notice) {
            return notice;
        }
    }
    return std::nullopt;
}

}  // namespace kx

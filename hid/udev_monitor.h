// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

#include "hid/hid_bus.h"

struct udev;
struct udev_monitor;

namespace kx {

// A HID device interface that came or went: the event and its device node
// ("/dev/hidraw3"), the same path the real bus enumerates and opens.
struct HotplugNotice {
    HotplugEvent event;
    std::string path;
};

// Plug and unplug of HID device interfaces on the real USB bus, from udev.
//
// It listens on the "udev" source, not the kernel's: an event arrives only
// after udevd has created the device node and applied its rules, so the node
// exists, with its permissions set, when the arrival is seen. Only the hidraw
// subsystem is watched, which is every HID device interface hidapi can open.
//
// The descriptor from fd() becomes readable when events are waiting; the
// owner watches it (a QSocketNotifier in the main window) and calls receive()
// until it returns nullopt. receive() never blocks.
//
// Not thread-safe: one thread owns the monitor.
class UdevMonitor {
public:
    // Registers for the events; ok() tells whether that worked.
    UdevMonitor();
    ~UdevMonitor();
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    // False when registration failed: libudev could not be started, the
    // netlink socket could not be made or bound, or no udev daemon runs (a
    // monitor on the "udev" source would then be silent forever). The
    // station then never hears of plugging; error() says why, in English,
    // for a log.
    bool ok() const { return monitor_ != nullptr; }
    const std::string& error() const { return error_; }

    // The descriptor to watch for readability; -1 when registration failed.
    int fd() const;

    // The next waiting arrival or removal, without blocking; nullopt when
    // none is waiting (or registration failed). Events of other kinds
    // ("change", "bind") are skipped.
    std::optional<HotplugNotice> receive();

private:
    void fail(const char* what);

    ::udev* udev_ = nullptr;
    ::udev_monitor* monitor_ = nullptr;
    std::string error_;
};

}  // namespace kx

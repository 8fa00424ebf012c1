// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kx {

// What the station needs to know of one HID device interface to decide
// whether it is a board it drives. The strings are the device's own UTF-16
// units; nullopt when the device has no such string (it then matches nothing).
struct HidDeviceInfo {
    std::string path;
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    std::optional<std::u16string> manufacturer;
    std::optional<std::u16string> product;
};

// Why a device interface could not be opened. A board that is present but
// refuses to open is not the same as no board: the station tells the
// operator which it is.
enum class OpenFailure {
    None,          // opened
    NotFound,      // no such device (or it went away before it could be opened)
    NoPermission,  // present, but this user may not open its node
    Busy,          // present, but held by someone else
    Other,         // present, but opening it failed for another reason
};

// Short English name for listings and the trace ("no permission").
constexpr const char* OpenFailureName(OpenFailure failure) {
    switch (failure) {
        case OpenFailure::None:
            return "opened";
        case OpenFailure::NotFound:
            return "not found";
        case OpenFailure::NoPermission:
            return "no permission";
        case OpenFailure::Busy:
            return "busy";
        case OpenFailure::Other:
            break;
    }
    return "cannot be opened";
}

// One open device interface. All frames are 65 bytes with the report ID in
// byte 0; an input report arrives as its 64 payload bytes only, because the
// boards use no numbered reports.
class HidHandle {
public:
    static constexpr std::size_t kFrameSize = 65;
    static constexpr std::size_t kPayloadSize = 64;

    virtual ~HidHandle() = default;

    // Sends one output report. Returns the bytes written, or -1.
    virtual int write_output(const std::uint8_t* frame) = 0;
    // Waits at most timeout_ms (0: do not wait) for one input report and
    // stores its payload. Returns the bytes stored, 0 when none came in time,
    // -1 when the device is gone or failed.
    virtual int read_input(std::uint8_t* payload, int timeout_ms) = 0;
    // Feature report 0: frame[0] is the report ID on the way in and out.
    // Both return the bytes moved, or -1.
    virtual int get_feature(std::uint8_t* frame) = 0;
    virtual int set_feature(const std::uint8_t* frame) = 0;

    // How far apart two input reports of this device can arrive: a USB
    // interrupt endpoint delivers at most one report per polling interval
    // (1 ms at full speed), so a second report the device sends right after
    // a reply reaches the host up to one interval later. Zero for a device
    // whose reports are all there the moment it sent them. The transport
    // waits this long, twice, for stray input before it sends a command.
    virtual std::chrono::microseconds input_interval() const {
        return std::chrono::microseconds(0);
    }
};

// What opening a path gave: a handle, or why there is none.
struct HidOpenResult {
    std::unique_ptr<HidHandle> handle;
    OpenFailure failure = OpenFailure::None;  // None exactly when handle is set
};

// The events the hot-plug code reacts to: a device interface came or went.
enum class HotplugEvent { Arrival, Removal };
using HotplugHandler = std::function<void(HotplugEvent, const std::string& path)>;

// A place where HID device interfaces live: the real USB bus, or the
// simulated bus of software boards that tests and the demonstration use.
class HidBus {
public:
    virtual ~HidBus() = default;

    // Present device interfaces in the bus's enumeration order.
    virtual std::vector<HidDeviceInfo> enumerate() = 0;
    // A handle on the path, or the reason it cannot be opened.
    virtual HidOpenResult open_path(const std::string& path) = 0;
    // Short name for listings ("hidraw", "sim").
    virtual const char* name() const = 0;
};

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

// A stand-in for the hidapi functions the real bus calls, linked in place of
// the library: it records every call with the bytes and lengths it was given
// and answers from what the test put here. It lets a test check the real
// bus's report framing (report ID, frame and payload sizes) without a device.
namespace kx::fake_hidapi {

struct Device {
    std::string path;
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    // nullopt: hidapi reports no string (a null pointer).
    std::optional<std::wstring> manufacturer;
    std::optional<std::wstring> product;
    // False: hid_open_path returns null for this path.
    bool opens = true;
};

struct Call {
    std::string function;
    std::vector<std::uint8_t> data;  // the bytes handed in (writes, feature reports)
    std::size_t length = 0;
    int timeout_ms = 0;
};

struct State {
    int init_result = 0;
    std::vector<Device> devices;
    // Input reports hid_read_timeout hands out, as hidapi delivers them.
    std::deque<std::vector<std::uint8_t>> input;
    // What the device answers: each hid_write takes the next entry and, when
    // it holds a report, queues it as input (nullopt: no answer to it).
    std::deque<std::optional<std::vector<std::uint8_t>>> answers;
    // What hid_get_feature_report copies out (report ID at byte 0).
    std::vector<std::uint8_t> feature;
    // Every transfer fails with -1, as when the device was unplugged.
    bool gone = false;
    std::vector<Call> calls;
    int opened = 0;
    int closed = 0;
    int enumerations_freed = 0;
};

// The state the fake functions use. Reset clears it (calls included).
State& state();
void reset();
// The recorded calls of one function, in order.
std::vector<Call> calls_of(const std::string& function);

}  // namespace kx::fake_hidapi

// SPDX-License-Identifier: MIT
// The hidapi functions the real bus uses, answered from fake_hidapi::state().
// Declared by hidapi's own header, so a signature that drifts from the real
// library's does not compile.
#include "tests/support/fake_hidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

struct hid_device_ {
    std::string path;
};

namespace kx::fake_hidapi {

namespace {

std::mutex& Mutex() {
    static std::mutex m;
    return m;
}

void Record(const char* function, const unsigned char* data, std::size_t data_size,
            std::size_t length, int timeout_ms = 0) {
    Call c;
    c.function = function;
    if (data != nullptr) {
        c.data.assign(data, data + data_size);
    }
    c.length = length;
    c.timeout_ms = timeout_ms;
    state().calls.push_back(std::move(c));
}

wchar_t* CopyString(const std::optional<std::wstring>& s) {
    if (!s) {
        return nullptr;
    }
    auto* out = static_cast<wchar_t*>(std::calloc(s->size() + 1, sizeof(wchar_t)));
    std::wmemcpy(out, s->c_str(), s->size());
    return out;
}

}  // namespace

State& state() {
    static State s;
    return s;
}

void reset() {
    std::lock_guard lock(Mutex());
    state() = State{};
}

std::vector<Call> calls_of(const std::string& function) {
    std::lock_guard lock(Mutex());
    std::vector<Call> out;
    for (const Call& c : state().calls) {
        if (c.function == function) {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace kx::fake_hidapi

using kx::fake_hidapi::Mutex;
using kx::fake_hidapi::Record;
using kx::fake_hidapi::state;

extern "C" {

int hid_init(void) {
    std::lock_guard lock(Mutex());
    Record("hid_init", nullptr, 0, 0);
    return state().init_result;
}

int hid_exit(void) {
    return 0;
}

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    std::lock_guard lock(Mutex());
    Record("hid_enumerate", nullptr, 0, 0);
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const auto& d : state().devices) {
        if ((vendor_id != 0 && d.vendor_id != vendor_id) ||
            (product_id != 0 && d.product_id != product_id)) {
            continue;
        }
        auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(d.path.c_str());
        info->vendor_id = d.vendor_id;
        info->product_id = d.product_id;
        info->manufacturer_string = kx::fake_hidapi::CopyString(d.manufacturer);
        info->product_string = kx::fake_hidapi::CopyString(d.product);
        *tail = info;
        tail = &info->next;
    }
    return head;
}

void hid_free_enumeration(hid_device_info* devs) {
    std::lock_guard lock(Mutex());
    ++state().enumerations_freed;
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->manufacturer_string);
        std::free(devs->product_string);
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open_path(const char* path) {
    std::lock_guard lock(Mutex());
    Record("hid_open_path", reinterpret_cast<const unsigned char*>(path), std::strlen(path), 0);
    const auto& devices = state().devices;
    auto it =
        std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.path == path; });
    if (it == devices.end() || !it->opens) {
        return nullptr;
    }
    ++state().opened;
    return new hid_device_{path};
}

void hid_close(hid_device* dev) {
    std::lock_guard lock(Mutex());
    Record("hid_close", nullptr, 0, 0);
    ++state().closed;
    delete dev;
}

int hid_write(hid_device* /*dev*/, const unsigned char* data, size_t length) {
    std::lock_guard lock(Mutex());
    Record("hid_write", data, length, length);
    if (state().gone) {
        return -1;
    }
    auto& answers = state().answers;
    if (!answers.empty()) {
        if (answers.front()) {
            state().input.push_back(std::move(*answers.front()));
        }
        answers.pop_front();
    }
    return static_cast<int>(length);
}

int hid_read_timeout(hid_device* /*dev*/, unsigned char* data, size_t length, int milliseconds) {
    std::unique_lock lock(Mutex());
    Record("hid_read_timeout", nullptr, 0, length, milliseconds);
    if (state().gone) {
        return -1;
    }
    if (state().input.empty()) {
        // Nothing comes: wait out the timeout as poll would.
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0, milliseconds)));
        return 0;
    }
    const std::vector<std::uint8_t> report = std::move(state().input.front());
    state().input.pop_front();
    const std::size_t n = std::min(length, report.size());
    std::memcpy(data, report.data(), n);
    return static_cast<int>(n);
}

int hid_send_feature_report(hid_device* /*dev*/, const unsigned char* data, size_t length) {
    std::lock_guard lock(Mutex());
    Record("hid_send_feature_report", data, length, length);
    return state().gone ? -1 : static_cast<int>(length);
}

int hid_get_feature_report(hid_device* /*dev*/, unsigned char* data, size_t length) {
    std::lock_guard lock(Mutex());
    // What the caller put in: byte 0 names the report to fetch.
    Record("hid_get_feature_report", data, length, length);
    if (state().gone) {
        return -1;
    }
    const auto& reply = state().feature;
    const std::size_t n = std::min(length, reply.size());
    std::memcpy(data, reply.data(), n);
    return static_cast<int>(n);
}

}  // extern "C"

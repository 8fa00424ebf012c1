// SPDX-License-Identifier: MIT
#include "hid/hidapi_bus.h"

#include <fcntl.h>
#include <hidapi.h>
#include <langinfo.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <mutex>

#include "hid/device_string.h"

namespace kx {

namespace {

// hidraw's backend reads the manufacturer and product strings from sysfs and
// converts them with mbstowcs, which only decodes UTF-8 under a UTF-8
// LC_CTYPE. Set one before the first enumeration, keeping the user's locale
// when it already is UTF-8.
void EnsureUtf8Ctype() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::setlocale(LC_CTYPE, "");
        const char* codeset = nl_langinfo(CODESET);
        if (codeset == nullptr || std::strcmp(codeset, "UTF-8") != 0) {
            if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
                std::setlocale(LC_CTYPE, "en_US.UTF-8");
            }
        }
    });
}

std::optional<std::u16string> DeviceString(const wchar_t* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return ToUtf16(text);
}

class HidapiHandle : public HidHandle {
public:
    explicit HidapiHandle(hid_device* dev) : dev_(dev) {}
    ~HidapiHandle() override { hid_close(dev_); }

    int write_output(const std::uint8_t* frame) override {
        // hidraw's write blocks until the kernel has sent the report or its
        // own USB timeout (5 s for interrupt transfers) has passed; hidapi
        // offers no shorter bound for writes.
        return hid_write(dev_, frame, kFrameSize);
    }
    int read_input(std::uint8_t* payload, int timeout_ms) override {
        // An unnumbered input report arrives without its report ID: the 64
        // payload bytes only.
        return hid_read_timeout(dev_, payload, kPayloadSize, timeout_ms);
    }
    int get_feature(std::uint8_t* frame) override {
        frame[0] = 0;
        return hid_get_feature_report(dev_, frame, kFrameSize);
    }
    int set_feature(const std::uint8_t* frame) override {
        return hid_send_feature_report(dev_, frame, kFrameSize);
    }
    // The boards are full-speed devices whose interrupt IN endpoint the host
    // polls every frame.
    std::chrono::microseconds input_interval() const override {
        return std::chrono::milliseconds(1);
    }

private:
    hid_device* dev_;
};

}  // namespace

HidapiBus::HidapiBus() {
    EnsureUtf8Ctype();
    ok_ = hid_init() == 0;
}

HidapiBus::~HidapiBus() = default;  // hid_exit would pull the rug from other buses

std::vector<HidDeviceInfo> HidapiBus::enumerate() {
    std::vector<HidDeviceInfo> out;
    if (!ok_) {
        return out;
    }
    hid_device_info* list = hid_enumerate(0, 0);
    for (hid_device_info* d = list; d != nullptr; d = d->next) {
        HidDeviceInfo info;
        info.path = d->path != nullptr ? d->path : "";
        info.vendor_id = d->vendor_id;
        info.product_id = d->product_id;
        info.manufacturer = DeviceString(d->manufacturer_string);
        info.product = DeviceString(d->product_string);
        out.push_back(std::move(info));
    }
    hid_free_enumeration(list);
    return out;
}

OpenFailure OpenFailureOfErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return OpenFailure::NoPermission;
        case EBUSY:
        case ETXTBSY:
            return OpenFailure::Busy;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return OpenFailure::NotFound;
        default:
            return OpenFailure::Other;
    }
}

HidOpenResult HidapiBus::open_path(const std::string& path) {
    if (!ok_) {
        return {nullptr, OpenFailure::Other};
    }
    if (hid_device* dev = hid_open_path(path.c_str())) {
        return {std::make_unique<HidapiHandle>(dev), OpenFailure::None};
    }
    // hidapi keeps no errno it can be trusted with; ask the node directly.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return {nullptr, OpenFailureOfErrno(errno)};
    }
    ::close(fd);
    return {nullptr, OpenFailure::Other};  // it opens now: a passing refusal
}

}  // namespace kx

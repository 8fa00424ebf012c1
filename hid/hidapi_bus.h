#pragma once

#include "hid/hid_bus.h"

namespace kx {

// The real USB bus, through hidapi's hidraw backend.
class HidapiBus : public HidBus {
public:
    HidapiBus();
    ~HidapiBus() override;

    std::vector<HidDeviceInfo> enumerate() override;
    std::unique_ptr<HidHandle> open_path(const std::string& path) override;
    const char* name() const override { return "hidraw"; }

    // False when hid_init failed; the bus then enumerates nothing.
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace kx

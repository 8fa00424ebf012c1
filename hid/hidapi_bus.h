// SPDX-License-Identifier: MIT
#pragma once

#include "hid/hid_bus.h"

namespace kx {

// The real USB bus, through hidapi's hidraw backend.
class HidapiBus : public HidBus {
public:
    HidapiBus();
    ~HidapiBus() override;

    std::vector<HidDeviceInfo> enumerate() override;
    // A path that hidapi cannot open is tried once more with open(2) to learn
    // why (no permission on the node, busy, gone).
    HidOpenResult open_path(const std::string& path) override;
    const char* name() const override { return "hidraw"; }

    // False when hid_init failed; the bus then enumerates nothing.
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// The reason an errno of open(2) on a hidraw node gives.
OpenFailure OpenFailureOfErrno(int error);

}  // namespace kx

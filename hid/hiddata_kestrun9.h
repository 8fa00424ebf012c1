// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "hid/hiddata.h"

namespace kx {

// The Kestrun9 boards: recognised on the bus, never driven. They share the
// classic tester's vendor and product ids and are told apart from it, and
// from each other, by the product string alone.
class hiddata_kestrun9 : public hiddata {
public:
    static constexpr std::uint16_t kVendorId = 0x04B4;
    static constexpr std::uint16_t kProductId = 0xE006;
    static constexpr int kIdentityCount = 5;

    explicit hiddata_kestrun9(HidBus& bus);
    ~hiddata_kestrun9() override;

    // Product string of identity 0 to 4 ("Kestrun9", "Kestrun9-1" ...);
    // empty for any other number.
    static const char* product_string(int identity);

    // 0 when a board of that identity was opened, 1 otherwise. An identity
    // number outside 0 to 4 returns 1 without searching.
    int open_board(int identity = 0);
};

}  // namespace kx

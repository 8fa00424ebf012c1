// SPDX-License-Identifier: MIT
#include "hid/hiddata_kestrun9.h"

#include <array>

#include "hid/maker_identity.h"

namespace kx {

namespace {

constexpr std::array<const char*, hiddata_kestrun9::kIdentityCount> kProducts{
    "Kestrun9", "Kestrun9-1", "Kestrun9-2", "Kestrun9-3", "Kestrun9-4"};

}  // namespace

hiddata_kestrun9::hiddata_kestrun9(HidBus& bus) : hiddata(bus, "kestrun9") {}

hiddata_kestrun9::~hiddata_kestrun9() = default;

const char* hiddata_kestrun9::product_string(int identity) {
    if (identity < 0 || identity >= kIdentityCount) {
        return "";
    }
    return kProducts[static_cast<std::size_t>(identity)];
}

int hiddata_kestrun9::open_board(int identity) {
    if (identity < 0 || identity >= kIdentityCount) {
        return 1;
    }
    return open(kProductId, kVendorId, kMakerIdentity, product_string(identity));
}

}  // namespace kx

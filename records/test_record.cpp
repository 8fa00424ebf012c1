// SPDX-License-Identifier: MIT
#include "records/test_record.h"

#include <random>

namespace kx {

const char* VerdictText(RecordVerdict verdict) {
    return verdict == RecordVerdict::Pass ? "PASS" : "FAIL";
}

const char* WorstVerdictText(WorstVerdict verdict) {
    switch (verdict) {
        case WorstVerdict::Pass:
            return "PASS";
        case WorstVerdict::NoData:
            return "NODATA";
        case WorstVerdict::Fail:
            break;
    }
    return "FAIL";
}

std::string NewUuid() {
    // The kernel's generator on every call (getrandom through
    // std::random_device): no state to seed, nothing shared between threads,
    // and a forked process does not repeat its parent's numbers.
    std::random_device source;
    std::array<std::uint8_t, 16> bytes{};
    for (int i = 0; i < 16; i += 4) {
        const std::uint32_t word = source();
        bytes[i] = static_cast<std::uint8_t>(word);
        bytes[i + 1] = static_cast<std::uint8_t>(word >> 8);
        bytes[i + 2] = static_cast<std::uint8_t>(word >> 16);
        bytes[i + 3] = static_cast<std::uint8_t>(word >> 24);
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0f]);
    }
    return text;
}

}  // namespace kx

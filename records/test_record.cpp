// SPDX-License-Identifier: MIT
#include "records/test_record.h"

#include <sys/random.h>

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
    // The kernel's generator on every call: no state to seed, nothing
    // shared between threads, and a forked process does not repeat its
    // parent's numbers. std::random_device should getrandom ever fail.
    std::array<std::uint8_t, 16> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got < bytes.size()) {
        std::random_device source;
        for (std::size_t i = 0; i < bytes.size(); i += 4) {
            const std::uint32_t word = source();
            for (std::size_t b = 0; b < 4; ++b) {
                bytes[i + b] = static_cast<std::uint8_t>(word >> (8 * b));
            }
        }
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

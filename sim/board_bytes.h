// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "hid/wire.h"

// Byte work of the software boards. The boards encode and decode their
// reports with these, not with the station's helpers, so that a test of a
// protocol class against a software board checks the station's encoding
// against an independent one.
namespace kx::sim::bytes {

inline void PutHighLow(Frame& f, std::size_t pos, std::uint16_t v) {
    f[pos] = static_cast<std::uint8_t>(v / 256);
    f[pos + 1] = static_cast<std::uint8_t>(v % 256);
}

inline void PutLowHigh(Frame& f, std::size_t pos, std::uint16_t v) {
    f[pos] = static_cast<std::uint8_t>(v % 256);
    f[pos + 1] = static_cast<std::uint8_t>(v / 256);
}

inline std::uint16_t TakeHighLow(const Frame& f, std::size_t pos) {
    return static_cast<std::uint16_t>(f[pos] * 256 + f[pos + 1]);
}

// 32 words, word k at bytes 2k+1 (high) and 2k+2 (low).
inline void PutWordsHighLow(Frame& f, const std::array<std::uint16_t, 32>& words) {
    for (std::size_t k = 0; k < 32; ++k) {
        PutHighLow(f, 1 + 2 * k, words[k]);
    }
}

inline std::array<std::uint16_t, 32> TakeWordsHighLow(const Frame& f) {
    std::array<std::uint16_t, 32> words{};
    for (std::size_t k = 0; k < 32; ++k) {
        words[k] = TakeHighLow(f, 1 + 2 * k);
    }
    return words;
}

// A text field of `length` bytes: the text, cut to the field, zero-filled.
inline void PutTextField(Frame& f, std::size_t pos, std::size_t length, const std::string& text) {
    for (std::size_t i = 0; i < length; ++i) {
        f[pos + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
    }
}

// True when payload bytes [first, last] all hold `value`.
inline bool AllBytes(const Frame& f, std::size_t first, std::size_t last, std::uint8_t value) {
    for (std::size_t i = first; i <= last; ++i) {
        if (f[i] != value) {
            return false;
        }
    }
    return true;
}

}  // namespace kx::sim::bytes

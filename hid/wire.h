// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kx {

// One report as it travels: byte 0 is the report ID, bytes 1-64 the payload.
inline constexpr std::size_t kFrameSize = 65;
using Frame = std::array<std::uint8_t, kFrameSize>;

// 16-bit quantities at fixed positions of a frame. Every accessor is bounded
// by the frame's size; positions come from constants of the protocol classes.
constexpr std::uint16_t ReadBe16(const Frame& f, std::size_t pos) {
    return static_cast<std::uint16_t>(f.at(pos) << 8 | f.at(pos + 1));
}
constexpr std::uint16_t ReadLe16(const Frame& f, std::size_t pos) {
    return static_cast<std::uint16_t>(f.at(pos) | f.at(pos + 1) << 8);
}
constexpr void PutBe16(Frame& f, std::size_t pos, std::uint32_t value) {
    f.at(pos) = static_cast<std::uint8_t>(value >> 8);
    f.at(pos + 1) = static_cast<std::uint8_t>(value);
}
constexpr void PutLe16(Frame& f, std::size_t pos, std::uint32_t value) {
    f.at(pos) = static_cast<std::uint8_t>(value);
    f.at(pos + 1) = static_cast<std::uint8_t>(value >> 8);
}

// A text field of `length` bytes from `pos`: ends at the first zero byte, and
// a field that fills all its bytes has no terminator.
inline std::string ReadText(const Frame& f, std::size_t pos, std::size_t length) {
    std::string out;
    for (std::size_t i = pos; i < pos + length && i < f.size() && f[i] != 0; ++i) {
        out.push_back(static_cast<char>(f[i]));
    }
    return out;
}
// Stores at most `length` bytes of text, zero-filling the rest of the field.
inline void PutText(Frame& f, std::size_t pos, std::size_t length, const std::string& text) {
    for (std::size_t i = 0; i < length && pos + i < f.size(); ++i) {
        f[pos + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
    }
}

// 32 channel words as the boards return them.
using Words = std::array<std::uint16_t, 32>;
using ModeBytes = std::array<std::uint8_t, 32>;

// Channel k at bytes 2k+1 and 2k+2.
constexpr Words ReadBe16Page(const Frame& f) {
    Words w{};
    for (std::size_t k = 0; k < w.size(); ++k) {
        w[k] = ReadBe16(f, 2 * k + 1);
    }
    return w;
}
constexpr Words ReadLe16Page(const Frame& f) {
    Words w{};
    for (std::size_t k = 0; k < w.size(); ++k) {
        w[k] = ReadLe16(f, 2 * k + 1);
    }
    return w;
}
// Stores the low 16 bits of at most 32 values, channel k at 2k+1 (high byte)
// and 2k+2; bytes after the last value are left as they are.
constexpr void PutBe16Page(Frame& f, std::span<const std::int32_t> values) {
    for (std::size_t k = 0; k < values.size() && k < 32; ++k) {
        PutBe16(f, 2 * k + 1, static_cast<std::uint32_t>(values[k]));
    }
}
// Channel k's byte at k+1, at most 32 bytes.
constexpr ModeBytes ReadModePage(const Frame& f) {
    ModeBytes m{};
    for (std::size_t k = 0; k < m.size(); ++k) {
        m[k] = f[k + 1];
    }
    return m;
}
constexpr void PutModePage(Frame& f, std::span<const std::uint8_t> modes) {
    for (std::size_t k = 0; k < modes.size() && k < 32; ++k) {
        f[k + 1] = modes[k];
    }
}

// The command report of the interrupt-pipe families: cleared, then
// 0x01 0x29 and the command code in bytes 1-3.
constexpr Frame CommandReport(std::uint8_t code) {
    Frame f{};
    f[1] = 0x01;
    f[2] = 0x29;
    f[3] = code;
    return f;
}

}  // namespace kx

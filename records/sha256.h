// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kx {

// SHA-256 (FIPS 180-4), for the fingerprint of a configuration file's bytes
// that each record keeps. Feed the bytes in pieces of any size, then take
// the digest once.
class Sha256 {
public:
    Sha256();
    void Update(std::span<const std::uint8_t> bytes);
    void Update(std::string_view text);
    // The digest of everything fed so far. The object is spent after it:
    // Reset() before feeding it again.
    std::array<std::uint8_t, 32> Final();
    // 64 lower-case hex digits of Final().
    std::string FinalHex();
    void Reset();

private:
    void Block(const std::uint8_t* block);
    std::array<std::uint32_t, 8> m_state{};
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;  // bytes fed
};

// 64 lower-case hex digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);
std::string Sha256Hex(std::string_view text);

}  // namespace kx

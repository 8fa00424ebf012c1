// SPDX-License-Identifier: MIT
#pragma once

#include <cstdlib>
#include <string>

namespace kx::bench {

// The whole of `text` as a number from 0 to 100000 (a count, seconds, or a
// side in pixels).
inline bool ParseInt(const char* text, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > 100000) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

// A size written "WxH".
inline bool ParseSize(const std::string& text, int& width, int& height) {
    const auto x = text.find('x');
    return x != std::string::npos && ParseInt(text.substr(0, x).c_str(), width) &&
           ParseInt(text.substr(x + 1).c_str(), height);
}

}  // namespace kx::bench

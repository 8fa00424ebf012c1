// SPDX-License-Identifier: MIT
#include "ui/typed_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kx {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

TypedInt ParseTypedInt(std::string_view text, std::int32_t min, std::int32_t max) {
    text = TrimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return {};
    }
    // Every character is checked, so a long number followed by junk is still
    // junk; the magnitude stops growing once it is beyond any int32.
    constexpr std::int64_t kBeyond = std::int64_t{1} << 40;
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (!IsDigit(c)) {
            return {};
        }
        if (magnitude < kBeyond) {
            magnitude = magnitude * 10 + (c - '0');
        }
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < min || value > max) {
        return {TypedIntStatus::OutOfRange, 0};
    }
    return {TypedIntStatus::Ok, static_cast<std::int32_t>(value)};
}

std::optional<float> ParseTypedNumber(std::string_view text) {
    text = TrimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // A digit or a point must follow: no second sign, no "inf" or "nan".
    if (text.empty() || !(IsDigit(text.front()) || text.front() == '.')) {
        return std::nullopt;
    }
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (error != std::errc() || stop != end || !std::isfinite(value) ||
        std::fabs(value) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    const float f = static_cast<float>(value);
    return negative ? -f : f;
}

std::string FormatNumber(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", 6, static_cast<double>(value));
    return text;
}

}  // namespace kx

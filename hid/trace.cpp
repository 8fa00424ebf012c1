// SPDX-License-Identifier: MIT
#include "hid/trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kx {

bool TraceEnabled() {
    static const bool enabled = [] {
        const char* v = std::getenv("KALDRIX_TRACE");
        return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
    }();
    return enabled;
}

namespace {

int Stamp(char* out, std::size_t size, const char* family, const char* tag) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(now);
    const auto micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1000000;
    std::tm local{};
    localtime_r(&secs, &local);
    return std::snprintf(out, size, "%02d:%02d:%02d.%06lld %-10s %-4s", local.tm_hour, local.tm_min,
                         local.tm_sec, static_cast<long long>(micros), family, tag);
}

}  // namespace

void TraceReport(const char* family, const char* direction, const std::uint8_t* data,
                 std::size_t size) {
    // One line, one write, so lines of two threads never interleave.
    char line[64 + 16 + 16 + 3 * 65 + 8];
    int n = Stamp(line, sizeof line, family, direction);
    for (std::size_t i = 0; i < size && i < 65 && n > 0 && n + 4 < static_cast<int>(sizeof line);
         ++i) {
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %02X", data[i]);
    }
    std::fprintf(stderr, "%s\n", line);
}

void TraceNote(const char* family, const char* text) {
    char line[96];
    Stamp(line, sizeof line, family, "NOTE");
    std::fprintf(stderr, "%s %s\n", line, text);
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "records/test_record.h"

namespace kx::test {

// A uuid of the version-4 form that carries `sequence` in its last 16 hex
// digits, so that a reader can tell from a uuid which record it names.
inline std::string SequenceUuid(std::uint64_t sequence) {
    char text[40];
    std::snprintf(text, sizeof text, "5eed0000-0000-4000-8000-%012" PRIx64,
                  static_cast<std::uint64_t>(sequence & 0xffffffffffffU));
    return text;
}

// The sequence that SequenceUuid put in `uuid`; false when it is not one of
// those.
inline bool UuidSequence(const std::string& uuid, std::uint64_t* sequence) {
    if (uuid.size() != 36 || uuid.compare(0, 24, "5eed0000-0000-4000-8000-") != 0) {
        return false;
    }
    return std::sscanf(uuid.c_str() + 24, "%12" SCNx64, sequence) == 1;
}

// A record with every field filled, all derived from `sequence`: a reader
// that knows the sequence can check every field. Edge values (INT32
// extremes, Chinese text, empty strings) come round in turn.
inline TestRecord SequenceRecord(std::uint64_t sequence) {
    const auto n = static_cast<std::int64_t>(sequence);
    const auto k = static_cast<std::int32_t>(sequence % 1000);
    TestRecord r;
    r.uuid = SequenceUuid(sequence);
    r.timeMs = 1'780'000'000'000 + n * 1'003;
    r.utcOffsetMinutes = (n % 3 == 0) ? 480 : (n % 3 == 1 ? -330 : 0);
    r.startMs = r.timeMs - 2'000 - k;
    r.durationMs = 2'000 + k;
    r.station = "线体-" + std::to_string(n % 7);
    r.operatorName = (n % 4 == 0) ? "" : "张三";
    r.config = (n % 5 == 0) ? kBoardSettings : "/home/测试/配置 " + std::to_string(n % 11) + ".ini";
    r.configSha256 = (n % 5 == 0) ? "" : std::string(64, "0123456789abcdef"[n % 16]);
    r.board = {"one-to-one",
               "制造商",
               "tester " + std::to_string(n % 3),
               "v1." + std::to_string(k),
               "SN-" + std::to_string(n),
               static_cast<std::int32_t>(n % 6)};
    r.page = static_cast<std::int32_t>(n % 64);
    r.row = static_cast<std::int32_t>(n % 8) + 1;
    r.column = static_cast<std::int32_t>(n % 8) + 1;
    r.serial = (n % 6 == 0) ? "" : "面板_%" + std::to_string(n);
    r.verdict = (n % 3 == 1) ? RecordVerdict::Fail : RecordVerdict::Pass;
    r.reason = r.verdict == RecordVerdict::Fail
                   ? std::string(kReasonChannelsDidNotRespond) + ": 3, 17"
                   : kReasonEveryChannelResponded;
    r.fpc = n % 2 == 0;
    r.worst = static_cast<WorstVerdict>(n % 3);
    r.steps = n * 3 + 1;
    r.failedSteps = n;
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    for (std::size_t c = 0; c < r.channels.size(); ++c) {
        ChannelRecord& ch = r.channels[c];
        const auto i = static_cast<std::int32_t>(c);
        ch.mode = static_cast<std::uint8_t>((n + i) % 3);
        ch.channelClass = static_cast<std::uint8_t>((n + i) % 4);
        ch.greenMark = static_cast<std::uint8_t>((n + i) % 2);
        ch.value = (c == 0) ? kMin : (c == 1 ? kMax : k * 100 + i);
        ch.low = (c == 2) ? kMin : -k - i;
        ch.high = (c == 3) ? kMax : k + i * 7;
        ch.upper = 5000 + i;
        ch.lower = (c == 31) ? -1 : 100 + i;
        ch.reference = static_cast<std::int32_t>(n % 100000) - i;
    }
    return r;
}

}  // namespace kx::test

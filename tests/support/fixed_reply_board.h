// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <numeric>
#include <optional>
#include <string>

#include "hid/wire.h"
#include "sim/sim_board.h"

namespace kx::testing {

// Answers every report it receives with the same fixed reply, so that a test
// can put chosen bytes at chosen positions and see where a decoder takes
// them from.
class FixedReplyBoard : public sim::SimBoard {
public:
    FixedReplyBoard(sim::BoardIdentity identity, const Frame& reply)
        : SimBoard(std::move(identity)), reply_(reply) {}
    const char* family() const override { return "fixed"; }

protected:
    void on_output(const Frame&) override { queue_reply(reply_); }

private:
    Frame reply_;
};

// A reply holding byte value i at position i: every decoded value names the
// positions it came from.
inline Frame PositionPattern() {
    Frame f{};
    std::iota(f.begin(), f.end(), std::uint8_t{0});
    return f;
}

// The characters of positions first .. first + length - 1 of PositionPattern.
inline std::string PatternText(int first, int length) {
    std::string s;
    for (int i = first; i < first + length; ++i) {
        s.push_back(static_cast<char>(i));
    }
    return s;
}

// A query's result as text for tables of cases whose values differ in type:
// numbers in decimal, texts as they are, "no reply" for a missing reply.
inline std::string Shown(unsigned v) {
    return std::to_string(v);
}
inline std::string Shown(const std::string& s) {
    return s;
}
template <class T>
std::string Shown(const std::optional<T>& v) {
    return v ? Shown(*v) : std::string("no reply");
}

// A command report: 0x01 0x29, the code, and a parameter in byte 4.
inline Frame CommandFrame(std::uint8_t code, std::uint8_t byte4 = 0) {
    Frame f{};
    f[1] = 0x01;
    f[2] = 0x29;
    f[3] = code;
    f[4] = byte4;
    return f;
}

}  // namespace kx::testing

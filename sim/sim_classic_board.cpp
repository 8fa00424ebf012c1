// SPDX-License-Identifier: MIT
#include "sim/sim_classic_board.h"

#include "hid/maker_identity.h"
#include "sim/board_bytes.h"

namespace kx::sim {

using namespace bytes;

SimClassicBoard::SimClassicBoard(std::uint32_t seed)
    : SimMemoryBoard({0x04B4, 0xE006, ToU16(kMakerIdentity), u"Corvanis"}), signal_(seed) {
    memory_.upper.fill(1100);
    memory_.lower.fill(500);
    memory_.reference.fill(700);
    memory_.modes.fill(0);
}

void SimClassicBoard::set_value(int channel, std::uint16_t value) {
    std::lock_guard lock(mutex_);
    signal_.set_exact(channel, value);
}

void SimClassicBoard::set_noise(int amplitude) {
    std::lock_guard lock(mutex_);
    signal_.set_noise(amplitude);
}

void SimClassicBoard::set_touches(const TouchPattern& pattern) {
    std::lock_guard lock(mutex_);
    signal_.set_touches(pattern);
}

void SimClassicBoard::on_set_feature(const Frame& frame) {
    const std::uint8_t code = frame[1];
    const std::size_t channel = frame[2];
    if (frame[7] == 0x55 && frame[8] == 0xAA) {
        reply_ = answer(code, channel);
        return;
    }
    apply(code, channel, static_cast<std::uint16_t>(frame[3] | frame[4] << 8));
}

bool SimClassicBoard::on_get_feature(Frame& frame) {
    frame = reply_;
    return true;
}

Frame SimClassicBoard::answer(std::uint8_t code, std::size_t channel) {
    Frame r{};
    const bool ch_ok = channel < 32;
    auto word = [&r](std::uint16_t v) { PutLowHigh(r, 1, v); };
    switch (code) {
        case 0x10:
            word(ch_ok ? signal_.sample(static_cast<int>(channel), memory_.reference[channel])
                       : memory_.channel32_value);
            break;
        case 0x20:
            word(ch_ok ? memory_.upper[channel] : 0);
            break;
        case 0x22:
            word(ch_ok ? memory_.lower[channel] : 0);
            break;
        case 0x24:
            word(ch_ok ? memory_.reference[channel] : 0);
            break;
        case 0x26:
            r[1] = ch_ok ? memory_.modes[channel] : 0;
            break;
        case 0x28:
            r[1] = memory_.offset_type;
            break;
        case 0x32:
            r[1] = memory_.percentage;
            break;
        case 0x34:
            word(memory_.offset_upper);
            break;
        case 0x36:
            word(memory_.offset_lower);
            break;
        case 0x38:
            r[1] = memory_.reserved;
            break;
        case 0x3D:
            PutTextField(r, 1, 8, memory_.serial_number);
            break;
        case 0x3E:
            PutTextField(r, 1, 8, memory_.device_id);
            break;
        case 0x54:
            PutTextField(r, 1, 8, memory_.vendor_code);
            break;
        case 0x40:
            PutLowHigh(r, 1, memory_.firmware_year);
            r[3] = memory_.firmware_month;
            r[4] = memory_.firmware_day;
            PutLowHigh(r, 5, memory_.firmware_version);
            r[7] = memory_.firmware_flags;
            break;
        case 0x50:
            word(memory_.range_max);
            break;
        case 0x52:
            word(memory_.range_min);
            break;
        default:
            break;  // unknown query: an empty reply
    }
    return r;
}

void SimClassicBoard::apply(std::uint8_t code, std::size_t channel, std::uint16_t value) {
    // Per-channel settings for a channel the board does not have are ignored.
    std::uint16_t* word = nullptr;
    switch (code) {
        case 0x21:
            word = channel < 32 ? &memory_.upper[channel] : nullptr;
            break;
        case 0x23:
            word = channel < 32 ? &memory_.lower[channel] : nullptr;
            break;
        case 0x25:
            word = channel < 32 ? &memory_.reference[channel] : nullptr;
            break;
        case 0x27:
            if (channel < 32) {
                memory_.modes[channel] = static_cast<std::uint8_t>(value);
            }
            return;
        case 0x29:
            memory_.offset_type = static_cast<std::uint8_t>(value);
            return;
        case 0x33:
            memory_.percentage = static_cast<std::uint8_t>(value);
            return;
        case 0x35:
            word = &memory_.offset_upper;
            break;
        case 0x37:
            word = &memory_.offset_lower;
            break;
        case 0x51:
            word = &memory_.range_max;
            break;
        case 0x53:
            word = &memory_.range_min;
            break;
        default:
            return;
    }
    if (word != nullptr) {
        *word = value;
    }
}

namespace {

std::u16string Kestrun9Product(int identity) {
    if (identity <= 0 || identity > 4) {
        return u"Kestrun9";
    }
    return u"Kestrun9-" + std::u16string(1, static_cast<char16_t>(u'0' + identity));
}

}  // namespace

SimKestrun9Board::SimKestrun9Board(int identity)
    : SimBoard({0x04B4, 0xE006, ToU16(kMakerIdentity), Kestrun9Product(identity)}) {}

}  // namespace kx::sim

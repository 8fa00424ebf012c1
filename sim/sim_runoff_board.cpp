// SPDX-License-Identifier: MIT
#include "sim/sim_runoff_board.h"

#include "sim/board_bytes.h"

namespace kx::sim {

using namespace bytes;

namespace {

bool IsSetCommand(std::uint8_t code) {
    switch (code) {
        case 0x02:  // reference
        case 0x11:  // upper limits
        case 0x21:  // lower limits
        case 0x31:  // channel modes
        case 0xD7:  // range max
        case 0xD9:  // range min
        case 0xD3:  // outputs
        case 0xD5:  // offline display
            return true;
        default:
            return false;
    }
}

}  // namespace

SimRunoffBoard::SimRunoffBoard(const std::string& manufacturer, std::uint32_t seed)
    : SimMemoryBoard({0x16A0, 0x05DF, ToU16(manufacturer), u"Kaldrix"}), signal_(seed) {
    memory_.reference.fill(700);
    memory_.upper.fill(1100);
    memory_.lower.fill(500);
    memory_.modes.fill(0);
}

void SimRunoffBoard::set_value(int channel, std::uint16_t value) {
    std::lock_guard lock(mutex_);
    signal_.set_exact(channel, value);
}

void SimRunoffBoard::clear_value(int channel) {
    std::lock_guard lock(mutex_);
    signal_.clear_exact(channel);
}

void SimRunoffBoard::set_noise(int amplitude) {
    std::lock_guard lock(mutex_);
    signal_.set_noise(amplitude);
}

void SimRunoffBoard::set_touches(const TouchPattern& pattern) {
    std::lock_guard lock(mutex_);
    signal_.set_touches(pattern);
}

void SimRunoffBoard::on_output(const Frame& frame) {
    if (pending_set_) {
        // The data report of a set: whatever it holds is data, even when it
        // looks like a command report.
        const std::uint8_t code = *pending_set_;
        pending_set_.reset();
        apply_set(code, frame);
        queue_reply(frame);
        return;
    }
    if (frame[1] != 0x01 || frame[2] != 0x29) {
        return;  // not a command: ignored
    }
    const std::uint8_t code = frame[3];
    if (IsSetCommand(code)) {
        pending_set_ = code;
        return;
    }
    Frame reply{};
    switch (code) {
        case 0xF0:
            for (std::size_t k = 0; k < 32; ++k) {
                PutLowHigh(reply, 2 * k + 1,
                           signal_.sample(static_cast<int>(k), memory_.reference[k]));
            }
            break;
        case 0x01:
            PutWordsHighLow(reply, memory_.reference);
            break;
        case 0x10:
            PutWordsHighLow(reply, memory_.upper);
            break;
        case 0x20:
            PutWordsHighLow(reply, memory_.lower);
            break;
        case 0x30:
            for (std::size_t k = 0; k < 32; ++k) {
                reply[k + 1] = memory_.modes[k];
            }
            break;
        case 0x50:
        case 0x60:
        case 0x70:
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xD0:
        case 0xD6:
        case 0xD8:
        case 0xDA:
        case 0xDC:
        case 0xE0:
            reply = query_reply(code);
            break;
        default:
            return;  // unknown command: no reply
    }
    queue_reply(reply);
}

// The information replies share one layout; the two text runs at 33-48 and
// 49-64 depend on the command.
Frame SimRunoffBoard::query_reply(std::uint8_t code) {
    Frame r{};
    PutHighLow(r, 1, memory_.firmware_version);
    PutHighLow(r, 3, memory_.firmware_year);
    r[5] = memory_.firmware_month;
    r[6] = memory_.firmware_day;
    PutTextField(r, 7, 8, memory_.author);
    r[15] = memory_.feature_flags;
    r[21] = memory_.offline_display;
    PutHighLow(r, 22, memory_.range_max);
    PutHighLow(r, 24, memory_.range_min);
    r[26] = memory_.edition;
    PutTextField(r, 33, 16, code == 0xD0 ? memory_.logo_text : memory_.serial_number);
    PutTextField(r, 49, 16, code == 0xE0 ? memory_.vendor_code : memory_.device_id);
    return r;
}

void SimRunoffBoard::apply_set(std::uint8_t code, const Frame& data) {
    switch (code) {
        case 0x02:
            memory_.reference = TakeWordsHighLow(data);
            break;
        case 0x11:
            memory_.upper = TakeWordsHighLow(data);
            break;
        case 0x21:
            memory_.lower = TakeWordsHighLow(data);
            break;
        case 0x31:
            for (std::size_t k = 0; k < 32; ++k) {
                memory_.modes[k] = data[k + 1];
            }
            break;
        case 0xD7:
            memory_.range_max = TakeHighLow(data, 22);
            break;
        case 0xD9:
            memory_.range_min = TakeHighLow(data, 24);
            break;
        case 0xD3:
            memory_.outputs = {data[1], data[2], data[3], data[4]};
            ++memory_.outputs_written;
            break;
        case 0xD5:
            memory_.offline_display = data[21];
            break;
        default:
            break;
    }
}

}  // namespace kx::sim

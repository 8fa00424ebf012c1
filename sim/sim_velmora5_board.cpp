// SPDX-License-Identifier: MIT
#include "sim/sim_velmora5_board.h"

#include "sim/board_bytes.h"

namespace kx::sim {

using namespace bytes;

namespace {

enum class Shape { Unknown, Plain, HeadQuery, HeadSet, FullHeadSet };

Shape ShapeOf(std::uint8_t code) {
    switch (code) {
        case 0xF0:  // live values, head in the command
        case 0x40:  // vendor code
        case 0x50:  // device id
        case 0x60:  // firmware version
        case 0x70:  // year
        case 0x80:  // month
        case 0x90:  // day
            return Shape::Plain;
        case 0x01:  // reference
        case 0x10:  // upper limits
        case 0x20:  // lower limits
        case 0x30:  // channel modes
        case 0xD8:  // range max
        case 0xDA:  // range min
            return Shape::HeadQuery;
        case 0x02:
        case 0x11:
        case 0x21:
        case 0x31:
            return Shape::HeadSet;
        case 0xD7:
        case 0xD9:
            return Shape::FullHeadSet;
        default:
            return Shape::Unknown;
    }
}

std::array<SignalModel, Velmora5Memory::kHeads> SeededSignals(std::uint32_t seed) {
    std::array<SignalModel, Velmora5Memory::kHeads> s;
    for (std::uint32_t h = 0; h < s.size(); ++h) {
        s[h] = SignalModel(seed * 977u + h + 1u);
    }
    return s;
}

}  // namespace

SimVelmora5Board::SimVelmora5Board(const std::string& manufacturer, std::uint16_t vendor_id,
                                   std::uint16_t product_id, std::uint32_t seed)
    : SimMemoryBoard({vendor_id, product_id, ToU16(manufacturer), u"Velmora5"}),
      signals_(SeededSignals(seed)) {
    for (Velmora5HeadMemory& h : memory_.heads) {
        h.reference.fill(700);
        h.upper.fill(1100);
        h.lower.fill(500);
        h.modes.fill(0);
    }
    // Layout record: in use, 2 rows, 2 columns.
    memory_.heads[1].modes[0] = 1;
    memory_.heads[1].modes[1] = 2;
    memory_.heads[1].modes[2] = 2;
}

void SimVelmora5Board::set_value(int head, int channel, std::uint16_t value) {
    if (head < 0 || head >= Velmora5Memory::kHeads) {
        return;
    }
    std::lock_guard lock(mutex_);
    signals_[static_cast<std::size_t>(head)].set_exact(channel, value);
}

void SimVelmora5Board::clear_value(int head, int channel) {
    if (head < 0 || head >= Velmora5Memory::kHeads) {
        return;
    }
    std::lock_guard lock(mutex_);
    signals_[static_cast<std::size_t>(head)].clear_exact(channel);
}

void SimVelmora5Board::set_noise(int amplitude) {
    std::lock_guard lock(mutex_);
    for (SignalModel& s : signals_) {
        s.set_noise(amplitude);
    }
}

void SimVelmora5Board::set_touches(const TouchPattern& pattern) {
    std::lock_guard lock(mutex_);
    for (SignalModel& s : signals_) {
        s.set_touches(pattern);
    }
}

Velmora5HeadMemory* SimVelmora5Board::head_memory(int head) {
    if (head < 0 || head >= Velmora5Memory::kHeads) {
        return nullptr;
    }
    return &memory_.heads[static_cast<std::size_t>(head)];
}

void SimVelmora5Board::on_output(const Frame& frame) {
    switch (await_) {
        case Await::Command:
            on_command(frame);
            return;
        case Await::FullHead: {
            // Every payload byte holds the head number.
            await_ = Await::Command;
            if (!AllBytes(frame, 1, 64, frame[1])) {
                ++memory_.protocol_errors;
                return;
            }
            head_ = frame[1];
            if (ShapeOf(code_) == Shape::HeadQuery) {
                queue_reply(head_reply(code_, head_));
            } else {
                await_ = Await::Data;
            }
            return;
        }
        case Await::ShortHead:
            // The head number in bytes 1-3, zeros after.
            await_ = Await::Command;
            if (!AllBytes(frame, 1, 3, frame[1]) || !AllBytes(frame, 4, 64, 0)) {
                ++memory_.protocol_errors;
                return;
            }
            head_ = frame[1];
            await_ = Await::Data;
            return;
        case Await::Data:
            // Taken without a reply. The data of a range set is followed by
            // the head number in every byte after it.
            await_ = Await::Command;
            if (ShapeOf(code_) == Shape::FullHeadSet &&
                !AllBytes(frame, 3, 64, static_cast<std::uint8_t>(head_))) {
                ++memory_.protocol_errors;
                return;
            }
            apply_set(code_, head_, frame);
            return;
    }
}

void SimVelmora5Board::on_command(const Frame& frame) {
    if (frame[1] != 0x01 || frame[2] != 0x29) {
        ++memory_.protocol_errors;
        return;
    }
    code_ = frame[3];
    switch (ShapeOf(code_)) {
        case Shape::Unknown:
            ++memory_.protocol_errors;
            return;
        case Shape::HeadQuery:
        case Shape::FullHeadSet:
            await_ = Await::FullHead;
            return;
        case Shape::HeadSet:
            await_ = Await::ShortHead;
            return;
        case Shape::Plain:
            break;
    }
    Frame r{};
    switch (code_) {
        case 0xF0:
            if (head_memory(frame[4]) != nullptr) {
                const Velmora5HeadMemory& h = *head_memory(frame[4]);
                SignalModel& signal = signals_[frame[4]];
                for (std::size_t k = 0; k < 32; ++k) {
                    PutLowHigh(r, 1 + 2 * k, signal.sample(static_cast<int>(k), h.reference[k]));
                }
            }
            break;
        case 0x40:
            PutTextField(r, 1, 16, memory_.vendor_code);
            break;
        case 0x50:
            PutTextField(r, 1, 16, memory_.device_id);
            break;
        case 0x60:
            PutHighLow(r, 1, memory_.firmware_version);
            break;
        case 0x70:
            PutHighLow(r, 3, memory_.firmware_year);
            break;
        case 0x80:
            r[5] = memory_.firmware_month;
            break;
        case 0x90:
            r[6] = memory_.firmware_day;
            break;
        default:
            break;
    }
    queue_reply(r);
}

// A head the board does not have answers zeros.
Frame SimVelmora5Board::head_reply(std::uint8_t code, int head) {
    Frame r{};
    const Velmora5HeadMemory* h = head_memory(head);
    if (h == nullptr) {
        return r;
    }
    switch (code) {
        case 0x01:
            PutWordsHighLow(r, h->reference);
            break;
        case 0x10:
            PutWordsHighLow(r, h->upper);
            break;
        case 0x20:
            PutWordsHighLow(r, h->lower);
            break;
        case 0x30:
            for (std::size_t k = 0; k < 32; ++k) {
                r[1 + k] = h->modes[k];
            }
            break;
        case 0xD8:
            PutHighLow(r, 1, h->range_max);
            break;
        case 0xDA:
            PutHighLow(r, 1, h->range_min);
            break;
        default:
            break;
    }
    return r;
}

void SimVelmora5Board::apply_set(std::uint8_t code, int head, const Frame& data) {
    Velmora5HeadMemory* h = head_memory(head);
    if (h == nullptr) {
        return;
    }
    switch (code) {
        case 0x02:
            h->reference = TakeWordsHighLow(data);
            break;
        case 0x11:
            h->upper = TakeWordsHighLow(data);
            break;
        case 0x21:
            h->lower = TakeWordsHighLow(data);
            break;
        case 0x31:
            for (std::size_t k = 0; k < 32; ++k) {
                h->modes[k] = data[1 + k];
            }
            break;
        case 0xD7:
            h->range_max = TakeHighLow(data, 1);
            break;
        case 0xD9:
            h->range_min = TakeHighLow(data, 1);
            break;
        default:
            break;
    }
}

}  // namespace kx::sim

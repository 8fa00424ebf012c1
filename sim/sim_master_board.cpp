// SPDX-License-Identifier: MIT
#include "sim/sim_master_board.h"

#include "sim/board_bytes.h"

namespace kx::sim {

using namespace bytes;

namespace {

// The board's commands that take a second report.
bool TakesData(std::uint8_t code) {
    switch (code) {
        case 0x11:  // upper limits
        case 0x21:  // lower limits
        case 0x31:  // channel modes
        case 0x33:  // position map
        case 0xF5:  // rows
        case 0xF7:  // columns
        case 0xF3:  // buzzer settings
        case 0xD7:  // range max
        case 0xD9:  // range min
        case 0xD3:  // outputs
            return true;
        default:
            return false;
    }
}

std::array<SignalModel, 32> SeededSignals(std::uint32_t seed) {
    std::array<SignalModel, 32> s;
    for (std::uint32_t h = 0; h < 32; ++h) {
        s[h] = SignalModel(seed * 131u + h + 1u);
    }
    return s;
}

}  // namespace

SimMasterBoard::SimMasterBoard(const std::string& manufacturer, std::uint32_t seed)
    : SimMemoryBoard({0x0122, 0x1985, ToU16(manufacturer), u"Orvane"}),
      signals_(SeededSignals(seed)) {
    for (MasterHeadMemory& h : memory_.heads) {
        h.upper.fill(1100);
        h.lower.fill(500);
        h.modes.fill(0);
    }
}

void SimMasterBoard::set_present_heads(std::initializer_list<int> heads) {
    std::lock_guard lock(mutex_);
    memory_.present = 0;
    for (int h : heads) {
        if (h >= 0 && h < 32) {
            memory_.present |= 1u << h;
        }
    }
}

void SimMasterBoard::assign(int position, int row, int column, std::optional<int> head) {
    if (position < 0 || position >= 16) {
        return;
    }
    std::lock_guard lock(mutex_);
    const auto at = static_cast<std::size_t>(position) * 2;
    memory_.position_map[at] = static_cast<std::uint8_t>(column * 16 + row % 16);
    memory_.position_map[at + 1] = head ? static_cast<std::uint8_t>(0x80 + *head % 128) : 0;
}

void SimMasterBoard::set_input(int byte, std::uint8_t value) {
    if (byte < 1 || byte > 7) {
        return;
    }
    std::lock_guard lock(mutex_);
    memory_.inputs[static_cast<std::size_t>(byte - 1)] = value;
}

void SimMasterBoard::set_value(int head, int channel, std::uint16_t value) {
    if (head < 0 || head >= 32) {
        return;
    }
    std::lock_guard lock(mutex_);
    signals_[static_cast<std::size_t>(head)].set_exact(channel, value);
}

void SimMasterBoard::clear_value(int head, int channel) {
    if (head < 0 || head >= 32) {
        return;
    }
    std::lock_guard lock(mutex_);
    signals_[static_cast<std::size_t>(head)].clear_exact(channel);
}

void SimMasterBoard::set_noise(int amplitude) {
    std::lock_guard lock(mutex_);
    for (SignalModel& s : signals_) {
        s.set_noise(amplitude);
    }
}

void SimMasterBoard::set_touches(const TouchPattern& pattern) {
    std::lock_guard lock(mutex_);
    for (SignalModel& s : signals_) {
        s.set_touches(pattern);
    }
}

bool SimMasterBoard::has_head(int head) const {
    return head >= 0 && head < 32 && (memory_.present >> head & 1u) != 0;
}

void SimMasterBoard::on_output(const Frame& frame) {
    if (pending_set_) {
        // The second report of a set: whatever it holds is data.
        const PendingSet set = *pending_set_;
        pending_set_.reset();
        apply_set(set.code, set.head, frame);
        queue_reply(frame);
        return;
    }
    if (frame[1] != 0x01 || frame[2] != 0x29) {
        ++memory_.unknown_commands;
        return;
    }
    const std::uint8_t code = frame[3];
    const int head = frame[4];
    if (TakesData(code)) {
        pending_set_ = PendingSet{code, head};
        return;
    }
    switch (code) {
        case 0x09:
        case 0x10:
        case 0x20:
        case 0x30:
        case 0xF0:
        case 0x32:
        case 0xF4:
        case 0xF6:
        case 0xF2:
        case 0xD8:
        case 0xDA:
        case 0xD4:
        case 0x60:
        case 0x70:
        case 0x80:
        case 0x90:
        case 0x50:
        case 0xE0:
            queue_reply(query_reply(code, head));
            return;
        default:
            ++memory_.unknown_commands;
            return;  // no reply
    }
}

// Each reply carries only its own field; the rest is zero.
Frame SimMasterBoard::query_reply(std::uint8_t code, int head) {
    Frame r{};
    const bool present = has_head(head);
    const MasterHeadMemory* h = present ? &memory_.heads[static_cast<std::size_t>(head)] : nullptr;
    switch (code) {
        case 0x09:
            r[1] = present ? memory_.probe_reply : 0xFF;
            break;
        case 0xF0:
            if (h != nullptr) {
                auto& signal = signals_[static_cast<std::size_t>(head)];
                for (std::size_t k = 0; k < 32; ++k) {
                    const auto middle = static_cast<std::uint16_t>((h->upper[k] + h->lower[k]) / 2);
                    PutHighLow(r, 1 + 2 * k, signal.sample(static_cast<int>(k), middle));
                }
            }
            break;
        case 0x10:
            if (h != nullptr) {
                PutWordsHighLow(r, h->upper);
            }
            break;
        case 0x20:
            if (h != nullptr) {
                PutWordsHighLow(r, h->lower);
            }
            break;
        case 0x30:
            if (h != nullptr) {
                for (std::size_t k = 0; k < 32; ++k) {
                    r[1 + k] = h->modes[k];
                }
            }
            break;
        case 0x32:
            for (std::size_t i = 0; i < 32; ++i) {
                r[1 + i] = memory_.position_map[i];
            }
            break;
        case 0xF4:
            r[31] = memory_.rows;
            break;
        case 0xF6:
            r[32] = memory_.columns;
            break;
        case 0xF2:
            r[30] = memory_.buzzer;
            break;
        case 0xD8:
            PutHighLow(r, 22, memory_.range_max);
            break;
        case 0xDA:
            PutHighLow(r, 24, memory_.range_min);
            break;
        case 0xD4:
            for (std::size_t i = 0; i < 7; ++i) {
                r[1 + i] = memory_.inputs[i];
            }
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
        case 0x50:
            PutTextField(r, 49, 16, memory_.device_id);
            break;
        case 0xE0:
            PutTextField(r, 49, 16, memory_.vendor_code);
            break;
        default:
            break;
    }
    return r;
}

void SimMasterBoard::apply_set(std::uint8_t code, int head, const Frame& data) {
    MasterHeadMemory* h = has_head(head) ? &memory_.heads[static_cast<std::size_t>(head)] : nullptr;
    switch (code) {
        case 0x11:
            if (h != nullptr) {
                h->upper = TakeWordsHighLow(data);
            }
            break;
        case 0x21:
            if (h != nullptr) {
                h->lower = TakeWordsHighLow(data);
            }
            break;
        case 0x31:
            if (h != nullptr) {
                for (std::size_t k = 0; k < 32; ++k) {
                    h->modes[k] = data[1 + k];
                }
            }
            break;
        case 0x33:
            for (std::size_t i = 0; i < 32; ++i) {
                memory_.position_map[i] = data[1 + i];
            }
            break;
        case 0xF5:
            memory_.rows = data[31];
            break;
        case 0xF7:
            memory_.columns = data[32];
            break;
        case 0xF3:
            memory_.buzzer = data[30];
            break;
        case 0xD7:
            memory_.range_max = TakeHighLow(data, 22);
            break;
        case 0xD9:
            memory_.range_min = TakeHighLow(data, 24);
            break;
        case 0xD3:
            for (std::size_t i = 0; i < 7; ++i) {
                memory_.outputs[i] = data[1 + i];
            }
            ++memory_.outputs_written;
            break;
        default:
            break;
    }
}

}  // namespace kx::sim

#include "hid/hiddata.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "hid/device_string.h"
#include "hid/trace.h"

namespace kx {

namespace {

// Bounds the discarding at the start of an exchange, against a device that
// floods input reports.
constexpr int kMaxDiscardedPerExchange = 64;

}  // namespace

hiddata::hiddata(HidBus& bus, const char* family)
    : bus_(bus), family_(family), trace_(TraceEnabled()) {}

hiddata::~hiddata() {
    CSectionGuard guard(&lock);
    device.reset();
}

int hiddata::open(std::uint16_t product_id, std::uint16_t vendor_id, std::string_view manufacturer,
                  std::string_view product) {
    CSectionGuard guard(&lock);
    manufacturer = manufacturer.substr(0, kMaxIdentityChars);
    product = product.substr(0, kMaxIdentityChars);

    std::unique_ptr<HidHandle> found;
    std::string found_path;
    for (const HidDeviceInfo& info : bus_.enumerate()) {
        if (info.vendor_id != vendor_id || info.product_id != product_id) {
            continue;
        }
        // A device without a string matches no identity.
        if (!info.manufacturer || !info.product) {
            continue;
        }
        if (FoldDeviceString(*info.manufacturer) != manufacturer ||
            FoldDeviceString(*info.product) != product) {
            continue;
        }
        found = bus_.open_path(info.path);
        if (found) {
            found_path = info.path;
            break;
        }
    }

    // Replacing the pointer closes the handle this object held before.
    device = std::move(found);
    path_ = device ? found_path : std::string();
    reply_outstanding_ = false;
    if (trace_) {
        std::string note = device ? "opened " + path_ + " for " : "no device for ";
        note.append(manufacturer).append(" / ").append(product);
        TraceNote(family_, note.c_str());
    }
    return device ? 0 : 1;
}

bool hiddata::is_open() const {
    CSectionGuard guard(&lock);
    return device != nullptr;
}

std::string hiddata::device_path() const {
    CSectionGuard guard(&lock);
    return path_;
}

std::uint8_t* hiddata::read_report() {
    CSectionGuard guard(&lock);
    if (!device) {
        return report.data();
    }
    std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
    const int n = device->read_input(payload.data(), kReadBoundMs);
    if (n < 0) {
        // The device is gone: keep the previous reply.
        if (trace_) {
            TraceNote(family_, "read failed, device gone");
        }
        return report.data();
    }
    if (n == 0) {
        // No reply within the bound; it may still come.
        reply_outstanding_ = true;
        if (trace_) {
            TraceReport(family_, "TMO", nullptr, 0);
        }
        return report.data();
    }
    const auto size = std::min<std::size_t>(static_cast<std::size_t>(n), payload.size());
    report[0] = 0;
    std::memcpy(report.data() + 1, payload.data(), size);
    std::fill(report.begin() + 1 + static_cast<std::ptrdiff_t>(size), report.end(), 0);
    if (trace_) {
        TraceReport(family_, "IN", report.data(), report.size());
    }
    return report.data();
}

void hiddata::write_report(const std::uint8_t* frame) {
    CSectionGuard guard(&lock);
    if (!device) {
        return;
    }
    const Frame out = outgoing(frame, "OUT");
    // The real bus's write is bounded by the kernel's USB timeout for
    // interrupt transfers; the simulated bus bounds it itself.
    device->write_output(out.data());
}

std::uint8_t* hiddata::get_feature_report() {
    CSectionGuard guard(&lock);
    report[0] = 0;
    if (!device) {
        return report.data();
    }
    Frame in{};
    const int n = device->get_feature(in.data());
    if (n > 1) {
        const auto size = std::min<std::size_t>(static_cast<std::size_t>(n), in.size());
        std::memcpy(report.data() + 1, in.data() + 1, size - 1);
        std::fill(report.begin() + static_cast<std::ptrdiff_t>(size), report.end(), 0);
        if (trace_) {
            TraceReport(family_, "GETF", report.data(), report.size());
        }
    } else if (trace_) {
        TraceNote(family_, "feature read failed");
    }
    return report.data();
}

void hiddata::set_feature_report(const std::uint8_t* frame) {
    CSectionGuard guard(&lock);
    if (!device) {
        return;
    }
    // Sent from a copy: `report` keeps the last reply, so that a feature read
    // that fails afterwards freezes the value instead of decoding the command
    // just sent as if it were the answer.
    const Frame out = outgoing(frame, "SETF");
    device->set_feature(out.data());
}

Frame hiddata::outgoing(const std::uint8_t* frame, const char* tag) const {
    Frame out;
    std::memcpy(out.data(), frame, out.size());
    out[0] = 0;  // the boards use no numbered reports
    if (trace_) {
        TraceReport(family_, tag, out.data(), out.size());
    }
    return out;
}

void hiddata::begin_exchange() {
    CSectionGuard guard(&lock);
    if (!device) {
        return;
    }
    discard_waiting_input(reply_outstanding_ ? kReadBoundMs : 0);
    reply_outstanding_ = false;
}

void hiddata::discard_waiting_input(int first_wait_ms) {
    std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
    int wait_ms = first_wait_ms;
    for (int i = 0; i < kMaxDiscardedPerExchange; ++i) {
        const int n = device->read_input(payload.data(), wait_ms);
        if (n <= 0) {
            break;
        }
        wait_ms = 0;
        if (trace_) {
            TraceReport(family_, "DROP", payload.data(), static_cast<std::size_t>(n));
        }
    }
}

const Frame& hiddata::exchange_query(const Frame& command) {
    CSectionGuard guard(&lock);
    begin_exchange();
    write_report(command.data());
    read_report();
    return report;
}

void hiddata::exchange_set(const Frame& command, const Frame& second) {
    CSectionGuard guard(&lock);
    begin_exchange();
    write_report(command.data());
    write_report(second.data());
    read_report();
}

std::uint16_t hiddata::query_be16(std::uint8_t code, std::size_t pos) {
    CSectionGuard guard(&lock);
    return ReadBe16(exchange_query(CommandReport(code)), pos);
}

std::uint8_t hiddata::query_byte(std::uint8_t code, std::size_t pos) {
    CSectionGuard guard(&lock);
    return exchange_query(CommandReport(code)).at(pos);
}

std::string hiddata::query_text(std::uint8_t code, std::size_t pos, std::size_t length) {
    CSectionGuard guard(&lock);
    return ReadText(exchange_query(CommandReport(code)), pos, length);
}

void hiddata::set_be16(std::uint8_t code, std::size_t pos, std::int32_t value) {
    const Frame command = CommandReport(code);
    Frame second = command;
    PutBe16(second, pos, static_cast<std::uint32_t>(value));
    exchange_set(command, second);
}

}  // namespace kx

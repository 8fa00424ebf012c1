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
    OpenFailure failure = OpenFailure::NotFound;
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
        HidOpenResult opened = bus_.open_path(info.path);
        if (opened.handle) {
            found = std::move(opened.handle);
            found_path = info.path;
            failure = OpenFailure::None;
            break;
        }
        // The first matching device that refused says why; a later one that
        // vanished between enumeration and open does not hide it.
        if (failure == OpenFailure::NotFound) {
            failure = opened.failure == OpenFailure::None ? OpenFailure::Other : opened.failure;
        }
    }

    // Replacing the pointer closes the handle this object held before.
    device = std::move(found);
    path_ = device ? found_path : std::string();
    open_failure_ = failure;
    // A reply owed by this very device will reach the new handle as well
    // (the old one was still open when the new one was made): it stays owed,
    // with its give-up time. Another device owes nothing; an open that found
    // nothing keeps the record for a later open of the same path.
    if (device && path_ != late_path_) {
        reply_outstanding_ = false;
    }
    if (trace_) {
        std::string note =
            device ? "opened " + path_ + " for " : std::string(OpenFailureName(failure)) + ": ";
        note.append(manufacturer).append(" / ").append(product);
        TraceNote(family_, note.c_str());
    }
    return device ? 0 : 1;
}

OpenFailure hiddata::last_open_failure() const {
    CSectionGuard guard(&lock);
    return open_failure_;
}

bool hiddata::is_open() const {
    CSectionGuard guard(&lock);
    return device != nullptr;
}

std::string hiddata::device_path() const {
    CSectionGuard guard(&lock);
    return path_;
}

int hiddata::wait_input(std::uint8_t* payload, Clock::time_point deadline) {
    for (;;) {
        if (waits_cancelled()) {
            return 0;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int slice = static_cast<int>(std::clamp<long long>(left, 0, kWaitSliceMs));
        const int n = device->read_input(payload, slice);
        if (n != 0 || slice < kWaitSliceMs) {
            return n;
        }
    }
}

int hiddata::wait_input_for(std::uint8_t* payload, int bound_ms) {
    // The first slice needs no clock: a reply that is already there, the
    // common case, costs one call.
    if (waits_cancelled()) {
        return 0;
    }
    const int first = std::min(bound_ms, kWaitSliceMs);
    const int n = device->read_input(payload, first);
    if (n != 0 || first == bound_ms) {
        return n;
    }
    return wait_input(payload, Clock::now() + std::chrono::milliseconds(bound_ms - first));
}

std::uint8_t* hiddata::read_report() {
    CSectionGuard guard(&lock);
    if (!device) {
        return nullptr;
    }
    // A cancelled wait gives up at once, below; the reply to the report just
    // written is then owed like any late one.
    std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
    const int n = wait_input_for(payload.data(), kReadBoundMs);
    if (n < 0) {
        // The device is gone: nothing more will come.
        if (trace_) {
            TraceNote(family_, "read failed, device gone");
        }
        return nullptr;
    }
    if (n == 0) {
        // No reply within the bound, or the wait was cancelled; it may still
        // come.
        reply_outstanding_ = true;
        reply_given_up_ = Clock::now();
        late_path_ = path_;
        if (trace_) {
            TraceReport(family_, waits_cancelled() ? "CNCL" : "TMO", nullptr, 0);
        }
        return nullptr;
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

bool hiddata::write_report(const std::uint8_t* frame) {
    CSectionGuard guard(&lock);
    if (!device || waits_cancelled()) {
        return false;
    }
    if (reply_outstanding_) {
        resynchronise();
        if (waits_cancelled()) {
            return false;
        }
    }
    const Frame out = outgoing(frame, "OUT");
    // The real bus's write is bounded by the kernel's USB timeout for
    // interrupt transfers; the simulated bus bounds it itself.
    return device->write_output(out.data()) > 0;
}

bool hiddata::write_continuation(const std::uint8_t* frame) {
    CSectionGuard guard(&lock);
    if (!device) {
        return false;
    }
    // No late reply to wait for: the command's first report waited it out,
    // and no read has given up since.
    const Frame out = outgoing(frame, "OUT");
    return device->write_output(out.data()) > 0;
}

std::uint8_t* hiddata::get_feature_report() {
    CSectionGuard guard(&lock);
    report[0] = 0;
    if (!device || waits_cancelled()) {
        return nullptr;
    }
    Frame in{};
    const int n = device->get_feature(in.data());
    if (n <= 1) {
        if (trace_) {
            TraceNote(family_, "feature read failed");
        }
        return nullptr;
    }
    const auto size = std::min<std::size_t>(static_cast<std::size_t>(n), in.size());
    std::memcpy(report.data() + 1, in.data() + 1, size - 1);
    std::fill(report.begin() + static_cast<std::ptrdiff_t>(size), report.end(), 0);
    if (trace_) {
        TraceReport(family_, "GETF", report.data(), report.size());
    }
    return report.data();
}

bool hiddata::set_feature_report(const std::uint8_t* frame) {
    CSectionGuard guard(&lock);
    if (!device || waits_cancelled()) {
        return false;
    }
    // Sent from a copy: `report` keeps the last reply, so that a feature read
    // that fails afterwards leaves the last value instead of the command just
    // sent.
    const Frame out = outgoing(frame, "SETF");
    return device->set_feature(out.data()) > 0;
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

void hiddata::resynchronise() {
    std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
    const auto window_end = reply_given_up_ + std::chrono::milliseconds(kLateReplyWindowMs);
    const int n = wait_input(payload.data(), window_end);
    if (n == 0 && waits_cancelled()) {
        return;  // still owed; the next exchange after resume_waits waits again
    }
    reply_outstanding_ = false;
    if (n > 0 && trace_) {
        TraceReport(family_, "LATE", payload.data(), static_cast<std::size_t>(n));
    }
    if (n >= 0) {
        discard_waiting_input();
    }
}

void hiddata::discard_waiting_input() {
    std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
    for (int i = 0; i < kMaxDiscardedPerExchange; ++i) {
        const int n = device->read_input(payload.data(), 0);
        if (n <= 0) {
            break;
        }
        if (trace_) {
            TraceReport(family_, "DROP", payload.data(), static_cast<std::size_t>(n));
        }
    }
}

bool hiddata::begin_exchange() {
    CSectionGuard guard(&lock);
    if (!device || waits_cancelled()) {
        return false;
    }
    if (reply_outstanding_) {
        resynchronise();
    } else {
        discard_waiting_input();
    }
    return !waits_cancelled();
}

const Frame* hiddata::exchange_query(const Frame& command) {
    CSectionGuard guard(&lock);
    if (!begin_exchange() || !write_report(command.data())) {
        return nullptr;
    }
    return read_report() != nullptr ? &report : nullptr;
}

bool hiddata::exchange_set(const Frame& command, const Frame& second) {
    CSectionGuard guard(&lock);
    if (!begin_exchange() || !write_report(command.data()) || !write_continuation(second.data())) {
        return false;
    }
    return read_report() != nullptr;
}

std::optional<std::uint16_t> hiddata::query_be16(std::uint8_t code, std::size_t pos) {
    return query_decoded(CommandReport(code), [pos](const Frame& f) { return ReadBe16(f, pos); });
}

std::optional<std::uint8_t> hiddata::query_byte(std::uint8_t code, std::size_t pos) {
    return query_decoded(CommandReport(code), [pos](const Frame& f) { return f.at(pos); });
}

std::optional<std::string> hiddata::query_text(std::uint8_t code, std::size_t pos,
                                               std::size_t length) {
    return query_decoded(CommandReport(code),
                         [pos, length](const Frame& f) { return ReadText(f, pos, length); });
}

bool hiddata::set_be16(std::uint8_t code, std::size_t pos, std::int32_t value) {
    const Frame command = CommandReport(code);
    Frame second = command;
    PutBe16(second, pos, static_cast<std::uint32_t>(value));
    return exchange_set(command, second);
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "hid/hiddata.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "hid/device_string.h"
#include "hid/trace.h"

namespace kx {

namespace {

// Bounds the discarding at the start of an exchange, against a device that
// floods input reports.
constexpr int kMaxDiscardedPerExchange = 64;

// The identity open and listed go by: the vendor and product ids and the
// folded manufacturer and product strings (cut by the caller). A device
// without a string matches no identity.
bool HasIdentity(const HidDeviceInfo& info, std::uint16_t product_id, std::uint16_t vendor_id,
                 std::string_view manufacturer, std::string_view product) {
    return info.vendor_id == vendor_id && info.product_id == product_id && info.manufacturer &&
           info.product && FoldDeviceString(*info.manufacturer) == manufacturer &&
           FoldDeviceString(*info.product) == product;
}

}  // namespace

hiddata::hiddata(HidBus& bus, const char* family)
    : bus_(bus), family_(family), trace_(TraceEnabled()) {}

hiddata::~hiddata() {
    CSectionGuard guard(&lock);
    device.reset();
}

std::vector<HidDeviceInfo> hiddata::listing() const {
    return bus_.enumerate();
}

bool hiddata::listed(const std::vector<HidDeviceInfo>& devices, std::uint16_t product_id,
                     std::uint16_t vendor_id, std::string_view manufacturer,
                     std::string_view product) {
    manufacturer = manufacturer.substr(0, kMaxIdentityChars);
    product = product.substr(0, kMaxIdentityChars);
    return std::any_of(devices.begin(), devices.end(), [&](const HidDeviceInfo& info) {
        return HasIdentity(info, product_id, vendor_id, manufacturer, product);
    });
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
        if (!HasIdentity(info, product_id, vendor_id, manufacturer, product)) {
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
    manufacturer_ = device ? std::string(manufacturer) : std::string();
    product_ = device ? std::string(product) : std::string();
    // A reply owed by this very device will reach the new handle as well
    // (the old one was still open when the new one was made): it stays owed,
    // with its give-up time. Another device owes nothing; an open that found
    // nothing keeps the record for a later open of the same path.
    if (device && path_ != late_path_) {
        reply_outstanding_ = false;
    }
    if (device) {
        lost_ = false;
        last_input_ = Clock::time_point{};
        if (!owed_reports_.empty() && owed_path_ == path_) {
            send_owed_report();
        }
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

std::string hiddata::device_manufacturer() const {
    CSectionGuard guard(&lock);
    return device ? manufacturer_ : std::string();
}

std::string hiddata::device_product() const {
    CSectionGuard guard(&lock);
    return device ? product_ : std::string();
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
        // come. A cancelled wait ends early, but the board does not know:
        // the window counts from when the read would have given up.
        reply_outstanding_ = true;
        reply_given_up_ =
            std::max(Clock::now(), last_command_ + std::chrono::milliseconds(kReadBoundMs));
        late_path_ = path_;
        if (trace_) {
            TraceReport(family_, waits_cancelled() ? "CNCL" : "TMO", nullptr, 0);
        }
        return nullptr;
    }
    last_input_ = Clock::now();
    if (static_cast<std::size_t>(n) < payload.size()) {
        // Something came, but not a whole reply: never padded into values.
        note_out_of_step("SHORT", payload.data(), n);
        return nullptr;
    }
    report[0] = 0;
    std::memcpy(report.data() + 1, payload.data(), payload.size());
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
        discard_waiting_input();
    }
    const Frame out = outgoing(frame, "OUT");
    // The real bus's write is bounded by the kernel's USB timeout for
    // interrupt transfers; the simulated bus bounds it itself.
    last_command_ = Clock::now();
    return device->write_output(out.data()) > 0;
}

bool hiddata::write_continuation(const std::uint8_t* frame) {
    Frame one;
    std::memcpy(one.data(), frame, one.size());
    return write_continuation(std::span<const Frame>(&one, 1));
}

bool hiddata::write_continuation(std::span<const Frame> frames) {
    CSectionGuard guard(&lock);
    if (!device) {
        return false;
    }
    // No late reply to wait for: the command's first report waited it out,
    // and no read has given up since.
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame out = outgoing(frames[i].data(), "OUT");
        bool sent = false;
        for (int attempt = 0; attempt < kContinuationTries && !sent; ++attempt) {
            last_command_ = Clock::now();
            sent = device->write_output(out.data()) > 0;
        }
        if (sent) {
            continue;
        }
        // The board waits for the rest of its command and would take the
        // next report, whatever it is, for it. Nothing more goes to this
        // handle; the rest of the command is owed to the next open of the
        // same path.
        owed_reports_.assign(frames.begin() + static_cast<std::ptrdiff_t>(i), frames.end());
        for (Frame& owed : owed_reports_) {
            owed[0] = 0;  // the boards use no numbered reports
        }
        owed_path_ = path_;
        lost_ = true;
        if (trace_) {
            TraceNote(family_, "a later report of a command did not go: handle closed");
        }
        device.reset();
        return false;
    }
    return true;
}

void hiddata::send_owed_report() {
    const std::vector<Frame> owed = std::move(owed_reports_);
    owed_reports_.clear();
    if (trace_) {
        TraceNote(family_, "sending the reports owed since the handle was closed");
    }
    for (std::size_t i = 0; i < owed.size(); ++i) {
        last_command_ = Clock::now();
        if (device->write_output(owed[i].data()) <= 0) {
            // Still not taken: the board cannot be trusted with a command.
            owed_reports_.assign(owed.begin() + static_cast<std::ptrdiff_t>(i), owed.end());
            lost_ = true;
            device.reset();
            path_.clear();
            return;
        }
    }
    // The command's reply, if it has one, is not anybody's answer.
    reply_outstanding_ = true;
    reply_given_up_ = Clock::now();
    late_path_ = path_;
}

void hiddata::forget_owed(const std::string& path) {
    CSectionGuard guard(&lock);
    if (owed_path_ == path) {
        owed_reports_.clear();
    }
    if (reply_outstanding_ && late_path_ == path && path_ != path) {
        reply_outstanding_ = false;
    }
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
    if (static_cast<std::size_t>(n) < in.size()) {
        // A feature report cut short is no reply: never padded into values.
        note_out_of_step("SHORTF", in.data() + 1, n - 1);
        return nullptr;
    }
    std::memcpy(report.data() + 1, in.data() + 1, in.size() - 1);
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

void hiddata::note_out_of_step(const char* tag, const std::uint8_t* payload, int n) {
    out_of_step_.fetch_add(1, std::memory_order_relaxed);
    if (trace_) {
        TraceReport(family_, tag, payload, static_cast<std::size_t>(std::max(n, 0)));
    }
}

void hiddata::resynchronise() {
    std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
    const auto window_end = reply_given_up_ + std::chrono::milliseconds(kLateReplyWindowMs);
    const int n = wait_input(payload.data(), window_end);
    if (n == 0 && waits_cancelled()) {
        return;  // still owed; the next exchange after resume_waits waits again
    }
    reply_outstanding_ = false;
    if (n > 0) {
        last_input_ = Clock::now();
        if (trace_) {
            TraceReport(family_, "LATE", payload.data(), static_cast<std::size_t>(n));
        }
    }
}

void hiddata::discard_waiting_input() {
    std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
    for (int i = 0; i < kMaxDiscardedPerExchange; ++i) {
        const int n = device->read_input(payload.data(), 0);
        if (n <= 0) {
            break;
        }
        last_input_ = Clock::now();
        note_out_of_step("DROP", payload.data(), n);
    }
}

bool hiddata::wait_quiet() {
    const std::uint32_t before = out_of_step_.load(std::memory_order_relaxed);
    discard_waiting_input();
    const auto interval = device->input_interval();
    if (interval.count() > 0) {
        std::array<std::uint8_t, HidHandle::kPayloadSize> payload{};
        for (int i = 0; i < kMaxDiscardedPerExchange && !waits_cancelled(); ++i) {
            const auto quiet_until = last_input_ + kQuietIntervals * interval;
            const auto now = Clock::now();
            if (now >= quiet_until) {
                break;
            }
            // Reads wait in whole milliseconds; a shorter quiet time (a
            // fast endpoint) is slept and then looked at.
            int n = 0;
            if (quiet_until - now < std::chrono::milliseconds(1)) {
                std::this_thread::sleep_until(quiet_until);
                n = device->read_input(payload.data(), 0);
            } else {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(quiet_until - now);
                n = device->read_input(payload.data(), static_cast<int>(left.count()));
            }
            if (n < 0) {
                break;
            }
            if (n > 0) {
                last_input_ = Clock::now();
                note_out_of_step("STRAY", payload.data(), n);
            }
        }
    }
    return out_of_step_.load(std::memory_order_relaxed) == before;
}

bool hiddata::settle() {
    CSectionGuard guard(&lock);
    if (!device || waits_cancelled()) {
        return true;
    }
    if (reply_outstanding_) {
        resynchronise();
    }
    return wait_quiet();
}

bool hiddata::begin_exchange() {
    CSectionGuard guard(&lock);
    if (!device || waits_cancelled()) {
        return false;
    }
    settle();
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

// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/section_lock.h"
#include "hid/hid_bus.h"
#include "hid/wire.h"

namespace kx {

// Base of every board family: finds one device by its four-part identity and
// moves 65-byte reports and feature reports. It knows nothing of commands.
//
// Every transfer tells whether it worked: a read returns `report` when a
// reply came and nullptr when none did, a write returns true when the device
// took the report. A read that gets no reply leaves `report` as it was. The
// families build on this so that every query tells its caller whether its
// own reply came.
//
// Replies carry no echo of their command, so the bounds are chosen so that a
// late reply is never taken for the next command's answer:
//  - a read waits up to kReadBoundMs for its reply, far longer than any
//    working board needs (a full-speed board answers within a few ms);
//  - after a read gave up, the next write first waits until kLateReplyWindowMs
//    after the give-up for the late reply and discards it when it comes. The
//    give-up counts from when the read would have given up by itself (the
//    command's write plus kReadBoundMs), also when a cancel ended the wait
//    sooner, so that stopping the worker never shortens the window.
// So a reply up to kReadBoundMs late is its command's answer, one up to
// kReadBoundMs + kLateReplyWindowMs late is discarded, and a reply the board
// never sends costs one window, not the sync of every later exchange.
//
// Keeping in step. A report the board sends beyond its reply (a stray) does
// not lie waiting beside the reply: an interrupt endpoint hands the host one
// report per interval, so the stray arrives an interval after the reply, when
// a fast caller has already sent its next command, and would be taken for
// that command's answer, shifting every reply after it. So no command goes
// out before the input has been quiet for kQuietIntervals of the device's
// input interval since the last report came (HidHandle::input_interval; no
// wait on a device whose reports are all there at once); whatever arrives
// meanwhile, or lies waiting, is discarded and counted as out of step. The
// reply read just before such a find may itself have been the stray, so a
// caller that must not use a shifted reply calls settle() after its reads and
// compares out_of_step_count() around them. A report shorter than a full
// report is no reply: it is never padded into values, and it counts as out of
// step too.
//
// A command of several reports whose later report the device did not take
// is retried; when it still does not go, the board is waiting for the rest of
// a command, and whatever report came next would be taken as that rest. The
// handle is then closed (the caller connects again), and that report and
// every later report of the command are owed: the next open of the same path
// sends them first, so the board gets its command whole before anything else.
// A removal of the device (forget_owed) clears them, because a re-plugged board starts afresh.
//
// Cancelling waits. A silent board holds its caller for the read bound and
// the late-reply window of every exchange, many seconds per acquisition step.
// cancel_waits() makes the object give up at once: a wait in progress ends
// within kWaitSliceMs (reads wait in slices and check the flag between them),
// and until resume_waits() every transfer fails at once without touching the
// device (nothing is sent, so no reply is owed). Queries then return no
// reply, writes false. A command of several reports whose first report has
// gone is sent whole all the same (write_continuation): the board takes
// whatever report comes next as the rest of its command, so a command cut
// after its first report would have the next command's report taken for its
// data. The station cancels the waits of every board object
// before it joins its worker and resumes them after the join. A reply cut
// short by a cancel counts as late: the first exchange after resume_waits()
// still waits for it and discards it. Neither hidraw nor the kernel lets a
// write or a feature transfer already in the kernel be cut short; those are
// bounded by the kernel's USB timeouts.
//
// `lock` is held for every call on the handle (the platform handle is not
// safe for two threads at once); it is re-entrant, so a family's operation
// takes it for the whole exchange and the transfers take it again inside.
// The cancel flag is atomic and taken without the lock, so another thread can
// cancel while an exchange holds it.
class hiddata {
public:
    static constexpr int kReadBoundMs = 500;
    static constexpr int kLateReplyWindowMs = 1000;
    static constexpr int kWaitSliceMs = 10;
    // Input intervals of quiet before a command goes out.
    static constexpr int kQuietIntervals = 2;
    // Attempts at a later report of a command before the board counts as lost.
    static constexpr int kContinuationTries = 3;
    static constexpr std::size_t kMaxIdentityChars = 254;

    hiddata(HidBus& bus, const char* family);
    virtual ~hiddata();
    hiddata(const hiddata&) = delete;
    hiddata& operator=(const hiddata&) = delete;

    // Opens the first device in enumeration order whose vendor id, product
    // id, manufacturer string and product string all match (strings compared
    // exactly, after folding) and that can be opened. Note the order:
    // product id first. Returns 0 when a device was opened, 1 otherwise (the
    // object is then closed). The handle it replaces is closed.
    //
    // A reply still owed by the device (see read_report) stays owed when the
    // same path is opened again: every open hidraw file gets the reports that
    // arrive while it is open, so the late reply reaches the new handle too
    // and is waited out there as on the old one. Opening another device
    // forgets it.
    int open(std::uint16_t product_id, std::uint16_t vendor_id, std::string_view manufacturer,
             std::string_view product);
    // The bus's device interfaces, enumerated only: nothing is opened and
    // the object's handle stays as it is.
    std::vector<HidDeviceInfo> listing() const;
    // A device of `devices` has that identity (matched as open matches).
    static bool listed(const std::vector<HidDeviceInfo>& devices, std::uint16_t product_id,
                       std::uint16_t vendor_id, std::string_view manufacturer,
                       std::string_view product);
    // Why the last open left the object closed: None after a successful open
    // (and before the first), NotFound when no device had the identity, else
    // why the first matching device could not be opened (no permission on
    // its node, busy, ...).
    OpenFailure last_open_failure() const;

    // One input report into `report`, waiting up to kReadBoundMs. Returns
    // `report` when a reply came; nullptr when none came in time, the device
    // is gone, the object is closed or its waits are cancelled, and `report`
    // then keeps its previous content.
    std::uint8_t* read_report();
    // Sends the caller's 65-byte frame with report ID 0. When an earlier read
    // gave up, first waits for that late reply and discards it. True when the
    // device took the report.
    bool write_report(const std::uint8_t* frame);
    // Feature report 0 into `report` (byte 0 set to 0). Returns `report`, or
    // nullptr when the transfer failed (`report` then keeps its payload).
    std::uint8_t* get_feature_report();
    // Sends the caller's frame as feature report 0; true when it went.
    bool set_feature_report(const std::uint8_t* frame);

    // See "Cancelling waits" above. Both may be called from any thread.
    void cancel_waits() { cancelled_.store(true, std::memory_order_relaxed); }
    void resume_waits() { cancelled_.store(false, std::memory_order_relaxed); }
    bool waits_cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

    // Waits until the input has been quiet (see "Keeping in step") and
    // discards what came meanwhile. True when nothing had to be discarded.
    bool settle();
    // Reports found out of step (strays discarded, short reports) since the
    // object was made. Read from any thread.
    std::uint32_t out_of_step_count() const { return out_of_step_.load(std::memory_order_relaxed); }
    // True once a command could not be sent whole and the handle was closed
    // for it; cleared by the next open.
    bool lost() const { return lost_.load(std::memory_order_relaxed); }
    // The device at `path` went away: a report owed to it is not sent to
    // whatever is plugged in there next.
    void forget_owed(const std::string& path);

    bool is_open() const;
    const char* family() const { return family_; }
    // Bus path of the open device, empty when closed.
    std::string device_path() const;
    // The USB manufacturer and product strings of the open device (those it
    // was opened by, folded); empty when closed.
    std::string device_manufacturer() const;
    std::string device_product() const;

protected:
    using Clock = std::chrono::steady_clock;

    // Start of every interrupt-pipe exchange: waits out a late reply (see
    // write_report) and discards input reports already waiting, so that the
    // read that follows the command gets the command's own reply. False when
    // the object is closed or its waits are cancelled.
    bool begin_exchange();
    // A further report of the command whose first report write_report has
    // just sent, under the same hold of the lock: sent even when the waits
    // have been cancelled since, so that the board never gets half a
    // command. Retried; when it still does not go, the handle is closed and
    // the report owed (see "Keeping in step"). True when the device took it.
    bool write_continuation(const std::uint8_t* frame);
    // The later reports of one command, in order, each as above. When one
    // does not go, it and every report after it are owed: a board that got
    // only part of the rest would take the next command's report for what
    // is missing.
    bool write_continuation(std::span<const Frame> frames);
    // Query: the command report, then one input report. `report` holding the
    // reply, or nullptr when the reply did not come.
    const Frame* exchange_query(const Frame& command);
    // Set: the command report, the second report, then one input report read
    // and discarded. True when the board acknowledged it with that report.
    bool exchange_set(const Frame& command, const Frame& second);
    // A query whose reply, when it came, is decoded under the lock (before
    // another exchange can reuse `report`); nullopt when it did not come.
    template <class Decode>
    auto query_decoded(const Frame& command, Decode&& decode)
        -> std::optional<std::decay_t<decltype(decode(std::declval<const Frame&>()))>> {
        CSectionGuard guard(&lock);
        const Frame* reply = exchange_query(command);
        if (reply == nullptr) {
            return std::nullopt;
        }
        return decode(*reply);
    }
    // A query of the plain command report of `code`, decoded at one place.
    std::optional<std::uint16_t> query_be16(std::uint8_t code, std::size_t pos);
    std::optional<std::uint8_t> query_byte(std::uint8_t code, std::size_t pos);
    std::optional<std::string> query_text(std::uint8_t code, std::size_t pos, std::size_t length);
    // A set of the plain command report of `code` whose second report carries
    // the low 16 bits of `value`, big-endian, at `pos`.
    bool set_be16(std::uint8_t code, std::size_t pos, std::int32_t value);

    Frame report{};
    std::unique_ptr<HidHandle> device;
    mutable CSectionLock lock;

private:
    // One input report's payload before `deadline`, waiting in slices of
    // kWaitSliceMs. Bytes stored; 0 when none came in time or the waits were
    // cancelled; -1 when the device is gone.
    int wait_input(std::uint8_t* payload, Clock::time_point deadline);
    // The same for up to bound_ms from now.
    int wait_input_for(std::uint8_t* payload, int bound_ms);
    // Waits for an outstanding late reply (until the window after the give-up
    // ends) and discards it, then discards whatever else is waiting.
    void resynchronise();
    // Discards what lies waiting now, counting it as out of step.
    void discard_waiting_input();
    // Discards input until none has come for kQuietIntervals intervals.
    // False when anything was discarded.
    bool wait_quiet();
    // A report that is not the reply it was read as: counted and traced.
    void note_out_of_step(const char* tag, const std::uint8_t* payload, int n);
    // Sends the reports owed to this path on a fresh handle (see open).
    void send_owed_report();
    // The caller's frame with report ID 0, traced under `tag`.
    Frame outgoing(const std::uint8_t* frame, const char* tag) const;

    HidBus& bus_;
    const char* family_;
    const bool trace_;
    std::string path_;
    std::string manufacturer_;  // of the open device
    std::string product_;
    OpenFailure open_failure_ = OpenFailure::None;
    std::atomic<bool> cancelled_{false};
    std::atomic<std::uint32_t> out_of_step_{0};
    std::atomic<bool> lost_{false};
    // When the last input report came, and when the last command went out.
    Clock::time_point last_input_{};
    Clock::time_point last_command_{};
    // The later reports of a command that the device at owed_path_ never
    // took, in order; empty when nothing is owed.
    std::vector<Frame> owed_reports_;
    std::string owed_path_;
    // The last read on the device at late_path_ gave up at reply_given_up_:
    // its reply may still come, also on a later handle on the same path.
    bool reply_outstanding_ = false;
    Clock::time_point reply_given_up_{};
    std::string late_path_;
};

}  // namespace kx

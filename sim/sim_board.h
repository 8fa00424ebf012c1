// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_bus.h"
#include "hid/wire.h"

namespace kx::sim {

// The USB identity a software board reports.
struct BoardIdentity {
    std::uint16_t vendor_id = 0;
    std::uint16_t product_id = 0;
    // nullopt: the device has no such string descriptor.
    std::optional<std::u16string> manufacturer;
    std::optional<std::u16string> product;
};

// A report a board received, kept for tests that check the wire format.
struct ReceivedReport {
    enum class Kind { Output, SetFeature, GetFeature };
    Kind kind;
    Frame frame;
};

// The board side of a HID tester, in software. A derived class implements one
// family's protocol in on_output / on_set_feature / on_get_feature; this base
// carries what every board shares: the identity, the replies on their way and
// the input reports waiting for each open handle, the record of received
// reports, and the faults a test can switch on (a silent board, a late reply,
// a slow board).
//
// Replies travel as on a real interrupt IN endpoint read through hidraw: the
// board sends them in order, each when it is ready, and a reply that becomes
// ready is delivered to every handle open at that moment (every open hidraw
// file gets the reports that arrive while it is open). So a late reply
// reaches a handle opened after its command was sent, and a handle closed
// before it was ready never sees it.
//
// All board state, the derived class's included, is guarded by `mutex_`; the
// protocol hooks run with it held.
class SimBoard : public std::enable_shared_from_this<SimBoard> {
public:
    using Duration = std::chrono::microseconds;
    // A write or feature transfer the board does not take within this bound
    // fails, as a real transfer would time out.
    static constexpr std::chrono::milliseconds kTransferBound{200};
    static constexpr std::size_t kReceivedLimit = 4096;
    // One report per 1 ms frame: a full-speed HID interrupt endpoint.
    static constexpr std::chrono::milliseconds kFullSpeedReportTime{1};

    explicit SimBoard(BoardIdentity identity);
    virtual ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    const BoardIdentity& identity() const { return identity_; }
    // Family name for listings.
    virtual const char* family() const = 0;

    // A silent board takes every report and answers none.
    void set_silent(bool silent);
    // Extra time before each reply is ready to be read.
    void set_reply_delay(Duration delay);
    // Time the board needs per report, in each direction. Zero (the default)
    // answers at once, as tests want; kFullSpeedReportTime paces the board
    // like a full-speed interrupt endpoint, so that a loop polling it flat
    // out sleeps between reports instead of spinning on a core. The time is
    // slept, not spun. A write that would take longer than kTransferBound
    // fails after the bound.
    void set_report_time(Duration time);
    Duration report_time() const { return Duration(report_time_us_.load()); }
    // A board whose node refuses to open, for the given reason (None: opens).
    void set_open_failure(OpenFailure failure);

    std::vector<ReceivedReport> received() const;
    // The output reports received, in order (what the station wrote).
    std::vector<Frame> received_outputs() const;
    void clear_received();

    // --- bus side ---------------------------------------------------------
    // A new handle on the board; it has its own queue of input reports, as
    // every open hidraw file has, and dies with an unplug. No handle when the
    // board is unplugged (NotFound) or refuses to open (set_open_failure).
    HidOpenResult open_handle();
    void set_plugged(bool plugged);
    bool plugged() const;
    // Handles open on the board now (closed and unplugged ones not counted).
    int open_handle_count() const;

protected:
    // Protocol hooks, called with mutex_ held.
    virtual void on_output(const Frame& frame) = 0;
    virtual void on_set_feature(const Frame& /*frame*/) {}
    // Fills the reply to a feature read; false refuses it.
    virtual bool on_get_feature(Frame& /*frame*/) { return false; }

    // Sends an input report (payload in bytes 1-64): it is ready after the
    // board's report time and reply delay, never before the replies sent
    // earlier, and then goes to every handle open at that moment. Called
    // from the hooks.
    void queue_reply(const Frame& reply);

    mutable std::mutex mutex_;

private:
    friend class SimHandle;
    struct Pending {
        std::chrono::steady_clock::time_point ready;
        Frame frame;
    };
    // One handle's input reports: those delivered while it was open.
    struct Queue {
        std::deque<Frame> reports;
        unsigned generation = 0;
        bool open = true;
    };

    void record(ReceivedReport::Kind kind, const Frame& frame);
    // Hands every reply whose time has come to the handles alive now. Called
    // (with mutex_ held) before the set of handles changes and before a
    // handle looks at its queue, so that each reply reaches exactly the
    // handles that were open when it became ready.
    void deliver_ready();
    bool alive(const Queue& q) const { return plugged_ && q.open && q.generation == generation_; }
    // Waits the board's report time (without the lock); false when the
    // transfer overruns the bound.
    bool take_report_time();

    // Takes one report from the station: the board's report time, then the
    // record and, unless the board is silent, the protocol hook.
    int deliver(Queue& q, const std::uint8_t* data, ReceivedReport::Kind kind);
    int write_output(Queue& q, const std::uint8_t* frame);
    int read_input(Queue& q, std::uint8_t* payload, int timeout_ms);
    int get_feature(Queue& q, std::uint8_t* frame);
    int set_feature(Queue& q, const std::uint8_t* frame);
    void close(Queue& q);

    const BoardIdentity identity_;
    std::condition_variable input_ready_;
    std::vector<std::shared_ptr<Queue>> queues_;
    // Replies sent and not yet ready, in the order sent (their ready times
    // never decrease).
    std::deque<Pending> in_flight_;
    std::deque<ReceivedReport> received_;
    bool plugged_ = false;
    unsigned generation_ = 0;
    bool silent_ = false;
    Duration reply_delay_{0};
    // Read by every transfer before it takes the lock.
    std::atomic<Duration::rep> report_time_us_{0};
    OpenFailure open_failure_ = OpenFailure::None;
};

// A software board whose settings live in one memory record: tests read a copy
// and change it under the board's lock.
template <class Memory>
class SimMemoryBoard : public SimBoard {
public:
    using SimBoard::SimBoard;

    Memory memory() const {
        std::lock_guard lock(mutex_);
        return memory_;
    }
    template <class Edit>
    void edit(Edit&& edit) {
        std::lock_guard lock(mutex_);
        edit(memory_);
    }

protected:
    Memory memory_;
};

// A finger on the panel now and then, as an operator's hand gives it: one
// channel at a time rises well above its centre, its two neighbours by half
// as much, and falls back after a while. Times are wall-clock times, so the
// pattern looks the same whatever pace the station polls the board at.
struct TouchPattern {
    // Mean time between the end of one touch and the start of the next; each
    // gap is drawn between half and one and a half times this. Zero: never.
    std::chrono::milliseconds meanGap{0};
    // How long a touch lasts: it rises over the first quarter, holds, and
    // falls over the last quarter.
    std::chrono::milliseconds pressTime{600};
    // Counts above the centre at full press, on the touched channel.
    int rise = 0;
};

// Measured values of one head: each channel close to a centre value with a
// little noise and, when a touch pattern is set, pressed now and then; or
// exactly the value a test put on it.
class SignalModel {
public:
    using Clock = std::chrono::steady_clock;

    explicit SignalModel(std::uint32_t seed = 1) : state_(seed == 0 ? 1 : seed) {}

    // Largest deviation from the centre, in counts (0: no noise).
    void set_noise(int amplitude) { noise_ = amplitude < 0 ? 0 : amplitude; }
    void set_exact(int channel, std::uint16_t value);
    void clear_exact(int channel);
    void clear_all_exact();
    // Touches from now on (a pattern with a zero gap or rise: none). The
    // first touch comes one gap after the next sample.
    void set_touches(const TouchPattern& pattern);

    // The value of a channel now, and at a given time (times given to one
    // model must not go backwards).
    std::uint16_t sample(int channel, std::uint16_t centre) {
        return sample_at(channel, centre, Clock::now());
    }
    std::uint16_t sample_at(int channel, std::uint16_t centre, Clock::time_point now);

    // The channel a touch is on at that time, or -1 (for tests; it moves the
    // touch schedule forward as sampling does).
    int touched_channel_at(Clock::time_point now);

private:
    std::uint32_t next();
    Clock::duration next_gap();
    // Brings the touch schedule up to `now`.
    void advance_touches(Clock::time_point now);
    // Counts the touch adds to a channel at `now` (schedule advanced).
    int touch_rise(int channel, Clock::time_point now) const;

    std::uint32_t state_;
    int noise_ = 4;
    std::uint32_t exact_mask_ = 0;
    std::uint16_t exact_[32]{};

    TouchPattern touches_;
    bool touch_scheduled_ = false;
    Clock::time_point touch_start_{};
    Clock::time_point touch_end_{};
    int touch_channel_ = 0;
};

std::u16string ToU16(const std::string& ascii);

}  // namespace kx::sim

// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_bus.h"
#include "hid/wire.h"
#include "sim/sim_bus.h"

namespace kx::sim {

// The software boards of a SimBus as a USB interrupt endpoint delivers their
// input reports, with transfer faults a test switches on.
//
// A software board puts its reply in the handle's queue the moment it takes
// the command, and a second report right behind it; the station then sees
// both at once. A real full-speed endpoint is polled once per 1 ms frame: the
// host gets at most one input report per frame, in order, the first a frame
// after the command. A report the board sends right after a reply therefore
// reaches the station one frame after that reply, by which time the station
// has usually sent its next command, and is taken for that command's reply
// by a reader that does not wait for it. This bus gives the station exactly
// that timing:
//  - when the station writes an output report at time t, the board takes it
//    (software boards answer at once with their default report time of
//    zero, which is what this bus expects), and every input report the board
//    then has ready is due at max(t + frame, previous report's due time +
//    frame); a report that a late board (set_reply_delay) sends afterwards
//    is due a frame after the read that first finds it, and never before a
//    frame after the previous one;
//  - read_input hands over the first report once it is due, waiting for it
//    up to the timeout; reports of one handle come in order, one per frame;
//  - feature transfers are control transfers and pass straight through,
//    except for the faults below.
//
// Boards are plugged and unplugged on the inner SimBus, which also raises
// the hot-plug events; this bus only wraps the handles it opens on it.
//
// Faults are set on the bus and apply to every handle it opened or will
// open. Each names the reports it applies to with a Match on an output
// report: for a reply, the output report that made the board send it (for a
// command of two reports, the second; for a late reply, the last output
// report written before it was found); for a feature read, the last
// set_feature frame of that handle (all zero before the first). Of several
// faults of one kind that match a reply, the one added first applies; faults
// of different kinds combine (a short reply may be late and followed by a
// stray). A silenced reply gets no other fault. The predicates run under the
// bus's lock, on the thread using the handle: they must not call the bus.
//
// A handle is used by one thread at a time (the transport holds its lock for
// every call); faults and counters may be set and read from any thread.
class UsbFrameBus : public HidBus {
public:
    using Match = std::function<bool(const Frame& report)>;

    // Faults applied so far, each counted when it was applied: a stray, short
    // or late reply when it went into a handle's queue, a failed write when it
    // was refused, a silenced reply when it was swallowed or a feature read
    // refused.
    struct FaultCounts {
        int strays = 0;
        int shorts = 0;
        int failed_writes = 0;
        int silenced = 0;
        int delayed = 0;
        friend bool operator==(const FaultCounts&, const FaultCounts&) = default;
    };

    // `frame`: the polling interval (1 ms at full speed; long tests may run
    // with 100 us). Negative counts as zero.
    explicit UsbFrameBus(SimBus& inner,
                         std::chrono::microseconds frame = std::chrono::milliseconds(1));
    ~UsbFrameBus() override;
    UsbFrameBus(const UsbFrameBus&) = delete;
    UsbFrameBus& operator=(const UsbFrameBus&) = delete;

    std::vector<HidDeviceInfo> enumerate() override;
    // A handle on the inner bus's device, wrapped; the inner bus's failure
    // when it has none.
    HidOpenResult open_path(const std::string& path) override;
    const char* name() const override { return "usb-frame"; }
    std::chrono::microseconds frame() const { return frame_; }

    // Every report.
    static Match Any();
    // A command report of the interrupt-pipe families: bytes 1-3 are 0x01
    // 0x29 and `code` (byte 0 is the report ID).
    static Match Code(std::uint8_t code);

    // After each of the next `count` replies to a matching report, one more
    // input report, due a frame after that reply: a copy of the reply, or the
    // given frame (payload in bytes 1-64).
    void add_stray(Match match, int count = 1);
    void add_stray(Match match, const Frame& report, int count = 1);
    // The next `count` replies to a matching report arrive with only `bytes`
    // bytes (0 to 64): read_input returns `bytes` and leaves the rest of the
    // caller's buffer as it was. For feature reads, the next `count` whose
    // last set_feature frame matches return `bytes` (0 to 65, report ID
    // included). Both kinds draw on the same count.
    void cut_short(Match match, int bytes, int count = 1);
    // Of the write attempts whose report matches, the first `skip` go
    // through, then the next `times` return -1 without reaching the board.
    // Every matching attempt counts, a retry of a refused report included;
    // several such faults count the attempts each for itself.
    void fail_output(Match match, int skip = 0, int times = 1);
    // The same for set_feature.
    void fail_set_feature(Match match, int skip = 0, int times = 1);
    // Until clear_silence (or clear_faults), replies to matching reports are
    // swallowed and feature reads after a matching set_feature return -1.
    // The board still takes the reports.
    void silence(Match match);
    void clear_silence();
    // The next `count` replies to a matching report are due `delay` later
    // than they would be; the replies after them stay behind them.
    void delay_next(Match match, std::chrono::microseconds delay, int count = 1);
    // Removes every fault; the counters stay.
    void clear_faults();

    FaultCounts delivered() const;
    void reset_counts();

private:
    struct Faults;
    class Handle;

    SimBus& inner_;
    const std::chrono::microseconds frame_;
    std::shared_ptr<Faults> faults_;
};

}  // namespace kx::sim

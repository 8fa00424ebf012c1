// SPDX-License-Identifier: MIT
#include "sim/usb_frame_bus.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace kx::sim {

namespace {

using Clock = std::chrono::steady_clock;
using Duration = std::chrono::microseconds;

// Bounds the reports taken from the board in one go, against a board that
// floods input reports.
constexpr int kMaxPulledPerCall = 256;

UsbFrameBus::Match OrAny(UsbFrameBus::Match match) {
    return match ? std::move(match) : UsbFrameBus::Any();
}

}  // namespace

// The faults of one bus and their counters, shared with every handle the
// bus opened (a handle may outlive its bus).
struct UsbFrameBus::Faults {
    struct Stray {
        Match match;
        int left;
        std::optional<Frame> report;  // nullopt: a copy of the reply
    };
    struct Short {
        Match match;
        int bytes;
        int left;
    };
    struct Fail {
        Match match;
        int skip;
        int times;
    };
    struct Delay {
        Match match;
        Duration delay;
        int left;
    };

    // What happens to one reply.
    struct ReplyFate {
        bool swallowed = false;
        int bytes = -1;  // -1: all of them
        Duration delay{0};
        bool stray = false;
        std::optional<Frame> stray_report;
    };
    // What happens to one feature read the board answered.
    struct FeatureFate {
        bool refused = false;
        int bytes = -1;
    };

    ReplyFate on_reply(const Frame& cause) {
        std::lock_guard lock(mutex);
        ReplyFate fate;
        if (std::any_of(silences.begin(), silences.end(),
                        [&](const Match& m) { return m(cause); })) {
            ++counts.silenced;
            fate.swallowed = true;
            return fate;
        }
        if (auto it = first_match(delays, cause); it != delays.end()) {
            fate.delay = it->delay;
            --it->left;
            ++counts.delayed;
        }
        if (auto it = first_match(shorts, cause); it != shorts.end()) {
            fate.bytes = std::min(it->bytes, static_cast<int>(HidHandle::kPayloadSize));
            --it->left;
            ++counts.shorts;
        }
        if (auto it = first_match(strays, cause); it != strays.end()) {
            fate.stray = true;
            fate.stray_report = it->report;
            --it->left;
            ++counts.strays;
        }
        prune_counted();
        return fate;
    }

    FeatureFate on_get_feature(const Frame& last_set) {
        std::lock_guard lock(mutex);
        FeatureFate fate;
        if (std::any_of(silences.begin(), silences.end(),
                        [&](const Match& m) { return m(last_set); })) {
            ++counts.silenced;
            fate.refused = true;
            return fate;
        }
        if (auto it = first_match(shorts, last_set); it != shorts.end()) {
            fate.bytes = it->bytes;
            --it->left;
            ++counts.shorts;
        }
        prune_counted();
        return fate;
    }

    // True when this write attempt (an output report, or a set_feature when
    // `feature`) is to fail. Every matching entry counts the attempt.
    bool refuse_write(bool feature, const Frame& report) {
        std::lock_guard lock(mutex);
        std::vector<Fail>& entries = feature ? failed_set_features : failed_outputs;
        bool refused = false;
        for (Fail& e : entries) {
            if (!e.match(report)) {
                continue;
            }
            if (e.skip > 0) {
                --e.skip;
            } else if (e.times > 0) {
                --e.times;
                refused = true;
            }
        }
        std::erase_if(entries, [](const Fail& e) { return e.times <= 0; });
        if (refused) {
            ++counts.failed_writes;
        }
        return refused;
    }

    template <class Entries>
    static typename Entries::iterator first_match(Entries& entries, const Frame& cause) {
        return std::find_if(entries.begin(), entries.end(),
                            [&](const auto& e) { return e.left > 0 && e.match(cause); });
    }

    void prune_counted() {
        const auto spent = [](const auto& e) { return e.left <= 0; };
        std::erase_if(delays, spent);
        std::erase_if(shorts, spent);
        std::erase_if(strays, spent);
    }

    mutable std::mutex mutex;
    std::vector<Stray> strays;
    std::vector<Short> shorts;
    std::vector<Fail> failed_outputs;
    std::vector<Fail> failed_set_features;
    std::vector<Match> silences;
    std::vector<Delay> delays;
    FaultCounts counts;
};

// A handle on a board of the inner bus whose input reports come one per
// frame. Its queue is touched only by the thread using the handle.
class UsbFrameBus::Handle : public HidHandle {
public:
    Handle(std::unique_ptr<HidHandle> inner, std::shared_ptr<Faults> faults, Duration frame)
        : inner_(std::move(inner)), faults_(std::move(faults)), frame_(frame) {}

    int write_output(const std::uint8_t* frame) override {
        // What the board sent before this write answers the earlier report.
        pull(Clock::now());
        Frame out;
        std::memcpy(out.data(), frame, out.size());
        if (faults_->refuse_write(false, out)) {
            return -1;
        }
        const int n = inner_->write_output(frame);
        if (n < 0) {
            return n;
        }
        last_output_ = out;
        pull(Clock::now());
        return n;
    }

    int read_input(std::uint8_t* payload, int timeout_ms) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeout_ms));
        for (;;) {
            pull(Clock::now());
            if (gone_) {
                return -1;
            }
            const auto now = Clock::now();
            if (!queue_.empty() && queue_.front().due <= now) {
                const Pending& p = queue_.front();
                std::memcpy(payload, p.frame.data() + 1, static_cast<std::size_t>(p.length));
                const int n = p.length;
                queue_.pop_front();
                return n;
            }
            if (now >= deadline) {
                return 0;
            }
            if (!queue_.empty()) {
                // Later reports are due after this one: nothing to watch for.
                std::this_thread::sleep_until(std::min(deadline, queue_.front().due));
                continue;
            }
            // Nothing on its way: wait for the board itself.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            Frame in{};
            const int n = inner_->read_input(in.data() + 1, static_cast<int>(left.count()));
            if (n < 0) {
                gone_ = true;
                return -1;
            }
            if (n > 0) {
                take(in, n, Clock::now());
            }
        }
    }

    int get_feature(std::uint8_t* frame) override {
        Frame in{};
        in[0] = frame[0];
        const int n = inner_->get_feature(in.data());
        if (n < 0) {
            return n;
        }
        const Faults::FeatureFate fate = faults_->on_get_feature(last_set_feature_);
        if (fate.refused) {
            return -1;
        }
        const int length =
            std::min(fate.bytes < 0 ? n : std::min(fate.bytes, n), static_cast<int>(in.size()));
        std::memcpy(frame, in.data(), static_cast<std::size_t>(std::max(0, length)));
        return std::max(0, length);
    }

    int set_feature(const std::uint8_t* frame) override {
        Frame out;
        std::memcpy(out.data(), frame, out.size());
        if (faults_->refuse_write(true, out)) {
            return -1;
        }
        const int n = inner_->set_feature(frame);
        if (n >= 0) {
            last_set_feature_ = out;
        }
        return n;
    }

    std::chrono::microseconds input_interval() const override { return frame_; }

private:
    struct Pending {
        Clock::time_point due;
        Frame frame;
        int length;
    };

    // Takes every report the board has ready, found at `found`.
    void pull(Clock::time_point found) {
        for (int i = 0; i < kMaxPulledPerCall && !gone_; ++i) {
            Frame in{};
            const int n = inner_->read_input(in.data() + 1, 0);
            if (n < 0) {
                gone_ = true;
            } else if (n == 0) {
                return;
            } else {
                take(in, n, found);
            }
        }
    }

    // One report from the board, found at `found`, in answer to the last
    // output report: due a frame later and a frame after the one before.
    void take(const Frame& report, int length, Clock::time_point found) {
        const Faults::ReplyFate fate = faults_->on_reply(last_output_);
        if (fate.swallowed) {
            return;
        }
        length = std::min(length, static_cast<int>(kPayloadSize));
        if (fate.bytes >= 0) {
            length = std::min(length, fate.bytes);
        }
        push(report, length, std::max(found, last_due_) + frame_ + fate.delay);
        if (fate.stray) {
            push(fate.stray_report.value_or(report), static_cast<int>(kPayloadSize),
                 last_due_ + frame_);
        }
    }

    void push(const Frame& report, int length, Clock::time_point due) {
        queue_.push_back({due, report, std::max(0, length)});
        last_due_ = due;
    }

    std::unique_ptr<HidHandle> inner_;
    std::shared_ptr<Faults> faults_;
    const Duration frame_;
    std::deque<Pending> queue_;
    // Due time of the last report queued (the epoch before the first).
    Clock::time_point last_due_{};
    Frame last_output_{};
    Frame last_set_feature_{};
    bool gone_ = false;
};

UsbFrameBus::UsbFrameBus(SimBus& inner, std::chrono::microseconds frame)
    : inner_(inner), frame_(std::max(frame, Duration(0))), faults_(std::make_shared<Faults>()) {}

UsbFrameBus::~UsbFrameBus() = default;

std::vector<HidDeviceInfo> UsbFrameBus::enumerate() {
    return inner_.enumerate();
}

HidOpenResult UsbFrameBus::open_path(const std::string& path) {
    HidOpenResult opened = inner_.open_path(path);
    if (opened.handle) {
        opened.handle = std::make_unique<Handle>(std::move(opened.handle), faults_, frame_);
    }
    return opened;
}

UsbFrameBus::Match UsbFrameBus::Any() {
    return [](const Frame&) { return true; };
}

UsbFrameBus::Match UsbFrameBus::Code(std::uint8_t code) {
    return [code](const Frame& f) { return f[1] == 0x01 && f[2] == 0x29 && f[3] == code; };
}

void UsbFrameBus::add_stray(Match match, int count) {
    if (count <= 0) {
        return;
    }
    std::lock_guard lock(faults_->mutex);
    faults_->strays.push_back({OrAny(std::move(match)), count, std::nullopt});
}

void UsbFrameBus::add_stray(Match match, const Frame& report, int count) {
    if (count <= 0) {
        return;
    }
    std::lock_guard lock(faults_->mutex);
    faults_->strays.push_back({OrAny(std::move(match)), count, report});
}

void UsbFrameBus::cut_short(Match match, int bytes, int count) {
    if (count <= 0) {
        return;
    }
    bytes = std::clamp(bytes, 0, static_cast<int>(HidHandle::kFrameSize));
    std::lock_guard lock(faults_->mutex);
    faults_->shorts.push_back({OrAny(std::move(match)), bytes, count});
}

void UsbFrameBus::fail_output(Match match, int skip, int times) {
    if (times <= 0) {
        return;
    }
    std::lock_guard lock(faults_->mutex);
    faults_->failed_outputs.push_back({OrAny(std::move(match)), std::max(0, skip), times});
}

void UsbFrameBus::fail_set_feature(Match match, int skip, int times) {
    if (times <= 0) {
        return;
    }
    std::lock_guard lock(faults_->mutex);
    faults_->failed_set_features.push_back({OrAny(std::move(match)), std::max(0, skip), times});
}

void UsbFrameBus::silence(Match match) {
    std::lock_guard lock(faults_->mutex);
    faults_->silences.push_back(OrAny(std::move(match)));
}

void UsbFrameBus::clear_silence() {
    std::lock_guard lock(faults_->mutex);
    faults_->silences.clear();
}

void UsbFrameBus::delay_next(Match match, std::chrono::microseconds delay, int count) {
    if (count <= 0) {
        return;
    }
    std::lock_guard lock(faults_->mutex);
    faults_->delays.push_back({OrAny(std::move(match)), std::max(delay, Duration(0)), count});
}

void UsbFrameBus::clear_faults() {
    std::lock_guard lock(faults_->mutex);
    faults_->strays.clear();
    faults_->shorts.clear();
    faults_->failed_outputs.clear();
    faults_->failed_set_features.clear();
    faults_->silences.clear();
    faults_->delays.clear();
}

UsbFrameBus::FaultCounts UsbFrameBus::delivered() const {
    std::lock_guard lock(faults_->mutex);
    return faults_->counts;
}

void UsbFrameBus::reset_counts() {
    std::lock_guard lock(faults_->mutex);
    faults_->counts = {};
}

}  // namespace kx::sim

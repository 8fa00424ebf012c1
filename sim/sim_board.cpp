// SPDX-License-Identifier: MIT
#include "sim/sim_board.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kx::sim {

using Clock = std::chrono::steady_clock;

class SimHandle : public HidHandle {
public:
    SimHandle(std::shared_ptr<SimBoard> board, std::shared_ptr<SimBoard::Queue> queue)
        : board_(std::move(board)), queue_(std::move(queue)) {}
    ~SimHandle() override { board_->close(*queue_); }

    int write_output(const std::uint8_t* frame) override {
        return board_->write_output(*queue_, frame);
    }
    int read_input(std::uint8_t* payload, int timeout_ms) override {
        return board_->read_input(*queue_, payload, timeout_ms);
    }
    int get_feature(std::uint8_t* frame) override { return board_->get_feature(*queue_, frame); }
    int set_feature(const std::uint8_t* frame) override {
        return board_->set_feature(*queue_, frame);
    }
    // A board paced like a USB endpoint hands out one report per report
    // time; one answering at once has all its reports there together.
    std::chrono::microseconds input_interval() const override { return board_->report_time(); }

private:
    std::shared_ptr<SimBoard> board_;
    std::shared_ptr<SimBoard::Queue> queue_;
};

SimBoard::SimBoard(BoardIdentity identity) : identity_(std::move(identity)) {}

SimBoard::~SimBoard() = default;

void SimBoard::set_silent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void SimBoard::set_reply_delay(Duration delay) {
    std::lock_guard lock(mutex_);
    reply_delay_ = delay;
}

void SimBoard::set_report_time(Duration time) {
    report_time_us_.store(std::max<Duration::rep>(0, time.count()));
}

void SimBoard::set_open_failure(OpenFailure failure) {
    std::lock_guard lock(mutex_);
    open_failure_ = failure;
}

std::vector<ReceivedReport> SimBoard::received() const {
    std::lock_guard lock(mutex_);
    return {received_.begin(), received_.end()};
}

std::vector<Frame> SimBoard::received_outputs() const {
    std::lock_guard lock(mutex_);
    std::vector<Frame> out;
    for (const ReceivedReport& r : received_) {
        if (r.kind == ReceivedReport::Kind::Output) {
            out.push_back(r.frame);
        }
    }
    return out;
}

void SimBoard::clear_received() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

HidOpenResult SimBoard::open_handle() {
    std::lock_guard lock(mutex_);
    if (!plugged_) {
        return {nullptr, OpenFailure::NotFound};
    }
    if (open_failure_ != OpenFailure::None) {
        return {nullptr, open_failure_};
    }
    // Replies that became ready before this open went to the handles open
    // then, not to this one.
    deliver_ready();
    auto queue = std::make_shared<Queue>();
    queue->generation = generation_;
    // Drop the queues of closed handles while we are here.
    std::erase_if(queues_, [](const std::shared_ptr<Queue>& q) { return !q->open; });
    queues_.push_back(queue);
    return {std::make_unique<SimHandle>(shared_from_this(), std::move(queue)), OpenFailure::None};
}

void SimBoard::set_plugged(bool plugged) {
    {
        std::lock_guard lock(mutex_);
        if (plugged_ == plugged) {
            return;
        }
        plugged_ = plugged;
        if (!plugged) {
            // Handles opened before an unplug stay dead after a re-plug, and
            // replies still on their way die with the device.
            ++generation_;
            queues_.clear();
            in_flight_.clear();
        }
    }
    input_ready_.notify_all();
}

bool SimBoard::plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

int SimBoard::open_handle_count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::count_if(queues_.begin(), queues_.end(),
                      [this](const std::shared_ptr<Queue>& q) { return alive(*q); }));
}

void SimBoard::queue_reply(const Frame& reply) {
    auto ready = Clock::now() + report_time() + reply_delay_;
    // One endpoint: a reply never overtakes one sent before it.
    if (!in_flight_.empty()) {
        ready = std::max(ready, in_flight_.back().ready);
    }
    in_flight_.push_back({ready, reply});
    input_ready_.notify_all();
}

void SimBoard::deliver_ready() {
    const auto now = Clock::now();
    while (!in_flight_.empty() && in_flight_.front().ready <= now) {
        for (const auto& q : queues_) {
            if (alive(*q)) {
                q->reports.push_back(in_flight_.front().frame);
            }
        }
        in_flight_.pop_front();
    }
}

void SimBoard::record(ReceivedReport::Kind kind, const Frame& frame) {
    received_.push_back({kind, frame});
    if (received_.size() > kReceivedLimit) {
        received_.pop_front();
    }
}

bool SimBoard::take_report_time() {
    const Duration time = report_time();
    if (time > kTransferBound) {
        std::this_thread::sleep_for(kTransferBound);
        return false;
    }
    if (time.count() > 0) {
        std::this_thread::sleep_for(time);
    }
    return true;
}

int SimBoard::deliver(Queue& q, const std::uint8_t* data, ReceivedReport::Kind kind) {
    if (!take_report_time()) {
        return -1;
    }
    Frame frame;
    std::memcpy(frame.data(), data, frame.size());
    std::lock_guard lock(mutex_);
    if (!alive(q)) {
        return -1;
    }
    record(kind, frame);
    if (!silent_) {
        if (kind == ReceivedReport::Kind::Output) {
            on_output(frame);
        } else {
            on_set_feature(frame);
        }
    }
    return static_cast<int>(frame.size());
}

int SimBoard::write_output(Queue& q, const std::uint8_t* data) {
    return deliver(q, data, ReceivedReport::Kind::Output);
}

int SimBoard::read_input(Queue& q, std::uint8_t* payload, int timeout_ms) {
    std::unique_lock lock(mutex_);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, timeout_ms));
    for (;;) {
        if (!alive(q)) {
            return -1;
        }
        deliver_ready();
        if (!q.reports.empty()) {
            std::memcpy(payload, q.reports.front().data() + 1, HidHandle::kPayloadSize);
            q.reports.pop_front();
            return static_cast<int>(HidHandle::kPayloadSize);
        }
        if (Clock::now() >= deadline) {
            return 0;
        }
        auto wake = deadline;
        if (!in_flight_.empty()) {
            wake = std::min(wake, in_flight_.front().ready);
        }
        input_ready_.wait_until(lock, wake);
    }
}

int SimBoard::set_feature(Queue& q, const std::uint8_t* data) {
    return deliver(q, data, ReceivedReport::Kind::SetFeature);
}

int SimBoard::get_feature(Queue& q, std::uint8_t* data) {
    if (!take_report_time()) {
        return -1;
    }
    Duration delay;
    {
        std::lock_guard lock(mutex_);
        delay = reply_delay_;
    }
    // A feature read is one control transfer: a late board makes it slow, and
    // beyond the bound it fails.
    if (delay > kTransferBound) {
        std::this_thread::sleep_for(kTransferBound);
        return -1;
    }
    if (delay.count() > 0) {
        std::this_thread::sleep_for(delay);
    }
    Frame frame{};
    frame[0] = data[0];
    std::lock_guard lock(mutex_);
    if (!alive(q)) {
        return -1;
    }
    record(ReceivedReport::Kind::GetFeature, frame);
    if (silent_ || !on_get_feature(frame)) {
        return -1;
    }
    frame[0] = data[0];
    std::memcpy(data, frame.data(), frame.size());
    return static_cast<int>(frame.size());
}

void SimBoard::close(Queue& q) {
    std::lock_guard lock(mutex_);
    // What became ready while it was open was its own; it goes with it.
    deliver_ready();
    q.open = false;
    q.reports.clear();
}

void SignalModel::set_exact(int channel, std::uint16_t value) {
    if (channel < 0 || channel >= 32) {
        return;
    }
    exact_[channel] = value;
    exact_mask_ |= 1u << channel;
}

void SignalModel::clear_exact(int channel) {
    if (channel >= 0 && channel < 32) {
        exact_mask_ &= ~(1u << channel);
    }
}

void SignalModel::clear_all_exact() {
    exact_mask_ = 0;
}

std::uint32_t SignalModel::next() {
    // xorshift32: cheap, deterministic per seed.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
}

void SignalModel::set_touches(const TouchPattern& pattern) {
    touches_ = pattern;
    if (touches_.pressTime.count() < 0) {
        touches_.pressTime = std::chrono::milliseconds(0);
    }
    touch_scheduled_ = false;
}

SignalModel::Clock::duration SignalModel::next_gap() {
    // Between half and one and a half mean gaps, in steps of a thousandth.
    const auto mean = std::chrono::duration_cast<Clock::duration>(touches_.meanGap);
    return mean / 2 + mean * static_cast<Clock::rep>(next() % 1001u) / 1000;
}

void SignalModel::advance_touches(Clock::time_point now) {
    if (touches_.meanGap.count() <= 0 || touches_.rise <= 0) {
        return;
    }
    const auto schedule_from = [this](Clock::time_point from) {
        touch_start_ = from + next_gap();
        touch_end_ = touch_start_ + touches_.pressTime;
        touch_channel_ = static_cast<int>(next() % 32u);
    };
    if (!touch_scheduled_) {
        touch_scheduled_ = true;
        schedule_from(now);
        return;
    }
    // After a long pause (nobody polled the board) the pattern starts afresh
    // instead of running through every touch it missed.
    if (now - touch_end_ > 16 * touches_.meanGap) {
        schedule_from(now);
        return;
    }
    // Every gap is at least half a mean gap long, so this ends.
    while (now >= touch_end_) {
        schedule_from(touch_end_);
    }
}

int SignalModel::touch_rise(int channel, Clock::time_point now) const {
    if (!touch_scheduled_ || now < touch_start_ || now >= touch_end_) {
        return 0;
    }
    const double length = std::chrono::duration<double>(touch_end_ - touch_start_).count();
    if (length <= 0) {
        return 0;
    }
    const double at = std::chrono::duration<double>(now - touch_start_).count() / length;
    const double envelope = std::min({1.0, at / 0.25, (1.0 - at) / 0.25});
    const double full = touches_.rise * envelope;
    const int distance = std::abs(channel - touch_channel_);
    if (distance == 0) {
        return static_cast<int>(full);
    }
    return distance == 1 ? static_cast<int>(full / 2) : 0;
}

int SignalModel::touched_channel_at(Clock::time_point now) {
    advance_touches(now);
    if (!touch_scheduled_ || now < touch_start_ || now >= touch_end_) {
        return -1;
    }
    return touch_channel_;
}

std::uint16_t SignalModel::sample_at(int channel, std::uint16_t centre, Clock::time_point now) {
    if (channel >= 0 && channel < 32 && (exact_mask_ & (1u << channel)) != 0) {
        return exact_[channel];
    }
    advance_touches(now);
    int v = centre + touch_rise(channel, now);
    if (noise_ != 0) {
        const int span = 2 * noise_ + 1;
        v += static_cast<int>(next() % static_cast<std::uint32_t>(span)) - noise_;
    }
    return static_cast<std::uint16_t>(std::clamp(v, 0, 0xFFFF));
}

std::u16string ToU16(const std::string& ascii) {
    std::u16string out;
    for (char c : ascii) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace kx::sim

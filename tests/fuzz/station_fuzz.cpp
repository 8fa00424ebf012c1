// SPDX-License-Identifier: MIT
// libFuzzer target for the station core and the device-information reads
// over a software board whose replies come from the input.
//
// The board under test (FuzzBoard) carries a family's USB identity, so the
// station's probe chain picks that family. Which output report gets a reply
// it learns from a real software board of the family (the framing board):
// every report the station sends goes on to it, and where it answers, the
// fuzz board answers too, with the framing board's reply, the input's bytes,
// a mix of both, a reply with a stray report behind it, no reply and a read
// that fails at once, or (rarely) nothing at all. The framing board's memory
// also records the outputs the station wrote. Replies are ready at once
// (report time zero), so no exchange waits for a bound. True silence costs
// the station its read bound and the late-reply window (1.5 s); it is left
// out unless KX_FUZZ_SILENCE=1 is set, and then comes once per input at most.
//
// The station's worker is started by every connection; the target stops it
// at once and runs the steps itself. The bus holds a worker's transfer back
// until the station cancels its waits and then fails it, so the worker never
// reaches the board and a run does not depend on thread timing.
//
// Checks, for any replies:
// - no exception leaves the station or the dialog reads;
// - after each repaint's judgement, PASS is allowed only when every head
//   with tested channels has data;
// - a step drives the PASS output only when the judgement before it allowed
//   PASS (one-to-one and master boards, whose outputs are recorded);
// - every page holds board values within their 16-bit range;
// - Close leaves no worker, and destroying the station closes every handle.
//
// Input: byte 0 picks the family (one-to-one machine 0..5, Velmora5, master,
// classic, Kestrun9 beside a classic), byte 1 its identity row or head count
// (bit 7 allows one silent reply under KX_FUZZ_SILENCE=1), then operation
// bytes and reply bytes from one stream.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/page_table.h"
#include "grid/grid_model.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "sim/sim_bus.h"
#include "station/device_info.h"
#include "station/station_core.h"
#include "tests/support/fault_rig.h"
#include "tests/support/station_wait.h"

namespace {

using namespace kx;

// A broken promise: which check, then abort.
void Check(bool ok, int line = __builtin_LINE()) {
    if (!ok) {
        std::fprintf(stderr, "station_fuzz: check at line %d failed\n", line);
        std::abort();
    }
}

// The input's bytes, taken in order; zero once they run out.
class Feed {
public:
    Feed(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Up to n bytes into out; the count taken.
    std::size_t Take(std::uint8_t* out, std::size_t n) {
        const std::size_t k = std::min(n, size_ - std::min(pos_, size_));
        if (k > 0) {
            std::memcpy(out, data_ + pos_, k);
        }
        pos_ += k;
        return k;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class FuzzBoard : public sim::SimBoard {
public:
    FuzzBoard(sim::BoardIdentity identity, std::shared_ptr<sim::SimBoard> framing, Feed& feed,
              bool silenceAllowed)
        : SimBoard(std::move(identity)),
          framing_(std::move(framing)),
          feed_(feed),
          silences_(silenceAllowed ? 1 : 0) {
        framing_->set_plugged(true);
        HidOpenResult opened = framing_->open_handle();
        Check(opened.handle != nullptr);
        framingHandle_ = std::move(opened.handle);
    }
    const char* family() const override { return "fuzz"; }

    // True once after a reply the input turned into a failed read.
    bool TakeFailedRead() { return failRead_.exchange(false); }

    // Byte 4 (the head on a master board) of every read of live values whose
    // reply had a stray behind it, since the last call.
    std::vector<int> TakeStrayAfterValues() {
        std::lock_guard lock(mutex_);
        return std::exchange(strayAfterValues_, {});
    }

protected:
    void on_output(const Frame& frame) override {
        Check(framingHandle_->write_output(frame.data()) >= 0);
        Frame reply{};
        while (framingHandle_->read_input(reply.data() + 1, 0) > 0) {
            Frame out = reply;
            switch (Answer(out)) {
                case Reply::One:
                    queue_reply(out);
                    break;
                case Reply::WithStray: {
                    if (frame[1] == 0x01 && frame[2] == 0x29 && frame[3] == kReadValues) {
                        strayAfterValues_.push_back(frame[4]);
                    }
                    queue_reply(out);
                    Frame stray = out;
                    feed_.Take(stray.data() + 1, HidHandle::kPayloadSize);
                    queue_reply(stray);
                    break;
                }
                case Reply::ReadFails:
                    failRead_ = true;
                    break;
                case Reply::None:
                    break;
            }
        }
    }
    void on_set_feature(const Frame& frame) override {
        Frame f = frame;
        framingHandle_->set_feature(f.data());
    }
    bool on_get_feature(Frame& frame) override {
        Frame f = frame;
        if (framingHandle_->get_feature(f.data()) < 0) {
            return false;
        }
        const Reply r = Answer(f);
        if (r == Reply::None || r == Reply::ReadFails) {
            return false;
        }
        frame = f;
        return true;
    }

private:
    // None: silence, which costs the station its read bound; ReadFails: no
    // reply, and the station's next read of the handle fails at once.
    enum class Reply { One, WithStray, ReadFails, None };
    static constexpr std::uint8_t kReadValues = 0xF0;

    // The input's answer in place of the framing board's reply `f`.
    Reply Answer(Frame& f) {
        if (feed_.empty()) {
            return Reply::One;
        }
        const std::uint8_t c = feed_.Byte();
        switch (c % 8) {
            case 3:
            case 4:
                feed_.Take(f.data() + 1, HidHandle::kPayloadSize);
                return Reply::One;
            case 5: {
                const std::uint8_t pos = feed_.Byte();
                f[1 + pos % HidHandle::kPayloadSize] = feed_.Byte();
                return Reply::One;
            }
            case 6:
                return Reply::WithStray;
            case 7:
                if (silences_ > 0 && c == 0xFF) {
                    --silences_;
                    return Reply::None;
                }
                return Reply::ReadFails;
            default:
                return Reply::One;
        }
    }

    std::shared_ptr<sim::SimBoard> framing_;
    std::unique_ptr<HidHandle> framingHandle_;
    Feed& feed_;
    int silences_;
    std::vector<int> strayAfterValues_;
    std::atomic<bool> failRead_{false};
};

// The simulated bus as the station sees it, with every handle held back on
// threads other than the owner's (the station's worker): such a transfer
// waits (bounded) until the station cancels its waits, then fails without
// reaching the board. So the worker sends nothing and owes no reply, and the
// steps the target runs itself are the only ones.
class GateBus : public HidBus {
public:
    // `failRead`: asked before each read on the owner's thread; true makes
    // that read fail as a transfer error does.
    GateBus(sim::SimBus& inner, std::function<bool()> released, std::function<bool()> failRead)
        : inner_(inner),
          owner_(std::this_thread::get_id()),
          released_(std::move(released)),
          failRead_(std::move(failRead)) {}

    std::vector<HidDeviceInfo> enumerate() override { return inner_.enumerate(); }
    HidOpenResult open_path(const std::string& path) override {
        HidOpenResult r = inner_.open_path(path);
        if (r.handle) {
            r.handle = std::make_unique<Handle>(*this, std::move(r.handle));
        }
        return r;
    }
    const char* name() const override { return "fuzz-gate"; }

private:
    class Handle : public HidHandle {
    public:
        Handle(GateBus& bus, std::unique_ptr<HidHandle> inner)
            : bus_(bus), inner_(std::move(inner)) {}
        int write_output(const std::uint8_t* frame) override {
            return bus_.Pass() ? inner_->write_output(frame) : -1;
        }
        int read_input(std::uint8_t* payload, int timeout_ms) override {
            if (!bus_.Pass()) {
                return 0;
            }
            return bus_.failRead_() ? -1 : inner_->read_input(payload, timeout_ms);
        }
        int get_feature(std::uint8_t* frame) override {
            return bus_.Pass() ? inner_->get_feature(frame) : -1;
        }
        int set_feature(const std::uint8_t* frame) override {
            return bus_.Pass() ? inner_->set_feature(frame) : -1;
        }
        std::chrono::microseconds input_interval() const override {
            return inner_->input_interval();
        }

    private:
        GateBus& bus_;
        std::unique_ptr<HidHandle> inner_;
    };

    // True on the owner's thread; elsewhere false once released (or after a
    // bound, so that nothing hangs).
    bool Pass() const {
        if (std::this_thread::get_id() == owner_) {
            return true;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!released_() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        return false;
    }

    sim::SimBus& inner_;
    const std::thread::id owner_;
    const std::function<bool()> released_;
    const std::function<bool()> failRead_;
};

enum class Family { OneToOne, Velmora5, Master, Classic, Kestrun9 };

struct Setup {
    Family family;
    int machine = 0;
    sim::BoardIdentity identity;
    std::shared_ptr<sim::SimBoard> framing;
    std::shared_ptr<sim::SimRunoffBoard> runoff;
    std::shared_ptr<sim::SimMasterBoard> master;
};

Setup MakeSetup(std::uint8_t pick, std::uint8_t row) {
    Setup s;
    const int kind = pick % 10;
    if (kind < 6) {
        s.family = Family::OneToOne;
        s.machine = kind;
        const auto order = hiddata_simple_runoff::probe_order(kind);
        const RunoffProbe probe = order[row % order.size()];
        const std::string manufacturer =
            hiddata_simple_runoff::manufacturer_for(probe, kind).value_or("borvane");
        s.identity = {hiddata_simple_runoff::kVendorId, hiddata_simple_runoff::kProductId,
                      sim::ToU16(manufacturer), sim::ToU16(hiddata_simple_runoff::kProduct)};
        s.runoff = test::OneToOneBoard();
        s.framing = s.runoff;
    } else if (kind == 6) {
        s.family = Family::Velmora5;
        const auto table = hiddata_velmora5::identity_table();
        const Velmora5IdentityRow& r = table[row % table.size()];
        s.identity = sim::SimVelmora5Board(r.manufacturer, r.vendor_id, r.product_id).identity();
        s.framing = test::Velmora5Board();
    } else if (kind == 7) {
        s.family = Family::Master;
        s.master = test::MasterBoard(1 + row % 4);
        s.identity = s.master->identity();
        s.framing = s.master;
    } else {
        s.family = kind == 8 ? Family::Classic : Family::Kestrun9;
        auto classic = test::ClassicBoard();
        s.identity = classic->identity();
        s.framing = classic;
    }
    return s;
}

// Board values are 16-bit; a master board's derived reference may reach half
// the distance of the two limits above the larger one (DerivedReference).
bool PagesInRange(const PageStore& pages) {
    constexpr std::int32_t kMaxReference = 0xFFFF + 0xFFFF / 2;
    const auto in = [](std::int32_t v, std::int32_t max) { return v >= 0 && v <= max; };
    CSectionGuard guard(&pages.lock);
    for (std::size_t page = 0; page < pages.table.size(); ++page) {
        const PageRecord& p = pages.table[page];
        bool ok = in(p.rangeMax, 0xFFFF) && in(p.rangeMin, 0xFFFF);
        for (std::size_t k = 0; k < kChannels; ++k) {
            ok = ok && in(p.upper[k], 0xFFFF) && in(p.lower[k], 0xFFFF) &&
                 in(p.reference[k], kMaxReference);
        }
        for (std::int32_t v : p.live) {
            ok = ok && in(v, 0xFFFF);
        }
        if (!ok) {
            std::fprintf(stderr, "station_fuzz: page %zu holds a value out of range\n", page);
            return false;
        }
    }
    return true;
}

bool PassOnlyWithData(const GridModel& grid) {
    return !grid.GetPassAllowed() || test::EveryTestedHeadHasData(grid);
}

// A step whose read of live values had a stray behind its reply stores none
// of them: the head read has no data (one-to-one: the only head; master: the
// heads the position map gives that board head).
bool NoDataFromStrayReads(const StationCore& core, const GridModel& grid,
                          const std::vector<int>& strayHeads) {
    if (strayHeads.empty()) {
        return true;
    }
    const FamilyId family = core.ActiveFamily();
    if (family == FamilyId::OneToOne) {
        return !grid.HasData(0, 0);
    }
    if (family != FamilyId::Master) {
        return true;
    }
    const int columns = grid.GetColumns();
    for (int page = 0; page < std::min(grid.GetRows() * columns, kPageCount); ++page) {
        const int head = core.Find<MasterFamily>()->HeadOfPage(page);
        if (std::find(strayHeads.begin(), strayHeads.end(), head) != strayHeads.end() &&
            grid.HasData(page % columns, page / columns)) {
            return false;
        }
    }
    return true;
}

// The PASS output as the framing board last took it, and how many output
// writes it took; {false, -1} for families whose outputs are not recorded.
std::pair<bool, int> PassOutput(const Setup& s) {
    if (s.runoff) {
        const auto m = s.runoff->memory();
        return {m.outputs[0] != 0, m.outputs_written};
    }
    if (s.master) {
        const auto m = s.master->memory();
        return {m.outputs[2] != 0, m.outputs_written};
    }
    return {false, -1};
}

void RunInput(Feed& feed) {
    const std::uint8_t pick = feed.Byte();
    const std::uint8_t row = feed.Byte();
    Setup s = MakeSetup(pick, row);

    test::ResetStationState();
    sim::SimBus bus;
    static const bool silenceWanted = [] {
        const char* v = std::getenv("KX_FUZZ_SILENCE");
        return v != nullptr && std::strcmp(v, "1") == 0;
    }();
    auto board = std::make_shared<FuzzBoard>(s.identity, s.framing, feed,
                                             silenceWanted && (row & 0x80) != 0);
    std::string path = bus.plug(board);
    if (s.family == Family::Kestrun9) {
        bus.plug(std::make_shared<sim::SimKestrun9Board>(row % 5));
    }

    GridModel grid;
    GridFrame frame;
    PageStore pages;
    {
        const StationCore* station = nullptr;
        GateBus gate(
            bus,
            [&station] {
                return station->Find<RunoffFamily>()->Board().waits_cancelled() ||
                       station->Find<Velmora5Family>()->Board().waits_cancelled() ||
                       station->Find<MasterFamily>()->Board().waits_cancelled() ||
                       station->Find<ClassicFamily>()->Board().waits_cancelled() ||
                       station->Find<MasterFamily>()->Kestrun9().waits_cancelled();
            },
            [&board] { return board->TakeFailedRead(); });
        StationCore core(gate, grid, pages);
        station = &core;
        const auto stop = [&core] { core.StopAcquisition(); };

        core.Initialise();
        stop();
        if (s.machine > 0) {
            core.SelectDeviceType(s.machine);
            stop();
        }
        grid.Evaluate(800, 600, frame);
        Check(PassOnlyWithData(grid));
        Check(PagesInRange(pages));

        SettingsWriteRun run;
        for (int op = 0; op < 48 && !feed.empty(); ++op) {
            const std::uint8_t code = feed.Byte();
            switch (code % 16) {
                case 0:
                case 1:
                case 2:
                case 3:
                case 4:
                case 5: {
                    const bool allowed = grid.GetPassAllowed();
                    const auto before = PassOutput(s);
                    board->TakeStrayAfterValues();
                    core.AcquireStep();
                    const auto after = PassOutput(s);
                    if (after.second != before.second && after.first) {
                        Check(allowed);
                    }
                    Check(NoDataFromStrayReads(core, grid, board->TakeStrayAfterValues()));
                    grid.Evaluate(800, 600, frame);
                    Check(PassOnlyWithData(grid));
                    break;
                }
                case 6:
                    switch (core.ActiveFamily()) {
                        case FamilyId::OneToOne:
                            core.Find<RunoffFamily>()->ReadSettings();
                            break;
                        case FamilyId::Velmora5:
                            core.Find<Velmora5Family>()->ReadSettings();
                            break;
                        case FamilyId::Master:
                            core.Find<MasterFamily>()->ReadSettings();
                            core.Find<MasterFamily>()->ReadRange(feed.Byte() % 64);
                            break;
                        case FamilyId::Classic:
                            core.Find<ClassicFamily>()->ReadSettings();
                            break;
                        case FamilyId::None:
                            break;
                    }
                    break;
                case 7:
                    core.WritePageToBoards(feed.Byte() % 8, run);
                    break;
                case 8: {
                    const int page = feed.Byte() % 8;
                    core.Find<RunoffFamily>()->WriteSettings();
                    core.Find<Velmora5Family>()->WritePage(page);
                    core.Find<MasterFamily>()->WritePage(page);
                    core.Find<ClassicFamily>()->WriteSettings();
                    break;
                }
                case 9: {
                    const AboutInfo about = ReadRunoffAbout(core.Find<RunoffFamily>()->Board(),
                                                            core.Find<RunoffFamily>()->OemName());
                    if (about.sendsOffline) {
                        WriteOfflineDisplay(core.Find<RunoffFamily>()->Board(), feed.Byte() % 3);
                    }
                    (void)ClassicAbout(core.Find<ClassicFamily>()->Board().fields());
                    break;
                }
                case 10: {
                    const Velmora5About about =
                        ReadVelmora5About(core.Find<Velmora5Family>()->Board());
                    if (about.layout) {
                        Velmora5LayoutRecord layout = *about.layout;
                        layout.rows = feed.Byte();
                        layout.columns = feed.Byte();
                        WriteVelmora5Layout(core.Find<Velmora5Family>()->Board(), layout);
                    }
                    break;
                }
                case 11: {
                    const int rows = 1 + feed.Byte() % 4;
                    const int columns = 1 + feed.Byte() % 4;
                    const MasterAbout about =
                        ReadMasterAbout(core.Find<MasterFamily>()->Board(), rows, columns);
                    MasterLayout layout;
                    layout.rows = rows;
                    layout.columns = columns;
                    layout.heads = about.heads;
                    if (about.buzzerOn) {
                        layout.buzzer = feed.Byte();
                    }
                    WriteMasterLayout(core.Find<MasterFamily>()->Board(), layout);
                    break;
                }
                case 12:
                    // Re-plug: removal, then arrival, as the hot-plug monitor
                    // reports them.
                    bus.unplug(board);
                    core.OnDeviceChange(HotplugEvent::Removal, path);
                    stop();
                    path = bus.plug(board);
                    core.OnDeviceChange(HotplugEvent::Arrival, path);
                    stop();
                    break;
                case 13:
                    core.Connect();
                    stop();
                    break;
                case 14:
                    switch (feed.Byte() % 4) {
                        case 0:
                            core.ToggleBuzzerOn();
                            break;
                        case 1:
                            core.ToggleBuzzerInvert();
                            break;
                        case 2:
                            core.ToggleFpcTest();
                            break;
                        default:
                            core.ClearGreenMarks();
                            break;
                    }
                    break;
                default:
                    core.SelectDeviceType(feed.Byte() % 6);
                    stop();
                    break;
            }
            Check(PagesInRange(pages));
        }
        core.Close();
        Check(core.AcquisitionWorkers() == 0);
    }
    Check(board->open_handle_count() == 0);
    bus.unplug_all();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    Feed feed(data, size);
    try {
        RunInput(feed);
    } catch (...) {
        std::abort();
    }
    return 0;
}

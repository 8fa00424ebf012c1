// SPDX-License-Identifier: MIT
// The test records' costs. Submit is what closing a panel's cycle costs the
// window's thread (a batch of four heads' records moved into the writer's
// queue); Insert is one such batch committed on the disk (WAL, full sync);
// Page is a page of 100 records of a database of 100,000 under the records
// window's filters. The database lives under $TMPDIR (or /tmp): commit times
// depend on the disk behind it.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "records/record_writer.h"

namespace {

class TempDb {
public:
    TempDb() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kx-records-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_dir = pattern;
        }
    }
    ~TempDb() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::string Path() const { return (m_dir / "records.db").string(); }

private:
    std::filesystem::path m_dir;
};

kx::TestRecord Record(std::int64_t n) {
    kx::TestRecord r;
    r.uuid = kx::NewUuid();
    r.timeMs = 1'780'000'000'000 + n * 1'000;
    r.utcOffsetMinutes = 480;
    r.startMs = r.timeMs - 3'000;
    r.durationMs = 3'000;
    r.station = "line-3-station-7";
    r.operatorName = "张三";
    r.config = "/home/station/configs/panel-type-a.ini";
    r.configSha256 = std::string(64, 'a');
    r.board = {"one-to-one", "maker", "tester", "2.14", "SN0012345", 0};
    r.page = static_cast<std::int32_t>(n % 4);
    r.row = 1;
    r.column = static_cast<std::int32_t>(n % 4) + 1;
    r.serial = "P2026" + std::to_string(100000 + n);
    r.verdict = n % 50 == 0 ? kx::RecordVerdict::Fail : kx::RecordVerdict::Pass;
    r.reason = kx::kReasonEveryChannelResponded;
    r.steps = 40;
    for (std::size_t c = 0; c < r.channels.size(); ++c) {
        r.channels[c] = {0, 1, 1, 700, 650, 1200, 1000, 400, 680};
    }
    return r;
}

std::vector<kx::TestRecord> Batch(std::int64_t first) {
    std::vector<kx::TestRecord> batch;
    for (std::int64_t k = 0; k < 4; ++k) {
        batch.push_back(Record(first + k));
    }
    return batch;
}

void BM_SubmitBatch(benchmark::State& state) {
    TempDb db;
    std::string error;
    auto store = kx::RecordStore::Open(db.Path(), kx::RecordStore::Mode::ReadWrite, &error);
    if (store == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    kx::RecordWriter writer(std::move(store), nullptr);
    std::int64_t n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<kx::TestRecord> batch = Batch(n);
        n += 4;
        state.ResumeTiming();
        writer.Submit(std::move(batch));
    }
    writer.Stop(std::chrono::seconds(60));
}
BENCHMARK(BM_SubmitBatch)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_InsertBatch(benchmark::State& state) {
    TempDb db;
    std::string error;
    auto store = kx::RecordStore::Open(db.Path(), kx::RecordStore::Mode::ReadWrite, &error);
    if (store == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::int64_t n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<kx::TestRecord> batch = Batch(n);
        n += 4;
        state.ResumeTiming();
        if (!store->Insert(batch, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
}
BENCHMARK(BM_InsertBatch)->Unit(benchmark::kMillisecond);

// 100,000 records, written once for the Page benchmarks.
const std::string& FilledDb() {
    static TempDb db;
    static const bool filled = [] {
        std::string error;
        auto store = kx::RecordStore::Open(db.Path(), kx::RecordStore::Mode::ReadWrite, &error);
        if (store == nullptr) {
            return false;
        }
        std::vector<kx::TestRecord> chunk;
        for (std::int64_t n = 0; n < 100'000; ++n) {
            chunk.push_back(Record(n));
            if (chunk.size() == 5'000) {
                if (!store->Insert(chunk, &error)) {
                    return false;
                }
                chunk.clear();
            }
        }
        return true;
    }();
    static const std::string path = filled ? db.Path() : std::string();
    return path;
}

void BM_Page(benchmark::State& state) {
    const std::string& path = FilledDb();
    std::string error;
    auto store = path.empty()
                     ? nullptr
                     : kx::RecordStore::Open(path, kx::RecordStore::Mode::ReadOnly, &error);
    if (store == nullptr) {
        state.SkipWithError("no database");
        return;
    }
    kx::RecordFilter filter;
    const std::int64_t t0 = 1'780'000'000'000;
    switch (state.range(0)) {
        case 0:
            state.SetLabel("no filter");
            break;
        case 1:
            state.SetLabel("FAIL");
            filter.verdict = kx::RecordVerdict::Fail;
            break;
        case 2:
            state.SetLabel("serial, no match");
            filter.serialContains = "no such serial";
            break;
        case 3:
            state.SetLabel("one day, long ago");
            filter.sinceMs = t0 + 86'400'000LL / 4;
            filter.untilMs = t0 + 86'400'000LL / 2;
            break;
        case 4:
            state.SetLabel("first half");
            filter.untilMs = t0 + 50'000'000LL;
            break;
        default:
            break;
    }
    for (auto _ : state) {
        auto page = store->Page(filter, 0, 100, &error);
        benchmark::DoNotOptimize(page);
    }
}
BENCHMARK(BM_Page)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

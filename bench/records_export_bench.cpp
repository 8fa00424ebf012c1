// SPDX-License-Identifier: MIT
// Exporting 100,000 test records, as the records window's export and
// kaldrix-records do: read from the SQLite database through the store's
// filter, formatted as CSV or JSON Lines, written to a file beside which a
// temporary file is synced and renamed (File), or handed to a sink that
// keeps nothing (Sink: reading and formatting alone). The database is made
// once, in a folder under $TMPDIR (or /tmp), and removed at the end. The
// goal is at most 2 s for the 100,000 records.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "records/record_export.h"
#include "records/record_store.h"

namespace {

constexpr int kRecords = 100000;

// A record as a busy line writes them: every head of an 8 x 8 grid in turn,
// a Chinese serial and configuration path, one in ten a failure.
kx::TestRecord LineRecord(int n) {
    kx::TestRecord r;
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "5eed0000-0000-4000-8000-%012x", static_cast<unsigned>(n));
    r.uuid = uuid;
    r.timeMs = 1796947200000 + std::int64_t{n} * 850;
    r.utcOffsetMinutes = 480;
    r.startMs = r.timeMs - 4200;
    r.durationMs = 4200;
    r.station = "线体-3";
    r.operatorName = "张三";
    r.config = "/home/操作员/配置/型号 A-17.ini";
    r.configSha256 = std::string(64, 'a');
    r.board = {"master", "制造商", "多头测试板", "v2.4", "SN-0042", 0};
    r.page = n % 64;
    r.row = n % 8 + 1;
    r.column = n / 8 % 8 + 1;
    r.serial = "面板" + std::to_string(202612110000000 + n);
    const bool fail = n % 10 == 0;
    r.verdict = fail ? kx::RecordVerdict::Fail : kx::RecordVerdict::Pass;
    r.reason = fail ? "channels did not respond: 3, 17" : "every channel responded";
    r.fpc = true;
    r.worst = fail ? kx::WorstVerdict::Fail : kx::WorstVerdict::Pass;
    r.steps = 420;
    r.failedSteps = fail ? 12 : 0;
    for (int c = 0; c < kx::kChannels; ++c) {
        kx::ChannelRecord& ch = r.channels[static_cast<std::size_t>(c)];
        ch.mode = c < 30 ? 0 : 1;
        ch.channelClass = 1;
        ch.greenMark = 1;
        ch.value = 700 + (n + c * 37) % 300;
        ch.low = 120 + c;
        ch.high = 1350 + (n + c) % 200;
        ch.upper = 1200 + c;
        ch.lower = 300 + c;
        ch.reference = 650 + c;
    }
    return r;
}

// The database, made on first use.
class Fixture {
public:
    static Fixture& Get() {
        static Fixture fixture;
        return fixture;
    }
    ~Fixture() {
        store.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    std::string folder;
    std::unique_ptr<kx::RecordStore> store;
    std::string error;

private:
    Fixture() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kx-records-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = "mkdtemp failed";
            return;
        }
        folder = pattern;
        auto writer =
            kx::RecordStore::Open(folder + "/records.db", kx::RecordStore::Mode::ReadWrite, &error);
        if (!writer) {
            return;
        }
        std::vector<kx::TestRecord> batch;
        for (int n = 0; n < kRecords; ++n) {
            batch.push_back(LineRecord(n));
            if (batch.size() == 5000) {
                if (!writer->Insert(batch, &error)) {
                    return;
                }
                batch.clear();
            }
        }
        writer.reset();
        store =
            kx::RecordStore::Open(folder + "/records.db", kx::RecordStore::Mode::ReadOnly, &error);
    }
};

void Export(benchmark::State& state, kx::ExportFormat format, bool toFile) {
    Fixture& f = Fixture::Get();
    if (!f.store) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    std::int64_t bytes = 0;
    for (auto _ : state) {
        kx::ExportResult result;
        if (toFile) {
            result = kx::ExportRecords(*f.store, {}, format, f.folder + "/export.out");
        } else {
            result = kx::ExportRecords(*f.store, {}, format, [&](const std::string& chunk) {
                bytes += static_cast<std::int64_t>(chunk.size());
                return true;
            });
        }
        if (!result.ok || result.records != kRecords) {
            state.SkipWithError(result.ok ? "records missing" : result.error.c_str());
            break;
        }
    }
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(kRecords) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    if (toFile) {
        std::error_code ec;
        bytes = static_cast<std::int64_t>(std::filesystem::file_size(f.folder + "/export.out", ec) *
                                          state.iterations());
    }
    state.SetBytesProcessed(bytes);
}

void BM_ExportCsvFile(benchmark::State& state) {
    Export(state, kx::ExportFormat::Csv, true);
}
void BM_ExportJsonlFile(benchmark::State& state) {
    Export(state, kx::ExportFormat::Jsonl, true);
}
void BM_ExportCsvSink(benchmark::State& state) {
    Export(state, kx::ExportFormat::Csv, false);
}
void BM_ExportJsonlSink(benchmark::State& state) {
    Export(state, kx::ExportFormat::Jsonl, false);
}

BENCHMARK(BM_ExportCsvFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportJsonlFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportCsvSink)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportJsonlSink)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

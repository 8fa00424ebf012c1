// SPDX-License-Identifier: MIT
// What a record costs the user-interface thread: the end-of-panel key on a
// 10 x 10 grid whose every head has data (TestRecorder::EndOfPanel: the
// heads copied and their cycles closed under the grid's lock, 100 records
// made) and the batch handed to the writer thread (RecordWriter::Submit),
// divided by the records of the batch. The writer commits to a real SQLite
// database under $TMPDIR (or /tmp) meanwhile, on the other core, as it does
// at the station. Each iteration is one key; the counters give the
// percentiles of the cost per record over the iterations.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "grid/grid_model.h"
#include "records/record_store.h"
#include "records/record_writer.h"
#include "station/test_recorder.h"

namespace kx {
namespace {

std::string TempFolder() {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kx_records_bench_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

void RecordsUiCost(benchmark::State& state) {
    const bool fpc = state.range(0) != 0;
    const std::string folder = TempFolder();
    if (folder.empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string error;
    auto store = RecordStore::Open(folder + "/records.db", RecordStore::Mode::ReadWrite, &error);
    if (!store) {
        state.SkipWithError(error.c_str());
        return;
    }
    RecordWriter writer(std::move(store), {});

    GridModel grid;
    grid.SetColumns(kMaxGridColumns);
    grid.SetRows(kMaxGridRows);
    grid.SetFpcTest(fpc ? 1 : 0);
    ChannelModes modes{};  // every channel Tested
    ChannelValues upper{};
    upper.fill(1000);
    const ChannelValues lower{};
    for (int c = 0; c < kMaxGridColumns; ++c) {
        for (int r = 0; r < kMaxGridRows; ++r) {
            grid.SetChannelModes(c, r, modes);
            grid.SetUpperLimits(c, r, upper);
            grid.SetLowerLimits(c, r, lower);
        }
    }
    TestRecorder recorder(grid);
    recorder.SetBoard({"one-to-one", "maker", "tester", "1.0", "ID1", 0});
    recorder.StartCycles();

    std::vector<double> perRecordUs;
    ChannelValues values{};
    std::int64_t records = 0;
    int step = 0;
    for (auto _ : state) {
        // The worker's steps of one panel (not measured: another thread's).
        for (int s = 0; s < 4; ++s, ++step) {
            for (int k = 0; k < kChannels; ++k) {
                values[static_cast<std::size_t>(k)] = 400 + (step * 7 + k * 13) % 200;
            }
            for (int c = 0; c < kMaxGridColumns; ++c) {
                for (int r = 0; r < kMaxGridRows; ++r) {
                    grid.SetValues(c, r, values);
                }
            }
        }
        const auto start = std::chrono::steady_clock::now();
        std::vector<TestRecord> batch = recorder.EndOfPanel("SN-0001");
        const std::size_t n = batch.size();
        writer.Submit(std::move(batch));
        const auto end = std::chrono::steady_clock::now();
        if (n == 0) {
            state.SkipWithError("no record made");
            break;
        }
        records += static_cast<std::int64_t>(n);
        perRecordUs.push_back(std::chrono::duration<double, std::micro>(end - start).count() /
                              static_cast<double>(n));
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        // Keep the writer's queue from growing without bound: the station
        // makes a batch every few seconds, not back to back.
        if (writer.Pending() > 4) {
            writer.Flush(std::chrono::seconds(30));
        }
    }
    writer.Flush(std::chrono::seconds(60));
    writer.Stop();
    state.SetItemsProcessed(records);
    if (!perRecordUs.empty()) {
        std::sort(perRecordUs.begin(), perRecordUs.end());
        const auto at = [&](double q) {
            const std::size_t i =
                static_cast<std::size_t>(q * static_cast<double>(perRecordUs.size() - 1));
            return perRecordUs[i];
        };
        state.counters["p50_us_per_record"] = at(0.50);
        state.counters["p99_us_per_record"] = at(0.99);
        state.counters["max_us_per_record"] = perRecordUs.back();
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

BENCHMARK(RecordsUiCost)
    ->ArgName("fpc")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(400)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kx

BENCHMARK_MAIN();

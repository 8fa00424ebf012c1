// SPDX-License-Identifier: MIT
// The file side of the configuration commands for a full table: 8 x 8 heads,
// 64 pages, about 8600 keys. Save reads the file it replaces, updates it key
// by key, writes a temporary file, flushes it to the disk and renames it over
// the old one; Load reads the file and hands out the 64 pages. No board is
// involved. The file lives under $TMPDIR (or /tmp): flush times depend on the
// disk behind it.

#include <benchmark/benchmark.h>

#include "bench/full_config_file.h"
#include "config/config_file.h"

namespace {

using kx::bench::FullConfigFile;

kx::PageTable FullTable() {
    kx::PageTable table;
    kx::InitPageTable(table);
    for (int p = 0; p < kx::kPageCount; ++p) {
        for (int c = 0; c < kx::kChannels; ++c) {
            table[p].reference[c] = 650 + p + c;
            table[p].upper[c] = 1000 + p + c;
            table[p].lower[c] = 400 + p - c;
            table[p].mask[c] = static_cast<std::uint8_t>((p + c) % 3);
        }
        table[p].percentage = 12.5f;
    }
    return table;
}

constexpr kx::ConfigGlobals kFull{1, 8, 8};

void BM_SaveFullConfig(benchmark::State& state) {
    FullConfigFile file;
    const kx::PageTable table = FullTable();
    if (file.Write(table, kFull)) {
        state.SkipWithError("first save failed");
        return;
    }
    for (auto _ : state) {
        // Over the file of the previous round, as the operator saves again.
        const kx::FileError error = kx::SaveConfig(file.path(), kFull, table);
        if (error) {
            state.SkipWithError(error.Message().c_str());
            break;
        }
    }
}
BENCHMARK(BM_SaveFullConfig)->Unit(benchmark::kMillisecond);

void BM_LoadFullConfig(benchmark::State& state) {
    FullConfigFile file;
    kx::PageTable table = FullTable();
    if (file.Write(table, kFull)) {
        state.SkipWithError("save failed");
        return;
    }
    for (auto _ : state) {
        kx::FileError error;
        const auto reader = kx::ConfigReader::Open(file.path(), error);
        if (!reader) {
            state.SkipWithError(error.Message().c_str());
            break;
        }
        for (int p = 0; p < reader->PageCount(); ++p) {
            reader->ReadPage(p, table[p]);
        }
        benchmark::DoNotOptimize(table);
    }
}
BENCHMARK(BM_LoadFullConfig)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

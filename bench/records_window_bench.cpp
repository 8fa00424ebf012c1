// SPDX-License-Identifier: MIT
// Opening the records window on a database of a million records, to its
// first rows on the screen: the window made, the database opened read-only
// and the newest page read on the window's reader thread, the page received
// and the window shown and painted. Goal: 300 ms. The filters are timed to
// their first page too, with the longest time the window's thread went
// without turning its event loop meanwhile (ui_gap_ms: the query runs on the
// reader thread, so this stays a few milliseconds however long it takes).
// Closing the window during a serial scan is timed as well (the scan is
// interrupted, not waited for).
//
// The database is made once, in the user's cache folder
// ($XDG_CACHE_HOME/kaldrixplus-bench/records-1m.db, ~/.cache without it),
// and reused by later runs; --rebuild makes it again (needed when the
// store's indexes changed since it was made).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/records_window.h"
#include "records/record_store.h"

namespace {

constexpr std::int64_t kRecords = 1'000'000;
std::string g_db;

std::string CacheFolder() {
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.cache");
    }
    return (base + QStringLiteral("/kaldrixplus-bench")).toStdString();
}

// A day's production of a four-head station, over and over: serials, both
// verdicts, four heads, a second apart.
kx::TestRecord Sample(std::int64_t i) {
    kx::TestRecord r;
    r.uuid = kx::NewUuid();
    r.timeMs = 1'764'000'000'000LL + i * 1000;
    r.utcOffsetMinutes = 480;
    r.startMs = r.timeMs - 3000;
    r.durationMs = 3000;
    r.station = "line3-2";
    r.operatorName = "op";
    r.config = "/home/op/configs/panel-a.ini";
    r.configSha256 = std::string(64, 'c');
    r.board = {"master", "maker", "tester", "1.2", "0042", 0};
    r.page = static_cast<std::int32_t>(i % 4);
    r.row = 1 + r.page / 2;
    r.column = 1 + r.page % 2;
    r.serial = "SN" + std::to_string(10'000'000 + i);
    r.verdict = i % 37 == 0 ? kx::RecordVerdict::Fail : kx::RecordVerdict::Pass;
    r.reason = r.verdict == kx::RecordVerdict::Fail ? "channels out of limits: 7" : "";
    r.steps = 40;
    for (int c = 0; c < kx::kChannels; ++c) {
        kx::ChannelRecord& ch = r.channels[static_cast<std::size_t>(c)];
        ch.value = 500 + c;
        ch.low = 490;
        ch.high = 510 + c;
        ch.lower = 100;
        ch.upper = 900;
        ch.reference = 450;
        ch.channelClass = 1;
    }
    return r;
}

// Turns the window's event loop until the page on its way has arrived (10 s
// at most); returns the longest time between two ticks of a 2 ms timer
// meanwhile, in milliseconds: how long the window's thread was not free.
qint64 AwaitPage(kx::CRecordsWindow& window) {
    QTimer ticker;
    ticker.setInterval(2);
    QElapsedTimer turn;
    turn.start();
    qint64 longest = 0;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longest = std::max(longest, turn.restart()); });
    ticker.start();
    QElapsedTimer waited;
    waited.start();
    while (window.model().Fetching() && waited.elapsed() < 10'000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents();
    return std::max(longest, turn.elapsed());
}

// Makes the database unless a complete one is there (its marker file is
// written last).
bool Prepare(bool rebuild) {
    const std::string folder = CacheFolder();
    g_db = folder + "/records-1m.db";
    const QString marker = QString::fromStdString(g_db + ".complete");
    if (!rebuild && QFile::exists(marker)) {
        return true;
    }
    QDir().mkpath(QString::fromStdString(folder));
    QFile::remove(marker);
    for (const char* end : {"", "-wal", "-shm"}) {
        QFile::remove(QString::fromStdString(g_db + end));
    }
    std::string error;
    std::unique_ptr<kx::RecordStore> store =
        kx::RecordStore::Open(g_db, kx::RecordStore::Mode::ReadWrite, &error);
    if (!store) {
        std::fprintf(stderr, "cannot make %s: %s\n", g_db.c_str(), error.c_str());
        return false;
    }
    std::fprintf(stderr, "making %s (%lld records, once)...\n", g_db.c_str(),
                 static_cast<long long>(kRecords));
    QElapsedTimer clock;
    clock.start();
    // Large transactions; the records of one are made afresh each time, so
    // that the memory stays small.
    constexpr std::int64_t kBatch = 50'000;
    std::vector<kx::TestRecord> batch;
    batch.reserve(kBatch);
    for (std::int64_t first = 0; first < kRecords; first += kBatch) {
        batch.clear();
        for (std::int64_t i = first; i < first + kBatch && i < kRecords; ++i) {
            batch.push_back(Sample(i));
        }
        if (!store->Insert(batch, &error)) {
            std::fprintf(stderr, "cannot write %s: %s\n", g_db.c_str(), error.c_str());
            return false;
        }
    }
    store.reset();
    QFile file(marker);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    std::fprintf(stderr, "made in %.1f s\n", static_cast<double>(clock.elapsed()) / 1000.0);
    return true;
}

void BM_RecordsWindowOpen(benchmark::State& state) {
    for (auto _ : state) {
        kx::CRecordsWindow window(g_db);
        window.show();
        // The first page, and the paint of the list.
        AwaitPage(window);
        if (window.model().rowCount() == 0 || !window.model().LastError().isEmpty()) {
            const std::string why = "no rows shown: " + window.model().LastError().toStdString();
            state.SkipWithError(why.c_str());
            break;
        }
        benchmark::DoNotOptimize(window.model().RecordAt(0));
        state.PauseTiming();
        window.close();
        state.ResumeTiming();
    }
    state.SetLabel("1,000,000 records, to the first rows painted");
}

BENCHMARK(BM_RecordsWindowOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

// A filter applied in the open window, to the first page listed (or the end
// of the list): the window waits for it.
void BM_RecordsWindowFilter(benchmark::State& state) {
    kx::CRecordsWindow window(g_db);
    window.show();
    AwaitPage(window);
    const int which = static_cast<int>(state.range(0));
    const char* const labels[] = {"FAIL only (1 in 37)", "serial part of one record",
                                  "serial nowhere", "one head of four", "one hour, a week back"};
    qint64 gap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        window.ClearFilter();
        AwaitPage(window);
        state.ResumeTiming();
        switch (which) {
            case 0:
                window.verdictCombo()->setCurrentIndex(2);
                break;
            case 1:
                window.serialEdit()->setText(QStringLiteral("SN10500000"));
                window.ApplyFilter();
                break;
            case 2:
                window.serialEdit()->setText(QStringLiteral("nowhere"));
                window.ApplyFilter();
                break;
            case 3:
                window.headCombo()->setCurrentIndex(window.headCombo()->findData(3));
                break;
            default: {
                // The records span 1,000,000 s (11.6 days) from the first.
                const QDateTime from = QDateTime::fromMSecsSinceEpoch(
                    1'764'000'000'000LL + (kRecords - 7 * 24 * 3600) * 1000LL);
                window.untilEdit()->setDateTime(from.addSecs(3600));
                window.sinceEdit()->setDateTime(from);
                window.untilCheck()->setChecked(true);
                window.sinceCheck()->setChecked(true);
                break;
            }
        }
        gap = std::max(gap, AwaitPage(window));
        benchmark::DoNotOptimize(window.model().rowCount());
        // A store error ends the list at once: no figure to take.
        if (!window.model().LastError().isEmpty()) {
            const std::string why = window.model().LastError().toStdString();
            state.SkipWithError(why.c_str());
            break;
        }
    }
    state.counters["ui_gap_ms"] = static_cast<double>(gap);
    state.SetLabel(labels[which]);
}

BENCHMARK(BM_RecordsWindowFilter)
    ->DenseRange(0, 4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Closing the window while a serial text scans the million records: the
// reader's query is interrupted (sqlite3_interrupt) and its thread joined.
// Timed: the window's destruction, the query started just before.
void BM_RecordsWindowCloseDuringQuery(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<kx::CRecordsWindow>(g_db);
        window->show();
        AwaitPage(*window);
        window->serialEdit()->setText(QStringLiteral("nowhere"));
        window->ApplyFilter();
        QThread::msleep(10);  // the scan is under way (it takes some 75 ms)
        state.ResumeTiming();
        window.reset();
    }
    state.SetLabel("1,000,000 records, a serial scan under way");
}

BENCHMARK(BM_RecordsWindowCloseDuringQuery)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
    bool rebuild = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rebuild") == 0) {
            rebuild = true;
            for (int j = i; j + 1 < argc; ++j) {
                argv[j] = argv[j + 1];
            }
            --argc;
            --i;
        }
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (!Prepare(rebuild)) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

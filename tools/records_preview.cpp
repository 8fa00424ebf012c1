// SPDX-License-Identifier: MIT
// kaldrix-records-preview: runs the main window over a software one-to-one
// board with test records kept in a fresh database, tests a few panels the
// way an operator does (a serial typed, then Enter; some panels with a
// channel pressed over its limit), and writes what the operator sees as
// PNGs:
//
//   kaldrix-records-preview <folder> [panels]
//
// records_main.png: the main window at 1024 x 600 with the counters' strip
// under the grid; records_fail.png: the same window during the first failing
// panel, just before its Enter (at least 3 panels); records_window.png: the
// records window ("测试记录") with the newest FAIL record selected and its
// channels shown. The database is <folder>/records.db (made afresh). Exit
// status 0 when the pictures were written and every panel was counted.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/kaldrix_plus_dlg.h"
#include "app/records_service.h"
#include "dialogs/records_window.h"
#include "sim/sim_bus.h"
#include "sim/sim_runoff_board.h"
#include "tools/preview_shot.h"

namespace {

using kx::preview::Settle;

void Key(QWidget& window, int key, const QString& text) {
    QWidget* target = window.focusWidget() != nullptr ? window.focusWidget() : &window;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

void Type(QWidget& window, const QString& text) {
    for (const QChar c : text) {
        Key(window, c.isDigit() ? Qt::Key_0 + c.digitValue() : Qt::Key_A, QString(c));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The folder is the first argument; the optional count of panels after
    // it is read below.
    if (argc > 3) {
        std::fprintf(stderr, "usage: kaldrix-records-preview <folder> [panels]\n");
        return 1;
    }
    const std::optional<QDir> folder =
        kx::preview::OutputFolder(std::min(argc, 2), argv, "kaldrix-records-preview");
    if (!folder) {
        return 1;
    }
    const int panels = argc > 2 ? std::max(1, std::min(50, std::atoi(argv[2]))) : 7;
    const kx::preview::PrintedMessages messages;

    const QString db = folder->filePath(QStringLiteral("records.db"));
    for (const char* end : {"", "-wal", "-shm"}) {
        QFile::remove(db + QString::fromLatin1(end));
    }
    kx::RecordsSetup setup;
    setup.dbPath = db.toStdString();
    setup.station = "3号线-2";
    setup.operatorName = "王芳";
    std::string error;
    std::unique_ptr<kx::RecordsService> records = kx::RecordsService::Start(setup, &error);
    if (!records) {
        std::fprintf(stderr, "kaldrix-records-preview: %s\n", error.c_str());
        return 1;
    }

    kx::sim::SimBus bus;
    bus.set_report_time(kx::sim::SimBoard::kFullSpeedReportTime);
    auto board = std::make_shared<kx::sim::SimRunoffBoard>("ravuno-demo");
    board->edit([](kx::sim::RunoffMemory& m) {
        m.upper.fill(1100);
        m.lower.fill(300);
        m.modes.fill(0);
    });
    board->set_noise(20);
    for (int c = 0; c < 32; ++c) {
        board->set_value(c, static_cast<std::uint16_t>(650 + 9 * c));
    }
    bus.plug(board);

    kx::StationSetup station;
    station.bus = &bus;
    station.simBus = &bus;
    station.capture =
        kx::CaptureSystem{[] { return false; }, [] { return QList<kx::CaptureInput>{}; }};
    station.recordsDb = setup.dbPath;
    station.records = records.get();
    kx::CKaldrixPlusDlg dlg(std::move(station));
    dlg.OnInitDialog();
    dlg.setWindowState(Qt::WindowNoState);
    dlg.resize(1024, 600);
    Settle(1500);

    // Every third panel has channel 12 pressed over its limit at the key.
    // The first of them is also pictured as it stands before its key: a
    // failing head whatever the machine's pace, unlike a timed screenshot of
    // the demonstration's touches.
    QPixmap failing;
    for (int n = 1; n <= panels; ++n) {
        const bool fail = n % 3 == 0;
        if (fail) {
            board->set_value(11, 1300);
        }
        Settle(300);
        if (fail && failing.isNull()) {
            failing = dlg.grab();
        }
        Type(dlg, QStringLiteral("2612110%1").arg(n, 3, 10, QLatin1Char('0')));
        Key(dlg, Qt::Key_Return, QStringLiteral("\r"));
        if (fail) {
            board->set_value(11, 650 + 9 * 11);
        }
    }
    records->Flush(std::chrono::seconds(10));
    Settle(500);
    const bool counted = dlg.statusStrip()->State().tested == panels;
    if (!counted) {
        std::fprintf(stderr, "kaldrix-records-preview: %lld of %d panels counted\n",
                     static_cast<long long>(dlg.statusStrip()->State().tested), panels);
    }
    bool ok = kx::preview::WritePng(dlg.grab(), *folder, "records_main.png");
    if (!failing.isNull()) {
        ok = kx::preview::WritePng(failing, *folder, "records_fail.png") && ok;
    }

    kx::CRecordsWindow* window = dlg.OpenRecordsWindow();
    window->resize(1024, 600);
    Settle(300);
    for (int row = 0; row < window->model().rowCount(); ++row) {
        if (window->model().RecordAt(row)->record.verdict == kx::RecordVerdict::Fail) {
            window->recordsView()->selectRow(row);
            break;
        }
    }
    Settle(300);
    ok = kx::preview::WritePng(window->grab(), *folder, "records_window.png") && ok;
    window->close();
    dlg.close();
    return ok && counted ? 0 : 2;
}

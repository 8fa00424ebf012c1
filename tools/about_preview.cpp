// SPDX-License-Identifier: MIT
// kaldrix-about-preview: runs the about command against software boards of
// every family and writes each device-information dialog as a PNG, for
// looking at the dialogs without a tester board:
//
//   kaldrix-about-preview <folder>
//
// Under xvfb-run with QT_QPA_PLATFORM=xcb the pictures are taken from the
// screen, as real windows; on the offscreen platform the dialogs render
// themselves. Writes about_runoff.png, about_velmora5.png, about_master.png,
// about_classic.png and about_empty.png. Exit status 0 when all were
// written.
#include <QApplication>
#include <QDialog>
#include <cstdio>
#include <iterator>
#include <memory>

#include "dialogs/about_command.h"
#include "dialogs/change_log.h"
#include "hid/classic_tester.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "station/family_table.h"
#include "tools/preview_shot.h"

namespace {

bool Save(QDialog* dialog, const QDir& folder, const char* name) {
    kx::preview::Settle(400);
    return kx::preview::WritePng(kx::preview::GrabDialog(*dialog), folder, name);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::optional<QDir> folder =
        kx::preview::OutputFolder(argc, argv, "kaldrix-about-preview");
    if (!folder) {
        return 1;
    }
    const kx::preview::PrintedMessages messages;
    kx::BuildChangeLog();

    kx::sim::SimBus bus;
    auto runoffBoard = std::make_shared<kx::sim::SimRunoffBoard>("MOVIRA");
    runoffBoard->edit([](kx::sim::RunoffMemory& m) {
        m.firmware_version = 0x0105;
        m.firmware_year = 2013;
        m.firmware_month = 5;
        m.firmware_day = 7;
        m.offline_display = 1;
        m.edition = 3;
    });
    auto velmora5Board = std::make_shared<kx::sim::SimVelmora5Board>();
    velmora5Board->edit([](kx::sim::Velmora5Memory& m) {
        m.vendor_code = "DARMOLEN";
        m.firmware_version = 0x1234;
        m.heads[1].modes[0] = 1;
        m.heads[1].modes[1] = 2;
        m.heads[1].modes[2] = 3;
    });
    auto masterBoard = std::make_shared<kx::sim::SimMasterBoard>();
    masterBoard->edit([](kx::sim::MasterMemory& m) {
        m.vendor_code = "BORVANE";
        m.buzzer = 0x81;
    });
    const int heads[] = {3, 5, 7, 9, 11, 13};
    for (int k = 0; k < 6; ++k) {
        masterBoard->assign(k, k / 3, k % 3, heads[k]);
    }
    auto classicBoard = std::make_shared<kx::sim::SimClassicBoard>();
    classicBoard->edit([](kx::sim::ClassicMemory& m) { m.vendor_code = "tarsel"; });
    bus.plug(runoffBoard);
    bus.plug(velmora5Board);
    bus.plug(masterBoard);
    bus.plug(classicBoard);

    kx::hiddata_simple_runoff runoff(bus);
    kx::hiddata_velmora5 velmora5(bus);
    kx::hiddata_masterHID master(bus);
    kx::CClassicTester classic(bus);
    const bool present[4] = {runoff.open_movira(0) == 0, velmora5.open_maker() == 0,
                             master.open_board() == 0, classic.open_board() == 0};
    master.load_position_map();
    classic.read_identity();
    classic.load_firmware_info();

    int rows = 2;
    int columns = 3;
    kx::AboutStation station;
    // present[] follows the about command's order (the family table's).
    station.present = [&](kx::FamilyId family) {
        const kx::FamilyTable& table = kx::StandardFamilyTable();
        for (std::size_t row = 0; row < table.size() && row < std::size(present); ++row) {
            if (table[row].id == family) {
                return present[row];
            }
        }
        return false;
    };
    station.oemName = [] { return std::string("MOVIRA"); };
    station.runoff = &runoff;
    station.velmora5 = &velmora5;
    station.master = &master;
    station.classic = &classic;
    station.gridRows = [&] { return rows; };
    station.gridColumns = [&] { return columns; };
    station.setGridRows = [&](std::int32_t r) { rows = r; };
    station.setGridColumns = [&](std::int32_t c) { columns = c; };
    station.clearEmergencyStop = [] {};
    station.readMasterSettings = [] {};

    QWidget owner;
    owner.setWindowTitle(QStringLiteral("KaldrixPlus"));
    owner.resize(200, 100);
    owner.show();
    auto* about = new kx::CAboutCommand(station, &owner);
    bool ok = true;
    const char* names[] = {"about_runoff.png", "about_velmora5.png", "about_master.png",
                           "about_classic.png"};
    // The boards are read off the window's thread: each dialog opens when
    // its read is back.
    const auto waitForTheBoard = [about] {
        for (int waited = 0; about->JobRunning() && waited < 10000; waited += 10) {
            kx::preview::Settle(10);
        }
    };
    about->OnAbout();
    for (const char* name : names) {
        waitForTheBoard();
        QDialog* dialog = about->CurrentDialog();
        if (dialog == nullptr) {
            std::fprintf(stderr, "no dialog for %s\n", name);
            return 1;
        }
        ok = Save(dialog, *folder, name) && ok;
        dialog->reject();
    }
    waitForTheBoard();
    about->ShowEmptyAbout();
    if (QDialog* dialog = about->CurrentDialog()) {
        ok = Save(dialog, *folder, "about_empty.png") && ok;
        dialog->reject();
    }
    kx::preview::Settle(50);
    return ok ? 0 : 2;
}

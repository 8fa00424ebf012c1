// SPDX-License-Identifier: MIT
// kaldrix-baseline-preview: runs the baseline command the way the main
// window does, against a software one-to-one board driven by the station
// core, and writes what the operator sees as PNGs:
//
//   kaldrix-baseline-preview <folder>
//
// A window with the station's grid; a click on its head opens the baseline
// dialog; three readings are taken, averaged, and limits by percentage
// applied. Writes baseline_screen.png (the whole screen: the dialog over the
// window) and baseline_dialog.png (the dialog alone), then presses OK and
// prints what the board holds afterwards. Meant for xvfb-run with
// QT_QPA_PLATFORM=xcb and a screen of at least 1400 x 1000; on the offscreen
// platform the screen picture is the window and the dialog drawn by
// themselves. Exit status 0 when both pictures were written and the board
// took the new settings.
#include <QApplication>
#include <QFrame>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cstdio>
#include <memory>

#include "dialogs/baseline_command.h"
#include "dialogs/baseline_dlg.h"
#include "grid/color_bar.h"
#include "sim/sim_bus.h"
#include "sim/sim_runoff_board.h"
#include "station/station_core.h"
#include "tools/preview_shot.h"
#include "ui/message_box.h"

namespace {

using kx::preview::OnScreen;
using kx::preview::Settle;

// The whole screen on a real display; elsewhere the window with the dialog
// drawn over it where it stands.
QPixmap Screen(QWidget& window, QDialog& dialog) {
    if (OnScreen() && window.screen() != nullptr) {
        return window.screen()->grabWindow(0);
    }
    QPixmap shot = window.grab();
    QPainter painter(&shot);
    painter.drawPixmap(dialog.geometry().topLeft() - window.geometry().topLeft(), dialog.grab());
    return shot;
}

void Send(QWidget* target, QEvent::Type type, QPoint at) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonPress ? Qt::MouseButtons(Qt::LeftButton) : Qt::NoButton;
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::optional<QDir> folder =
        kx::preview::OutputFolder(argc, argv, "kaldrix-baseline-preview");
    if (!folder) {
        return 1;
    }
    const kx::preview::PrintedMessages messages;

    kx::sim::SimBus bus;
    bus.set_report_time(kx::sim::SimBoard::kFullSpeedReportTime);
    auto board = std::make_shared<kx::sim::SimRunoffBoard>("borvane");
    board->edit([](kx::sim::RunoffMemory& m) {
        for (int c = 0; c < 32; ++c) {
            m.reference[static_cast<std::size_t>(c)] = static_cast<std::uint16_t>(600 + 8 * c);
        }
        m.upper.fill(1100);
        m.lower.fill(300);
        m.modes.fill(0);
        m.modes[30] = 1;
        m.modes[31] = 2;
        m.range_max = 1400;
        m.range_min = 0;
    });
    board->set_noise(25);
    bus.plug(board);

    // The main window as far as the command sees it.
    QWidget window;
    window.setWindowTitle(QStringLiteral("KaldrixPlus"));
    window.resize(900, 520);
    window.move(20, 20);
    auto* layout = new QVBoxLayout(&window);
    auto* placeholder = new QFrame;
    layout->addWidget(placeholder);
    auto* grid = new kx::CColorBar;
    grid->AttachToControl(1000, placeholder);

    kx::StationCallbacks callbacks;
    callbacks.setTitle = [&window](const std::string& t) {
        window.setWindowTitle(QString::fromStdString(t));
    };
    callbacks.showMessage = [&window](const std::string& m) {
        kx::ShowMessage(&window, QString::fromStdString(m));
    };
    kx::PageStore pages;
    kx::StationCore station(bus, grid->model(), pages, std::move(callbacks));
    bus.set_hotplug_handler([&station](kx::HotplugEvent e, const std::string& path) {
        station.OnDeviceChange(e, path);
    });
    kx::CBaselineCommand* command = kx::InstallBaselineCommand(*grid, station, &window);
    grid->SetRepaintTimer(1, true);
    window.show();
    station.Initialise();
    Settle(600);

    const QPoint centre(grid->width() / 2, grid->height() / 3);
    Send(grid, QEvent::MouseMove, centre);
    Settle(100);
    Send(grid, QEvent::MouseButtonPress, centre);
    Send(grid, QEvent::MouseButtonRelease, centre);
    kx::CBaseLineDlg* dlg = command->CurrentDialog();
    if (dlg == nullptr) {
        std::fprintf(stderr, "the click opened no dialog\n");
        return 2;
    }
    // The dialog stays where it placed itself: inside the screen, whatever
    // its size, as on a line's panel PC.
    Settle(300);
    for (int n = 0; n < 3; ++n) {
        dlg->Read();
        Settle(150);
    }
    dlg->Average();
    dlg->percentageEdit()->setText(QStringLiteral("15"));
    dlg->Apply();
    Settle(500);

    bool ok = kx::preview::WritePng(Screen(window, *dlg), *folder, "baseline_screen.png");
    ok = kx::preview::WritePng(kx::preview::GrabDialog(*dlg), *folder, "baseline_dialog.png") && ok;

    const kx::ChannelValues reference = dlg->Exchange().editReference;
    // OK's store-back runs on the station's board lane; the window goes on
    // until it has ended (bounded).
    bool stored = false;
    QObject::connect(command, &kx::CBaselineCommand::finished, [&stored](bool) { stored = true; });
    dlg->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    for (int n = 0; n < 200 && !stored; ++n) {
        Settle(50);
    }
    const kx::sim::RunoffMemory m = board->memory();
    std::printf("board after OK: reference[0]=%d upper[0]=%d lower[0]=%d range %d..%d\n",
                m.reference[0], m.upper[0], m.lower[0], m.range_min, m.range_max);
    ok =
        ok && stored && m.reference[0] == reference[0] && command->LastReport().notAnswered.empty();
    Settle(50);
    station.Close();
    return ok ? 0 : 2;
}

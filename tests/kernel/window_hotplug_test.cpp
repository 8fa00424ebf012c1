// SPDX-License-Identifier: MIT
// The main window on the real bus, on a real kernel: its hot-plug source is
// the udev monitor read through a socket notifier on the user-interface
// thread, as on a station. A software one-to-one board carried as a USB device
// is plugged, unplugged and plugged again; each event must reach the window
// through the application's event loop, on its thread, and move its title.
// A udev rule of the test's own gives the node a mode of its own, late: the
// window must hear of the arrival only once udev has applied it, as a
// station's operator without root can open the node only then.
// Runs as root in the guest of tests/kernel/run-in-guest; tests/kernel/lane.sh
// starts it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QList>
#include <QMap>
#include <QString>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/hotplug_source.h"
#include "app/kaldrix_plus_dlg.h"
#include "hid/hidapi_bus.h"
#include "hid/maker_identity.h"
#include "sim/sim_runoff_board.h"
#include "sim/usb_gadget_board.h"
#include "station/station_core.h"
#include "tests/kernel/kernel_fixture.h"
#include "tests/support/message_recorder.h"

namespace kx {
namespace {

using sim::UsbGadgetBoard;

// Plugging, enumeration, udev's rules and the station's Connect over the
// emulated USB stack, under ASan and TCG: all well within this.
constexpr int kBoundMs = static_cast<int>(
    std::chrono::duration_cast<std::chrono::milliseconds>(kernel::kPlugBound).count());

// No camera and no media backend: the window's camera entry stays out of it.
CaptureSystem NoCameras() {
    return CaptureSystem{[] { return false; }, [] { return QList<CaptureInput>{}; }};
}

// The test's udev rule: the hidraw node of a plugged device gets a mode no
// other rule gives, and udev takes a second over it, so that an event taken
// from the kernel's own announcement (before udev has run) would find the
// node still without it.
constexpr const char* kRuleFile = "/etc/udev/rules.d/99-kx-window-hotplug-test.rules";
constexpr const char* kRule =
    "ACTION==\"add\", KERNEL==\"hidraw*\", PROGRAM=\"/bin/sleep 1\", MODE=\"0604\"\n";
constexpr const char* kRuleMode = "604";

bool IsCharacterDevice(const QString& path) {
    struct stat node {};
    return stat(qPrintable(path), &node) == 0 && S_ISCHR(node.st_mode);
}

// The permission bits of every hidraw node in octal ("600"), by path.
QMap<QString, std::string> HidrawModes() {
    QMap<QString, std::string> modes;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString& name : dev.entryList({QStringLiteral("hidraw*")}, QDir::System)) {
        struct stat node {};
        const QString path = dev.filePath(name);
        if (stat(qPrintable(path), &node) == 0) {
            modes.insert(path, QString::number(node.st_mode & 07777, 8).toStdString());
        }
    }
    return modes;
}

// One deviceChanged as the window's slot saw it.
struct Delivered {
    HotplugEvent event;
    QString path;
    bool onUserInterfaceThread;
    bool nodeExists;  // when it was delivered
};

class MainWindowOnRealBus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(sim::PrepareUsbGadgets(kernel::kControllers, error))
            << error << " (run this program through tests/kernel/lane.sh)";
        std::ofstream rule(kRuleFile);
        rule << kRule;
        rule.close();
        ASSERT_TRUE(rule) << kRuleFile;
        ASSERT_EQ(std::system("udevadm control --reload"), 0);
    }
    static void TearDownTestSuite() {
        if (std::filesystem::remove(kRuleFile)) {
            EXPECT_EQ(std::system("udevadm control --reload"), 0);
        }
    }

    void SetUp() override {
        board->set_noise(0);
        board->set_value(0, 700);
        StationSetup setup;
        setup.bus = &bus;
        setup.capture = NoCameras();
        dlg = std::make_unique<CKaldrixPlusDlg>(std::move(setup));
        dlg->OnInitDialog();
        // The connection runs on the station's board lane.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->BoardWorkPending(); }, 10000));
        ASSERT_EQ(Title(), QString::fromUtf8(kTitleDisconnected));
    }
    void TearDown() override {
        if (gadget.plugged()) {
            gadget.unplug();
        }
        dlg->close();
        EXPECT_EQ(dlg->station().AcquisitionWorkers(), 0);
        dlg.reset();
    }

    QString Title() const { return dlg->windowTitle(); }
    bool TitleIs(const char* title) const { return Title() == QString::fromUtf8(title); }
    // Runs the application's event loop until `done` holds or the bound has
    // passed; whether it held.
    static bool RunUntil(const std::function<bool()>& done) {
        return QTest::qWaitFor(done, kBoundMs);
    }

    test::MessageRecorder messages;
    HidapiBus bus;
    std::shared_ptr<sim::SimRunoffBoard> board =
        std::make_shared<sim::SimRunoffBoard>(kMakerIdentity);
    UsbGadgetBoard gadget{board};
    std::unique_ptr<CKaldrixPlusDlg> dlg;
};

// The station's real hot-plug path end to end: udev's announcements reach the
// window's slot on the user-interface thread, through the notifier, with the
// node made and udev's rules applied to it; the arrival connects the board and
// starts the worker, the removal leaves the window disconnected with the
// worker stopped, and the re-plug connects again with the values flowing once
// more.
TEST_F(MainWindowOnRealBus, UdevPlugUnplugAndReplugReachTheWindowOnItsThread) {
    auto* udev = qobject_cast<UdevHotplug*>(dlg->hotplugSource());
    ASSERT_NE(udev, nullptr) << "the real bus hears of plugging from udev";
    ASSERT_TRUE(udev->ok()) << udev->error();
    EXPECT_TRUE(messages.texts.isEmpty()) << qPrintable(messages.texts.join(u'\n'));

    std::vector<Delivered> delivered;
    // The window's step on an arrival queues its connection on the
    // station's board lane, which may open the node at once: the nodes as
    // they are when the arrival reaches the window.
    std::vector<QMap<QString, std::string>> nodesWhenInserted;
    QObject::connect(
        udev, &HotplugSource::deviceChanged, dlg.get(),
        [&](HotplugEvent event, const QString& path) {
            delivered.push_back(
                {event, path, QThread::currentThread() == qApp->thread(), IsCharacterDevice(path)});
            if (event == HotplugEvent::Arrival) {
                nodesWhenInserted.push_back(HidrawModes());
            }
        },
        Qt::DirectConnection);
    // Every title change (the connection's come from the lane) reaches the
    // window on its own thread.
    bool titleOffThread = false;
    QObject::connect(
        dlg.get(), &QWidget::windowTitleChanged, dlg.get(),
        [&](const QString&) {
            titleOffThread = titleOffThread || QThread::currentThread() != qApp->thread();
        },
        Qt::DirectConnection);
    const GridModel& grid = dlg->colorBar().model();

    // Plug: the arrival, then the connected title with the worker polling
    // the board and its value in the window's grid.
    ASSERT_TRUE(gadget.plug()) << gadget.error();
    ASSERT_TRUE(RunUntil([&] { return !delivered.empty(); })) << "no arrival reached the window";
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].event, HotplugEvent::Arrival);
    EXPECT_TRUE(delivered[0].path.startsWith(QStringLiteral("/dev/hidraw")))
        << qPrintable(delivered[0].path);
    EXPECT_TRUE(delivered[0].nodeExists) << qPrintable(delivered[0].path);
    const QString first = delivered[0].path;
    ASSERT_EQ(nodesWhenInserted.size(), 1u);
    EXPECT_EQ(nodesWhenInserted[0].value(first), kRuleMode)
        << "the arrival came before udev had applied its rules to " << qPrintable(first);
    ASSERT_TRUE(RunUntil([&] { return TitleIs(kTitleOrvane) && !dlg->BoardWorkPending(); }))
        << qPrintable(Title());
    EXPECT_EQ(dlg->station().ActiveFamily(), FamilyId::OneToOne);
    EXPECT_EQ(dlg->station().AcquisitionWorkers(), 1);
    EXPECT_EQ(dlg->station().Find<RunoffFamily>()->Board().device_path(), first.toStdString());
    const int polled = board->memory().outputs_written;
    EXPECT_TRUE(RunUntil([&] {
        return board->memory().outputs_written >= polled + 3 && grid.GetValues(0, 0)[0] == 700;
    })) << "the worker polls the board and its value reaches the grid";

    // Unplug: the removal of the same node, the disconnected title, the
    // worker stopped.
    gadget.unplug();
    ASSERT_TRUE(RunUntil([&] { return delivered.size() >= 2; })) << "no removal reached the window";
    EXPECT_EQ(delivered[1].event, HotplugEvent::Removal);
    EXPECT_EQ(delivered[1].path, first);
    // The connection runs on the station's board lane: its end, and what it
    // sent the window.
    ASSERT_TRUE(RunUntil(
        [&] { return dlg->station().AcquisitionWorkers() == 0 && !dlg->BoardWorkPending(); }));
    EXPECT_TRUE(TitleIs(kTitleDisconnected)) << qPrintable(Title());
    EXPECT_EQ(dlg->station().ActiveFamily(), FamilyId::None);
    EXPECT_EQ(grid.GetColumns(), 0);

    // Re-plug: connected again, and a new value flows.
    board->set_value(0, 888);
    ASSERT_TRUE(gadget.plug()) << gadget.error();
    ASSERT_TRUE(RunUntil([&] { return delivered.size() >= 3; })) << "no second arrival";
    EXPECT_EQ(delivered[2].event, HotplugEvent::Arrival);
    EXPECT_TRUE(delivered[2].nodeExists) << qPrintable(delivered[2].path);
    ASSERT_EQ(nodesWhenInserted.size(), 2u);
    EXPECT_EQ(nodesWhenInserted[1].value(delivered[2].path), kRuleMode);
    ASSERT_TRUE(RunUntil([&] { return TitleIs(kTitleOrvane) && !dlg->BoardWorkPending(); }))
        << qPrintable(Title());
    EXPECT_EQ(dlg->station().AcquisitionWorkers(), 1);
    EXPECT_EQ(dlg->station().Find<RunoffFamily>()->Board().device_path(),
              delivered[2].path.toStdString());
    EXPECT_TRUE(RunUntil([&] { return grid.GetValues(0, 0)[0] == 888; }));

    gadget.unplug();
    ASSERT_TRUE(RunUntil([&] { return delivered.size() >= 4; })) << "no second removal";
    EXPECT_EQ(delivered[3].event, HotplugEvent::Removal);
    EXPECT_EQ(delivered[3].path, delivered[2].path);
    EXPECT_TRUE(RunUntil([&] { return TitleIs(kTitleDisconnected); })) << qPrintable(Title());

    EXPECT_EQ(delivered.size(), 4u);
    for (const Delivered& d : delivered) {
        EXPECT_TRUE(d.onUserInterfaceThread) << qPrintable(d.path);
    }
    EXPECT_FALSE(titleOffThread);
    EXPECT_TRUE(messages.texts.isEmpty()) << qPrintable(messages.texts.join(u'\n'));
}

}  // namespace
}  // namespace kx

// SPDX-License-Identifier: MIT
// The main window on the offscreen platform, on the simulated bus (and once on
// the real one): its start, menus and their update handlers, the commands,
// the key filter, the grid's place, hot-plug from another thread, closing,
// and the single-instance warning. Every message box is answered by a
// recorder; dialogs are opened and closed by the tests.

#include <gtest/gtest.h>
#include <sys/time.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTranslator>
#include <QWindow>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

#include "app/app_options.h"
#include "app/hotplug_source.h"
#include "app/kaldrix_plus_app.h"
#include "app/kaldrix_plus_dlg.h"
#include "app/station_state.h"
#include "dialogs/about_command.h"
#include "dialogs/baseline_command.h"
#include "dialogs/baseline_dlg.h"
#include "dialogs/change_log.h"
#include "dialogs/config_commands.h"
#include "grid/grid_painter.h"
#include "hid/hidapi_bus.h"
#include "hid/udev_monitor.h"
#include "sim/sim_bus.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "tests/support/event_loop_gaps.h"
#include "tests/support/fault_rig.h"
#include "tests/support/message_recorder.h"
#include "ui/language.h"

namespace kx {
namespace {

using sim::SimRunoffBoard;
using sim::SimVelmora5Board;

// No camera and no media backend: the camera window opens empty and silent.
CaptureSystem NoCameras() {
    return CaptureSystem{[] { return false; }, [] { return QList<CaptureInput>{}; }};
}

std::shared_ptr<SimRunoffBoard> Runoff(const std::string& manufacturer = "ravuno-demo") {
    auto board = std::make_shared<SimRunoffBoard>(manufacturer);
    board->set_noise(0);
    return board;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { g_keyBuffer.clear(); }
    void TearDown() override {
        if (dlg) {
            dlg->close();
            dlg.reset();
        }
    }

    StationSetup SimSetup() {
        StationSetup s;
        s.bus = &bus;
        s.simBus = &bus;
        s.capture = NoCameras();
        return s;
    }

    CKaldrixPlusDlg& Start(StationSetup setup) {
        dlg = std::make_unique<CKaldrixPlusDlg>(std::move(setup));
        dlg->OnInitDialog();
        Settle();
        return *dlg;
    }
    // The window's board work (connection, hot-plug, device type) runs on
    // the station's lane: waits until it is done and its title, marks and
    // messages have reached the window.
    void Settle() {
        QTRY_VERIFY_WITH_TIMEOUT(!dlg->BoardWorkPending(), 10000);
        QCoreApplication::processEvents();
    }
    CKaldrixPlusDlg& Start() { return Start(SimSetup()); }

    QAction* Action(int id) {
        QAction* a = dlg->CommandAction(id);
        EXPECT_NE(a, nullptr) << id;
        return a;
    }
    // The popup holding a command, as the operator opens it.
    void OpenPopupOf(int id) {
        QAction* a = Action(id);
        for (QObject* o : a->associatedObjects()) {
            if (auto* menu = qobject_cast<QMenu*>(o)) {
                emit menu->aboutToShow();
                return;
            }
        }
        ADD_FAILURE() << "no menu holds " << id;
    }
    // One state of every entry of the device-type menu, as the menu shows
    // it: checked (TypeChecks) or available (TypeAvailability).
    std::vector<bool> TypeEntries(bool (QAction::*state)() const) {
        OpenPopupOf(kCmdStandard);
        std::vector<bool> states;
        for (int id : kDeviceTypeCommands) {
            states.push_back((Action(id)->*state)());
        }
        return states;
    }
    std::vector<bool> TypeChecks() { return TypeEntries(&QAction::isChecked); }
    std::vector<bool> TypeAvailability() { return TypeEntries(&QAction::isEnabled); }
    QString Title() const { return dlg->windowTitle(); }

    void Type(const QString& text) {
        for (QChar c : text) {
            QTest::keyClick(dlg.get(), c.toLatin1());
        }
    }
    // Puts a green mark on channel 3 of head (0, 0).
    void MarkChannel() {
        GridModel& grid = dlg->colorBar().model();
        grid.SetColumns(1);
        grid.SetRows(1);
        ChannelValues upper{};
        upper.fill(100);
        ChannelValues values{};
        values[3] = 200;
        grid.SetUpperLimits(0, 0, upper);
        grid.SetValues(0, 0, values);
        grid.SetChannelModes(0, 0, ChannelModes{});  // all Tested
        GridFrame frame;
        grid.Evaluate(100, 100, frame);
        ASSERT_EQ(grid.GetGreenMarks(0, 0)[3], 1);
    }
    bool Marked() { return dlg->colorBar().model().GetGreenMarks(0, 0)[3] != 0; }

    test::MessageRecorder messages;
    sim::SimBus bus;
    std::unique_ptr<CKaldrixPlusDlg> dlg;
};

TEST_F(MainWindow, StartsWithoutABoardInItsInitialState) {
    g_changeLog.clear();
    CKaldrixPlusDlg& d = Start();
    StationCore& s = d.station();
    for (const BoardFamily* family : s.Families()) {
        EXPECT_FALSE(family->Present()) << family->Name();
        EXPECT_FALSE(family->Ready()) << family->Name();
    }
    EXPECT_FALSE(s.Find<MasterFamily>()->Kestrun9Present());
    EXPECT_EQ(s.FpcMenuUnlocked(), true);
    EXPECT_EQ(s.BuzzerOn(), false);
    EXPECT_EQ(s.BuzzerInverted(), false);
    EXPECT_EQ(TypeChecks(), (std::vector<bool>{true, false, false, false, false, false}));
    EXPECT_EQ(TypeAvailability(), std::vector<bool>(6, true));
    OpenPopupOf(kCmdFpcTest);
    EXPECT_TRUE(Action(kCmdFpcTest)->isEnabled());
    EXPECT_FALSE(Action(kCmdFpcTest)->isChecked());
    OpenPopupOf(kCmdBuzzerOn);
    EXPECT_FALSE(Action(kCmdBuzzerOn)->isChecked());
    EXPECT_FALSE(Action(kCmdBuzzerInvert)->isChecked());

    EXPECT_EQ(Title(), QStringLiteral("设备已经断开"));
    EXPECT_EQ(d.colorBar().model().GetColumns(), 0);
    EXPECT_EQ(d.colorBar().model().GetRows(), 0);
    EXPECT_TRUE(d.colorBar().IsAttached());
    EXPECT_TRUE(d.colorBar().repaintTimer().isActive());
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(d.windowState() & Qt::WindowMaximized);
    EXPECT_FALSE(d.windowIcon().isNull());
    EXPECT_EQ(d.windowIcon().availableSizes().value(0), QSize(64, 64));
    // The version history: 34 entries of three lines.
    EXPECT_EQ(QString::fromStdString(g_changeLog).count(QStringLiteral("\r\n")), 34 * 3);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
}

TEST_F(MainWindow, MenuBarHoldsItsEntriesInOrder) {
    Start();
    QStringList shown;
    const std::function<void(QMenu*, const QString&)> walk = [&](QMenu* menu,
                                                                 const QString& prefix) {
        for (QAction* a : menu->actions()) {
            if (a->isSeparator()) {
                shown << prefix + "-";
            } else if (a->menu() != nullptr) {
                shown << prefix + a->text();
                walk(a->menu(), prefix + a->text() + " > ");
            } else {
                shown << prefix + a->text();
            }
        }
    };
    for (QAction* top : dlg->menuBar()->actions()) {
        walk(top->menu(), top->text() + " > ");
    }
    const QStringList expected = {
        "文件(&F) > 载入(&L)",
        "文件(&F) > 保存(&S)",
        "文件(&F) > -",
        "文件(&F) > 老版本配置载入",
        "文件(&F) > -",
        "文件(&F) > 退出(&E)",
        "操作(&O) > 设备类型",
        "操作(&O) > 设备类型 > 普通版",
        "操作(&O) > 设备类型 > -",
        "操作(&O) > 设备类型 > 一号机",
        "操作(&O) > 设备类型 > 二号机",
        "操作(&O) > 设备类型 > 三号机",
        "操作(&O) > 设备类型 > 四号机",
        "操作(&O) > 设备类型 > 五号机",
        "操作(&O) > -",
        "操作(&O) > 使能FPC测试",
        "操作(&O) > 清除绿色标记",
        "操作(&O) > 蜂鸣器",
        "操作(&O) > 蜂鸣器 > 使能",
        "操作(&O) > 蜂鸣器 > 反转",
        "操作(&O) > -",
        "操作(&O) > 创建视频窗口",
        "记录(&R) > 测试记录…",
        "记录(&R) > 导出…",
        "记录(&R) > -",
        "记录(&R) > 重置计数",
        "帮助(&A) > 关于(&A)",
        "帮助(&A) > -",
        "帮助(&A) > 关于 KaldrixPlus(&A)...",
    };
    EXPECT_EQ(shown, expected);
}

TEST_F(MainWindow, DeviceTypeCommandsMoveTheSingleCheckMarkAndReconnect) {
    bus.plug(Runoff());
    Start();
    ASSERT_EQ(Title(), QStringLiteral("Orvane 设备已经连接"));
    // Machine 3 first: no row of machine 3 matches the standard board.
    const int order[] = {3, 0, 5, 1, 0, 2, 4};
    for (int type : order) {
        SCOPED_TRACE(type);
        Action(kDeviceTypeCommands[type])->trigger();
        Settle();
        std::vector<bool> expected(6, false);
        expected[static_cast<std::size_t>(type)] = true;
        EXPECT_EQ(TypeChecks(), expected);
        EXPECT_EQ(Title(), type == 0 ? QStringLiteral("Orvane 设备已经连接")
                                     : QStringLiteral("设备已经断开"));
        EXPECT_EQ(dlg->colorBar().model().GetColumns(), type == 0 ? 1 : 0);
    }
    // Choosing the checked entry again keeps its mark.
    Action(kCmdStandard)->trigger();
    Action(kCmdStandard)->trigger();
    Settle();
    EXPECT_TRUE(TypeChecks()[0]);
}

TEST_F(MainWindow, MachinesGreyedAfterVelmora5UntilOneToOneFoundThroughStandard) {
    auto velmora5 = std::make_shared<SimVelmora5Board>();
    velmora5->set_noise(0);
    bus.plug(velmora5);
    Start();
    ASSERT_EQ(Title(), QStringLiteral("Velmora5 设备已经连接"));
    EXPECT_EQ(TypeAvailability(), (std::vector<bool>{true, false, false, false, false, false}));

    // Unplugged: still greyed.
    bus.unplug(velmora5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("设备已经断开"); }));
    EXPECT_EQ(TypeAvailability(), (std::vector<bool>{true, false, false, false, false, false}));

    // A one-to-one board found through the standard entry: all available.
    bus.plug(Runoff());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("Orvane 设备已经连接"); }));
    Action(kCmdStandard)->trigger();
    Settle();
    EXPECT_EQ(TypeAvailability(), std::vector<bool>(6, true));
}

TEST_F(MainWindow, FpcClearMarksAndBuzzerCommandsChangeTheStationsState) {
    Start();
    StationCore& s = dlg->station();
    GridModel& grid = dlg->colorBar().model();

    Action(kCmdFpcTest)->trigger();
    OpenPopupOf(kCmdFpcTest);
    EXPECT_EQ(grid.GetFpcTest(), 1);
    EXPECT_TRUE(Action(kCmdFpcTest)->isChecked());
    Action(kCmdFpcTest)->trigger();
    OpenPopupOf(kCmdFpcTest);
    EXPECT_EQ(grid.GetFpcTest(), 0);
    EXPECT_FALSE(Action(kCmdFpcTest)->isChecked());
    // Its availability follows the unlock flag.
    s.SetFpcMenuUnlocked(false);
    OpenPopupOf(kCmdFpcTest);
    EXPECT_FALSE(Action(kCmdFpcTest)->isEnabled());

    MarkChannel();
    Action(kCmdClearGreenMarks)->trigger();
    EXPECT_FALSE(Marked());

    for (int id : {kCmdBuzzerOn, kCmdBuzzerInvert}) {
        const auto flag = [&s, id] {
            return id == kCmdBuzzerOn ? s.BuzzerOn() : s.BuzzerInverted();
        };
        for (int expected : {1, 0, 1}) {
            Action(id)->trigger();
            OpenPopupOf(id);
            EXPECT_EQ(flag(), expected == 1) << id;
            EXPECT_EQ(Action(id)->isChecked(), expected == 1) << id;
        }
    }
}

struct UnlockCase {
    const char* typed;
    Qt::Key end;
    bool unlocks;
};

TEST_F(MainWindow, UnlockWordInAnyCaseShowsTheMessageAndEveryEndClearsTheMarks) {
    Start();
    StationCore& s = dlg->station();
    const UnlockCase cases[] = {
        {"tavrel", Qt::Key_Return, true},   {"TAVREL", Qt::Key_Space, true},
        {"TaVrEl", Qt::Key_Enter, true},    {"tavrelx\b", Qt::Key_Return, true},
        {"tavrels", Qt::Key_Return, false}, {"travel", Qt::Key_Return, false},
        {"", Qt::Key_Space, false},         {"tavre", Qt::Key_Space, false},
    };
    for (const UnlockCase& c : cases) {
        SCOPED_TRACE(c.typed);
        s.SetFpcMenuUnlocked(false);
        messages.texts.clear();
        MarkChannel();
        for (const char* p = c.typed; *p != '\0'; ++p) {
            if (*p == '\b') {
                QTest::keyClick(dlg.get(), Qt::Key_Backspace);
            } else {
                QTest::keyClick(dlg.get(), *p);
            }
        }
        QTest::keyClick(dlg.get(), c.end);
        EXPECT_FALSE(Marked());
        EXPECT_TRUE(g_keyBuffer.isEmpty());
        EXPECT_EQ(s.FpcMenuUnlocked(), c.unlocks);
        EXPECT_EQ(messages.texts, c.unlocks
                                      ? QStringList{QStringLiteral("使能FPC测试菜单已经解锁！")}
                                      : QStringList{});
    }
}

TEST_F(MainWindow, UnlockMessageIsOwnedByTheWindowWithoutCaption) {
    Start();
    std::vector<MessageRequest> requests;
    ScopedMessageHandler handler([&](const MessageRequest& r) {
        requests.push_back(r);
        return QMessageBox::Ok;
    });
    Type(QStringLiteral("tavrel"));
    QTest::keyClick(dlg.get(), Qt::Key_Return);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].owner, dlg.get());
    EXPECT_TRUE(requests[0].caption.isEmpty());
    EXPECT_EQ(requests[0].buttons, QMessageBox::Ok);
}

TEST_F(MainWindow, SpaceBeforeTheWordDoesNotSpoilIt) {
    Start();
    QTest::keyClick(dlg.get(), Qt::Key_Space);
    Type(QStringLiteral("tavrel"));
    EXPECT_EQ(g_keyBuffer, QStringLiteral("tavrel"));
    QTest::keyClick(dlg.get(), Qt::Key_Return);
    EXPECT_EQ(messages.texts.size(), 1);
}

TEST_F(MainWindow, FullBufferTakesNothingMoreUntilEnter) {
    Start();
    // A key that travels from an ignoring child to the window counts once.
    QTest::keyClick(&dlg->colorBar(), 'x');
    QTest::keyClick(&dlg->colorBar(), 'y');
    EXPECT_EQ(g_keyBuffer, QStringLiteral("xy"));
    QTest::keyClick(&dlg->colorBar(), Qt::Key_Space);
    EXPECT_TRUE(g_keyBuffer.isEmpty());
    for (int i = 0; i < 300; ++i) {
        QTest::keyClick(i % 2 == 0 ? static_cast<QWidget*>(dlg.get()) : &dlg->colorBar(), 'a');
    }
    EXPECT_EQ(g_keyBuffer.size(), 255);
    QTest::keyClick(dlg.get(), Qt::Key_Backspace);
    QTest::keyClick(dlg.get(), 'b');
    EXPECT_EQ(g_keyBuffer, QString(255, QLatin1Char('a')));
    QTest::keyClick(dlg.get(), Qt::Key_Return);
    EXPECT_TRUE(g_keyBuffer.isEmpty());
    QTest::keyClick(dlg.get(), 'c');
    QTest::keyClick(dlg.get(), 'd');
    QTest::keyClick(dlg.get(), Qt::Key_Backspace);
    EXPECT_EQ(g_keyBuffer, QStringLiteral("c"));
}

TEST_F(MainWindow, EscapeAndEnterDoNotCloseTheWindow) {
    Start();
    QSignalSpy finished(dlg.get(), &QDialog::finished);
    for (QWidget* target :
         {static_cast<QWidget*>(dlg.get()), static_cast<QWidget*>(&dlg->colorBar())}) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(finished.count(), 0);
}

// A menu closed with Escape leaves Qt's menu bar holding the focus, armed
// for keyboard navigation: Enter or Space would open a menu there and letters
// would act as its mnemonics. The operator's keys must still go to the
// station. Keys travel as the platform delivers them: to the window, and on
// to its focus widget or the open popup.
TEST_F(MainWindow, EnterAndSpaceGoToTheStationAfterAMenuClosedWithEscape) {
    Start();
    dlg->setWindowState(Qt::WindowNoState);
    dlg->resize(800, 600);
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    QWindow* window = dlg->windowHandle();
    ASSERT_NE(window, nullptr);
    QMenuBar* bar = dlg->menuBar();
    // Nothing a wrong key could start may block the test: the choosers
    // answer "cancelled".
    dlg->configCommands().SetFileChooser([](QWidget*, ConfigFileChoice) { return QString(); });

    // Every menu that opens and every entry that runs is counted.
    int menusShown = 0;
    QStringList triggered;
    std::vector<QMenu*> menus;
    const std::function<void(QMenu*)> collect = [&](QMenu* menu) {
        menus.push_back(menu);
        for (QAction* a : menu->actions()) {
            if (a->menu() != nullptr) {
                collect(a->menu());
            }
        }
    };
    for (QAction* top : bar->actions()) {
        collect(top->menu());
    }
    std::vector<QMetaObject::Connection> watches;
    for (QMenu* menu : menus) {
        watches.push_back(QObject::connect(menu, &QMenu::aboutToShow, [&] { ++menusShown; }));
        watches.push_back(
            QObject::connect(menu, &QMenu::triggered, [&](QAction* a) { triggered << a->text(); }));
    }
    // Closes whatever a wrong key opened, after each case and when an
    // assertion ends the test early.
    const auto closeWhatOpened = [this] {
        while (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        }
        if (QDialog* about = dlg->aboutCommand().CurrentDialog()) {
            about->reject();
        }
        QCoreApplication::processEvents();
    };
    struct AtEnd {
        std::function<void()> run;
        ~AtEnd() { run(); }
    } atEnd{[&] {
        for (const auto& c : watches) {
            QObject::disconnect(c);
        }
        closeWhatOpened();
    }};

    // "文件(&F)" opened with the mouse (the pointer then goes back to the
    // grid) or with Alt+F, and closed with Escape; the window is active
    // again, as a window manager makes it when a popup closes.
    const auto openAndEscape = [&](bool mouse) {
        if (mouse) {
            const QRect file = bar->actionGeometry(bar->actions().value(0));
            QTest::mouseClick(bar, Qt::LeftButton, {}, file.center());
        } else {
            QTest::keyClick(window, Qt::Key_F, Qt::AltModifier);
        }
        ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
        QTest::mouseMove(&dlg->colorBar(), QPoint(50, 50));
        QTest::keyClick(window, Qt::Key_Escape);
        ASSERT_EQ(QApplication::activePopupWidget(), nullptr);
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == dlg.get(); }));
        // The state the fault needs: the menu bar armed on "文件(&F)".
        ASSERT_TRUE(bar->hasFocus());
        ASSERT_EQ(bar->activeAction(), bar->actions().value(0));
        menusShown = 0;
        triggered.clear();
    };

    struct KeyCase {
        const char* name;
        const char* typed;
        Qt::Key end;
        bool unlocks;
    };
    const KeyCase cases[] = {
        {"Enter", "", Qt::Key_Return, false},
        {"Space", "", Qt::Key_Space, false},
        {"keypad Enter", "", Qt::Key_Enter, false},
        // 'a' is the mnemonic of "帮助(&A)", whose first entry is "关于(&A)".
        {"the unlock word and Enter", "tavrel", Qt::Key_Return, true},
        {"the unlock word in capitals and Space", "TAVREL", Qt::Key_Space, true},
        // 'f' opens "文件(&F)", 'l' would run its "载入(&L)".
        {"other letters and Enter", "fol", Qt::Key_Return, false},
    };
    StationCore& s = dlg->station();
    for (const bool mouse : {true, false}) {
        for (const KeyCase& c : cases) {
            SCOPED_TRACE(std::string(mouse ? "mouse, " : "Alt+F, ") + c.name);
            s.SetFpcMenuUnlocked(false);
            messages.texts.clear();
            MarkChannel();
            // Back within its limit, so that the grid's repaints while the
            // menu is open keep the mark but do not set it again.
            dlg->colorBar().model().SetValues(0, 0, ChannelValues{});
            openAndEscape(mouse);
            if (HasFatalFailure()) {
                return;
            }
            for (const char* p = c.typed; *p != '\0'; ++p) {
                QTest::keyClick(window, *p);
            }
            QTest::keyClick(window, c.end);
            QCoreApplication::processEvents();

            EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
            EXPECT_EQ(menusShown, 0);
            EXPECT_EQ(triggered, QStringList{});
            EXPECT_EQ(dlg->aboutCommand().CurrentDialog(), nullptr);
            EXPECT_FALSE(Marked());
            EXPECT_TRUE(g_keyBuffer.isEmpty()) << g_keyBuffer.toStdString();
            EXPECT_EQ(s.FpcMenuUnlocked(), c.unlocks);
            EXPECT_EQ(messages.texts, c.unlocks
                                          ? QStringList{QStringLiteral("使能FPC测试菜单已经解锁！")}
                                          : QStringList{});
            EXPECT_TRUE(dlg->isVisible());
            // Disarmed: the next key goes to the station too.
            EXPECT_FALSE(bar->hasFocus());
            EXPECT_EQ(bar->activeAction(), nullptr);
            closeWhatOpened();
        }
    }
}

TEST_F(MainWindow, GridFillsTheClientAreaBelowTheMenuBarAtEverySize) {
    Start();
    dlg->setWindowState(Qt::WindowNoState);
    const QSize sizes[] = {{1920, 1080}, {1024, 768}, {640, 480}, {400, 300}, {1300, 500}};
    for (const QSize& size : sizes) {
        SCOPED_TRACE(size.width());
        dlg->resize(size);
        QCoreApplication::processEvents();
        ASSERT_EQ(dlg->size(), size);
        const int menuBottom = dlg->menuBar()->geometry().bottom() + 1;
        const QRect grid = dlg->colorBar().geometry();
        // The counters' strip below it takes its own height and no more.
        const QRect strip = dlg->statusStrip()->geometry();
        EXPECT_GT(strip.height(), 20);
        EXPECT_EQ(strip.bottom(), size.height() - 7 - 1);
        EXPECT_EQ(strip.top(), grid.bottom() + 1);
        EXPECT_EQ(grid, QRect(2, menuBottom + 10, size.width() - 12,
                              size.height() - menuBottom - 17 - strip.height()));
        EXPECT_TRUE(dlg->rect().contains(grid));
        EXPECT_EQ(dlg->colorBar().RepaintOffscreen().size(), grid.size());
    }
}

TEST_F(MainWindow, BoardPluggedFromAnotherThreadConnectsOnTheUserInterfaceThread) {
    Start();
    ASSERT_EQ(Title(), QStringLiteral("设备已经断开"));
    bool offThread = false;
    QObject::connect(
        dlg.get(), &QWidget::windowTitleChanged, dlg.get(),
        [&] { offThread = offThread || QThread::currentThread() != qApp->thread(); },
        Qt::DirectConnection);
    auto board = Runoff();
    std::thread plugger([&] { bus.plug(board); });
    plugger.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("Orvane 设备已经连接"); }));
    EXPECT_EQ(dlg->station().ActiveFamily(), FamilyId::OneToOne);
    EXPECT_EQ(dlg->colorBar().model().GetColumns(), 1);

    std::thread unplugger([&] { bus.unplug(board); });
    unplugger.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("设备已经断开"); }));
    EXPECT_FALSE(offThread);
}

// A head whose board does not answer is named under the grid, where the
// operator looks, and the notice goes once it answers again.
TEST_F(MainWindow, ASilentHeadIsNamedUnderTheGridUntilItAnswers) {
    sim::UsbFrameBus frameBus(bus);
    StationSetup setup = SimSetup();
    setup.bus = &frameBus;
    CKaldrixPlusDlg& w = Start(std::move(setup));
    EXPECT_TRUE(w.boardNotice()->isHidden());
    frameBus.silence(test::MasterValuesOf(2));
    bus.plug(test::MasterBoard(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.boardNotice()->isVisible(); }, 10000));
    EXPECT_TRUE(w.boardNotice()->text().contains(QStringLiteral("第 1 行第 2 列")))
        << w.boardNotice()->text().toStdString();
    frameBus.clear_silence();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.boardNotice()->isHidden(); }, 10000));
    bus.unplug_all();
}

TEST_F(MainWindow, HotplugEventsAfterTheWindowAreGoneGoNowhere) {
    Start();
    dlg->close();
    dlg.reset();
    auto board = Runoff();
    std::thread plugger([&] { bus.plug(board); });
    plugger.join();
    QCoreApplication::processEvents();
    bus.unplug(board);
    QCoreApplication::processEvents();
}

TEST_F(MainWindow, DemoMenuPlugsAndUnplugsItsBoards) {
    auto board = Runoff();
    bus.plug(board);
    StationSetup setup = SimSetup();
    setup.demoBoards.push_back({board, QStringLiteral("一对一测试板 ravuno-demo")});
    Start(std::move(setup));
    QAction* entry = dlg->DemoBoardAction(board.get());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(qobject_cast<QMenu*>(entry->associatedObjects().value(0))->title(),
              QStringLiteral("模拟"));
    EXPECT_TRUE(entry->isChecked());
    entry->trigger();
    EXPECT_FALSE(board->plugged());
    EXPECT_FALSE(entry->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("设备已经断开"); }));
    entry->trigger();
    EXPECT_TRUE(board->plugged());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("Orvane 设备已经连接"); }));
}

TEST_F(MainWindow, PlugCycleUnplugsAndPlugsEveryDemoBoardOnItsSchedule) {
    auto runoff = Runoff();
    auto master = std::make_shared<sim::SimVelmora5Board>();
    bus.plug(runoff);
    bus.plug(master);
    StationSetup setup = SimSetup();
    setup.demoBoards.push_back({runoff, QStringLiteral("1. 一对一")});
    setup.demoBoards.push_back({master, QStringLiteral("2. Velmora5")});
    Start(std::move(setup));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title().contains(QStringLiteral("设备已经连接")); }));
    const QString connected = Title();
    dlg->StartPlugCycle(1000);
    // Each cycle: both boards gone (the station says so), then both back and
    // the station connected again.
    for (int cycle = 1; cycle <= 2; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !runoff->plugged() && !master->plugged(); }, 5000));
        EXPECT_FALSE(dlg->DemoBoardAction(runoff.get())->isChecked());
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return Title() == QStringLiteral("设备已经断开"); }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->plugCycles() == cycle; }, 5000));
        EXPECT_TRUE(runoff->plugged() && master->plugged());
        EXPECT_TRUE(dlg->DemoBoardAction(master.get())->isChecked());
        ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == connected; }, 5000));
    }
}

TEST_F(MainWindow, ClosingStopsTheWorkerAndSwitchesTheOutputsOff) {
    auto board = Runoff();
    board->set_value(0, 2000);  // above its limit: the board shows FAIL
    bus.plug(board);
    Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return board->memory().outputs[1] == 1; }));
    QSignalSpy finished(dlg.get(), &QDialog::finished);
    Action(kCmdExit)->trigger();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->station().AcquisitionWorkers(), 0);
    const int written = board->memory().outputs_written;
    EXPECT_EQ(board->memory().outputs, (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
    QTest::qWait(50);
    EXPECT_EQ(board->memory().outputs_written, written);
}

TEST_F(MainWindow, AboutEntriesOpenTheCommandAndTheEmptyAboutBox) {
    Start();
    // No board: the command shows nothing.
    Action(kCmdAbout)->trigger();
    EXPECT_EQ(dlg->aboutCommand().CurrentDialog(), nullptr);

    QAction* empty = nullptr;
    for (QAction* top : dlg->menuBar()->actions()) {
        for (QAction* a : top->menu()->actions()) {
            if (a->text() == QStringLiteral("关于 KaldrixPlus(&A)...")) {
                empty = a;
            }
        }
    }
    ASSERT_NE(empty, nullptr);
    empty->trigger();
    QDialog* shown = dlg->aboutCommand().CurrentDialog();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    shown->reject();
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->aboutCommand().CurrentDialog(), nullptr);

    // With a board, help > about shows its dialog.
    auto board = Runoff();
    bus.plug(board);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("Orvane 设备已经连接"); }));
    Action(kCmdAbout)->trigger();
    // The board is read off the window's thread; the dialog follows.
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->aboutCommand().CurrentDialog() != nullptr; }));
    dlg->aboutCommand().CurrentDialog()->reject();
    QCoreApplication::processEvents();
}

// Counts the paint events of one widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

// A master board's settings read at connection is a few reports per head;
// this one falls silent part of the way through, so the read waits out its
// bound and the late-reply window. The window paints its grid before the
// read ends, every turn of its event loop stays short, a command meanwhile
// is refused rather than interleaved, and the connection ends with its
// message.
TEST_F(MainWindow, ABoardSilentDuringTheConnectionsReadNeverHoldsTheWindow) {
    auto board = test::MasterBoard(4);
    board->set_reply_delay(std::chrono::milliseconds(2));
    bus.plug(board);
    dlg = std::make_unique<CKaldrixPlusDlg>(SimSetup());
    PaintCounter counter(&dlg->colorBar());
    dlg->OnInitDialog();
    ASSERT_TRUE(dlg->BoardWorkPending());
    EXPECT_EQ(dlg->cursor().shape(), Qt::BusyCursor);
    int paintedWhileConnecting = 0;
    bool refused = false;
    QElapsedTimer took;
    took.start();
    const qint64 gap = test::LongestGapWhile([&] { return dlg->BoardWorkPending(); },
                                             [&] {
                                                 if (board->received().size() >= 12) {
                                                     board->set_silent(true);
                                                 }
                                                 if (dlg->BoardWorkPending()) {
                                                     paintedWhileConnecting = counter.paints;
                                                     if (!refused && !board->received().empty()) {
                                                         refused = true;
                                                         Action(kCmdAbout)->trigger();
                                                     }
                                                 }
                                             });
    std::cout << "longest gap between ticks: " << gap << " ms, connection " << took.elapsed()
              << " ms, " << board->received().size() << " reports\n";
    EXPECT_LT(gap, test::kLongestAllowedGapMs);
    ASSERT_FALSE(dlg->BoardWorkPending());
    QCoreApplication::processEvents();
    EXPECT_GT(paintedWhileConnecting, 0);
    EXPECT_TRUE(refused);
    EXPECT_EQ(dlg->aboutCommand().CurrentDialog(), nullptr);
    EXPECT_NE(dlg->cursor().shape(), Qt::BusyCursor);
    EXPECT_EQ(Title(), QString::fromUtf8(kTitleOrvane));
    // The read waited for the board, not the window.
    EXPECT_GE(took.elapsed(), hiddata::kReadBoundMs);
    EXPECT_EQ(messages.texts, (QStringList{QStringLiteral("正在与设备通信，请稍候再试。"),
                                           QString::fromStdString(NoAnswerMessage(
                                               dlg->station().Find(FamilyId::Master)->Name()))}));
    board->set_silent(false);
}

TEST_F(MainWindow, FileEntriesRunTheirConfigurationCommands) {
    auto board = Runoff();
    bus.plug(board);
    Start();
    // Each entry asks for its own kind of file; cancelled, nothing happens.
    std::vector<ConfigFileChoice> asked;
    dlg->configCommands().SetFileChooser([&](QWidget* owner, ConfigFileChoice choice) {
        EXPECT_EQ(owner, dlg.get());
        asked.push_back(choice);
        return QString();
    });
    Action(kCmdLoad)->trigger();
    Action(kCmdSave)->trigger();
    Action(kCmdOldLoad)->trigger();
    EXPECT_EQ(asked, (std::vector<ConfigFileChoice>{ConfigFileChoice::Load, ConfigFileChoice::Save,
                                                    ConfigFileChoice::LegacyLoad}));

    // Saved with a changed limit, loaded again: the board takes it.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("station.ini"));
    dlg->configCommands().SetFileChooser([&](QWidget*, ConfigFileChoice) { return file; });
    dlg->station().Pages().EditPage(0, [](PageRecord& page) { page.upper[5] = 1234; });
    Action(kCmdSave)->trigger();
    ASSERT_TRUE(QFile::exists(file));
    Action(kCmdLoad)->trigger();
    // The load writes the board on the station's lane.
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->configCommands().IsBusy(), 10000);
    EXPECT_EQ(board->memory().upper[5], 1234);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
}

// The load writes the board on the station's lane while the window answers;
// the window does not close until the load is done, and then it does.
TEST_F(MainWindow, ALoadKeepsTheWindowOpenUntilItIsDone) {
    auto board = Runoff();
    bus.plug(board);
    Start();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("station.ini"));
    dlg->configCommands().SetFileChooser([&](QWidget*, ConfigFileChoice) { return file; });
    Action(kCmdSave)->trigger();
    ASSERT_TRUE(QFile::exists(file));
    board->set_reply_delay(std::chrono::milliseconds(50));
    Action(kCmdLoad)->trigger();
    ASSERT_TRUE(dlg->configCommands().IsBusy());
    EXPECT_FALSE(dlg->close());
    EXPECT_TRUE(dlg->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->configCommands().IsBusy(), 10000);
    board->set_reply_delay(std::chrono::milliseconds(0));
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
    EXPECT_TRUE(dlg->close());
}

// --- shortcuts, recent files, the remembered device type ------------------------------

// Presses a key in the window as the operator does: the window active, the
// key to its focus widget (shortcuts are matched before the key filter).
void PressInWindow(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* target = window->focusWidget() != nullptr ? window->focusWidget() : window;
    QTest::keyClick(target, key, modifiers);
}

TEST_F(MainWindow, ShortcutsRunTheirCommandsAndNeverReachTheKeyBuffer) {
    Start();
    EXPECT_EQ(Action(kCmdLoad)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(Action(kCmdSave)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(Action(kCmdAbout)->shortcut(), QKeySequence(Qt::Key_F1));

    std::vector<ConfigFileChoice> asked;
    dlg->configCommands().SetFileChooser([&](QWidget*, ConfigFileChoice choice) {
        asked.push_back(choice);
        return QString();  // cancelled
    });
    Type(QStringLiteral("sn"));
    // Without a board the load says so before its chooser; with one it asks.
    PressInWindow(dlg.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(messages.texts.size(), 1);
    auto board = Runoff();
    bus.plug(board);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("Orvane 设备已经连接"); }));
    Settle();
    PressInWindow(dlg.get(), Qt::Key_O, Qt::ControlModifier);
    PressInWindow(dlg.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(asked,
              (std::vector<ConfigFileChoice>{ConfigFileChoice::Load, ConfigFileChoice::Save}));

    // F1 opens the about dialog, which the test closes.
    QSignalSpy about(Action(kCmdAbout), &QAction::triggered);
    PressInWindow(dlg.get(), Qt::Key_F1);
    EXPECT_EQ(about.count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->aboutCommand().CurrentDialog() != nullptr; }));
    dlg->aboutCommand().CurrentDialog()->reject();
    QCoreApplication::processEvents();

    // None of the shortcuts' keys entered the serial typed before them.
    EXPECT_EQ(g_keyBuffer, QStringLiteral("sn"));
}

// In English the menus, the recent-files message and the shortcuts follow;
// the station is Chinese again afterwards, whatever happened.
TEST_F(MainWindow, MenusAndMessagesInEnglish) {
    ASSERT_TRUE(InstallLanguage(Language::English));
    struct BackToChinese {
        ~BackToChinese() { InstallLanguage(Language::Chinese); }
    } backToChinese;
    Start();
    EXPECT_EQ(dlg->menuBar()->actions().value(0)->text(), QStringLiteral("&File"));
    EXPECT_EQ(Action(kCmdLoad)->text(), QStringLiteral("&Load"));
    EXPECT_EQ(Action(kCmdSave)->text(), QStringLiteral("&Save"));
    EXPECT_EQ(Action(kCmdAbout)->text(), QStringLiteral("&About"));
    EXPECT_EQ(Action(kDeviceTypeCommands[3])->text(), QStringLiteral("Machine 3"));
    EXPECT_EQ(Action(kCmdLoad)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    // The configuration commands' own texts too.
    EXPECT_EQ(QCoreApplication::translate("CConfigCommands", "正在载入配置…"),
              QStringLiteral("Loading the configuration…"));
}

// Ctrl+S while a load writes the boards is refused as the menu entry is:
// no chooser, no save.
TEST_F(MainWindow, SaveShortcutIsRefusedWhileALoadRuns) {
    auto board = Runoff();
    bus.plug(board);
    Start();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("station.ini"));
    std::vector<ConfigFileChoice> asked;
    dlg->configCommands().SetFileChooser([&](QWidget*, ConfigFileChoice choice) {
        asked.push_back(choice);
        return file;
    });
    Action(kCmdSave)->trigger();
    ASSERT_TRUE(QFile::exists(file));
    board->set_reply_delay(std::chrono::milliseconds(50));
    Action(kCmdLoad)->trigger();
    ASSERT_TRUE(dlg->configCommands().IsBusy());
    asked.clear();
    PressInWindow(dlg.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(asked.empty());
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->configCommands().IsBusy(), 10000);
    board->set_reply_delay(std::chrono::milliseconds(0));
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
}

class RememberingWindow : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        ASSERT_TRUE(dir.isValid());
        state = std::make_unique<StationState>(StateFile());
    }
    QString StateFile() const { return dir.filePath(QStringLiteral("config/state.ini")); }
    StationSetup RememberingSetup() {
        StationSetup s = SimSetup();
        s.state = state.get();
        return s;
    }
    // The paths the "文件(&F)" menu lists, and the entries' texts.
    QStringList Recent() const {
        QStringList paths;
        for (QAction* a : dlg->RecentFileActions()) {
            paths << a->data().toString();
        }
        return paths;
    }
    QString Config(const QString& name) { return QFileInfo(dir.filePath(name)).absoluteFilePath(); }

    QTemporaryDir dir;
    std::unique_ptr<StationState> state;
};

TEST_F(RememberingWindow, RecentFilesListsTheLastFiveLoadedOrSavedOnce) {
    auto board = Runoff();
    bus.plug(board);
    Start(RememberingSetup());
    EXPECT_TRUE(Recent().isEmpty());
    QString chosen;
    dlg->configCommands().SetFileChooser([&](QWidget*, ConfigFileChoice) { return chosen; });
    const auto save = [&](const QString& name) {
        chosen = name;
        Action(kCmdSave)->trigger();
    };
    for (const char* name : {"a.ini", "b.ini", "c.ini", "d.ini", "e.ini", "f.ini"}) {
        save(dir.filePath(QString::fromLatin1(name)));
    }
    // Most recent first, at most five.
    EXPECT_EQ(Recent(), (QStringList{Config("f.ini"), Config("e.ini"), Config("d.ini"),
                                     Config("c.ini"), Config("b.ini")}));
    // The same file in another spelling counts once, and comes first.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    messages.answers = {QMessageBox::Yes};  // "…已经存在。要替换它吗？"
    save(dir.filePath(QStringLiteral("sub/../d.ini")));
    ASSERT_EQ(messages.texts.size(), 1);
    messages.texts.clear();
    EXPECT_EQ(Recent(), (QStringList{Config("d.ini"), Config("f.ini"), Config("e.ini"),
                                     Config("c.ini"), Config("b.ini")}));
    // The menu shows them numbered, between the legacy load and the exit.
    QList<QAction*> entries = dlg->RecentFileActions();
    ASSERT_EQ(entries.size(), 5);
    EXPECT_EQ(entries[0]->text(), QStringLiteral("&1 ") + Config("d.ini"));
    QMenu* file = qobject_cast<QMenu*>(Action(kCmdLoad)->associatedObjects().value(0));
    ASSERT_NE(file, nullptr);
    const QList<QAction*> order = file->actions();
    const qsizetype first = order.indexOf(entries[0]);
    EXPECT_EQ(order[first - 2], Action(kCmdOldLoad));
    EXPECT_TRUE(order[first + 5]->isSeparator());
    EXPECT_EQ(order[first + 6], Action(kCmdExit));

    // An entry loads its file as "载入(&L)" does, and comes first.
    dlg->station().Pages().EditPage(0, [](PageRecord& page) { page.upper[5] = 777; });
    save(dir.filePath(QStringLiteral("g.ini")));
    dlg->station().Pages().EditPage(0, [](PageRecord& page) { page.upper[5] = 1; });
    entries = dlg->RecentFileActions();
    ASSERT_EQ(entries[0]->data().toString(), Config("g.ini"));
    QSignalSpy loaded(&dlg->configCommands(), &CConfigCommands::configLoaded);
    entries[0]->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->configCommands().IsBusy(), 10000);
    ASSERT_EQ(loaded.count(), 1);
    EXPECT_EQ(loaded[0][0].toString(), Config("g.ini"));
    EXPECT_EQ(board->memory().upper[5], 777);
    // The load moved an older entry first.
    chosen = Config("c.ini");
    Action(kCmdLoad)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->configCommands().IsBusy(), 10000);
    EXPECT_EQ(Recent(), (QStringList{Config("c.ini"), Config("g.ini"), Config("d.ini"),
                                     Config("f.ini"), Config("e.ini")}));
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();

    // A file that is not a configuration does not enter the list.
    QFile broken(dir.filePath(QStringLiteral("broken.ini")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("a note, not a configuration\n");
    broken.close();
    chosen = broken.fileName();
    Action(kCmdLoad)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->configCommands().IsBusy(), 10000);
    EXPECT_EQ(messages.texts.size(), 1);
    EXPECT_FALSE(Recent().contains(Config("broken.ini")));
    messages.texts.clear();

    // A file that is gone leaves the list with a message, and nothing loads.
    ASSERT_TRUE(QFile::remove(Config("d.ini")));
    loaded.clear();
    dlg->RecentFileActions()[2]->trigger();
    EXPECT_EQ(messages.texts,
              QStringList{QStringLiteral("配置文件已不存在，已从最近使用的列表中删除：\n%1")
                              .arg(Config("d.ini"))});
    EXPECT_EQ(Recent(),
              (QStringList{Config("c.ini"), Config("g.ini"), Config("f.ini"), Config("e.ini")}));
    EXPECT_EQ(loaded.count(), 0);
    EXPECT_FALSE(dlg->configCommands().IsBusy());

    // A "&" in a file's name is shown, not taken for the entry's key.
    save(dir.filePath(QStringLiteral("R&D.ini")));
    ASSERT_EQ(Recent().value(0), Config("R&D.ini"));
    EXPECT_EQ(
        dlg->RecentFileActions()[0]->text(),
        QStringLiteral("&1 ") + QString(Config("R&D.ini")).replace('&', QStringLiteral("&&")));

    // The list outlives the run.
    EXPECT_EQ(StationState(StateFile()).RecentFiles(), Recent());
}

// The device type chosen in the menu is the next start's; the command line's
// wins over it.
TEST_F(RememberingWindow, TheDeviceTypeChosenLastIsCheckedAtTheNextStart) {
    Start(RememberingSetup());
    EXPECT_EQ(TypeChecks(), (std::vector<bool>{true, false, false, false, false, false}));
    Action(kDeviceTypeCommands[3])->trigger();
    Settle();
    EXPECT_EQ(TypeChecks(), (std::vector<bool>{false, false, false, true, false, false}));
    dlg->close();
    dlg.reset();

    // A second window reading the file afresh.
    state = std::make_unique<StationState>(StateFile());
    Start(RememberingSetup());
    EXPECT_EQ(TypeChecks(), (std::vector<bool>{false, false, false, true, false, false}));
    dlg->close();
    dlg.reset();

    // --machine 2 wins, and is not remembered.
    StationSetup setup = RememberingSetup();
    setup.deviceType = 2;
    Start(std::move(setup));
    EXPECT_EQ(TypeChecks(), (std::vector<bool>{false, false, true, false, false, false}));
    EXPECT_EQ(StationState(StateFile()).DeviceType(), 3);
    // --machine 0 too.
    dlg->close();
    dlg.reset();
    setup = RememberingSetup();
    setup.deviceType = 0;
    Start(std::move(setup));
    EXPECT_EQ(TypeChecks(), (std::vector<bool>{true, false, false, false, false, false}));
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
}

TEST_F(MainWindow, ClickOnTheGridOpensTheBaselineDialog) {
    bus.plug(Runoff());
    Start();
    dlg->setWindowState(Qt::WindowNoState);
    dlg->resize(800, 600);
    QCoreApplication::processEvents();
    CColorBar& grid = dlg->colorBar();
    QTest::mouseMove(&grid, QPoint(100, 100));
    grid.RepaintOffscreen();
    QTest::mouseClick(&grid, Qt::LeftButton, {}, QPoint(100, 100));
    CBaseLineDlg* baseline = dlg->baselineCommand().CurrentDialog();
    ASSERT_NE(baseline, nullptr);
    EXPECT_TRUE(baseline->isVisible());
    baseline->reject();
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->baselineCommand().CurrentDialog(), nullptr);
}

TEST_F(MainWindow, CameraEntryOpensAndClosesTheWindowAndItsCheckMarkFollows) {
    Start();
    QAction* camera = Action(kCmdCaptureWindow);
    camera->trigger();
    OpenPopupOf(kCmdCaptureWindow);
    EXPECT_TRUE(camera->isChecked());
    ASSERT_NE(dlg->captureWindow().Dialog(), nullptr);
    EXPECT_TRUE(dlg->captureWindow().Dialog()->isVisible());
    camera->trigger();
    OpenPopupOf(kCmdCaptureWindow);
    EXPECT_FALSE(camera->isChecked());
    EXPECT_EQ(dlg->captureWindow().Dialog(), nullptr);
}

TEST_F(MainWindow, RealBusWithoutUdevStillStartsAfterItsMessage) {
    HidapiBus real;
    StationSetup setup;
    setup.bus = &real;
    setup.capture = NoCameras();
    std::vector<MessageRequest> requests;
    ScopedMessageHandler handler([&](const MessageRequest& r) {
        requests.push_back(r);
        return QMessageBox::Ok;
    });
    Start(std::move(setup));
    if (UdevMonitor().ok()) {
        EXPECT_TRUE(requests.empty());
        GTEST_SKIP() << "a udev daemon runs here: registration works";
    }
    ASSERT_GE(requests.size(), 1u);
    EXPECT_EQ(requests[0].text, QStringLiteral("RegisterDeviceNotification   failed"));
    EXPECT_EQ(requests[0].caption, QStringLiteral("KaldrixPlus"));
    EXPECT_EQ(requests[0].owner, dlg.get());
    EXPECT_EQ(requests[0].buttons, QMessageBox::Ok);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->colorBar().IsAttached());
    EXPECT_NE(Title(), QStringLiteral("KaldrixPlus"));
    // Plugging is then heard of by looking at the bus every 2 s.
    const auto* rescan = qobject_cast<RescanHotplug*>(dlg->hotplugSource());
    ASSERT_NE(rescan, nullptr);
    EXPECT_EQ(rescan->interval(), std::chrono::milliseconds(2000));
}

// A window on a bus without plug events of its own where udev cannot
// register (as on the real bus in a container): after the registration
// message it still finds a board plugged later, and notices it unplugged.
TEST_F(MainWindow, WithoutUdevABoardPluggedLaterIsFoundByRescanningTheBus) {
    if (UdevMonitor().ok()) {
        GTEST_SKIP() << "a udev daemon runs here: registration works";
    }
    test::MessageRecorder messages;
    StationSetup setup;
    setup.bus = &bus;  // no simBus: the window hears nothing from the bus itself
    setup.capture = NoCameras();
    Start(std::move(setup));
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("RegisterDeviceNotification   failed")});
    EXPECT_NE(Title(), QStringLiteral("Orvane 设备已经连接"));

    auto board = Runoff();
    bus.plug(board);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Title() == QStringLiteral("Orvane 设备已经连接"); }, 10000));
    bus.unplug(board);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("设备已经断开"); }, 10000));
    EXPECT_EQ(messages.texts.size(), 1);
}

// The idle note the station decides reaches the grid the window shows: with
// the udev monitor left out (--no-udev) on a bus with nothing plugged in, the
// grid says so under its title; a board plugged later (found by the 2 s
// rescan) clears it, and its removal says it was unplugged.
TEST_F(MainWindow, TheGridShowsTheStationsIdleNote) {
    const auto notePixels = [this] {
        const QImage& image = dlg->colorBar().RepaintOffscreen();
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                n += image.pixel(x, y) == grid_colors::kIdleNote;
            }
        }
        return n;
    };
    test::MessageRecorder recorder;
    StationSetup setup = SimSetup();
    setup.noUdev = true;
    Start(std::move(setup));
    EXPECT_NE(qobject_cast<RescanHotplug*>(dlg->hotplugSource()), nullptr);
    GridModel& grid = dlg->colorBar().model();
    EXPECT_TRUE(grid.GetIdleNote().starts_with("未检测到测试板（本机没有运行 udev 服务）\n"))
        << grid.GetIdleNote();
    EXPECT_GT(notePixels(), 200);

    auto board = Runoff();
    bus.plug(board);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Title() == QStringLiteral("Orvane 设备已经连接"); }, 10000));
    EXPECT_EQ(grid.GetIdleNote(), "");
    EXPECT_EQ(notePixels(), 0);
    bus.unplug(board);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Title() == QStringLiteral("设备已经断开"); }, 10000));
    Settle();
    EXPECT_TRUE(grid.GetIdleNote().starts_with("测试板已拔下")) << grid.GetIdleNote();
    EXPECT_GT(notePixels(), 200);
}

// Boards of two families: the title names the one not in use.
TEST_F(MainWindow, TitleNamesTheOtherBoardPluggedButNotUsed) {
    bus.plug(Runoff());
    bus.plug(std::make_shared<sim::SimVelmora5Board>());
    Start();
    EXPECT_EQ(Title(), QStringLiteral("Orvane 设备已经连接（另有Velmora5 多头测试板未使用）"));
    bus.unplug_all();
}

// A bus whose devices the test sets.
class ListBus : public HidBus {
public:
    std::vector<HidDeviceInfo> devices;

    std::vector<HidDeviceInfo> enumerate() override { return devices; }
    HidOpenResult open_path(const std::string&) override {
        return {nullptr, OpenFailure::NotFound};
    }
    const char* name() const override { return "list"; }
};

using HotplugLog = std::vector<std::pair<HotplugEvent, std::string>>;

void Record(HotplugSource& source, HotplugLog& log) {
    QObject::connect(&source, &HotplugSource::deviceChanged,
                     [&log](HotplugEvent event, const QString& path) {
                         log.emplace_back(event, path.toStdString());
                     });
}

// Each look reports what changed since the one before, as udev would: what
// went first, then what came; a node another device took is both.
TEST(HotplugRescan, ReportsWhatCameAndWentSinceTheLastLook) {
    const auto device = [](int n, std::uint16_t product = 0x0101) {
        HidDeviceInfo d;
        d.path = n < 0 ? "" : "/dev/hidraw" + std::to_string(n);
        d.vendor_id = 0x04D8;
        d.product_id = product;
        d.manufacturer = u"maker";
        d.product = u"board";
        return d;
    };
    constexpr HotplugEvent in = HotplugEvent::Arrival;
    constexpr HotplugEvent out = HotplugEvent::Removal;
    ListBus bus;
    bus.devices = {device(0), device(1)};
    RescanHotplug source(bus, std::chrono::hours(1));  // looks only when asked here
    HotplugLog log;
    Record(source, log);
    const struct {
        const char* what;
        std::vector<HidDeviceInfo> devices;
        HotplugLog events;
    } steps[] = {
        {"nothing changed", {device(0), device(1)}, {}},
        {"the same devices in another order", {device(1), device(0)}, {}},
        {"one plugged", {device(0), device(1), device(2)}, {{in, "/dev/hidraw2"}}},
        {"one unplugged", {device(0), device(2)}, {{out, "/dev/hidraw1"}}},
        {"one gone, another come",
         {device(0), device(3)},
         {{out, "/dev/hidraw2"}, {in, "/dev/hidraw3"}}},
        {"a node taken by another device",
         {device(0, 0x0202), device(3)},
         {{out, "/dev/hidraw0"}, {in, "/dev/hidraw0"}}},
        {"all gone", {}, {{out, "/dev/hidraw0"}, {out, "/dev/hidraw3"}}},
        {"a device without a path", {device(-1)}, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        bus.devices = step.devices;
        log.clear();
        source.Rescan();
        EXPECT_EQ(log, step.events);
    }

    // A look asked for while an event is handled (a handler's message box
    // turning the event loop) waits for the next one, so that events never
    // come out of order.
    bus.devices = {device(5)};
    log.clear();
    bool nested = false;
    QObject::connect(&source, &HotplugSource::deviceChanged, [&] {
        if (!nested) {
            nested = true;
            bus.devices = {};
            source.Rescan();
        }
    });
    source.Rescan();
    EXPECT_EQ(log, (HotplugLog{{in, "/dev/hidraw5"}}));
    source.Rescan();
    EXPECT_EQ(log, (HotplugLog{{in, "/dev/hidraw5"}, {out, "/dev/hidraw5"}}));
}

// On its timer, over the simulated bus, whose own plug events it does not use.
TEST(HotplugRescan, ItsTimerFindsBoardsPluggedAndUnplugged) {
    sim::SimBus bus;
    auto first = Runoff();
    const std::string firstPath = bus.plug(first);
    RescanHotplug source(bus, std::chrono::milliseconds(20));
    HotplugLog log;
    Record(source, log);

    auto second = Runoff("borvane");
    const std::string secondPath = bus.plug(second);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.empty(); }, 5000));
    EXPECT_EQ(log, (HotplugLog{{HotplugEvent::Arrival, secondPath}}));
    log.clear();
    bus.unplug(first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.empty(); }, 5000));
    EXPECT_EQ(log, (HotplugLog{{HotplugEvent::Removal, firstPath}}));
    log.clear();
    QTest::qWait(100);  // five more looks: nothing changed
    EXPECT_TRUE(log.empty());
    bus.unplug_all();
}

struct OptionsCase {
    QStringList arguments;
    bool ok;
};

TEST(StationOptions, CommandLine) {
    const OptionsCase cases[] = {
        {{}, true},
        {{"--simulate", "one-to-one", "--simulate", "master:3x2"}, true},
        {{"--simulate", "one-to-one:TARSEL_DEV2", "--machine", "2"}, true},
        {{"--simulate", "velmora5", "--still", "--size", "1280x800"}, true},
        {{"--screenshot", "a.png"}, true},
        {{"--quit-after", "500", "--cpu-report", "--warmup", "100"}, true},
        {{"--real"}, true},
        {{"--simulate", "none", "--still"}, true},
        {{"--simulate", "classic", "--plug-cycle", "30"}, true},
        {{"--simulate", "classic", "--plug-cycle", "1"}, true},
        {{"--simulate", "classic", "--plug-cycle", "0"}, false},
        {{"--simulate", "classic", "--plug-cycle", "x"}, false},
        {{"--simulate", "none", "--plug-cycle", "30"}, false},
        {{"--plug-cycle", "30"}, false},
        {{"--simulate"}, false},
        {{"--simulate", "toaster"}, false},
        {{"--real", "--simulate", "classic"}, false},
        {{"--still"}, false},
        {{"--machine", "6"}, false},
        {{"--machine", "x"}, false},
        {{"--size", "1280"}, false},
        {{"--size", "99x600"}, false},
        {{"--quit-after", "-1"}, false},
        {{"--screenshot", ""}, false},
        {{"--frobnicate"}, false},
        {{"--simulate", "master", "--refuse", "permission"}, true},
        {{"--simulate", "one-to-one", "--refuse", "busy", "--unplug-after", "1500"}, true},
        {{"--simulate", "classic", "--refuse", "other"}, true},
        {{"--simulate", "classic", "--refuse", "maybe"}, false},
        {{"--simulate", "none", "--refuse", "busy"}, false},
        {{"--refuse", "busy"}, false},
        {{"--simulate", "classic", "--unplug-after", "0"}, true},
        {{"--simulate", "classic", "--unplug-after", "-5"}, false},
        {{"--unplug-after", "100"}, false},
        {{"--no-udev"}, true},
        {{"--simulate", "none", "--no-udev"}, true},
    };
    for (const OptionsCase& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QString error;
        const std::optional<AppOptions> o = ParseAppOptions(c.arguments, error);
        EXPECT_EQ(o.has_value(), c.ok) << error.toStdString();
        EXPECT_EQ(error.isEmpty(), c.ok);
    }
    QString error;
    const std::optional<AppOptions> o =
        ParseAppOptions({"--simulate", "master:3x2", "--simulate", "classic", "--machine", "4",
                         "--size", "1280x800", "--screenshot", "s.png"},
                        error);
    ASSERT_TRUE(o);
    ASSERT_EQ(o->boards.size(), 2u);
    EXPECT_EQ(o->boards[0].columns, 3);
    EXPECT_EQ(o->boards[1].family, FamilyId::Classic);
    EXPECT_EQ(o->machine, 4);
    // Without --machine the type chosen last in the menu is taken.
    EXPECT_FALSE(ParseAppOptions({}, error)->machine.has_value());
    EXPECT_EQ(o->size, QSize(1280, 800));
    // A screenshot alone is taken after the default delay, then the station quits.
    EXPECT_EQ(o->quitAfterMs, kDefaultScreenshotDelayMs);
    EXPECT_TRUE(o->unattended());
}

// --- single instance ---------------------------------------------------------------

TEST(SingleInstanceCheck, SecondInstanceIsWarnedAndStillStarts) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<MessageRequest> requests;
    ScopedMessageHandler handler([&](const MessageRequest& r) {
        requests.push_back(r);
        return QMessageBox::Ok;
    });
    SingleInstance first(dir.path());
    EXPECT_TRUE(first.IsFirst());
    EXPECT_FALSE(first.WarnIfNotFirst());
    EXPECT_TRUE(requests.empty());
    EXPECT_TRUE(
        first.LockPath().endsWith(QStringLiteral("{5D0C9A3E61B24F7A8E13C4F0B29D7A66}.lock")));

    // An hour later the first still runs: its lock has not gone stale.
    const struct timeval anHourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimes(first.LockPath().toLocal8Bit().constData(), anHourAgo), 0);

    SingleInstance second(dir.path());
    EXPECT_FALSE(second.IsFirst());
    EXPECT_TRUE(second.WarnIfNotFirst());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].text,
              QStringLiteral("已经运行了一个程序，如非扩展板，请尽量避免开启两个相同的程序!"));
    EXPECT_EQ(requests[0].icon, QMessageBox::Information);
    EXPECT_TRUE(requests[0].caption.isEmpty());
    EXPECT_EQ(requests[0].owner, nullptr);

    // ... and then starts a working window.
    sim::SimBus bus;
    bus.plug(Runoff());
    StationSetup setup;
    setup.bus = &bus;
    setup.simBus = &bus;
    setup.capture = NoCameras();
    CKaldrixPlusDlg dlg(std::move(setup));
    dlg.OnInitDialog();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.BoardWorkPending(), 10000);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Orvane 设备已经连接"));
    dlg.close();
}

// --- the program ---------------------------------------------------------------------

class StationProgram : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        runtime = dir.filePath(QStringLiteral("run"));
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The records and the settings of the test's own.
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    }
    void Launch(QProcess& p, const QStringList& arguments) {
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KX_KALDRIXPLUS), arguments);
        ASSERT_TRUE(p.waitForStarted(10000));
    }

    QTemporaryDir dir;
    QString runtime;
    QProcessEnvironment env;
};

TEST_F(StationProgram, SecondInstanceIsWarnedAndWritesItsScreenshot) {
    QProcess first;
    Launch(first, {"--simulate", "one-to-one", "--quit-after", "120000"});
    const QString lock =
        QDir(runtime).filePath(QStringLiteral("{5D0C9A3E61B24F7A8E13C4F0B29D7A66}.lock"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(lock); }, 15000));

    const QString png = dir.filePath(QStringLiteral("master.png"));
    QProcess second;
    Launch(second, {"--simulate", "master:3x2", "--size", "800x600", "--screenshot", png,
                    "--quit-after", "1500"});
    ASSERT_TRUE(second.waitForFinished(30000));
    const QString errors = QString::fromLocal8Bit(second.readAllStandardError());
    EXPECT_EQ(second.exitCode(), 0) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QString::fromUtf8(kSecondInstanceText))) << errors.toStdString();

    const QImage shot(png);
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), QSize(800, 600));
    // A grid of heads with their value bars, not the idle screen.
    int bars = 0;
    int idle = 0;
    for (int y = 0; y < shot.height(); y += 3) {
        for (int x = 0; x < shot.width(); x += 3) {
            const QRgb c = shot.pixel(x, y);
            bars += c == qRgb(150, 150, 255) ? 1 : 0;
            idle += c == qRgb(200, 200, 200) ? 1 : 0;
        }
    }
    EXPECT_GT(bars, 2000);
    EXPECT_LT(idle, 500);

    // The first is still running; SIGTERM closes it as its menu would.
    EXPECT_EQ(first.state(), QProcess::Running);
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    const QString firstErrors = QString::fromLocal8Bit(first.readAllStandardError());
    EXPECT_EQ(first.exitCode(), 0) << firstErrors.toStdString();
    EXPECT_FALSE(firstErrors.contains(QString::fromUtf8(kSecondInstanceText)));
    EXPECT_FALSE(QFile::exists(lock));
}

TEST_F(StationProgram, WrongOptionsEndWithAMessageAndCodeTwo) {
    QProcess p;
    Launch(p, {"--simulate", "toaster"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(p.readAllStandardError().contains("unknown board family"));
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// Message boxes and dialogs use Qt's standard buttons; without Qt's own
// translation they would read "OK" and "Cancel" in an otherwise Chinese
// station.
// In English they are Qt's own English texts.
TEST(QtTexts, StandardButtonsFollowTheStationsLanguage) {
    ASSERT_TRUE(InstallLanguage(Language::Chinese))
        << "Qt's zh_CN translation (qt6-translations-l10n) is missing";
    {
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text(), QString::fromUtf8("确定"));
        EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8("取消"));
    }
    ASSERT_TRUE(InstallLanguage(Language::English)) << "the built-in English translation";
    {
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));
        EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancel"));
    }
    // Back to the station's default for the other tests of the program.
    ASSERT_TRUE(InstallLanguage(Language::Chinese));
}

}  // namespace
}  // namespace kx

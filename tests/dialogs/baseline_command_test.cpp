// SPDX-License-Identifier: MIT
// The baseline command in its window, on the offscreen platform: a click on
// the main window's grid opens the baseline dialog for the head under the
// pointer, over a station core driving software boards, and the dialog's
// buttons decide what reaches the page table and the boards. The dialog is
// opened with open() by the command and closed here; every message box is
// answered by the recorder. OK's store-back runs on the station's board
// lane: the tests wait for the command's finished signal before they look.
#include "dialogs/baseline_command.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dialogs/baseline_dlg.h"
#include "grid/color_bar.h"
#include "sim/sim_bus.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "station/station_core.h"
#include "tests/support/default_pages.h"
#include "tests/support/event_loop_gaps.h"
#include "tests/support/message_recorder.h"

namespace kx {
namespace {

// The main window as far as the command sees it: a grid attached as control
// 1000, the station core driving its model, and the command installed.
class BaselineCommandTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 600;
    static constexpr int kHeight = 400;

    void SetUp() override {
        window.resize(kWidth, kHeight);
        auto* placeholder = new QFrame(&window);
        placeholder->setGeometry(0, 0, kWidth, kHeight);
        bar = new CColorBar;
        ASSERT_TRUE(bar->AttachToControl(1000, placeholder));
        core = std::make_unique<StationCore>(bus, bar->model(), pages);
        bus.set_hotplug_handler(
            [this](HotplugEvent e, const std::string& path) { core->OnDeviceChange(e, path); });
        command = InstallBaselineCommand(*bar, *core, &window);
        QObject::connect(command, &CBaselineCommand::dialogOpened,
                         [this](CBaseLineDlg* d) { opened.push_back(d); });
        QObject::connect(command, &CBaselineCommand::finished,
                         [this](bool accepted) { finished.push_back(accepted); });
        window.show();
    }
    void TearDown() override {
        if (CBaseLineDlg* d = command->CurrentDialog()) {
            d->reject();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        bus.set_hotplug_handler({});
        core->Close();
    }

    void Send(QEvent::Type type, QPoint at) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonPress ? Qt::MouseButtons(Qt::LeftButton) : Qt::NoButton;
        QMouseEvent event(type, QPointF(at), bar->mapToGlobal(QPointF(at)), button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    }

    // The operator moves onto head (row, column), the repaint timer finds the
    // head, the operator clicks.
    void ClickHead(int row, int column) {
        const GridModel& m = bar->model();
        const QPoint at((2 * column + 1) * bar->width() / (2 * m.GetColumns()),
                        (2 * row + 1) * bar->height() / (2 * m.GetRows()));
        Send(QEvent::MouseMove, at);
        bar->RepaintOffscreen();
        Send(QEvent::MouseButtonPress, at);
        Send(QEvent::MouseButtonRelease, at);
        QApplication::processEvents();
    }

    CBaseLineDlg* Dialog() const { return opened.empty() ? nullptr : opened.back(); }

    // The store-back runs on the station's lane: waits, at most 10 s, for
    // the command's end and for the lane to be idle.
    bool WaitForFinish() {
        QElapsedTimer waited;
        waited.start();
        while ((finished.empty() || command->StoreBackRunning() || core->Lane().Busy()) &&
               waited.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return !finished.empty();
    }

    // A copy of one page, taken under its lock, as the worker may be writing
    // it.
    PageRecord Page(int p) const { return pages.Copy(p); }

    static std::vector<CBaseLineDlg*> OpenDialogs() {
        std::vector<CBaseLineDlg*> found;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<CBaseLineDlg*>(w); d != nullptr && d->isVisible()) {
                found.push_back(d);
            }
        }
        return found;
    }

    test::MessageRecorder messages;
    sim::SimBus bus;
    // Before the window: its dialogs work on the pages until they go.
    test::DefaultPages pages;
    QWidget window;
    CColorBar* bar = nullptr;
    std::unique_ptr<StationCore> core;
    CBaselineCommand* command = nullptr;
    std::vector<CBaseLineDlg*> opened;
    std::vector<bool> finished;
};

// A 2 x 3 master board, position k holding head 20 - k. A click on the head
// in row 1, column 1 opens page 4; OK writes its limits to head 16 and every
// page of the grid takes the range the board then holds.
TEST_F(BaselineCommandTest, MasterHeadClickedAndAcceptedReachesItsAssignedHead) {
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->set_noise(0);
    board->edit([](sim::MasterMemory& m) {
        m.rows = 2;
        m.columns = 3;
        m.heads[16].upper.fill(300);
        m.heads[16].lower.fill(200);
    });
    board->set_present_heads({15, 16, 17, 18, 19, 20});
    for (int k = 0; k < 6; ++k) {
        board->assign(k, k / 3, k % 3, 20 - k);
    }
    bus.plug(board);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::Master);
    ASSERT_EQ(bar->model().GetRows(), 2);
    ASSERT_EQ(bar->model().GetColumns(), 3);
    const sim::MasterMemory before = board->memory();

    ClickHead(1, 1);
    ASSERT_EQ(opened.size(), 1u);
    CBaseLineDlg* dlg = Dialog();
    EXPECT_EQ(command->CurrentDialog(), dlg);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->isModal());
    EXPECT_EQ(dlg->parentWidget(), &window);
    EXPECT_EQ(dlg->Exchange().selectedPage, 4);
    EXPECT_EQ(dlg->Exchange().editReference[0], 250);  // the midpoint the board's limits give

    // A second click while it is open opens no second dialog.
    ClickHead(0, 0);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(OpenDialogs().size(), 1u);

    // Limits by value around the reference, a display range, OK.
    dlg->byValueBox()->click();
    dlg->valueUpperEdit()->setText(QStringLiteral("50"));
    dlg->valueLowerEdit()->setText(QStringLiteral("40"));
    dlg->coordinateUpperEdit()->setText(QStringLiteral("1800"));
    dlg->coordinateLowerEdit()->setText(QStringLiteral("20"));
    dlg->Apply();
    dlg->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    ASSERT_TRUE(WaitForFinish());
    EXPECT_EQ(finished, std::vector<bool>{true});
    EXPECT_EQ(command->CurrentDialog(), nullptr);
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join(u'|').toStdString();

    const sim::MasterMemory m = board->memory();
    EXPECT_EQ(m.heads[16].upper[0], 300);
    EXPECT_EQ(m.heads[16].lower[0], 210);
    for (int h : {15, 17, 20}) {  // the other heads keep theirs
        EXPECT_EQ(m.heads[h].lower, before.heads[h].lower) << h;
        EXPECT_EQ(m.heads[h].upper, before.heads[h].upper) << h;
    }
    EXPECT_EQ(m.range_max, 1800);
    EXPECT_EQ(m.range_min, 20);
    const PageRecord p = Page(4);
    EXPECT_EQ(p.upper[0], 300);
    EXPECT_EQ(p.lower[0], 210);
    EXPECT_EQ(p.offsetType, 0);
    EXPECT_EQ(p.offsetUpper, 50);
    for (int q = 0; q < 6; ++q) {
        EXPECT_EQ(Page(q).rangeMax, 1800) << q;
        EXPECT_EQ(Page(q).rangeMin, 20) << q;
    }
    EXPECT_EQ(Page(6).rangeMax, 1500);
}

TEST_F(BaselineCommandTest, NothingOpensWithoutABoardOfTheFourFamilies) {
    bar->model().SetColumns(3);
    bar->model().SetRows(2);
    ClickHead(1, 2);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(command->CurrentDialog(), nullptr);
    EXPECT_TRUE(OpenDialogs().empty());
    EXPECT_TRUE(finished.empty());
    EXPECT_TRUE(messages.texts.isEmpty());
}

// Cancel writes nothing to the board; what "全部关闭" did to the page stays.
TEST_F(BaselineCommandTest, CancelWritesNothingButCloseAllStays) {
    auto board = std::make_shared<sim::SimRunoffBoard>("borvane");
    board->edit([](sim::RunoffMemory& m) {
        m.upper.fill(1000);
        m.modes.fill(Tested);
    });
    bus.plug(board);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::OneToOne);
    ClickHead(0, 0);
    ASSERT_EQ(opened.size(), 1u);
    CBaseLineDlg* dlg = Dialog();
    EXPECT_EQ(dlg->Exchange().selectedPage, 0);
    dlg->findChild<QPushButton*>(QStringLiteral("closeAll"))->click();
    dlg->coordinateUpperEdit()->setText(QStringLiteral("1900"));
    dlg->percentageEdit()->setText(QStringLiteral("30"));
    dlg->Apply();
    dlg->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    EXPECT_EQ(finished, std::vector<bool>{false});
    EXPECT_EQ(command->CurrentDialog(), nullptr);
    EXPECT_TRUE(OpenDialogs().empty());

    const sim::RunoffMemory m = board->memory();
    EXPECT_EQ(m.modes[0], Tested);
    EXPECT_EQ(m.upper[0], 1000);
    EXPECT_EQ(m.range_max, 1500);
    const PageRecord p = Page(0);
    for (int c = 0; c < kChannels; ++c) {
        EXPECT_EQ(p.mask[c], Masked) << c;
    }
    EXPECT_EQ(p.upper[0], 1000);
    EXPECT_EQ(p.rangeMax, 1500);
    EXPECT_TRUE(messages.texts.isEmpty());
}

// The board stops answering while the dialog is open: OK keeps the new
// values in the page and tells the operator which board did not take them.
TEST_F(BaselineCommandTest, ABoardThatWentSilentIsReportedAndThePageKeepsTheEdits) {
    auto board = std::make_shared<sim::SimRunoffBoard>("borvane");
    board->edit([](sim::RunoffMemory& m) { m.range_max = 1500; });
    bus.plug(board);
    ClickHead(0, 0);
    ASSERT_EQ(opened.size(), 1u);
    CBaseLineDlg* dlg = Dialog();
    dlg->coordinateUpperEdit()->setText(QStringLiteral("1666"));
    board->set_silent(true);
    dlg->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    ASSERT_TRUE(WaitForFinish());
    EXPECT_EQ(finished, std::vector<bool>{true});
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(QStringLiteral("没有应答")))
        << messages.texts[0].toStdString();
    EXPECT_TRUE(messages.texts[0].contains(QStringLiteral("一拖一测试板")));
    EXPECT_EQ(Page(0).rangeMax, 1666);
    EXPECT_EQ(board->memory().range_max, 1500);
    EXPECT_EQ(command->LastReport().notAnswered, std::vector<FamilyId>{FamilyId::OneToOne});
    bus.unplug(board);  // so that closing does not wait on it
}

// A 10 x 10 master board: a head past the 64 pages is refused with a message
// and no dialog; the last head with a page still opens.
TEST_F(BaselineCommandTest, AHeadWithoutAPageIsRefusedWithAMessage) {
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->edit([](sim::MasterMemory& m) {
        m.rows = 10;
        m.columns = 10;
    });
    board->set_present_heads({0});
    board->assign(0, 0, 0, 0);
    bus.plug(board);
    ASSERT_EQ(bar->model().GetColumns(), 10);
    ClickHead(6, 4);
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(OpenDialogs().empty());
    ASSERT_EQ(messages.texts.size(), 1);
    EXPECT_TRUE(messages.texts[0].contains(QStringLiteral("只有前 64 个测试头")));

    ClickHead(6, 3);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(Dialog()->Exchange().selectedPage, 63);
}

// The store-back's first write has reached the master board: the channel
// modes of a head (command 0x31). The worker's reads and outputs are not.
bool ModesWriteArrived(const sim::SimMasterBoard& board) {
    const std::vector<Frame> frames = board.received_outputs();
    return std::any_of(frames.begin(), frames.end(),
                       [](const Frame& f) { return f[1] == 0x01 && f[2] == 0x29 && f[3] == 0x31; });
}

// The master board answers each report 20 ms late and falls silent once the
// store-back's first write has reached it, so the rest of the store-back
// waits out its read bound. It does so on the station's lane: every turn of
// the window's event loop stays short, a click meanwhile is refused with a
// message and opens no dialog, and the store-back ends with the message
// naming the board; the page keeps the edits.
TEST_F(BaselineCommandTest, MasterSilentDuringTheWritesTheWindowKeepsTickingAndAClickIsRefused) {
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->set_noise(0);
    board->edit([](sim::MasterMemory& m) {
        m.rows = 1;
        m.columns = 2;
    });
    board->set_present_heads({3, 5});
    board->assign(0, 0, 0, 3);
    board->assign(1, 0, 1, 5);
    bus.plug(board);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::Master);
    ClickHead(0, 1);
    ASSERT_EQ(opened.size(), 1u);
    CBaseLineDlg* dlg = Dialog();
    ASSERT_EQ(dlg->Exchange().selectedPage, 1);
    dlg->coordinateUpperEdit()->setText(QStringLiteral("1777"));

    board->set_reply_delay(std::chrono::milliseconds(20));
    board->clear_received();
    dlg->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    ASSERT_TRUE(command->StoreBackRunning());
    EXPECT_EQ(window.cursor().shape(), Qt::BusyCursor);
    EXPECT_TRUE(finished.empty());
    bool silent = false;
    bool clicked = false;
    const qint64 gap = test::LongestGapWhile([&] { return finished.empty(); },
                                             [&] {
                                                 if (!silent && ModesWriteArrived(*board)) {
                                                     board->set_silent(true);
                                                     silent = true;
                                                 }
                                                 if (!clicked && command->StoreBackRunning()) {
                                                     clicked = true;
                                                     ClickHead(0, 0);
                                                 }
                                             });
    std::cout << "longest gap between ticks: " << gap << " ms\n";
    EXPECT_LT(gap, test::kLongestAllowedGapMs);
    ASSERT_TRUE(WaitForFinish());
    EXPECT_TRUE(silent);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(finished, std::vector<bool>{true});
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(command->CurrentDialog(), nullptr);
    EXPECT_TRUE(OpenDialogs().empty());
    ASSERT_EQ(messages.texts.size(), 2) << messages.texts.join(u'|').toStdString();
    EXPECT_EQ(messages.texts[0], QStringLiteral("正在与设备通信，请稍候再试。"));
    EXPECT_TRUE(messages.texts[1].contains(QStringLiteral("没有应答")))
        << messages.texts[1].toStdString();
    EXPECT_TRUE(messages.texts[1].contains(QString::fromUtf8(FamilyName(FamilyId::Master))));
    EXPECT_EQ(command->LastReport().notAnswered, std::vector<FamilyId>{FamilyId::Master});
    EXPECT_EQ(Page(1).rangeMax, 1777);
    EXPECT_NE(window.cursor().shape(), Qt::BusyCursor);
    bus.unplug(board);  // so that closing does not wait on it
}

// Board work of another command on the station's lane: it ends when the
// test lets it go (or the lane stops), at most after 10 s. The flag is
// shared, as a test that stops early leaves the job to the fixture's close.
using Release = std::shared_ptr<std::atomic<bool>>;
BoardJobRunner::Job HoldLane(Release release) {
    return [release](const std::atomic<bool>& cancel) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!*release && !cancel && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
}

// While other board work runs on the lane (a connection, the about reads) a
// click opens no dialog and the operator is told; once it is done the dialog
// opens. Board work the lane takes while the dialog is open holds OK's
// store-back back until it is done, and the store-back then runs whole.
TEST_F(BaselineCommandTest, WhileTheLaneIsBusyAClickIsRefusedAndOkWaitsItsTurn) {
    auto board = std::make_shared<sim::SimRunoffBoard>("borvane");
    board->edit([](sim::RunoffMemory& m) { m.range_max = 1500; });
    bus.plug(board);
    ASSERT_EQ(core->ActiveFamily(), FamilyId::OneToOne);

    const Release firstDone = std::make_shared<std::atomic<bool>>(false);
    ASSERT_TRUE(core->Lane().Submit(HoldLane(firstDone)));
    ClickHead(0, 0);
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(OpenDialogs().empty());
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("正在与设备通信，请稍候再试。")});
    *firstDone = true;
    QElapsedTimer waited;
    waited.start();
    while (core->Lane().Busy() && waited.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_FALSE(core->Lane().Busy());

    ClickHead(0, 0);
    ASSERT_EQ(opened.size(), 1u);
    const Release secondDone = std::make_shared<std::atomic<bool>>(false);
    ASSERT_TRUE(core->Lane().Submit(HoldLane(secondDone)));
    Dialog()->coordinateUpperEdit()->setText(QStringLiteral("1666"));
    Dialog()->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    EXPECT_TRUE(command->StoreBackRunning());
    waited.restart();
    while (waited.elapsed() < 100) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(board->memory().range_max, 1500);
    *secondDone = true;
    ASSERT_TRUE(WaitForFinish());
    EXPECT_EQ(finished, std::vector<bool>{true});
    EXPECT_EQ(command->LastReport().written, std::vector<FamilyId>{FamilyId::OneToOne});
    EXPECT_EQ(board->memory().range_max, 1666);
    EXPECT_EQ(Page(0).rangeMax, 1666);
    EXPECT_EQ(messages.texts.size(), 1);
}

}  // namespace
}  // namespace kx

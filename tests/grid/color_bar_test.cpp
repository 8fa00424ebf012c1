// SPDX-License-Identifier: MIT
#include "grid/color_bar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QRegion>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "tests/support/channel_values.h"

namespace kx {
namespace {

using namespace grid_colors;

using test::Filled;

// The owner's form: a dialog with a placeholder frame where the grid goes,
// attached as the main window does with control 1000. The grid gets a client
// area of 321 x 801, so one head has channels 10 pixels wide and a bar area
// from row 3 to 657 (see grid_render_test.cpp).
class ColorBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        placeholder = new QFrame(&dialog);
        placeholder->setGeometry(0, 0, 321, 801);
        dialog.resize(321, 801);
        ASSERT_TRUE(bar->AttachToControl(1000, placeholder));
        dialog.show();
    }

    void Fill(int columns, int rows) {
        GridModel& m = bar->model();
        m.SetColumns(columns);
        m.SetRows(rows);
        ChannelModes tested{};
        tested.fill(Tested);
        for (int c = 0; c < columns; ++c) {
            for (int r = 0; r < rows; ++r) {
                m.SetRange(c, r, 654, 0);
                m.SetUpperLimits(c, r, Filled(454));
                m.SetLowerLimits(c, r, Filled(154));
                m.SetReference(c, r, Filled(400));
                m.SetChannelModes(c, r, tested);
                m.SetValues(c, r, Filled(300));
            }
        }
    }

    void Send(QEvent::Type type, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
        const QPointF local(x, y);
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease || type == QEvent::MouseMove
                ? Qt::NoButton
                : Qt::MouseButtons(button);
        QMouseEvent event(type, local, bar->mapToGlobal(local),
                          type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    }

    QWidget dialog;
    QFrame* placeholder = nullptr;
    CColorBar* bar = new CColorBar;  // owned by the dialog once attached
};

TEST_F(ColorBarTest, AttachTakesThePlaceholdersPlaceOnce) {
    EXPECT_TRUE(bar->IsAttached());
    EXPECT_EQ(bar->parentWidget(), &dialog);
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 321, 801));
    EXPECT_TRUE(placeholder->isHidden());
    EXPECT_EQ(bar->controlId(), 1000);
    // Already attached: nothing changes.
    QFrame other(&dialog);
    EXPECT_TRUE(bar->AttachToControl(1018, &other));
    EXPECT_EQ(bar->controlId(), 1000);
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 321, 801));

    // Into a layout: the grid replaces the placeholder in it.
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    auto* slot = new QFrame;
    layout->addWidget(slot);
    CColorBar* second = new CColorBar;
    EXPECT_TRUE(second->AttachToControl(1018, slot));
    EXPECT_EQ(layout->indexOf(second), 0);
    EXPECT_EQ(layout->indexOf(slot), -1);

    CColorBar loose;
    EXPECT_FALSE(loose.AttachToControl(1000, nullptr));
    QFrame orphan;
    EXPECT_FALSE(loose.AttachToControl(1000, &orphan));
    EXPECT_FALSE(loose.IsAttached());
    EXPECT_TRUE(loose.RepaintOffscreen().isNull()) << "nothing is drawn before attaching";
}

TEST_F(ColorBarTest, RepaintFollowsTheClientSize) {
    Fill(1, 1);
    EXPECT_EQ(bar->RepaintOffscreen().size(), QSize(321, 801));
    dialog.resize(641, 401);
    bar->resize(641, 401);
    EXPECT_EQ(bar->RepaintOffscreen().size(), QSize(641, 401));
}

TEST_F(ColorBarTest, ThreeDoubleClicksBringTheChannelBackToTested) {
    Fill(1, 1);
    Send(QEvent::MouseMove, 55, 300);  // channel 5
    bar->RepaintOffscreen();
    ASSERT_EQ(bar->model().GetHitChannel(), 5);

    struct Step {
        std::uint8_t mode;
        QRgb at500;  // 0: hatched column
    };
    const Step steps[] = {{Masked, 0}, {Greyed, kGreyedBar}, {Tested, kValueBar}};
    for (const Step& s : steps) {
        Send(QEvent::MouseButtonDblClick, 55, 300);
        Send(QEvent::MouseButtonRelease, 55, 300);
        EXPECT_EQ(bar->model().GetChannelMode(0, 0, 5), s.mode);
        const QImage& image = bar->RepaintOffscreen();
        if (s.at500 == 0) {
            EXPECT_EQ(image.pixel(53, 500), kFrame);
            const QRgb inside = image.pixel(55, 500);
            EXPECT_TRUE(inside == kHatch || inside == kBackground);
        } else {
            EXPECT_EQ(image.pixel(55, 500), s.at500);
        }
    }
    EXPECT_EQ(bar->model().GetChannelMode(0, 0, 4), Tested);
    EXPECT_EQ(bar->model().GetChannelMode(0, 0, 6), Tested);
}

TEST_F(ColorBarTest, DoubleClickUsesTheChannelOfTheLastRepaint) {
    Fill(1, 1);
    Send(QEvent::MouseMove, 55, 300);
    bar->RepaintOffscreen();
    // Straight onto channel 6 without a repaint in between: channel 5 changes.
    Send(QEvent::MouseButtonDblClick, 65, 300);
    EXPECT_EQ(bar->model().GetChannelMode(0, 0, 5), Masked);
    EXPECT_EQ(bar->model().GetChannelMode(0, 0, 6), Tested);
    // On channel 6's frame line the repaint keeps channel 5.
    Send(QEvent::MouseMove, 62, 300);
    bar->RepaintOffscreen();
    Send(QEvent::MouseButtonDblClick, 62, 300);
    EXPECT_EQ(bar->model().GetChannelMode(0, 0, 5), Greyed);
    EXPECT_EQ(bar->model().GetChannelMode(0, 0, 6), Tested);
}

TEST_F(ColorBarTest, ClickOnTheLastPixelGivesAHeadInsideTheGrid) {
    Fill(2, 2);
    int clicks = 0;
    int clickedId = 0;
    int column = -1;
    int row = -1;
    QObject::connect(bar, &CColorBar::clicked, [&](int id) {
        ++clicks;
        clickedId = id;
        column = bar->model().GetHitColumn();
        row = bar->model().GetHitRow();
    });
    Send(QEvent::MouseMove, 320, 800);
    bar->RepaintOffscreen();
    Send(QEvent::MouseButtonPress, 320, 800);
    Send(QEvent::MouseButtonRelease, 320, 800);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(clickedId, 1000);
    EXPECT_EQ(column, 1);
    EXPECT_EQ(row, 1);

    // A double click is one click for the owner, not two; other buttons and
    // a release outside the window are none.
    Send(QEvent::MouseButtonPress, 10, 10);
    Send(QEvent::MouseButtonRelease, 10, 10);
    Send(QEvent::MouseButtonDblClick, 10, 10);
    Send(QEvent::MouseButtonRelease, 10, 10);
    Send(QEvent::MouseButtonPress, 10, 10, Qt::RightButton);
    Send(QEvent::MouseButtonRelease, 10, 10, Qt::RightButton);
    Send(QEvent::MouseButtonPress, 10, 10);
    Send(QEvent::MouseButtonRelease, 400, 10);
    EXPECT_EQ(clicks, 2);
}

TEST_F(ColorBarTest, RepaintTimerKeepsThePlatformMinimum) {
    struct Case {
        int period;
        bool run;
        bool active;
        int interval;
    };
    const Case cases[] = {{1, true, true, 10},
                          {25, true, true, 25},
                          {0, true, true, 10},
                          {-5, true, true, 10},
                          {25, false, false, -1}};
    for (const Case& c : cases) {
        bar->SetRepaintTimer(c.period, c.run);
        EXPECT_EQ(bar->repaintTimer().isActive(), c.active) << c.period;
        if (c.active) {
            EXPECT_EQ(bar->repaintTimer().interval(), c.interval) << c.period;
        }
    }
}

TEST_F(ColorBarTest, OnlyTimerTicksRepaintAndJudgeTheGrid) {
    Fill(1, 1);
    QApplication::processEvents();  // whatever showing the window paints
    ASSERT_EQ(bar->model().GetFailCount(), 0);

    // Pushing data and resizing the grid request no repaint.
    bar->model().SetValues(0, 0, Filled(600));
    bar->model().SetColumns(1);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 100) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(bar->model().GetFailCount(), 0);

    bar->SetRepaintTimer(1, true);
    clock.restart();
    while (bar->model().GetFailCount() != 1 && clock.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(bar->model().GetFailCount(), 1);
    bar->SetRepaintTimer(1, false);
}

// Counts the paint events a widget receives and the pixels they ask for.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            region += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
    int paints = 0;
    QRegion region;
};

void RunEventLoop(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

TEST_F(ColorBarTest, StillDataAreJudgedEveryTickButNotPainted) {
    // Two heads side by side: no "PASS" overlay comes or goes with a verdict.
    Fill(2, 1);
    PaintCounter counter;
    bar->installEventFilter(&counter);
    bar->SetRepaintTimer(10, true);
    RunEventLoop(100);  // the first paint of the window

    // The worker keeps handing over the same data: ticks judge, nothing is
    // drawn or copied to the screen.
    QTimer worker;
    worker.setInterval(1);
    QObject::connect(&worker, &QTimer::timeout, [&] { Fill(2, 1); });
    worker.start();
    counter.paints = 0;
    counter.region = QRegion();
    RunEventLoop(300);
    EXPECT_EQ(counter.paints, 0);
    ASSERT_EQ(bar->model().GetFailCount(), 0);

    // One channel of head (1, 0) goes over its limit: the next ticks judge
    // it and only that head's part of the window is painted.
    worker.stop();
    bar->model().SetValues(1, 0, Filled(600));
    QElapsedTimer clock;
    clock.start();
    while ((bar->model().GetFailCount() != 1 || counter.paints == 0) && clock.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_EQ(bar->model().GetFailCount(), 1);
    EXPECT_GT(counter.paints, 0);
    // Head (1, 0) covers x 161 .. 319 of the 321 x 801 window.
    const QRect painted = counter.region.boundingRect();
    EXPECT_GE(painted.left(), 161);
    EXPECT_LE(painted.right(), 319);
    EXPECT_FALSE(painted.isEmpty());
    bar->SetRepaintTimer(10, false);
}

}  // namespace
}  // namespace kx

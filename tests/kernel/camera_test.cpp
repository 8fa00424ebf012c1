// SPDX-License-Identifier: MIT
// The camera window on a real kernel: the kernel's virtual camera driver
// (vivid) gives the guest a real V4L2 capture node, which Qt Multimedia finds
// through GStreamer and udev as it would a USB camera. The window lists it,
// opens it, shows its test pattern, and lets go of the node when it closes.
// Runs as root in the guest of tests/kernel/run-in-guest; tests/kernel/lane.sh
// starts it. The screenshot is left in the working directory
// (BUILD_DIR/kernel-lane/camera-window.png).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCamera>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "capture/capture_video.h"
#include "capture/capture_window_toggle.h"
#include "capture/dialog_cap_view.h"
#include "capture/window_grab.h"
#include "tests/support/message_recorder.h"

namespace kx {
namespace {

// Under emulation the first frame takes seconds (the pipeline is built, the
// format negotiated, the pixels converted on the processor); a camera that
// streams at all streams well within this.
constexpr int kBoundMs = 30000;

// One capture node, no output, radio, SDR or touch nodes.
constexpr const char* kLoadDriver = "modprobe vivid n_devs=1 node_types=0x1";

// The capture node the driver made, found by its name in sysfs.
QString g_node;

class CameraEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(geteuid(), 0u) << "needs root (run this program through tests/kernel/lane.sh)";
        ASSERT_EQ(std::system(kLoadDriver), 0) << kLoadDriver;
        // The node's udev properties (ID_V4L_CAPABILITIES) are what
        // GStreamer's device monitor lists cameras by.
        ASSERT_EQ(std::system("udevadm settle --timeout=30"), 0);
        const QDir sysfs(QStringLiteral("/sys/class/video4linux"));
        for (const QString& entry : sysfs.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile name(sysfs.filePath(entry) + QStringLiteral("/name"));
            if (name.open(QIODevice::ReadOnly) && name.readAll().startsWith("vivid")) {
                g_node = QStringLiteral("/dev/") + entry;
            }
        }
        ASSERT_FALSE(g_node.isEmpty()) << "vivid made no video node";
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CameraEnvironment);

// Runs the event loop until `done` holds or `ms` have passed; whether it held.
bool RunUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= ms) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

struct Frames {
    int count = 0;
    qint64 ms = 0;  // from the start of counting to the last frame counted
    QSize size;     // the picture size of the last frame
};

// Counts the frames that arrive in the preview's sink until `wanted` have
// come or the bound has passed. The sink announces them on the streaming
// thread; they are counted here, on this one.
Frames CountFrames(QVideoSink* sink, int wanted) {
    Frames frames;
    if (sink == nullptr) {
        ADD_FAILURE() << "the preview has no video sink";
        return frames;
    }
    QElapsedTimer clock;
    clock.start();
    QObject counter;
    QObject::connect(
        sink, &QVideoSink::videoFrameChanged, &counter,
        [&](const QVideoFrame& frame) {
            if (frame.isValid()) {
                ++frames.count;
                frames.ms = clock.elapsed();
                frames.size = frame.size();
            }
        },
        Qt::QueuedConnection);
    RunUntil([&] { return frames.count >= wanted; }, kBoundMs);
    return frames;
}

// Whether this process has the character device `node` open.
bool Holds(const QString& node) {
    struct stat device {};
    if (stat(qPrintable(node), &device) != 0) {
        ADD_FAILURE() << "no " << qPrintable(node);
        return false;
    }
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        struct stat open {};
        if (stat(qPrintable(fds.filePath(fd)), &open) == 0 && S_ISCHR(open.st_mode) &&
            open.st_rdev == device.st_rdev) {
            return true;
        }
    }
    return false;
}

// The window's client area in the screenshot where the picture is drawn: the
// video widget's area, narrowed to the picture's shape, centred.
QRect PictureRect(CDialogCapView& dialog, QSize picture) {
    QVideoWidget* video = dialog.capture().VideoWindow();
    if (video == nullptr || picture.isEmpty()) {
        return {};
    }
    const QSize shown = picture.scaled(video->size(), Qt::KeepAspectRatio);
    QRect r(QPoint(0, 0), shown);
    r.moveCenter(QRect(video->mapTo(&dialog, QPoint(0, 0)), video->size()).center());
    return r;
}

TEST(RealCamera, WindowListsOpensAndShowsTheDriversPicture) {
    test::MessageRecorder messages;

    // The list the window fills.
    {
        CCaptureVideo engine;
        QComboBox list;
        // The first listing in this process. (Qt 6.4 lists the camera a
        // second time once its device monitor's first message has been
        // handled by the event loop; the window opens the first entry.)
        EXPECT_EQ(engine.EnumDevices(&list), 1);
        ASSERT_EQ(list.count(), 1);
        EXPECT_TRUE(list.itemText(0).contains(QStringLiteral("vivid")))
            << qPrintable(list.itemText(0));
    }

    // The window as the main window's entry opens it.
    CaptureWindowToggle window;
    window.Toggle();
    CDialogCapView* dialog = window.Dialog();
    ASSERT_NE(dialog, nullptr);
    CCaptureVideo& capture = dialog->capture();
    EXPECT_TRUE(capture.BoundDevice().contains(QStringLiteral("vivid")));
    ASSERT_NE(capture.Camera(), nullptr);

    const Frames frames = CountFrames(capture.VideoSink(), 10);
    std::printf("camera: %d frames of %dx%d in %lld ms (format chosen: %dx%d)\n", frames.count,
                frames.size.width(), frames.size.height(), frames.ms, capture.FrameSize().width(),
                capture.FrameSize().height());
    EXPECT_GE(frames.count, 10) << "within " << kBoundMs << " ms";
    EXPECT_TRUE(capture.Camera()->isActive());
    EXPECT_EQ(frames.size, capture.FrameSize());

    // The driver's default picture: eight colour bars at 75 % (white,
    // yellow, cyan, green, magenta, red, blue, black) under a few lines of
    // text at the top. Each bar is probed at its middle, low in the picture.
    // A last moment lets the newest frame reach the window.
    RunUntil([] { return false; }, 300);
    const QImage shot = GrabWindow(dialog);
    ASSERT_FALSE(shot.isNull());
    const QString file = QDir::current().filePath(QStringLiteral("camera-window.png"));
    EXPECT_TRUE(shot.save(file, "PNG")) << qPrintable(file);
    std::printf("screenshot: %s (%dx%d)\n", qPrintable(file), shot.width(), shot.height());

    const QRect picture = PictureRect(*dialog, frames.size);
    ASSERT_FALSE(picture.isEmpty());
    ASSERT_TRUE(shot.rect().contains(picture));
    // Red, green, blue on (1) or off (0) in each bar.
    constexpr std::array<std::array<int, 3>, 8> kBars{{
        {1, 1, 1},
        {1, 1, 0},
        {0, 1, 1},
        {0, 1, 0},
        {1, 0, 1},
        {1, 0, 0},
        {0, 0, 1},
        {0, 0, 0},
    }};
    for (int bar = 0; bar < 8; ++bar) {
        const QPoint at(picture.left() + picture.width() * (2 * bar + 1) / 16,
                        picture.top() + picture.height() * 3 / 4);
        const QColor c = shot.pixelColor(at);
        const std::array<int, 3> rgb{c.red(), c.green(), c.blue()};
        for (int k = 0; k < 3; ++k) {
            // 75 % is about 191; the conversion from the camera's pixels and
            // the scaling leave some room either way.
            if (kBars[bar][k] == 1) {
                EXPECT_GE(rgb[k], 140) << "bar " << bar << " at " << at.x() << "," << at.y()
                                       << " is " << qPrintable(c.name());
            } else {
                EXPECT_LE(rgb[k], 60) << "bar " << bar << " at " << at.x() << "," << at.y()
                                      << " is " << qPrintable(c.name());
            }
        }
    }

    window.Toggle();
    EXPECT_EQ(window.Dialog(), nullptr);
    EXPECT_TRUE(messages.texts.isEmpty()) << qPrintable(messages.texts.join(QLatin1Char('\n')));
}

// Closed from the menu entry or with the window's own close button, the
// window lets go of the node, and the next window streams again.
TEST(RealCamera, EveryCloseReleasesTheCameraForTheNextWindow) {
    test::MessageRecorder messages;
    CaptureWindowToggle window;
    for (const bool byOperator : {false, true}) {
        SCOPED_TRACE(byOperator ? "closed by its close button" : "closed from the menu entry");
        window.Toggle();
        ASSERT_NE(window.Dialog(), nullptr);
        const Frames frames = CountFrames(window.Dialog()->capture().VideoSink(), 3);
        std::printf("camera: %d frames in %lld ms\n", frames.count, frames.ms);
        EXPECT_GE(frames.count, 3) << "within " << kBoundMs << " ms";
        EXPECT_TRUE(Holds(g_node)) << "streaming without the node open";

        if (byOperator) {
            window.Dialog()->close();
            // The window is deleted once its close has returned.
            EXPECT_TRUE(
                RunUntil([&] { return window.Dialog() == nullptr && !Holds(g_node); }, kBoundMs));
            EXPECT_FALSE(window.IsShown());
        } else {
            window.Toggle();
            EXPECT_FALSE(Holds(g_node)) << "still open after the window was deleted";
        }
    }
    EXPECT_TRUE(messages.texts.isEmpty()) << qPrintable(messages.texts.join(QLatin1Char('\n')));
}

}  // namespace
}  // namespace kx

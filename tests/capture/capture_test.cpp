// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVideoWidget>
#include <vector>

#include "capture/capture_video.h"
#include "capture/capture_window_toggle.h"
#include "capture/dialog_cap_view.h"
#include "capture/media_backend.h"
#include "ui/message_box.h"

namespace kx {
namespace {

const QString kNoInterfaces = QStringLiteral("Failed to get video interfaces!");
const QString kNoGraph = QStringLiteral("Can\u2019t build the graph");

// Answers every message box and keeps what was asked.
class MessageLog {
public:
    MessageLog()
        : handler_([this](const MessageRequest& r) {
              requests.push_back(r);
              return QMessageBox::Ok;
          }) {}

    QStringList Texts() const {
        QStringList texts;
        for (const MessageRequest& r : requests) {
            texts << r.text;
        }
        return texts;
    }

    std::vector<MessageRequest> requests;

private:
    ScopedMessageHandler handler_;
};

// A camera system of made-up inputs, in the order given, that counts how
// often its list is read. The inputs have no device behind them.
struct FakeSystem {
    bool backend = true;
    QStringList descriptions;
    int listed = 0;

    CaptureSystem Make() {
        return CaptureSystem{
            [this] { return backend; },
            [this] {
                ++listed;
                QList<CaptureInput> inputs;
                for (const QString& d : descriptions) {
                    inputs.append(CaptureInput{d, QCameraDevice()});
                }
                return inputs;
            },
        };
    }
};

void ProcessDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

bool CameraWindowOpen() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle() == QStringLiteral("摄像头抓取") && w->isVisible()) {
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// The media backend check.

QString QtMediaPlugin(const char* name) {
    return QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/multimedia/") +
           QLatin1StringView(name);
}

// A plugin folder of its own: "multimedia" holds what each case puts there.
class PluginFolder {
public:
    PluginFolder() { QDir(dir_.path()).mkpath(QStringLiteral("multimedia")); }
    QString path() const { return dir_.path(); }

    void Link(const QString& target, const QString& name) {
        ASSERT_TRUE(QFile::link(target, Multimedia(name))) << qPrintable(target);
    }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile f(Multimedia(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private:
    QString Multimedia(const QString& name) const {
        return dir_.path() + QStringLiteral("/multimedia/") + name;
    }
    QTemporaryDir dir_;
};

TEST(MediaBackendTest, ThisMachineHasOne) {
    EXPECT_TRUE(MediaBackendLoads(QCoreApplication::libraryPaths(), QString()));
}

TEST(MediaBackendTest, OnlyAMediaPluginThatLoadsCounts) {
    const QString gstreamer = QtMediaPlugin("libgstreamermediaplugin.so");
    const QString offscreen = QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                              QStringLiteral("/platforms/libqoffscreen.so");
    if (!QFile::exists(gstreamer) || !QFile::exists(offscreen)) {
        GTEST_SKIP() << "Qt's GStreamer media plugin is not installed";
    }
    struct Case {
        const char* name;
        bool junk;      // a file that only looks like a library
        bool platform;  // a Qt plugin of another kind
        bool broken;    // a media plugin that cannot be loaded
        bool real;      // Qt's GStreamer media plugin
        const char* requested;
        bool expected;
    };
    const Case cases[] = {
        {"empty folder", false, false, false, false, "", false},
        {"junk only", true, false, false, false, "", false},
        {"another kind of plugin", false, true, false, false, "", false},
        {"broken media plugin", false, false, true, false, "", false},
        {"the real one", true, true, false, true, "", true},
        {"the real one asked for", false, false, false, true, "gstreamer", true},
        {"asked for in other case", false, false, false, true, "GStreamer", true},
        {"asked for one that is missing", false, false, false, true, "nosuch", false},
        // Qt could take either, and ends the process on the broken one.
        {"real and broken", false, false, true, true, "", false},
        {"real asked for beside broken", false, false, true, true, "gstreamer", true},
        {"broken asked for", false, false, true, true, "broken", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PluginFolder folder;
        if (c.junk) {
            folder.Write(QStringLiteral("libjunk.so"), "not a library");
        }
        if (c.platform) {
            folder.Link(offscreen, QStringLiteral("libqoffscreen.so"));
        }
        if (c.broken) {
            folder.Link(QStringLiteral(KX_BROKEN_MEDIA_PLUGIN),
                        QStringLiteral("libbrokenmediaplugin.so"));
        }
        if (c.real) {
            folder.Link(gstreamer, QStringLiteral("libgstreamermediaplugin.so"));
        }
        EXPECT_EQ(MediaBackendLoads({folder.path()}, QString::fromLatin1(c.requested)), c.expected);
    }
    EXPECT_FALSE(MediaBackendLoads({}, QString()));
    EXPECT_FALSE(MediaBackendLoads({QStringLiteral("/nonexistent/plugins")}, QString()));
}

// A whole process on a station whose backend cannot be loaded: Qt would end
// it on the first camera class; the camera window opens empty instead.
TEST(MediaBackendTest, WindowOpensWithoutBackendInAProcessOfItsOwn) {
    QProcess check;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_MEDIA_BACKEND"), QStringLiteral("nosuch"));
    check.setProcessEnvironment(env);
    check.start(QStringLiteral(KX_CAMERA_CHECK), {});
    ASSERT_TRUE(check.waitForFinished(60000));
    const QString out = QString::fromUtf8(check.readAllStandardOutput());
    EXPECT_EQ(check.exitStatus(), QProcess::NormalExit) << qPrintable(out);
    EXPECT_EQ(check.exitCode(), 0) << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("media backend: absent\nvideo inputs: 0\n")))
        << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("message: Failed to get video interfaces!\n")))
        << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("opened: none\n"))) << qPrintable(out);
    EXPECT_TRUE(out.endsWith(QStringLiteral("camera window closed\n"))) << qPrintable(out);
}

// ---------------------------------------------------------------------------
// The engine.

TEST(CaptureVideoTest, EnumDevicesListsInputsInTheSystemsOrder) {
    FakeSystem system{true, {QStringLiteral("Zeta HD"), QStringLiteral("Alpha USB")}};
    CCaptureVideo capture(system.Make());
    QComboBox combo;
    EXPECT_EQ(capture.EnumDevices(&combo), 2);
    ASSERT_EQ(combo.count(), 2);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("Zeta HD"));
    EXPECT_EQ(combo.itemText(1), QStringLiteral("Alpha USB"));
    EXPECT_EQ(capture.EnumDevices(nullptr), -1);
}

TEST(CaptureVideoTest, EnumDevicesWithoutInputsOrBackend) {
    QComboBox combo;
    FakeSystem none{true, {}};
    EXPECT_EQ(CCaptureVideo(none.Make()).EnumDevices(&combo), -1);

    // Without a backend the list is not even read.
    FakeSystem noBackend{false, {QStringLiteral("Zeta HD")}};
    EXPECT_EQ(CCaptureVideo(noBackend.Make()).EnumDevices(&combo), -1);
    EXPECT_EQ(noBackend.listed, 0);
    EXPECT_EQ(combo.count(), 0);
}

TEST(CaptureVideoTest, NoInputNoMessage) {
    MessageLog log;
    QFrame host;
    host.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    host.resize(200, 150);
    for (int index : {0, -1}) {
        SCOPED_TRACE(index);
        FakeSystem none{true, index < 0 ? QStringList{QStringLiteral("Zeta HD")} : QStringList{}};
        CCaptureVideo capture(none.Make());
        EXPECT_EQ(capture.Init(index, &host), CCaptureVideo::kNoDevice);
        EXPECT_TRUE(capture.BoundDevice().isEmpty());
        EXPECT_EQ(capture.Camera(), nullptr);
        // The video window exists, hidden, and already fits the host.
        ASSERT_NE(capture.VideoWindow(), nullptr);
        EXPECT_EQ(capture.VideoWindow()->parentWidget(), &host);
        EXPECT_FALSE(capture.VideoWindow()->isVisibleTo(&host));
        host.resize(320, 240);
        capture.ResizeVideoWindow();
        EXPECT_EQ(capture.VideoWindow()->geometry(), host.contentsRect());
    }
    EXPECT_TRUE(log.requests.empty()) << qPrintable(log.Texts().join(u'|'));
}

TEST(CaptureVideoTest, ThisMachinesCamerasWithoutCameraSayNothing) {
    const CaptureSystem system = SystemCapture();
    if (!system.inputs().isEmpty()) {
        GTEST_SKIP() << "this machine has a camera";
    }
    MessageLog log;
    QWidget host;
    CCaptureVideo capture;
    QComboBox combo;
    EXPECT_EQ(capture.EnumDevices(&combo), -1);
    EXPECT_EQ(capture.Init(0, &host), CCaptureVideo::kNoDevice);
    EXPECT_TRUE(log.requests.empty()) << qPrintable(log.Texts().join(u'|'));
}

TEST(CaptureVideoTest, NoBackendOrNoHostIsOneMessageAndNothingMade) {
    QWidget window;
    auto* host = new QWidget(&window);
    FakeSystem noBackend{false, {QStringLiteral("Zeta HD")}};
    FakeSystem present{true, {QStringLiteral("Zeta HD")}};
    struct Case {
        const char* name;
        FakeSystem* system;
        QWidget* host;
    };
    for (const Case& c :
         {Case{"no backend", &noBackend, host}, Case{"no host", &present, nullptr}}) {
        SCOPED_TRACE(c.name);
        MessageLog log;
        CCaptureVideo capture(c.system->Make());
        EXPECT_EQ(capture.Init(0, c.host), CCaptureVideo::kNoVideoInterfaces);
        EXPECT_EQ(log.Texts(), QStringList{kNoInterfaces});
        EXPECT_EQ(capture.VideoWindow(), nullptr);
        EXPECT_EQ(c.system->listed, 0);
        capture.ResizeVideoWindow();  // nothing to fit
    }
    // The box belongs to the host's window and carries the program's name.
    MessageLog log;
    CCaptureVideo(noBackend.Make()).Init(0, host);
    ASSERT_EQ(log.requests.size(), 1U);
    EXPECT_EQ(log.requests[0].owner, &window);
    EXPECT_EQ(log.requests[0].caption, QGuiApplication::applicationDisplayName());
    EXPECT_EQ(log.requests[0].buttons, QMessageBox::Ok);
}

TEST(CaptureVideoTest, BindsByPositionInTheSystemsOrder) {
    struct Case {
        int index;
        const char* bound;
    };
    // Made-up inputs have no camera behind them, so the graph cannot be
    // built; which one was bound shows the choice.
    for (const Case& c : {Case{0, "Zeta HD"}, Case{1, "Alpha USB"}, Case{2, ""}}) {
        SCOPED_TRACE(c.index);
        MessageLog log;
        QWidget host;
        FakeSystem system{true, {QStringLiteral("Zeta HD"), QStringLiteral("Alpha USB")}};
        CCaptureVideo capture(system.Make());
        EXPECT_EQ(capture.Init(c.index, &host), CCaptureVideo::kNoCamera);
        EXPECT_EQ(capture.BoundDevice(), QString::fromUtf8(c.bound));
        EXPECT_EQ(log.Texts(), QStringList{kNoGraph});
    }
}

TEST(CaptureVideoTest, SecondInitAndDestructionReleaseThePreview) {
    QWidget host;
    FakeSystem none{true, {}};
    QPointer<QVideoWidget> first;
    {
        CCaptureVideo capture(none.Make());
        capture.Init(0, &host);
        first = capture.VideoWindow();
        ASSERT_NE(first, nullptr);
        capture.Init(0, &host);
        EXPECT_EQ(first, nullptr);
        EXPECT_EQ(host.findChildren<QVideoWidget*>().size(), 1);
    }
    EXPECT_TRUE(host.findChildren<QVideoWidget*>().isEmpty());
}

// ---------------------------------------------------------------------------
// The camera window.

TEST(DialogCapViewTest, ShowsOnlyTheBlackPreviewAndSaysThereIsNoCamera) {
    MessageLog log;
    FakeSystem none{true, {}};
    CDialogCapView dialog(nullptr, none.Make());
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("摄像头抓取"));
    EXPECT_FALSE(dialog.isModal());
    EXPECT_TRUE(dialog.preview()->isVisible());
    EXPECT_FALSE(dialog.devices()->isVisible());
    for (const char* name : {"ok", "cancel", "init"}) {
        auto* button = dialog.findChild<QPushButton*>(QLatin1StringView(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_FALSE(button->isVisible()) << name;
    }
    EXPECT_TRUE(dialog.rect().contains(dialog.preview()->geometry()));
    // The notice is drawn inside the black frame, light on black; no
    // message box.
    ASSERT_NE(dialog.noCameraNotice(), nullptr);
    EXPECT_TRUE(dialog.noCameraNotice()->isVisible());
    EXPECT_TRUE(dialog.noCameraNotice()->text().startsWith(QStringLiteral("未检测到摄像头\n")));
    EXPECT_TRUE(dialog.noCameraNotice()->text().contains(QStringLiteral("重新打开此窗口")));
    dialog.resize(700, 500);
    EXPECT_EQ(dialog.noCameraNotice()->geometry(), dialog.preview()->contentsRect());
    const QImage shot = dialog.preview()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(3, 3), QColor(Qt::black));
    int light = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            light += shot.pixelColor(x, y).lightness() > 128;
        }
    }
    EXPECT_GT(light, 100) << "the notice's text is drawn";
    EXPECT_TRUE(log.requests.empty()) << qPrintable(log.Texts().join(u'|'));
}

TEST(DialogCapViewTest, OpensTheSystemsFirstCameraWhateverTheListShowsFirst) {
    MessageLog log;
    FakeSystem system{true, {QStringLiteral("Zeta HD"), QStringLiteral("Alpha USB")}};
    CDialogCapView dialog(nullptr, system.Make());
    ASSERT_EQ(dialog.devices()->count(), 2);
    EXPECT_EQ(dialog.devices()->itemText(0), QStringLiteral("Alpha USB"));
    EXPECT_EQ(dialog.devices()->currentIndex(), 0);
    EXPECT_EQ(dialog.capture().BoundDevice(), QStringLiteral("Zeta HD"));
    EXPECT_FALSE(dialog.noCameraNotice()->isVisible());
    EXPECT_EQ(log.Texts(), QStringList{kNoGraph});  // made-up: no camera behind it
}

TEST(DialogCapViewTest, ResizingKeepsThePreviewInsideWithItsMargins) {
    MessageLog log;
    FakeSystem none{true, {}};
    CDialogCapView dialog(nullptr, none.Make());
    dialog.show();
    QVideoWidget* video = dialog.capture().VideoWindow();
    ASSERT_NE(video, nullptr);
    const QSize sizes[] = {{437, 366}, {800, 600}, {300, 200}, {1200, 150}, {15, 12}};
    for (const QSize& size : sizes) {
        SCOPED_TRACE(qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
        dialog.resize(size);
        QCoreApplication::processEvents();
        ASSERT_EQ(dialog.size(), size);
        const QRect frame = dialog.preview()->geometry();
        EXPECT_EQ(frame.topLeft(), QPoint(CDialogCapView::kMarginLeft, CDialogCapView::kMarginTop));
        EXPECT_EQ(frame.width(), std::max(0, size.width() - CDialogCapView::kMarginLeft -
                                                 CDialogCapView::kMarginRight));
        EXPECT_EQ(frame.height(), std::max(0, size.height() - CDialogCapView::kMarginTop -
                                                  CDialogCapView::kMarginBottom));
        if (!frame.isEmpty()) {
            EXPECT_TRUE(dialog.rect().contains(frame));
        }
        const QRect inside = dialog.preview()->contentsRect();
        if (inside.isValid()) {
            EXPECT_EQ(video->geometry(), inside);
        } else {
            EXPECT_TRUE(video->geometry().isEmpty());
        }
    }
}

// ---------------------------------------------------------------------------
// The main window's entry.

TEST(CaptureWindowToggleTest, TogglingTwiceOpensAndClosesWithTheCheckMark) {
    MessageLog log;
    FakeSystem none{true, {}};
    CaptureWindowToggle toggle(none.Make());
    std::vector<bool> shown;
    QObject::connect(&toggle, &CaptureWindowToggle::shownChanged,
                     [&shown](bool s) { shown.push_back(s); });
    QAction entry(QStringLiteral("创建视频窗口"));
    QObject::connect(&entry, &QAction::triggered, &toggle, &CaptureWindowToggle::Toggle);

    toggle.UpdateAction(&entry);
    EXPECT_FALSE(toggle.IsShown());
    EXPECT_FALSE(entry.isChecked());
    EXPECT_TRUE(entry.isCheckable());
    EXPECT_EQ(toggle.Dialog(), nullptr);

    entry.trigger();
    toggle.UpdateAction(&entry);
    EXPECT_TRUE(toggle.IsShown());
    EXPECT_TRUE(entry.isChecked());
    EXPECT_TRUE(entry.isEnabled());
    QPointer<CDialogCapView> dialog = toggle.Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->parentWidget(), nullptr);
    EXPECT_TRUE(CameraWindowOpen());

    entry.trigger();
    toggle.UpdateAction(&entry);
    EXPECT_FALSE(toggle.IsShown());
    EXPECT_FALSE(entry.isChecked());
    EXPECT_EQ(dialog, nullptr);
    EXPECT_EQ(toggle.Dialog(), nullptr);
    EXPECT_FALSE(CameraWindowOpen());

    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
    EXPECT_TRUE(log.requests.empty());
}

TEST(CaptureWindowToggleTest, ClosingTheWindowItselfClearsTheCheckMark) {
    MessageLog log;
    FakeSystem none{true, {}};
    CaptureWindowToggle toggle(none.Make());
    toggle.Toggle();
    QPointer<CDialogCapView> dialog = toggle.Dialog();
    ASSERT_NE(dialog, nullptr);

    dialog->close();  // the title bar's close button, or Escape
    EXPECT_FALSE(toggle.IsShown());
    EXPECT_EQ(toggle.Dialog(), nullptr);
    ProcessDeferredDeletes();
    EXPECT_EQ(dialog, nullptr);

    // The next selection opens a new window at once.
    toggle.Toggle();
    EXPECT_TRUE(toggle.IsShown());
    ASSERT_NE(toggle.Dialog(), nullptr);
    EXPECT_TRUE(toggle.Dialog()->isVisible());
}

TEST(CaptureWindowToggleTest, DestroyingTheToggleClosesTheWindow) {
    MessageLog log;
    FakeSystem none{true, {}};
    QPointer<CDialogCapView> dialog;
    {
        CaptureWindowToggle toggle(none.Make());
        toggle.Toggle();
        dialog = toggle.Dialog();
        ASSERT_NE(dialog, nullptr);
    }
    EXPECT_EQ(dialog, nullptr);
    EXPECT_FALSE(CameraWindowOpen());
}

}  // namespace
}  // namespace kx

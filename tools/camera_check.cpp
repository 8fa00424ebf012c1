// SPDX-License-Identifier: MIT
// kaldrix-camera-check: opens the camera window as the main window's
// "创建视频窗口" entry does and reports what came of it, for a machine with a
// real or virtual camera and no person at it.
//
//   kaldrix-camera-check [--frames N] [--wait-ms T] [--screenshot FILE]
//
// Prints whether a media backend loads, the video inputs in the system's
// order, the input the window opened and whether its camera runs. With
// --frames it waits up to T ms (default 5000) for N frames to reach the
// preview; with --screenshot it writes the window as a PNG file. Message
// boxes are printed instead of shown.
//
// Exit status: 0 done, 1 bad arguments, 2 fewer frames than asked for,
// 3 the screenshot could not be written.
#include <QApplication>
#include <QCamera>
#include <QElapsedTimer>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <cstdio>
#include <memory>
#include <optional>

#include "capture/capture_video.h"
#include "capture/capture_window_toggle.h"
#include "capture/dialog_cap_view.h"
#include "capture/media_backend.h"
#include "capture/window_grab.h"
#include "ui/language.h"
#include "ui/message_box.h"

namespace {

struct Options {
    int frames = 0;
    int waitMs = 5000;
    QString screenshot;
};

std::optional<Options> Parse(const QStringList& args) {
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (a == QLatin1StringView("--frames") && hasValue) {
            o.frames = args[++i].toInt(&ok);
            ok = ok && o.frames >= 0;
        } else if (a == QLatin1StringView("--wait-ms") && hasValue) {
            o.waitMs = args[++i].toInt(&ok);
            ok = ok && o.waitMs >= 0;
        } else if (a == QLatin1StringView("--screenshot") && hasValue) {
            o.screenshot = args[++i];
        } else {
            ok = false;
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    return o;
}

void Print(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// Lets the event loop run for `ms`, or until `done` says so.
template <typename Done>
void RunFor(int ms, Done done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QTimer wait;
        wait.setSingleShot(true);
        QEventLoop loop;
        QObject::connect(&wait, &QTimer::timeout, &loop, &QEventLoop::quit);
        wait.start(10);
        loop.exec();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::optional<Options> options = Parse(QApplication::arguments());
    if (!options) {
        std::fputs("usage: kaldrix-camera-check [--frames N] [--wait-ms T] [--screenshot FILE]\n",
                   stderr);
        return 1;
    }
    // The window's texts in the language KALDRIX_LANG asks for, as the
    // station shows them.
    if (!kx::InstallLanguage(kx::ChooseLanguage(std::nullopt, qgetenv("KALDRIX_LANG")))) {
        std::fputs("kaldrix-camera-check: a translation could not be loaded\n", stderr);
    }

    kx::ScopedMessageHandler messages([](const kx::MessageRequest& request) {
        Print(QStringLiteral("message: ") + request.text);
        return QMessageBox::Ok;
    });

    const kx::CaptureSystem system = kx::SystemCapture();
    const bool backend = system.backendPresent();
    Print(QStringLiteral("media backend: ") +
          (backend ? QStringLiteral("present") : QStringLiteral("absent")));
    const QList<kx::CaptureInput> inputs = system.inputs();
    Print(QStringLiteral("video inputs: %1").arg(inputs.size()));
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        Print(QStringLiteral("  %1: %2").arg(i).arg(inputs[i].description));
    }

    int status = 0;
    {
        kx::CaptureWindowToggle window(system);
        window.Toggle();
        kx::CDialogCapView* dialog = window.Dialog();
        kx::CCaptureVideo& capture = dialog->capture();
        const QString bound = capture.BoundDevice();
        Print(QStringLiteral("opened: ") + (bound.isEmpty() ? QStringLiteral("none") : bound));

        // Counted on this thread from the sink's signal; the station itself
        // connects nothing to the frames. Each queued call holds its frame,
        // and a frame held when the camera stops keeps the device open: the
        // counter goes, with the calls still queued for it, before the window
        // closes.
        int frames = 0;
        auto counter = std::make_unique<QObject>();
        if (QVideoSink* sink = capture.VideoSink(); sink != nullptr) {
            QObject::connect(
                sink, &QVideoSink::videoFrameChanged, counter.get(),
                [&frames](const QVideoFrame& frame) { frames += frame.isValid() ? 1 : 0; },
                Qt::QueuedConnection);
        }
        RunFor(options->frames > 0 ? options->waitMs : 300,
               [&] { return options->frames > 0 && frames >= options->frames; });
        const QCamera* camera = capture.Camera();
        Print(QStringLiteral("camera running: ") + (camera != nullptr && camera->isActive()
                                                        ? QStringLiteral("yes")
                                                        : QStringLiteral("no")));
        Print(QStringLiteral("frames: %1").arg(frames));
        if (frames < options->frames) {
            status = 2;
        }

        if (!options->screenshot.isEmpty()) {
            // One more moment for the last frame to reach the screen.
            RunFor(200, [] { return false; });
            if (kx::GrabWindow(dialog).save(options->screenshot, "PNG")) {
                Print(QStringLiteral("screenshot: ") + options->screenshot);
            } else {
                Print(QStringLiteral("screenshot not written: ") + options->screenshot);
                status = status == 0 ? 3 : status;
            }
        }
        counter.reset();
        window.Toggle();
    }
    Print(QStringLiteral("camera window closed"));
    return status;
}

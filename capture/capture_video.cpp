// SPDX-License-Identifier: MIT
#include "capture/capture_video.h"

#include <QCamera>
#include <QCameraFormat>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QTimer>
#include <QVideoSink>
#include <QVideoWidget>
#include <QWidget>
#include <algorithm>
#include <tuple>

#include "capture/media_backend.h"
#include "ui/message_box.h"

namespace kx {

namespace {

// The format Qt itself would pick: one it can draw, the highest frame rate up
// to about 30 a second (some cameras say 29.97), then the largest picture.
QCameraFormat BestFormat(const QList<QCameraFormat>& formats) {
    const auto score = [](const QCameraFormat& f) {
        const QSize size = f.resolution();
        return std::make_tuple(std::min(f.maxFrameRate(), 29.0F),
                               qint64(std::max(size.width(), 0)) * std::max(size.height(), 0));
    };
    QCameraFormat best;
    for (const QCameraFormat& f : formats) {
        if (f.pixelFormat() == QVideoFrameFormat::Format_Invalid) {
            continue;
        }
        if (best.isNull() || score(f) > score(best)) {
            best = f;
        }
    }
    return best;
}

// GStreamer's V4L2 source, stopped while some of its frames are still held
// further down the pipeline (by the preview, in a queue), hands its buffers
// over to an orphaned pool. In the GStreamer of Debian 12 that pool is never
// freed, and it holds a copy of the device's descriptor: the camera stays open
// after the window has closed, one descriptor more for every window opened.
// The source's own switch makes it stop the ordinary way instead, the device
// being let go as soon as the last frame is. Set once, before the media
// backend is first touched (so before any of its threads reads the
// environment); an operator's own setting is kept.
void DrainCameraOnStop() {
    static const bool done = [] {
        constexpr const char* kForceDrain = "GST_V4L2_FORCE_DRAIN";
        if (!qEnvironmentVariableIsSet(kForceDrain)) {
            qputenv(kForceDrain, "1");
        }
        return true;
    }();
    static_cast<void>(done);
}

}  // namespace

CaptureSystem SystemCapture() {
    DrainCameraOnStop();
    return CaptureSystem{
        MediaBackendPresent,
        [] {
            QList<CaptureInput> inputs;
            if (!MediaBackendPresent()) {
                return inputs;
            }
            for (const QCameraDevice& device : QMediaDevices::videoInputs()) {
                inputs.append(CaptureInput{device.description(), device});
            }
            return inputs;
        },
    };
}

CCaptureVideo::CCaptureVideo(CaptureSystem system) : system_(std::move(system)) {}

CCaptureVideo::~CCaptureVideo() {
    Release();
}

int CCaptureVideo::EnumDevices(QComboBox* combo) {
    if (combo == nullptr || !system_.backendPresent || !system_.backendPresent() ||
        !system_.inputs) {
        return -1;
    }
    const QList<CaptureInput> inputs = system_.inputs();
    if (inputs.isEmpty()) {
        return -1;
    }
    for (const CaptureInput& input : inputs) {
        combo->addItem(input.description);
    }
    return int(inputs.size());
}

int CCaptureVideo::Init(int deviceIndex, QWidget* host) {
    // Only one preview at a time: a camera is opened once.
    Release();

    // The capture session and the widget that shows the picture. Neither may
    // be made without a media backend: Qt would end the process.
    host_ = host;
    if (host == nullptr || !system_.backendPresent || !system_.backendPresent()) {
        return Fail(kNoVideoInterfaces, "Failed to get video interfaces!");
    }
    session_ = std::make_unique<QMediaCaptureSession>();
    videoWindow_ = new QVideoWidget(host);
    videoWindow_->hide();

    // The input at that position in the system's order.
    const QList<CaptureInput> inputs = system_.inputs ? system_.inputs() : QList<CaptureInput>();
    if (deviceIndex < 0 || inputs.isEmpty()) {
        return kNoDevice;
    }
    QCameraDevice device;
    if (deviceIndex < inputs.size()) {
        boundDevice_ = inputs[deviceIndex].description;
        device = inputs[deviceIndex].device;
    }

    // Frames arrive in the video widget's sink.
    QVideoSink* sink = videoWindow_->videoSink();
    if (sink == nullptr) {
        return Fail(kNoFrameSink,
                    "Fail to create SampleGrabber, maybe qedit.dll is not registered?");
    }

    // The preview joins the session before the camera does. Joined later,
    // while the camera's part of the pipeline is already running, Qt's sink
    // is sometimes left paused after its first frame, and the preview
    // freezes on it.
    session_->setVideoOutput(videoWindow_.data());
    const bool sinkInSession = session_->videoSink() == sink;
    if (!device.isNull()) {
        camera_ = std::make_unique<QCamera>(device);
    }

    // A format the widget can draw; Qt converts its pixels for the screen.
    QCameraFormat format;
    if (camera_ != nullptr) {
        const QList<QCameraFormat> formats = device.videoFormats();
        format = BestFormat(formats);
        if (!formats.isEmpty() && format.isNull()) {
            return Fail(kNoDrawableFormat, "Fail to set media type!");
        }
        if (!format.isNull()) {
            camera_->setCameraFormat(format);
        }
    }

    if (!sinkInSession) {
        return Fail(kSinkNotInSession, "Fail to put sample grabber in graph");
    }
    if (camera_ != nullptr) {
        session_->setCamera(camera_.get());
    }

    // Nothing bound at that position, or the camera could not be reached.
    if (camera_ == nullptr || camera_->error() != QCamera::NoError || !camera_->isAvailable()) {
        return Fail(kNoCamera, "Can\u2019t build the graph");
    }

    if (!format.isNull()) {
        if (camera_->cameraFormat() != format) {
            return Fail(kFormatNotTaken, "Failt to read the connected media type");
        }
        frameSize_ = format.resolution();
    }

    ResizeVideoWindow();
    videoWindow_->show();

    // A camera that fails later (unplugged, taken by another program) says
    // so once. The message waits for the event loop, since the error may
    // come from inside the backend's own dispatch, and is dropped when this
    // preview has been released by then.
    QCamera* camera = camera_.get();
    QObject::connect(camera, &QCamera::errorOccurred, camera, [this, camera](QCamera::Error e) {
        if (e == QCamera::NoError) {
            return;
        }
        QTimer::singleShot(0, QCoreApplication::instance(), [this, alive = QPointer(camera)] {
            if (alive != nullptr) {
                ReportLateFailure();
            }
        });
    });
    camera_->start();
    if (camera_->error() != QCamera::NoError) {
        return Fail(kNotRunning, "Couldn\u2019t run the graph!");
    }
    return kRunning;
}

void CCaptureVideo::ResizeVideoWindow() {
    if (videoWindow_ != nullptr && host_ != nullptr) {
        // A host smaller than its own border leaves no room: an empty picture.
        QRect inside = host_->contentsRect();
        inside.setSize(inside.size().expandedTo(QSize(0, 0)));
        videoWindow_->setGeometry(inside);
    }
}

QVideoWidget* CCaptureVideo::VideoWindow() const {
    return videoWindow_;
}

QVideoSink* CCaptureVideo::VideoSink() const {
    return videoWindow_ != nullptr ? videoWindow_->videoSink() : nullptr;
}

int CCaptureVideo::Fail(int result, const char* text) {
    failureReported_ = true;
    QWidget* owner = host_ != nullptr ? host_->window() : nullptr;
    ShowMessage(owner, QString::fromUtf8(text), QGuiApplication::applicationDisplayName(),
                QMessageBox::Warning);
    return result;
}

void CCaptureVideo::ReportLateFailure() {
    if (failureReported_) {
        return;
    }
    Fail(kNotRunning, "Couldn\u2019t run the graph!");
}

void CCaptureVideo::Release() {
    if (camera_ != nullptr) {
        camera_->stop();
    }
    if (session_ != nullptr) {
        session_->setCamera(nullptr);
        session_->setVideoOutput(nullptr);
    }
    camera_.reset();
    session_.reset();
    delete videoWindow_.data();
    host_ = nullptr;
    boundDevice_.clear();
    frameSize_ = QSize();
    failureReported_ = false;
}

}  // namespace kx

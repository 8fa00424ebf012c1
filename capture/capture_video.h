// SPDX-License-Identifier: MIT
#pragma once

#include <QCameraDevice>
#include <QList>
#include <QPointer>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

class QCamera;
class QComboBox;
class QMediaCaptureSession;
class QVideoSink;
class QVideoWidget;
class QWidget;

namespace kx {

// One video input: its description and, for a real input, the Qt device
// behind it (null for the inputs that tests make up).
struct CaptureInput {
    QString description;
    QCameraDevice device;
};

// Where the engine finds its cameras. The station uses SystemCapture(); tests
// hand in their own lists.
struct CaptureSystem {
    // Whether Qt Multimedia can load a media backend. Nothing of Qt
    // Multimedia is touched while this says no.
    std::function<bool()> backendPresent;
    // The video inputs in the order the system lists them.
    std::function<QList<CaptureInput>()> inputs;
};

// The machine's own: MediaBackendPresent() and QMediaDevices::videoInputs().
// The first call also sets GStreamer's camera source to let go of the device
// when a preview stops (GST_V4L2_FORCE_DRAIN, see capture_video.cpp): make it
// before anything else of Qt Multimedia is used.
CaptureSystem SystemCapture();

// The camera preview engine: lists the video inputs, shows the live picture of
// one of them inside a widget of the caller's, and keeps it sized to that
// widget. Destroying it stops the camera and releases it.
//
// Every operation runs on the user-interface thread. No frame is handled
// here: the picture goes from the camera to the video widget inside Qt, and
// nothing of the station runs on the streaming thread.
class CCaptureVideo {
public:
    // Init's results: 0 the preview runs, 1 no input bound (no message),
    // negative: the step that failed, after its message box.
    enum Result : int {
        kRunning = 0,
        kNoDevice = 1,
        kNoVideoInterfaces = -1,  // no media backend, no host widget
        kNoFrameSink = -2,        // the video widget has no sink for frames
        kNoDrawableFormat = -3,   // the camera offers no format Qt can draw
        kSinkNotInSession = -4,   // the sink did not join the capture session
        kNoCamera = -5,           // nothing bound at that position, or the camera is gone
        kFormatNotTaken = -6,     // the camera did not take the chosen format
        kNotRunning = -7,         // the camera did not start
    };

    explicit CCaptureVideo(CaptureSystem system = SystemCapture());
    ~CCaptureVideo();
    CCaptureVideo(const CCaptureVideo&) = delete;
    CCaptureVideo& operator=(const CCaptureVideo&) = delete;

    // Adds the description of every video input to `combo`; returns how many,
    // or -1 without a combo box, without a media backend or without inputs.
    int EnumDevices(QComboBox* combo);

    // Opens the input at `deviceIndex` in the system's order and shows its
    // picture inside `host`. A second call releases the first preview.
    int Init(int deviceIndex, QWidget* host);

    // Fits the picture to the host's contents rectangle, when there is one.
    void ResizeVideoWindow();

    // What Init bound and opened, for the camera window's checks.
    const QString& BoundDevice() const { return boundDevice_; }
    // The picture size of the camera format chosen by Init; empty when the
    // camera lists no formats (Qt then negotiates one itself).
    QSize FrameSize() const { return frameSize_; }
    QVideoWidget* VideoWindow() const;
    QCamera* Camera() const { return camera_.get(); }
    // The sink the picture arrives in; null before Init builds it.
    QVideoSink* VideoSink() const;

private:
    int Fail(int result, const char* text);
    void ReportLateFailure();
    void Release();

    CaptureSystem system_;
    QPointer<QWidget> host_;
    std::unique_ptr<QMediaCaptureSession> session_;
    std::unique_ptr<QCamera> camera_;
    QPointer<QVideoWidget> videoWindow_;
    QString boundDevice_;
    QSize frameSize_;
    bool failureReported_ = false;
};

}  // namespace kx

// SPDX-License-Identifier: MIT
// Memory that Qt Multimedia and the GStreamer plugins keep until the process
// ends and never free: the backend made once per process and the device
// monitors it starts, and the backing store of Qt's video window. None of it
// is the station's; LeakSanitizer is told so here, in every program linked
// with kx_media_leak_suppressions.
//
// Qt's video window, where it has no GPU to draw with (the offscreen
// platform, a machine without OpenGL), paints each frame into a backing store
// that it never deletes, one per window opened. The allocation stacks of that
// memory end inside Qt's libraries, which are built without frame pointers:
// unwound the fast way, LeakSanitizer's default, they name only the function
// that allocated, so the backing store is named here by its constructor as
// well as by the video window. What a suppressed block holds is not reported
// either; a window or camera object that the station itself fails to delete
// still is, since its own allocation names the station's code.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:QPlatformMediaIntegration::instance\n"
           "leak:QVideoWindow\n"
           "leak:QBackingStore::QBackingStore\n"
           "leak:libgstpulseaudio.so\n"
           "leak:libpulse.so\n";
}

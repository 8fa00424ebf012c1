// Memory that Qt Multimedia and the GStreamer plugins keep until the process
// ends and never free: the backend made once per process and the device
// monitors it starts, and the backing store of Qt's video window. None of it
// is the station's; LeakSanitizer is told so here, in every program linked
// with kx_media_leak_suppressions.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:QPlatformMediaIntegration::instance\n"
           "leak:QVideoWindow\n"
           "leak:libgstpulseaudio.so\n"
           "leak:libpulse.so\n";
}

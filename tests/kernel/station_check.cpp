// SPDX-License-Identifier: MIT
// Runs the station core once on the real bus, as the user who starts it, and
// prints what the operator would see: every title the window would show and
// every message box, one line each ("title: ...", "message: ..."; a
// message's line breaks become spaces). The kernel tests run it as an
// unprivileged user to see what the station says about a board whose node
// that user may not open.

#include <algorithm>
#include <cstdio>
#include <string>

#include "grid/grid_model.h"
#include "hid/hidapi_bus.h"
#include "station/station_core.h"

int main() {
    kx::HidapiBus bus;
    kx::GridModel grid;
    kx::StationCallbacks callbacks;
    callbacks.setTitle = [](const std::string& title) {
        std::printf("title: %s\n", title.c_str());
    };
    callbacks.showMessage = [](const std::string& text) {
        std::string line = text;
        std::replace(line.begin(), line.end(), '\n', ' ');
        std::printf("message: %s\n", line.c_str());
    };
    kx::PageStore pages;
    kx::StationCore station(bus, grid, pages, std::move(callbacks));
    station.Initialise();
    std::printf("workers: %d\n", station.AcquisitionWorkers());
    station.Close();
    return 0;
}

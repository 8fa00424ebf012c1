// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "hid/hid_bus.h"
#include "hid/udev_monitor.h"

class QSocketNotifier;
class QTimer;

namespace kx {

namespace sim {
class SimBus;
}

// Where the main window hears of HID device interfaces coming and going.
// Whatever the source, deviceChanged is emitted on the thread the source
// lives in (the user-interface thread), one signal per event.
class HotplugSource : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    void deviceChanged(kx::HotplugEvent event, const QString& path);
};

// The real bus: a udev monitor on the hidraw subsystem, read through a
// QSocketNotifier on the user-interface thread.
class UdevHotplug : public HotplugSource {
    Q_OBJECT

public:
    explicit UdevHotplug(QObject* parent = nullptr);
    ~UdevHotplug() override;

    // False when registration failed; nothing is ever heard then.
    bool ok() const { return monitor_.ok(); }
    const std::string& error() const { return monitor_.error(); }

private:
    void ReadEvents();

    UdevMonitor monitor_;
    QSocketNotifier* notifier_ = nullptr;
};

// How often RescanHotplug looks at the bus.
inline constexpr std::chrono::milliseconds kHotplugRescanInterval{2000};

// Any bus without plug events of its own, above all the real bus where udev
// cannot register (no udev daemon runs in a container or on a minimal
// system): the bus is enumerated every `interval` on this object's thread
// (the user-interface thread), and what changed since the last look is
// emitted as udev would: a Removal for every path gone, then an Arrival for
// every path new. A path whose device changed in between (its node taken
// by another device) gives both. The first look is taken at construction,
// so only changes after it are reported.
class RescanHotplug : public HotplugSource {
    Q_OBJECT

public:
    explicit RescanHotplug(HidBus& bus, std::chrono::milliseconds interval = kHotplugRescanInterval,
                           QObject* parent = nullptr);
    ~RescanHotplug() override;

    std::chrono::milliseconds interval() const;

    // One look at the bus now (the timer's slot). A look asked for while
    // the events of another are being handled (a handler's message box
    // turns the event loop) is skipped; the next tick catches up.
    void Rescan();

private:
    HidBus& bus_;
    QTimer* timer_ = nullptr;
    std::map<std::string, HidDeviceInfo> present_;  // by path
    bool scanning_ = false;
};

// The simulated bus: SimBus calls its handler on whichever thread plugs or
// unplugs a board; the events are queued to this object's thread and emitted
// there, in the order they happened. Once this object is gone, events of the
// bus (which may live on) go nowhere.
class SimHotplug : public HotplugSource {
    Q_OBJECT

public:
    explicit SimHotplug(sim::SimBus& bus, QObject* parent = nullptr);
    ~SimHotplug() override;

private:
    struct Relay;

    sim::SimBus& bus_;
    std::shared_ptr<Relay> relay_;
};

}  // namespace kx

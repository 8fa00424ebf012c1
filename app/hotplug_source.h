#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "hid/hid_bus.h"
#include "hid/udev_monitor.h"

class QSocketNotifier;

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

// SPDX-License-Identifier: MIT
#include "app/hotplug_source.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <mutex>
#include <utility>
#include <vector>

#include "sim/sim_bus.h"

namespace kx {

UdevHotplug::UdevHotplug(QObject* parent) : HotplugSource(parent) {
    if (!monitor_.ok()) {
        return;
    }
    notifier_ =
        new QSocketNotifier(static_cast<qintptr>(monitor_.fd()), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UdevHotplug::ReadEvents);
}

UdevHotplug::~UdevHotplug() = default;

void UdevHotplug::ReadEvents() {
    // A handler may show a message box whose event loop brings this back for
    // the next event; receive() then simply hands out what is left.
    while (std::optional<HotplugNotice> notice = monitor_.receive()) {
        emit deviceChanged(notice->event, QString::fromStdString(notice->path));
    }
}

namespace {

std::map<std::string, HidDeviceInfo> PresentDevices(HidBus& bus) {
    std::map<std::string, HidDeviceInfo> present;
    for (HidDeviceInfo& info : bus.enumerate()) {
        if (!info.path.empty()) {
            present.emplace(info.path, std::move(info));  // the first of a path
        }
    }
    return present;
}

bool SameDevice(const HidDeviceInfo& a, const HidDeviceInfo& b) {
    return a.vendor_id == b.vendor_id && a.product_id == b.product_id &&
           a.manufacturer == b.manufacturer && a.product == b.product;
}

// The paths of `from` that `to` does not hold, or holds for another device.
std::vector<std::string> Left(const std::map<std::string, HidDeviceInfo>& from,
                              const std::map<std::string, HidDeviceInfo>& to) {
    std::vector<std::string> paths;
    for (const auto& [path, info] : from) {
        const auto it = to.find(path);
        if (it == to.end() || !SameDevice(info, it->second)) {
            paths.push_back(path);
        }
    }
    return paths;
}

}  // namespace

RescanHotplug::RescanHotplug(HidBus& bus, std::chrono::milliseconds interval, QObject* parent)
    : HotplugSource(parent), bus_(bus), timer_(new QTimer(this)), present_(PresentDevices(bus)) {
    timer_->setInterval(interval);
    connect(timer_, &QTimer::timeout, this, &RescanHotplug::Rescan);
    timer_->start();
}

RescanHotplug::~RescanHotplug() = default;

std::chrono::milliseconds RescanHotplug::interval() const {
    return timer_->intervalAsDuration();
}

void RescanHotplug::Rescan() {
    if (scanning_) {
        return;
    }
    std::map<std::string, HidDeviceInfo> now = PresentDevices(bus_);
    const std::vector<std::string> gone = Left(present_, now);
    const std::vector<std::string> came = Left(now, present_);
    present_ = std::move(now);
    // A handler may turn the event loop (a message box) and with it this
    // timer, or even close the window that owns this object.
    scanning_ = true;
    const QPointer<RescanHotplug> alive(this);
    for (const std::string& path : gone) {
        emit deviceChanged(HotplugEvent::Removal, QString::fromStdString(path));
        if (!alive) {
            return;
        }
    }
    for (const std::string& path : came) {
        emit deviceChanged(HotplugEvent::Arrival, QString::fromStdString(path));
        if (!alive) {
            return;
        }
    }
    scanning_ = false;
}

// What the bus's handler holds: the target, cleared under the lock when the
// target goes, so that a plugging thread never posts to a destroyed object.
struct SimHotplug::Relay {
    std::mutex mutex;
    SimHotplug* target = nullptr;  // guarded by mutex
};

SimHotplug::SimHotplug(sim::SimBus& bus, QObject* parent)
    : HotplugSource(parent), bus_(bus), relay_(std::make_shared<Relay>()) {
    relay_->target = this;
    bus_.set_hotplug_handler([relay = relay_](HotplugEvent event, const std::string& path) {
        std::lock_guard lock(relay->mutex);
        SimHotplug* target = relay->target;
        if (target == nullptr) {
            return;
        }
        const QString p = QString::fromStdString(path);
        // Queued even from the user-interface thread itself: the station
        // reacts at the next turn of the event loop, never inside plug().
        QMetaObject::invokeMethod(
            target, [target, event, p] { emit target->deviceChanged(event, p); },
            Qt::QueuedConnection);
    });
}

SimHotplug::~SimHotplug() {
    bus_.set_hotplug_handler({});
    // A thread inside the handler finishes its post first; events posted and
    // not yet delivered die with this object.
    std::lock_guard lock(relay_->mutex);
    relay_->target = nullptr;
}

}  // namespace kx

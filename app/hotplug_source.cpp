#include "app/hotplug_source.h"

#include <QSocketNotifier>
#include <mutex>

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

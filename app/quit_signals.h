// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

namespace kx {

// SIGTERM, SIGINT and SIGHUP (the session ending, the machine shutting down,
// Ctrl+C in a terminal) as a signal on the user-interface thread, so that the
// station closes as from its menu: the worker joined, a one-to-one board's
// outputs switched off. One object at a time; the handlers are restored to
// the default when it goes.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

    bool ok() const { return notifier_ != nullptr; }

signals:
    void quitRequested(int signalNumber);

private:
    void Read();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace kx

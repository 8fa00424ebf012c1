// SPDX-License-Identifier: MIT
#pragma once

#include <QFrame>
#include <QString>
#include <cstdint>
#include <optional>

class QLabel;

namespace kx {

// What the strip under the grid shows.
struct StripState {
    std::int64_t tested = 0;
    std::int64_t passed = 0;
    std::int64_t failed = 0;
    // The loaded configuration's file name; empty: the board's own settings.
    QString config;
    // The connected board; empty: none.
    QString board;
    QString lastSerial;
    // Records waiting for the line's server; nullopt: no server configured.
    std::optional<std::int64_t> waiting;
    // Why the last batch of records could not be written ("" once one was):
    // the records wait in memory and the operator must know.
    QString writeError;
    bool operator==(const StripState&) const = default;
};

// The counts of the station's test records, and what they were made with,
// in one line of large bold letters under the grid, readable from a few
// metres: "已测 N  通过 N  失败 N  良率 xx.x%", the configuration, the board,
// the last serial and, with a server, "待上传 N". A thin widget: the window
// hands it the whole state whenever anything changed.
class CStatusStrip : public QFrame {
    Q_OBJECT

public:
    explicit CStatusStrip(QWidget* parent = nullptr);

    void SetState(const StripState& state);
    const StripState& State() const { return state_; }

    // The texts as shown (tests, screenshots).
    QString CountsText() const;
    QString ConfigText() const;
    QString BoardText() const;
    QString SerialText() const;
    QString WaitingText() const;  // "" while hidden
    QLabel* waitingLabel() const { return waiting_; }
    QLabel* writeErrorLabel() const { return writeError_; }

    // "良率 97.5%", "良率 --" before the first panel.
    static QString YieldText(std::int64_t tested, std::int64_t passed);

private:
    StripState state_;
    QLabel* tested_ = nullptr;
    QLabel* passed_ = nullptr;
    QLabel* failed_ = nullptr;
    QLabel* yield_ = nullptr;
    QLabel* config_ = nullptr;
    QLabel* board_ = nullptr;
    QLabel* serial_ = nullptr;
    QLabel* waiting_ = nullptr;
    QLabel* writeError_ = nullptr;
};

}  // namespace kx

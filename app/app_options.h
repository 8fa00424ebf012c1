// SPDX-License-Identifier: MIT
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

#include "sim/demo_bench.h"
#include "ui/language.h"

namespace kx {

// The station's command line.
struct AppOptions {
    // Demonstration mode: software boards on the simulated bus instead of the
    // real USB bus (--simulate BOARD, repeatable; see sim::ParseDemoBoard).
    std::vector<sim::DemoBoardChoice> boards;
    // --simulate none: the simulated bus with no board on it.
    bool emptySimulatedBus = false;
    // Software boards that do not move (--still).
    bool still = false;
    // Device type with the check mark at start (--machine N: 0 standard,
    // 1-5); unset: the type chosen last in the menu (StationState).
    std::optional<int> machine;
    // Window size instead of maximised (--size WxH).
    std::optional<QSize> size;
    // Unattended runs: after quitAfterMs the window is written to `screenshot`
    // (when given) and the station closes.
    QString screenshot;
    int quitAfterMs = -1;
    // Prints the process's CPU time from the end of the warm-up to the end
    // as a fraction of one core (--cpu-report, --warmup MS).
    bool cpuReport = false;
    int warmupMs = 2000;
    // Unplugs every software board every plugCycleS seconds and plugs them
    // back a moment later (--plug-cycle SECONDS), for unattended soak runs;
    // 0: never.
    int plugCycleS = 0;

    // Test records: the local database (--records-db; empty: the default
    // place, DefaultRecordsPath), the line's PostgreSQL server
    // (--records-server; empty: none), the station's and the operator's
    // names written into each record (--station, empty: the host name;
    // --operator). Those not given on the command line come from the
    // settings file's [records] section (MergeSettingsFile).
    QString recordsDb;
    QString recordsServer;
    QString station;
    QString operatorName;

    // --lang zh|en; unset: KALDRIX_LANG, else Chinese (ChooseLanguage).
    std::optional<Language> language;

    bool help = false;
    bool version = false;
    // Message boxes are answered by the program (printed on standard error)
    // when nobody is there to answer them.
    bool unattended() const { return quitAfterMs >= 0; }
    bool simulated() const { return !boards.empty() || emptySimulatedBus; }
};

// The screenshot of an unattended run without --quit-after is taken after
// this long.
inline constexpr int kDefaultScreenshotDelayMs = 3000;

// Parses the arguments after the program's name; nullopt with `error` set
// (English, for the command line) when they are wrong.
std::optional<AppOptions> ParseAppOptions(const QStringList& arguments, QString& error);

// The text --help prints.
QString AppUsage();

// The station's settings file: $XDG_CONFIG_HOME/kaldrixplus/kaldrixplus.conf
// ($HOME/.config when XDG_CONFIG_HOME is unset or not absolute).
QString DefaultSettingsPath();

// Fills the records' options the command line left empty from the settings
// file's [records] section (keys db, server, station, operator):
//
//     [records]
//     db = /var/lib/line3/records.db
//     server = postgresql://station@db.line3/records
//     station = 3号线-2
//     operator = 王芳
//
// On software boards (--simulate) the file's db and server are not taken:
// they are the line's. A missing file is no error. False with `error` set (Chinese: the station
// shows it on the screen too) when the file cannot be read, is not text or
// holds a line it does not understand.
bool MergeSettingsFile(AppOptions& options, const QString& path, QString& error);

// The records database: --records-db (or the settings file's db), else
// DefaultRecordsPath; a run on software boards (--simulate) keeps its
// records apart, in records-simulated.db beside the line's.
std::string RecordsDbPath(const AppOptions& options);

// Checks what the records' options say once the command line and the
// settings file are merged: a server address the sender accepts. False with
// `error` set (Chinese).
bool CheckRecordsOptions(const AppOptions& options, QString& error);

}  // namespace kx

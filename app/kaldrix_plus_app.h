// SPDX-License-Identifier: MIT
#pragma once

#include <QCoreApplication>
#include <QLockFile>
#include <QString>

class QApplication;

namespace kx {

struct AppOptions;

// The name one station per user is known by: its lock file is named after it.
inline constexpr const char* kInstanceName = "{5D0C9A3E61B24F7A8E13C4F0B29D7A66}";
// Translated where it is shown (context "CKaldrixPlusApp").
inline constexpr const char* kSecondInstanceText = QT_TRANSLATE_NOOP(
    "CKaldrixPlusApp", "已经运行了一个程序，如非扩展板，请尽量避免开启两个相同的程序!");

// The user's runtime directory ($XDG_RUNTIME_DIR, or Qt's fallback).
QString RuntimeDirectory();

// The check for a station already running: a lock file named after
// kInstanceName in `directory`, held while this object lives. It is never
// taken for stale while its holder runs, however long that is; the lock of a
// process that died is taken over.
class SingleInstance {
public:
    explicit SingleInstance(const QString& directory = RuntimeDirectory());
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when no other station held the lock.
    bool IsFirst() const { return first_; }
    QString LockPath() const { return path_; }

    // A second station is warned (information icon, no caption, no owner),
    // never refused. True when the warning was shown.
    bool WarnIfNotFirst() const;

private:
    QString path_;
    QLockFile lock_;
    bool first_ = false;
};

// The application: the single-instance warning, the bus (real, or software
// boards in demonstration mode), the main window, and the unattended options
// (screenshot, quit, CPU report).
class CKaldrixPlusApp {
public:
    // Runs the program inside `app` with the arguments after the program's
    // name; returns the process's exit code.
    int InitInstance(QApplication& app, const QStringList& arguments);

private:
    int Run(QApplication& app, const AppOptions& options);
};

}  // namespace kx

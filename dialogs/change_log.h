// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace kx {

// This program's version history, shown read-only in the version boxes of
// the Velmora5 and master board dialogs. Newest first; every entry is three
// lines ending in CR LF:
//
//     2026/03/18;Ver 0.1.0.0;
//     <what changed>;
//     ------------------------------------------     (42 hyphens)
//
// Empty until BuildChangeLog() runs (the main window calls it once at
// start-up). Used from the user-interface thread only.
extern std::string g_changeLog;

// Clears g_changeLog and appends every entry, its text in the language
// installed now (TrText).
void BuildChangeLog();

}  // namespace kx

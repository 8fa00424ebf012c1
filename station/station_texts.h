// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "core/tr_text.h"
#include "hid/hid_bus.h"

namespace kx {

// The window's titles, in the station's language (translate with
// TrText("StationTexts", ...) where shown). The connected ones are the
// boards' fixed texts, not the families' names in messages.
inline constexpr const char* kTitleOrvane =
    KX_TRANSLATE_NOOP("StationTexts", "Orvane 设备已经连接");
inline constexpr const char* kTitleVelmora5 =
    KX_TRANSLATE_NOOP("StationTexts", "Velmora5 设备已经连接");
inline constexpr const char* kTitleClassic =
    KX_TRANSLATE_NOOP("StationTexts", "ClassicTester 设备已经连接");
inline constexpr const char* kTitleDisconnected = KX_TRANSLATE_NOOP("StationTexts", "设备已经断开");
inline constexpr const char* kTitleInserted = KX_TRANSLATE_NOOP("StationTexts", "USB设备已经插入");

// The title while the family in use has `title` and a board of another
// family (`other`, its name) is plugged in beside it but not used.
std::string TitleWithUnusedBoard(const std::string& title, const std::string& other);

// Title and operator message for a board that is plugged in but could not be
// opened (`family` is the family's name, BoardFamily::Name). Never the texts
// of "nothing plugged in".
std::string OpenRefusalTitle(OpenFailure failure);
std::string OpenRefusalMessage(OpenFailure failure, const std::string& family);
// Operator message when a board of `family` was opened but did not answer
// while its settings were read.
std::string NoAnswerMessage(const std::string& family);

// --- the idle screen's note (no board in use) ------------------------------------
//
// Each is a short first line that names the case, then one or two lines of
// what to do, separated by '\n'.

// The device-type menu's name of type 0 (standard) to 5 (machine n).
std::string DeviceTypeName(int type);
// Nothing plugged in; `unplugged`: the board in use was just removed.
// `rescanning`: there is no hot-plug monitor (no udev daemon) and the bus is
// looked at every 2 s instead.
std::string IdleNoteNoBoard(bool unplugged, bool rescanning);
// A board of `family` is there but answers only for device type
// `boardType`, not for the checked `checkedType`.
std::string IdleNoteOtherDeviceType(const std::string& family, int boardType, int checkedType);
// A board of `family` is there but refused to open.
std::string IdleNoteRefused(OpenFailure failure, const std::string& family);

}  // namespace kx

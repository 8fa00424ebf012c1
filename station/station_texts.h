// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "hid/hid_bus.h"

namespace kx {

// The window's titles. The connected ones are the boards' fixed texts, not
// the families' names in messages.
inline constexpr const char* kTitleOrvane = "Orvane 设备已经连接";
inline constexpr const char* kTitleVelmora5 = "Velmora5 设备已经连接";
inline constexpr const char* kTitleClassic = "ClassicTester 设备已经连接";
inline constexpr const char* kTitleDisconnected = "设备已经断开";
inline constexpr const char* kTitleInserted = "USB设备已经插入";

// Title and operator message for a board that is plugged in but could not be
// opened (`family` is the family's name, BoardFamily::Name). Never the texts
// of "nothing plugged in".
std::string OpenRefusalTitle(OpenFailure failure);
std::string OpenRefusalMessage(OpenFailure failure, const std::string& family);
// Operator message when a board of `family` was opened but did not answer
// while its settings were read.
std::string NoAnswerMessage(const std::string& family);

}  // namespace kx

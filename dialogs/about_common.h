// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <string>

#include "station/device_info.h"

class QDialog;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

namespace kx {

// What the three device-information dialogs share: the brand picture, the
// program's version, the header row and the look of their fields.

// Registers the pictures of resources/ (once; later calls do nothing).
void InitResources();

// This program's version, "a.b.c.d" from the project's version; empty when
// that cannot be read.
QString GetAppVersion();

// Puts the brand picture for `vendorName` into `picture`, centred, and
// returns which one it is.
Brand ShowLogo(QLabel* picture, const QString& vendorName, LogoRules rules);

// The dialogs' font: "宋体" 9 pt, drawn by Noto Sans CJK where fontconfig
// has no CJK face under that name.
void SetDialogFont(QDialog* dialog);

// The sunken frame the brand picture sits in, sized for the pictures.
QLabel* NewPictureLabel(QWidget* parent);
// A read-only edit for a board value; `name` becomes its object name.
QLineEdit* NewValueEdit(QWidget* parent, const QString& name, int width = 150);
// The read-only version history box, both scroll bars shown.
QPlainTextEdit* NewVersionInfoBox(QWidget* parent);
// g_changeLog as the box shows it (line ends made plain).
QString VersionInfoText(const std::string& changeLog);

// The firmware rows of the Velmora5 and master dialogs, in rows 0 to 4 of
// `grid` in `group`: "设备标识号", "固件版本" and "固件日期" with their edits,
// then "版本信息" and the version history box across both columns.
struct FirmwareFields {
    QLineEdit* deviceId;
    QLineEdit* firmwareVersion;
    QLineEdit* firmwareDate;
    QPlainTextEdit* versionInfo;
};
FirmwareFields AddFirmwareRows(QGroupBox* group, QGridLayout* grid);

// The row at the top left: the station's icon, "KaldrixPlus" and the
// program version's edit (returned in `versionEdit`).
QHBoxLayout* NewHeaderRow(QWidget* parent, const QString& caption, QLineEdit** versionEdit);

// A board text as the edits show it (UTF-8; the texts are ASCII or the
// dialogs' own Chinese).
inline QString FromBoard(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace kx

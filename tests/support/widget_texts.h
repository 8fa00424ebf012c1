// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class QWidget;

namespace kx::test {

// One text a window can show, and where: "kx::CAboutDlg > QGroupBox
// \"firmware\" > QLabel: text".
struct ShownText {
    QString where;
    QString text;
};

// Every text `root` and the widgets and actions under it can show, whether
// visible now or not: window titles, tool tips, status tips, labels,
// buttons and check boxes, group box titles, tab texts, combo box items,
// line and text edits' place holders, spin box prefixes and suffixes, the
// headers and cells of item views, plain text boxes' contents, and the
// texts and tool tips of actions and of their menus, submenus included.
// What the user types into a line edit is not a shown text.
std::vector<ShownText> ShownTexts(QWidget* root);

// True when `text` holds a Chinese (CJK) character or CJK punctuation.
bool HasChinese(const QString& text);

// The texts of ShownTexts(root) with a Chinese character, as "where: text"
// (one text a line), for a failure message. Empty when the window shows
// no Chinese.
QStringList ChineseTexts(QWidget* root);

}  // namespace kx::test

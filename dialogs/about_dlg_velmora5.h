// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>

#include "station/device_info.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QPlainTextEdit;

namespace kx {

// "关于 KaldrixPlus" for a Velmora5 board: its firmware and identity, its
// brand picture, this program's version and history, and the board's layout
// record (in use, rows, columns), which OK hands back for sending.
//
//     auto* dlg = new CAboutDlgVelmora5(owner);
//     dlg->Fill(ReadVelmora5About(board));
//     connect(dlg, &QDialog::accepted, ...);   // send dlg->Layout()
//     dlg->open();
//
// Rows and columns are accepted from 0 to 255; anything else is refused with
// "请输入一个 0 至 255 之间的整数。" and the dialog stays open. The check box
// is not read at OK: a click on it sets m_layoutInUse to 1 or 0, so a record
// whose byte 0 is neither goes back unchanged unless it was clicked. When the
// record could not be read, the layout controls stay empty and unusable and
// OK offers nothing to send (LayoutKnown() is false).
class CAboutDlgVelmora5 : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlgVelmora5(QWidget* parent = nullptr);

    void Fill(const Velmora5About& about);

    void ShowLogo(const QString& vendorName);
    static QString GetAppVersion();
    Brand ShownBrand() const { return shownBrand_; }
    QLabel* Picture() const { return picture_; }

    // The record to send after OK, and whether there is one.
    bool LayoutKnown() const { return m_layoutKnown; }
    Velmora5LayoutRecord Layout() const { return {m_layoutInUse, m_rows, m_columns}; }

    QString m_firmwareVersion;
    QString m_firmwareDate;
    QString m_appVersion;
    QString m_deviceId;
    QString m_versionInfo;
    QString m_vendorName;
    std::uint8_t m_layoutInUse = 0;
    std::uint8_t m_columns = 0;
    std::uint8_t m_rows = 0;
    bool m_layoutKnown = true;

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    virtual void OnInitDialog();

private:
    // save = false: members into the controls; true: rows and columns back,
    // false when one is refused.
    bool UpdateData(bool save);

    QLineEdit* appVersionEdit_;
    QLineEdit* deviceIdEdit_;
    QLineEdit* firmwareVersionEdit_;
    QLineEdit* firmwareDateEdit_;
    QPlainTextEdit* versionInfoBox_;
    QLineEdit* rowsEdit_;
    QLineEdit* columnsEdit_;
    QCheckBox* layoutCheck_;
    QPushButton* defaultButton_;
    QLabel* picture_;
    Brand shownBrand_ = Brand::Default;
    bool initialised_ = false;
};

}  // namespace kx

// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

#include "dialogs/reset_row_col_dlg.h"
#include "station/device_info.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kx {

class CEditListCtrl;

// "关于 KaldrixPlus" for a master board, which is also its settings page: the
// firmware and identity, the buzzer mode, "清急停" (clear the station's
// emergency-stop latch), and a table with the board head of every grid
// position, whose size "重设行列数" changes.
//
//     auto* dlg = new CAboutDlgVelmora5HID(clearEmergencyStop, owner);
//     dlg->Fill(ReadMasterAbout(board, rows, columns));
//     connect(dlg, &QDialog::accepted, ...);   // apply dlg->Layout()
//     dlg->open();
//
// "清急停" calls `clearEmergencyStop` at once; nothing else happens before
// OK. OK reads every cell (its leading number, 0 when none) into m_heads and
// the two check boxes into their states; Cancel, Escape and the close box
// change nothing. When the buzzer byte could not be read, the two boxes are
// unusable and Layout() leaves the board's buzzer settings alone.
class CAboutDlgVelmora5HID : public QDialog {
    Q_OBJECT

public:
    // The table holds at most this many positions (the grid's 10 x 10).
    static constexpr int kMaxPositions = kMaxHeadPositions;

    explicit CAboutDlgVelmora5HID(std::function<void()> clearEmergencyStop,
                                  QWidget* parent = nullptr);
    ~CAboutDlgVelmora5HID() override;

    void Fill(const MasterAbout& about);

    void ShowLogo(const QString& vendorName);
    static QString GetAppVersion();
    Brand ShownBrand() const { return shownBrand_; }
    QLabel* Picture() const { return picture_; }

    // What OK hands over for writing to the board.
    MasterLayout Layout() const;

    // The open "重设行列数" dialog, or null.
    CResetRowColDlg* ResetDialog() const { return resetDlg_; }

    CEditListCtrl* m_headList;
    QString m_appVersion;
    QString m_versionInfo;
    QString m_firmwareVersion;
    QString m_firmwareDate;
    QString m_deviceId;
    int m_buzzerOnCheck = 0;
    int m_buzzerInvertCheck = 0;
    QString m_vendorName;
    std::int32_t m_rows = 0;
    std::int32_t m_columns = 0;
    HeadPositions m_heads{};
    bool m_buzzerKnown = true;

public slots:
    void accept() override;
    // "清急停"
    void OnClearEmergencyStop();
    // "重设行列数": opens CResetRowColDlg; on its OK the table is rebuilt with
    // the new size and numbered 0, 1, 2, ... row by row.
    void OnResetRowCol();

protected:
    void showEvent(QShowEvent* event) override;
    virtual void OnInitDialog();

private:
    void UpdateData(bool save);
    // Columns "第1列" ... and m_rows rows; the cells from `cellValue(k)` for
    // position k.
    void BuildTable(const std::function<std::int32_t(int)>& cellValue);

    std::function<void()> clearEmergencyStop_;
    QLineEdit* appVersionEdit_;
    QLineEdit* deviceIdEdit_;
    QLineEdit* firmwareVersionEdit_;
    QLineEdit* firmwareDateEdit_;
    QPlainTextEdit* versionInfoBox_;
    QCheckBox* buzzerOnBox_;
    QCheckBox* buzzerInvertBox_;
    QPushButton* defaultButton_;
    QLabel* picture_;
    QPointer<CResetRowColDlg> resetDlg_;
    Brand shownBrand_ = Brand::Default;
    bool initialised_ = false;
};

}  // namespace kx

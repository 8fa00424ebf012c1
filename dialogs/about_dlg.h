// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QString>

#include "station/device_info.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kx {

// "关于 KaldrixPlus": the firmware and identity of a one-to-one board or a
// classic tester, its brand picture and this program's version, with one
// option of the one-to-one board (the offline display) as a check box.
// Opened empty it is the program's own about box.
//
// The caller fills the members (Fill() from a board's AboutInfo), shows the
// dialog and, after OK, reads m_offlineDisplay back:
//
//     auto* dlg = new CAboutDlg(owner);
//     dlg->Fill(ReadRunoffAbout(board, oemName));
//     connect(dlg, &QDialog::accepted, ...);   // send dlg->m_offlineDisplay
//     dlg->open();
//
// When it is first shown the dialog makes the check box usable or not
// (m_optionEditable), shows the brand picture for m_vendorName, sets
// m_appVersion and puts the members into their controls. OK takes the check
// box's state back into m_offlineDisplay; Escape and the close box change
// nothing.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // Sets the members from what was read for the dialog.
    void Fill(const AboutInfo& info);

    // Chooses the brand picture (control 1038).
    void ShowLogo(const QString& vendorName);
    static QString GetAppVersion();

    // The picture shown now.
    Brand ShownBrand() const { return shownBrand_; }
    QLabel* Picture() const { return picture_; }

    QCheckBox* m_offlineButton;
    QString m_author;
    QString m_deviceId;
    QString m_serialNumber;
    QString m_firmwareVersion;
    QString m_logoText;
    QString m_firmwareDate;
    int m_offlineDisplay = 0;  // 0, 1, or 2 for the board's third state
    QString m_edition;
    QString m_appVersion;
    QString m_vendorName;
    int m_optionEditable = 0;

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    // Runs once, when the dialog is first shown.
    virtual void OnInitDialog();

private:
    // save = false: members into the controls; true: the check box back.
    void UpdateData(bool save);

    QLineEdit* appVersionEdit_;
    QLineEdit* serialNumberEdit_;
    QLineEdit* deviceIdEdit_;
    QLineEdit* firmwareVersionEdit_;
    QLineEdit* firmwareDateEdit_;
    QLineEdit* authorEdit_;
    QLineEdit* logoTextEdit_;
    QLineEdit* editionEdit_;
    QPushButton* defaultButton_;
    QLabel* picture_;
    Brand shownBrand_ = Brand::Default;
    bool initialised_ = false;
};

}  // namespace kx

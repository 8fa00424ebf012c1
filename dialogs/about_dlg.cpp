// SPDX-License-Identifier: MIT
#include "dialogs/about_dlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/about_common.h"
#include "ui/window_fit.h"

namespace kx {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("关于 KaldrixPlus"));
    SetDialogFont(this);

    auto* left = new QVBoxLayout;
    left->addLayout(NewHeaderRow(this, QStringLiteral("KaldrixPlus "), &appVersionEdit_));
    left->addSpacing(24);

    auto* firmware = new QGroupBox(tr("固件信息"), this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    int row = 0;
    const auto addRow = [&](const QString& label, QLineEdit* edit) {
        grid->addWidget(new QLabel(label, firmware), row, 0);
        grid->addWidget(edit, row, 1);
        ++row;
    };
    serialNumberEdit_ = NewValueEdit(firmware, QStringLiteral("serialNumber"));
    deviceIdEdit_ = NewValueEdit(firmware, QStringLiteral("deviceId"));
    firmwareVersionEdit_ = NewValueEdit(firmware, QStringLiteral("firmwareVersion"));
    firmwareDateEdit_ = NewValueEdit(firmware, QStringLiteral("firmwareDate"));
    authorEdit_ = NewValueEdit(firmware, QStringLiteral("author"));
    addRow(tr("产品序列号"), serialNumberEdit_);
    addRow(tr("设备标识号"), deviceIdEdit_);
    addRow(tr("固件版本"), firmwareVersionEdit_);
    addRow(tr("固件日期"), firmwareDateEdit_);
    addRow(tr("作者"), authorEdit_);
    grid->setRowStretch(row++, 1);
    grid->addWidget(new QLabel(tr("开机LCD LOGO"), firmware), row++, 0, 1, 2);
    logoTextEdit_ = NewValueEdit(firmware, QStringLiteral("logoText"), 210);
    m_offlineButton = new QCheckBox(tr("脱机运行方式显示每条通道方式"), firmware);
    m_offlineButton->setObjectName(QStringLiteral("offlineDisplay"));
    m_offlineButton->setEnabled(false);
    editionEdit_ = NewValueEdit(firmware, QStringLiteral("edition"), 200);
    editionEdit_->setFrame(false);
    auto* lower = new QVBoxLayout;
    lower->setContentsMargins(15, 0, 0, 0);
    lower->addWidget(logoTextEdit_);
    lower->addWidget(m_offlineButton);
    lower->addWidget(editionEdit_);
    grid->addLayout(lower, row++, 0, 1, 2);
    firmware->setLayout(grid);
    left->addWidget(firmware, 1);

    auto* ok = new QPushButton(tr("确定"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    defaultButton_ = ok;
    connect(ok, &QPushButton::clicked, this, &CAboutDlg::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    left->addLayout(buttons);

    picture_ = NewPictureLabel(this);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addWidget(picture_, 0, Qt::AlignTop);
    // The dialog starts with the default picture, as an empty about box.
    shownBrand_ = kx::ShowLogo(picture_, QString(), LogoRules::AboutDialog);
    FitOnShow(this);
}

void CAboutDlg::Fill(const AboutInfo& info) {
    m_serialNumber = FromBoard(info.serialNumber);
    m_deviceId = FromBoard(info.deviceId);
    m_author = FromBoard(info.author);
    m_firmwareVersion = FromBoard(info.firmwareVersion);
    m_firmwareDate = FromBoard(info.firmwareDate);
    m_optionEditable = info.optionEditable ? 1 : 0;
    m_logoText = FromBoard(info.logoText);
    m_offlineDisplay = info.offlineDisplay;
    m_edition = FromBoard(info.edition);
    m_vendorName = FromBoard(info.vendorName);
}

void CAboutDlg::ShowLogo(const QString& vendorName) {
    shownBrand_ = kx::ShowLogo(picture_, vendorName, LogoRules::AboutDialog);
}

QString CAboutDlg::GetAppVersion() {
    return kx::GetAppVersion();
}

void CAboutDlg::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CAboutDlg::OnInitDialog() {
    m_offlineButton->setEnabled(m_optionEditable != 0);
    ShowLogo(m_vendorName);
    m_appVersion = GetAppVersion();
    UpdateData(false);
    defaultButton_->setFocus();
}

void CAboutDlg::UpdateData(bool save) {
    if (save) {
        switch (m_offlineButton->checkState()) {
            case Qt::Checked:
                m_offlineDisplay = 1;
                break;
            case Qt::PartiallyChecked:
                m_offlineDisplay = 2;
                break;
            case Qt::Unchecked:
                m_offlineDisplay = 0;
                break;
        }
        return;
    }
    appVersionEdit_->setText(m_appVersion);
    serialNumberEdit_->setText(m_serialNumber);
    deviceIdEdit_->setText(m_deviceId);
    firmwareVersionEdit_->setText(m_firmwareVersion);
    firmwareDateEdit_->setText(m_firmwareDate);
    authorEdit_->setText(m_author);
    logoTextEdit_->setText(m_logoText);
    editionEdit_->setText(m_edition);
    // A value of 2 shows the box partly ticked; a click then makes it a
    // plain two-state box again.
    m_offlineButton->setTristate(false);
    switch (m_offlineDisplay) {
        case 1:
            m_offlineButton->setCheckState(Qt::Checked);
            break;
        case 2:
            m_offlineButton->setCheckState(Qt::PartiallyChecked);
            break;
        default:
            m_offlineButton->setCheckState(Qt::Unchecked);
            break;
    }
}

void CAboutDlg::accept() {
    UpdateData(true);
    QDialog::accept();
}

}  // namespace kx

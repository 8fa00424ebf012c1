// SPDX-License-Identifier: MIT
#include "dialogs/about_dlg_velmora5.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/about_common.h"
#include "dialogs/change_log.h"
#include "ui/data_exchange.h"
#include "ui/window_fit.h"

namespace kx {

CAboutDlgVelmora5::CAboutDlgVelmora5(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("关于 KaldrixPlus"));
    SetDialogFont(this);

    auto* left = new QVBoxLayout;
    left->addLayout(NewHeaderRow(this, QStringLiteral("KaldrixPlus"), &appVersionEdit_));
    left->addSpacing(24);

    auto* firmware = new QGroupBox(tr("固件信息"), this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    const FirmwareFields fields = AddFirmwareRows(firmware, grid);
    deviceIdEdit_ = fields.deviceId;
    firmwareVersionEdit_ = fields.firmwareVersion;
    firmwareDateEdit_ = fields.firmwareDate;
    versionInfoBox_ = fields.versionInfo;
    grid->setRowStretch(4, 1);
    firmware->setLayout(grid);
    left->addWidget(firmware, 1);

    auto* layoutRow = new QHBoxLayout;
    rowsEdit_ = new QLineEdit(this);
    rowsEdit_->setObjectName(QStringLiteral("rows"));
    rowsEdit_->setFixedWidth(44);
    columnsEdit_ = new QLineEdit(this);
    columnsEdit_->setObjectName(QStringLiteral("columns"));
    columnsEdit_->setFixedWidth(44);
    layoutCheck_ = new QCheckBox(tr("使能横列数重设"), this);
    layoutCheck_->setObjectName(QStringLiteral("layoutInUse"));
    connect(layoutCheck_, &QCheckBox::clicked, this,
            [this](bool checked) { m_layoutInUse = checked ? 1 : 0; });
    layoutRow->addWidget(new QLabel(tr("行"), this));
    layoutRow->addWidget(rowsEdit_);
    layoutRow->addSpacing(8);
    layoutRow->addWidget(new QLabel(tr("列"), this));
    layoutRow->addWidget(columnsEdit_);
    layoutRow->addSpacing(12);
    layoutRow->addWidget(layoutCheck_);
    layoutRow->addStretch(1);
    left->addLayout(layoutRow);

    auto* ok = new QPushButton(tr("确定"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    defaultButton_ = ok;
    connect(ok, &QPushButton::clicked, this, &CAboutDlgVelmora5::accept);
    left->addWidget(ok);

    picture_ = NewPictureLabel(this);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addWidget(picture_, 0, Qt::AlignTop);
    shownBrand_ = kx::ShowLogo(picture_, QString(), LogoRules::BoardDialog);
    FitOnShow(this);
}

void CAboutDlgVelmora5::Fill(const Velmora5About& about) {
    m_vendorName = FromBoard(about.vendorName);
    m_deviceId = FromBoard(about.deviceId);
    m_firmwareVersion = FromBoard(about.firmwareVersion);
    m_firmwareDate = FromBoard(about.firmwareDate);
    m_layoutKnown = about.layout.has_value();
    const Velmora5LayoutRecord layout = about.layout.value_or(Velmora5LayoutRecord{});
    m_layoutInUse = layout.inUse;
    m_rows = layout.rows;
    m_columns = layout.columns;
}

void CAboutDlgVelmora5::ShowLogo(const QString& vendorName) {
    shownBrand_ = kx::ShowLogo(picture_, vendorName, LogoRules::BoardDialog);
}

QString CAboutDlgVelmora5::GetAppVersion() {
    return kx::GetAppVersion();
}

void CAboutDlgVelmora5::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CAboutDlgVelmora5::OnInitDialog() {
    ShowLogo(m_vendorName);
    m_appVersion = GetAppVersion();
    m_versionInfo = VersionInfoText(g_changeLog);
    layoutCheck_->setChecked(m_layoutInUse == 1);
    for (QWidget* w : {static_cast<QWidget*>(rowsEdit_), static_cast<QWidget*>(columnsEdit_),
                       static_cast<QWidget*>(layoutCheck_)}) {
        w->setEnabled(m_layoutKnown);
    }
    UpdateData(false);
    defaultButton_->setFocus();
}

bool CAboutDlgVelmora5::UpdateData(bool save) {
    if (!save) {
        appVersionEdit_->setText(m_appVersion);
        deviceIdEdit_->setText(m_deviceId);
        firmwareVersionEdit_->setText(m_firmwareVersion);
        firmwareDateEdit_->setText(m_firmwareDate);
        versionInfoBox_->setPlainText(m_versionInfo);
        if (m_layoutKnown) {
            ShowInt(columnsEdit_, m_columns);
            ShowInt(rowsEdit_, m_rows);
        } else {
            columnsEdit_->clear();
            rowsEdit_->clear();
        }
        return true;
    }
    if (!m_layoutKnown) {
        return true;
    }
    std::int32_t columns = m_columns;
    std::int32_t rows = m_rows;
    DataExchange dx(this);
    dx.Int(columnsEdit_, columns, 0, 255).Int(rowsEdit_, rows, 0, 255);
    // A refused field keeps its value; the ones read before it take theirs.
    m_columns = static_cast<std::uint8_t>(columns);
    m_rows = static_cast<std::uint8_t>(rows);
    return dx.ok();
}

void CAboutDlgVelmora5::accept() {
    if (!UpdateData(true)) {
        return;
    }
    QDialog::accept();
}

}  // namespace kx

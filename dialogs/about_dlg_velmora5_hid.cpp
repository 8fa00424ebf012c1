// SPDX-License-Identifier: MIT
#include "dialogs/about_dlg_velmora5_hid.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/about_common.h"
#include "dialogs/change_log.h"
#include "dialogs/edit_list_ctrl.h"
#include "dialogs/reset_row_col_dlg.h"
#include "ui/window_fit.h"

namespace kx {

namespace {
constexpr int kColumnWidth = 80;
constexpr int kMaxCellChars = 255;
}  // namespace

CAboutDlgVelmora5HID::CAboutDlgVelmora5HID(std::function<void()> clearEmergencyStop,
                                           QWidget* parent)
    : QDialog(parent), clearEmergencyStop_(std::move(clearEmergencyStop)) {
    setWindowTitle(tr("关于 KaldrixPlus"));
    SetDialogFont(this);
    m_heads.fill(kNoHead);

    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    left->addLayout(NewHeaderRow(this, QStringLiteral("KaldrixPlus"), &appVersionEdit_));
    left->addSpacing(8);

    auto* firmware = new QGroupBox(tr("固件信息"), this);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    const FirmwareFields fields = AddFirmwareRows(firmware, grid);
    deviceIdEdit_ = fields.deviceId;
    firmwareVersionEdit_ = fields.firmwareVersion;
    firmwareDateEdit_ = fields.firmwareDate;
    versionInfoBox_ = fields.versionInfo;
    versionInfoBox_->setFixedHeight(100);
    firmware->setLayout(grid);
    left->addWidget(firmware, 1);

    auto* buzzer = new QGroupBox(tr("蜂鸣器状态"), this);
    auto* buzzerRow = new QHBoxLayout;
    buzzerOnBox_ = new QCheckBox(tr("启用蜂鸣器"), buzzer);
    buzzerOnBox_->setObjectName(QStringLiteral("buzzerOn"));
    buzzerInvertBox_ = new QCheckBox(tr("蜂鸣器反转"), buzzer);
    buzzerInvertBox_->setObjectName(QStringLiteral("buzzerInvert"));
    auto* clearStop = new QPushButton(tr("清急停"), buzzer);
    clearStop->setObjectName(QStringLiteral("clearEmergencyStop"));
    clearStop->setAutoDefault(false);
    connect(clearStop, &QPushButton::clicked, this, &CAboutDlgVelmora5HID::OnClearEmergencyStop);
    buzzerRow->addWidget(buzzerOnBox_);
    buzzerRow->addWidget(buzzerInvertBox_);
    buzzerRow->addStretch(1);
    buzzerRow->addWidget(clearStop);
    buzzer->setLayout(buzzerRow);
    left->addWidget(buzzer);

    m_headList = new CEditListCtrl(this);
    m_headList->setObjectName(QStringLiteral("headList"));
    m_headList->horizontalHeader()->setSectionsClickable(false);
    // Room for three rows; a larger table scrolls, and the version history
    // takes what height is left.
    m_headList->setFixedHeight(92);
    left->addWidget(m_headList);

    auto* resetRowCol = new QPushButton(tr("重设行列数"), this);
    resetRowCol->setObjectName(QStringLiteral("resetRowCol"));
    resetRowCol->setAutoDefault(false);
    connect(resetRowCol, &QPushButton::clicked, this, &CAboutDlgVelmora5HID::OnResetRowCol);
    auto* ok = new QPushButton(tr("确定"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &CAboutDlgVelmora5HID::accept);
    auto* cancel = new QPushButton(tr("取消"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setDefault(true);
    defaultButton_ = cancel;
    connect(cancel, &QPushButton::clicked, this, &CAboutDlgVelmora5HID::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(resetRowCol);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    left->addLayout(buttons);

    picture_ = NewPictureLabel(this);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addWidget(picture_, 0, Qt::AlignTop);
    shownBrand_ = kx::ShowLogo(picture_, QString(), LogoRules::BoardDialog);
    FitOnShow(this);
}

CAboutDlgVelmora5HID::~CAboutDlgVelmora5HID() = default;

void CAboutDlgVelmora5HID::Fill(const MasterAbout& about) {
    m_vendorName = FromBoard(about.vendorName);
    m_deviceId = FromBoard(about.deviceId);
    m_firmwareVersion = FromBoard(about.firmwareVersion);
    m_firmwareDate = FromBoard(about.firmwareDate);
    m_buzzerKnown = about.buzzerOn.has_value() && about.buzzerInverted.has_value();
    m_buzzerOnCheck = about.buzzerOn.value_or(false) ? 1 : 0;
    m_buzzerInvertCheck = about.buzzerInverted.value_or(false) ? 1 : 0;
    m_heads = about.heads;
    m_columns = about.columns;
    m_rows = about.rows;
}

void CAboutDlgVelmora5HID::ShowLogo(const QString& vendorName) {
    shownBrand_ = kx::ShowLogo(picture_, vendorName, LogoRules::BoardDialog);
}

QString CAboutDlgVelmora5HID::GetAppVersion() {
    return kx::GetAppVersion();
}

MasterLayout CAboutDlgVelmora5HID::Layout() const {
    MasterLayout layout;
    layout.rows = m_rows;
    layout.columns = m_columns;
    layout.heads = m_heads;
    if (m_buzzerKnown) {
        layout.buzzer = BuzzerSettingsByte(m_buzzerOnCheck != 0, m_buzzerInvertCheck != 0);
    }
    return layout;
}

void CAboutDlgVelmora5HID::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CAboutDlgVelmora5HID::OnInitDialog() {
    ShowLogo(m_vendorName);
    m_appVersion = GetAppVersion();
    m_versionInfo = VersionInfoText(g_changeLog);
    buzzerOnBox_->setEnabled(m_buzzerKnown);
    buzzerInvertBox_->setEnabled(m_buzzerKnown);
    UpdateData(false);
    defaultButton_->setFocus();
    BuildTable([this](int k) { return m_heads[static_cast<std::size_t>(k)]; });
}

void CAboutDlgVelmora5HID::BuildTable(const std::function<std::int32_t(int)>& cellValue) {
    m_headList->DeleteAllItems();
    m_headList->setColumnCount(0);
    for (int n = m_columns; n >= 1; --n) {
        m_headList->InsertColumn(0, tr("第%1列").arg(n), kColumnWidth);
    }
    const int columns = std::max(m_columns, 0);
    for (int i = 0; i < m_rows; ++i) {
        m_headList->InsertItem(0, QString());
    }
    for (int i = 0; i < m_rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            const int k = i * columns + j;
            if (k < kMaxPositions) {
                m_headList->SetItemText(i, j, QString::number(cellValue(k)));
            }
        }
    }
}

void CAboutDlgVelmora5HID::UpdateData(bool save) {
    if (save) {
        m_buzzerOnCheck = buzzerOnBox_->isChecked() ? 1 : 0;
        m_buzzerInvertCheck = buzzerInvertBox_->isChecked() ? 1 : 0;
        return;
    }
    appVersionEdit_->setText(m_appVersion);
    versionInfoBox_->setPlainText(m_versionInfo);
    firmwareVersionEdit_->setText(m_firmwareVersion);
    firmwareDateEdit_->setText(m_firmwareDate);
    deviceIdEdit_->setText(m_deviceId);
    buzzerOnBox_->setChecked(m_buzzerOnCheck != 0);
    buzzerInvertBox_->setChecked(m_buzzerInvertCheck != 0);
}

void CAboutDlgVelmora5HID::OnClearEmergencyStop() {
    if (clearEmergencyStop_) {
        clearEmergencyStop_();
    }
}

void CAboutDlgVelmora5HID::OnResetRowCol() {
    if (resetDlg_) {
        resetDlg_->raise();
        resetDlg_->activateWindow();
        return;
    }
    resetDlg_ = new CResetRowColDlg(m_columns, m_rows, this);
    connect(resetDlg_, &QDialog::finished, this, [this, dlg = resetDlg_.data()] {
        if (dlg->TakeSize(m_columns, m_rows)) {
            BuildTable([](int k) { return k; });
        }
        dlg->deleteLater();
    });
    resetDlg_->open();
}

void CAboutDlgVelmora5HID::accept() {
    const int columns = std::max(m_columns, 0);
    for (int i = 0; i < m_rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            const int k = i * columns + j;
            if (k < kMaxPositions) {
                // Full-width digits and signs, as a Chinese input method
                // types them, count as their plain forms.
                const QString text = m_headList->GetItemText(i, j)
                                         .left(kMaxCellChars)
                                         .normalized(QString::NormalizationForm_KC);
                m_heads[static_cast<std::size_t>(k)] = LeadingNumber(text.toStdString());
            }
        }
    }
    UpdateData(true);
    QDialog::accept();
}

}  // namespace kx

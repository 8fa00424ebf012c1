// SPDX-License-Identifier: MIT
#include "dialogs/about_common.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitKaldrixResource() {
    Q_INIT_RESOURCE(kaldrix);
}

namespace kx {

namespace {
constexpr int kPictureWidth = 380;
constexpr int kPictureHeight = 420;
}  // namespace

void InitResources() {
    static const bool done = [] {
        InitKaldrixResource();
        return true;
    }();
    (void)done;
}

QString GetAppVersion() {
    return QString::fromStdString(AppVersionText(KALDRIX_VERSION));
}

Brand ShowLogo(QLabel* picture, const QString& vendorName, LogoRules rules) {
    InitResources();
    const Brand brand = BrandFor(vendorName.toStdString(), rules);
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(QPixmap(QString::fromLatin1(BrandPicturePath(brand))));
    return brand;
}

void SetDialogFont(QDialog* dialog) {
    QFont font(QStringLiteral("宋体"), 9);
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("Noto Sans CJK SC")});
    dialog->setFont(font);
}

QLabel* NewPictureLabel(QWidget* parent) {
    auto* picture = new QLabel(parent);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture->setLineWidth(2);
    picture->setAlignment(Qt::AlignCenter);
    const int frame = 2 * picture->frameWidth();
    picture->setMinimumSize(kPictureWidth + frame, kPictureHeight + frame);
    return picture;
}

QLineEdit* NewValueEdit(QWidget* parent, const QString& name, int width) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setFixedWidth(width);
    return edit;
}

QPlainTextEdit* NewVersionInfoBox(QWidget* parent) {
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(QStringLiteral("versionInfo"));
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return box;
}

QString VersionInfoText(const std::string& changeLog) {
    QString text = QString::fromStdString(changeLog);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

FirmwareFields AddFirmwareRows(QGroupBox* group, QGridLayout* grid) {
    FirmwareFields f{};
    f.deviceId = NewValueEdit(group, QStringLiteral("deviceId"));
    f.firmwareVersion = NewValueEdit(group, QStringLiteral("firmwareVersion"));
    f.firmwareDate = NewValueEdit(group, QStringLiteral("firmwareDate"));
    grid->addWidget(new QLabel(QCoreApplication::translate("AboutCommon", "设备标识号"), group), 0,
                    0);
    grid->addWidget(f.deviceId, 0, 1);
    grid->addWidget(new QLabel(QCoreApplication::translate("AboutCommon", "固件版本"), group), 1,
                    0);
    grid->addWidget(f.firmwareVersion, 1, 1);
    grid->addWidget(new QLabel(QCoreApplication::translate("AboutCommon", "固件日期"), group), 2,
                    0);
    grid->addWidget(f.firmwareDate, 2, 1);
    grid->addWidget(new QLabel(QCoreApplication::translate("AboutCommon", "版本信息"), group), 3, 0,
                    1, 2);
    f.versionInfo = NewVersionInfoBox(group);
    grid->addWidget(f.versionInfo, 4, 0, 1, 2);
    return f;
}

QHBoxLayout* NewHeaderRow(QWidget* parent, const QString& caption, QLineEdit** versionEdit) {
    InitResources();
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel(parent);
    icon->setPixmap(QPixmap(QStringLiteral(":/icons/kaldrix.png"))
                        .scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    row->addWidget(icon);
    row->addSpacing(8);
    row->addWidget(new QLabel(caption, parent));
    *versionEdit = NewValueEdit(parent, QStringLiteral("appVersion"), 110);
    row->addWidget(*versionEdit);
    row->addStretch(1);
    return row;
}

}  // namespace kx

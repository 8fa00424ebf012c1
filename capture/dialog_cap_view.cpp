// SPDX-License-Identifier: MIT
#include "capture/dialog_cap_view.h"

#include <QComboBox>
#include <QFrame>
#include <QPushButton>
#include <QResizeEvent>
#include <algorithm>

#include "ui/window_fit.h"

namespace kx {

namespace {

// The window's form is laid out in dialog units of its 9-point font: one unit
// is about one and a half pixels either way.
constexpr int Du(int units) {
    return (units * 3 + 1) / 2;
}

constexpr QSize kClientSize(Du(291), Du(244));

static_assert(Du(5) == CDialogCapView::kMarginLeft);
static_assert(Du(7) == CDialogCapView::kMarginTop);
static_assert(Du(291) - Du(5) - Du(279) == CDialogCapView::kMarginRight);
static_assert(Du(244) - Du(7) - Du(230) == CDialogCapView::kMarginBottom);

QPushButton* HiddenButton(const QString& text, const QString& name, QRect geometry,
                          QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->hide();
    return button;
}

}  // namespace

CDialogCapView::CDialogCapView(QWidget* parent, CaptureSystem system)
    : QDialog(parent), capture_(std::move(system)) {
    setWindowTitle(QStringLiteral("摄像头抓取"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setModal(false);
    QFont font(QStringLiteral("宋体"), 9);
    // fontconfig has no CJK face for that name; Noto Sans CJK draws it.
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("Noto Sans CJK SC")});
    setFont(font);
    resize(kClientSize);

    QPushButton* ok = HiddenButton(QStringLiteral("OK"), QStringLiteral("ok"),
                                   QRect(Du(235), Du(5), Du(50), Du(14)), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    QPushButton* cancel = HiddenButton(QStringLiteral("Cancel"), QStringLiteral("cancel"),
                                       QRect(Du(180), Du(5), Du(50), Du(14)), this);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    devices_ = new QComboBox(this);
    devices_->setObjectName(QStringLiteral("devices"));
    devices_->setGeometry(Du(5), Du(5), Du(115), Du(14));
    devices_->hide();

    QPushButton* init = HiddenButton(QStringLiteral("Init"), QStringLiteral("init"),
                                     QRect(Du(125), Du(5), Du(50), Du(14)), this);
    connect(init, &QPushButton::clicked, this, &CDialogCapView::OnInit);

    // The preview's host: a sunken black frame, black inside until a
    // picture comes.
    preview_ = new QFrame(this);
    preview_->setObjectName(QStringLiteral("preview"));
    preview_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    preview_->setLineWidth(1);
    QPalette black = preview_->palette();
    black.setColor(QPalette::Window, Qt::black);
    preview_->setPalette(black);
    preview_->setAutoFillBackground(true);
    preview_->setGeometry(Du(5), Du(7), Du(279), Du(230));

    FitOnShow(this);
    OnInitDialog();
}

CDialogCapView::~CDialogCapView() = default;

void CDialogCapView::OnInitDialog() {
    capture_.EnumDevices(devices_);
    // The drop-down list is sorted, as the form's was; Init still counts
    // in the system's order, so position 0 opens the system's first camera.
    devices_->model()->sort(0);
    devices_->setCurrentIndex(0);
    OnInit();
}

void CDialogCapView::OnInit() {
    capture_.Init(devices_->currentIndex(), preview_);
}

void CDialogCapView::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const QSize client = event->size();
    preview_->setGeometry(kMarginLeft, kMarginTop,
                          std::max(0, client.width() - kMarginLeft - kMarginRight),
                          std::max(0, client.height() - kMarginTop - kMarginBottom));
    capture_.ResizeVideoWindow();
    update();
}

}  // namespace kx

// SPDX-License-Identifier: MIT
#include "ui/status_strip.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPainter>

namespace kx {

namespace {

// A label that shows its whole text when it fits and ends it with "…" when
// it does not (a long file name, the English board names on a narrow
// screen), so a cut word is never taken for the whole. text() and the tool
// tip keep the whole text.
class ElidingLabel final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
    }
};

}  // namespace

CStatusStrip::CStatusStrip(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("statusStrip"));
    setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    // Its own height, and never a reason for the window to be wider: on a
    // narrow window the texts on the right are cut.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setStyleSheet(QStringLiteral(
        "#statusStrip { background: #202020; }"
        " QLabel { color: white; font-size: 18pt; font-weight: bold; padding: 0 4px; }"
        " QLabel#stripPassed { color: #40e040; }"
        " QLabel#stripFailed { color: #ff5050; }"
        " QLabel#stripYield { color: #ffd040; }"
        " QLabel#stripSerial { font-size: 14pt; }"
        " QLabel#stripConfig, QLabel#stripBoard { font-size: 11pt; }"
        " QLabel#stripWaiting { color: #ffa040; }"
        " QLabel#stripWriteError { color: white; background: #c00000; }"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);
    const auto label = [this](QBoxLayout* box, const char* name, int stretch = 0,
                              bool elide = false) {
        QLabel* l = elide ? new ElidingLabel(this) : new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setTextFormat(Qt::PlainText);
        box->addWidget(l, stretch);
        return l;
    };
    tested_ = label(layout, "stripTested");
    passed_ = label(layout, "stripPassed");
    failed_ = label(layout, "stripFailed");
    yield_ = label(layout, "stripYield");
    layout->addSpacing(8);
    // The configuration over the board, in smaller letters: what the
    // counts were made with, read at closer range than the counts, and
    // room enough for both on a 1024-pixel screen in either language.
    auto* madeWith = new QVBoxLayout;
    madeWith->setSpacing(0);
    layout->addLayout(madeWith, 1);
    config_ = label(madeWith, "stripConfig", 1, true);
    board_ = label(madeWith, "stripBoard", 1, true);
    serial_ = label(layout, "stripSerial");
    waiting_ = label(layout, "stripWaiting");
    writeError_ = label(layout, "stripWriteError");
    writeError_->setText(tr("记录未保存"));
    for (QLabel* l : {config_, board_}) {
        // Long names are cut rather than widening the window; the serial,
        // which the operator checks against the panel, is cut last.
        l->setMinimumWidth(40);
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    SetState(state_);
}

QString CStatusStrip::YieldText(std::int64_t tested, std::int64_t passed) {
    if (tested <= 0) {
        return tr("良率 --");
    }
    const double percent = 100.0 * static_cast<double>(passed) / static_cast<double>(tested);
    return tr("良率 %1%").arg(percent, 0, 'f', 1);
}

void CStatusStrip::SetState(const StripState& state) {
    state_ = state;
    tested_->setText(tr("已测 %1").arg(state.tested));
    passed_->setText(tr("通过 %1").arg(state.passed));
    failed_->setText(tr("失败 %1").arg(state.failed));
    yield_->setText(YieldText(state.tested, state.passed));
    const QString config = ConfigText();
    config_->setText(config);
    config_->setToolTip(config);
    board_->setText(BoardText());
    board_->setToolTip(BoardText());
    serial_->setText(SerialText());
    serial_->setToolTip(SerialText());
    waiting_->setVisible(state.waiting.has_value());
    waiting_->setText(WaitingText());
    writeError_->setVisible(!state.writeError.isEmpty());
    writeError_->setToolTip(state.writeError);
}

QString CStatusStrip::CountsText() const {
    return QStringLiteral("%1  %2  %3  %4")
        .arg(tested_->text(), passed_->text(), failed_->text(), yield_->text());
}

QString CStatusStrip::ConfigText() const {
    return state_.config.isEmpty() ? tr("测试板设置") : state_.config;
}

QString CStatusStrip::BoardText() const {
    return state_.board.isEmpty() ? tr("未连接测试板") : state_.board;
}

QString CStatusStrip::SerialText() const {
    return tr("条码 %1").arg(state_.lastSerial.isEmpty() ? QStringLiteral("--")
                                                         : state_.lastSerial);
}

QString CStatusStrip::WaitingText() const {
    return state_.waiting ? tr("待上传 %1").arg(*state_.waiting) : QString();
}

}  // namespace kx

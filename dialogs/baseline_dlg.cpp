// SPDX-License-Identifier: MIT
#include "dialogs/baseline_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "dialogs/baseline_calc.h"
#include "dialogs/raw_data_file.h"
#include "grid/color_bar.h"
#include "ui/data_exchange.h"
#include "ui/message_box.h"
#include "ui/window_fit.h"

namespace kx {

namespace {

constexpr int kListColumns = kChannels + 1;  // "No." and the 32 channels
constexpr int kListColumnWidth = 50;

// A report-view list with check boxes, grid lines and full-row selection,
// and 33 left-aligned columns of width 50: "No." and "0" to "31".
void SetUpList(QTableWidget* list) {
    list->setColumnCount(kListColumns);
    QStringList headings{CBaseLineDlg::tr("No.")};
    for (int c = 0; c < kChannels; ++c) {
        headings << QString::number(c);
    }
    list->setHorizontalHeaderLabels(headings);
    for (int c = 0; c < kListColumns; ++c) {
        list->setColumnWidth(c, kListColumnWidth);
        list->horizontalHeaderItem(c)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    // The first column also holds the check box, which takes more room here
    // than the 50 pixels leave beside "AVG" or a three-digit reading number.
    const int indicator = list->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, list);
    const int label = list->fontMetrics().horizontalAdvance(CBaseLineDlg::tr("AVG"));
    list->setColumnWidth(0, std::max(kListColumnWidth, indicator + label + 20));
    list->horizontalHeader()->setHighlightSections(false);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setWordWrap(false);
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return item;
}

QTableWidgetItem* CheckCell(const QString& text, bool ticked) {
    QTableWidgetItem* item = Cell(text);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    return item;
}

void FillRow(QTableWidget* list, int row, const ChannelValues& values) {
    for (int c = 0; c < kChannels; ++c) {
        list->setItem(row, c + 1, Cell(QString::number(values[c])));
    }
}

QPushButton* Button(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setAutoDefault(false);
    return b;
}

ChannelModes ModeBytes(const std::array<std::int32_t, kChannels>& modes) {
    ChannelModes bytes{};
    for (int c = 0; c < kChannels; ++c) {
        bytes[c] = static_cast<std::uint8_t>(modes[c] & 0xFF);
    }
    return bytes;
}

}  // namespace

CBaseLineDlg::CBaseLineDlg(PageStore& pages, const BaselineExchange& exchange, QWidget* parent)
    : QDialog(parent),
      pages_(pages),
      exchange_(exchange),
      readingsList_(new QTableWidget(this)),
      averageList_(new QTableWidget(this)),
      byPercentageBox_(new QCheckBox(tr("按照差异百分比设置上下限"), this)),
      byValueBox_(new QCheckBox(tr("按照数值设置上下限"), this)),
      percentageEdit_(new QLineEdit(this)),
      valueUpperEdit_(new QLineEdit(this)),
      valueLowerEdit_(new QLineEdit(this)),
      coordinateLowerEdit_(new QLineEdit(this)),
      coordinateUpperEdit_(new QLineEdit(this)),
      grid_(new CColorBar(this)) {
    setWindowTitle(tr("基准值与上下限设定"));

    // Readings with Read, Load and Save beside them; the averages with
    // "Averange"; the grid with the settings and open/close all. All of it
    // scrolls when the screen is too small for it; OK and Cancel stay below,
    // outside the scrolled part, so they are always on the screen.
    auto* content = new QWidget;
    auto* read = Button(tr("Read"), content);
    auto* load = Button(tr("Load"), content);
    auto* save = Button(tr("Save"), content);
    auto* average = Button(tr("Averange"), content);
    auto* apply = Button(tr("设定"), content);
    auto* openAll = Button(tr("全部打开"), content);
    auto* closeAll = Button(tr("全部关闭"), content);
    // Qt's standard buttons, in the station's language through Qt's own
    // translation.
    auto* endButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    endButtons->setObjectName(QStringLiteral("buttons"));
    QPushButton* ok = endButtons->button(QDialogButtonBox::Ok);
    QPushButton* cancel = endButtons->button(QDialogButtonBox::Cancel);
    ok->setDefault(true);
    cancel->setAutoDefault(false);
    read->setObjectName(QStringLiteral("read"));
    load->setObjectName(QStringLiteral("load"));
    save->setObjectName(QStringLiteral("save"));
    average->setObjectName(QStringLiteral("average"));
    apply->setObjectName(QStringLiteral("apply"));
    openAll->setObjectName(QStringLiteral("openAll"));
    closeAll->setObjectName(QStringLiteral("closeAll"));
    ok->setObjectName(QStringLiteral("ok"));
    cancel->setObjectName(QStringLiteral("cancel"));

    SetUpList(readingsList_);
    SetUpList(averageList_);
    averageList_->setRowCount(1);
    averageList_->setItem(0, 0, CheckCell(tr("AVG"), false));
    averageList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    averageList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    averageList_->setFixedHeight(averageList_->horizontalHeader()->sizeHint().height() +
                                 averageList_->verticalHeader()->defaultSectionSize() +
                                 averageList_->horizontalScrollBar()->sizeHint().height() +
                                 2 * averageList_->frameWidth() + 2);
    // Both lists scroll their channel columns together.
    connect(readingsList_->horizontalScrollBar(), &QScrollBar::valueChanged,
            averageList_->horizontalScrollBar(), &QScrollBar::setValue);
    connect(averageList_->horizontalScrollBar(), &QScrollBar::valueChanged,
            readingsList_->horizontalScrollBar(), &QScrollBar::setValue);

    auto* settings = new QGroupBox(tr("设置"), content);
    auto* form = new QGridLayout(settings);
    form->addWidget(byPercentageBox_, 0, 0, 1, 2);
    form->addWidget(percentageEdit_, 1, 1);
    form->addWidget(byValueBox_, 2, 0, 1, 2);
    form->addWidget(new QLabel(tr("数值上限=中心值+"), settings), 3, 0);
    form->addWidget(valueUpperEdit_, 3, 1);
    form->addWidget(new QLabel(tr("数值下限=中心值-"), settings), 4, 0);
    form->addWidget(valueLowerEdit_, 4, 1);
    form->addWidget(new QLabel(tr("坐标值下限"), settings), 5, 0);
    form->addWidget(coordinateLowerEdit_, 5, 1);
    form->addWidget(new QLabel(tr("坐标值上限"), settings), 6, 0);
    form->addWidget(coordinateUpperEdit_, 6, 1);
    form->addWidget(apply, 7, 0, 1, 2);
    for (QLineEdit* e : {percentageEdit_, valueUpperEdit_, valueLowerEdit_, coordinateLowerEdit_,
                         coordinateUpperEdit_}) {
        e->setMaximumWidth(90);
    }

    auto* placeholder = new QFrame(content);
    placeholder->setFrameShape(QFrame::Box);
    placeholder->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    auto* readingButtons = new QVBoxLayout;
    readingButtons->addWidget(read);
    readingButtons->addWidget(load);
    readingButtons->addWidget(save);
    readingButtons->addStretch();

    auto* side = new QVBoxLayout;
    side->addWidget(settings);
    auto* modeButtons = new QHBoxLayout;
    modeButtons->addWidget(openAll);
    modeButtons->addWidget(closeAll);
    side->addLayout(modeButtons);
    side->addStretch();

    auto* layout = new QGridLayout(content);
    layout->addWidget(readingsList_, 0, 0);
    layout->addLayout(readingButtons, 0, 1);
    layout->addWidget(averageList_, 1, 0);
    layout->addWidget(average, 1, 1, Qt::AlignTop);
    layout->addWidget(placeholder, 2, 0);
    layout->addLayout(side, 2, 1);
    // Where Load and Save find the readings, in full.
    auto* rawDataPath = new QLabel(QString::fromStdString(RawDataLocationText()), this);
    rawDataPath->setObjectName(QStringLiteral("rawDataPath"));
    rawDataPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(rawDataPath, 3, 0, 1, 2);
    layout->setRowStretch(0, 2);
    layout->setRowStretch(2, 5);
    layout->setColumnStretch(0, 1);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(scroll, 1);
    outer->addWidget(endButtons);
    // The size for a large screen; a smaller one shrinks it on opening.
    resize(1180, 820);
    FitOnShow(this);

    connect(read, &QPushButton::clicked, this, &CBaseLineDlg::Read);
    connect(load, &QPushButton::clicked, this, &CBaseLineDlg::Load);
    connect(save, &QPushButton::clicked, this, &CBaseLineDlg::Save);
    connect(average, &QPushButton::clicked, this, &CBaseLineDlg::Average);
    connect(apply, &QPushButton::clicked, this, &CBaseLineDlg::Apply);
    connect(openAll, &QPushButton::clicked, this, &CBaseLineDlg::OpenAll);
    connect(closeAll, &QPushButton::clicked, this, &CBaseLineDlg::CloseAll);
    connect(endButtons, &QDialogButtonBox::accepted, this, &CBaseLineDlg::accept);
    connect(endButtons, &QDialogButtonBox::rejected, this, &CBaseLineDlg::reject);
    connect(byPercentageBox_, &QCheckBox::clicked, this,
            [this] { ChooseOffsetBox(byPercentageBox_); });
    connect(byValueBox_, &QCheckBox::clicked, this, [this] { ChooseOffsetBox(byValueBox_); });

    // The page's settings and live values, copied under its lock.
    PageRecord page = PageRecord::Defaults();
    if (ValidPage()) {
        page = pages_.Copy(exchange_.selectedPage);
    }
    coordinateUpper_ = page.rangeMax;
    coordinateLower_ = page.rangeMin;
    byPercentage_ = page.offsetType != 0;
    byValue_ = page.offsetType == 0;
    percentage_ = page.percentage;
    valueUpper_ = page.offsetUpper;
    valueLower_ = page.offsetLower;

    // One head without verdict row, in the placeholder's place.
    grid_->AttachToControl(kGridControl, placeholder);
    grid_->setMinimumSize(480, 260);
    GridModel& model = grid_->model();
    model.SetColumns(1);
    model.SetRows(1);
    grid_->ShowVerdictRow(false);
    ChannelValues live{};
    std::copy_n(page.live.begin(), kChannels, live.begin());
    model.SetRange(0, 0, coordinateUpper_, coordinateLower_);
    model.SetValues(0, 0, live);
    model.SetReference(0, 0, exchange_.editReference);
    model.SetChannelModes(0, 0, ModeBytes(exchange_.editModes));
    model.SetUpperLimits(0, 0, exchange_.editUpper);
    model.SetLowerLimits(0, 0, exchange_.editLower);

    ShowFields();
}

CBaseLineDlg::~CBaseLineDlg() = default;

void CBaseLineDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    grid_->SetRepaintTimer(1, true);
}

void CBaseLineDlg::hideEvent(QHideEvent* event) {
    grid_->SetRepaintTimer(1, false);
    QDialog::hideEvent(event);
}

bool CBaseLineDlg::ValidPage() const {
    return exchange_.selectedPage >= 0 && exchange_.selectedPage < kPageCount;
}

BaselineResult CBaseLineDlg::Result() const {
    BaselineResult r;
    r.edit = exchange_;
    r.coordinateUpper = coordinateUpper_;
    r.coordinateLower = coordinateLower_;
    r.percentage = percentage_;
    r.valueUpper = valueUpper_;
    r.valueLower = valueLower_;
    r.byPercentage = byPercentage_;
    r.byValue = byValue_;
    return r;
}

bool CBaseLineDlg::ReadFields() {
    DataExchange dx(this);
    dx.Int(coordinateLowerEdit_, coordinateLower_, kCoordinateMin, kCoordinateMax)
        .Int(coordinateUpperEdit_, coordinateUpper_, kCoordinateMin, kCoordinateMax)
        .Number(percentageEdit_, percentage_)
        .Int(valueUpperEdit_, valueUpper_)
        .Int(valueLowerEdit_, valueLower_)
        .Check(byPercentageBox_, byPercentage_)
        .Check(byValueBox_, byValue_);
    return dx.ok();
}

void CBaseLineDlg::ShowFields() {
    ShowInt(coordinateLowerEdit_, coordinateLower_);
    ShowInt(coordinateUpperEdit_, coordinateUpper_);
    ShowNumber(percentageEdit_, percentage_);
    ShowInt(valueUpperEdit_, valueUpper_);
    ShowInt(valueLowerEdit_, valueLower_);
    ShowCheck(byPercentageBox_, byPercentage_);
    ShowCheck(byValueBox_, byValue_);
}

void CBaseLineDlg::ChooseOffsetBox(QCheckBox* chosen) {
    chosen->setChecked(true);
    (chosen == byPercentageBox_ ? byValueBox_ : byPercentageBox_)->setChecked(false);
}

void CBaseLineDlg::TakeGridModes() {
    const ChannelModes modes = grid_->model().GetChannelModes(0, 0);
    for (int c = 0; c < kChannels; ++c) {
        exchange_.editModes[c] = modes[c];
    }
}

void CBaseLineDlg::InsertReadingRow(const Reading& reading) {
    readingsList_->insertRow(0);
    readingsList_->setItem(0, 0, CheckCell(QString::fromStdString(reading.label), reading.ticked));
    FillRow(readingsList_, 0, reading.values);
}

void CBaseLineDlg::TakeTicksFromList() {
    // Row r shows reading count - 1 - r: the newest is on top.
    const int count = readingsList_->rowCount();
    for (int row = 0; row < count; ++row) {
        const QTableWidgetItem* item = readingsList_->item(row, 0);
        readings_.SetTicked(count - 1 - row, item != nullptr && item->checkState() == Qt::Checked);
    }
}

void CBaseLineDlg::Read() {
    if (readings_.Full()) {
        ShowMessage(this, tr("读数已满 %1 条，不能再读取。").arg(kMaxReadings), QString(),
                    QMessageBox::Warning);
        return;
    }
    ChannelValues live{};
    if (ValidPage()) {
        const PageRecord page = pages_.Copy(exchange_.selectedPage);
        std::copy_n(page.live.begin(), kChannels, live.begin());
    }
    const int n = readings_.Add(live);
    InsertReadingRow(readings_.At(n));
}

void CBaseLineDlg::Average() {
    if (readingsList_->rowCount() == 0) {
        return;
    }
    TakeTicksFromList();
    const ChannelAverages averages = AverageTicked(readings_.readings());
    if (!averages.anyTicked) {
        ShowMessage(this, tr("ERR"));
    }
    exchange_.editReference = averages.values;
    FillRow(averageList_, 0, averages.values);
    averageList_->item(0, 0)->setCheckState(Qt::Checked);
    GridModel& model = grid_->model();
    model.SetReference(0, 0, exchange_.editReference);
    model.SetValues(0, 0, exchange_.editReference);
    averaged_ = true;
}

void CBaseLineDlg::Apply() {
    // A rejected entry stops the reading there; the limits are derived from
    // what was read before it.
    ReadFields();
    if (byPercentage_) {
        LimitsByPercentage(exchange_.editReference, percentage_, exchange_.editUpper,
                           exchange_.editLower);
    }
    if (byValue_) {
        LimitsByValue(exchange_.editReference, valueUpper_, valueLower_, exchange_.editUpper,
                      exchange_.editLower);
    }
    GridModel& model = grid_->model();
    // Before an average the grid still shows the page's old reference, so it
    // keeps its limits too; the new ones are stored on OK all the same.
    if (averaged_) {
        model.SetUpperLimits(0, 0, exchange_.editUpper);
        model.SetLowerLimits(0, 0, exchange_.editLower);
    }
    model.SetRange(0, 0, coordinateUpper_, coordinateLower_);
    TakeGridModes();
}

void CBaseLineDlg::SetAllModes(std::uint8_t mode) {
    exchange_.editModes.fill(mode);
    ChannelModes modes{};
    modes.fill(mode);
    if (ValidPage()) {
        pages_.EditPage(exchange_.selectedPage, [&](PageRecord& page) { page.mask = modes; });
    }
    grid_->model().SetChannelModes(0, 0, modes);
}

void CBaseLineDlg::OpenAll() {
    SetAllModes(Tested);
}

void CBaseLineDlg::CloseAll() {
    SetAllModes(Masked);
}

void CBaseLineDlg::Save() {
    TakeTicksFromList();
    const RawDataSave saved = SaveRawData(kRawDataFolder, readings_.readings());
    if (saved.status != RawDataSave::Ok) {
        ShowMessage(this, QString::fromStdString(saved.Message()), QString(), QMessageBox::Warning);
    }
}

void CBaseLineDlg::Load() {
    if (ShowMessage(this, tr("真正需要重新载入？"), QString(), QMessageBox::Question,
                    QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
        return;
    }
    RawDataLoad loaded = LoadRawData(RawDataFilePath());
    switch (loaded.status) {
        case RawDataLoad::Ok:
            break;
        case RawDataLoad::Missing:
            // As ever: the list is emptied, then the operator is told.
            readingsList_->setRowCount(0);
            readings_.Clear();
            ShowMessage(this, QString::fromStdString(loaded.Message()));
            return;
        case RawDataLoad::Unreadable:
        case RawDataLoad::NotRawData:
            // The readings taken so far are worth more than a file that
            // cannot be one: they stay.
            ShowMessage(this, QString::fromStdString(loaded.Message()), QString(),
                        QMessageBox::Warning);
            return;
    }
    readingsList_->setRowCount(0);
    readings_.Assign(std::move(loaded.readings));
    for (const Reading& r : readings_.readings()) {
        InsertReadingRow(r);
    }
    if (loaded.truncated) {
        ShowMessage(this, tr("文件中的读数超过 %1 条，只载入了前 %1 条。").arg(kMaxReadings),
                    QString(), QMessageBox::Warning);
    }
}

void CBaseLineDlg::accept() {
    if (!ReadFields()) {
        return;
    }
    TakeGridModes();
    QDialog::accept();
}

}  // namespace kx

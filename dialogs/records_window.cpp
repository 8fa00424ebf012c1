// SPDX-License-Identifier: MIT
#include "dialogs/records_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <initializer_list>
#include <map>
#include <thread>

#include "station/family_table.h"
#include "ui/message_box.h"
#include "ui/window_fit.h"

namespace kx {

namespace {

constexpr const char* kWindowTitle = QT_TRANSLATE_NOOP("RecordsWindow", "测试记录");
constexpr int kChannelColumns = 10;

QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

QString Tr(const char* text) {
    return QCoreApplication::translate("RecordsWindow", text);
}

QString WindowTitle() {
    return Tr(kWindowTitle);
}

QString HeadText(std::int32_t row, std::int32_t column) {
    return QCoreApplication::translate("RecordsWindow", "行%1 列%2").arg(row).arg(column);
}

QString LocalTime(std::int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString ModeText(std::uint8_t mode) {
    switch (mode) {
        case 0:
            return QCoreApplication::translate("RecordsWindow", "测试");
        case 1:
            return QCoreApplication::translate("RecordsWindow", "屏蔽");
        case 2:
            return QCoreApplication::translate("RecordsWindow", "不测");
        default:
            return QString::number(mode);
    }
}

QString ClassText(std::uint8_t channelClass) {
    switch (channelClass) {
        case 0:
            return QCoreApplication::translate("RecordsWindow", "未判定");
        case 1:
            return QCoreApplication::translate("RecordsWindow", "范围内");
        case 2:
            return QCoreApplication::translate("RecordsWindow", "超上限");
        case 3:
            return QCoreApplication::translate("RecordsWindow", "低于下限");
        default:
            return QString::number(channelClass);
    }
}

QColor VerdictColor(RecordVerdict verdict) {
    return verdict == RecordVerdict::Pass ? QColor(0, 140, 0) : QColor(200, 0, 0);
}

}  // namespace

QString RecordReasonText(const std::string& reason) {
    struct Known {
        const char* stored;
        const char* shown;
    };
    static const Known kKnown[] = {
        {kReasonEveryChannelResponded, QT_TRANSLATE_NOOP("RecordsWindow", "所有通道均已响应")},
        {kReasonChannelsDidNotRespond, QT_TRANSLATE_NOOP("RecordsWindow", "通道未响应")},
        {kReasonChannelsOutOfLimits, QT_TRANSLATE_NOOP("RecordsWindow", "通道超出上下限")},
    };
    for (const Known& k : kKnown) {
        const std::string stored = k.stored;
        if (reason == stored) {
            return Tr(k.shown);
        }
        const std::string withList = stored + ": ";
        if (reason.size() > withList.size() && reason.compare(0, withList.size(), withList) == 0) {
            // "<reason>：<channels>"
            return QCoreApplication::translate("RecordsWindow", "%1：%2")
                .arg(Tr(k.shown), FromStd(reason.substr(withList.size())));
        }
    }
    return FromStd(reason);
}

QString RecordConfigText(const std::string& config) {
    if (config == kBoardSettings || config.empty()) {
        return QCoreApplication::translate("RecordsWindow", "测试板设置");
    }
    return QFileInfo(FromStd(config)).fileName();
}

// --- the reader thread -------------------------------------------------------------

RecordPageReader::RecordPageReader(std::string dbPath, Deliver deliver)
    : dbPath_(std::move(dbPath)), deliver_(std::move(deliver)) {
    thread_ = std::thread([this] { Run(); });
}

RecordPageReader::~RecordPageReader() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        pending_.reset();
        if (store_ != nullptr && running_ != 0) {
            store_->Interrupt();
        }
    }
    wake_.notify_all();
    thread_.join();
}

void RecordPageReader::Ask(Request request) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        newest_ = std::max(newest_, request.generation);
        // A query for an older list is of no use any more: SQLite stops it
        // at its next step. (Interrupt is a no-op between statements, so it
        // cannot hit the next query by mistake: that one starts under this
        // mutex.)
        if (store_ != nullptr && running_ != 0 && running_ < newest_) {
            store_->Interrupt();
        }
        pending_ = std::move(request);
    }
    wake_.notify_all();
}

void RecordPageReader::Reopen() {
    const std::lock_guard<std::mutex> lock(mutex_);
    reopen_ = true;
}

void RecordPageReader::SetDelayForTest(std::chrono::milliseconds delay) {
    const std::lock_guard<std::mutex> lock(mutex_);
    delay_ = delay;
}

void RecordPageReader::Run() {
    std::unique_ptr<RecordStore> store;
    std::string openError;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
        if (stop_) {
            break;
        }
        Request request = std::move(*pending_);
        pending_.reset();
        if (request.generation < newest_) {
            continue;
        }
        if (reopen_ || !store) {
            // Opening reads the schema: a moment, but not on the window's
            // thread either.
            reopen_ = false;
            store_ = nullptr;
            lock.unlock();
            store.reset();
            openError.clear();
            store = RecordStore::Open(dbPath_, RecordStore::Mode::ReadOnly, &openError);
            lock.lock();
            if (stop_) {
                break;
            }
            store_ = store.get();
            if (request.generation < newest_) {
                continue;
            }
        }
        Result result;
        result.generation = request.generation;
        if (!store) {
            result.error = openError;
            result.openFailed = true;
            lock.unlock();
            deliver_(std::move(result));
            lock.lock();
            continue;
        }
        if (delay_.count() > 0) {
            const std::uint64_t mine = request.generation;
            wake_.wait_for(lock, delay_, [&] { return stop_ || newest_ > mine; });
            if (stop_) {
                break;
            }
            if (newest_ > mine) {
                continue;
            }
        }
        running_ = request.generation;
        lock.unlock();
        result.page = store->Page(request.filter, request.beforeId, request.limit, &result.error);
        lock.lock();
        running_ = 0;
        if (stop_) {
            break;
        }
        // Interrupted or not, a page of an older list is dropped here
        // already; the model drops any that slips through.
        if (request.generation < newest_) {
            continue;
        }
        lock.unlock();
        deliver_(std::move(result));
        lock.lock();
    }
    store_ = nullptr;
    lock.unlock();
    store.reset();
}

// --- the list ----------------------------------------------------------------------

RecordsTableModel::RecordsTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void RecordsTableModel::Reset(RecordPageReader* reader, const RecordFilter& filter) {
    beginResetModel();
    reader_ = reader;
    filter_ = filter;
    rows_.clear();
    // A page on its way belongs to the old list.
    ++generation_;
    atEnd_ = reader_ == nullptr;
    fetches_ = 0;
    endResetModel();
    SetFetching(false);
}

void RecordsTableModel::SetFetching(bool fetching) {
    if (fetching_ != fetching) {
        fetching_ = fetching;
        emit fetchingChanged(fetching_);
    }
}

const StoredRecord* RecordsTableModel::RecordAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return nullptr;
    }
    return &rows_[static_cast<std::size_t>(row)];
}

int RecordsTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordsTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

bool RecordsTableModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !atEnd_;
}

void RecordsTableModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || atEnd_ || reader_ == nullptr || fetching_) {
        return;
    }
    RecordPageReader::Request request;
    request.generation = generation_;
    request.filter = filter_;
    request.beforeId = rows_.empty() ? 0 : rows_.back().id;
    request.limit = kPageSize;
    SetFetching(true);
    reader_->Ask(std::move(request));
}

void RecordsTableModel::Receive(RecordPageReader::Result result) {
    if (result.generation != generation_ || !fetching_) {
        return;  // a page of a list that is no longer shown
    }
    ++fetches_;
    if (!result.error.empty() || static_cast<int>(result.page.size()) < kPageSize) {
        // A database error ends the list where it stands; Refresh tries again.
        atEnd_ = true;
    }
    // Not fetching any more before the rows go in: a view that asks for
    // the next page as they arrive gets it.
    fetching_ = false;
    openFailed_ = result.openFailed;
    if (!result.page.empty()) {
        const int first = static_cast<int>(rows_.size());
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(result.page.size()) - 1);
        rows_.insert(rows_.end(), std::make_move_iterator(result.page.begin()),
                     std::make_move_iterator(result.page.end()));
        endInsertRows();
    }
    error_ = FromStd(result.error);
    // One signal for the rows, the error and the end of the fetch: the
    // window's status line reads them all.
    emit fetchingChanged(false);
}

QVariant RecordsTableModel::data(const QModelIndex& index, int role) const {
    const StoredRecord* stored = index.isValid() ? RecordAt(index.row()) : nullptr;
    if (stored == nullptr) {
        return {};
    }
    const TestRecord& r = stored->record;
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
            case kColTime:
                return LocalTime(r.timeMs);
            case kColSerial:
                return FromStd(r.serial);
            case kColHead:
                return HeadText(r.row, r.column);
            case kColVerdict:
                return QString::fromLatin1(VerdictText(r.verdict));
            case kColReason:
                return RecordReasonText(r.reason);
            case kColConfig:
                return RecordConfigText(r.config);
            case kColBoard:
                // Stored as the family's Chinese name; shown in the
                // station's language.
                return FromStd(ShownFamilyName(r.board.family));
            case kColStation:
                return FromStd(r.station);
            case kColOperator:
                return FromStd(r.operatorName);
            default:
                return {};
        }
    }
    if (role == Qt::ForegroundRole && index.column() == kColVerdict) {
        return VerdictColor(r.verdict);
    }
    if (role == Qt::FontRole && index.column() == kColVerdict) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role == Qt::ToolTipRole) {
        switch (index.column()) {
            case kColConfig:
                return FromStd(r.config);
            case kColBoard:
                return QStringLiteral("%1 %2 %3")
                    .arg(FromStd(r.board.product), FromStd(r.board.firmware),
                         FromStd(r.board.deviceId));
            case kColReason:
                return RecordReasonText(r.reason);
            default:
                return {};
        }
    }
    return {};
}

QVariant RecordsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static const char* const kHeaders[kColumnCount] = {
        QT_TRANSLATE_NOOP("RecordsWindow", "时间"),
        QT_TRANSLATE_NOOP("RecordsWindow", "条码"),
        QT_TRANSLATE_NOOP("RecordsWindow", "测试头"),
        QT_TRANSLATE_NOOP("RecordsWindow", "结果"),
        QT_TRANSLATE_NOOP("RecordsWindow", "原因"),
        QT_TRANSLATE_NOOP("RecordsWindow", "配置文件"),
        QT_TRANSLATE_NOOP("RecordsWindow", "测试板"),
        QT_TRANSLATE_NOOP("RecordsWindow", "工位"),
        QT_TRANSLATE_NOOP("RecordsWindow", "操作员")};
    if (section < 0 || section >= kColumnCount) {
        return {};
    }
    return Tr(kHeaders[section]);
}

// --- export --------------------------------------------------------------------------

ExportChoice ChooseExportFile(QWidget* owner, std::optional<ExportFormat> format) {
    const QString csvFilter = QCoreApplication::translate("RecordsWindow", "CSV 文件(*.csv)");
    const QString jsonlFilter =
        QCoreApplication::translate("RecordsWindow", "JSON Lines 文件(*.jsonl)");
    QString filters;
    if (!format) {
        filters = csvFilter + QStringLiteral(";;") + jsonlFilter;
    } else {
        filters = *format == ExportFormat::Csv ? csvFilter : jsonlFilter;
    }
    QString selected = format && *format == ExportFormat::Jsonl ? jsonlFilter : csvFilter;
    const QString start =
        QStringLiteral("records") +
        (selected == csvFilter ? QStringLiteral(".csv") : QStringLiteral(".jsonl"));
    ExportChoice choice;
    choice.path = QFileDialog::getSaveFileName(
        owner, QCoreApplication::translate("RecordsWindow", "导出测试记录"), start, filters,
        &selected);
    const QString suffix = QFileInfo(choice.path).suffix().toLower();
    if (format) {
        choice.format = *format;
    } else if (suffix == QLatin1String("jsonl")) {
        choice.format = ExportFormat::Jsonl;
    } else if (suffix == QLatin1String("csv")) {
        choice.format = ExportFormat::Csv;
    } else {
        choice.format = selected == jsonlFilter ? ExportFormat::Jsonl : ExportFormat::Csv;
    }
    if (!choice.path.isEmpty() && suffix.isEmpty()) {
        choice.path +=
            choice.format == ExportFormat::Csv ? QStringLiteral(".csv") : QStringLiteral(".jsonl");
    }
    return choice;
}

// What the export's thread and the window share.
struct CRecordsWindow::ExportState {
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> written{0};
    std::thread thread;
    QTimer ticker;  // the progress dialog's label, from `written`
};

// --- the window ------------------------------------------------------------------------

CRecordsWindow::CRecordsWindow(std::string dbPath, QWidget* parent)
    : QDialog(parent), dbPath_(std::move(dbPath)), chooser_(ChooseExportFile) {
    setWindowTitle(WindowTitle());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setModal(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);

    // Filters: one row, each field applies at once (the serial after a
    // short pause in typing).
    auto* filters = new QHBoxLayout;
    filters->setSpacing(4);
    const QDateTime now = QDateTime::currentDateTime();
    sinceOn_ = new QCheckBox(tr("从"), this);
    since_ = new QDateTimeEdit(QDateTime(now.date(), QTime(0, 0)), this);
    untilOn_ = new QCheckBox(tr("到"), this);
    until_ = new QDateTimeEdit(QDateTime(now.date().addDays(1), QTime(0, 0)), this);
    for (QDateTimeEdit* edit : {since_, until_}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
    }
    verdict_ = new QComboBox(this);
    verdict_->addItem(tr("全部"), -1);
    verdict_->addItem(QStringLiteral("PASS"), static_cast<int>(RecordVerdict::Pass));
    verdict_->addItem(QStringLiteral("FAIL"), static_cast<int>(RecordVerdict::Fail));
    serial_ = new QLineEdit(this);
    serial_->setPlaceholderText(tr("条码包含…"));
    serial_->setClearButtonEnabled(true);
    serial_->setMaxLength(255);
    head_ = new QComboBox(this);
    head_->addItem(tr("全部"), -1);
    head_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto* refresh = new QPushButton(tr("刷新"), this);
    refresh->setAutoDefault(false);
    filters->addWidget(sinceOn_);
    filters->addWidget(since_);
    filters->addWidget(untilOn_);
    filters->addWidget(until_);
    filters->addWidget(new QLabel(tr("结果"), this));
    filters->addWidget(verdict_);
    filters->addWidget(new QLabel(tr("条码"), this));
    filters->addWidget(serial_, 1);
    filters->addWidget(new QLabel(tr("测试头"), this));
    filters->addWidget(head_);
    filters->addWidget(refresh);
    layout->addLayout(filters);

    model_ = new RecordsTableModel(this);
    view_ = new QTableView(this);
    view_->setModel(model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setAlternatingRowColors(true);
    view_->verticalHeader()->hide();
    view_->verticalHeader()->setDefaultSectionSize(22);
    view_->horizontalHeader()->setStretchLastSection(true);
    const int widths[RecordsTableModel::kColumnCount] = {140, 130, 80, 50, 190, 120, 90, 90, 70};
    for (int c = 0; c < RecordsTableModel::kColumnCount; ++c) {
        view_->setColumnWidth(c, widths[c]);
    }

    channels_ = new QTableWidget(kChannels, kChannelColumns, this);
    channels_->setHorizontalHeaderLabels({tr("通道"), tr("模式"), tr("判定"), tr("值"), tr("最低"),
                                          tr("最高"), tr("下限"), tr("上限"), tr("基准"),
                                          tr("绿色标记")});
    channels_->verticalHeader()->hide();
    channels_->verticalHeader()->setDefaultSectionSize(20);
    channels_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    channels_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(view_);
    split->addWidget(channels_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);
    layout->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    csv_ = new QPushButton(tr("导出CSV…"), this);
    jsonl_ = new QPushButton(tr("导出JSON Lines…"), this);
    auto* close = new QPushButton(tr("关闭"), this);
    for (QPushButton* b : {csv_, jsonl_, close}) {
        b->setAutoDefault(false);
    }
    bottom->addWidget(status_, 1);
    bottom->addWidget(csv_);
    bottom->addWidget(jsonl_);
    bottom->addWidget(close);
    layout->addLayout(bottom);

    serialDelay_.setSingleShot(true);
    serialDelay_.setInterval(300);
    connect(&serialDelay_, &QTimer::timeout, this, &CRecordsWindow::ApplyFilter);
    connect(serial_, &QLineEdit::textEdited, this, [this] { serialDelay_.start(); });
    connect(serial_, &QLineEdit::returnPressed, this, &CRecordsWindow::ApplyFilter);
    connect(sinceOn_, &QCheckBox::toggled, this, [this](bool on) {
        since_->setEnabled(on);
        ApplyFilter();
    });
    connect(untilOn_, &QCheckBox::toggled, this, [this](bool on) {
        until_->setEnabled(on);
        ApplyFilter();
    });
    connect(since_, &QDateTimeEdit::dateTimeChanged, this, &CRecordsWindow::ApplyFilter);
    connect(until_, &QDateTimeEdit::dateTimeChanged, this, &CRecordsWindow::ApplyFilter);
    connect(verdict_, &QComboBox::currentIndexChanged, this, &CRecordsWindow::ApplyFilter);
    connect(head_, &QComboBox::currentIndexChanged, this, &CRecordsWindow::ApplyFilter);
    connect(refresh, &QPushButton::clicked, this, &CRecordsWindow::Refresh);
    connect(csv_, &QPushButton::clicked, this, [this] { Export(ExportFormat::Csv); });
    connect(jsonl_, &QPushButton::clicked, this, [this] { Export(ExportFormat::Jsonl); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { NoteHeads(first, last); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        ShowChannels(nullptr);
        UpdateStatus();
    });
    connect(view_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                ShowChannels(model_->RecordAt(current.isValid() ? current.row() : -1));
            });

    // The reader posts each page to the model; the model drops a page of a
    // list it no longer shows. The window ends the reader before the model
    // goes, and Qt drops a page still posted to it then.
    RecordsTableModel* model = model_;
    reader_ = std::make_unique<RecordPageReader>(dbPath_, [model](RecordPageReader::Result result) {
        QMetaObject::invokeMethod(
            model,
            [model, result = std::move(result)]() mutable { model->Receive(std::move(result)); },
            Qt::QueuedConnection);
    });
    connect(model_, &RecordsTableModel::fetchingChanged, this, &CRecordsWindow::UpdateStatus);

    resize(1000, 560);
    FitOnShow(this);
    ShowChannels(nullptr);
    Refresh();
}

CRecordsWindow::~CRecordsWindow() {
    if (exportState_) {
        // The export notices the cancel between records; nothing half
        // written stays behind.
        exportState_->cancel = true;
        if (exportState_->thread.joinable()) {
            exportState_->thread.join();
        }
    }
    delete progress_;
    model_->Reset(nullptr, {});
    // Interrupts a query under way and waits for the reader's thread; a
    // page it posted is dropped with the model.
    reader_.reset();
}

void CRecordsWindow::Refresh() {
    reader_->Reopen();
    ApplyFilter();
}

RecordFilter CRecordsWindow::FilterFromFields() const {
    RecordFilter f;
    if (sinceOn_->isChecked()) {
        f.sinceMs = since_->dateTime().toMSecsSinceEpoch();
    }
    if (untilOn_->isChecked()) {
        f.untilMs = until_->dateTime().toMSecsSinceEpoch();
    }
    const int verdict = verdict_->currentData().toInt();
    if (verdict >= 0) {
        f.verdict = static_cast<RecordVerdict>(verdict);
    }
    f.serialContains = serial_->text().trimmed().toStdString();
    const int page = head_->currentData().toInt();
    if (page >= 0) {
        f.page = page;
    }
    return f;
}

void CRecordsWindow::ApplyFilter() {
    serialDelay_.stop();
    model_->Reset(reader_.get(), FilterFromFields());
    // The first page at once; the view asks for more as it scrolls.
    if (model_->canFetchMore(QModelIndex())) {
        model_->fetchMore(QModelIndex());
    }
    UpdateStatus();
}

void CRecordsWindow::NoteHeads(int first, int last) {
    // The head filter offers the heads the list has shown, in page order.
    std::map<int, QString> seen;
    for (int i = 1; i < head_->count(); ++i) {
        seen.emplace(head_->itemData(i).toInt(), head_->itemText(i));
    }
    const std::size_t before = seen.size();
    for (int row = first; row <= last; ++row) {
        if (const StoredRecord* r = model_->RecordAt(row)) {
            seen.emplace(r->record.page, HeadText(r->record.row, r->record.column));
        }
    }
    if (seen.size() == before) {
        return;
    }
    const QSignalBlocker block(head_);
    const int current = head_->currentData().toInt();
    while (head_->count() > 1) {
        head_->removeItem(1);
    }
    for (const auto& [page, text] : seen) {
        head_->addItem(text, page);
    }
    head_->setCurrentIndex(std::max(0, head_->findData(current)));
}

void CRecordsWindow::ShowChannels(const StoredRecord* stored) {
    channels_->clearContents();
    channels_->setEnabled(stored != nullptr);
    if (stored == nullptr) {
        return;
    }
    for (int c = 0; c < kChannels; ++c) {
        const ChannelRecord& ch = stored->record.channels[static_cast<std::size_t>(c)];
        const QString cells[kChannelColumns] = {
            QString::number(c + 1),        ModeText(ch.mode),
            ClassText(ch.channelClass),    QString::number(ch.value),
            QString::number(ch.low),       QString::number(ch.high),
            QString::number(ch.lower),     QString::number(ch.upper),
            QString::number(ch.reference), ch.greenMark != 0 ? tr("是") : QString()};
        for (int k = 0; k < kChannelColumns; ++k) {
            auto* item = new QTableWidgetItem(cells[k]);
            item->setTextAlignment(Qt::AlignCenter);
            if (k == 2 && ch.mode == 0 && (ch.channelClass == 2 || ch.channelClass == 3)) {
                item->setForeground(QColor(200, 0, 0));
            }
            channels_->setItem(c, k, item);
        }
    }
    // The first channel out of its limits in sight.
    for (int c = 0; c < kChannels; ++c) {
        const ChannelRecord& ch = stored->record.channels[static_cast<std::size_t>(c)];
        if (ch.mode == 0 && (ch.channelClass == 2 || ch.channelClass == 3)) {
            channels_->scrollToItem(channels_->item(c, 0), QAbstractItemView::PositionAtCenter);
            return;
        }
    }
    channels_->scrollToTop();
}

void CRecordsWindow::UpdateStatus() {
    QString text;
    if (model_->Fetching()) {
        text = tr("正在查询…");
    } else if (model_->OpenFailed()) {
        text = tr("无法打开记录数据库 %1：%2").arg(FromStd(dbPath_), model_->LastError());
    } else if (!model_->LastError().isEmpty()) {
        text = tr("读取记录失败：%1").arg(model_->LastError());
    } else {
        const int rows = model_->rowCount();
        text = model_->canFetchMore(QModelIndex())
                   ? tr("已显示最新的 %1 条记录，向下滚动显示更多").arg(rows)
                   : tr("共 %1 条记录").arg(rows);
    }
    status_->setText(text);
}

// --- export ----------------------------------------------------------------------------

void CRecordsWindow::SetFileChooser(ExportFileChooser chooser) {
    chooser_ = chooser ? std::move(chooser) : ExportFileChooser(ChooseExportFile);
}

void CRecordsWindow::ClearFilter() {
    for (QObject* field : std::initializer_list<QObject*>{sinceOn_, untilOn_, verdict_, head_}) {
        field->blockSignals(true);
    }
    sinceOn_->setChecked(false);
    untilOn_->setChecked(false);
    since_->setEnabled(false);
    until_->setEnabled(false);
    verdict_->setCurrentIndex(0);
    head_->setCurrentIndex(0);
    serial_->clear();
    for (QObject* field : std::initializer_list<QObject*>{sinceOn_, untilOn_, verdict_, head_}) {
        field->blockSignals(false);
    }
    // A list that already shows every record is not asked for again.
    if (model_->Filter() == FilterFromFields()) {
        serialDelay_.stop();
        return;
    }
    ApplyFilter();
}

void CRecordsWindow::ExportAll() {
    ClearFilter();
    Export(std::nullopt);
}

void CRecordsWindow::Export(std::optional<ExportFormat> wanted) {
    if (exportState_) {
        return;  // one at a time
    }
    const ExportChoice choice = chooser_(this, wanted);
    if (choice.path.isEmpty()) {
        return;
    }
    const QString path = choice.path;
    const ExportFormat format = choice.format;
    // The export replaces its file: never the database itself.
    const QString target = QFileInfo(path).absoluteFilePath();
    const QString db = QFileInfo(FromStd(dbPath_)).absoluteFilePath();
    for (const QString& own : {db, db + QStringLiteral("-wal"), db + QStringLiteral("-shm")}) {
        if (target == own || (QFileInfo::exists(path) && QFileInfo(path).canonicalFilePath() ==
                                                             QFileInfo(own).canonicalFilePath())) {
            ShowMessage(this, tr("不能导出到记录数据库自身：\n%1").arg(path), WindowTitle(),
                        QMessageBox::Warning);
            return;
        }
    }
    const RecordFilter filter = FilterFromFields();
    auto state = std::make_shared<ExportState>();
    exportState_ = state;
    csv_->setEnabled(false);
    jsonl_->setEnabled(false);

    progress_ = new QProgressDialog(tr("正在导出记录…"), tr("取消"), 0, 0, this);
    progress_->setWindowTitle(WindowTitle());
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setMinimumDuration(300);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    // Raw pointers: the state owns the ticker, and the window keeps the
    // state until the export has ended.
    ExportState* shared = state.get();
    connect(progress_, &QProgressDialog::canceled, this, [shared] { shared->cancel = true; });
    state->ticker.setInterval(100);
    connect(&state->ticker, &QTimer::timeout, this, [this, shared] {
        if (progress_) {
            progress_->setLabelText(tr("正在导出记录… 已导出 %1 条").arg(shared->written.load()));
        }
    });
    state->ticker.start();

    // The export reads through a store of its own: a store belongs to one
    // thread.
    state->thread = std::thread([this, state, filter, format, path, db = dbPath_] {
        ExportResult result;
        std::string error;
        std::unique_ptr<RecordStore> store =
            RecordStore::Open(db, RecordStore::Mode::ReadOnly, &error);
        if (!store) {
            result.error = error;
        } else {
            result = ExportRecords(
                *store, filter, format, path.toStdString(),
                [state](std::int64_t n) { state->written = n; }, &state->cancel);
        }
        const bool cancelled = state->cancel.load();
        QMetaObject::invokeMethod(
            this, [this, result, path, cancelled] { ExportFinished(result, path, cancelled); },
            Qt::QueuedConnection);
    });
}

void CRecordsWindow::ExportFinished(const ExportResult& result, const QString& path,
                                    bool cancelled) {
    std::shared_ptr<ExportState> state = std::move(exportState_);
    if (state) {
        state->ticker.stop();
        if (state->thread.joinable()) {
            state->thread.join();
        }
    }
    delete progress_;
    csv_->setEnabled(true);
    jsonl_->setEnabled(true);
    if (result.ok) {
        ShowMessage(this, tr("已导出 %1 条记录到\n%2").arg(result.records).arg(path), WindowTitle(),
                    QMessageBox::Information);
    } else if (cancelled) {
        ShowMessage(this, tr("导出已取消，没有写入文件。"), WindowTitle(),
                    QMessageBox::Information);
    } else {
        ShowMessage(this,
                    tr("导出失败，没有写入文件：\n%1\n\n原因：%2").arg(path, FromStd(result.error)),
                    WindowTitle(), QMessageBox::Warning);
    }
}

}  // namespace kx

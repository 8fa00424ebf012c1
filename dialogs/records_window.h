// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "records/record_export.h"
#include "records/record_store.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTableWidget;

namespace kx {

// A stored reason as the operator reads it: the known reasons in Chinese
// (with their channel lists), any other text as it stands.
QString RecordReasonText(const std::string& reason);
// The configuration column: the file's name, or "测试板设置".
QString RecordConfigText(const std::string& config);

// Reads the pages of the records list on a thread of its own, through a
// read-only store it opens there, so that a slow query (a serial text over
// millions of records takes seconds) never holds up the window's thread,
// which is also the main window's. One query at a time; a request of a newer
// generation supersedes the one waiting and interrupts the one running, whose
// page is dropped. `deliver` runs on the reading thread: it must only post
// the page to the window's thread.
class RecordPageReader {
public:
    struct Request {
        std::uint64_t generation = 0;
        RecordFilter filter;
        std::int64_t beforeId = 0;
        int limit = 0;
    };
    struct Result {
        std::uint64_t generation = 0;
        std::vector<StoredRecord> page;
        std::string error;        // "" when none
        bool openFailed = false;  // the database could not be opened
    };
    using Deliver = std::function<void(Result)>;

    RecordPageReader(std::string dbPath, Deliver deliver);
    // Interrupts a running query and waits for the thread (bounded by the
    // statement's reaction to the interrupt, a few milliseconds).
    ~RecordPageReader();
    RecordPageReader(const RecordPageReader&) = delete;
    RecordPageReader& operator=(const RecordPageReader&) = delete;

    // Queues the request; an older waiting request is dropped and a running
    // query of an older generation is interrupted.
    void Ask(Request request);
    // The next request opens the database anew.
    void Reopen();
    // Tests only: each query waits this long first (cut short by a newer
    // request or the end), as a query over a very large database would.
    void SetDelayForTest(std::chrono::milliseconds delay);

private:
    void Run();

    std::string dbPath_;
    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Request> pending_;
    std::uint64_t newest_ = 0;   // the newest generation asked for
    std::uint64_t running_ = 0;  // the generation of the query under way, 0: none
    bool reopen_ = true;
    bool stop_ = false;
    std::chrono::milliseconds delay_{0};
    RecordStore* store_ = nullptr;  // the thread's store, for Interrupt (under mutex_)
    std::thread thread_;
};

// The records of a store, newest first, loaded page by page as the view
// scrolls (keyset paging on the row number), so that a database of millions
// of records shows its first rows at once. The pages come from a reader
// thread: fetchMore asks for the next page and returns at once, the rows
// arrive through the window's event loop. The reader belongs to the caller
// and outlives the model's use of it.
class RecordsTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        kColTime,
        kColSerial,
        kColHead,
        kColVerdict,
        kColReason,
        kColConfig,
        kColBoard,
        kColStation,
        kColOperator,
        kColumnCount
    };
    static constexpr int kPageSize = 200;

    explicit RecordsTableModel(QObject* parent = nullptr);

    // A reader (or none) and the filter: the rows start again from the
    // newest; a page still on its way for the old filter is dropped.
    void Reset(RecordPageReader* reader, const RecordFilter& filter);
    const RecordFilter& Filter() const { return filter_; }
    const StoredRecord* RecordAt(int row) const;
    // Pages received since the last Reset.
    int PagesFetched() const { return fetches_; }
    // A page has been asked for and has not arrived yet.
    bool Fetching() const { return fetching_; }
    // The store's last error ("" when none).
    const QString& LastError() const { return error_; }
    // The last error came from opening the database.
    bool OpenFailed() const { return openFailed_; }
    // Takes a page from the reader (on the model's thread). Public for the
    // reader's queued call.
    void Receive(RecordPageReader::Result result);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // More rows may follow (also while a page is on its way).
    bool canFetchMore(const QModelIndex& parent) const override;
    // Asks for the next page unless one is on its way; returns at once.
    void fetchMore(const QModelIndex& parent) override;

signals:
    void fetchingChanged(bool fetching);

private:
    void SetFetching(bool fetching);

    RecordPageReader* reader_ = nullptr;
    RecordFilter filter_;
    std::vector<StoredRecord> rows_;
    std::uint64_t generation_ = 0;
    bool atEnd_ = true;
    bool fetching_ = false;
    bool openFailed_ = false;
    int fetches_ = 0;
    QString error_;
};

// The file an export writes, and in which format; an empty path cancels.
struct ExportChoice {
    QString path;
    ExportFormat format = ExportFormat::Csv;
};
// Asks the operator for the file of an export in `format`, or, without one,
// for the file and the format.
using ExportFileChooser =
    std::function<ExportChoice(QWidget* owner, std::optional<ExportFormat> format)>;
// The real chooser: a save dialog with the format's filter (both without a
// format; the chosen filter decides), the extension added when none is typed.
ExportChoice ChooseExportFile(QWidget* owner, std::optional<ExportFormat> format);

// The station's test records ("测试记录"): a window of its own, not modal,
// over the records database, which its reader thread opens read-only by
// itself (the list's queries never run on the window's thread). Filters
// (time range, verdict, serial text, head) above the list, the selected
// record's 32 channels below it, and the export of the filtered records to
// CSV or JSON Lines, run off the window's thread with a progress dialog.
// Fits a 1024 x 600 screen.
class CRecordsWindow : public QDialog {
    Q_OBJECT

public:
    explicit CRecordsWindow(std::string dbPath, QWidget* parent = nullptr);
    ~CRecordsWindow() override;

    // Reopens the database and lists the newest records again (the station
    // keeps writing while the window is open).
    void Refresh();
    // Takes the filter fields as they stand now and lists again: the first
    // page comes from the reader thread ("正在查询…" until it arrives).
    void ApplyFilter();
    // The filter the fields make.
    RecordFilter FilterFromFields() const;

    // Exports the records the filter takes now: asks for a file (and, without
    // `format`, its format), writes it on a thread of its own with a progress
    // dialog, says when it is done or why it failed. Returns at once.
    void Export(std::optional<ExportFormat> format);
    // Clears the filter and exports every record.
    void ExportAll();
    // Clears the filter fields (every record) and lists again.
    void ClearFilter();
    // An export is running.
    bool Exporting() const { return exportState_ != nullptr; }
    void SetFileChooser(ExportFileChooser chooser);

    RecordsTableModel& model() { return *model_; }
    RecordPageReader& reader() { return *reader_; }
    QTableView* recordsView() const { return view_; }
    QTableWidget* channelsTable() const { return channels_; }
    QCheckBox* sinceCheck() const { return sinceOn_; }
    QDateTimeEdit* sinceEdit() const { return since_; }
    QCheckBox* untilCheck() const { return untilOn_; }
    QDateTimeEdit* untilEdit() const { return until_; }
    QComboBox* verdictCombo() const { return verdict_; }
    QLineEdit* serialEdit() const { return serial_; }
    QComboBox* headCombo() const { return head_; }
    QLabel* statusLabel() const { return status_; }
    QPushButton* csvButton() const { return csv_; }
    QPushButton* jsonlButton() const { return jsonl_; }
    QProgressDialog* exportProgress() const { return progress_; }

private:
    struct ExportState;

    void ShowChannels(const StoredRecord* record);
    void NoteHeads(int first, int last);
    void ExportFinished(const ExportResult& result, const QString& path, bool cancelled);
    void UpdateStatus();

    std::string dbPath_;
    std::unique_ptr<RecordPageReader> reader_;
    RecordsTableModel* model_ = nullptr;
    QTableView* view_ = nullptr;
    QTableWidget* channels_ = nullptr;
    QCheckBox* sinceOn_ = nullptr;
    QDateTimeEdit* since_ = nullptr;
    QCheckBox* untilOn_ = nullptr;
    QDateTimeEdit* until_ = nullptr;
    QComboBox* verdict_ = nullptr;
    QLineEdit* serial_ = nullptr;
    QComboBox* head_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* csv_ = nullptr;
    QPushButton* jsonl_ = nullptr;
    QTimer serialDelay_;
    ExportFileChooser chooser_;
    QPointer<QProgressDialog> progress_;
    std::shared_ptr<ExportState> exportState_;
};

}  // namespace kx

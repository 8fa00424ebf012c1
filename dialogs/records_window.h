// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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

// The records of a store, newest first, loaded page by page as the view
// scrolls (keyset paging on the row number), so that a database of millions
// of records shows its first rows at once. The store belongs to the caller
// and outlives the model.
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

    // A store (or none) and the filter: the rows start again from the newest.
    void Reset(RecordStore* store, const RecordFilter& filter);
    const RecordFilter& Filter() const { return filter_; }
    const StoredRecord* RecordAt(int row) const;
    // Pages read from the store since the last Reset.
    int PagesFetched() const { return fetches_; }
    // The store's last error ("" when none).
    const QString& LastError() const { return error_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    void errorChanged(const QString& error);

private:
    RecordStore* store_ = nullptr;
    RecordFilter filter_;
    std::vector<StoredRecord> rows_;
    bool atEnd_ = true;
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
// over the records database, which it opens read-only by itself. Filters
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
    // Takes the filter fields as they stand now and lists again.
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

    void OpenStore();
    void ShowChannels(const StoredRecord* record);
    void NoteHeads(int first, int last);
    void ExportFinished(const ExportResult& result, const QString& path, bool cancelled);
    void UpdateStatus();

    std::string dbPath_;
    std::unique_ptr<RecordStore> store_;
    QString openError_;
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

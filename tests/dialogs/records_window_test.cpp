// SPDX-License-Identifier: MIT
// The records window over a database the tests write: the filters, one
// record's channels, the paging of the list, the texts it shows and the
// export with its messages, and the list's pages read off the window's thread
// (a slow query neither stalls the window nor outlives a newer filter or the
// window). Every message box is answered by a recorder and the file chooser
// is the test's.
#include "dialogs/records_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "tests/support/event_loop_gaps.h"
#include "tests/support/message_recorder.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

// 2026-12-01 08:00 local time, and whole hours after it.
std::int64_t At(int hours) {
    const QDateTime base(QDate(2026, 12, 1), QTime(8, 0));
    return base.addSecs(3600LL * hours).toMSecsSinceEpoch();
}

TestRecord Record(int hours, const std::string& serial, RecordVerdict verdict, int page,
                  const std::string& reason = {}) {
    TestRecord r;
    r.uuid = NewUuid();
    r.timeMs = At(hours);
    r.startMs = r.timeMs - 4000;
    r.durationMs = 4000;
    r.station = "line3-2";
    r.operatorName = "wang";
    r.config = "/home/op/configs/panel-a.ini";
    r.configSha256 = std::string(64, 'a');
    r.board.family = "一拖一测试板";
    r.page = page;
    r.row = 1;
    r.column = page + 1;
    r.serial = serial;
    r.verdict = verdict;
    r.reason = reason.empty() && verdict == RecordVerdict::Pass ? "" : reason;
    r.steps = 10;
    for (int c = 0; c < kChannels; ++c) {
        ChannelRecord& ch = r.channels[static_cast<std::size_t>(c)];
        ch.mode = c < 30 ? 0 : 1;
        ch.channelClass = 1;
        ch.value = 500 + c;
        ch.low = 480 + c;
        ch.high = 520 + c;
        ch.lower = 100;
        ch.upper = 900;
        ch.reference = 450;
    }
    return r;
}

class RecordsWindowTest : public ::testing::Test {
protected:
    void SetUp() override { db = dir / "records.db"; }

    void Write(const std::vector<TestRecord>& records) {
        std::string error;
        std::unique_ptr<RecordStore> store =
            RecordStore::Open(db, RecordStore::Mode::ReadWrite, &error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->Insert(records, &error)) << error;
    }
    CRecordsWindow& Open() {
        window = std::make_unique<CRecordsWindow>(db);
        window->show();
        Settled();
        return *window;
    }
    // Waits for the page on its way (a few seconds at most).
    void Settled() {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->model().Fetching(); }, 10000))
            << "a page never arrived";
    }
    // The serials of the rows the list shows, top down, every page fetched.
    std::vector<std::string> Serials() {
        RecordsTableModel& m = window->model();
        Settled();
        while (m.canFetchMore({})) {
            m.fetchMore({});
            Settled();
            if (m.Fetching()) {
                break;
            }
        }
        std::vector<std::string> serials;
        for (int row = 0; row < m.rowCount(); ++row) {
            serials.push_back(m.RecordAt(row)->record.serial);
        }
        return serials;
    }
    QString Cell(int row, int column) {
        return window->model().index(row, column).data().toString();
    }

    test::TempDir dir;
    std::string db;
    test::MessageRecorder messages;
    std::unique_ptr<CRecordsWindow> window;
};

// Seven records an hour apart, on two heads (pages 0 and 1).
std::vector<TestRecord> SevenRecords() {
    return {
        Record(0, "SN-001", RecordVerdict::Pass, 0, kReasonEveryChannelResponded),
        Record(1, "SN-002", RecordVerdict::Fail, 1, "channels out of limits: 3, 17"),
        Record(2, "AB-100", RecordVerdict::Pass, 0),
        Record(3, "", RecordVerdict::Fail, 1, "channels did not respond: 5"),
        Record(4, "SN-010", RecordVerdict::Pass, 1),
        Record(5, "X%_1", RecordVerdict::Fail, 0, "channels out of limits: 1"),
        Record(6, "SN-011", RecordVerdict::Pass, 0),
    };
}

struct FilterCase {
    const char* name;
    int since = -1;  // hours, -1: off
    int until = -1;
    int verdict = 0;  // the combo's index: 全部, PASS, FAIL
    const char* serial = "";
    int page = -1;  // -1: 全部
    std::vector<std::string> expected;
};

TEST_F(RecordsWindowTest, FiltersTakeTheirRecordsNewestFirst) {
    Write(SevenRecords());
    Open();
    const std::vector<std::string> all = {"SN-011", "X%_1",   "SN-010", "",
                                          "AB-100", "SN-002", "SN-001"};
    const FilterCase cases[] = {
        {"everything", -1, -1, 0, "", -1, all},
        {"pass", -1, -1, 1, "", -1, {"SN-011", "SN-010", "AB-100", "SN-001"}},
        {"fail", -1, -1, 2, "", -1, {"X%_1", "", "SN-002"}},
        {"serial text", -1, -1, 0, "SN-0", -1, {"SN-011", "SN-010", "SN-002", "SN-001"}},
        {"serial text is no pattern", -1, -1, 0, "%", -1, {"X%_1"}},
        {"serial nowhere", -1, -1, 0, "ZZ", -1, {}},
        {"since, inclusive", 5, -1, 0, "", -1, {"SN-011", "X%_1"}},
        {"until, exclusive", -1, 2, 0, "", -1, {"SN-002", "SN-001"}},
        {"time range", 1, 4, 0, "", -1, {"", "AB-100", "SN-002"}},
        {"head", -1, -1, 0, "", 1, {"SN-010", "", "SN-002"}},
        {"all together", 0, 7, 2, "SN", 1, {"SN-002"}},
        {"back to everything", -1, -1, 0, "", -1, all},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.name);
        window->sinceCheck()->setChecked(c.since >= 0);
        if (c.since >= 0) {
            window->sinceEdit()->setDateTime(QDateTime::fromMSecsSinceEpoch(At(c.since)));
        }
        window->untilCheck()->setChecked(c.until >= 0);
        if (c.until >= 0) {
            window->untilEdit()->setDateTime(QDateTime::fromMSecsSinceEpoch(At(c.until)));
        }
        window->verdictCombo()->setCurrentIndex(c.verdict);
        window->serialEdit()->setText(QString::fromStdString(c.serial));
        const int head = c.page < 0 ? 0 : window->headCombo()->findData(c.page);
        ASSERT_GE(head, 0) << "the head combo offers page " << c.page;
        window->headCombo()->setCurrentIndex(head);
        window->ApplyFilter();
        EXPECT_EQ(Serials(), c.expected);
    }
    // A time edited while its box is off takes nothing away.
    window->sinceEdit()->setDateTime(QDateTime::fromMSecsSinceEpoch(At(6)));
    window->ApplyFilter();
    EXPECT_EQ(Serials(), all);
}

TEST_F(RecordsWindowTest, SerialTypedAppliesAfterAPause) {
    Write(SevenRecords());
    Open();
    QTest::keyClicks(window->serialEdit(), QStringLiteral("AB"));
    EXPECT_EQ(window->model().rowCount(), 7);  // not yet
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->model().rowCount() == 1; }, 3000));
    EXPECT_EQ(Cell(0, RecordsTableModel::kColSerial), QStringLiteral("AB-100"));
}

TEST_F(RecordsWindowTest, ColumnsShowTheRecordAsTheOperatorReadsIt) {
    Write(SevenRecords());
    Open();
    ASSERT_EQ(window->model().rowCount(), 7);
    using M = RecordsTableModel;
    // Row 1: the FAIL record of 13:00.
    EXPECT_EQ(Cell(1, M::kColTime), QStringLiteral("2026-12-01 13:00:00"));
    EXPECT_EQ(Cell(1, M::kColSerial), QStringLiteral("X%_1"));
    EXPECT_EQ(Cell(1, M::kColHead), QStringLiteral("行1 列1"));
    EXPECT_EQ(Cell(1, M::kColVerdict), QStringLiteral("FAIL"));
    EXPECT_EQ(Cell(1, M::kColReason), QStringLiteral("通道超出上下限：1"));
    EXPECT_EQ(Cell(1, M::kColConfig), QStringLiteral("panel-a.ini"));
    EXPECT_EQ(Cell(1, M::kColBoard), QStringLiteral("一拖一测试板"));
    EXPECT_EQ(Cell(1, M::kColStation), QStringLiteral("line3-2"));
    EXPECT_EQ(Cell(1, M::kColOperator), QStringLiteral("wang"));
    EXPECT_EQ(window->model().index(1, M::kColVerdict).data(Qt::ForegroundRole).value<QColor>(),
              QColor(200, 0, 0));
    EXPECT_EQ(window->model().index(0, M::kColVerdict).data(Qt::ForegroundRole).value<QColor>(),
              QColor(0, 140, 0));
    EXPECT_EQ(Cell(3, M::kColReason), QStringLiteral("通道未响应：5"));
    EXPECT_EQ(Cell(6, M::kColReason), QStringLiteral("所有通道均已响应"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("测试记录"));
}

TEST(RecordTexts, ReasonsAndConfigurations) {
    const std::pair<std::string, QString> reasons[] = {
        {"every channel responded", QStringLiteral("所有通道均已响应")},
        {"channels did not respond", QStringLiteral("通道未响应")},
        {"channels did not respond: 3, 17", QStringLiteral("通道未响应：3, 17")},
        {"channels out of limits: 1", QStringLiteral("通道超出上下限：1")},
        {"channels out of limitsX", QStringLiteral("channels out of limitsX")},
        {"", QString()},
        {"something else", QStringLiteral("something else")},
    };
    for (const auto& [stored, shown] : reasons) {
        EXPECT_EQ(RecordReasonText(stored), shown) << stored;
    }
    EXPECT_EQ(RecordConfigText(kBoardSettings), QStringLiteral("测试板设置"));
    EXPECT_EQ(RecordConfigText("/a/b/面板.ini"), QStringLiteral("面板.ini"));
}

TEST_F(RecordsWindowTest, SelectedRecordShowsItsThirtyTwoChannels) {
    std::vector<TestRecord> records = SevenRecords();
    TestRecord& fail = records[5];  // X%_1
    fail.channels[0].channelClass = 2;
    fail.channels[0].value = 1234;
    fail.channels[0].greenMark = 1;
    fail.channels[31].reference = -7;
    Write(records);
    Open();
    QTableWidget* channels = window->channelsTable();
    EXPECT_FALSE(channels->isEnabled());  // nothing selected
    EXPECT_EQ(channels->item(0, 0), nullptr);

    window->recordsView()->selectRow(1);
    ASSERT_TRUE(channels->isEnabled());
    ASSERT_EQ(channels->rowCount(), 32);
    ASSERT_EQ(channels->columnCount(), 10);
    const auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < channels->columnCount(); ++c) {
            cells << channels->item(r, c)->text();
        }
        return cells.join(QLatin1Char('|'));
    };
    EXPECT_EQ(row(0), QStringLiteral("1|测试|超上限|1234|480|520|100|900|450|是"));
    EXPECT_EQ(row(1), QStringLiteral("2|测试|范围内|501|481|521|100|900|450|"));
    EXPECT_EQ(row(31), QStringLiteral("32|屏蔽|范围内|531|511|551|100|900|-7|"));
    EXPECT_EQ(channels->item(0, 2)->foreground().color(), QColor(200, 0, 0));

    // Another filter empties the details until a row is chosen again.
    window->verdictCombo()->setCurrentIndex(1);
    EXPECT_FALSE(channels->isEnabled());
    EXPECT_EQ(channels->item(0, 0), nullptr);
}

TEST_F(RecordsWindowTest, OpensWithOnePageAndFetchesMoreAsTheListScrolls) {
    std::vector<TestRecord> records;
    const int total = 2 * RecordsTableModel::kPageSize + 50;
    for (int i = 0; i < total; ++i) {
        records.push_back(Record(0, "P" + std::to_string(i), RecordVerdict::Pass, 0));
    }
    Write(records);
    Open();
    QCoreApplication::processEvents();
    RecordsTableModel& m = window->model();
    Settled();
    EXPECT_EQ(m.PagesFetched(), 1);
    EXPECT_EQ(m.rowCount(), RecordsTableModel::kPageSize);
    EXPECT_EQ(m.RecordAt(0)->record.serial, "P" + std::to_string(total - 1));
    EXPECT_TRUE(window->statusLabel()->text().contains(QStringLiteral("最新的 200 条")))
        << window->statusLabel()->text().toStdString();

    // Scrolled to the end, the view asks for the next page.
    window->recordsView()->scrollToBottom();
    QScrollBar* bar = window->recordsView()->verticalScrollBar();
    bar->setValue(bar->maximum());
    EXPECT_TRUE(QTest::qWaitFor([&] { return m.PagesFetched() >= 2; }, 3000));
    EXPECT_EQ(Serials().size(), static_cast<std::size_t>(total));
    EXPECT_EQ(m.rowCount(), total);
    EXPECT_EQ(m.RecordAt(total - 1)->record.serial, "P0");
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("共 %1 条记录").arg(total));
}

TEST_F(RecordsWindowTest, RefreshShowsRecordsWrittenSinceTheWindowOpened) {
    Write({Record(0, "first", RecordVerdict::Pass, 0)});
    Open();
    EXPECT_EQ(window->model().rowCount(), 1);
    Write({Record(1, "second", RecordVerdict::Fail, 0)});
    window->Refresh();
    EXPECT_EQ(Serials(), (std::vector<std::string>{"second", "first"}));
}

TEST_F(RecordsWindowTest, MissingDatabaseIsSaidInTheWindow) {
    db = (dir.path() / "none" / "records.db").string();
    Open();
    EXPECT_EQ(window->model().rowCount(), 0);
    EXPECT_TRUE(window->statusLabel()->text().startsWith(QStringLiteral("无法打开记录数据库")))
        << window->statusLabel()->text().toStdString();
    EXPECT_TRUE(messages.texts.isEmpty());
}

// A query over a station's year of records takes seconds; the reader's test
// delay stands for it.
constexpr auto kSlowQuery = std::chrono::milliseconds(1500);

TEST_F(RecordsWindowTest, NewFilterWhileAQueryRunsListsOnlyItsOwnRecords) {
    Write(SevenRecords());
    Open();
    ASSERT_EQ(window->model().rowCount(), 7);
    window->reader().SetDelayForTest(kSlowQuery);
    std::vector<std::string> arrived;
    QObject::connect(&window->model(), &QAbstractItemModel::rowsInserted,
                     [&](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row) {
                             arrived.push_back(window->model().RecordAt(row)->record.serial);
                         }
                     });
    window->serialEdit()->setText(QStringLiteral("SN-0"));
    window->ApplyFilter();
    EXPECT_TRUE(window->model().Fetching());
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("正在查询…"));
    EXPECT_EQ(window->model().rowCount(), 0);
    // The first query is under way; FAIL makes a new list.
    QTest::qWait(100);
    window->verdictCombo()->setCurrentIndex(2);
    Settled();
    EXPECT_EQ(arrived, std::vector<std::string>{"SN-002"});
    EXPECT_EQ(window->model().PagesFetched(), 1);
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("共 1 条记录"));
    // Nothing of the superseded query comes later either.
    QTest::qWait(200);
    EXPECT_EQ(arrived, std::vector<std::string>{"SN-002"});
}

TEST_F(RecordsWindowTest, SlowQueryLeavesTheWindowsThreadFree) {
    Write(SevenRecords());
    Open();
    window->reader().SetDelayForTest(kSlowQuery);
    QElapsedTimer clock;
    clock.start();
    window->serialEdit()->setText(QStringLiteral("AB"));
    window->ApplyFilter();
    const qint64 gap = test::LongestGapWhile([&] { return window->model().Fetching(); });
    EXPECT_GE(clock.elapsed(), kSlowQuery.count() - 50);  // the query was slow
    EXPECT_LT(gap, test::kLongestAllowedGapMs);
    ASSERT_EQ(window->model().rowCount(), 1);
    EXPECT_EQ(Cell(0, RecordsTableModel::kColSerial), QStringLiteral("AB-100"));
}

TEST_F(RecordsWindowTest, ClosingWhileAQueryRunsReturnsPromptly) {
    Write(SevenRecords());
    Open();
    window->reader().SetDelayForTest(std::chrono::seconds(30));
    window->verdictCombo()->setCurrentIndex(1);
    ASSERT_TRUE(window->model().Fetching());
    QTest::qWait(50);
    QElapsedTimer clock;
    clock.start();
    window->close();
    window.reset();
    EXPECT_LT(clock.elapsed(), 1000);
    QCoreApplication::processEvents();  // nothing posted to the gone window
}

struct ExportCase {
    const char* name;
    std::optional<ExportFormat> format;  // the button; nullopt: the chooser decides
    ExportFormat chosen;
    const char* file;  // in the test's folder; "<db>": the database itself
    int verdict;       // the filter's combo index
    bool written;
    const char* message;  // the start of the one message
    int lines;            // of the file written (CSV: with its header)
};

TEST_F(RecordsWindowTest, ExportWritesTheFilteredRecordsOrSaysWhyNot) {
    Write(SevenRecords());
    Open();
    const ExportCase cases[] = {
        {"CSV of the failures", ExportFormat::Csv, ExportFormat::Csv, "fail.csv", 2, true,
         "已导出 3 条记录", 4},
        {"JSON Lines of all", ExportFormat::Jsonl, ExportFormat::Jsonl, "all.jsonl", 0, true,
         "已导出 7 条记录", 7},
        {"format from the chooser", std::nullopt, ExportFormat::Jsonl, "pass.jsonl", 1, true,
         "已导出 4 条记录", 4},
        {"folder that is not there", ExportFormat::Csv, ExportFormat::Csv, "none/x.csv", 0, false,
         "导出失败", 0},
        {"over the database", ExportFormat::Csv, ExportFormat::Csv, "<db>", 0, false,
         "不能导出到记录数据库自身", 0},
    };
    for (const ExportCase& c : cases) {
        SCOPED_TRACE(c.name);
        messages.texts.clear();
        const std::string file = c.file == std::string("<db>") ? db : dir / c.file;
        std::optional<ExportFormat> asked;
        window->SetFileChooser([&](QWidget*, std::optional<ExportFormat> format) {
            asked = format;
            return ExportChoice{QString::fromStdString(file), c.chosen};
        });
        window->verdictCombo()->setCurrentIndex(c.verdict);
        window->Export(c.format);
        EXPECT_EQ(asked, c.format);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Exporting(); }, 10000));
        ASSERT_EQ(messages.texts.size(), 1);
        EXPECT_TRUE(messages.texts[0].startsWith(QString::fromUtf8(c.message)))
            << messages.texts[0].toStdString();
        EXPECT_TRUE(window->csvButton()->isEnabled());
        if (!c.written) {
            EXPECT_EQ(std::filesystem::exists(file), c.file == std::string("<db>"));
            continue;
        }
        const std::string bytes = test::ReadWhole(file);
        const bool csv = c.chosen == ExportFormat::Csv;
        EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF", 0) == 0, csv);
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), c.lines);
    }
    // The database is whole after the refusal.
    std::string error;
    auto store = RecordStore::Open(db, RecordStore::Mode::ReadOnly, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_TRUE(store->IntegrityOk(&error)) << error;
}

TEST_F(RecordsWindowTest, ClosingDuringAnExportEndsItWithoutAFile) {
    std::vector<TestRecord> records;
    for (int i = 0; i < 3000; ++i) {
        records.push_back(Record(0, "E" + std::to_string(i), RecordVerdict::Pass, 0));
    }
    Write(records);
    Open();
    const std::string file = dir / "big.csv";
    window->SetFileChooser([&](QWidget*, std::optional<ExportFormat>) {
        return ExportChoice{QString::fromStdString(file), ExportFormat::Csv};
    });
    window->Export(ExportFormat::Csv);
    window.reset();  // cancels and waits for the export's thread
    // Either it was done before the cancel, or nothing is left behind.
    for (const std::string& name : dir.List()) {
        EXPECT_TRUE(name == "big.csv" || name.rfind("records.db", 0) == 0) << name;
    }
}

TEST_F(RecordsWindowTest, FitsASmallScreen) {
    Write(SevenRecords());
    Open();
    EXPECT_LE(window->width(), 1024);
    EXPECT_LE(window->height(), 600);
    const QSize least = window->minimumSizeHint();
    EXPECT_LE(least.width(), 1024);
    EXPECT_LE(least.height(), 560);
    window->resize(1024, 560);
    QCoreApplication::processEvents();
    for (QWidget* w : std::initializer_list<QWidget*>{window->csvButton(), window->jsonlButton(),
                                                      window->headCombo(), window->serialEdit(),
                                                      window->untilEdit()}) {
        const QRect r(w->mapTo(window.get(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(window->rect().contains(r)) << w->metaObject()->className();
    }
}

}  // namespace
}  // namespace kx

// SPDX-License-Identifier: MIT
#include "dialogs/baseline_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableWidget>
#include <memory>

#include "dialogs/raw_data_file.h"
#include "grid/color_bar.h"
#include "tests/support/channel_values.h"
#include "tests/support/default_pages.h"
#include "tests/support/message_recorder.h"
#include "tests/support/temp_dir.h"

namespace kx {
namespace {

constexpr int kPage = 3;

using test::Filled;
using test::Ramp;

// The baseline dialog for page 3 of a page table with its defaults, in a
// working directory of its own. Every message box is answered by `messages`.
class BaselineDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(workDir.path());
    }
    void TearDown() override {
        if (dlg) {
            dlg->reject();
            dlg.reset();
        }
        std::filesystem::current_path(previousDir);
    }

    PageRecord& Page() { return pages.table[kPage]; }
    void SetLive(const ChannelValues& values) {
        CSectionGuard guard(&pages.lock);
        std::copy(values.begin(), values.end(), Page().live.begin());
    }

    void Open() {
        BaselineExchange exchange;
        {
            CSectionGuard guard(&pages.lock);
            exchange = BaselineExchangeFromPage(kPage, Page());
        }
        dlg = std::make_unique<CBaseLineDlg>(pages, exchange);
        dlg->open();
        QApplication::processEvents();
    }

    // Takes one reading per value, every channel at that value.
    void ReadEach(const std::vector<std::int32_t>& values) {
        for (std::int32_t v : values) {
            SetLive(Filled(v));
            dlg->Read();
        }
    }

    // The row of the readings list that shows reading n (newest on top).
    int RowOf(int n) const { return dlg->readingsList()->rowCount() - 1 - n; }
    QString Text(QTableWidget* list, int row, int column) const {
        const QTableWidgetItem* item = list->item(row, column);
        return item != nullptr ? item->text() : QString();
    }
    bool Ticked(QTableWidget* list, int row) const {
        return list->item(row, 0)->checkState() == Qt::Checked;
    }
    void Tick(int n, bool ticked) {
        dlg->readingsList()->item(RowOf(n), 0)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }

    // The grid's head as the next repaint sees it.
    HeadSlot GridHead() {
        auto frame = std::make_unique<GridFrame>();
        dlg->grid()->model().Evaluate(dlg->grid()->width(), dlg->grid()->height(), *frame);
        return frame->heads[0][0];
    }

    std::filesystem::path RawFile() const { return workDir.path() / kRawDataFolder / kRawDataFile; }
    // The raw-data file as the dialog names it: in full, under the working
    // directory.
    static QString AbsoluteRawFile() {
        return QString::fromStdString(
            (std::filesystem::current_path() / kRawDataFolder / kRawDataFile).string());
    }

    test::TempDir workDir;
    std::filesystem::path previousDir;
    test::MessageRecorder messages;
    test::DefaultPages pages;  // outlives the dialog, which works on it
    std::unique_ptr<CBaseLineDlg> dlg;
};

TEST_F(BaselineDlgTest, OpensWithThePagesSettingsAndExclusiveBoxes) {
    Page().rangeMax = 1400;
    Page().rangeMin = 20;
    Page().percentage = 12.5f;
    Page().offsetUpper = 80;
    Page().offsetLower = 60;
    Page().reference = Ramp(600);
    Page().mask[7] = Tested;
    SetLive(Ramp(650));
    Open();

    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("基准值与上下限设定"));
    EXPECT_EQ(dlg->coordinateUpperEdit()->text(), QStringLiteral("1400"));
    EXPECT_EQ(dlg->coordinateLowerEdit()->text(), QStringLiteral("20"));
    EXPECT_EQ(dlg->percentageEdit()->text(), QStringLiteral("12.5"));
    EXPECT_EQ(dlg->valueUpperEdit()->text(), QStringLiteral("80"));
    EXPECT_EQ(dlg->valueLowerEdit()->text(), QStringLiteral("60"));
    EXPECT_TRUE(dlg->byPercentageBox()->isChecked());
    EXPECT_FALSE(dlg->byValueBox()->isChecked());

    for (QTableWidget* list : {dlg->readingsList(), dlg->averageList()}) {
        ASSERT_EQ(list->columnCount(), 33);
        EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral("No."));
        EXPECT_EQ(list->horizontalHeaderItem(32)->text(), QStringLiteral("31"));
        EXPECT_EQ(list->columnWidth(16), 50);
    }
    EXPECT_EQ(dlg->readingsList()->rowCount(), 0);
    ASSERT_EQ(dlg->averageList()->rowCount(), 1);
    EXPECT_EQ(Text(dlg->averageList(), 0, 0), QStringLiteral("AVG"));

    CColorBar* grid = dlg->grid();
    EXPECT_TRUE(grid->IsAttached());
    EXPECT_EQ(grid->controlId(), 1018);
    EXPECT_TRUE(grid->repaintTimer().isActive());
    EXPECT_EQ(grid->model().GetColumns(), 1);
    EXPECT_EQ(grid->model().GetRows(), 1);
    EXPECT_FALSE(grid->model().IsVerdictRowShown());
    const HeadSlot head = GridHead();
    EXPECT_EQ(head.rangeMax, 1400);
    EXPECT_EQ(head.rangeMin, 20);
    EXPECT_EQ(head.value, Ramp(650));
    EXPECT_EQ(head.reference, Ramp(600));
    EXPECT_EQ(head.upper, Filled(1100));
    EXPECT_EQ(head.lower, Filled(500));
    EXPECT_EQ(head.mode[7], Tested);
    EXPECT_EQ(head.mode[8], Masked);

    // Clicking either box ticks it and unticks the other.
    struct Click {
        QCheckBox* box;
        bool byPercentage;
    };
    const Click clicks[] = {{dlg->byValueBox(), false},
                            {dlg->byValueBox(), false},
                            {dlg->byPercentageBox(), true},
                            {dlg->byPercentageBox(), true}};
    for (const Click& c : clicks) {
        c.box->click();
        EXPECT_EQ(dlg->byPercentageBox()->isChecked(), c.byPercentage);
        EXPECT_EQ(dlg->byValueBox()->isChecked(), !c.byPercentage);
    }

    // Limits by value in the page: the other box.
    dlg.reset();
    Page().offsetType = 0;
    Open();
    EXPECT_FALSE(dlg->byPercentageBox()->isChecked());
    EXPECT_TRUE(dlg->byValueBox()->isChecked());
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(BaselineDlgTest, AverageOfTheTickedReadings) {
    struct Case {
        std::vector<std::int32_t> readings;
        int unticked;  // reading number, -1: none
        std::int32_t average;
    };
    const Case cases[] = {
        {{100, 110, 120}, -1, 110},
        {{100, 110, 120}, 2, 105},
        {{1, 2}, -1, 1},
        {{-1, -2}, -1, -1},
    };
    for (const Case& c : cases) {
        Open();
        ReadEach(c.readings);
        const int count = static_cast<int>(c.readings.size());
        ASSERT_EQ(dlg->readingsList()->rowCount(), count);
        // Newest on top, labelled with its number, ticked.
        EXPECT_EQ(Text(dlg->readingsList(), 0, 0), QString::number(count - 1));
        EXPECT_EQ(Text(dlg->readingsList(), 0, 32), QString::number(c.readings.back()));
        EXPECT_TRUE(Ticked(dlg->readingsList(), 0));
        if (c.unticked >= 0) {
            Tick(c.unticked, false);
        }
        dlg->Average();
        EXPECT_TRUE(dlg->Averaged());
        EXPECT_EQ(dlg->Exchange().editReference, Filled(c.average)) << c.readings.front();
        EXPECT_EQ(Text(dlg->averageList(), 0, 1), QString::number(c.average));
        EXPECT_EQ(Text(dlg->averageList(), 0, 32), QString::number(c.average));
        EXPECT_TRUE(Ticked(dlg->averageList(), 0));
        const HeadSlot head = GridHead();
        EXPECT_EQ(head.reference, Filled(c.average));
        EXPECT_EQ(head.value, Filled(c.average));
        dlg.reset();
    }
    EXPECT_TRUE(messages.texts.isEmpty());

    // Nothing ticked: "ERR", once, and -1 everywhere.
    Open();
    ReadEach({100, 200});
    Tick(0, false);
    Tick(1, false);
    dlg->Average();
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("ERR")});
    EXPECT_EQ(dlg->Exchange().editReference, Filled(-1));
    EXPECT_EQ(Text(dlg->averageList(), 0, 5), QStringLiteral("-1"));

    // No reading at all: Average does nothing.
    dlg.reset();
    messages.texts.clear();
    Open();
    dlg->Average();
    EXPECT_FALSE(dlg->Averaged());
    EXPECT_EQ(dlg->Exchange().editReference, Filled(700));
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(BaselineDlgTest, ApplyDerivesTheLimitsAndShowsThemAfterAnAverage) {
    struct Case {
        std::int32_t reference;
        bool byValue;
        const char* percentage;
        std::int32_t upper;
        std::int32_t lower;
    };
    const Case cases[] = {
        {700, false, "10", 770, 630},
        {15, false, "10", 16, 14},
        {700, true, "10", 800, 650},
    };
    for (const Case& c : cases) {
        Open();
        ReadEach({c.reference});
        dlg->Average();
        if (c.byValue) {
            dlg->byValueBox()->click();
        }
        dlg->percentageEdit()->setText(QString::fromUtf8(c.percentage));
        dlg->valueUpperEdit()->setText(QStringLiteral("100"));
        dlg->valueLowerEdit()->setText(QStringLiteral("50"));
        dlg->coordinateLowerEdit()->setText(QStringLiteral("5"));
        dlg->coordinateUpperEdit()->setText(QStringLiteral("2000"));
        dlg->Apply();
        EXPECT_EQ(dlg->Exchange().editUpper, Filled(c.upper)) << c.reference;
        EXPECT_EQ(dlg->Exchange().editLower, Filled(c.lower)) << c.reference;
        const HeadSlot head = GridHead();
        EXPECT_EQ(head.upper, Filled(c.upper));
        EXPECT_EQ(head.lower, Filled(c.lower));
        EXPECT_EQ(head.rangeMax, 2000);
        EXPECT_EQ(head.rangeMin, 5);
        dlg.reset();
    }
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(BaselineDlgTest, ApplyBeforeAverageStoresLimitsWithoutShowingThem) {
    Open();
    dlg->Apply();  // reference 700 of the page, 10 %
    EXPECT_EQ(dlg->Exchange().editUpper, Filled(770));
    EXPECT_EQ(dlg->Exchange().editLower, Filled(630));
    const HeadSlot head = GridHead();
    EXPECT_EQ(head.upper, Filled(1100));
    EXPECT_EQ(head.lower, Filled(500));

    dlg->accept();
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    const BaselineResult result = dlg->Result();
    EXPECT_EQ(result.edit.editUpper, Filled(770));
    ASSERT_TRUE(StoreBaselineResult(result, FamilyId::OneToOne, pages));
    EXPECT_EQ(Page().upper, Filled(770));
    EXPECT_EQ(Page().lower, Filled(630));
    EXPECT_EQ(Page().offsetType, 1);
    EXPECT_EQ(Page().rangeMax, 1500);
}

TEST_F(BaselineDlgTest, ADoubleClickedChannelIsStoredOnOk) {
    Open();
    CColorBar* grid = dlg->grid();
    ASSERT_GT(grid->width(), 100);
    const GridLayout layout(grid->width(), grid->height(), 1, 1, false);
    const GridLayout::Span column = layout.ColumnSpan(0, 5);
    const QPointF at((column.left + column.right) / 2,
                     (layout.BarTop(0) + layout.BarBottom(0)) / 2);
    QMouseEvent move(QEvent::MouseMove, at, grid->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(grid, &move);
    grid->RepaintOffscreen();
    ASSERT_EQ(grid->model().GetHitChannel(), 5);
    QMouseEvent twice(QEvent::MouseButtonDblClick, at, grid->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid, &twice);
    EXPECT_EQ(grid->model().GetChannelMode(0, 0, 5), Greyed);  // Masked -> Greyed
    EXPECT_EQ(dlg->Exchange().editModes[5], Masked) << "taken only on Apply or OK";

    dlg->accept();
    ASSERT_EQ(dlg->result(), QDialog::Accepted);
    const BaselineResult result = dlg->Result();
    EXPECT_EQ(result.edit.editModes[5], Greyed);
    EXPECT_EQ(result.edit.editModes[4], Masked);
    StoreBaselineResult(result, FamilyId::Master, pages);
    EXPECT_EQ(Page().mask[5], Greyed);
    EXPECT_EQ(Page().mask[6], Masked);
}

TEST_F(BaselineDlgTest, RawDataIsSavedAndLoadedBack) {
    Open();
    // The dialog says where Load and Save find the readings, in full.
    auto* location = dlg->findChild<QLabel*>(QStringLiteral("rawDataPath"));
    ASSERT_NE(location, nullptr);
    EXPECT_EQ(location->text(), QStringLiteral("读数文件：%1").arg(AbsoluteRawFile()));
    ReadEach({100, 110, 120});
    Tick(0, false);
    Tick(1, false);
    dlg->Save();
    EXPECT_TRUE(messages.texts.isEmpty());
    const std::string expected = FormatRawDataLine(0, false, Filled(100)) +
                                 FormatRawDataLine(1, false, Filled(110)) +
                                 FormatRawDataLine(2, true, Filled(120));
    EXPECT_EQ(test::ReadWhole(RawFile()), expected);

    messages.answers = {QMessageBox::Ok};
    dlg->Load();
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("真正需要重新载入？")});
    QTableWidget* list = dlg->readingsList();
    ASSERT_EQ(list->rowCount(), 3);
    EXPECT_EQ(Text(list, 0, 0), QStringLiteral("2"));
    EXPECT_TRUE(Ticked(list, 0));
    EXPECT_EQ(Text(list, 0, 1), QStringLiteral("120"));
    EXPECT_EQ(Text(list, 2, 0), QStringLiteral("0"));
    EXPECT_FALSE(Ticked(list, 2));

    // The next reading follows the loaded ones; none is overwritten.
    ReadEach({130});
    EXPECT_EQ(Text(list, 0, 0), QStringLiteral("3"));
    dlg->Save();
    EXPECT_EQ(test::ReadWhole(RawFile()), expected + FormatRawDataLine(3, true, Filled(130)));

    // Cancel at the question: nothing changes.
    messages.answers = {QMessageBox::Cancel};
    dlg->Load();
    EXPECT_EQ(list->rowCount(), 4);

    // A line of another program's numbering and a short line.
    std::string five = "Item=5,Checked=0,";
    for (int c = 0; c < kChannels; ++c) {
        five += std::to_string(600 + c) + ",";
    }
    test::WriteWhole(RawFile(), five + "\r\nItem=1,Checked=1,5,6\r\n");
    dlg->Load();
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(Text(list, 1, 0), QStringLiteral("5"));
    EXPECT_FALSE(Ticked(list, 1));
    EXPECT_EQ(Text(list, 1, 1), QStringLiteral("600"));
    EXPECT_EQ(Text(list, 1, 32), QStringLiteral("631"));
    EXPECT_EQ(Text(list, 0, 0), QStringLiteral("1"));
    EXPECT_TRUE(Ticked(list, 0));
    EXPECT_EQ(Text(list, 0, 1), QStringLiteral("5"));
    EXPECT_EQ(Text(list, 0, 2), QStringLiteral("0"));
    EXPECT_EQ(Text(list, 0, 32), QStringLiteral("0"));

    // A missing file: the list is emptied and the operator told.
    std::filesystem::remove_all(workDir.path() / kRawDataFolder);
    messages.texts.clear();
    dlg->Load();
    EXPECT_EQ(messages.texts,
              (QStringList{QStringLiteral("真正需要重新载入？"),
                           QStringLiteral("文件不存在：%1").arg(AbsoluteRawFile())}));
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_EQ(dlg->Readings().Count(), 0);

    // A file that is there but cannot be read is not called missing.
    std::filesystem::create_directories(RawFile());
    messages.texts.clear();
    dlg->Load();
    EXPECT_EQ(messages.texts, (QStringList{QStringLiteral("真正需要重新载入？"),
                                           QStringLiteral("无法读取文件 %1（不是普通文件），"
                                                          "读数表没有改动。")
                                               .arg(AbsoluteRawFile())}));
    EXPECT_EQ(list->rowCount(), 0);
}

// A file that cannot be read or is not a raw-data file is refused with the
// reason, and the readings taken so far stay as they were.
TEST_F(BaselineDlgTest, ARefusedFileLeavesTheReadingsAsTheyWere) {
    Open();
    ReadEach({100, 110});
    Tick(0, false);
    const std::string good = FormatRawDataLine(0, true, Filled(900));
    const struct {
        const char* what;
        std::string bytes;
        QString reason;
    } cases[] = {
        {"binary",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0",
                     16) +
             good,
         QStringLiteral("不是读数文件（含有二进制数据）")},
        {"UTF-16", test::Utf16(good, false, true),
         QStringLiteral("不是读数文件（文件为 UTF-16 编码，请另存为 UTF-8 或 ANSI 编码后再使用）")},
        {"not readings", good + "garbage\r\n", QStringLiteral("不是读数文件（第 2 行不是读数）")},
    };
    std::filesystem::create_directory(workDir.path() / kRawDataFolder);
    QTableWidget* list = dlg->readingsList();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteWhole(RawFile(), c.bytes);
        messages.texts.clear();
        messages.answers = {QMessageBox::Ok};
        dlg->Load();
        EXPECT_EQ(
            messages.texts,
            (QStringList{
                QStringLiteral("真正需要重新载入？"),
                QStringLiteral("文件 %1 %2，读数表没有改动。").arg(AbsoluteRawFile(), c.reason)}));
        ASSERT_EQ(list->rowCount(), 2);
        EXPECT_EQ(Text(list, 0, 0), QStringLiteral("1"));
        EXPECT_EQ(Text(list, 0, 1), QStringLiteral("110"));
        EXPECT_TRUE(Ticked(list, 0));
        EXPECT_EQ(Text(list, 1, 0), QStringLiteral("0"));
        EXPECT_FALSE(Ticked(list, 1));
        EXPECT_EQ(dlg->Readings().Count(), 2);
    }
    // The next reading follows them.
    ReadEach({120});
    EXPECT_EQ(Text(list, 0, 0), QStringLiteral("2"));
}

TEST_F(BaselineDlgTest, RejectedEntriesShowTheStandardMessage) {
    struct Case {
        QLineEdit* (CBaseLineDlg::*edit)() const;
        const char* text;
        QString message;
    };
    const QString range = QStringLiteral("请输入一个 0 至 65535 之间的整数。");
    const Case cases[] = {
        {&CBaseLineDlg::coordinateLowerEdit, "70000", range},
        {&CBaseLineDlg::coordinateLowerEdit, "abc", QStringLiteral("请输入一个整数。")},
        {&CBaseLineDlg::coordinateUpperEdit, "70000", range},
        {&CBaseLineDlg::percentageEdit, "10%", QStringLiteral("请输入一个数字。")},
        {&CBaseLineDlg::valueLowerEdit, "1e3", QStringLiteral("请输入一个整数。")},
    };
    for (const Case& c : cases) {
        // Apply: the message, then the fields read before the bad one count.
        Open();
        messages.texts.clear();
        dlg->coordinateLowerEdit()->setText(QStringLiteral("20"));
        dlg->percentageEdit()->setText(QStringLiteral("20"));
        QLineEdit* bad = (dlg.get()->*c.edit)();
        bad->setText(QString::fromUtf8(c.text));
        dlg->Apply();
        EXPECT_EQ(messages.texts, QStringList{c.message}) << c.text;
        EXPECT_EQ(dlg->focusWidget(), bad);
        const BaselineResult r = dlg->Result();
        const bool lowerFirst = bad != dlg->coordinateLowerEdit();
        EXPECT_EQ(r.coordinateLower, lowerFirst ? 20 : 10) << c.text;
        EXPECT_EQ(GridHead().rangeMin, lowerFirst ? 20 : 10);
        EXPECT_EQ(r.coordinateUpper, 1500);
        // The limits still follow the reference with the percentage read.
        const bool percentageRead =
            lowerFirst && bad != dlg->coordinateUpperEdit() && bad != dlg->percentageEdit();
        EXPECT_EQ(dlg->Exchange().editUpper, Filled(percentageRead ? 840 : 770)) << c.text;

        // OK: the dialog stays open.
        messages.texts.clear();
        dlg->accept();
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_NE(dlg->result(), QDialog::Accepted);
        EXPECT_EQ(messages.texts, QStringList{c.message});
        dlg.reset();
    }
}

TEST_F(BaselineDlgTest, OpenAllAndCloseAllChangeThePageAtOnceAndSurviveCancel) {
    Page().mask[3] = Greyed;
    Open();
    dlg->CloseAll();
    EXPECT_EQ(
        Page().mask, ChannelModes{} = [] {
            ChannelModes m{};
            m.fill(Masked);
            return m;
        }());
    EXPECT_EQ(dlg->grid()->model().GetChannelMode(0, 0, 3), Masked);
    dlg->OpenAll();
    for (int c = 0; c < kChannels; ++c) {
        ASSERT_EQ(Page().mask[c], Tested) << c;
        ASSERT_EQ(dlg->Exchange().editModes[c], Tested) << c;
        ASSERT_EQ(dlg->grid()->model().GetChannelMode(0, 0, c), Tested) << c;
    }
    dlg->reject();
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(Page().mask[3], Tested);
    EXPECT_EQ(pages.table[kPage + 1].mask[3], Masked) << "other pages stay";
}

TEST_F(BaselineDlgTest, TheTableHolds255Readings) {
    Open();
    for (int n = 0; n < kMaxReadings; ++n) {
        dlg->Read();
    }
    EXPECT_TRUE(messages.texts.isEmpty());
    ASSERT_EQ(dlg->readingsList()->rowCount(), kMaxReadings);
    dlg->Read();
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("读数已满 255 条，不能再读取。")});
    EXPECT_EQ(dlg->readingsList()->rowCount(), kMaxReadings);
    EXPECT_EQ(dlg->Readings().Count(), kMaxReadings);

    std::string many;
    for (int n = 0; n < 300; ++n) {
        many += FormatRawDataLine(n, true, Filled(n));
    }
    std::filesystem::create_directory(workDir.path() / kRawDataFolder);
    test::WriteWhole(RawFile(), many);
    messages.texts.clear();
    dlg->Load();
    EXPECT_EQ(messages.texts,
              (QStringList{QStringLiteral("真正需要重新载入？"),
                           QStringLiteral("文件中的读数超过 255 条，只载入了前 255 条。")}));
    ASSERT_EQ(dlg->readingsList()->rowCount(), kMaxReadings);
    EXPECT_EQ(Text(dlg->readingsList(), 0, 0), QStringLiteral("254"));
    EXPECT_EQ(Text(dlg->readingsList(), 0, 1), QStringLiteral("254"));
}

TEST_F(BaselineDlgTest, ASaveThatCannotWriteTellsTheOperatorAndKeepsTheOldFile) {
    Open();
    ReadEach({700});
    dlg->Save();
    const std::string old = test::ReadWhole(RawFile());
    ASSERT_FALSE(old.empty());
    ReadEach({710, 720});

    const std::filesystem::path folder = workDir.path() / kRawDataFolder;
    const auto readOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec;
    std::filesystem::permissions(folder, readOnly);
    {
        test::ScopedNoDacOverride noOverride;
        ASSERT_FALSE(test::CanCreateIn(folder));
        dlg->Save();
    }
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("无法写入文件 %1（没有写入权限），"
                                                         "读数没有保存，原有的文件没有改动。")
                                              .arg(AbsoluteRawFile())});
    EXPECT_EQ(test::ReadWhole(RawFile()), old);

    // A read-only working directory without the folder.
    std::filesystem::remove_all(folder);
    std::filesystem::permissions(workDir.path(), readOnly);
    messages.texts.clear();
    {
        test::ScopedNoDacOverride noOverride;
        ASSERT_FALSE(test::CanCreateIn(workDir.path()));
        dlg->Save();
    }
    std::filesystem::permissions(workDir.path(), std::filesystem::perms::owner_all);
    EXPECT_EQ(messages.texts,
              QStringList{QStringLiteral("无法创建文件夹 %1（没有写入权限），读数没有保存。")
                              .arg(QString::fromStdString(
                                  (std::filesystem::current_path() / kRawDataFolder).string()))});
    EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace kx

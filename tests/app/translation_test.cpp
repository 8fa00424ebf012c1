// SPDX-License-Identifier: MIT
// The English translation: the .ts file holds the English of every text the
// sources mark (collected afresh by tools/update_translations.sh, so a text
// added without its English is found), and the windows, built on the
// offscreen platform with software boards and shown in English, show no
// Chinese anywhere a person reads: titles, labels, buttons, headers, items,
// tool tips, menus.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QXmlStreamReader>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/kaldrix_plus_dlg.h"
#include "capture/dialog_cap_view.h"
#include "core/page_table.h"
#include "core/section_lock.h"
#include "core/tr_text.h"
#include "dialogs/about_command.h"
#include "dialogs/about_dlg_velmora5_hid.h"
#include "dialogs/baseline_dlg.h"
#include "dialogs/change_log.h"
#include "dialogs/records_window.h"
#include "dialogs/reset_row_col_dlg.h"
#include "grid/grid_model.h"
#include "grid/grid_painter.h"
#include "hid/classic_tester.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "records/record_store.h"
#include "records/test_record.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "station/baseline_result.h"
#include "station/board_family.h"
#include "station/station_texts.h"
#include "tests/support/message_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/widget_texts.h"
#include "ui/language.h"
#include "ui/status_strip.h"

namespace kx {
namespace {

using test::ChineseTexts;

// --- the .ts file ----------------------------------------------------------------------

struct TsMessage {
    QString context;
    QString source;
    QString type;              // "unfinished", "vanished", ... or empty
    QStringList translations;  // one, or the numerus forms
};

std::vector<TsMessage> ReadTs(const QString& path, QString* error) {
    std::vector<TsMessage> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage m;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            continue;
        }
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            m = TsMessage{context, {}, {}, {}};
        } else if (name == QLatin1String("source")) {
            m.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            m.type = xml.attributes().value(QLatin1String("type")).toString();
            // A plain translation, or numerus forms inside it.
            QString text;
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isCharacters()) {
                    text += xml.text();
                } else if (xml.isStartElement() && xml.name() == QLatin1String("numerusform")) {
                    m.translations << xml.readElementText();
                } else if (xml.isEndElement() && xml.name() == QLatin1String("translation")) {
                    break;
                }
            }
            if (m.translations.isEmpty()) {
                m.translations << text;
            }
            messages.push_back(m);
        }
    }
    if (xml.hasError()) {
        *error = xml.errorString();
    }
    return messages;
}

// The place holders %1 ... %99 of a text, each once.
QSet<QString> PlaceHolders(const QString& text) {
    static const QRegularExpression kArg(QStringLiteral("%\\d{1,2}"));
    QSet<QString> found;
    for (auto it = kArg.globalMatch(text); it.hasNext();) {
        found.insert(it.next().captured());
    }
    return found;
}

// What is wrong with one message's English, empty when nothing.
QString Problem(const TsMessage& m) {
    if (m.type == QLatin1String("vanished") || m.type == QLatin1String("obsolete")) {
        return {};
    }
    if (m.type == QLatin1String("unfinished")) {
        return QStringLiteral("unfinished");
    }
    for (const QString& t : m.translations) {
        if (t.trimmed().isEmpty()) {
            return QStringLiteral("empty translation");
        }
        if (test::HasChinese(t)) {
            return QStringLiteral("Chinese in the translation: ") + t;
        }
        if (PlaceHolders(t) != PlaceHolders(m.source)) {
            return QStringLiteral("place holders differ from the source's: ") + t;
        }
    }
    return {};
}

TEST(TranslationFile, EveryMarkedTextHasItsEnglish) {
    test::TempDir dir;
    const QString out = QString::fromStdString(dir / "current.ts");
    QProcess update;
    update.setProcessChannelMode(QProcess::SeparateChannels);
    update.start(QStringLiteral(KX_SOURCE_DIR "/tools/update_translations.sh"), {out});
    ASSERT_TRUE(update.waitForStarted(10000)) << update.errorString().toStdString();
    if (!update.waitForFinished(180000)) {
        update.kill();
        update.waitForFinished(5000);
        FAIL() << "update_translations.sh did not end within three minutes";
    }
    const QString stderrText = QString::fromUtf8(update.readAllStandardError());
    ASSERT_EQ(update.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(update.exitCode(), 0)
        << "update_translations.sh failed (lupdate comes with qt6-l10n-tools, "
           "packaging/install-deps.sh):\n"
        << stderrText.toStdString();

    QString error;
    const std::vector<TsMessage> messages = ReadTs(out, &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_FALSE(messages.empty()) << "no text collected from the sources";
    QStringList problems;
    for (const TsMessage& m : messages) {
        const QString p = Problem(m);
        if (!p.isEmpty()) {
            problems << QStringLiteral("%1 | %2 | %3").arg(m.context, m.source, p);
        }
    }
    EXPECT_TRUE(problems.isEmpty())
        << problems.size() << " of " << messages.size()
        << " texts lack their English in resources/translations/kaldrixplus_en.ts "
           "(context | source | problem):\n"
        << problems.join(QLatin1Char('\n')).toStdString();
}

// --- the walk itself --------------------------------------------------------------------

// One Chinese text in one place of an otherwise English window: the walk
// must name it, and only it.
TEST(WidgetTexts, FindChineseWhereverAWindowShowsIt) {
    const QString zh = QStringLiteral("中文");
    struct Case {
        const char* place;
        std::function<void(QWidget&)> build;
    };
    const std::vector<Case> cases = {
        {"window title", [&](QWidget& w) { w.setWindowTitle(zh); }},
        {"tool tip", [&](QWidget& w) { (new QLabel(QStringLiteral("x"), &w))->setToolTip(zh); }},
        {"label", [&](QWidget& w) { new QLabel(zh, &w); }},
        {"button", [&](QWidget& w) { new QPushButton(zh, &w); }},
        {"check box", [&](QWidget& w) { new QCheckBox(zh, &w); }},
        {"group box", [&](QWidget& w) { new QGroupBox(zh, &w); }},
        {"tab",
         [&](QWidget& w) {
             auto* tabs = new QTabWidget(&w);
             tabs->addTab(new QWidget, QStringLiteral("one"));
             tabs->addTab(new QWidget, zh);
         }},
        {"combo box item",
         [&](QWidget& w) {
             auto* combo = new QComboBox(&w);
             combo->addItems({QStringLiteral("All"), zh});
         }},
        {"place holder", [&](QWidget& w) { (new QLineEdit(&w))->setPlaceholderText(zh); }},
        {"spin box suffix", [&](QWidget& w) { (new QSpinBox(&w))->setSuffix(zh); }},
        {"table header",
         [&](QWidget& w) {
             auto* table = new QTableWidget(1, 2, &w);
             table->setHorizontalHeaderLabels({QStringLiteral("Time"), zh});
         }},
        {"table cell",
         [&](QWidget& w) {
             auto* table = new QTableWidget(2, 1, &w);
             table->setItem(1, 0, new QTableWidgetItem(zh));
         }},
        {"menu entry",
         [&](QWidget& w) {
             auto* bar = new QMenuBar(&w);
             QMenu* file = bar->addMenu(QStringLiteral("&File"));
             file->addMenu(QStringLiteral("&Recent"))->addAction(zh);
         }},
        {"menu title",
         [&](QWidget& w) {
             auto* bar = new QMenuBar(&w);
             bar->addMenu(zh)->addAction(QStringLiteral("&Open"));
         }},
        {"action tool tip",
         [&](QWidget& w) {
             auto* a = new QAction(QStringLiteral("&Open"), &w);
             a->setToolTip(zh);
         }},
        {"full-width punctuation", [&](QWidget& w) { new QLabel(QStringLiteral("Serial："), &w); }},
    };
    for (const Case& c : cases) {
        QWidget root;
        root.setWindowTitle(QStringLiteral("English"));
        new QLabel(QStringLiteral("Firmware version…"), &root);
        c.build(root);
        EXPECT_EQ(ChineseTexts(&root).size(), 1) << c.place << ":\n"
                                                 << ChineseTexts(&root).join('\n').toStdString();
    }
    QWidget english;
    english.setWindowTitle(QStringLiteral("About KaldrixPlus"));
    new QLabel(QStringLiteral("Yield 97.5%  PASS / FAIL -- …"), &english);
    EXPECT_TRUE(ChineseTexts(&english).isEmpty());
}

// --- the windows in English -----------------------------------------------------------

// The station in English for one test, and back in Chinese at its end
// whatever the test's outcome (the version history, built from the
// translation, with it).
class EnglishWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InstallLanguage(Language::English)) << "the built-in English translation";
        BuildChangeLog();
    }
    void TearDown() override {
        // A message box the test brought up speaks English too.
        for (const QString& text : messages.texts) {
            EXPECT_FALSE(test::HasChinese(text)) << "message box: " << text.toStdString();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(InstallLanguage(Language::Chinese));
        BuildChangeLog();
    }

    // Shows `w` and checks that it shows no Chinese.
    void ExpectEnglish(QWidget* w, const std::string& what) {
        ASSERT_NE(w, nullptr) << what;
        w->show();
        QCoreApplication::processEvents();
        const QStringList chinese = ChineseTexts(w);
        EXPECT_TRUE(chinese.isEmpty())
            << what << " shows " << chinese.size() << " Chinese texts in English:\n"
            << chinese.join('\n').toStdString();
    }

    test::MessageRecorder messages;
};

// Every board family's about dialog, as the about command opens them with
// the four software boards plugged; the Velmora5 dialog refuses a row count.
TEST_F(EnglishWindows, AboutDialogsOfEveryFamily) {
    sim::SimBus bus;
    hiddata_simple_runoff runoff{bus};
    hiddata_velmora5 velmora5{bus};
    hiddata_masterHID master{bus};
    CClassicTester classic{bus};
    bus.plug(std::make_shared<sim::SimRunoffBoard>("VERSION2"));
    ASSERT_EQ(runoff.probe(RunoffProbe::Version2, 0), 0);
    bus.plug(std::make_shared<sim::SimVelmora5Board>());
    ASSERT_EQ(velmora5.open_maker(), 0);
    auto masterBoard = std::make_shared<sim::SimMasterBoard>();
    for (int k = 0; k < 4; ++k) {
        masterBoard->assign(k, k / 2, k % 2, k);
    }
    bus.plug(masterBoard);
    ASSERT_EQ(master.open_board(), 0);
    master.load_position_map();
    bus.plug(std::make_shared<sim::SimClassicBoard>());
    ASSERT_EQ(classic.open_board(), 0);
    classic.read_identity();
    classic.load_firmware_info();

    AboutStation station;
    station.present = [](FamilyId family) { return family != FamilyId::None; };
    station.oemName = [] { return std::string(); };
    station.runoff = &runoff;
    station.velmora5 = &velmora5;
    station.master = &master;
    station.classic = &classic;
    station.gridRows = [] { return 2; };
    station.gridColumns = [] { return 2; };
    station.setGridRows = [](std::int32_t) {};
    station.setGridColumns = [](std::int32_t) {};
    station.clearEmergencyStop = [] {};
    station.readMasterSettings = [] {};
    auto owner = std::make_unique<QWidget>();
    auto* about = new CAboutCommand(std::move(station), owner.get());
    const auto settle = [about] {
        QElapsedTimer waited;
        waited.start();
        while (about->JobRunning() && waited.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return !about->JobRunning();
    };

    about->OnAbout();
    ASSERT_TRUE(settle()) << "the board read did not end";
    std::vector<std::string> opened;
    while (QDialog* d = about->CurrentDialog()) {
        opened.push_back(d->metaObject()->className());
        ExpectEnglish(d, opened.back());
        if (auto* rows = d->findChild<QLineEdit*>(QStringLiteral("rows"))) {
            // A refused entry: the range message (checked in TearDown).
            rows->setText(QStringLiteral("300"));
            d->accept();
            EXPECT_EQ(messages.texts.size(), 1);
            EXPECT_TRUE(d->isVisible());
        }
        if (opened.size() > 8) {
            break;
        }
        d->reject();
        ASSERT_TRUE(settle());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(opened, (std::vector<std::string>{"kx::CAboutDlg", "kx::CAboutDlgVelmora5",
                                                "kx::CAboutDlgVelmora5HID", "kx::CAboutDlg"}));
}

// The master board's "reset rows and columns" dialog.
TEST_F(EnglishWindows, RowsAndColumnsDialog) {
    CResetRowColDlg rowsAndColumns(4, 5);
    ExpectEnglish(&rowsAndColumns, "the rows-and-columns dialog");
}

TEST_F(EnglishWindows, BaselineDialog) {
    PageStore pages;
    BaselineExchange exchange;
    {
        CSectionGuard guard(&pages.lock);
        exchange = BaselineExchangeFromPage(0, pages.table[0]);
    }
    CBaseLineDlg dlg(pages, exchange);
    ExpectEnglish(&dlg, "the baseline dialog");
}

// The records window over two records, one of them failed with channels
// out of their limits and a green mark, the failed one chosen.
TEST_F(EnglishWindows, RecordsWindow) {
    test::TempDir dir;
    const std::string db = dir / "records.db";
    std::vector<TestRecord> records;
    for (int k = 0; k < 2; ++k) {
        TestRecord r;
        r.uuid = NewUuid();
        r.timeMs = QDateTime(QDate(2026, 12, 1), QTime(8 + k, 0)).toMSecsSinceEpoch();
        r.startMs = r.timeMs - 4000;
        r.durationMs = 4000;
        r.station = "line3-2";
        r.operatorName = "wang";
        r.config = k == 0 ? std::string() : "/home/op/configs/panel-a.ini";
        r.configSha256 = std::string(64, 'a');
        r.board.family = "one-to-one";
        r.page = k;
        r.row = 1;
        r.column = k + 1;
        r.serial = "SN-00" + std::to_string(k);
        r.verdict = k == 0 ? RecordVerdict::Pass : RecordVerdict::Fail;
        r.reason = k == 0 ? kReasonEveryChannelResponded
                          : std::string(kReasonChannelsOutOfLimits) + ": 3, 4";
        r.steps = 10;
        for (int c = 0; c < kChannels; ++c) {
            ChannelRecord& ch = r.channels[static_cast<std::size_t>(c)];
            ch.mode = static_cast<std::uint8_t>(c % 3);
            ch.channelClass = static_cast<std::uint8_t>(c % 4);
            ch.value = 500 + c;
            ch.greenMark = c == 5 ? 1 : 0;
        }
        records.push_back(r);
    }
    {
        std::string error;
        std::unique_ptr<RecordStore> store =
            RecordStore::Open(db, RecordStore::Mode::ReadWrite, &error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->Insert(records, &error)) << error;
    }
    CRecordsWindow window(db);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.model().Fetching(); }, 10000));
    ASSERT_EQ(window.model().rowCount(), 2);
    QTableView* view = window.recordsView();
    // Newest first: the failed one, chosen after the other.
    view->selectRow(1);
    view->selectRow(0);
    ASSERT_EQ(view->currentIndex().row(), 0);
    QCoreApplication::processEvents();
    ExpectEnglish(&window, "the records window");
}

TEST_F(EnglishWindows, StatusStrip) {
    CStatusStrip strip;
    StripState state;
    state.tested = 40;
    state.passed = 39;
    state.failed = 1;
    state.lastSerial = QStringLiteral("SN-001");
    state.waiting = 3;
    state.writeError = QStringLiteral("disk full");
    strip.SetState(state);
    ExpectEnglish(&strip, "the status strip without a board or configuration");
}

TEST_F(EnglishWindows, CameraWindow) {
    CDialogCapView view(nullptr,
                        CaptureSystem{[] { return false; }, [] { return QList<CaptureInput>{}; }});
    ExpectEnglish(&view, "the camera window");
}

// What the station says in the window's title and on the painted idle screen
// is no widget's text, so the walk does not see it: every case, for every
// family, in English.
TEST_F(EnglishWindows, TitlesAndIdleNotesOfEveryCase) {
    const char* const families[] = {"一拖一测试板", "多测试头主板", "Velmora5 多头测试板",
                                    "经典测试仪"};
    const OpenFailure refusals[] = {OpenFailure::NoPermission, OpenFailure::Busy,
                                    OpenFailure::Other};
    std::vector<std::pair<std::string, std::string>> texts;  // what, text
    for (const bool unplugged : {false, true}) {
        for (const bool rescanning : {false, true}) {
            texts.emplace_back("idle note without a board", IdleNoteNoBoard(unplugged, rescanning));
        }
    }
    for (int type = 0; type < kDeviceTypes; ++type) {
        texts.emplace_back("device type", DeviceTypeName(type));
    }
    for (const char* title :
         {kTitleOrvane, kTitleVelmora5, kTitleClassic, kTitleDisconnected, kTitleInserted}) {
        texts.emplace_back("title", TrText("StationTexts", title));
    }
    for (const char* family : families) {
        for (const OpenFailure failure : refusals) {
            texts.emplace_back("refusal title", OpenRefusalTitle(failure));
            texts.emplace_back("refusal message", OpenRefusalMessage(failure, family));
            texts.emplace_back("idle note of a refusal", IdleNoteRefused(failure, family));
        }
        texts.emplace_back("idle note of another device type",
                           IdleNoteOtherDeviceType(family, 2, 0));
        texts.emplace_back("title with another board",
                           TitleWithUnusedBoard(TrText("StationTexts", kTitleInserted), family));
        texts.emplace_back("no answer", NoAnswerMessage(family));
    }
    for (const auto& [what, text] : texts) {
        EXPECT_FALSE(text.empty()) << what;
        EXPECT_FALSE(test::HasChinese(QString::fromStdString(text))) << what << ": " << text;
    }
}

// The word a head without data shows is painted too: the same frame comes
// out as another picture in English than in Chinese.
TEST_F(EnglishWindows, NoDataWordIsPaintedInTheLanguage) {
    GridModel model;
    model.SetColumns(1);
    model.SetRows(1);
    ChannelModes tested{};
    tested.fill(Tested);
    model.SetChannelModes(0, 0, tested);
    model.SetNoData(0, 0);
    const auto paint = [&model] {
        auto frame = std::make_unique<GridFrame>();
        model.Evaluate(400, 300, *frame);
        EXPECT_EQ(frame->verdicts[0][0], HeadVerdict::NoData);
        GridPainter painter;
        return painter.Paint(*frame).copy();
    };
    const QImage english = paint();
    ASSERT_TRUE(InstallLanguage(Language::Chinese));
    const QImage chinese = paint();
    ASSERT_TRUE(InstallLanguage(Language::English));  // TearDown goes back
    EXPECT_NE(english, chinese);
}

// The main window with a one-to-one board and every menu, submenus
// included.
TEST_F(EnglishWindows, MainWindowAndItsMenus) {
    sim::SimBus bus;
    auto board = std::make_shared<sim::SimRunoffBoard>("ravuno-demo");
    board->set_noise(0);
    bus.plug(board);
    StationSetup setup;
    setup.bus = &bus;
    setup.simBus = &bus;
    setup.capture = CaptureSystem{[] { return false; }, [] { return QList<CaptureInput>{}; }};
    auto dlg = std::make_unique<CKaldrixPlusDlg>(std::move(setup));
    dlg->OnInitDialog();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg->BoardWorkPending(); }, 10000));
    QCoreApplication::processEvents();
    for (QAction* top : dlg->menuBar()->actions()) {
        if (QMenu* menu = top->menu()) {
            emit menu->aboutToShow();  // entries whose text follows the state
        }
    }
    ExpectEnglish(dlg.get(), "the main window");
    dlg->close();
}

}  // namespace
}  // namespace kx

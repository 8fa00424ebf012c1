// SPDX-License-Identifier: MIT
// The test records in the main window: the counters' strip under the grid
// after committed records and after "重置计数", the "记录(&R)" menu and its
// one records window, the records' options (command line and settings file),
// and the program refusing a wrong server address at its start.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/app_options.h"
#include "app/kaldrix_plus_dlg.h"
#include "app/records_service.h"
#include "dialogs/config_commands.h"
#include "dialogs/records_window.h"
#include "records/record_store.h"
#include "records/sha256.h"
#include "sim/sim_bus.h"
#include "sim/sim_runoff_board.h"
#include "tests/support/message_recorder.h"

namespace kx {
namespace {

TestRecord Panel(const std::string& serial, RecordVerdict verdict) {
    TestRecord r;
    r.uuid = NewUuid();
    r.timeMs = 1'765'000'000'000LL;
    r.startMs = r.timeMs - 1000;
    r.station = "bench";
    r.config = kBoardSettings;
    r.board.family = "one-to-one";
    r.row = 1;
    r.column = 1;
    r.serial = serial;
    r.verdict = verdict;
    return r;
}

class RecordsInTheWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        setup.dbPath = dir.filePath(QStringLiteral("records.db")).toStdString();
        setup.station = "bench";
    }
    void TearDown() override {
        if (dlg) {
            dlg->close();
            dlg.reset();
        }
        service.reset();
    }
    CKaldrixPlusDlg& Start() {
        std::string error;
        service = RecordsService::Start(setup, &error);
        EXPECT_TRUE(service) << error;
        StationSetup s;
        s.bus = &bus;
        s.simBus = &bus;
        s.capture = CaptureSystem{[] { return false; }, [] { return QList<CaptureInput>{}; }};
        s.recordsDb = setup.dbPath;
        s.records = service.get();
        dlg = std::make_unique<CKaldrixPlusDlg>(std::move(s));
        dlg->OnInitDialog();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg->BoardWorkPending(); }, 10000));
        return *dlg;
    }
    QString Counts() const { return dlg->statusStrip()->CountsText(); }
    bool WaitForCounts(const QString& text) {
        return QTest::qWaitFor([&] { return Counts() == text; }, 10000);
    }

    QTemporaryDir dir;
    RecordsSetup setup;
    test::MessageRecorder messages;
    sim::SimBus bus;
    std::unique_ptr<RecordsService> service;
    std::unique_ptr<CKaldrixPlusDlg> dlg;
};

TEST_F(RecordsInTheWindow, StripCountsCommittedRecordsUntilTheReset) {
    Start();
    CStatusStrip* strip = dlg->statusStrip();
    EXPECT_EQ(Counts(), QStringLiteral("已测 0  通过 0  失败 0  良率 --"));
    EXPECT_EQ(strip->ConfigText(), QStringLiteral("测试板设置"));
    EXPECT_EQ(strip->BoardText(), QStringLiteral("未连接测试板"));
    EXPECT_EQ(strip->SerialText(), QStringLiteral("条码 --"));
    EXPECT_FALSE(strip->waitingLabel()->isVisible());  // no server

    service->Submit({Panel("A1", RecordVerdict::Pass), Panel("A2", RecordVerdict::Pass)});
    service->Submit({Panel("A3", RecordVerdict::Fail)});
    ASSERT_TRUE(WaitForCounts(QStringLiteral("已测 3  通过 2  失败 1  良率 66.7%")))
        << Counts().toStdString();
    EXPECT_EQ(strip->SerialText(), QStringLiteral("条码 A3"));

    dlg->CommandAction(kCmdResetCounters)->trigger();
    EXPECT_EQ(Counts(), QStringLiteral("已测 0  通过 0  失败 0  良率 --"));
    EXPECT_EQ(strip->SerialText(), QStringLiteral("条码 --"));

    // A batch the writer could not commit: said on the strip until one is.
    emit service->writeFailed(QStringLiteral("database or disk is full"));
    EXPECT_TRUE(strip->writeErrorLabel()->isVisible());
    EXPECT_EQ(strip->writeErrorLabel()->text(), QStringLiteral("记录未保存"));
    service->Submit({Panel("B1", RecordVerdict::Pass)});
    ASSERT_TRUE(WaitForCounts(QStringLiteral("已测 1  通过 1  失败 0  良率 100.0%")))
        << Counts().toStdString();
    EXPECT_FALSE(strip->writeErrorLabel()->isVisible());
    EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
}

// A server that refuses every connection: the records wait, and the strip
// says how many.
TEST_F(RecordsInTheWindow, StripShowsTheRecordsWaitingForTheServer) {
    setup.server = "postgresql://station@127.0.0.1:1/records";
    Start();
    CStatusStrip* strip = dlg->statusStrip();
    EXPECT_FALSE(strip->waitingLabel()->isHidden());
    service->Submit({Panel("W1", RecordVerdict::Pass), Panel("W2", RecordVerdict::Fail)});
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return strip->WaitingText() == QStringLiteral("待上传 2"); }, 15000))
        << strip->WaitingText().toStdString();
    EXPECT_EQ(Counts(), QStringLiteral("已测 2  通过 1  失败 1  良率 50.0%"));
}

TEST_F(RecordsInTheWindow, StripNamesTheConnectedBoard) {
    auto board = std::make_shared<sim::SimRunoffBoard>("ravuno-demo");
    bus.plug(board);
    Start();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return dlg->statusStrip()->BoardText() == QStringLiteral("一拖一测试板"); }, 10000))
        << dlg->statusStrip()->BoardText().toStdString();
    // The records name the board as the station described it.
    EXPECT_EQ(dlg->recorder().Board().family, "一拖一测试板");
    EXPECT_EQ(dlg->recorder().Board().manufacturer, "ravuno-demo");
    bus.unplug(board);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return dlg->statusStrip()->BoardText() == QStringLiteral("未连接测试板"); }, 10000));
}

TEST_F(RecordsInTheWindow, RecordsEntryOpensOneWindowThatListsWhatWasCommitted) {
    Start();
    service->Submit({Panel("C1", RecordVerdict::Fail)});
    ASSERT_TRUE(service->Flush(std::chrono::seconds(10)));

    QAction* open = dlg->CommandAction(kCmdRecords);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(dlg->recordsWindow(), nullptr);
    open->trigger();
    CRecordsWindow* window = dlg->recordsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("测试记录"));
    // The list's pages come from the window's reader thread.
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->model().rowCount() == 1; }, 10000));
    EXPECT_EQ(window->model().RecordAt(0)->record.serial, "C1");

    // Again: the same window, showing what came since.
    service->Submit({Panel("C2", RecordVerdict::Pass)});
    ASSERT_TRUE(service->Flush(std::chrono::seconds(10)));
    open->trigger();
    EXPECT_EQ(dlg->recordsWindow(), window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->model().rowCount() == 2; }, 10000));

    // Typing into the window's serial field is no operator's key of the
    // main window.
    QTest::keyClicks(window->serialEdit(), QStringLiteral("C2"));
    EXPECT_TRUE(g_keyBuffer.isEmpty()) << g_keyBuffer.toStdString();

    // Closed, it goes; the entry makes a new one.
    window->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->recordsWindow() == nullptr; }, 5000));
    open->trigger();
    EXPECT_NE(dlg->recordsWindow(), nullptr);
}

TEST_F(RecordsInTheWindow, ExportEntryAsksForTheFileOfEveryRecord) {
    Start();
    dlg->CommandAction(kCmdRecords)->trigger();
    CRecordsWindow* window = dlg->recordsWindow();
    ASSERT_NE(window, nullptr);
    window->verdictCombo()->setCurrentIndex(1);  // PASS only
    int asked = 0;
    std::optional<ExportFormat> askedFormat = ExportFormat::Csv;
    window->SetFileChooser([&](QWidget*, std::optional<ExportFormat> format) {
        ++asked;
        askedFormat = format;
        return ExportChoice{};  // cancelled
    });
    dlg->CommandAction(kCmdExportRecords)->trigger();
    EXPECT_EQ(dlg->recordsWindow(), window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked == 1; }, 5000));
    EXPECT_FALSE(askedFormat.has_value());                 // the operator chooses the format
    EXPECT_EQ(window->verdictCombo()->currentIndex(), 0);  // every record
    EXPECT_FALSE(window->Exporting());
}

// --- panels closed by the operator and by the grid --------------------------------

class PanelsInTheWindow : public RecordsInTheWindow {
protected:
    // One head of 32 tested channels, limits 0 to 100.
    void OneHead() {
        GridModel& grid = dlg->colorBar().model();
        grid.SetColumns(1);
        grid.SetRows(1);
        ChannelValues upper{};
        upper.fill(100);
        grid.SetUpperLimits(0, 0, upper);
        grid.SetLowerLimits(0, 0, ChannelValues{});
        grid.SetChannelModes(0, 0, ChannelModes{});
    }
    void Values(int all, int channel3) {
        ChannelValues values{};
        values.fill(all);
        values[3] = channel3;
        dlg->colorBar().model().SetValues(0, 0, values);
    }
    void Type(const QString& text) {
        for (QChar c : text) {
            QTest::keyClick(dlg.get(), c.toLatin1());
        }
    }
    // The records committed so far, oldest first.
    std::vector<TestRecord> Stored() {
        EXPECT_TRUE(service->Flush(std::chrono::seconds(10)));
        std::string error;
        auto store = RecordStore::Open(setup.dbPath, RecordStore::Mode::ReadOnly, &error);
        EXPECT_TRUE(store) << error;
        std::vector<TestRecord> records;
        if (store) {
            store->ForEach(
                {},
                [&](const StoredRecord& r) {
                    records.push_back(r.record);
                    return true;
                },
                &error);
        }
        return records;
    }
};

TEST_F(PanelsInTheWindow, EnterAndTheClearCommandCloseThePanelWithTheTypedSerial) {
    Start();
    OneHead();
    Values(50, 50);
    Type(QStringLiteral("SN-7"));
    QTest::keyClick(dlg.get(), Qt::Key_Return);
    EXPECT_TRUE(g_keyBuffer.isEmpty());
    ASSERT_TRUE(WaitForCounts(QStringLiteral("已测 1  通过 1  失败 0  良率 100.0%")))
        << Counts().toStdString() << " " << Stored().back().reason;
    EXPECT_EQ(dlg->statusStrip()->SerialText(), QStringLiteral("条码 SN-7"));

    // Channel 4 out of its limits; the menu's command ends the panel.
    Values(50, 200);
    Type(QStringLiteral("X1"));
    dlg->CommandAction(kCmdClearGreenMarks)->trigger();
    EXPECT_TRUE(g_keyBuffer.isEmpty());
    ASSERT_TRUE(WaitForCounts(QStringLiteral("已测 2  通过 1  失败 1  良率 50.0%")))
        << Counts().toStdString();

    // The unlock word is never a serial; Space ends the panel too.
    Values(50, 50);
    Type(QString::fromLatin1(kUnlockWord));
    QTest::keyClick(dlg.get(), Qt::Key_Space);

    const std::vector<TestRecord> records = Stored();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].serial, "SN-7");
    EXPECT_EQ(records[0].verdict, RecordVerdict::Pass);
    EXPECT_EQ(records[0].station, "bench");
    EXPECT_EQ(records[1].serial, "X1");
    EXPECT_EQ(records[1].verdict, RecordVerdict::Fail);
    EXPECT_EQ(records[1].reason, "channels out of limits: 4");
    EXPECT_EQ(records[1].channels[3].value, 200);
    EXPECT_EQ(records[2].serial, "");
    EXPECT_EQ(records[2].verdict, RecordVerdict::Pass);
}

TEST_F(PanelsInTheWindow, TheGridsOwnFpcCloseWritesAPassAndTheKeyAfterItNothing) {
    Start();
    OneHead();
    dlg->colorBar().model().SetFpcTest(1);
    Values(200, 200);   // every channel driven over its limit: all marked
    QTest::qWait(100);  // repaints judge and mark
    Values(50, 50);     // back within: the grid closes the cycle by itself
    ASSERT_TRUE(WaitForCounts(QStringLiteral("已测 1  通过 1  失败 0  良率 100.0%")))
        << Counts().toStdString();
    Type(QStringLiteral("late"));
    QTest::keyClick(dlg.get(), Qt::Key_Return);  // an empty cycle
    const std::vector<TestRecord> records = Stored();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].reason, kReasonEveryChannelResponded);
    EXPECT_TRUE(records[0].fpc);
}

TEST_F(PanelsInTheWindow, ALoadedConfigurationNamesTheRecordsAndTheStrip) {
    auto board = std::make_shared<sim::SimRunoffBoard>("ravuno-demo");
    bus.plug(board);
    Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->recorder().Board().family != ""; }, 10000));
    EXPECT_EQ(dlg->statusStrip()->ConfigText(), QStringLiteral("测试板设置"));
    const QString path = dir.filePath(QStringLiteral("面板A.ini"));
    CConfigCommands& config = dlg->configCommands();
    config.SetFileChooser([&](QWidget*, ConfigFileChoice) { return path; });
    config.OnSave();
    ASSERT_TRUE(QFile::exists(path));
    config.OnLoad();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !config.IsBusy(); }, 30000));
    EXPECT_EQ(dlg->statusStrip()->ConfigText(), QStringLiteral("面板A.ini"));
    EXPECT_EQ(dlg->recorder().Config(), QFileInfo(path).absoluteFilePath().toStdString());

    // The load began a new cycle: the board's next values give the head its
    // data (a key before them closes nothing, on a loaded machine too).
    GridModel& grid = dlg->colorBar().model();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return grid.HasData(0, 0) && grid.GetCycleStats(0, 0).steps > 0; }, 10000));
    // The records carry the file and the fingerprint of its bytes.
    Type(QStringLiteral("C9"));
    QTest::keyClick(dlg.get(), Qt::Key_Return);
    const std::vector<TestRecord> records = Stored();
    ASSERT_FALSE(records.empty());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(records.back().config, QFileInfo(path).absoluteFilePath().toStdString());
    EXPECT_EQ(
        records.back().configSha256,
        Sha256Hex(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
    EXPECT_EQ(records.back().serial, "C9");

    // The board gone and back: its own settings again.
    bus.unplug(board);
    bus.plug(board);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return dlg->statusStrip()->ConfigText() == QStringLiteral("测试板设置"); }, 10000));
}

// --- options --------------------------------------------------------------------

struct SettingsCase {
    const char* name;
    const char* file;  // nullptr: no file
    QStringList arguments;
    bool ok;
    QString db, server, station, operatorName;
};

TEST(RecordsOptions, CommandLineThenSettingsFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const SettingsCase cases[] = {
        {"nothing", nullptr, {}, true, "", "", "", ""},
        {"command line",
         nullptr,
         {"--records-db", "/r/a.db", "--records-server", "postgresql://u@h/db", "--station", "S2",
          "--operator", "王芳"},
         true,
         "/r/a.db",
         "postgresql://u@h/db",
         "S2",
         "王芳"},
        {"file",
         "# line 3\n[other]\ndb = /not/this.db\n[records]\n db = /f/r.db "
         "\nserver=postgres://x@y/z\n"
         "station = 3号线-2\n; a comment\noperator = 李雷\n",
         {},
         true,
         "/f/r.db",
         "postgres://x@y/z",
         "3号线-2",
         "李雷"},
        {"command line wins",
         "[records]\ndb = /f/r.db\nstation = file\n",
         {"--station", "cli"},
         true,
         "/f/r.db",
         "",
         "cli",
         ""},
        {"byte-order mark and CRLF",
         "\xEF\xBB\xBF[Records]\r\nOperator = x\r\n",
         {},
         true,
         "",
         "",
         "",
         "x"},
        {"software boards keep out of the line's database and server",
         "[records]\ndb = /f/r.db\nserver = postgres://x@y/z\nstation = s\noperator = o\n",
         {"--simulate", "classic"},
         true,
         "",
         "",
         "s",
         "o"},
        {"software boards with a database and server named on the command line",
         "[records]\ndb = /f/r.db\n",
         {"--simulate", "none", "--records-db", "/d/demo.db", "--records-server",
          "postgres://a@b/c"},
         true,
         "/d/demo.db",
         "postgres://a@b/c",
         "",
         ""},
        {"unknown key", "[records]\nsever = postgresql://u@h/db\n", {}, false, "", "", "", ""},
        {"no equals sign", "[records]\nstation\n", {}, false, "", "", "", ""},
        {"not text", "[records]\nstation = \xff\xfe\n", {}, false, "", "", "", ""},
    };
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("kaldrixplus.conf"));
        QFile::remove(path);
        if (c.file != nullptr) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.file);
        }
        QString error;
        std::optional<AppOptions> o = ParseAppOptions(c.arguments, error);
        ASSERT_TRUE(o) << error.toStdString();
        EXPECT_EQ(MergeSettingsFile(*o, path, error), c.ok) << error.toStdString();
        if (!c.ok) {
            EXPECT_TRUE(error.contains(path)) << error.toStdString();
            continue;
        }
        EXPECT_EQ(o->recordsDb, c.db);
        EXPECT_EQ(o->recordsServer, c.server);
        EXPECT_EQ(o->station, c.station);
        EXPECT_EQ(o->operatorName, c.operatorName);
    }
    // Options that need a value.
    for (const char* option : {"--records-db", "--records-server", "--station", "--operator"}) {
        QString error;
        EXPECT_FALSE(ParseAppOptions({option}, error)) << option;
        EXPECT_FALSE(ParseAppOptions({option, " "}, error)) << option;
    }
    EXPECT_TRUE(AppUsage().contains(QStringLiteral("--records-server")));
    EXPECT_TRUE(AppUsage().contains(QStringLiteral("--operator")));
}

TEST(RecordsOptions, SoftwareBoardsKeepTheirRecordsApart) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/srv/data");
    QString error;
    std::optional<AppOptions> real = ParseAppOptions({}, error);
    std::optional<AppOptions> demo = ParseAppOptions({"--simulate", "one-to-one"}, error);
    std::optional<AppOptions> named =
        ParseAppOptions({"--simulate", "one-to-one", "--records-db", "/d/x.db"}, error);
    ASSERT_TRUE(real && demo && named);
    EXPECT_EQ(RecordsDbPath(*real), "/srv/data/kaldrixplus/records.db");
    EXPECT_EQ(RecordsDbPath(*demo), "/srv/data/kaldrixplus/records-simulated.db");
    EXPECT_EQ(RecordsDbPath(*named), "/d/x.db");
    qputenv("XDG_DATA_HOME", saved);
}

TEST(RecordsOptions, SettingsFileFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/etc/xdg-test");
    EXPECT_EQ(DefaultSettingsPath(), QStringLiteral("/etc/xdg-test/kaldrixplus/kaldrixplus.conf"));
    qputenv("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(DefaultSettingsPath(), QDir::homePath() + "/.config/kaldrixplus/kaldrixplus.conf");
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST(RecordsOptions, ServerAddressIsChecked) {
    const std::pair<const char*, bool> servers[] = {
        {"", true},
        {"postgresql://station@db.line3/records", true},
        {"postgres://station@db.line3:5433/records", true},
        {"mysql://station@db/records", false},
        {"db.line3", false},
    };
    for (const auto& [server, ok] : servers) {
        AppOptions o;
        o.recordsServer = QString::fromUtf8(server);
        QString error;
        EXPECT_EQ(CheckRecordsOptions(o, error), ok) << server << " " << error.toStdString();
    }
}

TEST(RecordsProgram, WrongServerAddressStopsTheStartWithAMessage) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString runtime = dir.filePath(QStringLiteral("run"));
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KX_KALDRIXPLUS), {"--simulate", "none", "--records-server",
                                             "http://db.line3/records", "--quit-after", "5000"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 2);
    const QString errors = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("http://db.line3/records"))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("测试记录的设置有误"))) << errors.toStdString();
    // Nothing was started: no database made.
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("data/kaldrixplus/records.db"))));
}

}  // namespace
}  // namespace kx

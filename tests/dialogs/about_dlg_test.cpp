// SPDX-License-Identifier: MIT
// The about command and the three device-information dialogs, on the
// offscreen platform, against the software boards: what each dialog shows,
// what OK sends (checked on the boards' memory and on the reports they
// received) and that closing a dialog any other way sends nothing.
#include "dialogs/about_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/about_command.h"
#include "dialogs/about_common.h"
#include "dialogs/about_dlg_velmora5.h"
#include "dialogs/about_dlg_velmora5_hid.h"
#include "dialogs/change_log.h"
#include "dialogs/edit_list_ctrl.h"
#include "grid/grid_model.h"
#include "hid/classic_tester.h"
#include "hid/hiddata_masterhid.h"
#include "hid/hiddata_simple_runoff.h"
#include "hid/hiddata_velmora5.h"
#include "sim/sim_bus.h"
#include "sim/sim_classic_board.h"
#include "sim/sim_master_board.h"
#include "sim/sim_runoff_board.h"
#include "sim/sim_velmora5_board.h"
#include "station/family_classic.h"
#include "station/family_master.h"
#include "station/family_runoff.h"
#include "station/family_velmora5.h"
#include "station/station_core.h"
#include "tests/support/event_loop_gaps.h"
#include "tests/support/message_recorder.h"

namespace kx {
namespace {

// The reports a board received after the first command report of `code`:
// the command report itself first. Empty when the command never came.
std::vector<Frame> ReportsFrom(const sim::SimBoard& board, std::uint8_t code) {
    const std::vector<Frame> frames = board.received_outputs();
    const auto it = std::find_if(frames.begin(), frames.end(), [&](const Frame& f) {
        return f[1] == 0x01 && f[2] == 0x29 && f[3] == code;
    });
    return std::vector<Frame>(it, frames.end());
}

QImage Picture(const char* path) {
    InitResources();
    return QPixmap(QString::fromLatin1(path)).toImage();
}

QString Text(QWidget* dialog, const char* name) {
    auto* edit = dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
    EXPECT_NE(edit, nullptr) << name;
    return edit ? edit->text() : QString();
}

void DeleteClosedDialogs() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class AboutCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        BuildChangeLog();
        AboutStation station;
        station.present = [this](FamilyId family) {
            switch (family) {
                case FamilyId::OneToOne:
                    return runoffOn;
                case FamilyId::Velmora5:
                    return velmora5On;
                case FamilyId::Master:
                    return masterOn;
                case FamilyId::Classic:
                    return classicOn;
                default:
                    return false;
            }
        };
        station.oemName = [this] { return oem; };
        station.runoff = &runoff;
        station.velmora5 = &velmora5;
        station.master = &master;
        station.classic = &classic;
        station.gridRows = [this] { return rows; };
        station.gridColumns = [this] { return columns; };
        station.setGridRows = [this](std::int32_t r) {
            rows = r;
            events.push_back("rows " + std::to_string(r));
        };
        station.setGridColumns = [this](std::int32_t c) {
            columns = c;
            events.push_back("columns " + std::to_string(c));
        };
        station.clearEmergencyStop = [this] {
            emergencyStop = false;
            events.push_back("clear stop");
        };
        station.readMasterSettings = [this] {
            events.push_back("read master settings");
            if (masterBoard) {
                // The writes went out before the settings are read back.
                events.push_back("board columns " + std::to_string(masterBoard->memory().columns));
            }
        };
        owner = std::make_unique<QWidget>();
        about = new CAboutCommand(std::move(station), owner.get());
        QObject::connect(about, &CAboutCommand::finished, [this] { ++finishedCount; });
    }

    void TearDown() override {
        owner.reset();
        DeleteClosedDialogs();
    }

    std::shared_ptr<sim::SimRunoffBoard> PlugRunoff(const std::string& manufacturer,
                                                    RunoffProbe row) {
        runoffBoard = std::make_shared<sim::SimRunoffBoard>(manufacturer);
        bus.plug(runoffBoard);
        EXPECT_EQ(runoff.probe(row, 0), 0);
        runoffOn = true;
        return runoffBoard;
    }
    std::shared_ptr<sim::SimVelmora5Board> PlugVelmora5() {
        velmora5Board = std::make_shared<sim::SimVelmora5Board>();
        bus.plug(velmora5Board);
        EXPECT_EQ(velmora5.open_maker(), 0);
        velmora5On = true;
        return velmora5Board;
    }
    std::shared_ptr<sim::SimMasterBoard> PlugMaster() {
        masterBoard = std::make_shared<sim::SimMasterBoard>();
        bus.plug(masterBoard);
        EXPECT_EQ(master.open_board(), 0);
        masterOn = true;
        return masterBoard;
    }
    std::shared_ptr<sim::SimClassicBoard> PlugClassic() {
        classicBoard = std::make_shared<sim::SimClassicBoard>();
        bus.plug(classicBoard);
        EXPECT_EQ(classic.open_board(), 0);
        classic.read_identity();
        classic.load_firmware_info();
        classicOn = true;
        return classicBoard;
    }

    // Board reads and writes run as jobs off this thread: spins the event
    // loop until the command's job is done and its completion delivered.
    void Settle() {
        QElapsedTimer waited;
        waited.start();
        while (about->JobRunning() && waited.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        ASSERT_FALSE(about->JobRunning()) << "the board job did not end";
    }

    template <class Dialog>
    Dialog* Current() {
        return qobject_cast<Dialog*>(about->CurrentDialog());
    }

    sim::SimBus bus;
    hiddata_simple_runoff runoff{bus};
    hiddata_velmora5 velmora5{bus};
    hiddata_masterHID master{bus};
    CClassicTester classic{bus};
    std::shared_ptr<sim::SimRunoffBoard> runoffBoard;
    std::shared_ptr<sim::SimVelmora5Board> velmora5Board;
    std::shared_ptr<sim::SimMasterBoard> masterBoard;
    std::shared_ptr<sim::SimClassicBoard> classicBoard;
    bool runoffOn = false;
    bool velmora5On = false;
    bool masterOn = false;
    bool classicOn = false;
    std::string oem;
    std::int32_t rows = 1;
    std::int32_t columns = 1;
    bool emergencyStop = true;
    std::vector<std::string> events;
    int finishedCount = 0;
    std::unique_ptr<QWidget> owner;
    CAboutCommand* about = nullptr;  // owned by `owner`
};

// --- the about dialog of a one-to-one board --------------------------------------

TEST_F(AboutCommandTest, RunoffDialogShowsTheBoardAndOkSendsTheOfflineByte) {
    auto board = PlugRunoff("VERSION2", RunoffProbe::Version2);
    board->edit([](sim::RunoffMemory& m) {
        m.serial_number = "SN-42";
        m.device_id = "DEV-7";
        m.author = "kx-fw";
        m.firmware_version = 0x0105;
        m.firmware_year = 2013;
        m.firmware_month = 5;
        m.firmware_day = 7;
        m.logo_text = "HELLO LCD";
        m.edition = 2;
        m.offline_display = 1;
        m.feature_flags = 0x80;
        m.vendor_code = "MOVIRA";
    });
    about->OnAbout();
    Settle();
    auto* dlg = Current<CAboutDlg>();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->isModal());
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("关于 KaldrixPlus"));
    EXPECT_EQ(Text(dlg, "serialNumber"), QStringLiteral("SN-42"));
    EXPECT_EQ(Text(dlg, "deviceId"), QStringLiteral("DEV-7"));
    EXPECT_EQ(Text(dlg, "author"), QStringLiteral("kx-fw"));
    EXPECT_EQ(Text(dlg, "firmwareVersion"), QStringLiteral("0x105"));
    EXPECT_EQ(Text(dlg, "firmwareDate"), QStringLiteral("2013年05月07日"));
    EXPECT_EQ(Text(dlg, "logoText"), QStringLiteral("HELLO LCD"));
    EXPECT_EQ(Text(dlg, "edition"), QStringLiteral("一拖一之[一号机]"));
    EXPECT_EQ(Text(dlg, "appVersion"), GetAppVersion());
    EXPECT_FALSE(GetAppVersion().isEmpty());
    // A VERSION row records no OEM name: the board's vendor code picks the
    // picture.
    EXPECT_EQ(dlg->ShownBrand(), Brand::Movira);
    EXPECT_EQ(dlg->Picture()->pixmap().toImage(), Picture(":/brand/movira.png"));
    EXPECT_EQ(dlg->Picture()->pixmap().size(), QSize(380, 420));
    EXPECT_TRUE(dlg->m_offlineButton->isEnabled());
    EXPECT_EQ(dlg->m_offlineButton->checkState(), Qt::Checked);

    board->clear_received();
    QTest::mouseClick(dlg->m_offlineButton, Qt::LeftButton);  // untick
    dlg->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    Settle();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(board->memory().offline_display, 0);
    // On the wire: the command report, then the cleared report with the
    // value at byte 21 and nothing else.
    const std::vector<Frame> sent = ReportsFrom(*board, 0xD5);
    ASSERT_GE(sent.size(), 2u);
    Frame expected{};
    EXPECT_EQ(sent[1], expected);
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_EQ(finishedCount, 1);
}

TEST_F(AboutCommandTest, OfflineByteShownAndSentBack) {
    struct Case {
        std::uint8_t read;
        std::uint8_t features;
        Qt::CheckState shown;
        bool enabled;
        std::uint8_t sent;
    };
    const Case cases[] = {
        {1, 0x80, Qt::Checked, true, 1},
        {0, 0x80, Qt::Unchecked, true, 0},
        {3, 0x80, Qt::Unchecked, true, 0},  // neither 0, 1 nor 2: taken as 0
        {0xFF, 0x80, Qt::Unchecked, true, 0},
        {2, 0x80, Qt::PartiallyChecked, true, 2},
        // Bit 7 clear: the box is greyed, and OK still sends what was read.
        {1, 0x7F, Qt::Checked, false, 1},
        {0, 0x00, Qt::Unchecked, false, 0},
    };
    auto board = PlugRunoff("TARSEL", RunoffProbe::Tarsel);
    oem = "TARSEL";
    for (const Case& c : cases) {
        board->edit([&](sim::RunoffMemory& m) {
            m.offline_display = c.read;
            m.feature_flags = c.features;
        });
        about->OnAbout();
        Settle();
        auto* dlg = Current<CAboutDlg>();
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->ShownBrand(), Brand::Tarsel);
        EXPECT_EQ(dlg->m_offlineButton->checkState(), c.shown) << int(c.read);
        EXPECT_EQ(dlg->m_offlineButton->isEnabled(), c.enabled) << int(c.features);
        board->edit([](sim::RunoffMemory& m) { m.offline_display = 0x55; });
        dlg->accept();
        Settle();
        EXPECT_EQ(board->memory().offline_display, c.sent) << int(c.read);
        DeleteClosedDialogs();
    }
}

TEST_F(AboutCommandTest, ClosingARunoffDialogOtherwiseSendsNothing) {
    auto board = PlugRunoff("VERSION3", RunoffProbe::Version3);
    board->edit([](sim::RunoffMemory& m) { m.offline_display = 1; });
    const std::function<void(QDialog*)> ways[] = {
        [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); },
        [](QDialog* d) { d->close(); },
        [](QDialog* d) { d->reject(); },
    };
    for (const auto& close : ways) {
        about->OnAbout();
        Settle();
        auto* dlg = Current<CAboutDlg>();
        ASSERT_NE(dlg, nullptr);
        QTest::mouseClick(dlg->m_offlineButton, Qt::LeftButton);
        board->clear_received();
        close(dlg);
        Settle();
        EXPECT_EQ(about->CurrentDialog(), nullptr);
        EXPECT_TRUE(board->received_outputs().empty());
        EXPECT_EQ(board->memory().offline_display, 1);
        DeleteClosedDialogs();
    }
    EXPECT_EQ(finishedCount, 3);
}

TEST_F(AboutCommandTest, BoardGoneBeforeOrDuringTheDialog) {
    test::MessageRecorder messages;
    auto board = PlugRunoff("VERSION2", RunoffProbe::Version2);
    board->edit([](sim::RunoffMemory& m) { m.offline_display = 1; });

    // Gone while the dialog is open: OK tells the operator the setting did
    // not reach the board.
    about->OnAbout();
    Settle();
    auto* dlg = Current<CAboutDlg>();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(Text(dlg, "firmwareVersion"), QStringLiteral("0x203"));
    bus.unplug(board);
    dlg->accept();
    Settle();
    EXPECT_EQ(messages.texts,
              QStringList{QStringLiteral("脱机显示方式未能写入设备，请检查设备连接后重试。")});
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    DeleteClosedDialogs();

    // Gone before: nothing read shows, the option is not offered, and OK
    // has nothing to send (and nothing to complain about).
    messages.texts.clear();
    about->OnAbout();
    Settle();
    dlg = Current<CAboutDlg>();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(Text(dlg, "firmwareVersion"), QString());
    EXPECT_EQ(Text(dlg, "firmwareDate"), QString());
    EXPECT_EQ(Text(dlg, "edition"), QString());
    EXPECT_FALSE(dlg->m_offlineButton->isEnabled());
    EXPECT_EQ(dlg->m_offlineButton->checkState(), Qt::Unchecked);
    EXPECT_EQ(dlg->ShownBrand(), Brand::Default);
    dlg->accept();
    Settle();
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(AboutCommandTest, RunoffAndClassicGiveTwoDialogsInOrder) {
    auto runoffB = PlugRunoff("MR.TOVAK", RunoffProbe::Tovak);
    oem = "DARMOLEN";
    auto classicB = PlugClassic();
    std::vector<QDialog*> opened;
    QObject::connect(about, &CAboutCommand::dialogOpened, [&](QDialog* d) { opened.push_back(d); });
    about->OnAbout();
    Settle();
    auto* first = Current<CAboutDlg>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->ShownBrand(), Brand::Darmolen);
    EXPECT_NE(Text(first, "edition"), QStringLiteral("经典版本"));
    // A second about command while it is open opens nothing more.
    about->OnAbout();
    Settle();
    EXPECT_EQ(opened.size(), 1u);

    first->reject();
    Settle();
    auto* second = Current<CAboutDlg>();
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second, first);
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(finishedCount, 0);
    const sim::ClassicMemory m = classicB->memory();
    EXPECT_EQ(Text(second, "edition"), QStringLiteral("经典版本"));
    EXPECT_EQ(Text(second, "serialNumber"), QString::fromStdString(m.serial_number));
    EXPECT_EQ(Text(second, "deviceId"), QString::fromStdString(m.device_id));
    EXPECT_EQ(Text(second, "firmwareVersion"), QStringLiteral("0x107"));
    EXPECT_EQ(Text(second, "firmwareDate"), QStringLiteral("2025年11月20日"));
    EXPECT_EQ(Text(second, "logoText"), QString());
    EXPECT_FALSE(second->m_offlineButton->isEnabled());
    // "VC-CLS" names no brand.
    EXPECT_EQ(second->ShownBrand(), Brand::Default);

    // The classic dialog is filled from what the connection read: no
    // exchange, and nothing sent on OK either.
    runoffB->clear_received();
    classicB->clear_received();
    second->accept();
    Settle();
    EXPECT_TRUE(classicB->received().empty());
    EXPECT_TRUE(runoffB->received().empty());
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_EQ(finishedCount, 1);
}

TEST_F(AboutCommandTest, ClassicVendorCodePicksTheBrand) {
    auto board = PlugClassic();
    struct Case {
        const char* code;
        Brand brand;
    };
    const Case cases[] = {{"movira", Brand::Movira},
                          {"tarsel", Brand::Tarsel},
                          {"borvane", Brand::Maker},
                          {"MOVIRA", Brand::Default}};
    for (const Case& c : cases) {
        board->edit([&](sim::ClassicMemory& m) { m.vendor_code = c.code; });
        classic.read_identity();
        about->OnAbout();
        Settle();
        auto* dlg = Current<CAboutDlg>();
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->ShownBrand(), c.brand) << c.code;
        dlg->reject();
        Settle();
        DeleteClosedDialogs();
    }
}

TEST_F(AboutCommandTest, NoBoardShowsNothingAndTheEmptyAboutReadsNothing) {
    about->OnAbout();
    Settle();
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_EQ(finishedCount, 1);

    auto board = PlugRunoff("VERSION6", RunoffProbe::Version6);
    board->clear_received();
    about->ShowEmptyAbout();
    auto* dlg = Current<CAboutDlg>();
    ASSERT_NE(dlg, nullptr);
    for (const char* field : {"serialNumber", "deviceId", "firmwareVersion", "firmwareDate",
                              "author", "logoText", "edition"}) {
        EXPECT_EQ(Text(dlg, field), QString()) << field;
    }
    EXPECT_EQ(Text(dlg, "appVersion"), GetAppVersion());
    EXPECT_EQ(dlg->ShownBrand(), Brand::Default);
    EXPECT_EQ(dlg->Picture()->pixmap().toImage(), Picture(":/brand/default.png"));
    EXPECT_FALSE(dlg->m_offlineButton->isEnabled());
    dlg->accept();
    Settle();
    EXPECT_TRUE(board->received().empty());
    EXPECT_EQ(about->CurrentDialog(), nullptr);
}

// --- the Velmora5 dialog ------------------------------------------------------

TEST_F(AboutCommandTest, Velmora5DialogShowsTheBoardAndSendsTheRecordBack) {
    auto board = PlugVelmora5();
    board->edit([](sim::Velmora5Memory& m) {
        m.firmware_version = 0x1234;
        m.firmware_year = 2024;
        m.firmware_month = 1;
        m.firmware_day = 22;
        m.device_id = "V5-0042";
        m.vendor_code = "BORVANE";
        m.heads[1].modes = {1, 2, 3, 7, 7, 7, 7};
    });
    about->OnAbout();
    Settle();
    auto* dlg = Current<CAboutDlgVelmora5>();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(Text(dlg, "firmwareVersion"), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(Text(dlg, "firmwareDate"), QStringLiteral("2024年01月22日"));
    EXPECT_EQ(Text(dlg, "deviceId"), QStringLiteral("V5-0042"));
    EXPECT_EQ(Text(dlg, "appVersion"), GetAppVersion());
    EXPECT_EQ(dlg->ShownBrand(), Brand::Maker);
    auto* history = dlg->findChild<QPlainTextEdit*>(QStringLiteral("versionInfo"));
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isReadOnly());
    EXPECT_EQ(history->toPlainText(), VersionInfoText(g_changeLog));
    EXPECT_EQ(history->toPlainText().count(QString(42, QLatin1Char('-'))), 34);
    auto* inUse = dlg->findChild<QCheckBox*>(QStringLiteral("layoutInUse"));
    ASSERT_NE(inUse, nullptr);
    EXPECT_TRUE(inUse->isChecked());
    EXPECT_EQ(Text(dlg, "rows"), QStringLiteral("2"));
    EXPECT_EQ(Text(dlg, "columns"), QStringLiteral("3"));

    board->clear_received();
    dlg->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    Settle();
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    std::array<std::uint8_t, 32> page{};
    page[0] = 1;
    page[1] = 2;
    page[2] = 3;
    EXPECT_EQ(board->memory().heads[1].modes, page);
    // The data report: the record, 29 zeros, and the rest of the short head
    // report (zeros).
    const std::vector<Frame> sent = ReportsFrom(*board, 0x31);
    ASSERT_EQ(sent.size(), 3u);
    Frame data{};
    data[1] = 1;
    data[2] = 2;
    data[3] = 3;
    EXPECT_EQ(sent[2], data);
    EXPECT_EQ(board->memory().protocol_errors, 0);
}

TEST_F(AboutCommandTest, Velmora5LayoutEditsAndRefusals) {
    auto board = PlugVelmora5();
    board->edit([](sim::Velmora5Memory& m) { m.heads[1].modes = {1, 2, 3}; });

    // Unticking sends byte 0 = 0.
    about->OnAbout();
    Settle();
    auto* dlg = Current<CAboutDlgVelmora5>();
    ASSERT_NE(dlg, nullptr);
    QTest::mouseClick(dlg->findChild<QCheckBox*>(QStringLiteral("layoutInUse")), Qt::LeftButton);
    dlg->accept();
    Settle();
    EXPECT_EQ(board->memory().heads[1].modes[0], 0);
    EXPECT_EQ(board->memory().heads[1].modes[1], 2);
    DeleteClosedDialogs();

    // 300 rows: the range message, the dialog stays, nothing is sent; then
    // a good value goes out. Columns come first in the exchange.
    test::MessageRecorder messages;
    board->edit([](sim::Velmora5Memory& m) { m.heads[1].modes = {5, 2, 3}; });
    about->OnAbout();
    Settle();
    dlg = Current<CAboutDlgVelmora5>();
    ASSERT_NE(dlg, nullptr);
    auto* inUse = dlg->findChild<QCheckBox*>(QStringLiteral("layoutInUse"));
    EXPECT_FALSE(inUse->isChecked());  // byte 0 = 5
    auto* rowsEdit = dlg->findChild<QLineEdit*>(QStringLiteral("rows"));
    auto* columnsEdit = dlg->findChild<QLineEdit*>(QStringLiteral("columns"));
    rowsEdit->setText(QStringLiteral("300"));
    columnsEdit->setText(QStringLiteral("4"));
    board->clear_received();
    dlg->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    Settle();
    EXPECT_EQ(messages.texts, QStringList{QStringLiteral("请输入一个 0 至 255 之间的整数。")});
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(about->CurrentDialog(), dlg);
    EXPECT_TRUE(board->received_outputs().empty());
    columnsEdit->setText(QStringLiteral("abc"));
    dlg->accept();
    Settle();
    EXPECT_EQ(messages.texts.last(), QStringLiteral("请输入一个整数。"));
    EXPECT_TRUE(board->received_outputs().empty());
    columnsEdit->setText(QStringLiteral("4"));
    rowsEdit->setText(QStringLiteral("255"));
    dlg->accept();
    Settle();
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    // Byte 0 was neither 0 nor 1 and the box was not clicked: it goes back
    // unchanged.
    const sim::Velmora5Memory m = board->memory();
    EXPECT_EQ(m.heads[1].modes[0], 5);
    EXPECT_EQ(m.heads[1].modes[1], 255);
    EXPECT_EQ(m.heads[1].modes[2], 4);
    DeleteClosedDialogs();

    // Escape and the close box send nothing.
    for (int way = 0; way < 2; ++way) {
        about->OnAbout();
        Settle();
        dlg = Current<CAboutDlgVelmora5>();
        ASSERT_NE(dlg, nullptr);
        dlg->findChild<QLineEdit*>(QStringLiteral("rows"))->setText(QStringLiteral("1"));
        board->clear_received();
        if (way == 0) {
            QTest::keyClick(dlg, Qt::Key_Escape);
            Settle();
        } else {
            dlg->close();
            Settle();
        }
        EXPECT_EQ(about->CurrentDialog(), nullptr);
        EXPECT_TRUE(board->received_outputs().empty());
        DeleteClosedDialogs();
    }
}

// --- the master board dialog -----------------------------------------------------

class MasterAboutTest : public AboutCommandTest {
protected:
    void SetUp() override {
        AboutCommandTest::SetUp();
        PlugMaster();
        masterBoard->edit([](sim::MasterMemory& m) {
            m.firmware_version = 0x0105;
            m.firmware_year = 2025;
            m.firmware_month = 8;
            m.firmware_day = 14;
            m.device_id = "MB-0042";
            m.vendor_code = "TARSEL";
            m.buzzer = 0x80;
        });
    }

    // A 2 x 2 grid whose map assigns heads 3, 5, 7, 9 (position 3's head
    // left out when `lastAssigned` is false).
    void MapTwoByTwo(bool lastAssigned = true) {
        masterBoard->assign(0, 0, 0, 3);
        masterBoard->assign(1, 0, 1, 5);
        masterBoard->assign(2, 1, 0, 7);
        masterBoard->assign(3, 1, 1, lastAssigned ? std::optional<int>(9) : std::nullopt);
        master.load_position_map();
        rows = 2;
        columns = 2;
    }

    CAboutDlgVelmora5HID* Open() {
        about->OnAbout();
        Settle();
        auto* dlg = Current<CAboutDlgVelmora5HID>();
        EXPECT_NE(dlg, nullptr);
        return dlg;
    }

    // The second report of the last position-map write.
    std::vector<std::uint8_t> SentMap() {
        const std::vector<Frame> sent = ReportsFrom(*masterBoard, 0x33);
        EXPECT_GE(sent.size(), 2u);
        if (sent.size() < 2) {
            return {};
        }
        for (std::size_t i = 33; i < kFrameSize; ++i) {
            EXPECT_EQ(sent[1][i], 0) << i;
        }
        return std::vector<std::uint8_t>(sent[1].begin() + 1, sent[1].begin() + 9);
    }

    static QStringList Headings(CEditListCtrl* list) {
        QStringList h;
        for (int c = 0; c < list->columnCount(); ++c) {
            h << list->horizontalHeaderItem(c)->text();
        }
        return h;
    }
    static QStringList Row(CEditListCtrl* list, int row) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c) {
            cells << list->GetItemText(row, c);
        }
        return cells;
    }
};

TEST_F(MasterAboutTest, ShowsTheBoardAndWritesTheMapBackUnchanged) {
    MapTwoByTwo();
    CAboutDlgVelmora5HID* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(Text(dlg, "firmwareVersion"), QStringLiteral("0.1.0.5"));
    EXPECT_EQ(Text(dlg, "firmwareDate"), QStringLiteral("2025年08月14日"));
    EXPECT_EQ(Text(dlg, "deviceId"), QStringLiteral("MB-0042"));
    EXPECT_EQ(dlg->ShownBrand(), Brand::Tarsel);
    EXPECT_EQ(dlg->findChild<QPlainTextEdit*>(QStringLiteral("versionInfo"))->toPlainText(),
              VersionInfoText(g_changeLog));
    CEditListCtrl* list = dlg->m_headList;
    EXPECT_EQ(Headings(list), (QStringList{QStringLiteral("第1列"), QStringLiteral("第2列")}));
    EXPECT_EQ(list->columnWidth(0), 80);
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(Row(list, 0), (QStringList{"3", "5"}));
    EXPECT_EQ(Row(list, 1), (QStringList{"7", "9"}));
    EXPECT_TRUE(dlg->findChild<QCheckBox*>(QStringLiteral("buzzerOn"))->isChecked());
    EXPECT_FALSE(dlg->findChild<QCheckBox*>(QStringLiteral("buzzerInvert"))->isChecked());

    masterBoard->clear_received();
    dlg->findChild<QPushButton*>(QStringLiteral("ok"))->click();
    Settle();
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_EQ(SentMap(),
              (std::vector<std::uint8_t>{0x00, 0x83, 0x10, 0x85, 0x01, 0x87, 0x11, 0x89}));
    const sim::MasterMemory m = masterBoard->memory();
    EXPECT_EQ(m.columns, 2);
    EXPECT_EQ(m.rows, 2);
    EXPECT_EQ(m.buzzer, 0x80);
    // The grid takes the size first, the board's settings are read back last.
    EXPECT_EQ(events, (std::vector<std::string>{"columns 2", "rows 2", "read master settings",
                                                "board columns 2"}));
}

TEST_F(MasterAboutTest, UnassignedPositionShows255AndGoesOutAs0xFF) {
    MapTwoByTwo(false);
    CAboutDlgVelmora5HID* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(Row(dlg->m_headList, 1), (QStringList{"7", "255"}));
    masterBoard->clear_received();
    dlg->accept();
    Settle();
    EXPECT_EQ(SentMap(),
              (std::vector<std::uint8_t>{0x00, 0x83, 0x10, 0x85, 0x01, 0x87, 0x11, 0xFF}));
}

TEST_F(MasterAboutTest, ResetRowsAndColumnsNumbersThePositions) {
    MapTwoByTwo();
    CAboutDlgVelmora5HID* dlg = Open();
    ASSERT_NE(dlg, nullptr);

    // Cancel keeps the table.
    dlg->findChild<QPushButton*>(QStringLiteral("resetRowCol"))->click();
    Settle();
    CResetRowColDlg* reset = dlg->ResetDialog();
    ASSERT_NE(reset, nullptr);
    EXPECT_EQ(reset->columnsEdit()->text(), QStringLiteral("2"));
    EXPECT_EQ(reset->rowsEdit()->text(), QStringLiteral("2"));
    reset->columnsEdit()->setText(QStringLiteral("9"));
    reset->reject();
    Settle();
    DeleteClosedDialogs();
    EXPECT_EQ(dlg->ResetDialog(), nullptr);
    EXPECT_EQ(dlg->m_headList->rowCount(), 2);
    EXPECT_EQ(dlg->m_headList->columnCount(), 2);

    dlg->OnResetRowCol();
    reset = dlg->ResetDialog();
    ASSERT_NE(reset, nullptr);
    reset->columnsEdit()->setText(QStringLiteral("3"));
    reset->rowsEdit()->setText(QStringLiteral("1"));
    reset->accept();
    Settle();
    DeleteClosedDialogs();
    EXPECT_EQ(
        Headings(dlg->m_headList),
        (QStringList{QStringLiteral("第1列"), QStringLiteral("第2列"), QStringLiteral("第3列")}));
    ASSERT_EQ(dlg->m_headList->rowCount(), 1);
    EXPECT_EQ(Row(dlg->m_headList, 0), (QStringList{"0", "1", "2"}));

    masterBoard->clear_received();
    dlg->accept();
    Settle();
    EXPECT_EQ(SentMap(),
              (std::vector<std::uint8_t>{0x00, 0x80, 0x10, 0x81, 0x20, 0x82, 0x00, 0x00}));
    EXPECT_EQ(masterBoard->memory().columns, 3);
    EXPECT_EQ(masterBoard->memory().rows, 1);
    EXPECT_EQ(columns, 3);
    EXPECT_EQ(rows, 1);
}

TEST_F(MasterAboutTest, EditedCellsAndBuzzerBoxesGoOutAtOk) {
    MapTwoByTwo();
    struct Case {
        bool on;
        bool inverted;
        std::uint8_t sent;
    };
    for (const Case c :
         {Case{true, true, 0x81}, Case{false, false, 0x00}, Case{false, true, 0x01}}) {
        CAboutDlgVelmora5HID* dlg = Open();
        ASSERT_NE(dlg, nullptr);
        dlg->findChild<QCheckBox*>(QStringLiteral("buzzerOn"))->setChecked(c.on);
        dlg->findChild<QCheckBox*>(QStringLiteral("buzzerInvert"))->setChecked(c.inverted);
        // Cell texts: junk is 0, full-width digits count, values keep their
        // low 8 bits with bit 7 on.
        dlg->m_headList->SetItemText(0, 0, QStringLiteral("x"));
        dlg->m_headList->SetItemText(0, 1, QStringLiteral("１２"));
        dlg->m_headList->SetItemText(1, 0, QStringLiteral(" 300"));
        masterBoard->clear_received();
        dlg->accept();
        Settle();
        EXPECT_EQ(masterBoard->memory().buzzer, c.sent);
        EXPECT_EQ(SentMap(),
                  (std::vector<std::uint8_t>{0x00, 0x80, 0x10, 0x8C, 0x01, 0xAC, 0x11, 0x89}));
        DeleteClosedDialogs();
        MapTwoByTwo();
    }
}

TEST_F(MasterAboutTest, ClearEmergencyStopThenCancelWritesNothing) {
    MapTwoByTwo();
    CAboutDlgVelmora5HID* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    masterBoard->clear_received();
    EXPECT_TRUE(emergencyStop);
    dlg->findChild<QPushButton*>(QStringLiteral("clearEmergencyStop"))->click();
    EXPECT_FALSE(emergencyStop);
    EXPECT_TRUE(dlg->isVisible());
    dlg->findChild<QCheckBox*>(QStringLiteral("buzzerInvert"))->setChecked(true);
    dlg->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    Settle();
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_TRUE(masterBoard->received_outputs().empty());
    EXPECT_EQ(events, std::vector<std::string>{"clear stop"});
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(columns, 2);
    DeleteClosedDialogs();

    // Escape and the close box likewise.
    for (int way = 0; way < 2; ++way) {
        dlg = Open();
        ASSERT_NE(dlg, nullptr);
        masterBoard->clear_received();
        if (way == 0) {
            QTest::keyClick(dlg, Qt::Key_Escape);
            Settle();
        } else {
            dlg->close();
            Settle();
        }
        EXPECT_EQ(about->CurrentDialog(), nullptr);
        EXPECT_TRUE(masterBoard->received_outputs().empty());
        DeleteClosedDialogs();
    }
}

TEST_F(MasterAboutTest, BoardGoneAtOkIsReportedAfterTheGridTookTheSize) {
    test::MessageRecorder messages;
    MapTwoByTwo();
    CAboutDlgVelmora5HID* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    bus.unplug(masterBoard);
    masterBoard.reset();
    dlg->accept();
    Settle();
    EXPECT_EQ(
        messages.texts,
        QStringList{QStringLiteral("多测试头主板设置未能全部写入设备，请检查设备连接后重试。")});
    EXPECT_EQ(events, (std::vector<std::string>{"columns 2", "rows 2", "read master settings"}));
    DeleteClosedDialogs();

    // Opened for a board that is gone: the buzzer boxes are not offered and
    // OK leaves the buzzer settings alone.
    messages.texts.clear();
    dlg = Open();
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->findChild<QCheckBox*>(QStringLiteral("buzzerOn"))->isEnabled());
    EXPECT_FALSE(dlg->findChild<QCheckBox*>(QStringLiteral("buzzerInvert"))->isEnabled());
    EXPECT_FALSE(dlg->Layout().buzzer.has_value());
    EXPECT_EQ(Text(dlg, "firmwareVersion"), QString());
    dlg->reject();
    Settle();
}

TEST_F(AboutCommandTest, Velmora5RecordThatDidNotComeIsNotOffered) {
    test::MessageRecorder messages;
    auto board = PlugVelmora5();
    bus.unplug(board);
    about->OnAbout();
    Settle();
    auto* dlg = Current<CAboutDlgVelmora5>();
    ASSERT_NE(dlg, nullptr);
    EXPECT_FALSE(dlg->LayoutKnown());
    for (const char* name : {"rows", "columns"}) {
        auto* edit = dlg->findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_FALSE(edit->isEnabled()) << name;
        EXPECT_EQ(edit->text(), QString()) << name;
    }
    EXPECT_FALSE(dlg->findChild<QCheckBox*>(QStringLiteral("layoutInUse"))->isEnabled());
    dlg->accept();  // empty edits are not refused: there is nothing to send
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(AboutCommandTest, EveryFamilyInTurnWithTheGridLargerThanTheMap) {
    PlugRunoff("VERSION2", RunoffProbe::Version2);
    PlugVelmora5();
    PlugMaster();
    PlugClassic();
    rows = 5;
    columns = 4;  // 20 positions: the last four have no map entry
    for (int k = 0; k < 16; ++k) {
        masterBoard->assign(k, k / 4, k % 4, k);
    }
    master.load_position_map();
    std::vector<std::string> order;
    QObject::connect(about, &CAboutCommand::dialogOpened,
                     [&](QDialog* d) { order.push_back(d->metaObject()->className()); });
    about->OnAbout();
    Settle();
    while (QDialog* d = about->CurrentDialog()) {
        if (auto* m = qobject_cast<CAboutDlgVelmora5HID*>(d)) {
            EXPECT_EQ(m->m_headList->rowCount(), 5);
            EXPECT_EQ(m->m_headList->GetItemText(3, 3), QStringLiteral("15"));
            EXPECT_EQ(m->m_headList->GetItemText(4, 0), QStringLiteral("255"));
            masterBoard->clear_received();
            m->accept();
            Settle();
            // Only 16 positions fit the map.
            const std::vector<Frame> sent = ReportsFrom(*masterBoard, 0x33);
            ASSERT_GE(sent.size(), 2u);
            EXPECT_EQ(sent[1][31], 3 * 16 + 3);
            EXPECT_EQ(sent[1][32], 0x80 | 15);
        } else {
            d->reject();
            Settle();
        }
        DeleteClosedDialogs();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"kx::CAboutDlg", "kx::CAboutDlgVelmora5",
                                               "kx::CAboutDlgVelmora5HID", "kx::CAboutDlg"}));
    EXPECT_EQ(finishedCount, 1);
}

TEST_F(AboutCommandTest, FamiliesAreLookedAtWhenTheirTurnComes) {
    PlugRunoff("VERSION2", RunoffProbe::Version2);
    auto v5 = PlugVelmora5();
    about->OnAbout();
    Settle();
    ASSERT_NE(Current<CAboutDlg>(), nullptr);
    // The Velmora5 board went away while the first dialog was open.
    velmora5On = false;
    v5->clear_received();
    Current<CAboutDlg>()->reject();
    Settle();
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_TRUE(v5->received().empty());
}

// --- a board that falls silent while a job runs -----------------------------------

// Ticks on the window's thread while the command's board job runs; the
// longest gap between ticks in milliseconds.
qint64 LongestGapWhileTheJobRuns(CAboutCommand& about, const std::function<void()>& onTick) {
    const qint64 gap = test::LongestGapWhile([&] { return about.JobRunning(); }, onTick);
    EXPECT_FALSE(about.JobRunning());
    return gap;
}
using test::kLongestAllowedGapMs;

TEST_F(MasterAboutTest, SilentDuringTheReadsTheWindowKeepsTickingAndASecondAboutIsRefused) {
    test::MessageRecorder messages;
    MapTwoByTwo();
    int opened = 0;
    QObject::connect(about, &CAboutCommand::dialogOpened, [&] { ++opened; });
    // Each reply takes 20 ms, and the board stops answering once its first
    // read has gone out: the rest of the reads wait out their bound.
    masterBoard->set_reply_delay(std::chrono::milliseconds(20));
    masterBoard->clear_received();
    about->OnAbout();
    ASSERT_TRUE(about->JobRunning());
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_EQ(about->JobStatus(), QStringLiteral("正在读取设备信息…"));
    EXPECT_EQ(owner->cursor().shape(), Qt::BusyCursor);
    bool refusedOnce = false;
    const qint64 gap = LongestGapWhileTheJobRuns(*about, [&] {
        if (!masterBoard->received_outputs().empty()) {
            masterBoard->set_silent(true);
        }
        if (!refusedOnce && about->JobRunning()) {
            refusedOnce = true;
            about->OnAbout();
            about->ShowEmptyAbout();
        }
    });
    std::cout << "longest gap between ticks: " << gap << " ms\n";
    EXPECT_LT(gap, kLongestAllowedGapMs);
    EXPECT_TRUE(refusedOnce);
    EXPECT_EQ(messages.texts, QStringList(2, QStringLiteral("正在与设备通信，请稍候再试。")));
    auto* dlg = Current<CAboutDlgVelmora5HID>();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(about->JobStatus(), QString());
    EXPECT_NE(owner->cursor().shape(), Qt::BusyCursor);
    // What did not come is empty; the map the board object holds is shown.
    EXPECT_EQ(Text(dlg, "firmwareDate"), QString());
    EXPECT_FALSE(dlg->Layout().buzzer.has_value());
    EXPECT_EQ(Row(dlg->m_headList, 0), (QStringList{"3", "5"}));
    dlg->reject();
    Settle();
    EXPECT_EQ(finishedCount, 1);
}

TEST_F(MasterAboutTest, SilentDuringTheWritesTheFailureComesBackOnTheWindowsThread) {
    test::MessageRecorder messages;
    MapTwoByTwo();
    CAboutDlgVelmora5HID* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    masterBoard->set_reply_delay(std::chrono::milliseconds(20));
    masterBoard->clear_received();
    dlg->accept();
    ASSERT_TRUE(about->JobRunning());
    EXPECT_EQ(about->JobStatus(), QStringLiteral("正在写入设备…"));
    // The grid took the size at once, on this thread.
    EXPECT_EQ(events, (std::vector<std::string>{"columns 2", "rows 2"}));
    bool refused = false;
    const qint64 gap = LongestGapWhileTheJobRuns(*about, [&] {
        if (!masterBoard->received_outputs().empty()) {
            masterBoard->set_silent(true);
        }
        if (!refused && about->JobRunning()) {
            refused = true;
            about->OnAbout();
        }
    });
    std::cout << "longest gap between ticks: " << gap << " ms\n";
    EXPECT_LT(gap, kLongestAllowedGapMs);
    EXPECT_EQ(
        messages.texts,
        (QStringList{QStringLiteral("正在与设备通信，请稍候再试。"),
                     QStringLiteral("多测试头主板设置未能全部写入设备，请检查设备连接后重试。")}));
    EXPECT_EQ(events.size(), 4u);
    EXPECT_EQ(events[2], "read master settings");
    EXPECT_EQ(about->CurrentDialog(), nullptr);
    EXPECT_EQ(finishedCount, 1);
}

// The owner goes while a read is waiting on a silent board: the command's
// end cuts the board's waits short (the remaining reads would take seconds),
// waits for the job, and its completion reaches no one. The board object's
// waits are let go again after.
TEST_F(MasterAboutTest, OwnerClosedWhileAReadRuns) {
    masterBoard->set_silent(true);
    about->OnAbout();
    ASSERT_TRUE(about->JobRunning());
    QElapsedTimer took;
    took.start();
    owner.reset();
    EXPECT_LT(took.elapsed(), 2000);
    QCoreApplication::processEvents();
    DeleteClosedDialogs();
    EXPECT_EQ(finishedCount, 0);
    EXPECT_FALSE(master.waits_cancelled());
}

// The main window's view of its station core: which family is present, the
// families' protocol objects, the grid, the emergency-stop latch, and the
// read after a master layout change, which first takes every head's data.
TEST(AboutStationOfAStation, ReachesTheStationsFamiliesGridAndLatch) {
    sim::SimBus bus;
    auto board = std::make_shared<sim::SimMasterBoard>();
    board->set_present_heads({0, 1});
    board->edit([](sim::MasterMemory& m) {
        m.rows = 1;
        m.columns = 2;
    });
    bus.plug(board);
    GridModel grid;
    PageStore pages;
    StationCore core(bus, grid, pages);
    core.Initialise();
    ASSERT_TRUE(core.Present(FamilyId::Master));

    AboutStation about = AboutStationOf(core, grid);
    EXPECT_TRUE(about.present(FamilyId::Master));
    EXPECT_FALSE(about.present(FamilyId::OneToOne));
    EXPECT_EQ(about.runoff, &core.Find<RunoffFamily>()->Board());
    EXPECT_EQ(about.velmora5, &core.Find<Velmora5Family>()->Board());
    EXPECT_EQ(about.master, &core.Find<MasterFamily>()->Board());
    EXPECT_EQ(about.classic, &core.Find<ClassicFamily>()->Board());
    EXPECT_EQ(about.gridColumns(), 2);
    EXPECT_EQ(about.gridRows(), 1);
    about.setGridColumns(3);
    about.setGridRows(2);
    EXPECT_EQ(grid.GetColumns(), 3);
    EXPECT_EQ(grid.GetRows(), 2);

    g_emergencyStop = 1;
    ASSERT_TRUE(core.EmergencyStopLatched());
    about.clearEmergencyStop();
    EXPECT_FALSE(core.EmergencyStopLatched());

    core.StopAcquisition();
    const std::uint32_t epoch = grid.DataEpoch();
    const std::size_t sent = board->received_outputs().size();
    about.readMasterSettings();
    EXPECT_NE(grid.DataEpoch(), epoch) << "the heads kept data of their old places";
    EXPECT_GT(board->received_outputs().size(), sent) << "the settings were not read";
    core.Close();
}

}  // namespace
}  // namespace kx

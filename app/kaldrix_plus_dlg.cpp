// SPDX-License-Identifier: MIT
#include "app/kaldrix_plus_dlg.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <span>

#include "app/hotplug_source.h"
#include "app/records_service.h"
#include "app/station_state.h"
#include "dialogs/about_command.h"
#include "dialogs/about_common.h"
#include "dialogs/baseline_command.h"
#include "dialogs/baseline_dlg.h"  // CBaselineCommand::CurrentDialog() needs the whole type
#include "dialogs/change_log.h"
#include "dialogs/config_commands.h"
#include "dialogs/records_window.h"
#include "sim/sim_bus.h"
#include "station/family_table.h"
#include "station/station_texts.h"
#include "ui/board_job.h"
#include "ui/message_box.h"
#include "ui/window_fit.h"

namespace kx {

QString g_keyBuffer;

namespace {

constexpr const char* kRegistrationFailed = "RegisterDeviceNotification   failed";
constexpr const char* kUnlockedText =
    QT_TRANSLATE_NOOP("CKaldrixPlusDlg", "使能FPC测试菜单已经解锁！");
constexpr const char* kEmptyAboutText =
    QT_TRANSLATE_NOOP("CKaldrixPlusDlg", "关于 KaldrixPlus(&A)...");
constexpr const char* kRecentFileGone =
    QT_TRANSLATE_NOOP("CKaldrixPlusDlg", "配置文件已不存在，已从最近使用的列表中删除：\n%1");

QString FromStd(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CKaldrixPlusDlg::CKaldrixPlusDlg(StationSetup setup, QWidget* parent)
    : QDialog(parent), m_setup(std::move(setup)), m_capture(m_setup.capture) {
    InitResources();
    m_hIcon = QIcon(QStringLiteral(":/icons/kaldrix.png"));
    setWindowTitle(kApplicationName);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    // The grid fills the area below the menu bar, less its margins; the
    // layout keeps it there on every resize.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kGridMarginLeft, kGridMarginTop, kGridMarginRight,
                               kGridMarginBottom);
    layout->setSpacing(0);
    m_menuBar = new QMenuBar(this);
    layout->setMenuBar(m_menuBar);
    m_gridControl = new QFrame(this);
    m_gridControl->setObjectName(QStringLiteral("control1000"));
    m_gridControl->setFrameStyle(QFrame::Box | QFrame::Sunken);
    m_gridControl->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_gridControl->setMinimumSize(0, 0);
    layout->addWidget(m_gridControl);
    // What the operator must know about the running test (a head whose board
    // does not answer), in large red letters under the grid; hidden, and
    // taking no room, while all is well.
    m_boardNotice = new QLabel(this);
    m_boardNotice->setObjectName(QStringLiteral("boardNotice"));
    m_boardNotice->setWordWrap(true);
    m_boardNotice->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: #c00000; font-size: 22pt;"
                       " font-weight: bold; padding: 6px; }"));
    m_boardNotice->hide();
    layout->addWidget(m_boardNotice);
    // The counts of the test records, always shown: the grid gives up the
    // strip's height.
    m_strip = new CStatusStrip(this);
    layout->addWidget(m_strip);

    m_colorBar = new CColorBar(this);
    m_colorBar->hide();  // until it takes the placeholder's place

    // The connection, hot-plug and device-type choice run on the station's
    // board lane, and the worker runs the steps: every callback is handed
    // over to this thread. A queued call to a window that is gone by then is
    // dropped.
    StationCallbacks callbacks;
    callbacks.setTitle = [this](const std::string& title) {
        QMetaObject::invokeMethod(
            this, [this, text = FromStd(title)] { setWindowTitle(text); }, Qt::QueuedConnection);
    };
    callbacks.typeItemsChanged = [this](const TypeItems& items) {
        QMetaObject::invokeMethod(
            this,
            [this, items] {
                m_typeItems = items;
                UpdateDeviceTypes();
            },
            Qt::QueuedConnection);
    };
    callbacks.showMessage = [this](const std::string& text) {
        QMetaObject::invokeMethod(
            this,
            [this, message = FromStd(text)] {
                ShowMessage(this, message, kApplicationName, QMessageBox::Warning);
            },
            Qt::QueuedConnection);
    };
    callbacks.boardNotice = [this](const std::string& text) {
        QMetaObject::invokeMethod(
            this, [this, notice = FromStd(text)] { ShowBoardNotice(notice); },
            Qt::QueuedConnection);
    };
    callbacks.cyclesRestarted = [this](const BoardInfo& board) {
        QMetaObject::invokeMethod(
            this, [this, board] { OnCyclesRestarted(board); }, Qt::QueuedConnection);
    };
    callbacks.reconnectNeeded = [this] {
        QMetaObject::invokeMethod(
            this, [this] { QueueBoardWork([](StationCore& station) { station.Connect(); }); },
            Qt::QueuedConnection);
    };
    m_station = std::make_unique<StationCore>(*m_setup.bus, m_colorBar->model(), m_pages,
                                              std::move(callbacks));
    m_typeItems = m_station->DeviceTypes();
    m_connection = new BoardJob(this, &m_station->Lane());

    m_about = new CAboutCommand(*m_station, m_colorBar->model(), this);
    m_config = new CConfigCommands(*m_station, m_colorBar->model(), this);
    // A click on the grid opens the baseline dialog of the head under the
    // pointer.
    m_baseline = InstallBaselineCommand(*m_colorBar, *m_station, this);

    m_recorder = std::make_unique<TestRecorder>(m_colorBar->model());
    if (m_setup.records != nullptr) {
        m_recorder->SetStationName(m_setup.records->Setup().station);
        m_recorder->SetOperator(m_setup.records->Setup().operatorName);
    }
    m_recorder->StartCycles();
    // After each repaint's judgement the grid may have closed FPC cycles by
    // itself: the timer's tick repaints first (the grid connected to it
    // before), then the closes are taken.
    connect(&m_colorBar->repaintTimer(), &QTimer::timeout, this,
            &CKaldrixPlusDlg::TakeAutomaticCloses);
    // A configuration loaded: the records name it, and a new cycle starts.
    connect(m_config, &CConfigCommands::configLoaded, this,
            [this](const QString& path, const QByteArray& bytes) {
                TakeAutomaticCloses();
                m_recorder->SetConfigFile(
                    path.toStdString(),
                    std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                              static_cast<std::size_t>(bytes.size())));
                m_recorder->StartCycles();
                UpdateStrip();
            });
    if (m_setup.records != nullptr) {
        // Committed batches come from the writer's thread, queued; the count
        // on screen changes only once the records are on the disk.
        connect(m_setup.records, &RecordsService::committed, this,
                [this](const std::shared_ptr<const std::vector<TestRecord>>& batch) {
                    if (batch) {
                        OnRecordsCommitted(*batch);
                    }
                });
        // A batch the writer could not commit stays queued and is tried
        // again; until one is committed the strip says records are not
        // being saved.
        connect(m_setup.records, &RecordsService::writeFailed, this, [this](const QString& why) {
            m_counts.writeError = why;
            UpdateStrip();
        });
        if (m_setup.records->HasServer()) {
            m_counts.waiting = m_setup.records->Waiting();
            connect(m_setup.records, &RecordsService::forwardingChanged, this,
                    [this](qint64 waiting, const QString&) {
                        m_counts.waiting = waiting;
                        UpdateStrip();
                    });
        }
    }
    UpdateStrip();

    BuildMenus();
    qApp->installEventFilter(this);
}

CKaldrixPlusDlg::~CKaldrixPlusDlg() {
    qApp->removeEventFilter(this);
    delete m_recordsWindow;
    // The lane and the worker stop before the grid and the protocol objects
    // go, and the commands that hold the station go before it does.
    m_station->Close();
    delete m_connection;
    delete m_baseline;
    delete m_config;
    delete m_about;
}

void CKaldrixPlusDlg::ShowBoardNotice(const QString& text) {
    m_boardNotice->setText(text);
    m_boardNotice->setVisible(!text.isEmpty());
}

// --- start-up -------------------------------------------------------------------

void CKaldrixPlusDlg::OnInitDialog() {
    RegisterHidNotification();
    BuildChangeLog();
    // The command line's type, else the one chosen last.
    std::optional<int> type = m_setup.deviceType;
    if (!type && m_setup.state != nullptr) {
        type = m_setup.state->DeviceType();
    }
    if (type && *type > 0 && *type < kDeviceTypes) {
        m_station->PresetDeviceType(*type);
    }
    m_typeItems = m_station->DeviceTypes();
    UpdateDeviceTypes();
    setWindowIcon(m_hIcon);
    // The normal place is set before the window is shown and before it is
    // maximised: the window system keeps it as the place to return to, and a
    // window manager takes it as the window's first geometry (a resize after
    // the show is a request it may ignore).
    const QRect available = AvailableArea(this);
    if (m_setup.normalSize.isValid()) {
        setGeometry(CentredIn(m_setup.normalSize, available));
    } else {
        setGeometry(NormalPlace(available));
        setWindowState(windowState() | Qt::WindowMaximized);
    }
    show();
    m_colorBar->AttachToControl(kGridControlId, m_gridControl);
    m_colorBar->SetRepaintTimer(1, true);
    // The grid is drawn at once; the board's settings follow, read on the
    // lane while the window paints and answers.
    m_station->InitialisePages();
    QueueBoardWork([](StationCore& station) { station.Connect(); });
    m_initialised = true;
}

bool CKaldrixPlusDlg::BoardWorkPending() const {
    return m_connection != nullptr && m_connection->Busy();
}

void CKaldrixPlusDlg::QueueBoardWork(std::function<void(StationCore&)> work) {
    StationCore* station = m_station.get();
    m_connection->Queue<bool>(QCoreApplication::translate("CKaldrixPlusDlg", "正在连接测试板…"),
                              [station, work = std::move(work)](const std::atomic<bool>&) {
                                  work(*station);
                                  return true;
                              },
                              {});
}

void CKaldrixPlusDlg::RegisterHidNotification() {
    if (m_setup.simBus != nullptr && !m_setup.noUdev) {
        m_hotplug = new SimHotplug(*m_setup.simBus, this);
    } else {
        auto* udev = m_setup.noUdev ? nullptr : new UdevHotplug(this);
        if (udev != nullptr && udev->ok()) {
            m_hotplug = udev;
        } else {
            // No udev daemon (a container, a minimal system): the operator
            // is told as ever, and the bus is looked at every 2 s instead,
            // so that a board plugged or unplugged later is still noticed.
            // The idle screen says so too.
            delete udev;
            ShowMessage(this, kRegistrationFailed, kApplicationName);
            m_hotplug = new RescanHotplug(*m_setup.bus, kHotplugRescanInterval, this);
            m_station->SetRescanning(true);
        }
    }
    connect(m_hotplug, &HotplugSource::deviceChanged, this, &CKaldrixPlusDlg::OnHotplug);
}

void CKaldrixPlusDlg::OnHotplug(HotplugEvent event, const QString& path) {
    // An event that comes before the station's start (a message box's event
    // loop may deliver one) is covered by the start's own Connect.
    if (!m_initialised) {
        return;
    }
    QueueBoardWork([event, path = path.toStdString()](StationCore& station) {
        station.OnDeviceChange(event, path);
    });
}

// --- closing --------------------------------------------------------------------

void CKaldrixPlusDlg::accept() {
    // Enter's default: nothing.
}

void CKaldrixPlusDlg::keyPressEvent(QKeyEvent* event) {
    // Escape would reject the dialog; the key filter consumes it, and a key
    // sent past the filter does nothing either.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CKaldrixPlusDlg::closeEvent(QCloseEvent* event) {
    // A configuration load is writing the boards page by page: the window
    // stays until it is done.
    if (m_config->IsBusy()) {
        event->ignore();
        return;
    }
    m_station->Close();
    QDialog::closeEvent(event);
}

// --- menus ----------------------------------------------------------------------

QAction* CKaldrixPlusDlg::AddCommand(QMenu* menu, const QString& text, int id) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    m_commands.insert(id, action);
    return action;
}

void CKaldrixPlusDlg::AddToggle(QMenu* menu, const QString& text, int id,
                                void (StationCore::*toggle)()) {
    QAction* action = AddCommand(menu, text, id);
    action->setCheckable(true);
    connect(action, &QAction::triggered, this, [this, action, toggle] {
        (m_station.get()->*toggle)();
        UpdateCommand(action, false);
    });
    UpdateCommand(action, false);
}

void CKaldrixPlusDlg::BuildMenus() {
    QMenu* file = m_menuBar->addMenu(QCoreApplication::translate("CKaldrixPlusDlg", "文件(&F)"));
    m_fileMenu = file;
    QAction* load =
        AddCommand(file, QCoreApplication::translate("CKaldrixPlusDlg", "载入(&L)"), kCmdLoad);
    QAction* save =
        AddCommand(file, QCoreApplication::translate("CKaldrixPlusDlg", "保存(&S)"), kCmdSave);
    // The shortcuts reach the actions before the key filter sees a key
    // press, so their letters never enter the key buffer; while a load runs
    // Ctrl+S is refused as the entry is (the commands' busy check).
    load->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    file->addSeparator();
    QAction* oldLoad = AddCommand(
        file, QCoreApplication::translate("CKaldrixPlusDlg", "老版本配置载入"), kCmdOldLoad);
    file->addSeparator();
    QAction* exit =
        AddCommand(file, QCoreApplication::translate("CKaldrixPlusDlg", "退出(&E)"), kCmdExit);
    m_exitAction = exit;
    connect(load, &QAction::triggered, m_config, &CConfigCommands::OnLoad);
    connect(save, &QAction::triggered, m_config, &CConfigCommands::OnSave);
    connect(oldLoad, &QAction::triggered, m_config, &CConfigCommands::OnLegacyLoad);
    connect(exit, &QAction::triggered, this, &QWidget::close);
    connect(m_config, &CConfigCommands::configFileUsed, this, &CKaldrixPlusDlg::NoteRecentFile);
    UpdateRecentFiles();

    QMenu* operation =
        m_menuBar->addMenu(QCoreApplication::translate("CKaldrixPlusDlg", "操作(&O)"));
    QMenu* types = operation->addMenu(QCoreApplication::translate("CKaldrixPlusDlg", "设备类型"));
    for (int t = 0; t < kDeviceTypes; ++t) {
        // The names the idle screen's notes use too.
        QAction* action = AddCommand(types, FromStd(DeviceTypeName(t)), kDeviceTypeCommands[t]);
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, t] { OnDeviceType(t); });
        if (t == 0) {
            types->addSeparator();
        }
    }
    operation->addSeparator();
    AddToggle(operation, QCoreApplication::translate("CKaldrixPlusDlg", "使能FPC测试"), kCmdFpcTest,
              &StationCore::ToggleFpcTest);
    QAction* clear =
        AddCommand(operation, QCoreApplication::translate("CKaldrixPlusDlg", "清除绿色标记"),
                   kCmdClearGreenMarks);
    connect(clear, &QAction::triggered, this, [this] {
        // The end of a panel as Enter is, with the serial typed so far.
        EndOfPanel();
        g_keyBuffer.clear();
    });
    QMenu* buzzer = operation->addMenu(QCoreApplication::translate("CKaldrixPlusDlg", "蜂鸣器"));
    AddToggle(buzzer, QCoreApplication::translate("CKaldrixPlusDlg", "使能"), kCmdBuzzerOn,
              &StationCore::ToggleBuzzerOn);
    AddToggle(buzzer, QCoreApplication::translate("CKaldrixPlusDlg", "反转"), kCmdBuzzerInvert,
              &StationCore::ToggleBuzzerInvert);
    operation->addSeparator();
    QAction* camera =
        AddCommand(operation, QCoreApplication::translate("CKaldrixPlusDlg", "创建视频窗口"),
                   kCmdCaptureWindow);
    m_capture.UpdateAction(camera);
    connect(camera, &QAction::triggered, this, [this, camera] {
        m_capture.Toggle();
        m_capture.UpdateAction(camera);
    });
    connect(&m_capture, &CaptureWindowToggle::shownChanged, this,
            [this, camera] { m_capture.UpdateAction(camera); });

    QMenu* records = m_menuBar->addMenu(QCoreApplication::translate("CKaldrixPlusDlg", "记录(&R)"));
    QAction* list = AddCommand(records, QCoreApplication::translate("CKaldrixPlusDlg", "测试记录…"),
                               kCmdRecords);
    QAction* exportAll = AddCommand(
        records, QCoreApplication::translate("CKaldrixPlusDlg", "导出…"), kCmdExportRecords);
    records->addSeparator();
    QAction* reset = AddCommand(records, QCoreApplication::translate("CKaldrixPlusDlg", "重置计数"),
                                kCmdResetCounters);
    connect(list, &QAction::triggered, this, [this] { OpenRecordsWindow(); });
    connect(exportAll, &QAction::triggered, this, [this] {
        // The window's export of every record; the window stays open for a
        // closer look.
        CRecordsWindow* window = OpenRecordsWindow();
        QMetaObject::invokeMethod(
            window, [window] { window->ExportAll(); }, Qt::QueuedConnection);
    });
    connect(reset, &QAction::triggered, this, &CKaldrixPlusDlg::ResetCounters);

    BuildDemoMenu();

    QMenu* help = m_menuBar->addMenu(QCoreApplication::translate("CKaldrixPlusDlg", "帮助(&A)"));
    QAction* about =
        AddCommand(help, QCoreApplication::translate("CKaldrixPlusDlg", "关于(&A)"), kCmdAbout);
    // F1 is no operator key (no text): the key buffer never sees it.
    about->setShortcut(QKeySequence(Qt::Key_F1));
    connect(about, &QAction::triggered, m_about, &CAboutCommand::OnAbout);
    // The second about entry: the about box without board data.
    help->addSeparator();
    m_emptyAboutAction =
        help->addAction(QCoreApplication::translate("CKaldrixPlusDlg", kEmptyAboutText));
    connect(m_emptyAboutAction, &QAction::triggered, m_about, &CAboutCommand::ShowEmptyAbout);

    for (QMenu* menu : {file, operation, types, buzzer, records, help}) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { OnInitMenuPopup(menu); });
    }
}

void CKaldrixPlusDlg::BuildDemoMenu() {
    if (m_setup.simBus == nullptr || m_setup.demoBoards.empty()) {
        return;
    }
    m_demoMenu = m_menuBar->addMenu(QCoreApplication::translate("CKaldrixPlusDlg", "模拟"));
    for (const DemoBoardEntry& entry : m_setup.demoBoards) {
        QAction* action = m_demoMenu->addAction(entry.label);
        action->setCheckable(true);
        action->setChecked(entry.board->plugged());
        m_demoActions.emplace_back(action, entry.board);
        const std::shared_ptr<sim::SimBoard> board = entry.board;
        connect(action, &QAction::triggered, this,
                [this, action, board] { SetDemoBoardPlugged(action, board, !board->plugged()); });
    }
    connect(m_demoMenu, &QMenu::aboutToShow, this, [this] {
        for (const auto& [action, board] : m_demoActions) {
            action->setChecked(board->plugged());
        }
    });
}

void CKaldrixPlusDlg::SetDemoBoardPlugged(QAction* action,
                                          const std::shared_ptr<sim::SimBoard>& board,
                                          bool plugged) {
    // The bus tells the station of each removal and arrival through its
    // hot-plug events, as a hand at the USB port would.
    if (plugged && !board->plugged()) {
        m_setup.simBus->plug(board);
    } else if (!plugged && board->plugged()) {
        m_setup.simBus->unplug(board);
    }
    action->setChecked(board->plugged());
}

void CKaldrixPlusDlg::StartPlugCycle(int periodMs) {
    if (m_setup.simBus == nullptr || m_demoActions.empty() || periodMs < 2) {
        return;
    }
    auto* cycle = new QTimer(this);
    const int downMs = std::min(periodMs / 2, 1000);
    connect(cycle, &QTimer::timeout, this, [this, downMs] {
        for (const auto& [action, board] : m_demoActions) {
            SetDemoBoardPlugged(action, board, false);
        }
        QTimer::singleShot(downMs, this, [this] {
            for (const auto& [action, board] : m_demoActions) {
                SetDemoBoardPlugged(action, board, true);
            }
            ++m_plugCycles;
        });
    });
    cycle->start(periodMs);
}

void CKaldrixPlusDlg::UnplugDemoBoardsAfter(int delayMs) {
    if (m_demoActions.empty()) {
        return;
    }
    QTimer::singleShot(delayMs, this, [this] {
        for (const auto& [action, board] : m_demoActions) {
            SetDemoBoardPlugged(action, board, false);
        }
    });
}

QAction* CKaldrixPlusDlg::CommandAction(int commandId) const {
    return m_commands.value(commandId, nullptr);
}

QAction* CKaldrixPlusDlg::DemoBoardAction(const sim::SimBoard* board) const {
    for (const auto& [action, b] : m_demoActions) {
        if (b.get() == board) {
            return action;
        }
    }
    return nullptr;
}

void CKaldrixPlusDlg::OnInitMenuPopup(QMenu* popup) {
    for (QAction* action : popup->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        if (QMenu* submenu = action->menu()) {
            // A submenu's entry stands for its first item; only that item's
            // availability applies to it.
            const QList<QAction*> items = submenu->actions();
            if (items.isEmpty() || items.first()->isSeparator() || items.first()->menu()) {
                continue;
            }
            const int id = items.first()->data().toInt();
            QAction probe;
            probe.setData(id);
            probe.setEnabled(action->isEnabled());
            UpdateCommand(&probe, true);
            action->setEnabled(probe.isEnabled());
            continue;
        }
        UpdateCommand(action, false);
    }
}

void CKaldrixPlusDlg::UpdateCommand(QAction* action, bool submenu) {
    const auto setCheck = [&](bool on) {
        if (!submenu) {
            action->setCheckable(true);
            action->setChecked(on);
        }
    };
    const int id = action->data().toInt();
    const TypeItems& items = m_typeItems;
    for (int t = 0; t < kDeviceTypes; ++t) {
        if (id != kDeviceTypeCommands[t]) {
            continue;
        }
        setCheck(items[static_cast<std::size_t>(t)].checked != 0);
        // The standard entry is always available.
        if (t != 0) {
            action->setEnabled(items[static_cast<std::size_t>(t)].available != 0);
        }
        return;
    }
    switch (id) {
        case kCmdFpcTest:
            setCheck(m_colorBar->model().GetFpcTest() != 0);
            action->setEnabled(m_station->FpcMenuUnlocked());
            break;
        case kCmdBuzzerOn:
            setCheck(m_station->BuzzerOn());
            break;
        case kCmdBuzzerInvert:
            setCheck(m_station->BuzzerInverted());
            break;
        case kCmdCaptureWindow:
            if (submenu) {
                action->setEnabled(true);
            } else {
                m_capture.UpdateAction(action);
            }
            break;
        default:
            break;  // no update handler
    }
}

void CKaldrixPlusDlg::UpdateDeviceTypes() {
    for (int type : kDeviceTypeCommands) {
        if (QAction* action = CommandAction(type)) {
            UpdateCommand(action, false);
        }
    }
}

// --- commands -------------------------------------------------------------------

void CKaldrixPlusDlg::OnDeviceType(int type) {
    if (m_setup.state != nullptr) {
        m_setup.state->SetDeviceType(type);
    }
    QueueBoardWork([type](StationCore& station) { station.SelectDeviceType(type); });
    // The entry's own toggle is undone: the check marks are the station's,
    // and come back with the choice.
    UpdateDeviceTypes();
}

// --- recent files -----------------------------------------------------------------

void CKaldrixPlusDlg::UpdateRecentFiles() {
    // The old entries leave the menu at once and are deleted later: one of
    // them may be the entry whose command runs now.
    if (m_recentSeparator != nullptr) {
        m_recentActions.append(m_recentSeparator);
        m_recentSeparator = nullptr;
    }
    for (QAction* action : m_recentActions) {
        m_fileMenu->removeAction(action);
        action->deleteLater();
    }
    m_recentActions.clear();
    const QStringList files =
        m_setup.state != nullptr ? m_setup.state->RecentFiles() : QStringList();
    if (files.isEmpty()) {
        return;
    }
    // Between the legacy load and "退出(&E)": the entries, then a separator.
    for (qsizetype n = 0; n < files.size(); ++n) {
        QString shown = files[n];
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(n + 1).arg(shown), m_fileMenu);
        action->setData(files[n]);
        m_fileMenu->insertAction(m_exitAction, action);
        connect(action, &QAction::triggered, this,
                [this, path = files[n]] { OpenRecentFile(path); });
        m_recentActions.append(action);
    }
    m_recentSeparator = new QAction(m_fileMenu);
    m_recentSeparator->setSeparator(true);
    m_fileMenu->insertAction(m_exitAction, m_recentSeparator);
}

void CKaldrixPlusDlg::OpenRecentFile(const QString& path) {
    if (m_config->IsBusy()) {
        return;  // as "载入(&L)" while a command runs
    }
    // A file that is there but cannot be loaded is the load's to report.
    if (!QFileInfo::exists(path)) {
        if (m_setup.state != nullptr) {
            m_setup.state->RemoveRecentFile(path);
        }
        UpdateRecentFiles();
        ShowMessage(this, QCoreApplication::translate("CKaldrixPlusDlg", kRecentFileGone).arg(path),
                    QString(), QMessageBox::Warning);
        return;
    }
    m_config->LoadFile(path);
}

void CKaldrixPlusDlg::NoteRecentFile(const QString& path) {
    if (m_setup.state != nullptr) {
        m_setup.state->AddRecentFile(path);
        UpdateRecentFiles();
    }
}

// --- records ----------------------------------------------------------------------

CRecordsWindow* CKaldrixPlusDlg::recordsWindow() const {
    return m_recordsWindow.data();
}

CRecordsWindow* CKaldrixPlusDlg::OpenRecordsWindow() {
    if (!m_recordsWindow) {
        // A window of its own beside the grid, deleted when it closes; the
        // main window's keys stay the main window's.
        m_recordsWindow = new CRecordsWindow(m_setup.recordsDb, this);
        m_recordsWindow->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        m_recordsWindow->Refresh();
    }
    m_recordsWindow->show();
    m_recordsWindow->raise();
    m_recordsWindow->activateWindow();
    return m_recordsWindow;
}

void CKaldrixPlusDlg::OnRecordsCommitted(const std::vector<TestRecord>& batch) {
    m_recordCounters.OnCommitted(batch, true);
    m_counts.writeError.clear();
    UpdateStrip();
}

void CKaldrixPlusDlg::ResetCounters() {
    m_recordCounters.Reset();
    UpdateStrip();
}

void CKaldrixPlusDlg::UpdateStrip() {
    const RecordCounters::Figures figures = m_recordCounters.Get();
    m_counts.tested = figures.tested;
    m_counts.passed = figures.passed;
    m_counts.failed = figures.failed;
    m_counts.lastSerial = FromStd(figures.lastSerial);
    const std::string& config = m_recorder->Config();
    m_counts.config = config == kBoardSettings ? QString() : QFileInfo(FromStd(config)).fileName();
    // The records keep the family's Chinese name; the strip shows it in the
    // station's language.
    const std::string& family = m_recorder->Board().family;
    m_counts.board = family.empty() ? QString() : FromStd(ShownFamilyName(family));
    m_strip->SetState(m_counts);
}

void CKaldrixPlusDlg::OnCyclesRestarted(const BoardInfo& board) {
    // The grid forgot its data and cycles: what the old board's heads had
    // closed by themselves still goes to the records; then the new board,
    // with its own settings (no file loaded since the connection).
    TakeAutomaticCloses();
    m_recorder->SetBoard(board);
    m_recorder->SetBoardSettings();
    m_recorder->StartCycles();
    UpdateStrip();
}

void CKaldrixPlusDlg::EndOfPanel() {
    const std::string serial =
        SerialFromKeyBuffer(g_keyBuffer.toStdString(), std::string_view(kUnlockWord));
    // The recorder clears the green marks in the same locked section as it
    // copies the heads.
    Submit(m_recorder->EndOfPanel(serial));
}

void CKaldrixPlusDlg::TakeAutomaticCloses() {
    Submit(m_recorder->TakeAutomaticCloses());
}

void CKaldrixPlusDlg::Submit(std::vector<TestRecord> records) {
    if (!records.empty() && m_setup.records != nullptr) {
        m_setup.records->Submit(std::move(records));
    }
}

// --- keys -----------------------------------------------------------------------

bool CKaldrixPlusDlg::IsOwnWidget(QObject* object) const {
    auto* widget = qobject_cast<QWidget*>(object);
    return widget != nullptr && (widget == this || isAncestorOf(widget));
}

bool CKaldrixPlusDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && PreTranslateMessage(watched, event)) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool CKaldrixPlusDlg::PreTranslateMessage(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !IsOwnWidget(watched)) {
        return false;
    }
    // A key the receiver ignores travels on to its parents, and the
    // application's filter sees it again each time: only its first receiver,
    // the focus widget (the window itself when none has the focus), counts.
    QWidget* first = focusWidget() != nullptr ? focusWidget() : this;
    if (watched != first) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    // A menu closed with Escape (or a lone Alt) leaves the menu bar holding
    // the focus, armed for keyboard navigation: there Enter and Space would
    // open a menu and letters would choose menus by their mnemonics. The
    // operator's keys take the focus back from it and stay the station's;
    // the arrow keys and Alt with a letter still work the menus.
    const bool fromArmedMenuBar =
        watched == m_menuBar && QApplication::activePopupWidget() == nullptr && IsOperatorKey(*key);
    if (fromArmedMenuBar) {
        m_menuBar->clearFocus();
    }
    return FilterKey(*key) || fromArmedMenuBar;
}

bool CKaldrixPlusDlg::IsOperatorKey(const QKeyEvent& key) {
    switch (key.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
        case Qt::Key_Escape:
            return true;
        default:
            break;
    }
    if ((key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0) {
        return false;
    }
    if (key.key() == Qt::Key_Backspace) {
        return true;
    }
    const QString text = key.text();
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

bool CKaldrixPlusDlg::FilterKey(const QKeyEvent& key) {
    g_keyBuffer.remove(QLatin1Char('\n'));
    g_keyBuffer.remove(QLatin1Char('\r'));

    switch (key.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space: {
            // The records of the panel first, with the serial as typed;
            // then the buffer's check against the unlock word.
            EndOfPanel();
            g_keyBuffer = g_keyBuffer.toLower();
            const bool unlocked = g_keyBuffer == QLatin1String(kUnlockWord);
            // Emptied before the box's event loop runs; the terminating key's
            // own character is not kept, so a Space before the word does not
            // spoil the next try.
            g_keyBuffer.clear();
            if (unlocked) {
                m_station->SetFpcMenuUnlocked(true);
                ShowMessage(this, QCoreApplication::translate("CKaldrixPlusDlg", kUnlockedText),
                            QString());
            }
            return false;  // on to the window: Enter reaches accept(), which does nothing
        }
        case Qt::Key_Escape:
            return true;  // consumed: the window stays open
        default:
            break;
    }

    // The key's character. A full buffer takes nothing more, Backspace
    // included, until Enter or Space empties it.
    if (g_keyBuffer.size() >= kKeyBufferLimit) {
        return false;
    }
    if (key.key() == Qt::Key_Backspace) {
        g_keyBuffer.chop(1);
        return false;
    }
    for (const QChar c : key.text()) {
        if (g_keyBuffer.size() < kKeyBufferLimit && c.isPrint()) {
            g_keyBuffer.append(c);
        }
    }
    return false;
}

}  // namespace kx

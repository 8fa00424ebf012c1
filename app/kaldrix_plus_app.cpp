// SPDX-License-Identifier: MIT
#include "app/kaldrix_plus_app.h"

#include <sys/resource.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/app_options.h"
#include "app/kaldrix_plus_dlg.h"
#include "app/quit_signals.h"
#include "app/records_service.h"
#include "app/station_state.h"
#include "hid/hidapi_bus.h"
#include "records/record_store.h"
#include "sim/demo_bench.h"
#include "sim/sim_bus.h"
#include "station/family_table.h"
#include "ui/message_box.h"

namespace kx {

namespace {

constexpr const char* kRecordsOptionsFailed =
    QT_TRANSLATE_NOOP("CKaldrixPlusApp", "测试记录的设置有误，程序无法启动：\n%1");
constexpr const char* kRecordsDbFailed = QT_TRANSLATE_NOOP(
    "CKaldrixPlusApp",
    "无法打开测试记录数据库：\n%1\n\n原因：%2\n\n测试可以继续，但不会保存测试记录。");

constexpr const char* kHidInitFailed =
    QT_TRANSLATE_NOOP("CKaldrixPlusApp",
                      "无法初始化 USB HID 访问（hidapi），测试板将无法连接。请检查系统的 hidraw "
                      "支持后重新启动程序。");

QString Tr(const char* text) {
    return QCoreApplication::translate("CKaldrixPlusApp", text);
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QString DemoBoardLabel(const sim::DemoBoardChoice& choice) {
    const QString name = QString::fromUtf8(FamilyName(choice.family));
    switch (choice.family) {
        case FamilyId::OneToOne:
            return name + QStringLiteral(" %1").arg(QString::fromStdString(choice.manufacturer));
        case FamilyId::Master:
            return QCoreApplication::translate("CKaldrixPlusApp", "%1 %2 列 × %3 行")
                .arg(name)
                .arg(choice.columns)
                .arg(choice.rows);
        default:
            return name;
    }
}

// Unattended runs: nobody answers a box, so it is printed and answered OK.
MessageHandler PrintingHandler() {
    return [](const MessageRequest& request) {
        std::fprintf(stderr, "kaldrixplus: message box \"%s\": %s\n",
                     request.caption.toLocal8Bit().constData(),
                     request.text.toLocal8Bit().constData());
        return QMessageBox::Ok;
    };
}

}  // namespace

QString RuntimeDirectory() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? QDir::tempPath() : dir;
}

SingleInstance::SingleInstance(const QString& directory)
    : path_(QDir(directory).filePath(QString::fromLatin1(kInstanceName) + ".lock")), lock_(path_) {
    // A running station's lock never goes stale with age, only with its
    // process.
    lock_.setStaleLockTime(0);
    // Only a lock held by someone else means another station; a directory
    // that cannot hold the file tells nothing either way.
    first_ = lock_.tryLock(0) || lock_.error() != QLockFile::LockFailedError;
}

bool SingleInstance::WarnIfNotFirst() const {
    if (first_) {
        return false;
    }
    ShowMessage(nullptr, Tr(kSecondInstanceText), QString(), QMessageBox::Information);
    return true;
}

int CKaldrixPlusApp::InitInstance(QApplication& app, const QStringList& arguments) {
    QCoreApplication::setApplicationName(kApplicationName);
    QCoreApplication::setApplicationVersion(QStringLiteral(KALDRIX_VERSION));
    // The caption of the camera engine's message boxes.
    QGuiApplication::setApplicationDisplayName(kApplicationName);
    // The menu entry (packaging/kaldrixplus.desktop) the window belongs to.
    QGuiApplication::setDesktopFileName(QStringLiteral("kaldrixplus"));

    QString error;
    std::optional<AppOptions> options = ParseAppOptions(arguments, error);
    if (!options) {
        std::fprintf(stderr, "kaldrixplus: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    const Language language = ChooseLanguage(options->language, qgetenv("KALDRIX_LANG"));
    if (!InstallLanguage(language)) {
        std::fprintf(stderr, "kaldrixplus: the %s translation could not be loaded\n",
                     language == Language::English ? "English" : "Chinese (Qt's own)");
    }
    // The records' settings: the command line, then the settings file. A
    // wrong one stops the start with a message, on the terminal and on the
    // screen, rather than a station that silently keeps or sends nothing.
    if (!options->help && !options->version &&
        (!MergeSettingsFile(*options, DefaultSettingsPath(), error) ||
         !CheckRecordsOptions(*options, error))) {
        std::fprintf(stderr, "kaldrixplus: %s\n", error.toLocal8Bit().constData());
        std::unique_ptr<ScopedMessageHandler> printing;
        if (options->unattended()) {
            printing = std::make_unique<ScopedMessageHandler>(PrintingHandler());
        }
        ShowMessage(nullptr, Tr(kRecordsOptionsFailed).arg(error),
                    QString::fromLatin1(kApplicationName), QMessageBox::Critical);
        return 2;
    }
    if (options->help) {
        std::fputs(AppUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("kaldrixplus %s\n", KALDRIX_VERSION);
        return 0;
    }
    return Run(app, *options);
}

int CKaldrixPlusApp::Run(QApplication& app, const AppOptions& options) {
    std::unique_ptr<ScopedMessageHandler> printing;
    if (options.unattended()) {
        printing = std::make_unique<ScopedMessageHandler>(PrintingHandler());
    }

    SingleInstance instance;
    instance.WarnIfNotFirst();

    // The records: written by their own thread, sent by another when a
    // server is set. The service outlives the window (it takes the last
    // panels' records when the window closes) and drains at the end.
    RecordsSetup records;
    records.dbPath = RecordsDbPath(options);
    records.server = options.recordsServer.toStdString();
    records.station =
        (options.station.isEmpty() ? QSysInfo::machineHostName() : options.station).toStdString();
    records.operatorName = options.operatorName.toStdString();
    std::string recordsError;
    std::unique_ptr<RecordsService> recordsService = RecordsService::Start(records, &recordsError);
    if (!recordsService) {
        ShowMessage(
            nullptr,
            Tr(kRecordsDbFailed)
                .arg(QString::fromStdString(records.dbPath), QString::fromStdString(recordsError)),
            QString::fromLatin1(kApplicationName), QMessageBox::Warning);
    }

    // The buses outlive the window, which holds the station and its worker.
    std::unique_ptr<sim::SimBus> simBus;
    std::unique_ptr<HidapiBus> realBus;
    StationSetup setup;
    // The recent files and the device type chosen last; --machine wins
    // over the remembered type.
    StationState state;
    setup.state = &state;
    setup.deviceType = options.machine;
    setup.noUdev = options.noUdev;
    setup.recordsDb = records.dbPath;
    setup.records = recordsService.get();
    if (options.size) {
        setup.normalSize = *options.size;
    }
    if (options.simulated()) {
        simBus = std::make_unique<sim::SimBus>();
        // Flat-out polling of software boards at the pace of a full-speed
        // USB endpoint, as a real board sets it.
        simBus->set_report_time(sim::SimBoard::kFullSpeedReportTime);
        const sim::DemoSignal signal =
            options.still ? sim::DemoSignal::Still : sim::DemoSignal::Live;
        int n = 0;
        for (const sim::DemoBoardChoice& choice : options.boards) {
            std::shared_ptr<sim::SimBoard> board = sim::MakeDemoBoard(choice, signal);
            board->set_open_failure(options.refuse);
            simBus->plug(board);
            setup.demoBoards.push_back(
                {board, QStringLiteral("%1. %2").arg(++n).arg(DemoBoardLabel(choice))});
        }
        setup.bus = simBus.get();
        setup.simBus = simBus.get();
    } else {
        realBus = std::make_unique<HidapiBus>();
        setup.bus = realBus.get();
    }

    CKaldrixPlusDlg dlg(std::move(setup));
    QObject::connect(&dlg, &QDialog::finished, &app, &QCoreApplication::quit);
    // The session ending or a Ctrl+C closes the station as its menu does.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &dlg, &QWidget::close);
    if (realBus && !realBus->ok()) {
        ShowMessage(&dlg, Tr(kHidInitFailed), kApplicationName, QMessageBox::Warning);
    }
    dlg.OnInitDialog();

    if (options.plugCycleS > 0) {
        dlg.StartPlugCycle(options.plugCycleS * 1000);
    }
    if (options.unplugAfterMs >= 0) {
        dlg.UnplugDemoBoardsAfter(options.unplugAfterMs);
    }

    double cpuAtMark = 0;
    QElapsedTimer sinceMark;
    if (options.cpuReport) {
        QTimer::singleShot(options.warmupMs, &dlg, [&] {
            cpuAtMark = ProcessCpuSeconds();
            sinceMark.start();
        });
    }
    bool screenshotFailed = false;
    if (options.quitAfterMs >= 0) {
        QTimer::singleShot(options.quitAfterMs, &dlg, [&] {
            if (!options.screenshot.isEmpty()) {
                const QPixmap picture = dlg.grab();
                if (!picture.save(options.screenshot, "PNG")) {
                    std::fprintf(stderr, "kaldrixplus: cannot write %s\n",
                                 options.screenshot.toLocal8Bit().constData());
                    screenshotFailed = true;
                }
            }
            dlg.close();
        });
    }

    app.exec();

    if (options.plugCycleS > 0) {
        std::printf("kaldrixplus: %d plug cycles of %d s\n", dlg.plugCycles(), options.plugCycleS);
    }

    if (options.cpuReport) {
        if (!sinceMark.isValid()) {
            std::fprintf(stderr, "kaldrixplus: cpu: the station quit before the warm-up ended\n");
        } else {
            const double wall = static_cast<double>(sinceMark.nsecsElapsed()) / 1e9;
            const double cpu = ProcessCpuSeconds() - cpuAtMark;
            std::printf("kaldrixplus: cpu %.2f %% of one core over %.1f s after a %.1f s warm-up\n",
                        wall > 0 ? 100.0 * cpu / wall : 0.0, wall, options.warmupMs / 1000.0);
        }
    }
    return screenshotFailed ? 1 : 0;
}

}  // namespace kx

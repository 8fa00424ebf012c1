// SPDX-License-Identifier: MIT
#include "app/app_options.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <filesystem>

#include "records/record_forwarder.h"
#include "records/record_store.h"

namespace kx {

namespace {

std::optional<int> ParseCount(const QString& text, int min, int max) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

QString AppUsage() {
    return QStringLiteral(
        "usage: kaldrixplus [options]\n"
        "\n"
        "Without options the station runs on the real USB bus.\n"
        "\n"
        "  --simulate BOARD    put a software board on a simulated bus instead of using\n"
        "                      the real one (repeatable):\n"
        "                        one-to-one[:MANUFACTURER]  e.g. one-to-one:TARSEL_DEV2\n"
        "                                                   (default ravuno-demo)\n"
        "                        velmora5\n"
        "                        master[:COLUMNSxROWS]      e.g. master:3x2 (default 2x2)\n"
        "                        classic\n"
        "                        none                       (no board: the idle screen)\n"
        "  --still             software boards without noise or touches\n"
        "  --machine N         device type checked at start: 0 standard, 1-5 machine N\n"
        "                      (default: the type chosen last in the menu)\n"
        "  --size WxH          window of this size instead of maximised\n"
        "  --screenshot FILE   write the window to FILE (PNG) when the station quits\n"
        "  --quit-after MS     quit after MS milliseconds (message boxes are then\n"
        "                      printed on standard error and answered OK)\n"
        "  --cpu-report        print the CPU time used after the warm-up, as a\n"
        "                      fraction of one core, when the station quits\n"
        "  --warmup MS         warm-up of --cpu-report (default 2000)\n"
        "  --plug-cycle S      unplug every software board every S seconds and plug\n"
        "                      them back up to a second later (soak runs; needs\n"
        "                      --simulate)\n"
        "  --real              the real USB bus (the default)\n"
        "  --lang zh|en        the language of the windows (default Chinese; the\n"
        "                      environment's KALDRIX_LANG=en also gives English)\n"
        "\n"
        "Test records:\n"
        "  --records-db PATH      the records database (default\n"
        "                         $XDG_DATA_HOME/kaldrixplus/records.db)\n"
        "  --records-server URI   also send every record to the line's PostgreSQL\n"
        "                         server, e.g. postgresql://station@db.line/records\n"
        "  --station NAME         the station's name in the records (default: host name)\n"
        "  --operator NAME        the operator's name in the records\n"
        "The same as keys db, server, station and operator in the [records] section\n"
        "of $XDG_CONFIG_HOME/kaldrixplus/kaldrixplus.conf; the command line wins.\n"
        "\n"
        "  --version, --help\n");
}

std::optional<AppOptions> ParseAppOptions(const QStringList& arguments, QString& error) {
    AppOptions options;
    bool real = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        const auto value = [&](QString& out) {
            if (i + 1 >= arguments.size()) {
                error = a + QStringLiteral(" needs a value");
                return false;
            }
            out = arguments[++i];
            return true;
        };
        QString v;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            options.help = true;
        } else if (a == QLatin1String("--version")) {
            options.version = true;
        } else if (a == QLatin1String("--real")) {
            real = true;
        } else if (a == QLatin1String("--still")) {
            options.still = true;
        } else if (a == QLatin1String("--cpu-report")) {
            options.cpuReport = true;
        } else if (a == QLatin1String("--simulate")) {
            if (!value(v)) {
                return std::nullopt;
            }
            if (v == QLatin1String("none")) {
                options.emptySimulatedBus = true;
                continue;
            }
            std::string why;
            const std::optional<sim::DemoBoardChoice> choice =
                sim::ParseDemoBoard(v.toStdString(), why);
            if (!choice) {
                error = QStringLiteral("--simulate %1: %2").arg(v, QString::fromStdString(why));
                return std::nullopt;
            }
            options.boards.push_back(*choice);
        } else if (a == QLatin1String("--machine")) {
            if (!value(v)) {
                return std::nullopt;
            }
            const std::optional<int> n = ParseCount(v, 0, 5);
            if (!n) {
                error = QStringLiteral("--machine takes 0 (standard) to 5");
                return std::nullopt;
            }
            options.machine = *n;
        } else if (a == QLatin1String("--lang")) {
            if (!value(v)) {
                return std::nullopt;
            }
            options.language = ParseLanguage(v);
            if (!options.language) {
                error = QStringLiteral("--lang takes zh or en");
                return std::nullopt;
            }
        } else if (a == QLatin1String("--size")) {
            if (!value(v)) {
                return std::nullopt;
            }
            static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
            const QRegularExpressionMatch m = pattern.match(v);
            const std::optional<int> w =
                m.hasMatch() ? ParseCount(m.captured(1), 100, 10000) : std::nullopt;
            const std::optional<int> h =
                m.hasMatch() ? ParseCount(m.captured(2), 100, 10000) : std::nullopt;
            if (!w || !h) {
                error = QStringLiteral("--size takes WIDTHxHEIGHT, 100 to 10000 each");
                return std::nullopt;
            }
            options.size = QSize(*w, *h);
        } else if (a == QLatin1String("--screenshot")) {
            if (!value(options.screenshot)) {
                return std::nullopt;
            }
            if (options.screenshot.isEmpty()) {
                error = QStringLiteral("--screenshot needs a file name");
                return std::nullopt;
            }
        } else if (a == QLatin1String("--quit-after") || a == QLatin1String("--warmup")) {
            if (!value(v)) {
                return std::nullopt;
            }
            const std::optional<int> ms = ParseCount(v, 0, 24 * 3600 * 1000);
            if (!ms) {
                error = a + QStringLiteral(" takes milliseconds (0 to 86400000)");
                return std::nullopt;
            }
            (a == QLatin1String("--warmup") ? options.warmupMs : options.quitAfterMs) = *ms;
        } else if (a == QLatin1String("--records-db") || a == QLatin1String("--records-server") ||
                   a == QLatin1String("--station") || a == QLatin1String("--operator")) {
            if (!value(v)) {
                return std::nullopt;
            }
            if (v.trimmed().isEmpty()) {
                error = a + QStringLiteral(" needs a value");
                return std::nullopt;
            }
            QString& field = a == QLatin1String("--records-db")       ? options.recordsDb
                             : a == QLatin1String("--records-server") ? options.recordsServer
                             : a == QLatin1String("--station")        ? options.station
                                                                      : options.operatorName;
            field = v.trimmed();
        } else if (a == QLatin1String("--plug-cycle")) {
            if (!value(v)) {
                return std::nullopt;
            }
            const std::optional<int> seconds = ParseCount(v, 1, 24 * 3600);
            if (!seconds) {
                error = QStringLiteral("--plug-cycle takes seconds (1 to 86400)");
                return std::nullopt;
            }
            options.plugCycleS = *seconds;
        } else {
            error = QStringLiteral("unknown option %1 (--help lists them)").arg(a);
            return std::nullopt;
        }
    }
    if (real && options.simulated()) {
        error = QStringLiteral("--real and --simulate exclude each other");
        return std::nullopt;
    }
    if (options.still && !options.simulated()) {
        error = QStringLiteral("--still is for software boards (--simulate)");
        return std::nullopt;
    }
    if (options.plugCycleS > 0 && options.boards.empty()) {
        error = QStringLiteral("--plug-cycle needs software boards (--simulate BOARD)");
        return std::nullopt;
    }
    if (!options.screenshot.isEmpty() && options.quitAfterMs < 0) {
        options.quitAfterMs = kDefaultScreenshotDelayMs;
    }
    return options;
}

QString DefaultSettingsPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/kaldrixplus/kaldrixplus.conf");
}

bool MergeSettingsFile(AppOptions& options, const QString& path, QString& error) {
    // A settings file is a few lines; anything much larger is not one.
    constexpr qint64 kMaxSettingsBytes = 64 * 1024;
    QFile file(path);
    if (!file.exists()) {
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        error = QCoreApplication::translate("AppOptions", "无法读取设置文件 %1：%2")
                    .arg(path, file.errorString());
        return false;
    }
    const QByteArray bytes = file.read(kMaxSettingsBytes + 1);
    if (bytes.size() > kMaxSettingsBytes) {
        error = QCoreApplication::translate("AppOptions", "设置文件 %1 大于 64 KiB，不是设置文件")
                    .arg(path);
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (utf8.hasError() || text.contains(QChar(0))) {
        error = QCoreApplication::translate("AppOptions", "设置文件 %1 不是 UTF-8 文本").arg(path);
        return false;
    }
    if (text.startsWith(QChar(0xFEFF))) {
        text.remove(0, 1);
    }
    struct Key {
        const char* name;
        QString AppOptions::*field;
    };
    static const Key kKeys[] = {{"db", &AppOptions::recordsDb},
                                {"server", &AppOptions::recordsServer},
                                {"station", &AppOptions::station},
                                {"operator", &AppOptions::operatorName}};
    QString section;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) ||
            line.startsWith(QLatin1Char(';'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        if (section != QLatin1String("records")) {
            continue;  // other sections belong to others
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            error = QCoreApplication::translate("AppOptions", "设置文件 %1 第 %2 行：应为“键 = 值”")
                        .arg(path)
                        .arg(n + 1);
            return false;
        }
        const QString key = line.left(equals).trimmed().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        const Key* known = nullptr;
        for (const Key& k : kKeys) {
            if (key == QLatin1String(k.name)) {
                known = &k;
            }
        }
        if (known == nullptr) {
            error = QCoreApplication::translate(
                        "AppOptions",
                        "设置文件 %1 第 %2 行：[records] 中没有键 %3（可用：db、server、station、"
                        "operator）")
                        .arg(path)
                        .arg(n + 1)
                        .arg(key);
            return false;
        }
        // The file's database and server are the line's: a demonstration
        // on software boards neither writes its panels among the line's
        // records nor sends them to its server (the command line still
        // may).
        const bool linesOwn =
            known->field == &AppOptions::recordsDb || known->field == &AppOptions::recordsServer;
        QString& field = options.*(known->field);
        if (field.isEmpty() && !(linesOwn && options.simulated())) {
            field = value;  // the command line wins
        }
    }
    return true;
}

std::string RecordsDbPath(const AppOptions& options) {
    if (!options.recordsDb.isEmpty()) {
        return options.recordsDb.toStdString();
    }
    std::filesystem::path path = DefaultRecordsPath();
    if (options.simulated()) {
        path.replace_filename("records-simulated.db");
    }
    return path.string();
}

bool CheckRecordsOptions(const AppOptions& options, QString& error) {
    if (options.recordsServer.isEmpty()) {
        return true;
    }
    std::string reason;
    if (!RecordForwarder::ValidServer(options.recordsServer.toStdString(), &reason)) {
        error = QCoreApplication::translate("AppOptions",
                                            "记录服务器地址 %1 无效（%2）；应为 "
                                            "postgresql://用户@主机[:端口]/数据库")
                    .arg(options.recordsServer, QString::fromStdString(reason));
        return false;
    }
    return true;
}

}  // namespace kx

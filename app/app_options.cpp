// SPDX-License-Identifier: MIT
#include "app/app_options.h"

#include <QRegularExpression>

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

}  // namespace kx

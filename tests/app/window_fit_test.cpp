// SPDX-License-Identifier: MIT
// Every window of the station on the smallest screen it runs on: the program
// starts the offscreen platform with one 1024 x 600 screen, so the windows
// meet the area they meet on a line's small panel PC.
#include "ui/window_fit.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/kaldrix_plus_dlg.h"
#include "capture/dialog_cap_view.h"
#include "dialogs/about_dlg.h"
#include "dialogs/about_dlg_velmora5.h"
#include "dialogs/about_dlg_velmora5_hid.h"
#include "dialogs/baseline_dlg.h"
#include "dialogs/records_window.h"
#include "dialogs/reset_row_col_dlg.h"
#include "sim/sim_bus.h"
#include "station/baseline_result.h"
#include "tests/support/default_pages.h"
#include "tests/support/message_recorder.h"
#include "tests/support/temp_dir.h"
#include "ui/language.h"

namespace kx {
namespace {

constexpr QRect kSmallScreen(0, 0, 1024, 600);

CaptureSystem NoCameras() {
    return CaptureSystem{[] { return false; }, [] { return QList<CaptureInput>{}; }};
}

// The part of `widget` the operator sees inside `window`: clipped by every
// scroll area's viewport on the way up.
QRect VisiblePart(const QWidget* widget, const QWidget* window) {
    QRect part(widget->mapTo(window, QPoint(0, 0)), widget->size());
    for (const QWidget* w = widget->parentWidget(); w != nullptr && w != window;
         w = w->parentWidget()) {
        part &= QRect(w->mapTo(window, QPoint(0, 0)), w->size());
    }
    return part & window->rect();
}

TEST(WindowFit, TheProgramRunsOnASmallScreen) {
    ASSERT_NE(QGuiApplication::primaryScreen(), nullptr);
    EXPECT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), kSmallScreen);
}

// Every dialog and window opens with its frame inside the screen's available
// area and the buttons of its button row whole and visible; the buttons
// further up in a scrolled part can be scrolled to. In Chinese and in
// English, whose texts are longer.
class EveryDialog : public ::testing::TestWithParam<Language> {
protected:
    void SetUp() override { ASSERT_TRUE(InstallLanguage(GetParam())); }
    // Back to the station's default for the other tests, also after a
    // failure.
    void TearDown() override { InstallLanguage(Language::Chinese); }
};

TEST_P(EveryDialog, OpensInsideTheAvailableArea) {
    test::MessageRecorder messages;
    test::TempDir dir;
    test::DefaultPages pages;
    struct Case {
        const char* name;
        std::function<std::unique_ptr<QWidget>()> make;
        // The object names of the buttons that must be on the screen at once.
        QStringList buttonRow;
        // Buttons in a scrolled part: visible after scrolling to them.
        QStringList scrolled;
    };
    const Case cases[] = {
        {"baseline",
         [&] {
             return std::make_unique<CBaseLineDlg>(pages,
                                                   BaselineExchangeFromPage(0, pages.table[0]));
         },
         {"ok", "cancel"},
         {"read", "load", "save", "average", "apply", "openAll", "closeAll"}},
        {"rows and columns",
         [] { return std::make_unique<CResetRowColDlg>(4, 2); },
         {"ok", "cancel"},
         {}},
        {"about", [] { return std::make_unique<CAboutDlg>(); }, {"ok"}, {}},
        {"about Velmora5", [] { return std::make_unique<CAboutDlgVelmora5>(); }, {"ok"}, {}},
        {"about master", [] { return std::make_unique<CAboutDlgVelmora5HID>([] {}); }, {"ok"}, {}},
        {"records",
         [&] { return std::make_unique<CRecordsWindow>((dir.path() / "records.db").string()); },
         {},
         {}},
        {"camera", [] { return std::make_unique<CDialogCapView>(nullptr, NoCameras()); }, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QWidget> window = c.make();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QApplication::processEvents();

        EXPECT_TRUE(kSmallScreen.contains(window->frameGeometry()))
            << window->frameGeometry().x() << "," << window->frameGeometry().y() << " "
            << window->frameGeometry().width() << "x" << window->frameGeometry().height();
        // Every button that is shown and not in a scrolled part is whole
        // inside the window.
        for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
            if (!b->isVisible() || c.scrolled.contains(b->objectName())) {
                continue;
            }
            EXPECT_EQ(VisiblePart(b, window.get()),
                      QRect(b->mapTo(window.get(), QPoint()), b->size()))
                << b->objectName().toStdString() << " " << b->text().toStdString();
        }
        for (const QString& name : c.buttonRow) {
            auto* b = window->findChild<QAbstractButton*>(name);
            ASSERT_NE(b, nullptr) << name.toStdString();
            EXPECT_TRUE(b->isVisible()) << name.toStdString();
            EXPECT_FALSE(b->size().isEmpty()) << name.toStdString();
            // Qt's standard buttons keep Qt's own, translated texts.
            if (auto* box = qobject_cast<QDialogButtonBox*>(b->parentWidget())) {
                const QDialogButtonBox::StandardButton which = box->standardButton(b);
                ASSERT_NE(which, QDialogButtonBox::NoButton) << name.toStdString();
                const QDialogButtonBox fresh(which);
                EXPECT_EQ(b->text(), fresh.button(which)->text()) << name.toStdString();
            }
        }
        for (const QString& name : c.scrolled) {
            auto* b = window->findChild<QAbstractButton*>(name);
            ASSERT_NE(b, nullptr) << name.toStdString();
            auto* scroll = window->findChild<QScrollArea*>();
            ASSERT_NE(scroll, nullptr);
            scroll->ensureWidgetVisible(b, 0, 0);
            QApplication::processEvents();
            EXPECT_EQ(VisiblePart(b, window.get()),
                      QRect(b->mapTo(window.get(), QPoint()), b->size()))
                << name.toStdString();
        }
        window->close();
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, EveryDialog,
                         ::testing::Values(Language::Chinese, Language::English),
                         [](const ::testing::TestParamInfo<Language>& info) {
                             return info.param == Language::Chinese ? "Chinese" : "English";
                         });

// The helper on its own, for areas other than this screen: a window larger
// than the area shrinks into it, a smaller one keeps its size, both centred;
// a minimum size the area cannot hold wins and the window's top-left corner
// stays inside.
TEST(WindowFit, FitIntoShrinksAndCentres) {
    struct Case {
        QSize size;
        QSize minimum;
        QRect area;
        QRect expected;
    };
    const Case cases[] = {
        {{1180, 820}, {0, 0}, {0, 0, 1024, 600}, {0, 0, 1024, 600}},
        {{400, 300}, {0, 0}, {0, 0, 1024, 600}, {312, 150, 400, 300}},
        {{1180, 820}, {0, 0}, {1920, 40, 1024, 560}, {1920, 40, 1024, 560}},
        {{600, 400}, {0, 0}, {1920, 40, 1920, 1040}, {2580, 360, 600, 400}},
        {{800, 700}, {700, 650}, {0, 0, 1024, 600}, {112, 0, 800, 650}},
    };
    for (const Case& c : cases) {
        QWidget window;
        window.setMinimumSize(c.minimum);
        window.resize(c.size);
        FitInto(&window, c.area);
        EXPECT_EQ(QRect(window.pos(), window.size()), c.expected)
            << c.size.width() << "x" << c.size.height() << " in " << c.area.width() << "x"
            << c.area.height();
    }
}

// FitOnShow on a window of its own: the first show centres it over its
// parent's window; a later show keeps the place the operator chose but brings
// a window moved or grown past the screen's edge back inside.
TEST(WindowFit, FitOnShowPlacesTheWindowAtEveryShow) {
    QWidget parent;
    parent.setGeometry(0, 0, 600, 400);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    QWidget window(&parent, Qt::Dialog);
    window.resize(200, 100);
    FitOnShow(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_LE((window.frameGeometry().center() - parent.frameGeometry().center()).manhattanLength(),
              2);

    const struct {
        const char* what;
        QRect before;
        bool placeKept;
        bool sizeKept;
    } cases[] = {
        {"a place inside stays", {100, 50, 300, 200}, true, true},
        {"moved past the corner", {900, 500, 300, 200}, false, true},
        {"grown past the screen", {100, 50, 1500, 900}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        window.hide();
        window.setGeometry(c.before);
        window.show();
        QApplication::processEvents();
        EXPECT_TRUE(kSmallScreen.contains(window.frameGeometry()));
        EXPECT_EQ(window.geometry().topLeft() == c.before.topLeft(), c.placeKept);
        EXPECT_EQ(window.size() == c.before.size(), c.sizeKept);
    }
}

class MainWindowPlace : public ::testing::Test {
protected:
    void TearDown() override {
        if (dlg) {
            dlg->close();
            dlg.reset();
        }
    }
    CKaldrixPlusDlg& Start(QSize normalSize) {
        StationSetup s;
        s.bus = &bus;
        s.simBus = &bus;
        s.capture = NoCameras();
        s.normalSize = normalSize;
        dlg = std::make_unique<CKaldrixPlusDlg>(std::move(s));
        dlg->OnInitDialog();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        EXPECT_TRUE(QTest::qWaitFor([this] { return !dlg->BoardWorkPending(); }, 10000));
        QApplication::processEvents();
        return *dlg;
    }

    sim::SimBus bus;
    std::unique_ptr<CKaldrixPlusDlg> dlg;
};

// Started maximised; un-maximised it takes two thirds of the area, centred,
// not the smallest size its layout allows.
TEST_F(MainWindowPlace, UnmaximisedTakesTwoThirdsCentred) {
    CKaldrixPlusDlg& d = Start(QSize());
    EXPECT_TRUE(d.windowState() & Qt::WindowMaximized);
    d.setWindowState(Qt::WindowNoState);
    QApplication::processEvents();
    EXPECT_EQ(d.geometry(), QRect(171, 100, 682, 400));
    EXPECT_EQ(NormalPlace(kSmallScreen), QRect(171, 100, 682, 400));
}

// --size: shown un-maximised at that size, centred; larger than the area,
// its frame's top-left corner (the title bar) stays in the area.
TEST_F(MainWindowPlace, NormalSizeIsShownUnmaximised) {
    const QSize sizes[] = {{800, 500}, {1280, 800}};
    for (const QSize& size : sizes) {
        SCOPED_TRACE(size.width());
        CKaldrixPlusDlg& d = Start(size);
        EXPECT_FALSE(d.windowState() & Qt::WindowMaximized);
        EXPECT_EQ(d.size(), size);
        EXPECT_TRUE(kSmallScreen.contains(d.frameGeometry().topLeft()));
        if (kSmallScreen.size().boundedTo(size) == size) {
            EXPECT_EQ(d.geometry(), QRect(112, 50, 800, 500));
        }
        d.close();
        dlg.reset();
    }
}

}  // namespace
}  // namespace kx

// The offscreen platform with one 1024 x 600 screen, whatever the
// environment says: the tests are about that screen.
int main(int argc, char** argv) {
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() /
        ("kx-screen-1024x600-" + std::to_string(QCoreApplication::applicationPid()) + ".json");
    {
        std::ofstream out(config);
        out << R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 1024, "height": 600,)"
            << R"( "logicalDpi": 96}]})";
    }
    const std::string platform = "offscreen:configfile=" + config.string();
    qputenv("QT_QPA_PLATFORM", platform.c_str());
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove(config, ignored);
    return result;
}

// SPDX-License-Identifier: MIT
// Entry point of the Qt test programs: one QApplication for every test, on
// the offscreen platform unless the environment chooses another, so that no
// test needs a display.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

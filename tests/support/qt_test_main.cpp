// main() of the test programs that need a QApplication: offscreen unless a platform is
// named, the fonts mapped as in the programs.
#include <gtest/gtest.h>

#include <QApplication>

#include "panel/widgets.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    panel::chooseFaces();
    return RUN_ALL_TESTS();
}

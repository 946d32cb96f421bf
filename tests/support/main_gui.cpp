#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("CHIPWRIGHT_BUILD_DIR")) qputenv("CHIPWRIGHT_BUILD_DIR", CHIPWRIGHT_BUILD_DIR);
    if (!qEnvironmentVariableIsSet("CHIPWRIGHT_SOURCE_DIR")) qputenv("CHIPWRIGHT_SOURCE_DIR", CHIPWRIGHT_SOURCE_DIR);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

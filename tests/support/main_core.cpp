#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("CHIPWRIGHT_BUILD_DIR")) qputenv("CHIPWRIGHT_BUILD_DIR", CHIPWRIGHT_BUILD_DIR);
    if (!qEnvironmentVariableIsSet("CHIPWRIGHT_SOURCE_DIR")) qputenv("CHIPWRIGHT_SOURCE_DIR", CHIPWRIGHT_SOURCE_DIR);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

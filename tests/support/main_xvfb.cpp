#include "support/xvfb.h"

#include <QApplication>

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

// Window tests on a real X server: each test process starts its own Xvfb and shows its windows there, and the
// programs it starts inherit the display.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("CHIPWRIGHT_BUILD_DIR")) qputenv("CHIPWRIGHT_BUILD_DIR", CHIPWRIGHT_BUILD_DIR);
    if (!qEnvironmentVariableIsSet("CHIPWRIGHT_SOURCE_DIR")) qputenv("CHIPWRIGHT_SOURCE_DIR", CHIPWRIGHT_SOURCE_DIR);
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    std::unique_ptr<XvfbServer> server;
    if (listing) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        server = std::make_unique<XvfbServer>();
        if (!server->ok()) {
            std::fprintf(stderr, "no X server for the window tests: %s\n", qPrintable(server->error()));
            return 1;
        }
        qputenv("DISPLAY", server->display().toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qunsetenv("WAYLAND_DISPLAY");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}

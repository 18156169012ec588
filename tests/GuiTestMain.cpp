// Runs the window tests inside one QApplication under the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char* argv[]) {
    // Offscreen unless a platform is asked for (xcb under Xvfb for screenshots).
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

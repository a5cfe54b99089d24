// Test entry for widget tests: one application object on the offscreen platform, message
// boxes answered by the tests, then GoogleTest.
#include "Errors.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::StationApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

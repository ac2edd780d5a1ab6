#include <gtest/gtest.h>

#include <QApplication>

#include "testutil.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    twtest::Boxes::instance().install();
    const int rc = RUN_ALL_TESTS();
    g_setMessageBoxHook(MessageBoxHook());
    return rc;
}

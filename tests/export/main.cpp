#include <QApplication>
#include <gtest/gtest.h>

#include <cstring>

// The child process of the kill tests.
int g_exportChild(int argc, char** argv);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--export-child") == 0)
        return g_exportChild(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

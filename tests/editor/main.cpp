#include <QApplication>
#include <gtest/gtest.h>

#include "ui/translator.h"
#include "resources/ui/uiresources.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The dialogs show the English texts of the program's own translation, as in the program.
    tw_initUiResources();
    TwTranslator translator;
    if (!translator.load(QStringLiteral(":/en.qm")))
        return 1;
    app.installTranslator(&translator);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

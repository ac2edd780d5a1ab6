// The window's wait on a phone: what the phone call throws is shown once, in words, whether it
// comes at once or under the progress dialog, and the window goes on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <functional>
#include <stdexcept>
#include <thread>

#include "app/phonewait.h"
#include "testutil.h"

using namespace twtest;

TEST(PhoneWait, WhatACallThrowsIsShownOnceInWords) {
    struct Case {
        const char* what;
        int afterMs;  // when the call throws; past the quiet time, under the dialog
        std::function<int()> call;
        QStringList parts;
    };
    const QString unexpected = QStringLiteral("failed unexpectedly");
    const std::vector<Case> cases = {
        {"at once",
         0,
         []() -> int { throw std::runtime_error("no such record key"); },
         {unexpected, "no such record key"}},
        {"under the dialog",
         300,
         []() -> int { throw std::runtime_error("no such record key"); },
         {unexpected, "no such record key"}},
        {"a failure the call named",
         300,
         []() -> int {
             throw DeviceError(DeviceFailure::Locked, "The phone is locked.", "return -17.");
         },
         {"The phone is locked.", "return -17."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Boxes::instance().reset();
        bool sawDialog = false;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                sawDialog = sawDialog || (qobject_cast<ProgressForm*>(w) && w->isVisible());
        });
        look.start(10);
        const std::optional<int> answer = waitOnPhone<int>(
            QStringLiteral("Reading the phone's name..."), [&c](const std::atomic<bool>&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
                return c.call();
            });
        look.stop();
        EXPECT_FALSE(answer);
        EXPECT_EQ(sawDialog, c.afterMs > kQuietWaitMs);
        ASSERT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
            << Boxes::instance().dump().toStdString();
        for (const QString& part : c.parts)
            EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Critical, part))
                << Boxes::instance().dump().toStdString();
    }
    // Nothing is left waiting.
    EXPECT_TRUE(phonecall::Running::waitForAll(5000));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

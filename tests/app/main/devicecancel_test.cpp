// The main window while a phone is slow: a cancel during the read of 5,000 contacts leaves no
// node and no rows, and the window keeps answering while the read winds down (even when the
// phone then stalls); a slow answer to the device name does not freeze it either.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include "ui/progressform.h"
#include "fakedevice.h"
#include "store/combinerule.h"
#include "store/data_path_util.h"
#include "store/localdb.h"
#include "testutil.h"
#include "windowfixture.h"

using namespace twtest;

namespace {

// Ticks every 10 ms on the GUI thread, in whatever event loop runs (the progress dialog's, or
// the wait for its worker), and keeps the longest gap between two ticks while armed.
struct Heartbeat {
    QTimer tick;
    QElapsedTimer since;
    bool armed = false;
    qint64 worst = 0;
    std::function<void()> onTick;
    Heartbeat() {
        since.start();
        QObject::connect(&tick, &QTimer::timeout, [this] {
            if (armed) {
                worst = std::max(worst, since.elapsed());
            }
            since.restart();
            if (onTick) {
                onTick();
            }
        });
        tick.start(10);
    }
};

}  // namespace

class SlowPhoneTest : public WindowTest {};

TEST_F(SlowPhoneTest, CancelDuringASlowReadKeepsNothingAndTheWindowAnswers) {
    const std::string udid = fakedevice::makeUdid(21);
    auto phone = std::make_shared<fakedevice::Phone>(udid, "Slow");
    phone->generateContacts(5000);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults.push_back({fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 0,
                            fakedevice::FaultKind::Delay, 60, 0});
        // The device name too comes slowly.
        s.faults.push_back(
            {fakedevice::kServiceLockdown, "GetValue", 0, fakedevice::FaultKind::Delay, 400, 2});
    });
    // The window's own event loops run these: the test drives the dialog from inside them.
    Heartbeat beat;
    QElapsedTimer sinceCancel;
    QElapsedTimer stalling;
    bool cancelled = false;
    const auto ended = [&] {
        const auto s = phone->syncSessions();
        return !s.empty() && s.back().ended;
    };
    qint64 stallWhileNamed = 0;
    beat.onTick = [&] {
        // Until the sync session starts, the name and values are being read.
        if (phone->syncSessions().empty()) {
            beat.armed = true;
            stallWhileNamed = std::max(stallWhileNamed, beat.worst);
            return;
        }
        if (cancelled) {
            return;
        }
        ProgressForm* form = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* f = qobject_cast<ProgressForm*>(w);
            if (f && f->isVisible()) {
                form = f;
            }
        }
        if (form && !stalling.isValid() && phone->syncSessions().back().batchesSent >= 3) {
            // The phone stalls: its next batch comes only after 3 s.
            phone->updateScenario([](fakedevice::Scenario& s) {
                s.faults.insert(s.faults.begin(),
                                {fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice",
                                 0, fakedevice::FaultKind::Delay, 3000, 1});
            });
            stalling.start();
        }
        // The user cancels while the read waits for the stalled phone.
        if (form && stalling.isValid() && stalling.elapsed() > 300) {
            cancelled = true;
            beat.worst = 0;
            beat.armed = true;
            Boxes::instance().answerNext(true);
            sinceCancel.start();
            emit form->findChild<QPushButton*>("btnCancel")->pressed();  // confirmed
        }
    };
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return cancelled && ended(); }, 30000))
        << Boxes::instance().dump().toStdString();
    const qint64 stallAfterCancel = beat.worst;
    const qint64 toEnd = sinceCancel.elapsed();
    EXPECT_LT(stallWhileNamed, 250) << "the window froze while the device name was read";
    EXPECT_LT(stallAfterCancel, 1000) << "the window froze after the cancel";
    EXPECT_LT(toEnd, 6000);
    waitFor([] { return false; }, 100);
    EXPECT_LT(phone->syncSessions().back().batchesSent, 10);
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    LocalDb mirror(g_dataSaveDir().absoluteFilePath("ios_cache/" + QString::fromStdString(udid)),
                   QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule));
    EXPECT_TRUE(mirror.contacts().isEmpty());
}

// The main window while a phone is slow: a cancel during the read of 5,000 contacts leaves no
// node and no rows, and the window keeps answering while the read winds down (even when the
// phone then stalls); a slow answer to the device name does not freeze it either.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <vector>

#include "ui/progressform.h"
#include "tests/fakedevice/fakedevice.h"
#include "store/combinerule.h"
#include "store/data_path_util.h"
#include "store/localdb.h"
#include "tests/timing.h"
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
        // The device name too comes slowly: a window that waited for it would freeze for
        // seconds.
        s.faults.push_back(
            {fakedevice::kServiceLockdown, "GetValue", 0, fakedevice::FaultKind::Delay, 5000, 1});
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
            // The phone stalls: its next batch never comes.
            phone->updateScenario([](fakedevice::Scenario& s) {
                s.faults.insert(s.faults.begin(),
                                {fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice",
                                 0, fakedevice::FaultKind::Stall, 0, 1});
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
    EXPECT_LT(stallWhileNamed, 1000 * kTimeScale)
        << "the window froze while the device name was read";
    EXPECT_LT(stallAfterCancel, 1000 * kTimeScale) << "the window froze after the cancel";
    EXPECT_LT(toEnd, 5000 * kTimeScale);  // a read that waited would wait 30 s
    waitFor([] { return false; }, 100);
    EXPECT_LT(phone->syncSessions().back().batchesSent, 10);
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    LocalDb mirror(g_dataSaveDir().absoluteFilePath("ios_cache/" + QString::fromStdString(udid)),
                   QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule));
    EXPECT_TRUE(mirror.contacts().isEmpty());
}

namespace {

ProgressForm* visibleProgressForm() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* f = qobject_cast<ProgressForm*>(w);
        if (f && f->isVisible()) {
            return f;
        }
    }
    return nullptr;
}

// Whether the phone's journal holds an entry of that service and name whose body or note holds
// the text.
bool journalHas(const fakedevice::Phone& phone, const std::string& service, const std::string& name,
                const std::string& part = std::string()) {
    for (const fakedevice::JournalEntry& e : phone.journal()) {
        if (e.service == service && e.name == name &&
            (e.xml.find(part) != std::string::npos || e.text.find(part) != std::string::npos)) {
            return true;
        }
    }
    return false;
}

fakedevice::Fault stallAt(const char* service, const char* request) {
    return {service, request, 0, fakedevice::FaultKind::Stall, 0, 1};
}

// One place of a phone's connection where it stops answering, and how the test sees that the
// program is waiting there.
struct StallPoint {
    const char* where;
    std::function<void(fakedevice::Scenario&)> make;
    std::function<bool(const fakedevice::Phone&)> reached;
    std::vector<fakedevice::Fault> usbmuxd = {};  // what usbmuxd does meanwhile
};

}  // namespace

// The user, driven from inside whichever event loop runs (a dialog's, or the window's): once
// `ready` holds while a progress dialog is on screen, and a moment more, the user confirms its
// Cancel. Meanwhile a timer of the GUI thread keeps the longest gap between two of its ticks.
struct UserCancels {
    QTimer timer;
    Heartbeat beat;
    QElapsedTimer sinceReady;
    QElapsedTimer sinceCancel;
    QElapsedTimer sinceStart;
    qint64 firstDialogAt = -1;
    bool cancelled = false;
    std::function<void()> atCancel;

    UserCancels(std::function<bool()> ready, int afterMs) {
        sinceStart.start();
        QObject::connect(&timer, &QTimer::timeout, [this, ready, afterMs] {
            ProgressForm* form = visibleProgressForm();
            if (form && firstDialogAt < 0) {
                firstDialogAt = sinceStart.elapsed();
            }
            if (cancelled || !form || !ready()) {
                return;
            }
            if (!sinceReady.isValid()) {
                sinceReady.start();
            }
            if (sinceReady.elapsed() < afterMs) {
                return;
            }
            if (atCancel) {
                atCancel();
            }
            cancelled = true;
            beat.worst = 0;
            beat.armed = true;
            Boxes::instance().answerNext(true);
            sinceCancel.start();
            emit form->findChild<QPushButton*>("btnCancel")->pressed();  // confirmed
        });
        timer.start(20);
    }
};

class StalledPhoneTest : public WindowTest {
protected:
    // How long after the confirmed Cancel the window took input again (its flow ended, no
    // dialog left), or -1 when it did not within 20 s.
    qint64 wayBack(UserCancels& user) {
        qint64 back = -1;
        waitFor(
            [&] {
                if (user.cancelled && !win->isBusy() && !visibleProgressForm() &&
                    !QApplication::activeModalWidget()) {
                    back = user.sinceCancel.elapsed();
                }
                return back >= 0;
            },
            20000);
        user.timer.stop();
        return back;
    }
    // Unplugs the phone, ends every stall and plugs it in again: its contacts are read.
    void replugReads(const std::shared_ptr<fakedevice::Phone>& phone, int contacts) {
        phoneServer()->setMuxFaults({});
        phone->updateScenario([](fakedevice::Scenario& s) {
            s.faults.clear();
            s.stallTlsOf.clear();
        });
        phoneServer()->detach(phone->udid());
        ASSERT_TRUE(waitFor([&] { return !win->isBusy(); }, 5000));
        Boxes::instance().reset();
        phoneServer()->attach(phone);
        ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }, 15000))
            << Boxes::instance().dump().toStdString();
        Tree::_DBItemNode* node = dbChild(tree().deviceRoot(), 0);
        ASSERT_TRUE(node && node->db);
        EXPECT_EQ(node->db->contacts().size(), contacts);
        EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
            << Boxes::instance().dump().toStdString();
    }
};

TEST_F(StalledPhoneTest, ACancelInsideAnyStallGivesTheWindowBackWithinASecond) {
    using fakedevice::kServiceLockdown;
    using fakedevice::kServiceSync;
    const std::vector<StallPoint> points = {
        {"lockdown's handshake of the first check",
         [](fakedevice::Scenario& s) { s.faults = {stallAt(kServiceLockdown, "StartSession")}; },
         [](const fakedevice::Phone& p) {
             return journalHas(p, kServiceLockdown, "StartSession");
         }},
        {"the TLS handshake of the lockdown session",
         [](fakedevice::Scenario& s) { s.stallTlsOf = kServiceLockdown; },
         [](const fakedevice::Phone& p) {
             return journalHas(p, kServiceLockdown, "note", "TLS handshake stalled");
         }},
        {"the tethered-sync read",
         [](fakedevice::Scenario& s) {
             s.faults = {stallAt(kServiceLockdown, "GetValue com.apple.mobile.tethered_sync")};
         },
         [](const fakedevice::Phone& p) {
             return journalHas(p, kServiceLockdown, "GetValue", "com.apple.mobile.tethered_sync");
         }},
        {"the tethered-sync write",
         [](fakedevice::Scenario& s) { s.faults = {stallAt(kServiceLockdown, "SetValue")}; },
         [](const fakedevice::Phone& p) { return journalHas(p, kServiceLockdown, "SetValue"); }},
        {"StartService of the sync service",
         [](fakedevice::Scenario& s) { s.faults = {stallAt(kServiceLockdown, "StartService")}; },
         [](const fakedevice::Phone& p) {
             return journalHas(p, kServiceLockdown, "StartService");
         }},
        {"the TLS handshake of the sync service",
         [](fakedevice::Scenario& s) { s.stallTlsOf = kServiceSync; },
         [](const fakedevice::Phone& p) {
             return journalHas(p, kServiceSync, "note", "TLS handshake stalled");
         }},
        // The dialog shows while the check waits for usbmuxd's list.
        {"usbmuxd's list, answered 3.5 s late",
         [](fakedevice::Scenario&) {},
         [](const fakedevice::Phone&) { return true; },
         {{fakedevice::kServiceMux, "", 0, fakedevice::FaultKind::Delay, 3500, 0}}},
    };
    unsigned n = 60;
    for (const StallPoint& point : points) {
        SCOPED_TRACE(point.where);
        Boxes::instance().reset();
        const std::string udid = fakedevice::makeUdid(n++);
        auto phone = std::make_shared<fakedevice::Phone>(udid, "Stalling");
        phone->generateContacts(12);
        phone->updateScenario(point.make);
        phoneServer()->setMuxFaults(point.usbmuxd);
        phoneServer()->attach(phone);
        // The user waits a moment inside the stall, then cancels.
        UserCancels user([&] { return point.reached(*phone); }, 300);
        size_t setCalls = 0;
        size_t sessions = 0;
        user.atCancel = [&] {
            setCalls = phone->setValueCalls().size();
            sessions = phone->syncSessions().size();
        };
        open();
        const qint64 back = wayBack(user);
        ASSERT_TRUE(user.cancelled) << "no dialog at the stall\n"
                                    << Boxes::instance().dump().toStdString();
        ASSERT_GE(back, 0) << "the window did not come back";
        EXPECT_LT(back, 1000 * kTimeScale);
        EXPECT_LT(user.beat.worst, 1000 * kTimeScale) << "the window stopped painting";
        // Nothing reaches the phone after the cancel, and nothing of a read is listed.
        waitFor([] { return false; }, 500);
        EXPECT_EQ(phone->setValueCalls().size(), setCalls);
        EXPECT_EQ(phone->syncSessions().size(), sessions);
        EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
        EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
            << Boxes::instance().dump().toStdString();
        replugReads(phone, 12);
        win.reset();
        phoneServer()->detach(udid);
    }
}

TEST_F(StalledPhoneTest, APhoneAnsweringEverythingLateShowsADialogAndCancelsAtOnce) {
    const std::string udid = fakedevice::makeUdid(70);
    auto phone = std::make_shared<fakedevice::Phone>(udid, "Late");
    phone->generateContacts(5);
    phone->updateScenario([](fakedevice::Scenario& s) {
        for (const char* service : {fakedevice::kServiceLockdown, fakedevice::kServiceSync}) {
            s.faults.push_back({service, "", 0, fakedevice::FaultKind::Delay, kStallMs, 0});
        }
    });
    phoneServer()->attach(phone);
    UserCancels user([] { return true; }, 300);
    open();
    const qint64 back = wayBack(user);
    ASSERT_TRUE(user.cancelled) << "no dialog while the phone is slow";
    EXPECT_LT(user.firstDialogAt, 1000 * kTimeScale) << "no dialog while the phone is slow";
    ASSERT_GE(back, 0) << "the window did not come back";
    EXPECT_LT(back, 1000 * kTimeScale);
    EXPECT_LT(user.beat.worst, 1000 * kTimeScale) << "the window stopped painting";
    EXPECT_TRUE(phone->setValueCalls().empty());
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    replugReads(phone, 5);
}

TEST_F(StalledPhoneTest, TheReReadAfterACancelledRestoreWaitsUnderADialogWithCancel) {
    const std::string udid = fakedevice::makeUdid(71);
    auto phone = std::make_shared<fakedevice::Phone>(udid, "Restored");
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
        << Boxes::instance().dump().toStdString();
    QList<pim::_Contact> contacts;
    for (int i = 0; i < 30; ++i) {
        contacts << makeContact(QString("First%1").arg(i), QString("Last%1").arg(i));
    }
    choosers.dataSource = [](QWidget*, const QString&,
                             const QList<DataSourceSelForm::_SelItem>& items) {
        return items.isEmpty() ? nullptr : items.front().data;
    };
    // The phone takes its time over each batch; the user cancels the restore after the first,
    // and the phone then stalls in the handshake of the re-read that follows.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {{fakedevice::kServiceSync, "SDMessageProcessChanges", 0,
                     fakedevice::FaultKind::Delay, 400, 0}};
    });
    Boxes::instance().reset();
    size_t handshakes = 0;
    UserCancels restore(
        [&] {
            return phone->countRequests(fakedevice::kServiceSync, "SDMessageProcessChanges") >= 1;
        },
        100);
    restore.atCancel = [&] {
        handshakes = phone->countRequests(fakedevice::kServiceLockdown, "StartSession");
        phone->updateScenario([](fakedevice::Scenario& s) {
            s.faults.push_back(stallAt(fakedevice::kServiceLockdown, "StartSession"));
        });
    };
    UserCancels reread(
        [&] {
            return restore.cancelled &&
                   phone->countRequests(fakedevice::kServiceLockdown, "StartSession") > handshakes;
        },
        300);
    win->transfer2IOS(contacts, QString());
    const qint64 back = wayBack(reread);
    ASSERT_TRUE(restore.cancelled);
    ASSERT_TRUE(reread.cancelled) << "the re-read waited with no dialog\n"
                                  << Boxes::instance().dump().toStdString();
    ASSERT_GE(back, 0) << "the window did not come back";
    EXPECT_LT(back, 1000 * kTimeScale);
    EXPECT_LT(reread.beat.worst, 1000 * kTimeScale) << "the window stopped painting";
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information, "The restore was cancelled"))
        << Boxes::instance().dump().toStdString();
    // The mirror that may hold what never reached the phone is gone; plugged in again, the
    // phone is read afresh with what it kept.
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    const int onPhone = int(phone->recordIds("com.apple.contacts.Contact").size());
    EXPECT_GT(onPhone, 0);
    replugReads(phone, onPhone);
}

TEST_F(StalledPhoneTest, ACancelledEditOnAStalledPhoneReadsThePhoneAgain) {
    const std::string udid = fakedevice::makeUdid(72);
    auto phone = std::make_shared<fakedevice::Phone>(udid, "Edited");
    phone->generateContacts(2);
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
        << Boxes::instance().dump().toStdString();
    // The phone takes the changes and never answers.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {stallAt(fakedevice::kServiceSync, "SDMessageProcessChanges")};
    });
    choosers.editForm = [](EditContactForm& form) {
        form.editor()->nameEdit.firstName->setText("Never");
        form.editor()->nameEdit.lastName->setText("Answered");
        form.form().btnSave->click();
        return form.result();
    };
    Boxes::instance().reset();
    UserCancels user(
        [&] { return journalHas(*phone, fakedevice::kServiceSync, "SDMessageProcessChanges"); },
        300);
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    const qint64 back = wayBack(user);
    ASSERT_TRUE(user.cancelled) << Boxes::instance().dump().toStdString();
    ASSERT_GE(back, 0) << "the window did not come back";
    // The window comes back with the phone read again (two contacts, a quick read).
    EXPECT_LT(back, 1000 * kTimeScale);
    EXPECT_LT(user.beat.worst, 1000 * kTimeScale) << "the window stopped painting";
    ASSERT_EQ(tree().deviceRoot()->children.size(), 1);
    Tree::_DBItemNode* node = dbChild(tree().deviceRoot(), 0);
    ASSERT_TRUE(node && node->db);
    EXPECT_EQ(node->db->contacts().size(), 2);
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
}

// The main window's words for phones that fail for a reason they give, or give none: lockdown's
// answer to the service start, a refusal in the phone's own words, a damaged pair record on this
// computer, an empty phone, a finish the phone cannot commit and a restore cancelled after the
// phone took everything. Each ends in words that name the true cause (or say none is known) and
// what the phone kept, and no message claims contacts the phone did not keep.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "app/mainwindow_form.h"
#include "editor/editcontactform.h"
#include "tests/fakedevice/fakedevice.h"
#include "store/data_path_util.h"
#include "store/localdb.h"
#include "ui/progressform.h"
#include "tests/timing.h"
#include "testutil.h"
#include "windowfixture.h"

using namespace twtest;

namespace {

class CausesTest : public WindowTest {
protected:
    std::shared_ptr<fakedevice::Phone> phoneWith(unsigned n, int contacts) {
        udid = fakedevice::makeUdid(n);
        auto phone = std::make_shared<fakedevice::Phone>(udid, "Causes");
        phone->generateContacts(contacts);
        return phone;
    }
    // Plugs the phone in, opens the window and returns the device road's one error box.
    QString failureShown(const std::shared_ptr<fakedevice::Phone>& phone) {
        phoneServer()->attach(phone);
        QElapsedTimer t;
        t.start();
        open();
        EXPECT_TRUE(waitFor([] { return Boxes::instance().count(QMessageBox::Critical) == 1; },
                            10000 * kTimeScale))
            << Boxes::instance().dump().toStdString();
        EXPECT_LT(t.elapsed(), 10000 * kTimeScale);
        EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
        for (const Box& b : Boxes::instance().shown) {
            if (b.icon == QMessageBox::Critical) {
                return plain(b.text);
            }
        }
        return QString();
    }
    // Plugs the phone in and waits for its node.
    void readIn(const std::shared_ptr<fakedevice::Phone>& phone) {
        phoneServer()->attach(phone);
        open();
        ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
            << Boxes::instance().dump().toStdString();
        choosers.dataSource = [](QWidget*, const QString&,
                                 const QList<DataSourceSelForm::_SelItem>& items) {
            return items.isEmpty() ? nullptr : items.front().data;
        };
        Boxes::instance().reset();
    }
    static QList<pim::_Contact> newContacts(int n) {
        QList<pim::_Contact> out;
        for (int i = 0; i < n; ++i) {
            out << makeContact(QString("New%1").arg(i), QString("Person%1").arg(i),
                               QString("+1 555 01%1").arg(i, 2, 10, QChar('0')));
        }
        return out;
    }
    // A box's text with the quotes the message box escapes as they were written.
    static QString plain(QString html) {
        return html.replace("&quot;", "\"").replace("&amp;", "&");
    }
    bool anyBoxSays(const QString& part) const {
        for (const Box& b : Boxes::instance().shown) {
            if (b.text.contains(part)) {
                return true;
            }
        }
        return false;
    }
    std::string udid;
};

}  // namespace

TEST_F(CausesTest, APlugInNamesTheCauseLockdownOrThePhoneGave) {
    struct Case {
        std::function<void(fakedevice::Scenario&)> set;
        const char* words;
        const char* detail;
    } cases[] = {
        {[](fakedevice::Scenario& s) { s.lockdownErrors["StartService"] = "ServiceLimit"; },
         "Another program, such as a sync or backup tool, is using the phone. Close that "
         "program",
         "start service failed. return -28."},
        {[](fakedevice::Scenario& s) { s.lockdownErrors["StartService"] = "EscrowLocked"; },
         "The phone has not been unlocked since it was restarted",
         "start service failed. return -35."},
        {[](fakedevice::Scenario& s) { s.lockdownErrors["StartService"] = "MissingValue"; },
         "The phone has not been unlocked since it was restarted",
         "start service failed. return -12."},
        // A restricted or supervised phone, and one that does not offer the service now.
        {[](fakedevice::Scenario& s) { s.lockdownErrors["StartService"] = "ServiceProhibited"; },
         "The phone refused to start its contacts sync service (ServiceProhibited): a "
         "restriction on the phone may forbid syncing with a computer.",
         "start service failed. return -34."},
        {[](fakedevice::Scenario& s) { s.lockdownErrors["StartService"] = "InvalidService"; },
         "The phone refused to start its contacts sync service (InvalidService)",
         "start service failed. return -27."},
        {[](fakedevice::Scenario& s) {
             s.refuseSync = true;
             s.refuseDescription =
                 "Your computer's software is out of date. Please update and try again!";
         },
         "It said: \"Your computer's software is out of date. Please update and try again!\"",
         "start failed. return -7."},
        {[](fakedevice::Scenario& s) { s.damagedPairRecord = true; },
         "it refused the secure connection to this computer: this computer's pairing with the "
         "phone is damaged",
         "start service failed."},
    };
    unsigned n = 61;
    for (const Case& c : cases) {
        Boxes::instance().reset();
        win.reset();
        auto phone = phoneWith(n++, 4);
        phone->updateScenario(c.set);
        const QString shown = failureShown(phone);
        EXPECT_TRUE(shown.contains(c.words)) << shown.toStdString();
        EXPECT_TRUE(shown.contains(c.detail)) << shown.toStdString();
        // None of them is fixed by a re-plug, none is iCloud's, and the phone is attached.
        EXPECT_FALSE(shown.contains("could not complete the sync")) << shown.toStdString();
        EXPECT_FALSE(shown.contains("iCloud")) << shown.toStdString();
        EXPECT_FALSE(shown.contains("disconnected")) << shown.toStdString();
        EXPECT_FALSE(shown.contains("without saying why")) << shown.toStdString();
        // The read ends at the refusal: nothing more is asked of the phone or sent to it.
        for (const fakedevice::SyncSession& session : phone->syncSessions()) {
            EXPECT_FALSE(session.recordsRequested);
            EXPECT_TRUE(session.changesReceived.empty());
        }
        phoneServer()->detach(udid);
    }
}

TEST_F(CausesTest, AnEmptyPhoneIsNotSaidToKeepItsContactsInICloud) {
    // Tethered sync off and nothing else said: what a phone that never synced shows.
    auto phone = phoneWith(70, 0);
    fakedevice::Plist flagOnly = fakedevice::Plist::dict();
    flagOnly.set("DisableTethered", fakedevice::Plist(plist_new_bool(1)));
    phone->setLockdownValue("com.apple.mobile.tethered_sync", "Contacts", flagOnly);
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
        << Boxes::instance().dump().toStdString();
    EXPECT_TRUE(Boxes::instance().contains(QMessageBox::Information,
                                           "The phone holds no contacts of its own."))
        << Boxes::instance().dump().toStdString();
    EXPECT_FALSE(anyBoxSays("it keeps its contacts in iCloud"))
        << Boxes::instance().dump().toStdString();
}

// The phone refuses the finish, or cancels batch 3 of 6 (its fifth change message) in its own
// words: the words say what it acknowledged, never what it kept, nothing more goes to it, and
// the re-read says what it holds.
TEST_F(CausesTest, ARestoreThePhoneEndsIsReadAgainToShowWhatItKept) {
    const struct {
        std::function<void(fakedevice::Scenario&)> set;
        int contacts;
        size_t messages;
        int kept;
        const char* words;
    } cases[] = {
        {[](fakedevice::Scenario& s) { s.finishRefusal = "Couldn't commit changes on device"; }, 20,
         4, 0,
         "It said: \"Couldn't commit changes on device\". The phone acknowledged 20 of the 20 "
         "contacts but did not accept the end of the session, so it may have kept none of them"},
        {[](fakedevice::Scenario& s) { s.cancelAtProcessChanges = 4; }, 60, 5, 20,
         "It said: \"Sync cancelled by the device\". 20 of the 60 contacts had been sent and "
         "acknowledged when the phone ended the session; the phone's contacts are read again "
         "now to show what it kept."},
    };
    unsigned n = 74;
    for (const auto& c : cases) {
        Boxes::instance().reset();
        win.reset();
        auto phone = phoneWith(n++, 3);
        readIn(phone);
        const size_t before = phone->recordIds("com.apple.contacts.Contact").size();
        phone->updateScenario(c.set);
        QElapsedTimer t;
        t.start();
        win->transfer2IOS(newContacts(c.contacts), QString());
        EXPECT_LT(t.elapsed(), 10000 * kTimeScale);
        ASSERT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
            << Boxes::instance().dump().toStdString();
        const QString shown = plain(Boxes::instance().shown.front().text);
        EXPECT_TRUE(shown.contains(c.words)) << shown.toStdString();
        EXPECT_FALSE(anyBoxSays("The phone took")) << Boxes::instance().dump().toStdString();
        EXPECT_FALSE(anyBoxSays("stays on it")) << Boxes::instance().dump().toStdString();
        EXPECT_EQ(phone->countRequests(fakedevice::kServiceSync, "SDMessageProcessChanges"),
                  c.messages);
        // The re-read says what the phone holds, and the mirror is the phone's.
        const size_t now = before + size_t(c.kept);
        EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), now);
        ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
            << Boxes::instance().dump().toStdString();
        EXPECT_TRUE(Boxes::instance().contains(
            QMessageBox::Information,
            QString("The phone's contacts were read again: it holds %1 contacts.").arg(now)))
            << Boxes::instance().dump().toStdString();
        EXPECT_EQ(size_t(dbChild(tree().deviceRoot(), 0)->db->contacts().size()), now);
        phoneServer()->detach(udid);
    }
}

TEST_F(CausesTest, ARestoreCancelledAfterThePhoneTookEverythingSaysTheyStay) {
    auto phone = phoneWith(72, 2);
    readIn(phone);
    const size_t before = phone->recordIds("com.apple.contacts.Contact").size();
    // Each change message is answered a moment late: the cancel comes while the phone is
    // applying the only batch, and its answer is still taken.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {{fakedevice::kServiceSync, "SDMessageProcessChanges", 0,
                     fakedevice::FaultKind::Delay, 250, 0}};
    });
    bool cancelled = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (cancelled ||
            phone->countRequests(fakedevice::kServiceSync, "SDMessageProcessChanges") < 1) {
            return;
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* f = qobject_cast<ProgressForm*>(w);
            if (f && f->isVisible()) {
                cancelled = true;
                Boxes::instance().answerNext(true);
                emit f->findChild<QPushButton*>("btnCancel")->pressed();  // confirmed
            }
        }
    });
    user.start(10);
    win->transfer2IOS(newContacts(10), QString());
    user.stop();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), before + 10);
    EXPECT_TRUE(Boxes::instance().contains(
        QMessageBox::Information,
        "The restore was cancelled after the phone had taken all 10 contacts: they stay on it."))
        << Boxes::instance().dump().toStdString();
    EXPECT_FALSE(anyBoxSays("the others were not written"))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
}

TEST_F(CausesTest, AnEditWhoseFinishIsRefusedIsNotSaidToBeOnThePhone) {
    auto phone = phoneWith(73, 2);
    readIn(phone);
    phone->updateScenario(
        [](fakedevice::Scenario& s) { s.finishRefusal = "Couldn't commit changes on device"; });
    choosers.editForm = [](EditContactForm& form) {
        form.editor()->nameEdit.firstName->setText("Refused");
        form.form().btnSave->click();
        return form.result();
    };
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    ASSERT_TRUE(waitFor([] { return Boxes::instance().count(QMessageBox::Critical) == 1; }))
        << Boxes::instance().dump().toStdString();
    const QString shown = plain(Boxes::instance().shown.front().text);
    EXPECT_TRUE(shown.contains("It said: \"Couldn't commit changes on device\"."))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains("it may have kept none of this edit")) << shown.toStdString();
    for (const std::string& id : phone->recordIds("com.apple.contacts.Contact")) {
        EXPECT_NE(phone->record(id).stringAt("first name"), "Refused");
    }
    // The re-read shows the phone as it is.
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
        << Boxes::instance().dump().toStdString();
}

TEST_F(CausesTest, APlugInWithoutUsbmuxdStopsAtTheCheckAndWritesNothing) {
    open();
    udid = fakedevice::makeUdid(80);
    fakedevice::TempDir broken;
    const std::string path = broken.path() + "/usbmuxd";
    const struct {
        fakedevice::BrokenMuxKind kind;
        const char* words;
        qint64 withinMs;
    } cases[] = {
        {fakedevice::BrokenMuxKind::NothingListening, "it is not running", 10000},
        {fakedevice::BrokenMuxKind::OtherProtocol, "something else answers at its socket", 10000},
        // libusbmuxd's wait (10 s for a process's first question), then 5 s of our own.
        {fakedevice::BrokenMuxKind::Silent, "did not answer", 17000},
    };
    for (const auto& c : cases) {
        Boxes::instance().reset();
        fakedevice::BrokenMux mux(path, c.kind);
        fakedevice::ScopedMuxAddress at(mux.socketAddress());
        QElapsedTimer t;
        t.start();
        win->iosDeviceConnected(QString::fromStdString(udid));
        EXPECT_LT(t.elapsed(), c.withinMs * kTimeScale);
        ASSERT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
            << Boxes::instance().dump().toStdString();
        const QString shown = plain(Boxes::instance().shown.back().text);
        EXPECT_TRUE(shown.contains("This computer's phone service (usbmuxd) could not be reached"))
            << shown.toStdString();
        EXPECT_TRUE(shown.contains(c.words)) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QString::fromStdString(path))) << shown.toStdString();
        EXPECT_FALSE(shown.contains("not connected")) << shown.toStdString();
        EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
        // No mirror was made for the phone.
        EXPECT_FALSE(g_dataSaveDir().exists(QString("ios_cache/%1").arg(udid.c_str())));
    }
}

// A restore of 30 contacts (three batches) to a phone that holds 3, ended at each point of its
// last batch by each ending: the cable pulled, the user's cancel, the phone ending the session.
// The words say what the phone took, what may be on it and what was not written, and the phone
// holds that: a contact whose message left this computer is never said not to be written.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "editor/editcontactform.h"
#include "platform/mobilesync/phonecall.h"
#include "tests/fakedevice/fakedevice.h"
#include "ui/progressform.h"
#include "tests/timing.h"
#include "testutil.h"
#include "windowfixture.h"

using namespace twtest;

namespace {

const char* const kStart = "SDMessageSyncDataClassWithDevice";
const char* const kChanges = "SDMessageProcessChanges";  // the last batch sends the 5th and 6th

enum class Ending { CablePulled, Cancel, PhoneEnds };

struct Row {
    const char* point;
    Ending ending;
    std::function<void(fakedevice::Scenario&)> set;
    // Cancel: the user cancels once the restore's session has this many requests of that name.
    const char* cancelAt;
    size_t cancelAtCount;
    const char* words;  // in a box; null: no box at all
    bool mayBe;         // a box says the contacts being sent may be on the phone
    bool notWritten;    // a box says contacts were not written to it
    size_t holds;       // contacts on the phone afterwards
};

fakedevice::Fault at(const char* request, int nth, fakedevice::FaultKind kind, int ms = 0) {
    return {fakedevice::kServiceSync, request, nth, kind, ms, 1};
}

std::function<void(fakedevice::Scenario&)> fault(fakedevice::Fault f) {
    return [f](fakedevice::Scenario& s) { s.faults = {f}; };
}

const char* const kMayBe =
    "The phone did not answer for the contacts being sent when it failed: they may be on it too.";
const char* const kWithoutDetails =
    "Contacts of the batch being sent when it failed may be on the phone without all their "
    "details: restoring again completes them.";
const char* const kCancelMayBe =
    "The phone did not answer for the contacts being sent when you cancelled: they may be on it "
    "too, and the phone's contacts are read again now.";
const char* const kKeptNone =
    "The phone acknowledged 30 of the 30 contacts but did not accept the end of the session, so "
    "it may have kept none of them.";

using K = fakedevice::FaultKind;
const Row kRows[] = {
    {"before the contacts message is sent", Ending::CablePulled, fault(at(kStart, 1, K::Unplug)),
     nullptr, 0, "The phone took 0 of the 30 contacts; the others were not written to it.", false,
     true, 3},
    {"after it is sent, before its answer", Ending::CablePulled,
     fault(at(kChanges, 5, K::UnplugBeforeAnswer)), nullptr, 0,
     "The phone took 20 of the 30 contacts.", true, false, 33},
    {"after its answer, before the details", Ending::CablePulled, fault(at(kChanges, 6, K::Unplug)),
     nullptr, 0, kWithoutDetails, true, false, 33},
    {"after the details' answer", Ending::CablePulled,
     fault(at("SDMessageFinishSessionOnDevice", 1, K::Unplug)), nullptr, 0, kKeptNone, false, false,
     33},

    {"before the contacts message is sent", Ending::Cancel, fault(at(kStart, 1, K::Stall)), kStart,
     1, nullptr, false, false, 3},
    {"after it is sent, before its answer", Ending::Cancel, fault(at(kChanges, 5, K::Stall)),
     kChanges, 5, "The restore was cancelled. The phone took 20 of the 30 contacts.", true, false,
     23},
    {"after its answer, before the details", Ending::Cancel, fault(at(kChanges, 6, K::Stall)),
     kChanges, 6, kCancelMayBe, true, false, 33},
    {"after the details' answer", Ending::Cancel, fault(at(kChanges, 6, K::Delay, 300)), kChanges,
     6, "The restore was cancelled after the phone had taken all 30 contacts: they stay on it.",
     false, false, 33},

    {"before the contacts message is sent", Ending::PhoneEnds,
     [](fakedevice::Scenario& s) { s.cancelSyncAtStart = true; }, nullptr, 0,
     "The phone took 0 of the 30 contacts; the others were not written to it.", false, true, 3},
    {"after it is sent, before its answer", Ending::PhoneEnds,
     [](fakedevice::Scenario& s) { s.cancelAtProcessChanges = 4; }, nullptr, 0,
     "20 of the 30 contacts had been sent and acknowledged when the phone ended the session", true,
     false, 23},
    {"after its answer, before the details", Ending::PhoneEnds,
     [](fakedevice::Scenario& s) { s.cancelAtProcessChanges = 5; }, nullptr, 0, kWithoutDetails,
     true, false, 33},
    {"after the details' answer", Ending::PhoneEnds,
     [](fakedevice::Scenario& s) { s.finishRefusal = "Couldn't commit changes on device"; },
     nullptr, 0, kKeptNone, false, false, 3},
};

class BatchEndingsTest : public WindowTest {
protected:
    static QList<pim::_Contact> newContacts() {
        QList<pim::_Contact> out;
        for (int i = 0; i < 30; ++i) {
            out << makeContact(QString("New%1").arg(i), QString("Person%1").arg(i),
                               QString("+1 555 01%1").arg(i, 2, 10, QChar('0')));
        }
        return out;
    }
    // A phone with that many contacts plugged in and read, the restore's target.
    std::shared_ptr<fakedevice::Phone> plugIn(unsigned n, size_t contacts) {
        win.reset();
        auto phone = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(n), "Endings");
        phone->generateContacts(contacts);
        phoneServer()->attach(phone);
        open();
        EXPECT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
            << Boxes::instance().dump().toStdString();
        choosers.dataSource = [](QWidget*, const QString&,
                                 const QList<DataSourceSelForm::_SelItem>& items) {
            return items.isEmpty() ? nullptr : items.front().data;
        };
        Boxes::instance().reset();
        return phone;
    }
    static QString says() {
        QString all;
        for (const Box& b : Boxes::instance().shown) {
            if (b.icon == QMessageBox::Question) {
                continue;  // "Are you sure?" of the cancel
            }
            all += QString(b.text).replace("&quot;", "\"").replace("&amp;", "&") + "\n";
        }
        return all;
    }
    // The confirmed cancel of the progress dialog, once `ready` holds.
    static void cancelWhen(QTimer& user, const std::function<bool()>& ready, bool& cancelled) {
        QObject::connect(&user, &QTimer::timeout, [&ready, &cancelled] {
            if (cancelled || !ready()) {
                return;
            }
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* f = qobject_cast<ProgressForm*>(w);
                if (f && f->isVisible()) {
                    cancelled = true;
                    Boxes::instance().answerNext(true);
                    emit f->findChild<QPushButton*>("btnCancel")->pressed();
                }
            }
        });
        user.start(5);
    }
};

}  // namespace

TEST_F(BatchEndingsTest, EveryEndingOfTheLastBatchSaysWhatThePhoneMayHold) {
    unsigned n = 90;
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(row.point) + ", ending " + std::to_string(int(row.ending)));
        auto phone = plugIn(n++, 3);
        const size_t before =
            row.cancelAt ? phone->countRequests(fakedevice::kServiceSync, row.cancelAt) : 0;
        phone->updateScenario(row.set);

        bool cancelled = false;
        QTimer user;
        const std::function<bool()> ready = [&] {
            return phone->countRequests(fakedevice::kServiceSync, row.cancelAt) >=
                   before + row.cancelAtCount;
        };
        if (row.cancelAt) {
            cancelWhen(user, ready, cancelled);
        }
        QElapsedTimer t;
        t.start();
        win->transfer2IOS(newContacts(), QString());
        user.stop();
        waitFor([] { return false; }, 300);  // a pulled cable's event arrives
        EXPECT_LT(t.elapsed(), 30000 * kTimeScale);
        EXPECT_EQ(cancelled, row.cancelAt != nullptr);

        const QString shown = says();
        if (row.words) {
            EXPECT_TRUE(shown.contains(row.words)) << shown.toStdString();
        } else {
            EXPECT_TRUE(shown.isEmpty()) << shown.toStdString();
        }
        const bool mayBe = shown.contains(kMayBe) || shown.contains(kWithoutDetails) ||
                           shown.contains(kCancelMayBe);
        EXPECT_EQ(mayBe, row.mayBe) << shown.toStdString();
        EXPECT_EQ(shown.contains("not written"), row.notWritten) << shown.toStdString();
        EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), row.holds);
        // What the re-read after a write in doubt shows is what the phone holds.
        if (shown.contains("were read again")) {
            EXPECT_TRUE(shown.contains(QString("it holds %1 contacts.").arg(row.holds)))
                << shown.toStdString();
        }
        phoneServer()->detach(phone->udid());
    }
}

// The cable pulled after the phone applied the last batch's contact records, before its answer:
// plugged in again and read, a second restore completes those contacts instead of adding them
// twice.
TEST_F(BatchEndingsTest, RestoringAgainAfterAnUnansweredBatchAddsNoContactTwice) {
    auto phone = plugIn(110, 3);
    const char* const kNumber = "com.apple.contacts.Phone Number";
    const size_t numbers = phone->recordIds(kNumber).size();
    phone->updateScenario(fault(at(kChanges, 5, K::UnplugBeforeAnswer)));
    win->transfer2IOS(newContacts(), QString());
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.isEmpty(); }));
    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), 33u);
    EXPECT_EQ(phone->recordIds(kNumber).size(), numbers + 20);

    phone->updateScenario([](fakedevice::Scenario& s) { s = fakedevice::Scenario(); });
    phoneServer()->attach(phone);
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }));
    Boxes::instance().reset();
    win->transfer2IOS(newContacts(), QString());
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(phone->recordIds("com.apple.contacts.Contact").size(), 33u);
    EXPECT_EQ(phone->recordIds(kNumber).size(), numbers + 30);
}

// An edit of a contact's name (one message, then the finish) ended before its message left,
// after it left and the phone applied it, and by the phone's cancel in its place: only the
// first is said not to be saved without a word of what may be on the phone.
TEST_F(BatchEndingsTest, AnEditEndedAtEachPointSaysWhatThePhoneMayHold) {
    const struct {
        std::function<void(fakedevice::Scenario&)> set;
        bool mayBe;
        bool onPhone;  // the new name is on the phone
    } cases[] = {
        {fault(at(kStart, 1, K::Unplug)), false, false},
        {fault(at(kChanges, 1, K::UnplugBeforeAnswer)), true, true},
        {[](fakedevice::Scenario& s) { s.cancelAtProcessChanges = 0; }, true, false},
    };
    unsigned n = 120;
    for (const auto& c : cases) {
        SCOPED_TRACE(n);
        auto phone = plugIn(n++, 2);
        phone->updateScenario(c.set);
        choosers.editForm = [](EditContactForm& form) {
            form.editor()->nameEdit.firstName->setText("Edited");
            form.form().btnSave->click();
            return form.result();
        };
        QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                                  Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
        ASSERT_TRUE(waitFor([] { return Boxes::instance().count(QMessageBox::Critical) == 1; }))
            << Boxes::instance().dump().toStdString();
        const QString shown = says();
        EXPECT_TRUE(shown.contains("This edit was not saved on the phone in full"))
            << shown.toStdString();
        EXPECT_EQ(shown.contains("the part being sent when it failed may be on it"), c.mayBe)
            << shown.toStdString();
        bool edited = false;
        for (const std::string& id : phone->recordIds("com.apple.contacts.Contact")) {
            edited = edited || phone->record(id).stringAt("first name") == "Edited";
        }
        EXPECT_EQ(edited, c.onPhone);
        phoneServer()->detach(phone->udid());
    }
}

// The main window with phones as people have them: iCloud Contacts on, locked, "Trust" not yet
// tapped or declined, a pairing the phone forgot, a refused TLS handshake, a cable pulled in
// the middle of a read, a silent phone cancelled, slow replies and large photos. Every failure
// ends within seconds in one message that names its cause in words, and leaves no node and no
// rows behind.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <functional>

#include "app/mainwindow_form.h"
#include "ui/progressform.h"
#include "tests/fakedevice/fakedevice.h"
#include "platform/mobilesync/phonecall.h"
#include "store/combinerule.h"
#include "store/data_path_util.h"
#include "store/localdb.h"
#include "tests/timing.h"
#include "testutil.h"
#include "windowfixture.h"

using namespace twtest;

namespace {

class RealPhoneTest : public WindowTest {
protected:
    std::shared_ptr<fakedevice::Phone> plugIn(unsigned n, int contacts) {
        udid = fakedevice::makeUdid(n);
        auto phone = std::make_shared<fakedevice::Phone>(udid, "Real");
        phone->generateContacts(contacts);
        return phone;
    }
    // Plugs the phone in, opens the window and waits for the device road's one error box.
    QString failureShown(const std::shared_ptr<fakedevice::Phone>& phone) {
        phoneServer()->attach(phone);
        QElapsedTimer t;
        t.start();
        open();
        EXPECT_TRUE(waitFor([] { return Boxes::instance().count(QMessageBox::Critical) == 1; },
                            10000 * kTimeScale))
            << Boxes::instance().dump().toStdString();
        // What takes a second here takes several under AddressSanitizer on a loaded machine.
        EXPECT_LT(t.elapsed(), 10000 * kTimeScale);
        waitFor([] { return false; }, 100);
        EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
            << Boxes::instance().dump().toStdString();
        EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
        for (const Box& b : Boxes::instance().shown) {
            if (b.icon == QMessageBox::Critical) {
                return b.text;
            }
        }
        return QString();
    }
    bool mirrorEmpty() {
        LocalDb mirror(
            g_dataSaveDir().absoluteFilePath("ios_cache/" + QString::fromStdString(udid)),
            QSharedPointer<AbsContactCombineRule>(new IOSContactCombineRule));
        return mirror.contacts().isEmpty();
    }
    ProgressForm* visibleForm() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* f = qobject_cast<ProgressForm*>(w);
            if (f && f->isVisible()) {
                return f;
            }
        }
        return nullptr;
    }
    std::string udid;
};

}  // namespace

TEST_F(RealPhoneTest, ICloudContactsRefusedSaysHowToSyncThemOverUsb) {
    auto phone = plugIn(31, 5);
    phone->emulateICloudContacts(true);
    const QString shown = failureShown(phone);
    EXPECT_TRUE(shown.contains("its contacts are kept in iCloud")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("No Data Store available for data class")) << shown.toStdString();
    EXPECT_LT(shown.indexOf("iCloud"), shown.indexOf("mobiledevice_sync_start_throw"));
    EXPECT_TRUE(mirrorEmpty());
    // The phone's tethered-sync value keeps its keys; only the flag changed.
    const fakedevice::Plist v = phone->lockdownValue("com.apple.mobile.tethered_sync", "Contacts");
    EXPECT_EQ(v.stringAt("SyncingOS"), "iOS");
    EXPECT_EQ(v.keys().size(), 2u);
}

TEST_F(RealPhoneTest, AnEmptyICloudPhoneSaysWhyNoContactCame) {
    auto phone = plugIn(32, 0);
    phone->emulateICloudContacts(false);
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
        << Boxes::instance().dump().toStdString();
    EXPECT_TRUE(
        Boxes::instance().contains(QMessageBox::Information, "it keeps its contacts in iCloud"))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0);
}

TEST_F(RealPhoneTest, LockedUntrustedAndForgottenPhonesNameTheirCause) {
    struct Case {
        std::function<void(fakedevice::Phone&)> set;
        const char* words;
        const char* detail;
    } cases[] = {
        {[](fakedevice::Phone& p) {
             p.updateScenario([](fakedevice::Scenario& s) { s.locked = true; });
         },
         "The phone is locked. Unlock it with its passcode", "start service failed. return -17."},
        {[](fakedevice::Phone& p) { p.setTrust(fakedevice::Trust::Declined); },
         "The phone does not trust this computer", "return -18."},
        {[](fakedevice::Phone& p) {
             p.updateScenario([](fakedevice::Scenario& s) {
                 s.lockdownErrors["StartSession"] = "InvalidHostID";
             });
         },
         "no longer knows this computer", "return -21."},
        {[](fakedevice::Phone& p) {
             p.updateScenario([](fakedevice::Scenario& s) { s.tlsRefused = true; });
         },
         "refused the secure connection", "return -5."},
    };
    unsigned n = 33;
    for (const Case& c : cases) {
        Boxes::instance().reset();
        win.reset();
        auto phone = plugIn(n++, 4);
        c.set(*phone);
        const QString shown = failureShown(phone);
        EXPECT_TRUE(shown.contains(c.words)) << shown.toStdString();
        EXPECT_TRUE(shown.contains(c.detail)) << shown.toStdString();
        EXPECT_FALSE(shown.contains("stopped answering")) << shown.toStdString();
        EXPECT_TRUE(mirrorEmpty());
        phoneServer()->detach(udid);
    }
}

TEST_F(RealPhoneTest, TrustTappedLaterIsReadWithoutARePlug) {
    auto phone = plugIn(40, 6);
    phone->setTrust(fakedevice::Trust::Pending);
    phoneServer()->attach(phone);
    QString status;
    QString timeLeft;
    bool statusWhole = false;
    bool tipsBeforeTap = false;
    const QString tips = "IDS_IPHONE_CONNECTIONS_CONTACTS_SYNC_TIPS";
    QTimer tap;
    QObject::connect(&tap, &QTimer::timeout, [&] {
        if (ProgressForm* f = visibleForm()) {
            auto* label = f->findChild<QLabel*>("lbStatus");
            if (label) {
                status = label->text();
            }
            // The user reads the request, and how long the program still waits, before tapping.
            if (status.contains("Trust") && timeLeft.isEmpty()) {
                // Every line of the wrapped text fits in the label, inside the dialog.
                statusWhole =
                    label->wordWrap() && label->height() >= label->heightForWidth(label->width()) &&
                    label->geometry().bottom() < f->findChild<QWidget*>("progressBar")->y();
                timeLeft = f->findChild<QLabel*>("lbProgress")->text();
                tipsBeforeTap = Boxes::instance().contains(QMessageBox::Information, tips);
                phone->setTrust(fakedevice::Trust::Trusted);  // the user taps "Trust"
                tap.stop();
            }
        }
    });
    tap.start(50);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }, 10000))
        << Boxes::instance().dump().toStdString() << status.toStdString();
    EXPECT_TRUE(status.contains("Tap \"Trust\" on the phone and enter its passcode."))
        << status.toStdString();
    EXPECT_TRUE(statusWhole) << "the request is cut short";
    EXPECT_TRUE(timeLeft.contains(QRegularExpression("^[01]:[0-5][0-9] left$")))
        << timeLeft.toStdString();
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    EXPECT_FALSE(mirrorEmpty());
    // The connection tips come once, after the phone trusts this computer; a re-read of the
    // same plug-in does not show them again.
    EXPECT_FALSE(tipsBeforeTap);
    int tipsShown = 0;
    for (const Box& b : Boxes::instance().shown) {
        tipsShown += b.text.contains(tips) ? 1 : 0;
    }
    EXPECT_EQ(tipsShown, 1) << Boxes::instance().dump().toStdString();
}

TEST_F(RealPhoneTest, CancelWhileWaitingForTrustEndsTheRoadAtOnce) {
    auto phone = plugIn(46, 3);
    phone->setTrust(fakedevice::Trust::Pending);
    phoneServer()->attach(phone);
    QElapsedTimer sinceCancel;
    qint64 backAfter = -1;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        ProgressForm* f = visibleForm();
        if (!sinceCancel.isValid() && f) {
            QObject::connect(f, &QObject::destroyed, [&] { backAfter = sinceCancel.elapsed(); });
            Boxes::instance().answerNext(true);
            sinceCancel.start();
            emit f->findChild<QPushButton*>("btnCancel")->pressed();  // confirmed
        }
    });
    user.start(100);
    open();
    ASSERT_TRUE(waitFor([&] { return backAfter >= 0; }, 10000))
        << Boxes::instance().dump().toStdString();
    EXPECT_LT(backAfter, 1000 * kTimeScale);
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    EXPECT_TRUE(phone->syncSessions().empty());
}

TEST_F(RealPhoneTest, ACablePulledMidReadSaysNothingWasKept) {
    auto phone = plugIn(41, 40);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 10;
        s.faults = {{fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 2,
                     fakedevice::FaultKind::Unplug, 0, 1}};
    });
    const QString shown = failureShown(phone);
    EXPECT_TRUE(shown.contains("The phone was disconnected. Nothing of this read was kept."))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains("mobilesync_receive_changes failed. return -256."));
    EXPECT_TRUE(mirrorEmpty());
}

TEST_F(RealPhoneTest, CancelOnASilentPhoneGivesTheWindowBackAtOnce) {
    auto phone = plugIn(42, 30);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 10;
        // After its first batch the phone goes silent for far longer than the test.
        s.faults = {{fakedevice::kServiceSync, "SDMessageAcknowledgeChangesFromDevice", 1,
                     fakedevice::FaultKind::Delay, 20000, 1}};
    });
    phoneServer()->attach(phone);
    QElapsedTimer sinceCancel;
    qint64 backAfter = -1;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        ProgressForm* f = visibleForm();
        if (!sinceCancel.isValid() && f &&
            phone->countRequests(fakedevice::kServiceSync,
                                 "SDMessageAcknowledgeChangesFromDevice") >= 1) {
            // The road's dialog goes when the road has ended and the window takes input.
            QObject::connect(f, &QObject::destroyed, [&] { backAfter = sinceCancel.elapsed(); });
            Boxes::instance().answerNext(true);
            sinceCancel.start();
            emit f->findChild<QPushButton*>("btnCancel")->pressed();  // confirmed
        }
    });
    user.start(100);
    open();
    ASSERT_TRUE(waitFor([&] { return backAfter >= 0; }, 10000))
        << Boxes::instance().dump().toStdString();
    EXPECT_LT(backAfter, 1000 * kTimeScale);
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0)
        << Boxes::instance().dump().toStdString();
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    EXPECT_TRUE(mirrorEmpty());
}

TEST_F(RealPhoneTest, SlowRepliesAndLargePhotosStillRead) {
    udid = fakedevice::makeUdid(43);
    auto phone = std::make_shared<fakedevice::Phone>(udid, "Photos");
    fakedevice::GenerateOptions big;
    big.photoEvery = 1;
    big.photoBytes = 2u << 20;
    // One message of 68 MiB, past the 64 MiB any other list may have, and small enough that
    // a sanitized build on a busy machine has it ready well inside the phone's two minutes.
    phone->generateContacts(34, big);
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.batchSize = 0;  // all 34 contacts with their photos in one message
        for (const char* service : {fakedevice::kServiceLockdown, fakedevice::kServiceSync}) {
            s.faults.push_back({service, "", 0, fakedevice::FaultKind::Delay, 30, 0});
        }
    });
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }, 6 * kMarginMs))
        << Boxes::instance().dump().toStdString();
    EXPECT_EQ(Boxes::instance().count(QMessageBox::Critical), 0);
    Tree::_DBItemNode* node = dbChild(tree().deviceRoot(), 0);
    ASSERT_TRUE(node && node->db);
    EXPECT_EQ(node->db->contacts().size(), 34);
}

TEST_F(RealPhoneTest, AnEditCutShortByThePulledCableIsSaidToBeLost) {
    auto phone = plugIn(44, 2);
    phoneServer()->attach(phone);
    open();
    ASSERT_TRUE(waitFor([&] { return tree().deviceRoot()->children.size() == 1; }))
        << Boxes::instance().dump().toStdString();
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {{fakedevice::kServiceSync, "SDMessageProcessChanges", 1,
                     fakedevice::FaultKind::Unplug, 0, 1}};
    });
    Boxes::instance().reset();
    choosers.editForm = [](EditContactForm& form) {
        form.editor()->nameEdit.firstName->setText("Lost");
        form.form().btnSave->click();
        return form.result();
    };
    QElapsedTimer t;
    t.start();
    QMetaObject::invokeMethod(win.get(), "onContactsTreeItemDoubleClicked",
                              Q_ARG(QModelIndex, win->contactsModel().indexOfPos(0)));
    waitFor([] { return false; }, 300);  // the unplug event arrives
    EXPECT_LT(t.elapsed(), 10000);
    ASSERT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
        << Boxes::instance().dump().toStdString();
    const QString shown = Boxes::instance().shown.front().text;
    EXPECT_TRUE(shown.contains("The phone was disconnected.")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("This edit was not saved on the phone in full"))
        << shown.toStdString();
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
    for (const std::string& id : phone->recordIds("com.apple.contacts.Contact")) {
        EXPECT_NE(phone->record(id).stringAt("first name"), "Lost");
    }
}

TEST_F(RealPhoneTest, ARestoreCutShortSaysHowManyContactsThePhoneTook) {
    auto phone = plugIn(45, 0);
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
    // The cable is pulled as the third change message arrives: what came before stays.
    phone->updateScenario([](fakedevice::Scenario& s) {
        s.faults = {{fakedevice::kServiceSync, "SDMessageProcessChanges", 3,
                     fakedevice::FaultKind::Unplug, 0, 1}};
    });
    Boxes::instance().reset();
    win->transfer2IOS(contacts, QString());
    waitFor([] { return false; }, 300);  // the unplug event arrives
    ASSERT_EQ(Boxes::instance().count(QMessageBox::Critical), 1)
        << Boxes::instance().dump().toStdString();
    const QString shown = Boxes::instance().shown.back().text;
    const int onPhone = int(phone->recordIds("com.apple.contacts.Contact").size());
    EXPECT_GT(onPhone, 0);
    EXPECT_LT(onPhone, 30);
    EXPECT_TRUE(shown.contains("The phone was disconnected.")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QString("The phone took %1 of the 30 contacts").arg(onPhone)))
        << shown.toStdString();
    EXPECT_TRUE(tree().deviceRoot()->children.isEmpty());
}

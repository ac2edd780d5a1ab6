// A simulated iPhone per test, its mirror database read from it by the real reader, and a
// helper that runs a worker under a real progress dialog with the message boxes answered.
#pragma once

#include <gtest/gtest.h>
#include <usbmuxd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "ui/progressform.h"
#include "tests/messageboxhook.h"
#include "ui/tips.h"
#include "device/workers/iossynctopcthread.h"
#include "tests/fakedevice/fakedevice.h"
#include "store/combinerule.h"
#include "store/localdb.h"

using namespace std::chrono_literals;

// Every message box shown, by icon and text.
struct ShownBoxes {
    QStringList infos;
    QStringList errors;
    void install() {
        g_setMessageBoxHook([this](QMessageBox& box) {
            (box.icon() == QMessageBox::Critical ? errors : infos).append(box.text());
            return int(QMessageBox::Ok);
        });
    }
    void clear() {
        infos.clear();
        errors.clear();
    }
};

class WorkersTest : public ::testing::Test {
protected:
    void SetUp() override {
        libusbmuxd_set_use_inotify(0);
        fakedevice::ignoreSigpipe();
        server = std::make_unique<fakedevice::Server>(dir.socketPath());
        mux = std::make_unique<fakedevice::ScopedMuxAddress>(server->socketAddress());
        phone = std::make_shared<fakedevice::Phone>(fakedevice::makeUdid(7), "Test Phone");
        server->attach(phone);
        udid = QString::fromStdString(phone->udid());
        boxes.install();
    }
    void TearDown() override {
        mirror.reset();
        server.reset();
        mux.reset();
        g_setMessageBoxHook(MessageBoxHook());
    }

    static QSharedPointer<LocalDb> newDb(const QString& path, bool device) {
        QSharedPointer<AbsContactCombineRule> rule(
            device ? static_cast<AbsContactCombineRule*>(new IOSContactCombineRule)
                   : static_cast<AbsContactCombineRule*>(new LocalDbCombineRule));
        QSharedPointer<LocalDb> db(new LocalDb(path, rule));
        db->create();
        return db;
    }

    // Runs the worker under a progress dialog the way the main window does; returns exec().
    // onTick runs on the GUI thread every few milliseconds while the dialog is open.
    int runUnderForm(const std::function<QThread*(ProgressForm*)>& make,
                     const std::function<void(ProgressForm&)>& onTick = nullptr) {
        ProgressForm form(QString(), nullptr);
        std::unique_ptr<QThread> worker(make(&form));
        QTimer timer;
        if (onTick) {
            QObject::connect(&timer, &QTimer::timeout, [&] { onTick(form); });
            timer.start(3);
        }
        worker->start(QThread::InheritPriority);
        const int rc = form.exec();
        timer.stop();
        worker->wait();
        lastRejected = form.rejected;
        return rc;
    }

    // A fresh mirror read from the phone by the real reader.
    QSharedPointer<LocalDb> readPhone(const QString& name = "mirror") {
        QSharedPointer<LocalDb> db = newDb(tmp.filePath(name), true);
        const int rc = runUnderForm(
            [&](ProgressForm* f) { return new IOSSyncToPCThread(udid, db.data(), f); });
        EXPECT_EQ(rc, 1) << boxes.errors.join("\n").toStdString();
        boxes.infos.clear();  // an empty phone's word on why no contact came
        return db;
    }

    fakedevice::TempDir dir;
    QTemporaryDir tmp;
    std::unique_ptr<fakedevice::Server> server;
    std::unique_ptr<fakedevice::ScopedMuxAddress> mux;
    std::shared_ptr<fakedevice::Phone> phone;
    QString udid;
    QSharedPointer<LocalDb> mirror;
    ShownBoxes boxes;
    bool lastRejected = false;
};

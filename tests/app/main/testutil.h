#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTextDocument>
#include <QMessageBox>
#include <QString>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <vector>

#include "app/choosers.h"
#include "app/mainwindow.h"
#include "tests/messageboxhook.h"
#include "tests/timing.h"
#include "ui/tips.h"
#include "app/ui/updatecheck.h"
#include "editor/contactdisplayer.h"
#include "store/combinerule.h"
#include "store/data_path_util.h"
#include "store/localdb.h"

namespace twtest {

// The test's answers to the window's questions; a question without one opens the real dialog.
struct ChooserScripts {
    std::function<QString(QWidget* parent, const QString& defaultName)> dbName;
    std::function<bool(QWidget* parent, LocalDb* db, quint64& groupId, QString& groupName)> group;
    std::function<QString(QWidget* parent, const QString& filters, QString* selectedFilter)>
        openFile;
    // Returns the entry to pick; it is triggered as the real menu does.
    std::function<QAction*(QMenu& menu)> contextMenu;
    std::function<QString(QWidget* parent, const QString& defaultPath, const QString& filters,
                          QString* selectedFilter)>
        saveFile;
    std::function<int(EditContactForm& form)> editForm;
    std::function<void*(QWidget* parent, const QString& label,
                        const QList<DataSourceSelForm::_SelItem>& items)>
        dataSource;
    std::function<int(LoadItunesBackupDlg& dlg)> backupChooser;
    std::function<int(PasscodeDlg& dlg)> passcode;
};

class ScriptedChoosers : public Choosers {
public:
    explicit ScriptedChoosers(const ChooserScripts& scripts) : s(scripts) {}

    QString dbName(QWidget* parent, const QString& defaultName) override {
        return s.dbName ? s.dbName(parent, defaultName) : real.dbName(parent, defaultName);
    }
    bool group(QWidget* parent, LocalDb* db, quint64& groupId, QString& groupName) override {
        return s.group ? s.group(parent, db, groupId, groupName)
                       : real.group(parent, db, groupId, groupName);
    }
    QString openFile(QWidget* parent, const QString& filters, QString* selectedFilter) override {
        return s.openFile ? s.openFile(parent, filters, selectedFilter)
                          : real.openFile(parent, filters, selectedFilter);
    }
    QString saveFile(QWidget* parent, const QString& defaultPath, const QString& filters,
                     QString* selectedFilter) override {
        return s.saveFile ? s.saveFile(parent, defaultPath, filters, selectedFilter)
                          : real.saveFile(parent, defaultPath, filters, selectedFilter);
    }
    QAction* contextMenu(QMenu& menu) override {
        if (!s.contextMenu) {
            return real.contextMenu(menu);
        }
        QAction* a = s.contextMenu(menu);
        if (a && a->isEnabled()) {
            a->trigger();
        }
        return a;
    }
    int editForm(EditContactForm& form) override {
        return s.editForm ? s.editForm(form) : real.editForm(form);
    }
    void* dataSource(QWidget* parent, const QString& label,
                     const QList<DataSourceSelForm::_SelItem>& items) override {
        return s.dataSource ? s.dataSource(parent, label, items)
                            : real.dataSource(parent, label, items);
    }
    int backupChooser(LoadItunesBackupDlg& dlg) override {
        return s.backupChooser ? s.backupChooser(dlg) : real.backupChooser(dlg);
    }
    int passcode(PasscodeDlg& dlg) override {
        return s.passcode ? s.passcode(dlg) : real.passcode(dlg);
    }

private:
    const ChooserScripts& s;
    DialogChoosers real;
};

// Every message box the program showed, answered without a modal loop.
struct Box {
    QMessageBox::Icon icon;
    QString text;
};

class Boxes {
public:
    static Boxes& instance() {
        static Boxes b;
        return b;
    }
    void install() {
        g_setMessageBoxHook([this](QMessageBox& box) { return answer(box); });
    }
    void reset() {
        shown.clear();
        answers.clear();
    }
    // Queue the answers of the next questions (true = Yes).
    void answerNext(bool yes) { answers.push_back(yes); }
    int count(QMessageBox::Icon icon) const {
        int n = 0;
        for (const Box& b : shown) {
            n += b.icon == icon ? 1 : 0;
        }
        return n;
    }
    bool contains(QMessageBox::Icon icon, const QString& part) const {
        for (const Box& b : shown) {
            if (b.icon == icon && b.text.contains(part)) {
                return true;
            }
        }
        return false;
    }
    QString dump() const {
        QString s;
        for (const Box& b : shown) {
            s += QString("[%1] %2\n").arg(int(b.icon)).arg(b.text);
        }
        return s;
    }
    std::vector<Box> shown;
    std::deque<bool> answers;

private:
    int answer(QMessageBox& box) {
        shown.push_back({box.icon(), box.text()});
        if (box.button(QMessageBox::Yes)) {
            bool yes = true;
            if (!answers.empty()) {
                yes = answers.front();
                answers.pop_front();
            }
            return yes ? QMessageBox::Yes : QMessageBox::No;
        }
        return QMessageBox::Ok;
    }
};

// Runs the event loop until pred holds or ms have passed.
inline bool waitFor(const std::function<bool()>& pred, int ms = kMarginMs) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// The home folder the tests may empty: the one CTest gives the test program. Run by hand, a
// test would otherwise empty the user's own home, data folder and phone backups.
inline QString testHome() {
    const QByteArray home = qgetenv("HOME");
    if (home.isEmpty() || home != qgetenv("TW_TEST_HOME")) {
        std::fprintf(stderr,
                     "Refusing to run: HOME is not this test's own folder. Run the test "
                     "through ctest, or set HOME and TW_TEST_HOME to one empty folder.\n");
        std::exit(2);
    }
    return QString::fromLocal8Bit(home);
}

// Empties the data folder and marks the update check as just done (no network).
inline void freshDataFolder() {
    testHome();
    QDir root = g_dataSaveDir();
    for (const QString& name : root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        QFileInfo fi(root.absoluteFilePath(name));
        if (fi.isDir()) {
            QDir(fi.absoluteFilePath()).removeRecursively();
        } else {
            QFile::remove(fi.absoluteFilePath());
        }
    }
    QFile ts(UpdateCheck::timestampPath());
    if (ts.open(QIODevice::WriteOnly)) {
        ts.write(QByteArray::number(QDateTime::currentSecsSinceEpoch()));
    }
}

// The display pane's texts, one label a line.
inline QString paneText(const ContactDisplayer* pane) {
    QStringList out;
    if (pane->contentWidget()) {
        for (const QLabel* l : pane->contentWidget()->findChildren<QLabel*>()) {
            out << l->text();
        }
    }
    return out.join("\n");
}

inline bool paneEmpty(const ContactDisplayer* pane) {
    return pane->shownContact()._id == 0 && pane->shownContact().fullName.isEmpty();
}

// True when a label that renders markup holds `raw` unescaped.
inline bool paneRendersMarkup(const ContactDisplayer* pane, const QString& raw) {
    if (!pane->contentWidget()) {
        return false;
    }
    for (const QLabel* l : pane->contentWidget()->findChildren<QLabel*>()) {
        const bool rich = l->textFormat() == Qt::RichText ||
                          (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(l->text()));
        if (rich && l->text().contains(raw)) {
            return true;
        }
    }
    return false;
}

inline pim::_Contact makeContact(const QString& first, const QString& last,
                                 const QString& phone = QString(),
                                 const QString& email = QString()) {
    pim::Entity name;
    name.fields["data2"] = first;
    name.fields["data3"] = last;
    name.fields["data1"] = name.fullName();
    pim::_Contact c(0, QString(), name.fullName());
    c.entities[pim::ENTITY_NAME].append(name);
    if (!phone.isEmpty()) {
        pim::Entity p;
        p.fields["data1"] = phone;
        p.fields["data2"] = 2;
        c.entities[pim::ENTITY_PHONE].append(p);
    }
    if (!email.isEmpty()) {
        pim::Entity e;
        e.fields["data1"] = email;
        e.fields["data2"] = 1;
        c.entities[pim::ENTITY_EMAIL].append(e);
    }
    return c;
}

// Creates a database file from the template and stores the contacts in it.
inline void makeDb(const QString& path, const QList<pim::_Contact>& contacts, bool device = false) {
    QSharedPointer<AbsContactCombineRule> rule(
        device ? static_cast<AbsContactCombineRule*>(new IOSContactCombineRule)
               : static_cast<AbsContactCombineRule*>(new LocalDbCombineRule));
    LocalDb db(path, rule);
    db.create();
    db.beginEdit();
    for (const pim::_Contact& c : contacts) {
        pim::_Contact out;
        bool existed = false;
        db.combineContact(c, out, existed);
    }
    db.endEdit(true);
    db.close();
}

}  // namespace twtest

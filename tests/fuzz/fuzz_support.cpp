#include "fuzz_support.h"

#include "tests/messageboxhook.h"
#include "ui/tips.h"

#include "store/localdb.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

namespace fuzz {

void ensureApp() {
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the process
}

void deleteLaterNow() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void answerMessageBoxes(bool accept) {
    g_setMessageBoxHook([accept](QMessageBox& box) {
        for (QAbstractButton* button : box.buttons()) {
            if (accept && box.buttonRole(button) == QMessageBox::AcceptRole) {
                button->click();
                break;
            }
        }
        return 0;
    });
}

QString dir() {
    static QTemporaryDir folder;
    return folder.path();
}

QString path(const QString& name) {
    return dir() + QLatin1Char('/') + name;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() &&
           f.flush();
}

LocalDb& freshDb() {
    static LocalDb db(path(QStringLiteral("contacts.db")),
                      QSharedPointer<AbsContactCombineRule>(new LocalDbCombineRule));
    db.create();
    db.open_check();
    return db;
}

uint8_t Reader::byte() {
    if (!n)
        return 0;
    --n;
    return *p++;
}

QByteArray Reader::bytes() {
    const size_t len = std::min<size_t>(byte(), n);
    QByteArray out(reinterpret_cast<const char*>(p), int(len));
    p += len;
    n -= len;
    return out;
}

QByteArray Reader::bytes16() {
    const size_t high = byte();
    const size_t len = std::min<size_t>(high << 8 | byte(), n);
    QByteArray out(reinterpret_cast<const char*>(p), int(len));
    p += len;
    n -= len;
    return out;
}

QByteArray Reader::rest() {
    QByteArray out(reinterpret_cast<const char*>(p), int(n));
    p += n;
    n = 0;
    return out;
}

}  // namespace fuzz

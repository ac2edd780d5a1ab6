// Helpers shared by the editor tests.
#pragma once

#include <QBuffer>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QMessageBox>
#include <QSharedPointer>
#include <QTemporaryDir>
#include <QToolButton>

#include <memory>

#include "tests/messageboxhook.h"
#include "ui/tips.h"
#include "editor/filedialogs.h"
#include "store/localdb.h"

inline pim::Entity ent(std::initializer_list<std::pair<const char*, QVariant> > kv,
                       unsigned long long id = 0, const QString& srcId = QString()) {
    pim::Entity e(id, srcId);
    for (const auto& p : kv)
        e.fields.insert(QLatin1String(p.first), p.second);
    return e;
}

inline QByteArray imageBytes(int w, int h, const char* format, QColor color = Qt::red) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(color);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format);
    return bytes;
}

// Runs queued deferred deletions (removed rows, replaced content).
inline void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Answers every message box with the given button and records its text.
struct BoxRecorder {
    QStringList texts;
    QList<QMessageBox::Icon> icons;
    explicit BoxRecorder(QMessageBox::StandardButton answer = QMessageBox::Ok) {
        g_setMessageBoxHook([this, answer](QMessageBox& box) {
            texts << box.text();
            icons << box.icon();
            return int(answer);
        });
    }
    ~BoxRecorder() { g_setMessageBoxHook(MessageBoxHook()); }
};

// Answers the editor's file choosers with a fixed path, recording what they were asked.
struct FileChooser : EditorFileDialogs {
    QString answer;
    QStringList asked;
    QList<bool> saves;
    explicit FileChooser(QString path) : answer(std::move(path)) { g_setEditorFileDialogs(this); }
    ~FileChooser() override { g_setEditorFileDialogs(nullptr); }
    QString saveFileName(const QString& proposedPath) override {
        asked << proposedPath;
        saves << true;
        return answer;
    }
    QString openFileName(const QString& filter) override {
        asked << filter;
        saves << false;
        return answer;
    }
};

// A fresh contact database from the template in a temporary folder.
struct TempDb {
    explicit TempDb(AbsContactCombineRule* rule = new LocalDbCombineRule)
        : path(dir.filePath(QStringLiteral("t.db"))),
          db(new LocalDb(path, QSharedPointer<AbsContactCombineRule>(rule))) {
        db->create();
    }
    QTemporaryDir dir;
    QString path;
    std::unique_ptr<LocalDb> db;
};

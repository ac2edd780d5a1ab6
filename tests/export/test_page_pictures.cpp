// Pages of one name in one folder: each keeps showing its own pictures whatever is written beside
// it, a page replaced takes only its own pictures along, and an export that does not finish
// changes no other file.
#include "export_test_util.h"
#include "exportrun.h"
#include "pagefolder.h"
#include "small_disk.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace exporttest;

namespace {

const QString kForeignPage = QStringLiteral(TW_EXPORT_DATA "/web_page.htm");
// The files beside the word processor's page that it refers to.
const QStringList kForeignFiles = {"contacts_files/filelist.xml", "contacts_files/image001.png",
                                   "contacts_files/image002.jpg"};

struct Outcome : ExportReporter {
    int cancelBefore = -1;
    int asked = 0;
    QStringList succeeded, errors;
    bool cancelled() override { return ++asked == cancelBefore; }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

// Book b's person i: a photo of a colour and size of its own, so that a picture file tells
// whose it is; the third person of every book has none.
QColor colourOf(int b, int i) {
    return QColor::fromHsv((b * 97 + i * 31) % 360, 255, 220);
}
QSize sizeOf(int b, int i) {
    return QSize(10 + i, 7 + b);
}
bool hasPhoto(int i) {
    return i != 2;
}

QByteArray solidPng(const QColor& colour, const QSize& size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Three address books, each in a database of its own, so that their row ids are the same.
// Books 0 and 2 hold the same people with other photos.
struct Books {
    TempDb dbs[3];
    QList<pim::_Contact> lists[3];
    Books() {
        const char* names[2][4] = {{"Ann", "Ben", "Cid", "Dee"}, {"Eve", "Fay", "Gus", "Hal"}};
        for (int b = 0; b < 3; ++b) {
            QList<pim::_Contact> people;
            for (int i = 0; i < 4; ++i) {
                pim::_Contact c =
                    contact(QString::fromLatin1(names[b % 2][i]),
                            {{pim::ENTITY_PHONE, ent({{"data1", QString::number(5550100 + i)}})}});
                if (hasPhoto(i))
                    c.entities[pim::ENTITY_PHOTO]
                        << ent({{"data15", solidPng(colourOf(b, i), sizeOf(b, i))}});
                people << c;
            }
            lists[b] = dbs[b].storeAndReload(people);  // sorted by name, as listed above
            dbs[b].db->loadPhotos(lists[b]);
        }
    }
};

QByteArray placeholder() {
    QFile f(QStringLiteral(":res/empty_contact.png"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The pictures a page of ours shows, in page order, as paths relative to its folder.
QStringList picturesOf(const QString& page) {
    static const QRegularExpression img(QStringLiteral("<img class=\"photo\" src=\"([^\"]*)\""));
    QStringList out;
    auto it = img.globalMatch(QString::fromUtf8(readFile(page)));
    while (it.hasNext())
        out << QUrl::fromPercentEncoding(it.next().captured(1).toUtf8());
    return out;
}

// Expects the page to show book b's photos, person by person.
void expectShowsBook(const QDir& dir, const QString& page, int b, const std::string& what) {
    const QStringList pictures = picturesOf(dir.filePath(page));
    ASSERT_EQ(pictures.size(), 4) << what;
    for (int i = 0; i < 4; ++i) {
        const QString file = dir.filePath(pictures.at(i));
        if (!hasPhoto(i)) {
            EXPECT_EQ(readFile(file), placeholder()) << what << " " << file.toStdString();
            continue;
        }
        const QImage image(file);
        ASSERT_EQ(image.size(), sizeOf(b, i)) << what << " " << file.toStdString();
        const QColor seen = image.pixelColor(image.width() / 2, image.height() / 2);
        const QColor want = colourOf(b, i);
        EXPECT_LE(qAbs(seen.red() - want.red()) + qAbs(seen.green() - want.green()) +
                      qAbs(seen.blue() - want.blue()),
                  24)
            << what << " " << file.toStdString();
    }
}

// Every file below a folder with its content (folders as "<dir>").
QMap<QString, QByteArray> snapshot(const QString& root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot | QDir::Dirs,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path),
                     QFileInfo(path).isDir() ? QByteArray("<dir>") : readFile(path));
    }
    return files;
}

// The word processor's page beside ours, with the files it refers to.
void writeForeignPage(const QDir& dir, const QString& name) {
    writeFile(dir.filePath(name), readFile(kForeignPage));
    QDir().mkpath(dir.filePath("contacts_files"));
    for (const QString& f : kForeignFiles)
        writeFile(dir.filePath(f), "bytes of " + f.toUtf8());
}

struct Step {
    const char* page;  // "contacts.htm" with book -1: the word processor's page
    int book;
    const char* folder;  // the folder it must take ("" for the word processor's page)
};

// Runs the steps into a fresh folder; after each, every page still there shows its own book,
// the word processor's files stand as written, and nothing else is left in the folder.
void runSteps(const std::vector<Step>& steps, const Books& books, const std::string& what) {
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    QMap<QString, int> pages;  // page -> book it shows (-1 the word processor's)
    for (size_t s = 0; s < steps.size(); ++s) {
        const Step& step = steps[s];
        const std::string at = what + ", step " + std::to_string(s + 1) + " " + step.page;
        if (step.book < 0) {
            writeForeignPage(dir, step.page);
        } else {
            QString path = dir.filePath(step.page);
            Outcome r;
            g_runExport(books.lists[step.book], EXPORT_HTML, path, r);
            ASSERT_EQ(r.errors, QStringList()) << at;
            EXPECT_EQ(picturesOf(path).value(0).section('/', 0, 0), step.folder) << at;
        }
        pages[step.page] = step.book;

        QSet<QString> expected;
        for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
            expected << it.key();
            if (it.value() < 0) {
                expected << "contacts_files";
                for (const QString& f : kForeignFiles) {
                    EXPECT_EQ(readFile(dir.filePath(f)), "bytes of " + f.toUtf8()) << at;
                    expected << f;
                }
                continue;
            }
            expectShowsBook(dir, it.key(), it.value(), at + " (" + it.key().toStdString() + ")");
            for (const QString& p : picturesOf(dir.filePath(it.key())))
                expected << p.section('/', 0, 0) << p;
        }
        const QStringList there = snapshot(dir.path()).keys();
        EXPECT_EQ(QSet<QString>(there.begin(), there.end()), expected) << at;
    }
}

}  // namespace

TEST(PagePictures, EachPageKeepsShowingItsOwnPictures) {
    const Books books;
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"HTML then Word",
         {{"contacts.html", 0, "contacts_files"}, {"contacts.doc", 1, "contacts_files-2"}}},
        {"Word then HTML",
         {{"contacts.doc", 0, "contacts_files"}, {"contacts.html", 1, "contacts_files-2"}}},
        {"each replaced again",
         {{"contacts.html", 0, "contacts_files"},
          {"contacts.doc", 1, "contacts_files-2"},
          {"contacts.html", 2, "contacts_files"},
          {"contacts.doc", 0, "contacts_files-2"},
          {"contacts.html", 1, "contacts_files"}}},
        {"one page again and again",
         {{"contacts.html", 0, "contacts_files"},
          {"contacts.html", 2, "contacts_files"},
          {"contacts.html", 0, "contacts_files"}}},
        {"beside a word processor's page",
         {{"contacts.htm", -1, ""},
          {"contacts.html", 0, "contacts_files-2"},
          {"contacts.doc", 1, "contacts_files-3"},
          {"contacts.html", 2, "contacts_files-2"}}},
    };
    for (const Case& c : cases)
        runSteps(c.steps, books, c.name);
}

// Replacing a page that is not ours: what it referred to goes once the new page is in place,
// and its folder serves the new page.
TEST(PagePictures, ReplacingAnotherProgramsPageTakesItsFiles) {
    const Books books;
    QTemporaryDir tmp;
    const QDir dir(tmp.path());
    writeForeignPage(dir, "contacts.htm");
    writeFile(dir.filePath("contacts_files/notes.txt"), "the user's");  // referred to by nothing
    QString path = dir.filePath("contacts.htm");
    Outcome r;
    g_runExport(books.lists[1], EXPORT_HTML, path, r);
    ASSERT_EQ(r.errors, QStringList());
    expectShowsBook(dir, "contacts.htm", 1, "replaced");
    for (const QString& f : kForeignFiles)
        EXPECT_FALSE(QFile::exists(dir.filePath(f))) << f.toStdString();
    EXPECT_EQ(readFile(dir.filePath("contacts_files/notes.txt")), "the user's");
}

// A failed or cancelled export beside other pages, or over one, leaves every file as it was.
TEST(PagePictures, UnfinishedExportChangesNoOtherFile) {
    const Books books;
    // Far more than the small disk holds, the photo written early on.
    QList<pim::_Contact> many = {books.lists[0].at(0)};
    for (int i = 0; i < 1000; ++i) {
        pim::_Contact c = contact(QStringLiteral("Person %1").arg(i),
                                  {{pim::ENTITY_NOTES, ent({{"data1", QString(200, 'n')}})}});
        c._id = i + 1;
        many << c;
    }
    struct Case {
        const char* name;
        std::vector<Step> before;
        const char* page;
    };
    const std::vector<Case> cases = {
        {"a new page beside another", {{"contacts.doc", 1, ""}}, "contacts.html"},
        {"a page replaced", {{"contacts.html", 1, ""}}, "contacts.html"},
        {"a page replaced beside another",
         {{"contacts.doc", 0, ""}, {"contacts.html", 1, ""}},
         "contacts.html"},
        {"beside a word processor's page", {{"contacts.htm", -1, ""}}, "contacts.html"},
        {"a word processor's page replaced", {{"contacts.htm", -1, ""}}, "contacts.htm"},
    };
    enum How { FullDisk, SizeLimit, Cancel };
    for (const Case& c : cases) {
        for (How how : {FullDisk, SizeLimit, Cancel}) {
            SmallDisk disk(256, how == FullDisk);
            if (how == FullDisk && !disk.mounted())
                continue;
            const std::string what = std::string(c.name) + " / " + std::to_string(int(how));
            const QDir dir(disk.path());
            for (const Step& s : c.before) {
                if (s.book < 0) {
                    writeForeignPage(dir, s.page);
                    continue;
                }
                QString path = dir.filePath(s.page);
                Outcome r;
                g_runExport(books.lists[s.book], EXPORT_HTML, path, r);
                ASSERT_EQ(r.errors, QStringList()) << what;
            }
            const QMap<QString, QByteArray> before = snapshot(disk.path());

            QString path = dir.filePath(c.page);
            Outcome r;
            r.cancelBefore = how == Cancel ? 500 : -1;
            if (how != Cancel)
                disk.arm();
            g_runExport(many, EXPORT_HTML, path, r);
            disk.disarm();
            EXPECT_TRUE(r.succeeded.isEmpty()) << what;
            EXPECT_EQ(r.errors, how == Cancel ? QStringList() : QStringList({disk.errorText()}))
                << what;
            EXPECT_EQ(snapshot(disk.path()), before) << what;
        }
    }
}

// A page uses the folders it refers to by relative paths, however its markup is written.
TEST(PagePictures, WhatAPageRefersTo) {
    using Refs = QHash<QString, QSet<QString> >;
    const struct {
        QByteArray markup;
        Refs refs;
    } cases[] = {
        {"<img class=\"photo\" src=\"my%20list_files/5.jpg\" width=\"128\" />",
         {{"my list_files", {"5.jpg"}}}},
        {"<img width=128 src=x_files/a.jpg><a href='./x_files/b.png?v=2#top'>",
         {{"x_files", {"a.jpg", "b.png"}}}},
        {"src=\"x_files/sub/c.jpg\" src=\"y_files/\"", {{"x_files", {}}, {"y_files", {}}}},
        {"src=\"http://h/x_files/1.jpg\" src=\"/x_files/1.jpg\" src=\"//h/x/1.jpg\" "
         "src=\"../x_files/1.jpg\" src=\"file:x/1.jpg\" src=\"1.jpg\"",
         {}},
        // A media type reads as a folder too: taking too much for a reference only makes a
        // folder count as used.
        {readFile(kForeignPage),
         {{"contacts_files", {"filelist.xml", "image001.png", "image002.jpg"}},
          {"text", {"html;"}}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(g_relativeRefs(c.markup), c.refs) << c.markup.left(60).toStdString();
}

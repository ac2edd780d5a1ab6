// Pages of one name in one folder: each keeps showing its own pictures whatever is written beside
// it or over it, and an export that does not finish changes no other file.
#include "export_test_util.h"
#include "export/exportrun.h"
#include "small_disk.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QUrl>
#include <gtest/gtest.h>

#include <vector>

using namespace exporttest;

namespace {

// A word processor's page (it refers to the first three files) and a file of the user's.
const QStringList kWebFiles = {"contacts_files/filelist.xml", "contacts_files/image001.png",
                               "contacts_files/image002.jpg", "contacts_files/notes.txt"};

struct Outcome : ExportReporter {
    int cancelBefore = -1, asked = 0;
    QStringList succeeded, errors;
    bool cancelled() override { return ++asked == cancelBefore; }
    void progress(QString, int, QString) override {}
    void succeed(QString m) override { succeeded << m; }
    void error(QString m) override { errors << m; }
};

// Book b's person i has a photo of a size of its own (the third none), so that a picture file
// tells whose it is. Each book is a database of its own: their row ids are the same.
QSize photoSize(int b, int i) {
    return QSize(10 + i, 7 + b);
}
struct Books {
    TempDb dbs[3];
    QList<pim::_Contact> lists[3];
    Books() {
        for (int b = 0; b < 3; ++b) {
            QList<pim::_Contact> people;
            for (int i = 0; i < 4; ++i) {
                people << contact(QStringLiteral("P%1 of %2").arg(i).arg(b), {});
                people.last().entities[pim::ENTITY_PHONE] << ent({{"data1", "5550100"}});
                if (i != 2)
                    people.last().entities[pim::ENTITY_PHOTO]
                        << ent({{"data15", imageBytes("PNG", photoSize(b, i).width(),
                                                      photoSize(b, i).height())}});
            }
            lists[b] = dbs[b].storeAndReload(people);
            dbs[b].db->loadPhotos(lists[b]);
        }
    }
};

struct Step {
    const char* page;
    int book;            // -1: the word processor's page
    const char* folder;  // the folder it takes
};

// The pictures a page refers to, in page order, relative to its folder.
QStringList picturesOf(const QString& page) {
    static const QRegularExpression img(QStringLiteral("<img class=\"photo\" src=\"([^\"]*)\""));
    QStringList out;
    for (auto it = img.globalMatch(QString::fromUtf8(readFile(page))); it.hasNext();)
        out << QUrl::fromPercentEncoding(it.next().captured(1).toUtf8());
    return out;
}

void write(const QDir& dir, const Step& step, const Books& books, const std::string& at) {
    if (step.book < 0) {
        writeFile(dir.filePath(step.page), readFile(TW_EXPORT_DATA "/web_page.htm"));
        dir.mkpath("contacts_files");
        for (const QString& f : kWebFiles)
            writeFile(dir.filePath(f), f.toUtf8());
        return;
    }
    QString path = dir.filePath(step.page);
    Outcome r;
    g_runExport(books.lists[step.book], EXPORT_HTML, path, r);
    ASSERT_EQ(r.errors, QStringList()) << at;
    EXPECT_EQ(picturesOf(path).value(0).section('/', 0, 0), step.folder) << at;
}

// Each page shows its own book's photos, the word processor's files stand as written, and the
// folder holds nothing else.
void expectOwnPictures(const QDir& dir, const QMap<QString, int>& pages, bool web,
                       const std::string& at) {
    QSet<QString> expected;
    for (auto it = pages.cbegin(); it != pages.cend(); ++it) {
        const QStringList files = it.value() < 0 ? kWebFiles : picturesOf(dir.filePath(it.key()));
        EXPECT_EQ(files.size(), 4) << at << " " << it.key().toStdString();
        expected << it.key();
        for (int i = 0; i < files.size(); ++i) {
            const QString file = dir.filePath(files.at(i));
            expected << files.at(i).section('/', 0, 0) << files.at(i);
            if (it.value() < 0)
                EXPECT_EQ(readFile(file), files.at(i).toUtf8()) << at;
            else if (i == 2)
                EXPECT_TRUE(file.endsWith("/contact.png")) << at;
            else
                EXPECT_EQ(QImage(file).size(), photoSize(it.value(), i))
                    << at << " " << file.toStdString();
        }
    }
    if (web)  // the user's file outlives the page
        expected << "contacts_files" << kWebFiles.last();
    const QStringList there = snapshot(dir.path()).keys();
    EXPECT_EQ(QSet<QString>(there.begin(), there.end()), expected) << at;
}

}  // namespace

TEST(PagePictures, EachPageKeepsShowingItsOwnPictures) {
    const Books books;
    const std::vector<std::vector<Step> > cases = {
        {{"contacts.html", 0, "contacts_files"}, {"contacts.doc", 1, "contacts_files-2"}},
        {{"contacts.doc", 0, "contacts_files"}, {"contacts.html", 1, "contacts_files-2"}},
        {{"contacts.html", 0, "contacts_files"},
         {"contacts.doc", 1, "contacts_files-2"},
         {"contacts.html", 2, "contacts_files"},
         {"contacts.doc", 0, "contacts_files-2"},
         {"contacts.html", 0, "contacts_files"}},
        // Replacing the word processor's page takes the files it referred to, and its folder.
        {{"contacts.htm", -1, ""},
         {"contacts.html", 0, "contacts_files-2"},
         {"contacts.doc", 1, "contacts_files-3"},
         {"contacts.html", 2, "contacts_files-2"},
         {"contacts.htm", 0, "contacts_files"}},
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        QTemporaryDir tmp;
        QMap<QString, int> pages;
        bool web = false;
        for (size_t s = 0; s < cases[c].size(); ++s) {
            const std::string at = "case " + std::to_string(c) + " step " + std::to_string(s);
            write(tmp.path(), cases[c][s], books, at);
            pages[cases[c][s].page] = cases[c][s].book;
            web |= cases[c][s].book < 0;
            expectOwnPictures(tmp.path(), pages, web, at);
        }
    }
}

// A failed or cancelled export beside other pages, or over one, leaves every file as it was.
TEST(PagePictures, UnfinishedExportChangesNoOtherFile) {
    const Books books;
    // Far more than the small disk holds, the first photo written early on.
    QList<pim::_Contact> many = books.lists[0];
    for (int i = 0; i < 1000; ++i)
        many << contact("More", {{pim::ENTITY_NOTES, ent({{"data1", QString(200, 'n')}})}});
    const std::vector<std::pair<std::vector<Step>, const char*> > cases = {
        {{{"contacts.doc", 1, "contacts_files"}}, "contacts.html"},
        {{{"contacts.html", 1, "contacts_files"}}, "contacts.html"},
        {{{"contacts.doc", 0, "contacts_files"}, {"contacts.html", 1, "contacts_files-2"}},
         "contacts.html"},
        {{{"contacts.htm", -1, ""}}, "contacts.html"},
        {{{"contacts.htm", -1, ""}}, "contacts.htm"},
    };
    enum How { FullDisk, SizeLimit, Cancel };
    for (size_t c = 0; c < cases.size(); ++c) {
        for (How how : {FullDisk, SizeLimit, Cancel}) {
            SmallDisk disk(256, how == FullDisk);
            if (how == FullDisk && !disk.mounted())
                continue;
            const std::string at = "case " + std::to_string(c) + " way " + std::to_string(how);
            for (const Step& s : cases[c].first)
                write(disk.path(), s, books, at);
            const QMap<QString, QByteArray> before = snapshot(disk.path());
            QString path = disk.filePath(cases[c].second);
            Outcome r;
            r.cancelBefore = how == Cancel ? 500 : -1;
            if (how != Cancel)
                disk.arm();
            g_runExport(many, EXPORT_HTML, path, r);
            disk.disarm();
            EXPECT_TRUE(r.succeeded.isEmpty()) << at;
            EXPECT_EQ(r.errors, how == Cancel ? QStringList() : QStringList(disk.errorText()))
                << at;
            EXPECT_EQ(snapshot(disk.path()), before) << at;
        }
    }
}

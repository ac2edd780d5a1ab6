// HTML export: page bytes, escaping of contact text, and the pictures folder beside the page.
#include "export_test_util.h"
#include "tests/timing.h"
#include "export/htmlexport.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace exporttest;

namespace {

const char kHead[] =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n"
    "<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\r\n"
    "<title>Quorvanteli Tellwick for Mac</title>\r\n"
    "<style type=\"text/css\">\r\n"
    ".photo{float:left;margin:5px;border:1px solid #A9A9A9;}\r\n"
    ".ct_name{font-size:24px;font-weight:bold;font-style:italic;margin-bottom:20px;}\r\n"
    ".ent_group{padding:0;margin:0;font-size:20px; font-weight:bold; font-style:italic}\r\n"
    ".ent_list{margin:0; padding:0; list-style:none; font-size:18px}\r\n"
    "</style></head>\r\n"
    "<body style=\"background-color:#F1F5FB\">\r\n";

QString group(const QString& title, const QStringList& lines) {
    QString s = "<div style=\"margin-bottom:20px;\">\r\n<h2 class=\"ent_group\">" + title +
                "</h2>\r\n<ul class=\"ent_list\">\r\n";
    for (const QString& l : lines)
        s += "<li>" + l + "</li>\r\n";
    return s + "</ul>\r\n</div>\r\n";
}

}  // namespace

TEST(HtmlExport, PageBytesAndEscaping) {
    QTemporaryDir dir;
    HtmlExport exporter(dir.filePath("x.html"));
    EXPECT_TRUE(QFileInfo(dir.filePath("x_files")).isDir());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("x.html")));  // the page is the worker's
    EXPECT_EQ(exporter.initialize({}), QByteArray(kHead));
    EXPECT_EQ(exporter.uninitialize(), QByteArray("</body></html>"));

    // No entities: the picture line and the name block only.
    EXPECT_EQ(exporter.ct2Bytes(contact("A<b>&c", {})).toStdString(),
              "<div style=\"margin-bottom:50px;\">\r\n"
              "<img class=\"photo\" src=\"x_files/contact.png\" width=\"128\" />\r\n"
              "<div class=\"ct_name\">\r\nA&lt;b&gt;&amp;c\r\n"
              "</div><div style=\"clear:both\"></div>\r\n</div>\r\n");

    const QString date = QLocale::system().toString(QDate(1980, 1, 31), QLocale::ShortFormat);
    const pim::_Contact c = contact(
        "Ann", {{pim::ENTITY_NOTES, ent({{"data1", "<script>x</script>\nnext"}})},
                {pim::ENTITY_NICKNAME, ent({{"data1", "Nan"}})},
                {pim::ENTITY_NICKNAME, ent({{"data1", "Later"}})},
                {pim::ENTITY_ORG, ent({{"data5", "R&D"}, {"data1", "Acme"}})},
                {pim::ENTITY_ORG, ent({{"data4", "CTO"}, {"data1", "B"}, {"data2", "1"}})},
                {pim::ENTITY_ORG, ent({{"data3", "Club"}, {"data5", "Chess"}})},
                {pim::ENTITY_PHONE, ent({{"data1", "1"}, {"data2", "2"}})},
                {pim::ENTITY_PHONE, ent({{"data1", "2"}, {"data3", "Lab<1>"}})},
                {pim::ENTITY_EMAIL, ent({{"data1", "a@b"}, {"data2", "2"}})},
                {pim::ENTITY_EVENT, ent({{"data1", "1980-01-31T00:00:00"}, {"data2", "3"}})},
                {pim::ENTITY_EVENT, ent({{"data1", "garbage"}, {"data2", "1"}})},
                {pim::ENTITY_IM, ent({{"data1", "h"}, {"data2", "2"}, {"data5", "4"}})},
                {pim::ENTITY_IM, ent({{"data1", "k"}, {"data6", "Own"}})},
                {pim::ENTITY_REL, ent({{"data1", "Bob"}, {"data2", "14"}})},
                {pim::ENTITY_ADDR, ent({{"data2", "1"},
                                        {"data4", "1 <Main>"},
                                        {"data7", "Town"},
                                        {"data9", "123"},
                                        {"data10", "NZ"}})},
                {pim::ENTITY_URL, ent({{"data1", "http://x?a=1&b=2"}, {"data2", "2"}})},
                {pim::ENTITY_GROUP, ent({{"data2", "hidden"}})}});
    const QString expected =
        "<div style=\"margin-bottom:50px;\">\r\n"
        "<img class=\"photo\" src=\"x_files/contact.png\" width=\"128\" />\r\n"
        "<div class=\"ct_name\">\r\n"
        "Ann<br/>\"Nan\" - R&amp;D<br/>Acme\r\n"
        "</div><div style=\"clear:both\"></div>\r\n" +
        group("Phone:", {"Mobile:1", "Lab&lt;1&gt;:2"}) + group("E-Mail:", {"Work:a@b"}) +
        group("Date:", {"Birthday:" + date, "Anniversary:"}) +
        group("IM:", {"Work:h(Skype)", "Other:k(Own)"}) +
        group("Organization:", {"Work:CTO B", "Club:Chess"}) +
        group("Relationship:", {"Spouse:Bob"}) +
        group("Address:", {"<b>Home</b><br/>1 &lt;Main&gt;<br/>Town, 123<br/>NZ"}) +
        group("Website:", {"Blog:http://x?a=1&amp;b=2"}) +
        group("Notes:", {"&lt;script&gt;x&lt;/script&gt;\nnext"}) + "</div>\r\n";
    EXPECT_EQ(QString::fromUtf8(exporter.ct2Bytes(c)).toStdString(), expected.toStdString());
}

TEST(HtmlExport, PhotosFolder) {
    QTemporaryDir dir;
    const QString out = dir.filePath("page.doc");
    HtmlExport exporter{out};
    exporter.initialize({});
    const QString photos = dir.filePath("page_files");
    const QImage placeholder(photos + "/contact.png", "PNG");
    EXPECT_FALSE(placeholder.isNull());
    EXPECT_TRUE(QFileInfo(photos + "/contact.png").isWritable());

    pim::_Contact png = contact("P", {{pim::ENTITY_PHOTO, ent({{"data15", imageBytes("PNG")}})},
                                      {pim::ENTITY_PHOTO, ent({{"data15", QByteArray("junk")}})}});
    png._id = 42;
    EXPECT_TRUE(exporter.ct2Bytes(png).contains("src=\"page_files/42.jpg\""));
    const QByteArray jpg = readFile(photos + "/42.jpg");
    ASSERT_GE(jpg.size(), 3);
    EXPECT_EQ(jpg.left(3), QByteArray("\xff\xd8\xff"));  // JPEG, whatever came in
    EXPECT_EQ(QImage(photos + "/42.jpg").size(), QSize(8, 6));

    // Unreadable or empty photo bytes fall back to the placeholder and write nothing.
    pim::_Contact junk = contact("J", {{pim::ENTITY_PHOTO, ent({{"data15", QByteArray("junk")}})}});
    junk._id = 7;
    pim::_Contact empty = contact("E", {{pim::ENTITY_PHOTO, ent({})}});
    empty._id = 8;
    EXPECT_TRUE(exporter.ct2Bytes(junk).contains("src=\"page_files/contact.png\""));
    EXPECT_TRUE(exporter.ct2Bytes(empty).contains("src=\"page_files/contact.png\""));
    EXPECT_FALSE(QFile::exists(photos + "/7.jpg"));
    EXPECT_FALSE(QFile::exists(photos + "/8.jpg"));

    // Contacts that share a row id (never stored) still each show their own picture.
    pim::_Contact a =
        contact("A", {{pim::ENTITY_PHOTO, ent({{"data15", imageBytes("JPEG", 4, 4)}})}});
    pim::_Contact b =
        contact("B", {{pim::ENTITY_PHOTO, ent({{"data15", imageBytes("PNG", 5, 5)}})}});
    EXPECT_TRUE(exporter.ct2Bytes(a).contains("src=\"page_files/0.jpg\""));
    EXPECT_TRUE(exporter.ct2Bytes(b).contains("src=\"page_files/0-2.jpg\""));
    EXPECT_EQ(QImage(photos + "/0.jpg").size(), QSize(4, 4));
    EXPECT_EQ(QImage(photos + "/0-2.jpg").size(), QSize(5, 5));
    EXPECT_TRUE(exporter.ct2Bytes(b).contains("src=\"page_files/0-3.jpg\""));
    png._id = 0;  // one whose first file name is taken by an earlier contact
    EXPECT_TRUE(exporter.ct2Bytes(png).contains("src=\"page_files/0-4.jpg\""));
    EXPECT_EQ(QImage(photos + "/0-4.jpg").size(), QSize(8, 6));
    EXPECT_EQ(QDir(photos).entryList(QDir::Files).size(), 6);  // contact.png, 42, 0, 0-2..0-4

    // A second export into the same folder keeps a placeholder that is already there.
    writeFile(photos + "/contact.png", "mine");
    HtmlExport again{out};
    again.initialize({});
    EXPECT_EQ(readFile(photos + "/contact.png"), QByteArray("mine"));
}

TEST(HtmlExport, OversizedPhotoGetsPlaceholder) {
    // A photo claiming 100 megapixels is not decoded (and re-encoded): the placeholder is named
    // and no picture file is written.
    const QByteArray& huge = oversizedPng();
    ASSERT_FALSE(huge.isEmpty());
    ASSERT_LT(huge.size(), 1024 * 1024);
    QTemporaryDir dir;
    const QString out = dir.filePath("page.html");
    HtmlExport exporter{out};
    exporter.initialize({});
    pim::_Contact c = contact("Huge", {{pim::ENTITY_PHOTO, ent({{"data15", huge}})}});
    c._id = 9;
    QElapsedTimer timer;
    timer.start();
    const QByteArray page = exporter.ct2Bytes(c);
    EXPECT_LT(timer.elapsed(), kMarginMs);
    EXPECT_TRUE(page.contains("src=\"page_files/contact.png\""));
    EXPECT_FALSE(QFile::exists(dir.filePath("page_files/9.jpg")));
    EXPECT_EQ(QDir(dir.filePath("page_files")).entryList(QDir::Files), QStringList("contact.png"));
}

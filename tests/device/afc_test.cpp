// Device file access against the simulated iPhone's file tree.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDateTime>

#include "device_fixture.h"
#include "device/mobiledevice_afc.h"

TEST_F(DeviceTest, AfcListInfoReadWriteRenameRemove) {
    phone->afcPut("/DCIM/100APPLE/IMG_0001.JPG", "jpegbytes");
    phone->afcPut("/DCIM/100APPLE/IMG_0002.JPG", "");

    mobiledevice_afc afc(udid);
    EXPECT_FALSE(afc.mkdir("/x"));  // not started: refused without a library call
    ASSERT_TRUE(afc.startService("ignored"));

    // Listings with and without the dot entries.
    const QStringList plain = afc.ls("/DCIM/100APPLE", true);
    EXPECT_EQ(plain.size(), 2);
    EXPECT_FALSE(plain.contains(".") || plain.contains(".."));
    const QStringList all = afc.ls("/DCIM/100APPLE", false);
    EXPECT_TRUE(all.contains(".") && all.contains(".."));
    EXPECT_TRUE(afc.ls("/missing", true).isEmpty());

    const QList<_AfcFileInfo> infos = afc.ls_finfo("/DCIM/100APPLE");
    ASSERT_EQ(infos.size(), 2);
    for (const _AfcFileInfo& i : infos) {
        EXPECT_TRUE(i.isFile());
        EXPECT_TRUE(i.path.startsWith("/DCIM/100APPLE/"));
    }

    // Info of a file and a folder; the modification time is recent.
    const _AfcFileInfo file = afc.fileInfo("/DCIM/100APPLE/IMG_0001.JPG");
    EXPECT_TRUE(file.isValid());
    EXPECT_EQ(file.size, 9);
    EXPECT_LT(qAbs(file.mtime.secsTo(QDateTime::currentDateTime())), 120);
    EXPECT_TRUE(afc.fileInfo("/DCIM").isDir());
    EXPECT_FALSE(afc.fileInfo("/nope").isValid());

    // Whole-file write and read, larger than the copy buffer.
    QByteArray big;
    for (int i = 0; i < 30000; ++i)
        big.append(char(i * 7));
    ASSERT_TRUE(afc.mkdir("/Books"));
    afc.writeFileContent("/Books/big.bin", big);
    EXPECT_EQ(afc.fileInfo("/Books/big.bin").size, big.size());
    EXPECT_EQ(afc.readFileContent("/Books/big.bin"), big);
    std::string onPhone;
    ASSERT_TRUE(phone->afcGet("/Books/big.bin", &onPhone));
    EXPECT_EQ(QByteArray::fromStdString(onPhone), big);

    // Empty files and files that cannot be opened.
    afc.writeFileContent("/Books/big.bin", QByteArray());
    EXPECT_EQ(afc.fileInfo("/Books/big.bin").size, 0);
    EXPECT_TRUE(afc.readFileContent("/Books/big.bin").isEmpty());
    EXPECT_TRUE(afc.readFileContent("/Books/none").isEmpty());
    QByteArray sink;
    QBuffer out(&sink);
    out.open(QIODevice::WriteOnly);
    afc.readFileContent("/DCIM/100APPLE/IMG_0001.JPG", out);
    EXPECT_EQ(sink, QByteArray("jpegbytes"));

    // Rename and remove (a folder with its contents).
    EXPECT_TRUE(afc.rename("/Books/big.bin", "/Books/moved.bin"));
    EXPECT_FALSE(afc.fileInfo("/Books/big.bin").isValid());
    EXPECT_TRUE(afc.fileInfo("/Books/moved.bin").isFile());
    EXPECT_FALSE(afc.rename("/Books/none", "/Books/x"));
    EXPECT_TRUE(afc.del("/Books"));
    EXPECT_FALSE(phone->afcExists("/Books/moved.bin"));
    EXPECT_FALSE(afc.del("/Books"));
}

TEST_F(DeviceTest, AfcFileHandles) {
    AfcFile never;
    char buf[8];
    EXPECT_EQ(never.read(buf, 8), -1);
    EXPECT_EQ(never.write("x", 1), -1);
    EXPECT_EQ(never.lock(AFC_LOCK_EX), 1);
    never.close();

    mobiledevice_afc afc(udid);
    ASSERT_TRUE(afc.startService());
    {
        AfcFile f;
        ASSERT_TRUE(afc.writeFile("/note.txt", f));
        EXPECT_EQ(f.lock(AFC_LOCK_EX), 0);
        EXPECT_EQ(f.write("hello", 5), 5);
        f.close();
        EXPECT_FALSE(f.isOpen());
    }
    AfcFile r;
    ASSERT_TRUE(afc.readFile("/note.txt", r));
    EXPECT_EQ(r.read(buf, 8), 5);
    EXPECT_EQ(r.read(buf, 8), 0);  // end of file
    r.close();
    AfcFile missing;
    EXPECT_FALSE(afc.readFile("/absent.txt", missing));
    EXPECT_FALSE(missing.isOpen());

    // A device that is not there.
    mobiledevice_afc gone(QString::fromStdString(fakedevice::makeUdid(77)));
    EXPECT_FALSE(gone.startService());
    EXPECT_TRUE(gone.ls("/", true).isEmpty());
    EXPECT_FALSE(gone.fileInfo("/").isValid());
}

TEST_F(DeviceTest, AfcGarbageRepliesGiveEmptyResults) {
    phone->afcPut("/a/b.txt", "data");
    for (const char* op : {"READ_DIR", "GET_FILE_INFO", "FILE_OPEN"}) {
        phone->updateScenario([&](fakedevice::Scenario& s) {
            s.faults = {fakedevice::Fault{fakedevice::kServiceAfc, op, 1,
                                          fakedevice::FaultKind::Garbage, 0, 0}};
        });
        mobiledevice_afc afc(udid);
        ASSERT_TRUE(afc.startService()) << op;
        EXPECT_TRUE(afc.ls("/a", true).isEmpty() || std::string(op) != "READ_DIR");
        EXPECT_FALSE(afc.fileInfo("/a/b.txt").isValid() && std::string(op) == "GET_FILE_INFO");
        EXPECT_TRUE(afc.readFileContent("/a/b.txt").isEmpty());
    }
}

// Fuzz: a backup folder whose "Manifest.plist" holds the input, read as the backup chooser reads
// every folder it lists. Gives the backup's facts or std::exception, never a crash, a hang or a
// leak. The first byte says whether "Status.plist" and "Info.plist" lie beside it (only the
// time of the first counts; neither is parsed), the rest is the manifest, binary or XML.
#include "backup/backupmanifest.h"
#include "tests/fuzz/fuzz_support.h"

#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const QString folder = [] {
        const QString f = fuzz::path(QStringLiteral("00008030-001A2B3C4D5E6F70"));
        QDir().mkpath(f);
        return f;
    }();
    const QDir d(folder);
    const QByteArray manifest(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    fuzz::writeFile(d.filePath(QStringLiteral("Manifest.plist")), manifest);
    for (const char* name : {"Status.plist", "Info.plist"}) {
        if (data[0] & 1)
            fuzz::writeFile(d.filePath(QLatin1String(name)), manifest);
        else
            QFile::remove(d.filePath(QLatin1String(name)));
    }
    BackupManifest backup(folder);
    try {
        backup.readManifestInfo();
        (void)backup.displayName.size();
        (void)backup.dirPathMd5();
        (void)backup.info.date.toString();
    } catch (const std::exception&) {
    }
    return 0;
}

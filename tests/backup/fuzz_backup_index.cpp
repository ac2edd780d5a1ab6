// Fuzz: a damaged "Manifest.mbdb" or keybag gives std::exception or data, never a crash, a hang
// or a huge allocation. The first byte picks the target.
#include "backup/backupmanifest.h"
#include "backup/keybag.h"
#include "backup/mbdbparser.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    if (data[0] & 1) {
        const _KeybagInfo info = parseKeybag(bytes);
        for (auto it = info.classKeys.constBegin(); it != info.classKeys.constEnd(); ++it)
            unwrapKeyForClass(info, it.key(), bytes.left(40));
        return 0;
    }
    static QTemporaryDir dir;
    {
        QFile f(dir.filePath(QStringLiteral("Manifest.mbdb")));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(bytes);
    }
    try {
        BackupManifest backup(dir.path());
        backup.parseInfo();
    } catch (const std::exception&) {
    }
    return 0;
}

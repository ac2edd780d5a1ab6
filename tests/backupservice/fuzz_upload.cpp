// Whatever bytes a device sends after DLMessageUploadFiles, the session neither crashes, hangs
// nor allocates what a length word claims; it ends with a status or an error.
#include "backupservice/backup2tool.h"
#include "scripted_link.h"

#include <QDir>
#include <cstdint>
#include <stdexcept>

namespace {

// Records what would be written but touches no disk.
struct DiscardHook : Backup2ToolHook {
    int recvFileOpenWrite(QDir, QString, QFile&, QString&) override { return 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QSharedPointer<Backup2ToolHook> hook(new DiscardHook);
    backup2tool tool(QStringLiteral("fuzz"), QDir(QStringLiteral("/nonexistent-fuzz-root")), hook);
    ScriptedLink link;
    // Split the input into chunks so partial reads and time-outs are exercised too.
    size_t pos = 0;
    while (pos < size) {
        const size_t n = 1 + data[pos] % 64;
        const size_t take = std::min(n, size - pos - 1);
        if (data[pos] == 0xFF)
            link.timeout();
        link.bytes(QByteArray(reinterpret_cast<const char*>(data + pos + 1), int(take)));
        pos += take + 1;
    }
    try {
        tool.recvFilesThrow(link, dlMessage(QStringLiteral("DLMessageUploadFiles")));
    } catch (const std::runtime_error&) {
    }
    return 0;
}

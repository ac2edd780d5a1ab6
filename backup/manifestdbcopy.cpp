// A filtered copy of a backup's manifest database, and sample file keys of classes 3 and 4.
#include "backupmanifest.h"

#include "platform/sqlite/sqlite3db.h"

#include <QFile>

#include <sqlite3.h>

#include <cctype>

#include <stdexcept>

struct sqlite3fun_fvalid_ctx {
    QDir dir;
    bool keepAppleDomains = false;
    QSet<QString> keptDomains;
};

namespace {

bool isHex(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() > 0x7f || !isxdigit(c.unicode()))
            return false;
    }
    return !text.isEmpty();
}

bool sqlite3fun_fvalid_check(const sqlite3fun_fvalid_ctx& ctx, const QString& fileId,
                             const QString& domain, int flags) {
    // Filled once, under the guard of the static's initialisation: safe from any thread.
    static const QSet<QString> keepItemsSet = {
        QStringLiteral("70765829101933f25994c71bbee6dfd685535bff"),
        QStringLiteral("c159d5c126017800b79c85665222fbe894c3dd77"),
        QStringLiteral("5f5e43af7970eafdc1329b189f273793e709c809"),
        QStringLiteral("80fa782261261e54bb73c0253e5b6beefb6a2f39"),
    };
    const bool appDomain = domain.startsWith(QLatin1String("AppDomain"), Qt::CaseInsensitive);
    const bool appleApp =
        appDomain && domain.contains(QLatin1String("com.apple."), Qt::CaseInsensitive);
    bool present = false;
    if (flags == 2) {
        present = true;
    } else if (flags == 1) {
        // The file ID comes from the database: only a plain hex name may name a data file.
        present =
            isHex(fileId) &&
            QFile::exists(ctx.dir.absoluteFilePath(fileId.left(2) + QLatin1Char('/') + fileId));
    }
    if (keepItemsSet.contains(fileId.toLower()) || ctx.keptDomains.contains(domain))
        return present;
    return present && ctx.keepAppleDomains && (!appDomain || appleApp);
}

void sqlite3fun_fvalid(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto* ctx = static_cast<sqlite3fun_fvalid_ctx*>(sqlite3_user_data(context));
    if (argc != 3 || !ctx) {
        sqlite3_result_int(context, 1);
        return;
    }
    const unsigned char* fileId = sqlite3_value_text(argv[0]);
    const unsigned char* domain = sqlite3_value_text(argv[1]);
    if (!fileId || !domain || qstrlen(reinterpret_cast<const char*>(fileId)) < 3) {
        sqlite3_result_int(context, 1);
        return;
    }
    const bool keep = sqlite3fun_fvalid_check(
        *ctx, QString::fromUtf8(reinterpret_cast<const char*>(fileId)),
        QString::fromUtf8(reinterpret_cast<const char*>(domain)), sqlite3_value_int(argv[2]));
    sqlite3_result_int(context, keep ? 1 : 0);
}

}  // namespace

void BackupManifest::saveManifestDbAsThrow(bool keepAppleDomains, QSet<QString> keptDomains,
                                           QString destPath) {
    const QString source = manifestDbKey.isEmpty()
                               ? dir.absoluteFilePath(QStringLiteral("Manifest.db"))
                               : decryptedDbPath;
    const QString work = destPath + QStringLiteral(".tmp");
    QFile::remove(work);
    QFile::copy(source, work);
    {
        Sqlite3DB db;
        db.openThrow(work, 2);
        sqlite3fun_fvalid_ctx ctx;
        ctx.dir = dir;
        ctx.keepAppleDomains = keepAppleDomains;
        ctx.keptDomains = keptDomains;
        sqlite3_create_function_v2(db.handle(), "fvalid", 3, SQLITE_ANY, &ctx, sqlite3fun_fvalid,
                                   nullptr, nullptr, nullptr);
        db.executeThrow("delete from files where not fvalid(fileid, domain, flags)");
        // The function's context dies with this scope: drop it before anything else can call it.
        sqlite3_create_function_v2(db.handle(), "fvalid", 3, SQLITE_ANY, nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
        db.executeThrow("vacuum");
        db.close();
    }
    QFile::remove(destPath);
    QFile::rename(work, destPath);
    if (!manifestDbKey.isEmpty()) {
        const QString plain = destPath + QStringLiteral("-decrypt");
        QFile::remove(plain);
        QFile::rename(destPath, plain);
        encryptFileThrow(plain, destPath, manifestDbKey);
    }
}

void BackupManifest::firstEncryptedItem(MBDBParser::ProtectionClsKeyInfo& class3Key,
                                        MBDBParser::ProtectionClsKeyInfo& class4Key) {
    const MBDBParser::MBDBItemMap map = MBDBParser::parse(*this);
    for (auto it = map.items.constBegin(); it != map.items.constEnd(); ++it) {
        const MBDBParser::_MBDBItem& rec = it.value();
        if (rec.isFolder())
            continue;
        const int cls = static_cast<signed char>(rec.protectionClass);
        const QByteArray key = unwrapKeyForClass(keybag, cls, rec.encryptionKey.val.mid(4));
        if (key.isEmpty())
            continue;
        if (cls == 4 && class4Key.fileKey.isEmpty()) {
            class4Key.protectionClass = 4;
            class4Key.wrappedKey = rec.encryptionKey;
            class4Key.fileKey = key;
            if (!class3Key.fileKey.isEmpty())
                return;
        } else if (cls == 3 && class3Key.fileKey.isEmpty()) {
            class3Key.protectionClass = 3;
            class3Key.wrappedKey = rec.encryptionKey;
            class3Key.fileKey = key;
            if (!class4Key.fileKey.isEmpty())
                return;
        }
    }
    throw std::runtime_error("BackupManifest::firstEncryptedItem, no valid keys");
}

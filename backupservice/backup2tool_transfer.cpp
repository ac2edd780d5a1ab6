// The device-link handlers of a backup session: raw file transfer in both directions and the
// directory messages.
#include "backup2tool.h"

#include "backup2tool_p.h"

#include <QFileInfo>
#include <QTemporaryFile>
#include <QtEndian>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <stdexcept>
#include <vector>

namespace {

const QString kAttachError =
    QStringLiteral("Error attaching to device. Please Keep your iPhone connected and active. ");

constexpr quint32 kMaxNameLength = 4096;
constexpr int kFileChunk = 32768;
// Received payloads are streamed through a buffer of this size, whatever a length word claims.
constexpr quint32 kReceiveChunk = 65536;
// A device error text longer than this is cut; the rest is read and dropped.
constexpr quint32 kMaxErrorText = 65536;
// The device status of a path that the session refuses (EPERM).
constexpr int kRefusedPath = 1;

const char kCodeEnd = 0x00;
const char kCodeLocalError = 0x06;
const char kCodeRemoteError = 0x0B;
const char kCodeData = 0x0C;

[[noreturn]] void fail(const QString& text) {
    throw std::runtime_error(text.toUtf8().toStdString());
}

QString refusedText(const QString& path) {
    return QStringLiteral("Refused path outside the backup folder: %1").arg(path);
}

// The text for a path that the device folder does not take.
QString refusedBelowText(const backup2tool& tool, const QString& path) {
    if (!tool.devicePath(path, true).isEmpty())
        return QStringLiteral("Refused the backup folder itself: %1").arg(path);
    return refusedText(path);
}

QString fileNamePart(const QString& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

// Sends a status response; the description is none when empty.
int sendStatus(Backup2Link& client, int code, const QString& description, PlistCFType value) {
    const QByteArray text = description.toUtf8();
    return client.sendStatusResponse(code, description.isEmpty() ? nullptr : text.constData(),
                                     static_cast<plist_t>(value.ref()));
}

}  // namespace

bool backup2tool::pathInsideRoot(const QDir& root, const QString& path) {
    return !g_confinedPath(root.absolutePath(), path, true).isEmpty();
}

QString backup2tool::devicePath(const QString& path, bool allowSelf) const {
    // A device folder that is a link leads wherever it points: nothing in it is this session's.
    if (QFileInfo(deviceDir.absolutePath()).isSymLink())
        return QString();
    // The device names its files from the root ("<udid>/..."); another device's folder is
    // outside this session.
    return g_confinedPath(deviceDir.absolutePath(), rootDir.absoluteFilePath(path), allowSelf);
}

int backup2tool::deviceStatusCode(int hookResult) {
    switch (hookResult) {
        case 0:
            return 0;
        case 2:
            return -6;
        case 17:
            return -7;
        default:
            return -hookResult;
    }
}

QString backup2tool::sizeText(quint64 s) {
    if (s >= 1000000000000ULL)
        return QString::asprintf("%0.1f TB", double(s) / 999999995904.0);
    if (s >= 1000000000ULL)
        return QString::asprintf("%0.1f GB", double(s) / 1000000000.0);
    if (s >= 1000000ULL)
        return QString::asprintf("%0.1f MB", double(s) / 1000000.0);
    if (s >= 1000ULL)
        return QString::asprintf("%0.1f KB", double(s) / 1000.0);
    return QString::asprintf("%d Bytes", int(s));
}

int backup2tool::sendFrame(Backup2Link& client, const QByteArray& payload) {
    if (payload.isEmpty())
        return 0;
    char word[4];
    qToBigEndian<quint32>(quint32(payload.size()), word);
    quint32 sent = 0;
    int r = client.sendRaw(word, 4, &sent);
    if (r != 0)
        return r;
    // A length word that went out only in part would leave the device reading garbage.
    if (sent != 4)
        return MOBILEBACKUP2_E_MUX_ERROR;
    int offset = 0;
    while (offset < payload.size()) {
        sent = 0;
        r = client.sendRaw(payload.constData() + offset, quint32(payload.size() - offset), &sent);
        if (r != 0)
            return r;
        if (sent == 0)
            return MOBILEBACKUP2_E_MUX_ERROR;
        offset += int(sent);
    }
    return 0;
}

void backup2tool::recvExactThrow(Backup2Link& client, char* data, quint32 length,
                                 const QString& lostText) {
    quint32 have = 0;
    while (have < length) {
        quint32 got = 0;
        const int r = client.receiveRaw(data + have, length - have, &got);
        if (got > 0) {
            have += qMin(got, length - have);
            continue;
        }
        if (r == MOBILEBACKUP2_E_RECEIVE_TIMEOUT) {
            // The device needs more time; keep waiting unless the session was cancelled.
            if (isCancel())
                throw Backup2Cancelled();
            continue;
        }
        fail(lostText);
    }
}

quint32 backup2tool::recvWordThrow(Backup2Link& client, const QString& lostText) {
    char word[4];
    recvExactThrow(client, word, 4, lostText);
    return qFromBigEndian<quint32>(word);
}

void backup2tool::sendFilesThrow(Backup2Link& client, PlistCFType msg) {
    const PlistCFType paths = msg.at(1);
    PlistCFType errDict;
    const int count = paths.array_size();
    for (int i = 0; i < count; ++i) {
        if (isCancel())
            return;
        const QString path = paths.at(i).CFStringQString();
        if (path.isEmpty())
            continue;
        emit update(progressValue, QString(),
                    QStringLiteral("Sending %1 to device...").arg(fileNamePart(path)));
        sendFileThrow(client, path, errDict);
    }
    const char terminator[4] = {0, 0, 0, 0};
    quint32 sent = 0;
    client.sendRaw(terminator, 4, &sent);
    if (!errDict.ref())
        sendStatus(client, 0, QString(), PlistCFType::createCFDictionary());
    else
        sendStatus(client, -13, QStringLiteral("Multi status"), errDict);
}

void backup2tool::sendFileThrow(Backup2Link& client, QString path, PlistCFType& errDict) {
    int r = sendFrame(client, path.toUtf8());
    if (r != 0)
        fail(kAttachError +
             QStringLiteral("backup2tool::sendFileThrow: send path(%1) failed. return %2.")
                 .arg(path)
                 .arg(r));

    // A file the host cannot supply: local error block, an entry in the error dictionary and
    // no end block.
    auto sendLocalError = [&](const QString& errorText, int deviceCode) {
        if (!errDict.ref())
            errDict = PlistCFType::createCFDictionary();
        PlistCFType entry = PlistCFType::createCFDictionary();
        entry.put("DLFileErrorString", PlistCFType::createCFString(errorText));
        entry.put("DLFileErrorCode", PlistCFType::createCFNumberInt64(deviceCode));
        errDict.put(path, entry);
        QByteArray block(1, kCodeLocalError);
        block += errorText.toUtf8();
        const int rc = sendFrame(client, block);
        if (rc != 0)
            fail(kAttachError +
                 QStringLiteral("backup2tool::sendFileThrow: send error string failed. return %1.")
                     .arg(rc));
    };

    QString local = devicePath(path, true);
    if (local.isEmpty()) {
        sendLocalError(refusedText(path), deviceStatusCode(kRefusedPath));
        return;
    }
    const int slash = path.lastIndexOf('/');
    if (!manifestDbName.isEmpty() && slash >= 0 &&
        path.mid(slash + 1).compare("Manifest.db", Qt::CaseInsensitive) == 0) {
        local = devicePath(udid + "/" + manifestDbName, false);
        if (local.isEmpty()) {
            sendLocalError(refusedText(path), deviceStatusCode(kRefusedPath));
            return;
        }
    }

    const QFileInfo info(local);
    // A folder cannot be sent as a file; the device hears it like a missing file.
    if (!info.exists() || info.isDir()) {
        extraErrorText = QStringLiteral("%1 not exists.").arg(info.fileName());
        sendLocalError(QString(), -6);
        return;
    }

    auto sendEnd = [&]() {
        const char word[4] = {0, 0, 0, 1};
        quint32 sent = 0;
        int rc = client.sendRaw(word, 4, &sent);
        if (rc == 0 && sent != 4)
            rc = MOBILEBACKUP2_E_MUX_ERROR;
        if (rc == 0) {
            const char end = kCodeEnd;
            sent = 0;
            rc = client.sendRaw(&end, 1, &sent);
            if (rc == 0 && sent != 1)
                rc = MOBILEBACKUP2_E_MUX_ERROR;
        }
        if (rc != 0)
            fail(kAttachError +
                 QStringLiteral("backup2tool::sendFileThrow: send status failed. return %1.")
                     .arg(rc));
    };

    if (info.size() == 0) {
        sendEnd();
        return;
    }

    QFile file(local);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("backup2tool::sendFileThrow: can not open %1. %2")
                 .arg(info.fileName(), file.errorString()));
    QByteArray buffer(kFileChunk + 1, Qt::Uninitialized);
    buffer[0] = kCodeData;
    while (!file.atEnd()) {
        if (isCancel())
            return;
        const qint64 n = file.read(buffer.data() + 1, kFileChunk);
        if (n <= 0)
            fail(QStringLiteral("backup2tool::sendFileThrow: can not read %1. %2")
                     .arg(info.fileName(), file.errorString()));
        r = sendFrame(client, QByteArray::fromRawData(buffer.constData(), int(n) + 1));
        if (r != 0)
            fail(kAttachError +
                 QStringLiteral("backup2tool::sendFileThrow: send buf failed. return %1.").arg(r));
    }
    file.close();
    sendEnd();
}

void backup2tool::recvFilesThrow(Backup2Link& client, PlistCFType msg) {
    QString err;
    const quint64 total = quint64(msg.at(3).CFNumberInt64(0));
    emit update(progressValue, QString(),
                QStringLiteral("Receiving files (size: %1)...").arg(sizeText(total)));
    int last = 0;
    int refused = 0;
    for (;;) {
        const QString deviceName = recvFileNameThrow(client);
        if (deviceName.isEmpty())
            break;
        const QString path = recvFileNameThrow(client);
        if (path.isEmpty())
            break;
        if (devicePath(path, false).isEmpty()) {
            // Read the file's blocks so the stream stays in step, but write nothing.
            int rc = 0;
            recvBlocksThrow(client, nullptr, rc, err);
            refused = kRefusedPath;
            err = refusedBelowText(*this, path);
            continue;
        }
        hook->recvFileBegin(rootDir, udid, path, deviceName);
        last = recvFileThrow(client, deviceName, path, err);
        if (last != 0)
            break;
    }
    const int code = deviceStatusCode(refused ? refused : last);
    const int r = sendStatus(client, code, err, PlistCFType::createCFDictionary());
    if (r != 0)
        fail(kAttachError +
             QStringLiteral("backup2tool::recvFilesThrow, Could not send status response, error %1")
                 .arg(r));
}

QString backup2tool::recvFileNameThrow(Backup2Link& client) {
    const QString lost =
        kAttachError + QStringLiteral("backup2tool::recvFileNamesThrow: could not read filename.");
    const quint32 n = recvWordThrow(client, lost);
    if (n == 0)
        return QString();
    if (n > kMaxNameLength)
        fail(QStringLiteral("backup2tool::recvFileNamesThrow: too large filename length (%1)!")
                 .arg(n));
    QByteArray name(int(n), Qt::Uninitialized);
    recvExactThrow(client, name.data(), n, lost);
    return QString::fromUtf8(name);
}

quint64 backup2tool::recvBlocksThrow(Backup2Link& client, QFile* file, int& rc, QString& err) {
    const QString lost =
        kAttachError + QStringLiteral("backup2tool::recvFileThrow: recv null data.");
    std::vector<char> buffer(kReceiveChunk);
    quint64 total = 0;
    for (;;) {
        const quint32 k = recvWordThrow(client, lost);
        if (k == 0)
            fail(lost);
        char code = 0;
        recvExactThrow(client, &code, 1, lost);
        quint32 left = k - 1;
        if (code == kCodeEnd) {
            while (left > 0) {
                const quint32 n = qMin(left, kReceiveChunk);
                recvExactThrow(client, buffer.data(), n, lost);
                left -= n;
            }
            return total;
        }
        if (code == kCodeData) {
            while (left > 0) {
                const quint32 n = qMin(left, kReceiveChunk);
                recvExactThrow(client, buffer.data(), n, lost);
                left -= n;
                total += n;
                if (file && file->isOpen() && rc == 0) {
                    if (file->write(buffer.data(), n) < qint64(n)) {
                        const int e = errno;
                        rc = file->error();
                        err = file->errorString();
                        if (err.isEmpty() || err == QLatin1String("Unknown error"))
                            err = QString::fromLocal8Bit(std::strerror(e));
                    }
                }
            }
            continue;
        }
        if (code == kCodeRemoteError) {
            QByteArray text;
            while (left > 0) {
                const quint32 n = qMin(left, kReceiveChunk);
                recvExactThrow(client, buffer.data(), n, lost);
                left -= n;
                if (quint32(text.size()) < kMaxErrorText)
                    text.append(buffer.data(), int(qMin(n, kMaxErrorText - quint32(text.size()))));
            }
            err = QString::fromUtf8(text);
            fail(QStringLiteral("Please restart your iPhone to try again. "
                                "backup2tool::recvFileThrow: remote error. %1")
                     .arg(err));
        }
        fail(QStringLiteral("backup2tool::recvFileThrow: invalid code %1.").arg(int(qint8(code))));
    }
}

int backup2tool::recvFileThrow(Backup2Link& client, QString, QString path, QString& err) {
    QString local = devicePath(path, false);
    if (local.isEmpty())
        local = rootDir.absoluteFilePath(path);
    // The data go to a new file beside the old one, which they replace only when complete: a
    // failed write leaves the old file as it was.
    const QFileInfo target(local);
    const QString prefix = QLatin1Char('.') + target.fileName() + QLatin1Char('.');
    QTemporaryFile file(target.absolutePath() + QLatin1Char('/') + prefix +
                        QLatin1String("XXXXXX"));
    int rc = hook->recvFileOpenWrite(rootDir, path, file, err);
    const quint64 total = recvBlocksThrow(client, &file, rc, err);
    hook->recvFileEnd(rootDir, path, total);
    const QFileInfo written(file.fileName());
    const bool ours = file.isOpen() && written.absolutePath() == target.absolutePath() &&
                      written.fileName().startsWith(prefix);
    // A hook may have opened a file of its own under this object: never remove that one.
    if (!ours)
        file.setAutoRemove(false);
    // Small writes sit in the file's buffer, and some file systems take the space only when
    // the data reach the disk: a failure there (a full disk) must not pass as a received file.
    if (rc == 0 && file.isOpen()) {
        if (!file.flush()) {
            rc = file.error();
            err = file.errorString();
        } else if (::fsync(file.handle()) != 0) {
            rc = QFile::WriteError;
            err = QString::fromLocal8Bit(std::strerror(errno));
        }
    }
    if (rc == 0 && ours) {
        file.close();
        if (::rename(QFile::encodeName(written.absoluteFilePath()).constData(),
                     QFile::encodeName(local).constData()) != 0) {
            rc = QFile::RenameError;
            err = QString::fromLocal8Bit(std::strerror(errno));
        } else {
            file.setAutoRemove(false);
        }
    }
    if (rc != 0)
        fail(QStringLiteral("backup2tool::recvFileThrow: Write %1 failed. %2").arg(local, err));
    file.close();
    return 0;
}

void backup2tool::sendDirContentsThrow(Backup2Link& client, PlistCFType msg) {
    const QString path = msg.at(1).CFStringQString();
    if (path.isEmpty())
        fail(QStringLiteral("ERROR: Malformed DLContentsOfDirectory message"));
    int r = 0;
    if (devicePath(path, true).isEmpty()) {
        r = sendStatus(client, deviceStatusCode(kRefusedPath), refusedText(path),
                       PlistCFType::createCFDictionary());
    } else {
        PlistCFType listing = PlistCFType::createCFDictionary();
        for (const Backup2ToolHook::DirItem& item : hook->dirContents(rootDir, path)) {
            PlistCFType entry = PlistCFType::createCFDictionary();
            entry.put("DLFileType",
                      PlistCFType::createCFString(item.type == 2 ? "DLFileTypeDirectory"
                                                                 : "DLFileTypeRegular"));
            entry.put("DLFileSize", PlistCFType::createCFNumberInt64(item.size));
            entry.put("DLFileModificationDate", PlistCFType::createCFDate(item.lastm.toUTC()));
            listing.put(item.name, entry);
        }
        r = sendStatus(client, 0, QString(), listing);
    }
    if (r != 0)
        fail(QStringLiteral(
                 "backup2tool::sendDirContentsThrow, Could not send status response, error %1")
                 .arg(r));
}

void backup2tool::moveFilesThrow(Backup2Link& client, PlistCFType msg) {
    QString err;
    int r = 0;
    for (const auto& item : msg.at(1).dict_items()) {
        const QString src = item.first;
        const QString dst = item.second.CFStringQString();
        if (src.isEmpty() || dst.isEmpty())
            continue;
        const bool srcOk = !devicePath(src, false).isEmpty();
        if (!srcOk || devicePath(dst, false).isEmpty()) {
            r = kRefusedPath;
            err = refusedBelowText(*this, srcOk ? dst : src);
            break;
        }
        r = hook->moveFile(rootDir, src, dst, err);
        if (r != 0)
            break;
    }
    const int s = sendStatus(client, deviceStatusCode(r), err, PlistCFType::createCFDictionary());
    if (s != 0)
        fail(QStringLiteral("backup2tool::moveFilesThrow: Could not send status response, error "
                            "%1.")
                 .arg(s));
}

void backup2tool::removeFilesThrow(Backup2Link& client, PlistCFType msg) {
    QString err;
    int code = 0;
    const PlistCFType paths = msg.at(1);
    const int count = paths.array_size();
    for (int i = 0; i < count; ++i) {
        const QString path = paths.at(i).CFStringQString();
        if (path.isEmpty())
            continue;
        if (devicePath(path, false).isEmpty()) {
            code = deviceStatusCode(kRefusedPath);
            err = refusedBelowText(*this, path);
            continue;
        }
        hook->removeFile(rootDir, path, err);
    }
    const int s = sendStatus(client, code, err, PlistCFType::createCFDictionary());
    if (s != 0)
        fail(QStringLiteral(
                 "backup2tool::removeFilesThrow: Could not send status response, error %1.")
                 .arg(s));
}

void backup2tool::copyItemThrow(Backup2Link& client, PlistCFType msg) {
    const QString src = msg.at(1).CFStringQString();
    const QString dst = msg.at(2).CFStringQString();
    if (src.isEmpty() || dst.isEmpty())
        fail(QStringLiteral("backup2tool::copyItemThrow: invalid message."));
    QString err;
    int r = 0;
    const bool srcOk = !devicePath(src, false).isEmpty();
    if (!srcOk || devicePath(dst, false).isEmpty()) {
        r = kRefusedPath;
        err = refusedBelowText(*this, srcOk ? dst : src);
    } else {
        r = hook->copyFile(rootDir, src, dst, err);
    }
    const int s = sendStatus(client, deviceStatusCode(r), err, PlistCFType::createCFDictionary());
    if (s != 0)
        fail(QStringLiteral("backup2tool::copyItemThrow: Could not send status response, error %1.")
                 .arg(s));
}

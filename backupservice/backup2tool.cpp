#include "backup2tool.h"

#include "backup2tool_p.h"
#include "device/mobiledevice.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>

namespace {

const char* const kServiceName = "com.apple.mobilebackup2";
const char* const kFindMyIphoneGuide =
    "http://www.tellwick.example/guide/turn-off-find-my-iphone.html";

[[noreturn]] void fail(const QString& text) {
    throw std::runtime_error(text.toUtf8().toStdString());
}

// Every device handle of one session, released in this order on every way out.
struct SessionHandles {
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t service = nullptr;
    mobilebackup2_client_t backup = nullptr;

    SessionHandles() = default;
    SessionHandles(const SessionHandles&) = delete;
    SessionHandles& operator=(const SessionHandles&) = delete;
    ~SessionHandles() {
        if (service)
            lockdownd_service_descriptor_free(service);
        if (lockdown)
            lockdownd_client_free(lockdown);
        if (backup)
            mobilebackup2_client_free(backup);
        if (device)
            idevice_free(device);
    }
};

QString requestFailureText(bool restore, int result) {
    if (restore) {
        if (result == MOBILEBACKUP2_E_REPLY_NOT_OK)
            return QStringLiteral(
                "ERROR: Could not start restore process: device refused to start the restore "
                "process. Please restart your iPhone to try again.");
        if (result == MOBILEBACKUP2_E_BAD_VERSION)
            return QStringLiteral(
                "ERROR: Could not start restore process: backup protocol version mismatch!");
        return QStringLiteral(
            "ERROR: Could not start restore process: unspecified error occurred. Please restart "
            "your iPhone to try again.");
    }
    if (result == MOBILEBACKUP2_E_REPLY_NOT_OK)
        return QStringLiteral(
            "Please restart your iPhone to try again. ERROR: Could not start backup process: "
            "device refused to start the backup process.");
    if (result == MOBILEBACKUP2_E_BAD_VERSION)
        return QStringLiteral(
            "ERROR: Could not start backup process: backup protocol version mismatch!");
    return QStringLiteral(
        "Please restart your iPhone to try again. ERROR: Could not start backup process: "
        "unspecified error occurred");
}

}  // namespace

backup2tool::backup2tool(QString udid_, QDir root, QSharedPointer<Backup2ToolHook> hook_,
                         QObject* parent)
    : QObject(parent),
      udid(udid_),
      rootDir(root),
      deviceDir(root.absoluteFilePath(udid_)),
      hook(hook_) {
    if (!hook)
        hook = QSharedPointer<Backup2ToolHook>(new Backup2ToolHook());
}

backup2tool::~backup2tool() = default;

bool backup2tool::isCancel() {
    QMutexLocker lock(&mutex);
    return cancelFlag;
}

void backup2tool::setCancel() {
    QMutexLocker lock(&mutex);
    cancelFlag = true;
}

void backup2tool::cancel() {
    setCancel();
}

PlistCFType backup2tool::restoreOptions(const _backup2tool_req& req) {
    PlistCFType opts = PlistCFType::createCFDictionary();
    opts.put("RestoreSystemFiles", PlistCFType::createCFBoolean(req.restoreSystemFiles));
    opts.put("RestorePreserveSettings", PlistCFType::createCFBoolean(req.restorePreserveSettings));
    if (!req.onlyNonDefaultOptions) {
        opts.put("RestoreShouldReboot", PlistCFType::createCFBoolean(req.restoreShouldReboot));
        opts.put("RestoreDontCopyBackup", PlistCFType::createCFBoolean(req.restoreDontCopyBackup));
        opts.put("RemoveItemsNotRestored",
                 PlistCFType::createCFBoolean(req.removeItemsNotRestored));
    } else {
        if (!req.restoreShouldReboot)
            opts.put("RestoreShouldReboot", PlistCFType::createCFBoolean(false));
        if (req.restoreDontCopyBackup)
            opts.put("RestoreDontCopyBackup", PlistCFType::createCFBoolean(true));
        if (req.removeItemsNotRestored)
            opts.put("RemoveItemsNotRestored", PlistCFType::createCFBoolean(true));
    }
    if (!req.password.isEmpty())
        opts.put("Password", PlistCFType::createCFString(req.password));
    return opts;
}

int backup2tool::innerRunThrow(_backup2tool_req req, QString& err) {
    // Plain writes: a cancel asked before the session starts does not carry into it.
    cancelFlag = false;
    progressValue = 0;
    // A file missed by an earlier session must not be blamed for this session's failure.
    extraErrorText.clear();

    // The device folder is one name below the root: an identifier that is a path would put it,
    // and all that the device writes, elsewhere.
    if (udid.isEmpty() || udid.contains('/') || udid == QLatin1String(".") ||
        udid == QLatin1String(".."))
        throw std::runtime_error("backup2tool: invalid device identifier.");

    hook->beginThrow(rootDir, udid);
    mobiledevice_ignore_sigpipe();

    SessionHandles h;
    const QByteArray udidUtf8 = udid.toUtf8();
    if (idevice_new_with_options(&h.device, udidUtf8.constData(), IDEVICE_LOOKUP_USBMUX) != 0)
        fail(QStringLiteral(
            "backup2tool: No device found. Please restart your iPhone to try again."));

    int r = lockdownd_client_new_with_handshake(h.device, &h.lockdown, MOBILEDEVICE_CLIENT_LABEL);
    if (r != 0)
        fail(QStringLiteral("backup2tool: open device failed, return %1. Please restart your "
                            "iPhone to try again.")
                 .arg(r));

    if (req.op == OP_BACKUP && !deviceDir.exists())
        QDir().mkpath(deviceDir.absolutePath());

    r = lockdownd_start_service_with_escrow_bag(h.lockdown, kServiceName, &h.service);
    lockdownd_client_free(h.lockdown);
    h.lockdown = nullptr;
    if (r != 0 || !h.service || h.service->port == 0)
        fail(
            QStringLiteral("backup2tool: start service com.apple.mobilebackup2 failed. Please "
                           "restart your iPhone to try again."));

    mobilebackup2_client_new(h.device, h.service, &h.backup);
    lockdownd_service_descriptor_free(h.service);
    h.service = nullptr;

    double versions[2] = {2.0, 2.1};
    double remoteVersion = 0.0;
    r = mobilebackup2_version_exchange(h.backup, versions, 2, &remoteVersion);
    if (r != 0)
        fail(QStringLiteral("Could not perform backup protocol version exchange, error code %1")
                 .arg(r));

    const QByteArray ident = udid.toLocal8Bit();
    if (req.op == OP_RESTORE) {
        PlistCFType opts = restoreOptions(req);
        r = mobilebackup2_send_request(h.backup, "Restore", ident.constData(), ident.constData(),
                                       static_cast<plist_t>(opts.ref()));
    } else if (req.op == OP_BACKUP) {
        r = mobilebackup2_send_request(h.backup, "Backup", ident.constData(), ident.constData(),
                                       nullptr);
    } else {
        fail(QStringLiteral("backup2tool: invalid op."));
    }
    if (r != 0)
        fail(requestFailureText(req.op == OP_RESTORE, r));

    Mb2ClientLink link(h.backup);
    return messageLoopThrow(link, err);
}

int backup2tool::messageLoopThrow(Backup2Link& client, QString& err) {
    try {
        for (;;) {
            if (isCancel())
                return 0;
            emit update(progressValue, QString(),
                        QStringLiteral("This may take a few minutes. Please wait..."));

            plist_t rawMessage = nullptr;
            char* rawName = nullptr;
            const int r = client.receiveMessage(&rawMessage, &rawName);
            const PlistCFType msg(rawMessage, true);
            const std::unique_ptr<char, void (*)(void*)> nameHolder(rawName, &std::free);
            if (r == MOBILEBACKUP2_E_RECEIVE_TIMEOUT)
                continue;
            if (r != 0)
                fail(QStringLiteral("ERROR: Could not receive from mobilebackup2 (%1). Please "
                                    "restart your iPhone to try again.")
                         .arg(r));
            const QString name = rawName ? QString::fromUtf8(rawName) : QString();

            int progressIndex = -1;
            if (name == "DLMessageDownloadFiles" || name == "DLMessageMoveFiles" ||
                name == "DLMessageMoveItems" || name == "DLMessageRemoveFiles" ||
                name == "DLMessageRemoveItems")
                progressIndex = 3;
            else if (name == "DLMessageUploadFiles")
                progressIndex = 2;
            if (progressIndex >= 0) {
                const double pg = msg.at(progressIndex).CFNumberDouble(0.0);
                if (pg > 0.0)
                    progressValue = pg;
            }

            int code = 0;
            if (!hook->onHandleMsgContinue(rootDir, udid, msg, code, err))
                return code;

            if (name == "DLMessageDownloadFiles") {
                sendFilesThrow(client, msg);
            } else if (name == "DLMessageUploadFiles") {
                recvFilesThrow(client, msg);
            } else if (name == "DLMessageGetFreeDiskSpace") {
                PlistCFType space = PlistCFType::createCFNumberInt64(1099511627776LL);
                client.sendStatusResponse(0, nullptr, static_cast<plist_t>(space.ref()));
            } else if (name == "DLContentsOfDirectory") {
                sendDirContentsThrow(client, msg);
            } else if (name == "DLMessageCreateDirectory") {
                const QString path = msg.at(1).CFStringQString();
                if (devicePath(path, true).isEmpty()) {
                    const QByteArray text =
                        QStringLiteral("Refused path outside the backup folder: %1")
                            .arg(path)
                            .toUtf8();
                    client.sendStatusResponse(deviceStatusCode(1), text.constData(), nullptr);
                } else {
                    QString mkdirErr;
                    hook->mkdir(rootDir, path, mkdirErr);
                    client.sendStatusResponse(0, nullptr, nullptr);
                }
            } else if (name == "DLMessageMoveFiles" || name == "DLMessageMoveItems") {
                moveFilesThrow(client, msg);
            } else if (name == "DLMessageRemoveFiles" || name == "DLMessageRemoveItems") {
                removeFilesThrow(client, msg);
            } else if (name == "DLMessageCopyItem") {
                copyItemThrow(client, msg);
            } else if (name == "DLMessageDisconnect") {
                return 0;
            } else if (name == "DLMessageProcessMessage") {
                const PlistCFType report = msg.at(1);
                const int errorCode = report.get("ErrorCode").CFNumberInt(0);
                err = report.get("ErrorDescription").CFStringQString();
                if (err.isEmpty())
                    err = report.get("Content").CFStringQString();
                if (!extraErrorText.isEmpty())
                    err += " " + extraErrorText;
                return errorCode;
            } else if (name == "DLMessagePurgeDiskSpace") {
                err =
                    QStringLiteral("Error: DLMessagePurgeDiskSpace(Insufficient free disk space).");
                return -36;
            } else {
                fail(QStringLiteral("Message can not handle: %1").arg(name));
            }
        }
    } catch (const Backup2Cancelled&) {
        return 0;
    }
}

QString backup2tool::runErrorText(backup2tool_op op, int code, QString err) {
    err = err.trimmed();
    int advice = code;
    if (!err.isEmpty()) {
        if (err.contains("Find My iPhone must be disabled", Qt::CaseInsensitive))
            advice = -37;
        else if (err.contains("could not send", Qt::CaseInsensitive) ||
                 err.contains("could only send", Qt::CaseInsensitive) ||
                 err.contains("Could not receive", Qt::CaseInsensitive))
            advice = -10;
        else if (code == 100 || err.contains("Insufficient free", Qt::CaseInsensitive))
            advice = -36;
        else if (err.contains("Failed to move the incomplete restore directory into place at path",
                              Qt::CaseInsensitive))
            err = tr("Please restart your iPhone first.") + "<br/><br/>" + err;
    }
    QString text = QStringLiteral("error code:%1. ").arg(advice);
    switch (advice) {
        case -37:
            text += tr("Please follow <a href=\"%1\">this tutorial</a> to disable \"Find my "
                       "iPhone\" first, then restart your iPhone to try again.")
                        .arg(QString::fromLatin1(kFindMyIphoneGuide));
            break;
        case -36:
            text += op == OP_RESTORE ? tr("Insufficient free disk space on device to back up. Not "
                                          "enough free disk space on your Device.")
                                     : tr("Insufficient free disk space on drive to back up. Not "
                                          "enough free disk space on your computer.");
            break;
        case -10:
            text += tr("Error attaching to device. Please Keep your iPhone connected and active.");
            break;
        default:
            if (err.isEmpty())
                text += tr("Please restart your iPhone to try again.");
            break;
    }
    if (!err.isEmpty())
        text += "<br/><br/>" + err;
    return text;
}

void backup2tool::runThrow(_backup2tool_req req) {
    QString err;
    const int code = innerRunThrow(req, err);
    if (code != 0)
        fail(runErrorText(req.op, code, err));
}

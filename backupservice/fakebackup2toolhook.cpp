#include "fakebackup2toolhook.h"

#include "device/mobiledevice.h"

#include <QFileInfo>
#include <stdexcept>

#include <libimobiledevice/installation_proxy.h>

namespace {

QString fileName(const QString& path) {
    return QFileInfo(path).fileName();
}

QString databasePath(const QDir& root, const QString& udid) {
    return root.absoluteFilePath(udid) + "/dname.sqlite";
}

}  // namespace

FakeBackup2ToolHook::FakeBackup2ToolHook() {
    alwaysIncluded << "info.plist"
                   << "status.plist"
                   << "manifest.mbdb"
                   << "manifest.mbdx"
                   << "manifest.db"
                   << "manifest.plist"
                   << "80fa782261261e54bb73c0253e5b6beefb6a2f39";
}

FakeBackup2ToolHook::~FakeBackup2ToolHook() = default;

QString FakeBackup2ToolHook::containerId(const QString& text) {
    QRegExp rx("([a-f0-9]{8}-[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{4}-[a-f0-9]{12})",
               Qt::CaseInsensitive, QRegExp::RegExp);
    if (rx.indexIn(text, 0) < 0)
        return QString();
    return rx.cap(1).toUpper();
}

bool FakeBackup2ToolHook::isFileIncluded(QDir, QString path, QString deviceName) {
    const QString name = fileName(path);
    if (alwaysIncluded.contains(name.toLower()))
        return true;
    if (deviceName.isEmpty())
        deviceName = dnameDb.getDName(name);
    if (!deviceName.isEmpty()) {
        for (QRegExp pattern : dnamePatterns) {
            if (pattern.indexIn(deviceName, 0, QRegExp::CaretAtZero) >= 0)
                return true;
        }
    }
    const QString container = containerId(deviceName);
    if (!container.isEmpty()) {
        for (const QString& bundle : selectedAppIds) {
            const auto it = appContainers.constFind(bundle);
            if (it != appContainers.constEnd() && it->contains(container))
                return true;
        }
    }
    if (!includeNonAppFiles)
        return false;
    return container.isEmpty() || !knownContainers.contains(container);
}

void FakeBackup2ToolHook::readAppuids(QString udid) {
    iDevice device(udid);
    if (!device.open())
        return;
    instproxy_client_t client = nullptr;
    if (instproxy_client_start_service(device.device(), &client, MOBILEDEVICE_CLIENT_LABEL) !=
            INSTPROXY_E_SUCCESS ||
        !client)
        return;
    PlistCFType options(instproxy_client_options_new(), true);
    instproxy_client_options_add(static_cast<plist_t>(options.ref()), "ApplicationType", "User",
                                 nullptr);
    instproxy_client_options_set_return_attributes(static_cast<plist_t>(options.ref()),
                                                   "CFBundleIdentifier", "Container",
                                                   "GroupContainers", nullptr);
    plist_t rawResult = nullptr;
    const int r = instproxy_browse(client, static_cast<plist_t>(options.ref()), &rawResult);
    PlistCFType result(rawResult, true);
    instproxy_client_free(client);
    if (r != INSTPROXY_E_SUCCESS)
        return;
    const int count = result.array_size();
    for (int i = 0; i < count; ++i) {
        const PlistCFType app = result.at(i);
        QSet<QString> containers;
        const QString bundle = app.get("CFBundleIdentifier").CFStringQString();
        const QString own = containerId(app.get("Container").CFStringQString());
        if (!own.isEmpty()) {
            containers << own;
            knownContainers << own;
        }
        const PlistCFType groups = app.get("GroupContainers");
        for (const PlistCFType& key : groups.dict_keys()) {
            const QString id = containerId(groups.get(key).CFStringQString());
            if (!id.isEmpty()) {
                containers << id;
                knownContainers << id;
            }
        }
        appContainers[bundle] = containers;
    }
}

void FakeBackup2ToolHook::addInstalledContainers(const QHash<QString, QSet<QString>>& apps) {
    for (auto it = apps.constBegin(); it != apps.constEnd(); ++it) {
        QSet<QString> ids;
        for (const QString& id : it.value())
            ids << id.toUpper();
        appContainers[it.key()] = ids;
        knownContainers += ids;
    }
}

void FakeBackup2ToolHook::openDbThrow(const QString& path) {
    QString err;
    if (!dnameDb.open(path, &err))
        throw std::runtime_error(
            QStringLiteral("open dname.sqlite failed. %1").arg(err).toUtf8().toStdString());
}

void FakeBackup2ToolHook::beginThrow(QDir root, QString udid) {
    const QString deviceFolder = root.absoluteFilePath(udid);
    const QString path = databasePath(root, udid);
    // A reused hook starts each run from the file of this run's device folder.
    if (dnameDb.isOpen() && (dbPath != path || !QFile::exists(deviceFolder + "/Manifest.db")))
        dnameDb.closeDb();
    dbPath = path;
    if (!QFile::exists(deviceFolder + "/Manifest.db") && QFileInfo::exists(path)) {
        // Records of an earlier backup must not be taken for this one's.
        QFile old(path);
        if (!old.remove())
            throw std::runtime_error(QStringLiteral("open dname.sqlite failed. %1")
                                         .arg(old.errorString())
                                         .toUtf8()
                                         .toStdString());
    }
    if (QFile::exists(path))
        openDbThrow(path);
    readAppuids(udid);
}

QList<Backup2ToolHook::DirItem> FakeBackup2ToolHook::dirContents(QDir root, QString path) {
    QString key = fileName(path);
    if (key.compare("Snapshot", Qt::CaseInsensitive) == 0)
        return Backup2ToolHook::dirContents(root, path);
    if (key.size() > 2)
        key.clear();
    const QList<DirItem> rows = dnameDb.items(key);
    if (key.isEmpty())
        return rows;
    QList<DirItem> result;
    for (const DirItem& row : rows) {
        const QString rowPath = path + "/" + row.name;
        if (!isFileIncluded(root, rowPath, QString())) {
            result << row;
            continue;
        }
        const QString local = root.absoluteFilePath(rowPath);
        if (!QFile::exists(local))
            continue;
        const QFileInfo info(local);
        DirItem item;
        item.name = info.fileName();
        item.type = 1;
        item.size = info.size();
        item.lastm = info.lastModified();
        result << item;
    }
    return result;
}

void FakeBackup2ToolHook::recvFileBegin(QDir root, QString udid, QString path, QString deviceName) {
    const QString name = fileName(path);
    if (!dnameDb.isOpen())
        openDbThrow(databasePath(root, udid));
    const bool included = isFileIncluded(root, path, deviceName);
    dnameDb.insert(name, deviceName, included, QDateTime::currentDateTime());
}

int FakeBackup2ToolHook::recvFileOpenWrite(QDir root, QString path, QFile& file, QString& err) {
    if (!isFileIncluded(root, path, QString()))
        return 0;
    return Backup2ToolHook::recvFileOpenWrite(root, path, file, err);
}

void FakeBackup2ToolHook::recvFileEnd(QDir, QString path, quint64 size) {
    dnameDb.update(fileName(path), QDateTime::currentDateTime(), qint64(size));
}

int FakeBackup2ToolHook::moveFile(QDir root, QString src, QString dst, QString& err) {
    return Backup2ToolHook::moveFile(root, src, dst, err);
}

int FakeBackup2ToolHook::removeFile(QDir root, QString path, QString& err) {
    if (path.indexOf("snapshot", 0, Qt::CaseInsensitive) < 0) {
        const QString name = fileName(path);
        if (name.size() > 2)
            dnameDb.remove(name);
    }
    Backup2ToolHook::removeFile(root, path, err);
    return 0;
}

int FakeBackup2ToolHook::copyFile(QDir, QString, QString, QString&) {
    return 0;
}

int FakeBackup2ToolHook::mkdir(QDir, QString, QString&) {
    return 0;
}

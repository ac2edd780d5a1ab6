#include "mobiledevice_afc.h"

#include <QBuffer>
#include <cmath>

namespace {

const int kChunk = 8192;

bool typeIs(const QString& type, const char* name) {
    return type.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

}  // namespace

bool _AfcFileInfo::isFile() const {
    return typeIs(type, "S_IFREG");
}
bool _AfcFileInfo::isDir() const {
    return typeIs(type, "S_IFDIR");
}
bool _AfcFileInfo::isLink() const {
    return typeIs(type, "S_IFLNK");
}

// ---- AfcFile ----

int AfcFile::read(char* buffer, int length) {
    if (!isOpen() || !buffer || length < 0)
        return -1;
    uint32_t count = 0;
    if (afc_file_read(m_client, m_handle, buffer, uint32_t(length), &count) != AFC_E_SUCCESS)
        return -1;
    return int(count);
}

int AfcFile::write(const char* data, int length) {
    if (!isOpen() || (!data && length > 0) || length < 0)
        return -1;
    uint32_t count = 0;
    if (afc_file_write(m_client, m_handle, data, uint32_t(length), &count) != AFC_E_SUCCESS)
        return -1;
    return int(count);
}

int AfcFile::lock(afc_lock_op_t operation) {
    if (!isOpen())
        return 1;
    return afc_file_lock(m_client, m_handle, operation);
}

void AfcFile::close() {
    if (m_client && m_handle) {
        afc_file_close(m_client, m_handle);
        m_handle = 0;
    }
}

// ---- mobiledevice_afc ----

mobiledevice_afc::mobiledevice_afc(QString devid) : iDevice(devid) {}

mobiledevice_afc::~mobiledevice_afc() {
    closeService();
}

bool mobiledevice_afc::startService(QString) {
    closeService();
    if (!open())
        return false;
    lockdownd_service_descriptor_t descriptor = nullptr;
    if (lockdownd_start_service(m_lockdown, AFC_SERVICE_NAME, &descriptor) != LOCKDOWN_E_SUCCESS ||
        !descriptor) {
        if (descriptor)
            lockdownd_service_descriptor_free(descriptor);
        return false;
    }
    const afc_error_t rc = afc_client_new(m_device, descriptor, &m_afc);
    lockdownd_service_descriptor_free(descriptor);
    if (rc != AFC_E_SUCCESS) {
        if (m_afc)
            afc_client_free(m_afc);
        m_afc = nullptr;
        return false;
    }
    return true;
}

void mobiledevice_afc::closeService() {
    if (m_afc)
        afc_client_free(m_afc);
    m_afc = nullptr;
}

_AfcFileInfo mobiledevice_afc::fileInfo(QString path) {
    if (!m_afc)
        return _AfcFileInfo();
    char** list = nullptr;
    const QByteArray p = path.toUtf8();
    if (afc_get_file_info(m_afc, p.constData(), &list) != AFC_E_SUCCESS || !list) {
        if (list)
            afc_dictionary_free(list);
        return _AfcFileInfo();
    }
    _AfcFileInfo info(path);
    for (int i = 0; list[i] && list[i + 1]; i += 2) {
        const char* key = list[i];
        const char* value = list[i + 1];
        if (qstrcmp(key, "st_ifmt") == 0) {
            info.type = QString::fromLatin1(value);
        } else if (qstrcmp(key, "st_size") == 0) {
            info.size = QByteArray(value).toLongLong();
        } else if (qstrcmp(key, "st_mtime") == 0) {
            const qint64 ns = QByteArray(value).toLongLong();
            const qint64 ms = qint64(std::trunc(double(ns) / 1000000.0));
            info.mtime = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
        }
    }
    afc_dictionary_free(list);
    return info;
}

QStringList mobiledevice_afc::ls(QString dir, bool skipDots) {
    QStringList names;
    if (!m_afc)
        return names;
    char** list = nullptr;
    const QByteArray d = dir.toUtf8();
    if (afc_read_directory(m_afc, d.constData(), &list) != AFC_E_SUCCESS || !list) {
        if (list)
            afc_dictionary_free(list);
        return names;
    }
    for (int i = 0; list[i]; ++i) {
        const QString name = QString::fromUtf8(list[i]);
        if (skipDots && (name == QLatin1String(".") || name == QLatin1String("..")))
            continue;
        names << name;
    }
    afc_dictionary_free(list);
    return names;
}

QList<_AfcFileInfo> mobiledevice_afc::ls_finfo(QString dir) {
    QList<_AfcFileInfo> result;
    const QString base = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    for (const QString& name : ls(dir, true)) {
        _AfcFileInfo info = fileInfo(base + name);
        if (info.isValid())
            result << info;
    }
    return result;
}

bool mobiledevice_afc::mkdir(QString path) {
    return m_afc && afc_make_directory(m_afc, path.toUtf8().constData()) == AFC_E_SUCCESS;
}

bool mobiledevice_afc::del(QString path) {
    return m_afc && afc_remove_path_and_contents(m_afc, path.toUtf8().constData()) == AFC_E_SUCCESS;
}

bool mobiledevice_afc::rename(QString from, QString to) {
    return m_afc && afc_rename_path(m_afc, from.toUtf8().constData(), to.toUtf8().constData()) ==
                        AFC_E_SUCCESS;
}

bool mobiledevice_afc::openFile(QString path, afc_file_mode_t mode, AfcFile& file) {
    if (!m_afc)
        return false;
    file.close();
    uint64_t handle = 0;
    if (afc_file_open(m_afc, path.toUtf8().constData(), mode, &handle) != AFC_E_SUCCESS)
        return false;
    file.m_client = m_afc;
    file.m_handle = handle;
    return true;
}

bool mobiledevice_afc::readFile(QString path, AfcFile& file) {
    return openFile(path, AFC_FOPEN_RDONLY, file);
}

bool mobiledevice_afc::readWriteFile(QString path, AfcFile& file) {
    return openFile(path, AFC_FOPEN_RW, file);
}

bool mobiledevice_afc::writeFile(QString path, AfcFile& file) {
    return openFile(path, AFC_FOPEN_WRONLY, file);
}

void mobiledevice_afc::readFileContent(QString path, QIODevice& out) {
    AfcFile file;
    if (!readFile(path, file))
        return;
    char buffer[kChunk];
    for (;;) {
        const int n = file.read(buffer, kChunk);
        if (n < 1)
            break;
        out.write(buffer, n);
    }
    file.close();
}

QByteArray mobiledevice_afc::readFileContent(QString path) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    readFileContent(path, buffer);
    buffer.close();
    return bytes;
}

void mobiledevice_afc::writeFileContent(QString path, QIODevice& in) {
    AfcFile file;
    if (!writeFile(path, file))
        return;
    char buffer[kChunk];
    for (;;) {
        const qint64 n = in.read(buffer, kChunk);
        if (n <= 0)
            break;
        file.write(buffer, int(n));
    }
    file.close();
}

void mobiledevice_afc::writeFileContent(QString path, QByteArray data) {
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    writeFileContent(path, buffer);
}

// A folder where writing fails once a few kilobytes have been written: a small tmpfs when this
// process may mount one (as root on most machines), otherwise a limit on the size of files
// that this process writes (writes past it fail with EFBIG). Either way the failure comes from
// the kernel, with the system's own error text.
#pragma once

#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mount.h>
#include <sys/resource.h>

class SmallDisk {
public:
    explicit SmallDisk(int kilobytes = 32, bool tryMount = true) : m_kilobytes(kilobytes) {
        if (!tryMount)
            return;
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0755";
        m_mounted = ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs",
                            MS_NOSUID | MS_NODEV, options.constData()) == 0;
    }
    ~SmallDisk() {
        disarm();
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    bool mounted() const { return m_mounted; }
    // The text a failed write shows.
    QString errorText() const {
        return QString::fromLocal8Bit(std::strerror(m_mounted ? ENOSPC : EFBIG));
    }

    // Earlier files are written before arming; without a tmpfs the limit applies to every file
    // this process writes until disarm().
    void arm() {
        if (m_mounted || m_armed)
            return;
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = m_old;
        lim.rlim_cur = rlim_t(m_kilobytes) * 1024;
        m_armed = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    void disarm() {
        if (m_armed)
            ::setrlimit(RLIMIT_FSIZE, &m_old);
        m_armed = false;
    }

private:
    QTemporaryDir m_dir;
    int m_kilobytes;
    bool m_mounted = false;
    bool m_armed = false;
    rlimit m_old{};
};

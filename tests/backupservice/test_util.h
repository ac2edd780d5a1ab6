#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

inline QByteArray be32(quint32 n) {
    QByteArray w(4, 0);
    w[0] = char(n >> 24);
    w[1] = char(n >> 16);
    w[2] = char(n >> 8);
    w[3] = char(n);
    return w;
}

inline QByteArray pattern(int n) {
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        b[i] = char(i * 7 + 3);
    return b;
}

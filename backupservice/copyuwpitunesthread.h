// Copies a folder of the desktop sync application into the staging folder
// "~/quorvanteli_itunes/<folder name>" under a progress dialog, and marks a finished copy with an
// empty file "__CopyUWPItunesThread". Files already staged are kept as they are.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QThread>

class RunReporter;

class CopyUWPItunesThread : public QThread {
    Q_OBJECT
public:
    CopyUWPItunesThread(QString source, bool cleanFirst, RunReporter& reporter,
                        QObject* parent = nullptr);

    // The staging folder of a source (computed only, nothing is created).
    static QDir uwpItunesSaveDir(QString source);
    // True when a finished copy has left its marker in `dir`.
    static bool isUWPItunesCopied(QDir dir);

    // Copies `source` into the folder `target`; false with `error` set at the first failure.
    bool copyFiles(const QFileInfo& source, QDir target, QString& error);

protected:
    void run() override;

private:
    QString m_source;
    bool m_cleanFirst;
    RunReporter* m_reporter;
};

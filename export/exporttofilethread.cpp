#include "exporttofilethread.h"

#include "exportrun.h"

#include "store/runreporter.h"

ExportToFileThread::ExportToFileThread(const QList<pim::_Contact>& contacts, TYPE type,
                                       QString path, RunReporter* reporter, QObject* parent)
    : QThread(parent), m_contacts(contacts), m_type(type), m_path(path), m_reporter(reporter) {}

ExportToFileThread::~ExportToFileThread() {}

void ExportToFileThread::run() {
    g_runExport(m_contacts, m_type, m_path, *m_reporter);
}

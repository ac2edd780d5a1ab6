#include "exporttofilethread.h"

#include "exportrun.h"

#include "ui/progressform.h"

ExportToFileThread::ExportToFileThread(const QList<pim::_Contact>& contacts, TYPE type,
                                       QString path, ProgressForm* form, QObject* parent)
    : QThread(parent), m_contacts(contacts), m_type(type), m_path(path), m_form(form) {}

ExportToFileThread::~ExportToFileThread() {}

void ExportToFileThread::run() {
    ProgressFormReporter reporter(m_form);
    g_runExport(m_contacts, m_type, m_path, reporter);
}

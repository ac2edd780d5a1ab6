#include "exporttofilethread.h"

#include "exportrun.h"

#include "app/ui/progressform.h"

namespace {

class FormReporter : public ExportReporter {
public:
    explicit FormReporter(ProgressForm* form) : form(form) {}
    bool cancelled() override { return form->rejected; }
    void progress(QString status, int percent, QString text) override {
        form->invokeUpdateProgress(status, percent, text);
    }
    void succeed(QString message) override { form->invokeSucceed(message); }
    void error(QString message) override { form->invokeErrorOccurred(message); }

private:
    ProgressForm* form;
};

}  // namespace

ExportToFileThread::ExportToFileThread(const QList<pim::_Contact>& contacts, TYPE type,
                                       QString path, ProgressForm* form, QObject* parent)
    : QThread(parent), m_contacts(contacts), m_type(type), m_path(path), m_form(form) {}

ExportToFileThread::~ExportToFileThread() {}

void ExportToFileThread::run() {
    FormReporter reporter(m_form);
    g_runExport(m_contacts, m_type, m_path, reporter);
}

#include "importcontactstolocalthread.h"

#include "csvimport.h"
#include "importrun.h"
#include "vcardimport.h"

#include "app/ui/progressform.h"

#include <QScopedPointer>

namespace {

class FormReporter : public ImportReporter {
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

ImportContactsToLocalThread::ImportContactsToLocalThread(QString path, TYPE type, LocalDb* db,
                                                         ProgressForm* progressForm,
                                                         QObject* parent)
    : QThread(parent), path(path), type(type), db(db), progressForm(progressForm) {}

ImportContactsToLocalThread::~ImportContactsToLocalThread() {}

void ImportContactsToLocalThread::run() {
    FormReporter reporter(progressForm);
    QScopedPointer<AbsImport> importer;
    try {
        if (type == VCARD) {
            importer.reset(new VCardImport);
        } else if (type == CSV) {
            importer.reset(new CSVImport);
        }
    } catch (...) {
    }
    if (!importer) {
        reporter.error(QString());
        return;
    }
    g_runImport(*importer, path, *db, reporter);
}

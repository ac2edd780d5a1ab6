// Fuzz: a file read by the vCard or the CSV importer (FUZZ_CSV) and merged into a contact
// database by the import loop, as the import worker does, then read back. Every input ends in
// one report, never a crash, a hang or a leak.
#include "import/csvimport.h"
#include "tests/fuzz/fuzz_support.h"
#include "import/importrun.h"
#include "import/vcardimport.h"

#include "store/localdb.h"

#include <cstdlib>

namespace {

struct Reports : ImportReporter {
    int closing = 0;
    bool cancelled() override { return false; }
    void progress(QString, int, QString) override {}
    void succeed(QString) override { ++closing; }
    void error(QString) override { ++closing; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024)
        return 0;
    static const QString file = fuzz::path(FUZZ_CSV ? "contacts.csv" : "contacts.vcf");
    fuzz::writeFile(file, QByteArray(reinterpret_cast<const char*>(data), int(size)));
    LocalDb& db = fuzz::freshDb();
    Reports reports;
    if (FUZZ_CSV) {
        CSVImport importer;
        g_runImport(importer, file, db, reports);
    } else {
        VCardImport importer;
        g_runImport(importer, file, db, reports);
    }
    if (reports.closing != 1)
        abort();  // the loop promises exactly one closing report
    for (const pim::_Contact& c : db.contacts())
        (void)db.contact(c._id);
    return 0;
}

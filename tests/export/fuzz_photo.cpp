// Fuzz: a contact photo of any bytes (phones and vCards carry what they like), shown in the
// display pane, written by the HTML export and drawn on a printed card. Never a crash, a hang or
// a leak, and never a picture too large to decode safely.
#include "export/contactsprinter.h"
#include "editor/contactdisplayer.h"
#include "tests/fuzz/fuzz_support.h"
#include "export/htmlexport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1024 * 1024)
        return 0;
    static ContactDisplayer* pane = [] {
        fuzz::ensureApp();
        return new ContactDisplayer;
    }();
    pim::_Contact contact(7, QString(), QStringLiteral("Anna Berg"));
    pim::Entity photo;
    photo.fields[QStringLiteral("data15")] =
        QByteArray(reinterpret_cast<const char*>(data), int(size));
    contact.entities[pim::ENTITY_PHOTO] << photo;

    pane->showContact(&contact);
    HtmlExport html{fuzz::path(QStringLiteral("page.html"))};
    (void)html.initialize({contact});
    (void)html.ct2Bytes(contact);
    // No page is kept: the next input gets the same picture name rather than a fresh one.
    html.removeWritten();
    (void)ContactsPrinter::renderCard(300, 180, contact);
    fuzz::deleteLaterNow();
    return 0;
}

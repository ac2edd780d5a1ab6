// Linked into every test program: nothing a test does reaches the maker's web service. Update
// checks and error reports go to a closed local port unless a test points them at its own server.
#include "platform/webservice/webservice.h"

namespace {
const bool offline = g_setWebServiceAddress(QStringLiteral("127.0.0.1:9"));
}

#include "phonecall.h"

namespace phonecall {

DeviceError unexpectedFailure(const char* what) {
    const std::string detail = what && *what ? what : "The exception carried no text.";
    return DeviceError(DeviceFailure::Other,
                       "The step under way failed unexpectedly and was stopped. Try again; if it "
                       "keeps failing, restart the program.",
                       detail);
}

std::exception_ptr failureOfCurrentException() {
    try {
        throw;
    } catch (const DeviceError&) {
        // A failure the call named itself keeps its words.
        return std::current_exception();
    } catch (const std::exception& e) {
        return std::make_exception_ptr(unexpectedFailure(e.what()));
    } catch (...) {
        return std::make_exception_ptr(unexpectedFailure(nullptr));
    }
}

}  // namespace phonecall

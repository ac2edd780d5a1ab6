// Random bytes through the vCard parser and its readers; the tokenizer must also give the same
// events whatever way the input is cut.
#include "import/qvcardparser.h"
#include "import/vcardtokenizer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void onProp(void* ud, const char* name, const char** params) {
    std::string& log = *static_cast<std::string*>(ud);
    log += "P";
    log += name;
    for (const char** s = params; s[0]; s += 2) {
        log += '\x01';
        log += s[0];
        if (s[1]) {
            log += '\x02';
            log += s[1];
        }
    }
    log += '\n';
}

void onData(void* ud, const char* data, int len) {
    std::string& log = *static_cast<std::string*>(ud);
    if (data) {
        log += "D";
        log.append(data, static_cast<size_t>(len));
    } else {
        log += "E";
    }
    log += '\n';
}

std::string tokenize(const uint8_t* data, size_t size, size_t step) {
    std::string log;
    CARD_Parser* p = CARD_ParserCreate();
    CARD_SetUserData(p, &log);
    CARD_SetPropHandler(p, onProp);
    CARD_SetDataHandler(p, onData);
    size_t pos = 0;
    int result = -1;
    do {
        size_t n = step ? std::min(step, size - pos) : size;
        result = CARD_Parse(p, reinterpret_cast<const char*>(data) + pos, static_cast<int>(n),
                            pos + n >= size);
        pos += n;
    } while (result && pos < size);
    log += result ? "ok" : "fail";
    CARD_ParserFree(p);
    return log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 20))
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const QList<QList<QVCardParser::_Property> > cards = QVCardParser::parse(bytes);
    for (const auto& card : cards) {
        for (const auto& prop : card) {
            (void)prop.values();
        }
    }
    if (size <= 4096) {
        const std::string whole = tokenize(data, size, 0);
        const size_t step = size ? 1 + data[0] % 7 : 1;
        if (tokenize(data, size, step) != whole)
            abort();
    }
    return 0;
}

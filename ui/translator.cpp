#include "translator.h"

#include <cstring>

TwTranslator::TwTranslator(QObject* parent) : QTranslator(parent) {}

TwTranslator::~TwTranslator() = default;

QString TwTranslator::translate(const char* context, const char* sourceText,
                                const char* disambiguation, int n) const {
    QString text = QTranslator::translate(context, sourceText, disambiguation, n);
    if (text.isNull() && sourceText && std::strncmp(sourceText, "IDS_", 4) == 0 &&
        (!context || std::strcmp(context, "IDS") != 0)) {
        text = QTranslator::translate("IDS", sourceText, disambiguation, n);
    }
    return text;
}

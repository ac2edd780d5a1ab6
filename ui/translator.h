#pragma once

#include <QTranslator>

// The program's translator. The vocabulary of ":/en.qm" is a set of "IDS_..." keys; a key that
// is not found under the caller's translation context is looked up once more under the shared
// context "IDS", so every class can translate every key with its own tr().
// main() installs one of these (instead of a plain QTranslator) after loading ":/en.qm".
class TwTranslator : public QTranslator {
    Q_OBJECT
public:
    explicit TwTranslator(QObject* parent = nullptr);
    ~TwTranslator() override;

    QString translate(const char* context, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;
};

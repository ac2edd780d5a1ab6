// The device words go through the program's translation like its other texts: every sentence is
// in the compiled translation, which gives the same English the source holds.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSet>
#include <QTranslator>

#include "platform/mobilesync/devicewords.h"
#include "resources/ui/uiresources.h"

namespace {

// The program's English translation, noting each device sentence it does not hold.
class Recording : public QTranslator {
public:
    QString translate(const char* context, const char* source, const char* disambiguation,
                      int n) const override {
        const QString text = QTranslator::translate(context, source, disambiguation, n);
        if (text.isNull() && qstrcmp(context, "DeviceWords") == 0)
            missing.insert(QString::fromUtf8(source));
        return text;
    }
    mutable QSet<QString> missing;
};

// The words of every failure at every step, with and without the phone's own words.
std::vector<std::string> everyWording() {
    std::vector<std::string> out;
    for (int k = int(DeviceFailure::None); k <= int(DeviceFailure::MuxUnreachable); ++k) {
        out.push_back(deviceFailureWords(DeviceFailure(k)));
        for (int s = int(DeviceStage::None); s <= int(DeviceStage::Finish); ++s) {
            for (const char* said : {"", "The device is locked", kICloudRefusal}) {
                DeviceSeen seen;
                seen.kind = DeviceFailure(k);
                seen.stage = DeviceStage(s);
                seen.phoneWords = said;
                seen.waitMs = s % 2 ? 30000 : 0;
                out.push_back(deviceFailureWords(seen));
            }
        }
    }
    return out;
}

}  // namespace

TEST(DeviceWords, EverySentenceIsTranslatedToTheSameEnglish) {
    const std::vector<std::string> source = everyWording();
    tw_initUiResources();
    Recording translation;
    ASSERT_TRUE(translation.load(QStringLiteral(":/en.qm")));
    QCoreApplication::installTranslator(&translation);
    const std::vector<std::string> translated = everyWording();
    QCoreApplication::removeTranslator(&translation);
    EXPECT_TRUE(translation.missing.isEmpty())
        << QStringList(translation.missing.values()).join('\n').toStdString();
    EXPECT_EQ(translated, source);
}

// Card texts laid out once and drawn again must land where QPainter::drawText puts them: the
// same pixels and the same box, label or value, one line or wrapped, clipped or not.
#include "export/cardplan.h"
#include "export/cardtext.h"
#include "export_test_util.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QRawFont>
#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

struct Drawn {
    QImage image;
    QRect box;
};

QImage blank() {
    QImage image(360, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

QFont cardFont(bool label) {
    QFont font = QApplication::font();
    font.setPixelSize(13);
    font.setWeight(label ? QFont::Bold : QFont::Normal);
    font.setStyle(label ? QFont::StyleItalic : QFont::StyleNormal);
    return font;
}

Drawn byDrawText(const QString& text, const QFont& font, const QRect& box, int flags) {
    Drawn d{blank(), QRect()};
    QPainter p(&d.image);
    p.setFont(font);
    p.drawText(box, flags, text, &d.box);
    return d;
}

// Drawn twice from the kept layout, the second time from the cache.
Drawn byCardText(CardText& kept, const QString& text, const QFont& font, const QRect& box,
                 int flags) {
    Drawn d{blank(), QRect()};
    for (int pass = 0; pass < 2; ++pass) {
        d.image = blank();
        QPainter p(&d.image);
        p.setFont(font);
        CardText::Block block;
        const bool laid = kept.block(
            text, p.font(), (flags & Qt::TextWordWrap) ? CardText::Wrapped : CardText::OneLine,
            box.width(), p.layoutDirection(), block);
        EXPECT_TRUE(laid) << qPrintable(text);
        if (!laid)
            return d;
        const QRectF clip(box);
        CardText::draw(p, block, clip.topLeft(), (flags & Qt::TextDontClip) ? nullptr : &clip);
        d.box = QRectF(clip.topLeft(), block.size).toAlignedRect();
    }
    return d;
}

// Shaped on another thread with a font of its own, drawn here in this thread's face. A null
// image when the text needs a fallback face (left to the drawing thread).
Drawn byShapedElsewhere(const QString& text, const QFont& font, const QRect& box, int flags) {
    Drawn d{blank(), QRect()};
    QPainter p(&d.image);
    p.setFont(font);
    const QFont own = p.font();
    const Qt::LayoutDirection direction = p.layoutDirection();
    CardText::Shaped shaped;
    bool laid = false;
    std::thread worker([&] {
        QFont copy = own;
        copy.setPixelSize(copy.pixelSize());
        laid = CardText::shape(text, copy,
                               (flags & Qt::TextWordWrap) ? CardText::Wrapped : CardText::OneLine,
                               box.width(), direction, shaped);
    });
    worker.join();
    if (!laid)
        return Drawn{QImage(), QRect()};
    const QRectF clip(box);
    CardText::draw(p, shaped, QRawFont::fromFont(p.font()), clip.topLeft(),
                   (flags & Qt::TextDontClip) ? nullptr : &clip);
    d.box = QRectF(clip.topLeft(), shaped.size).toAlignedRect();
    return d;
}

}  // namespace

TEST(CardText, DrawsWhereDrawTextDraws) {
    const QStringList texts = {
        QStringLiteral("E-Mail:"),
        QStringLiteral("person.1234@example.com"),
        QStringLiteral("+1 555 1001234"),
        QStringLiteral("12 Main Street\nSpringfield 62701\nUSA"),
        QStringLiteral("A very long street name that wraps at the end of the card's column"),
        QStringLiteral("tab\tand\rreturn"),
        QString::fromUtf8("Zoë Åström — Ñandú"),
        QString::fromUtf8("שלום עולם 123"),
        QString::fromUtf8("山田 太郎"),
    };
    CardText kept;
    for (bool label : {true, false}) {
        const QFont font = cardFont(label);
        for (const QString& text : texts) {
            const struct {
                QRect box;
                int flags;
            } cases[] = {
                {QRect(20, 10, 200, 0), Qt::TextSingleLine | Qt::TextDontClip},  // a label
                {QRect(90, 30, 120, 15), Qt::TextSingleLine},                    // a value
                {QRect(70, 50, 150, 0), Qt::TextWordWrap | Qt::TextDontClip},    // an address
            };
            for (const auto& c : cases) {
                const Drawn want = byDrawText(text, font, c.box, c.flags);
                const Drawn got = byCardText(kept, text, font, c.box, c.flags);
                EXPECT_EQ(got.box, want.box) << qPrintable(text) << " flags " << c.flags;
                EXPECT_TRUE(got.image == want.image) << qPrintable(text) << " flags " << c.flags;
                // Text in a script the font lacks comes from a fallback face: that one is laid
                // out where it is drawn.
                const Drawn shaped = byShapedElsewhere(text, font, c.box, c.flags);
                EXPECT_TRUE(!shaped.image.isNull() || text.at(0).script() != QChar::Script_Latin)
                    << qPrintable(text);
                if (shaped.image.isNull())
                    continue;
                EXPECT_EQ(shaped.box, want.box) << qPrintable(text) << " flags " << c.flags;
                EXPECT_TRUE(shaped.image == want.image) << qPrintable(text) << " flags " << c.flags;
            }
        }
    }
}

TEST(CardText, LeavesDrawTextItsOwnCases) {
    // Length variants, trailing spaces on one line and a right-to-left painter are drawText's.
    CardText kept;
    CardText::Block block;
    const QFont font = cardFont(false);
    EXPECT_FALSE(kept.block(QStringLiteral("long") + QChar(ushort(0x9c)) + QStringLiteral("s"),
                            font, CardText::OneLine, 100, Qt::LeftToRight, block));
    EXPECT_FALSE(
        kept.block(QStringLiteral("value "), font, CardText::OneLine, 100, Qt::LeftToRight, block));
    EXPECT_FALSE(
        kept.block(QStringLiteral("value"), font, CardText::OneLine, 100, Qt::RightToLeft, block));
    EXPECT_TRUE(
        kept.block(QStringLiteral("value "), font, CardText::Wrapped, 100, Qt::LeftToRight, block));
    // An empty text draws nothing and is a line high, as drawText's box says.
    ASSERT_TRUE(kept.block(QString(), font, CardText::OneLine, 100, Qt::LeftToRight, block));
    EXPECT_FALSE(block.layout);
    EXPECT_GT(block.size.height(), 0);
}

// A whole card's texts laid out on another thread and drawn with the glyphs of each face
// gathered into one run show the same pixels as the card laid out and drawn text by text on
// the painting thread: labels, values cut at their box, a company line and an address running
// past the card's edge.
TEST(CardText, GatheredCardDrawsAsTextByText) {
    using namespace exporttest;
    const pim::_Contact card = contact(
        QStringLiteral("Aisha Dubois1121"),
        {{pim::ENTITY_ORG,
          ent({{"data1", "Example Corporation International"}, {"data4", "Account Manager"}})},
         {pim::ENTITY_EVENT, ent({{"data1", "1972-07-12T00:00:00"}, {"data2", "3"}})},
         {pim::ENTITY_PHONE, ent({{"data1", "+1 555 1001121"}, {"data2", "2"}})},
         {pim::ENTITY_PHONE, ent({{"data1", "+1 555 2001121"}, {"data2", "3"}})},
         {pim::ENTITY_EMAIL, ent({{"data1", "a.rather.long.address.1121@example.com"}})},
         {pim::ENTITY_ADDR, ent({{"data4", "1121 Main Street, Building 7, Floor 3, Room 12"},
                                 {"data7", "Springfield"},
                                 {"data9", "62701"},
                                 {"data10", "USA"}})}});
    const int w = 341;
    auto draw = [&](bool elsewhere) {
        QImage image(w, 213, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter p(&image);
        p.setFont(QApplication::font());
        const CardFonts fonts(p, w);
        CardText kept;
        if (!elsewhere) {
            planCard(card, w, CardTexts(fonts, p.layoutDirection(), &kept))
                .draw(p, QPoint(0, 0), fonts);
            return image;
        }
        const CardFonts copy = fonts.detached();
        const Qt::LayoutDirection direction = p.layoutDirection();
        std::unique_ptr<CardTexts> texts;
        std::thread worker([&] {
            const CardFonts own = copy.detached();
            texts.reset(new CardTexts(planCard(card, w, CardTexts(own, direction, nullptr))));
        });
        worker.join();
        texts->draw(p, QPoint(0, 0), fonts);
        return image;
    };
    const QImage textByText = draw(false);
    const QImage gathered = draw(true);
    EXPECT_TRUE(gathered == textByText);
    // The card shows ink right up to its edge, where the long lines are cut.
    int inkAtEdge = 0;
    for (int y = 0; y < 213; ++y)
        inkAtEdge += textByText.pixel(w - 12, y) != qRgb(255, 255, 255);
    EXPECT_GT(inkAtEdge, 0);
}

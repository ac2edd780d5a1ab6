// The texts of contact cards, laid out as QPainter::drawText lays out a text from the top left
// corner of its box, and kept: a PDF of thousands of cards draws the same labels ("E-Mail:",
// "Address:") and many of the same values (a company, a city) again and again, and shaping a
// text costs more than drawing it.
#ifndef TW_EXPORT_CARDTEXT_H
#define TW_EXPORT_CARDTEXT_H

#include <QFont>
#include <QHash>
#include <QPointF>
#include <QRawFont>
#include <QSizeF>
#include <QString>
#include <QTextLayout>
#include <QVector>

#include <memory>

class QPainter;
class QRectF;

// Used by one painter on one thread. The fonts it is given differ in size, weight and style
// only (the cards' type is the application's).
class CardText {
public:
    // How a text is laid out: on one line however long, or wrapped at the box's width.
    enum Mode { OneLine, Wrapped };

    // One laid-out text. `size` is the box drawText gives back, its top left at the origin.
    struct Block {
        std::shared_ptr<QTextLayout> layout;  // null for an empty text
        QSizeF size;
    };

    // The text in `font` (the painter's own, as painter.font() gives it) for a painter of that
    // direction, wrapped at `width` when `mode` says so. False when drawText treats the text
    // in a way of its own (length variants, trailing spaces on one line, a right-to-left
    // painter): draw that one with drawText. The block stays good after later calls push it
    // out of the cache.
    bool block(const QString& text, const QFont& font, Mode mode, int width,
               Qt::LayoutDirection direction, Block& out);

    // Draws a block with the top left of its box at `at`, as drawText does: clipped to `clip`
    // when given and the text leaves it.
    static void draw(QPainter& painter, const Block& block, QPointF at,
                     const QRectF* clip = nullptr);

    // A text laid out on another thread than the painter's, as glyphs of the font's own face
    // at their places: the font engines of a thread are its own, so the drawing thread draws
    // these glyphs with its own copy of the face.
    struct Shaped {
        QVector<QVector<quint32>> glyphs;  // one run a line
        QVector<QVector<QPointF>> positions;
        QSizeF size;
    };
    // As block(), on any thread with a font of the thread's own; also false when a glyph
    // comes from another face than the font's (a fallback font for another script).
    static bool shape(const QString& text, const QFont& font, Mode mode, int width,
                      Qt::LayoutDirection direction, Shaped& out);
    // Draws shaped glyphs in `face` (QRawFont::fromFont of the painter's font), as draw() does.
    static void draw(QPainter& painter, const Shaped& shaped, const QRawFont& face, QPointF at,
                     const QRectF* clip = nullptr);

    // Glyphs of one face gathered from several texts and drawn as one run: a PDF pays for
    // each run drawn (its own graphics state, font and text object) besides its glyphs.
    struct Gathered {
        QVector<quint32> glyphs;
        QVector<QPointF> positions;
    };
    // Adds the shaped glyphs, placed at `at`, to `into` when they need no clip (none given, or
    // they stay inside it); false when they must be drawn alone with draw().
    static bool gather(const Shaped& shaped, QPointF at, const QRectF* clip, Gathered& into);
    // Draws what was gathered in `face`, as draw() would have drawn each text.
    static void draw(QPainter& painter, const Gathered& gathered, const QRawFont& face);

private:
    struct Key {
        QString text;
        int pixelSize, weight, style;
        int lineWidth;  // -1 on one line
        bool autoDirection;
        bool operator==(const Key& o) const {
            return text == o.text && pixelSize == o.pixelSize && weight == o.weight &&
                   style == o.style && lineWidth == o.lineWidth && autoDirection == o.autoDirection;
        }
    };
    friend uint qHash(const Key& k, uint seed) {
        return qHash(k.text, seed) ^ uint(k.pixelSize * 31 + k.weight * 7 + k.style) ^
               uint(k.lineWidth * 131 + int(k.autoDirection));
    }

    // Enough for the labels and the values that repeat on one page after another; values
    // seen once push the rest out only after this many.
    enum { kMaxKept = 512 };
    QHash<Key, Block> m_kept;
    // The leading and line height of each font, by the same size, weight and style.
    QHash<Key, QPair<qreal, qreal>> m_metrics;
};

#endif

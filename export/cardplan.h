// A contact card's texts, laid out before the card is drawn: where each goes, in which face,
// and whether the card needs a clip of its own. Laid out on the painting thread through kept
// layouts, or on another thread as glyphs.
#ifndef TW_EXPORT_CARDPLAN_H
#define TW_EXPORT_CARDPLAN_H

#include "cardtext.h"

#include "store/pim.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QMargins>
#include <QPainter>
#include <QRawFont>
#include <QRect>

#include <algorithm>
#include <vector>

// Card metrics follow the card width (a preview switched to landscape lays out wider cards).
struct CardMetrics {
    explicit CardMetrics(int w)
        : fontSize(12 * w / 339), lineSep(w / 113), pattern(10 * w / 399), borderW(2 * w / 399) {}
    int fontSize;
    int lineSep;
    int pattern;
    int borderW;
};

// The three faces of a card's type (its metrics follow the card's width), as a painter on the
// device resolves them.
struct CardFonts {
    QFont name;   // the name line, bold italic and larger
    QFont label;  // labels and the company line, bold italic
    QFont value;  // values

    CardFonts(QPainter& painter, int w) {
        const CardMetrics m(w);
        const QFont before = painter.font();
        QFont font = QApplication::font();
        font.setWeight(QFont::Bold);
        font.setStyle(QFont::StyleItalic);
        font.setPixelSize(std::max(1, m.fontSize + m.fontSize / 7));
        painter.setFont(font);
        name = painter.font();
        font.setPixelSize(std::max(1, m.fontSize));
        painter.setFont(font);
        label = painter.font();
        font.setWeight(QFont::Normal);
        font.setStyle(QFont::StyleNormal);
        painter.setFont(font);
        value = painter.font();
        painter.setFont(before);
    }

    // Copies of their own, for another thread: a font caches the engines of the thread that
    // uses it.
    CardFonts detached() const {
        CardFonts copy;
        copy.name = name;
        copy.label = label;
        copy.value = value;
        for (QFont* f : {&copy.name, &copy.label, &copy.value})
            f->setPixelSize(f->pixelSize());
        return copy;
    }

    // The face of each, for glyphs laid out on another thread; made on this one when first
    // asked for.
    const QRawFont& face(int which) const {
        QRawFont& f = m_faces[which];
        if (!f.isValid())
            f = QRawFont::fromFont(which == 0 ? name : which == 1 ? label : value);
        return f;
    }

private:
    CardFonts() = default;
    mutable QRawFont m_faces[3];
};

// The texts of one card, laid out before any is drawn: whether the card needs its clip is known
// only once every text's box is. Laid out on the painter's thread through its kept layouts, or
// on another thread as glyphs (`kept` null, the fonts detached for that thread).
class CardTexts {
public:
    enum Face { NameFace, LabelFace, ValueFace };

    CardTexts(const CardFonts& fonts, Qt::LayoutDirection direction, CardText* kept)
        : m_fonts(fonts), m_direction(direction), m_kept(kept) {}

    // A bold italic label (in `labelFace`) and, after it, its value in normal type; returns
    // the height used.
    int addEntityVal(Face labelFace, int x, int y, int width, const QString& label,
                     const QString& value, bool sameLine) {
        // An empty text draws nothing and gives no box: its box is a line's height all the
        // same.
        const QRect labelBox =
            label.isEmpty() ? QFontMetrics(font(labelFace))
                                  .boundingRect(QRect(x, y, width, 0), Qt::TextSingleLine, label)
                            : add(labelFace, QRect(x, y, width, 0),
                                  Qt::TextSingleLine | Qt::TextDontClip, label);
        if (value.isEmpty())
            return labelBox.height();

        const int left = labelBox.right() + 3;
        const int right = x + width - 2;
        if (sameLine) {
            add(ValueFace, QRect(QPoint(left, labelBox.top()), QPoint(right, labelBox.bottom())),
                Qt::TextSingleLine, value);
            return labelBox.height();
        }
        return add(ValueFace, QRect(left, y, std::max(0, right - left + 1), 0),
                   Qt::TextWordWrap | Qt::TextDontClip, value)
            .height();
    }

    // Whether every text lies well inside `inside`: a glyph may reach a little beyond its box
    // (an italic's overhang, an accent), so a margin of a third of the type size is kept.
    bool allWithin(const QRect& inside) const {
        for (const Text& t : m_texts) {
            QRect ink = t.drawn;
            if (!(t.flags & Qt::TextDontClip))
                ink = ink.intersected(t.box);
            const int margin = std::max(2, font(t.face).pixelSize() / 3);
            if (t.how == DrawText ||
                !inside.contains(ink.marginsAdded(QMargins(margin, margin, margin, margin))))
                return false;
        }
        return true;
    }

    // Draws them offset by `origin`, as drawText would have where each was added, in the
    // painter's own `fonts`.
    void draw(QPainter& painter, QPoint origin, const CardFonts& fonts) const {
        // Texts laid out as glyphs that need no clip are drawn last, one run per face.
        CardText::Gathered gathered[3];
        for (const Text& t : m_texts) {
            const QRect box = t.box.translated(origin);
            const QRectF clip(box);
            const QRectF* clipTo = (t.flags & Qt::TextDontClip) ? nullptr : &clip;
            const QFont& own = t.face == NameFace    ? fonts.name
                               : t.face == LabelFace ? fonts.label
                                                     : fonts.value;
            switch (t.how) {
                case DrawText:
                    painter.setFont(own);
                    painter.drawText(box, t.flags, t.text);
                    break;
                case Kept:
                    CardText::draw(painter, t.block, clip.topLeft(), clipTo);
                    break;
                case Glyphs:
                    if (!CardText::gather(t.shaped, clip.topLeft(), clipTo, gathered[t.face]))
                        CardText::draw(painter, t.shaped, fonts.face(t.face), clip.topLeft(),
                                       clipTo);
                    break;
            }
        }
        for (int face = NameFace; face <= ValueFace; ++face)
            CardText::draw(painter, gathered[face], fonts.face(face));
    }

private:
    enum How { DrawText, Kept, Glyphs };
    struct Text {
        Face face;
        QRect box;
        int flags;
        QString text;
        How how;
        CardText::Block block;
        CardText::Shaped shaped;
        QRect drawn;  // the box drawText gives back
    };

    const QFont& font(Face face) const {
        return face == NameFace ? m_fonts.name : face == LabelFace ? m_fonts.label : m_fonts.value;
    }

    // Lays out `text` as drawText(box, flags, text) would; returns the box drawText would give
    // back.
    QRect add(Face face, const QRect& box, int flags, const QString& text) {
        Text t{face, box, flags, text, DrawText, {}, {}, QRect()};
        const CardText::Mode mode =
            (flags & Qt::TextWordWrap) ? CardText::Wrapped : CardText::OneLine;
        QSizeF size;
        if (m_kept && m_kept->block(text, font(face), mode, box.width(), m_direction, t.block)) {
            t.how = Kept;
            size = t.block.size;
        } else if (!m_kept &&
                   CardText::shape(text, font(face), mode, box.width(), m_direction, t.shaped)) {
            t.how = Glyphs;
            size = t.shaped.size;
        }
        t.drawn = t.how == DrawText ? QFontMetrics(font(face)).boundingRect(box, flags, text)
                                    : QRectF(QRectF(box).topLeft(), size).toAlignedRect();
        m_texts.push_back(std::move(t));
        return m_texts.back().drawn;
    }

    CardFonts m_fonts;
    Qt::LayoutDirection m_direction;
    CardText* m_kept;
    std::vector<Text> m_texts;
};

// The texts of a card `w` pixels wide, laid out as drawn, added to `texts`.
CardTexts planCard(const pim::_Contact& contact, int w, CardTexts texts);

#endif

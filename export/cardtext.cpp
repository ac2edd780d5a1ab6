#include "cardtext.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace {

// drawText's own treatment of a text it draws: false for the texts left to drawText.
bool ownCase(const QString& text, CardText::Mode mode, Qt::LayoutDirection direction) {
    // drawText picks among variants split by U+009C by the box's width, measures a line's
    // trailing spaces and aligns to the right of a right-to-left painter: left to it.
    return !(direction == Qt::RightToLeft || text.contains(QChar(ushort(0x9c))) ||
             (mode == CardText::OneLine && !text.isEmpty() && text.back().isSpace()));
}

// The characters drawText does not draw as they are: breaks and tabs become spaces, a line
// feed in a wrapped text a line separator.
QString shownText(const QString& text, CardText::Mode mode) {
    QString shown = text;
    for (QChar& c : shown) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\t') ||
            (mode == CardText::OneLine && c == QLatin1Char('\n')))
            c = QLatin1Char(' ');
        else if (c == QLatin1Char('\n'))
            c = QChar::LineSeparator;
    }
    return shown;
}

// Lays a text out in lines as drawText does; returns the box drawText gives back.
QSizeF layOut(QTextLayout& layout, CardText::Mode mode, int width, Qt::LayoutDirection direction,
              qreal leading) {
    QTextOption option;
    option.setAlignment(Qt::AlignLeft);
    option.setTextDirection(direction);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    const qreal lineWidth =
        mode == CardText::Wrapped ? qreal(std::max(0, width)) : qreal(0x01000000);
    qreal height = -leading;
    qreal widest = 0;
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(lineWidth);
        height += leading;
        // Lines stand on whole pixels.
        height = std::ceil(height);
        line.setPosition(QPointF(0, height));
        height += line.ascent() + line.descent();
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return QSizeF(widest, height);
}

// Sets the painter's clip to `clip` for a text of `size` at `at` that leaves it; true when set.
bool clipIfLeaving(QPainter& painter, QPointF at, QSizeF size, const QRectF* clip) {
    if (!clip || clip->contains(QRectF(at, size)))
        return false;
    painter.save();
    painter.setClipRect(*clip, Qt::IntersectClip);
    return true;
}

}  // namespace

bool CardText::shape(const QString& text, const QFont& font, Mode mode, int width,
                     Qt::LayoutDirection direction, Shaped& out) {
    if (!ownCase(text, mode, direction))
        return false;
    const QFontMetricsF metrics(font);
    out = Shaped();
    const QString shown = shownText(text, mode);
    if (shown.isEmpty()) {
        out.size = QSizeF(0, metrics.height());
        return true;
    }
    QTextLayout layout(shown, font);
    out.size = layOut(layout, mode, width, direction, metrics.leading());
    const QRawFont face = QRawFont::fromFont(font);
    for (int i = 0; i < layout.lineCount(); ++i) {
        for (const QGlyphRun& run : layout.lineAt(i).glyphRuns()) {
            if (run.glyphIndexes().isEmpty())
                continue;
            if (!(run.rawFont() == face) || run.overline() || run.underline() || run.strikeOut())
                return false;
            out.glyphs.append(run.glyphIndexes());
            out.positions.append(run.positions());
        }
    }
    return true;
}

void CardText::draw(QPainter& painter, const Shaped& shaped, const QRawFont& face, QPointF at,
                    const QRectF* clip) {
    if (shaped.glyphs.isEmpty())
        return;
    const bool clipped = clipIfLeaving(painter, at, shaped.size, clip);
    for (int i = 0; i < shaped.glyphs.size(); ++i) {
        QGlyphRun run;
        run.setRawFont(face);
        run.setGlyphIndexes(shaped.glyphs.at(i));
        run.setPositions(shaped.positions.at(i));
        painter.drawGlyphRun(at, run);
    }
    if (clipped)
        painter.restore();
}

bool CardText::gather(const Shaped& shaped, QPointF at, const QRectF* clip, Gathered& into) {
    if (clip && !clip->contains(QRectF(at, shaped.size)))
        return false;
    for (int i = 0; i < shaped.glyphs.size(); ++i) {
        into.glyphs += shaped.glyphs.at(i);
        for (const QPointF& p : shaped.positions.at(i))
            into.positions += p + at;
    }
    return true;
}

void CardText::draw(QPainter& painter, const Gathered& gathered, const QRawFont& face) {
    if (gathered.glyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(face);
    run.setGlyphIndexes(gathered.glyphs);
    run.setPositions(gathered.positions);
    painter.drawGlyphRun(QPointF(0, 0), run);
}

bool CardText::block(const QString& text, const QFont& font, Mode mode, int width,
                     Qt::LayoutDirection direction, Block& out) {
    if (!ownCase(text, mode, direction))
        return false;
    Key key{text,
            font.pixelSize(),
            font.weight(),
            int(font.style()),
            mode == Wrapped ? std::max(0, width) : -1,
            direction != Qt::LeftToRight};
    const auto found = m_kept.constFind(key);
    if (found != m_kept.constEnd()) {
        out = found.value();
        return true;
    }

    Key fontKey = key;
    fontKey.text.clear();
    fontKey.lineWidth = 0;
    auto metrics = m_metrics.constFind(fontKey);
    if (metrics == m_metrics.constEnd()) {
        const QFontMetricsF m(font);
        metrics = m_metrics.insert(fontKey, qMakePair(m.leading(), m.height()));
    }
    const qreal leading = metrics->first;

    const QString shown = shownText(text, mode);
    Block b;
    if (shown.isEmpty()) {
        b.size = QSizeF(0, metrics->second);
    } else {
        b.layout = std::make_shared<QTextLayout>(shown, font);
        b.size = layOut(*b.layout, mode, key.lineWidth, direction, leading);
    }
    if (m_kept.size() >= kMaxKept)
        m_kept.clear();
    m_kept.insert(key, b);
    out = b;
    return true;
}

void CardText::draw(QPainter& painter, const Block& block, QPointF at, const QRectF* clip) {
    if (!block.layout)
        return;
    const bool clipped = clipIfLeaving(painter, at, block.size, clip);
    for (int i = 0; i < block.layout->lineCount(); ++i)
        block.layout->lineAt(i).draw(&painter, at);
    if (clipped)
        painter.restore();
}

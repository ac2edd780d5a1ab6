#include "cardtext.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextOption>

#include <algorithm>
#include <cmath>

bool CardText::block(const QString& text, const QFont& font, Mode mode, int width,
                     Qt::LayoutDirection direction, Block& out) {
    // drawText picks among variants split by U+009C by the box's width, measures a line's
    // trailing spaces and aligns to the right of a right-to-left painter: left to it.
    if (direction == Qt::RightToLeft || text.contains(QChar(ushort(0x9c))) ||
        (mode == OneLine && !text.isEmpty() && text.back().isSpace()))
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

    // The characters drawText does not draw as they are: breaks and tabs become spaces, a
    // line feed in a wrapped text a line separator.
    QString shown = text;
    for (QChar& c : shown) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\t') ||
            (mode == OneLine && c == QLatin1Char('\n')))
            c = QLatin1Char(' ');
        else if (c == QLatin1Char('\n'))
            c = QChar::LineSeparator;
    }
    Block b;
    if (shown.isEmpty()) {
        b.size = QSizeF(0, metrics->second);
    } else {
        b.layout = std::make_shared<QTextLayout>(shown, font);
        QTextOption option;
        option.setAlignment(Qt::AlignLeft);
        option.setTextDirection(direction);
        b.layout->setTextOption(option);
        b.layout->setCacheEnabled(true);
        const qreal lineWidth = mode == Wrapped ? qreal(key.lineWidth) : qreal(0x01000000);
        qreal height = -leading;
        qreal widest = 0;
        b.layout->beginLayout();
        for (;;) {
            QTextLine line = b.layout->createLine();
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
        b.layout->endLayout();
        b.size = QSizeF(widest, height);
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
    const bool clipped = clip && !clip->contains(QRectF(at, block.size));
    if (clipped) {
        painter.save();
        painter.setClipRect(*clip, Qt::IntersectClip);
    }
    for (int i = 0; i < block.layout->lineCount(); ++i)
        block.layout->lineAt(i).draw(&painter, at);
    if (clipped)
        painter.restore();
}

#include "textlabel.h"

#include <QEvent>

TextLabel::TextLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setWordWrap(true);
    // Account names, router answers and service messages fill these labels: text, never markup.
    setTextFormat(Qt::PlainText);
}

int TextLabel::heightForWidth(int width) const
{
    // The text setter, the margins and the indent are not virtual; the text and the margins are
    // compared on each call instead. The indent and the alignment are never changed here.
    if (text() != m_measuredText || contentsMargins() != m_measuredMargins) {
        m_measuredText = text();
        m_measuredMargins = contentsMargins();
        for (Measure &measure : m_heights)
            measure = Measure();
    }
    for (const Measure &measure : m_heights) {
        if (measure.width == width)
            return measure.height;
    }
    Measure &slot = m_heights[m_next];
    m_next = (m_next + 1) % kRemembered;
    slot.width = width;
    slot.height = QLabel::heightForWidth(width);
    return slot.height;
}

void TextLabel::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::ContentsRectChange:
    case QEvent::LayoutDirectionChange:
        for (Measure &measure : m_heights)
            measure = Measure();
        break;
    default:
        break;
    }
    QLabel::changeEvent(event);
}

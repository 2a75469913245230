#include "CStatusBarCtrl.h"

#include <QGlyphRun>
#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolTip>
#include <algorithm>

namespace {

// Room between a part's frame and its text, on each side.
constexpr int kTextMargin = 3;
// The frame's share of a part's width (see paintEvent).
constexpr int kFrameRight = 2;
// What ends a text cut to fit.
constexpr char16_t kEllipsis = 0x2026;

QRect TextRect(const QRect& part)
{
    return part.adjusted(kTextMargin, 0, -kFrameRight - kTextMargin, 0);
}

} // namespace

CStatusBarCtrl::CStatusBarCtrl(QWidget* pParent) : QWidget(pParent)
{
    m_parts = {-1};
    m_texts = {QString()};
    setAccessibleName(QStringLiteral("Status bar"));
    // It paints its own background (the window's colour), so that a new
    // text repaints the bar alone, not the window behind it.
    setAutoFillBackground(true);
}

void CStatusBarCtrl::SetParts(const QVector<int>& rightEdges)
{
    m_parts = rightEdges.isEmpty() ? QVector<int>{-1} : rightEdges;
    while (m_texts.size() < m_parts.size())
        m_texts.append(QString());
    while (m_texts.size() > m_parts.size())
        m_texts.removeLast();
    PlaceWidget();
    update();
}

void CStatusBarCtrl::SetPartWidget(int nPart, QWidget* pWidget)
{
    m_nWidgetPart = nPart;
    m_pPartWidget = pWidget;
    if (pWidget) {
        pWidget->setParent(this);
        pWidget->show();
    }
    PlaceWidget();
    update();
}

void CStatusBarCtrl::PlaceWidget()
{
    if (!m_pPartWidget)
        return;
    // Inside the part's frame, flush with its right edge.
    const QRect frame = PartRect(m_nWidgetPart).adjusted(0, 3, -kFrameRight - 1, -1);
    const int w = qMin(m_pPartWidget->sizeHint().width(), qMax(0, frame.width() - 2));
    m_pPartWidget->setGeometry(frame.right() + 1 - w, frame.top(), w, frame.height());
}

QRect CStatusBarCtrl::TextRectOf(int nPart) const
{
    QRect r = TextRect(PartRect(nPart));
    if (nPart == m_nWidgetPart && m_pPartWidget && !m_pPartWidget->isHidden())
        r.setRight(qMin(r.right(), m_pPartWidget->geometry().left() - kTextMargin - 1));
    return r;
}

void CStatusBarCtrl::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    PlaceWidget();
}

QRect CStatusBarCtrl::PartRect(int nPart) const
{
    if (nPart < 0 || nPart >= m_parts.size())
        return QRect();
    // Only -1 runs to the end; an edge left of where the part starts (a bar
    // narrower than its parts) leaves the part empty rather than on top of
    // the others.
    int left = 0;
    for (int i = 0; i <= nPart; ++i) {
        const int right = m_parts[i] == -1 ? width() : qMax(left, m_parts[i]);
        if (i == nPart)
            return QRect(left, 0, right - left, height());
        left = right;
    }
    return QRect();
}

void CStatusBarCtrl::SetText(int nPart, const QString& text)
{
    if (nPart < 0 || nPart >= m_texts.size() || m_texts[nPart] == text)
        return;
    m_texts[nPart] = text;
    // The text's own room: a widget placed in the part (the line labels)
    // is not painted again for it.
    update(TextRectOf(nPart));
}

QString CStatusBarCtrl::GetText(int nPart) const
{
    return nPart >= 0 && nPart < m_texts.size() ? m_texts[nPart] : QString();
}

QString CStatusBarCtrl::ShownText(int nPart) const
{
    const QString text = GetText(nPart);
    const int nWidth = qMax(0, TextRectOf(nPart).width());
    // Printable ASCII is measured with the characters' own advances, and
    // cut the same way: the figures change many times a second, and the
    // toolkit's measuring shapes the whole text each time.
    const bool bAscii = std::all_of(text.cbegin(), text.cend(), [](QChar ch) {
        return ch.unicode() >= 0x20 && ch.unicode() < 0x7f;
    });
    const SAscii& ascii = Ascii();
    if (bAscii && !ascii.glyphs.isEmpty()) {
        // As DrawAscii draws it.
        const qreal dEllipsis = ascii.advances.last().x();
        qreal x = 0;
        qsizetype nFit = 0; // characters that fit before an ellipsis
        for (const QChar ch : text) {
            x += ascii.advances[ch.unicode() - 0x20].x();
            if (x + dEllipsis <= nWidth)
                ++nFit;
        }
        return x <= nWidth ? text : text.left(nFit) + QChar(kEllipsis);
    }
    if (bAscii) {
        // With a pixel to spare for each character, for the shaping.
        int nSum = 0;
        for (const QChar ch : text)
            nSum += ascii.widths[ch.unicode() - 0x20] + 1;
        if (nSum <= nWidth)
            return text;
    }
    return fontMetrics().elidedText(text, Qt::ElideRight, nWidth);
}

const CStatusBarCtrl::SAscii& CStatusBarCtrl::Ascii() const
{
    if (m_ascii.widths.isEmpty() || m_ascii.measuredFont != font()) {
        const QFontMetrics metrics = fontMetrics();
        m_ascii = SAscii();
        QString chars;
        for (char ch = ' '; ch < 0x7f; ++ch) {
            m_ascii.widths.append(metrics.horizontalAdvance(QLatin1Char(ch)));
            chars += QLatin1Char(ch);
        }
        chars += QChar(kEllipsis);
        m_ascii.raw = QRawFont::fromFont(font());
        if (m_ascii.raw.isValid())
            m_ascii.glyphs = m_ascii.raw.glyphIndexesForString(chars);
        // Drawn glyph by glyph only when the font has every one of them.
        if (m_ascii.glyphs.size() == chars.size() &&
            std::find(m_ascii.glyphs.cbegin(), m_ascii.glyphs.cend(), 0u) ==
                m_ascii.glyphs.cend()) {
            m_ascii.advances = m_ascii.raw.advancesForGlyphIndexes(m_ascii.glyphs);
        } else {
            m_ascii.glyphs.clear();
        }
        m_ascii.measuredFont = font();
    }
    return m_ascii;
}

bool CStatusBarCtrl::DrawAscii(QPainter& p, const QRect& rect, const QString& text) const
{
    const SAscii& ascii = Ascii();
    if (m_bLayOutAll || ascii.glyphs.isEmpty() || text.isEmpty())
        return false;
    QVector<quint32> glyphs;
    QVector<QPointF> positions;
    glyphs.reserve(text.size());
    positions.reserve(text.size());
    qreal x = 0;
    for (const QChar ch : text) {
        const qsizetype n =
            ch.unicode() == kEllipsis ? ascii.glyphs.size() - 1 : qsizetype(ch.unicode()) - 0x20;
        if (n < 0 || n >= ascii.glyphs.size())
            return false;
        glyphs.append(ascii.glyphs[n]);
        positions.append(QPointF(x, 0));
        x += ascii.advances[n].x();
    }
    QGlyphRun run;
    run.setRawFont(ascii.raw);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    // Where drawText puts a line centred in the rectangle.
    const QFontMetrics metrics = fontMetrics();
    const int nBaseline = rect.top() + (rect.height() - metrics.height()) / 2 + metrics.ascent();
    p.save();
    p.setClipRect(rect, Qt::IntersectClip);
    p.drawGlyphRun(QPointF(rect.left(), nBaseline), run);
    p.restore();
    return true;
}

int CStatusBarCtrl::WidthFor(const QString& text) const
{
    return fontMetrics().horizontalAdvance(text) + 2 * kTextMargin + kFrameRight + 1;
}

bool CStatusBarCtrl::event(QEvent* e)
{
    if (e->type() != QEvent::ToolTip)
        return QWidget::event(e);
    // A part whose text is cut shows it whole.
    const auto* pHelp = static_cast<QHelpEvent*>(e);
    for (int i = 0; i < m_parts.size(); ++i) {
        if (PartRect(i).contains(pHelp->pos()) && ShownText(i) != m_texts[i]) {
            QToolTip::showText(pHelp->globalPos(), m_texts[i], this, PartRect(i));
            return true;
        }
    }
    QToolTip::hideText();
    e->ignore();
    return true;
}

QSize CStatusBarCtrl::sizeHint() const
{
    return QSize(200, qMax(18, fontMetrics().height() + 6));
}

void CStatusBarCtrl::paintEvent(QPaintEvent* e)
{
    QPainter p(this);
    for (int i = 0; i < m_parts.size(); ++i) {
        const QRect r = PartRect(i).adjusted(0, 2, -kFrameRight, 0);
        // A new text repaints its own part only.
        if (r.width() <= 0 || !e->region().intersects(r))
            continue;
        QStyleOptionFrame opt;
        opt.initFrom(this);
        opt.rect = r;
        opt.state |= QStyle::State_Sunken;
        opt.lineWidth = 1;
        style()->drawPrimitive(QStyle::PE_Frame, &opt, &p, this);
        const QRect text = TextRectOf(i);
        const QString shown = ShownText(i);
        const QRect place(text.left(), r.top(), text.width(), r.height());
        if (!DrawAscii(p, place, shown))
            p.drawText(place, Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
}

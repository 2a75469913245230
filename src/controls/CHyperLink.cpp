#include "CHyperLink.h"

#include "Afx.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QMovie>
#include <QPainter>
#include <QPicture>
#include <QRegularExpression>
#include <QStringList>
#include <QStyle>
#include <QTextDocument>
#include <QToolTip>

namespace {

// Shows the wait cursor for as long as it lives.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

CHyperLink::CHyperLink(QWidget* pParent) : QLabel(pParent)
{
    // The standard arrow, not a pointing hand, and the dialog's background
    // behind the text.
    setCursor(Qt::ArrowCursor);
    setAutoFillBackground(false);
}

CHyperLink::~CHyperLink() = default;

void CHyperLink::SetTarget(const QString& target)
{
    m_strTarget = target;
    QString tip = WrapTipText(target, QFontMetrics(QToolTip::font()), kMaxTipWidth);
    // A target that looks like markup must still show as typed.
    if (Qt::mightBeRichText(tip))
        tip = QStringLiteral("<p style='white-space:pre'>") + tip.toHtmlEscaped() +
              QStringLiteral("</p>");
    setToolTip(tip);
}

bool CHyperLink::IsStyled() const
{
    if (!pixmap().isNull() || movie() || !picture().isNull())
        return false;
    const Qt::TextFormat format = textFormat();
    if (format == Qt::RichText || format == Qt::MarkdownText ||
        (format == Qt::AutoText && Qt::mightBeRichText(text())))
        return false;
    const int horizontal = int(alignment() & Qt::AlignHorizontal_Mask) & ~int(Qt::AlignAbsolute);
    return horizontal == 0 || horizontal == Qt::AlignLeft || horizontal == Qt::AlignHCenter ||
           horizontal == Qt::AlignRight;
}

QString CHyperLink::UrlForTarget(const QString& target)
{
    static const QRegularExpression withScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    static const QRegularExpression bareHost(
        QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+(:[0-9]+)?([/?#].*)?$"));
    const QString t = target.trimmed();
    if (t.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive) ||
        withScheme.match(t).hasMatch())
        return target;
    if (bareHost.match(t).hasMatch())
        return QStringLiteral("http://") + t;
    return target;
}

QString CHyperLink::WrapTipText(const QString& text, const QFontMetrics& fm, int maxWidth)
{
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        bool first = true;
        for (const QString& word : paragraph.split(QLatin1Char(' '))) {
            if (first) {
                line = word;
                first = false;
                continue;
            }
            const QString longer = line + QLatin1Char(' ') + word;
            if (fm.horizontalAdvance(longer) <= maxWidth || line.isEmpty()) {
                line = longer;
            } else {
                lines << line;
                line = word;
            }
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

void CHyperLink::OnClicked()
{
    WaitCursor wait;
    if (m_strTarget.isEmpty())
        m_strTarget = text(); // kept for later clicks; the tooltip stays as it was
    // Nothing to open is a failed open, not a request to open "nothing".
    if (!m_strTarget.isEmpty() && AfxOpenTarget(UrlForTarget(m_strTarget))) {
        m_bVisited = true;
        update();
    } else {
        AfxMessageBeep();
    }
}

void CHyperLink::paintEvent(QPaintEvent* event)
{
    if (!IsStyled()) {
        QLabel::paintEvent(event);
        return;
    }
    // Made from the font of the first paint and kept, even if the label's
    // font changes later.
    if (!m_UnderlineFont) {
        QFont underlined = font();
        underlined.setUnderline(true);
        m_UnderlineFont = underlined;
    }
    QPainter painter(this);
    drawFrame(&painter);
    painter.setFont(*m_UnderlineFont);
    painter.setPen(ToQColor(CurrentTextColor()));
    const int m = margin();
    const QRect area = contentsRect().adjusted(m, m, -m, -m);
    int flags = int(QStyle::visualAlignment(layoutDirection(), alignment()));
    if (wordWrap())
        flags |= Qt::TextWordWrap;
    // No background fill: the parent's colour shows around the text.
    painter.drawText(area, flags, text());
}

void CHyperLink::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_bPressed = true;
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void CHyperLink::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second click of a double-click opens nothing more.
    event->accept();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_bPressed) {
        m_bPressed = false;
        event->accept();
        if (rect().contains(event->position().toPoint()))
            OnClicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

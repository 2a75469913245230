#pragma once
// A status bar of parts with fixed right edges, each showing one text. A text
// longer than its part is cut at its end with an ellipsis (so texts put their
// figures first) and shows whole in the part's tooltip. Lives on the
// user-interface thread.

#include <QFont>
#include <QPointer>
#include <QRawFont>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QPainter;

class CStatusBarCtrl : public QWidget
{
    Q_OBJECT
public:
    explicit CStatusBarCtrl(QWidget* pParent = nullptr);

    // Right edges of the parts in the bar's coordinates; -1 runs to the end.
    void SetParts(const QVector<int>& rightEdges);
    QVector<int> GetParts() const { return m_parts; }
    // The part's rectangle within the bar.
    QRect PartRect(int nPart) const;

    void SetText(int nPart, const QString& text);
    QString GetText(int nPart) const;

    QSize sizeHint() const override;
    // The text as the part shows it, cut to fit.
    QString ShownText(int nPart) const;
    // The width a part needs to show `text` whole.
    int WidthFor(const QString& text) const;

    // Draws every text through the toolkit's text layout, as it draws texts
    // other than printable ASCII; for comparing the two ways.
    void SetLaysOutEveryText(bool bOn)
    {
        m_bLayOutAll = bOn;
        update();
    }

    // Puts a widget at the right end of a part, inside its frame; the part's
    // text is cut before it. The widget becomes the bar's child and keeps its
    // place as the bar is resized. One such widget per bar.
    void SetPartWidget(int nPart, QWidget* pWidget);

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // The part's text rectangle, left of a widget placed in it.
    QRect TextRectOf(int nPart) const;
    void PlaceWidget();
    // The printable ASCII characters and the ellipsis in the bar's font,
    // [ch - 0x20] (the ellipsis last), measured once per font.
    struct SAscii
    {
        QVector<int> widths; // the characters' advances in whole pixels
        QRawFont raw;
        QVector<quint32> glyphs; // empty when the font lacks one of them
        QVector<QPointF> advances;
        QFont measuredFont;
    };
    const SAscii& Ascii() const;
    // Draws a text of those characters from their glyphs, without shaping
    // it, as drawText places a line centred in `rect`; false, and nothing
    // drawn, for any other text.
    bool DrawAscii(QPainter& p, const QRect& rect, const QString& text) const;

    QVector<int> m_parts;
    QStringList m_texts;
    int m_nWidgetPart = -1;
    QPointer<QWidget> m_pPartWidget;
    mutable SAscii m_ascii;
    bool m_bLayOutAll = false;
};

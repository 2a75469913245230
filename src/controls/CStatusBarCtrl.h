#pragma once
// A status bar of parts with fixed right edges, each showing one text. A text
// longer than its part is cut at its end with an ellipsis (so texts put their
// figures first) and shows whole in the part's tooltip. Lives on the
// user-interface thread.

#include <QPointer>
#include <QStringList>
#include <QVector>
#include <QWidget>

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
    // The advances of the printable ASCII characters in the bar's font,
    // [ch - 0x20], measured once per font.
    const QVector<int>& AsciiAdvances() const;

    QVector<int> m_parts;
    QStringList m_texts;
    int m_nWidgetPart = -1;
    QPointer<QWidget> m_pPartWidget;
    mutable QVector<int> m_asciiAdvances;
    mutable QFont m_advancesFont;
};

#pragma once
// The data window's scroll bar: repainted only when its look changes. While
// data streams in, the range and the value change with every refresh, but
// the handle of a long buffer stays where it is, pixel for pixel; a full
// repaint of the bar for each refresh would cost more than the new rows.
// A refresh sets the range and then the value, so the look is compared once
// both are set: on the event loop's next turn, before the bar's paint.
// User-interface thread.

#include <QRect>
#include <QScrollBar>

class CDataScrollBar : public QScrollBar
{
    Q_OBJECT
public:
    explicit CDataScrollBar(QWidget* pParent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

private:
    // What the bar's pixels depend on besides the widget's own state.
    struct SLook
    {
        QRect handle;
        bool bAtMin = false;
        bool bAtMax = false;
        bool operator==(const SLook& o) const
        {
            return handle == o.handle && bAtMin == o.bAtMin && bAtMax == o.bAtMax;
        }
    };
    SLook Look() const;
    void Compare();

    SLook m_painted;
    bool m_bValid = false;
    bool m_bComparing = false; // a comparison is on its way
};

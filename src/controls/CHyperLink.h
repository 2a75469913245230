#pragma once
// A static text label made into a link: drawn underlined in the link colour,
// its target shown in a tooltip, and opened on a click. The dialog creates it
// in place of the plain label of its layout and calls SetTarget afterwards.
// User-interface thread.

#include "ColorRef.h"

#include <QLabel>
#include <optional>

class QFontMetrics;

class CHyperLink : public QLabel
{
    Q_OBJECT

public:
    explicit CHyperLink(QWidget* pParent = nullptr);
    ~CHyperLink() override;

    // Stores what a click opens and shows it as the tooltip.
    void SetTarget(const QString& target);
    QString GetTarget() const { return m_strTarget; }

    // Only a text label aligned left, centred or right draws itself as a
    // link; any other (picture, justified or rich text) keeps the parent's
    // colours. Clicks work either way.
    bool IsStyled() const;
    bool IsVisited() const { return m_bVisited; }
    // The colour a styled label draws its text in now.
    COLORREF CurrentTextColor() const { return m_bVisited ? m_crVisited : m_crLink; }
    // The underlined font, once the first styled paint has made it.
    std::optional<QFont> GetUnderlineFont() const { return m_UnderlineFont; }

    // What is handed to the desktop for `target`: a bare host name such as
    // "www.example.com/x" gains "http://"; anything with a scheme, a
    // "mailto:" target or anything else goes unchanged.
    static QString UrlForTarget(const QString& target);
    // `text` broken at spaces into lines no wider than `maxWidth`; a word
    // wider than that stays whole on a line of its own.
    static QString WrapTipText(const QString& text, const QFontMetrics& fm, int maxWidth);

    static constexpr int kMaxTipWidth = 120;

    // The click: opens the target (the visible text when no target is set);
    // visited on success, one beep on failure.
    void OnClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    COLORREF m_crLink = RGB(0, 0, 255);
    COLORREF m_crVisited = RGB(128, 0, 128);
    bool m_bVisited = false;
    QString m_strTarget;
    std::optional<QFont> m_UnderlineFont;
    bool m_bPressed = false;
};

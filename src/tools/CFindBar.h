#pragma once
// The find bar over the data window: what to find (text in the text
// display; bytes in the hex display, as "0D 0A", "[0D] [0A]" or "\r\n"),
// "Match case", previous and next, the result ("3 of 17", which assistive
// technology announces) and a close button. Escape closes it; Enter finds
// the next match, Shift+Enter the previous. Its keys stay in the bar: the
// Terminal window sends no typed character of the bar's to the device.
//
// User-interface thread. The bar only shows and asks; CDataTools finds.

#include <QFrame>

class QCheckBox;
class QLabel;
class QLineEdit;

class CFindBar : public QFrame
{
    Q_OBJECT
public:
    explicit CFindBar(QWidget* pParent);

    // Shows the bar over the top of its parent and puts the focus in it.
    void Open();
    QString Text() const;
    bool MatchCase() const;
    // The result line; announced when it changes.
    void ShowResult(const QString& text, bool bError = false);
    QString Result() const;

    // Widgets marked so are the Terminal window's exception: typed
    // characters go to them, not to the device.
    static constexpr const char* kKeepsKeys = "vornKeepsKeys";

Q_SIGNALS:
    void FindChanged(); // the text or "Match case" changed
    void FindNext();
    void FindPrevious();
    void Closed();

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

private:
    void Place();

    QLineEdit* m_pEdit;
    QCheckBox* m_pMatchCase;
    QLabel* m_pResult;
};

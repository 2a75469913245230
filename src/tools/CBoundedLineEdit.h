#pragma once
// A line edit that takes a paste or a drop only whole: text that would make
// the line longer than its bound is not inserted at all, and the refusal is
// signalled. (QLineEdit would cut it to its maxLength without a word, and
// the cut costs time that grows with the square of the room left: seconds
// for a mebibyte.) Typing stops at maxLength as in any line edit.
//
// User-interface thread.

#include <QLineEdit>

class CBoundedLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    CBoundedLineEdit(int nBound, QWidget* pParent = nullptr);

    int Bound() const { return m_nBound; }

    // Inserts `text` in place of the selection when the line then has at
    // most Bound() characters; otherwise inserts nothing and signals
    // Refused. False when refused.
    bool InsertWhole(const QString& text);
    // A paste from the clipboard, through InsertWhole.
    void PasteWhole();

Q_SIGNALS:
    // nLength: the characters the line would have had.
    void Refused(qsizetype nLength);

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void dropEvent(QDropEvent* pEvent) override;

private:
    bool Fits(qsizetype nInserted) const;

    int m_nBound;
};

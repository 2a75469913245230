#pragma once
// "Send Bytes": a line to send as text with escapes (\r \n \t \\ \xNN) or as
// hex bytes, a line ending to append, and the sequences sent since the
// program started, to pick again. Invalid input is refused with its place
// and the accepted form before anything is sent, and so is a line longer
// than kMaxLine characters; a paste that would make it longer is not taken.
// A line goes whole or not at all. The refusal is told to assistive
// technology as its text. The dialog stays open for the next sequence until
// it is closed.
//
// User-interface thread. What to do with the bytes is its opener's (a
// function that sends them all and says whether they went).

#include <QDialog>
#include <QStringList>
#include <functional>

class QComboBox;
class QLabel;

class CSendBytesDlg : public QDialog
{
    Q_OBJECT
public:
    enum class Form
    {
        Escaped,
        Hex
    };
    enum class Ending
    {
        None,
        Cr,
        Lf,
        CrLf
    };
    static constexpr int kHistory = 20;
    // The longest line taken, in characters: a mebibyte of input, far more
    // than any command; Send Text File sends more.
    static constexpr int kMaxLine = 1 << 20;

    CSendBytesDlg(std::function<bool(const QByteArray&)> send, QStringList& history,
                  QWidget* pParent = nullptr);

    // The bytes a line stands for in a form, with the ending appended; an
    // error (where, and the accepted form) when it is invalid or too long.
    // *pErrorAt and *pErrorLength are the UTF-16 units to select.
    static QByteArray BytesFor(const QString& line, Form form, Ending ending, QString* pError,
                               int* pErrorAt = nullptr, int* pErrorLength = nullptr);

    // What Send does: checks, sends, and keeps the line in the history.
    bool SendLine();

    QComboBox* LineBox() const { return m_pLine; }
    QComboBox* FormBox() const { return m_pForm; }
    QComboBox* EndingBox() const { return m_pEnding; }
    QString Error() const;

private:
    // Shows why nothing was sent (empty: clears it), for the eye and for
    // assistive technology, and selects the place in the line.
    void ShowError(const QString& error, int nAt = -1, int nLength = 0);
    void OnLineChanged(const QString& line);

    std::function<bool(const QByteArray&)> m_send;
    QStringList& m_history;
    QComboBox* m_pLine;
    QComboBox* m_pForm;
    QComboBox* m_pEnding;
    QLabel* m_pError;
    bool m_bTooLong = false; // the error shown is the line's length
};

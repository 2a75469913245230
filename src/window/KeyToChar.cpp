#include "KeyToChar.h"

#include <QKeyEvent>
#include <QString>

int CharCodeForKey(int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    // Ctrl+Alt is how some systems report AltGr: a printable character it
    // makes is typed like any other.
    const bool bAltGr = (modifiers & Qt::AltModifier) && (modifiers & Qt::ControlModifier) &&
                        !text.isEmpty() && text.at(0).isPrint();
    if (bAltGr)
        modifiers &= ~(Qt::AltModifier | Qt::ControlModifier);
    // Other Alt combinations are menu keys, not characters.
    if (modifiers & (Qt::AltModifier | Qt::MetaModifier))
        return -1;
    const bool bCtrl = modifiers & Qt::ControlModifier;

    switch (key) {
    case Qt::Key_Backspace:
        return bCtrl ? 0x7F : 0x08;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Escape:
        return 0x1B;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 0x09;
    default:
        break;
    }

    if (bCtrl) {
        // Control codes, whatever text the platform attached (often none).
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return key - Qt::Key_A + 1;
        switch (key) {
        case Qt::Key_At:
        case Qt::Key_Space:
        case Qt::Key_2:
            return 0x00;
        case Qt::Key_BracketLeft:
            return 0x1B;
        case Qt::Key_Backslash:
            return 0x1C;
        case Qt::Key_BracketRight:
            return 0x1D;
        case Qt::Key_AsciiCircum:
        case Qt::Key_6:
            return 0x1E;
        case Qt::Key_Underscore:
        case Qt::Key_Minus:
            return 0x1F;
        default:
            break;
        }
    }

    if (text.isEmpty())
        return -1;
    const uint code = text.at(0).isHighSurrogate() && text.size() > 1
                          ? QChar::surrogateToUcs4(text.at(0), text.at(1))
                          : text.at(0).unicode();
    // Text the platform gives for keys that are not characters (Delete as
    // 0x7F on some systems) is not sent.
    if (key == Qt::Key_Delete)
        return -1;
    return int(code);
}

int CharCodeForKey(const QKeyEvent& e)
{
    return CharCodeForKey(e.key(), e.modifiers(), e.text());
}

QList<int> CharCodesForKey(int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    const int nCode = CharCodeForKey(key, modifiers, text);
    if (nCode < 0)
        return {};
    // A key that stands for a code of its own (Enter, a control code) is
    // that code, whatever text came with it; text is sent as it is.
    const QList<uint> chars = text.toUcs4();
    if (chars.size() < 2 || chars.first() != uint(nCode))
        return {nCode};
    QList<int> codes;
    codes.reserve(chars.size());
    for (const uint c : chars)
        codes.append(int(c));
    return codes;
}

QList<int> CharCodesForKey(const QKeyEvent& e)
{
    return CharCodesForKey(e.key(), e.modifiers(), e.text());
}

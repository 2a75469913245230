#pragma once
// Which key presses produce a character for the port, and which code. Pure
// functions, used on the user-interface thread.

#include <QList>
#include <Qt>

class QKeyEvent;
class QString;

// The character code a key press produces, as a keyboard would deliver it
// as a character: printable text, Ctrl with a letter or one of @[\]^_ as its
// control code (Ctrl+Space too gives 0), Backspace 0x08 (Ctrl+Backspace
// 0x7F), Enter 0x0D, Esc 0x1B, Tab 0x09. -1 when the key produces no
// character (arrows, function keys, Alt combinations, bare modifiers).
int CharCodeForKey(int key, Qt::KeyboardModifiers modifiers, const QString& text);
int CharCodeForKey(const QKeyEvent& e);

// Every character code a key press produces, in order: the one above, or,
// when the press carries a text of several characters (an input method's,
// compressed or pasted keys), each of them. Empty when it produces none.
QList<int> CharCodesForKey(int key, Qt::KeyboardModifiers modifiers, const QString& text);
QList<int> CharCodesForKey(const QKeyEvent& e);

#pragma once
// What a received file may be called. A name that came from the other side
// (YMODEM's block 0) is a name, never a path: its folders are dropped, and
// it is refused when empty, absolute ("/etc/x", "\\x", "C:x"), when any part
// is "..", when it names a folder, holds control characters, is longer than
// 255 bytes, or is a name this system cannot store (XferFileIo::NameAllowed).
// What is left can only name a file directly inside the chosen folder.
//
// Plain functions: any thread.

#include <QByteArray>
#include <QString>

namespace XferSafeName {

// The name as the sender gave it, for messages: UTF-8 when it is valid,
// else one character per byte; control characters shown as '?'.
QString Shown(const QByteArray& baSent);

// True with the name to store under in *pName; false with the reason in
// *pWhy ("it climbs out of the folder (..)").
bool Check(const QByteArray& baSent, QString* pName, QString* pWhy);

// "firmware (2).bin" for ("firmware.bin", 2); "README (2)" without a dot; a
// name that starts with its only dot (".profile") gets the number at the end.
QString Numbered(const QString& strName, int n);

} // namespace XferSafeName

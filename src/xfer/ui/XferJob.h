#pragma once
// What the user asked a transfer to do: send a file or receive, with which
// protocol, and the path; and the checks of that path before anything
// starts. A receive with YMODEM goes into a folder (the sender names its
// files); XMODEM sends no name, so its receive names the file to write.
//
// Plain values and functions, no widget. The checks run on the
// user-interface thread: each is one small file operation (a stat, an open,
// a probe file created and removed).

#include "XferProtocol.h"

#include <QString>

struct SXferJob
{
    bool bSend = true;
    // Sending: Xmodem, Xmodem1k or Ymodem. Receiving: Ymodem, or XmodemCrc
    // for XMODEM (the receiver asks for the CRC and falls back to the sum;
    // it takes 128- and 1024-byte blocks alike).
    XferProtocol eProtocol = XferProtocol::Ymodem;
    // Absolute: the file to send; the folder to receive into (YMODEM) or
    // the file to write (XMODEM).
    QString strPath;

    bool IntoFolder() const { return !bSend && eProtocol == XferProtocol::Ymodem; }
    // The protocol as the window names it: "YMODEM", "XMODEM-1K"; a receive
    // of XMODEM is "XMODEM" whatever blocks and check the sender uses.
    QString ProtocolName() const;
};

namespace XferJobCheck {

// The path as typed, made absolute against strBase ("~" and "~/..." are the
// home folder) and cleaned; empty stays empty.
QString Resolve(const QString& strTyped, const QString& strBase);

// True when the job can start; false with a message that names the path
// and the reason ("Cannot send /tmp/a.bin: there is no such file.").
bool Check(const SXferJob& job, QString* pError);

} // namespace XferJobCheck

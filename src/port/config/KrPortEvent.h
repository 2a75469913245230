#pragma once
// What happened to a port, with when: the events a log of the line keeps
// beside the received bytes. A plain value, made on the port's I/O thread.

#include "KrTimeStamp.h"

#include <QString>

// Stored in files: a value is never reused or renumbered.
enum class KrPortEventKind : quint8
{
    Opened = 1,        // text: the port's description
    Lost = 2,          // text: the reason ("the device was removed")
    Reopened = 3,      // after a loss; text: the description
    Closed = 4,        // by its owner
    ConfigChanged = 5, // opened with another configuration; text: the new description
    LineChange = 6,    // the control lines of an open port changed; text: "DTR off, DSR off"
    Break = 7,         // the port's break began or ended; text: "begun" or "ended"
};

struct KrPortEvent
{
    KrPortEventKind kind = KrPortEventKind::Opened;
    QString strText;
    KrTimeStamp time;

    // "opened: /dev/ttyUSB0 115200,8,N,1", "disconnected: the device was
    // removed", "closed".
    QString Text() const { return Describe(kind, strText); }
    static QString Describe(KrPortEventKind kind, const QString& strText);
};

inline QString KrPortEvent::Describe(KrPortEventKind kind, const QString& strText)
{
    QString what;
    switch (kind) {
    case KrPortEventKind::Opened:
        what = QStringLiteral("opened");
        break;
    case KrPortEventKind::Lost:
        what = QStringLiteral("disconnected");
        break;
    case KrPortEventKind::Reopened:
        what = QStringLiteral("reopened");
        break;
    case KrPortEventKind::Closed:
        what = QStringLiteral("closed");
        break;
    case KrPortEventKind::ConfigChanged:
        what = QStringLiteral("configuration changed");
        break;
    case KrPortEventKind::LineChange:
        what = QStringLiteral("line change");
        break;
    case KrPortEventKind::Break:
        what = QStringLiteral("break");
        break;
    default:
        what = QStringLiteral("event %1").arg(int(kind));
        break;
    }
    return strText.isEmpty() ? what : what + QStringLiteral(": ") + strText;
}

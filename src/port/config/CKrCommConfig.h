#pragma once
// A port's configuration: which port and how its line is set.
// A plain value: copied between threads, never shared.

#include "KrLines.h"

#include <QString>
#include <QtGlobal>

class CArchive;

enum class KrParity
{
    None,
    Odd,
    Even,
    Mark,
    Space
};
enum class KrStopBits
{
    One,
    OneAndHalf,
    Two
};
enum class KrFlow
{
    None,
    RtsCts,
    XonXoff
};

struct CKrCommConfig
{
    // The embedded default: the loopback at 9600,8,N,1, no flow control, on
    // which the program works with no hardware at all.
    QString strPort = QStringLiteral("loop://");
    qint32 nBaud = 9600;
    int nDataBits = 8;
    KrParity parity = KrParity::None;
    KrStopBits stopBits = KrStopBits::One;
    KrFlow flow = KrFlow::None;
    // DTR and RTS as the port opens.
    KrLineAtOpen dtrAtOpen = KrLineAtOpen::On;
    KrLineAtOpen rtsAtOpen = KrLineAtOpen::On;

    // The longest port name accepted, in bytes of its UTF-8 form.
    static constexpr int kMaxPortNameBytes = 1024;

    // "115200,8,N,1", with ",RTS/CTS" or ",XON/XOFF" when flow control is on.
    QString SettingsText() const;
    // "/dev/ttyUSB0 115200,8,N,1"
    QString Text() const { return strPort + QLatin1Char(' ') + SettingsText(); }

    // True when every field holds an accepted value; otherwise `why` names the
    // field and what it accepts.
    bool IsValid(QString* why = nullptr) const;

    // Sets one field from its text form as typed by a user:
    //   port=<path or URL>  baud=<positive integer>  data=5|6|7|8
    //   parity=N|O|E|M|S    stop=1|1.5|2              flow=none|rtscts|xonxoff
    //   dtr=on|off|keep     rts=on|off|keep
    // False, with a message naming the field and the accepted values, on a bad
    // key or value; the configuration is then unchanged.
    bool SetField(const QString& key, const QString& value, QString* error);

    bool operator==(const CKrCommConfig& o) const;
    bool operator!=(const CKrCommConfig& o) const { return !(*this == o); }
};

QChar ParityLetter(KrParity p);
QString StopBitsText(KrStopBits s);
QString FlowText(KrFlow f);

// Stores the configuration in a settings archive, or restores it from one. A
// restore changes `config` only when the whole record was read and is valid;
// anything else throws CArchiveException with the reason. With DTR and RTS
// both on at open the record is stored as every earlier version wrote it;
// otherwise with a check value, so that a damaged record is refused, not
// read as lines left on.
void SerializeConfig(CArchive& ar, CKrCommConfig& config);

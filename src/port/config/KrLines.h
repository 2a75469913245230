#pragma once
// The control lines of a port: DTR and RTS, which the port drives, CTS, DSR,
// DCD and RI, which the device drives, and the break condition (the transmit
// line held at space), which the port sends. A plain value: copied between
// threads, never shared.

#include <QString>
#include <QtGlobal>

enum class KrLine : quint8
{
    Dtr,
    Rts,
    Cts,
    Dsr,
    Dcd,
    Ri,
    Break
};

// The six wires, in the order a status bar shows them; Break is not a wire.
constexpr KrLine kKrWires[] = {KrLine::Dtr, KrLine::Rts, KrLine::Cts,
                               KrLine::Dsr, KrLine::Dcd, KrLine::Ri};

constexpr quint8 KrLineBit(KrLine line)
{
    return quint8(1u << unsigned(line));
}
constexpr quint8 kKrOutputLines = KrLineBit(KrLine::Dtr) | KrLineBit(KrLine::Rts);
constexpr quint8 kKrInputLines = KrLineBit(KrLine::Cts) | KrLineBit(KrLine::Dsr) |
                                 KrLineBit(KrLine::Dcd) | KrLineBit(KrLine::Ri);
constexpr quint8 kKrWireLines = kKrOutputLines | kKrInputLines;
constexpr quint8 kKrAllLines = kKrWireLines | KrLineBit(KrLine::Break);

// What DTR or RTS is made as the port opens.
enum class KrLineAtOpen : quint8
{
    On,  // raised, as a serial device's open leaves it on most systems
    Off, // lowered at once (boards that reset when it rises)
    Keep // left as the system or the server has it
};

struct KrLines
{
    quint8 nHave = 0;  // lines the port has: outputs it can set, inputs it reads
    quint8 nKnown = 0; // of them, those whose state is known
    quint8 nOn = 0;    // of those, the ones that are on
    // Why lines are missing, or what the device refused last, in plain
    // words; empty when there is nothing to tell.
    QString strNote;

    bool Has(KrLine line) const { return nHave & KrLineBit(line); }
    bool IsKnown(KrLine line) const { return nKnown & KrLineBit(line); }
    bool IsOn(KrLine line) const { return nOn & KrLineBit(line); }
    // The line is had and known, and on or off.
    void Set(KrLine line, bool bOn)
    {
        const quint8 bit = KrLineBit(line);
        nHave |= bit;
        nKnown |= bit;
        nOn = bOn ? quint8(nOn | bit) : quint8(nOn & ~bit);
    }
    // The line is had, its state not known.
    void SetUnknown(KrLine line)
    {
        const quint8 bit = KrLineBit(line);
        nHave |= bit;
        nKnown &= quint8(~bit);
        nOn &= quint8(~bit);
    }
    // Lines whose presence, knowledge or state differ.
    quint8 ChangedFrom(const KrLines& o) const
    {
        return quint8((nHave ^ o.nHave) | (nKnown ^ o.nKnown) | (nOn ^ o.nOn));
    }

    // No line at all, and why.
    static KrLines None(const QString& why)
    {
        KrLines lines;
        lines.strNote = why;
        return lines;
    }

    bool operator==(const KrLines& o) const
    {
        return nHave == o.nHave && nKnown == o.nKnown && nOn == o.nOn && strNote == o.strNote;
    }
    bool operator!=(const KrLines& o) const { return !(*this == o); }
};

// A change of the lines, or a break begun or ended, as the port tells it.
struct KrLineEvent
{
    KrLines lines;       // as they are after it
    quint8 nChanged = 0; // bits of the lines it changed (see KrLines::ChangedFrom)
    qint64 nTimeUs = 0;  // when the port saw it: microseconds since 1970-01-01 UTC
    qint64 nMonoUs = 0;  // the same moment on the monotonic clock (KrTimeStamp)
};

// "DTR", "RTS", "CTS", "DSR", "DCD", "RI", "Break".
QString KrLineName(KrLine line);
// "Data Terminal Ready", ... "Ring Indicator", "Break".
QString KrLineTitle(KrLine line);
// "on", "off", "keep": as vornterm-cfg reads and prints it.
QString KrLineAtOpenText(KrLineAtOpen at);
bool KrParseLineAtOpen(const QString& text, KrLineAtOpen* pAt);

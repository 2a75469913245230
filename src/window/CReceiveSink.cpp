#include "CReceiveSink.h"

#include <QStringList>
#include <vector>

namespace {

// The events a change of the lines makes: one for the wires whose state
// changed ("DTR off, DSR off, DCD off"; as the port opens, every wire it
// has), one for a break begun or ended since `before`. Lines going with the
// port make none: its closing tells that.
std::vector<KrPortEvent> LineEvents(const KrLines& before, const KrLineEvent& event)
{
    std::vector<KrPortEvent> events;
    const KrLines& lines = event.lines;
    if (lines.nHave == 0)
        return events;
    const KrTimeStamp time{event.nTimeUs, event.nMonoUs};
    QStringList wires;
    for (const KrLine line : kKrWires) {
        if (!(event.nChanged & KrLineBit(line)) || !lines.Has(line))
            continue;
        const QString state = !lines.IsKnown(line) ? QStringLiteral("unknown")
                              : lines.IsOn(line)   ? QStringLiteral("on")
                                                   : QStringLiteral("off");
        wires << KrLineName(line) + QLatin1Char(' ') + state;
    }
    if (!wires.isEmpty())
        events.push_back(
            KrPortEvent{KrPortEventKind::LineChange, wires.join(QStringLiteral(", ")), time});
    if (before.IsKnown(KrLine::Break) && lines.IsKnown(KrLine::Break) &&
        before.IsOn(KrLine::Break) != lines.IsOn(KrLine::Break))
        events.push_back(KrPortEvent{
            KrPortEventKind::Break,
            lines.IsOn(KrLine::Break) ? QStringLiteral("begun") : QStringLiteral("ended"), time});
    return events;
}

} // namespace

CReceiveSink::CReceiveSink() = default;
CReceiveSink::~CReceiveSink() = default;

void CReceiveSink::OnReceive(const char* pData, int nLength)
{
    OnReceive(QByteArray(pData, qMax(0, nLength)), KrBlockTimes(KrTimeStamp::Now()));
}

void CReceiveSink::SetTap(CXferLink::Tap* pTap)
{
    std::lock_guard<std::mutex> guard(m_tapMutex);
    m_pTap = pTap;
}

void CReceiveSink::OnReceive(const QByteArray& block, const KrBlockTimes& times)
{
    bool bTapped = false;
    {
        std::lock_guard<std::mutex> guard(m_tapMutex);
        if (m_pTap) {
            m_pTap->Received(block);
            bTapped = true;
        }
    }
    // While a transfer runs, its bytes are its own; while the counter data
    // runs, received blocks are only logged.
    if (!bTapped && !m_pOwner->IsCounterRunning())
        m_pOwner->AppendText(block, &times);
    if (m_pOwner->IsLogInputChecked())
        WriteInputLog(block, times);
}

void CReceiveSink::OnPortStatus(const CKrCommPortStatus& status)
{
    // A log session's first event names the port as it is described now.
    m_log.SetPortDescription(status.strDescription);
    if (m_pNext)
        m_pNext->OnPortStatus(status);
}

void CReceiveSink::OnPortEvent(const KrPortEvent& event)
{
    m_pOwner->AppendPortEvent(event);
    if (m_pOwner->IsLogInputChecked())
        m_log.WriteEvent(event);
}

void CReceiveSink::OnPortLines(const KrLineEvent& event)
{
    const std::vector<KrPortEvent> events = LineEvents(m_linesHeard, event);
    m_linesHeard = event.lines;
    for (const KrPortEvent& e : events)
        OnPortEvent(e);
}

bool CReceiveSink::WriteInputLog(const QByteArray& block, const KrBlockTimes& times)
{
    return m_log.Write(block, times);
}

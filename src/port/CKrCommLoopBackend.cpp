// loop://: everything sent comes straight back as a received block, and the
// control lines are wired as a null-modem cable back to the same port: DTR
// drives DSR and DCD, RTS drives CTS, RI stays off.

#include "CKrCommBackend.h"

namespace {

bool OnAtOpen(KrLineAtOpen at)
{
    // No system to leave them as it likes: "keep" is what a serial device's
    // open does, on.
    return at != KrLineAtOpen::Off;
}

class CKrCommLoopBackend : public CKrCommBackend
{
public:
    using CKrCommBackend::CKrCommBackend;

    OpenResult Open(const CKrCommConfig& config, KrPortFailure*) override
    {
        m_bOpen = true;
        m_bDtr = OnAtOpen(config.dtrAtOpen);
        m_bRts = OnAtOpen(config.rtsAtOpen);
        m_bBreak = false;
        return OpenResult::Opened;
    }
    void Close() override { m_bOpen = false; }
    qint64 Room() const override { return m_bOpen ? kBlock : 0; }
    void Send(const char* pData, qint64 nLength) override
    {
        // The receiver is called from here and may close the port from
        // inside its call. The bytes are copied, as a line would.
        m_sink.BackendReceived(QByteArray(pData, qsizetype(nLength)));
        if (m_bOpen)
            m_sink.BackendWritten(nLength);
    }

    KrLines Lines() const override
    {
        KrLines lines;
        lines.Set(KrLine::Dtr, m_bDtr);
        lines.Set(KrLine::Rts, m_bRts);
        lines.Set(KrLine::Dsr, m_bDtr);
        lines.Set(KrLine::Dcd, m_bDtr);
        lines.Set(KrLine::Cts, m_bRts);
        lines.Set(KrLine::Ri, false);
        lines.Set(KrLine::Break, m_bBreak);
        return lines;
    }
    bool SetLine(KrLine line, bool bOn) override
    {
        switch (line) {
        case KrLine::Dtr:
            m_bDtr = bOn;
            return true;
        case KrLine::Rts:
            m_bRts = bOn;
            return true;
        case KrLine::Break:
            m_bBreak = bOn;
            return true;
        default:
            return false;
        }
    }

private:
    // The largest block handed back at once.
    static constexpr qint64 kBlock = 64 * 1024;
    bool m_bOpen = false;
    bool m_bDtr = true;
    bool m_bRts = true;
    bool m_bBreak = false;
};

} // namespace

std::unique_ptr<CKrCommBackend> KrCreateLoopBackend(CKrCommBackendSink& sink)
{
    return std::make_unique<CKrCommLoopBackend>(sink);
}

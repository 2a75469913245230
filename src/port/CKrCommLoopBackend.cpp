// loop://: everything sent comes straight back as a received block.

#include "CKrCommBackend.h"

namespace {

class CKrCommLoopBackend : public CKrCommBackend
{
public:
    using CKrCommBackend::CKrCommBackend;

    OpenResult Open(const CKrCommConfig&, KrPortFailure*) override
    {
        m_bOpen = true;
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

private:
    // The largest block handed back at once.
    static constexpr qint64 kBlock = 64 * 1024;
    bool m_bOpen = false;
};

} // namespace

std::unique_ptr<CKrCommBackend> KrCreateLoopBackend(CKrCommBackendSink& sink)
{
    return std::make_unique<CKrCommLoopBackend>(sink);
}

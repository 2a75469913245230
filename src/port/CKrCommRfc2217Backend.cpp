// rfc2217://HOST:PORT: Telnet with the Com Port Control option over the
// socket connection. The protocol is a layer on the socket back end; data
// flows from the moment the connection is up, and the line settings go to
// the server as soon as it agrees to the option, without waiting for any
// reply (some servers never send one). DTR, RTS and the break go out as
// SET-CONTROL; the input lines are what the server's NOTIFY-MODEMSTATE says.

#include "CKrCommSocketBackend.h"
#include "KrNetAddress.h"
#include "KrTelnet.h"

#include <QTimer>

namespace {

// A server that says nothing of the option within this time does not speak
// it (a plain Telnet or TCP server).
constexpr int kComPortAnswerMs = 3000;

class CKrCommRfc2217Backend : public CKrCommSocketBackend
{
public:
    explicit CKrCommRfc2217Backend(CKrCommBackendSink& sink)
        : CKrCommSocketBackend(sink, QStringLiteral("rfc2217")), m_answerTimer(this)
    {
        m_answerTimer.setSingleShot(true);
        connect(&m_answerTimer, &QTimer::timeout, this, [this] {
            if (IsActive())
                UpdateNote();
        });
    }

    QString Note() const override { return m_strNote; }

    KrLines Lines() const override
    {
        switch (m_telnet.ComPortState()) {
        case CKrTelnetClient::ComPort::Agreed:
            return m_telnet.Lines();
        case CKrTelnetClient::ComPort::Unknown:
            if (m_answerTimer.isActive())
                return KrLines::None(QStringLiteral("waiting for the server"));
            break;
        case CKrTelnetClient::ComPort::Refused:
            break;
        }
        return KrLines::None(QStringLiteral("not available: the server does not support RFC 2217"));
    }

    bool SetLine(KrLine line, bool bOn) override
    {
        QByteArray out;
        if (!IsActive() || !m_telnet.SetControl(line, bOn, &out))
            return false;
        SendControl(out);
        return true;
    }

protected:
    void Connected(const CKrCommConfig& config) override
    {
        QByteArray out = m_telnet.Start();
        m_telnet.SetLineSettings(config, &out);
        SendControl(out);
        m_answerTimer.start(kComPortAnswerMs);
    }

    void FromWire(const QByteArray& wire) override
    {
        QByteArray data;
        QByteArray out;
        const bool bWasHeld = m_telnet.IsSuspended();
        m_telnet.Receive(wire.constData(), wire.size(), &data, &out);
        SendControl(out);
        Deliver(data);
        if (IsActive())
            UpdateNote(); // and the lines
        if (bWasHeld && !m_telnet.IsSuspended() && IsActive())
            m_sink.BackendReady(); // the server takes data again
    }

    void ToWire(const char* pData, qint64 nLength, QByteArray& wire) override
    {
        CKrTelnetClient::Escape(pData, qsizetype(nLength), &wire);
    }

    bool IsHeld() const override { return m_telnet.IsSuspended(); }

private:
    void UpdateNote()
    {
        // Refused at once, or never answered: the line settings cannot be
        // made; the data still flows.
        const CKrTelnetClient::ComPort state = m_telnet.ComPortState();
        const bool bUnsupported =
            state == CKrTelnetClient::ComPort::Refused ||
            (state == CKrTelnetClient::ComPort::Unknown && !m_answerTimer.isActive());
        const QString note =
            bUnsupported ? QStringLiteral("server does not support RFC 2217") : QString();
        if (note != m_strNote) {
            m_strNote = note;
            m_sink.BackendNoteChanged();
        }
        TellLines();
    }

    // The port hears of the lines when they differ from what it was told.
    void TellLines()
    {
        const KrLines lines = Lines();
        if (lines == m_lastLines)
            return;
        m_lastLines = lines;
        m_sink.BackendLinesChanged();
    }

    CKrTelnetClient m_telnet;
    QTimer m_answerTimer;
    QString m_strNote;
    KrLines m_lastLines;
};

} // namespace

std::unique_ptr<CKrCommBackend> KrCreateRfc2217Backend(CKrCommBackendSink& sink)
{
    return std::make_unique<CKrCommRfc2217Backend>(sink);
}

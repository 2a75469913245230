// A serial device through QSerialPort: a path such as /dev/ttyUSB0, or COM3.
// Its control lines go through the system's modem-control calls
// (KrModemControl): the input lines are waited for on a thread of the modem
// control's own, or, where the system cannot wait for them, read on a timer.

#include "CKrCommBackend.h"
#include "KrCoalescedCall.h"
#include "KrModemControl.h"
#include "KrSerialSystem.h"

#include <QSerialPort>
#include <QTimer>

namespace {

// At most this much waits inside QSerialPort; the rest stays in the port's
// queue, so that the pending count shows what has really gone to the device.
constexpr qint64 kDeviceBuffer = 16 * 1024;
// The largest block handed on at once.
constexpr qsizetype kReadBlock = 64 * 1024;
// Where the system cannot wait for the input lines, they are read this
// often, so a change shows within about this time.
constexpr int kLinePollMs = 100;

QSerialPort::Parity ToQt(KrParity p)
{
    switch (p) {
    case KrParity::Odd:
        return QSerialPort::OddParity;
    case KrParity::Even:
        return QSerialPort::EvenParity;
    case KrParity::Mark:
        return QSerialPort::MarkParity;
    case KrParity::Space:
        return QSerialPort::SpaceParity;
    case KrParity::None:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::FlowControl ToQt(KrFlow f)
{
    switch (f) {
    case KrFlow::RtsCts:
        return QSerialPort::HardwareControl;
    case KrFlow::XonXoff:
        return QSerialPort::SoftwareControl;
    case KrFlow::None:
        break;
    }
    return QSerialPort::NoFlowControl;
}

class CKrCommSerialBackend : public CKrCommBackend
{
public:
    CKrCommSerialBackend(CKrCommBackendSink& sink, KrModemControlFactory makeModem)
        : CKrCommBackend(sink), m_makeModem(std::move(makeModem)), m_linePoll(this),
          m_linesChanged(this, [this] { OnLinesChanged(); })
    {
        m_linePoll.setInterval(kLinePollMs);
        connect(&m_linePoll, &QTimer::timeout, this, [this] { ReadLines(); });
        QObject::connect(&m_serial, &QSerialPort::readyRead, this, [this] { OnReadyRead(); });
        QObject::connect(&m_serial, &QSerialPort::bytesWritten, this,
                         [this](qint64 n) { OnBytesWritten(n); });
        QObject::connect(&m_serial, &QSerialPort::errorOccurred, this,
                         [this](QSerialPort::SerialPortError e) { OnError(e); });
    }
    ~CKrCommSerialBackend() override { Close(); }

    OpenResult Open(const CKrCommConfig& config, KrPortFailure* pFailure) override
    {
        // The serial driver's own locking would take over a lock file that
        // another program holds in the older form; such a lock is respected
        // here, and only a stale one is cleared.
        if (const qint64 nHolder = KrForeignLockHolder(config.strPort)) {
            *pFailure = KrLockedPortFailure(nHolder);
            return OpenResult::Failed;
        }
        m_serial.setPortName(config.strPort);
        if (!m_serial.open(QIODevice::ReadWrite)) {
            *pFailure = OpenFailure();
            return OpenResult::Failed;
        }
        // A pseudo-terminal has no character framing; the system keeps it at
        // 8 bits without parity and may refuse other values.
        const bool bFramed = !KrIsPseudoTerminal(config.strPort);
        QString refused;
        if (!m_serial.setBaudRate(config.nBaud))
            refused = QStringLiteral("%1 baud").arg(config.nBaud);
        else if (!m_serial.setDataBits(QSerialPort::DataBits(config.nDataBits)) && bFramed)
            refused = QStringLiteral("%1 data bits").arg(config.nDataBits);
        else if (!m_serial.setParity(ToQt(config.parity)) && bFramed)
            refused = QStringLiteral("parity %1").arg(ParityLetter(config.parity));
        else if (!SetStopBits(config) && bFramed)
            refused = QStringLiteral("%1 stop bits").arg(StopBitsText(config.stopBits));
        else if (!m_serial.setFlowControl(ToQt(config.flow)))
            refused = QStringLiteral("%1 flow control").arg(FlowText(config.flow));
        if (!refused.isEmpty()) {
            *pFailure = KrPortFailure{KrPortError::SettingsRefused,
                                      QStringLiteral("the device does not accept %1 (%2)")
                                          .arg(refused, m_serial.errorString())};
            m_serial.close();
            return OpenResult::Failed;
        }
        m_serial.clearError();
        m_strPath = config.strPort;
        // Mark and space parity are made by the serial port's own writes
        // where the system has no setting for them: those go through it.
        m_bWriteNow = config.parity != KrParity::Mark && config.parity != KrParity::Space;
        m_bSerialBusy = false;
        m_bOpen = true;
        OpenLines(config);
        return OpenResult::Opened;
    }

    void Close() override
    {
        m_bOpen = false;
        // The waiting for the lines ends before the device is closed.
        DropModem();
        if (m_serial.isOpen()) {
            // Nothing waits to go out, so a stalled or flow-controlled line
            // cannot hold the close for the system's closing wait.
            m_serial.clear(QSerialPort::Output);
            m_serial.close();
        }
    }

    qint64 Room() const override
    {
        return m_bOpen ? qMax<qint64>(0, kDeviceBuffer - m_serial.bytesToWrite()) : 0;
    }

    void Send(const char* pData, qint64 nLength) override
    {
        if (!m_bOpen)
            return;
        // With nothing waiting in the serial port's buffer, the device gets
        // the bytes now: a block that answers an acknowledgement leaves in
        // the turn of the event loop that read it, without the write
        // notifier's round (two more wake-ups of this thread for each
        // write). What the device does not take now, the serial port keeps
        // and writes as the device takes more, behind what went now.
        // Only while the serial port is idle: once it has bytes, it writes
        // them when the device is ready, and takes a device that a write of
        // ours filled meanwhile for a failed one.
        qint64 nNow = 0;
        if (m_bWriteNow && !m_bSerialBusy)
            nNow = KrWriteNow(qintptr(m_serial.handle()), pData, nLength);
        m_nGiven += nNow;
        if (nNow < nLength) {
            m_nGiven += m_serial.write(pData + nNow, nLength - nNow);
            m_bSerialBusy = true;
        }
        if (nNow > 0)
            ReportWritten();
    }

    void ReportWritten() override
    {
        // The serial port writes to the device as soon as it can, but tells
        // of it only when the device can take more; until then its buffer
        // count is what is known.
        const qint64 nWritten = m_nGiven - m_serial.bytesToWrite();
        if (m_bOpen && nWritten > m_nReported) {
            const qint64 n = nWritten - m_nReported;
            m_nReported = nWritten;
            m_sink.BackendWritten(n);
        }
    }

    KrLines Lines() const override { return m_lines; }

    bool SetLine(KrLine line, bool bOn) override
    {
        if (!m_bOpen || !m_pModem || !m_lines.Has(line))
            return false;
        QString why;
        const bool bDone =
            line == KrLine::Break
                ? m_pModem->SetBreak(bOn, &why)
                : m_pModem->SetOutputs(KrLineBit(line), bOn ? KrLineBit(line) : 0, &why);
        if (!bDone) {
            const QString what = line == KrLine::Break ? QStringLiteral("send a break")
                                 : bOn                 ? QStringLiteral("raise ") + KrLineName(line)
                                       : QStringLiteral("lower ") + KrLineName(line);
            m_lines.strNote = QStringLiteral("%1 refused to %2 (%3)").arg(m_strPath, what, why);
            return false;
        }
        if (line == KrLine::Break)
            m_lines.Set(KrLine::Break, bOn);
        ReadLines();
        return true;
    }

private:
    // After the open: DTR and RTS as configured, and the input lines watched.
    // A device without modem control (a pseudo-terminal) says so once and
    // has no lines; nothing retries.
    void OpenLines(const CKrCommConfig& config)
    {
        m_pModem = m_makeModem ? m_makeModem(qintptr(m_serial.handle())) : nullptr;
        m_lines = KrLines();
        QString why;
        if (!m_pModem || !m_pModem->Read(&m_lines, &why)) {
            m_lines = KrLines::None(QStringLiteral("not available: %1 refuses the modem-control "
                                                   "calls (%2)")
                                        .arg(m_strPath, why));
            m_pModem.reset();
            return;
        }
        m_lines.Set(KrLine::Break, false);
        quint8 nLines = 0;
        quint8 nOn = 0;
        for (const auto& [line, at] :
             {std::pair{KrLine::Dtr, config.dtrAtOpen}, std::pair{KrLine::Rts, config.rtsAtOpen}}) {
            if (at == KrLineAtOpen::Keep)
                continue;
            nLines |= KrLineBit(line);
            if (at == KrLineAtOpen::On)
                nOn |= KrLineBit(line);
        }
        if (nLines && !m_pModem->SetOutputs(nLines, nOn, &why))
            m_lines.strNote =
                QStringLiteral("%1 refused to set DTR and RTS at open (%2)").arg(m_strPath, why);
        ReadLines();
        if (!m_pModem || !m_pModem->StartWatching([this] { m_linesChanged.Request(); }))
            m_linePoll.start();
    }

    void DropModem()
    {
        m_linePoll.stop();
        if (m_pModem)
            m_pModem->StopWatching();
        m_pModem.reset();
    }

    // The waiting thread saw a change, or ended.
    void OnLinesChanged()
    {
        if (!m_bOpen || !m_pModem)
            return;
        if (!m_pModem->IsWatching() && !m_linePoll.isActive())
            m_linePoll.start();
        ReadLines();
    }

    // Reads the lines and tells the port of a change. A device that stops
    // answering is told once, and then not asked again.
    void ReadLines()
    {
        if (!m_bOpen || !m_pModem)
            return;
        KrLines lines = m_lines;
        QString why;
        if (!m_pModem->Read(&lines, &why)) {
            DropModem();
            lines =
                KrLines::None(QStringLiteral("%1 stopped answering the modem-control calls (%2)")
                                  .arg(m_strPath, why));
        }
        if (lines == m_lines)
            return;
        m_lines = lines;
        m_sink.BackendLinesChanged();
    }

    bool SetStopBits(const CKrCommConfig& config)
    {
        switch (config.stopBits) {
        case KrStopBits::One:
            return m_serial.setStopBits(QSerialPort::OneStop);
        case KrStopBits::Two:
            return m_serial.setStopBits(QSerialPort::TwoStop);
        case KrStopBits::OneAndHalf:
            if (m_serial.setStopBits(QSerialPort::OneAndHalfStop))
                return true;
            // Where the driver has no 1.5 setting, a UART sends 1.5 stop bits
            // for "2" when a character has 5 data bits.
            return config.nDataBits == 5 && m_serial.setStopBits(QSerialPort::TwoStop);
        }
        return false;
    }

    KrPortFailure OpenFailure() const
    {
        KrOpenFailure kind = KrOpenFailure::Other;
        switch (m_serial.error()) {
        case QSerialPort::DeviceNotFoundError:
            kind = KrOpenFailure::NoSuchDevice;
            break;
        case QSerialPort::PermissionError:
            kind = KrDiagnosePermissionFailure(m_serial.portName());
            break;
        default:
            break;
        }
        // A file, a pipe or a folder by that name fails with a system text
        // such as "Inappropriate ioctl for device".
        if (kind == KrOpenFailure::Other)
            kind = KrDiagnoseDeviceKind(m_serial.portName());
        return KrOpenPortFailure(kind, m_serial.errorString());
    }

    void OnReadyRead()
    {
        if (!m_bOpen)
            return;
        // Everything that waits, as one block: the driver reads a few KiB per
        // wake-up, the system may hold more.
        QByteArray data = m_serial.readAll();
        QString error;
        const bool bOk = KrReadWaiting(qintptr(m_serial.handle()), data, kReadBlock, &error);
        if (!data.isEmpty())
            m_sink.BackendReceived(data);
        if (!bOk && m_bOpen)
            Fail(KrLostDeviceFailure(m_strPath, error));
    }

    void OnBytesWritten(qint64)
    {
        if (!m_bOpen)
            return;
        ReportWritten();
        // What the sink sends now goes through the serial port too: it is
        // still in its write.
        m_sink.BackendReady();
        // Told of all it had: idle once this call returns.
        if (m_bOpen && m_serial.bytesToWrite() == 0)
            m_bSerialBusy = false;
    }

    void OnError(QSerialPort::SerialPortError e)
    {
        if (!m_bOpen)
            return;
        switch (e) {
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
            // An unplugged adapter fails its reads with EIO, a hung-up
            // terminal with an end of file that comes with a stale error text.
            Fail(KrLostDeviceFailure(m_strPath, QString()));
            break;
        case QSerialPort::WriteError:
            Fail(KrPortFailure{KrPortError::DeviceError,
                               QStringLiteral("write error: %1").arg(m_serial.errorString())});
            break;
        default:
            return; // not fatal: the port stays open
        }
    }

    void Fail(const KrPortFailure& failure)
    {
        ReportWritten();
        Close();
        m_sink.BackendFailed(failure);
    }

    QSerialPort m_serial;
    KrModemControlFactory m_makeModem;
    std::unique_ptr<CKrModemControl> m_pModem; // while open and answering
    KrLines m_lines = KrLines::None(QStringLiteral("port not open"));
    QTimer m_linePoll;
    KrCoalescedCall m_linesChanged; // from the modem control's waiting thread
    QString m_strPath;
    bool m_bOpen = false;
    bool m_bWriteNow = false;   // Send may write to the device itself
    bool m_bSerialBusy = false; // the serial port holds bytes, or has not told of all it wrote
    qint64 m_nGiven = 0;        // bytes handed to the device or the serial port by Send
    qint64 m_nReported = 0;     // of them, told to the sink as written
};

} // namespace

std::unique_ptr<CKrCommBackend> KrCreateSerialBackend(CKrCommBackendSink& sink)
{
    return KrCreateSerialBackendWith(sink, &KrSystemModemControl);
}

std::unique_ptr<CKrCommBackend> KrCreateSerialBackendWith(CKrCommBackendSink& sink,
                                                          KrModemControlFactory makeModem)
{
    return std::make_unique<CKrCommSerialBackend>(sink, std::move(makeModem));
}

#include "KrTelnet.h"

#include <QtEndian>

#include <cstring>
#include <utility>

namespace {

// Telnet commands (RFC 854).
constexpr quint8 kIac = 255;
constexpr quint8 kDont = 254;
constexpr quint8 kDo = 253;
constexpr quint8 kWont = 252;
constexpr quint8 kWill = 251;
constexpr quint8 kSb = 250;
constexpr quint8 kSe = 240;

// Options.
constexpr quint8 kBinary = 0;
constexpr quint8 kEcho = 1;
constexpr quint8 kSuppressGoAhead = 3;
constexpr quint8 kComPort = 44;

// Com Port commands as the client sends them; the server answers with the
// same code plus kServerOffset.
constexpr quint8 kSignature = 0;
constexpr quint8 kSetBaudRate = 1;
constexpr quint8 kSetDataSize = 2;
constexpr quint8 kSetParity = 3;
constexpr quint8 kSetStopSize = 4;
constexpr quint8 kSetControl = 5;
constexpr quint8 kNotifyLineState = 6;
constexpr quint8 kNotifyModemState = 7;
constexpr quint8 kFlowControlSuspend = 8;
constexpr quint8 kFlowControlResume = 9;
constexpr quint8 kSetModemStateMask = 11;
constexpr quint8 kServerOffset = 100;

// SET-CONTROL values for the lines: request, on, off.
constexpr quint8 kBreakOn = 5;
constexpr quint8 kBreakOff = 6;
constexpr quint8 kDtrRequest = 7;
constexpr quint8 kDtrOn = 8;
constexpr quint8 kDtrOff = 9;
constexpr quint8 kRtsRequest = 10;
constexpr quint8 kRtsOn = 11;
constexpr quint8 kRtsOff = 12;

// NOTIFY-MODEMSTATE bits: the states, and below them their changes, all of
// which the mask asks for (so that a line going off is told too).
constexpr quint8 kModemDcd = 0x80;
constexpr quint8 kModemRi = 0x40;
constexpr quint8 kModemDsr = 0x20;
constexpr quint8 kModemCts = 0x10;
constexpr quint8 kModemMaskAll = 0xff;

quint8 ControlValue(KrLine line, bool bOn)
{
    switch (line) {
    case KrLine::Dtr:
        return bOn ? kDtrOn : kDtrOff;
    case KrLine::Rts:
        return bOn ? kRtsOn : kRtsOff;
    default:
        break;
    }
    return bOn ? kBreakOn : kBreakOff;
}

quint8 AtOpenValue(KrLine line, KrLineAtOpen at)
{
    if (at == KrLineAtOpen::Keep)
        return line == KrLine::Dtr ? kDtrRequest : kRtsRequest;
    return ControlValue(line, at == KrLineAtOpen::On);
}

// Options we perform when the server asks (DO).
bool WeOffer(quint8 nOption)
{
    return nOption == kBinary || nOption == kSuppressGoAhead || nOption == kComPort;
}

// Options we let the server perform (WILL).
bool ServerMay(quint8 nOption)
{
    return nOption == kBinary || nOption == kSuppressGoAhead || nOption == kEcho;
}

void AppendNegotiation(QByteArray* pOut, quint8 nVerb, quint8 nOption)
{
    const char a[] = {char(kIac), char(nVerb), char(nOption)};
    pOut->append(a, sizeof a);
}

void AppendComPortCommand(QByteArray* pOut, quint8 nCode, const char* p, qsizetype n)
{
    const char head[] = {char(kIac), char(kSb), char(kComPort), char(nCode)};
    pOut->append(head, sizeof head);
    CKrTelnetClient::Escape(p, n, pOut);
    const char tail[] = {char(kIac), char(kSe)};
    pOut->append(tail, sizeof tail);
}

void AppendComPortByte(QByteArray* pOut, quint8 nCode, quint8 nValue)
{
    const char c = char(nValue);
    AppendComPortCommand(pOut, nCode, &c, 1);
}

quint8 ParityCode(KrParity parity)
{
    switch (parity) {
    case KrParity::None:
        return 1;
    case KrParity::Odd:
        return 2;
    case KrParity::Even:
        return 3;
    case KrParity::Mark:
        return 4;
    case KrParity::Space:
        return 5;
    }
    return 1;
}

quint8 StopSizeCode(KrStopBits stop)
{
    switch (stop) {
    case KrStopBits::One:
        return 1;
    case KrStopBits::Two:
        return 2;
    case KrStopBits::OneAndHalf:
        return 3;
    }
    return 1;
}

quint8 FlowCode(KrFlow flow)
{
    switch (flow) {
    case KrFlow::None:
        return 1;
    case KrFlow::XonXoff:
        return 2;
    case KrFlow::RtsCts:
        return 3;
    }
    return 1;
}

} // namespace

QByteArray CKrTelnetClient::Start()
{
    const CKrCommConfig config = m_config;
    const bool bHaveSettings = m_bHaveSettings;
    *this = CKrTelnetClient();
    m_config = config;
    m_bHaveSettings = bHaveSettings;

    QByteArray out;
    AppendNegotiation(&out, kWill, kBinary);
    AppendNegotiation(&out, kDo, kBinary);
    AppendNegotiation(&out, kWill, kComPort);
    AppendNegotiation(&out, kDo, kSuppressGoAhead);
    AppendNegotiation(&out, kWill, kSuppressGoAhead);
    m_aOption[kBinary].us = Side::WantYes;
    m_aOption[kBinary].him = Side::WantYes;
    m_aOption[kComPort].us = Side::WantYes;
    m_aOption[kSuppressGoAhead].him = Side::WantYes;
    m_aOption[kSuppressGoAhead].us = Side::WantYes;
    return out;
}

void CKrTelnetClient::SetLineSettings(const CKrCommConfig& config, QByteArray* pOut)
{
    Q_ASSERT(pOut);
    m_config = config;
    m_bHaveSettings = true;
    if (ComPortState() == ComPort::Agreed)
        SendSettings(pOut);
}

void CKrTelnetClient::SendSettings(QByteArray* pOut)
{
    char baud[4];
    qToBigEndian(quint32(m_config.nBaud), baud);
    AppendComPortCommand(pOut, kSetBaudRate, baud, sizeof baud);
    AppendComPortByte(pOut, kSetDataSize, quint8(m_config.nDataBits));
    AppendComPortByte(pOut, kSetParity, ParityCode(m_config.parity));
    AppendComPortByte(pOut, kSetStopSize, StopSizeCode(m_config.stopBits));
    AppendComPortByte(pOut, kSetControl, FlowCode(m_config.flow));
    for (const auto& [line, at] :
         {std::pair{KrLine::Dtr, m_config.dtrAtOpen}, std::pair{KrLine::Rts, m_config.rtsAtOpen}}) {
        const quint8 nValue = AtOpenValue(line, at);
        AppendComPortByte(pOut, kSetControl, nValue);
        NoteControl(nValue); // what was set is known; what was asked for comes back
    }
    AppendComPortByte(pOut, kSetModemStateMask, kModemMaskAll);
}

bool CKrTelnetClient::SetControl(KrLine line, bool bOn, QByteArray* pOut)
{
    Q_ASSERT(pOut);
    if (ComPortState() != ComPort::Agreed)
        return false;
    const quint8 nValue = ControlValue(line, bOn);
    AppendComPortByte(pOut, kSetControl, nValue);
    NoteControl(nValue);
    return true;
}

void CKrTelnetClient::NoteControl(quint8 nValue)
{
    switch (nValue) {
    case kDtrOn:
    case kDtrOff:
        m_outputs.Set(KrLine::Dtr, nValue == kDtrOn);
        break;
    case kRtsOn:
    case kRtsOff:
        m_outputs.Set(KrLine::Rts, nValue == kRtsOn);
        break;
    case kBreakOn:
    case kBreakOff:
        m_outputs.Set(KrLine::Break, nValue == kBreakOn);
        break;
    default:
        break;
    }
}

KrLines CKrTelnetClient::Lines() const
{
    KrLines lines;
    for (KrLine line : {KrLine::Dtr, KrLine::Rts}) {
        if (m_outputs.IsKnown(line))
            lines.Set(line, m_outputs.IsOn(line));
        else
            lines.SetUnknown(line);
    }
    // Before a break was asked for, there is none.
    lines.Set(KrLine::Break, m_outputs.IsOn(KrLine::Break));
    const std::pair<KrLine, quint8> inputs[] = {{KrLine::Cts, kModemCts},
                                                {KrLine::Dsr, kModemDsr},
                                                {KrLine::Dcd, kModemDcd},
                                                {KrLine::Ri, kModemRi}};
    for (const auto& [line, bit] : inputs) {
        if (m_bHaveModemState)
            lines.Set(line, (m_nModemState & bit) != 0);
        else
            lines.SetUnknown(line);
    }
    return lines;
}

CKrTelnetClient::ComPort CKrTelnetClient::ComPortState() const
{
    if (m_aOption[kComPort].us == Side::Yes)
        return ComPort::Agreed;
    return m_bComPortRefused ? ComPort::Refused : ComPort::Unknown;
}

qsizetype CKrTelnetClient::BufferedBytes() const
{
    switch (m_eParse) {
    case Parse::Data:
        return 0;
    case Parse::Iac:
        return 1;
    case Parse::Verb:
    case Parse::SubOption:
        return 2;
    case Parse::Sub:
        return 2 + m_nSub;
    case Parse::SubIac:
        return 3 + m_nSub;
    }
    return 0;
}

void CKrTelnetClient::Escape(const char* p, qsizetype n, QByteArray* pOut)
{
    const char* const pEnd = p + n;
    while (p < pEnd) {
        const void* pHit = std::memchr(p, kIac, size_t(pEnd - p));
        const char* pStop = pHit ? static_cast<const char*>(pHit) + 1 : pEnd;
        pOut->append(p, pStop - p);
        if (pHit)
            pOut->append(char(kIac));
        p = pStop;
    }
}

void CKrTelnetClient::Receive(const char* p, qsizetype n, QByteArray* pData, QByteArray* pOut)
{
    Q_ASSERT(pData && pOut);
    const char* const pEnd = p + n;
    while (p < pEnd) {
        switch (m_eParse) {
        case Parse::Data:
        case Parse::Sub: {
            // A run up to the next IAC goes out as data or into the
            // subnegotiation in one piece.
            const void* pHit = std::memchr(p, kIac, size_t(pEnd - p));
            const char* pStop = pHit ? static_cast<const char*>(pHit) : pEnd;
            const qsizetype nRun = pStop - p;
            if (m_eParse == Parse::Data) {
                pData->append(p, nRun);
            } else if (nRun <= kMaxSubnegotiation - m_nSub) {
                std::memcpy(m_aSub.data() + m_nSub, p, size_t(nRun));
                m_nSub += int(nRun);
            } else {
                // Too long: not Telnet after all. What was collected is data,
                // and so is this run, read again in data mode.
                SubAbandon(pData);
                m_eParse = Parse::Data;
                break;
            }
            p = pStop;
            if (p < pEnd) {
                m_eParse = m_eParse == Parse::Data ? Parse::Iac : Parse::SubIac;
                ++p;
            }
            break;
        }
        case Parse::Iac:
            Command(quint8(*p++), pData);
            break;
        case Parse::Verb:
            Negotiate(m_nVerb, quint8(*p++), pOut);
            m_eParse = Parse::Data;
            break;
        case Parse::SubOption:
            m_aSub[0] = *p++;
            m_nSub = 1;
            m_eParse = Parse::Sub;
            break;
        case Parse::SubIac: {
            const quint8 nByte = quint8(*p++);
            if (nByte == kIac) {
                if (SubAppend(nByte, pData))
                    m_eParse = Parse::Sub;
            } else if (nByte == kSe) {
                Subnegotiation();
                m_nSub = 0;
                m_eParse = Parse::Data;
            } else {
                // A command inside a subnegotiation: the peer lost its IAC SE
                // or never meant one. Keep the bytes as data, obey the command.
                SubAbandon(pData);
                Command(nByte, pData);
            }
            break;
        }
        }
    }
}

void CKrTelnetClient::Command(quint8 nByte, QByteArray* pData)
{
    switch (nByte) {
    case kIac:
        pData->append(char(kIac));
        m_eParse = Parse::Data;
        break;
    case kWill:
    case kWont:
    case kDo:
    case kDont:
        m_nVerb = nByte;
        m_eParse = Parse::Verb;
        break;
    case kSb:
        m_eParse = Parse::SubOption;
        break;
    default:
        // NOP, DM, BRK, IP, AO, AYT, EC, EL, GA, a stray SE or anything
        // else: nothing for a port to act on.
        m_eParse = Parse::Data;
        break;
    }
}

bool CKrTelnetClient::SubAppend(quint8 nByte, QByteArray* pData)
{
    if (m_nSub < kMaxSubnegotiation) {
        m_aSub[m_nSub++] = char(nByte);
        return true;
    }
    SubAbandon(pData);
    pData->append(char(nByte));
    m_eParse = Parse::Data;
    return false;
}

void CKrTelnetClient::SubAbandon(QByteArray* pData)
{
    if (m_nSub > 1)
        pData->append(m_aSub.data() + 1, m_nSub - 1);
    m_nSub = 0;
}

void CKrTelnetClient::Negotiate(quint8 nVerb, quint8 nOption, QByteArray* pOut)
{
    COption& o = m_aOption[nOption];
    switch (nVerb) {
    case kWill:
        if (o.him == Side::No) {
            if (!ServerMay(nOption)) {
                AppendNegotiation(pOut, kDont, nOption);
                break;
            }
            AppendNegotiation(pOut, kDo, nOption);
        }
        o.him = Side::Yes;
        break;
    case kWont:
        if (o.him == Side::Yes)
            AppendNegotiation(pOut, kDont, nOption);
        o.him = Side::No;
        break;
    case kDo:
        if (o.us == Side::Yes)
            break;
        if (o.us == Side::No) {
            if (!WeOffer(nOption)) {
                AppendNegotiation(pOut, kWont, nOption);
                break;
            }
            AppendNegotiation(pOut, kWill, nOption);
        }
        o.us = Side::Yes;
        if (nOption == kComPort) {
            m_bComPortRefused = false;
            if (m_bHaveSettings)
                SendSettings(pOut);
        }
        break;
    case kDont:
        if (o.us == Side::Yes)
            AppendNegotiation(pOut, kWont, nOption);
        o.us = Side::No;
        if (nOption == kComPort)
            m_bComPortRefused = true;
        break;
    }
}

void CKrTelnetClient::Subnegotiation()
{
    if (m_nSub < 2 || quint8(m_aSub[0]) != kComPort)
        return;
    const int nCode = quint8(m_aSub[1]) - kServerOffset;
    const char* pValue = m_aSub.data() + 2;
    const int nValue = m_nSub - 2;
    const quint8 nByte = nValue == 1 ? quint8(pValue[0]) : 0;
    switch (nCode) {
    case kSignature:
        // An empty one asks for ours; a port has nothing worth telling.
        if (nValue > 0)
            m_baSignature = QByteArray(pValue, nValue);
        break;
    case kSetBaudRate:
        if (nValue == 4)
            m_nAckBaud = qint32(qFromBigEndian<quint32>(pValue));
        break;
    case kSetDataSize:
        if (nValue == 1)
            m_nAckDataSize = nByte;
        break;
    case kSetParity:
        if (nValue == 1)
            m_nAckParity = nByte;
        break;
    case kSetStopSize:
        if (nValue == 1)
            m_nAckStopSize = nByte;
        break;
    case kSetControl:
        if (nValue == 1) {
            m_nAckControl = nByte;
            NoteControl(nByte);
        }
        break;
    case kNotifyLineState:
        if (nValue == 1)
            m_nLineState = nByte;
        break;
    case kNotifyModemState:
        if (nValue == 1) {
            m_nModemState = nByte;
            m_bHaveModemState = true;
        }
        break;
    case kFlowControlSuspend:
        if (nValue == 0)
            m_bSuspended = true;
        break;
    case kFlowControlResume:
        if (nValue == 0)
            m_bSuspended = false;
        break;
    default:
        break;
    }
}

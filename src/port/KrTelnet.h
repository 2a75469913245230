#pragma once
// The Telnet side of an rfc2217:// port: option negotiation (BINARY, SGA,
// ECHO) and the Com Port Control option (44) over a byte stream. It does no
// I/O: the network back end feeds it what the socket read and sends what it
// hands back.
//
// Runs on the port's I/O thread, inside the network back end; a plain object,
// not thread-safe.

#include "CKrCommConfig.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>

class CKrTelnetClient
{
public:
    enum class ComPort
    {
        Unknown,
        Agreed,
        Refused
    };

    // The longest subnegotiation (option byte + payload) kept.
    static constexpr int kMaxSubnegotiation = 256;

    // Begins a new connection and returns what the client sends first (its
    // offers). Forgets everything learnt on an earlier connection but keeps
    // the line settings, which go out again once the option is agreed.
    QByteArray Start();

    // The line settings to send with the Com Port option (baud, data size,
    // parity, stop size, flow control, DTR and RTS at open, then the mask
    // that asks for every change of the input lines, in that order). When
    // the option is agreed already the commands are appended to *pOut now,
    // otherwise they go out as soon as it is agreed (and again each time it
    // is agreed anew). DTR or RTS left as the server has them is asked for.
    // The fields are sent as given; pass a configuration that IsValid().
    void SetLineSettings(const CKrCommConfig& config, QByteArray* pOut);

    // Feeds bytes as they came from the network (any segmentation). Appends
    // the data bytes (0xFF undoubled) to *pData and whatever must be sent back
    // (negotiation replies, pending settings) to *pOut. Never holds data back
    // beyond an unfinished command or subnegotiation.
    void Receive(const char* p, qsizetype n, QByteArray* pData, QByteArray* pOut);

    // Data for the network: every 0xFF doubled, appended to *pOut.
    static void Escape(const char* p, qsizetype n, QByteArray* pOut);

    // Sets DTR or RTS, or begins (bOn) or ends a break: SET-CONTROL appended
    // to *pOut. False, and nothing appended, while the option is not agreed.
    bool SetControl(KrLine line, bool bOn, QByteArray* pOut);
    // The lines as far as they are known: DTR, RTS and the break as last set
    // or as the server answered, the input lines as its last
    // NOTIFY-MODEMSTATE told them (not known before one came). Only
    // meaningful while the option is agreed.
    KrLines Lines() const;

    ComPort ComPortState() const;
    // The server asked us to stop sending (FLOWCONTROL-SUSPEND) and has not
    // resumed.
    bool IsSuspended() const { return m_bSuspended; }
    // The last NOTIFY-LINESTATE / NOTIFY-MODEMSTATE value, 0 before any.
    quint8 LineState() const { return m_nLineState; }
    quint8 ModemState() const { return m_nModemState; }
    // The values of the server's last replies to SET-BAUDRATE, SET-DATASIZE,
    // SET-PARITY, SET-STOPSIZE and SET-CONTROL, in their wire codes
    // (parity 1..5, stop size 1..3, control as sent); 0 before any.
    qint32 AcknowledgedBaud() const { return m_nAckBaud; }
    quint8 AcknowledgedDataSize() const { return m_nAckDataSize; }
    quint8 AcknowledgedParity() const { return m_nAckParity; }
    quint8 AcknowledgedStopSize() const { return m_nAckStopSize; }
    quint8 AcknowledgedControl() const { return m_nAckControl; }
    // The text of the server's last SIGNATURE, empty before any.
    QByteArray ServerSignature() const { return m_baSignature; }
    // Bytes held across calls (an unfinished command or subnegotiation); never
    // more than kMaxSubnegotiation + 3.
    qsizetype BufferedBytes() const;

private:
    // Per option and side, after RFC 1143 without its queue; the client never
    // asks to turn an option off, so there is no "want no".
    enum class Side : quint8
    {
        No,
        Yes,
        WantYes
    };
    struct COption
    {
        Side us = Side::No;  // we perform it (WILL/WONT)
        Side him = Side::No; // the server performs it (DO/DONT)
    };
    enum class Parse : quint8
    {
        Data,
        Iac,
        Verb,
        SubOption,
        Sub,
        SubIac
    };

    void Command(quint8 nByte, QByteArray* pData);
    void Negotiate(quint8 nVerb, quint8 nOption, QByteArray* pOut);
    bool SubAppend(quint8 nByte, QByteArray* pData);
    void SubAbandon(QByteArray* pData);
    void Subnegotiation();
    void SendSettings(QByteArray* pOut);
    void NoteControl(quint8 nValue);

    std::array<COption, 256> m_aOption{};
    Parse m_eParse = Parse::Data;
    quint8 m_nVerb = 0;
    std::array<char, kMaxSubnegotiation> m_aSub{};
    int m_nSub = 0;

    bool m_bComPortRefused = false;
    bool m_bSuspended = false;
    quint8 m_nLineState = 0;
    quint8 m_nModemState = 0;
    qint32 m_nAckBaud = 0;
    quint8 m_nAckDataSize = 0;
    quint8 m_nAckParity = 0;
    quint8 m_nAckStopSize = 0;
    quint8 m_nAckControl = 0;
    QByteArray m_baSignature;
    KrLines m_outputs; // DTR, RTS and the break, as set or answered
    bool m_bHaveModemState = false;

    CKrCommConfig m_config;
    bool m_bHaveSettings = false;
};

// Modem control through the communications functions: GetCommModemStatus,
// EscapeCommFunction and SetCommBreak/ClearCommBreak. The system reads back
// only the input lines; DTR and RTS are what the device control block says at
// open and what was set since. Changes are not waited for here (the serial
// port's own reading waits on the device): the owner reads them on a timer.

#include "KrModemControl.h"

#include "KrWinError.h"

#include <windows.h>

namespace {

class CKrModemControlWin : public CKrModemControl
{
public:
    explicit CKrModemControlWin(HANDLE hDevice) : m_hDevice(hDevice)
    {
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        if (::GetCommState(m_hDevice, &dcb)) {
            m_outputs.Set(KrLine::Dtr, dcb.fDtrControl == DTR_CONTROL_ENABLE);
            m_outputs.Set(KrLine::Rts, dcb.fRtsControl == RTS_CONTROL_ENABLE);
        }
    }

    bool Read(KrLines* pLines, QString* pWhy) override
    {
        DWORD nStatus = 0;
        if (!::GetCommModemStatus(m_hDevice, &nStatus)) {
            *pWhy = KrWinErrorText(::GetLastError());
            return false;
        }
        pLines->Set(KrLine::Cts, (nStatus & MS_CTS_ON) != 0);
        pLines->Set(KrLine::Dsr, (nStatus & MS_DSR_ON) != 0);
        pLines->Set(KrLine::Dcd, (nStatus & MS_RLSD_ON) != 0);
        pLines->Set(KrLine::Ri, (nStatus & MS_RING_ON) != 0);
        for (KrLine line : {KrLine::Dtr, KrLine::Rts}) {
            if (m_outputs.IsKnown(line))
                pLines->Set(line, m_outputs.IsOn(line));
            else
                pLines->SetUnknown(line);
        }
        return true;
    }

    bool SetOutputs(quint8 nLines, quint8 nOn, QString* pWhy) override
    {
        // One line after the other: the system has no call for both.
        for (KrLine line : {KrLine::Dtr, KrLine::Rts}) {
            if (!(nLines & KrLineBit(line)))
                continue;
            const bool bOn = nOn & KrLineBit(line);
            const DWORD nFunction =
                line == KrLine::Dtr ? (bOn ? SETDTR : CLRDTR) : (bOn ? SETRTS : CLRRTS);
            if (!::EscapeCommFunction(m_hDevice, nFunction))
                return Failed(pWhy);
            m_outputs.Set(line, bOn);
        }
        return true;
    }

    bool SetBreak(bool bOn, QString* pWhy) override
    {
        return (bOn ? ::SetCommBreak(m_hDevice) : ::ClearCommBreak(m_hDevice)) || Failed(pWhy);
    }

    bool StartWatching(std::function<void()>) override { return false; }
    bool IsWatching() const override { return false; }
    void StopWatching() override {}

private:
    static bool Failed(QString* pWhy)
    {
        *pWhy = KrWinErrorText(::GetLastError());
        return false;
    }

    HANDLE m_hDevice;
    KrLines m_outputs;
};

} // namespace

std::unique_ptr<CKrModemControl> KrSystemModemControl(qintptr handle)
{
    return std::make_unique<CKrModemControlWin>(reinterpret_cast<HANDLE>(handle));
}

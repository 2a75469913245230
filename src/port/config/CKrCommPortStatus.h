#pragma once
// What a port reports about itself: its state, why it is not open (a code
// and the same in plain words) and the one line that describes it. A port
// tells a listener of its own whenever any of it changes; nothing polls.

#include "KrLines.h"
#include "KrPortEvent.h"

#include <QString>

enum class KrPortState
{
    Closed,  // not open: never opened, closed by its owner, or an open failed
    Opening, // an open is under way (a network connection being made)
    Open,
    Lost // was open and failed (device removed, connection dropped); reopening
};

enum class KrPortError
{
    None,
    InvalidSettings, // the configuration itself is wrong
    UnknownType,     // no back end takes the port name
    NoSuchDevice,
    PermissionDenied,
    InUse,
    NotSerialDevice, // the name is a folder, a file or a device that is no serial line
    SettingsRefused, // the device does not accept a line setting
    Removed,         // the device went away while open
    DeviceError,     // the device failed while open
    ConnectionRefused,
    NoAnswer,
    HostNotFound,
    ConnectionClosed, // the other side ended the connection
    NetworkError,
    Other
};

// A failure in the words a technician reads, with its code. Failures that a
// later attempt may not see (a device that is not there yet, a host that is
// down) are retried while the port is wanted open.
struct KrPortFailure
{
    KrPortError code = KrPortError::Other;
    QString strText;

    bool IsRetried() const
    {
        return code != KrPortError::InvalidSettings && code != KrPortError::UnknownType &&
               code != KrPortError::SettingsRefused;
    }
};

struct CKrCommPortStatus
{
    KrPortState state = KrPortState::Closed;
    KrPortError error = KrPortError::None;
    QString strReason;      // plain words; empty when there is nothing to tell
    QString strDescription; // what GetDescription returns in this state

    bool operator==(const CKrCommPortStatus& o) const
    {
        return state == o.state && error == o.error && strReason == o.strReason &&
               strDescription == o.strDescription;
    }
    bool operator!=(const CKrCommPortStatus& o) const { return !(*this == o); }
};

// Hears about a port's state. Called on the port's own I/O thread, with no
// lock of the port held; it must not wait for the thread that owns the port.
class CKrCommPortListener
{
public:
    virtual void OnPortStatus(const CKrCommPortStatus& status) = 0;
    // The port was opened, lost, reopened or closed, or opened with another
    // configuration, at event.time; in the order it happened, before any
    // block read after it reaches the receiver. Ignored unless overridden.
    virtual void OnPortEvent(const KrPortEvent& /*event*/) {}
    // The control lines changed, or a break began or ended; with the time the
    // port saw it. A port that is not open has no lines.
    virtual void OnPortLines(const KrLineEvent& event) { Q_UNUSED(event); }

protected:
    ~CKrCommPortListener() = default;
};

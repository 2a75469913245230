#pragma once
// The "Log Input Data" checkbox as the daily log's indicator: red, with the
// file, the reason and the bytes waiting (or lost) in its tooltip, while the
// log cannot be written. Bytes lost stay on show until the box is unchecked.
// When only the timing index beside the log cannot be written, the tooltip
// says so and the box keeps its colour.
//
// Lives on the user-interface thread. The log tells of every change on its
// writer's thread; the checkbox follows through one coalesced call.

#include "KrCoalescedCall.h"

#include <QObject>

class CInputLog;
class QCheckBox;

class CLogIndicator : public QObject
{
    Q_OBJECT
public:
    CLogIndicator(QCheckBox* pCheck, CInputLog& log);

    // Shows the log's state now.
    void Update();

private:
    QCheckBox* m_pCheck;
    CInputLog& m_log;
    qint64 m_nLostSeen = 0; // bytes lost before the box was last unchecked
    KrCoalescedCall m_update;
};

#pragma once
// When the plot window draws a frame while values come: the first change
// after a quiet spell at once, then at most one frame per kIntervalMs (20 a
// second) however often data comes, and nothing once it stops. The owner
// runs a single-shot timer of kIntervalMs whenever the pacer says so; it is
// the only timer, and it stops one interval after the last data.
//
// A plain object of the user-interface thread, owned by the plot window.

class CPlotFramePacer
{
public:
    static constexpr int kIntervalMs = 50;

    // New values came. True: draw a frame now and start the timer.
    bool DataCame()
    {
        if (m_bTimer) {
            m_bPending = true;
            return false;
        }
        m_bTimer = true;
        return true;
    }
    // The timer ran out. True: draw a frame now and start the timer again;
    // false: nothing came meanwhile, the timer stays stopped.
    bool TimerFired()
    {
        m_bTimer = m_bPending;
        m_bPending = false;
        return m_bTimer;
    }
    // The timer runs (the owner started it and it has not run out).
    bool IsTimerRunning() const { return m_bTimer; }
    // Forget everything (the owner stopped the timer).
    void Reset() { m_bTimer = m_bPending = false; }

private:
    bool m_bTimer = false;
    bool m_bPending = false;
};

#pragma once
// When the daily log's writer writes what waits: at once when its last write
// began at least kIntervalMs ago (or there was none), else when that
// interval has passed, so that what comes meanwhile goes with the same
// opening of the file. At a steady rate the file is then opened at most
// 1000 / kIntervalMs times a second, and no block waits longer than
// kIntervalMs plus the write before it. The writer skips the wait when
// someone waits for the file (Flush, Finish) and while it retries a failing
// file.
//
// A plain object of the log's writer thread. The clock (monotonic
// milliseconds) is a parameter so that tests can drive it.

#include <QtGlobal>
#include <functional>

class CLogPacing
{
public:
    using Clock = std::function<qint64()>;
    static constexpr int kIntervalMs = 50;

    // Without a clock, the system's monotonic one.
    explicit CLogPacing(Clock clock = Clock());

    // Milliseconds to wait before the next write begins (0: now).
    qint64 MsUntilWrite() const;
    // A write begins now.
    void Writing();

private:
    Clock m_clock;
    bool m_bWritten = false;
    qint64 m_nLastMs = 0;
};

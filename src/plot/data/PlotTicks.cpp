#include "PlotTicks.h"

#include <QDateTime>
#include <cmath>

namespace {

constexpr qint64 kMs = 1000;
constexpr qint64 kSecond = 1000 * kMs;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

constexpr qint64 kTimeSteps[] = {
    1,        2,           5,           10,           20,           50,
    100,      200,         500,         kMs,          2 * kMs,      5 * kMs,
    10 * kMs, 20 * kMs,    50 * kMs,    100 * kMs,    200 * kMs,    500 * kMs,
    kSecond,  2 * kSecond, 5 * kSecond, 10 * kSecond, 15 * kSecond, 30 * kSecond,
    kMinute,  2 * kMinute, 5 * kMinute, 10 * kMinute, 15 * kMinute, 30 * kMinute,
    kHour,    2 * kHour,   3 * kHour,   6 * kHour,    12 * kHour,   kDay,
    2 * kDay, 7 * kDay,    30 * kDay,   365 * kDay};

// Local time's offset from UTC at nWallUs, in microseconds.
qint64 LocalOffsetUs(qint64 nWallUs)
{
    return qint64(QDateTime::fromMSecsSinceEpoch(nWallUs / kMs).offsetFromUtc()) * kSecond;
}

qint64 FloorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

QDateTime Local(qint64 nWallUs)
{
    return QDateTime::fromMSecsSinceEpoch(FloorDiv(nWallUs, kMs));
}

qint64 Micros(qint64 nWallUs)
{
    return nWallUs - FloorDiv(nWallUs, kSecond) * kSecond;
}

} // namespace

namespace PlotTicks {

std::vector<double> ValueTicks(double dLo, double dHi, int nMax)
{
    std::vector<double> ticks;
    if (!(dHi > dLo) || nMax < 1 || !std::isfinite(dHi - dLo))
        return ticks;
    const double dRaw = (dHi - dLo) / nMax;
    const double dPower = std::pow(10.0, std::floor(std::log10(dRaw)));
    double dStep = dPower;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        dStep = m * dPower;
        if (dStep >= dRaw)
            break;
    }
    const double dFirst = std::ceil(dLo / dStep);
    const double dLast = std::floor(dHi / dStep);
    for (double k = dFirst; k <= dLast && ticks.size() < size_t(nMax) + 2; k += 1)
        ticks.push_back(k * dStep);
    return ticks;
}

QString ValueText(double dValue, double dStep)
{
    if (std::fabs(dValue) < dStep * 1e-6)
        dValue = 0; // not "-1.2e-17"
    // As many decimals as the step has ("12000", "0.25"); very large or
    // small numbers with an exponent, in as many digits as the step needs.
    if (std::max(std::fabs(dValue), dStep) < 1e7 && dStep >= 1e-6)
        return QString::number(dValue, 'f', std::max(0, -int(std::floor(std::log10(dStep)))));
    const double dMagnitude = std::max(std::fabs(dValue), dStep);
    const int nDigits = std::clamp(
        int(std::floor(std::log10(dMagnitude)) - std::floor(std::log10(dStep))) + 1, 1, 15);
    return QString::number(dValue, 'g', nDigits);
}

qint64 TimeStep(qint64 nSpanUs, int nMax)
{
    for (const qint64 nStep : kTimeSteps) {
        if (nSpanUs / nStep <= nMax)
            return nStep;
    }
    return kTimeSteps[std::size(kTimeSteps) - 1];
}

std::vector<qint64> TimeTicks(qint64 nFrom, qint64 nTo, qint64 nStepUs)
{
    std::vector<qint64> ticks;
    if (nStepUs <= 0 || nTo <= nFrom)
        return ticks;
    // Steps of a day and less fall on the local clock's round times.
    const qint64 nOffset = nStepUs <= kDay ? LocalOffsetUs(nFrom) : 0;
    qint64 nTick = (FloorDiv(nFrom + nOffset, nStepUs) + 1) * nStepUs - nOffset;
    if (nTick - nStepUs >= nFrom)
        nTick -= nStepUs;
    for (; nTick < nTo && ticks.size() < 1000; nTick += nStepUs)
        ticks.push_back(nTick);
    return ticks;
}

QString TimeText(qint64 nWallUs, qint64 nStepUs)
{
    const QDateTime t = Local(nWallUs);
    if (nStepUs >= kDay)
        return t.toString(QStringLiteral("yyyy-MM-dd"));
    if (nStepUs >= kHour && t.time().hour() == 0 && t.time().minute() == 0)
        return t.toString(QStringLiteral("MM-dd HH:mm"));
    if (nStepUs >= kMinute)
        return t.toString(QStringLiteral("HH:mm"));
    const QString seconds = t.toString(QStringLiteral("HH:mm:ss"));
    if (nStepUs >= kSecond)
        return seconds;
    // Fractions: as many digits as the step has.
    int nDigits = 6;
    for (qint64 n = nStepUs; n % 10 == 0 && nDigits > 1; n /= 10)
        --nDigits;
    const QString micro = QStringLiteral("%1").arg(Micros(nWallUs), 6, 10, QLatin1Char('0'));
    return seconds + QLatin1Char('.') + micro.left(nDigits);
}

QString CursorTime(qint64 nWallUs)
{
    return Local(nWallUs).toString(QStringLiteral("HH:mm:ss.")) +
           QStringLiteral("%1").arg(Micros(nWallUs), 6, 10, QLatin1Char('0'));
}

} // namespace PlotTicks

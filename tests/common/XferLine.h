#pragma once
// One direction of a line between two transfer engines, with the faults a
// suite asks for: the simulated line of tst_xmodem and the proxy between two
// pseudo-terminals both pass their bytes through it. Test thread or the
// proxy's thread; one object per direction, not shared.

#include <QByteArray>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

#include <limits>
#include <map>
#include <set>
#include <utility>

// The rules, by the byte's offset in the direction's stream: flip@N
// (damaged), drop@N (lost), cut@N (everything from N on is lost), drop#HH@K
// (the K-th byte of value HH lost), drop#HH*K (the first K of them lost),
// hold@N (nothing arrives until N bytes came, then all at once),
// inject@N=HEX (bytes inserted before offset N).
class CLine
{
public:
    explicit CLine(const QStringList& rules)
    {
        static const QRegularExpression form(QStringLiteral(
            "^(flip|drop|cut|hold|inject)(?:#([0-9a-f]{2}))?([@*])(\\d+)(?:=([0-9a-f]+))?$"));
        for (const QString& rule : rules) {
            const QRegularExpressionMatch m = form.match(rule);
            QVERIFY2(m.hasMatch(), qPrintable(rule));
            const QString verb = m.captured(1);
            const qint64 n = m.captured(4).toLongLong();
            if (!m.captured(2).isEmpty()) {
                const int nByte = m.captured(2).toInt(nullptr, 16);
                (m.captured(3) == QLatin1String("*") ? m_dropFirst : m_dropNth)[nByte] = n;
            } else if (verb == QLatin1String("flip")) {
                m_flips.insert(n);
            } else if (verb == QLatin1String("drop")) {
                m_drops.insert(n);
            } else if (verb == QLatin1String("cut")) {
                m_nCut = n;
            } else if (verb == QLatin1String("hold")) {
                m_nHold = n;
            } else {
                m_injects[n] = QByteArray::fromHex(m.captured(5).toLatin1());
            }
        }
    }

    QByteArray Pass(const QByteArray& in)
    {
        QByteArray out;
        for (char c : in) {
            const qint64 nAt = m_nOffset++;
            if (m_injects.count(nAt))
                out += m_injects[nAt];
            const int nByte = quint8(c);
            const qint64 nSeen = ++m_seen[nByte];
            if (nAt >= m_nCut || m_drops.count(nAt) ||
                (m_dropNth.count(nByte) && m_dropNth[nByte] == nSeen) ||
                (m_dropFirst.count(nByte) && nSeen <= m_dropFirst[nByte]))
                continue;
            out += m_flips.count(nAt) ? char(c ^ 0x5A) : c;
        }
        m_held += out;
        if (m_nOffset < m_nHold)
            return QByteArray();
        return std::exchange(m_held, QByteArray());
    }
    qint64 Offset() const { return m_nOffset; }

private:
    qint64 m_nOffset = 0;
    qint64 m_nCut = std::numeric_limits<qint64>::max();
    qint64 m_nHold = 0;
    std::set<qint64> m_flips, m_drops;
    std::map<int, qint64> m_dropNth, m_dropFirst, m_seen;
    std::map<qint64, QByteArray> m_injects;
    QByteArray m_held;
};

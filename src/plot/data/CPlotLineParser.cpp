#include "CPlotLineParser.h"

#include <charconv>
#include <cmath>

namespace {

bool IsDigit(uchar c)
{
    return c >= '0' && c <= '9';
}

bool IsAsciiLetter(uchar c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsUnitChar(uchar c)
{
    return IsAsciiLetter(c) || c == '%' || c == '/' || c >= 0x80;
}

bool IsControl(uchar c)
{
    return c < 0x20 || c == 0x7f;
}

// Compares `word` with a lower-case ASCII `name`, ignoring case.
bool EqualsNoCase(const char* p, qsizetype n, const char* name)
{
    qsizetype i = 0;
    for (; i < n && name[i]; ++i) {
        uchar c = uchar(p[i]);
        if (c >= 'A' && c <= 'Z')
            c = uchar(c - 'A' + 'a');
        if (c != uchar(name[i]))
            return false;
    }
    return i == n && !name[i];
}

} // namespace

CPlotLineParser::Number CPlotLineParser::ParseNumber(QByteArrayView word, double* pValue)
{
    const char* p = word.data();
    const qsizetype n = word.size();
    qsizetype i = 0;
    if (i < n && (p[i] == '+' || p[i] == '-'))
        ++i;
    const qsizetype nAfterSign = i;
    if (EqualsNoCase(p + i, n - i, "nan") || EqualsNoCase(p + i, n - i, "inf") ||
        EqualsNoCase(p + i, n - i, "infinity"))
        return Number::NonFinite;

    qsizetype nDigits = 0;
    while (i < n && IsDigit(uchar(p[i]))) {
        ++i;
        ++nDigits;
    }
    if (i < n && p[i] == '.') {
        ++i;
        while (i < n && IsDigit(uchar(p[i]))) {
            ++i;
            ++nDigits;
        }
    }
    if (nDigits == 0)
        return Number::No;
    // An exponent only when it is complete; otherwise the 'e' begins the unit.
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        qsizetype j = i + 1;
        if (j < n && (p[j] == '+' || p[j] == '-'))
            ++j;
        if (j < n && IsDigit(uchar(p[j]))) {
            while (j < n && IsDigit(uchar(p[j])))
                ++j;
            i = j;
        }
    }
    const qsizetype nNumberEnd = i;
    for (; i < n; ++i) {
        if (!IsUnitChar(uchar(p[i])))
            return Number::No;
    }
    // from_chars takes no '+'; a '-' it does.
    const char* pFirst = p + (p[0] == '+' ? nAfterSign : 0);
    double dValue = 0;
    const std::from_chars_result r = std::from_chars(pFirst, p + nNumberEnd, dValue);
    if (r.ec == std::errc::result_out_of_range || !std::isfinite(dValue))
        return Number::NonFinite;
    if (r.ec != std::errc() || r.ptr != p + nNumberEnd)
        return Number::No; // cannot happen after the checks above
    if (pValue)
        *pValue = dValue;
    return Number::Finite;
}

bool CPlotLineParser::IsLabel(QByteArrayView word)
{
    if (word.isEmpty() || ParseNumber(word, nullptr) != Number::No)
        return false;
    bool bLetter = false;
    for (const char ch : word) {
        const uchar c = uchar(ch);
        if (IsControl(c))
            return false;
        if (IsAsciiLetter(c) || c == '_' || c >= 0x80)
            bLetter = true;
    }
    return bLetter;
}

void CPlotLineParser::Tokenize(QByteArrayView line)
{
    m_tokens.clear();
    const char* p = line.data();
    const qsizetype n = line.size();
    for (qsizetype i = 0; i < n;) {
        const char c = p[i];
        if (c == ' ' || c == '\t') {
            qsizetype j = i + 1;
            while (j < n && (p[j] == ' ' || p[j] == '\t'))
                ++j;
            m_tokens.push_back(SToken{Kind::Soft, i, j});
            i = j;
        } else if (c == ',' || c == ';') {
            m_tokens.push_back(SToken{Kind::Hard, i, i + 1});
            ++i;
        } else if (c == ':' || c == '=') {
            m_tokens.push_back(SToken{Kind::Mark, i, i + 1});
            ++i;
        } else {
            qsizetype j = i + 1;
            while (j < n && p[j] != ' ' && p[j] != '\t' && p[j] != ',' && p[j] != ';' &&
                   p[j] != ':' && p[j] != '=')
                ++j;
            m_tokens.push_back(SToken{Kind::Word, i, j});
            i = j;
        }
    }
}

bool CPlotLineParser::ParsePairs(QByteArrayView line, std::vector<SItem>& items, int& nNonFinite)
{
    const auto isSeparator = [&](size_t k) {
        return m_tokens[k].kind == Kind::Soft || m_tokens[k].kind == Kind::Hard;
    };
    const auto text = [&](size_t k) {
        return line.sliced(m_tokens[k].nFrom, m_tokens[k].nTo - m_tokens[k].nFrom);
    };
    const size_t nTokens = m_tokens.size();
    bool bAny = false;
    for (size_t i = 0; i < nTokens; ++i) {
        if (m_tokens[i].kind != Kind::Word || (i > 0 && !isSeparator(i - 1)))
            continue;
        size_t j = i + 1;
        if (j < nTokens && m_tokens[j].kind == Kind::Soft)
            ++j;
        if (j >= nTokens || m_tokens[j].kind != Kind::Mark)
            continue;
        ++j;
        if (j < nTokens && m_tokens[j].kind == Kind::Soft)
            ++j;
        if (j >= nTokens || m_tokens[j].kind != Kind::Word)
            continue;
        if (j + 1 < nTokens && !isSeparator(j + 1))
            continue;
        double dValue = 0;
        const Number number = ParseNumber(text(j), &dValue);
        if (number == Number::No || !IsLabel(text(i)))
            continue;
        bAny = true;
        if (number == Number::Finite)
            items.push_back(SItem{text(i), 0, dValue});
        else
            ++nNonFinite;
        i = j;
    }
    return bAny;
}

CPlotLineParser::Number CPlotLineParser::PartNumber(QByteArrayView line, size_t nFrom, size_t nTo,
                                                    double* pValue) const
{
    if (nTo != nFrom + 1 || m_tokens[nFrom].kind != Kind::Word)
        return Number::No;
    const SToken& t = m_tokens[nFrom];
    return ParseNumber(line.sliced(t.nFrom, t.nTo - t.nFrom), pValue);
}

void CPlotLineParser::ParsePositions(QByteArrayView line, std::vector<SItem>& items,
                                     int& nNonFinite)
{
    const size_t nTokens = m_tokens.size();
    bool bHard = false;
    for (const SToken& t : m_tokens)
        bHard = bHard || t.kind == Kind::Hard;

    int nPosition = 0;
    // In a field [nFrom, nTo) of tokens: the number of parts that are
    // numbers, and the last one's kind and value.
    const auto scanParts = [&](size_t nFrom, size_t nTo, int* pNumbers, Number* pLast,
                               double* pValue) {
        *pNumbers = 0;
        size_t k = nFrom;
        while (k < nTo) {
            while (k < nTo && m_tokens[k].kind == Kind::Soft)
                ++k;
            const size_t nPartFrom = k;
            while (k < nTo && m_tokens[k].kind != Kind::Soft)
                ++k;
            if (k == nPartFrom)
                break;
            double dValue = 0;
            const Number number = PartNumber(line, nPartFrom, k, &dValue);
            if (number == Number::No)
                continue;
            if (!bHard) {
                // Each number is a position of its own.
                ++nPosition;
                if (number == Number::Finite)
                    items.push_back(SItem{QByteArrayView(), nPosition, dValue});
                else
                    ++nNonFinite;
                continue;
            }
            ++*pNumbers;
            *pLast = number;
            *pValue = dValue;
        }
    };

    int nNumbers = 0;
    Number last = Number::No;
    double dValue = 0;
    if (!bHard) {
        scanParts(0, nTokens, &nNumbers, &last, &dValue);
        return;
    }
    size_t nFieldFrom = 0;
    for (size_t k = 0; k <= nTokens; ++k) {
        if (k < nTokens && m_tokens[k].kind != Kind::Hard)
            continue;
        ++nPosition;
        scanParts(nFieldFrom, k, &nNumbers, &last, &dValue);
        if (nNumbers == 1) {
            if (last == Number::Finite)
                items.push_back(SItem{QByteArrayView(), nPosition, dValue});
            else
                ++nNonFinite;
        }
        nFieldFrom = k + 1;
    }
}

void CPlotLineParser::Parse(QByteArrayView line, std::vector<SItem>& items, int* pNonFinite)
{
    items.clear();
    int nNonFinite = 0;
    Tokenize(line);
    if (!ParsePairs(line, items, nNonFinite))
        ParsePositions(line, items, nNonFinite);
    if (pNonFinite)
        *pNonFinite = nNonFinite;
}

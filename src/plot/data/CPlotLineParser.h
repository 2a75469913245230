#pragma once
// The values in one received line (without its line end). The rules, exactly:
//
// Characters. Space and tab are soft separators, comma and semicolon hard
// separators; ':' and '=' are marks; every other byte (letters, digits,
// punctuation, control characters, bytes of 0x80 and above) is text. A word
// is a longest run of text bytes.
//
// Numbers. A word is a number when it is, in full: an optional sign (+ or
// -), digits with an optional decimal point ("12", "12.", "12.5", ".5"; the
// decimal mark is always '.'), an optional exponent ("e-3", "E+12") and an
// optional unit: letters, '%', '/' and bytes of 0x80 and above ("3.3V",
// "40%", "9.81m/s", "21.5°C"). "1e" is 1 with the unit "e". Also a number,
// but never a value: "nan", "inf" and "infinity" in any case with an
// optional sign and no unit, and a number too large or too small for a
// double ("1e999", "1e-999"); these are skipped and counted. Hexadecimal
// ("0x1F"), "1.2.3", "(5)" or "5V)" are text.
//
// Pairs. A label is a word that is no number, holds a letter (A to Z, a to
// z, '_' or a byte of 0x80 and above) and no control character. A pair is
// a label that begins the line or follows a separator, then optional soft
// separators, one mark, optional soft separators, and a number that ends
// the line or is followed by a separator: "temp:21.5", "x=-0.98",
// "Temp: 21.5 C", "x = 5". A line with at least one pair gives the values of
// its pairs and nothing else: "Sensor 3 t=21.5 ok" gives only t, and
// "ADC: 1 2 3" only ADC = 1. "12:30:15" (no letter), "t:12:30" (the number
// is followed by a mark) and "a:b:1" (the label follows a mark) hold no pair.
//
// Numbers by position, in a line without pairs:
// - When the line holds a hard separator, it is a list of fields split at
//   the hard separators; field k is position k. A field gives its value
//   when exactly one of its soft-separated parts is a number; the text
//   around it is ignored ("Vin 12.1 V, Iout 0.5 A" gives 1 = 12.1 and
//   2 = 0.5). An empty field, a field without a number or with several
//   numbers gives nothing, and still takes its position: "1,,3" gives
//   1 = 1 and 3 = 3, "1 2,3" only 2 = 3.
// - Otherwise the soft-separated parts that are numbers take the positions
//   1, 2, ... in order, and other parts are ignored: "Vin 12.1 V Iout 0.5 A"
//   gives 1 = 12.1 and 2 = 0.5; "12:30:15 21.5 40" gives 1 = 21.5, 2 = 40.
// A skipped number ("nan") still takes its position. A line without a
// number gives nothing.
//
// A plain object without limits of its own (the caller bounds the line);
// its scratch memory is reused from line to line. Used by one thread at a
// time.

#include <QByteArrayView>
#include <QtGlobal>
#include <vector>

class CPlotLineParser
{
public:
    struct SItem
    {
        // A pair's label (pointing into the line), or empty for a number by
        // position.
        QByteArrayView label;
        int nPosition; // 1, 2, ... for a number by position; 0 for a pair
        double dValue;
    };

    // The values of `line`, in the order the line gives them, into `items`
    // (emptied first). pNonFinite (may be nullptr) gets the number of
    // skipped numbers (nan, inf, out of range).
    void Parse(QByteArrayView line, std::vector<SItem>& items, int* pNonFinite = nullptr);

    enum class Number
    {
        No,
        Finite,
        NonFinite
    };
    // Whether the whole of `word` is a number by the rules above; its value
    // when finite.
    static Number ParseNumber(QByteArrayView word, double* pValue);
    // Whether `word` may be a label.
    static bool IsLabel(QByteArrayView word);

private:
    enum class Kind : quint8
    {
        Word,
        Soft,
        Hard,
        Mark
    };
    struct SToken
    {
        Kind kind;
        qsizetype nFrom;
        qsizetype nTo;
    };
    void Tokenize(QByteArrayView line);
    bool ParsePairs(QByteArrayView line, std::vector<SItem>& items, int& nNonFinite);
    void ParsePositions(QByteArrayView line, std::vector<SItem>& items, int& nNonFinite);
    // The number of the soft-separated part [nFrom, nTo) of the tokens, if
    // the part is a single word that is a number.
    Number PartNumber(QByteArrayView line, size_t nFrom, size_t nTo, double* pValue) const;

    std::vector<SToken> m_tokens;
};

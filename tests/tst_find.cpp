// Bytes as text both ways, and finding a pattern in a buffer that grows and
// is trimmed.

#include "ByteSyntax.h"
#include "CFindMatches.h"

#include <QTest>

class TestFind : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
    void refusalShowsWholeCharacters_data();
    void refusalShowsWholeCharacters();
    void clipboardFormsRoundTrip();
    void matchesFollowTheBuffer();
};

void TestFind::parse_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("errorAt"); // -1: valid
    QTest::newRow("escapes") << "esc"
                             << "AT\\r\\n\\t\\\\\\x00\\xFf\\\""
                             << QByteArray("AT\r\n\t\\\0\xFF\"", 9) << -1;
    QTest::newRow("code page 437 glyph")
        << "esc" << QString(QChar(0x00E9)) << QByteArray("\x82") << -1;
    QTest::newRow("unknown escape") << "esc"
                                    << "ab\\q" << QByteArray() << 2;
    QTest::newRow("short \\x") << "esc"
                               << "\\x4" << QByteArray() << 0;
    QTest::newRow("lone backslash") << "esc"
                                    << "a\\" << QByteArray() << 1;
    QTest::newRow("no such glyph") << "esc" << QString(QChar(0x20AC)) << QByteArray() << 0;
    QTest::newRow("hex spaced") << "hex"
                                << "0D 0a ff" << QByteArray("\r\n\xFF") << -1;
    QTest::newRow("hex as shown") << "hex"
                                  << "[0D] [0A] " << QByteArray("\r\n") << -1;
    QTest::newRow("hex run") << "hex"
                             << "0d0A" << QByteArray("\r\n") << -1;
    QTest::newRow("odd digit") << "hex"
                               << "0D 0" << QByteArray() << 3;
    QTest::newRow("not hex") << "hex"
                             << "0G" << QByteArray() << 1;
    QTest::newRow("open bracket") << "hex"
                                  << "[0D" << QByteArray() << 0;
    QTest::newRow("find in hex, escaped") << "findhex"
                                          << "\\r\\n"
                                          << QByteArray("\r\n") << -1;
    QTest::newRow("find in hex, bytes") << "findhex"
                                        << "[41]" << QByteArray("A") << -1;
}

void TestFind::parse()
{
    QFETCH(QString, form);
    QFETCH(QString, input);
    QFETCH(int, errorAt);
    const ByteSyntax::Parsed p = form == "esc"   ? ByteSyntax::FromEscaped(input)
                                 : form == "hex" ? ByteSyntax::FromHex(input)
                                                 : ByteSyntax::FromFindInHex(input);
    QCOMPARE(p.nErrorAt, errorAt);
    if (errorAt < 0) {
        QTEST(p.bytes, "bytes");
    } else {
        // The place, counted in characters from 1, and the accepted form.
        QVERIFY2(p.strError.startsWith(QStringLiteral("character %1: ").arg(errorAt + 1)),
                 qPrintable(p.strError));
        QVERIFY2(p.strError.contains(form == "esc" ? "\\xNN" : "0D 0A"), qPrintable(p.strError));
    }
}

void TestFind::refusalShowsWholeCharacters_data()
{
    // A character outside the Basic Multilingual Plane is two UTF-16 units:
    // the message counts it as one character and quotes it whole; the
    // editor selects both units. (None is taken, so none stands before a
    // fault: the count of characters and of units agree on its place.)
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("error"); // how the message begins
    QTest::addColumn<int>("at");        // UTF-16 units
    QTest::addColumn<int>("length");
    const QString smile = QStringLiteral("\U0001F600");
    QTest::newRow("text: the character itself")
        << "esc"
        << "ab" + smile << "character 3: '" + smile + "' (U+1F600) is no character" << 2 << 2;
    QTest::newRow("text: the first of two")
        << "esc" << smile + smile << "character 1: '" + smile + "' (U+1F600) is no character" << 0
        << 2;
    QTest::newRow("text: escaped")
        << "esc"
        << "a\\" + smile << "character 2: \\" + smile + " (U+1F600) is not an escape" << 1 << 3;
    QTest::newRow("hex") << "hex"
                         << "41 " + smile
                         << "character 4: '" + smile + "' (U+1F600) is not a hex digit" << 3 << 2;
    QTest::newRow("hex, an escape's place") << "hex"
                                            << "0D\\r"
                                            << "character 3: '\\' is not a hex digit" << 2 << 1;
    QTest::newRow("shown as the window shows it")
        << "shown" << smile << "character 1: '" + smile + "' (U+1F600) is no character" << 0 << 2;
    QTest::newRow("half of a pair")
        << "esc"
        << "A" + smile.left(1) << "character 2: '\uFFFD' (U+D83D, half of a character)" << 1 << 1;
    QTest::newRow("Basic Multilingual Plane, not ASCII")
        << "hex" << QStringLiteral("\u00E9") << "character 1: '\u00E9' (U+00E9) is not a hex" << 0
        << 1;
}

void TestFind::refusalShowsWholeCharacters()
{
    QFETCH(QString, form);
    QFETCH(QString, input);
    QFETCH(QString, error);
    const ByteSyntax::Parsed p = form == "esc"   ? ByteSyntax::FromEscaped(input)
                                 : form == "hex" ? ByteSyntax::FromHex(input)
                                                 : ByteSyntax::FromShown(input);
    QVERIFY2(p.strError.startsWith(error), qPrintable(p.strError));
    QTEST(p.nErrorAt, "at");
    QTEST(p.nErrorLength, "length");
}

void TestFind::clipboardFormsRoundTrip()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    all += "A1\x01"
           "1";
    const QString hex = ByteSyntax::ToHex(all);
    QVERIFY(hex.startsWith(QStringLiteral("00 01 02")) &&
            hex.endsWith(QStringLiteral("41 31 01 31")));
    QCOMPARE(ByteSyntax::FromHex(hex).bytes, all);
    QCOMPARE(ByteSyntax::ToCString("AB\r\n"), QStringLiteral("AB\\r\\n"));
    // A hex digit after \xNN is escaped too, as C would read it otherwise.
    QCOMPARE(ByteSyntax::ToCString("\x01"
                                   "1"),
             QStringLiteral("\\x01\\x31"));
    QCOMPARE(ByteSyntax::FromEscaped(ByteSyntax::ToCString(all)).bytes, all);
}

void TestFind::matchesFollowTheBuffer()
{
    CFindMatches find;
    QByteArray buffer = "xxABxAB";
    find.Search(buffer, 0, "ab", false, 3);
    QCOMPARE(find.Positions(), (std::vector<qint64>{2, 5}));
    QCOMPARE(find.CountText(), QStringLiteral("2 of 2")); // the first at or after 3
    // A match that spans the old end and the new block is found once.
    buffer += "xA";
    find.Update(buffer, 0);
    buffer += "Bab";
    find.Update(buffer, 0);
    QCOMPARE(find.Positions(), (std::vector<qint64>{2, 5, 8, 10}));
    // The front is trimmed: matches that lost a byte are gone, the current
    // one stays on its bytes.
    QVERIFY(find.Next()); // the third, at 8
    buffer.remove(0, 3);
    find.Update(buffer, 3);
    QCOMPARE(find.Positions(), (std::vector<qint64>{5, 8, 10}));
    QCOMPARE(find.CurrentPosition(), qint64(8));
    QCOMPARE(find.CountText(), QStringLiteral("2 of 3"));
    // Match case: only the upper-case ones; previous wraps around.
    find.Search(buffer, 3, "AB", true);
    QCOMPARE(find.Positions(), (std::vector<qint64>{5, 8}));
    QVERIFY(find.Previous());
    QCOMPARE(find.CurrentPosition(), qint64(8));
    find.Search(buffer, 3, "zz", true);
    QCOMPARE(find.CountText(), QStringLiteral("no match"));
}

QTEST_GUILESS_MAIN(TestFind)
#include "tst_find.moc"

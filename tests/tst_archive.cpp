// CArchive: buffering, byte order, strings and every way it fails.

#include "CArchive.h"

#include <QBuffer>
#include <QTest>

namespace {

// A device that records the size of every write and can be told to fail.
class RecordingDevice : public QIODevice
{
public:
    QByteArray data;
    QList<qint64> writes;
    qint64 failAfter = -1; // accept this many bytes, then fail
    bool failReads = false;
    qint64 readPos = 0;

protected:
    qint64 readData(char* p, qint64 max) override
    {
        if (failReads) {
            setErrorString(QStringLiteral("device broke"));
            return -1;
        }
        const qint64 n = qMin(max, qint64(data.size()) - readPos);
        memcpy(p, data.constData() + readPos, size_t(n));
        readPos += n;
        return n;
    }
    qint64 writeData(const char* p, qint64 n) override
    {
        if (failAfter >= 0 && data.size() + n > failAfter) {
            setErrorString(QStringLiteral("disk full"));
            return -1;
        }
        writes << n;
        data.append(p, n);
        return n;
    }
};

} // namespace

class TestArchive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valuesAreLittleEndian();
    void roundTripAcrossBufferBoundaries();
    void storeWritesWholeBuffersThenRest();
    void destructionWithoutCloseWritesNothing();
    void shortReadThrows_data();
    void shortReadThrows();
    void stringLongerThanMaximumThrows();
    void writeFailureThrowsAtFlush();
    void readFailureThrows();
    void wrongDirectionAndClosedThrow();
    void atEnd();
};

void TestArchive::valuesAreLittleEndian()
{
    QBuffer file;
    QVERIFY(file.open(QIODevice::WriteOnly));
    CArchive ar(&file, CArchive::store);
    ar << quint32(0x01020304) << qint32(-2) << quint8(0xAB) << QByteArray("hi");
    ar.Close();
    QCOMPARE(file.data(), QByteArray::fromHex("04030201"
                                              "feffffff"
                                              "ab"
                                              "02000000"
                                              "6869"));
}

void TestArchive::roundTripAcrossBufferBoundaries()
{
    QBuffer file;
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray blob(10000, Qt::Uninitialized);
    for (int i = 0; i < blob.size(); ++i)
        blob[i] = char(i * 31);
    {
        CArchive ar(&file, CArchive::store);
        for (quint32 i = 0; i < 1500; ++i) // 6000 bytes: crosses the first buffer
            ar << i;
        ar << blob << qint32(-123456) << quint8(7);
        ar.Close();
    }
    file.seek(0);
    CArchive ar(&file, CArchive::load);
    for (quint32 i = 0; i < 1500; ++i) {
        quint32 v = 0;
        ar >> v;
        QCOMPARE(v, i);
    }
    QByteArray back;
    ar.ReadString(back, 20000);
    QVERIFY(back == blob);
    qint32 s = 0;
    quint8 b = 0;
    ar >> s >> b;
    QCOMPARE(s, qint32(-123456));
    QCOMPARE(b, quint8(7));
    QVERIFY(ar.AtEnd());
}

void TestArchive::storeWritesWholeBuffersThenRest()
{
    RecordingDevice dev;
    QVERIFY(dev.open(QIODevice::WriteOnly));
    CArchive ar(&dev, CArchive::store);
    const QByteArray block(10000, 'x');
    ar.Write(block.constData(), int(block.size()));
    QCOMPARE(dev.writes, (QList<qint64>{4096, 4096})); // nothing beyond full buffers yet
    ar.Close();
    QCOMPARE(dev.writes, (QList<qint64>{4096, 4096, 1808}));
    QCOMPARE(dev.data, block);
}

void TestArchive::destructionWithoutCloseWritesNothing()
{
    RecordingDevice dev;
    QVERIFY(dev.open(QIODevice::WriteOnly));
    {
        CArchive ar(&dev, CArchive::store);
        ar << quint32(1);
    }
    QVERIFY(dev.data.isEmpty());
}

void TestArchive::shortReadThrows_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("what"); // 0 quint32, 1 qint32, 2 quint8, 3 string
    QTest::newRow("empty file, quint32") << QByteArray() << 0;
    QTest::newRow("three bytes, quint32") << QByteArray("abc") << 0;
    QTest::newRow("three bytes, qint32") << QByteArray("abc") << 1;
    QTest::newRow("empty file, quint8") << QByteArray() << 2;
    QTest::newRow("string body cut") << QByteArray::fromHex("0500000068656c6c") << 3;
    QTest::newRow("string length cut") << QByteArray::fromHex("0500") << 3;
}

void TestArchive::shortReadThrows()
{
    QFETCH(QByteArray, content);
    QFETCH(int, what);
    QBuffer file(&content);
    QVERIFY(file.open(QIODevice::ReadOnly));
    CArchive ar(&file, CArchive::load);
    quint32 u = 0;
    qint32 s = 0;
    quint8 b = 0;
    QByteArray str = "unchanged";
    switch (what) {
    case 0:
        QVERIFY_THROWS_EXCEPTION(CArchiveException, ar >> u);
        break;
    case 1:
        QVERIFY_THROWS_EXCEPTION(CArchiveException, ar >> s);
        break;
    case 2:
        QVERIFY_THROWS_EXCEPTION(CArchiveException, ar >> b);
        break;
    default:
        QVERIFY_THROWS_EXCEPTION(CArchiveException, ar.ReadString(str, 100));
        QCOMPARE(str, QByteArray("unchanged"));
    }
}

void TestArchive::stringLongerThanMaximumThrows()
{
    QByteArray content = QByteArray::fromHex("ffffff7f") + "abc";
    QBuffer file(&content);
    QVERIFY(file.open(QIODevice::ReadOnly));
    CArchive ar(&file, CArchive::load);
    QByteArray s;
    try {
        ar.ReadString(s, 1024);
        QFAIL("no exception");
    } catch (const CArchiveException& e) {
        QVERIFY2(e.Reason().contains(QLatin1String("1024")), qPrintable(e.Reason()));
    }

    QByteArray exact = QByteArray::fromHex("03000000") + "abc";
    QBuffer file2(&exact);
    QVERIFY(file2.open(QIODevice::ReadOnly));
    CArchive ar2(&file2, CArchive::load);
    ar2.ReadString(s, 3); // the maximum itself is allowed
    QCOMPARE(s, QByteArray("abc"));
}

void TestArchive::writeFailureThrowsAtFlush()
{
    RecordingDevice dev;
    dev.failAfter = 5000;
    QVERIFY(dev.open(QIODevice::WriteOnly));
    CArchive ar(&dev, CArchive::store);
    const QByteArray block(4000, 'x');
    ar.Write(block.constData(), int(block.size()));
    // The second buffer does not fit.
    try {
        ar.Write(block.constData(), int(block.size()));
        ar.Close();
        QFAIL("no exception");
    } catch (const CArchiveException& e) {
        QVERIFY2(e.Reason().contains(QLatin1String("disk full")), qPrintable(e.Reason()));
    }

    RecordingDevice dev2;
    dev2.failAfter = 0;
    QVERIFY(dev2.open(QIODevice::WriteOnly));
    CArchive ar2(&dev2, CArchive::store);
    ar2 << quint32(1); // only buffered
    QVERIFY_THROWS_EXCEPTION(CArchiveException, ar2.Close());

    QBuffer readOnly;
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    CArchive ar3(&readOnly, CArchive::store);
    ar3 << quint8(1);
    QVERIFY_THROWS_EXCEPTION(CArchiveException, ar3.Close());
}

void TestArchive::readFailureThrows()
{
    RecordingDevice dev;
    dev.data = "abcd";
    dev.failReads = true;
    QVERIFY(dev.open(QIODevice::ReadOnly));
    CArchive ar(&dev, CArchive::load);
    quint32 v;
    QVERIFY_THROWS_EXCEPTION(CArchiveException, ar >> v);

    CArchive none(nullptr, CArchive::load);
    QVERIFY_THROWS_EXCEPTION(CArchiveException, none >> v);
}

void TestArchive::wrongDirectionAndClosedThrow()
{
    QBuffer file;
    QVERIFY(file.open(QIODevice::ReadWrite));
    CArchive st(&file, CArchive::store);
    quint32 v;
    QVERIFY_THROWS_EXCEPTION(CArchiveException, st >> v);
    st << quint32(5);
    st.Close();
    QVERIFY_THROWS_EXCEPTION(CArchiveException, st << quint32(6));
    QCOMPARE(file.data().size(), 4);

    file.seek(0);
    CArchive ld(&file, CArchive::load);
    QVERIFY_THROWS_EXCEPTION(CArchiveException, ld << quint32(1));
    ld.Close();
    QVERIFY_THROWS_EXCEPTION(CArchiveException, ld >> v);
}

void TestArchive::atEnd()
{
    QByteArray content = QByteArray::fromHex("0100000002");
    QBuffer file(&content);
    QVERIFY(file.open(QIODevice::ReadOnly));
    CArchive ar(&file, CArchive::load);
    QVERIFY(!ar.AtEnd());
    quint32 v;
    ar >> v;
    QVERIFY(!ar.AtEnd());
    quint8 b;
    ar >> b;
    QVERIFY(ar.AtEnd());
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"

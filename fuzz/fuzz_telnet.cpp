// The Telnet client of rfc2217:// ports under arbitrary server bytes in
// arbitrary segments: fed whole, byte by byte or in the fuzzed pieces, the
// client gives the same data, the same replies and the same state; at every
// segment edge it has given what the bytes so far give and holds no more than
// it promises; data out never exceeds what came in; and its data, escaped
// again, passes a fresh client unchanged. Single-threaded.

#include "FuzzCheck.h"
#include "KrTelnet.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

struct CFed
{
    QByteArray data;
    QByteArray out;
    qsizetype nIn = 0;
};

void Feed(CKrTelnetClient& c, CFed& fed, const char* p, qsizetype n)
{
    c.Receive(p, n, &fed.data, &fed.out);
    fed.nIn += n;
    FUZZ_CHECK(c.BufferedBytes() >= 0 &&
               c.BufferedBytes() <= CKrTelnetClient::kMaxSubnegotiation + 3);
    FUZZ_CHECK(fed.data.size() + c.BufferedBytes() <= fed.nIn);
}

void CheckSameState(const CKrTelnetClient& a, const CKrTelnetClient& b)
{
    FUZZ_CHECK(a.ComPortState() == b.ComPortState());
    FUZZ_CHECK(a.IsSuspended() == b.IsSuspended());
    FUZZ_CHECK(a.LineState() == b.LineState());
    FUZZ_CHECK(a.ModemState() == b.ModemState());
    FUZZ_CHECK(a.AcknowledgedBaud() == b.AcknowledgedBaud());
    FUZZ_CHECK(a.AcknowledgedDataSize() == b.AcknowledgedDataSize());
    FUZZ_CHECK(a.AcknowledgedParity() == b.AcknowledgedParity());
    FUZZ_CHECK(a.AcknowledgedStopSize() == b.AcknowledgedStopSize());
    FUZZ_CHECK(a.AcknowledgedControl() == b.AcknowledgedControl());
    FUZZ_CHECK(a.ServerSignature() == b.ServerSignature());
    FUZZ_CHECK(a.BufferedBytes() == b.BufferedBytes());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzedDataProvider fdp(pData, nSize);
    CKrTelnetClient proto;
    if (fdp.ConsumeBool()) {
        // Line settings known before the connection go out once it is agreed.
        CKrCommConfig config;
        config.nBaud = fdp.ConsumeIntegralInRange<qint32>(1, std::numeric_limits<qint32>::max());
        config.nDataBits = fdp.ConsumeIntegralInRange(5, 8);
        config.parity = KrParity(fdp.ConsumeIntegralInRange(0, 4));
        config.stopBits = KrStopBits(fdp.ConsumeIntegralInRange(0, 2));
        config.flow = KrFlow(fdp.ConsumeIntegralInRange(0, 2));
        QByteArray none;
        proto.SetLineSettings(config, &none);
        FUZZ_CHECK(none.isEmpty());
    }
    proto.Start();

    // The fuzzed pieces; their lengths come from the end of the input.
    std::vector<qsizetype> edges;
    QByteArray stream;
    while (fdp.remaining_bytes() > 0) {
        const std::vector<char> piece = fdp.ConsumeBytes<char>(fdp.ConsumeIntegralInRange(0, 300));
        stream.append(piece.data(), qsizetype(piece.size()));
        edges.push_back(stream.size());
    }

    // Byte by byte, noting what is out and held after each byte.
    CKrTelnetClient bytewise = proto;
    CFed fedBytes;
    std::vector<qsizetype> nDataAt{0}, nOutAt{0}, nHeldAt{0};
    for (qsizetype i = 0; i < stream.size(); ++i) {
        Feed(bytewise, fedBytes, stream.constData() + i, 1);
        nDataAt.push_back(fedBytes.data.size());
        nOutAt.push_back(fedBytes.out.size());
        nHeldAt.push_back(bytewise.BufferedBytes());
    }

    // In the pieces: at each edge what is out is what the bytes so far give.
    CKrTelnetClient split = proto;
    CFed fedSplit;
    qsizetype nFrom = 0;
    for (qsizetype nEdge : edges) {
        Feed(split, fedSplit, stream.constData() + nFrom, nEdge - nFrom);
        nFrom = nEdge;
        FUZZ_CHECK(fedSplit.data.size() == nDataAt[size_t(nEdge)]);
        FUZZ_CHECK(fedSplit.out.size() == nOutAt[size_t(nEdge)]);
        FUZZ_CHECK(split.BufferedBytes() == nHeldAt[size_t(nEdge)]);
    }

    CKrTelnetClient whole = proto;
    CFed fedWhole;
    Feed(whole, fedWhole, stream.constData(), stream.size());

    FUZZ_CHECK(fedBytes.data == fedWhole.data && fedSplit.data == fedWhole.data);
    FUZZ_CHECK(fedBytes.out == fedWhole.out && fedSplit.out == fedWhole.out);
    CheckSameState(bytewise, whole);
    CheckSameState(split, whole);

    // Data is transparent: escaped again, a fresh client gives it back alone.
    QByteArray escaped;
    CKrTelnetClient::Escape(fedWhole.data.constData(), fedWhole.data.size(), &escaped);
    CKrTelnetClient fresh;
    fresh.Start();
    CFed fedFresh;
    Feed(fresh, fedFresh, escaped.constData(), escaped.size());
    FUZZ_CHECK(fedFresh.data == fedWhole.data);
    FUZZ_CHECK(fedFresh.out.isEmpty() && fresh.BufferedBytes() == 0);
    return 0;
}

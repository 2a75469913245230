// The settings file's port configuration read from arbitrary bytes: a load
// either throws and leaves the configuration as it was, or yields a valid
// configuration that stores as the very bytes it was read from (less DTR and
// RTS at open when they are on, which are not stored) and loads back equal,
// lines at open included. The archive's buffer size must not matter.
// Single-threaded.

#include "CArchive.h"
#include "CKrCommPort.h"
#include "FuzzCheck.h"

#include <QBuffer>

#include <cstdint>

namespace {

// The outcome of one load into `port`, which starts from `before`.
bool Load(CKrCommPort& port, const CKrCommConfig& before, const QByteArray& bytes, int nBufSize)
{
    port.SetConfig(before);
    QByteArray copy = bytes;
    QBuffer file(&copy);
    file.open(QIODevice::ReadOnly);
    try {
        CArchive ar(&file, CArchive::load, nBufSize);
        port.Serialize(ar);
        return true;
    } catch (const CArchiveException& e) {
        FUZZ_CHECK(!e.Reason().isEmpty());
        return false;
    }
}

QByteArray Store(CKrCommPort& port)
{
    QByteArray bytes;
    QBuffer file(&bytes);
    file.open(QIODevice::WriteOnly);
    CArchive ar(&file, CArchive::store, 7);
    port.Serialize(ar);
    ar.Close();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    // The ports never open, so their threads never start; they live for the
    // whole run.
    static CKrCommPort* const pPort = new CKrCommPort;
    static CKrCommPort* const pOther = new CKrCommPort;
    CKrCommConfig before;
    before.strPort = QStringLiteral("/dev/ttyS7");
    before.nBaud = 1234;

    const QByteArray bytes(reinterpret_cast<const char*>(pData), qsizetype(nSize));
    const bool bLoaded = Load(*pPort, before, bytes, 4096);
    const int nSmall = nSize ? 1 + pData[0] % 13 : 1;
    FUZZ_CHECK(Load(*pOther, before, bytes, nSmall) == bLoaded);
    FUZZ_CHECK(pOther->GetConfig() == pPort->GetConfig());
    if (!bLoaded) {
        FUZZ_CHECK(pPort->GetConfig() == before);
        return 0;
    }

    const CKrCommConfig loaded = pPort->GetConfig();
    FUZZ_CHECK(loaded.IsValid());
    const QByteArray stored = Store(*pPort);
    FUZZ_CHECK(bytes.startsWith(stored));
    FUZZ_CHECK(Load(*pOther, before, stored, nSmall));
    FUZZ_CHECK(pOther->GetConfig() == loaded);
    return 0;
}

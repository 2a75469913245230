// The settings file's port configuration read from arbitrary bytes: a load
// either throws and leaves the configuration as it was, or yields a valid
// configuration that loads back equal from what it stores, lines at open
// included. A record in the form that configuration is stored in (version 1
// with DTR and RTS on at open, stored without them; version 2, with its
// check value, for any other lines) stores as the very bytes it was read
// from; a version 1 record with the lines' tag stores as version 2. The
// archive's buffer size must not matter.
// Single-threaded.

#include "CArchive.h"
#include "CKrCommConfig.h"
#include "FuzzCheck.h"

#include <QBuffer>

#include <cstdint>

namespace {

// The outcome of one load into `config`, which starts from `before`.
bool Load(CKrCommConfig& config, const CKrCommConfig& before, const QByteArray& bytes, int nBufSize)
{
    config = before;
    QByteArray copy = bytes;
    QBuffer file(&copy);
    file.open(QIODevice::ReadOnly);
    try {
        CArchive ar(&file, CArchive::load, nBufSize);
        SerializeConfig(ar, config);
        return true;
    } catch (const CArchiveException& e) {
        FUZZ_CHECK(!e.Reason().isEmpty());
        return false;
    }
}

QByteArray Store(CKrCommConfig& config)
{
    QByteArray bytes;
    QBuffer file(&bytes);
    file.open(QIODevice::WriteOnly);
    CArchive ar(&file, CArchive::store, 7);
    SerializeConfig(ar, config);
    ar.Close();
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CKrCommConfig config;
    CKrCommConfig other;
    CKrCommConfig before;
    before.strPort = QStringLiteral("/dev/ttyS7");
    before.nBaud = 1234;

    const QByteArray bytes(reinterpret_cast<const char*>(pData), qsizetype(nSize));
    const bool bLoaded = Load(config, before, bytes, 4096);
    const int nSmall = nSize ? 1 + pData[0] % 13 : 1;
    FUZZ_CHECK(Load(other, before, bytes, nSmall) == bLoaded);
    FUZZ_CHECK(other == config);
    if (!bLoaded) {
        FUZZ_CHECK(config == before);
        return 0;
    }

    const CKrCommConfig loaded = config;
    FUZZ_CHECK(loaded.IsValid());
    const QByteArray stored = Store(config);
    // The version field, after the magic, says the form.
    FUZZ_CHECK(bytes.startsWith(stored) || bytes.mid(4, 4) != stored.mid(4, 4));
    FUZZ_CHECK(Load(other, before, stored, nSmall));
    FUZZ_CHECK(other == loaded);
    return 0;
}

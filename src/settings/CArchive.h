#pragma once
// A one-operation archive over an open file: in store mode it collects what is
// written and hands it to the file in 4096-byte pieces; in load mode it reads
// through a 4096-byte buffer. Every failure throws CArchiveException.
// The thread of its one operation (the user-interface thread for the settings file).

#include <QByteArray>
#include <QString>
#include <stdexcept>

class QIODevice;

class CArchiveException : public std::runtime_error
{
public:
    explicit CArchiveException(const QString& reason)
        : std::runtime_error(reason.toStdString()), m_strReason(reason)
    {
    }
    QString Reason() const { return m_strReason; }

private:
    QString m_strReason;
};

class CArchive
{
public:
    enum Mode
    {
        store = 0,
        load = 1
    };

    CArchive(QIODevice* pFile, Mode nMode, int nBufSize = 4096);
    ~CArchive(); // does not flush: a store must end with Close()

    bool IsStoring() const { return m_nMode == store; }
    bool IsLoading() const { return m_nMode == load; }

    void Write(const void* pBuf, int nCount);
    // Reads exactly nCount bytes; throws at the end of the file.
    void Read(void* pBuf, int nCount);
    // Copies up to the next nMax bytes without reading past them (the next
    // Read still starts there); fewer only at the end of the file. Returns
    // how many.
    int Peek(void* pBuf, int nMax);

    // Little-endian fixed-size values and length-prefixed byte strings.
    CArchive& operator<<(quint32 v);
    CArchive& operator<<(qint32 v);
    CArchive& operator<<(quint8 v);
    CArchive& operator<<(const QByteArray& s);
    CArchive& operator>>(quint32& v);
    CArchive& operator>>(qint32& v);
    CArchive& operator>>(quint8& v);
    // A string is at most nMax bytes long; a longer length throws.
    void ReadString(QByteArray& s, int nMax);

    // True when a loading archive has consumed every byte of its file.
    bool AtEnd();

    // Writes out what a storing archive still holds; throws on failure.
    void Close();

private:
    void FlushStore();
    void FillLoad();

    QIODevice* m_pFile;
    Mode m_nMode;
    int m_nBufSize;
    QByteArray m_buf;
    int m_nPos = 0;
    bool m_bClosed = false;
};

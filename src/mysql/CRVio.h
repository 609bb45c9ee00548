#pragma once
// TCRVio: the byte endpoint under the MySQL packet layer. It owns the
// 16 KiB read-ahead buffer and the retry rules of reads and writes; a
// subclass supplies one receive call, one send call, connect and close
// (TCRVioTcp on the platform socket; an in-memory endpoint in tests).
//
// Read and Write never raise for a failed transfer: they return how many
// bytes moved, and LastError says why the rest did not ("" after an orderly
// close by the peer). The packet layer turns a short transfer into its own
// error. LastError is cleared at the start of every Read and Write.

#include <QString>

#include <QtGlobal>

namespace velkaro {

class TCRVio {
public:
    static constexpr qsizetype ReadAheadSize = 16384;
    // Reads shorter than this are served from the read-ahead buffer.
    static constexpr qsizetype SmallReadLimit = 2048;
    // The pause after a receive that brought nothing and between send retries.
    static constexpr int RetryPauseMs = 10;
    // A send that writes nothing is tried again; the third such failure in one
    // Write ends it.
    static constexpr int WriteAttempts = 3;

    TCRVio();
    virtual ~TCRVio();
    TCRVio(const TCRVio&) = delete;
    TCRVio& operator=(const TCRVio&) = delete;

    // Seconds; 0 means no limit.
    virtual int GetTimeout() const = 0;
    virtual void SetTimeout(int seconds) = 0;
    // Opens the endpoint. Raises EMyError on failure (code and LastError say
    // what failed); a failed Connect leaves the endpoint closed.
    virtual void Connect() = 0;
    // Shuts the endpoint down; closing a closed endpoint does nothing.
    virtual void Close() = 0;
    // One receive call: up to Count bytes into Buffer. 0 when nothing came
    // (peer closed, timed out, failed; LastError set for a failure).
    virtual qsizetype ReadNoWait(char* buffer, qsizetype count) = 0;
    // One send call: how many bytes went out (0 on failure, LastError set).
    virtual qsizetype WriteNoWait(const char* buffer, qsizetype count) = 0;
    // Waits until bytes can be read, at most TimeoutMs (-1: no limit).
    // Returns whether there are. An endpoint failure raises EMyError 2006.
    virtual bool WaitForData(int timeoutMs) = 0;
    // The system handle, -1 when closed.
    virtual qintptr GetSocket() const = 0;

    // Reads Count bytes: first what the read-ahead buffer holds; a read of
    // fewer than SmallReadLimit bytes refills it with one receive; larger
    // rests are received straight into Buffer. A receive that brings nothing
    // ends the read after a short pause. Returns the bytes read.
    virtual qsizetype Read(char* buffer, qsizetype count);
    // Sends Count bytes, retrying a send that wrote nothing twice. Returns
    // the bytes sent.
    virtual qsizetype Write(const char* buffer, qsizetype count);

    const QString& LastError() const { return lastError_; }

protected:
    // Empties the read-ahead buffer (every connect starts with an empty one).
    void ResetReadAhead();
    // The retry pause; an in-memory endpoint need not wait.
    virtual void Pause(int milliseconds);

    QString lastError_;

private:
    char* readAhead_ = nullptr;
    qsizetype aheadLength_ = 0;
    qsizetype aheadPosition_ = 0;
};

} // namespace velkaro

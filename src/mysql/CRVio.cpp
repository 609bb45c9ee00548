#include "mysql/CRVio.h"

#include <QThread>

#include <algorithm>
#include <cstring>

namespace velkaro {

TCRVio::TCRVio()
    : readAhead_(new char[ReadAheadSize])
{
}

TCRVio::~TCRVio()
{
    delete[] readAhead_;
}

void TCRVio::ResetReadAhead()
{
    aheadLength_ = 0;
    aheadPosition_ = 0;
}

void TCRVio::Pause(int milliseconds)
{
    QThread::msleep(milliseconds);
}

qsizetype TCRVio::Read(char* buffer, qsizetype count)
{
    lastError_.clear();
    qsizetype done = 0;
    for (;;) {
        const qsizetype waiting = std::min(aheadLength_ - aheadPosition_, count - done);
        if (waiting > 0) {
            std::memcpy(buffer + done, readAhead_ + aheadPosition_, waiting);
            aheadPosition_ += waiting;
            done += waiting;
        }
        if (aheadPosition_ == aheadLength_)
            ResetReadAhead();
        if (done == count)
            return done;
        if (count - done >= SmallReadLimit)
            break;
        const qsizetype got = ReadNoWait(readAhead_, ReadAheadSize);
        if (got <= 0) {
            Pause(RetryPauseMs);
            return done;
        }
        aheadLength_ = got;
    }
    while (done < count) {
        const qsizetype got = ReadNoWait(buffer + done, count - done);
        if (got <= 0) {
            Pause(RetryPauseMs);
            break;
        }
        done += got;
    }
    return done;
}

qsizetype TCRVio::Write(const char* buffer, qsizetype count)
{
    lastError_.clear();
    qsizetype done = 0;
    int failures = 0;
    while (done < count) {
        const qsizetype sent = WriteNoWait(buffer + done, count - done);
        if (sent > 0) {
            done += sent;
            continue;
        }
        if (++failures >= WriteAttempts)
            break;
        Pause(RetryPauseMs);
    }
    return done;
}

} // namespace velkaro

#include "platform/FileHandle.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

#include <algorithm>

namespace velkaro::platform {

namespace {

class SystemHandleWriter : public HandleWriter {
public:
    qint64 Write(FileHandle handle, const void* data, qint64 count) override
    {
        const char* p = static_cast<const char*>(data);
        qint64 done = 0;
        while (done < count) {
#ifdef _WIN32
            const DWORD chunk = DWORD(std::min<qint64>(count - done, 0x40000000));
            DWORD written = 0;
            if (!::WriteFile(handle, p + done, chunk, &written, nullptr) || written == 0)
                break;
#else
            const ssize_t written = ::write(handle, p + done, size_t(std::min<qint64>(count - done, 0x40000000)));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                break;
#endif
            done += qint64(written);
        }
        return done;
    }
};

HandleWriter*& installed()
{
    static HandleWriter* writer = nullptr;
    return writer;
}

} // namespace

HandleWriter& HandleWriters()
{
    static SystemHandleWriter real;
    return installed() != nullptr ? *installed() : real;
}

void SetHandleWriter(HandleWriter* writer)
{
    installed() = writer;
}

} // namespace velkaro::platform

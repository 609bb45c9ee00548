// The MySQL client's readers against any server: the fuzzer's bytes are what
// the server sends (greeting, login reply, then the answers to a few
// statements). Whatever the bytes, the session either works or raises one of
// the system's errors; it never reads out of bounds, allocates what a length
// merely claims, or loops.
#include "core/Exceptions.h"
#include "mysql/CRVio.h"
#include "mysql/MySqlSession.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstring>

namespace {

using namespace velkaro;

// Serves the input as the server's bytes; takes every write.
class FuzzVio : public TCRVio {
public:
    FuzzVio(const unsigned char* data, size_t size)
        : data_(reinterpret_cast<const char*>(data))
        , size_(qsizetype(size))
    {
    }
    int GetTimeout() const override { return 0; }
    void SetTimeout(int) override { }
    void Connect() override { open_ = true; }
    void Close() override { open_ = false; }
    qsizetype ReadNoWait(char* buffer, qsizetype count) override
    {
        // Small pieces, so that the reads that span them are exercised too.
        const qsizetype n = open_ ? std::min({count, size_ - pos_, qsizetype(7919)}) : 0;
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return n;
    }
    qsizetype WriteNoWait(const char*, qsizetype count) override { return open_ ? count : 0; }
    bool WaitForData(int) override { return pos_ < size_; }
    qintptr GetSocket() const override { return open_ ? 1 : -1; }

protected:
    void Pause(int) override { }

private:
    const char* data_;
    qsizetype size_;
    qsizetype pos_ = 0;
    bool open_ = false;
};

const char* const Statements[] = {
    "Select * From tbVersionControl",
    "LOAD DATA LOCAL INFILE '/nonexistent/velkaro-fuzz' INTO TABLE t",
    "SELECT 1; SELECT 2",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    TMySqlSession session;
    session.SetVioFactory([&](const QByteArray&, int) { return std::make_unique<FuzzVio>(data, size); });
    session.SetCharsetName("utf8");
    try {
        session.Connect("fuzz", "sa", "plovexirquan", "VelkaroDB", 0,
            CLIENT_FOUND_ROWS | CLIENT_MULTI_STATEMENTS | CLIENT_COMPRESS);
    } catch (const Exception&) {
        return 0;
    }
    for (const char* sql : Statements) {
        if (session.Closed())
            break;
        try {
            session.Query(QString::fromLatin1(sql), TextCoding::Utf8);
            quint64 columns = session.ReadQueryResult();
            for (int result = 0; result < 4; ++result) {
                if (columns > 0) {
                    TMySqlResultSet* rows = session.UseResult();
                    // Every other result is drained unread.
                    for (int n = 0; result % 2 == 0 && n < 100 && rows->Fetch(); ++n) {
                        volatile char sink = 0;
                        for (int i = 0; i < rows->FieldCount(); ++i)
                            if (!rows->IsNull(i) && rows->Length(i) > 0)
                                sink = sink + rows->Value(i).back();
                    }
                    session.FreeResult();
                }
                if (!session.MoreResults())
                    break;
                columns = session.NextResult();
            }
        } catch (const Exception&) {
            if (!session.Closed() && session.Status() != msReady)
                session.FreeResult();
        }
    }
    return 0;
}

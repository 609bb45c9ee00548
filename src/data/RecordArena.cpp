#include "data/RecordArena_p.h"

#include <algorithm>
#include <cstring>

namespace velkaro {

void RecordArena::Clear()
{
    chunks_.clear();
    adopted_.clear();
    free_ = end_ = nullptr;
    used_ = live_ = 0;
}

void RecordArena::Adopt(QByteArray bytes, qsizetype liveBytes)
{
    used_ += bytes.size();
    live_ += liveBytes;
    adopted_.push_back(std::move(bytes));
}

QByteArrayView RecordArena::Store(QByteArrayView record)
{
    const qsizetype n = record.size();
    if (n == 0)
        return {};
    if (end_ - free_ < n) {
        // A record larger than a chunk gets one of its own.
        const qsizetype size = std::max(ChunkSize, n);
        // Not value-initialised: pages are touched only as records fill them.
        chunks_.push_back({std::unique_ptr<char[]>(new char[size_t(size)]), 0});
        free_ = chunks_.back().bytes.get();
        end_ = free_ + size;
    }
    char* at = free_;
    std::memcpy(at, record.data(), size_t(n));
    free_ += n;
    chunks_.back().used += n;
    used_ += n;
    live_ += n;
    return QByteArrayView(at, n);
}

bool RecordArena::WorthCompacting() const
{
    const qsizetype dead = used_ - live_;
    return dead > live_ && dead > ChunkSize;
}

void RecordArena::Compact(std::vector<QByteArrayView>& records)
{
    RecordArena fresh;
    for (QByteArrayView& r : records)
        r = fresh.Store(r);
    std::swap(chunks_, fresh.chunks_);
    adopted_.clear();
    free_ = fresh.free_;
    end_ = fresh.end_;
    used_ = fresh.used_;
    live_ = fresh.live_;
}

} // namespace velkaro

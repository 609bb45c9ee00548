#pragma once
// Where a table's records live: a few large chunks that records are copied
// into one after another, plus the bytes of a decoded file or packet that
// its records point into. A table of a million rows holds a few hundred
// chunks instead of a million allocations. Private to the data folder.
//
// Records are views; they stay valid until Clear or Compact. A record that
// is replaced or deleted leaves its bytes behind until Compact moves the
// live records into fresh chunks, which the owner does once more than half
// of the bytes are dead.

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <vector>

namespace velkaro {

class RecordArena {
public:
    RecordArena() = default;
    RecordArena(const RecordArena&) = delete;
    RecordArena& operator=(const RecordArena&) = delete;

    void Clear();
    // Keeps bytes that records point into (shared, never written).
    void Adopt(QByteArray bytes, qsizetype liveBytes);

    // A finished record copied in.
    QByteArrayView Store(QByteArrayView record);
    // A stored record no longer used.
    void Release(QByteArrayView record) { live_ -= record.size(); }

    // Whether dead bytes outweigh the live ones (and are worth moving for).
    bool WorthCompacting() const;
    // Moves the given records (all the live ones) into fresh chunks and
    // updates the views.
    void Compact(std::vector<QByteArrayView>& records);

    // The records stored so far, in the order they were stored, appended to
    // Out: for a table that was only appended to, whose rows need no index
    // of their own while they arrive (so the index is made once, at its
    // final size). RecordSize tells where each record ends.
    template <typename RecordSize> void Collect(std::vector<QByteArrayView>& out, RecordSize recordSize) const
    {
        for (const Chunk& chunk : chunks_) {
            const char* p = chunk.bytes.get();
            const char* end = p + chunk.used;
            while (p < end) {
                const qsizetype n = recordSize(QByteArrayView(p, end - p));
                out.emplace_back(p, n);
                p += n;
            }
        }
    }

private:
    static constexpr qsizetype ChunkSize = 256 * 1024;

    struct Chunk {
        std::unique_ptr<char[]> bytes;
        qsizetype used = 0;
    };
    std::vector<Chunk> chunks_;
    std::vector<QByteArray> adopted_;
    char* free_ = nullptr; // next free byte of the current chunk
    char* end_ = nullptr;
    qsizetype used_ = 0; // bytes of finished records, dead or alive
    qsizetype live_ = 0;
};

} // namespace velkaro

#pragma once
// Unit Streamer: moves raw bytes between files, streams and variant byte
// arrays. A byte array built here is one-dimensional, element type byte,
// lower bound 0, and holds the bytes with no header; an array read here may
// have any lower bound, and its element count is the byte count. Reading a
// by-reference variant follows the reference.
//
// Arguments that are not a one-dimensional byte array raise EVariantError
// before any file or stream is touched. Files and streams hold at most
// 2,147,483,647 bytes here. The operations keep no state, so they may run on
// any thread as long as each stream, file and variant is used by one thread
// at a time.

#include "core/Persistent.h"
#include "core/Streams.h"
#include "core/Variant.h"
#include "platform/FileHandle.h"

#include <QObject>
#include <QString>

#include <memory>

namespace velkaro {

class TStreamer : public TPersistent {
public:
    // The owner is accepted for the classic signature and ignored.
    explicit TStreamer(QObject* owner = nullptr);

    // The whole file as a byte array. A missing or unreadable file raises
    // EFOpenError; a file above the size limit raises EStreamError before
    // anything is read; a short read raises EReadError.
    Variant FileToVariant(const QString& fileName);

    // Replaces the file with exactly the array's bytes. The new content goes
    // to a temporary file in the same folder that is flushed and then
    // renamed over the old one, so a failed or short write (a full disk, a
    // crash) leaves the previous file whole. A file that cannot be created
    // raises EFCreateError "Cannot create file "%s". %s"; a failed write
    // raises EWriteError.
    void VariantToFile(const QString& fileName, const Variant& aVariant);

    // The whole stream, from its start, as a byte array; the stream ends at
    // its end. A short read raises EReadError.
    Variant MemoryStreamToOleVariant(TStream& strm);

    // A new memory stream holding the array's bytes, positioned at its end;
    // no stream (null) when anything fails, for instance when OV is not a
    // byte array. Raises nothing.
    std::unique_ptr<TMemoryStream> OleVariantToMemoryStream(const Variant& ov);

    // Makes the stream hold exactly the array's bytes, positioned at 0.
    void OleVariantToStream(const Variant& v, TStream& stream);
    // The whole stream into V as a byte array; the stream ends at its end.
    void StreamToOleVariant(TStream& stream, Variant& v);
    // As OleVariantToStream and StreamToOleVariant: the system has one
    // variant type for both kinds.
    void VariantToStream(const Variant& v, TStream& stream);
    void StreamToVariant(TStream& stream, Variant& v);

    // Writes the bytes from the stream's position to its end to a handle
    // opened elsewhere, in blocks of at most 8192 bytes through one buffer.
    // The handle is neither opened nor closed. A short read raises
    // EReadError, a refused write EWriteError.
    void StreamToFile(TStream& stm, platform::FileHandle f);

    // True when both streams have the same size and bytes. Different sizes
    // answer false without reading; otherwise both are read from their
    // start in blocks of 4096 and left where the reading stopped.
    bool StreamEqual(TStream& source, TStream& dest);

    // The compression switch of the blob and component conversions.
    bool FCompressed = false;
};

extern TStreamer* Convert;

// Create and free the global instance Convert (program start and end).
void InitializeStreamer();
void FinalizeStreamer();

} // namespace velkaro

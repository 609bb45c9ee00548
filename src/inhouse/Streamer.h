#pragma once
// Unit Streamer: moves raw bytes between files, streams and variant byte
// arrays, and carries blob fields, components, collections, pictures and
// fonts through them. A byte array built here is one-dimensional, element
// type byte, lower bound 0, and holds the bytes with no header; an array read
// here may have any lower bound, and its element count is the byte count.
// Reading a by-reference variant follows the reference.
//
// Arguments that are not a one-dimensional byte array raise EVariantError
// before any file or stream is touched. Files and streams hold at most
// 2,147,483,647 bytes here. Every file this unit writes is replaced as a
// whole (a temporary file renamed over the old one), so a failure leaves the
// previous file whole. The operations keep no state, so they may run on any
// thread as long as each stream, file, field, picture, font, component and
// variant is used by one thread at a time.

#include "core/Persistent.h"
#include "core/Streams.h"
#include "core/Variant.h"
#include "platform/FileHandle.h"

#include <QObject>
#include <QString>

#include <memory>

namespace velkaro {

class TBitmap;
class TCollection;
class TDataSet;
class TField;
class TJPEGImage;
struct TFont;

class TStreamer : public TPersistent {
public:
    // The owner is accepted for the classic signature and ignored. Creating
    // a streamer adds the GUI property types (fonts, colours, palettes) to
    // the component streams.
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
    // raises EWriteError "Stream write error: " and the system's reason
    // ("Stream write error: No space left on device").
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

    // ---- Blob fields ----------------------------------------------------
    //
    // A blob field is a field of kind ftBlob (bytes), ftMemo (8-bit text in
    // the regional code page) or ftWideMemo (UTF-16 text). A field's bytes
    // are what TField::AsBytes gives: a blob's bytes, a memo's code-page
    // bytes, a wide memo's text in UTF-8; any other field's value as text.

    static bool IsBlobField(const TField& field);

    // Writes the field's bytes to the stream at its position (nothing for an
    // empty or null field), then moves the stream to its start. False when
    // the field or the stream is absent or anything fails; raises nothing.
    bool LoadFromBlob(TField* AField, TStream* Stream);
    // Stores the whole stream, from its start, as the field's value. True
    // only when the field then holds exactly those bytes: false when the
    // field or the stream is absent, the field's table is not in edit or
    // insert mode, or the field cannot hold them as they are (a text field
    // too short, a wide memo given bytes that are not UTF-8, ...); the field
    // keeps its value then. Raises nothing.
    bool SaveToBlob(TStream* Stream, TField* AField);
    // The file's bytes into the named field of the table (SaveToBlob's
    // result). A file that cannot be opened raises EFOpenError, a name the
    // table lacks "<table>: Field '<name>' not found".
    bool FileToBlob(TDataSet& DataSet, const QString& FieldName, const QString& FileName);
    // The named field's bytes into the file, replacing it as a whole. A
    // file that cannot be created raises EFCreateError, a name the table
    // lacks "Field '<name>' not found"; both leave an existing file as it
    // was. False (the file untouched) when LoadFromBlob fails or the bytes
    // cannot be written.
    bool BlobToFile(TDataSet& DataSet, const QString& FieldName, const QString& FileName);
    // The named field's bytes as a byte array when it is a blob field
    // (empty: bounds 0 and -1); Null for any other field.
    Variant BlobFieldToOleVariant(TDataSet& DataSet, const QString& FieldName);

    // Compression of blobs is not provided: both do nothing and answer false.
    bool SaveToBlobCompress(TStream* Stream, TField* AField);
    bool LoadFromBlobCompress(TField* AField, TStream* Stream);

    // The compression switch: true from construction, changed only here; no
    // operation consults it.
    void SetCompressed(bool Value) { FCompressed = Value; }
    bool FCompressed = true;

    // ---- Components (docs/component-streaming.md) -------------------------

    // The component's text form.
    QString ComponentToString(const QObject& Component);
    // The component's binary form as a byte array.
    Variant ComponentToVariant(const QObject& AComponent);
    // A new component, owned by the caller, from a byte array of the binary
    // form. Its class must be registered (RegisterClass): "Class %s not
    // found" otherwise; a damaged stream raises "Invalid stream format" or
    // the more specific error listed in core/ComponentStreaming.h.
    std::unique_ptr<QObject> VariantToComponent(const Variant& AValue);

    // ---- Collections ---------------------------------------------------------

    // Reads a collection from the stream's position (the rest of the stream
    // is read in blocks of 4096 bytes) and leaves the stream just after it. The first value must be
    // the collection marker ("Invalid property value" otherwise). Stored
    // items replace the collection's; an empty stored collection leaves it
    // as it is. On an error the collection and the stream's position are
    // unchanged.
    void LoadCollectionFromStream(TStream& Stream, TCollection& Collection);
    // As LoadCollectionFromStream, from the whole file (EFOpenError when it
    // cannot be opened).
    void LoadCollectionFromFile(const QString& FileName, TCollection& Collection);
    // Writes the collection at the stream's position in blocks of at most
    // 4096 bytes (EWriteError on a short write).
    void SaveCollectionToStream(const TCollection& Collection, TStream& Stream);
    // Replaces the file with the collection (EFCreateError, EWriteError
    // with the system's reason, as VariantToFile).
    void SaveCollectionToFile(const TCollection& Collection, const QString& FileName);

    // ---- Pictures (inhouse/Graphics.h, inhouse/JpegImage.h) -----------------

    // The JPEG object takes over the bitmap's picture and saves itself with
    // its own compression quality; AVariant receives the JPEG file bytes.
    void JPEGToVariant(const TBitmap& aBmp, TJPEGImage& aJPEG, Variant& aVariant);
    // Loads the JPEG object from the array's bytes (EInvalidGraphic for
    // bytes that are not a JPEG picture; the object keeps its picture then).
    void VariantToJPEG(const Variant& aValue, TJPEGImage& aJPEG);
    // AVariant receives the bitmap file bytes of the picture.
    void BMPToVariant(const TBitmap& aBmp, Variant& aVariant);
    // Loads the bitmap from the array's bytes (EInvalidGraphic for bytes that
    // are not a bitmap file; the bitmap keeps its picture then).
    void VariantToBMP(const Variant& aValue, TBitmap& aBmp);

    // ---- Fonts ---------------------------------------------------------------
    //
    // The font record: the 32-bit size 92, the colour (32 bits), then the
    // 92-byte Windows font description (LOGFONTW) of the font, little-endian:
    // height (negative: the character height in pixels at 96 dpi), width,
    // escapement, orientation, weight (400 normal, 700 bold), italic,
    // underline, strike-out, character set, output precision, clip precision,
    // quality, pitch and family, and the face name in 32 UTF-16 code units
    // (at most 31, then NUL-padded). A record of size 0 is 4 bytes long and
    // carries no font. Qt fonts have no width or rotation: those fields are
    // written as 0 and ignored when read. Reading maps a positive height (a
    // cell height) to the pixel size as well, weight 0 to normal, the pitch
    // to fixed or variable pitch, the family to Qt's style hint, and the
    // quality to antialiasing; writing maps them back. The font's own Charset
    // and Color travel as they are.

    // Writes the 100-byte record at the stream's position. A short write
    // raises EWriteError "Stream write error".
    void FontToStream(TStream& s, const TFont& font);
    // Reads a record at the stream's position. A size other than 92 leaves
    // the font unchanged (4 bytes read); a stream that ends inside the record
    // raises EReadError "Stream read error" and leaves the font unchanged.
    void StreamToFont(TStream& s, TFont& font);
};

extern TStreamer* Convert;

// Create and free the global instance Convert (program start and end).
void InitializeStreamer();
void FinalizeStreamer();

} // namespace velkaro

#include "inhouse/Streamer.h"

#include "core/Bytes.h"
#include "core/Collection.h"
#include "core/ComponentStreaming.h"
#include "core/Exceptions.h"
#include "data/DataSet.h"
#include "data/Field.h"
#include "inhouse/Graphics.h"
#include "inhouse/GuiPropertyTypes.h"
#include "inhouse/JpegImage.h"
#include "platform/AtomicFile.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace velkaro {

TStreamer* Convert = nullptr;

namespace {

constexpr qint64 MaxBytes = 2147483647;

// The bytes of a one-dimensional byte array of any lower bound, following a
// by-reference variant. The QByteArray shares the array's storage.
QByteArray arrayBytes(const Variant& v)
{
    if (v.IsByRef())
        return v.Deref().ByteArrayData();
    return v.ByteArrayData();
}

// Reads the whole stream from its start straight into the memory of a new
// byte array: the only copy the data goes through.
Variant readWholeStream(TStream& stream)
{
    const qint64 n = stream.Size();
    if (n > MaxBytes)
        throw EStreamError(
            QStringLiteral("A stream of %1 bytes does not fit a byte array (at most %2 bytes)").arg(n).arg(MaxBytes));
    QByteArray bytes(qsizetype(n), Qt::Uninitialized);
    stream.SetPosition(0);
    stream.ReadBuffer(bytes.data(), n);
    return Variant::FromBytes(std::move(bytes));
}

enum class ReplaceFailure { Raise, Report };

// Replaces the file with the bytes through a temporary file. A file that
// cannot be created, or a target that cannot be replaced, raises
// EFCreateError; a failed write raises EWriteError "Stream write error: "
// with the system's reason, or answers false when the caller reports by its
// result.
bool replaceFile(const QString& fileName, QByteArrayView bytes, ReplaceFailure onWriteFailure)
{
    platform::AtomicFile file(fileName);
    if (!file.Open())
        throw EFCreateError(QString::fromLatin1(msg::FCreateError).arg(FullFileName(fileName), file.ErrorString()));
    if (file.Write(bytes.data(), bytes.size()) && file.Commit())
        return true;
    if (file.RenameFailed())
        throw EFCreateError(QString::fromLatin1(msg::FCreateError).arg(FullFileName(fileName), file.ErrorString()));
    if (onWriteFailure == ReplaceFailure::Report)
        return false;
    QString message = QString::fromLatin1(msg::WriteError);
    if (!file.ErrorString().isEmpty())
        message += QStringLiteral(": ") + file.ErrorString();
    throw EWriteError(message);
}

} // namespace

TStreamer::TStreamer(QObject* /*owner*/)
{
    RegisterGuiPropertyTypes();
}

Variant TStreamer::FileToVariant(const QString& fileName)
{
    TFileStream file(fileName, FileOpenMode::Read);
    const qint64 n = file.Size();
    if (n > MaxBytes)
        throw EStreamError(QStringLiteral("File \"%1\" is too large: %2 bytes, a byte array holds at most %3")
                               .arg(FullFileName(fileName), QString::number(n), QString::number(MaxBytes)));
    return readWholeStream(file);
}

void TStreamer::VariantToFile(const QString& fileName, const Variant& aVariant)
{
    // Examine the argument first: a wrong one must not cost the old file.
    const QByteArray bytes = arrayBytes(aVariant);
    replaceFile(fileName, bytes, ReplaceFailure::Raise);
}

Variant TStreamer::MemoryStreamToOleVariant(TStream& strm)
{
    return readWholeStream(strm);
}

std::unique_ptr<TMemoryStream> TStreamer::OleVariantToMemoryStream(const Variant& ov)
{
    try {
        const QByteArray bytes = arrayBytes(ov);
        auto stream = std::make_unique<TMemoryStream>();
        stream->SetPosition(0);
        stream->WriteBuffer(bytes.constData(), bytes.size());
        return stream;
    } catch (const std::exception&) {
        return nullptr;
    }
}

void TStreamer::OleVariantToStream(const Variant& v, TStream& stream)
{
    const QByteArray bytes = arrayBytes(v);
    stream.SetPosition(0);
    stream.SetSize(bytes.size());
    stream.WriteBuffer(bytes.constData(), bytes.size());
    stream.SetPosition(0);
}

void TStreamer::StreamToOleVariant(TStream& stream, Variant& v)
{
    v = readWholeStream(stream);
}

void TStreamer::VariantToStream(const Variant& v, TStream& stream)
{
    OleVariantToStream(v, stream);
}

void TStreamer::StreamToVariant(TStream& stream, Variant& v)
{
    v = readWholeStream(stream);
}

void TStreamer::StreamToFile(TStream& stm, platform::FileHandle f)
{
    std::array<char, 8192> buffer;
    const qint64 size = stm.Size();
    for (qint64 position = stm.Position(); position < size;) {
        const qint64 k = std::min<qint64>(size - position, qint64(buffer.size()));
        stm.ReadBuffer(buffer.data(), k);
        if (platform::HandleWriters().Write(f, buffer.data(), k) != k)
            throw EWriteError(QString::fromLatin1(msg::WriteError));
        position += k;
    }
}

bool TStreamer::StreamEqual(TStream& source, TStream& dest)
{
    if (source.Size() != dest.Size())
        return false;
    source.SetPosition(0);
    dest.SetPosition(0);
    std::array<char, 4096> a;
    std::array<char, 4096> b;
    for (;;) {
        const qint64 c = source.Read(a.data(), qint64(a.size()));
        const qint64 d = dest.Read(b.data(), qint64(b.size()));
        if (c != d)
            return false;
        if (c <= 0)
            return true;
        if (std::memcmp(a.data(), b.data(), size_t(c)) != 0)
            return false;
    }
}

// ---- Blob fields -----------------------------------------------------------

bool TStreamer::IsBlobField(const TField& field)
{
    const TFieldType type = field.DataType();
    return type == TFieldType::ftBlob || type == TFieldType::ftMemo || type == TFieldType::ftWideMemo;
}

bool TStreamer::LoadFromBlob(TField* AField, TStream* Stream)
{
    if (AField == nullptr || Stream == nullptr)
        return false;
    try {
        const QByteArray bytes = AField->AsBytes();
        Stream->WriteBuffer(bytes.constData(), bytes.size());
        Stream->SetPosition(0);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TStreamer::SaveToBlob(TStream* Stream, TField* AField)
{
    if (AField == nullptr || Stream == nullptr)
        return false;
    try {
        Stream->SetPosition(0);
        const qint64 n = Stream->Size();
        if (n > MaxBytes)
            return false;
        QByteArray bytes(qsizetype(n), Qt::Uninitialized);
        Stream->ReadBuffer(bytes.data(), n);

        // A field that cannot hold the bytes as they are (cut to its width,
        // decoded, converted) would lose data: it keeps its value instead.
        const bool wasNull = AField->IsNull();
        const Variant oldValue = AField->Value();
        const QByteArray oldBytes = AField->AsBytes();
        AField->SetAsBytes(bytes);
        if (AField->AsBytes() == bytes)
            return true;
        if (wasNull)
            AField->Clear();
        else if (AField->DataType() == TFieldType::ftString || AField->DataType() == TFieldType::ftMemo)
            AField->SetAsBytes(oldBytes); // 8-bit text: its bytes, not their decoding
        else
            AField->SetValue(oldValue);
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

bool TStreamer::FileToBlob(TDataSet& DataSet, const QString& FieldName, const QString& FileName)
{
    TFileStream file(FileName, FileOpenMode::Read);
    TField* field = DataSet.FieldByName(FieldName);
    return SaveToBlob(&file, field);
}

bool TStreamer::BlobToFile(TDataSet& DataSet, const QString& FieldName, const QString& FileName)
{
    TField* field = DataSet.FieldByName(FieldName);
    TMemoryStream bytes;
    if (!LoadFromBlob(field, &bytes))
        return false;
    return replaceFile(FileName, bytes.Bytes(), ReplaceFailure::Report);
}

Variant TStreamer::BlobFieldToOleVariant(TDataSet& DataSet, const QString& FieldName)
{
    const TField* field = DataSet.FieldByName(FieldName);
    if (!IsBlobField(*field))
        return Variant::Null();
    return Variant::FromBytes(field->AsBytes());
}

bool TStreamer::SaveToBlobCompress(TStream* /*Stream*/, TField* /*AField*/)
{
    return false;
}

bool TStreamer::LoadFromBlobCompress(TField* /*AField*/, TStream* /*Stream*/)
{
    return false;
}

// ---- Components --------------------------------------------------------------

QString TStreamer::ComponentToString(const QObject& Component)
{
    return ObjectBinaryToText(ComponentToBinary(Component));
}

Variant TStreamer::ComponentToVariant(const QObject& AComponent)
{
    return Variant::FromBytes(ComponentToBinary(AComponent));
}

std::unique_ptr<QObject> TStreamer::VariantToComponent(const Variant& AValue)
{
    return BinaryToComponent(arrayBytes(AValue));
}

// ---- Collections -------------------------------------------------------------

void TStreamer::LoadCollectionFromStream(TStream& Stream, TCollection& Collection)
{
    const qint64 start = Stream.Position();
    QByteArray bytes;
    std::array<char, 4096> buffer;
    for (qint64 n; (n = Stream.Read(buffer.data(), qint64(buffer.size()))) > 0;) {
        if (bytes.size() + n > MaxBytes) {
            Stream.SetPosition(start);
            throw EStreamError(QStringLiteral("A collection stream holds at most %1 bytes").arg(MaxBytes));
        }
        bytes.append(buffer.data(), qsizetype(n));
    }
    qsizetype consumed = 0;
    try {
        consumed = BinaryToCollection(bytes, Collection);
    } catch (...) {
        Stream.SetPosition(start);
        throw;
    }
    Stream.SetPosition(start + consumed);
}

void TStreamer::LoadCollectionFromFile(const QString& FileName, TCollection& Collection)
{
    TFileStream file(FileName, FileOpenMode::Read);
    LoadCollectionFromStream(file, Collection);
}

void TStreamer::SaveCollectionToStream(const TCollection& Collection, TStream& Stream)
{
    const QByteArray bytes = CollectionToBinary(Collection);
    for (qsizetype i = 0; i < bytes.size(); i += 4096)
        Stream.WriteBuffer(bytes.constData() + i, std::min<qsizetype>(4096, bytes.size() - i));
}

void TStreamer::SaveCollectionToFile(const TCollection& Collection, const QString& FileName)
{
    replaceFile(FileName, CollectionToBinary(Collection), ReplaceFailure::Raise);
}

// ---- Pictures ----------------------------------------------------------------

void TStreamer::JPEGToVariant(const TBitmap& aBmp, TJPEGImage& aJPEG, Variant& aVariant)
{
    aJPEG.Assign(aBmp);
    TMemoryStream stream;
    aJPEG.SaveToStream(stream);
    StreamToOleVariant(stream, aVariant);
}

void TStreamer::VariantToJPEG(const Variant& aValue, TJPEGImage& aJPEG)
{
    TMemoryStream stream;
    VariantToStream(aValue, stream);
    aJPEG.LoadFromStream(stream);
}

void TStreamer::BMPToVariant(const TBitmap& aBmp, Variant& aVariant)
{
    TMemoryStream stream;
    aBmp.SaveToStream(stream);
    StreamToOleVariant(stream, aVariant);
}

void TStreamer::VariantToBMP(const Variant& aValue, TBitmap& aBmp)
{
    TMemoryStream stream;
    VariantToStream(aValue, stream);
    aBmp.LoadFromStream(stream);
}

// ---- Fonts -------------------------------------------------------------------

namespace {

constexpr qint32 FontDescriptionSize = 92;
constexpr int FaceNameUnits = 32;

// Pitch and family of the Windows font description.
constexpr quint8 DEFAULT_PITCH = 0, FIXED_PITCH = 1, VARIABLE_PITCH = 2;
constexpr quint8 FF_DONTCARE = 0x00, FF_ROMAN = 0x10, FF_SWISS = 0x20, FF_MODERN = 0x30, FF_SCRIPT = 0x40,
                 FF_DECORATIVE = 0x50;
constexpr quint8 DEFAULT_QUALITY = 0, NONANTIALIASED_QUALITY = 3, ANTIALIASED_QUALITY = 4;

quint8 pitchAndFamily(const QFont& f)
{
    quint8 pitch = DEFAULT_PITCH;
    if ((f.resolveMask() & QFont::FixedPitchResolved) != 0)
        pitch = f.fixedPitch() ? FIXED_PITCH : VARIABLE_PITCH;
    switch (f.styleHint()) {
    case QFont::Serif:
        return pitch | FF_ROMAN;
    case QFont::SansSerif:
        return pitch | FF_SWISS;
    case QFont::TypeWriter:
    case QFont::Monospace:
        return pitch | FF_MODERN;
    case QFont::Cursive:
        return pitch | FF_SCRIPT;
    case QFont::Decorative:
    case QFont::Fantasy:
        return pitch | FF_DECORATIVE;
    default:
        return pitch | FF_DONTCARE;
    }
}

void setPitchAndFamily(QFont& f, quint8 value)
{
    if ((value & 3) == FIXED_PITCH)
        f.setFixedPitch(true);
    else if ((value & 3) == VARIABLE_PITCH)
        f.setFixedPitch(false);
    switch (value & 0xF0) {
    case FF_ROMAN:
        f.setStyleHint(QFont::Serif);
        break;
    case FF_SWISS:
        f.setStyleHint(QFont::SansSerif);
        break;
    case FF_MODERN:
        f.setStyleHint(QFont::TypeWriter);
        break;
    case FF_SCRIPT:
        f.setStyleHint(QFont::Cursive);
        break;
    case FF_DECORATIVE:
        f.setStyleHint(QFont::Decorative);
        break;
    default:
        break;
    }
}

// The face name in at most 31 code units, never ending inside a surrogate pair.
QString faceName(const QString& family)
{
    QString face = family.left(FaceNameUnits - 1);
    if (family.size() > face.size() && face.back().isHighSurrogate() && family[face.size()].isLowSurrogate())
        face.chop(1);
    return face;
}

} // namespace

void TStreamer::FontToStream(TStream& s, const TFont& font)
{
    const QFont& f = font.Font;
    qint32 height = 0; // the platform's default size
    if (f.pixelSize() > 0)
        height = -f.pixelSize();
    else if (f.pointSizeF() > 0)
        height = -qRound(f.pointSizeF() * 96.0 / 72.0);
    quint8 quality = DEFAULT_QUALITY;
    if ((f.styleStrategy() & QFont::NoAntialias) != 0)
        quality = NONANTIALIASED_QUALITY;
    else if ((f.styleStrategy() & QFont::PreferAntialias) != 0)
        quality = ANTIALIASED_QUALITY;

    QByteArray record;
    ByteWriter w(record);
    w.I32(FontDescriptionSize);
    w.I32(font.Color);
    w.I32(height);
    w.I32(0); // width: the face's own
    w.I32(0); // escapement
    w.I32(0); // orientation
    w.I32(f.weight());
    w.U8(f.italic() ? 1 : 0);
    w.U8(f.underline() ? 1 : 0);
    w.U8(f.strikeOut() ? 1 : 0);
    w.U8(font.Charset);
    w.U8(0); // output precision: default
    w.U8(0); // clip precision: default
    w.U8(quality);
    w.U8(pitchAndFamily(f));
    const QString face = faceName(f.family());
    for (int i = 0; i < FaceNameUnits; ++i)
        w.U16(i < face.size() ? face[i].unicode() : 0);
    s.WriteBuffer(record.constData(), record.size());
}

void TStreamer::StreamToFont(TStream& s, TFont& font)
{
    char sizeBytes[4];
    s.ReadBuffer(sizeBytes, sizeof sizeBytes);
    if (ByteReader(QByteArrayView(sizeBytes, sizeof sizeBytes)).I32() != FontDescriptionSize)
        return;
    char record[4 + FontDescriptionSize];
    s.ReadBuffer(record, sizeof record);

    // The whole record is in hand: only now does the font change.
    ByteReader r(QByteArrayView(record, sizeof record));
    const TColor color = r.I32();
    const qint32 height = r.I32();
    r.Skip(12); // width, escapement, orientation
    const qint32 weight = r.I32();
    const bool italic = r.U8() != 0;
    const bool underline = r.U8() != 0;
    const bool strikeOut = r.U8() != 0;
    const quint8 charset = r.U8();
    r.Skip(2); // output and clip precision
    const quint8 quality = r.U8();
    const quint8 pitch = r.U8();
    QString face;
    for (int i = 0; i < FaceNameUnits; ++i) {
        const quint16 unit = r.U16();
        if (unit == 0)
            break;
        face += QChar(unit);
    }

    QFont f;
    if (!face.isEmpty())
        f.setFamily(face);
    // A positive height is the cell height; Qt knows only the character height.
    if (height != 0)
        f.setPixelSize(
            height == std::numeric_limits<qint32>::min() ? std::numeric_limits<qint32>::max() : std::abs(height));
    f.setWeight(weight <= 0 ? QFont::Normal : QFont::Weight(std::min(weight, 1000)));
    f.setItalic(italic);
    f.setUnderline(underline);
    f.setStrikeOut(strikeOut);
    if (quality == NONANTIALIASED_QUALITY)
        f.setStyleStrategy(QFont::NoAntialias);
    else if (quality >= ANTIALIASED_QUALITY)
        f.setStyleStrategy(QFont::PreferAntialias);
    setPitchAndFamily(f, pitch);
    font.Font = f;
    font.Color = color;
    font.Charset = charset;
}

void InitializeStreamer()
{
    if (Convert == nullptr)
        Convert = new TStreamer(nullptr);
}

void FinalizeStreamer()
{
    delete Convert;
    Convert = nullptr;
}

} // namespace velkaro

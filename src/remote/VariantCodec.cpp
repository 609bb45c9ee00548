#include "remote/VariantCodec.h"

#include "core/Bytes.h"
#include "remote/RemoteErrors.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace velkaro {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "text and raw arrays are copied in the host's byte order");

namespace {

// A tag has no bits beyond these: the by-reference and array marks and a
// 12-bit type code.
constexpr quint32 TagBits = varByRef | varArray | varTypeMask;
// Every element of an element-by-element array starts with a tag.
constexpr qint64 MinElementBytes = 4;

[[noreturn]] void fail(const QString& text)
{
    throw EInterpreterError(text);
}

bool isEasyArrayType(VarType code)
{
    return std::find(EasyArrayTypes.begin(), EasyArrayTypes.end(), code) != EasyArrayTypes.end();
}

bool isArrayElementType(VarType code)
{
    return (code >= varSmallint && code <= varDispatch) || code == varBoolean || code == varVariant
        || (code >= varShortInt && code <= varLongWord);
}

bool isScalar(VarType code)
{
    return (code >= varSmallint && code <= varDate) || code == varError || code == varBoolean
        || (code >= varShortInt && code <= varLongWord);
}

QString countText(qint64 n)
{
    return QString::number(n);
}

// ---- writing ---------------------------------------------------------------

class Writer {
public:
    Writer(IDataBlock& block, IObjectReferences& objects)
        : block_(block)
        , objects_(objects)
        , out_(head_)
    {
    }

    void Value(const Variant& v, int depth)
    {
        const VarType type = v.VType();
        if (type & ~TagBits)
            RaiseUnsupportedVariantType(type);
        if (type & varArray)
            return Array(v, depth);
        const VarType base = v.BaseType();
        const bool byRef = v.IsByRef();
        switch (base) {
        case varEmpty:
        case varNull:
            // 0x4000 on its own announces a variant held by reference.
            if (type == varByRef)
                RaiseUnsupportedVariantType(type);
            out_.U32(type);
            break;
        case varOleStr: {
            const QString text = v.ToString();
            out_.U32(type);
            out_.I32(qint32(text.size()));
            Flush();
            block_.Write(text.utf16(), text.size() * 2);
            break;
        }
        case varDispatch: {
            if (byRef)
                RaiseUnsupportedVariantType(type);
            const DispatchRef object = v.Dispatch();
            if (!object)
                fail(QStringLiteral("A reference to no object cannot be sent"));
            const qint32 index = objects_.StoreObject(object);
            out_.U32(type);
            out_.I32(index);
            break;
        }
        case varVariant:
            if (!byRef)
                RaiseUnsupportedVariantType(type);
            out_.U32(varByRef);
            Value(v.Deref(), depth);
            break;
        case varDecimal:
        case varReserved:
            // The code travels; the value never does.
            out_.U32(type);
            break;
        default: {
            if (!isScalar(base))
                RaiseUnsupportedVariantType(type);
            const Variant value = byRef ? v.Deref() : v;
            out_.U32(type);
            out_.UInt(quint64(value.Bits()), VariantSize[base]);
            break;
        }
        }
        Flush();
    }

    void Array(const Variant& v, int depth)
    {
        const Variant value = v.IsByRef() ? v.Deref() : v;
        const SafeArray* array = value.Array();
        if (array == nullptr)
            RaiseUnsupportedVariantType(v.VType());
        const VarType element = array->ElementType();
        const VarType tag = VarType((v.VType() & varByRef) | varArray | element);
        if (!isArrayElementType(element))
            RaiseUnsupportedVariantType(tag);
        if (depth > MaxArrayNesting)
            fail(QStringLiteral("Arrays nested deeper than %1 levels cannot be sent").arg(MaxArrayNesting));
        out_.U32(tag);
        out_.I32(array->DimCount());
        for (const ArrayBound& b : array->Bounds())
            out_.I32(b.low);
        for (const ArrayBound& b : array->Bounds())
            out_.I32(b.high);
        if (isEasyArrayType(element)) {
            const QByteArray& raw = array->RawData();
            out_.I32(qint32(raw.size()));
            Flush();
            block_.Write(raw.constData(), raw.size());
            return;
        }
        Flush();
        const qint64 count = array->ElementCount();
        for (qint64 i = 0; i < count; ++i) {
            const Variant item = array->GetElement(i);
            switch (element) {
            case varOleStr:
                Value(Variant(item.ToString()), depth + 1);
                break;
            case varDispatch:
                if (item.BaseType() != varDispatch)
                    fail(QStringLiteral("A reference to no object cannot be sent"));
                Value(item, depth + 1);
                break;
            default:
                Value(item, depth + 1);
                break;
            }
        }
    }

private:
    void Flush()
    {
        block_.WriteBytes(head_);
        head_.clear();
    }

    IDataBlock& block_;
    IObjectReferences& objects_;
    QByteArray head_;
    ByteWriter out_;
};

template <class Fn> void writeAtomically(IDataBlock& block, Fn&& write)
{
    const qint64 before = block.GetSize();
    try {
        write();
    } catch (const EInterpreterError&) {
        block.SetSize(before);
        throw;
    } catch (const Exception& e) {
        block.SetSize(before);
        throw EInterpreterError(e.Message());
    } catch (...) {
        block.SetSize(before);
        throw;
    }
}

// ---- reading ---------------------------------------------------------------

class Reader {
public:
    Reader(IDataBlock& block, IObjectReferences& objects)
        : block_(block)
        , objects_(objects)
        , in_(block.Unread())
        , start_(block.GetSize() - block.Unread().size())
    {
    }
    ~Reader() { block_.Skip(in_.Position() - committed_); }

    // Depth: the nesting level an array read here would have. Owed: bytes
    // that values still to come after this one need at the least.
    Variant Value(TVarFlags& flags, int depth, qint64 owed)
    {
        if (in_.AtEnd()) {
            // Past the end of the payload a value reads as unassigned, but an
            // array promised all of its elements.
            if (depth > 1)
                in_.Need(MinElementBytes);
            return Variant();
        }
        quint32 tag = Tag();
        if (tag & varByRef)
            flags.Include(vfByRef);
        while (tag == varByRef) {
            flags.Include(vfVariant);
            tag = Tag();
        }
        tag &= ~quint32(varByRef);
        if (tag & varArray)
            return Array(tag, depth, owed);
        switch (tag) {
        case varEmpty:
            return Variant();
        case varNull:
            return Variant::Null();
        case varOleStr: {
            const qint32 count = in_.I32();
            if (count < 0)
                fail(QStringLiteral("A text of %1 characters is not possible").arg(count));
            const QByteArrayView bytes = in_.Bytes(qsizetype(count) * 2);
            QString text(count, Qt::Uninitialized);
            std::memcpy(text.data(), bytes.data(), size_t(bytes.size()));
            return Variant(text);
        }
        case varDispatch:
            return Variant(objects_.MakeProxy(in_.I32()));
        case varDecimal:
        case varReserved:
            return Variant::TagOnly(VarType(tag));
        default:
            if (!isScalar(VarType(tag)))
                RaiseUnsupportedVariantType(tag);
            return Variant::Typed(VarType(tag), qint64(in_.UInt(VariantSize[tag])));
        }
    }

    Variant Array(quint32 tag, int depth, qint64 owed)
    {
        tag &= ~quint32(varByRef);
        if (tag & ~TagBits || !(tag & varArray))
            RaiseUnsupportedVariantType(tag);
        const VarType element = VarType(tag & varTypeMask);
        if (!isArrayElementType(element))
            RaiseUnsupportedVariantType(tag);
        if (depth > MaxArrayNesting)
            fail(QStringLiteral("Arrays nested deeper than %1 levels are not accepted").arg(MaxArrayNesting));

        const qint32 dims = in_.I32();
        if (dims < 1 || dims > MaxArrayDims)
            fail(QStringLiteral("An array of %1 dimensions is not accepted (1 to %2)").arg(dims).arg(MaxArrayDims));
        in_.Need(qsizetype(dims) * 8);
        std::vector<ArrayBound> bounds(static_cast<size_t>(dims));
        for (ArrayBound& b : bounds)
            b.low = in_.I32();
        for (ArrayBound& b : bounds)
            b.high = in_.I32();
        qint64 count = 1;
        for (const ArrayBound& b : bounds) {
            if (b.Count() < 0)
                fail(QStringLiteral("Array bounds %1 to %2 are not possible").arg(b.low).arg(b.high));
            count *= b.Count();
            if (count > MaxPayloadSize)
                tooMany(count);
        }

        if (isEasyArrayType(element)) {
            const qint32 byteCount = in_.I32();
            const int width = VariantSize[element];
            if (byteCount != count * width) {
                fail(QStringLiteral("An array's byte count %1 is not its %2 elements of %3 bytes")
                         .arg(countText(byteCount), countText(count), countText(width)));
            }
            if (byteCount > in_.Remaining())
                tooMany(count);
            // The last value of the payload keeps the block's buffer; any
            // other is copied once, straight into the array's storage.
            QByteArray data;
            if (byteCount == in_.Remaining()) {
                data = TakeRest();
            } else {
                const QByteArrayView bytes = in_.Bytes(byteCount);
                data = QByteArray(bytes.data(), bytes.size());
            }
            return Variant(SafeArray::FromRaw(element, std::move(bounds), std::move(data)));
        }

        if (count * MinElementBytes > in_.Remaining() - owed)
            tooMany(count);
        SafeArrayBuilder array(element, std::move(bounds));
        for (qint64 i = 0; i < count; ++i) {
            TVarFlags flags;
            const Variant item = Value(flags, depth + 1, owed + (count - 1 - i) * MinElementBytes);
            if (element != varVariant && item.VType() != element) {
                fail(QStringLiteral("An array of %1 holds a value of type %2")
                         .arg(Variant::TypeName(element), Variant::TypeName(item.VType())));
            }
            array.Append(item);
        }
        return Variant(array.Finish());
    }

    qint64 Offset() const { return start_ + in_.Position(); }

private:
    quint32 Tag()
    {
        const quint32 tag = in_.U32();
        if (tag & ~TagBits)
            RaiseUnsupportedVariantType(tag);
        return tag;
    }

    [[noreturn]] void tooMany(qint64 count) const
    {
        fail(QStringLiteral("An array of %1 elements does not fit in the %2 bytes left in the data block")
                 .arg(countText(count), countText(in_.Remaining())));
    }

    // Everything left in the payload, without a copy. The reader is at the
    // end afterwards and never looks at those bytes again.
    QByteArray TakeRest()
    {
        block_.Skip(in_.Position() - committed_);
        QByteArray rest = block_.TakeUnread();
        in_.Skip(in_.Remaining());
        committed_ = in_.Position();
        return rest;
    }

    IDataBlock& block_;
    IObjectReferences& objects_;
    ByteReader in_;
    qint64 start_; // payload offset of the first byte of in_
    qint64 committed_ = 0; // bytes of in_ the block has been moved past
};

template <class Fn> Variant readChecked(Reader& reader, Fn&& read)
{
    try {
        return read();
    } catch (const EByteReadError&) {
        throw EInterpreterError(
            QStringLiteral("The data block ends inside a value (payload byte %1)").arg(reader.Offset()));
    } catch (const EInterpreterError&) {
        throw;
    } catch (const Exception& e) {
        throw EInterpreterError(e.Message());
    }
}

} // namespace

void RaiseUnsupportedVariantType(quint32 code)
{
    throw EInterpreterError(QString::fromLatin1(msg::UnsupportedVariantType)
                                .arg(QStringLiteral("%1").arg(code & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper()));
}

void WriteVariant(const Variant& value, IDataBlock& block, IObjectReferences& objects)
{
    writeAtomically(block, [&] { Writer(block, objects).Value(value, 1); });
}

void WriteArray(const Variant& value, IDataBlock& block, IObjectReferences& objects)
{
    writeAtomically(block, [&] { Writer(block, objects).Array(value, 1); });
}

Variant ReadVariant(TVarFlags& flags, IDataBlock& block, IObjectReferences& objects)
{
    flags = TVarFlags();
    Reader reader(block, objects);
    return readChecked(reader, [&] { return reader.Value(flags, 1, 0); });
}

Variant ReadArray(quint32 tag, IDataBlock& block, IObjectReferences& objects)
{
    Reader reader(block, objects);
    return readChecked(reader, [&] { return reader.Array(tag, 1, 0); });
}

} // namespace velkaro

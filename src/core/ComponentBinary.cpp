// The binary form of component streams.
#include "core/ComponentFormat_p.h"

#include "core/Bytes.h"

#include <QStringDecoder>

#include <cmath>
#include <limits>

namespace velkaro {

// ---- StreamValue ---------------------------------------------------------

StreamValue StreamValue::OfInteger(qint64 value)
{
    StreamValue v;
    if (value >= std::numeric_limits<qint8>::min() && value <= std::numeric_limits<qint8>::max())
        v.Type = Kind::Int8;
    else if (value >= std::numeric_limits<qint16>::min() && value <= std::numeric_limits<qint16>::max())
        v.Type = Kind::Int16;
    else if (value >= std::numeric_limits<qint32>::min() && value <= std::numeric_limits<qint32>::max())
        v.Type = Kind::Int32;
    else
        v.Type = Kind::Int64;
    v.Integer = value;
    return v;
}

StreamValue StreamValue::OfDouble(double value)
{
    StreamValue v;
    v.Type = Kind::Double;
    v.Real = value;
    return v;
}

StreamValue StreamValue::OfSingle(float value)
{
    StreamValue v;
    v.Type = Kind::Single;
    v.Real = value;
    return v;
}

StreamValue StreamValue::OfBool(bool value)
{
    StreamValue v;
    v.Type = value ? Kind::True : Kind::False;
    return v;
}

StreamValue StreamValue::OfString(const QString& text)
{
    StreamValue v;
    v.Type = Kind::WString;
    v.Text = text;
    return v;
}

StreamValue StreamValue::OfIdent(const QString& ident)
{
    StreamValue v;
    v.Type = Kind::Ident;
    v.Text = ident;
    return v;
}

StreamValue StreamValue::OfBytes(const QByteArray& bytes)
{
    StreamValue v;
    v.Type = Kind::Binary;
    v.Bytes = bytes;
    return v;
}

StreamValue StreamValue::OfList(std::vector<StreamValue> items)
{
    StreamValue v;
    v.Type = Kind::List;
    v.Items = std::move(items);
    return v;
}

bool StreamValue::IsInteger() const
{
    return Type == Kind::Int8 || Type == Kind::Int16 || Type == Kind::Int32 || Type == Kind::Int64;
}

bool StreamValue::IsNumber() const
{
    return IsInteger() || Type == Kind::Single || Type == Kind::Double;
}

double StreamValue::ToDouble() const
{
    return IsInteger() ? double(Integer) : Real;
}

namespace componentformat {

namespace {

using Kind = StreamValue::Kind;

[[noreturn]] void invalidFormat()
{
    throw EReadError(QString::fromLatin1(msg::InvalidImage));
}

[[noreturn]] void cannotWrite(const QString& what)
{
    throw EStreamError(QStringLiteral("Cannot stream %1").arg(what));
}

bool isIdentStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isIdentPart(char c)
{
    return isIdentStart(c) || (c >= '0' && c <= '9');
}

// ---- Encoding -------------------------------------------------------------

class Encoder {
public:
    explicit Encoder(QByteArray& out)
        : w_(out)
    {
    }

    void Header()
    {
        w_.Bytes(QByteArrayView(Magic, 4));
        w_.U16(Version);
    }

    void Object(const componentformat::Object& object, int depth)
    {
        enter(depth);
        if (!IsClassName(object.ClassName))
            cannotWrite(QStringLiteral("a component of class \"%1\"").arg(QString::fromUtf8(object.ClassName)));
        w_.U8(ObjectMarker);
        ShortString(object.ClassName, QStringLiteral("class name"));
        ShortString(object.Name.toUtf8(), QStringLiteral("component name \"%1\"").arg(object.Name));
        Properties(object.Properties, depth);
        for (const componentformat::Object& child : object.Children)
            Object(child, depth + 1);
        w_.U8(0);
    }

    void Properties(const std::vector<StreamProperty>& properties, int depth)
    {
        for (const StreamProperty& p : properties) {
            if (!IsIdentifier(p.Name, true) || p.Name.size() > 255)
                cannotWrite(QStringLiteral("a property named \"%1\"").arg(QString::fromUtf8(p.Name)));
            w_.U8(quint8(p.Name.size()));
            w_.Bytes(p.Name);
            Value(p.Value, depth + 1);
        }
        w_.U8(0);
    }

    void Value(const StreamValue& v, int depth)
    {
        enter(depth);
        w_.U8(quint8(v.Type));
        switch (v.Type) {
        case Kind::List:
            for (const StreamValue& item : v.Items)
                Value(item, depth + 1);
            w_.U8(0);
            break;
        case Kind::Int8:
            w_.I8(qint8(v.Integer));
            break;
        case Kind::Int16:
            w_.I16(qint16(v.Integer));
            break;
        case Kind::Int32:
            w_.I32(qint32(v.Integer));
            break;
        case Kind::Int64:
            w_.I64(v.Integer);
            break;
        case Kind::Ident:
            Ident(v.Text);
            break;
        case Kind::False:
        case Kind::True:
        case Kind::Nil:
            break;
        case Kind::Binary:
            w_.U32(quint32(v.Bytes.size()));
            w_.Bytes(v.Bytes);
            break;
        case Kind::Set:
            for (const StreamValue& item : v.Items) {
                if (item.Type != Kind::Ident || item.Text.contains(u'.'))
                    cannotWrite(QStringLiteral("a set element that is not an identifier"));
                Ident(item.Text);
            }
            w_.U8(0);
            break;
        case Kind::Collection:
            for (const std::vector<StreamProperty>& item : v.CollectionItems) {
                enter(depth + 1);
                w_.U8(quint8(Kind::List));
                Properties(item, depth + 1);
            }
            w_.U8(0);
            break;
        case Kind::Single:
            w_.F32(float(v.Real));
            break;
        case Kind::WString:
            w_.U32(quint32(v.Text.size()));
            for (QChar c : v.Text)
                w_.U16(c.unicode());
            break;
        case Kind::Double:
            w_.F64(v.Real);
            break;
        default:
            cannotWrite(QStringLiteral("a value of type %1").arg(int(v.Type)));
        }
    }

private:
    void enter(int depth)
    {
        if (depth > MaxNesting)
            cannotWrite(QStringLiteral("components or values nested deeper than %1 levels").arg(MaxNesting));
    }

    void ShortString(const QByteArray& bytes, const QString& what)
    {
        if (bytes.size() > 255)
            cannotWrite(QStringLiteral("the %1: longer than 255 bytes").arg(what));
        w_.U8(quint8(bytes.size()));
        w_.Bytes(bytes);
    }

    void Ident(const QString& text)
    {
        const QByteArray bytes = text.toLatin1();
        if (!IsIdentifier(bytes, true) || bytes.size() > 255)
            cannotWrite(QStringLiteral("the identifier \"%1\"").arg(text));
        w_.U8(quint8(bytes.size()));
        w_.Bytes(bytes);
    }

    ByteWriter w_;
};

// ---- Decoding -------------------------------------------------------------

class Decoder {
public:
    explicit Decoder(QByteArrayView bytes)
        : r_(bytes)
    {
    }

    void Header()
    {
        if (r_.Remaining() < HeaderSize) {
            // A cut header of the right kind is a short read; anything else is no stream of ours.
            if (QByteArrayView(Magic, 4).startsWith(r_.Bytes(std::min<qsizetype>(r_.Remaining(), 4))))
                throw EReadError(QString::fromLatin1(msg::ReadError));
            invalidFormat();
        }
        if (r_.Bytes(4) != QByteArrayView(Magic, 4) || r_.U16() != Version)
            invalidFormat();
    }

    quint8 PeekByte()
    {
        r_.Need(1);
        const quint8 b = r_.U8();
        r_.Seek(r_.Position() - 1);
        return b;
    }

    componentformat::Object Object(int depth)
    {
        enter(depth);
        if (r_.U8() != ObjectMarker)
            invalidFormat();
        componentformat::Object object;
        object.ClassName = r_.Bytes(r_.U8()).toByteArray();
        if (!IsClassName(object.ClassName))
            invalidFormat();
        object.Name = utf8(r_.Bytes(r_.U8()));
        object.Properties = Properties(depth);
        while (PeekByte() != 0)
            object.Children.push_back(Object(depth + 1));
        r_.U8();
        return object;
    }

    std::vector<StreamProperty> Properties(int depth)
    {
        std::vector<StreamProperty> properties;
        for (;;) {
            const quint8 length = r_.U8();
            if (length == 0)
                return properties;
            StreamProperty p;
            p.Name = r_.Bytes(length).toByteArray();
            if (!IsIdentifier(p.Name, true))
                invalidFormat();
            p.Value = Value(depth + 1);
            properties.push_back(std::move(p));
        }
    }

    StreamValue Value(int depth)
    {
        enter(depth);
        StreamValue v;
        const quint8 code = r_.U8();
        v.Type = Kind(code);
        switch (v.Type) {
        case Kind::List:
            while (PeekByte() != 0)
                v.Items.push_back(Value(depth + 1));
            r_.U8();
            break;
        case Kind::Int8:
            v.Integer = r_.I8();
            break;
        case Kind::Int16:
            v.Integer = r_.I16();
            break;
        case Kind::Int32:
            v.Integer = r_.I32();
            break;
        case Kind::Int64:
            v.Integer = r_.I64();
            break;
        case Kind::Ident:
            v.Text = Ident(true);
            break;
        case Kind::False:
        case Kind::True:
        case Kind::Nil:
            break;
        case Kind::Binary:
            v.Bytes = r_.Bytes(r_.U32()).toByteArray();
            break;
        case Kind::Set:
            while (PeekByte() != 0)
                v.Items.push_back(StreamValue::OfIdent(Ident(false)));
            r_.U8();
            break;
        case Kind::Collection:
            v.CollectionItems = CollectionItems(depth);
            break;
        case Kind::Single:
            v.Real = r_.F32();
            break;
        case Kind::WString: {
            const quint32 count = r_.U32();
            r_.Need(qsizetype(count) * 2);
            v.Text.resize(qsizetype(count));
            for (QChar& c : v.Text)
                c = QChar(r_.U16());
            break;
        }
        case Kind::Double:
            v.Real = r_.F64();
            break;
        default:
            invalidFormat();
        }
        return v;
    }

    // The items after a collection marker, up to and with the end marker.
    std::vector<std::vector<StreamProperty>> CollectionItems(int depth)
    {
        std::vector<std::vector<StreamProperty>> items;
        for (;;) {
            const quint8 code = r_.U8();
            if (code == 0)
                return items;
            if (code != quint8(Kind::List))
                invalidFormat();
            enter(depth + 1);
            items.push_back(Properties(depth + 1));
        }
    }

    ByteReader& Reader() { return r_; }

private:
    void enter(int depth)
    {
        if (depth > MaxNesting)
            invalidFormat();
    }

    QString Ident(bool allowDots)
    {
        const QByteArrayView bytes = r_.Bytes(r_.U8());
        if (!IsIdentifier(bytes, allowDots))
            invalidFormat();
        return QString::fromLatin1(bytes);
    }

    static QString utf8(QByteArrayView bytes)
    {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder(bytes);
        if (decoder.hasError())
            invalidFormat();
        return text;
    }

    ByteReader r_;
};

} // namespace

bool IsIdentifier(QByteArrayView text, bool allowDots)
{
    bool atStart = true;
    for (char c : text) {
        if (atStart) {
            if (!isIdentStart(c))
                return false;
            atStart = false;
        } else if (c == '.' && allowDots) {
            atStart = true;
        } else if (!isIdentPart(c)) {
            return false;
        }
    }
    return !atStart;
}

bool IsClassName(QByteArrayView text)
{
    // Parts joined by "::", each an identifier.
    qsizetype start = 0;
    for (;;) {
        const qsizetype sep = text.indexOf("::", start);
        const QByteArrayView part = text.sliced(start, (sep < 0 ? text.size() : sep) - start);
        if (!IsIdentifier(part, false))
            return false;
        if (sep < 0)
            return true;
        start = sep + 2;
    }
}

QByteArray Encode(const Root& root)
{
    QByteArray out;
    Encoder e(out);
    e.Header();
    if (root.IsCollection) {
        if (root.Collection.Type != Kind::Collection)
            cannotWrite(QStringLiteral("a collection stream without a collection"));
        e.Value(root.Collection, 1);
    } else {
        e.Object(root.Component, 1);
    }
    return out;
}

Root Decode(QByteArrayView bytes, Expect expect, bool allowTrailing, qsizetype* consumed)
{
    try {
        Decoder d(bytes);
        d.Header();
        Root root;
        const quint8 first = d.PeekByte();
        if (first == quint8(Kind::Collection) && expect != Expect::Component) {
            root.IsCollection = true;
            root.Collection = d.Value(1);
        } else if (first == ObjectMarker && expect != Expect::Collection) {
            root.Component = d.Object(1);
        } else if (expect == Expect::Collection) {
            throw EReadError(QString::fromLatin1(msg::InvalidPropertyValue));
        } else {
            invalidFormat();
        }
        if (!allowTrailing && !d.Reader().AtEnd())
            invalidFormat();
        if (consumed != nullptr)
            *consumed = d.Reader().Position();
        return root;
    } catch (const EByteReadError& e) {
        if (e.ErrorKind() == EByteReadError::Kind::EndedEarly)
            throw EReadError(QString::fromLatin1(msg::ReadError));
        invalidFormat();
    }
}

} // namespace componentformat
} // namespace velkaro

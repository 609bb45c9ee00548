#pragma once
// Component streaming: components (any QObject) with their published
// properties, their named sub-components and their collections, in one binary
// form and one text form (docs/component-streaming.md), and the class
// registry that says which classes a stream may create.
//
// What a stream holds of a component: its class name, its Name (objectName),
// every published property that is readable, writable, stored and designable
// and whose type the format knows (below), then its streamed children in
// their order. A child is streamed when it has a name that does not start
// with "qt_" (Qt's own inner parts) and is neither a collection nor a
// sub-object (see below). Properties of other types are not part of the
// stream; neither are Name and objectName as properties.
//
// Property types the format knows: bool; the integer types up to 64 bits;
// double and float; QString; QByteArray; QStringList; QPoint, QSize, QRect and
// their F variants; enumerations and flags declared with Q_ENUM / Q_FLAG (by
// key); pointers to QObject: a TCollection the component publishes (its
// items), a sub-object the component owns (its properties, written as
// "Sub.Property"), or a link to another component of the same stream (by its
// name path; links leading out of the stream are left out); and every type a
// layer above adds with RegisterPropertyType (the in-house library adds
// fonts, colours and palettes).
//
// Reading trusts nothing: every length is checked against the bytes present
// before anything is allocated, nesting is limited to MaxNesting levels, and
// a stream can create only registered classes. Errors:
//   EReadError "Stream read error"          the stream ends too early
//   EReadError "Invalid stream format"      not a component stream, or damaged
//   EClassNotFound "Class %s not found"     a class that is not registered
//   EReadError "Invalid property value"     a value the property cannot take
//   EReadError "Property %s does not exist" a property the class lacks
//   EReadError "Invalid property path"      "Sub.Property" that leads nowhere
//   EComponentError "A component named %s already exists"
//   EParserError "<what> on line <n>"       text form that cannot be read
// Whatever a property's setter raises comes out unchanged. A new component
// that fails to load is freed with everything created for it; reading into
// an existing component that fails leaves the properties read so far.
//
// The registry may be used from any thread; a component and a collection are
// read and written by one thread at a time.

#include "core/Exceptions.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

namespace velkaro {

class TCollection;

// ---- The class registry ----------------------------------------------------

// Creates a new object of the class, owned by Owner (null for none).
using ClassFactory = std::function<QObject*(QObject* owner)>;

// Makes the class known to streams under its meta-object's class name
// ("velkaro::TClientDataSet", "QLabel"). Registering again replaces the factory.
void RegisterClass(const QMetaObject& metaObject, ClassFactory create);
void UnRegisterClass(const QMetaObject& metaObject);
// The registered class of that name, or null.
const QMetaObject* GetClass(const QString& className);

// One line per class: the class must be constructible with its owner as the
// only argument (QObject* for components, QWidget* for widgets; a widget can
// only be owned by a widget).
template <class T> void RegisterClass()
{
    RegisterClass(T::staticMetaObject, [](QObject* owner) -> QObject* {
        if constexpr (std::is_constructible_v<T, QObject*>) {
            return new T(owner);
        } else {
            // QWidget is a complete type wherever a widget class is registered.
            using ParentWidget = std::remove_pointer_t<decltype(std::declval<const T&>().parentWidget())>;
            if (owner != nullptr && !owner->isWidgetType())
                throw EReadError(QString::fromLatin1(msg::InvalidImage));
            return new T(static_cast<ParentWidget*>(owner));
        }
    });
}

// ---- Values as a stream holds them -------------------------------------------

struct StreamProperty;

struct StreamValue {
    // The value-type codes of the binary form.
    enum class Kind : quint8 {
        List = 1,
        Int8 = 2,
        Int16 = 3,
        Int32 = 4,
        Ident = 7,
        False = 8,
        True = 9,
        Binary = 10,
        Set = 11,
        Nil = 13,
        Collection = 14,
        Single = 15,
        WString = 18,
        Int64 = 19,
        Double = 21,
    };

    Kind Type = Kind::Nil;
    qint64 Integer = 0; // Int8 to Int64
    double Real = 0; // Single, Double
    QString Text; // WString; Ident (an identifier, parts joined by ".")
    QByteArray Bytes; // Binary
    std::vector<StreamValue> Items; // List; Set (Ident items)
    std::vector<std::vector<StreamProperty>> CollectionItems; // one property list per item

    static StreamValue OfInteger(qint64 value); // the smallest integer kind that holds it
    static StreamValue OfDouble(double value);
    static StreamValue OfSingle(float value);
    static StreamValue OfBool(bool value);
    static StreamValue OfString(const QString& text);
    static StreamValue OfIdent(const QString& ident);
    static StreamValue OfBytes(const QByteArray& bytes);
    static StreamValue OfList(std::vector<StreamValue> items);

    bool IsInteger() const;
    bool IsNumber() const; // an integer or a real
    double ToDouble() const; // of a number
};

struct StreamProperty {
    QByteArray Name; // "Caption", or "Sub.Caption" for a sub-object's property
    StreamValue Value;
};

// Adds a property type: Write turns a property value into a stream value;
// Read turns a stream value back into a property value, or gives nullopt
// for a value that is not one of this type ("Invalid property value").
struct PropertyTypeCodec {
    std::function<StreamValue(const QVariant&)> Write;
    std::function<std::optional<QVariant>(const StreamValue&)> Read;
};
void RegisterPropertyType(QMetaType type, PropertyTypeCodec codec);

// ---- The forms ------------------------------------------------------------

inline constexpr int MaxNesting = 64; // components, sub-objects, lists and collections together

// The binary form of Component and its streamed children.
QByteArray ComponentToBinary(const QObject& component);
// A new component, owned by the caller, of the class the stream names.
std::unique_ptr<QObject> BinaryToComponent(QByteArrayView bytes);
// Reads the stream into an existing component of the class it names. A
// streamed child whose name matches one Component already owns (one its
// constructor made) is read into that child, which must be of the streamed
// class; the others are created from the registry.
void ReadComponentInto(QByteArrayView bytes, QObject& component);

// The binary form of a collection: the collection marker (value type 14),
// the items and the end marker, after the stream header.
QByteArray CollectionToBinary(const TCollection& collection);
// Reads a collection from the start of Bytes and returns how many bytes it
// took (a collection may be followed by other data). When the stored
// collection has items, they replace the collection's; an empty one leaves
// the collection as it is. A stream whose first value is not the collection
// marker raises EReadError "Invalid property value". On any error the
// collection is unchanged.
qsizetype BinaryToCollection(QByteArrayView bytes, TCollection& collection);

// The text form of a binary stream (a component or a collection), and back.
QString ObjectBinaryToText(QByteArrayView bytes);
QByteArray ObjectTextToBinary(const QString& text);

} // namespace velkaro

#include "core/ComponentStreaming.h"

#include "core/Collection.h"
#include "core/Component.h"
#include "core/ComponentFormat_p.h"

#include <QHash>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QStringList>

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

namespace velkaro {

using componentformat::Expect;
using componentformat::Object;
using componentformat::Root;
using Kind = StreamValue::Kind;

// ---- Registries -----------------------------------------------------------

namespace {

struct ClassEntry {
    const QMetaObject* metaObject = nullptr;
    ClassFactory create;
};

struct Registries {
    std::mutex mutex;
    QHash<QByteArray, ClassEntry> classes;
    QHash<int, PropertyTypeCodec> types;
};

Registries& registries()
{
    static Registries r;
    return r;
}

std::optional<ClassEntry> findClass(const QByteArray& className)
{
    Registries& r = registries();
    const std::lock_guard lock(r.mutex);
    const auto it = r.classes.constFind(className);
    if (it == r.classes.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<PropertyTypeCodec> findType(QMetaType type)
{
    Registries& r = registries();
    const std::lock_guard lock(r.mutex);
    const auto it = r.types.constFind(type.id());
    if (it == r.types.constEnd())
        return std::nullopt;
    return *it;
}

} // namespace

void RegisterClass(const QMetaObject& metaObject, ClassFactory create)
{
    Registries& r = registries();
    const std::lock_guard lock(r.mutex);
    r.classes.insert(QByteArray(metaObject.className()), ClassEntry {&metaObject, std::move(create)});
}

void UnRegisterClass(const QMetaObject& metaObject)
{
    Registries& r = registries();
    const std::lock_guard lock(r.mutex);
    const auto it = r.classes.find(QByteArray(metaObject.className()));
    if (it != r.classes.end() && it->metaObject == &metaObject)
        r.classes.erase(it);
}

const QMetaObject* GetClass(const QString& className)
{
    const auto entry = findClass(className.toLatin1());
    return entry ? entry->metaObject : nullptr;
}

void RegisterPropertyType(QMetaType type, PropertyTypeCodec codec)
{
    Registries& r = registries();
    const std::lock_guard lock(r.mutex);
    r.types.insert(type.id(), std::move(codec));
}

namespace {

[[noreturn]] void invalidValue()
{
    throw EReadError(QString::fromLatin1(msg::InvalidPropertyValue));
}

[[noreturn]] void invalidFormat()
{
    throw EReadError(QString::fromLatin1(msg::InvalidImage));
}

// ---- Which properties and children a stream holds ---------------------------

bool isStreamable(const QMetaProperty& p, const QObject& object)
{
    if (!p.isReadable() || !p.isStored() || !p.isDesignable())
        return false;
    const QByteArrayView name(p.name());
    // The name travels in the component's header, never as a property.
    return name != "objectName" && !(name == "Name" && qobject_cast<const TComponent*>(&object) != nullptr);
}

bool isObjectPointer(const QMetaProperty& p)
{
    return (p.metaType().flags() & QMetaType::PointerToQObject) != 0;
}

QObject* pointee(const QObject& object, const QMetaProperty& p)
{
    return p.read(&object).value<QObject*>();
}

// An object the component owns and publishes through a pointer property:
// its properties belong to the component's own.
QObject* subObject(const QObject& object, const QMetaProperty& p)
{
    if (!isStreamable(p, object) || !isObjectPointer(p))
        return nullptr;
    QObject* target = pointee(object, p);
    if (target == nullptr || target->parent() != &object || qobject_cast<TCollection*>(target) != nullptr)
        return nullptr;
    return target;
}

bool isSubObject(const QObject& child)
{
    const QObject* owner = child.parent();
    if (owner == nullptr)
        return false;
    const QMetaObject* meta = owner->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        if (subObject(*owner, meta->property(i)) == &child)
            return true;
    }
    return false;
}

bool isStreamedChild(const QObject& child)
{
    const QString name = child.objectName();
    return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"))
        && qobject_cast<const TCollection*>(&child) == nullptr && !isSubObject(child);
}

// Enumerations and flags as their integer value, from storage of 1 to 8 bytes.
std::optional<qint64> enumBits(const QVariant& v)
{
    const qsizetype size = v.metaType().sizeOf();
    const void* data = v.constData();
    switch (size) {
    case 1: {
        qint8 b;
        std::memcpy(&b, data, 1);
        return b;
    }
    case 2: {
        qint16 b;
        std::memcpy(&b, data, 2);
        return b;
    }
    case 4: {
        qint32 b;
        std::memcpy(&b, data, 4);
        return b;
    }
    case 8: {
        qint64 b;
        std::memcpy(&b, data, 8);
        return b;
    }
    default:
        return std::nullopt;
    }
}

// The integer range a property of the given storage size takes, signed or unsigned.
bool fitsBits(qint64 value, qsizetype size)
{
    if (size >= 8)
        return true;
    const qint64 low = -(qint64(1) << (size * 8 - 1));
    const qint64 high = (qint64(1) << (size * 8)) - 1;
    return value >= low && value <= high;
}

template <class T> bool inRange(qint64 value)
{
    return value >= qint64(std::numeric_limits<T>::min()) && value <= qint64(std::numeric_limits<T>::max());
}

std::optional<std::pair<qint64, qint64>> integerRange(int typeId)
{
    switch (typeId) {
    case QMetaType::Char:
    case QMetaType::SChar:
        return std::pair {qint64(-128), qint64(127)};
    case QMetaType::UChar:
        return std::pair {qint64(0), qint64(255)};
    case QMetaType::Short:
        return std::pair {qint64(-32768), qint64(32767)};
    case QMetaType::UShort:
        return std::pair {qint64(0), qint64(65535)};
    case QMetaType::Int:
        return std::pair {qint64(std::numeric_limits<qint32>::min()), qint64(std::numeric_limits<qint32>::max())};
    case QMetaType::UInt:
        return std::pair {qint64(0), qint64(std::numeric_limits<quint32>::max())};
    case QMetaType::Long:
        return std::pair {qint64(std::numeric_limits<long>::min()), qint64(std::numeric_limits<long>::max())};
    case QMetaType::LongLong:
        return std::pair {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    default:
        return std::nullopt;
    }
}

// Unsigned 64-bit values travel as their bit pattern.
bool isUnsigned64(int typeId)
{
    return typeId == QMetaType::ULongLong || (typeId == QMetaType::ULong && sizeof(unsigned long) == 8);
}

StreamValue numbers(std::initializer_list<qint64> values)
{
    std::vector<StreamValue> items;
    for (qint64 v : values)
        items.push_back(StreamValue::OfInteger(v));
    return StreamValue::OfList(std::move(items));
}

StreamValue reals(std::initializer_list<double> values)
{
    std::vector<StreamValue> items;
    for (double v : values)
        items.push_back(StreamValue::OfDouble(v));
    return StreamValue::OfList(std::move(items));
}

// N integers of 32 bits, or N numbers.
std::optional<std::vector<qint64>> intList(const StreamValue& v, size_t n)
{
    if (v.Type != Kind::List || v.Items.size() != n)
        return std::nullopt;
    std::vector<qint64> out;
    for (const StreamValue& item : v.Items) {
        if (!item.IsInteger() || !inRange<qint32>(item.Integer))
            return std::nullopt;
        out.push_back(item.Integer);
    }
    return out;
}

std::optional<std::vector<double>> realList(const StreamValue& v, size_t n)
{
    if (v.Type != Kind::List || v.Items.size() != n)
        return std::nullopt;
    std::vector<double> out;
    for (const StreamValue& item : v.Items) {
        if (!item.IsNumber())
            return std::nullopt;
        out.push_back(item.ToDouble());
    }
    return out;
}

// ---- Writing ----------------------------------------------------------------

class TreeWriter {
public:
    // Root: the component the stream starts at (links are written relative
    // to it), or null for a collection on its own.
    explicit TreeWriter(const QObject* root)
        : root_(root)
    {
    }

    Object Component(const QObject& object, int depth)
    {
        if (depth > MaxNesting)
            throw EStreamError(QStringLiteral("Cannot stream components nested deeper than %1 levels").arg(MaxNesting));
        Object o;
        o.ClassName = object.metaObject()->className();
        o.Name = object.objectName();
        addProperties(object, QByteArray(), o.Properties, depth);
        for (const QObject* child : object.children()) {
            if (isStreamedChild(*child))
                o.Children.push_back(Component(*child, depth + 1));
        }
        return o;
    }

    StreamValue Collection(const TCollection& collection, int depth)
    {
        StreamValue v;
        v.Type = Kind::Collection;
        for (int i = 0; i < collection.Count(); ++i) {
            std::vector<StreamProperty> item;
            addProperties(*collection.Items(i), QByteArray(), item, depth + 1);
            v.CollectionItems.push_back(std::move(item));
        }
        return v;
    }

private:
    void addProperties(const QObject& object, const QByteArray& prefix, std::vector<StreamProperty>& out, int depth)
    {
        if (depth > MaxNesting)
            throw EStreamError(QStringLiteral("Cannot stream values nested deeper than %1 levels").arg(MaxNesting));
        const QMetaObject* meta = object.metaObject();
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty p = meta->property(i);
            if (!isStreamable(p, object))
                continue;
            const QByteArray name = prefix + p.name();
            if (isObjectPointer(p)) {
                QObject* target = pointee(object, p);
                if (const auto* collection = qobject_cast<const TCollection*>(target)) {
                    out.push_back({name, Collection(*collection, depth + 1)});
                } else if (QObject* sub = subObject(object, p)) {
                    addProperties(*sub, name + '.', out, depth + 1);
                } else if (p.isWritable()) {
                    if (std::optional<StreamValue> link = linkTo(target))
                        out.push_back({name, *link});
                }
                continue;
            }
            if (!p.isWritable())
                continue;
            if (std::optional<StreamValue> v = value(p, p.read(&object)))
                out.push_back({name, std::move(*v)});
        }
    }

    // Nil, or the path of names from the root to the target ("" for the root
    // itself); nothing when the target lies outside the stream.
    std::optional<StreamValue> linkTo(const QObject* target) const
    {
        if (target == nullptr) {
            StreamValue nil;
            nil.Type = Kind::Nil;
            return nil;
        }
        if (root_ == nullptr)
            return std::nullopt;
        QStringList parts;
        for (const QObject* o = target; o != root_; o = o->parent()) {
            if (o == nullptr || !isStreamedChild(*o) || o->objectName().contains(u'.'))
                return std::nullopt;
            parts.prepend(o->objectName());
        }
        const QString path = parts.join(u'.');
        const QByteArray latin1 = path.toLatin1();
        if (QString::fromLatin1(latin1) == path && componentformat::IsIdentifier(latin1, true) && latin1.size() <= 255)
            return StreamValue::OfIdent(path);
        return StreamValue::OfString(path);
    }

    static std::optional<StreamValue> value(const QMetaProperty& p, const QVariant& v)
    {
        if (p.isEnumType())
            return enumValue(p, v);
        const int id = p.metaType().id();
        if (integerRange(id))
            return StreamValue::OfInteger(v.toLongLong());
        if (isUnsigned64(id))
            return StreamValue::OfInteger(qint64(v.toULongLong()));
        switch (id) {
        case QMetaType::Bool:
            return StreamValue::OfBool(v.toBool());
        case QMetaType::Double:
            return StreamValue::OfDouble(v.toDouble());
        case QMetaType::Float:
            return StreamValue::OfSingle(v.toFloat());
        case QMetaType::QString:
            return StreamValue::OfString(v.toString());
        case QMetaType::QByteArray:
            return StreamValue::OfBytes(v.toByteArray());
        case QMetaType::QStringList: {
            std::vector<StreamValue> items;
            for (const QString& s : v.toStringList())
                items.push_back(StreamValue::OfString(s));
            return StreamValue::OfList(std::move(items));
        }
        case QMetaType::QPoint: {
            const QPoint pt = v.toPoint();
            return numbers({pt.x(), pt.y()});
        }
        case QMetaType::QSize: {
            const QSize s = v.toSize();
            return numbers({s.width(), s.height()});
        }
        case QMetaType::QRect: {
            const QRect r = v.toRect();
            return numbers({r.x(), r.y(), r.width(), r.height()});
        }
        case QMetaType::QPointF: {
            const QPointF pt = v.toPointF();
            return reals({pt.x(), pt.y()});
        }
        case QMetaType::QSizeF: {
            const QSizeF s = v.toSizeF();
            return reals({s.width(), s.height()});
        }
        case QMetaType::QRectF: {
            const QRectF r = v.toRectF();
            return reals({r.x(), r.y(), r.width(), r.height()});
        }
        default:
            break;
        }
        if (const std::optional<PropertyTypeCodec> codec = findType(p.metaType()))
            return codec->Write(v);
        return std::nullopt;
    }

    // A key (or a set of keys for flags) when the value has one; the number otherwise.
    static std::optional<StreamValue> enumValue(const QMetaProperty& p, const QVariant& v)
    {
        const std::optional<qint64> bits = enumBits(v);
        if (!bits)
            return std::nullopt;
        const QMetaEnum e = p.enumerator();
        if (e.isValid() && inRange<qint32>(*bits)) {
            if (p.isFlagType()) {
                const QByteArray keys = e.valueToKeys(int(*bits));
                bool ok = false;
                if (keys.isEmpty() ? *bits == 0 : (e.keysToValue(keys.constData(), &ok) == *bits && ok)) {
                    StreamValue set;
                    set.Type = Kind::Set;
                    for (const QByteArray& key : keys.split('|')) {
                        if (!key.isEmpty())
                            set.Items.push_back(StreamValue::OfIdent(QString::fromLatin1(key)));
                    }
                    return set;
                }
            } else if (const char* key = e.valueToKey(int(*bits))) {
                return StreamValue::OfIdent(QString::fromLatin1(key));
            }
        }
        return StreamValue::OfInteger(*bits);
    }

    const QObject* root_;
};

// ---- Reading ----------------------------------------------------------------

class TreeReader {
public:
    // Root: the component links are resolved from, or null.
    explicit TreeReader(QObject* root)
        : root_(root)
    {
    }

    void Component(QObject& object, const Object& node, int depth)
    {
        setName(object, node.Name);
        Properties(object, node.Properties, depth);
        for (const Object& child : node.Children) {
            QObject* existing = FindComponent(&object, child.Name);
            if (existing != nullptr) {
                if (read_.contains(existing))
                    throw EComponentError(QString::fromLatin1(msg::DuplicateName).arg(child.Name));
                if (child.ClassName != existing->metaObject()->className())
                    invalidFormat();
                Component(*existing, child, depth + 1);
                continue;
            }
            const std::optional<ClassEntry> entry = findClass(child.ClassName);
            if (!entry)
                throw EClassNotFound(QString::fromLatin1(msg::ClassNotFound).arg(QString::fromLatin1(child.ClassName)));
            QObject* created = entry->create(&object);
            if (created == nullptr)
                invalidFormat();
            Component(*created, child, depth + 1);
        }
    }

    void Properties(QObject& object, const std::vector<StreamProperty>& properties, int depth)
    {
        for (const StreamProperty& p : properties)
            property(object, p.Name, p.Value, depth + 1);
    }

    void Collection(TCollection& collection, const StreamValue& v, int depth)
    {
        if (v.Type != Kind::Collection)
            invalidValue();
        if (v.CollectionItems.empty())
            return;
        // Built aside, so that a failure leaves the collection as it was.
        std::vector<std::unique_ptr<TCollectionItem>> items;
        for (const std::vector<StreamProperty>& stored : v.CollectionItems) {
            std::unique_ptr<TCollectionItem> item(collection.ItemClass().Create());
            Properties(*item, stored, depth + 1);
            items.push_back(std::move(item));
        }
        collection.Replace(std::move(items));
    }

    // Links are set once everything they may point at exists.
    void ResolveLinks()
    {
        for (const Link& link : links_) {
            if (link.object.isNull())
                continue;
            QObject* target = root_;
            if (!link.path.isEmpty()) {
                for (const QString& part : link.path.split(u'.')) {
                    target = FindComponent(target, part);
                    if (target == nullptr)
                        invalidValue();
                }
            }
            if (!link.property.write(link.object.data(), QVariant::fromValue(target)))
                invalidValue();
        }
    }

private:
    struct Link {
        QPointer<QObject> object;
        QMetaProperty property;
        QString path;
    };

    void setName(QObject& object, const QString& name)
    {
        read_.insert(&object);
        if (auto* component = qobject_cast<TComponent*>(&object)) {
            component->SetName(name);
            return;
        }
        const QObject* existing = FindComponent(object.parent(), name);
        if (existing != nullptr && existing != &object)
            throw EComponentError(QString::fromLatin1(msg::DuplicateName).arg(name));
        object.setObjectName(name);
    }

    void property(QObject& object, const QByteArray& name, const StreamValue& v, int depth)
    {
        const QMetaObject* meta = object.metaObject();
        const qsizetype dot = name.indexOf('.');
        if (dot >= 0) {
            const int index = meta->indexOfProperty(name.left(dot).constData());
            QObject* sub = index < 0 ? nullptr : subObject(object, meta->property(index));
            if (sub == nullptr)
                throw EReadError(QString::fromLatin1(msg::InvalidPropertyPath));
            property(*sub, name.mid(dot + 1), v, depth);
            return;
        }
        const int index = meta->indexOfProperty(name.constData());
        if (index < 0)
            throw EReadError(QString::fromLatin1(msg::UnknownProperty).arg(QString::fromLatin1(name)));
        const QMetaProperty p = meta->property(index);
        if (!isStreamable(p, object))
            invalidValue();
        if (isObjectPointer(p)) {
            pointerProperty(object, p, v, depth);
            return;
        }
        if (!p.isWritable())
            invalidValue();
        const std::optional<QVariant> value = toProperty(p, v);
        if (!value || !p.write(&object, *value))
            invalidValue();
    }

    void pointerProperty(QObject& object, const QMetaProperty& p, const StreamValue& v, int depth)
    {
        if (auto* collection = qobject_cast<TCollection*>(pointee(object, p))) {
            Collection(*collection, v, depth);
            return;
        }
        if (!p.isWritable() || subObject(object, p) != nullptr)
            invalidValue();
        switch (v.Type) {
        case Kind::Nil:
            if (!p.write(&object, QVariant(p.metaType())))
                invalidValue();
            break;
        case Kind::Ident:
        case Kind::WString:
            // A collection read on its own has no components to link to.
            if (root_ == nullptr)
                invalidValue();
            links_.push_back({&object, p, v.Text});
            break;
        default:
            invalidValue();
        }
    }

    static std::optional<QVariant> toProperty(const QMetaProperty& p, const StreamValue& v)
    {
        if (p.isEnumType())
            return toEnum(p, v);
        const QMetaType type = p.metaType();
        const int id = type.id();
        if (const auto range = integerRange(id)) {
            if (!v.IsInteger() || v.Integer < range->first || v.Integer > range->second)
                return std::nullopt;
            QVariant out(QVariant::fromValue(v.Integer));
            return out.convert(type) ? std::optional(out) : std::nullopt;
        }
        if (isUnsigned64(id)) {
            if (!v.IsInteger())
                return std::nullopt;
            QVariant out(QVariant::fromValue(quint64(v.Integer)));
            return out.convert(type) ? std::optional(out) : std::nullopt;
        }
        switch (id) {
        case QMetaType::Bool:
            if (v.Type != Kind::True && v.Type != Kind::False)
                return std::nullopt;
            return QVariant(v.Type == Kind::True);
        case QMetaType::Double:
            return v.IsNumber() ? std::optional(QVariant(v.ToDouble())) : std::nullopt;
        case QMetaType::Float: {
            // A finite double beyond the float range has no float.
            const double d = v.ToDouble();
            if (!v.IsNumber() || (std::isfinite(d) && std::fabs(d) > double(std::numeric_limits<float>::max())))
                return std::nullopt;
            return QVariant(float(d));
        }
        case QMetaType::QString:
            return v.Type == Kind::WString ? std::optional(QVariant(v.Text)) : std::nullopt;
        case QMetaType::QByteArray:
            return v.Type == Kind::Binary ? std::optional(QVariant(v.Bytes)) : std::nullopt;
        case QMetaType::QStringList: {
            if (v.Type != Kind::List)
                return std::nullopt;
            QStringList list;
            for (const StreamValue& item : v.Items) {
                if (item.Type != Kind::WString)
                    return std::nullopt;
                list.append(item.Text);
            }
            return QVariant(list);
        }
        case QMetaType::QPoint:
            if (const auto n = intList(v, 2))
                return QVariant(QPoint(int((*n)[0]), int((*n)[1])));
            return std::nullopt;
        case QMetaType::QSize:
            if (const auto n = intList(v, 2))
                return QVariant(QSize(int((*n)[0]), int((*n)[1])));
            return std::nullopt;
        case QMetaType::QRect:
            if (const auto n = intList(v, 4))
                return QVariant(QRect(int((*n)[0]), int((*n)[1]), int((*n)[2]), int((*n)[3])));
            return std::nullopt;
        case QMetaType::QPointF:
            if (const auto n = realList(v, 2))
                return QVariant(QPointF((*n)[0], (*n)[1]));
            return std::nullopt;
        case QMetaType::QSizeF:
            if (const auto n = realList(v, 2))
                return QVariant(QSizeF((*n)[0], (*n)[1]));
            return std::nullopt;
        case QMetaType::QRectF:
            if (const auto n = realList(v, 4))
                return QVariant(QRectF((*n)[0], (*n)[1], (*n)[2], (*n)[3]));
            return std::nullopt;
        default:
            break;
        }
        if (const std::optional<PropertyTypeCodec> codec = findType(type)) {
            std::optional<QVariant> out = codec->Read(v);
            if (out && out->metaType() != type && !out->convert(type))
                return std::nullopt;
            return out;
        }
        return std::nullopt;
    }

    static std::optional<QVariant> toEnum(const QMetaProperty& p, const StreamValue& v)
    {
        const QMetaEnum e = p.enumerator();
        qint64 bits = 0;
        if (v.IsInteger()) {
            bits = v.Integer;
        } else if (e.isValid() && !p.isFlagType() && v.Type == Kind::Ident) {
            bool ok = false;
            bits = e.keyToValue(v.Text.toLatin1().constData(), &ok);
            if (!ok)
                return std::nullopt;
        } else if (e.isValid() && p.isFlagType() && v.Type == Kind::Set) {
            for (const StreamValue& key : v.Items) {
                bool ok = false;
                bits |= e.keyToValue(key.Text.toLatin1().constData(), &ok);
                if (!ok)
                    return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
        // A plain enumeration holds only the values of its keys: any other
        // value may not even fit the type (its range is that of its keys).
        if (e.isValid() && !p.isFlagType() && (!inRange<qint32>(bits) || e.valueToKey(int(bits)) == nullptr))
            return std::nullopt;
        const qsizetype size = p.metaType().sizeOf();
        if ((size != 1 && size != 2 && size != 4 && size != 8) || !fitsBits(bits, size))
            return std::nullopt;
        QVariant out(p.metaType());
        std::memcpy(out.data(), &bits, size_t(size)); // the low bytes: little-endian
        return out;
    }

    QObject* root_;
    QSet<const QObject*> read_;
    std::vector<Link> links_;
};

} // namespace

// ---- The forms ------------------------------------------------------------

QByteArray ComponentToBinary(const QObject& component)
{
    Root root;
    root.Component = TreeWriter(&component).Component(component, 1);
    return componentformat::Encode(root);
}

std::unique_ptr<QObject> BinaryToComponent(QByteArrayView bytes)
{
    const Root root = componentformat::Decode(bytes, Expect::Component, false);
    const std::optional<ClassEntry> entry = findClass(root.Component.ClassName);
    if (!entry)
        throw EClassNotFound(
            QString::fromLatin1(msg::ClassNotFound).arg(QString::fromLatin1(root.Component.ClassName)));
    std::unique_ptr<QObject> component(entry->create(nullptr));
    if (component == nullptr)
        invalidFormat();
    TreeReader reader(component.get());
    reader.Component(*component, root.Component, 1);
    reader.ResolveLinks();
    return component;
}

void ReadComponentInto(QByteArrayView bytes, QObject& component)
{
    const Root root = componentformat::Decode(bytes, Expect::Component, false);
    if (root.Component.ClassName != component.metaObject()->className())
        invalidFormat();
    TreeReader reader(&component);
    reader.Component(component, root.Component, 1);
    reader.ResolveLinks();
}

QByteArray CollectionToBinary(const TCollection& collection)
{
    Root root;
    root.IsCollection = true;
    root.Collection = TreeWriter(nullptr).Collection(collection, 1);
    return componentformat::Encode(root);
}

qsizetype BinaryToCollection(QByteArrayView bytes, TCollection& collection)
{
    qsizetype consumed = 0;
    const Root root = componentformat::Decode(bytes, Expect::Collection, true, &consumed);
    TreeReader reader(nullptr);
    reader.Collection(collection, root.Collection, 1);
    reader.ResolveLinks();
    return consumed;
}

QString ObjectBinaryToText(QByteArrayView bytes)
{
    return componentformat::ToText(componentformat::Decode(bytes, Expect::Any, false));
}

QByteArray ObjectTextToBinary(const QString& text)
{
    return componentformat::Encode(componentformat::FromText(text));
}

} // namespace velkaro

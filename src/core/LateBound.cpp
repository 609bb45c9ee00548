#include "core/LateBound.h"

#include "core/Exceptions.h"

#include <QStringList>

#include <memory>

namespace velkaro {

namespace {

constexpr int MaxDispArgs = 64;
// The platform has no per-thread locale identifier; the user's default
// (LOCALE_USER_DEFAULT) stands in for it.
constexpr quint32 LocaleUserDefault = 0x0400;

[[noreturn]] void invalidOperation()
{
    throw EVariantError(QString::fromLatin1(msg::InvalidVariantOperation));
}

[[noreturn]] void notSupported()
{
    throw EVariantError(QStringLiteral("Variant method calls not supported"));
}

[[noreturn]] void raiseResult(HRESULT code)
{
    throw EOleException(ResultCodeText(code), code);
}

// The description as laid out at the call site.
struct CallDesc {
    quint8 kind = 0;
    int argCount = 0;
    int namedCount = 0;
    QByteArray argTypes;
    QStringList names; // member first, then the named arguments
};

CallDesc parseCallDesc(const QByteArray& bytes)
{
    if (bytes.size() < 3)
        throw EVariantError(QStringLiteral("Call description too short"));
    CallDesc d;
    d.kind = quint8(bytes[0]);
    d.argCount = quint8(bytes[1]);
    d.namedCount = quint8(bytes[2]);
    if (d.namedCount > d.argCount || bytes.size() < 3 + d.argCount)
        throw EVariantError(QStringLiteral("Malformed call description"));
    d.argTypes = bytes.mid(3, d.argCount);
    qsizetype at = 3 + d.argCount;
    for (int i = 0; i <= d.namedCount; ++i) {
        const qsizetype end = bytes.indexOf('\0', at);
        if (end < 0)
            throw EVariantError(QStringLiteral("Malformed call description"));
        d.names.append(QString::fromUtf8(bytes.constData() + at, end - at));
        at = end + 1;
    }
    return d;
}

// The temporaries that by-reference texts and booleans travel in, written
// back into the caller's variables once the call has succeeded. Each lives
// on the heap so its address stays put while the argument list refers to it.
struct WriteBack {
    QString* wide = nullptr;
    QByteArray* narrow = nullptr;
    bool* flag = nullptr;
    std::unique_ptr<QString> text;
    std::unique_ptr<qint16> boolean;
};

// One argument of a call, with what its type byte needs of the caller's
// storage.
class ArgumentReader {
public:
    ArgumentReader(const CallDesc& desc, int index)
        : desc_(desc)
        , index_(index)
    {
    }

    template <class T> const T& Readable(const CallArg& arg) const
    {
        const T* p = arg.Readable<T>();
        if (p == nullptr)
            mismatch();
        return *p;
    }

    template <class T> T& Writable(const CallArg& arg) const
    {
        T* p = arg.Writable<T>();
        if (p != nullptr)
            return *p;
        if (arg.Readable<T>() == nullptr)
            mismatch();
        throw EVariantError(QStringLiteral("Argument %1 of %2 is passed by reference and needs a variable, not a "
                                           "constant")
                                .arg(QString::number(index_ + 1), desc_.names.first()));
    }

private:
    [[noreturn]] void mismatch() const
    {
        throw EVariantError(QStringLiteral("Argument %1 of %2 is not held in the storage its type byte %3 needs")
                                .arg(QString::number(index_ + 1), desc_.names.first(),
                                    QStringLiteral("%1").arg(quint8(desc_.argTypes[index_]), 2, 16, QLatin1Char('0'))));
    }

    const CallDesc& desc_;
    int index_;
};

Variant convertArgument(const CallDesc& desc, int index, const CallArg& arg, std::vector<WriteBack>& writeBacks)
{
    const quint8 typeByte = quint8(desc.argTypes[index]);
    const bool byRef = (typeByte & atByRef) != 0;
    const quint8 code = typeByte & atTypeMask;
    const ArgumentReader reader(desc, index);

    if (code == varUStrArg || code == varStrArg) {
        if (!byRef) {
            return code == varUStrArg ? Variant(reader.Readable<QString>(arg))
                                      : Variant(QString::fromUtf8(reader.Readable<QByteArray>(arg)));
        }
        WriteBack w;
        if (code == varUStrArg) {
            w.wide = &reader.Writable<QString>(arg);
            w.text = std::make_unique<QString>(*w.wide);
        } else {
            w.narrow = &reader.Writable<QByteArray>(arg);
            w.text = std::make_unique<QString>(QString::fromUtf8(*w.narrow));
        }
        return Variant::ByRef(varOleStr, writeBacks.emplace_back(std::move(w)).text.get());
    }

    if (byRef) {
        if (code == varBoolean) {
            WriteBack w;
            w.flag = &reader.Writable<bool>(arg);
            w.boolean = std::make_unique<qint16>(*w.flag ? VariantTrue : VariantFalse);
            return Variant::ByRef(varBoolean, writeBacks.emplace_back(std::move(w)).boolean.get());
        }
        // Everything else refers to the caller's own storage, interfaces
        // (0x400D) and variants (0x400C) included; a variant here holds only
        // wide text, so it needs no conversion first.
        return VisitRefStorage(code, [&]<class T>() {
            if constexpr (std::is_same_v<T, NoStorage>)
                return Variant::ByRef(code, static_cast<NoStorage*>(nullptr));
            else
                return Variant::ByRef(code, &reader.Writable<T>(arg));
        });
    }

    switch (code) {
    case varEmpty:
        return Variant();
    case varNull:
        return Variant::Null();
    case varBoolean:
        return Variant(reader.Readable<bool>(arg));
    case varError:
        return Variant::FromError(ResultCode::ParamNotFound);
    case varSmallint:
    case varInteger:
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate:
    case varOleStr:
    case varDispatch:
    case varVariant:
    case varUnknown:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
        return VisitRefStorage(code, [&]<class T>() {
            if constexpr (std::is_same_v<T, NoStorage>)
                return Variant();
            else
                return Variant::FromStorage(code, reader.Readable<T>(arg));
        });
    default:
        notSupported();
    }
}

// An object or interface reference, held directly, by reference, or in a
// variant held by reference.
bool isObjectReference(const Variant& v)
{
    VarType type = VarType(v.VType() & ~varByRef);
    if (type == varVariant)
        type = v.Deref().VType();
    return type == varDispatch || type == varUnknown;
}

// The object's description without the blanks, control characters and full
// stops it tends to end with.
QString trimDescription(QString text)
{
    qsizetype n = text.size();
    while (n > 0 && (text[n - 1].unicode() <= 32 || text[n - 1] == u'.'))
        --n;
    text.truncate(n);
    return text;
}

} // namespace

QByteArray MakeCallDesc(
    quint8 callKind, const QByteArray& argTypes, const QByteArray& member, const QList<QByteArray>& namedArgs)
{
    if (argTypes.size() > 255 || namedArgs.size() > 255)
        throw EVariantError(QStringLiteral("A call description holds at most 255 arguments"));
    QByteArray d;
    d.append(char(callKind));
    d.append(char(argTypes.size()));
    d.append(char(namedArgs.size()));
    d.append(argTypes);
    d.append(member);
    d.append('\0');
    for (const QByteArray& name : namedArgs) {
        d.append(name);
        d.append('\0');
    }
    return d;
}

Variant DispatchInvoke(
    const Variant& target, const QByteArray& callDesc, std::initializer_list<CallArg> args, bool wantResult)
{
    return DispatchInvoke(target, callDesc, std::span<const CallArg>(args.begin(), args.size()), wantResult);
}

Variant DispatchInvoke(
    const Variant& target, const QByteArray& callDesc, std::span<const CallArg> args, bool wantResult)
{
    // 1. The object behind the target.
    const Variant object = target.Deref();
    if (object.IsEmpty() || object.IsNull())
        invalidOperation();
    if (object.BaseType() != varDispatch || object.IsArray())
        throw EOleError(QStringLiteral("Variant does not reference an automation object"));
    const DispatchRef dispatch = object.Dispatch();
    if (!dispatch)
        invalidOperation();
    const CallDesc desc = parseCallDesc(callDesc);
    if (desc.argCount > MaxDispArgs)
        throw EOleError(QStringLiteral("Dispatch methods do not support more than 64 parameters"));
    if (qsizetype(args.size()) != desc.argCount)
        throw EVariantError(QStringLiteral("The call of %1 describes %2 arguments but has %3")
                                .arg(desc.names.first(), QString::number(desc.argCount), QString::number(args.size())));

    // 2. Identifiers of the member and the named arguments, in one request.
    std::vector<qint32> dispIds;
    HRESULT code = dispatch->GetIDsOfNames(desc.names, LocaleUserDefault, dispIds);
    if (code == ResultCode::UnknownName)
        throw EOleError(QStringLiteral("Method '%1' not supported by automation object").arg(desc.names.first()));
    if (code != ResultCode::Ok)
        raiseResult(code);
    if (qsizetype(dispIds.size()) != desc.names.size())
        raiseResult(ResultCode::UnknownName);

    // 3. The arguments, last argument first.
    DispParams params;
    std::vector<WriteBack> writeBacks;
    writeBacks.reserve(size_t(desc.argCount));
    params.args.reserve(size_t(desc.argCount));
    for (int i = desc.argCount - 1; i >= 0; --i)
        params.args.push_back(convertArgument(desc, i, args[size_t(i)], writeBacks));

    // 4. The invoke kind.
    quint16 kind = desc.kind;
    if (kind == DispatchKind::Method && desc.argCount == 0 && wantResult)
        kind = DispatchKind::Method | DispatchKind::PropertyGet;
    if (kind == DispatchKind::PropertyPut || kind == DispatchKind::PropertyPutRef) {
        kind = !params.args.empty() && isObjectReference(params.args.front()) ? DispatchKind::PropertyPutRef
                                                                              : DispatchKind::PropertyPut;
        params.namedArgs.push_back(DispIdPropertyPut);
    }
    params.namedArgs.insert(params.namedArgs.end(), dispIds.begin() + 1, dispIds.end());

    // 5. The invoke.
    Variant result;
    ExcepInfo excepInfo;
    code = dispatch->Invoke(dispIds.front(), 0, kind, params, wantResult ? &result : nullptr, &excepInfo);

    // 6. Errors.
    if (code == ResultCode::ExceptionOccurred) {
        const QString description = trimDescription(excepInfo.description);
        if (!description.isEmpty())
            throw EOleException(description, excepInfo.code);
        raiseResult(excepInfo.code != 0 ? excepInfo.code : code);
    }
    if (code != ResultCode::Ok)
        raiseResult(code);

    // 7. By-reference texts and booleans back into the caller's variables.
    for (const WriteBack& w : writeBacks) {
        if (w.wide != nullptr)
            *w.wide = *w.text;
        else if (w.narrow != nullptr)
            *w.narrow = w.text->toUtf8();
        else
            *w.flag = *w.boolean != 0;
    }
    return result;
}

} // namespace velkaro

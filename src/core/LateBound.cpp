#include "core/LateBound.h"

#include "core/Exceptions.h"

#include <QStringList>

#include <memory>

namespace velkaro {

namespace {

constexpr int MaxDispArgs = 64;
// The platform has no per-thread locale identifier; the user's default
// stands in for it.
constexpr quint32 LOCALE_USER_DEFAULT = 0x0400;

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
    quint8 type;
    void* callerStorage;
    std::unique_ptr<QString> text;
    std::unique_ptr<qint16> boolean;
};

Variant convertArgument(quint8 typeByte, void* p, std::vector<WriteBack>& writeBacks)
{
    const bool byRef = (typeByte & atByRef) != 0;
    const quint8 code = typeByte & atTypeMask;

    if (code == varUStrArg || code == varStrArg) {
        QString text = code == varUStrArg ? *static_cast<const QString*>(p)
                                          : QString::fromUtf8(*static_cast<const QByteArray*>(p));
        if (!byRef)
            return Variant(text);
        WriteBack& w = writeBacks.emplace_back(WriteBack {code, p, std::make_unique<QString>(std::move(text)), {}});
        return Variant::ByRef(varOleStr, w.text.get());
    }

    if (byRef) {
        if (code == varBoolean) {
            const qint16 value = *static_cast<const bool*>(p) ? VariantTrue : VariantFalse;
            WriteBack& w = writeBacks.emplace_back(WriteBack {code, p, {}, std::make_unique<qint16>(value)});
            return Variant::ByRef(varBoolean, w.boolean.get());
        }
        // Unknown interfaces are dispatch references in this system. A
        // variant by reference (0x400C) needs no text conversion: a variant
        // here holds only wide text.
        if (code == varUnknown)
            return Variant::ByRef(varDispatch, p);
        return Variant::ByRef(code, p);
    }

    switch (code) {
    case varEmpty:
        return Variant();
    case varNull:
        return Variant::Null();
    case varBoolean:
        return Variant(*static_cast<const bool*>(p));
    case varError:
        return Variant::FromError(DISP_E_PARAMNOTFOUND);
    case varVariant:
        return *static_cast<const Variant*>(p);
    // Unknown interfaces are dispatch references in this system.
    case varUnknown:
        return Variant(*static_cast<const DispatchRef*>(p));
    case varSmallint:
    case varInteger:
    case varSingle:
    case varDouble:
    case varCurrency:
    case varDate:
    case varOleStr:
    case varDispatch:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
        return Variant::ByRef(code, p).Deref();
    default:
        notSupported();
    }
}

bool isObjectReference(const Variant& v)
{
    const VarType base = v.IsByRef() ? v.Deref().BaseType() : v.BaseType();
    return base == varDispatch || base == varUnknown;
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
    HRESULT hr = dispatch->GetIDsOfNames(desc.names, LOCALE_USER_DEFAULT, dispIds);
    if (hr == DISP_E_UNKNOWNNAME)
        throw EOleError(QStringLiteral("Method '%1' not supported by automation object").arg(desc.names.first()));
    if (hr != S_OK)
        raiseResult(hr);
    if (qsizetype(dispIds.size()) != desc.names.size())
        raiseResult(DISP_E_UNKNOWNNAME);

    // 3. The arguments, last argument first.
    DispParams params;
    std::vector<WriteBack> writeBacks;
    writeBacks.reserve(size_t(desc.argCount));
    params.args.reserve(size_t(desc.argCount));
    for (int i = desc.argCount - 1; i >= 0; --i)
        params.args.push_back(convertArgument(quint8(desc.argTypes[i]), args[size_t(i)].data, writeBacks));

    // 4. The invoke kind.
    quint16 kind = desc.kind;
    if (kind == DISPATCH_METHOD && desc.argCount == 0 && wantResult)
        kind = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    if (kind == DISPATCH_PROPERTYPUT || kind == DISPATCH_PROPERTYPUTREF) {
        kind = !params.args.empty() && isObjectReference(params.args.front()) ? DISPATCH_PROPERTYPUTREF
                                                                              : DISPATCH_PROPERTYPUT;
        params.namedArgs.push_back(DISPID_PROPERTYPUT);
    }
    params.namedArgs.insert(params.namedArgs.end(), dispIds.begin() + 1, dispIds.end());

    // 5. The invoke.
    Variant result;
    ExcepInfo excepInfo;
    hr = dispatch->Invoke(dispIds.front(), 0, kind, params, wantResult ? &result : nullptr, &excepInfo);

    // 6. Errors.
    if (hr == DISP_E_EXCEPTION) {
        const QString description = trimDescription(excepInfo.description);
        if (!description.isEmpty())
            throw EOleException(description, excepInfo.code);
        raiseResult(excepInfo.code != 0 ? excepInfo.code : hr);
    }
    if (hr != S_OK)
        raiseResult(hr);

    // 7. By-reference texts and booleans back into the caller's variables.
    for (const WriteBack& w : writeBacks) {
        if (w.type == varUStrArg)
            *static_cast<QString*>(w.callerStorage) = *w.text;
        else if (w.type == varStrArg)
            *static_cast<QByteArray*>(w.callerStorage) = w.text->toUtf8();
        else
            *static_cast<bool*>(w.callerStorage) = *w.boolean != 0;
    }
    return result;
}

} // namespace velkaro

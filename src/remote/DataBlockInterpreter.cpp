#include "remote/DataBlockInterpreter.h"

#include "remote/RemoteErrors.h"

#include <QDebug>

#include <algorithm>
#include <tuple>

namespace velkaro {

namespace {

// The object list starts with this many slots and grows by as many.
constexpr qsizetype DispListStep = 11;

// The name space of the class identifiers derived from ProgIDs.
const QUuid ProgIDNamespace = QUuid::fromString(QStringLiteral("{6F0C5C1E-3D6B-4B8E-9B1A-2A4C8E5D7F10}"));

[[noreturn]] void fail(const QString& text)
{
    throw EInterpreterError(text);
}

// Local storage for an argument the other side sent by reference: the
// object called may change it, and its new value goes back in the reply.
// One place of each storage type a by-reference variant can point at.
struct ArgumentPlace {
    std::tuple<Variant, QString, DispatchRef, qint8, quint8, qint16, quint16, qint32, quint32, qint64, quint64, float,
        double>
        storage;
};

// The arguments of a call being served. They live until its reply has gone:
// releasing an object the other side handed over sends a request of its
// own, and that comes after the reply.
struct ServedArguments {
    std::vector<ArgumentPlace> places;
    DispParams params;
};

// A reference of the value's own type to a local copy of it. Objects, and
// values that have no storage of their own type, go as a variant held by
// reference, the one form the encoding can send back for them.
Variant referTo(const Variant& value, ArgumentPlace& place)
{
    const VarType type = value.VType();
    Variant ref = VisitRefStorage(type, [&]<class S>() {
        if constexpr (std::is_same_v<S, NoStorage> || std::is_same_v<S, DispatchRef> || std::is_same_v<S, InterfaceRef>)
            return Variant::ByRef(varVariant, &std::get<Variant>(place.storage));
        else
            return Variant::ByRef(type, &std::get<S>(place.storage));
    });
    ref.StoreThroughRef(value);
    return ref;
}

QString errorText(const std::exception& e)
{
    if (const auto* error = dynamic_cast<const Exception*>(&e))
        return error->Message();
    return QString::fromUtf8(e.what());
}

} // namespace

// ---- TClassRegistry --------------------------------------------------------

void TClassRegistry::Register(TRegisteredClass cls)
{
    if (cls.ProgID.isEmpty() || !cls.Factory)
        throw EInvalidOperation(QStringLiteral("A class needs a name and a factory to be registered"));
    if (cls.ClassID.isNull())
        cls.ClassID = QUuid::createUuidV5(ProgIDNamespace, cls.ProgID);
    if (FindByProgID(cls.ProgID) != nullptr || FindByClassID(cls.ClassID) != nullptr)
        throw EInvalidOperation(QStringLiteral("The class %1 is already registered").arg(cls.ProgID));
    classes_.push_back(std::move(cls));
}

const TRegisteredClass* TClassRegistry::FindByProgID(const QString& progID) const
{
    for (const TRegisteredClass& c : classes_) {
        if (c.ProgID.compare(progID, Qt::CaseInsensitive) == 0)
            return &c;
    }
    return nullptr;
}

const TRegisteredClass* TClassRegistry::FindByClassID(const QUuid& classID) const
{
    for (const TRegisteredClass& c : classes_) {
        if (c.ClassID == classID)
            return &c;
    }
    return nullptr;
}

QString TClassRegistry::ClassIDText(const QUuid& classID)
{
    return classID.toString(QUuid::WithBraces).toUpper();
}

// ---- TDataDispatch ---------------------------------------------------------

TDataDispatch::TDataDispatch(TDataBlockInterpreter* interpreter, qint32 dispatchIndex)
    : interpreter_(interpreter)
    , dispatchIndex_(dispatchIndex)
{
    if (interpreter_ != nullptr)
        interpreter_->AddDispatch(this);
}

TDataDispatch::~TDataDispatch()
{
    if (interpreter_ == nullptr)
        return;
    TDataBlockInterpreter* interpreter = interpreter_;
    try {
        interpreter->CallFreeObject(dispatchIndex_);
    } catch (...) {
        interpreter->ReportReleaseError(std::current_exception());
    }
    interpreter->RemoveDispatch(this);
}

TDataBlockInterpreter& TDataDispatch::attached() const
{
    if (interpreter_ == nullptr)
        throw EVariantError(QString::fromLatin1(msg::InvalidVariantOperation));
    return *interpreter_;
}

HRESULT TDataDispatch::GetTypeInfoCount(quint32* count)
{
    *count = 0;
    return ResultCode::Ok;
}

HRESULT TDataDispatch::GetTypeInfo(quint32, quint32)
{
    return ResultCode::NotImplemented;
}

HRESULT TDataDispatch::GetIDsOfNames(const QStringList& names, quint32, std::vector<qint32>& dispIds)
{
    return attached().CallGetIDsOfNames(dispatchIndex_, names, dispIds);
}

HRESULT TDataDispatch::Invoke(
    qint32 dispId, quint32, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo)
{
    return attached().CallInvoke(dispatchIndex_, dispId, flags, params, result, excepInfo);
}

// ---- TDataBlockInterpreter -------------------------------------------------

TDataBlockInterpreter::TDataBlockInterpreter(
    ISendDataBlock& sendDataBlock, const TClassRegistry* registry, QString checkRegValue)
    : sendDataBlock_(sendDataBlock)
    , registry_(registry)
    , checkRegValue_(std::move(checkRegValue))
{
}

TDataBlockInterpreter::~TDataBlockInterpreter()
{
    for (TDataDispatch* proxy : proxies_)
        proxy->interpreter_ = nullptr;
    proxies_.clear();
    // Objects of the list may hold proxies; those are detached now.
    std::vector<DispatchRef> objects = std::move(FDispList);
}

// ---- outgoing requests ----

DataBlockRef TDataBlockInterpreter::newRequest(qint32 action) const
{
    return TDataBlock::Create(CallSig | action);
}

DataBlockRef TDataBlockInterpreter::sendWaiting(const DataBlockRef& request)
{
    DataBlockRef reply = sendDataBlock_.Send(request, true);
    if (!reply)
        fail(QString::fromLatin1(msg::NoReturnValue));
    if ((reply->GetSignature() & asMask) == asError)
        InterpretData(reply);
    return reply;
}

void TDataBlockInterpreter::writeValue(const Variant& value, IDataBlock& block)
{
    WriteVariant(value, block, *this);
}

Variant TDataBlockInterpreter::readValue(IDataBlock& block)
{
    TVarFlags flags;
    return ReadVariant(flags, block, *this);
}

qint32 TDataBlockInterpreter::readInt(IDataBlock& block)
{
    const Variant value = readValue(block);
    try {
        return value.ToInt();
    } catch (const EVariantError& e) {
        throw EInterpreterError(e.Message());
    }
}

Variant TDataBlockInterpreter::CallCreateObject(const QString& name)
{
    const DataBlockRef request = newRequest(asCreateObject);
    writeValue(Variant(name), *request);
    const DataBlockRef reply = sendWaiting(request);
    return readValue(*reply);
}

HRESULT TDataBlockInterpreter::CallGetIDsOfNames(
    qint32 dispatchIndex, const QStringList& names, std::vector<qint32>& dispIds)
{
    if (names.size() != 1)
        return ResultCode::NotImplemented;
    const DataBlockRef request = newRequest(asGetID);
    writeValue(Variant(int(dispatchIndex)), *request);
    writeValue(Variant(names.first()), *request);
    const DataBlockRef reply = sendWaiting(request);
    const HRESULT result = readInt(*reply);
    if (result == ResultCode::Ok)
        dispIds.assign(1, readInt(*reply));
    return result;
}

HRESULT TDataBlockInterpreter::CallInvoke(
    qint32 dispatchIndex, qint32 dispId, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo)
{
    const DataBlockRef request = newRequest(asInvoke);
    IDataBlock& out = *request;
    writeValue(Variant(int(dispatchIndex)), out);
    writeValue(Variant(int(dispId)), out);
    writeValue(Variant(int(flags)), out);
    writeValue(Variant(result != nullptr), out);
    writeValue(Variant(int(params.args.size())), out);
    writeValue(Variant(int(params.namedArgs.size())), out);
    for (qint32 id : params.namedArgs)
        writeValue(Variant(int(id)), out);
    for (const Variant& arg : params.args)
        writeValue(arg, out);

    const DataBlockRef reply = sendWaiting(request);
    IDataBlock& in = *reply;
    const HRESULT code = readInt(in);
    if (code == ResultCode::ExceptionOccurred) {
        const qint32 errorCode = readInt(in);
        const QString description = readValue(in).ToString();
        if (excepInfo != nullptr) {
            *excepInfo = ExcepInfo();
            excepInfo->code = errorCode;
            excepInfo->description = description;
        }
    }
    for (Variant& arg : params.args) {
        if (!arg.IsByRef())
            continue;
        if (in.Unread().isEmpty())
            break;
        const Variant value = readValue(in);
        try {
            arg.StoreThroughRef(value);
        } catch (const EVariantError& e) {
            throw EInterpreterError(e.Message());
        }
    }
    if (result != nullptr)
        *result = readValue(in);
    return code;
}

void TDataBlockInterpreter::CallFreeObject(qint32 dispatchIndex)
{
    const DataBlockRef request = newRequest(asFreeObject);
    writeValue(Variant(int(dispatchIndex)), *request);
    sendDataBlock_.Send(request, false);
}

Variant TDataBlockInterpreter::CallGetServerList()
{
    const DataBlockRef reply = sendWaiting(newRequest(asGetAppServers));
    return readValue(*reply);
}

// ---- incoming blocks ----

void TDataBlockInterpreter::InterpretData(const DataBlockRef& block)
{
    const qint32 signature = block->GetSignature();
    const qint32 action = signature & asMask;
    if (action == asError)
        throw Exception(readValue(*block).ToString());
    if ((signature & KindMask) == ResultSig)
        fail(QStringLiteral("A reply arrived that no request waits for (action %1)").arg(action));

    bool answer = action != asFreeObject;
    std::shared_ptr<void> arguments;
    try {
        switch (action) {
        case asInvoke:
            arguments = doInvoke(*block);
            break;
        case asGetID:
            doGetID(*block);
            break;
        case asCreateObject:
            doCreateObject(*block);
            break;
        case asFreeObject:
            doFreeObject(*block);
            break;
        case asGetServers:
            doGetServers(*block, false);
            break;
        case asGetAppServers:
            doGetServers(*block, true);
            break;
        default:
            fail(QString::fromLatin1(msg::InvalidAction).arg(action));
        }
    } catch (const std::exception& e) {
        block->Clear();
        block->SetSignature(ResultSig | asError);
        writeValue(Variant(errorText(e)), *block);
        answer = true;
    }
    if (answer)
        sendDataBlock_.Send(block, false);
}

std::shared_ptr<void> TDataBlockInterpreter::doInvoke(IDataBlock& block)
{
    const qint32 index = readInt(block);
    const qint32 dispId = readInt(block);
    const qint32 kind = readInt(block);
    const bool wantResult = readValue(block).ToBool();
    const qint32 argCount = readInt(block);
    const qint32 namedCount = readInt(block);
    // Each named identifier and each argument takes a tag at the least.
    if (argCount < 0 || namedCount < 0 || namedCount > argCount
        || qint64(argCount) + namedCount > block.Unread().size() / 4) {
        fail(QStringLiteral("A call with %1 arguments, %2 of them named, does not fit in its request")
                 .arg(QString::number(argCount), QString::number(namedCount)));
    }
    const auto arguments = std::make_shared<ServedArguments>();
    DispParams& params = arguments->params;
    params.namedArgs.reserve(size_t(namedCount));
    for (qint32 i = 0; i < namedCount; ++i)
        params.namedArgs.push_back(readInt(block));
    arguments->places.resize(size_t(argCount));
    params.args.reserve(size_t(argCount));
    for (ArgumentPlace& place : arguments->places) {
        TVarFlags flags;
        const Variant arg = ReadVariant(flags, block, *this);
        if (flags.Contains(vfVariant)) {
            Variant& local = std::get<Variant>(place.storage);
            local = arg;
            params.args.push_back(Variant::ByRef(varVariant, &local));
        } else if (flags.Contains(vfByRef)) {
            params.args.push_back(referTo(arg, place));
        } else {
            params.args.push_back(arg);
        }
    }

    const DispatchRef object = LockObject(index);
    Variant result;
    ExcepInfo excepInfo;
    const HRESULT code = object->Invoke(dispId, 0, quint16(kind), params, &result, &excepInfo);

    block.Clear();
    block.SetSignature(ResultSig | asInvoke);
    writeValue(Variant(int(code)), block);
    if (code == ResultCode::ExceptionOccurred) {
        writeValue(Variant(int(excepInfo.code)), block);
        writeValue(Variant(excepInfo.description), block);
    }
    for (const Variant& arg : params.args) {
        if (arg.IsByRef())
            writeValue(arg, block);
    }
    if (wantResult)
        writeValue(result, block);
    return arguments;
}

void TDataBlockInterpreter::doGetID(IDataBlock& block)
{
    const qint32 index = readInt(block);
    const QString name = readValue(block).ToString();
    const DispatchRef object = LockObject(index);
    std::vector<qint32> ids;
    HRESULT code = object->GetIDsOfNames(QStringList {name}, 0, ids);
    if (code == ResultCode::Ok && ids.empty())
        code = ResultCode::UnknownName;
    block.Clear();
    block.SetSignature(ResultSig | asGetID);
    writeValue(Variant(int(code)), block);
    if (code == ResultCode::Ok)
        writeValue(Variant(int(ids.front())), block);
}

const TRegisteredClass& TDataBlockInterpreter::creatableClass(const QString& name) const
{
    const TRegisteredClass* cls = nullptr;
    QString id = name;
    if (name.startsWith(u'{') && name.endsWith(u'}')) {
        const QUuid classID = QUuid::fromString(name);
        if (!classID.isNull()) {
            id = TClassRegistry::ClassIDText(classID);
            cls = registry_ != nullptr ? registry_->FindByClassID(classID) : nullptr;
        }
    } else if (registry_ != nullptr) {
        cls = registry_->FindByProgID(name);
        if (cls != nullptr)
            id = TClassRegistry::ClassIDText(cls->ClassID);
    }
    if (cls == nullptr || cls->Values.value(checkRegValue_) != QStringLiteral("1"))
        fail(QString::fromLatin1(msg::ObjectNotAvailable).arg(id));
    return *cls;
}

void TDataBlockInterpreter::doCreateObject(IDataBlock& block)
{
    const TRegisteredClass& cls = creatableClass(readValue(block).ToString());
    const DispatchRef object = cls.Factory();
    if (!object)
        fail(QString::fromLatin1(msg::ObjectNotAvailable).arg(TClassRegistry::ClassIDText(cls.ClassID)));
    block.Clear();
    block.SetSignature(ResultSig | asCreateObject);
    writeValue(Variant(object), block);
}

void TDataBlockInterpreter::doFreeObject(IDataBlock& block)
{
    // A release that cannot be done is not reported: nobody waits for it.
    try {
        ReleaseObject(readInt(block));
    } catch (const Exception&) {
    }
}

void TDataBlockInterpreter::doGetServers(IDataBlock& block, bool appServersOnly)
{
    QStringList names;
    if (registry_ != nullptr) {
        for (const TRegisteredClass& c : registry_->Classes()) {
            if (c.Values.value(checkRegValue_) == QStringLiteral("1") && (c.AppServer || !appServersOnly))
                names.append(c.ProgID);
        }
    }
    Variant list = Variant::Null();
    if (!names.isEmpty()) {
        SafeArray array(varOleStr, {ArrayBound {0, qint32(names.size() - 1)}});
        for (qsizetype i = 0; i < names.size(); ++i)
            array.SetElement(i, Variant(names[i]));
        list = Variant(std::move(array));
    }
    const qint32 action = block.GetSignature() & asMask;
    block.Clear();
    block.SetSignature(ResultSig | action);
    writeValue(list, block);
}

// ---- the object list ----

qint32 TDataBlockInterpreter::StoreObject(const DispatchRef& object)
{
    if (!object)
        fail(QStringLiteral("A reference to no object cannot be sent"));
    if (FDispList.empty())
        FDispList.resize(DispListStep);
    const auto empty = std::find(FDispList.begin(), FDispList.end(), nullptr);
    if (empty != FDispList.end()) {
        *empty = object;
        return qint32(empty - FDispList.begin());
    }
    const qsizetype first = qsizetype(FDispList.size());
    FDispList.resize(size_t(first + DispListStep));
    FDispList[size_t(first)] = object;
    return qint32(first);
}

DispatchRef TDataBlockInterpreter::LockObject(qint32 dispatchIndex) const
{
    if (dispatchIndex < 0 || size_t(dispatchIndex) >= FDispList.size())
        fail(QStringLiteral("Variant or safe array index out of bounds"));
    const DispatchRef& object = FDispList[size_t(dispatchIndex)];
    if (!object)
        fail(QStringLiteral("No object is held at dispatch index %1").arg(dispatchIndex));
    return object;
}

void TDataBlockInterpreter::ReleaseObject(qint32 dispatchIndex)
{
    if (dispatchIndex < 0 || size_t(dispatchIndex) >= FDispList.size())
        return;
    // The object may be a proxy whose release sends a request: the slot is
    // empty before that happens.
    const DispatchRef released = std::move(FDispList[size_t(dispatchIndex)]);
    FDispList[size_t(dispatchIndex)] = nullptr;
}

DispatchRef TDataBlockInterpreter::MakeProxy(qint32 dispatchIndex)
{
    return std::make_shared<TDataDispatch>(this, dispatchIndex);
}

void TDataBlockInterpreter::AddDispatch(TDataDispatch* proxy)
{
    proxies_.insert(proxy);
}

void TDataBlockInterpreter::RemoveDispatch(TDataDispatch* proxy)
{
    proxies_.erase(proxy);
    proxy->interpreter_ = nullptr;
}

void TDataBlockInterpreter::SetReleaseErrorHandler(std::function<void(std::exception_ptr)> handler)
{
    releaseErrorHandler_ = std::move(handler);
}

void TDataBlockInterpreter::ReportReleaseError(std::exception_ptr error) const
{
    if (releaseErrorHandler_) {
        releaseErrorHandler_(error);
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        qWarning().noquote() << "Releasing a remote object failed:" << errorText(e);
    } catch (...) {
        qWarning().noquote() << "Releasing a remote object failed";
    }
}

} // namespace velkaro

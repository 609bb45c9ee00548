// Data blocks of the application-server link: any bytes, read as a payload
// of values or served as a request, either work or raise the link's errors.
// A value that was read must encode to bytes that read back to the same
// encoding.
#include "remote/DataBlockInterpreter.h"
#include "remote/RemoteErrors.h"
#include "remote/VariantCodec.h"

#include <QByteArray>

namespace {

using namespace velkaro;

class Anything : public IDispatch {
public:
    HRESULT GetIDsOfNames(const QStringList& names, quint32, std::vector<qint32>& dispIds) override
    {
        dispIds.assign(size_t(names.size()), 1);
        return ResultCode::Ok;
    }
    HRESULT Invoke(qint32, quint32, quint16, DispParams& params, Variant* result, ExcepInfo*) override
    {
        if (result != nullptr && !params.args.empty())
            *result = params.args.front().Deref();
        return ResultCode::Ok;
    }
};

// Object references that keep their index both ways, so encodings compare.
class SameIndex : public IObjectReferences {
public:
    class Proxy : public Anything {
    public:
        explicit Proxy(qint32 index)
            : index(index)
        {
        }
        qint32 index;
    };
    qint32 StoreObject(const DispatchRef& object) override
    {
        const auto* proxy = dynamic_cast<const Proxy*>(object.get());
        return proxy != nullptr ? proxy->index : -1;
    }
    DispatchRef MakeProxy(qint32 index) override { return std::make_shared<Proxy>(index); }
};

class NowhereLink : public ISendDataBlock {
public:
    DataBlockRef Send(const DataBlockRef& block, bool) override
    {
        sent += block->GetStream().size();
        return nullptr;
    }
    qint64 sent = 0;
};

QByteArray encode(const Variant& value, IObjectReferences& objects)
{
    const DataBlockRef block = TDataBlock::Create();
    WriteVariant(value, *block, objects);
    return block->GetStream().mid(8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // Values back to back, as in a reply.
    SameIndex objects;
    const DataBlockRef payload = TDataBlock::Create(ResultSig | asInvoke);
    payload->WriteBytes(bytes);
    try {
        while (!payload->Unread().isEmpty()) {
            TVarFlags flags;
            const Variant value = ReadVariant(flags, *payload, objects);
            QByteArray first;
            try {
                first = encode(value, objects);
            } catch (const EInterpreterError&) {
                __builtin_trap(); // every value read can be sent back
            }
            const DataBlockRef again = TDataBlock::Create();
            again->WriteBytes(first);
            const Variant back = ReadVariant(flags, *again, objects);
            if (!again->Unread().isEmpty() || encode(back, objects) != first)
                __builtin_trap();
        }
    } catch (const EInterpreterError&) {
    }

    // The same bytes as a whole block served by an interpreter.
    if (size >= 8) {
        TClassRegistry registry;
        registry.Register({QStringLiteral("A.B"), {}, {{QStringLiteral("Sockets"), QStringLiteral("1")}}, true,
            [] { return std::make_shared<Anything>(); }});
        NowhereLink link;
        TDataBlockInterpreter interpreter(link, &registry);
        interpreter.StoreObject(std::make_shared<Anything>());
        try {
            interpreter.InterpretData(TDataBlock::FromBytes(bytes, false));
        } catch (const Exception&) {
        }
    }
    return 0;
}

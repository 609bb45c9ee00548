#pragma once
// Helpers shared by the tests of the application-server link.

#include "core/Bytes.h"
#include "core/Dispatch.h"
#include "remote/DataBlock.h"
#include "remote/VariantCodec.h"
#include "support/Fixtures.h"

#include <QByteArray>

#include <vector>

namespace velkaro::testing {

// UTF-16LE bytes of a text, as texts travel on the link.
inline QByteArray Utf16(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

// A block whose payload is exactly these bytes (buffer as long as the data).
inline DataBlockRef PayloadBlock(const QByteArray& payload, qint32 signature = 0xDB02)
{
    const DataBlockRef block = TDataBlock::Create(signature);
    block->WriteBytes(payload);
    return block;
}

inline QByteArray Payload(IDataBlock& block)
{
    return block.GetStream().mid(block.GetBytesReserved());
}

// Blocks and values as the link carries them, for scripts and expectations.
inline QByteArray Le32(qint32 v)
{
    QByteArray b;
    ByteWriter(b).I32(v);
    return b;
}
inline QByteArray Int(qint32 v)
{
    return Hex("03000000") + Le32(v);
}
inline QByteArray Text(const QString& s)
{
    return Hex("08000000") + Le32(qint32(s.size())) + Utf16(s);
}
inline QByteArray ByteArray(const QByteArray& bytes)
{
    return Hex("11200000 01000000 00000000") + Le32(qint32(bytes.size() - 1)) + Le32(qint32(bytes.size())) + bytes;
}
inline QByteArray Block(qint32 signature, const QByteArray& payload)
{
    return Le32(signature) + Le32(qint32(payload.size())) + payload;
}
inline QByteArray ErrorBlock(const QString& text)
{
    return Block(0xDB01, Text(text));
}

// An object that answers nothing; it stands for any object in a value.
class NoObject : public IDispatch {
public:
    explicit NoObject(qint32 index = -1)
        : index(index)
    {
    }
    HRESULT GetIDsOfNames(const QStringList&, quint32, std::vector<qint32>&) override
    {
        return ResultCode::UnknownName;
    }
    HRESULT Invoke(qint32, quint32, quint16, DispParams&, Variant*, ExcepInfo*) override
    {
        return ResultCode::MemberNotFound;
    }
    qint32 index;
};

// Object references without an interpreter: stored objects get slots from
// 40 on, and received indexes become NoObject stand-ins that remember them.
class RecordingReferences : public IObjectReferences {
public:
    qint32 StoreObject(const DispatchRef& object) override
    {
        stored.push_back(object);
        return qint32(40 + stored.size() - 1);
    }
    DispatchRef MakeProxy(qint32 index) override
    {
        proxies.push_back(index);
        return std::make_shared<NoObject>(index);
    }
    std::vector<DispatchRef> stored;
    std::vector<qint32> proxies;
};

} // namespace velkaro::testing

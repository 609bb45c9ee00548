#pragma once
// Remote objects and dispatch calls over the application-server link.
//
// One TDataBlockInterpreter per connection turns dispatch calls on objects of
// the other side into request blocks and reads their replies, and serves the
// requests the other side sends (InterpretData). Objects this side hands over
// live in its object list, FDispList; objects of the other side are proxies
// (TDataDispatch) that forward each call as a request.
//
// Requests and their replies (reply signature: ResultSig | the action):
//   asCreateObject  text name                    -> value (a reference)
//   asGetID         int index, text name         -> int code [, int id]
//   asInvoke        int index, int id, int kind, bool result wanted,
//                   int argc, int named, named ids, args (last first)
//                   -> int code [, int error code, text description when the
//                      code is 0x80020009], by-reference args, [result]
//   asFreeObject    int index                    (never answered)
//   asGetServers, asGetAppServers  (empty)      -> Null or array of text
//   a failure at the receiver is answered by an asError block: one text.
//
// Everything here runs on one thread (the GUI thread of a connection); the
// interpreter, its proxies and its object list are not shared across
// threads. Send may serve incoming requests while it waits for a reply, so
// every operation may be re-entered from within Send.

#include "core/Dispatch.h"
#include "remote/DataBlock.h"
#include "remote/VariantCodec.h"

#include <QHash>
#include <QStringList>
#include <QUuid>

#include <exception>
#include <functional>
#include <unordered_set>
#include <vector>

namespace velkaro {

// The only way the interpreter puts blocks on the wire; the connection
// implements it. With WaitForResult, Send returns the reply block (serving
// any request that arrives first through InterpretData) or raises the text
// of an asError reply; without, it returns null once the block is written.
// Errors of the link are raised to the caller. Send is re-entered: serving a
// request in the middle of a wait sends its reply, and releasing a proxy
// sends asFreeObject, both without waiting.
class ISendDataBlock {
public:
    virtual ~ISendDataBlock() = default;
    virtual DataBlockRef Send(const DataBlockRef& block, bool waitForResult) = 0;
};

// A class the other side may ask this side to create (asCreateObject).
struct TRegisteredClass {
    QString ProgID; // "VelkaroAS.VelkaroDM"
    QUuid ClassID; // derived from ProgID when left null
    // The values kept with the class; a link creates the class only when the
    // value it checks ("Sockets") is "1".
    QHash<QString, QString> Values {{QStringLiteral("Sockets"), QStringLiteral("1")}};
    bool AppServer = true; // listed by asGetAppServers as well as asGetServers
    std::function<DispatchRef()> Factory;
};

// The local classes of one program; the interpreters of its connections
// share it. Register before the links open.
class TClassRegistry {
public:
    // Raises EInvalidOperation for a ProgID or ClassID already registered, an
    // empty ProgID or a missing factory.
    void Register(TRegisteredClass cls);
    const TRegisteredClass* FindByProgID(const QString& progID) const;
    const TRegisteredClass* FindByClassID(const QUuid& classID) const;
    const std::vector<TRegisteredClass>& Classes() const { return classes_; }

    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as the platform
    // writes class identifiers.
    static QString ClassIDText(const QUuid& classID);

private:
    std::vector<TRegisteredClass> classes_;
};

class TDataBlockInterpreter;

// A remote object: the other side's object at DispatchIndex, reached through
// the interpreter that read the reference. Its last release sends one
// asFreeObject, unless the interpreter has gone (then nothing is sent and
// calls raise "Invalid variant operation").
class TDataDispatch final : public IDispatch {
public:
    TDataDispatch(TDataBlockInterpreter* interpreter, qint32 dispatchIndex);
    ~TDataDispatch() override;
    TDataDispatch(const TDataDispatch&) = delete;
    TDataDispatch& operator=(const TDataDispatch&) = delete;

    qint32 DispatchIndex() const { return dispatchIndex_; }
    TDataBlockInterpreter* Interpreter() const { return interpreter_; }

    HRESULT GetTypeInfoCount(quint32* count) override;
    HRESULT GetTypeInfo(quint32 index, quint32 lcid) override;
    HRESULT GetIDsOfNames(const QStringList& names, quint32 lcid, std::vector<qint32>& dispIds) override;
    HRESULT Invoke(
        qint32 dispId, quint32 lcid, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo) override;

private:
    friend class TDataBlockInterpreter;
    TDataBlockInterpreter& attached() const;

    TDataBlockInterpreter* interpreter_;
    qint32 dispatchIndex_;
};

class TDataBlockInterpreter : public IObjectReferences {
public:
    // SendDataBlock outlives the interpreter. Registry (optional, not owned)
    // holds the classes this side creates at the other side's request, under
    // the check value CheckRegValue.
    explicit TDataBlockInterpreter(ISendDataBlock& sendDataBlock, const TClassRegistry* registry = nullptr,
        QString checkRegValue = QStringLiteral("Sockets"));
    // Detaches every proxy first, so proxies released later send nothing.
    ~TDataBlockInterpreter() override;
    TDataBlockInterpreter(const TDataBlockInterpreter&) = delete;
    TDataBlockInterpreter& operator=(const TDataBlockInterpreter&) = delete;

    // ---- outgoing requests ----
    // The other side creates the named object (a ProgID, or a class
    // identifier in braces); the answer is normally a reference to a proxy.
    Variant CallCreateObject(const QString& name);
    // ResultCode::NotImplemented at once, with no request, for more than one
    // name; otherwise the other side's result code, with the identifier in
    // DispIds when it is ResultCode::Ok.
    HRESULT CallGetIDsOfNames(qint32 dispatchIndex, const QStringList& names, std::vector<qint32>& dispIds);
    // The other side's result code. The reply is read in full whatever the
    // code: the error code and description for ResultCode::ExceptionOccurred
    // (into ExcepInfo when given), the new values of by-reference arguments
    // (stored through them; left as they were when the reply ends before
    // them), and the result (unassigned when the reply ends before it).
    HRESULT CallInvoke(
        qint32 dispatchIndex, qint32 dispId, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo);
    // Sent without waiting; never answered.
    void CallFreeObject(qint32 dispatchIndex);
    // The other side's application-server classes: Null or an array of text.
    Variant CallGetServerList();

    // ---- incoming blocks ----
    // Serves a request block and sends its reply without waiting (a failure
    // is answered by an asError block); raises the text of an asError block
    // unchanged. A reply of any other action is not a request: it raises
    // EInterpreterError and nothing is sent.
    void InterpretData(const DataBlockRef& block);

    // ---- the object list ----
    // Puts Object into the lowest empty slot (the list starts with slots 0
    // to 10 and grows by eleven) and returns the slot's number.
    qint32 StoreObject(const DispatchRef& object) override;
    // Raises for an index outside the list or an empty slot.
    DispatchRef LockObject(qint32 dispatchIndex) const;
    // Empties the slot; nothing happens for an index outside the list.
    void ReleaseObject(qint32 dispatchIndex);
    // Number of slots, 0 before the first store.
    qsizetype DispListCount() const { return qsizetype(FDispList.size()); }

    // A proxy for the other side's object at DispatchIndex.
    DispatchRef MakeProxy(qint32 dispatchIndex) override;
    void AddDispatch(TDataDispatch* proxy);
    void RemoveDispatch(TDataDispatch* proxy);

    // Where errors go that arise when a proxy's last release sends
    // asFreeObject (a release cannot raise them). By default they are
    // written to the log.
    void SetReleaseErrorHandler(std::function<void(std::exception_ptr)> handler);
    void ReportReleaseError(std::exception_ptr error) const;

private:
    DataBlockRef newRequest(qint32 action) const;
    DataBlockRef sendWaiting(const DataBlockRef& request);
    qint32 readInt(IDataBlock& block);
    Variant readValue(IDataBlock& block);
    void writeValue(const Variant& value, IDataBlock& block);

    std::shared_ptr<void> doInvoke(IDataBlock& block);
    void doGetID(IDataBlock& block);
    void doCreateObject(IDataBlock& block);
    void doFreeObject(IDataBlock& block);
    void doGetServers(IDataBlock& block, bool appServersOnly);
    const TRegisteredClass& creatableClass(const QString& name) const;

    ISendDataBlock& sendDataBlock_;
    const TClassRegistry* registry_;
    QString checkRegValue_;
    std::vector<DispatchRef> FDispList;
    std::unordered_set<TDataDispatch*> proxies_;
    std::function<void(std::exception_ptr)> releaseErrorHandler_;
};

} // namespace velkaro

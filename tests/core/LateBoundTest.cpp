#include "core/LateBound.h"
#include "core/Exceptions.h"

#include <QMap>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace velkaro;

namespace {

// An automation object in the test process that records every lookup and
// invoke and answers as the test sets it up.
class RecordingObject : public IDispatch {
public:
    struct Call {
        qint32 dispId;
        quint32 lcid;
        quint16 flags;
        std::vector<VarType> types;
        std::vector<Variant> values; // dereferenced
        std::vector<void*> refTargets;
        std::vector<qint32> namedArgs;
        bool wantResult;
    };

    HRESULT GetIDsOfNames(const QStringList& names, quint32, std::vector<qint32>& dispIds) override
    {
        lookups.append(names);
        if (lookupResult != ResultCode::Ok)
            return lookupResult;
        for (const QString& name : names) {
            if (!members.contains(name))
                return ResultCode::UnknownName;
            dispIds.push_back(members.value(name));
        }
        return ResultCode::Ok;
    }

    HRESULT Invoke(
        qint32 dispId, quint32 lcid, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo) override
    {
        Call call {dispId, lcid, flags, {}, {}, {}, params.namedArgs, result != nullptr};
        for (Variant& arg : params.args) {
            call.types.push_back(arg.VType());
            // By-reference codes without storage have no value to read.
            call.values.push_back(arg.IsByRef() && IsRefStorageOf<NoStorage>(arg.VType()) ? Variant() : arg.Deref());
            call.refTargets.push_back(arg.RefTarget());
            if (writes.contains(arg.VType()))
                arg.StoreThroughRef(writes.value(arg.VType()));
        }
        calls.push_back(call);
        if (invokeResult == ResultCode::ExceptionOccurred && excepInfo != nullptr)
            *excepInfo = exception;
        if (result != nullptr)
            *result = answer;
        return invokeResult;
    }

    QMap<QString, qint32> members {{"DownloadUpdate", 7}, {"Version", 8}, {"Caption", 9}, {"Mode", 10}};
    HRESULT lookupResult = ResultCode::Ok;
    HRESULT invokeResult = ResultCode::Ok;
    ExcepInfo exception;
    Variant answer = Variant(QStringLiteral("answer"));
    // What the object stores through by-reference arguments, by their type.
    QMap<VarType, Variant> writes {
        {varByRef | varOleStr, Variant(QStringLiteral("written back"))}, {varByRef | varBoolean, Variant(true)}};

    QList<QStringList> lookups;
    std::vector<Call> calls;
};

constexpr quint8 byRef(int code)
{
    return quint8(atByRef | code);
}

QByteArray typeBytes(std::initializer_list<int> codes)
{
    QByteArray bytes;
    for (int code : codes)
        bytes.append(char(code));
    return bytes;
}

struct Caught {
    std::string className;
    QString message;
    qint32 code = 0;
};

Caught catchError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EOleException& e) {
        return {e.ClassName(), e.Message(), e.ErrorCode()};
    } catch (const Exception& e) {
        return {e.ClassName(), e.Message()};
    }
    return {"none", {}};
}

class LateBoundTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingObject> object = std::make_shared<RecordingObject>();
    Variant target = Variant(DispatchRef(object));
};

} // namespace

TEST_F(LateBoundTest, DownloadUpdateIsOneLookupAndOneMethodCallWithOneText)
{
    const QByteArray desc = MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varUStrArg)), "DownloadUpdate");
    EXPECT_EQ(desc,
        QByteArray("\x01\x01\x00\x4A"
                   "DownloadUpdate\0",
            19));

    object->answer = Variant::FromBytes(QByteArray("MZ\x90\0", 4));
    const QString program = QStringLiteral("Velkaro");
    const Variant result = DispatchInvoke(target, desc, {program});

    EXPECT_EQ(result, object->answer);
    ASSERT_EQ(object->lookups.size(), 1);
    EXPECT_EQ(object->lookups[0], QStringList {"DownloadUpdate"});
    ASSERT_EQ(object->calls.size(), 1u);
    const RecordingObject::Call& call = object->calls[0];
    EXPECT_EQ(call.dispId, 7);
    EXPECT_EQ(call.lcid, 0u);
    EXPECT_EQ(call.flags, DispatchKind::Method);
    EXPECT_TRUE(call.wantResult);
    EXPECT_TRUE(call.namedArgs.empty());
    ASSERT_EQ(call.types, std::vector<VarType> {varOleStr});
    EXPECT_EQ(call.values[0].ToString(), program);

    // Identifiers are not kept: the next call asks again.
    DispatchInvoke(target, desc, {program});
    EXPECT_EQ(object->lookups.size(), 2);
}

TEST_F(LateBoundTest, InvokeKinds)
{
    const DispatchRef other = std::make_shared<RecordingObject>();
    const InterfaceRef interface = std::make_shared<RecordingObject>();
    const qint32 number = 5;
    struct Case {
        const char* name;
        quint8 kind;
        QByteArray types;
        CallArg arg;
        bool wantResult;
        quint16 flags;
        std::vector<qint32> named;
    };
    const Case cases[] = {
        {"method, no arguments, result wanted", DispatchKind::Method, "", {}, true, 3, {}},
        {"method, no arguments, no result", DispatchKind::Method, "", {}, false, DispatchKind::Method, {}},
        {"method with an argument", DispatchKind::Method, "\x03", {number}, true, DispatchKind::Method, {}},
        {"property read", DispatchKind::PropertyGet, "", {}, true, DispatchKind::PropertyGet, {}},
        {"property write of a number", DispatchKind::PropertyPut, "\x03", {number}, false, DispatchKind::PropertyPut,
            {-3}},
        {"property write of an object", DispatchKind::PropertyPut, "\x09", {other}, false, DispatchKind::PropertyPutRef,
            {-3}},
        {"property write of an interface", DispatchKind::PropertyPut, "\x0D", {interface}, false,
            DispatchKind::PropertyPutRef, {-3}},
        {"reference write of a number", DispatchKind::PropertyPutRef, "\x03", {number}, false,
            DispatchKind::PropertyPut, {-3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        object->calls.clear();
        const std::vector<CallArg> args(c.types.size(), c.arg);
        DispatchInvoke(target, MakeCallDesc(c.kind, c.types, "Mode"), args, c.wantResult);
        ASSERT_EQ(object->calls.size(), 1u);
        EXPECT_EQ(object->calls[0].flags, c.flags);
        EXPECT_EQ(object->calls[0].namedArgs, c.named);
        EXPECT_EQ(object->calls[0].wantResult, c.wantResult);
    }
}

TEST_F(LateBoundTest, NamedArgumentsAreLookedUpWithTheMember)
{
    const QString caption = QStringLiteral("x");
    const qint32 mode = 2;
    DispatchInvoke(
        target, MakeCallDesc(DispatchKind::Method, "\x4A\x03", "DownloadUpdate", {"Caption", "Mode"}), {caption, mode});
    ASSERT_EQ(object->lookups.size(), 1);
    EXPECT_EQ(object->lookups[0], (QStringList {"DownloadUpdate", "Caption", "Mode"}));
    EXPECT_EQ(object->calls[0].namedArgs, (std::vector<qint32> {9, 10}));
}

TEST_F(LateBoundTest, ArgumentConversion)
{
    QString wide = QStringLiteral("กข");
    QString emptyWide;
    QByteArray utf8 = QStringLiteral("ภาษาไทย").toUtf8();
    bool yes = true;
    Variant inner(42);
    qint16 smallint = -2;
    qint32 integer = -70000;
    float single = 1.5f;
    double real = 2.25;
    qint64 currency = 12345;
    quint8 byte = 200;
    quint16 word = 65000;
    quint32 longWord = 4000000000u;
    qint64 int64 = -(qint64(1) << 40);
    quint64 uint64 = ~quint64(0);
    qint8 shortInt = -100;
    DispatchRef dispatch = std::make_shared<RecordingObject>();
    InterfaceRef interface = std::make_shared<RecordingObject>();
    struct Case {
        const char* name;
        quint8 typeByte;
        CallArg arg;
        const void* storage; // where a by-reference argument must point
        VarType sentType;
        Variant value;
    };
    const Case cases[] = {
        {"wide text", varUStrArg, wide, nullptr, varOleStr, Variant(wide)},
        {"empty wide text", varUStrArg, emptyWide, nullptr, varOleStr, Variant(QString())},
        {"8-bit text", varStrArg, utf8, nullptr, varOleStr, Variant(QStringLiteral("ภาษาไทย"))},
        {"boolean", varBoolean, yes, nullptr, varBoolean, Variant::Typed(varBoolean, 0xFFFF)},
        {"omitted", varError, {}, nullptr, varError, Variant::FromError(ResultCode::ParamNotFound)},
        {"variant", varVariant, inner, nullptr, varInteger, Variant(42)},
        {"empty", varEmpty, {}, nullptr, varEmpty, Variant()},
        {"null", varNull, {}, nullptr, varNull, Variant::Null()},
        {"smallint", varSmallint, smallint, nullptr, varSmallint, Variant(qint16(-2))},
        {"integer", varInteger, integer, nullptr, varInteger, Variant(-70000)},
        {"single", varSingle, single, nullptr, varSingle, Variant::FromSingle(1.5f)},
        {"double", varDouble, real, nullptr, varDouble, Variant(2.25)},
        {"currency", varCurrency, currency, nullptr, varCurrency, Variant::FromCurrency(12345)},
        {"date", varDate, real, nullptr, varDate, Variant::FromDate(2.25)},
        {"ole text", varOleStr, wide, nullptr, varOleStr, Variant(wide)},
        {"dispatch", varDispatch, dispatch, nullptr, varDispatch, Variant(dispatch)},
        {"interface", varUnknown, interface, nullptr, varUnknown, Variant::FromInterface(interface)},
        {"shortint", varShortInt, shortInt, nullptr, varShortInt, Variant::Typed(varShortInt, -100)},
        {"byte", varByte, byte, nullptr, varByte, Variant::FromByte(200)},
        {"word", varWord, word, nullptr, varWord, Variant::Typed(varWord, 65000)},
        {"longword", varLongWord, longWord, nullptr, varLongWord, Variant::Typed(varLongWord, 4000000000u)},
        {"int64", varInt64, int64, nullptr, varInt64, Variant::FromInt64(int64)},
        {"uint64", varUInt64, uint64, nullptr, varUInt64, Variant::Typed(varUInt64, -1)},
        {"integer by reference", byRef(varInteger), integer, &integer, varByRef | varInteger, Variant(-70000)},
        {"double by reference", byRef(varDouble), real, &real, varByRef | varDouble, Variant(2.25)},
        {"variant by reference", byRef(varVariant), inner, &inner, varByRef | varVariant, Variant(42)},
        {"dispatch by reference", byRef(varDispatch), dispatch, &dispatch, varByRef | varDispatch, Variant(dispatch)},
        {"interface by reference", byRef(varUnknown), interface, &interface, varByRef | varUnknown,
            Variant::FromInterface(interface)},
        {"decimal by reference, tag only", byRef(varDecimal), {}, nullptr, varByRef | varDecimal, Variant()},
        {"code 22 by reference", byRef(22), {}, nullptr, varByRef | 22, Variant()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        object->calls.clear();
        DispatchInvoke(target, MakeCallDesc(DispatchKind::Method, QByteArray(1, char(c.typeByte)), "Mode"), {c.arg});
        ASSERT_EQ(object->calls.size(), 1u);
        EXPECT_EQ(object->calls[0].types[0], c.sentType);
        EXPECT_EQ(object->calls[0].values[0], c.value);
        if (c.sentType & varByRef) {
            EXPECT_EQ(object->calls[0].refTargets[0], c.storage); // the caller's own storage
        }
    }
}

TEST_F(LateBoundTest, ArgumentsWhoseStorageDoesNotFitTheirTypeByteAreRefusedBeforeTheCall)
{
    const qint32 constant = 5;
    double real = 1.0;
    const QByteArray constantText = "x";
    const QString constantWide = QStringLiteral("x");
    const bool constantFlag = true;
    struct Case {
        const char* name;
        quint8 typeByte;
        CallArg arg;
        QString message;
    };
    const QString constantMessage
        = QStringLiteral("Argument 1 of Mode is passed by reference and needs a variable, not a constant");
    const Case cases[] = {
        {"integer by reference given a constant", byRef(varInteger), constant, constantMessage},
        {"8-bit text by reference given a constant", byRef(varStrArg), constantText, constantMessage},
        {"wide text by reference given a constant", byRef(varUStrArg), constantWide, constantMessage},
        {"boolean by reference given a constant", byRef(varBoolean), constantFlag, constantMessage},
        {"integer given a double", varInteger, real,
            QStringLiteral("Argument 1 of Mode is not held in the storage its type byte 03 needs")},
        {"double by reference given an integer", byRef(varDouble), constant,
            QStringLiteral("Argument 1 of Mode is not held in the storage its type byte 85 needs")},
        {"wide text given 8-bit text", varUStrArg, constantText,
            QStringLiteral("Argument 1 of Mode is not held in the storage its type byte 4a needs")},
        {"interface given nothing", varUnknown, {},
            QStringLiteral("Argument 1 of Mode is not held in the storage its type byte 0d needs")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        *object = RecordingObject();
        const Caught caught = catchError([&] {
            DispatchInvoke(
                target, MakeCallDesc(DispatchKind::Method, QByteArray(1, char(c.typeByte)), "Mode"), {c.arg});
        });
        EXPECT_EQ(caught.className, "EVariantError");
        EXPECT_EQ(caught.message, c.message);
        EXPECT_TRUE(object->calls.empty());
    }
}

TEST_F(LateBoundTest, ByReferenceArgumentsAreChangedInTheCallersStorage)
{
    qint32 integer = 1;
    double real = 1.0;
    Variant variant(QStringLiteral("before"));
    InterfaceRef interface;
    const InterfaceRef given = std::make_shared<RecordingObject>();
    object->writes = {
        {varByRef | varInteger, Variant(QStringLiteral("42"))},
        {varByRef | varDouble, Variant::FromCurrency(25000)},
        {varByRef | varVariant, Variant::FromByte(7)},
        {varByRef | varUnknown, Variant::FromInterface(given)},
    };
    DispatchInvoke(target,
        MakeCallDesc(DispatchKind::Method,
            typeBytes({byRef(varInteger), byRef(varDouble), byRef(varVariant), byRef(varUnknown)}), "Mode"),
        {integer, real, variant, interface});
    EXPECT_EQ(integer, 42);
    EXPECT_EQ(real, 2.5);
    EXPECT_EQ(variant, Variant::FromByte(7));
    EXPECT_EQ(interface, given);
}

TEST_F(LateBoundTest, ArgumentsArePlacedLastFirst)
{
    const qint32 first = 1;
    const QString second = QStringLiteral("two");
    const double third = 3.0;
    DispatchInvoke(target, MakeCallDesc(DispatchKind::Method, "\x03\x4A\x05", "Mode"), {first, second, third});
    ASSERT_EQ(object->calls.size(), 1u);
    EXPECT_EQ(object->calls[0].values, (std::vector<Variant> {Variant(3.0), Variant(second), Variant(1)}));
}

TEST_F(LateBoundTest, ReferenceTextsAndBooleansTravelAsTemporariesWrittenBack)
{
    QString wide = QStringLiteral("old");
    QByteArray narrow = "old";
    bool flag = false;
    DispatchInvoke(target,
        MakeCallDesc(DispatchKind::Method, typeBytes({byRef(varUStrArg), byRef(varStrArg), byRef(varBoolean)}), "Mode"),
        {wide, narrow, flag});
    ASSERT_EQ(object->calls.size(), 1u);
    const RecordingObject::Call& call = object->calls[0];
    EXPECT_EQ(call.types, (std::vector<VarType> {varByRef | varBoolean, varByRef | varOleStr, varByRef | varOleStr}));
    EXPECT_EQ(call.values[1].ToString(), QStringLiteral("old"));
    EXPECT_EQ(call.values[2].ToString(), QStringLiteral("old"));
    EXPECT_EQ(wide, QStringLiteral("written back"));
    EXPECT_EQ(narrow, QByteArray("written back"));
    EXPECT_TRUE(flag);

    // A failed call writes nothing back.
    wide = QStringLiteral("kept");
    object->invokeResult = ResultCode::Failed;
    EXPECT_THROW(
        DispatchInvoke(target, MakeCallDesc(DispatchKind::Method, typeBytes({byRef(varUStrArg)}), "Mode"), {wide}),
        EOleException);
    EXPECT_EQ(wide, QStringLiteral("kept"));
}

TEST_F(LateBoundTest, TargetsFollowReferences)
{
    Variant held = target;
    DispatchInvoke(Variant::ByRef(varVariant, &held), MakeCallDesc(DispatchKind::Method, "", "Version"), {});
    DispatchRef ref = DispatchRef(object);
    DispatchInvoke(Variant::ByRef(varDispatch, &ref), MakeCallDesc(DispatchKind::Method, "", "Version"), {});
    EXPECT_EQ(object->calls.size(), 2u);
}

TEST_F(LateBoundTest, Failures)
{
    const QByteArray noArgs = MakeCallDesc(DispatchKind::Method, "", "Version");
    const QByteArray unknown = MakeCallDesc(DispatchKind::Method, "", "Nope");
    const QByteArray tooMany = MakeCallDesc(DispatchKind::Method, QByteArray(65, char(varEmpty)), "Version");
    const std::vector<CallArg> manyArgs(65);
    Variant empty;
    struct Case {
        const char* name;
        std::function<void()> setUp;
        std::function<void()> call;
        Caught expected;
        bool looksUp;
    };
    const auto plain = [&] { DispatchInvoke(target, noArgs, {}); };
    const Case cases[] = {
        {"empty target", [] {}, [&] { DispatchInvoke(Variant(), noArgs, {}); },
            {"EVariantError", "Invalid variant operation"}, false},
        {"null target", [] {}, [&] { DispatchInvoke(Variant::Null(), noArgs, {}); },
            {"EVariantError", "Invalid variant operation"}, false},
        {"reference to an empty variant", [] {},
            [&] { DispatchInvoke(Variant::ByRef(varVariant, &empty), noArgs, {}); },
            {"EVariantError", "Invalid variant operation"}, false},
        {"reference to nothing", [] {}, [&] { DispatchInvoke(Variant(DispatchRef()), noArgs, {}); },
            {"EVariantError", "Invalid variant operation"}, false},
        {"number target", [] {}, [&] { DispatchInvoke(Variant(42), noArgs, {}); },
            {"EOleError", "Variant does not reference an automation object"}, false},
        {"text target", [] {}, [&] { DispatchInvoke(Variant(QStringLiteral("x")), noArgs, {}); },
            {"EOleError", "Variant does not reference an automation object"}, false},
        {"65 arguments", [] {}, [&] { DispatchInvoke(target, tooMany, manyArgs); },
            {"EOleError", "Dispatch methods do not support more than 64 parameters"}, false},
        {"unknown member", [] {}, [&] { DispatchInvoke(target, unknown, {}); },
            {"EOleError", "Method 'Nope' not supported by automation object"}, true},
        {"lookup fails otherwise", [&] { object->lookupResult = ResultCode::NotImplemented; }, plain,
            {"EOleException", "Not implemented", ResultCode::NotImplemented}, true},
        {"object raised an error",
            [&] {
                object->invokeResult = ResultCode::ExceptionOccurred;
                object->exception = {0x1234, {}, QStringLiteral("Disk full. . \t\r\n")};
            },
            plain, {"EOleException", "Disk full", 0x1234}, true},
        {"object raised an error without a description",
            [&] {
                object->invokeResult = ResultCode::ExceptionOccurred;
                object->exception = {ResultCode::Failed, {}, QStringLiteral(" ...")};
            },
            plain, {"EOleException", "Unspecified error", ResultCode::Failed}, true},
        {"type mismatch", [&] { object->invokeResult = ResultCode::TypeMismatch; }, plain,
            {"EOleException", "Type mismatch", ResultCode::TypeMismatch}, true},
        {"code without a text", [&] { object->invokeResult = HRESULT(0x80041234u); }, plain,
            {"EOleException", "OLE error 80041234", HRESULT(0x80041234u)}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        *object = RecordingObject();
        c.setUp();
        const Caught caught = catchError(c.call);
        EXPECT_EQ(caught.className, c.expected.className);
        EXPECT_EQ(caught.message, c.expected.message);
        EXPECT_EQ(caught.code, c.expected.code);
        EXPECT_EQ(object->lookups.size(), c.looksUp ? 1 : 0);
    }
}

TEST_F(LateBoundTest, UnsupportedArgumentTypesAreRefusedBeforeTheCall)
{
    const qint32 storage = 0;
    for (const quint8 typeByte : {quint8(14), quint8(15), quint8(22), quint8(0x47), quint8(0x7F)}) {
        SCOPED_TRACE(int(typeByte));
        *object = RecordingObject();
        const Caught caught = catchError([&] {
            DispatchInvoke(
                target, MakeCallDesc(DispatchKind::Method, QByteArray(1, char(typeByte)), "Mode"), {storage});
        });
        EXPECT_EQ(caught.className, "EVariantError");
        EXPECT_EQ(caught.message, QStringLiteral("Variant method calls not supported"));
        EXPECT_TRUE(object->calls.empty());
    }
}

TEST(ResultCodeText, KnownCodesAndTheRest)
{
    const std::pair<HRESULT, const char*> cases[] = {
        {ResultCode::NotImplemented, "Not implemented"},
        {ResultCode::Failed, "Unspecified error"},
        {ResultCode::UnknownName, "Unknown name"},
        {ResultCode::MemberNotFound, "Member not found"},
        {ResultCode::TypeMismatch, "Type mismatch"},
        {ResultCode::ParamNotFound, "Parameter not found"},
        {ResultCode::BadParamCount, "Invalid number of parameters"},
        {ResultCode::ExceptionOccurred, "Exception occurred"},
        {HRESULT(0x8000FFFFu), "OLE error 8000ffff"},
        {1, "OLE error 00000001"},
    };
    for (const auto& [code, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ResultCodeText(code), QString::fromLatin1(text));
    }
}

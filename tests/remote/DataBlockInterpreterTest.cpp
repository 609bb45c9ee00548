#include "remote/DataBlockInterpreter.h"

#include "core/LateBound.h"
#include "remote/RemoteErrors.h"
#include "remote/RemoteTestSupport.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

// ---- the link's other end, scripted ----------------------------------------

// Records every block the interpreter sends and answers each awaited one
// with the next scripted reply. WhileWaiting runs once inside the next
// awaited Send, before the reply: a request of the other side arriving in
// the middle of a call.
class ScriptedLink : public ISendDataBlock {
public:
    DataBlockRef Send(const DataBlockRef& block, bool waitForResult) override
    {
        sent.push_back(block->GetStream());
        waited.push_back(waitForResult);
        if (!waitForResult)
            return nullptr;
        if (whileWaiting) {
            auto serve = std::move(whileWaiting);
            whileWaiting = nullptr;
            serve();
        }
        if (replies.empty())
            throw Exception(QStringLiteral("test: no reply scripted"));
        QByteArray bytes = std::move(replies.front());
        replies.pop_front();
        const DataBlockRef reply = TDataBlock::FromBytes(std::move(bytes));
        lastReplyPayload = reply->Unread().data();
        return reply;
    }

    std::vector<QByteArray> sent;
    std::vector<bool> waited;
    std::deque<QByteArray> replies;
    std::function<void()> whileWaiting;
    const char* lastReplyPayload = nullptr;
};

// Two interpreters back to back in the test process: requests are served by
// the other side at once, replies wait in the sender's inbox.
class LoopLink : public ISendDataBlock {
public:
    DataBlockRef Send(const DataBlockRef& block, bool waitForResult) override
    {
        const QByteArray bytes = block->GetStream();
        sent.push_back(bytes);
        if ((block->GetSignature() & KindMask) == ResultSig)
            peerLink->inbox.push_back(bytes);
        else
            peer->InterpretData(TDataBlock::FromBytes(bytes));
        if (!waitForResult)
            return nullptr;
        if (inbox.empty())
            throw Exception(QStringLiteral("test: no reply"));
        const DataBlockRef reply = TDataBlock::FromBytes(inbox.front());
        inbox.pop_front();
        return reply;
    }

    TDataBlockInterpreter* peer = nullptr;
    LoopLink* peerLink = nullptr;
    std::deque<QByteArray> inbox;
    std::vector<QByteArray> sent;
};

// ---- local objects ---------------------------------------------------------

// The application server's object, as the update client knows it, with two
// members for the tests: Echo changes its by-reference arguments, CallMeBack
// calls Ping on the object it is given.
class Programs : public IDispatch {
public:
    HRESULT GetIDsOfNames(const QStringList& names, quint32, std::vector<qint32>& dispIds) override
    {
        for (const QString& name : names) {
            if (!members.contains(name))
                return ResultCode::UnknownName;
            dispIds.push_back(members.value(name));
        }
        return ResultCode::Ok;
    }

    HRESULT Invoke(
        qint32 dispId, quint32, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo) override
    {
        kinds.push_back(flags);
        switch (dispId) {
        case 7: {
            const QString name = params.args.at(0).ToString();
            if (name != QStringLiteral("Velkaro")) {
                excepInfo->code = 0x0A;
                excepInfo->description = QStringLiteral("No program named %1. \r\n").arg(name);
                return ResultCode::ExceptionOccurred;
            }
            *result = Variant::FromBytes(QByteArray("MZ program"));
            return ResultCode::Ok;
        }
        case 8:
            for (Variant& arg : params.args) {
                if (arg.VType() == (varByRef | varInteger))
                    arg.StoreThroughRef(Variant(arg.ToInt() + 1));
                else if (arg.VType() == (varByRef | varOleStr))
                    arg.StoreThroughRef(Variant(arg.ToString() + u'!'));
                else if (arg.VType() == (varByRef | varVariant))
                    arg.StoreThroughRef(Variant(u"changed"));
            }
            *result = Variant(int(params.args.size()));
            return ResultCode::Ok;
        case 9:
            *result = DispatchInvoke(params.args.at(0), MakeCallDesc(DispatchKind::Method, {}, "Ping"), {});
            return ResultCode::Ok;
        default:
            return ResultCode::MemberNotFound;
        }
    }

    QHash<QString, qint32> members {{"DownloadUpdate", 7}, {"Echo", 8}, {"CallMeBack", 9}};
    std::vector<quint16> kinds;
};

class Pinger : public IDispatch {
public:
    HRESULT GetIDsOfNames(const QStringList& names, quint32, std::vector<qint32>& dispIds) override
    {
        if (names != QStringList {QStringLiteral("Ping")})
            return ResultCode::UnknownName;
        dispIds.push_back(5);
        return ResultCode::Ok;
    }
    HRESULT Invoke(qint32, quint32, quint16, DispParams&, Variant* result, ExcepInfo*) override
    {
        ++pings;
        if (result != nullptr)
            *result = Variant(u"pong");
        return ResultCode::Ok;
    }
    int pings = 0;
};

const QByteArray DownloadUpdate = MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varUStrArg)), "DownloadUpdate");

// ---- the client side -------------------------------------------------------

TEST(DataBlockInterpreter, TheDownloadExchangeBlockByBlock)
{
    ScriptedLink link;
    auto interpreter = std::make_unique<TDataBlockInterpreter>(link);
    const QByteArray program = QByteArray(1000, 'x') + QByteArray("MZ");

    // 1 and 2: the remote object is created when the link opens.
    link.replies.push_back(Hex("04DB0000 08000000 09000000 03000000"));
    Variant appServer = interpreter->CallCreateObject(QStringLiteral("VelkaroAS.VelkaroDM"));
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(ToHex(link.sent[0]),
        ToHex(Hex("04DA0000 2E000000 08000000 13000000") + Utf16(QStringLiteral("VelkaroAS.VelkaroDM"))));
    EXPECT_EQ(link.sent[0].size(), 54);
    ASSERT_EQ(appServer.VType(), varDispatch);
    EXPECT_EQ(std::dynamic_pointer_cast<TDataDispatch>(appServer.Dispatch())->DispatchIndex(), 3);

    // 3 to 6: the late-bound call through the proxy, as the update cycle makes it.
    link.replies.push_back(Hex("03DB0000 10000000 03000000 00000000 03000000 2A000000"));
    link.replies.push_back(Block(0xDB02, Int(0) + ByteArray(program)));
    EXPECT_EQ(link.replies.back().size(), 8 + 28 + program.size());
    const QString name = QStringLiteral("Velkaro");
    const Variant answer = DispatchInvoke(appServer, DownloadUpdate, {CallArg(name)});
    ASSERT_EQ(link.sent.size(), 3u);
    EXPECT_EQ(ToHex(link.sent[1]),
        ToHex(Hex("03DA0000 2C000000 03000000 03000000 08000000 0E000000") + Utf16(QStringLiteral("DownloadUpdate"))));
    EXPECT_EQ(link.sent[1].size(), 52);
    EXPECT_EQ(ToHex(link.sent[2]),
        ToHex(Hex("02DA0000 44000000 03000000 03000000 03000000 2A000000 03000000 01000000 0B000000 FFFF"
                  "03000000 01000000 03000000 00000000 08000000 07000000")
            + Utf16(name)));
    EXPECT_EQ(link.sent[2].size(), 76);
    EXPECT_EQ(answer.ByteArrayData(), program);
    // The program's bytes stay where they arrived.
    EXPECT_EQ(answer.ByteArrayData().constData(), link.lastReplyPayload + 8 + 20);

    // A second call repeats the name lookup.
    link.replies.push_back(Hex("03DB0000 10000000 03000000 00000000 03000000 2A000000"));
    link.replies.push_back(Block(0xDB02, Int(0) + ByteArray(Hex("01"))));
    DispatchInvoke(appServer, DownloadUpdate, {CallArg(name)});
    EXPECT_EQ(link.sent.size(), 5u);
    EXPECT_EQ(link.sent[3], link.sent[1]);

    // 7: releasing the last copy frees the object, waiting for nothing.
    Variant copy = appServer;
    appServer = Variant();
    EXPECT_EQ(link.sent.size(), 5u);
    copy = Variant();
    ASSERT_EQ(link.sent.size(), 6u);
    EXPECT_EQ(ToHex(link.sent[5]), "05 da 00 00 08 00 00 00 03 00 00 00 03 00 00 00");
    EXPECT_FALSE(link.waited[5]);
}

TEST(DataBlockInterpreter, ServerFailuresReachTheCallerAsTheirErrors)
{
    const QByteArray lookedUp = Hex("03DB0000 10000000 03000000 00000000 03000000 2A000000");
    const struct {
        const char* name;
        std::vector<QByteArray> replies;
        const char* errorClass;
        const char* message;
        qint32 code;
    } cases[] = {
        {"server method raised an error",
            {lookedUp,
                Block(0xDB02,
                    Int(qint32(0x80020009)) + Int(0x0A) + Text(QStringLiteral("Program not found. \r\n")) + Int(0))},
            "EOleException", "Program not found", 0x0A},
        {"error block", {lookedUp, ErrorBlock(QStringLiteral("Access violation at address 0040"))}, "Exception",
            "Access violation at address 0040", 0},
        {"error block for the lookup", {ErrorBlock(QStringLiteral("Invalid action received: 3"))}, "Exception",
            "Invalid action received: 3", 0},
        {"unknown member", {Block(0xDB03, Int(qint32(0x80020006)))}, "EOleError",
            "Method 'DownloadUpdate' not supported by automation object", 0},
        {"other result code", {lookedUp, Block(0xDB02, Int(qint32(0x80020005)))}, "EOleException", "Type mismatch",
            qint32(0x80020005)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLink link;
        TDataBlockInterpreter interpreter(link);
        const Variant appServer(interpreter.MakeProxy(3));
        link.replies.assign(c.replies.begin(), c.replies.end());
        const QString name = QStringLiteral("Velkaro");
        try {
            DispatchInvoke(appServer, DownloadUpdate, {CallArg(name)});
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.ClassName(), c.errorClass);
            EXPECT_EQ(S(e.Message()), c.message);
            if (const auto* ole = dynamic_cast<const EOleException*>(&e)) {
                EXPECT_EQ(ole->ErrorCode(), c.code);
            }
        }
        EXPECT_TRUE(link.replies.empty());
    }
}

TEST(DataBlockInterpreter, AnInvokeReplyIsReadInFullWhateverItsResultCode)
{
    ScriptedLink link;
    TDataBlockInterpreter interpreter(link);
    QString text = QStringLiteral("old");
    qint32 number = 1;
    Variant variant = Variant(2);

    const auto call = [&](Variant* result, ExcepInfo* excepInfo) {
        DispParams params;
        params.args = {Variant::ByRef(varVariant, &variant), Variant(9), Variant::ByRef(varInteger, &number),
            Variant::ByRef(varOleStr, &text)};
        return interpreter.CallInvoke(3, 42, DispatchKind::Method, params, result, excepInfo);
    };

    link.replies.push_back(Block(0xDB02,
        Int(qint32(0x80020009)) + Int(77) + Text(QStringLiteral("went wrong")) + Hex("00400000") + Text(u"v"_qs)
            + Hex("03400000 08000000") + Hex("08400000") + Le32(3) + Utf16(QStringLiteral("new")) + Int(5)));
    Variant result;
    ExcepInfo excepInfo;
    EXPECT_EQ(call(&result, &excepInfo), qint32(0x80020009));
    EXPECT_EQ(excepInfo.code, 77);
    EXPECT_EQ(S(excepInfo.description), "went wrong");
    EXPECT_EQ(S(variant.ToString()), "v");
    EXPECT_EQ(number, 8);
    EXPECT_EQ(S(text), "new");
    EXPECT_EQ(result.ToInt(), 5);
    EXPECT_EQ(ToHex(link.sent[0]),
        ToHex(Block(0xDA02,
            Int(3) + Int(42) + Int(1) + Hex("0B000000 FFFF") + Int(4) + Int(0) + Hex("00400000") + Int(2) + Int(9)
                + Hex("03400000 01000000") + Hex("08400000 03000000") + Utf16(QStringLiteral("old")))));

    // A reply that ends after its code leaves the caller's values alone and
    // reads the result as unassigned.
    link.replies.push_back(Block(0xDB02, Int(qint32(0x80020005))));
    result = Variant(1);
    EXPECT_EQ(call(&result, nullptr), qint32(0x80020005));
    EXPECT_EQ(number, 8);
    EXPECT_EQ(S(text), "new");
    EXPECT_TRUE(result.IsEmpty());
    EXPECT_EQ(ToHex(link.sent[1].mid(8, 30)), ToHex(Int(3) + Int(42) + Int(1) + Hex("0B000000 FFFF")));
}

TEST(DataBlockInterpreter, NameLookupsAskForOneNameAndReadAnIdentifierOnlyOnSuccess)
{
    ScriptedLink link;
    TDataBlockInterpreter interpreter(link);
    std::vector<qint32> ids;
    EXPECT_EQ(interpreter.CallGetIDsOfNames(3, {QStringLiteral("Open"), QStringLiteral("Mode")}, ids),
        ResultCode::NotImplemented);
    EXPECT_TRUE(link.sent.empty());

    link.replies.push_back(Block(0xDB03, Int(qint32(0x80020006)) + Int(99)));
    EXPECT_EQ(interpreter.CallGetIDsOfNames(3, {QStringLiteral("Open")}, ids), qint32(0x80020006));
    EXPECT_TRUE(ids.empty());

    // Named arguments cannot be looked up through the link.
    const Variant proxy(interpreter.MakeProxy(3));
    const QString name = QStringLiteral("Velkaro");
    try {
        DispatchInvoke(proxy, MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varUStrArg)), "Open", {"Name"}),
            {CallArg(name)});
        ADD_FAILURE() << "called";
    } catch (const EOleException& e) {
        EXPECT_EQ(S(e.Message()), "Not implemented");
    }
    EXPECT_EQ(link.sent.size(), 1u);
}

TEST(DataBlockInterpreter, ARequestArrivingDuringACallIsServedBeforeTheReplyIsRead)
{
    ScriptedLink link;
    TDataBlockInterpreter interpreter(link);
    const auto pinger = std::make_shared<Pinger>();
    const Variant appServer(interpreter.MakeProxy(3));

    // The client hands its object over; the server calls Ping on it (slot
    // 0) before it answers.
    link.whileWaiting = [&] {
        interpreter.InterpretData(
            TDataBlock::FromBytes(Block(0xDA02, Int(0) + Int(5) + Int(1) + Hex("0B000000 FFFF") + Int(0) + Int(0))));
    };
    link.replies.push_back(Block(0xDB02, Int(0) + Text(QStringLiteral("done"))));
    DispParams params;
    params.args = {Variant(DispatchRef(pinger))};
    Variant result;
    EXPECT_EQ(interpreter.CallInvoke(3, 9, DispatchKind::Method, params, &result, nullptr), ResultCode::Ok);
    EXPECT_EQ(S(result.ToString()), "done");
    EXPECT_EQ(pinger->pings, 1);
    ASSERT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(ToHex(link.sent[0].mid(8 + 46)), "09 00 00 00 00 00 00 00");
    EXPECT_EQ(ToHex(link.sent[1]), ToHex(Block(0xDB02, Int(0) + Text(QStringLiteral("pong")))));
    EXPECT_FALSE(link.waited[1]);
}

// ---- the serving side ------------------------------------------------------

class Serving : public ::testing::Test {
protected:
    Serving()
    {
        registry.Register({QStringLiteral("VelkaroAS.VelkaroDM"), QUuid(), {{QStringLiteral("Sockets"), "1"}}, true,
            [this] { return programs; }});
        registry.Register({QStringLiteral("VelkaroAS.Helper"), QUuid(), {{QStringLiteral("Sockets"), "1"}}, false,
            [] { return std::make_shared<Programs>(); }});
        registry.Register({QStringLiteral("VelkaroAS.Disabled"), QUuid(), {{QStringLiteral("Sockets"), "0"}}, true,
            [] { return std::make_shared<Programs>(); }});
    }

    // Serves one request and returns what went back, "" when nothing did.
    QByteArray Serve(const QByteArray& request)
    {
        const size_t before = link.sent.size();
        interpreter.InterpretData(TDataBlock::FromBytes(request));
        if (link.sent.size() == before)
            return QByteArray();
        EXPECT_EQ(link.sent.size(), before + 1);
        EXPECT_FALSE(link.waited.back());
        return link.sent.back();
    }

    std::shared_ptr<Programs> programs = std::make_shared<Programs>();
    TClassRegistry registry;
    ScriptedLink link;
    TDataBlockInterpreter interpreter {link, &registry};
};

TEST_F(Serving, AnswersEachRequestAsTheClientExpectsIt)
{
    const QString disabledID = TClassRegistry::ClassIDText(registry.FindByProgID("VelkaroAS.Disabled")->ClassID);
    const QString programsID
        = registry.FindByProgID("VelkaroAS.VelkaroDM")->ClassID.toString(QUuid::WithBraces).toLower();
    const QByteArray invoke = Int(0) + Int(7) + Int(1) + Hex("0B000000 FFFF") + Int(1) + Int(0);
    const struct {
        const char* name;
        QByteArray request;
        QByteArray reply;
    } steps[] = {
        {"create", Block(0xDA04, Text("VelkaroAS.VelkaroDM")), Hex("04DB0000 08000000 09000000 00000000")},
        {"look up", Block(0xDA03, Int(0) + Text("DownloadUpdate")),
            Hex("03DB0000 10000000 03000000 00000000 03000000 07000000")},
        {"look up an unknown name", Block(0xDA03, Int(0) + Text("Nope")), Block(0xDB03, Int(qint32(0x80020006)))},
        {"invoke", Block(0xDA02, invoke + Text("Velkaro")),
            Block(0xDB02, Int(0) + ByteArray(QByteArray("MZ program")))},
        {"invoke without a result wanted",
            Block(0xDA02, Int(0) + Int(7) + Int(1) + Hex("0B000000 0000") + Int(1) + Int(0) + Text("Velkaro")),
            Block(0xDB02, Int(0))},
        {"invoke that fails", Block(0xDA02, invoke + Text("Other")),
            Block(
                0xDB02, Int(qint32(0x80020009)) + Int(0x0A) + Text("No program named Other. \r\n") + Hex("00000000"))},
        {"invoke with arguments by reference",
            Block(0xDA02,
                Int(0) + Int(8) + Int(1) + Hex("0B000000 FFFF") + Int(4) + Int(0) + Hex("03400000 07000000")
                    + Hex("08400000") + Le32(2) + Utf16("ok") + Hex("00400000") + Int(1) + Int(6)),
            Block(0xDB02,
                Int(0) + Hex("03400000 08000000") + Hex("08400000") + Le32(3) + Utf16("ok!") + Hex("00400000")
                    + Text("changed") + Int(4))},
        {"servers", Block(0xDA10, {}),
            Block(0xDB10,
                Hex("08200000 01000000 00000000 01000000") + Text("VelkaroAS.VelkaroDM") + Text("VelkaroAS.Helper"))},
        {"application servers", Block(0xDA12, {}),
            Block(0xDB12, Hex("08200000 01000000 00000000 00000000") + Text("VelkaroAS.VelkaroDM"))},
        {"create a class not open to the link", Block(0xDA04, Text("VelkaroAS.Disabled")),
            ErrorBlock("Object not available: " + disabledID)},
        {"create an unknown class", Block(0xDA04, Text("Nobody.Here")),
            ErrorBlock("Object not available: Nobody.Here")},
        {"create by class identifier", Block(0xDA04, Text(programsID)), Hex("04DB0000 08000000 09000000 01000000")},
        {"free", Block(0xDA05, Int(1)), {}},
        {"free what is not there", Block(0xDA05, Int(99)), {}},
        {"free without an index", Block(0xDA05, Hex("FFFFFFFF")), {}},
        {"look up on a freed object", Block(0xDA03, Int(1) + Text("DownloadUpdate")),
            ErrorBlock("No object is held at dispatch index 1")},
        {"look up outside the list", Block(0xDA03, Int(500) + Text("DownloadUpdate")),
            ErrorBlock("Variant or safe array index out of bounds")},
        {"class identifier request", Block(0xDA11, {}), ErrorBlock("Invalid action received: 17")},
        {"soap command", Block(0xDA14, {}), ErrorBlock("Invalid action received: 20")},
        {"action 0", Block(0xDA00, {}), ErrorBlock("Invalid action received: 0")},
        {"invoke claiming a million arguments",
            Block(0xDA02, Int(0) + Int(7) + Int(1) + Hex("0B000000 FFFF") + Int(1000000) + Int(0)),
            ErrorBlock("A call with 1000000 arguments, 0 of them named, does not fit in its request")},
        {"invoke cut inside an argument", Block(0xDA02, invoke + Hex("08000000 05000000 6100")),
            ErrorBlock("The data block ends inside a value (payload byte 54)")},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(ToHex(Serve(s.request)), ToHex(s.reply));
    }
    EXPECT_EQ(programs->kinds, (std::vector<quint16> {1, 1, 1, 1}));
}

TEST_F(Serving, AnErrorBlockRaisesItsTextAndAStrayReplyIsNotServed)
{
    try {
        Serve(ErrorBlock(QStringLiteral("Invalid data packet. Bad things\r\n")));
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.ClassName(), "Exception");
        EXPECT_EQ(S(e.Message()), "Invalid data packet. Bad things\r\n");
    }
    EXPECT_THROW(Serve(Block(0xDB02, Int(0))), EInterpreterError);
    EXPECT_TRUE(link.sent.empty());
}

TEST(DataBlockInterpreter, TheObjectListStartsWithElevenSlotsAndGrowsByEleven)
{
    ScriptedLink link;
    TDataBlockInterpreter interpreter(link);
    EXPECT_EQ(interpreter.DispListCount(), 0);
    interpreter.ReleaseObject(0);
    std::vector<DispatchRef> objects;
    for (int i = 0; i < 12; ++i) {
        objects.push_back(std::make_shared<NoObject>(i));
        EXPECT_EQ(interpreter.StoreObject(objects.back()), i);
        EXPECT_EQ(interpreter.DispListCount(), i < 11 ? 11 : 22);
    }
    interpreter.ReleaseObject(5);
    interpreter.ReleaseObject(21);
    interpreter.ReleaseObject(22);
    interpreter.ReleaseObject(-1);
    EXPECT_EQ(interpreter.StoreObject(objects[0]), 5);
    EXPECT_EQ(interpreter.LockObject(11), objects[11]);
    EXPECT_THROW(interpreter.LockObject(22), EInterpreterError);
    EXPECT_THROW(interpreter.LockObject(12), EInterpreterError);
    EXPECT_THROW(interpreter.StoreObject(nullptr), EInterpreterError);
    EXPECT_EQ(interpreter.DispListCount(), 22);
}

TEST(DataBlockInterpreter, AProxySendsOneFreeOnItsLastReleaseUnlessItsInterpreterHasGone)
{
    ScriptedLink link;
    auto interpreter = std::make_unique<TDataBlockInterpreter>(link);
    Variant first(interpreter->MakeProxy(4));
    Variant second = first;
    first = Variant();
    EXPECT_TRUE(link.sent.empty());
    second = Variant();
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(ToHex(link.sent[0]), "05 da 00 00 08 00 00 00 03 00 00 00 04 00 00 00");

    // A release that cannot be sent goes to the handler, not to the caller.
    struct FailingLink : ISendDataBlock {
        DataBlockRef Send(const DataBlockRef&, bool) override
        {
            throw ESocketConnectionError(QStringLiteral("Error reading from socket"));
        }
    } failing;
    std::vector<QString> reported;
    {
        TDataBlockInterpreter broken(failing);
        broken.SetReleaseErrorHandler([&](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const Exception& e) {
                reported.push_back(e.Message());
            }
        });
        Variant proxy(broken.MakeProxy(1));
    }
    EXPECT_EQ(reported, std::vector<QString> {"Error reading from socket"});

    Variant orphan(interpreter->MakeProxy(6));
    interpreter.reset();
    const QString name = QStringLiteral("Velkaro");
    try {
        DispatchInvoke(orphan, DownloadUpdate, {CallArg(name)});
        ADD_FAILURE() << "called";
    } catch (const EVariantError& e) {
        EXPECT_EQ(S(e.Message()), "Invalid variant operation");
    }
    orphan = Variant();
    EXPECT_EQ(link.sent.size(), 1u);
}

// The client's and the server's interpreters back to back: the late-bound
// calls of the update client reach the registered object and come back, by-
// reference arguments included, and the server may call the client back.
TEST(DataBlockInterpreter, TwoInterpretersTalkToEachOther)
{
    TClassRegistry registry;
    const auto programs = std::make_shared<Programs>();
    registry.Register({QStringLiteral("VelkaroAS.VelkaroDM"), {}, {{QStringLiteral("Sockets"), "1"}}, true,
        [&] { return programs; }});
    LoopLink clientLink;
    LoopLink serverLink;
    TDataBlockInterpreter client(clientLink);
    TDataBlockInterpreter server(serverLink, &registry);
    clientLink.peer = &server;
    clientLink.peerLink = &serverLink;
    serverLink.peer = &client;
    serverLink.peerLink = &clientLink;

    Variant appServer = client.CallCreateObject(QStringLiteral("VelkaroAS.VelkaroDM"));
    const QString name = QStringLiteral("Velkaro");
    EXPECT_EQ(DispatchInvoke(appServer, DownloadUpdate, {CallArg(name)}).ByteArrayData(), QByteArray("MZ program"));

    qint32 number = 41;
    QString text = QStringLiteral("hi");
    Variant variant = Variant(1.5);
    const Variant count
        = DispatchInvoke(appServer, MakeCallDesc(DispatchKind::Method, QByteArray::fromHex("83CA8C"), "Echo"),
            {CallArg(number), CallArg(text), CallArg(variant)});
    EXPECT_EQ(count.ToInt(), 3);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(S(text), "hi!");
    EXPECT_EQ(S(variant.ToString()), "changed");

    const auto pinger = std::make_shared<Pinger>();
    const DispatchRef handedOver = pinger;
    const Variant pong = DispatchInvoke(appServer,
        MakeCallDesc(DispatchKind::Method, QByteArray(1, char(varDispatch)), "CallMeBack"), {CallArg(handedOver)});
    EXPECT_EQ(S(pong.ToString()), "pong");
    EXPECT_EQ(pinger->pings, 1);
    // The server let go of the client's object once its reply had gone.
    EXPECT_THROW(client.LockObject(0), EInterpreterError);
    ASSERT_GE(serverLink.sent.size(), 2u);
    EXPECT_EQ(ToHex(serverLink.sent.rbegin()[1].first(4)), "02 db 00 00");
    EXPECT_EQ(ToHex(serverLink.sent.back()), "05 da 00 00 08 00 00 00 03 00 00 00 00 00 00 00");

    appServer = Variant();
    EXPECT_THROW(server.LockObject(0), EInterpreterError);
}

} // namespace

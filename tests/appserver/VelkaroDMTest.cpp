// The remote object's method, called in the process: program names, the
// shape of the call, and the program's bytes.

#include "appserver/VelkaroDM.h"

#include "support/Fixtures.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

TEST(ReleaseFolder, NamesThatAreNotPlainFileNamesAreRefusedWithTheReason)
{
    const struct {
        QString name;
        const char* problem; // "" for a good name
    } cases[] = {
        {QStringLiteral("Velkaro"), ""},
        {QStringLiteral("Velkaro 2.0_beta-1"), ""},
        {U("โปรแกรม"), ""},
        {QString(100, u'a'), ""},
        {QString(101, u'a'), "it is longer than 100 characters"},
        {QString(), "it is empty"},
        {QStringLiteral("a/b"), "it contains a folder separator"},
        {QStringLiteral("a\\b"), "it contains a folder separator"},
        {QStringLiteral("/etc/passwd"), "it contains a folder separator"},
        {QStringLiteral("."), "it starts with a dot"},
        {QStringLiteral(".."), "it starts with a dot"},
        {QStringLiteral(".profile"), "it starts with a dot"},
        {QStringLiteral("Velkaro."), "it ends with a dot or a blank"},
        {QStringLiteral("Velkaro "), "it ends with a dot or a blank"},
        {QStringLiteral(" Velkaro"), "it starts with a blank"},
        {QStringLiteral("Vel\tkaro"), "it contains a control character"},
        {QStringLiteral("Velkaro\u0085"), "it contains a control character"},
        {QString(QChar(0)) + QStringLiteral("x"), "it contains a control character"},
        {QStringLiteral("C:Velkaro"), "it contains the character :, which file names may not hold"},
        {QStringLiteral("Velkaro*"), "it contains the character *, which file names may not hold"},
        {QStringLiteral("Velkaro?"), "it contains the character ?, which file names may not hold"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(S(c.name));
        EXPECT_EQ(TReleaseFolder::NameProblem(c.name), QString::fromUtf8(c.problem));
    }
}

class VelkaroDMTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile file(dir_.path() + QStringLiteral("/Velkaro.exe"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("MZ program");
    }
    HRESULT invoke(quint16 flags, DispParams params, Variant& result, ExcepInfo& info)
    {
        return object_.Invoke(TVelkaroDM::DispIdDownloadUpdate, 0, flags, params, &result, &info);
    }

    QTemporaryDir dir_;
    TVelkaroDM object_ {std::make_shared<TReleaseFolder>(dir_.path())};
};

TEST_F(VelkaroDMTest, DownloadUpdateAnswersTheProgramsBytes)
{
    std::vector<qint32> ids;
    EXPECT_EQ(object_.GetIDsOfNames({QStringLiteral("DOWNLOADUPDATE")}, 0, ids), ResultCode::Ok);
    EXPECT_EQ(ids, std::vector<qint32> {TVelkaroDM::DispIdDownloadUpdate});
    EXPECT_EQ(object_.GetIDsOfNames({QStringLiteral("Upload")}, 0, ids), ResultCode::UnknownName);
    EXPECT_EQ(object_.GetIDsOfNames({QStringLiteral("DownloadUpdate"), QStringLiteral("Name")}, 0, ids),
        ResultCode::UnknownName);

    QString name = QStringLiteral("Velkaro");
    Variant byRef = Variant(name);
    for (const Variant& argument :
        {Variant(name), Variant::ByRef(varOleStr, &name), Variant::ByRef(varVariant, &byRef)}) {
        SCOPED_TRACE(S(Variant::TypeName(argument.VType())));
        Variant result;
        ExcepInfo info;
        ASSERT_EQ(invoke(DispatchKind::Method, {{argument}, {}}, result, info), ResultCode::Ok);
        EXPECT_EQ(result.VType(), varArray | varByte);
        EXPECT_EQ(result.ByteArrayData(), QByteArray("MZ program"));
    }
}

TEST_F(VelkaroDMTest, CallsOfTheWrongShapeFailWithTheirCode)
{
    const struct {
        const char* name;
        quint16 flags;
        DispParams params;
        HRESULT code;
    } cases[] = {
        {"written", DispatchKind::PropertyPut, {{Variant(QStringLiteral("Velkaro"))}, {DispIdPropertyPut}},
            ResultCode::MemberNotFound},
        {"no argument", DispatchKind::Method, {}, ResultCode::BadParamCount},
        {"two arguments", DispatchKind::Method, {{Variant(1), Variant(QStringLiteral("Velkaro"))}, {}},
            ResultCode::BadParamCount},
        {"a named argument", DispatchKind::Method, {{Variant(QStringLiteral("Velkaro"))}, {5}},
            ResultCode::BadParamCount},
        {"a number", DispatchKind::Method, {{Variant(7)}, {}}, ResultCode::TypeMismatch},
        {"null", DispatchKind::Method, {{Variant::Null()}, {}}, ResultCode::TypeMismatch},
        {"a missing program", DispatchKind::Method, {{Variant(QStringLiteral("Other"))}, {}},
            ResultCode::ExceptionOccurred},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Variant result;
        ExcepInfo info;
        EXPECT_EQ(invoke(c.flags, c.params, result, info), c.code);
        EXPECT_TRUE(result.IsEmpty());
    }
    Variant result;
    ExcepInfo info;
    DispParams none;
    EXPECT_EQ(object_.Invoke(2, 0, DispatchKind::Method, none, &result, &info), ResultCode::MemberNotFound);
}

} // namespace

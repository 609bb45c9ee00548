// Data requests served through a MySQL query and its provider, against the
// throwaway MariaDB that ctest starts; and query/provider pairs made and
// removed at run time.

#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "data/Provider.h"
#include "inhouse/libAppServerUNI.h"
#include "mysql/MyError.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"
#include "support/Fixtures.h"
#include "support/MySqlTestServer.h"

#include <QWidget>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

const QString VersionQuery = QStringLiteral("Select * From tbVersionControl");

// The update client's window in small: the connection, qryAnyPropose,
// dspAnyPropose answering through CentralDataRequest, and cdsAnyPropose.
class DataRequests : public ::testing::Test {
protected:
    DataRequests()
    {
        InitializeLibAppServerUNI();
        const MySqlTestServer& s = TestServer();
        connection = new TUniConnection(&owner);
        connection->SetName(QStringLiteral("uniConnDataCenter"));
        connection->SetProviderName(QStringLiteral("MySQL"));
        connection->SetServer(QString::fromLatin1(s.host));
        connection->SetPort(s.port);
        connection->SetDatabase(QString::fromLatin1(s.database));
        connection->SetUsername(QString::fromLatin1(s.user));
        connection->SetPassword(QString::fromLatin1(s.password));
        connection->SetSpecificOptions({QStringLiteral("MySQL.UseUnicode=True")});
        query = new TUniQuery(&owner);
        query->SetName(QStringLiteral("qryAnyPropose"));
        query->SetConnection(connection);
        provider = new TDataSetProvider(&owner);
        provider->SetName(QStringLiteral("dspAnyPropose"));
        provider->SetDataSet(query);
        provider->SetOptions(poAllowCommandText | poUseQuoteChar);
        provider->OnDataRequest = [this](TDataSetProvider*, const Variant& input) {
            return ObjAppServerUNI->CentralDataRequest(query, provider, input);
        };
        client = cdsFor(QStringLiteral("dspAnyPropose"));
    }
    ~DataRequests() override { FinalizeLibAppServerUNI(); }

    TClientDataSet* cdsFor(const QString& providerName)
    {
        auto* table = new TClientDataSet(&owner);
        table->SetProviderName(providerName);
        return table;
    }
    static QStringList column(TClientDataSet* table, const QString& name)
    {
        QStringList values;
        for (table->First(); !table->Eof(); table->Next())
            values.append(table->FieldByName(name)->AsString());
        return values;
    }
    // SELECT statements this session has run so far.
    int selectsRun()
    {
        TUniQuery status;
        status.SetConnection(connection);
        status.SQL() = {QStringLiteral("SHOW SESSION STATUS LIKE 'Com_select'")};
        status.Open();
        return int(status.Fields(1)->AsInteger());
    }

    TMySQLUniProvider mysqlProvider;
    QWidget owner;
    TUniConnection* connection;
    TUniQuery* query;
    TDataSetProvider* provider;
    TClientDataSet* client;
};

} // namespace

TEST_F(DataRequests, TheVersionCheckRunsTheStatementTwiceAndAnswersItsRows)
{
    VELKARO_NEED_MYSQL_SERVER();
    client->SetName(QStringLiteral("cdsAnyPropose"));
    const int before = selectsRun();
    client->SetData(client->DataRequest(Variant(VersionQuery)));
    EXPECT_EQ(selectsRun() - before, 2) << "packaging resets the query, which runs it again";
    EXPECT_EQ(column(client, QStringLiteral("Version")), QStringList {"1.0.0"});
    EXPECT_TRUE(query->Active()) << "the query stays open on its last result";
    EXPECT_EQ(connection->ConnectCount(), 1);
}

TEST_F(DataRequests, TwoRequestsInARowAndOneWithoutRows)
{
    VELKARO_NEED_MYSQL_SERVER();
    client->SetData(client->DataRequest(
        Variant(QStringLiteral("SELECT 'สมชาย' AS Name UNION ALL SELECT 'Ann'\r\nORDER BY Name DESC\n"))));
    EXPECT_EQ(column(client, QStringLiteral("Name")), QStringList({"สมชาย", "Ann"}));
    EXPECT_EQ(query->PSGetDefaultOrder(), "Name");

    client->SetData(client->DataRequest(Variant(VersionQuery + QStringLiteral(" WHERE 1 = 0"))));
    EXPECT_EQ(client->RecordCount(), 0);
    ASSERT_EQ(client->FieldCount(), 1);
    EXPECT_EQ(client->FieldByName(QStringLiteral("Version"))->AsString(), "");
    EXPECT_EQ(query->SQL(), QStringList {VersionQuery + QStringLiteral(" WHERE 1 = 0")});
}

TEST_F(DataRequests, ErrorsComeBackWithTheirText)
{
    VELKARO_NEED_MYSQL_SERVER();
    struct Case {
        Variant input;
        QString message; // its beginning
    };
    const Case cases[] = {
        {Variant(QStringLiteral("Select * From tbVersionControll")),
            "\n#42S02Table 'VelkaroDB.tbVersionControll' doesn't exist"},
        {Variant(QStringLiteral("Selec 1")), "\n#42000You have an error in your SQL syntax"},
        {Variant::Null(), "Could not convert variant of type (Null) into type (OleStr)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        try {
            client->DataRequest(c.input);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_TRUE(e.Message().startsWith(c.message)) << S(e.Message());
        }
        EXPECT_FALSE(query->Active());
    }
    // The session is still in step for the next request.
    client->SetData(client->DataRequest(Variant(VersionQuery)));
    EXPECT_EQ(column(client, QStringLiteral("Version")), QStringList {"1.0.0"});
}

TEST_F(DataRequests, RunTimePairsAreMadeOnceAndRemovedWhole)
{
    VELKARO_NEED_MYSQL_SERVER();
    QObject callObj;
    const auto named = [&](const QString& name) { return FindComponent(&callObj, name); };
    ObjAppServerUNI->CreateProvider(
        QStringLiteral("Versions"), &callObj, Variant(QStringLiteral("select 1 AS x")), connection);
    ObjAppServerUNI->CreateProvider(QStringLiteral("Versions"), &callObj, Variant(VersionQuery), connection);
    ASSERT_EQ(callObj.children().size(), 2) << "the second call leaves the one pair";
    auto* qry = qobject_cast<TUniQuery*>(named(QStringLiteral("qryVersions")));
    auto* dsp = qobject_cast<TDataSetProvider*>(named(QStringLiteral("dspVersions")));
    ASSERT_NE(qry, nullptr);
    ASSERT_NE(dsp, nullptr);
    EXPECT_EQ(qry->Connection(), connection);
    EXPECT_EQ(qry->SQL(), QStringList {"select 1 AS x"});
    EXPECT_FALSE(qry->Active());
    EXPECT_EQ(dsp->DataSet(), qry);
    EXPECT_EQ(dsp->Options(), poAllowCommandText);

    // The pair answers requests through EventOnDataRequestOnTheFly.
    auto* table = new TClientDataSet(&callObj);
    table->SetProviderName(QStringLiteral("dspVersions"));
    table->SetData(table->DataRequest(Variant(VersionQuery)));
    EXPECT_EQ(column(table, QStringLiteral("Version")), QStringList {"1.0.0"});
    delete table;

    ObjAppServerUNI->RemoveProvider(QStringLiteral("Versions"), &callObj);
    EXPECT_TRUE(callObj.children().isEmpty());
    ObjAppServerUNI->CreateProvider(QStringLiteral("Versions"), &callObj, Variant(VersionQuery), connection);
    EXPECT_NE(named(QStringLiteral("qryVersions")), nullptr) << "a fresh pair";
    EXPECT_NE(named(QStringLiteral("dspVersions")), nullptr);
}

TEST_F(DataRequests, RemovingOrMakingAPairLeavesOtherComponentsAlone)
{
    VELKARO_NEED_MYSQL_SERVER();
    QObject callObj;
    auto* lone = new TUniQuery(&callObj);
    lone->SetName(QStringLiteral("qryLone"));
    ObjAppServerUNI->RemoveProvider(QStringLiteral("Lone"), &callObj);
    EXPECT_EQ(FindComponent(&callObj, QStringLiteral("qryLone")), lone) << "no provider: nothing is removed";

    // The query's name is taken: the component layer refuses, nothing is left.
    try {
        ObjAppServerUNI->CreateProvider(QStringLiteral("Lone"), &callObj, Variant(VersionQuery), connection);
        ADD_FAILURE() << "no error";
    } catch (const EComponentError& e) {
        EXPECT_EQ(e.Message(), "A component named qryLone already exists");
    }
    EXPECT_EQ(callObj.children().size(), 1);

    try {
        ObjAppServerUNI->CreateProvider(QStringLiteral("Null"), &callObj, Variant::Null(), connection);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Could not convert variant of type (Null) into type (OleStr)");
    }
    EXPECT_EQ(callObj.children().size(), 1);
}

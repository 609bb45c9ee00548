// Data requests served through a query and its provider.

#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "data/Provider.h"
#include "inhouse/libAppServerUNI.h"
#include "support/ScriptedQuery.h"

#include <QWidget>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

class DataRequests : public ::testing::Test {
protected:
    DataRequests()
    {
        InitializeLibAppServerUNI();
        query = new ScriptedQuery(&owner);
        query->SetName(QStringLiteral("qryAnyPropose"));
        provider = new TDataSetProvider(&owner);
        provider->SetName(QStringLiteral("dspAnyPropose"));
        provider->SetDataSet(query);
        provider->OnDataRequest = [this](TDataSetProvider*, const Variant& input) {
            return ObjAppServerUNI->CentralDataRequest(query, provider, input);
        };
        client = new TClientDataSet(&owner);
        client->SetName(QStringLiteral("cdsAnyPropose"));
        client->SetProviderName(QStringLiteral("dspAnyPropose"));

        ScriptedQuery::Answer names;
        names.fields = {TFieldDef {QStringLiteral("Name"), TFieldType::ftWideString, 20}};
        names.rows = {{Variant(QStringLiteral("สมชาย"))}, {Variant(QStringLiteral("Ann"))}};
        query->answers[QStringLiteral("select name")] = names;
        ScriptedQuery::Answer none;
        none.fields = {TFieldDef {QStringLiteral("Version"), TFieldType::ftWideString, 20}};
        query->answers[QStringLiteral("select nothing")] = none;
    }
    ~DataRequests() override { FinalizeLibAppServerUNI(); }

    QStringList column(const QString& name)
    {
        QStringList values;
        for (client->First(); !client->Eof(); client->Next())
            values.append(client->FieldByName(name)->AsString());
        return values;
    }

    QWidget owner;
    ScriptedQuery* query;
    TDataSetProvider* provider;
    TClientDataSet* client;
};

} // namespace

TEST_F(DataRequests, EachRequestReplacesTheStatementAndAnswersItsRows)
{
    client->SetData(client->DataRequest(Variant(QStringLiteral("select name"))));
    EXPECT_EQ(column(QStringLiteral("Name")), QStringList({"สมชาย", "Ann"}));
    EXPECT_TRUE(query->Active()) << "the query stays open on its last result";

    client->SetData(client->DataRequest(Variant(QStringLiteral("select nothing"))));
    EXPECT_EQ(client->RecordCount(), 0);
    EXPECT_EQ(client->FieldByName(QStringLiteral("Version"))->AsString(), "");
    EXPECT_EQ(query->SQL(), QStringList {"select nothing"});
    // Each statement runs twice: once to answer, once more on the provider's reset.
    EXPECT_EQ(query->executed, QStringList({"select name", "select name", "select nothing", "select nothing"}));
}

TEST_F(DataRequests, ErrorsComeBackWithTheirText)
{
    query->answers[QStringLiteral("select broken")].error = QStringLiteral("You have an error in your SQL syntax");
    struct Case {
        Variant input;
        QString message;
    };
    const Case cases[] = {
        {Variant(QStringLiteral("select broken")), "You have an error in your SQL syntax"},
        {Variant::Null(), "Could not convert variant of type (Null) into type (OleStr)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        try {
            client->DataRequest(c.input);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST_F(DataRequests, RunTimeProvidersServeThroughTheirOwnDataSet)
{
    provider->OnDataRequest = [](TDataSetProvider* sender, const Variant& input) {
        return ObjAppServerUNI->EventOnDataRequestOnTheFly(sender, input);
    };
    client->SetData(client->DataRequest(Variant(QStringLiteral("select name"))));
    EXPECT_EQ(column(QStringLiteral("Name")), QStringList({"สมชาย", "Ann"}));
}

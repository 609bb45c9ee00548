#include "data/ClientDataSet.h"
#include "core/Exceptions.h"
#include "data/Provider.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using namespace velkaro;
using velkaro::testing::TempExeFolder;
using enum TFieldType;

namespace {

QList<TFieldDef> ConfigDefs()
{
    return {{QStringLiteral("Section"), ftString, 20}, {QStringLiteral("Key"), ftString, 20},
        {QStringLiteral("Value"), ftString, 255}};
}

void AddConfigRow(TDataSet& t, const QString& section, const QString& key, const QString& value)
{
    t.Append();
    t.FieldByName(QStringLiteral("Section"))->SetAsString(section);
    t.FieldByName(QStringLiteral("Key"))->SetAsString(key);
    t.FieldByName(QStringLiteral("Value"))->SetAsString(value);
    t.Post();
}

// "Section/Key=Value" of every row, first to last; the cursor is put back.
QStringList Rows(TDataSet& t)
{
    const int at = t.RecNo();
    QStringList rows;
    for (t.First(); !t.Eof(); t.Next()) {
        rows.append(t.FieldByName(QStringLiteral("Section"))->AsString() + u'/'
            + t.FieldByName(QStringLiteral("Key"))->AsString() + u'='
            + t.FieldByName(QStringLiteral("Value"))->AsString());
    }
    if (at > 0)
        t.SetRecNo(at);
    return rows;
}

QString Current(const TDataSet& t)
{
    return t.FieldByName(QStringLiteral("Value"))->AsString();
}

std::unique_ptr<TClientDataSet> ConfigTable(const QString& index = QStringLiteral("Section;Key"))
{
    auto t = std::make_unique<TClientDataSet>();
    t->setObjectName(QStringLiteral("cdsTest"));
    t->FieldDefs() = ConfigDefs();
    t->SetIndexFieldNames(index);
    t->CreateDataSet();
    return t;
}

} // namespace

TEST(ClientDataSet, IndexOrdersByExactTextAndFindKeyFindsRows)
{
    auto t = ConfigTable();
    AddConfigRow(*t, QStringLiteral("b"), QStringLiteral("2"), QStringLiteral("b2"));
    AddConfigRow(*t, QStringLiteral("ClientVersion"), QStringLiteral("Velkaro"), QStringLiteral("1.0"));
    AddConfigRow(*t, QStringLiteral("B"), QStringLiteral("1"), QStringLiteral("B1"));
    AddConfigRow(*t, QStringLiteral("ก"), QStringLiteral("x"), QStringLiteral("thai"));
    AddConfigRow(*t, QStringLiteral("b"), QStringLiteral("1"), QStringLiteral("b1"));
    AddConfigRow(*t, QStringLiteral("caf\u00E9"), QStringLiteral("a\U0001F600"), QStringLiteral("latin"));
    AddConfigRow(*t, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), QStringLiteral("k"), QStringLiteral("long"));
    EXPECT_EQ(Rows(*t),
        (QStringList {"ABCDEFGHIJKLMNOPQRST/k=long", "B/1=B1", "ClientVersion/Velkaro=1.0", "b/1=b1", "b/2=b2",
            "caf?/a?=latin", "ก/x=thai"}));
    // Each posted row is current.
    EXPECT_EQ(t->RecNo(), 1);

    QString byRefSection = QStringLiteral("ClientVersion");
    struct Case {
        const char* name;
        QList<Variant> key;
        bool found;
        QString value;
    };
    const Case cases[] = {
        {"exact", {QStringLiteral("ClientVersion"), QStringLiteral("Velkaro")}, true, QStringLiteral("1.0")},
        {"case counts", {QStringLiteral("clientversion"), QStringLiteral("Velkaro")}, false, {}},
        {"second field decides", {QStringLiteral("b"), QStringLiteral("2")}, true, QStringLiteral("b2")},
        {"thai", {QStringLiteral("ก"), QStringLiteral("x")}, true, QStringLiteral("thai")},
        {"leading index field only", {QStringLiteral("b")}, true, QStringLiteral("b1")},
        {"key cut to the width as stored", {QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), QStringLiteral("k")}, true,
            QStringLiteral("long")},
        // Characters the code page lacks were stored as its default character.
        {"characters the code page lacks", {QStringLiteral("caf\u00E9"), QStringLiteral("a\U0001F600")}, true,
            QStringLiteral("latin")},
        {"their default character", {QStringLiteral("caf?"), QStringLiteral("a?")}, true, QStringLiteral("latin")},
        {"a number as text", {QStringLiteral("b"), Variant(2)}, true, QStringLiteral("b2")},
        {"text by reference", {Variant::ByRef(varOleStr, &byRefSection), QStringLiteral("Velkaro")}, true,
            QStringLiteral("1.0")},
        {"missing", {QStringLiteral("b"), QStringLiteral("3")}, false, {}},
        {"past the end", {QStringLiteral("zzz"), QStringLiteral("1")}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        t->SetRecNo(3);
        EXPECT_EQ(t->FindKey(c.key), c.found);
        EXPECT_EQ(Current(*t), c.found ? c.value : QStringLiteral("1.0")); // a miss leaves the cursor
    }
    EXPECT_THROW(t->FindKey({Variant(QStringLiteral("a")), Variant(QStringLiteral("b")), Variant(QStringLiteral("c")),
                     Variant(QStringLiteral("d"))}),
        EDatabaseError);
}

TEST(ClientDataSet, EditInsertPostCancelDelete)
{
    struct Case {
        const char* name;
        std::function<void(TClientDataSet&)> steps;
        QStringList rows;
        QString current;
    };
    const auto set = [](TClientDataSet& t, const char* field, const char* text) {
        t.FieldByName(QString::fromLatin1(field))->SetAsString(QString::fromUtf8(text));
    };
    const Case cases[] = {
        {"edit and post moves the row by the index",
            [&](TClientDataSet& t) {
                t.FindKey({QStringLiteral("a"), QStringLiteral("1")});
                t.Edit();
                set(t, "Section", "d");
                t.Post();
            },
            {"b/1=b", "c/1=c", "d/1=a"}, "a"},
        {"edit and cancel",
            [&](TClientDataSet& t) {
                t.Last();
                t.Edit();
                set(t, "Value", "zz");
                EXPECT_EQ(Current(t), "zz");
                t.Cancel();
            },
            {"a/1=a", "b/1=b", "c/1=c"}, "c"},
        {"insert is placed by the index",
            [&](TClientDataSet& t) {
                t.Insert();
                set(t, "Section", "bb");
                set(t, "Key", "1");
                set(t, "Value", "new");
                t.Post();
            },
            {"a/1=a", "b/1=b", "bb/1=new", "c/1=c"}, "new"},
        {"insert cancelled",
            [&](TClientDataSet& t) {
                t.Insert();
                set(t, "Value", "x");
                t.Cancel();
            },
            {"a/1=a", "b/1=b", "c/1=c"}, "b"},
        {"moving posts a changed row",
            [&](TClientDataSet& t) {
                t.First();
                t.Edit();
                set(t, "Value", "A");
                t.Next();
            },
            {"a/1=A", "b/1=b", "c/1=c"}, "b"},
        {"moving drops an unchanged new row",
            [&](TClientDataSet& t) {
                t.Append();
                t.First();
            },
            {"a/1=a", "b/1=b", "c/1=c"}, "a"},
        {"delete the middle row",
            [&](TClientDataSet& t) {
                t.SetRecNo(2);
                t.Delete();
                EXPECT_EQ(Current(t), "c");
            },
            {"a/1=a", "c/1=c"}, "c"},
        {"delete the last row",
            [&](TClientDataSet& t) {
                t.Last();
                t.Delete();
                EXPECT_TRUE(t.Eof());
                EXPECT_EQ(Current(t), "b");
            },
            {"a/1=a", "b/1=b"}, "b"},
        {"delete while inserting drops the new row",
            [&](TClientDataSet& t) {
                t.Insert();
                set(t, "Value", "x");
                t.Delete();
            },
            {"a/1=a", "b/1=b", "c/1=c"}, "b"},
        {"value longer than the width",
            [&](TClientDataSet& t) {
                t.First();
                t.Edit();
                t.FieldByName("Value")->SetAsString(QString(300, u'v'));
                t.Post();
            },
            {"a/1=" + QString(255, u'v'), "b/1=b", "c/1=c"}, QString(255, u'v')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = ConfigTable();
        for (const char* s : {"c", "a", "b"})
            AddConfigRow(*t, QString::fromLatin1(s), QStringLiteral("1"), QString::fromLatin1(s));
        c.steps(*t);
        EXPECT_EQ(t->State(), TDataSetState::dsBrowse);
        EXPECT_EQ(Current(*t), c.current);
        EXPECT_EQ(Rows(*t), c.rows);
    }
}

TEST(ClientDataSet, WithoutIndexRowsKeepTheirPlace)
{
    auto t = ConfigTable(QString());
    AddConfigRow(*t, QStringLiteral("z"), QStringLiteral("1"), QStringLiteral("first"));
    AddConfigRow(*t, QStringLiteral("a"), QStringLiteral("1"), QStringLiteral("second"));
    t->First();
    t->Insert();
    EXPECT_EQ(t->RecNo(), 1);
    t->FieldByName(QStringLiteral("Value"))->SetAsString(QStringLiteral("inserted"));
    t->Post();
    EXPECT_EQ(Rows(*t), (QStringList {"/=inserted", "z/1=first", "a/1=second"}));
    EXPECT_THROW(t->FindKey({QStringLiteral("a")}), EDatabaseError);
    // Ordering later sorts the open table.
    t->SetIndexFieldNames(QStringLiteral("Section"));
    EXPECT_EQ(Rows(*t), (QStringList {"/=inserted", "a/1=second", "z/1=first"}));
}

TEST(ClientDataSet, ErrorsCarryTheTableName)
{
    TClientDataSet named;
    named.setObjectName(QStringLiteral("cdsConfig"));
    TClientDataSet unnamed;
    const QString closed = QStringLiteral("Cannot perform this operation on a closed dataset");
    struct Case {
        const char* name;
        std::function<void()> call;
        QString message;
    };
    const Case cases[] = {
        {"FindKey on closed", [&] { named.FindKey({QStringLiteral("a")}); }, "cdsConfig: " + closed},
        {"First on closed", [&] { named.First(); }, "cdsConfig: " + closed},
        {"Edit on closed", [&] { named.Edit(); }, "cdsConfig: " + closed},
        {"SaveToFile on closed", [&] { named.SaveToFile(QStringLiteral("/tmp/x.cds")); }, "cdsConfig: " + closed},
        {"unnamed closed", [&] { unnamed.Next(); }, closed},
        {"field not found", [&] { named.FieldByName(QStringLiteral("Version")); },
            QStringLiteral("cdsConfig: Field 'Version' not found")},
        {"unnamed field not found", [&] { unnamed.FieldByName(QStringLiteral("Version")); },
            QStringLiteral("Field 'Version' not found")},
        {"open without fields or source", [&] { named.Open(); },
            QStringLiteral("cdsConfig: Missing data provider or data packet")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.call();
            ADD_FAILURE() << "no error";
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST(ClientDataSet, FieldsOfARowlessTableReadEmpty)
{
    auto t = ConfigTable();
    const TField* value = t->FieldByName(QStringLiteral("Value"));
    EXPECT_EQ(value->AsString(), QString());
    EXPECT_TRUE(value->Value().IsNull());
    EXPECT_TRUE(t->Eof());
    EXPECT_TRUE(t->Bof());
    EXPECT_EQ(t->RecNo(), 0);
    EXPECT_THROW(t->Delete(), EDatabaseError);
    // Writing needs edit or insert state.
    try {
        t->FieldByName(QStringLiteral("Value"))->SetAsString(QStringLiteral("x"));
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("cdsTest: Dataset not in edit or insert mode"));
    }
    // Edit on an empty table starts a new row.
    t->Edit();
    EXPECT_EQ(t->State(), TDataSetState::dsInsert);
}

TEST(ClientDataSet, ReadOnlyAndRequiredFields)
{
    TClientDataSet t;
    t.FieldDefs() = {{QStringLiteral("Id"), ftInteger, 0, true}, {QStringLiteral("Name"), ftWideString, 10}};
    t.CreateDataSet();
    t.FieldByName(QStringLiteral("Name"))->SetReadOnly(true);
    t.Append();
    EXPECT_THROW(t.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("x")), EDatabaseError);
    t.FieldByName(QStringLiteral("Name"))->SetReadOnly(false);
    t.FieldByName(QStringLiteral("Name"))->SetAsString(QStringLiteral("x"));
    try {
        t.Post();
        ADD_FAILURE() << "posted without the required field";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Field 'Id' must have a value"));
    }
    EXPECT_EQ(t.State(), TDataSetState::dsInsert);
    t.FieldByName(QStringLiteral("Id"))->SetAsString(QStringLiteral("5"));
    t.Post();
    EXPECT_EQ(t.RecordCount(), 1);
}

TEST(ClientDataSet, FileRoundTripKeepsDefinitionsRowsAndOrder)
{
    TempExeFolder folder;
    auto t = ConfigTable();
    AddConfigRow(*t, QStringLiteral("ClientVersion"), QStringLiteral("Velkaro"), QStringLiteral("เวอร์ชั่น 2"));
    AddConfigRow(*t, QStringLiteral("A"), QStringLiteral("k"), QString());
    t->Edit(); // unfinished edits are posted by SaveToFile
    t->FieldByName(QStringLiteral("Value"))->SetAsString(QStringLiteral("edited"));
    t->SaveToFile(folder.File(QStringLiteral("t.cds")));
    EXPECT_TRUE(t->Active());

    TClientDataSet loaded;
    loaded.FieldDefs() = {{QStringLiteral("Other"), ftInteger}};
    loaded.SetIndexFieldNames(QStringLiteral("Section;Key"));
    loaded.LoadFromFile(folder.File(QStringLiteral("t.cds")));
    EXPECT_EQ(loaded.FieldDefs(), ConfigDefs());
    EXPECT_EQ(loaded.RecNo(), 1);
    EXPECT_EQ(Rows(loaded), (QStringList {"A/k=edited", "ClientVersion/Velkaro=เวอร์ชั่น 2"}));

    // A relative name is taken from the executable's folder.
    TClientDataSet relative;
    relative.LoadFromFile(QStringLiteral("t.cds"));
    EXPECT_EQ(relative.RecordCount(), 2);
}

TEST(ClientDataSet, UnreadableFilesLeaveTheTableClosed)
{
    TempExeFolder folder;
    folder.Write(QStringLiteral("junk.cds"), QByteArray("VKDS\x01\x00", 6));
    QDir(folder.Path()).mkdir(QStringLiteral("dir.cds"));
    struct Case {
        const char* name;
        QString file;
        QString message;
    };
    const QString missing = folder.File(QStringLiteral("missing.cds"));
    const QString junk = folder.File(QStringLiteral("junk.cds"));
    const QString dir = folder.File(QStringLiteral("dir.cds"));
    const Case cases[] = {
        {"missing", missing, "Cannot open file \"" + missing + "\". No such file or directory"},
        {"directory", dir, "Cannot open file \"" + dir + "\". Is a directory"},
        {"truncated", junk, "Invalid table file \"" + junk + "\": the data ends inside the header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = ConfigTable();
        try {
            t->LoadFromFile(c.file);
            ADD_FAILURE() << "loaded";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_FALSE(t->Active());
    }
}

TEST(ClientDataSet, ClosingWritesTheFileWhenRowsChangedOrItIsMissing)
{
    TempExeFolder folder;
    const QString name = QStringLiteral("Config.cds");
    {
        auto seed = ConfigTable();
        AddConfigRow(*seed, QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("v1"));
        seed->SaveToFile(folder.File(name));
    }
    const QByteArray original = folder.Read(name);
    const QByteArray marker = QByteArray("not written over");

    struct Case {
        const char* name;
        bool removeFirst;
        std::function<void(TClientDataSet&)> change;
        bool written;
    };
    const Case cases[] = {
        {"unchanged: left alone", false, [](TClientDataSet&) {}, false},
        {"changed: written", false,
            [](TClientDataSet& t) {
                t.Edit();
                t.FieldByName("Value")->SetAsString("v2");
                t.Post();
            },
            true},
        {"deleted row: written", false, [](TClientDataSet& t) { t.Delete(); }, true},
        {"changed then saved there: not again", false,
            [&](TClientDataSet& t) {
                t.Delete();
                t.SaveToFile(folder.File(name));
                folder.Write(name, marker);
            },
            false},
        {"file gone: written", true, [](TClientDataSet&) {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.Write(name, original);
        TClientDataSet t;
        t.SetFileName(name);
        t.SetIndexFieldNames(QStringLiteral("Section;Key"));
        t.Open(); // reads the file of that name
        ASSERT_EQ(t.RecordCount(), 1);
        c.change(t);
        const QStringList rows = Rows(t);
        if (c.removeFirst)
            QFile::remove(folder.File(name));
        else if (!c.written)
            folder.Write(name, marker);
        t.Close();
        if (!c.written) {
            EXPECT_EQ(folder.Read(name), marker);
            continue;
        }
        TClientDataSet check;
        check.LoadFromFile(folder.File(name));
        EXPECT_EQ(Rows(check), rows);
    }
}

TEST(ClientDataSet, FailedSavesLeaveThePreviousFileWhole)
{
    TempExeFolder folder;
    auto t = ConfigTable();
    AddConfigRow(*t, QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("old"));
    const QString path = folder.File(QStringLiteral("Config.cds"));
    t->SaveToFile(path);
    const QByteArray before = folder.Read(QStringLiteral("Config.cds"));
    for (int i = 0; i < 2000; ++i)
        AddConfigRow(*t, QStringLiteral("S%1").arg(i), QStringLiteral("K"), QString(200, u'x'));

    // The file-size limit binds root too: the write fails part-way.
    struct rlimit saved { };
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    try {
        t->SaveToFile(path);
        ADD_FAILURE() << "saved past the size limit";
    } catch (const EFCreateError& e) {
        EXPECT_TRUE(e.Message().startsWith("Cannot create file \"" + path + "\". ")) << e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(folder.Read(QStringLiteral("Config.cds")), before);
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files), QStringList {"Config.cds"}); // no temporary left behind

    // A name that is a folder cannot be written either.
    QDir(folder.Path()).mkdir(QStringLiteral("sub"));
    try {
        t->SaveToFile(folder.File(QStringLiteral("sub")));
        ADD_FAILURE() << "saved over a folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + folder.File(QStringLiteral("sub")) + "\". Is a directory");
    }
    EXPECT_TRUE(t->Active());
}

namespace {

// A dataset that fills itself as a query does and counts its resets.
class ScriptedQuery : public TDataSet {
public:
    using TDataSet::TDataSet;
    QList<QList<Variant>> rows;
    int opens = 0;
    int resets = 0;
    void ProviderReset() override
    {
        ++resets;
        Close();
        Open();
    }

protected:
    void InternalOpen() override
    {
        ++opens;
        FieldDefs() = {{QStringLiteral("Version"), ftWideString, 20}, {QStringLiteral("Build"), ftLargeint}};
        for (const QList<Variant>& r : rows)
            AddRow(r);
    }
};

} // namespace

TEST(ClientDataSet, DataRequestThroughAProvider)
{
    QObject window;
    auto* query = new ScriptedQuery(&window);
    query->rows = {{QStringLiteral("1.2"), Variant::FromInt64(12)}, {QStringLiteral("1.3"), Variant::Null()}};
    auto* provider = new TDataSetProvider(&window);
    provider->SetName(QStringLiteral("dspAnyPropose"));
    provider->SetDataSet(query);
    provider->SetOptions(poAllowCommandText | poUseQuoteChar);
    auto* client = new TClientDataSet(&window);
    client->SetName(QStringLiteral("cdsAnyPropose"));
    client->SetProviderName(QStringLiteral("dspAnyPropose"));

    // Without a handler the provider answers all rows of its dataset.
    query->Open();
    query->Last();
    client->SetData(client->DataRequest(QStringLiteral("Select * From tbVersionControl")));
    EXPECT_EQ(client->RecordCount(), 2);
    EXPECT_EQ(client->FieldByName(QStringLiteral("Version"))->AsString(), QStringLiteral("1.2"));
    EXPECT_EQ(query->resets, 1);
    EXPECT_EQ(query->opens, 2);

    // A handler sees the input; what it raises comes back unchanged.
    QString seen;
    provider->OnDataRequest = [&](TDataSetProvider* sender, const Variant& input) {
        EXPECT_EQ(sender, provider);
        seen = input.ToString();
        if (seen == QStringLiteral("fail"))
            throw EDatabaseError(QStringLiteral("#42000You have an error in your SQL syntax"));
        query->rows.clear();
        return sender->Data();
    };
    client->SetData(client->DataRequest(QStringLiteral("Select 1")));
    EXPECT_EQ(seen, QStringLiteral("Select 1"));
    EXPECT_EQ(client->RecordCount(), 2); // the open result, packaged before the reset emptied it
    query->Close();
    client->SetData(client->DataRequest(QStringLiteral("Select 2")));
    EXPECT_EQ(client->RecordCount(), 0);
    EXPECT_EQ(client->FieldByName(QStringLiteral("Version"))->AsString(), QString());
    try {
        client->DataRequest(QStringLiteral("fail"));
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("#42000You have an error in your SQL syntax"));
    }

    client->SetProviderName(QStringLiteral("dspMissing"));
    try {
        client->DataRequest(QStringLiteral("Select 1"));
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("cdsAnyPropose: Provider 'dspMissing' not found"));
    }
}

TEST(ClientDataSet, FindKeyFindsTheFirstOfEqualRowsBeforeAndAfterChanges)
{
    // The index as the leading fields in order, with a float among them or
    // without (whose keys the lookup table compares as runs of bytes), and
    // in another order.
    for (const QList<int>& index : {QList<int> {0, 1, 2}, QList<int> {0, 1}, QList<int> {2, 0, 1}}) {
        // Keys from small sets, so rows share keys; nulls and -0 among them.
        TClientDataSet t;
        t.FieldDefs() = {{QStringLiteral("S"), ftString, 20}, {QStringLiteral("N"), ftInteger},
            {QStringLiteral("F"), ftFloat}, {QStringLiteral("Row"), ftInteger}};
        const QStringList names {"S", "N", "F"};
        QStringList indexNames;
        for (int f : index)
            indexNames.append(names[f]);
        SCOPED_TRACE(indexNames.join(u';').toStdString());
        t.SetIndexFieldNames(indexNames.join(u';'));
        t.CreateDataSet();
        const QStringList sections {"", "a", "B", "ก"};
        const auto valueOf = [&](int field, int i) {
            if (field == 0)
                return i % 11 == 0 ? Variant::Null() : Variant(sections[i % sections.size()]);
            if (field == 1)
                return i % 7 == 0 ? Variant::Null() : Variant(i % 5);
            return Variant(i % 3 == 0 ? -0.0 : (i % 3 == 1 ? 0.0 : 1.5));
        };
        int next = 0;
        const auto add = [&](int i) {
            t.Append();
            for (int f = 0; f < 3; ++f)
                t.Fields(f)->SetValue(valueOf(f, i));
            t.Fields(3)->SetValue(next++);
            t.Post();
        };
        for (int i = 0; i < 300; ++i)
            add(i * 7919 % 1000);

        // The row a scan in index order finds first, or -1.
        const auto scan = [&](const QList<Variant>& key) {
            for (int row = 1; row <= t.RecordCount(); ++row) {
                t.SetRecNo(row);
                bool equal = true;
                for (int k = 0; k < key.size(); ++k) {
                    const Variant v = t.Fields(index[k])->Value();
                    if (v.IsNull() || key[k].IsNull())
                        equal = equal && v.IsNull() == key[k].IsNull();
                    else if (index[k] == 2)
                        equal = equal && v.ToDouble() == key[k].ToDouble(); // -0 and 0 are one key
                    else
                        equal = equal && v == key[k];
                }
                if (equal)
                    return t.FieldByName(QStringLiteral("Row"))->AsInteger();
            }
            return qint64(-1);
        };
        const auto check = [&](int rounds) {
            for (int i = 0; i < rounds; ++i) {
                const int k = i * 31 % 1000;
                QList<Variant> key;
                for (int f : index)
                    key.append(valueOf(f, f == 2 ? k + i % 2 : k));
                SCOPED_TRACE(i);
                const qint64 expected = scan(key);
                t.First();
                ASSERT_EQ(t.FindKey(key), expected >= 0);
                if (expected >= 0) {
                    EXPECT_EQ(t.FieldByName(QStringLiteral("Row"))->AsInteger(), expected);
                }
            }
        };
        check(80);
        // Each change is seen by lookups that come after it (enough of them
        // to go through the lookup table again).
        for (int i = 0; i < 10; ++i) {
            add(i * 13);
            check(12);
            t.SetRecNo(1 + i * 5 % t.RecordCount());
            t.Edit();
            t.Fields(1)->SetValue(i % 4 == 0 ? Variant::Null() : Variant(i % 5));
            t.Post();
            check(12);
            t.SetRecNo(1 + i * 7 % t.RecordCount());
            t.Delete();
            check(12);
        }
    }
}

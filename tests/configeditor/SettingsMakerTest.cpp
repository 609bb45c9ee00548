// The configuration editor driven through its grid with key presses, then
// read back by the update client's configuration store.

#include "config/libConfigManager.h"
#include "configeditor/DataSetGrid.h"
#include "configeditor/uMain.h"
#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "platform/MessageDisplay.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

using Rows = QList<QStringList>;

class SettingsMaker : public ::testing::Test {
public:
    void SetUp() override { InitializeLibConfigManager(); }
    void TearDown() override
    {
        delete form.data();
        FinalizeLibConfigManager();
    }

    void writeConfig(const Rows& rows) { WriteConfigFile(folder.File(QStringLiteral("Config.cds")), rows); }

    // Every row of the file, in file order.
    Rows readConfig()
    {
        TClientDataSet table;
        table.LoadFromFile(configPath());
        Rows rows;
        for (table.First(); !table.Eof(); table.Next()) {
            QStringList r;
            for (int i = 0; i < table.FieldCount(); ++i)
                r.append(table.Fields(i)->AsString());
            rows.append(r);
        }
        return rows;
    }

    QString configPath() const { return folder.File(QStringLiteral("Config.cds")); }

    void open()
    {
        form = new TfrmMain;
        form->show();
        QApplication::processEvents();
        grid()->setFocus();
    }

    DataSetGrid* grid() const { return form->DBGrid1; }

    void go(int row, int column) { grid()->setCurrentIndex(grid()->model()->index(row, column)); }

    void type(const QString& text, bool enter = true)
    {
        QTest::keyClicks(grid(), text.left(1));
        QWidget* editor = QApplication::focusWidget();
        ASSERT_TRUE(editor != nullptr && editor != grid()) << "typing opened no editor";
        QTest::keyClicks(editor, text.mid(1));
        if (enter) {
            QTest::keyClick(editor, Qt::Key_Return);
            QApplication::processEvents(); // the editor closes on a queued call
        }
    }

    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(grid(), k, m); }

    // Closes the window; true when it closed.
    bool closeForm()
    {
        const bool closed = form->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return closed;
    }

    TempExeFolder folder;
    platform::RecordingMessageDisplay messages;
    platform::ScopedMessageDisplay installed {messages};
    QPointer<TfrmMain> form;
};

} // namespace

TEST_F(SettingsMaker, WindowAndGridAreAsDescribed)
{
    writeConfig({{"ClientVersion", "Velkaro", "1.0"}});
    open();
    EXPECT_EQ(form->windowTitle(), "Settings Maker");
    EXPECT_EQ(form->size(), QSize(849, 505));
    EXPECT_EQ(grid()->geometry(), QRect(8, 8, 833, 489));
    auto* model = grid()->GridModel();
    ASSERT_EQ(model->columnCount(), 3);
    const int widths[] = {199, 199, 400};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(grid()->columnWidth(c), widths[c]);
        EXPECT_EQ(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
            QStringList({"Section", "Key", "Value"})[c]);
    }
    EXPECT_FALSE(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model->flags(model->index(0, 1)) & Qt::ItemIsEditable);
    EXPECT_TRUE(model->flags(model->index(0, 2)) & Qt::ItemIsEditable);
    EXPECT_EQ(model->index(0, 2).data().toString(), "1.0");
}

TEST_F(SettingsMaker, NoFileStartsEmptyAndClosingWritesTheDeclaredFields)
{
    open();
    EXPECT_EQ(grid()->model()->rowCount(), 0);
    ASSERT_TRUE(closeForm());
    TClientDataSet table;
    table.LoadFromFile(configPath());
    ASSERT_EQ(table.FieldCount(), 3);
    EXPECT_EQ(table.RecordCount(), 0);
    const int sizes[] = {20, 20, 255};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(table.Fields(i)->FieldName(), QStringList({"Section", "Key", "Value"})[i]);
        EXPECT_EQ(table.Fields(i)->DataType(), TFieldType::ftString);
        EXPECT_EQ(table.Fields(i)->Size(), sizes[i]);
    }
}

TEST_F(SettingsMaker, ChangedValueIsSavedAndReadByTheUpdateClient)
{
    writeConfig({{"ClientVersion", "Velkaro", "1.0"}, {"Server", "Host", "a"}});
    open();
    go(0, 2);
    type(QStringLiteral("2.5"));
    key(Qt::Key_Down); // moving to another row stores the change
    ASSERT_TRUE(closeForm());

    EXPECT_EQ(readConfig(), Rows({{"ClientVersion", "Velkaro", "2.5"}, {"Server", "Host", "a"}}));
    TClientDataSet cdsConfig;
    cdsConfig.SetName(QStringLiteral("cdsConfig"));
    cdsConfig.SetIndexFieldNames(QStringLiteral("Section;Key"));
    EXPECT_EQ(ObjConfigManager->GetConfigValue(&cdsConfig, "ClientVersion", "Velkaro"), "2.5");
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(SettingsMaker, PendingEditIsPostedOnClose)
{
    writeConfig({{"A", "a", "old"}});
    open();
    go(0, 2);
    type(QStringLiteral("typed but not committed"), /*enter=*/false);
    ASSERT_TRUE(closeForm());
    EXPECT_EQ(readConfig(), Rows({{"A", "a", "typed but not committed"}}));
}

TEST_F(SettingsMaker, EscapeAbandonsTheRowsChange)
{
    writeConfig({{"A", "a", "old"}});
    open();
    go(0, 2);
    type(QStringLiteral("new"));
    key(Qt::Key_Escape);
    EXPECT_EQ(grid()->model()->index(0, 2).data().toString(), "old");
    ASSERT_TRUE(closeForm());
    EXPECT_EQ(readConfig(), Rows({{"A", "a", "old"}}));
}

TEST_F(SettingsMaker, InsertedRowsAreKeptOnlyWithAValue)
{
    writeConfig({{"A", "a", "1"}});
    open();
    go(0, 2);
    key(Qt::Key_Down); // past the last row: a new row
    EXPECT_EQ(grid()->model()->rowCount(), 2);
    key(Qt::Key_Up); // left unchanged: dropped
    EXPECT_EQ(grid()->model()->rowCount(), 1);

    key(Qt::Key_Insert); // before the current row
    type(QStringLiteral("only a value"));
    key(Qt::Key_Down);
    key(Qt::Key_Down); // appended after the last row, left unchanged
    ASSERT_TRUE(closeForm());
    EXPECT_EQ(readConfig(), Rows({{"", "", "only a value"}, {"A", "a", "1"}}));
}

TEST_F(SettingsMaker, ValueCellAcceptsAtMostTheFieldWidth)
{
    writeConfig({{"A", "a", "1"}});
    open();
    go(0, 2);
    QTest::keyClicks(grid(), QStringLiteral("x"));
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->maxLength(), 255);
    QTest::keyClicks(editor, QString(300, u'y'));
    QTest::keyClick(editor, Qt::Key_Return);
    ASSERT_TRUE(closeForm());
    EXPECT_EQ(readConfig()[0][2], QStringLiteral("x") + QString(254, u'y'));
}

TEST_F(SettingsMaker, CtrlDeleteAsksFirst)
{
    writeConfig({{"A", "a", "1"}, {"B", "b", "2"}});
    open();
    go(0, 2);
    messages.answer = platform::MessageResult::Cancel;
    key(Qt::Key_Delete, Qt::ControlModifier);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_EQ(messages.shown[0].text, "Delete record?");
    EXPECT_EQ(grid()->model()->rowCount(), 2);

    messages.answer = platform::MessageResult::Ok;
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(grid()->model()->rowCount(), 1);
    ASSERT_TRUE(closeForm());
    EXPECT_EQ(readConfig(), Rows({{"B", "b", "2"}}));
}

TEST_F(SettingsMaker, FailedSaveKeepsTheWindowOpen)
{
    writeConfig({{"A", "a", "1"}});
    open();
    go(0, 2);
    type(QStringLiteral("2"));
    // The file's place is taken by a folder: nothing can be written there.
    QFile::remove(configPath());
    QDir(folder.Path()).mkdir(QStringLiteral("Config.cds"));
    EXPECT_FALSE(closeForm());
    ASSERT_FALSE(form.isNull());
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("Cannot create file \"%1\". Is a directory").arg(configPath()));
    EXPECT_TRUE(QFileInfo(configPath()).isDir()) << "a folder is never moved";

    QDir(folder.Path()).rmdir(QStringLiteral("Config.cds"));
    EXPECT_TRUE(closeForm());
    EXPECT_EQ(readConfig(), Rows({{"A", "a", "2"}})) << "no file left: the rows shown are saved";
}

TEST_F(SettingsMaker, FolderNamedConfigCdsIsNoTableFileAndIsNeverMoved)
{
    QDir(folder.Path()).mkdir(QStringLiteral("Config.cds"));
    open();
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_EQ(messages.shown[0].text, QStringLiteral("Cannot open file \"%1\". Is a directory").arg(configPath()));
    EXPECT_EQ(grid()->model()->rowCount(), 0);

    key(Qt::Key_Insert);
    go(0, 2);
    type(QStringLiteral("typed"));
    EXPECT_FALSE(closeForm()) << "nothing can be saved over a folder";
    EXPECT_TRUE(QFileInfo(configPath()).isDir());
    EXPECT_EQ(QDir(folder.Path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList {"Config.cds"});
    ASSERT_EQ(messages.shown.size(), 2);
    EXPECT_EQ(messages.shown[1].text, QStringLiteral("Cannot create file \"%1\". Is a directory").arg(configPath()));
}

TEST_F(SettingsMaker, FileSpoiledWhileOpenIsKeptAsideAndTheRowsShownAreSaved)
{
    writeConfig({{"A", "a", "1"}, {"B", "b", "2"}});
    open();
    go(1, 2);
    type(QStringLiteral("20"));
    const QByteArray garbage("spoiled meanwhile");
    folder.Write(QStringLiteral("Config.cds"), garbage);
    ASSERT_TRUE(closeForm());

    EXPECT_EQ(folder.Read(QStringLiteral("Config.cds.unreadable")), garbage);
    EXPECT_EQ(readConfig(), Rows({{"A", "a", "1"}, {"B", "b", "20"}}));
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].text.startsWith(
        QStringLiteral("The configuration file could not be read (Invalid table file")))
        << messages.shown[0].text.toStdString();
}

TEST_F(SettingsMaker, UnreadableFileIsLeftAloneWhenNothingChanged)
{
    // Some other table: the configuration fields are missing.
    TClientDataSet other;
    other.FieldDefs()
        = {{QStringLiteral("Section"), TFieldType::ftString, 20}, {QStringLiteral("Key"), TFieldType::ftInteger, 0}};
    other.CreateDataSet();
    other.SaveToFile(folder.File(QStringLiteral("other.cds")));
    struct Case {
        const char* name;
        QByteArray bytes;
        QString loadError;
    };
    const Case cases[] = {
        {"not a table", "this is not a table", ""},
        {"a table without Value", folder.Read(QStringLiteral("other.cds")), "cdsConfig: Field 'Value' not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.shown.clear();
        folder.Write(QStringLiteral("Config.cds"), c.bytes);
        open();
        EXPECT_EQ(grid()->model()->rowCount(), 0);
        ASSERT_TRUE(closeForm());
        EXPECT_EQ(folder.Read(QStringLiteral("Config.cds")), c.bytes);
        EXPECT_FALSE(folder.Exists(QStringLiteral("Config.cds.unreadable")));
        ASSERT_EQ(messages.shown.size(), 1) << "only the load error";
        if (!c.loadError.isEmpty()) {
            EXPECT_EQ(messages.shown[0].text, c.loadError);
        }
    }
}

TEST_F(SettingsMaker, UnreadableFileIsKeptAsideAndNothingTypedIsLost)
{
    const QByteArray garbage("this is not a table");
    folder.Write(QStringLiteral("Config.cds"), garbage);
    open();
    ASSERT_EQ(messages.shown.size(), 1) << "the load error is shown";
    EXPECT_EQ(grid()->model()->rowCount(), 0);

    key(Qt::Key_Insert);
    go(0, 2);
    type(QStringLiteral("typed after the failure"));
    ASSERT_TRUE(closeForm());

    EXPECT_EQ(folder.Read(QStringLiteral("Config.cds.unreadable")), garbage);
    EXPECT_EQ(readConfig(), Rows({{"", "", "typed after the failure"}}));
    ASSERT_EQ(messages.shown.size(), 2);
    EXPECT_TRUE(messages.shown[1].text.contains("Config.cds.unreadable"));
}

// The update client records values while the editor is open; closing the
// editor applies only what its user changed to the file as it is then.
TEST_F(SettingsMaker, ClosingAppliesTheUsersChangesToTheFileAsItIsThen)
{
    TClientDataSet clientTable; // the update client's cdsConfig
    clientTable.SetName(QStringLiteral("cdsConfig"));
    clientTable.SetFileName(QStringLiteral("Config.cds"));
    clientTable.SetIndexFieldNames(QStringLiteral("Section;Key"));
    const auto clientRecords = [&clientTable](const char* section, const char* key, const char* value) {
        return [&clientTable, section, key, value](
                   SettingsMaker&) { ObjConfigManager->SetConfigValue(&clientTable, section, key, value); };
    };
    const auto fileBecomes = [](const Rows& rows) { return [rows](SettingsMaker& t) { t.writeConfig(rows); }; };
    const auto editValue = [](int row, const char* value) {
        return [row, value](SettingsMaker& t) {
            t.go(row, 2);
            t.type(QString::fromUtf8(value));
        };
    };
    const auto deleteRow = [](int row) {
        return [row](SettingsMaker& t) {
            t.go(row, 2);
            t.key(Qt::Key_Delete, Qt::ControlModifier);
        };
    };
    const auto nothing = [](SettingsMaker&) {};
    struct Case {
        const char* name;
        Rows atOpen;
        std::function<void(SettingsMaker&)> user; // in the grid
        std::function<void(SettingsMaker&)> meanwhile; // another program, before the window closes
        Rows afterClose; // in file order
        bool untouched = false; // the file is as the other program left it, byte for byte
    };
    const Case cases[] = {
        {"nothing edited: the client's version stays, the file is not touched",
            {{"Server", "Host", "a"}, {"ClientVersion", "Velkaro", "1.0"}},
            [](SettingsMaker& t) {
                t.go(1, 2);
                t.type(QStringLiteral("typed"));
                t.key(Qt::Key_Escape);
            },
            clientRecords("ClientVersion", "Velkaro", "2.0"),
            {{"ClientVersion", "Velkaro", "2.0"}, {"Server", "Host", "a"}}, true},
        {"another row edited: the client's version stays",
            {{"Server", "Host", "a"}, {"ClientVersion", "Velkaro", "1.0"}}, editValue(0, "b"),
            clientRecords("ClientVersion", "Velkaro", "2.0"),
            {{"ClientVersion", "Velkaro", "2.0"}, {"Server", "Host", "b"}}},
        {"the same row edited: the user's value wins", {{"ClientVersion", "Velkaro", "1.0"}}, editValue(0, "3.0"),
            clientRecords("ClientVersion", "Velkaro", "2.0"), {{"ClientVersion", "Velkaro", "3.0"}}},
        {"an edited row deleted meanwhile is written back in its place",
            {{"A", "a", "1"}, {"B", "b", "2"}, {"C", "c", "3"}}, editValue(1, "20"),
            fileBecomes({{"A", "a", "1"}, {"C", "c", "3"}}), {{"A", "a", "1"}, {"B", "b", "20"}, {"C", "c", "3"}}},
        {"a deleted row goes although the client changed it", {{"A", "a", "1"}, {"ClientVersion", "Velkaro", "1.0"}},
            deleteRow(1), clientRecords("ClientVersion", "Velkaro", "2.0"), {{"A", "a", "1"}}},
        {"a row deleted on both sides", {{"A", "a", "1"}, {"B", "b", "2"}}, deleteRow(1),
            fileBecomes({{"A", "a", "1"}}), {{"A", "a", "1"}}},
        {"an unchanged row deleted meanwhile stays deleted", {{"A", "a", "1"}, {"B", "b", "2"}}, editValue(0, "10"),
            fileBecomes({{"A", "a", "1"}}), {{"A", "a", "10"}}},
        {"added rows keep their places among the rows the client added", {{"Server", "Host", "a"}},
            [](SettingsMaker& t) {
                t.go(0, 2);
                t.key(Qt::Key_Insert); // above the first row
                t.type(QStringLiteral("top"));
                t.go(1, 2);
                t.key(Qt::Key_Down); // past the last row
                t.type(QStringLiteral("tail"));
            },
            clientRecords("ClientVersion", "Velkaro", "0"),
            {{"", "", "top"}, {"ClientVersion", "Velkaro", "0"}, {"Server", "Host", "a"}, {"", "", "tail"}}},
        {"rows of one Section and Key match in order", {{"S", "k", "1"}, {"S", "k", "2"}}, editValue(1, "20"), nothing,
            {{"S", "k", "1"}, {"S", "k", "20"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeConfig(c.atOpen);
        messages.shown.clear();
        open();
        c.user(*this);
        c.meanwhile(*this);
        const QByteArray before = folder.Read(QStringLiteral("Config.cds"));
        ASSERT_TRUE(closeForm());

        EXPECT_EQ(readConfig(), c.afterClose);
        if (c.untouched) {
            EXPECT_EQ(folder.Read(QStringLiteral("Config.cds")), before);
        }
        for (const auto& shown : messages.shown)
            EXPECT_EQ(shown.text, "Delete record?");
        EXPECT_EQ(QDir(folder.Path()).entryList(QDir::Files), QStringList {"Config.cds"});
    }
}
TEST_F(SettingsMaker, StoringARowByMovingOffItKeepsTheCursorWhereItWent)
{
    writeConfig({{"A", "a", "1"}, {"B", "b", "2"}});
    open();
    go(0, 2);
    type(QStringLiteral("10"));
    go(1, 2); // stores row 0
    EXPECT_EQ(grid()->currentIndex(), grid()->model()->index(1, 2));
    key(Qt::Key_Down); // past the last row: a new row, not a jump to the top
    EXPECT_EQ(grid()->model()->rowCount(), 3);
    EXPECT_EQ(grid()->currentIndex(), grid()->model()->index(2, 2));
}

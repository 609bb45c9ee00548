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
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

using Rows = QList<QStringList>;

class SettingsMaker : public ::testing::Test {
protected:
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
    // The file's place is taken by a folder: nothing can be written there.
    QFile::remove(configPath());
    QDir(folder.Path()).mkdir(QStringLiteral("Config.cds"));
    EXPECT_FALSE(closeForm());
    ASSERT_FALSE(form.isNull());
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown[0].text.startsWith(QStringLiteral("Cannot create file \"%1\"").arg(configPath())))
        << messages.shown[0].text.toStdString();

    QDir(folder.Path()).rmdir(QStringLiteral("Config.cds"));
    EXPECT_TRUE(closeForm());
    EXPECT_EQ(readConfig(), Rows({{"A", "a", "1"}}));
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

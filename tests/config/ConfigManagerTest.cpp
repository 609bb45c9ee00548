#include "config/libConfigManager.h"
#include "core/Exceptions.h"
#include "platform/MessageDisplay.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using namespace velkaro;
using velkaro::platform::MessageButtons;
using velkaro::platform::MessageIcon;
using velkaro::platform::RecordingMessageDisplay;
using velkaro::platform::ScopedMessageDisplay;
using velkaro::testing::TempExeFolder;

namespace {

struct Row {
    QString section;
    QString key;
    QString value;
};

// Writes Config.cds as the configuration editor does: declared fields, no index.
void WriteConfig(const QList<Row>& rows)
{
    TClientDataSet editor;
    editor.FieldDefs() = {{QStringLiteral("Section"), TFieldType::ftString, 20},
        {QStringLiteral("Key"), TFieldType::ftString, 20}, {QStringLiteral("Value"), TFieldType::ftString, 255}};
    editor.CreateDataSet();
    for (const Row& r : rows) {
        editor.Append();
        editor.FieldByName(QStringLiteral("Section"))->SetAsString(r.section);
        editor.FieldByName(QStringLiteral("Key"))->SetAsString(r.key);
        editor.FieldByName(QStringLiteral("Value"))->SetAsString(r.value);
        editor.Post();
    }
    editor.SaveToFile(TObjConfigManager::ConfigFilePath());
}

// The rows of Config.cds as another program reads them.
QStringList FileRows()
{
    TClientDataSet reader;
    reader.LoadFromFile(TObjConfigManager::ConfigFilePath());
    QStringList rows;
    for (reader.First(); !reader.Eof(); reader.Next())
        rows.append(
            reader.Fields(0)->AsString() + u'/' + reader.Fields(1)->AsString() + u'=' + reader.Fields(2)->AsString());
    return rows;
}

// cdsConfig as the update client's window declares it.
class ConfigStore : public ::testing::Test {
protected:
    ConfigStore()
        : messages_(shown_)
    {
        InitializeLibConfigManager();
        cdsConfig.setObjectName(QStringLiteral("cdsConfig"));
        cdsConfig.SetFileName(QStringLiteral("Config.cds"));
        cdsConfig.SetIndexFieldNames(QStringLiteral("Section;Key"));
    }
    ~ConfigStore() override { FinalizeLibConfigManager(); }

    TempExeFolder folder;
    RecordingMessageDisplay shown_;
    ScopedMessageDisplay messages_;
    TClientDataSet cdsConfig;
};

const QList<Row> Seed = {{"Zeta", "a", "z"}, {"ClientVersion", "Velkaro", "1.0.7"}, {"ClientVersion", "Other", "x"}};

} // namespace

TEST_F(ConfigStore, LoadConfigurationOpensTheFileInIndexOrder)
{
    WriteConfig(Seed);
    EXPECT_EQ(TObjConfigManager::ConfigFilePath(), folder.File(QStringLiteral("Config.cds")));
    EXPECT_TRUE(ObjConfigManager->LoadConfiguration(&cdsConfig));
    EXPECT_TRUE(cdsConfig.Active());
    EXPECT_EQ(cdsConfig.FieldByName(QStringLiteral("Key"))->AsString(), QStringLiteral("Other"));
    cdsConfig.Last();
    EXPECT_EQ(cdsConfig.FieldByName(QStringLiteral("Section"))->AsString(), QStringLiteral("Zeta"));
    EXPECT_TRUE(shown_.shown.isEmpty());
}

TEST_F(ConfigStore, GetAndSetValues)
{
    struct Case {
        const char* name;
        QList<Row> file;
        QString section, key, value; // value written; empty: only read
        QString read; // GetConfigValue afterwards
        QStringList fileRows; // Config.cds afterwards
    };
    const QString v300 = QString(300, u'9');
    const Case cases[] = {
        {"read a row", Seed, "ClientVersion", "Velkaro", {}, "1.0.7",
            {"Zeta/a=z", "ClientVersion/Velkaro=1.0.7", "ClientVersion/Other=x"}},
        {"missing row reads empty", {{"Zeta", "a", "z"}}, "ClientVersion", "Velkaro", {}, "", {"Zeta/a=z"}},
        {"missing row is appended and saved", {{"Zeta", "a", "z"}}, "ClientVersion", "Velkaro", "0", "0",
            {"ClientVersion/Velkaro=0", "Zeta/a=z"}},
        {"existing row changes only its value", Seed, "ClientVersion", "Velkaro", "2.0", "2.0",
            {"ClientVersion/Other=x", "ClientVersion/Velkaro=2.0", "Zeta/a=z"}},
        {"key compares with case", Seed, "ClientVersion", "velkaro", "3", "3",
            {"ClientVersion/Other=x", "ClientVersion/Velkaro=1.0.7", "ClientVersion/velkaro=3", "Zeta/a=z"}},
        {"300 characters keep the first 255", {}, "S", "K", v300, v300.left(255), {"S/K=" + v300.left(255)}},
        {"thai value", {}, "S", "K", "เวอร์ชั่นใหม่", "เวอร์ชั่นใหม่", {"S/K=เวอร์ชั่นใหม่"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteConfig(c.file);
        if (!c.value.isEmpty()) {
            ObjConfigManager->SetConfigValue(&cdsConfig, c.section, c.key, c.value);
            EXPECT_FALSE(cdsConfig.Active());
        }
        EXPECT_EQ(ObjConfigManager->GetConfigValue(&cdsConfig, c.section, c.key), c.read);
        EXPECT_FALSE(cdsConfig.Active());
        EXPECT_EQ(FileRows(), c.fileRows);
    }
    EXPECT_TRUE(shown_.shown.isEmpty());
}

TEST_F(ConfigStore, GetOnAnOpenTableReadsItWithoutReloading)
{
    WriteConfig(Seed);
    ASSERT_TRUE(ObjConfigManager->LoadConfiguration(&cdsConfig));
    WriteConfig({{"ClientVersion", "Velkaro", "changed on disk"}});
    const QByteArray onDisk = folder.Read(QStringLiteral("Config.cds"));
    EXPECT_EQ(ObjConfigManager->GetConfigValue(&cdsConfig, QStringLiteral("ClientVersion"), QStringLiteral("Velkaro")),
        QStringLiteral("1.0.7"));
    EXPECT_FALSE(cdsConfig.Active());
    EXPECT_EQ(folder.Read(QStringLiteral("Config.cds")), onDisk); // unchanged rows are not written back
    EXPECT_EQ(ObjConfigManager->GetConfigValue(&cdsConfig, QStringLiteral("ClientVersion"), QStringLiteral("Velkaro")),
        QStringLiteral("changed on disk"));
}

TEST_F(ConfigStore, MissingFile)
{
    const QString message = QStringLiteral("ไม่พบไฟล์บันทึกการตั้งค่าของระบบ   ");
    ASSERT_EQ(message.size(), 35);

    EXPECT_FALSE(ObjConfigManager->LoadConfiguration(&cdsConfig));
    ASSERT_EQ(shown_.shown.size(), 1);
    EXPECT_EQ(shown_.shown[0].caption, platform::ApplicationTitle());
    EXPECT_EQ(shown_.shown[0].text, message);
    EXPECT_EQ(shown_.shown[0].icon, MessageIcon::Stop);
    EXPECT_EQ(shown_.shown[0].buttons, MessageButtons::Ok);
    EXPECT_FALSE(cdsConfig.Active());

    shown_.shown.clear();
    ObjConfigManager->SetConfigValue(
        &cdsConfig, QStringLiteral("ClientVersion"), QStringLiteral("Velkaro"), QStringLiteral("1"));
    EXPECT_EQ(shown_.shown.size(), 1);
    EXPECT_FALSE(folder.Exists(QStringLiteral("Config.cds")));

    shown_.shown.clear();
    try {
        ObjConfigManager->GetConfigValue(&cdsConfig, QStringLiteral("ClientVersion"), QStringLiteral("Velkaro"));
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("cdsConfig: Cannot perform this operation on a closed dataset"));
    }
    EXPECT_EQ(shown_.shown.size(), 1);
    EXPECT_FALSE(cdsConfig.Active());
    EXPECT_FALSE(folder.Exists(QStringLiteral("Config.cds")));
}

TEST_F(ConfigStore, MissingFileLeavesAnOpenTableAsItWas)
{
    WriteConfig(Seed);
    ASSERT_TRUE(ObjConfigManager->LoadConfiguration(&cdsConfig));
    cdsConfig.SetFileName(QString()); // so closing later writes nothing
    QFile::remove(TObjConfigManager::ConfigFilePath());
    EXPECT_FALSE(ObjConfigManager->LoadConfiguration(&cdsConfig));
    EXPECT_TRUE(cdsConfig.Active());
    EXPECT_EQ(cdsConfig.RecordCount(), 3);
}

TEST_F(ConfigStore, UnreadableFileTravelsWithoutAMessage)
{
    folder.Write(QStringLiteral("Config.cds"), QByteArray("[ClientVersion]\nVelkaro=1\n"));
    EXPECT_THROW(ObjConfigManager->LoadConfiguration(&cdsConfig), EDatabaseError);
    EXPECT_THROW(
        ObjConfigManager->SetConfigValue(&cdsConfig, QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("V")),
        EDatabaseError);
    EXPECT_FALSE(cdsConfig.Active());
    EXPECT_TRUE(shown_.shown.isEmpty());
    EXPECT_EQ(folder.Read(QStringLiteral("Config.cds")), QByteArray("[ClientVersion]\nVelkaro=1\n"));
}

TEST_F(ConfigStore, OnlyARegularFileIsTheTableFile)
{
    const QString path = TObjConfigManager::ConfigFilePath();
    QTemporaryDir elsewhere;
    const QString realFile = elsewhere.filePath(QStringLiteral("real.cds"));
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool loaded;
    };
    const Case cases[] = {
        {"a folder of that name", [&] { ASSERT_TRUE(QDir().mkdir(path)); }, false},
        {"a link to nothing", [&] { ASSERT_TRUE(QFile::link(elsewhere.filePath("gone"), path)); }, false},
        {"a link to a folder", [&] { ASSERT_TRUE(QFile::link(elsewhere.path(), path)); }, false},
        {"a link to a regular file", [&] { ASSERT_TRUE(QFile::link(realFile, path)); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteConfig(Seed);
        ASSERT_TRUE(QFile::rename(path, realFile));
        c.arrange();
        shown_.shown.clear();

        EXPECT_EQ(ObjConfigManager->LoadConfiguration(&cdsConfig), c.loaded);
        EXPECT_EQ(cdsConfig.Active(), c.loaded);
        if (c.loaded) {
            EXPECT_EQ(cdsConfig.RecordCount(), 3);
        } else {
            EXPECT_EQ(shown_.shown.size(), 1) << "the missing-file message";
        }
        cdsConfig.Close();
        QFile::remove(path);
        QDir().rmdir(path);
        QFile::remove(realFile);
    }
}

TEST_F(ConfigStore, SaveRefusedPartWayNamesTheSystemsReason)
{
    WriteConfig(Seed);
    const QByteArray before = folder.Read(QStringLiteral("Config.cds"));
    // Files of this process may not grow beyond 64 bytes for a moment, as on
    // a full disk: the table is written part way, then refused.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString message;
    try {
        ObjConfigManager->SetConfigValue(&cdsConfig, "ClientVersion", "Velkaro", "2.0");
    } catch (const EFCreateError& e) {
        message = e.Message();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(
        message, QStringLiteral("Cannot create file \"%1\". File too large").arg(TObjConfigManager::ConfigFilePath()));
    EXPECT_EQ(folder.Read(QStringLiteral("Config.cds")), before);
}

#include "config/libConfigManager.h"

#include "platform/AppPaths.h"
#include "platform/MessageDisplay.h"

#include <QFileInfo>

namespace velkaro {

TObjConfigManager* ObjConfigManager = nullptr;

QString TObjConfigManager::ConfigFilePath()
{
    return platform::ExecutableFolder() + QStringLiteral("Config.cds");
}

QString TObjConfigManager::MissingFileText()
{
    return QStringLiteral("ไม่พบไฟล์บันทึกการตั้งค่าของระบบ   ");
}

bool TObjConfigManager::LoadConfiguration(TClientDataSet* table)
{
    const QString vFileName = ConfigFilePath();
    // Only a regular file (or a link to one) is the table file; a folder or
    // anything else of that name counts as no file.
    if (QFileInfo(vFileName).isFile()) {
        table->LoadFromFile(vFileName);
        return true;
    }
    platform::Messages().Show(
        platform::ApplicationTitle(), MissingFileText(), platform::MessageIcon::Stop, platform::MessageButtons::Ok);
    return false;
}

QString TObjConfigManager::GetConfigValue(TClientDataSet* table, const QString& Section, const QString& Key)
{
    if (!table->Active())
        LoadConfiguration(table);
    QString vResult;
    if (table->FindKey({Variant(Section), Variant(Key)}))
        vResult = table->FieldByName(QStringLiteral("Value"))->AsString();
    table->Close();
    return vResult;
}

void TObjConfigManager::SetConfigValue(
    TClientDataSet* table, const QString& Section, const QString& Key, const QString& Value)
{
    if (!LoadConfiguration(table))
        return;
    if (table->FindKey({Variant(Section), Variant(Key)}))
        table->Edit();
    else
        table->Insert();
    table->FieldByName(QStringLiteral("Section"))->SetAsString(Section);
    table->FieldByName(QStringLiteral("Key"))->SetAsString(Key);
    table->FieldByName(QStringLiteral("Value"))->SetAsString(Value);
    table->Post();
    table->SaveToFile(ConfigFilePath());
    table->Close();
}

void InitializeLibConfigManager()
{
    if (ObjConfigManager == nullptr)
        ObjConfigManager = new TObjConfigManager();
}

void FinalizeLibConfigManager()
{
    delete ObjConfigManager;
    ObjConfigManager = nullptr;
}

} // namespace velkaro

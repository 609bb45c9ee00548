#pragma once
// Unit libConfigManager: single values of the configuration table
// "Config.cds" (rows of Section, Key, Value) beside the running executable.
// Every operation loads the file first and leaves the table closed when it
// is done, so each read sees the file as it was last written by either
// program, and a written value is on disk before SetConfigValue returns.

#include "data/ClientDataSet.h"

#include <QString>

namespace velkaro {

class TObjConfigManager {
public:
    // Loads the configuration file into Table (open, rows in index order)
    // and answers true. Without the file: shows the "file not found" message
    // and answers false, Table left as it was. Only a regular file (or a
    // link to one) counts as the file: a folder of that name is no file.
    // Read errors travel.
    bool LoadConfiguration(TClientDataSet* table);
    // The Value of the row (Section, Key), "" when there is none. Loads the
    // file only when Table is closed; closes Table at the end. Without the
    // file the lookup fails with the table's closed-dataset error.
    QString GetConfigValue(TClientDataSet* table, const QString& Section, const QString& Key);
    // Sets Value in the row (Section, Key), adding the row when missing, and
    // saves the whole table to the file; closes Table at the end. Without the
    // file: the message, then nothing.
    void SetConfigValue(TClientDataSet* table, const QString& Section, const QString& Key, const QString& Value);

    // The configuration file's full path.
    static QString ConfigFilePath();
    // The text of the missing-file message.
    static QString MissingFileText();
};

extern TObjConfigManager* ObjConfigManager;

// Unit initialization and finalization: create and free ObjConfigManager.
void InitializeLibConfigManager();
void FinalizeLibConfigManager();

} // namespace velkaro

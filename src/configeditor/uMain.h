#pragma once
// The configuration editor's window: a grid over "Config.cds", loaded when
// the window is created. When it closes, the user's own changes are applied
// to the file as it is on disk at that moment, so that values another
// program (the update client) wrote meanwhile are kept.
//
// Only a regular file (or a link to one) is the table file. Anything else
// of that name (a folder) is reported when the window opens, never read,
// moved or replaced; saving over it fails and keeps the window open.
//
// The user's changes are counted against the rows as loaded: a loaded row
// whose Value was changed (edited), a row added in the grid (inserted: it
// is kept only when a Value was typed, and its Section and Key stay empty),
// and a loaded row deleted in the grid (deleted). Closing the window:
// 1. Nothing changed: the file is not touched, whatever is on disk, unless
//    there was no table file when the window opened and there is none now;
//    then the empty table is written, creating the file.
// 2. A readable table file is on disk: it is read afresh and the changes
//    are applied to it, then it is saved (atomically) in place:
//    - Rows are matched by Section and Key (exact text, case counts). The
//      n-th loaded row with a given Section and Key is the n-th row of the
//      file with them, in file order; no match means the row is gone.
//    - An edited row gets the user's Value, whatever the file's row holds
//      now (the user's edit wins). If its row is gone (another program
//      deleted it), it is written back with the user's Value.
//    - A deleted row removes its row from the file if it is still there,
//      whatever Value it holds now; if it is gone already, nothing happens.
//    - An inserted row, and an edited row written back, is placed after the
//      file row matching the nearest loaded row above it in the grid (at
//      the top when there is none), in grid order.
//    - Rows the user did not change stay exactly as the file has them,
//      including rows other programs added, changed or deleted meanwhile.
// 3. The file on disk cannot be read as a configuration table (or lacks
//    Section, Key or Value): it is kept unchanged as "Config.cds.unreadable"
//    (or ".unreadable-2", ...), the user is told, and the rows shown are
//    saved as "Config.cds". The same holds when the window opened on an
//    unreadable file.
// 4. There is no table file: the rows shown are saved, creating the file.
// A failed save is shown in the error box and the window stays open; closing
// again tries again from the file as it is then.

#include <QString>
#include <QWidget>

namespace velkaro {

class DataSetGrid;
class DataSetGridModel;
class TClientDataSet;
class TDataSet;

class TfrmMain : public QWidget {
    Q_OBJECT

public:
    TfrmMain();
    ~TfrmMain() override;

    DataSetGrid* DBGrid1 = nullptr;
    TClientDataSet* cdsConfig = nullptr;
    DataSetGridModel* dsConfig = nullptr;

    // The full path of the configuration file.
    QString vFileName;

    void FormCreate();
    // Saves the user's changes as above; false (with the error shown) when
    // they could not be saved, and the window then stays open.
    bool FormClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool hasUserChanges() const;
    void applyUserChanges(TDataSet& onDisk) const;
    bool keepUnreadableFile(const QString& reason);
    // Whether a table file was there when the window opened.
    bool tableFileAtOpen_ = false;
};

} // namespace velkaro

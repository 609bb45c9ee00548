#pragma once
// The configuration editor's window: a grid over "Config.cds", loaded when
// the window is created and saved when it closes.

#include <QString>
#include <QWidget>

namespace velkaro {

class DataSetGrid;
class DataSetGridModel;
class TClientDataSet;

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
    // Saves the table; false (with the error shown) when it could not be
    // saved, and the window then stays open.
    bool FormClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool keepUnreadableFile();
    // The load failed: the file on disk is not ours to overwrite silently.
    bool loadFailed_ = false;
};

} // namespace velkaro

#include "configeditor/uMain.h"

#include "configeditor/DataSetGrid.h"
#include "core/ErrorDisplay.h"
#include "core/Exceptions.h"
#include "data/ClientDataSet.h"
#include "data/Field.h"
#include "platform/AppPaths.h"
#include "platform/MessageDisplay.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>

namespace velkaro {

namespace {

// The rows' layout when the editor creates a new file.
QList<TFieldDef> declaredFields()
{
    return {
        TFieldDef {QStringLiteral("Section"), TFieldType::ftString, 20},
        TFieldDef {QStringLiteral("Key"), TFieldType::ftString, 20},
        TFieldDef {QStringLiteral("Value"), TFieldType::ftString, 255},
    };
}

QFont tahoma11()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    return font;
}

} // namespace

TfrmMain::TfrmMain()
    : QWidget(nullptr,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Settings Maker"));
    setFont(tahoma11());
    setFixedSize(849, 505);
    setAttribute(Qt::WA_DeleteOnClose);

    cdsConfig = new TClientDataSet(this);
    cdsConfig->SetName(QStringLiteral("cdsConfig"));
    cdsConfig->FieldDefs() = declaredFields();

    DBGrid1 = new DataSetGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(8, 8, 833, 489);
    DBGrid1->horizontalHeader()->setFont(tahoma11());

    FormCreate();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::FormCreate()
{
    vFileName = platform::ExecutableFolder() + QStringLiteral("Config.cds");
    if (QFile::exists(vFileName)) {
        try {
            cdsConfig->LoadFromFile(vFileName);
        } catch (const std::exception& e) {
            ShowErrorBox(e);
            loadFailed_ = true;
        }
    }
    if (!cdsConfig->Active()) {
        cdsConfig->FieldDefs() = declaredFields();
        cdsConfig->CreateDataSet();
    }

    dsConfig = new DataSetGridModel(cdsConfig,
        {{QStringLiteral("Section"), 199, true}, {QStringLiteral("Key"), 199, true},
            {QStringLiteral("Value"), 400, false}},
        this);
    dsConfig->setObjectName(QStringLiteral("dsConfig"));
    DBGrid1->SetGridModel(dsConfig);
}

bool TfrmMain::keepUnreadableFile()
{
    if (!loadFailed_ || !QFile::exists(vFileName))
        return true;
    QString aside = vFileName + QStringLiteral(".unreadable");
    for (int n = 2; QFile::exists(aside); ++n)
        aside = vFileName + QStringLiteral(".unreadable-%1").arg(n);
    if (!QFile::rename(vFileName, aside)) {
        platform::Messages().Show(platform::ApplicationTitle(),
            QStringLiteral("The configuration file \"%1\" could not be read, and it could not be "
                           "kept aside as \"%2\"; it was left as it is and nothing was saved.")
                .arg(vFileName, aside),
            platform::MessageIcon::Stop, platform::MessageButtons::Ok);
        return false;
    }
    loadFailed_ = false;
    platform::Messages().Show(platform::ApplicationTitle(),
        QStringLiteral("The configuration file could not be read when the window opened. It was "
                       "kept unchanged as \"%1\", and the rows shown were saved as \"%2\".")
            .arg(QFileInfo(aside).fileName(), QFileInfo(vFileName).fileName()),
        platform::MessageIcon::Information, platform::MessageButtons::Ok);
    return true;
}

bool TfrmMain::FormClose()
{
    try {
        DBGrid1->PostEdits();
        if (!keepUnreadableFile())
            return false;
        cdsConfig->SaveToFile(vFileName);
    } catch (const std::exception& e) {
        ShowErrorBox(e);
        return false;
    }
    return true;
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (FormClose())
        event->accept();
    else
        event->ignore();
}

} // namespace velkaro

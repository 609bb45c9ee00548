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
#include <QHash>
#include <QHeaderView>

#include <vector>

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

// The grid's columns.
constexpr int SectionColumn = 0;
constexpr int KeyColumn = 1;
constexpr int ValueColumn = 2;

// A table without these fields is no configuration table.
void checkConfigFields(const TDataSet& table)
{
    for (const char* name : {"Section", "Key", "Value"})
        table.FieldByName(QLatin1String(name));
}

QString cellText(const DataSetGridModel& model, int row, int column)
{
    return model.index(row, column).data().toString();
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
    const QFileInfo file(vFileName);
    tableFileAtOpen_ = file.isFile();
    if (tableFileAtOpen_) {
        try {
            cdsConfig->LoadFromFile(vFileName);
            checkConfigFields(*cdsConfig);
        } catch (const std::exception& e) {
            cdsConfig->Close();
            ShowErrorBox(e);
        }
    } else if (file.exists()) {
        ShowErrorBox(EFOpenError(
            QString::fromLatin1(msg::FOpenError)
                .arg(vFileName,
                    file.isDir() ? QStringLiteral("Is a directory") : QStringLiteral("Not a regular file"))));
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

bool TfrmMain::hasUserChanges() const
{
    const auto& loaded = dsConfig->LoadedRows();
    if (dsConfig->rowCount() != int(loaded.size()))
        return true;
    for (int row = 0; row < dsConfig->rowCount(); ++row) {
        const int origin = dsConfig->Origin(row);
        if (origin != row || cellText(*dsConfig, row, ValueColumn) != loaded[size_t(origin)][ValueColumn])
            return true;
    }
    return false;
}

void TfrmMain::applyUserChanges(TDataSet& onDisk) const
{
    const auto& loaded = dsConfig->LoadedRows();
    TField* const section = onDisk.FieldByName(QStringLiteral("Section"));
    TField* const key = onDisk.FieldByName(QStringLiteral("Key"));
    TField* const value = onDisk.FieldByName(QStringLiteral("Value"));

    // Each loaded row's row in the file: the n-th loaded row with a Section
    // and Key is the n-th file row with them.
    QHash<QPair<QString, QString>, QList<int>> fileRows;
    int diskRows = 0;
    for (onDisk.First(); !onDisk.Eof(); onDisk.Next())
        fileRows[{section->AsString(), key->AsString()}].append(diskRows++);
    std::vector<int> match(loaded.size(), -1);
    for (size_t i = 0; i < loaded.size(); ++i) {
        QList<int>& candidates = fileRows[{loaded[i][SectionColumn], loaded[i][KeyColumn]}];
        if (!candidates.isEmpty())
            match[i] = candidates.takeFirst();
    }

    std::vector<bool> kept(loaded.size(), false);
    std::vector<std::pair<int, QString>> edits; // file row, new Value
    std::vector<std::pair<int, QStringList>> added; // the file row they follow (-1: top), values
    int anchor = -1;
    for (int row = 0; row < dsConfig->rowCount(); ++row) {
        const int origin = dsConfig->Origin(row);
        const QStringList values = {cellText(*dsConfig, row, SectionColumn), cellText(*dsConfig, row, KeyColumn),
            cellText(*dsConfig, row, ValueColumn)};
        if (origin < 0) {
            added.emplace_back(anchor, values);
            continue;
        }
        kept[size_t(origin)] = true;
        const bool edited = values[ValueColumn] != loaded[size_t(origin)][ValueColumn];
        if (match[size_t(origin)] >= 0) {
            anchor = match[size_t(origin)];
            if (edited)
                edits.emplace_back(anchor, values[ValueColumn]);
        } else if (edited) {
            added.emplace_back(anchor, values);
        }
    }
    std::vector<bool> removed(size_t(diskRows), false);
    for (size_t i = 0; i < loaded.size(); ++i) {
        if (!kept[i] && match[i] >= 0)
            removed[size_t(match[i])] = true;
    }

    for (const auto& [fileRow, text] : edits) {
        onDisk.SetRecNo(fileRow + 1);
        onDisk.Edit();
        value->SetAsString(text);
        onDisk.Post();
    }
    // From the last file row up, so that the rows above keep their places.
    for (int fileRow = diskRows - 1; fileRow >= -1; --fileRow) {
        for (auto it = added.rbegin(); it != added.rend(); ++it) {
            if (it->first != fileRow)
                continue;
            if (fileRow + 1 < onDisk.RecordCount()) {
                onDisk.SetRecNo(fileRow + 2);
                onDisk.Insert();
            } else {
                onDisk.Append();
            }
            section->SetAsString(it->second[SectionColumn]);
            key->SetAsString(it->second[KeyColumn]);
            value->SetAsString(it->second[ValueColumn]);
            onDisk.Post();
        }
        if (fileRow >= 0 && removed[size_t(fileRow)]) {
            onDisk.SetRecNo(fileRow + 1);
            onDisk.Delete();
        }
    }
}

bool TfrmMain::keepUnreadableFile(const QString& reason)
{
    QString aside = vFileName + QStringLiteral(".unreadable");
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = vFileName + QStringLiteral(".unreadable-%1").arg(n);
    if (!QFile::rename(vFileName, aside)) {
        platform::Messages().Show(platform::ApplicationTitle(),
            QStringLiteral("The configuration file \"%1\" could not be read, and it could not be "
                           "kept aside as \"%2\"; it was left as it is and nothing was saved.")
                .arg(vFileName, aside),
            platform::MessageIcon::Stop, platform::MessageButtons::Ok);
        return false;
    }
    platform::Messages().Show(platform::ApplicationTitle(),
        QStringLiteral("The configuration file could not be read (%1). It was kept unchanged as \"%2\", and the "
                       "rows shown were saved as \"%3\".")
            .arg(reason, QFileInfo(aside).fileName(), QFileInfo(vFileName).fileName()),
        platform::MessageIcon::Information, platform::MessageButtons::Ok);
    return true;
}

bool TfrmMain::FormClose()
{
    try {
        DBGrid1->PostEdits();
        const bool tableFile = QFileInfo(vFileName).isFile();
        if (!hasUserChanges() && (tableFile || tableFileAtOpen_))
            return true;
        if (tableFile) {
            TClientDataSet onDisk;
            QString unreadable;
            try {
                onDisk.LoadFromFile(vFileName);
                checkConfigFields(onDisk);
            } catch (const std::exception& e) {
                unreadable = ErrorMessage(e);
            }
            if (unreadable.isEmpty()) {
                applyUserChanges(onDisk);
                onDisk.SaveToFile(vFileName);
                return true;
            }
            if (!keepUnreadableFile(unreadable))
                return false;
        }
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

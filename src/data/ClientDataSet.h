#pragma once
// TClientDataSet: the client table. It holds its rows in memory, orders them
// by IndexFieldNames, reads and writes them as a file (the data packet
// encoding, docs/table-format.md) and fills itself from a provider's data
// packets.
//
// - FileName: a table with a file name writes itself to that file when it
//   is closed, if its rows changed since they were loaded or saved there, or
//   when no such file exists. A relative name is taken from the executable's
//   folder (never the working directory). Opening such a table reads the file
//   when it exists.
// - Open without a file: with a ProviderName the provider's Data() fills the
//   table; otherwise the declared FieldDefs give an empty table; with neither,
//   Open raises "<Name>: Missing data provider or data packet".
// - Files are replaced atomically: a failed save leaves the previous file
//   whole. Errors: EFOpenError "Cannot open file "<path>". <reason>" when a
//   file cannot be read (a folder: "Is a directory"), EFCreateError "Cannot
//   create file "<path>". <reason>" when it cannot be written (also when a
//   field name is one a table file cannot hold: blanks at either end or a
//   ";", see docs/table-format.md), EDatabaseError "Invalid table file
//   "<path>": <what is wrong>" for a file that is no table. Files of every
//   format version read; saving writes the current one.

#include "data/DataSet.h"

#include <QString>

#include <initializer_list>

namespace velkaro {

class TClientDataSet : public TDataSet {
    Q_OBJECT
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)
    Q_PROPERTY(QString IndexFieldNames READ IndexFieldNames WRITE SetIndexFieldNames)
    Q_PROPERTY(QString ProviderName READ ProviderName WRITE SetProviderName)

public:
    explicit TClientDataSet(QObject* owner = nullptr);
    ~TClientDataSet() override;

    QString FileName() const { return fileName_; }
    void SetFileName(const QString& fileName) { fileName_ = fileName; }
    // Field names separated by ";" ("Section;Key"); an open table is
    // reordered at once. Empty: rows stay in the order they were added.
    QString IndexFieldNames() const { return indexFieldNames_; }
    void SetIndexFieldNames(const QString& names);
    QString ProviderName() const { return providerName_; }
    void SetProviderName(const QString& name) { providerName_ = name; }

    // Closes the table (writing it to FileName as closing does), reads the
    // whole file and opens with the file's fields and rows, in index order,
    // cursor on the first row. On any error the table stays closed.
    void LoadFromFile(const QString& fileName);
    // Writes the field definitions and every posted row (a row being changed
    // is finished first, as moving the cursor does); the table stays open.
    void SaveToFile(const QString& fileName);
    // Opens an empty table with FieldDefs().
    void CreateDataSet();

    // One value per index field, in index order (fewer match on the leading
    // index fields). Each value is converted as writing the field converts
    // it (code page, width), so what SetValue stored is found again. True
    // with the cursor on the first matching row; false leaves the cursor.
    // Raises "<Name>: No index currently active" without IndexFieldNames.
    bool FindKey(const QList<Variant>& keyValues);
    // The same for values written in place, FindKey({Section, Key}), which
    // then need no list of their own.
    bool FindKey(std::initializer_list<Variant> keyValues);

    // Hands Input to the TDataSetProvider named ProviderName among the
    // components of this table's owner and returns its answer; whatever the
    // provider raises comes out unchanged. Raises "<Name>: Provider '<name>'
    // not found" when there is none.
    Variant DataRequest(const Variant& input);

    // Replaces fields and rows with the packet's and opens, cursor on the
    // first row. Null or Empty closes the table. A packet that cannot be read
    // raises EDatabaseError "Invalid data packet: ..." and leaves it closed.
    void SetData(const Variant& packet);
    // The table as a data packet (a byte-array variant); Null when closed.
    Variant Data() const;

    // FileName as a full path ("" without a file name).
    QString ResolvedFileName() const;

protected:
    void InternalOpen() override;
    void InternalClose() override;

private:
    bool FindKeyOf(const Variant* keyValues, qsizetype count);
    void OpenFromPacket(datapacket::Decoded packet);
    void WriteFile(const QString& path);
    QString Resolve(const QString& fileName) const;

    QString fileName_;
    QString indexFieldNames_;
    QString providerName_;
    // A decoded file or packet waiting for InternalOpen to adopt it.
    std::unique_ptr<datapacket::Decoded> pending_;
    bool creating_ = false;
};

} // namespace velkaro

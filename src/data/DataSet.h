#pragma once
// TDataSet: an in-memory table of rows with a cursor, the common ground of
// the client table (TClientDataSet) and the query datasets.
//
// Contract:
// - Closed, a dataset holds no rows and no field objects; every operation
//   that needs rows raises EDatabaseError "<Name>: Cannot perform this
//   operation on a closed dataset" ("Cannot perform ..." alone when the
//   dataset has no name). Open builds one TField per definition in
//   FieldDefs(); Close deletes them.
// - Rows are kept in the order of the index fields when the dataset has
//   any (see SetIndexFields), otherwise in the order they were added. Text
//   compares by its exact characters (case counts); nulls come first.
// - Editing: Edit opens the current row for change (on a table without rows
//   it starts a new row, as Insert); Insert starts an empty row before the
//   current one, Append one at the end; field writes go into that row; Post
//   stores it (placing it by the index, cursor on it), Cancel drops it.
//   Moving the cursor, Insert/Append, FindKey and SaveToFile first finish a
//   row being changed: it is posted when a field was set, dropped otherwise.
//   Close drops an unposted row.
// - Cursor: RecNo counts from 1 (0 without rows). Bof/Eof behave as the
//   usual loop needs: after First, Eof is true only on an empty table; Next
//   on the last row leaves the cursor there and sets Eof; Prior on the first
//   row sets Bof. While inserting, RecNo is the position the new row is shown
//   at and RecordCount still counts the posted rows only.
// - Signals tell views what changed; they are not sent for each row while
//   a table is loading.
// - Rows are records in the packet encoding (DataPacket.h), kept in large
//   shared chunks or in the loaded file's own bytes.

#include "core/Component.h"
#include "data/DataPacket.h"
#include "data/Field.h"
#include "data/RowAppender.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>

#include <memory>
#include <vector>

namespace velkaro {

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

class RecordArena;

class TDataSet : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)

public:
    explicit TDataSet(QObject* owner = nullptr);
    ~TDataSet() override;

    bool Active() const { return state_ != TDataSetState::dsInactive; }
    void SetActive(bool active);
    void Open();
    void Close();

    // The declared definitions; Open builds the fields from them. Loading a
    // file or a packet replaces them with the loaded ones.
    QList<TFieldDef>& FieldDefs() { return fieldDefs_; }
    const QList<TFieldDef>& FieldDefs() const { return fieldDefs_; }

    int FieldCount() const { return int(fields_.size()); }
    TField* Fields(int i) const;
    // Field names compare without regard to case.
    TField* FieldByName(const QString& name) const;
    TField* FindField(const QString& name) const;

    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const;
    bool Bof() const;
    int RecordCount() const;
    int RecNo() const;
    void SetRecNo(int recNo);

    TDataSetState State() const { return state_; }
    void Edit();
    void Insert();
    void Append();
    void Post();
    void Cancel();
    // Deletes the current row (an unposted new row is simply dropped).
    // Raises "<Name>: Cannot perform this operation on an empty dataset"
    // without rows.
    void Delete();
    bool Modified() const { return modified_; }

    // Asked by a provider after it has packaged the rows: back to the first
    // row. A query dataset overrides this to close and reopen.
    virtual void ProviderReset();

    // The key fields for a provider: the names of the fields whose
    // definition has Key or PrimaryKey set, in field order, joined by ";"
    // ("" when there are none). The open dataset's fields, or FieldDefs()
    // while it is closed.
    QString PSGetKeyFields() const;

    // The error texts of this dataset, with its name in front.
    QString ErrorText(const QString& text) const;
    [[noreturn]] void RaiseError(const QString& text) const;
    void CheckActive() const;

    // Field objects and the packet encoder read the rows through these.
    const StoredValue* EditValue(int field) const; // the row being changed, or null
    StoredValue CurrentValue(int field) const; // the current row's value (null without a row)
    // The current row's value as its record holds it (ValueBytes).
    QByteArrayView CurrentBytes(int field, bool* isNull) const;
    void SetEditValue(int field, StoredValue value);
    const std::vector<QByteArrayView>& Records() const { return records_; }
    // The definitions of the open dataset (FieldDefs() as they were at Open).
    const QList<TFieldDef>& OpenFieldDefs() const { return openDefs_; }
    // The posted rows with their field definitions as a data packet;
    // raises the closed-dataset error when closed.
    QByteArray PacketBytes() const;

signals:
    void StateChanged(); // open, close, edit, insert, post, cancel
    void DataChanged(); // rows or values changed
    void CursorMoved(); // the current row changed

protected:
    // Opening: Open clears the rows, calls InternalOpen, then builds the
    // fields. A subclass fills FieldDefs() and adds rows (AppendRows, AddRow
    // or AdoptRecords) there. Raising from InternalOpen leaves the dataset
    // closed.
    virtual void InternalOpen();
    virtual void InternalClose();

    // Rows in their stored form, for a reader that fetches them (see
    // RowAppender.h), while the dataset opens (an open one raises). The
    // rows are made with FieldDefs() as it is at the first call; a row left
    // unfinished fails the opening.
    RowAppender& AppendRows();
    // A row from one value per definition, converted as SetValue converts.
    void AddRow(const QList<Variant>& values);
    // Records already checked against FieldDefs() (a decoded packet), with
    // the storage they point into.
    void AdoptRecords(QByteArray storage, std::vector<QByteArrayView> records);

    // The index: rows are ordered by these fields (names as in FieldDefs);
    // an empty list keeps the order of adding. Raises "Field 'X' not found"
    // for a name the open dataset lacks.
    void SetIndexFields(const QStringList& names);
    const QList<int>& IndexFields() const { return indexFields_; }
    QStringList IndexFieldNameList() const { return indexNames_; }
    // The first row whose index fields equal Key (one value for each of the
    // first Count index fields, converted as SetValue converts them), or -1.
    // Raises what the conversion raises.
    int FindIndexed(const Variant* key, int count);
    void MoveTo(int row);
    // Posts a changed row, drops an unchanged one; nothing in browse state.
    void CheckBrowseMode();

private:
    friend class TField;
    friend class RowAppender;
    void BuildFields();
    void DropRows();
    void SortRows();
    // The values of the first Count index fields of a record or of a key,
    // as ValueBytes gives them; compared and hashed without decoding.
    using Key = QVarLengthArray<datapacket::FieldBytes, 8>;
    TFieldType KeyType(int i) const { return openDefs_[indexFields_[i]].DataType; }
    void RecordKey(QByteArrayView record, int count, Key& key) const;
    int CompareKey(QByteArrayView record, const Key& key, int codePage) const;
    int CompareFields(QByteArrayView a, QByteArrayView b, int count, int codePage) const;
    int UpperBound(QByteArrayView record) const;
    void SetState(TDataSetState state);
    void CheckEditing() const;
    QList<int> ResolveIndex(const QStringList& names) const;
    void UseIndex(const QList<int>& fields);
    void ReleaseRecord(QByteArrayView record);
    // The lookup table of whole keys: row numbers by the hash of their index
    // fields, the first of equal rows only.
    void RowsChanged();
    void BuildLookup() const;
    size_t KeyHash(const Key& key) const;
    // Whether two keys are equal as the index orders them (CompareKey's 0).
    bool SameKey(const Key& a, const Key& b) const;
    // A whole key of an index with runKeys_: the null flags of its fields
    // and the run of bytes that holds their values, lengths included (see
    // datapacket::LeadingRun).
    struct KeyRun {
        quint64 nulls;
        QByteArrayView bytes;
        bool operator==(const KeyRun& other) const;
    };
    KeyRun RecordRun(QByteArrayView record) const;
    static size_t RunHash(const KeyRun& run);
    // The values FindIndexed wrote to scratch_, as ValueBytes gives them.
    void SplitScratch(Key& key) const;
    // The row of the first slot from Hash on (rows with equal keys have one
    // slot) whose record Matches accepts, or -1.
    template <typename Matches> int Probe(size_t hash, Matches matches) const;

    QList<TFieldDef> fieldDefs_;
    // The definitions the rows are encoded with: fixed from Open to Close,
    // whatever callers do to FieldDefs() meanwhile.
    QList<TFieldDef> openDefs_;
    QList<TFieldDef> rowDefs_; // while opening: the ones rows were added with
    std::vector<std::unique_ptr<TField>> fields_;
    TDataSetState state_ = TDataSetState::dsInactive;

    // Rows in order; each a record in the packet encoding, stored in arena_.
    std::unique_ptr<RecordArena> arena_;
    std::vector<QByteArrayView> records_;
    std::unique_ptr<RowAppender> appender_;
    QByteArray scratch_; // a record being posted, or the values of a key being looked up
    QStringList indexNames_;
    QList<int> indexFields_;
    bool indexLeads_ = true; // the index fields are fields 0, 1, ... in order
    // The index fields lead (at most 64 of them) and are of kinds whose
    // values are equal exactly when their bytes are (no floats or dates): a
    // whole key is then its null flags and one run of bytes as a record
    // holds them, hashed and compared where it lies (KeyRun).
    bool runKeys_ = false;

    // Whole-key lookups go through a hash table once enough of them have
    // come since the rows last changed to pay for building it; until then,
    // and for partial keys, they search the ordered rows (FindIndexed).
    struct LookupSlot {
        // The row's record, so that a hit reads one place less; for keys
        // compared as runs only its null flags and the run.
        QByteArrayView record;
        quint32 row; // row + 1; 0 = empty
        quint32 tag; // high bits of the key's hash, so most misses need no record
    };
    mutable std::vector<LookupSlot> lookup_;
    mutable bool lookupValid_ = false;
    mutable qsizetype lookupsSinceChange_ = 0;
    qsizetype lookupsServed_ = 0; // by the table in force
    static constexpr qsizetype MaxLookupPatience = 128;
    static constexpr qsizetype MinLookupPatience = 4;
    qsizetype lookupPatience_ = MaxLookupPatience;

    int cursor_ = -1; // index into records_, -1 without rows
    bool bof_ = true;
    bool eof_ = true;

    // The row being changed (edit or insert state).
    QList<StoredValue> editBuffer_;
    int insertAt_ = 0; // insert state: where the new row shows
    bool modified_ = false;

protected:
    // Set whenever the posted rows change; the client table clears it when
    // its rows match its file.
    bool rowsChanged_ = false;
};

} // namespace velkaro

#include "data/DataSet.h"

#include "core/Bytes.h"
#include "core/Exceptions.h"
#include "data/FieldValue_p.h"
#include "data/RecordArena_p.h"

#include <QHashFunctions>

#include <algorithm>

namespace velkaro {

TDataSet::TDataSet(QObject* owner)
    : TComponent(owner)
    , arena_(std::make_unique<RecordArena>())
{
}

TDataSet::~TDataSet() = default;

void TDataSet::SetActive(bool active)
{
    if (active)
        Open();
    else
        Close();
}

void TDataSet::Open()
{
    if (Active())
        return;
    DropRows();
    rowDefs_.clear();
    rowsChanged_ = false;
    try {
        InternalOpen();
        if (appender_ && appender_->InRow())
            RaiseError(QStringLiteral("A row was left unfinished"));
        appender_.reset();
        datapacket::CheckFieldDefs(fieldDefs_, ErrorText(QString()));
        if (!records_.empty() && rowDefs_ != fieldDefs_)
            RaiseError(QStringLiteral("Field definitions changed after rows were added"));
        openDefs_ = fieldDefs_;
        BuildFields();
        indexFields_ = ResolveIndex(indexNames_);
        SortRows();
    } catch (...) {
        appender_.reset();
        DropRows();
        fields_.clear();
        openDefs_.clear();
        indexFields_.clear();
        throw;
    }
    cursor_ = records_.empty() ? -1 : 0;
    bof_ = true;
    eof_ = records_.empty();
    SetState(TDataSetState::dsBrowse);
    emit DataChanged();
    emit CursorMoved();
}

void TDataSet::Close()
{
    if (!Active())
        return;
    if (state_ != TDataSetState::dsBrowse) {
        editBuffer_.clear();
        modified_ = false;
        state_ = TDataSetState::dsBrowse;
    }
    // A subclass may write the rows out here; if that fails the table stays open.
    InternalClose();
    DropRows();
    fields_.clear();
    openDefs_.clear();
    indexFields_.clear();
    SetState(TDataSetState::dsInactive);
    emit DataChanged();
    emit CursorMoved();
}

void TDataSet::InternalOpen() { }

void TDataSet::InternalClose() { }

void TDataSet::DropRows()
{
    records_.clear();
    records_.shrink_to_fit();
    arena_->Clear();
    RowsChanged();
    cursor_ = -1;
    bof_ = true;
    eof_ = true;
    editBuffer_.clear();
    modified_ = false;
}

void TDataSet::BuildFields()
{
    fields_.clear();
    for (int i = 0; i < openDefs_.size(); ++i)
        fields_.push_back(std::make_unique<TField>(this, i, openDefs_[i]));
}

TField* TDataSet::Fields(int i) const
{
    if (i < 0 || i >= FieldCount())
        RaiseError(QStringLiteral("List index out of bounds (%1)").arg(i));
    return fields_[size_t(i)].get();
}

TField* TDataSet::FindField(const QString& name) const
{
    for (const auto& field : fields_) {
        if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field.get();
    }
    return nullptr;
}

TField* TDataSet::FieldByName(const QString& name) const
{
    TField* field = FindField(name);
    if (field == nullptr)
        RaiseError(QString::fromLatin1(msg::FieldNotFound).arg(name));
    return field;
}

QString TDataSet::ErrorText(const QString& text) const
{
    return objectName().isEmpty() ? text : objectName() + QStringLiteral(": ") + text;
}

void TDataSet::RaiseError(const QString& text) const
{
    throw EDatabaseError(ErrorText(text));
}

void TDataSet::CheckActive() const
{
    if (!Active())
        RaiseError(QString::fromLatin1(msg::DataSetClosed));
}

void TDataSet::CheckEditing() const
{
    CheckActive();
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        RaiseError(QStringLiteral("Dataset not in edit or insert mode"));
}

void TDataSet::SetState(TDataSetState state)
{
    if (state_ == state)
        return;
    state_ = state;
    emit StateChanged();
}

// Cursor ------------------------------------------------------------------

void TDataSet::First()
{
    CheckActive();
    CheckBrowseMode();
    cursor_ = records_.empty() ? -1 : 0;
    bof_ = true;
    eof_ = records_.empty();
    emit CursorMoved();
}

void TDataSet::Last()
{
    CheckActive();
    CheckBrowseMode();
    cursor_ = int(records_.size()) - 1;
    eof_ = true;
    bof_ = records_.empty();
    emit CursorMoved();
}

void TDataSet::Next()
{
    CheckActive();
    CheckBrowseMode();
    if (cursor_ + 1 < int(records_.size())) {
        ++cursor_;
        bof_ = false;
        eof_ = false;
        emit CursorMoved();
    } else {
        eof_ = true;
    }
}

void TDataSet::Prior()
{
    CheckActive();
    CheckBrowseMode();
    if (cursor_ > 0) {
        --cursor_;
        bof_ = false;
        eof_ = false;
        emit CursorMoved();
    } else {
        bof_ = true;
    }
}

bool TDataSet::Eof() const
{
    return !Active() || eof_;
}

bool TDataSet::Bof() const
{
    return !Active() || bof_;
}

int TDataSet::RecordCount() const
{
    return Active() ? int(records_.size()) : 0;
}

int TDataSet::RecNo() const
{
    if (!Active())
        return 0;
    if (state_ == TDataSetState::dsInsert)
        return insertAt_ + 1;
    return cursor_ + 1;
}

void TDataSet::SetRecNo(int recNo)
{
    CheckActive();
    CheckBrowseMode();
    if (recNo < 1 || recNo > int(records_.size()) || recNo == cursor_ + 1)
        return;
    MoveTo(recNo - 1);
}

void TDataSet::MoveTo(int row)
{
    cursor_ = row;
    bof_ = false;
    eof_ = false;
    emit CursorMoved();
}

void TDataSet::ProviderReset()
{
    First();
}

QString TDataSet::PSGetKeyFields() const
{
    QStringList names;
    for (const TFieldDef& def : Active() ? openDefs_ : fieldDefs_) {
        if (def.Key || def.PrimaryKey)
            names.append(def.Name);
    }
    return names.join(u';');
}

// Editing -----------------------------------------------------------------

void TDataSet::CheckBrowseMode()
{
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        return;
    if (modified_)
        Post();
    else
        Cancel();
}

void TDataSet::Edit()
{
    CheckActive();
    if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert)
        return;
    if (records_.empty()) {
        Insert();
        return;
    }
    editBuffer_ = datapacket::DecodeRecord(openDefs_, records_[size_t(cursor_)]);
    modified_ = false;
    SetState(TDataSetState::dsEdit);
}

void TDataSet::Insert()
{
    CheckActive();
    CheckBrowseMode();
    editBuffer_ = QList<StoredValue>(openDefs_.size());
    insertAt_ = std::max(cursor_, 0);
    modified_ = false;
    SetState(TDataSetState::dsInsert);
    emit CursorMoved();
}

void TDataSet::Append()
{
    CheckActive();
    CheckBrowseMode();
    editBuffer_ = QList<StoredValue>(openDefs_.size());
    insertAt_ = int(records_.size());
    modified_ = false;
    SetState(TDataSetState::dsInsert);
    emit CursorMoved();
}

void TDataSet::Post()
{
    CheckActive();
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        return;
    for (int i = 0; i < openDefs_.size(); ++i) {
        if (openDefs_[i].Required && editBuffer_[i].isNull)
            RaiseError(QStringLiteral("Field '%1' must have a value").arg(openDefs_[i].Name));
    }
    scratch_.resize(0);
    datapacket::EncodeRecord(openDefs_, editBuffer_, scratch_);
    int at = state_ == TDataSetState::dsInsert ? insertAt_ : cursor_;
    if (state_ == TDataSetState::dsEdit) {
        const QByteArrayView old = records_[size_t(cursor_)];
        records_.erase(records_.begin() + cursor_);
        ReleaseRecord(old);
    }
    if (!indexFields_.isEmpty())
        at = UpperBound(scratch_);
    records_.insert(records_.begin() + at, QByteArrayView());
    records_[size_t(at)] = arena_->Store(scratch_);
    RowsChanged();
    cursor_ = at;
    bof_ = false;
    eof_ = false;
    editBuffer_.clear();
    modified_ = false;
    rowsChanged_ = true;
    SetState(TDataSetState::dsBrowse);
    emit DataChanged();
    emit CursorMoved();
}

void TDataSet::Cancel()
{
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        return;
    editBuffer_.clear();
    modified_ = false;
    SetState(TDataSetState::dsBrowse);
    emit DataChanged();
    emit CursorMoved();
}

void TDataSet::Delete()
{
    CheckActive();
    if (state_ == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    Cancel();
    if (records_.empty())
        RaiseError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    const bool wasLast = cursor_ == int(records_.size()) - 1;
    const QByteArrayView old = records_[size_t(cursor_)];
    records_.erase(records_.begin() + cursor_);
    ReleaseRecord(old);
    RowsChanged();
    if (cursor_ >= int(records_.size()))
        cursor_ = int(records_.size()) - 1;
    bof_ = records_.empty();
    eof_ = records_.empty() || wasLast;
    rowsChanged_ = true;
    emit DataChanged();
    emit CursorMoved();
}

const StoredValue* TDataSet::EditValue(int field) const
{
    if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert)
        return nullptr;
    return &editBuffer_[field];
}

StoredValue TDataSet::CurrentValue(int field) const
{
    if (!Active() || cursor_ < 0)
        return StoredValue();
    return datapacket::DecodeValue(openDefs_, records_[size_t(cursor_)], field);
}

void TDataSet::SetEditValue(int field, StoredValue value)
{
    editBuffer_[field] = std::move(value);
    modified_ = true;
    emit DataChanged();
}

QByteArray TDataSet::PacketBytes() const
{
    CheckActive();
    return datapacket::Encode(openDefs_, records_);
}

StoredValue TDataSet::ToStored(int field, const Variant& value) const
{
    return fieldvalue::FromVariant(openDefs_[field], value);
}

// Filling -----------------------------------------------------------------

RowAppender& TDataSet::AppendRows()
{
    if (!appender_) {
        if (records_.empty())
            rowDefs_ = fieldDefs_;
        appender_.reset(new RowAppender(*this, rowDefs_));
    }
    return *appender_;
}

void TDataSet::AddRow(const QList<Variant>& values)
{
    RowAppender& rows = AppendRows();
    for (int i = 0; i < rowDefs_.size(); ++i)
        rows.Add(i < values.size() ? fieldvalue::FromVariant(rowDefs_[i], values[i]) : StoredValue());
    rows.EndRow();
}

void TDataSet::AdoptRecords(QByteArray storage, std::vector<QByteArrayView> records)
{
    rowDefs_ = fieldDefs_;
    qsizetype live = 0;
    for (const QByteArrayView r : records)
        live += r.size();
    arena_->Adopt(std::move(storage), live);
    records_ = std::move(records);
    RowsChanged();
}

void TDataSet::StoreRecord(QByteArrayView record)
{
    records_.push_back(arena_->Store(record));
}

void TDataSet::ReleaseRecord(QByteArrayView record)
{
    arena_->Release(record);
    // Moving the live records keeps the order and the row numbers.
    if (arena_->WorthCompacting())
        arena_->Compact(records_);
}

// Index -------------------------------------------------------------------

QList<int> TDataSet::ResolveIndex(const QStringList& names) const
{
    QList<int> fields;
    for (const QString& name : names) {
        const TField* field = FieldByName(name);
        fields.append(field->Index());
    }
    return fields;
}

void TDataSet::SetIndexFields(const QStringList& names)
{
    if (Active()) {
        CheckBrowseMode();
        const QList<int> fields = ResolveIndex(names);
        indexNames_ = names;
        indexFields_ = fields;
        SortRows();
        cursor_ = records_.empty() ? -1 : 0;
        bof_ = true;
        eof_ = records_.empty();
        emit DataChanged();
        emit CursorMoved();
        return;
    }
    indexNames_ = names;
}

int TDataSet::CompareFields(QByteArrayView a, QByteArrayView b, int count, int codePage) const
{
    // Walk each record once up to the last index field involved.
    constexpr int Inline = 16;
    int span = 0;
    for (int i = 0; i < count; ++i)
        span = std::max(span, indexFields_[i] + 1);
    if (span > Inline) {
        for (int i = 0; i < count; ++i) {
            const int f = indexFields_[i];
            bool aNull = false;
            bool bNull = false;
            const QByteArrayView va = datapacket::ValueBytes(openDefs_, a, f, &aNull);
            const QByteArrayView vb = datapacket::ValueBytes(openDefs_, b, f, &bNull);
            if (aNull || bNull) {
                if (aNull != bNull)
                    return aNull ? -1 : 1;
                continue;
            }
            if (const int c = fieldvalue::CompareRaw(openDefs_[f].DataType, va, vb, codePage); c != 0)
                return c;
        }
        return 0;
    }
    QByteArrayView va[Inline];
    QByteArrayView vb[Inline];
    bool na[Inline];
    bool nb[Inline];
    datapacket::LeadingValues(openDefs_, a, span, va, na);
    datapacket::LeadingValues(openDefs_, b, span, vb, nb);
    for (int i = 0; i < count; ++i) {
        const int f = indexFields_[i];
        if (na[f] || nb[f]) {
            if (na[f] != nb[f])
                return na[f] ? -1 : 1;
            continue;
        }
        if (const int c = fieldvalue::CompareRaw(openDefs_[f].DataType, va[f], vb[f], codePage); c != 0)
            return c;
    }
    return 0;
}

void TDataSet::SortRows()
{
    RowsChanged();
    if (indexFields_.isEmpty())
        return;
    const int count = int(indexFields_.size());
    const int codePage = fieldvalue::CodePage();
    const auto less = [this, count, codePage](
                          QByteArrayView a, QByteArrayView b) { return CompareFields(a, b, count, codePage) < 0; };
    // Files this engine wrote are in index order already: one pass tells.
    if (!std::is_sorted(records_.begin(), records_.end(), less))
        std::stable_sort(records_.begin(), records_.end(), less);
}

int TDataSet::UpperBound(QByteArrayView record) const
{
    const int count = int(indexFields_.size());
    const int codePage = fieldvalue::CodePage();
    const auto it = std::upper_bound(
        records_.begin(), records_.end(), record, [this, count, codePage](QByteArrayView r, QByteArrayView x) {
            return CompareFields(r, x, count, codePage) < 0;
        });
    return int(it - records_.begin());
}

void TDataSet::RowsChanged()
{
    lookupValid_ = false;
    lookupsSinceChange_ = 0;
}

size_t TDataSet::KeyHash(QByteArrayView record) const
{
    const int count = int(indexFields_.size());
    size_t h = 0;
    for (int i = 0; i < count; ++i) {
        const int f = indexFields_[i];
        bool isNull = false;
        const QByteArrayView v = datapacket::ValueBytes(openDefs_, record, f, &isNull);
        if (isNull) {
            h = qHashMulti(h, i, -1);
            continue;
        }
        const TFieldType type = openDefs_[f].DataType;
        if (type == TFieldType::ftFloat || type == TFieldType::ftDate || type == TFieldType::ftTime
            || type == TFieldType::ftDateTime) {
            // -0 and 0 are equal keys.
            const double d = ByteReader(v).F64();
            h = qHashMulti(h, i, d == 0 ? 0.0 : d);
            continue;
        }
        h = qHashBits(v.data(), size_t(v.size()), qHashMulti(h, i, v.size()));
    }
    return h;
}

void TDataSet::BuildLookup() const
{
    const int count = int(indexFields_.size());
    const int codePage = fieldvalue::CodePage();
    size_t slotCount = 16;
    while (slotCount < records_.size() * 2)
        slotCount *= 2;
    const size_t mask = slotCount - 1;
    lookup_.assign(slotCount, 0);
    for (size_t row = 0; row < records_.size(); ++row) {
        // Equal keys sit side by side; the first of them is the one found.
        if (row > 0 && CompareFields(records_[row - 1], records_[row], count, codePage) == 0)
            continue;
        size_t slot = KeyHash(records_[row]) & mask;
        while (lookup_[slot] != 0)
            slot = (slot + 1) & mask;
        lookup_[slot] = qint32(row + 1);
    }
    lookupValid_ = true;
}

int TDataSet::FindIndexed(const QList<StoredValue>& key)
{
    const int count = int(std::min(key.size(), indexFields_.size()));
    const int codePage = fieldvalue::CodePage();
    // The probe: a record with the key's values in the index fields.
    QList<StoredValue> values(openDefs_.size());
    for (int i = 0; i < count; ++i)
        values[indexFields_[i]] = key[i];
    scratch_.resize(0);
    datapacket::EncodeRecord(openDefs_, values, scratch_);
    const QByteArrayView probe = scratch_;

    if (count == indexFields_.size() && !records_.empty()) {
        // Building the table costs about as much as a few dozen searches per
        // row: worth it once lookups keep coming without changes between.
        if (!lookupValid_ && ++lookupsSinceChange_ * 32 >= qsizetype(records_.size()))
            BuildLookup();
        if (lookupValid_) {
            const size_t mask = lookup_.size() - 1;
            for (size_t slot = KeyHash(probe) & mask; lookup_[slot] != 0; slot = (slot + 1) & mask) {
                const int row = lookup_[slot] - 1;
                if (CompareFields(records_[size_t(row)], probe, count, codePage) == 0)
                    return row;
            }
            return -1;
        }
    }
    const auto it = std::lower_bound(
        records_.begin(), records_.end(), probe, [this, count, codePage](QByteArrayView r, QByteArrayView k) {
            return CompareFields(r, k, count, codePage) < 0;
        });
    if (it == records_.end() || CompareFields(*it, probe, count, codePage) != 0)
        return -1;
    return int(it - records_.begin());
}

} // namespace velkaro

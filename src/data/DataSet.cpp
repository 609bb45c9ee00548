#include "data/DataSet.h"

#include "core/Bytes.h"
#include "core/Exceptions.h"
#include "data/FieldValue_p.h"
#include "data/RecordArena_p.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace velkaro {

namespace {

// A hint that memory is about to be read, so that two reads overlap.
inline void Prefetch(const void* p)
{
#if defined(__GNUC__)
    __builtin_prefetch(p);
#else
    Q_UNUSED(p);
#endif
}

// Hashing for the lookup table (never stored, so the host's byte order
// does not matter): multiply and fold, a word at a time, as keys are short.
constexpr quint64 HashFactor = 0x9E3779B97F4A7C15ull;

inline quint64 Mix(quint64 h, quint64 word)
{
    h = (h ^ word) * HashFactor;
    return h ^ (h >> 29);
}

// Spreads every bit of H over all bits (the finalizer of MurmurHash3), so
// that the low bits that choose a slot depend on every byte of the key.
inline size_t Finish(quint64 h)
{
    h = (h ^ (h >> 33)) * 0xFF51AFD7ED558CCDull;
    h = (h ^ (h >> 33)) * 0xC4CEB9FE1A85EC53ull;
    return size_t(h ^ (h >> 33));
}

quint64 Load64(const char* p)
{
    quint64 word;
    std::memcpy(&word, p, 8);
    return word;
}

quint64 Load32(const char* p)
{
    quint32 word;
    std::memcpy(&word, p, 4);
    return word;
}

quint64 MixBytes(quint64 h, QByteArrayView bytes)
{
    const char* p = bytes.data();
    const qsizetype n = bytes.size();
    h = Mix(h, quint64(n));
    // Whole words; a short end is read as the last word of the value (bytes
    // hashed twice do no harm, and no byte is read outside the value).
    if (n >= 8) {
        qsizetype i = 0;
        for (; i + 8 <= n; i += 8)
            h = Mix(h, Load64(p + i));
        return i < n ? Mix(h, Load64(p + n - 8)) : h;
    }
    if (n >= 4)
        return Mix(h, (Load32(p) << 32) | Load32(p + n - 4));
    if (n > 0)
        return Mix(h, (quint64(quint8(p[0])) << 16) | (quint64(quint8(p[n / 2])) << 8) | quint8(p[n - 1]));
    return h;
}

// Whether two values' bytes are the same.
bool SameBytes(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && (a.isEmpty() || std::memcmp(a.data(), b.data(), size_t(a.size())) == 0);
}

// The kinds held as doubles, whose equal values may differ in their bytes
// (-0 and 0).
bool IsDoubleKind(TFieldType type)
{
    return type == TFieldType::ftFloat || type == TFieldType::ftDate || type == TFieldType::ftTime
        || type == TFieldType::ftDateTime;
}

} // namespace

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
        if (appender_) {
            if (appender_->InRow())
                RaiseError(QStringLiteral("A row was left unfinished"));
            // The appended rows get their index now, at its final size.
            records_.reserve(records_.size() + size_t(appender_->rows_));
            arena_->Collect(records_, [this](QByteArrayView bytes) { return datapacket::RecordSize(rowDefs_, bytes); });
            appender_.reset();
        }
        datapacket::CheckFieldDefs(fieldDefs_, ErrorText(QString()));
        if (!records_.empty() && rowDefs_ != fieldDefs_)
            RaiseError(QStringLiteral("Field definitions changed after rows were added"));
        openDefs_ = fieldDefs_;
        BuildFields();
        UseIndex(ResolveIndex(indexNames_));
        SortRows();
    } catch (...) {
        appender_.reset();
        DropRows();
        fields_.clear();
        openDefs_.clear();
        UseIndex({});
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
    UseIndex({});
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

QByteArrayView TDataSet::CurrentBytes(int field, bool* isNull) const
{
    *isNull = true;
    if (!Active() || cursor_ < 0)
        return {};
    return datapacket::ValueBytes(openDefs_, records_[size_t(cursor_)], field, isNull);
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

// Filling -----------------------------------------------------------------

RowAppender& TDataSet::AppendRows()
{
    if (Active())
        RaiseError(QStringLiteral("Rows are appended only while the dataset opens"));
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

void TDataSet::ReleaseRecord(QByteArrayView record)
{
    arena_->Release(record);
    // Moving the live records keeps the order and the row numbers (but not
    // where the lookup table finds them).
    if (arena_->WorthCompacting()) {
        arena_->Compact(records_);
        RowsChanged();
    }
}

// Index -------------------------------------------------------------------

void TDataSet::UseIndex(const QList<int>& fields)
{
    indexFields_ = fields;
    indexLeads_ = true;
    for (int i = 0; i < fields.size(); ++i)
        indexLeads_ = indexLeads_ && fields[i] == i;
    runKeys_ = indexLeads_ && !fields.isEmpty() && fields.size() <= 64;
    for (const int field : fields)
        runKeys_ = runKeys_ && !IsDoubleKind(openDefs_[field].DataType);
    RowsChanged();
}

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
        UseIndex(fields);
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

void TDataSet::RecordKey(QByteArrayView record, int count, Key& key) const
{
    key.resize(count);
    // The usual index names the leading fields in order: read them in place.
    if (indexLeads_) {
        datapacket::LeadingValues(openDefs_, record, count, key.data());
        return;
    }
    // Otherwise walk the record once up to the last index field involved.
    int span = 0;
    for (int i = 0; i < count; ++i)
        span = std::max(span, indexFields_[i] + 1);
    QVarLengthArray<datapacket::FieldBytes, 16> values(span);
    datapacket::LeadingValues(openDefs_, record, span, values.data());
    for (int i = 0; i < count; ++i)
        key[i] = values[indexFields_[i]];
}

int TDataSet::CompareKey(QByteArrayView record, const Key& key, int codePage) const
{
    Key own;
    RecordKey(record, int(key.size()), own);
    for (int i = 0; i < key.size(); ++i) {
        if (own[i].isNull || key[i].isNull) {
            if (own[i].isNull != key[i].isNull)
                return own[i].isNull ? -1 : 1;
            continue;
        }
        if (const int c = fieldvalue::CompareRaw(KeyType(i), own[i].raw, key[i].raw, codePage); c != 0)
            return c;
    }
    return 0;
}

int TDataSet::CompareFields(QByteArrayView a, QByteArrayView b, int count, int codePage) const
{
    Key key;
    RecordKey(b, count, key);
    return CompareKey(a, key, codePage);
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
    if (lookupValid_) {
        const bool paid = lookupsServed_ * MinLookupPatience >= qsizetype(records_.size());
        lookupPatience_ = paid ? MaxLookupPatience : std::max(lookupPatience_ / 2, MinLookupPatience);
    }
    lookupValid_ = false;
    lookupsSinceChange_ = 0;
    lookupsServed_ = 0;
}

size_t TDataSet::KeyHash(const Key& key) const
{
    quint64 h = 0;
    for (int i = 0; i < key.size(); ++i) {
        if (key[i].isNull) {
            h = Mix(h, 0xFFFFFFFFu);
            continue;
        }
        if (IsDoubleKind(KeyType(i))) {
            // -0 and 0 are equal keys.
            const double d = ByteReader(key[i].raw).F64();
            h = Mix(h, DoubleBits(d == 0 ? 0.0 : d));
            continue;
        }
        h = MixBytes(h, key[i].raw);
    }
    return Finish(h);
}

bool TDataSet::SameKey(const Key& a, const Key& b) const
{
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].isNull || b[i].isNull) {
            if (a[i].isNull != b[i].isNull)
                return false;
            continue;
        }
        if (IsDoubleKind(KeyType(i))) {
            if (ByteReader(a[i].raw).F64() != ByteReader(b[i].raw).F64())
                return false;
            continue;
        }
        // Every other kind compares equal exactly when its bytes are equal.
        if (!SameBytes(a[i].raw, b[i].raw))
            return false;
    }
    return true;
}

bool TDataSet::KeyRun::operator==(const KeyRun& other) const
{
    return nulls == other.nulls && SameBytes(bytes, other.bytes);
}

TDataSet::KeyRun TDataSet::RecordRun(QByteArrayView record) const
{
    const int count = int(indexFields_.size());
    return {datapacket::LeadingNullFlags(record, count), datapacket::LeadingRun(openDefs_, record, count)};
}

size_t TDataSet::RunHash(const KeyRun& run)
{
    return Finish(MixBytes(Mix(0, run.nulls), run.bytes));
}

void TDataSet::BuildLookup() const
{
    const int count = int(indexFields_.size());
    size_t slotCount = 16;
    while (slotCount < records_.size() * 2)
        slotCount *= 2;
    const size_t mask = slotCount - 1;
    lookup_.assign(slotCount, LookupSlot {{}, 0, 0});
    // Rows are placed a few behind the one being hashed, so that the slot
    // each goes to is fetched while the next ones are hashed.
    constexpr size_t Ahead = 8;
    struct Pending {
        size_t hash;
        size_t row;
        QByteArrayView record;
    } pending[Ahead];
    size_t pushed = 0;
    const auto place = [&](const Pending& p) {
        size_t slot = p.hash & mask;
        while (lookup_[slot].row != 0)
            slot = (slot + 1) & mask;
        lookup_[slot] = {p.record, quint32(p.row + 1), quint32(quint64(p.hash) >> 32)};
    };
    Key keys[2];
    KeyRun lastRun {};
    size_t lastHash = 0;
    for (size_t row = 0; row < records_.size(); ++row) {
        QByteArrayView record = records_[row];
        size_t hash;
        bool repeated;
        if (runKeys_) {
            const KeyRun run = RecordRun(record);
            hash = RunHash(run);
            repeated = row > 0 && hash == lastHash && run == lastRun;
            lastRun = run;
            record = record.first(run.bytes.data() + run.bytes.size() - record.data());
        } else {
            Key& key = keys[row % 2];
            RecordKey(record, count, key);
            hash = KeyHash(key);
            repeated = row > 0 && hash == lastHash && SameKey(keys[(row + 1) % 2], key);
        }
        lastHash = hash;
        // Equal keys sit side by side; the first of them is the one found.
        if (repeated)
            continue;
        Prefetch(&lookup_[hash & mask]);
        Pending& next = pending[pushed % Ahead];
        if (pushed++ >= Ahead)
            place(next);
        next = {hash, row, record};
    }
    for (const Pending& p : std::span(pending, std::min(pushed, Ahead)))
        place(p);
    lookupValid_ = true;
}

void TDataSet::SplitScratch(Key& key) const
{
    ByteReader in(scratch_);
    for (int i = 0; i < key.size(); ++i) {
        if (!key[i].isNull)
            key[i].raw = datapacket::NextValue(in, KeyType(i));
    }
}

template <typename Matches> int TDataSet::Probe(size_t hash, Matches matches) const
{
    const size_t mask = lookup_.size() - 1;
    const quint32 tag = quint32(quint64(hash) >> 32);
    for (size_t slot = hash & mask; lookup_[slot].row != 0; slot = (slot + 1) & mask) {
        const LookupSlot& entry = lookup_[slot];
        if (entry.tag != tag)
            continue;
        // The caller reads the row next: fetch its place in the rows while
        // the record is compared.
        Prefetch(&records_[entry.row - 1]);
        if (matches(entry.record))
            return int(entry.row - 1);
    }
    return -1;
}

int TDataSet::FindIndexed(const Variant* values, int count)
{
    count = std::min(count, int(indexFields_.size()));
    const int codePage = fieldvalue::CodePage();
    // The key's values one after another as a record holds them, in scratch_
    // (whose room is kept from lookup to lookup).
    Key key(count);
    quint64 nulls = 0;
    scratch_.resize(0);
    for (int i = 0; i < count; ++i) {
        key[i].isNull = !fieldvalue::AppendStored(openDefs_[indexFields_[i]], values[i], codePage, scratch_);
        if (key[i].isNull && i < 64)
            nulls |= quint64(1) << i;
    }

    if (count == indexFields_.size() && !records_.empty()) {
        // Building the table costs about one search per few dozen rows. It is
        // built once rows / lookupPatience_ lookups came without a change
        // between; a table dropped by a change before it served that many
        // lookups halves the patience (RowsChanged), so a table that keeps
        // changing soon stops spending more on building than on searching.
        if (!lookupValid_ && ++lookupsSinceChange_ * lookupPatience_ >= qsizetype(records_.size()))
            BuildLookup();
        if (lookupValid_) {
            ++lookupsServed_;
            if (runKeys_) {
                const KeyRun run {nulls, scratch_};
                const qsizetype runStart = datapacket::BitmapSize(openDefs_.size());
                return Probe(RunHash(run), [&](QByteArrayView record) {
                    return KeyRun {datapacket::LeadingNullFlags(record, count), record.sliced(runStart)} == run;
                });
            }
            SplitScratch(key);
            Key own;
            return Probe(KeyHash(key), [&](QByteArrayView record) {
                RecordKey(record, count, own);
                return SameKey(own, key);
            });
        }
    }
    SplitScratch(key);
    const auto it = std::lower_bound(records_.begin(), records_.end(), key,
        [this, codePage](QByteArrayView r, const Key& k) { return CompareKey(r, k, codePage) < 0; });
    if (it == records_.end() || CompareKey(*it, key, codePage) != 0)
        return -1;
    return int(it - records_.begin());
}

} // namespace velkaro

#include "data/Field.h"

#include "core/Exceptions.h"
#include "data/DataSet.h"
#include "data/FieldValue_p.h"

#include <QSet>

namespace velkaro {

QString FieldTypeName(TFieldType type)
{
    static const char* const names[] = {"ftUnknown", "ftString", "ftWideString", "ftShortint", "ftByte", "ftSmallint",
        "ftWord", "ftInteger", "ftLongWord", "ftLargeint", "ftBoolean", "ftFloat", "ftBCD", "ftFMTBcd", "ftDate",
        "ftTime", "ftDateTime", "ftBytes", "ftVarBytes", "ftBlob", "ftMemo", "ftWideMemo"};
    const auto i = size_t(type);
    return i < std::size(names) ? QString::fromLatin1(names[i]) : QStringLiteral("ftUnknown");
}

TField::TField(TDataSet* dataSet, int index, const TFieldDef& def)
    : dataSet_(dataSet)
    , index_(index)
    , def_(def)
    , readOnly_(def.ReadOnly)
{
}

QStringList ResultFieldNames(const QStringList& columnNames)
{
    QStringList names;
    names.reserve(columnNames.size());
    QSet<QString> taken;
    for (qsizetype i = 0; i < columnNames.size(); ++i) {
        names.append(columnNames[i].isEmpty() ? QStringLiteral("Column%1").arg(i + 1) : columnNames[i]);
        taken.insert(names.last().toCaseFolded());
    }
    QSet<QString> used;
    for (QString& name : names) {
        const QString folded = name.toCaseFolded();
        if (!used.contains(folded)) {
            used.insert(folded);
            continue;
        }
        for (int n = 1;; ++n) {
            const QString candidate = name + u'_' + QString::number(n);
            const QString key = candidate.toCaseFolded();
            if (!taken.contains(key)) {
                taken.insert(key);
                used.insert(key);
                name = candidate;
                break;
            }
        }
    }
    return names;
}

namespace {

StoredValue Current(const TDataSet* dataSet, int index)
{
    if (const StoredValue* edited = dataSet->EditValue(index))
        return *edited;
    return dataSet->CurrentValue(index);
}

} // namespace

bool TField::IsNull() const
{
    return Current(dataSet_, index_).isNull;
}

Variant TField::Value() const
{
    return fieldvalue::ToVariant(def_, Current(dataSet_, index_));
}

QString TField::AsString() const
{
    // Texts read straight from the record: the common case, and a lookup's.
    if (dataSet_->EditValue(index_) == nullptr && fieldvalue::IsTextKind(def_.DataType)) {
        bool isNull = true;
        const QByteArrayView raw = dataSet_->CurrentBytes(index_, &isNull);
        return isNull ? QString() : fieldvalue::TextOfRaw(def_, raw);
    }
    return fieldvalue::ToText(def_, Current(dataSet_, index_));
}

qint64 TField::AsInteger() const
{
    const Variant v = Value();
    return v.IsNull() ? 0 : v.ToInt64();
}

double TField::AsFloat() const
{
    const Variant v = Value();
    return v.IsNull() ? 0.0 : v.ToDouble();
}

bool TField::AsBoolean() const
{
    const Variant v = Value();
    return v.IsNull() ? false : v.ToBool();
}

QByteArray TField::AsBytes() const
{
    const StoredValue v = Current(dataSet_, index_);
    if (v.isNull)
        return QByteArray();
    switch (def_.DataType) {
    case TFieldType::ftWideString:
    case TFieldType::ftWideMemo:
        return v.text.toUtf8();
    case TFieldType::ftString:
    case TFieldType::ftMemo:
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
    case TFieldType::ftFMTBcd:
        return v.bytes;
    default:
        return AsString().toLatin1();
    }
}

void TField::SetValue(const Variant& value)
{
    dataSet_->CheckEditing();
    if (readOnly_)
        dataSet_->RaiseError(QStringLiteral("Field '%1' cannot be modified").arg(def_.Name));
    dataSet_->SetEditValue(index_, fieldvalue::FromVariant(def_, value));
}

void TField::SetAsString(const QString& text)
{
    dataSet_->CheckEditing();
    if (readOnly_)
        dataSet_->RaiseError(QStringLiteral("Field '%1' cannot be modified").arg(def_.Name));
    dataSet_->SetEditValue(index_, fieldvalue::FromText(def_, text));
}

void TField::SetAsBytes(const QByteArray& bytes)
{
    switch (def_.DataType) {
    case TFieldType::ftWideString:
    case TFieldType::ftWideMemo:
        SetValue(Variant(QString::fromUtf8(bytes)));
        break;
    case TFieldType::ftString:
    case TFieldType::ftMemo:
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
    case TFieldType::ftBlob:
        SetValue(Variant::FromBytes(bytes));
        break;
    default:
        SetAsString(QString::fromLatin1(bytes));
        break;
    }
}

} // namespace velkaro

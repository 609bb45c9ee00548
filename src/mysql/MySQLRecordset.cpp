#include "mysql/MySQLRecordset.h"

#include "core/Exceptions.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySQLFieldValue.h"
#include "mysql/MySQLOptions.h"

#include <vector>

namespace velkaro {

namespace {
const char* const NoResultSet = "Query must return exactly result set - use Execute";
} // namespace

TMySQLRecordset::TMySQLRecordset(TMySQLConnection* connection)
    : connection_(connection)
    , command_(connection)
{
}

TMySQLRecordset::~TMySQLRecordset() = default;

QString TMySQLRecordset::ClassName() const
{
    return QString::fromLatin1(MySQLRecordsetClass);
}

bool TMySQLRecordset::SetProp(int prop, const Variant& value)
{
    switch (prop) {
    case prop::FetchAll:
        fetchAll_ = value.ToBool();
        return true;
    case prop::CommandTimeout:
        return command_.SetProp(prop, value);
    case prop::FieldsAsString:
        fieldsAsString_ = value.ToBool();
        return true;
    case prop::NullForZeroDate:
        nullForZeroDate_ = value.ToBool();
        return true;
    case prop::CheckRowVersion:
        checkRowVersion_ = value.ToBool();
        return true;
    case prop::EnableBoolean:
        enableBoolean_ = value.ToBool();
        return true;
    case prop::CreateConnection:
        createConnection_ = value.ToBool();
        return true;
    case prop::BinaryAsString:
        binaryAsString_ = value.ToBool();
        return true;
    default:
        return false;
    }
}

bool TMySQLRecordset::GetProp(int prop, Variant& value) const
{
    switch (prop) {
    case prop::FetchAll:
        value = Variant(fetchAll_);
        return true;
    case prop::CommandTimeout:
        return command_.GetProp(prop, value);
    case prop::FieldsAsString:
        value = Variant(fieldsAsString_);
        return true;
    case prop::NullForZeroDate:
        value = Variant(nullForZeroDate_);
        return true;
    case prop::CheckRowVersion:
        value = Variant(checkRowVersion_);
        return true;
    case prop::EnableBoolean:
        value = Variant(enableBoolean_);
        return true;
    case prop::CreateConnection:
        value = Variant(createConnection_);
        return true;
    case prop::BinaryAsString:
        value = Variant(binaryAsString_);
        return true;
    default:
        return false;
    }
}

TMySQLFieldOptions TMySQLRecordset::FieldOptions() const
{
    TMySQLFieldOptions o;
    o.UseUnicode = connection_->UseUnicode();
    o.OptimizedBigint = connection_->OptimizedBigint();
    o.NullForZeroDateValue = connection_->NullForZeroDateValue();
    o.EnableBCD = connection_->EnableBCD();
    o.EnableFMTBCD = connection_->EnableFMTBCD();
    o.CheckPrecision = connection_->CheckPrecision();
    o.FieldsAsString = fieldsAsString_;
    o.NullForZeroDate = nullForZeroDate_;
    o.EnableBoolean = enableBoolean_;
    o.BinaryAsString = binaryAsString_;
    return o;
}

void TMySQLRecordset::Open()
{
    Close();
    command_.SetExpectResultSet(true);
    command_.Execute();
    try {
        const TMySqlResultSet* result = command_.Result();
        if (result == nullptr) {
            command_.ReleaseResult();
            throw EDatabaseError(QString::fromLatin1(NoResultSet));
        }
        const TMySQLFieldOptions options = FieldOptions();
        const QList<TMySqlFieldInfo>& columns = result->Fields();
        fields_.reserve(columns.size());
        for (int i = 0; i < columns.size(); ++i)
            fields_.append(MakeFieldDesc(columns[i], i + 1, options));
    } catch (...) {
        fields_.clear();
        releaseQuietly();
        throw;
    }
    active_ = true;
}

QList<TFieldDef> TMySQLRecordset::FieldDefs() const
{
    QStringList columnNames;
    columnNames.reserve(fields_.size());
    for (const TMySQLFieldDesc& desc : fields_)
        columnNames.append(desc.Name);
    const QStringList names = ResultFieldNames(columnNames);
    QList<TFieldDef> defs;
    defs.reserve(fields_.size());
    for (int i = 0; i < fields_.size(); ++i) {
        defs.append(ToFieldDef(fields_[i]));
        defs.back().Name = names[i];
    }
    return defs;
}

void TMySQLRecordset::FetchAll(RowAppender& rows)
{
    if (!active_)
        return;
    try {
        const TMySqlResultSet* result = command_.Result();
        const int count = int(fields_.size());
        std::vector<StoredValue> values(static_cast<size_t>(count));
        command_.SetCursorState(csFetchingAll);
        while (command_.Fetch()) {
            for (int i = 0; i < count; ++i) {
                DecodeValueInto(fields_[i], result->Value(i), result->IsNull(i), values[size_t(i)]);
                rows.Add(values[size_t(i)]);
            }
            rows.EndRow();
        }
        command_.SetCursorState(csFetched);
        command_.ReleaseResult();
    } catch (...) {
        releaseQuietly();
        throw;
    }
}

void TMySQLRecordset::Close()
{
    active_ = false;
    fields_.clear();
    command_.ReleaseResult();
}

void TMySQLRecordset::releaseQuietly()
{
    active_ = false;
    try {
        command_.ReleaseResult();
    } catch (const Exception&) {
        // The error already on its way is the one that explains the failure.
    }
}

void TMySQLRecordset::Execute()
{
    Close();
    command_.SetExpectResultSet(false);
    command_.Execute();
}

QString TMySQLRecordset::TableName() const
{
    for (const TMySQLFieldDesc& desc : fields_) {
        if (!desc.ActualTableName.isEmpty())
            return desc.ActualTableName;
    }
    return QString();
}

} // namespace velkaro

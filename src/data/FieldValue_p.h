#pragma once
// Conversions between the values callers hold and the stored form of each
// field kind (rules in Field.h). Private to the data folder.

#include "data/DataPacket.h"

namespace velkaro::fieldvalue {

int CodePage();

StoredValue FromVariant(const TFieldDef& def, const Variant& value);
StoredValue FromText(const TFieldDef& def, const QString& text);
Variant ToVariant(const TFieldDef& def, const StoredValue& value);
QString ToText(const TFieldDef& def, const StoredValue& value);

// Appends Value, converted as FromVariant converts it, as a record holds it
// (datapacket::EncodeValue), reusing Out's room: the form key lookups hash
// and compare. CodePage is CodePage(), asked once by a caller that converts
// many values. False, with nothing appended, for a null value.
bool AppendStored(const TFieldDef& def, const Variant& value, int codePage, QByteArray& out);

// ftString, ftMemo, ftWideString, ftWideMemo: the kinds TextOfRaw reads.
bool IsTextKind(TFieldType type);
// ToText of a text kind's value from its bytes in a record (ValueBytes).
QString TextOfRaw(const TFieldDef& def, QByteArrayView raw);

// An integer for an integer kind, refused outside the kind's range.
qint64 CheckedInteger(const TFieldDef& def, qint64 value);

// A value for a date kind as stored: a date cut to whole days; a value
// outside the calendar's range (datapacket::IsValidDateValue) is refused.
double CheckedDate(const TFieldDef& def, double days);

// Orders two raw values of a kind (as ValueBytes gives them); 8-bit texts
// order as their decoded texts in CodePage.
int CompareRaw(TFieldType type, QByteArrayView a, QByteArrayView b, int codePage);

} // namespace velkaro::fieldvalue

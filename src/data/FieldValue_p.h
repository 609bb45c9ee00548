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

// Orders two raw values of a kind (as ValueBytes gives them).
int CompareRaw(TFieldType type, QByteArrayView a, QByteArrayView b);

} // namespace velkaro::fieldvalue

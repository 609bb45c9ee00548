#pragma once
// Text helpers shared by every unit. Texts are UTF-16 and positions count
// code units from 1; cutting beyond the end gives fewer characters.

#include <QString>

namespace velkaro {

// Characters Index..Index+Count-1 (1-based). An Index below 1 counts from 1,
// a Count below 1 or an Index past the end gives "".
QString Copy(const QString& s, qsizetype index, qsizetype count);

// Upper-cases the letters a to z only; every other character stays.
QString UpperAscii(const QString& s);

// Reads a decimal 32-bit integer: optional leading blanks, an optional "+" or
// "-", then at least one digit, nothing after. Anything else, or a value out
// of range, raises the integer-conversion error naming the text.
int StrToInt(const QString& s);

// As StrToInt, but gives Default instead of raising.
int StrToIntDef(const QString& s, int defaultValue);

} // namespace velkaro

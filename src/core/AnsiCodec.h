#pragma once
// 8-bit text in a Windows ANSI code page. The system's 8-bit fields keep
// their text in the regional ANSI code page (874, Thai, by default); 1252
// (Western) is the other one we know. Any other code page number is read
// as 1252.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace velkaro::ansi {

// The code page's default character, written for every character (a
// surrogate pair counts as one) the code page cannot represent.
inline constexpr char DefaultChar = '?';

// Text -> code-page bytes. Lossless, when given, tells whether every
// character was representable.
QByteArray Encode(QStringView text, int codePage, bool* lossless = nullptr);
// The same bytes written to Out, which has room for Text.size() bytes (never
// more are written); returns how many were written. For a caller that
// converts many short texts (key lookups) into room of its own.
qsizetype EncodeTo(char* out, QStringView text, int codePage, bool* lossless = nullptr);

// Code-page bytes -> text. Bytes the code page leaves unassigned become
// U+FFFD in 874 and the C1 control of the same number in 1252.
QString Decode(QByteArrayView bytes, int codePage);

// The character a single byte stands for (as Decode gives it).
char16_t ToUnicode(unsigned char byte, int codePage);

// Orders two byte strings of the code page as their decoded texts order
// (UTF-16 code unit by code unit, shorter prefix first); distinct bytes
// that decode alike order by byte value, so only equal bytes compare equal.
// Returns <0, 0 or >0.
int CompareText(QByteArrayView a, QByteArrayView b, int codePage);

} // namespace velkaro::ansi

#pragma once
// Row values: one column's bytes of a text-protocol row (the server's text
// form of the value) into the stored form of its dataset field. This runs
// for every cell of every fetched row, so it reads the bytes in place and
// allocates only for the texts and bytes it keeps.
//
// By kind:
//   texts, bytes       the bytes as sent, cut to the field size; the wide
//                      kinds decoded from UTF-8 (see DecodeUtf8)
//   integers, boolean  an optional "-" and decimal digits, nothing else,
//                      within the range of the kind (boolean: not 0); a BIT
//                      column sends raw bytes, read as a big-endian number
//   float              decimal text, optional sign, "." and exponent
//   BCD, FMT-BCD       plain decimal text (optional "-", digits, "." digits)
//   date, date-time    yyyy-mm-dd [hh:nn:ss[.ffffff]]; TIMESTAMP columns by
//                      their length (also the old 2 to 14 digit forms)
//   time               [-]h..:nn:ss[.ffffff], hours beyond 23 allowed
//   blob, memo         the bytes; wide memo decoded from UTF-8
// A date or date-time in its form but not a valid calendar date or time of
// day (the zero date "0000-00-00", "2024-02-30") reads as null when the
// descriptor's NullForZeroDate is set, otherwise as 1 January 100.
//
// Errors name the field and the value (values longer than 64 characters are
// cut in the message):
//   EConvertError  "Wrong integer format. Field <name>, value <text>"
//                  "Wrong date format. Field <name>, value <text>"
//                  "Wrong time format. Field <name>, value <text>"
//                  "'<text>' is not a valid floating point value" (36 characters)
//                  "'<text>' is not a valid BCD value"
//                  the UTF-8 errors of DecodeUtf8
//   EDatabaseError "Value <n> is out of range for field '<name>' (<low> to <high>)"
//                  "Invalid FIELD_TYPE_TIMESTAMP Field.Length (<length>"

#include "data/DataPacket.h"
#include "mysql/MySQLFieldDesc.h"

#include <QByteArrayView>

namespace velkaro {

// The stored value of one cell; IsNull for the NULL marker (0xFB), whose
// value bytes are empty.
StoredValue DecodeValue(const TMySQLFieldDesc& desc, QByteArrayView value, bool isNull = false);
// The same into Out, reusing the buffers of its text and bytes: a fetch that
// decodes every cell into one StoredValue allocates only while they grow.
void DecodeValueInto(const TMySQLFieldDesc& desc, QByteArrayView value, bool isNull, StoredValue& out);

// UTF-8 to UTF-16, cut to MaxUnits code units when MaxUnits > 0 (never
// between the two halves of a surrogate pair). Sequences of 1 to 3 bytes are
// MySQL's utf8; a valid 4-byte sequence (utf8mb4) becomes a surrogate pair,
// so nothing a server sends is lost. Raises EConvertError:
//   "malformed trail byte"                      a 2-byte sequence with a bad second byte
//   "malformed trail byte or out of range char" a 3- or 4-byte sequence with a bad
//                                               trail byte, a byte that cannot start a
//                                               sequence, an overlong form, a surrogate
//                                               or a character above U+10FFFF
//   "incomplete multibyte char"                 a sequence cut off by the end
QString DecodeUtf8(QByteArrayView bytes, qsizetype maxUnits = 0);
// The same into Out (its buffer reused); on an error Out is left undefined.
void DecodeUtf8Into(QByteArrayView bytes, qsizetype maxUnits, QString& out);

// OLE dates (days since 30 December 1899, the time as the fraction) of a
// date and a time of day; no validation.
double OleDate(int year, int month, int day);
double OleDateTime(int year, int month, int day, int hour, int minute, double seconds);

} // namespace velkaro

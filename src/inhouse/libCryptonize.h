#pragma once
// libCryptonize: conversions between bit texts, hex digits and a scrambled
// text, plus a check box stored as one bit.
//
//   bit text   characters "0" and "1", read in groups of four from the
//              left, most significant bit first
//   hex digit  "0" to "9" and "A" to "F", upper case only
//   scrambled  one character per hex digit: the digit shifted up, so codes
//              128 to 137 ("0" to "9") and 145 to 150 ("A" to "F")
//
// Shift up:   c + 80, minus 255 when that is above 255.
// Shift down: c - 80, plus 255 when that is below 0 (that is, c + 175).
// Codes are UTF-16 code units; the shifts apply to any code as written.
//
// Nothing here reads a number, raises or shows a message. Input outside the
// alphabets is never an error: BinToHex and HexToBin answer it with "", and
// the operations built on them append that "" as they would any answer, so
// a group or character outside the alphabet adds nothing to their result.
// Texts are never read beyond their end.

#include <QChar>
#include <QString>

class QCheckBox;

namespace velkaro {

// Stateless.
class TObjCryptonize {
public:
    // One character shifted up.
    QString StringToAscii(QChar Character) const;
    // One character shifted down; undoes StringToAscii for codes 0 to 254
    // (255 shifts up to 80, as 0 does, and comes back as 0).
    QString AsciiToString(QChar Character) const;
    // A four-character bit group -> its hex digit; anything else "".
    QString BinToHex(const QString& BinValue) const;
    // A hex digit -> its four-character bit group; anything else (lower-case
    // letters included) "".
    QString HexToBin(const QString& HexValue) const;
    // "1" when the box is ticked (a tri-state box's partial state is not a
    // tick), otherwise "0".
    QString ConvertToBin(const QCheckBox& CheckBox) const;
    // Ticks the box when Bin is "1"; any other text leaves it as it was (it
    // never clears it).
    void ConvertToCheckBox(const QString& Bin, QCheckBox& CheckBox) const;
    // Bit text -> scrambled text. The bit text is first zero-filled on the
    // right to a multiple of four, so Decryption gives it back filled.
    QString Encryption(const QString& BinValue) const;
    // Scrambled text -> bit text, four bits per character.
    QString Decryption(const QString& HexValue) const;
    // Hex digits -> bit text, four bits per digit.
    QString StringToBin(const QString& Str) const;
    // Bit text -> hex digits, one per whole group of four; one to three
    // characters left over at the end are ignored.
    QString BinToString(const QString& Str) const;
    // The bit text plus one, same length: all "1" wraps to all "0". A
    // character other than "0" and "1" met by the carry becomes "0" and
    // stops it. "" gives "".
    QString HexInc(const QString& Str) const;
};

// The unit's instance, alive between InitializeLibCryptonize and
// FinalizeLibCryptonize (program start-up and shut-down).
extern TObjCryptonize* ObjCryptonize;
void InitializeLibCryptonize();
void FinalizeLibCryptonize();

} // namespace velkaro

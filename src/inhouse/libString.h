#pragma once
// libString: text helpers for SQL literals, LIKE patterns, keys and
// thirteen-character identification numbers.
//
// Texts are UTF-16; positions count code units from 1. Upper-casing here
// touches only the letters a to z (Thai and every other character stay).
// No operation reads a number, raises an error or shows a message: a text
// of the wrong length, or a month outside 1 to 12, gives "".

#include <QString>

class QCheckBox;

namespace velkaro {

// Stateless.
class TObjString {
public:
    // Every double quote becomes "_", then upper-cased.
    QString ConvertQuoteToUnderScore(const QString& TargetString) const;
    // Every blank becomes "%", then upper-cased.
    QString ConvertSpaceToPercent(const QString& TargetString) const;
    // Every blank removed (inner ones too), then upper-cased.
    QString JackTrim(const QString& TargetString) const;
    // " '" + upper-cased Str + "' ". Apostrophes inside are not doubled:
    // pass the text through ProveQuotedInString first where they may occur.
    QString Quoted(const QString& Str) const;
    // " '%" + upper-cased Str + "%' ".
    QString QuotedPercent(const QString& Str) const;
    // Every "-" and "." removed; the case is kept.
    QString RemoveNonCharacterString(const QString& ScanStr) const;
    // Full Thai name of month 1 to 12; any other number gives "".
    QString GetMonthName(int MonthIDX) const;
    // Every apostrophe doubled, so the text can stand in an SQL literal.
    QString ProveQuotedInString(const QString& Str) const;
    // 13 characters -> groups of 1, 4, 5, 2 and 1 joined by "-" (17
    // characters); another length gives "".
    QString SeperateCID(const QString& CID) const;
    // 17 characters -> the 13 characters left after dropping positions 2,
    // 7, 13 and 16 (whatever they hold); another length gives "". Undoes
    // SeperateCID.
    QString FusionCID(const QString& CID) const;
    // The last IDLength characters of twenty "0" followed by ID: shorter IDs
    // are zero-filled on the left (by at most twenty zeros), longer ones lose
    // their leading characters. "" for an empty ID or an IDLength of 0 or less.
    QString FillZero(const QString& ID, int IDLength) const;
    // "T" when the box is ticked (a tri-state box's partial state is not a
    // tick), otherwise "F". The box stays the caller's.
    QString cbToF(const QCheckBox& cb) const;
};

// The unit's instance, alive between InitializeLibString and
// FinalizeLibString (program start-up and shut-down).
extern TObjString* ObjString;
void InitializeLibString();
void FinalizeLibString();

} // namespace velkaro

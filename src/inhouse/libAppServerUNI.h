#pragma once
// Serving SQL text sent as data requests: a client table sends the text to
// a provider, whose handler runs it through a MySQL query and answers with
// the provider's data packet. Query/provider pairs can also be made and
// removed at run time on any owner, each serving its requests through
// EventOnDataRequestOnTheFly.
//
// Running document numbers: the caller's statement, run through the
// caller's query, answers the highest number issued so far in a column
// "MaxID" (typically "SELECT MAX(DocNo) AS MaxID FROM ..."); the next number
// is derived from it in one of four forms:
//   plain       zero-filled hexadecimal digits         00009 -> 0000A
//   prefixed    Prefix + decimal (or hexadecimal)      INV0041 -> INV0042
//   year        yy- + decimal, Buddhist-era year       67-0041 -> 67-0042
//   budget      yy- + decimal, budget year (1 October) 68-0001 from 1.10.2567
// Widths (NumLength, LengthID, IDLength) count the digits of the number part
// alone. Fill zeros are cut from a stock of 20 zeros, so no run of them is
// longer than 20.
//
// Nothing here reserves or locks a number: two callers that ask for the next
// number of a series before either stores its document get the same one.
// Uniqueness must come from the database (a unique key on the number
// column, and a retry when the insert is refused).
//
// Nothing is caught: the query's errors, "Field 'MaxID' not found" (with the
// query's name in front) for a result without that column, and the
// integer-conversion error "''<part>'' is not a valid integer value" travel
// to the caller. That error comes for a number part to be stepped that is
// not all digits: "0" to "9" in decimal, also "A" to "F" (upper case) in
// hexadecimal. A sign, a blank or any other character is refused rather
// than dropped or read, since either would give a number the series may
// already hold or one with a "-" inside (67-0041 at width 5: 67-00-40).
// Decimal steps count on the digits, so no integer size limits a series.

#include "core/Variant.h"

#include <QString>

class QObject;

namespace velkaro {

class TDataSetProvider;
class TUniConnection;
class TUniQuery;

class TObjAppServerUNI {
public:
    // Closes Qry, replaces its SQL with the text form of Input, opens it and
    // answers Dsp's packet of all rows (Dsp's data set is Qry). Packaging
    // resets the query, which runs the statement once more. The query stays
    // open afterwards. Errors of the query, and the conversion error of an
    // Input without a text form (Null), travel to the caller.
    Variant CentralDataRequest(TUniQuery* Qry, TDataSetProvider* Dsp, const Variant& Input);
    // The same, with the query taken from the provider's data set.
    Variant EventOnDataRequestOnTheFly(TDataSetProvider* Sender, const Variant& Input);

    // Unless CallObj already owns a component named "dsp" + dspName: a query
    // "qry" + dspName on SQLConnection with the text form of InputSQL (not
    // opened), and a provider "dsp" + dspName on it with the options
    // poAllowCommandText alone, answering through EventOnDataRequestOnTheFly;
    // both owned by CallObj. A name already used by another component of
    // CallObj raises the component layer's duplicate-name error, and then
    // nothing is left behind; so does an InputSQL without a text form.
    void CreateProvider(
        const QString& dspName, QObject* CallObj, const Variant& InputSQL, TUniConnection* SQLConnection);
    // Frees CallObj's component "dsp" + dspName and then its "qry" + dspName;
    // nothing at all when there is no "dsp" + dspName.
    void RemoveProvider(const QString& dspName, QObject* CallObj);

    // ---- Running numbers -----------------------------------------------------

    // Closes qryMaxID, replaces its SQL with InputSql, opens it and answers
    // the first row's "MaxID" as text: the last number, or "0" when there is
    // none (no row, Null, "" or a single blank). The query stays open.
    QString MaxID(const QString& InputSql, TUniQuery* qryMaxID);
    // The same, for the year forms.
    QString MaxYearDashID(const QString& InputSql, TUniQuery* qryMaxID);
    // The last IDLength characters of the zero stock followed by ID: a
    // longer ID loses its leading digits (12345 at width 3: 345), and a width
    // above 20 + the length of ID gives the whole joined text. "" for an
    // empty ID, at any width.
    QString FillZero(const QString& ID, int IDLength);

    // The plain form. No previous number: NumLength - 1 zeros and "1"
    // (width 5: 00001). Otherwise the last number plus one in hexadecimal,
    // with as many digits as it has (whatever NumLength says), upper case,
    // wrapping to all zeros after all "F" (FFFF: 0000).
    QString GlobalAutoRun(const QString& InputSql, int NumLength, TUniQuery* qryMaxID);
    // The prefixed form. The number part is the NumLength characters of the
    // last number after its first (length of Prefix) characters. When it is
    // "0" (an unprefixed series without a previous number): Prefix,
    // NumLength - 1 zeros (at most 20 - length of Prefix) and "1".
    // Otherwise, with HexNum: Prefix and the part plus one in hexadecimal,
    // stepped as GlobalAutoRun steps; without: Prefix and FillZero of the
    // part plus one in decimal at width NumLength (INV0041: INV0042;
    // INV9999: INV0000).
    // With a Prefix and no previous number the part is empty. Decimal reads
    // it as 0, so the series starts at Prefix and FillZero of "1" at width
    // NumLength (INV0001). HexNum starts it at the same number: an empty
    // part has no digit to step, and stepping nothing would give the bare
    // Prefix, a number without digits.
    QString GlobalAutoRunWithPrefix(
        const QString& InputSql, const QString& Prefix, int NumLength, TUniQuery* qryMaxID, bool HexNum);
    // The year form: yy is the last two digits of today's year as the
    // regional settings write it in their alternative calendar, plus 543
    // when that year is below 2400 (a Christian-era calendar). No previous
    // number, or one of another year: yy, "-", NumLength - 1 zeros and "1"
    // (width 4 in 2567: 67-0001), so a series restarts on 1 January.
    // Otherwise yy, "-" and the last NumLength characters of the last number
    // plus one in decimal, at width NumLength (67-9999: 67-0000).
    QString GlobalYearDashAutoRun(const QString& InputSql, int NumLength, TUniQuery* qryMaxID);
    // The same with the Buddhist-era budget year of today (it turns over on
    // 1 October) in place of the calendar year.
    QString GlobalBudgetYearDashAutoRun(const QString& InputSql, int NumLength, TUniQuery* qryMaxID);

    // The forms offered to remote callers: LengthID is read as a decimal
    // integer, 1 when it is not one ("abc", ""), and the number comes back
    // as text (varOleStr). RunMaxIDWithPrefix steps in decimal.
    Variant RunMaxID(const QString& InputSQL, const QString& LengthID, TUniQuery* qryMaxID);
    Variant RunMaxIDWithPrefix(
        const QString& InputSQL, const QString& Prefix, const QString& LengthID, TUniQuery* qryMaxID);
    Variant RunMaxYearDashID(const QString& InputSQL, const QString& LengthID, TUniQuery* qryMaxID);
};

extern TObjAppServerUNI* ObjAppServerUNI;
void InitializeLibAppServerUNI();
void FinalizeLibAppServerUNI();

} // namespace velkaro

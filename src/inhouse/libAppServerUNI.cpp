#include "inhouse/libAppServerUNI.h"

#include "core/Component.h"
#include "core/Exceptions.h"
#include "core/Text.h"
#include "data/Field.h"
#include "data/Provider.h"
#include "inhouse/libCryptonize.h"
#include "inhouse/libDateThai.h"
#include "inhouse/libString.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"
#include "platform/RegionalSettings.h"

#include <memory>

namespace velkaro {

TObjAppServerUNI* ObjAppServerUNI = nullptr;

void InitializeLibAppServerUNI()
{
    ObjAppServerUNI = new TObjAppServerUNI;
}

void FinalizeLibAppServerUNI()
{
    delete ObjAppServerUNI;
    ObjAppServerUNI = nullptr;
}

Variant TObjAppServerUNI::CentralDataRequest(TUniQuery* Qry, TDataSetProvider* Dsp, const Variant& Input)
{
    Qry->Close();
    Qry->SQL().clear();
    Qry->SQL().append(Input.ToString());
    Qry->Open();
    return Dsp->Data();
}

Variant TObjAppServerUNI::EventOnDataRequestOnTheFly(TDataSetProvider* Sender, const Variant& Input)
{
    auto* query = qobject_cast<TUniQuery*>(Sender->DataSet());
    if (query == nullptr)
        throw EDatabaseError(
            QStringLiteral("%1: the data set of a served provider must be a query").arg(Sender->Name()));
    return CentralDataRequest(query, Sender, Input);
}

void TObjAppServerUNI::CreateProvider(
    const QString& dspName, QObject* CallObj, const Variant& InputSQL, TUniConnection* SQLConnection)
{
    if (FindComponent(CallObj, QStringLiteral("dsp") + dspName) != nullptr)
        return;
    const QString sql = InputSQL.ToString();
    // Owned here until both are named: a clash leaves nothing behind.
    auto query = std::make_unique<TUniQuery>(CallObj);
    query->SetConnection(SQLConnection);
    query->SetName(QStringLiteral("qry") + dspName);
    query->SQL().clear();
    query->SQL().append(sql);
    auto provider = std::make_unique<TDataSetProvider>(CallObj);
    provider->SetName(QStringLiteral("dsp") + dspName);
    provider->SetDataSet(query.get());
    provider->SetOptions(poAllowCommandText);
    provider->OnDataRequest
        = [this](TDataSetProvider* sender, const Variant& input) { return EventOnDataRequestOnTheFly(sender, input); };
    query.release();
    provider.release();
}

void TObjAppServerUNI::RemoveProvider(const QString& dspName, QObject* CallObj)
{
    QObject* provider = FindComponent(CallObj, QStringLiteral("dsp") + dspName);
    if (provider == nullptr)
        return;
    delete provider;
    delete FindComponent(CallObj, QStringLiteral("qry") + dspName);
}

namespace {

const QString ZeroStock = QStringLiteral("00000000000000000000");
constexpr int BuddhistEraOffset = 543;

QString rightStr(const QString& text, int count)
{
    return count < 1 ? QString() : text.right(count);
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// A number part that is not all digits of its kind raises the
// integer-conversion error. The bit codec would drop any other character
// and the decimal reading would take a sign or blanks, either giving a
// number the series may already hold or one with a "-" inside
// (67-0041 read at width 5: 67-00-40).
void checkDigits(const QString& number, bool hex)
{
    if (number.isEmpty())
        RaiseInvalidInteger(number);
    for (const QChar c : number) {
        if (!(isDigit(c) || (hex && c >= u'A' && c <= u'F')))
            RaiseInvalidInteger(number);
    }
}

// The hexadecimal number plus one, same number of digits, through the bit
// codec: all "F" wraps to all zeros.
QString hexIncrement(const QString& number)
{
    checkDigits(number, true);
    const TObjCryptonize codec;
    return codec.BinToString(codec.HexInc(codec.StringToBin(number)));
}

// The decimal number plus one, counted on its digits so that no integer
// width limits a series: 0041 gives 0042, 99 gives 100.
QString decimalIncrement(const QString& number)
{
    checkDigits(number, false);
    QString next = number;
    for (qsizetype i = next.size() - 1; i >= 0; --i) {
        if (next[i] != u'9') {
            next[i] = QChar(next[i].unicode() + 1);
            return next;
        }
        next[i] = u'0';
    }
    return u'1' + next;
}

// The last two digits of the current year, Buddhist era.
QString currentYearDigits()
{
    const int regionalYear = platform::Regional().AlternativeYear(platform::SystemClock().Today());
    const QString written = QStringLiteral("%1").arg(regionalYear, 4, 10, QLatin1Char('0'));
    const QString year = written < QStringLiteral("2400") ? QString::number(regionalYear + BuddhistEraOffset) : written;
    return Copy(year, 3, 2);
}

} // namespace

QString TObjAppServerUNI::MaxID(const QString& InputSql, TUniQuery* qryMaxID)
{
    qryMaxID->Close();
    qryMaxID->SQL().clear();
    qryMaxID->SQL().append(InputSql);
    qryMaxID->Open();
    const QString last = qryMaxID->FieldByName(QStringLiteral("MaxID"))->AsString();
    if (last.isEmpty() || last == QStringLiteral(" "))
        return QStringLiteral("0");
    return last;
}

QString TObjAppServerUNI::MaxYearDashID(const QString& InputSql, TUniQuery* qryMaxID)
{
    return MaxID(InputSql, qryMaxID);
}

QString TObjAppServerUNI::FillZero(const QString& ID, int IDLength)
{
    return TObjString().FillZero(ID, IDLength);
}

QString TObjAppServerUNI::GlobalAutoRun(const QString& InputSql, int NumLength, TUniQuery* qryMaxID)
{
    const QString zeros = Copy(ZeroStock, 1, NumLength - 1);
    const QString last = MaxID(InputSql, qryMaxID);
    if (last == QStringLiteral("0"))
        return zeros + u'1';
    return hexIncrement(last);
}

QString TObjAppServerUNI::GlobalAutoRunWithPrefix(
    const QString& InputSql, const QString& Prefix, int NumLength, TUniQuery* qryMaxID, bool HexNum)
{
    const QString zeros = Copy(ZeroStock, Prefix.size() + 1, NumLength - 1);
    const QString last = MaxID(InputSql, qryMaxID);
    const QString part = Copy(last, Prefix.size() + 1, NumLength);
    if (part == QStringLiteral("0"))
        return Prefix + zeros + u'1';
    // An empty part (a prefixed series without a previous number) counts as
    // 0 in both steps: the hexadecimal series starts where the decimal one
    // does, rather than at the bare Prefix.
    if (part.isEmpty())
        return Prefix + FillZero(QStringLiteral("1"), NumLength);
    if (HexNum)
        return Prefix + hexIncrement(part);
    return Prefix + FillZero(decimalIncrement(part), NumLength);
}

QString TObjAppServerUNI::GlobalYearDashAutoRun(const QString& InputSql, int NumLength, TUniQuery* qryMaxID)
{
    const QString zeros = Copy(ZeroStock, 1, NumLength - 1);
    const QString yy = currentYearDigits();
    const QString last = MaxYearDashID(InputSql, qryMaxID);
    if (last == QStringLiteral("0") || Copy(last, 1, 2) != yy)
        return yy + u'-' + zeros + u'1';
    return yy + u'-' + FillZero(zeros + decimalIncrement(rightStr(last, NumLength)), NumLength);
}

QString TObjAppServerUNI::GlobalBudgetYearDashAutoRun(const QString& InputSql, int NumLength, TUniQuery* qryMaxID)
{
    const QString zeros = Copy(ZeroStock, 1, NumLength - 1);
    const QString head = Copy(TDateThai().GetCurrentBudgetYear(), 3, 2) + u'-';
    const QString last = MaxYearDashID(InputSql, qryMaxID);
    if (last == QStringLiteral("0") || Copy(last, 1, 3) != head)
        return head + zeros + u'1';
    return head + FillZero(zeros + decimalIncrement(rightStr(last, NumLength)), NumLength);
}

Variant TObjAppServerUNI::RunMaxID(const QString& InputSQL, const QString& LengthID, TUniQuery* qryMaxID)
{
    return Variant(GlobalAutoRun(InputSQL, StrToIntDef(LengthID, 1), qryMaxID));
}

Variant TObjAppServerUNI::RunMaxIDWithPrefix(
    const QString& InputSQL, const QString& Prefix, const QString& LengthID, TUniQuery* qryMaxID)
{
    return Variant(GlobalAutoRunWithPrefix(InputSQL, Prefix, StrToIntDef(LengthID, 1), qryMaxID, false));
}

Variant TObjAppServerUNI::RunMaxYearDashID(const QString& InputSQL, const QString& LengthID, TUniQuery* qryMaxID)
{
    return Variant(GlobalYearDashAutoRun(InputSQL, StrToIntDef(LengthID, 1), qryMaxID));
}

} // namespace velkaro

#include "inhouse/libString.h"

#include "core/Text.h"

#include <QCheckBox>

#include <array>

namespace velkaro {

TObjString* ObjString = nullptr;

void InitializeLibString()
{
    if (ObjString == nullptr)
        ObjString = new TObjString;
}

void FinalizeLibString()
{
    delete ObjString;
    ObjString = nullptr;
}

namespace {

// The unit keeps its own copy of the Thai month names so that it depends on
// no other in-house unit.
constexpr std::array<QStringView, 12> vMonthArray = {
    u"มกราคม",
    u"กุมภาพันธ์",
    u"มีนาคม",
    u"เมษายน",
    u"พฤษภาคม",
    u"มิถุนายน",
    u"กรกฎาคม",
    u"สิงหาคม",
    u"กันยายน",
    u"ตุลาคม",
    u"พฤศจิกายน",
    u"ธันวาคม",
};

constexpr qsizetype FillZeroWidth = 20;

} // namespace

QString TObjString::ConvertQuoteToUnderScore(const QString& TargetString) const
{
    return UpperAscii(QString(TargetString).replace(u'"', u'_'));
}

QString TObjString::ConvertSpaceToPercent(const QString& TargetString) const
{
    return UpperAscii(QString(TargetString).replace(u' ', u'%'));
}

QString TObjString::JackTrim(const QString& TargetString) const
{
    return UpperAscii(QString(TargetString).remove(u' '));
}

QString TObjString::Quoted(const QString& Str) const
{
    return QStringLiteral(" '") + UpperAscii(Str) + QStringLiteral("' ");
}

QString TObjString::QuotedPercent(const QString& Str) const
{
    return QStringLiteral(" '%") + UpperAscii(Str) + QStringLiteral("%' ");
}

QString TObjString::RemoveNonCharacterString(const QString& ScanStr) const
{
    return QString(ScanStr).remove(u'-').remove(u'.');
}

QString TObjString::GetMonthName(int MonthIDX) const
{
    if (MonthIDX < 1 || MonthIDX > 12)
        return QString();
    return vMonthArray[MonthIDX - 1].toString();
}

QString TObjString::ProveQuotedInString(const QString& Str) const
{
    QString result;
    result.reserve(Str.size() * 2);
    for (const QChar c : Str) {
        result += c;
        if (c == u'\'')
            result += c;
    }
    return result;
}

QString TObjString::SeperateCID(const QString& CID) const
{
    if (CID.size() != 13)
        return QString();
    return Copy(CID, 1, 1) + u'-' + Copy(CID, 2, 4) + u'-' + Copy(CID, 6, 5) + u'-' + Copy(CID, 11, 2) + u'-'
        + Copy(CID, 13, 1);
}

QString TObjString::FusionCID(const QString& CID) const
{
    if (CID.size() != 17)
        return QString();
    return Copy(CID, 1, 1) + Copy(CID, 3, 4) + Copy(CID, 8, 5) + Copy(CID, 14, 2) + Copy(CID, 17, 1);
}

QString TObjString::FillZero(const QString& ID, int IDLength) const
{
    if (ID.isEmpty() || IDLength <= 0)
        return QString();
    return (QString(FillZeroWidth, u'0') + ID).right(IDLength);
}

QString TObjString::cbToF(const QCheckBox& cb) const
{
    return cb.checkState() == Qt::Checked ? QStringLiteral("T") : QStringLiteral("F");
}

} // namespace velkaro

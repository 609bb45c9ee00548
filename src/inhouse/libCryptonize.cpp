#include "inhouse/libCryptonize.h"

#include <QCheckBox>

namespace velkaro {

TObjCryptonize* ObjCryptonize = nullptr;

void InitializeLibCryptonize()
{
    if (ObjCryptonize == nullptr)
        ObjCryptonize = new TObjCryptonize;
}

void FinalizeLibCryptonize()
{
    delete ObjCryptonize;
    ObjCryptonize = nullptr;
}

namespace {

constexpr int Shift = 80;
constexpr char16_t HexDigits[] = u"0123456789ABCDEF";

QString BitGroup(int value)
{
    QString bits(4, u'0');
    for (int i = 0; i < 4; ++i) {
        if (value & (8 >> i))
            bits[i] = u'1';
    }
    return bits;
}

} // namespace

QString TObjCryptonize::StringToAscii(QChar Character) const
{
    int code = Character.unicode() + Shift;
    if (code > 255)
        code -= 255;
    return QString(QChar(char16_t(code)));
}

QString TObjCryptonize::AsciiToString(QChar Character) const
{
    int code = Character.unicode() - Shift;
    if (code < 0)
        code = 255 + code;
    return QString(QChar(char16_t(code)));
}

QString TObjCryptonize::BinToHex(const QString& BinValue) const
{
    if (BinValue.size() != 4)
        return QString();
    int value = 0;
    for (const QChar c : BinValue) {
        if (c != u'0' && c != u'1')
            return QString();
        value = value * 2 + (c == u'1' ? 1 : 0);
    }
    return QString(QChar(HexDigits[value]));
}

QString TObjCryptonize::HexToBin(const QString& HexValue) const
{
    if (HexValue.size() != 1)
        return QString();
    const char16_t c = HexValue[0].unicode();
    if (c >= u'0' && c <= u'9')
        return BitGroup(c - u'0');
    if (c >= u'A' && c <= u'F')
        return BitGroup(c - u'A' + 10);
    return QString();
}

QString TObjCryptonize::ConvertToBin(const QCheckBox& CheckBox) const
{
    return CheckBox.checkState() == Qt::Checked ? QStringLiteral("1") : QStringLiteral("0");
}

void TObjCryptonize::ConvertToCheckBox(const QString& Bin, QCheckBox& CheckBox) const
{
    if (Bin == u"1")
        CheckBox.setChecked(true);
}

QString TObjCryptonize::Encryption(const QString& BinValue) const
{
    QString bits = BinValue;
    if (bits.size() % 4 != 0)
        bits += QString(4 - bits.size() % 4, u'0');
    QString result;
    for (qsizetype i = 0; i < bits.size(); i += 4) {
        const QString digit = BinToHex(bits.mid(i, 4));
        if (!digit.isEmpty())
            result += StringToAscii(digit[0]);
    }
    return result;
}

QString TObjCryptonize::Decryption(const QString& HexValue) const
{
    QString result;
    for (const QChar c : HexValue)
        result += HexToBin(AsciiToString(c));
    return result;
}

QString TObjCryptonize::StringToBin(const QString& Str) const
{
    QString result;
    for (const QChar c : Str)
        result += HexToBin(QString(c));
    return result;
}

QString TObjCryptonize::BinToString(const QString& Str) const
{
    QString result;
    const qsizetype groups = Str.size() / 4;
    for (qsizetype g = 0; g < groups; ++g)
        result += BinToHex(Str.mid(g * 4, 4));
    return result;
}

QString TObjCryptonize::HexInc(const QString& Str) const
{
    QString result = Str;
    bool carry = true;
    for (qsizetype i = result.size() - 1; carry && i >= 0; --i) {
        carry = result[i] == u'1';
        result[i] = result[i] == u'0' ? u'1' : u'0';
    }
    return result;
}

} // namespace velkaro

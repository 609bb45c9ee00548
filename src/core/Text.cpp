#include "core/Text.h"

#include "core/Exceptions.h"

#include <optional>

namespace velkaro {

QString Copy(const QString& s, qsizetype index, qsizetype count)
{
    if (index < 1)
        index = 1;
    if (count < 1 || index > s.size())
        return QString();
    return s.mid(index - 1, count);
}

QString UpperAscii(const QString& s)
{
    QString result = s;
    for (QChar& c : result) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    }
    return result;
}

static std::optional<int> parseInt(const QString& s)
{
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i == n)
        return std::nullopt;
    qint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64(1) << 31)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return std::nullopt;
    return int(value);
}

int StrToInt(const QString& s)
{
    if (auto v = parseInt(s))
        return *v;
    RaiseInvalidInteger(s);
}

int StrToIntDef(const QString& s, int defaultValue)
{
    return parseInt(s).value_or(defaultValue);
}

} // namespace velkaro

#include "mysql/UniSqlText.h"

namespace velkaro {

namespace {

bool IsLineEnd(QChar c)
{
    return c == u'\n' || c == u'\r';
}

// The index just past a quoted token that starts at From (the opening
// quote), or the end of the text when it is not closed (Closed false). A
// doubled quote stays inside; with Backslash, a backslash takes the next
// character with it.
qsizetype QuotedEnd(const QString& s, qsizetype from, QChar quote, bool backslash, bool* closed = nullptr)
{
    qsizetype i = from + 1;
    while (i < s.size()) {
        if (backslash && s[i] == u'\\') {
            i += 2;
            continue;
        }
        if (s[i] == quote) {
            if (i + 1 < s.size() && s[i + 1] == quote) {
                i += 2;
                continue;
            }
            if (closed)
                *closed = true;
            return i + 1;
        }
        ++i;
    }
    if (closed)
        *closed = false;
    return s.size();
}

qsizetype LineEnd(const QString& s, qsizetype from)
{
    qsizetype i = from;
    while (i < s.size() && !IsLineEnd(s[i]))
        ++i;
    return i;
}

} // namespace

QString UniSqlRewrite(const QString& s)
{
    QString out;
    out.reserve(s.size() + 8);
    qsizetype i = 0;
    while (i < s.size()) {
        const QChar c = s[i];
        qsizetype end = i + 1;
        if (c == u'\'') {
            end = QuotedEnd(s, i, c, true);
        } else if (c == u'`') {
            end = QuotedEnd(s, i, c, false);
        } else if (c == u'"') {
            bool closed = false;
            end = QuotedEnd(s, i, c, false, &closed);
            if (closed) {
                QString name = s.mid(i + 1, end - i - 2);
                name.replace(QStringLiteral("\"\""), QStringLiteral("\""));
                name.replace(QStringLiteral("`"), QStringLiteral("``"));
                out += u'`' + name + u'`';
                i = end;
                continue;
            }
        } else if (c == u'/' && i + 1 < s.size() && s[i + 1] == u'*') {
            const qsizetype close = s.indexOf(QStringLiteral("*/"), i + 2);
            end = close < 0 ? s.size() : close + 2;
        } else if (c == u'#') {
            end = LineEnd(s, i);
        } else if (c == u'-' && i + 1 < s.size() && s[i + 1] == u'-'
            && (i + 2 == s.size() || s[i + 2].unicode() <= 32)) {
            end = LineEnd(s, i);
            const QString body = s.mid(i + 2, end - i - 2);
            if (!body.contains(QStringLiteral("*/"))) {
                out += QStringLiteral("/*") + body + QStringLiteral("*/");
                i = end;
                continue;
            }
        }
        out += QStringView(s).sliced(i, end - i);
        i = end;
    }
    return out;
}

QString UniSqlFinalText(const QStringList& sql)
{
    QString text;
    for (const QString& line : sql)
        text += line + QStringLiteral("\r\n");
    qsizetype n = text.size();
    while (n > 0 && text[n - 1].unicode() <= 32)
        --n;
    text.truncate(n);
    return UniSqlRewrite(text);
}

} // namespace velkaro

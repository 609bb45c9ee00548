// The text form of component streams.
#include "core/ComponentFormat_p.h"

#include <cmath>
#include <limits>

namespace velkaro::componentformat {

namespace {

using Kind = StreamValue::Kind;

// ---- Writing --------------------------------------------------------------

// Characters that stand as they are inside quotes; everything else (control
// characters, lone surrogates, line separators) is written as #<code unit>,
// so the text keeps every UTF-16 code unit.
bool isPlain(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= 0x20 && u < 0x7F)
        return true;
    if (u < 0xA0 || c.isSurrogate() || !c.isPrint())
        return false;
    return c.category() != QChar::Separator_Line && c.category() != QChar::Separator_Paragraph;
}

QString quoted(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("''");
    QString out;
    bool inQuotes = false;
    for (QChar c : text) {
        if (isPlain(c)) {
            if (!inQuotes)
                out += u'\'';
            inQuotes = true;
            out += c;
            if (c == u'\'')
                out += u'\'';
        } else {
            if (inQuotes)
                out += u'\'';
            inQuotes = false;
            out += u'#' + QString::number(c.unicode());
        }
    }
    if (inQuotes)
        out += u'\'';
    return out;
}

QString realText(double value, bool single)
{
    QString text;
    if (std::isnan(value))
        text = QStringLiteral("+nan");
    else if (std::isinf(value))
        text = value > 0 ? QStringLiteral("+inf") : QStringLiteral("-inf");
    else {
        text = QString::number(value, 'g', 17);
        if (value == 0 && std::signbit(value) && !text.startsWith(u'-'))
            text.prepend(u'-');
        if (!text.contains(u'.') && !text.contains(u'e'))
            text += QStringLiteral(".0");
    }
    return single ? text + u's' : text;
}

class TextWriter {
public:
    QString Text() const { return out_; }

    void Object(const componentformat::Object& object, int indent)
    {
        const QByteArray name = object.Name.toUtf8();
        line(indent,
            QStringLiteral("object %1: %2")
                .arg(IsIdentifier(name, false) ? object.Name : quoted(object.Name),
                    QString::fromLatin1(object.ClassName)));
        Properties(object.Properties, indent + 1);
        for (const componentformat::Object& child : object.Children)
            Object(child, indent + 1);
        line(indent, QStringLiteral("end"));
    }

    void Properties(const std::vector<StreamProperty>& properties, int indent)
    {
        for (const StreamProperty& p : properties) {
            out_ += QString(indent * 2, u' ') + QString::fromLatin1(p.Name) + QStringLiteral(" = ");
            Value(p.Value, indent);
            out_ += u'\n';
        }
    }

    void Value(const StreamValue& v, int indent)
    {
        switch (v.Type) {
        case Kind::List: {
            out_ += u'(';
            bool first = true;
            for (const StreamValue& item : v.Items) {
                if (!first)
                    out_ += u' ';
                first = false;
                Value(item, indent);
            }
            out_ += u')';
            break;
        }
        case Kind::Int8:
        case Kind::Int16:
        case Kind::Int32:
        case Kind::Int64:
            out_ += QString::number(v.Integer);
            break;
        case Kind::Ident:
            out_ += v.Text;
            break;
        case Kind::False:
            out_ += QStringLiteral("False");
            break;
        case Kind::True:
            out_ += QStringLiteral("True");
            break;
        case Kind::Nil:
            out_ += QStringLiteral("nil");
            break;
        case Kind::Binary: {
            out_ += u'{';
            const QByteArray hex = v.Bytes.toHex().toUpper();
            for (qsizetype i = 0; i < hex.size(); i += 64) {
                out_ += u'\n' + QString((indent + 1) * 2, u' ');
                out_ += QString::fromLatin1(hex.mid(i, 64));
            }
            out_ += u'}';
            break;
        }
        case Kind::Set: {
            QStringList keys;
            for (const StreamValue& item : v.Items)
                keys.append(item.Text);
            out_ += u'[' + keys.join(QStringLiteral(", ")) + u']';
            break;
        }
        case Kind::Collection:
            out_ += u'<';
            for (const std::vector<StreamProperty>& item : v.CollectionItems) {
                out_ += u'\n';
                line(indent + 1, QStringLiteral("item"));
                Properties(item, indent + 2);
                out_ += QString((indent + 1) * 2, u' ') + QStringLiteral("end");
            }
            out_ += u'>';
            break;
        case Kind::Single:
            out_ += realText(v.Real, true);
            break;
        case Kind::WString:
            out_ += quoted(v.Text);
            break;
        case Kind::Double:
            out_ += realText(v.Real, false);
            break;
        }
    }

private:
    void line(int indent, const QString& text) { out_ += QString(indent * 2, u' ') + text + u'\n'; }

    QString out_;
};

// ---- Reading --------------------------------------------------------------

struct Token {
    enum class Type { End, Ident, String, Integer, Real, Single, Binary, Symbol };
    Type type = Type::End;
    QString text; // Ident, String
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes;
    char16_t symbol = 0;
    int line = 1;
};

[[noreturn]] void parseError(const QString& what, int line)
{
    throw EParserError(QString::fromLatin1(msg::ParseError).arg(what, QString::number(line)));
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

class Lexer {
public:
    explicit Lexer(QStringView text)
        : s_(text)
    {
    }

    Token Next()
    {
        skipSpace();
        Token t;
        t.line = line_;
        if (pos_ >= s_.size())
            return t;
        const QChar c = s_[pos_];
        if (isAsciiLetter(c)) {
            t.type = Token::Type::Ident;
            t.text = ident();
        } else if (c == u'\'' || c == u'#') {
            t.type = Token::Type::String;
            t.text = string();
        } else if (isAsciiDigit(c) || ((c == u'-' || c == u'+') && pos_ + 1 < s_.size())) {
            number(t);
        } else if (c == u'{') {
            t.type = Token::Type::Binary;
            t.bytes = binary();
        } else if (QStringView(u"=:()[]<>,").contains(c)) {
            t.type = Token::Type::Symbol;
            t.symbol = c.unicode();
            ++pos_;
        } else {
            parseError(QStringLiteral("Invalid character"), line_);
        }
        return t;
    }

    int Line() const { return line_; }

private:
    void skipSpace()
    {
        while (pos_ < s_.size()) {
            const QChar c = s_[pos_];
            if (c == u'\n')
                ++line_;
            else if (c != u' ' && c != u'\t' && c != u'\r')
                return;
            ++pos_;
        }
    }

    bool at(char16_t c) const { return pos_ < s_.size() && s_[pos_] == c; }

    // Letters, digits and "_", parts joined by "." or "::".
    QString ident()
    {
        const qsizetype start = pos_;
        for (;;) {
            while (pos_ < s_.size() && (isAsciiLetter(s_[pos_]) || isAsciiDigit(s_[pos_])))
                ++pos_;
            if (pos_ + 1 < s_.size() && s_[pos_] == u'.' && isAsciiLetter(s_[pos_ + 1]))
                pos_ += 1;
            else if (pos_ + 2 < s_.size() && s_[pos_] == u':' && s_[pos_ + 1] == u':' && isAsciiLetter(s_[pos_ + 2]))
                pos_ += 2;
            else
                return s_.sliced(start, pos_ - start).toString();
        }
    }

    QString string()
    {
        QString out;
        for (;;) {
            if (at(u'\'')) {
                ++pos_;
                for (;;) {
                    if (pos_ >= s_.size() || s_[pos_] == u'\n' || s_[pos_] == u'\r')
                        parseError(QStringLiteral("Invalid string constant"), line_);
                    if (s_[pos_] == u'\'') {
                        if (pos_ + 1 < s_.size() && s_[pos_ + 1] == u'\'') {
                            out += u'\'';
                            pos_ += 2;
                            continue;
                        }
                        ++pos_;
                        break;
                    }
                    out += s_[pos_++];
                }
            } else if (at(u'#')) {
                ++pos_;
                const qsizetype start = pos_;
                while (pos_ < s_.size() && isAsciiDigit(s_[pos_]) && pos_ - start < 6)
                    ++pos_;
                bool ok = false;
                const uint code = s_.sliced(start, pos_ - start).toUInt(&ok);
                if (!ok || code > 0xFFFF || (pos_ < s_.size() && isAsciiDigit(s_[pos_])))
                    parseError(QStringLiteral("Invalid string constant"), line_);
                out += QChar(char16_t(code));
            } else {
                return out;
            }
        }
    }

    void number(Token& t)
    {
        const qsizetype start = pos_;
        const bool signed_ = at(u'-') || at(u'+');
        if (signed_)
            ++pos_;
        bool real = false;
        if (s_.sliced(pos_).startsWith(u"inf") || s_.sliced(pos_).startsWith(u"nan")) {
            if (!signed_)
                parseError(QStringLiteral("Invalid number"), line_);
            pos_ += 3;
            real = true;
        } else {
            const qsizetype digitsStart = pos_;
            while (pos_ < s_.size() && isAsciiDigit(s_[pos_]))
                ++pos_;
            if (pos_ == digitsStart)
                parseError(QStringLiteral("Invalid number"), line_);
            if (at(u'.')) {
                real = true;
                ++pos_;
                const qsizetype fraction = pos_;
                while (pos_ < s_.size() && isAsciiDigit(s_[pos_]))
                    ++pos_;
                if (pos_ == fraction)
                    parseError(QStringLiteral("Invalid number"), line_);
            }
            if (at(u'e') || at(u'E')) {
                real = true;
                ++pos_;
                if (at(u'-') || at(u'+'))
                    ++pos_;
                const qsizetype exponent = pos_;
                while (pos_ < s_.size() && isAsciiDigit(s_[pos_]))
                    ++pos_;
                if (pos_ == exponent)
                    parseError(QStringLiteral("Invalid number"), line_);
            }
        }
        const QStringView body = s_.sliced(start, pos_ - start);
        const bool single = real && at(u's');
        if (single)
            ++pos_;
        if (pos_ < s_.size() && (isAsciiLetter(s_[pos_]) || isAsciiDigit(s_[pos_]) || s_[pos_] == u'.'))
            parseError(QStringLiteral("Invalid number"), line_);

        bool ok = false;
        if (!real) {
            t.type = Token::Type::Integer;
            t.integer = body.toLongLong(&ok);
        } else if (body.endsWith(u"inf") || body.endsWith(u"nan")) {
            t.type = single ? Token::Type::Single : Token::Type::Real;
            t.real = body.endsWith(u"nan") ? std::nan("") : body.startsWith(u'-') ? -HUGE_VAL : HUGE_VAL;
            ok = true;
        } else {
            t.type = single ? Token::Type::Single : Token::Type::Real;
            t.real = body.toDouble(&ok);
            ok = ok && std::isfinite(t.real)
                && (!single || std::fabs(t.real) <= double(std::numeric_limits<float>::max()));
            if (t.real == 0 && body.startsWith(u'-'))
                t.real = -0.0;
        }
        if (!ok)
            parseError(QStringLiteral("Invalid number"), line_);
    }

    QByteArray binary()
    {
        ++pos_; // {
        QByteArray hex;
        for (;;) {
            skipSpace();
            if (pos_ >= s_.size())
                parseError(QStringLiteral("Invalid binary value"), line_);
            const QChar c = s_[pos_++];
            if (c == u'}')
                break;
            if (!isAsciiDigit(c) && !(c >= u'A' && c <= u'F') && !(c >= u'a' && c <= u'f'))
                parseError(QStringLiteral("Invalid binary value"), line_);
            hex += char(c.unicode());
        }
        if (hex.size() % 2 != 0)
            parseError(QStringLiteral("Invalid binary value"), line_);
        return QByteArray::fromHex(hex);
    }

    QStringView s_;
    qsizetype pos_ = 0;
    int line_ = 1;
};

class Parser {
public:
    explicit Parser(const QString& text)
        : lexer_(text)
    {
        cur_ = lexer_.Next();
        next_ = lexer_.Next();
    }

    Root Parse()
    {
        Root root;
        if (isSymbol(u'<')) {
            root.IsCollection = true;
            root.Collection = collection(1);
        } else {
            root.Component = object(1);
        }
        if (cur_.type != Token::Type::End)
            parseError(QStringLiteral("End of text expected"), cur_.line);
        return root;
    }

private:
    void advance()
    {
        cur_ = std::move(next_);
        next_ = lexer_.Next();
    }

    bool isSymbol(char16_t c) const { return cur_.type == Token::Type::Symbol && cur_.symbol == c; }
    bool isKeyword(const char* word) const
    {
        return cur_.type == Token::Type::Ident && cur_.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
    }
    // A property starts with its name followed by "=", which tells it apart
    // from a keyword.
    bool atProperty() const
    {
        return cur_.type == Token::Type::Ident && next_.type == Token::Type::Symbol && next_.symbol == u'=';
    }

    void expectSymbol(char16_t c)
    {
        if (!isSymbol(c))
            parseError(QStringLiteral("'%1' expected").arg(QChar(c)), cur_.line);
        advance();
    }

    void expectKeyword(const char* word)
    {
        if (!isKeyword(word))
            parseError(QStringLiteral("'%1' expected").arg(QLatin1String(word)), cur_.line);
        advance();
    }

    void enter(int depth) const
    {
        if (depth > MaxNesting)
            parseError(QStringLiteral("Nesting deeper than %1 levels").arg(MaxNesting), cur_.line);
    }

    Object object(int depth)
    {
        enter(depth);
        expectKeyword("object");
        Object o;
        if (cur_.type == Token::Type::String)
            o.Name = cur_.text;
        else if (cur_.type == Token::Type::Ident && IsIdentifier(cur_.text.toLatin1(), false))
            o.Name = cur_.text;
        else
            parseError(QStringLiteral("Identifier expected"), cur_.line);
        advance();
        expectSymbol(u':');
        if (cur_.type != Token::Type::Ident || !IsClassName(cur_.text.toLatin1()))
            parseError(QStringLiteral("Class name expected"), cur_.line);
        o.ClassName = cur_.text.toLatin1();
        advance();
        o.Properties = properties(depth);
        while (!isKeyword("end")) {
            if (!isKeyword("object"))
                parseError(QStringLiteral("'end' expected"), cur_.line);
            o.Children.push_back(object(depth + 1));
        }
        advance();
        return o;
    }

    std::vector<StreamProperty> properties(int depth)
    {
        std::vector<StreamProperty> list;
        while (atProperty()) {
            StreamProperty p;
            p.Name = cur_.text.toLatin1();
            if (p.Name.contains("::"))
                parseError(QStringLiteral("Identifier expected"), cur_.line);
            advance();
            advance(); // =
            p.Value = value(depth + 1);
            list.push_back(std::move(p));
        }
        return list;
    }

    StreamValue value(int depth)
    {
        enter(depth);
        StreamValue v;
        switch (cur_.type) {
        case Token::Type::Ident:
            if (isKeyword("True") || isKeyword("False")) {
                v = StreamValue::OfBool(isKeyword("True"));
            } else if (isKeyword("nil")) {
                v.Type = Kind::Nil;
            } else {
                if (cur_.text.contains(u':'))
                    parseError(QStringLiteral("Identifier expected"), cur_.line);
                v = StreamValue::OfIdent(cur_.text);
            }
            advance();
            return v;
        case Token::Type::String:
            v = StreamValue::OfString(cur_.text);
            advance();
            return v;
        case Token::Type::Integer:
            v = StreamValue::OfInteger(cur_.integer);
            advance();
            return v;
        case Token::Type::Real:
            v = StreamValue::OfDouble(cur_.real);
            advance();
            return v;
        case Token::Type::Single:
            v = StreamValue::OfSingle(float(cur_.real));
            advance();
            return v;
        case Token::Type::Binary:
            v = StreamValue::OfBytes(cur_.bytes);
            advance();
            return v;
        case Token::Type::Symbol:
            if (isSymbol(u'('))
                return list(depth);
            if (isSymbol(u'['))
                return set();
            if (isSymbol(u'<'))
                return collection(depth);
            break;
        case Token::Type::End:
            break;
        }
        parseError(QStringLiteral("Property value expected"), cur_.line);
    }

    StreamValue list(int depth)
    {
        advance(); // (
        StreamValue v;
        v.Type = Kind::List;
        while (!isSymbol(u')'))
            v.Items.push_back(value(depth + 1));
        advance();
        return v;
    }

    StreamValue set()
    {
        advance(); // [
        StreamValue v;
        v.Type = Kind::Set;
        while (!isSymbol(u']')) {
            if (!v.Items.empty())
                expectSymbol(u',');
            if (cur_.type != Token::Type::Ident || !IsIdentifier(cur_.text.toLatin1(), false))
                parseError(QStringLiteral("Identifier expected"), cur_.line);
            v.Items.push_back(StreamValue::OfIdent(cur_.text));
            advance();
        }
        advance();
        return v;
    }

    StreamValue collection(int depth)
    {
        enter(depth);
        advance(); // <
        StreamValue v;
        v.Type = Kind::Collection;
        while (!isSymbol(u'>')) {
            enter(depth + 1);
            expectKeyword("item");
            v.CollectionItems.push_back(properties(depth + 1));
            expectKeyword("end");
        }
        advance();
        return v;
    }

    Lexer lexer_;
    Token cur_;
    Token next_;
};

} // namespace

QString ToText(const Root& root)
{
    TextWriter w;
    if (root.IsCollection) {
        w.Value(root.Collection, 0);
        return w.Text() + u'\n';
    }
    w.Object(root.Component, 0);
    return w.Text();
}

Root FromText(const QString& text)
{
    return Parser(text).Parse();
}

} // namespace velkaro::componentformat

#include "mysql/OptionsList.h"

#include "core/Exceptions.h"
#include "core/Text.h"

#include <optional>

namespace velkaro {

namespace {

struct OptionLine {
    bool hasPrefix = false;
    QString prefix;
    QString name;
    QString value;
};

std::optional<OptionLine> SplitLine(const QString& line)
{
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0)
        return std::nullopt;
    const qsizetype dot = line.indexOf(u'.');
    OptionLine out;
    qsizetype nameStart = 0;
    if (dot >= 0 && dot < equals) {
        out.hasPrefix = true;
        out.prefix = line.left(dot);
        nameStart = dot + 1;
    }
    out.name = line.mid(nameStart, equals - nameStart);
    out.value = line.mid(equals + 1);
    return out;
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

TOption::TOption(QString name, int propId, QStringList classes, Variant defaultValue)
    : name_(std::move(name))
    , propId_(propId)
    , classes_(std::move(classes))
    , defaultValue_(std::move(defaultValue))
{
}

bool TOption::AppliesTo(const QString& className) const
{
    return classes_.contains(className);
}

Variant TOption::Convert(const QString& text) const
{
    Variant value;
    if (!TryConvert(text, value))
        throw EDatabaseError(QStringLiteral("Invalid value: %1 for option %2").arg(text, name_));
    return value;
}

TIntegerOption::TIntegerOption(QString name, int propId, QStringList classes, int defaultValue)
    : TOption(std::move(name), propId, std::move(classes), Variant(defaultValue))
{
}

bool TIntegerOption::TryConvert(const QString& text, Variant& value) const
{
    try {
        value = Variant(StrToInt(text.trimmed()));
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

TBooleanOption::TBooleanOption(QString name, int propId, QStringList classes, bool defaultValue)
    : TOption(std::move(name), propId, std::move(classes), Variant(defaultValue))
{
}

bool TBooleanOption::TryConvert(const QString& text, Variant& value) const
{
    const QString t = text.trimmed();
    const bool isTrue = SameName(t, QStringLiteral("True"));
    if (!isTrue && !SameName(t, QStringLiteral("False")))
        return false;
    value = Variant(isTrue);
    return true;
}

TStringOption::TStringOption(QString name, int propId, QStringList classes, QString defaultValue)
    : TOption(std::move(name), propId, std::move(classes), Variant(defaultValue))
{
}

bool TStringOption::TryConvert(const QString& text, Variant& value) const
{
    value = Variant(text);
    return true;
}

TEnumeratorOption::TEnumeratorOption(
    QString name, int propId, QStringList classes, QStringList valueNames, int defaultValue)
    : TOption(std::move(name), propId, std::move(classes), Variant(defaultValue))
    , valueNames_(std::move(valueNames))
{
}

bool TEnumeratorOption::TryConvert(const QString& text, Variant& value) const
{
    const QString t = text.trimmed();
    for (qsizetype i = 0; i < valueNames_.size(); ++i) {
        if (SameName(valueNames_[i], t)) {
            value = Variant(int(i));
            return true;
        }
    }
    return false;
}

TOptionsList::TOptionsList(QString prefix)
    : prefix_(std::move(prefix))
{
}

void TOptionsList::Add(std::unique_ptr<TOption> option)
{
    options_.push_back(std::move(option));
}

const TOption* TOptionsList::Find(const QString& name) const
{
    for (const auto& option : options_) {
        if (SameName(option->Name(), name))
            return option.get();
    }
    return nullptr;
}

void TOptionsList::ImportOptions(const QStringList& lines, const QString& className, const TSetPropFunc& setProp) const
{
    std::vector<OptionLine> parsed;
    parsed.reserve(size_t(lines.size()));
    for (const QString& line : lines) {
        if (auto split = SplitLine(line); split && (!split->hasPrefix || SameName(split->prefix, prefix_)))
            parsed.push_back(std::move(*split));
    }
    for (const auto& option : options_) {
        if (!option->AppliesTo(className))
            continue;
        Variant value = option->DefaultValue();
        for (const OptionLine& line : parsed) {
            if (SameName(line.name, option->Name())) {
                value = option->Convert(line.value);
                break;
            }
        }
        setProp(option->PropId(), value);
    }
}

} // namespace velkaro

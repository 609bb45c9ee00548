#pragma once
// Provider-specific options: the lines of a component's SpecificOptions
// ("MySQL.UseUnicode=True") applied to a native object (connection,
// command, record set) through its SetProp.
//
// A provider keeps one TOptionsList per object kind, whose prefix is the
// provider's name. ImportOptions gives every option that applies to the
// object's class a value, from the first matching line or its default, and
// hands each to SetProp under the option's property id, in list order.
//
// Line rules: the prefix is the text before the first ".", but only when
// that "." comes before the first "="; the name runs from there to the
// first "="; the value is the rest. A line without "=" is ignored. A line
// matches an option when it has no prefix or the list's prefix, and its
// name is the option's name (both without regard to case).

#include "core/Variant.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace velkaro {

// Called with each option's property id and its converted value.
using TSetPropFunc = std::function<void(int propId, const Variant& value)>;

class TOption {
public:
    // Classes: the class names of the native objects it applies to.
    TOption(QString name, int propId, QStringList classes, Variant defaultValue);
    virtual ~TOption() = default;

    const QString& Name() const { return name_; }
    int PropId() const { return propId_; }
    const Variant& DefaultValue() const { return defaultValue_; }
    const QStringList& Classes() const { return classes_; }
    bool AppliesTo(const QString& className) const;

    // The value a line's text stands for. Raises EDatabaseError
    // "Invalid value: <text> for option <name>" when the text does not fit
    // the option's kind.
    Variant Convert(const QString& text) const;

protected:
    // False when the text does not fit the kind.
    virtual bool TryConvert(const QString& text, Variant& value) const = 0;

private:
    QString name_;
    int propId_;
    QStringList classes_;
    Variant defaultValue_;
};

// An integer ("15", " -3 "); the value is an int.
class TIntegerOption : public TOption {
public:
    TIntegerOption(QString name, int propId, QStringList classes, int defaultValue);

protected:
    bool TryConvert(const QString& text, Variant& value) const override;
};

// "True" or "False", trimmed, in any case; the value is a bool.
class TBooleanOption : public TOption {
public:
    TBooleanOption(QString name, int propId, QStringList classes, bool defaultValue);

protected:
    bool TryConvert(const QString& text, Variant& value) const override;
};

// Any text, as it stands.
class TStringOption : public TOption {
public:
    TStringOption(QString name, int propId, QStringList classes, QString defaultValue = QString());

protected:
    bool TryConvert(const QString& text, Variant& value) const override;
};

// One of the names of an enumeration (trimmed, any case); the value is the
// name's position (an int).
class TEnumeratorOption : public TOption {
public:
    TEnumeratorOption(QString name, int propId, QStringList classes, QStringList valueNames, int defaultValue = 0);
    const QStringList& ValueNames() const { return valueNames_; }

protected:
    bool TryConvert(const QString& text, Variant& value) const override;

private:
    QStringList valueNames_;
};

class TOptionsList {
public:
    explicit TOptionsList(QString prefix);
    TOptionsList(const TOptionsList&) = delete;
    TOptionsList& operator=(const TOptionsList&) = delete;

    const QString& Prefix() const { return prefix_; }
    void Add(std::unique_ptr<TOption> option);
    const std::vector<std::unique_ptr<TOption>>& Options() const { return options_; }
    // The option of that name (without regard to case), or null.
    const TOption* Find(const QString& name) const;

    // Applies Lines to an object of ClassName (see the rules above). Raises
    // on the first value that fails its option's check; options before it
    // have been set by then.
    void ImportOptions(const QStringList& lines, const QString& className, const TSetPropFunc& setProp) const;

private:
    QString prefix_;
    std::vector<std::unique_ptr<TOption>> options_;
};

} // namespace velkaro

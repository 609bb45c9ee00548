#include "inhouse/GuiPropertyTypes.h"

#include "core/ComponentStreaming.h"

#include <QColor>
#include <QFont>
#include <QMetaEnum>
#include <QPalette>

#include <mutex>

namespace velkaro {

namespace {

StreamValue colorValue(const QColor& color)
{
    return StreamValue::OfString(color.isValid() ? color.name(QColor::HexArgb) : QString());
}

std::optional<QColor> toColor(const StreamValue& v)
{
    if (v.Type != StreamValue::Kind::WString)
        return std::nullopt;
    if (v.Text.isEmpty())
        return QColor();
    const QColor color = QColor::fromString(v.Text);
    return color.isValid() ? std::optional(color) : std::nullopt;
}

StreamValue paletteValue(const QPalette& palette)
{
    const QMetaEnum groups = QMetaEnum::fromType<QPalette::ColorGroup>();
    const QMetaEnum roles = QMetaEnum::fromType<QPalette::ColorRole>();
    std::vector<StreamValue> entries;
    for (int g = 0; g < QPalette::NColorGroups; ++g) {
        for (int r = 0; r < QPalette::NColorRoles; ++r) {
            const auto group = QPalette::ColorGroup(g);
            const auto role = QPalette::ColorRole(r);
            if (role == QPalette::NoRole || !palette.isBrushSet(group, role))
                continue;
            entries.push_back(StreamValue::OfList({StreamValue::OfIdent(QString::fromLatin1(groups.valueToKey(g))),
                StreamValue::OfIdent(QString::fromLatin1(roles.valueToKey(r))),
                colorValue(palette.color(group, role))}));
        }
    }
    return StreamValue::OfList(std::move(entries));
}

std::optional<QPalette> toPalette(const StreamValue& v)
{
    if (v.Type != StreamValue::Kind::List)
        return std::nullopt;
    const QMetaEnum groups = QMetaEnum::fromType<QPalette::ColorGroup>();
    const QMetaEnum roles = QMetaEnum::fromType<QPalette::ColorRole>();
    QPalette palette;
    for (const StreamValue& entry : v.Items) {
        if (entry.Type != StreamValue::Kind::List || entry.Items.size() != 3
            || entry.Items[0].Type != StreamValue::Kind::Ident || entry.Items[1].Type != StreamValue::Kind::Ident)
            return std::nullopt;
        bool groupOk = false;
        bool roleOk = false;
        const int g = groups.keyToValue(entry.Items[0].Text.toLatin1().constData(), &groupOk);
        const int r = roles.keyToValue(entry.Items[1].Text.toLatin1().constData(), &roleOk);
        const std::optional<QColor> color = toColor(entry.Items[2]);
        if (!groupOk || !roleOk || g < 0 || g >= QPalette::NColorGroups || r < 0 || r >= QPalette::NColorRoles
            || r == QPalette::NoRole || !color)
            return std::nullopt;
        palette.setColor(QPalette::ColorGroup(g), QPalette::ColorRole(r), *color);
    }
    return palette;
}

} // namespace

void RegisterGuiPropertyTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterPropertyType(QMetaType::fromType<QFont>(),
            {[](const QVariant& v) { return StreamValue::OfString(v.value<QFont>().toString()); },
                [](const StreamValue& v) -> std::optional<QVariant> {
                    QFont font;
                    if (v.Type != StreamValue::Kind::WString || !font.fromString(v.Text))
                        return std::nullopt;
                    return QVariant(font);
                }});
        RegisterPropertyType(QMetaType::fromType<QColor>(),
            {[](const QVariant& v) { return colorValue(v.value<QColor>()); },
                [](const StreamValue& v) -> std::optional<QVariant> {
                    const std::optional<QColor> color = toColor(v);
                    return color ? std::optional(QVariant(*color)) : std::nullopt;
                }});
        RegisterPropertyType(QMetaType::fromType<QPalette>(),
            {[](const QVariant& v) { return paletteValue(v.value<QPalette>()); },
                [](const StreamValue& v) -> std::optional<QVariant> {
                    const std::optional<QPalette> palette = toPalette(v);
                    return palette ? std::optional(QVariant(*palette)) : std::nullopt;
                }});
    });
}

} // namespace velkaro

#pragma once
// The component stream as a tree, and its two forms: the binary form
// (pure functions over bytes) and the text form. Private to the core folder;
// the layout is in docs/component-streaming.md.

#include "core/ComponentStreaming.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

namespace velkaro::componentformat {

inline constexpr char Magic[4] = {'V', 'K', 'C', 'S'};
inline constexpr quint16 Version = 1;
inline constexpr quint8 ObjectMarker = 0xF0;
inline constexpr qsizetype HeaderSize = 6;

struct Object {
    QByteArray ClassName; // letters, digits, "_" and "::"
    QString Name;
    std::vector<StreamProperty> Properties;
    std::vector<Object> Children;
};

// What a stream holds: one component, or one collection value.
struct Root {
    bool IsCollection = false;
    Object Component;
    StreamValue Collection; // Kind::Collection
};

// Raises EStreamError for what the format cannot hold (a name longer than
// 255 bytes, a property name that is no identifier path, nesting deeper than
// MaxNesting).
QByteArray Encode(const Root& root);

enum class Expect { Any, Component, Collection };

// Decodes the root at the start of Bytes; Consumed (when given) receives the
// bytes it took. With AllowTrailing false, bytes after the root are an error.
// Raises the errors listed in ComponentStreaming.h; when a collection is
// expected, a first value other than the collection marker raises
// "Invalid property value".
Root Decode(QByteArrayView bytes, Expect expect, bool allowTrailing, qsizetype* consumed = nullptr);

QString ToText(const Root& root);
Root FromText(const QString& text);

// An identifier: a letter or "_", then letters, digits or "_"; with
// AllowDots, several such joined by ".".
bool IsIdentifier(QByteArrayView text, bool allowDots);
bool IsClassName(QByteArrayView text);

} // namespace velkaro::componentformat

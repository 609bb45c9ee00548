#pragma once
// A component with the GUI property types the in-house library adds to
// component streams.

#include "core/Component.h"

#include <QColor>
#include <QFont>
#include <QPalette>

namespace velkaro::testing {

class TGuiSample : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QFont Font MEMBER Font)
    Q_PROPERTY(QColor Color MEMBER Color)
    Q_PROPERTY(QPalette Palette MEMBER Palette)

public:
    using TComponent::TComponent;
    QFont Font;
    QColor Color;
    QPalette Palette;
};

} // namespace velkaro::testing

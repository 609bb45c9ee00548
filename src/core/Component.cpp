#include "core/Component.h"

#include "core/Exceptions.h"

namespace velkaro {

TComponent::TComponent(QObject* owner)
    : QObject(owner)
{
}

void TComponent::SetName(const QString& name)
{
    if (name.compare(objectName(), Qt::CaseInsensitive) != 0 && !name.isEmpty()) {
        QObject* existing = FindComponent(parent(), name);
        if (existing != nullptr && existing != this)
            throw EComponentError(QString::fromLatin1(msg::DuplicateName).arg(name));
    }
    setObjectName(name);
}

QObject* FindComponent(const QObject* owner, const QString& name)
{
    if (owner == nullptr || name.isEmpty())
        return nullptr;
    for (QObject* child : owner->children()) {
        if (child->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return child;
    }
    return nullptr;
}

} // namespace velkaro

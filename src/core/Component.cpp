#include "core/Component.h"

#include "core/Exceptions.h"

#include <QList>
#include <QPointer>

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

void TComponent::Loaded()
{
    loading_ = false;
}

void EndLoading(const QObject* owner)
{
    // A component's Loaded may create or free others: the list is taken
    // first, and a component freed meanwhile is passed over.
    QList<QPointer<TComponent>> components;
    for (QObject* child : owner->children()) {
        if (auto* component = qobject_cast<TComponent*>(child))
            components.append(component);
    }
    for (const QPointer<TComponent>& component : components) {
        if (component != nullptr && component->Loading())
            component->Loaded();
    }
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

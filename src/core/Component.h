#pragma once
// Components: QObjects owned by a parent (their owner, a window or another
// component) that frees them with itself. The component's Name is the
// QObject's objectName; published properties are Q_PROPERTYs, which the
// deployment file can set by name.

#include <QObject>
#include <QString>

namespace velkaro {

class TComponent : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)

public:
    explicit TComponent(QObject* owner = nullptr);

    QObject* Owner() const { return parent(); }
    QString Name() const { return objectName(); }
    // Raises EComponentError when the owner already has a component of that
    // name (names compare without regard to case, as identifiers do).
    void SetName(const QString& name);
};

// The component directly owned by Owner with the given name (case
// insensitive), or null.
QObject* FindComponent(const QObject* owner, const QString& name);

} // namespace velkaro

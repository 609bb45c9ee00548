#pragma once
// Components: QObjects owned by a parent (their owner, a window or another
// component) that frees them with itself. The component's Name is the
// QObject's objectName; published properties are Q_PROPERTYs, which the
// deployment file can set by name.
//
// Loading: a window creates its components, gives them their settings and
// then declares them loaded. From BeginLoading until Loaded a component
// only remembers the settings that act (a connection's Connected stored as
// true); Loaded applies them, once every component of the window is there.

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

    bool Loading() const { return loading_; }
    void BeginLoading() { loading_ = true; }
    // Ends loading and applies what was remembered meanwhile; may raise
    // (a connection that cannot connect). Overrides call this first.
    virtual void Loaded();

private:
    bool loading_ = false;
};

// Calls Loaded on every component directly owned by Owner that is loading,
// in the order they were created. The first error stops it and is raised.
void EndLoading(const QObject* owner);

// The component directly owned by Owner with the given name (case
// insensitive), or null.
QObject* FindComponent(const QObject* owner, const QString& name);

} // namespace velkaro

#pragma once
// Components with a published property of every kind the component streams
// carry, for the streaming tests and the fuzz target.

#include "core/Collection.h"
#include "core/Component.h"

#include <QByteArray>
#include <QRect>
#include <QString>
#include <QStringList>

namespace velkaro::testing {

class TSampleItem : public TCollectionItem {
    Q_OBJECT
    Q_PROPERTY(QString Caption MEMBER Caption)
    Q_PROPERTY(int Width MEMBER Width)

public:
    QString Caption;
    int Width = 50;
};

// Owned by its sample and published through a read-only pointer property.
class TSampleFont : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Face MEMBER Face)
    Q_PROPERTY(int Size MEMBER Size)

public:
    using QObject::QObject;
    QString Face = QStringLiteral("Tahoma");
    int Size = 8;
};

class TSample : public TComponent {
    Q_OBJECT

public:
    enum TAlign { alNone, alTop, alBottom, alClient };
    Q_ENUM(TAlign)
    enum TAnchor { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
    Q_DECLARE_FLAGS(TAnchors, TAnchor)
    Q_FLAG(TAnchors)

    Q_PROPERTY(bool Enabled MEMBER Enabled)
    Q_PROPERTY(int Tag MEMBER Tag)
    Q_PROPERTY(qint64 Big MEMBER Big)
    Q_PROPERTY(quint64 Huge MEMBER Huge)
    Q_PROPERTY(uchar Small MEMBER Small)
    Q_PROPERTY(double Ratio MEMBER Ratio)
    Q_PROPERTY(float Scale MEMBER Scale)
    Q_PROPERTY(QString Caption MEMBER Caption)
    Q_PROPERTY(QByteArray Data MEMBER Data)
    Q_PROPERTY(TAlign Align MEMBER Align)
    Q_PROPERTY(TAnchors Anchors READ GetAnchors WRITE SetAnchors)
    Q_PROPERTY(QStringList Lines MEMBER Lines)
    Q_PROPERTY(QRect Bounds MEMBER Bounds)
    Q_PROPERTY(velkaro::testing::TSampleFont* Font READ Font)
    Q_PROPERTY(velkaro::TCollection* Items READ Items)
    Q_PROPERTY(velkaro::testing::TSample* Buddy MEMBER Buddy)
    Q_PROPERTY(QString Scratch MEMBER Scratch STORED false)
    Q_PROPERTY(int ReadOnly READ ReadOnly)

public:
    explicit TSample(QObject* owner = nullptr)
        : TComponent(owner)
    {
    }

    TSampleFont* Font() const { return font_; }
    TCollection* Items() const { return items_; }
    int ReadOnly() const { return 7; }
    TAnchors GetAnchors() const { return Anchors; }
    void SetAnchors(TAnchors anchors) { Anchors = anchors; }

    bool Enabled = true;
    int Tag = 0;
    qint64 Big = 0;
    quint64 Huge = 0;
    uchar Small = 0;
    double Ratio = 1.0;
    float Scale = 1.0f;
    QString Caption;
    QByteArray Data;
    TAlign Align = alNone;
    TAnchors Anchors = TAnchors(akLeft | akTop);
    QStringList Lines;
    QRect Bounds;
    TSample* Buddy = nullptr; // another component of the same stream
    QString Scratch; // not stored

private:
    TSampleFont* font_ = new TSampleFont(this);
    TCollection* items_ = new TCollection(ItemClassOf<TSampleItem>(), this);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TSample::TAnchors)

// A sample of another class, to tell classes apart in streams.
class TOtherSample : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Text MEMBER Text)

public:
    using TComponent::TComponent;
    QString Text;
};

} // namespace velkaro::testing

#pragma once
// Collections: an ordered list of items of one item class, each item a small
// object whose published properties (Q_PROPERTY) are its settings. A
// component publishes a collection as a read-only property of type
// TCollection* that points at a collection it owns:
//
//   class TStatusBar : public TComponent {
//       Q_OBJECT
//       Q_PROPERTY(velkaro::TCollection* Panels READ Panels)
//       ...
//       TCollection* panels_ = new TCollection(ItemClassOf<TStatusPanel>(), this);
//
// The collection owns its items; they are not QObject children of anything,
// so they never appear among a component's children. Item classes need no
// registration: the collection creates its items itself.

#include <QObject>

#include <memory>
#include <vector>

namespace velkaro {

class TCollection;

class TCollectionItem : public QObject {
    Q_OBJECT

public:
    TCollectionItem() = default;

    // The collection that holds the item, or null while it is in none.
    TCollection* Collection() const { return collection_; }
    // The item's position in its collection, or -1.
    int Index() const;

private:
    friend class TCollection;
    TCollection* collection_ = nullptr;
};

// How a collection makes its items: the item class and a function that
// creates a new, unattached item of it.
struct TCollectionItemClass {
    const QMetaObject* MetaObject = nullptr;
    TCollectionItem* (*Create)() = nullptr;
};

template <class Item> TCollectionItemClass ItemClassOf()
{
    static_assert(std::is_base_of_v<TCollectionItem, Item>, "collection items derive from TCollectionItem");
    return {&Item::staticMetaObject, []() -> TCollectionItem* { return new Item(); }};
}

class TCollection : public QObject {
    Q_OBJECT

public:
    explicit TCollection(TCollectionItemClass itemClass, QObject* owner = nullptr);
    ~TCollection() override;

    const TCollectionItemClass& ItemClass() const { return itemClass_; }
    int Count() const { return int(items_.size()); }
    // The item at Index (0 to Count() - 1); raises EListError
    // "List index out of bounds (%d)" otherwise.
    TCollectionItem* Items(int index) const;

    // Appends a new item of the item class and returns it.
    TCollectionItem* Add();
    // Appends an item made elsewhere (of the item class); the collection
    // takes it over.
    void Adopt(std::unique_ptr<TCollectionItem> item);
    // Frees the item at Index.
    void Delete(int index);
    void Clear();

    // Replaces all items with Items, in their order (the old ones are freed).
    void Replace(std::vector<std::unique_ptr<TCollectionItem>> items);

private:
    TCollectionItemClass itemClass_;
    std::vector<std::unique_ptr<TCollectionItem>> items_;
};

} // namespace velkaro

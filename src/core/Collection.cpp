#include "core/Collection.h"

#include "core/Exceptions.h"

namespace velkaro {

int TCollectionItem::Index() const
{
    if (collection_ == nullptr)
        return -1;
    for (int i = 0; i < collection_->Count(); ++i) {
        if (collection_->Items(i) == this)
            return i;
    }
    return -1;
}

TCollection::TCollection(TCollectionItemClass itemClass, QObject* owner)
    : QObject(owner)
    , itemClass_(itemClass)
{
}

TCollection::~TCollection() = default;

TCollectionItem* TCollection::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw EListError(QString::fromLatin1(msg::ListIndexError).arg(index));
    return items_[size_t(index)].get();
}

TCollectionItem* TCollection::Add()
{
    Adopt(std::unique_ptr<TCollectionItem>(itemClass_.Create()));
    return items_.back().get();
}

void TCollection::Adopt(std::unique_ptr<TCollectionItem> item)
{
    item->collection_ = this;
    items_.push_back(std::move(item));
}

void TCollection::Delete(int index)
{
    Items(index); // checks the index
    items_.erase(items_.begin() + index);
}

void TCollection::Clear()
{
    items_.clear();
}

void TCollection::Replace(std::vector<std::unique_ptr<TCollectionItem>> items)
{
    for (auto& item : items)
        item->collection_ = this;
    items_.swap(items);
}

} // namespace velkaro

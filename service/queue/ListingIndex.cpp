#include "service/queue/ListingIndex.h"

#include "platform/FolderListing.h"

namespace velmo::queue {

bool ListedBefore(const ListingEntry& a, const ListingEntry& b)
{
    return a.written != b.written ? a.written > b.written : a.name > b.name;
}

void ListingIndex::Put(Index& index, ListingEntry entry)
{
    auto known = index.written.find(entry.name);
    if (known != index.written.end()) {
        index.order.erase(ListingEntry{known->second, entry.name});
        known->second = entry.written;
    } else {
        index.written.emplace(entry.name, entry.written);
    }
    index.order.insert(std::move(entry));
}

ListingIndex::Index* ListingIndex::Made(messagefile::Folder folder)
{
    auto it = folders_.find(folder);
    if (it != folders_.end())
        return &it->second;
    Index& index = folders_[folder];
    for (ListingEntry& e : read_(folder))
        Put(index, std::move(e));
    return &index;
}

void ListingIndex::Add(messagefile::Folder folder, const std::string& name)
{
    std::lock_guard hold(lock_);
    auto it = folders_.find(folder);
    if (it != folders_.end())
        Put(it->second, {WrittenNow(), name});
}

void ListingIndex::Remove(messagefile::Folder folder, const std::string& name)
{
    std::lock_guard hold(lock_);
    auto it = folders_.find(folder);
    if (it == folders_.end())
        return;
    auto known = it->second.written.find(name);
    if (known == it->second.written.end())
        return;
    it->second.order.erase(ListingEntry{known->second, name});
    it->second.written.erase(known);
}

std::vector<ListingEntry> ListingIndex::After(messagefile::Folder folder, const std::optional<ListingEntry>& after,
                                              std::size_t n)
{
    std::lock_guard hold(lock_);
    Index* index = Made(folder);
    std::vector<ListingEntry> entries;
    auto it = after ? index->order.upper_bound(*after) : index->order.begin();
    for (; it != index->order.end() && entries.size() < n; ++it)
        entries.push_back(*it);
    return entries;
}

std::optional<std::size_t> ListingIndex::Size(messagefile::Folder folder)
{
    std::lock_guard hold(lock_);
    auto it = folders_.find(folder);
    return it == folders_.end() ? std::nullopt : std::optional<std::size_t>(it->second.order.size());
}

}  // namespace velmo::queue

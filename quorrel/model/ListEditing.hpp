#pragma once

#include <quorrel/DataModel.hpp>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

// The shared rules for editing the lists of a group: new IDs, saving and deleting members.
namespace tav {

// One more than the largest ID read as a decimal number, and at least 1.
template <class Range, class IdOf> std::string NewID(const Range& range, IdOf idOf) {
    long long largest = 0;
    for (const auto& entry : range)
        largest = std::max<long long>(largest, ToInt(idOf(entry)));
    return std::to_string(largest + 1);
}

// Saves `given` into one of `sets`, which are copies the caller writes back on success. A blank ID
// makes a new entry with a new ID; otherwise a new entry with the given fields replaces the one with
// that ID, in the set that choose() picks. Entries are never changed once in a set: copies of the
// policy share them. Keys stay unique across the sets.
template <class Entity, class Set, class Choose, class MakeId>
Ret SaveMember(std::initializer_list<Set*> sets, const Entity& given, Choose choose, MakeId makeId,
               const std::string& duplicate, const std::string& notFound) {
    const std::string& key = DataModel::SortKey(given);
    boost::shared_ptr<Entity> found;
    Set* home = nullptr;
    for (Set* set : sets)
        for (const boost::shared_ptr<Entity>& entry : *set)
            if (entry->GetID() == given.GetID()) {
                if (!found) {
                    found = entry;
                    home = set;
                }
            } else if (DataModel::SortKey(*entry) == key) {
                return Ret(Ret::ERR, duplicate + key);
            }
    if (IsBlank(given.GetID())) {
        const auto entry = boost::make_shared<Entity>(given);
        entry->SetID(makeId());
        choose(*entry).insert(entry);
        return Ret(Ret::OK, "");
    }
    if (!found)
        return Ret(Ret::ERR, notFound + key);
    home->erase(found);
    const auto entry = boost::make_shared<Entity>(given);
    choose(*entry).insert(entry);
    return Ret(Ret::OK, "");
}

// Removes the entries whose ID is one of the given IDs.
template <class Set> Set WithoutIDs(const Set& set, const std::vector<std::string>& ids) {
    std::string listed = ",";
    for (std::size_t i = 0; i < ids.size(); ++i)
        listed += (i ? "," : "") + ids[i];
    listed += ",";
    Set kept;
    for (const auto& entry : set)
        if (listed.find("," + entry->GetID() + ",") == std::string::npos)
            kept.insert(kept.end(), entry);
    return kept;
}

} // namespace tav

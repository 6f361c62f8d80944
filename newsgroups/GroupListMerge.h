// Adding a server's group list to the newsgroup list.
//
// The server lists every group it carries, or the groups created since a
// time.  A name the list does not hold yet becomes a new record: not
// selected, its number pointer at the group's first article, its date
// pointer at the time of the retrieval, no login.  A group the list already
// holds keeps its record as it is: selection, kind of retrieval, pointers
// and login are the user's, and a listing never undoes them.  A name listed
// twice is added once.
#pragma once

#include "newsgroups/Newsgroups.h"

#include <cstdint>
#include <string>
#include <unordered_set>

class CGroupListMerge {
public:
    CGroupListMerge(Newsgroups& list, std::int32_t lNow);
    CGroupListMerge(const CGroupListMerge&) = delete;
    CGroupListMerge& operator=(const CGroupListMerge&) = delete;

    // One listed group; true when it was new and has been added.
    bool Offer(const std::string& name, std::int32_t lFirst);
    // Puts the list back in order (new records go to its head).
    void Finish();
    std::int32_t Added() const { return m_iAdded; }

private:
    Newsgroups& m_list;
    std::int32_t m_lNow;
    std::unordered_set<std::string> m_names; // every name the list holds
    std::int32_t m_iAdded = 0;
};

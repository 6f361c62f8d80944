// Which article pointers may be written.  A group's pointers move in memory
// as its articles arrive, but on disk they may never pass an article that is
// not inside a saved packet: a run whose packet was not saved fetches those
// articles again.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class Newsgroups;
struct newsgr;

class PointerGuard {
public:
    // The group's pointers are about to change: remembers them as they
    // were (once until the next saved packet).
    void Opening(const newsgr& group);
    // An article of the group went into the packet being gathered.
    void Converted(const std::string& group, std::int32_t iArticle);
    // The packet holding every article gathered so far is saved: the
    // current pointers become the ones the list writes whatever is answered
    // at exit, and the list file is written now.  False when it could not
    // be written.
    bool PacketSaved(Newsgroups& list);
    // Before the list is written without such a packet: each pointer that
    // passed an unsaved article goes back to that article, and its date to
    // what it was.
    void Restrain(Newsgroups& list) const;
    bool HasUnsaved() const;
    // The list is about to be written with what the user sets (the Group
    // Settings dialog writes it at OK): meanwhile each pointer that passed
    // an unsaved article stands at it, as Restrain puts it.  Resume brings
    // forward again each of those that the user left as it stood.
    void Hold(Newsgroups& list);
    void Resume(Newsgroups& list);

private:
    struct Entry {
        std::int32_t lDateBefore = 0;
        std::int32_t iLowestUnsaved = INT32_MAX;
    };
    std::map<std::string, Entry> m_groups;
    struct Held {
        std::int32_t lPointer, lDate;         // as the retrieval left them
        std::int32_t lHeldPointer, lHeldDate; // as they stood meanwhile
    };
    std::map<std::string, Held> m_held;
};

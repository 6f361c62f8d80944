#include "session/PointerGuard.h"

#include "newsgroups/Newsgroups.h"

#include <algorithm>

void PointerGuard::Opening(const newsgr& group)
{
    if (m_groups.count(group.m_szName) == 0)
        m_groups[group.m_szName].lDateBefore = group.m_lDate;
}

void PointerGuard::Converted(const std::string& group, std::int32_t iArticle)
{
    Entry& e = m_groups[group];
    e.iLowestUnsaved = std::min(e.iLowestUnsaved, iArticle);
}

bool PointerGuard::HasUnsaved() const
{
    return std::any_of(m_groups.begin(), m_groups.end(),
                       [](const auto& kv) { return kv.second.iLowestUnsaved != INT32_MAX; });
}

bool PointerGuard::PacketSaved(Newsgroups& list)
{
    for (bool b = list.First(); b; b = list.Next()) {
        newsgr* p = list.Current();
        p->m_lLoadedPointer = p->m_lPointer;
        p->m_lLoadedDate = p->m_lDate;
    }
    m_groups.clear();
    return list.Save();
}

void PointerGuard::Restrain(Newsgroups& list) const
{
    for (const auto& [name, e] : m_groups) {
        if (e.iLowestUnsaved == INT32_MAX || !list.Find(name))
            continue;
        newsgr* p = list.Current();
        p->m_lPointer = std::min(p->m_lPointer, e.iLowestUnsaved);
        p->m_lDate = e.lDateBefore;
    }
}

void PointerGuard::Hold(Newsgroups& list)
{
    m_held.clear();
    for (const auto& [name, e] : m_groups) {
        if (e.iLowestUnsaved == INT32_MAX || !list.Find(name))
            continue;
        newsgr* p = list.Current();
        Held h{p->m_lPointer, p->m_lDate, std::min(p->m_lPointer, e.iLowestUnsaved), e.lDateBefore};
        p->m_lPointer = h.lHeldPointer;
        p->m_lDate = h.lHeldDate;
        m_held[name] = h;
    }
}

void PointerGuard::Resume(Newsgroups& list)
{
    for (const auto& [name, h] : m_held) {
        if (!list.Find(name))
            continue; // deleted in the dialog
        newsgr* p = list.Current();
        if (p->m_lPointer == h.lHeldPointer && p->m_lDate == h.lHeldDate) {
            p->m_lPointer = h.lPointer;
            p->m_lDate = h.lDate;
        }
    }
    m_held.clear();
}

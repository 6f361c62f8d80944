#include "newsgroups/GroupListMerge.h"

CGroupListMerge::CGroupListMerge(Newsgroups& list, std::int32_t lNow) : m_list(list), m_lNow(lNow)
{
    // One look-up per listed name: a complete list has tens of thousands.
    m_names.reserve(static_cast<std::size_t>(list.Count()) * 2 + 64);
    for (std::int32_t i = 0; i < list.Count(); ++i)
        m_names.insert(list.At(i)->m_szName);
}

bool CGroupListMerge::Offer(const std::string& name, std::int32_t lFirst)
{
    if (!m_names.insert(name).second)
        return false;
    m_list.Add(name, 0, lFirst, m_lNow, "", "");
    ++m_iAdded;
    return true;
}

void CGroupListMerge::Finish() { m_list.Sort(); }

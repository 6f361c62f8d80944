#include "util/CStringList.h"

#include <cstring>

CStringList::~CStringList() { ReleaseAll(); }

const char* CStringList::Add(const char* pszText, bool bOrdered)
{
    std::size_t n = std::strlen(pszText);
    char* pCopy = new char[n + 1];
    std::memcpy(pCopy, pszText, n + 1);
    if (bOrdered)
        Insert(pCopy);
    else
        Append(pCopy);
    return pCopy;
}

bool CStringList::RemoveString(const char* pszText)
{
    for (const char* p = First(); p; p = Next()) {
        if (std::strcmp(p, pszText) == 0) {
            char* pItem = const_cast<char*>(p);
            Remove(pItem);
            Release(pItem);
            return true;
        }
    }
    return false;
}

bool CStringList::Contains(const char* pszText) const
{
    // Walks with the list's own cursor (it moves).
    auto* pSelf = const_cast<CStringList*>(this);
    for (const char* p = pSelf->First(); p; p = pSelf->Next())
        if (std::strcmp(p, pszText) == 0)
            return true;
    return false;
}

int CStringList::Compare(const void* pItem1, const void* pItem2) const
{
    return std::strcmp(static_cast<const char*>(pItem1), static_cast<const char*>(pItem2));
}

void CStringList::Release(void* pItem) { delete[] static_cast<char*>(pItem); }

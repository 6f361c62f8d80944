// A list of owned zero-terminated strings: adding copies, comparison is
// case-sensitive, releasing frees the copy.
#pragma once

#include "util/CList.h"

#include <string>

class CStringList : public CList {
public:
    ~CStringList() override;

    // Appends (or, with bOrdered, inserts in order) a copy of the string.
    const char* Add(const char* pszText, bool bOrdered = false);
    const char* Add(const std::string& s, bool bOrdered = false)
    {
        return Add(s.c_str(), bOrdered);
    }
    // Removes and frees the first entry equal to the text.
    bool RemoveString(const char* pszText);
    bool Contains(const char* pszText) const;

    const char* First() { return static_cast<const char*>(CList::First()); }
    const char* Next() { return static_cast<const char*>(CList::Next()); }

    int Compare(const void* pItem1, const void* pItem2) const override;
    void Release(void* pItem) override;
};

// A singly linked list of item pointers with a built-in cursor.
//
// The list never owns its items: destroying the list frees its nodes only.
// Derived lists decide how two items compare (for ordered insertion) and how
// an item is released when a caller asks for it.
#pragma once

#include <cstddef>

class CList {
public:
    CList() = default;
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;
    virtual ~CList();

    // Negative, zero or positive like strcmp.  The default keeps arrival order.
    virtual int Compare(const void* pItem1, const void* pItem2) const;
    // Frees one item; the base list does nothing.
    virtual void Release(void* pItem);

    void Append(void* pItem);
    // Puts the item before the first item it does not compare greater than,
    // so it lands in front of items equal to it.
    void Insert(void* pItem);
    // Unlinks the item (pointer identity); returns false when absent.
    bool Remove(void* pItem);
    // Unlinks every node and releases every item through Release().
    void ReleaseAll();
    // Unlinks every node; items stay the caller's.
    void RemoveAll();

    // Cursor walk: First() then Next() until nullptr.
    void* First();
    void* Next();

    std::size_t Count() const { return m_nCount; }
    bool IsEmpty() const { return m_pHead == nullptr; }

private:
    struct Node {
        void* pItem;
        Node* pNext;
    };
    Node* m_pHead = nullptr;
    Node* m_pTail = nullptr;
    Node* m_pCursor = nullptr;
    bool m_bBeforeHead = false; // cursor's node was removed at the head
    std::size_t m_nCount = 0;
};

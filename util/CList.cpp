#include "util/CList.h"

CList::~CList() { RemoveAll(); }

int CList::Compare(const void*, const void*) const { return 0; }

void CList::Release(void*) {}

void CList::Append(void* pItem)
{
    Node* pNode = new Node{pItem, nullptr};
    if (m_pTail)
        m_pTail->pNext = pNode;
    else
        m_pHead = pNode;
    m_pTail = pNode;
    ++m_nCount;
}

void CList::Insert(void* pItem)
{
    Node** ppLink = &m_pHead;
    while (*ppLink && Compare(pItem, (*ppLink)->pItem) > 0) {
        ppLink = &(*ppLink)->pNext;
    }
    Node* pNode = new Node{pItem, *ppLink};
    *ppLink = pNode;
    if (pNode->pNext == nullptr)
        m_pTail = pNode;
    ++m_nCount;
}

bool CList::Remove(void* pItem)
{
    Node* pPrev = nullptr;
    for (Node* p = m_pHead; p; pPrev = p, p = p->pNext) {
        if (p->pItem != pItem)
            continue;
        if (pPrev)
            pPrev->pNext = p->pNext;
        else
            m_pHead = p->pNext;
        if (m_pTail == p)
            m_pTail = pPrev;
        if (m_pCursor == p) {
            // Next() then continues with the node after the removed one.
            m_pCursor = pPrev;
            m_bBeforeHead = (pPrev == nullptr);
        }
        delete p;
        --m_nCount;
        return true;
    }
    return false;
}

void CList::RemoveAll()
{
    while (m_pHead) {
        Node* p = m_pHead;
        m_pHead = p->pNext;
        delete p;
    }
    m_pTail = m_pCursor = nullptr;
    m_bBeforeHead = false;
    m_nCount = 0;
}

void CList::ReleaseAll()
{
    while (m_pHead) {
        Node* p = m_pHead;
        m_pHead = p->pNext;
        Release(p->pItem);
        delete p;
    }
    m_pTail = m_pCursor = nullptr;
    m_bBeforeHead = false;
    m_nCount = 0;
}

void* CList::First()
{
    m_pCursor = m_pHead;
    m_bBeforeHead = false;
    return m_pCursor ? m_pCursor->pItem : nullptr;
}

void* CList::Next()
{
    if (m_bBeforeHead) {
        m_bBeforeHead = false;
        m_pCursor = m_pHead;
    } else if (m_pCursor) {
        m_pCursor = m_pCursor->pNext;
    }
    return m_pCursor ? m_pCursor->pItem : nullptr;
}

#include "session/WGroups.h"

#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "newsgroups/Newsgroups.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

std::string Lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The first row at or after iFrom that holds the text, both lower-cased.
std::int32_t FindRow(const std::vector<std::string>& rows, const std::string& text,
                     std::int32_t iFrom)
{
    if (text.empty())
        return -1;
    std::string want = Lower(text);
    for (std::size_t i = static_cast<std::size_t>(std::max<std::int32_t>(iFrom, 0));
         i < rows.size(); ++i)
        if (Lower(rows[i]).find(want) != std::string::npos)
            return static_cast<std::int32_t>(i);
    return -1;
}

} // namespace

WGroups::WGroups(GroupsOwner owner, std::unique_ptr<IGroupsView> pView)
    : m_owner(std::move(owner)), m_pView(std::move(pView))
{
    Fill();
}

WGroups::~WGroups()
{
    if (m_owner.gone)
        m_owner.gone();
}

std::string WGroups::RowOf(const newsgr& group)
{
    char head[32];
    std::snprintf(head, sizeof head, "%c\t%ld\t", group.m_uFlags & NG_SELECTED ? '+' : ' ',
                  static_cast<long>(group.m_lPointer));
    return head + group.m_szName;
}

std::string WGroups::GroupOfRow(const std::string& row)
{
    std::size_t tab = row.rfind('\t');
    return tab == std::string::npos ? row : row.substr(tab + 1);
}

std::vector<std::string> WGroups::RowsOf(Newsgroups& list, bool bSelectedAtTop, bool bDisplayAll)
{
    std::vector<std::string> rows;
    for (bool b = list.FirstSelected(); b; b = list.NextSelected())
        rows.push_back(RowOf(*list.Current()));
    if (!bDisplayAll)
        return rows;
    if (!bSelectedAtTop)
        rows.clear();
    for (bool b = list.First(); b; b = list.Next()) {
        const newsgr* p = list.Current();
        if (!bSelectedAtTop || !(p->m_uFlags & NG_SELECTED))
            rows.push_back(RowOf(*p));
    }
    return rows;
}

void WGroups::Fill()
{
    bool bAtTop = !g_pIni || g_pIni->GetInt("Groups", "SelectedAtTop", 1) != 0;
    bool bAll = !g_pIni || g_pIni->GetInt("Groups", "DisplayAll", 1) != 0;
    m_rows = g_pNewsgroups ? RowsOf(*g_pNewsgroups, bAtTop, bAll) : std::vector<std::string>();
    m_iCurrent = -1;
    m_pView->SetRows(m_rows);
}

void WGroups::Reload()
{
    m_pView->SetStatus("Reloading groups . . .");
    Fill();
    m_pView->SetStatus("Done!");
}

void WGroups::SetCurrentRow(std::int32_t iRow)
{
    m_iCurrent = iRow >= 0 && iRow < static_cast<std::int32_t>(m_rows.size()) ? iRow : -1;
}

void WGroups::Select(std::int32_t iRow)
{
    SetCurrentRow(iRow);
    m_pView->SelectRow(m_iCurrent);
}

std::int32_t WGroups::RowOfGroup(const std::string& name) const
{
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (GroupOfRow(m_rows[i]) == name)
            return static_cast<std::int32_t>(i);
    return -1;
}

std::int32_t WGroups::FindGroup(const std::string& text, bool bRepeat)
{
    std::int32_t iFound = FindRow(m_rows, text, bRepeat ? m_iCurrent + 1 : 0);
    if (iFound < 0) {
        fw::MessageBoxes().Show("Could not find group.", "Find Group", fw::MbIcon::Information,
                                fw::MbButtons::Ok);
        return -1;
    }
    Select(iFound);
    return iFound;
}

bool WGroups::GroupSettings(std::int32_t iRow)
{
    if (!g_pNewsgroups || iRow < 0 || iRow >= static_cast<std::int32_t>(m_rows.size()))
        return false;
    std::string name = GroupOfRow(m_rows[static_cast<std::size_t>(iRow)]);
    if (!g_pNewsgroups->Find(name) || !m_pView->ShowGroupSettings(name))
        return false;
    Fill();
    Select(RowOfGroup(name));
    return true;
}

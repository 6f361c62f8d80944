#include "dialogs/DGroupSettings.h"

#include "core/Services.h"
#include "core/Strings.h"
#include "dialogs/SmallDialogs.h"
#include "framework/MessageBox.h"
#include "util/TimeZone.h"

#include <algorithm>
#include <ctime>

namespace {
std::unique_ptr<Newsgroups> EmptyList()
{
    // A list without a file starts with the default groups: take them out.
    auto p = std::make_unique<Newsgroups>(std::string());
    while (p->Count() > 0)
        p->Remove(p->At(0)->m_szName);
    return p;
}

void CopyRecord(Newsgroups& to, const newsgr& g)
{
    to.Add(g.m_szName, g.m_uFlags, g.m_lPointer, g.m_lDate, g.m_szUser, g.m_szPassword);
}

int DaysInMonth(int iMonth, int iYear)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool bLeap = (iYear % 4 == 0 && iYear % 100 != 0) || iYear % 400 == 0;
    return iMonth == 2 && bLeap ? 29 : days[iMonth - 1];
}
} // namespace

DGroupSettings::DGroupSettings(Newsgroups& list) : m_list(list), m_pCopy(EmptyList())
{
    dlg::RegisterDialogStrings();
    for (std::int32_t i = 0; i < list.Count(); ++i)
        CopyRecord(*m_pCopy, *list.At(i));
    m_pCopy->Sort();
    m_iCurrent = m_pCopy->Count() > 0 ? 0 : -1;
    LoadFields();
}

DGroupSettings::DGroupSettings(Newsgroups& list, const std::string& group)
    : m_list(list), m_szOnlyGroup(group), m_pCopy(EmptyList())
{
    dlg::RegisterDialogStrings();
    if (list.Find(group))
        CopyRecord(*m_pCopy, *list.Current());
    m_iCurrent = m_pCopy->Count() > 0 ? 0 : -1;
    LoadFields();
}

std::vector<std::string> DGroupSettings::Rows() const
{
    std::vector<std::string> rows;
    for (std::int32_t i = 0; i < m_pCopy->Count(); ++i) {
        const newsgr* g = m_pCopy->At(i);
        rows.push_back(std::string(1, (g->m_uFlags & NG_SELECTED) ? '+' : ' ') + "\t" +
                       g->m_szName);
    }
    return rows;
}

const newsgr* DGroupSettings::Group() const
{
    return m_iCurrent >= 0 && m_iCurrent < m_pCopy->Count() ? m_pCopy->At(m_iCurrent) : nullptr;
}

newsgr* DGroupSettings::Mutable() { return const_cast<newsgr*>(Group()); }

void DGroupSettings::LoadFields()
{
    // The password field shows the group's password; Confirm starts empty.
    m_szPassword = Group() ? Group()->m_szPassword : std::string();
    m_szConfirm.clear();
    m_bPasswordEdited = false;
}

bool DGroupSettings::SetCurrent(int iRow)
{
    if (iRow == m_iCurrent)
        return true;
    if (!CheckPassword().bAccepted)
        return false;
    m_iCurrent = (iRow >= 0 && iRow < m_pCopy->Count()) ? iRow : -1;
    LoadFields();
    return true;
}

void DGroupSettings::Toggle(const std::vector<int>& highlighted)
{
    std::vector<int> rows = highlighted.size() > 1 ? highlighted : std::vector<int>{m_iCurrent};
    for (int r : rows)
        if (r >= 0 && r < m_pCopy->Count())
            m_pCopy->At(r)->m_uFlags ^= NG_SELECTED;
}

bool DGroupSettings::Automatic() const { return Group() && (Group()->m_uFlags & NG_AUTOMATIC); }

void DGroupSettings::SetAutomatic(bool bAutomatic)
{
    if (newsgr* g = Mutable())
        g->m_uFlags = bAutomatic ? (g->m_uFlags | NG_AUTOMATIC) : (g->m_uFlags & ~NG_AUTOMATIC);
}

bool DGroupSettings::UseDate() const { return Group() && (Group()->m_uFlags & NG_BYDATE); }

void DGroupSettings::SetUseDate(bool bUseDate)
{
    if (newsgr* g = Mutable())
        g->m_uFlags = bUseDate ? (g->m_uFlags | NG_BYDATE) : (g->m_uFlags & ~NG_BYDATE);
}

std::int32_t DGroupSettings::FirstArticle() const { return Group() ? Group()->m_lPointer : 0; }

void DGroupSettings::SetFirstArticle(std::int32_t lNumber)
{
    if (newsgr* g = Mutable())
        g->m_lPointer = std::max<std::int32_t>(lNumber, 0);
}

void DGroupSettings::Date(int& iMonth, int& iDay, int& iYear) const
{
    LocalTime t = tz::ToProcessLocal(Group() ? Group()->m_lDate : 0);
    iMonth = t.iMonth;
    iDay = t.iDay;
    iYear = t.iYear;
}

void DGroupSettings::SetDate(int iMonth, int iDay, int iYear)
{
    newsgr* g = Mutable();
    if (!g)
        return;
    iMonth = std::clamp(iMonth, 1, 12);
    iYear = std::clamp(iYear, kFirstYear, kLastYear);
    iDay = std::clamp(iDay, 1, DaysInMonth(iMonth, iYear));
    std::int64_t t = tz::FromProcessLocal(iYear, iMonth, iDay, 0, 0, 0);
    g->m_lDate = static_cast<std::int32_t>(std::clamp<std::int64_t>(t, 0, INT32_MAX));
}

std::vector<std::string> DGroupSettings::MonthNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i)
        names.push_back(LoadStringRes(IDS_MONTH_FIRST + i));
    return names;
}

void DGroupSettings::SetUser(const std::string& user)
{
    if (newsgr* g = Mutable())
        g->m_szUser = user;
}

void DGroupSettings::SetPassword(const std::string& text)
{
    m_szPassword = text;
    m_bPasswordEdited = true;
}

void DGroupSettings::SetConfirm(const std::string& text)
{
    m_szConfirm = text;
    m_bPasswordEdited = true;
}

dlg::OkResult DGroupSettings::CheckPassword()
{
    if (!m_bPasswordEdited)
        return dlg::OkResult::Accept();
    if (m_szPassword != m_szConfirm) {
        // Nothing is pending afterwards: the group keeps its password until
        // a new one is typed twice.
        m_szPassword.clear();
        m_szConfirm.clear();
        m_bPasswordEdited = false;
        dlg::CheckError(850);
        return dlg::OkResult::StayOn(PASSWORD);
    }
    if (!Newsgroups::IsStorableText(m_szPassword)) {
        // The newsgroups file separates its fields with commas: the group
        // would be left out of it.
        m_szPassword.clear();
        m_szConfirm.clear();
        m_bPasswordEdited = false;
        dlg::CheckError("A group's password cannot hold a comma or a line break.");
        return dlg::OkResult::StayOn(PASSWORD);
    }
    if (newsgr* g = Mutable())
        g->m_szPassword = m_szPassword;
    m_bPasswordEdited = false;
    return dlg::OkResult::Accept();
}

void DGroupSettings::SetGlobally()
{
    const newsgr* src = Group();
    if (!src)
        return;
    const std::uint32_t kKinds = NG_AUTOMATIC | NG_BYDATE;
    std::int32_t lPointer = src->m_lPointer, lDate = src->m_lDate;
    std::uint32_t uKinds = src->m_uFlags & kKinds;
    for (std::int32_t i = 0; i < m_pCopy->Count(); ++i) {
        newsgr* g = m_pCopy->At(i);
        g->m_lPointer = lPointer;
        g->m_lDate = lDate;
        g->m_uFlags = (g->m_uFlags & ~kKinds) | uKinds;
    }
}

int DGroupSettings::Add(const std::string& name)
{
    DAddGroup add;
    add.m_szName = name;
    if (!add.CheckOk().bAccepted)
        return -1;
    std::string clean = add.Name();
    if (!m_pCopy->Find(clean)) {
        if (!CheckPassword().bAccepted)
            return -1;
        m_pCopy->Add(clean, NG_SELECTED, 1, static_cast<std::int32_t>(std::time(nullptr)), "", "");
        m_pCopy->Sort();
        m_pCopy->Find(clean);
    }
    int iRow = m_pCopy->Position();
    SetCurrent(iRow);
    return m_iCurrent;
}

void DGroupSettings::Delete(const std::vector<int>& rows)
{
    std::vector<std::string> names;
    for (int r : rows)
        if (r >= 0 && r < m_pCopy->Count())
            names.push_back(m_pCopy->At(r)->m_szName);
    for (const std::string& n : names)
        m_pCopy->Remove(n);
    m_iCurrent = std::min(m_iCurrent, m_pCopy->Count() - 1);
    LoadFields();
}

int DGroupSettings::Find(const std::string& text, int iFrom)
{
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < m_pCopy->Count(); ++i)
        names.push_back(m_pCopy->At(i)->m_szName);
    int iRow = DFind::Search(names, text, iFrom);
    if (iRow < 0) {
        if (!AutorunRunning())
            fw::MessageBoxes().Show("Could not find group.", "Find Group", fw::MbIcon::None,
                                    fw::MbButtons::Ok);
        return -1;
    }
    SetCurrent(iRow);
    return iRow;
}

bool DGroupSettings::Apply()
{
    if (!CheckPassword().bAccepted)
        return false;
    // A user name the newsgroups file cannot hold would make it leave the
    // group out: the dialog stays on that group.
    for (std::int32_t i = 0; i < m_pCopy->Count(); ++i) {
        if (Newsgroups::IsStorableText(m_pCopy->At(i)->m_szUser))
            continue;
        SetCurrent(i);
        dlg::CheckError("The user name of " + m_pCopy->At(i)->m_szName +
                        " cannot hold a comma or a line break.");
        return false;
    }
    if (!m_szOnlyGroup.empty()) {
        // The popup's form: the group's settings go to its record, which
        // keeps its name.
        if (m_list.Find(m_szOnlyGroup) && m_pCopy->Count() == 1) {
            newsgr* to = m_list.Current();
            const newsgr* from = m_pCopy->At(0);
            to->m_uFlags = (to->m_uFlags & NG_INPACKET) | (from->m_uFlags & ~NG_INPACKET);
            to->m_lPointer = from->m_lPointer;
            to->m_lDate = from->m_lDate;
            to->m_szUser = from->m_szUser;
            to->m_szPassword = from->m_szPassword;
        }
    } else {
        // The list object stays (others hold it); its records become the
        // copy's, and its file is written now.
        while (m_list.Count() > 0)
            m_list.Remove(m_list.At(0)->m_szName);
        for (std::int32_t i = m_pCopy->Count() - 1; i >= 0; --i)
            CopyRecord(m_list, *m_pCopy->At(i));
        m_list.Sort();
    }
    // The changes are in the list either way; a file that cannot be written
    // now is written again at the end of the program.
    if (!m_list.Save())
        dlg::CheckError("The newsgroups file could not be written: " + m_list.LastError());
    return true;
}

#include "session/DGroupSettings.h"

#include "core/Services.h"
#include "core/Strings.h"
#include "framework/MessageBox.h"
#include "proto/CNNTP.h"
#include "util/TimeZone.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <ctime>

namespace {

void RegisterSettingsStrings()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    RegisterString(850, "The Password and Confirm do not match.");
}

std::int32_t Now()
{
    std::time_t t = std::time(nullptr);
    return t > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(t);
}

std::string Lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::int32_t FindRow(const std::vector<std::string>& rows, const std::string& text,
                     std::int32_t iFrom)
{
    std::string want = Lower(text);
    for (std::int32_t i = std::max<std::int32_t>(iFrom, 0);
         i < static_cast<std::int32_t>(rows.size()); ++i)
        if (Lower(rows[static_cast<std::size_t>(i)]).find(want) != std::string::npos)
            return i;
    return -1;
}

DGroupSettings::DGroupSettings(const Newsgroups& list)
    : m_pCopy(list.WorkingCopy()), m_bSingle(false)
{
    RegisterSettingsStrings();
    m_iCurrent = Count() > 0 ? 0 : -1;
}

DGroupSettings::DGroupSettings(const newsgr& group)
    : m_pCopy(Newsgroups::CopyOf(group)), m_bSingle(true), m_iCurrent(0)
{
    RegisterSettingsStrings();
}

std::string DGroupSettings::Row(std::int32_t iRow) const
{
    const newsgr* p = m_pCopy->At(iRow);
    if (!p)
        return {};
    return std::string(p->m_uFlags & NG_SELECTED ? "+" : " ") + "\t" + p->m_szName;
}

std::vector<std::string> DGroupSettings::Rows() const
{
    std::vector<std::string> rows;
    rows.reserve(static_cast<std::size_t>(Count()));
    for (std::int32_t i = 0; i < Count(); ++i)
        rows.push_back(Row(i));
    return rows;
}

void DGroupSettings::SetCurrent(std::int32_t iRow)
{
    m_iCurrent = iRow >= 0 && iRow < Count() ? iRow : -1;
}

newsgr* DGroupSettings::CurrentGroup() const { return m_pCopy->At(m_iCurrent); }

void DGroupSettings::Toggle(const std::vector<std::int32_t>& rows)
{
    std::vector<std::int32_t> which = rows;
    if (which.empty())
        which.push_back(m_iCurrent);
    std::sort(which.begin(), which.end());
    which.erase(std::unique(which.begin(), which.end()), which.end());
    for (std::int32_t i : which)
        if (newsgr* p = m_pCopy->At(i))
            p->m_uFlags ^= NG_SELECTED;
}

std::string DGroupSettings::Name() const
{
    const newsgr* p = CurrentGroup();
    return p ? p->m_szName : std::string();
}

bool DGroupSettings::Automatic() const
{
    const newsgr* p = CurrentGroup();
    return p && (p->m_uFlags & NG_AUTOMATIC);
}

void DGroupSettings::SetAutomatic(bool bAutomatic)
{
    if (newsgr* p = CurrentGroup())
        p->m_uFlags = bAutomatic ? (p->m_uFlags | NG_AUTOMATIC) : (p->m_uFlags & ~NG_AUTOMATIC);
}

bool DGroupSettings::UseDate() const
{
    const newsgr* p = CurrentGroup();
    return p && (p->m_uFlags & NG_BYDATE);
}

void DGroupSettings::SetUseDate(bool bUseDate)
{
    if (newsgr* p = CurrentGroup())
        p->m_uFlags = bUseDate ? (p->m_uFlags | NG_BYDATE) : (p->m_uFlags & ~NG_BYDATE);
}

int DGroupSettings::Year() const
{
    const newsgr* p = CurrentGroup();
    return p ? tz::ToProcessLocal(p->m_lDate).iYear : 0;
}

int DGroupSettings::Month() const
{
    const newsgr* p = CurrentGroup();
    return p ? tz::ToProcessLocal(p->m_lDate).iMonth : 0;
}

int DGroupSettings::Day() const
{
    const newsgr* p = CurrentGroup();
    return p ? tz::ToProcessLocal(p->m_lDate).iDay : 0;
}

bool DGroupSettings::SetDate(int iYear, int iMonth, int iDay)
{
    newsgr* p = CurrentGroup();
    if (!p || iYear < 1970 || iYear > 2037 || iMonth < 1 || iMonth > 12 || iDay < 1)
        return false;
    // The day must exist in that month: it must come back unchanged.
    LocalTime check;
    tz::ToCivil(tz::FromCivil(iYear, iMonth, iDay, 12, 0, 0), check);
    if (check.iDay != iDay || check.iMonth != iMonth)
        return false;
    std::int64_t t = tz::FromProcessLocal(iYear, iMonth, iDay, 0, 0, 0);
    p->m_lDate = static_cast<std::int32_t>(std::clamp<std::int64_t>(t, 0, INT32_MAX));
    return true;
}

std::int32_t DGroupSettings::FirstArticle() const
{
    const newsgr* p = CurrentGroup();
    return p ? p->m_lPointer : 0;
}

void DGroupSettings::SetFirstArticle(std::int32_t lFirst)
{
    if (newsgr* p = CurrentGroup())
        p->m_lPointer = lFirst;
}

std::string DGroupSettings::User() const
{
    const newsgr* p = CurrentGroup();
    return p ? p->m_szUser : std::string();
}

bool DGroupSettings::SetUser(const std::string& user)
{
    newsgr* p = CurrentGroup();
    if (!p)
        return false;
    std::string reason;
    if (!CNNTP::CheckGroupLogin(user, "group's user name", &reason)) {
        Warning(reason);
        return false;
    }
    p->m_szUser = user;
    return true;
}

std::string DGroupSettings::Password() const
{
    const newsgr* p = CurrentGroup();
    return p ? p->m_szPassword : std::string();
}

bool DGroupSettings::SetPassword(const std::string& password, const std::string& confirm)
{
    newsgr* p = CurrentGroup();
    if (!p)
        return false;
    std::string reason;
    if (password != confirm) {
        p->m_szPassword.clear();
        Warning(850);
        return false;
    }
    if (!CNNTP::CheckGroupLogin(password, "group's password", &reason)) {
        p->m_szPassword.clear();
        Warning(reason);
        return false;
    }
    p->m_szPassword = password;
    return true;
}

void DGroupSettings::SetGlobally()
{
    const newsgr* pFrom = CurrentGroup();
    if (!pFrom)
        return;
    const std::uint32_t kinds = NG_AUTOMATIC | NG_BYDATE;
    std::int32_t lPointer = pFrom->m_lPointer, lDate = pFrom->m_lDate;
    std::uint32_t uKinds = pFrom->m_uFlags & kinds;
    for (std::int32_t i = 0; i < Count(); ++i) {
        newsgr* p = m_pCopy->At(i);
        p->m_lPointer = lPointer;
        p->m_lDate = lDate;
        p->m_uFlags = (p->m_uFlags & ~kinds) | uKinds;
    }
}

std::int32_t DGroupSettings::Add(const std::string& name)
{
    std::string reason;
    if (!CNNTP::CheckGroupName(name, &reason)) {
        Warning(reason);
        return -1;
    }
    if (!m_pCopy->Find(name)) {
        m_pCopy->Add(name, NG_SELECTED, 1, Now(), "", "");
        m_pCopy->Sort();
        m_pCopy->Find(name);
    }
    m_iCurrent = m_pCopy->Position();
    return m_iCurrent;
}

void DGroupSettings::Delete(const std::vector<std::int32_t>& rows)
{
    std::vector<std::string> names;
    for (std::int32_t i : rows)
        if (const newsgr* p = m_pCopy->At(i))
            names.push_back(p->m_szName);
    for (const std::string& name : names)
        m_pCopy->Remove(name);
    if (m_iCurrent >= Count())
        m_iCurrent = Count() - 1;
}

std::int32_t DGroupSettings::Find(const std::string& text, bool bRepeat)
{
    std::int32_t iFound = FindRow(Rows(), text, bRepeat ? m_iCurrent + 1 : 0);
    if (iFound < 0) {
        fw::MessageBoxes().Show("Could not find group.", "Find Group", fw::MbIcon::Information,
                                fw::MbButtons::Ok);
        return -1;
    }
    m_iCurrent = iFound;
    return iFound;
}

std::string DGroupSettings::MonthName(int iMonth)
{
    if (iMonth < 1 || iMonth > 12)
        return {};
    return LoadStringRes(IDS_MONTH_FIRST + iMonth - 1);
}

#include "dialogs/SmallDialogs.h"

#include <algorithm>
#include <cctype>

namespace {
std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
} // namespace

int DFind::Search(const std::vector<std::string>& rows, const std::string& text, int iFrom)
{
    if (text.empty())
        return -1;
    std::string needle = Lower(text);
    for (int i = std::max(iFrom, 0); i < static_cast<int>(rows.size()); ++i)
        if (Lower(rows[i]).find(needle) != std::string::npos)
            return i;
    return -1;
}

std::string DAddGroup::Name() const
{
    std::size_t b = m_szName.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    std::size_t e = m_szName.find_last_not_of(" \t");
    return m_szName.substr(b, e - b + 1);
}

dlg::OkResult DAddGroup::CheckOk() const
{
    std::string name = Name();
    if (name.empty())
        return dlg::OkResult::StayOn(NAME);
    for (unsigned char c : name)
        if (c <= ' ' || c == ',' || c == 0x7F) {
            dlg::CheckError("A newsgroup name is one word: no blanks, commas or control "
                            "characters.");
            return dlg::OkResult::StayOn(NAME);
        }
    return dlg::OkResult::Accept();
}

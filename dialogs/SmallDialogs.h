// The small dialogs other windows use: the password question, Find, and
// "Add a Newsgroup".
#pragma once

#include "dialogs/DialogCommon.h"

#include <cstddef>
#include <string>
#include <vector>

// "Password": one masked field.
class DPassword {
public:
    // The Email window asks with a 256-character buffer.
    static constexpr std::size_t kMaxLength = 255;

    explicit DPassword(std::string title = "Password") : m_szTitle(std::move(title)) {}
    // What OK gives: the typed text, cut to the buffer.
    std::string Result() const { return m_szPassword.substr(0, kMaxLength); }

    std::string m_szTitle;
    std::string m_szPassword;
};

// "Find": a text searched for in a window's rows.
class DFind {
public:
    static constexpr const char* kTitle = "Find";

    // The first row at or after iFrom that holds the text, both compared in
    // lower case; -1 when none (or when the text is empty).
    static int Search(const std::vector<std::string>& rows, const std::string& text, int iFrom);
    // "&Find" starts at the first row, "&Repeat" after the current one.
    int Find(const std::vector<std::string>& rows) const { return Search(rows, m_szText, 0); }
    int Repeat(const std::vector<std::string>& rows, int iCurrent) const
    {
        return Search(rows, m_szText, iCurrent + 1);
    }

    std::string m_szText;
};

// "Add a Newsgroup": one name.
class DAddGroup {
public:
    static constexpr const char* kTitle = "Add a Newsgroup";
    enum Field { NONE, NAME };

    // The name without surrounding blanks.
    std::string Name() const;
    // A name must be one word the newsgroup file can hold: not empty, no
    // blank, comma or control character.
    dlg::OkResult CheckOk() const;

    std::string m_szName;
};

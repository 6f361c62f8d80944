// "Group Settings": the newsgroup list edited on a working copy.  Groups
// are selected, set to automatic or manual retrieval, given a start by date
// or by article number and a login; groups are added and deleted.  OK puts
// the copy in place of the list and writes its file; Cancel drops it.
#pragma once

#include "dialogs/DialogCommon.h"
#include "newsgroups/Newsgroups.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DGroupSettings {
public:
    static constexpr const char* kTitle = "Group Settings";
    enum Field { NONE, LIST, PASSWORD, CONFIRM };

    // A copy of every group of the list, sorted.
    explicit DGroupSettings(Newsgroups& list);
    // A copy holding only the named group (the groups window's popup menu).
    DGroupSettings(Newsgroups& list, const std::string& group);

    // "+" or a blank, a tab, the name: one row per group of the copy.
    std::vector<std::string> Rows() const;
    int Count() const { return m_pCopy->Count(); }

    // The current row (-1 when the copy is empty).  Changing it settles the
    // password fields first (see CheckPassword); false when they do not
    // match and the row stays.
    int Current() const { return m_iCurrent; }
    bool SetCurrent(int iRow);

    // Flips the selection of the highlighted rows, or of the current row
    // when fewer than two rows are highlighted.
    void Toggle(const std::vector<int>& highlighted);

    // The current group's settings; every change goes to it at once.
    const newsgr* Group() const;
    bool Automatic() const;
    void SetAutomatic(bool bAutomatic);
    bool UseDate() const;
    void SetUseDate(bool bUseDate);
    // Which start fields can be changed: the date's or the number's.
    bool DateEnabled() const { return UseDate(); }
    bool NumberEnabled() const { return !UseDate(); }
    std::int32_t FirstArticle() const;
    void SetFirstArticle(std::int32_t lNumber);
    // The start date as a local calendar date (month 1..12, full year).
    void Date(int& iMonth, int& iDay, int& iYear) const;
    // Sets the date (day kept within the month, year within what the list
    // file's 32-bit times can hold).
    void SetDate(int iMonth, int iDay, int iYear);
    static constexpr int kFirstYear = 1970;
    static constexpr int kLastYear = 2037;
    // The month names of the month list.
    static std::vector<std::string> MonthNames();
    void SetUser(const std::string& user);

    // The password and its confirmation, as typed.  A new password reaches
    // the group only when both match.
    void SetPassword(const std::string& text);
    void SetConfirm(const std::string& text);
    const std::string& PasswordField() const { return m_szPassword; }
    const std::string& ConfirmField() const { return m_szConfirm; }
    // When the password was edited and the two differ, both are cleared,
    // the error is shown and the focus goes to the password (the group
    // keeps the password it had).
    dlg::OkResult CheckPassword();

    // "Set &Globally": the current group's start (number, date, kind) and
    // retrieval kind go to every group.
    void SetGlobally();
    // "&Add": a new name is added selected, from article 1 and now; an
    // existing one is only selected.  Returns its row, or -1 for a name
    // that cannot be a group (the error was shown).
    int Add(const std::string& name);
    // "&Delete": the highlighted rows' groups leave the copy.
    void Delete(const std::vector<int>& rows);
    // "&Find": the row found, -1 when none ("Could not find group." shown).
    int Find(const std::string& text, int iFrom);

    // OK: settles the password, then puts the copy in the list's place
    // and writes the list's file (a failure to write is reported).  False
    // when the dialog must stay open (the password).
    bool Apply();

private:
    void LoadFields();
    newsgr* Mutable();

    Newsgroups& m_list;
    std::string m_szOnlyGroup; // the single-group form
    std::unique_ptr<Newsgroups> m_pCopy;
    int m_iCurrent = -1;
    std::string m_szPassword;
    std::string m_szConfirm;
    bool m_bPasswordEdited = false;
};

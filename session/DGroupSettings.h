// The Group Settings dialog's logic, without widgets.
//
// It works on a copy of the newsgroup list, so Cancel drops every change:
// either a working copy of the whole list (the Groups menu's Settings) or a
// copy holding one group (the "Usenet Groups" window's popup).  The dialog
// lists the copy as "%c\t%s" rows ("+" for a selected group, the name) and
// edits the current row's group: every change goes to that group at once.
// Texts that the newsgroup file could not store (a comma or a line end in a
// name, user name or password) are refused where they are typed, with a
// message.  What OK does with the copy is its owner's business (the main
// window replaces the list, the groups window copies one group back).
#pragma once

#include "newsgroups/Newsgroups.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DGroupSettings {
public:
    // A working copy of the whole list.
    explicit DGroupSettings(const Newsgroups& list);
    // A copy holding only this group.
    explicit DGroupSettings(const newsgr& group);

    bool SingleGroup() const { return m_bSingle; }

    // The dialog's list.
    std::int32_t Count() const { return m_pCopy->Count(); }
    std::string Row(std::int32_t iRow) const;
    std::vector<std::string> Rows() const;
    // The row whose group the fields show; -1 when none.
    std::int32_t Current() const { return m_iCurrent; }
    void SetCurrent(std::int32_t iRow);
    // Flips the "+" mark (selection) of these rows (the highlighted ones);
    // of the current row when none is given.
    void Toggle(const std::vector<std::int32_t>& rows);

    // The current group's fields.  Without a current row they read as empty
    // and setting them does nothing.
    std::string Name() const;
    // "Automatically retrieve articles", else "Manually retrieve articles
    // from header list".
    bool Automatic() const;
    void SetAutomatic(bool bAutomatic);
    // "Use date", else "Use number": which new article pointer counts; the
    // fields of the other kind are disabled.
    bool UseDate() const;
    void SetUseDate(bool bUseDate);
    // The date pointer in local time: full year, month 1..12, day 1..31.
    int Year() const;
    int Month() const;
    int Day() const;
    // Sets the date pointer to the start of that local day.  False (nothing
    // changed) when it is no such day or outside 1970..2037.
    bool SetDate(int iYear, int iMonth, int iDay);
    // "First Article": the number pointer.
    std::int32_t FirstArticle() const;
    void SetFirstArticle(std::int32_t lFirst);
    std::string User() const;
    // False (a message said why; nothing changed) for a text the newsgroup
    // file cannot store.
    bool SetUser(const std::string& user);
    std::string Password() const;
    // The Password and Confirm fields after the password was edited.  When
    // they differ, both are to be cleared (and so is the group's password):
    // message 850, false, and the focus goes back to Password.  A text the
    // file cannot store is refused the same way with its own message.
    bool SetPassword(const std::string& password, const std::string& confirm);

    // "Set Globally": the current group's number and date pointers and its
    // kinds of retrieval and of pointer go to every group of the copy.
    void SetGlobally();
    // "Add": a name not in the copy yet is added selected, with number
    // pointer 1 and date pointer now; an existing name is just found.
    // Returns the name's row (now current), or -1 when the name is refused
    // (a message said why).
    std::int32_t Add(const std::string& name);
    // "Delete": the groups of these rows (the highlighted ones) go.
    void Delete(const std::vector<std::int32_t>& rows);
    // "Find": the first row from the top (bRepeat: after the current row)
    // holding the text, ignoring case; it becomes current.  -1 and "Could
    // not find group." when none does.
    std::int32_t Find(const std::string& text, bool bRepeat);

    // The edited copy, for OK.
    Newsgroups& Copy() { return *m_pCopy; }

    // The month names of the date fields (1..12).
    static std::string MonthName(int iMonth);

private:
    newsgr* CurrentGroup() const;

    std::unique_ptr<Newsgroups> m_pCopy;
    bool m_bSingle;
    std::int32_t m_iCurrent = -1;
};

// Find Group over list rows, shared by the dialog and the "Usenet Groups"
// window: the first row at or after iFrom that holds the text, both
// lower-cased; -1 when none does.
std::int32_t FindRow(const std::vector<std::string>& rows, const std::string& text,
                     std::int32_t iFrom);

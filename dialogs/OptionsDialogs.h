// The option dialogs made only of check boxes, radio button groups and spin
// fields: each is a table of its controls (section, key, text, default,
// range) over a common model that loads, clamps, enables and writes them.
#pragma once

#include "dialogs/DialogCommon.h"

#include <string>
#include <vector>

class TnIni;
class Newsgroups;

struct OptionControl {
    enum Kind { FLAG, SPIN, CHOICE };
    Kind kind;
    const char* pszSection;
    const char* pszKey;
    const char* pszLabel; // check box text, spin field label, radio group title
    int iDefault;
    dlg::SpinRange range;             // SPIN: its range; FLAG 0..1; CHOICE 0..n-1
    const char* pszUnit = nullptr;    // SPIN: "(K)", "(days)" ...
    std::vector<const char*> choices; // CHOICE: the radio buttons, value 0 first
};

class OptionsDialog {
public:
    virtual ~OptionsDialog() = default;

    const std::string& Title() const { return m_title; }
    const std::vector<OptionControl>& Controls() const { return m_controls; }
    // The control of a key (keys are unique within a dialog); -1 when none.
    int Index(const std::string& key) const;

    int Value(const std::string& key) const;
    bool Checked(const std::string& key) const { return Value(key) != 0; }
    // The user changed a control: the value is kept within the control's
    // range, and the change rule of the dialog runs (a warning when a box
    // is checked whose step cannot work).
    void Change(const std::string& key, int iValue);
    // Whether a control can be changed now (some depend on another).
    virtual bool Enabled(const std::string& key) const { return true; }

    dlg::OkResult CheckOk() const { return dlg::OkResult::Accept(); }
    // Writes every control's key in table order; false when the settings
    // file could not be written.
    [[nodiscard]] bool Save(TnIni& ini) const;

protected:
    OptionsDialog(std::string title, std::vector<OptionControl> controls, const TnIni& ini);
    // Called after a control's value changed.
    virtual void OnChanged(const std::string& key, int iValue) {}

private:
    std::string m_title;
    std::vector<OptionControl> m_controls;
    std::vector<int> m_values;
};

// "Group Window Options".
class DGroupConfig : public OptionsDialog {
public:
    explicit DGroupConfig(const TnIni& ini);

protected:
    void OnChanged(const std::string& key, int iValue) override;
};

// "Article Options": outgoing encoding and the retrieval limits.
class DArticleConfig : public OptionsDialog {
public:
    explicit DArticleConfig(const TnIni& ini);
    // The file encodings do not apply while MIME is on.
    bool Enabled(const std::string& key) const override;
};

// "Email Options".
class DEmailConfig : public OptionsDialog {
public:
    explicit DEmailConfig(const TnIni& ini);
    // The file encodings do not apply while MIME is on; "Clear after" only
    // while the mailbox is cleared.
    bool Enabled(const std::string& key) const override;
};

// "General Options".
class DTolvanConfig : public OptionsDialog {
public:
    explicit DTolvanConfig(const TnIni& ini);
    // "Beep when done" only while sounds are on.
    bool Enabled(const std::string& key) const override;
};

// "Autorun": the steps of the sequence.  Checking a step whose settings
// are missing warns (the box stays checked).
class DAutorun : public OptionsDialog {
public:
    // pGroups: the newsgroup list (may be null: no group is set up).
    DAutorun(const TnIni& ini, Newsgroups* pGroups);

protected:
    void OnChanged(const std::string& key, int iValue) override;

private:
    const TnIni& m_ini;
    Newsgroups* m_pGroups;
};

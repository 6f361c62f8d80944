// What every settings dialog shares: the answer to OK, the messages its
// checks show, and the spin ranges.  The dialogs of this folder hold no
// widgets: each is the fields of one dialog loaded from the settings, the
// rules that enable or gray its controls, the checks that run when OK is
// pressed, and the writing back.  The window program lays them out.
#pragma once

#include <cstddef>
#include <string>

namespace dlg {

// The outcome of pressing OK: accepted (the settings may be written), or
// the dialog stays open with the focus on a field (a dialog's own enum).
struct OkResult {
    bool bAccepted = true;
    int iFocus = 0;
    static OkResult Accept() { return OkResult{true, 0}; }
    static OkResult StayOn(int iField) { return OkResult{false, iField}; }
};

// The inclusive range of a spin field.
struct SpinRange {
    int iMin = 0;
    int iMax = 0;
    int Clamp(int iValue) const { return iValue < iMin ? iMin : (iValue > iMax ? iMax : iValue); }
};

// Registers the dialogs' texts in the string table (once).
void RegisterDialogStrings();

// A failed input check: the "ERROR!" box with the stop icon, not shown
// while an Autorun sequence runs.  Unlike Error() it is not a failure of
// the run (a mistyped field must not change the program's exit status).
void CheckError(int iStringId);
void CheckError(const std::string& text);

// Texts the settings file keeps whole: at most 79 characters (longer ones
// would be cut when read back) and no line breaks.  Passwords: at most 51
// characters, 7-bit (the scrambling keeps nothing else).  Each shows the
// error and sets the result to stay on the field when the text does not fit.
// nMax: a longer limit for keys read back whole (0: the usual 79).
bool TextFits(const std::string& text, int iField, OkResult& result, std::size_t nMax = 0);
bool PasswordFits(const std::string& text, int iField, OkResult& result);

// The text before the first at sign ("" when there is none) and after it.
std::string BeforeAt(const std::string& text);
std::string AfterAt(const std::string& text);
bool HasAt(const std::string& text);

// Replaces the first "%s" of a template.
std::string FormatText(const std::string& pattern, const std::string& value);

} // namespace dlg

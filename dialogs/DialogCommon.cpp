#include "dialogs/DialogCommon.h"

#include "core/Services.h"
#include "core/Strings.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"

namespace dlg {

void RegisterDialogStrings()
{
    static bool s_bDone = false;
    if (s_bDone)
        return;
    s_bDone = true;
    const std::pair<int, const char*> strings[] = {
        {832, "Mail Tolvan could not find the VDRQWK.INI file\nSearch for the file?"},
        {833, "This is not a VDRQWK.INI file."},
        {839, "The NNTP Server name is not required for connecting.\nHowever, you will not be "
              "able to post or retrieve Usnet news.\nLeave NNTP Server name blank?"},
        {840, "The NNTP TCP Port cannot be zero!\nThe standard value for the port is 119."},
        {841, "The SMTP Server name is required for posting mail.\nLeave SMTP Server name "
              "blank?"},
        {842, "The SMTP TCP Port cannot be zero!\nThe standard value for the port is 25."},
        {843, "The POP3 Server name is required for receiving mail.\nLeave POP3 Server name "
              "blank?"},
        {844, "Your user name is required for receiving mail."},
        {845, "A password is required for receiving mail.\nEnter your password when you go "
              "online?"},
        {846, "The POP3 TCP Port cannot be zero!\nThe standard value for the port is 110."},
        {847, "You will not be able to post mail or news articles\nwithout your name."},
        {848, "You will not be able to post mail or news articles\nwithout your email address."},
        {850, "The Password and Confirm do not match."},
        {853, "You have not specified an NNTP server. \nAutorun will not retrieve or post "
              "articles."},
        {854, "You do not have any groups selected for auto-retrieval.\nAutorun will not "
              "retrieve any articles."},
        {855, "You have not specified an SMTP server\nAutorun will not post any email."},
        {856, "You have not specified all the POP3 server information.\nAutorun will not "
              "retrieve any email."},
        {857, "You have not specified a QWK reader."},
        {859, "Enabling all groups in your CONTROL.DAT may cause\nyour Mail Reader to crash if "
              "it can't handle large\nnumber of newsgroups (typically 16,000 and over)."},
    };
    for (const auto& [id, text] : strings)
        RegisterString(id, text);
}

void CheckError(const std::string& text)
{
    if (AutorunRunning())
        return;
    fw::MessageBoxes().Show(text.substr(0, 200), "ERROR!", fw::MbIcon::Stop, fw::MbButtons::Ok);
}

void CheckError(int iStringId)
{
    RegisterDialogStrings();
    CheckError(LoadStringRes(iStringId));
}

bool TextFits(const std::string& text, int iField, OkResult& result, std::size_t nMax)
{
    if (nMax == 0)
        nMax = TnIni::kMaxText;
    if (text.size() > nMax) {
        CheckError("This entry is longer than " + std::to_string(nMax) +
                   " characters; the settings file cannot keep it.");
        result = OkResult::StayOn(iField);
        return false;
    }
    if (text.find_first_of("\r\n") != std::string::npos) {
        CheckError("This entry cannot hold a line break.");
        result = OkResult::StayOn(iField);
        return false;
    }
    return true;
}

bool PasswordFits(const std::string& text, int iField, OkResult& result)
{
    bool bAscii = true;
    for (unsigned char c : text)
        if (c >= 0x80 || c < 0x20)
            bAscii = false;
    if (text.size() > TnIni::kMaxPassword || !bAscii) {
        CheckError("A password can have at most " + std::to_string(TnIni::kMaxPassword) +
                   " characters, and only letters, digits, blanks and the punctuation of "
                   "plain ASCII.");
        result = OkResult::StayOn(iField);
        return false;
    }
    return true;
}

std::string BeforeAt(const std::string& text)
{
    std::size_t at = text.find('@');
    return at == std::string::npos ? std::string() : text.substr(0, at);
}

std::string AfterAt(const std::string& text)
{
    std::size_t at = text.find('@');
    return at == std::string::npos ? std::string() : text.substr(at + 1);
}

bool HasAt(const std::string& text) { return text.find('@') != std::string::npos; }

std::string FormatText(const std::string& pattern, const std::string& value)
{
    std::size_t at = pattern.find("%s");
    if (at == std::string::npos)
        return pattern;
    return pattern.substr(0, at) + value + pattern.substr(at + 2);
}

} // namespace dlg

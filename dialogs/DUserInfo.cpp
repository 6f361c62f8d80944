#include "dialogs/DUserInfo.h"

#include "core/Services.h"
#include "core/TnIni.h"

using dlg::OkResult;

DUserInfo::DUserInfo(const TnIni& ini)
{
    dlg::RegisterDialogStrings();
    m_szName = ini.GetString("User", "Name", "Your Name Here");
    m_szEmailAddress = ini.GetString("User", "EmailAddress", kPlaceholderEmail);
    m_szReplyToAddress = ini.GetString("User", "ReplyToAddress", "");
    m_szOrganization = ini.GetString("User", "Organization", "");
}

OkResult DUserInfo::CheckOk() const
{
    dlg::RegisterDialogStrings();
    if (m_szName.empty()) {
        Warning(847);
        return OkResult::StayOn(NAME);
    }
    if (m_szEmailAddress.empty()) {
        Warning(848);
        return OkResult::StayOn(EMAIL);
    }
    OkResult result;
    const std::pair<const std::string*, Field> texts[] = {{&m_szName, NAME},
                                                          {&m_szEmailAddress, EMAIL},
                                                          {&m_szReplyToAddress, REPLY_TO},
                                                          {&m_szOrganization, ORGANIZATION}};
    for (const auto& [pText, field] : texts)
        if (!dlg::TextFits(*pText, field, result))
            return result;
    return OkResult::Accept();
}

bool DUserInfo::Save(TnIni& ini) const
{
    bool bOk = true;
    bOk &= ini.WriteString("User", "Name", m_szName);
    bOk &= ini.WriteString("User", "EmailAddress", m_szEmailAddress);
    bOk &= ini.WriteString("User", "ReplyToAddress", m_szReplyToAddress);
    bOk &= ini.WriteString("User", "Organization", m_szOrganization);
    return bOk;
}

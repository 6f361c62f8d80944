// "Personal Information": the name, addresses and organisation that go on
// outgoing mail and news.
#pragma once

#include "dialogs/DialogCommon.h"

#include <string>

class TnIni;

class DUserInfo {
public:
    static constexpr const char* kTitle = "Personal Information";
    enum Field { NONE, NAME, EMAIL, REPLY_TO, ORGANIZATION };

    explicit DUserInfo(const TnIni& ini);
    // An empty name or address warns and keeps the dialog open on it.
    dlg::OkResult CheckOk() const;
    [[nodiscard]] bool Save(TnIni& ini) const;

    std::string m_szName;
    std::string m_szEmailAddress;
    std::string m_szReplyToAddress;
    std::string m_szOrganization;
};

// "News and Mail Server Info": the three servers, their ports, the two
// logins and the time zone.
#pragma once

#include "dialogs/DialogCommon.h"

#include <string>

class TnIni;

class DServerInfo {
public:
    static constexpr const char* kTitle = "News and Mail Server Info";
    // Port fields take at most this many digits.
    static constexpr int kPortDigits = 5;

    // Fields, for the focus after a failed check.
    enum Field {
        NONE,
        NNTP_SERVER,
        NNTP_PORT,
        NNTP_NAME,
        NNTP_PASSWORD,
        SMTP_SERVER,
        SMTP_PORT,
        POP3_SERVER,
        POP3_PORT,
        POP3_NAME,
        POP3_PASSWORD,
    };

    // Loads the fields.  Passwords are shown in plain text, and only when
    // their save flag is set.
    explicit DServerInfo(const TnIni& ini);

    // The time zone list is shown only on a platform that cannot tell its
    // own zone.
    static bool ShowsTimeZone();
    // A port field's text as a number: digits only (anything else gives
    // -1), at most kPortDigits of them; empty gives 0.
    static int ParsePort(const std::string& text);

    // The checks of OK, in order, stopping at the first that keeps the
    // dialog open.  Shows the errors, warnings and questions.
    dlg::OkResult CheckOk() const;

    // Writes every key (ports, servers, names, save flags, the time zone
    // where it is shown, then the passwords).  False when the settings file
    // could not be written.
    [[nodiscard]] bool Save(TnIni& ini) const;

    std::string m_szNntpServer;
    int m_iNntpPort = 119;
    std::string m_szNntpName;
    std::string m_szNntpPassword;
    bool m_bNntpSavePassword = true;
    std::string m_szSmtpServer;
    int m_iSmtpPort = 25;
    std::string m_szPop3Server;
    int m_iPop3Port = 110;
    std::string m_szPop3Name;
    std::string m_szPop3Password;
    bool m_bPop3SavePassword = true;
    int m_iTimeZone = 20; // index into the zone list

private:
    bool PortOk(int iPort, int iZeroMessage, const char* pszServer, Field field,
                dlg::OkResult& result) const;
};

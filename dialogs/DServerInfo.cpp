#include "dialogs/DServerInfo.h"

#include "core/Services.h"
#include "core/TnIni.h"
#include "util/TimeZone.h"

using dlg::OkResult;

DServerInfo::DServerInfo(const TnIni& ini)
{
    dlg::RegisterDialogStrings();
    m_szNntpServer = ini.GetString("Servers", "NNTPServer", "news");
    m_iNntpPort = ini.GetInt("Servers", "NNTPPort", 119);
    m_szNntpName = ini.GetString("Servers", "NNTPName", "");
    m_bNntpSavePassword = ini.GetInt("Servers", "NNTPSavePassword", 1) != 0;
    if (m_bNntpSavePassword)
        m_szNntpPassword = ini.GetNntpPassword();
    m_szSmtpServer = ini.GetString("Servers", "SMTPServer", "mail");
    m_iSmtpPort = ini.GetInt("Servers", "SMTPPort", 25);
    m_szPop3Server = ini.GetString("Servers", "POP3Server", "mail");
    m_iPop3Port = ini.GetInt("Servers", "POP3Port", 110);
    m_szPop3Name = ini.GetString("Servers", "POP3Name", "");
    m_bPop3SavePassword = ini.GetInt("Servers", "POP3SavePassword", 1) != 0;
    if (m_bPop3SavePassword)
        m_szPop3Password = ini.GetPop3Password();
    m_iTimeZone = ini.GetInt("Servers", "TimeZone", 20);
    if (m_iTimeZone < 0 || m_iTimeZone >= tz::kTableSize)
        m_iTimeZone = 20;
}

bool DServerInfo::ShowsTimeZone() { return PlatformIs(0); }

int DServerInfo::ParsePort(const std::string& text)
{
    if (text.size() > static_cast<std::size_t>(kPortDigits))
        return -1;
    int iPort = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        iPort = iPort * 10 + (c - '0');
    }
    return iPort;
}

// Port 0 is refused with the dialog's own message.  A number the field
// cannot hold or above 65535 is refused too: it could never be connected
// to, and the session would fail far from where the mistake was made.
bool DServerInfo::PortOk(int iPort, int iZeroMessage, const char* pszServer, Field field,
                         OkResult& result) const
{
    if (iPort == 0) {
        dlg::CheckError(iZeroMessage);
        result = OkResult::StayOn(field);
        return false;
    }
    if (iPort < 0 || iPort > 65535) {
        dlg::CheckError(std::string("The ") + pszServer +
                        " TCP Port must be a number from 1 to 65535.");
        result = OkResult::StayOn(field);
        return false;
    }
    return true;
}

OkResult DServerInfo::CheckOk() const
{
    dlg::RegisterDialogStrings();
    OkResult result;
    if (m_szNntpServer.empty()) {
        if (!Confirm(839))
            return OkResult::StayOn(NNTP_SERVER);
    } else if (dlg::HasAt(m_szNntpServer)) {
        Warning(dlg::FormatText("Your user name: %s\nis prepended on the NNTP server name.\nThis "
                                "will override the NNTP user name field.",
                                dlg::BeforeAt(m_szNntpServer)));
    }
    if (!PortOk(m_iNntpPort, 840, "NNTP", NNTP_PORT, result))
        return result;
    if (dlg::HasAt(m_szNntpName))
        Warning(dlg::FormatText("The server name: %s\nis appended on the NNTP user name.\nThis "
                                "will be ignored.",
                                dlg::AfterAt(m_szNntpName)));
    if (m_szSmtpServer.empty() && !Confirm(841))
        return OkResult::StayOn(SMTP_SERVER);
    if (!PortOk(m_iSmtpPort, 842, "SMTP", SMTP_PORT, result))
        return result;
    if (m_szPop3Server.empty()) {
        if (!Confirm(843))
            return OkResult::StayOn(POP3_SERVER);
    } else if (dlg::HasAt(m_szPop3Server)) {
        Warning(dlg::FormatText("Your user name: %s\nis prepended on the POP3 server name.\nThis "
                                "will override the POP3 user name field.",
                                dlg::BeforeAt(m_szPop3Server)));
    }
    if (!PortOk(m_iPop3Port, 846, "POP3", POP3_PORT, result))
        return result;
    if (!m_szPop3Server.empty()) {
        if (m_szPop3Name.empty()) {
            dlg::CheckError(844);
            return OkResult::StayOn(POP3_NAME);
        }
        if (dlg::HasAt(m_szPop3Name))
            Warning(dlg::FormatText("The server name: %s\nis appended on the POP3 user "
                                    "name.\nThis will be ignored.",
                                    dlg::AfterAt(m_szPop3Name)));
        if (m_szPop3Password.empty() && m_bPop3SavePassword && !Confirm(845))
            return OkResult::StayOn(POP3_PASSWORD);
    }
    // What the settings file cannot keep is refused rather than cut or
    // mangled when stored: texts are read back cut to 79 characters, and
    // the password scrambling keeps 7-bit characters only, 51 at most.
    const std::pair<const std::string*, Field> texts[] = {{&m_szNntpServer, NNTP_SERVER},
                                                          {&m_szNntpName, NNTP_NAME},
                                                          {&m_szSmtpServer, SMTP_SERVER},
                                                          {&m_szPop3Server, POP3_SERVER},
                                                          {&m_szPop3Name, POP3_NAME}};
    for (const auto& [pText, field] : texts)
        if (!dlg::TextFits(*pText, field, result))
            return result;
    if (!dlg::PasswordFits(m_szNntpPassword, NNTP_PASSWORD, result) ||
        !dlg::PasswordFits(m_szPop3Password, POP3_PASSWORD, result))
        return result;
    return OkResult::Accept();
}

bool DServerInfo::Save(TnIni& ini) const
{
    bool bOk = true;
    bOk &= ini.WriteInt("Servers", "NNTPPort", m_iNntpPort);
    bOk &= ini.WriteInt("Servers", "SMTPPort", m_iSmtpPort);
    bOk &= ini.WriteInt("Servers", "POP3Port", m_iPop3Port);
    bOk &= ini.WriteString("Servers", "NNTPServer", m_szNntpServer);
    bOk &= ini.WriteString("Servers", "SMTPServer", m_szSmtpServer);
    bOk &= ini.WriteString("Servers", "POP3Server", m_szPop3Server);
    bOk &= ini.WriteString("Servers", "POP3Name", m_szPop3Name);
    bOk &= ini.WriteString("Servers", "NNTPName", m_szNntpName);
    bOk &= ini.WriteInt("Servers", "POP3SavePassword", m_bPop3SavePassword ? 1 : 0);
    bOk &= ini.WriteInt("Servers", "NNTPSavePassword", m_bNntpSavePassword ? 1 : 0);
    if (ShowsTimeZone())
        bOk &= ini.WriteInt("Servers", "TimeZone", m_iTimeZone);
    // The stores read the save flags just written: a password whose flag is
    // off is stored as a scrambled empty text.
    bOk &= ini.StoreNntpPassword(m_szNntpPassword);
    bOk &= ini.StorePop3Password(m_szPop3Password);
    return bOk;
}

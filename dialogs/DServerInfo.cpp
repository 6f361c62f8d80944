#include "dialogs/DServerInfo.h"

#include "core/Services.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "util/TimeZone.h"

#include <cctype>
#include <strings.h>

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
    m_szSmtpName = ini.GetString("Servers", "SMTPName", "");
    m_bSmtpSavePassword = ini.GetInt("Servers", "SMTPSavePassword", 1) != 0;
    if (m_bSmtpSavePassword) {
        m_szSmtpPassword = ini.GetString("Servers", "SMTPPassword", "");
        TnIni::ScramblePassword(m_szSmtpPassword, false);
    }
    for (int i = 0; i < kServers; ++i) {
        const std::string name = ServerName(Server(i));
        Encryption& e = m_secured[i];
        e.iSecurity = ParseSecurity(ini.GetString("Servers", (name + "Security").c_str(), "auto"));
        e.szFingerprint = ini.GetString("Servers", (name + "Fingerprint").c_str(), "");
        e.szPasswordCommand = ini.GetString("Servers", (name + "PasswordCommand").c_str(), "");
        e.bAccessToken =
            TakesAccessToken(Server(i)) && ini.GetInt("Servers", (name + "OAuth2").c_str(), 0) == 1;
    }
}

const char* DServerInfo::SecurityName(int iSecurity)
{
    static const char* const s_names[] = {"auto", "starttls", "tls", "none"};
    return iSecurity >= 0 && iSecurity < kSecurities ? s_names[iSecurity] : s_names[SEC_AUTO];
}

int DServerInfo::ParseSecurity(const std::string& text)
{
    for (int i = 0; i < kSecurities; ++i)
        if (strcasecmp(text.c_str(), SecurityName(i)) == 0)
            return i;
    return SEC_AUTO;
}

const char* DServerInfo::SecurityLabel(int iSecurity)
{
    static const char* const s_labels[] = {"STARTTLS when offered", "STARTTLS required",
                                           "TLS from the start", "No encryption"};
    return iSecurity >= 0 && iSecurity < kSecurities ? s_labels[iSecurity] : s_labels[SEC_AUTO];
}

const char* DServerInfo::ServerName(Server server)
{
    static const char* const s_names[] = {"NNTP", "SMTP", "POP3"};
    return s_names[server];
}

int DServerInfo::PlainPort(Server server)
{
    static const int s_ports[] = {119, 25, 110};
    return s_ports[server];
}

int DServerInfo::TlsPort(Server server)
{
    static const int s_ports[] = {563, 465, 995};
    return s_ports[server];
}

int& DServerInfo::Port(Server server)
{
    return server == NNTP ? m_iNntpPort : server == SMTP ? m_iSmtpPort : m_iPop3Port;
}

bool DServerInfo::ParseFingerprint(const std::string& text, std::string& normalized)
{
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == ' ') {
            if (digits.size() % 2 != 0) // inside a pair
                return false;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    // Blanks alone are an empty field; colons alone are not.
    if (digits.empty() ? text.find(':') != std::string::npos : digits.size() != 64)
        return false;
    normalized.clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        if (i)
            normalized += ':';
        normalized += digits.substr(i, 2);
    }
    return true;
}

bool DServerInfo::ChooseSecurity(Server server, int iSecurity)
{
    if (iSecurity < 0 || iSecurity >= kSecurities)
        return false;
    m_secured[server].iSecurity = iSecurity;
    int& iPort = Port(server);
    const int iBefore = iPort;
    if (iSecurity == SEC_TLS) {
        if (iPort == PlainPort(server) || (server == SMTP && iPort == kSubmissionPort))
            iPort = TlsPort(server);
        return iPort != iBefore;
    }
    // Encryption after the greeting, or none, speaks the plain protocol.
    if (iPort == TlsPort(server))
        iPort = PlainPort(server);
    if (server == SMTP && iSecurity == SEC_STARTTLS && iPort == PlainPort(SMTP)) {
        dlg::RegisterDialogStrings();
        // Port 25 often takes mail only for its own domain, and some
        // networks block it; the submission port is meant for senders.
        if (fw::MessageBoxes().Show("Many mail providers accept mail with STARTTLS on the "
                                    "submission port 587 only.\nUse port 587 for SMTP?",
                                    kTitle, fw::MbIcon::Question,
                                    fw::MbButtons::YesNo) == fw::IDYES)
            iPort = kSubmissionPort;
    }
    return iPort != iBefore;
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
    if (!dlg::TextFits(m_szSmtpName, SMTP_NAME, result) ||
        !dlg::PasswordFits(m_szSmtpPassword, SMTP_PASSWORD, result))
        return result;
    for (int i = 0; i < kServers; ++i)
        if (!EncryptionOk(Server(i), result))
            return result;
    return OkResult::Accept();
}

// The fields of one server's encryption and password command.
bool DServerInfo::EncryptionOk(Server server, OkResult& result) const
{
    static const struct {
        Field fingerprint, command, token;
    } s_fields[] = {
        {NNTP_FINGERPRINT, NNTP_PASSWORD_COMMAND, NNTP_PASSWORD_COMMAND},
        {SMTP_FINGERPRINT, SMTP_PASSWORD_COMMAND, SMTP_ACCESS_TOKEN},
        {POP3_FINGERPRINT, POP3_PASSWORD_COMMAND, POP3_ACCESS_TOKEN},
    };
    const Encryption& e = m_secured[server];
    const std::string name = ServerName(server);
    std::string normalized;
    if (!ParseFingerprint(e.szFingerprint, normalized)) {
        dlg::CheckError("The " + name +
                        " certificate fingerprint must be a SHA-256 fingerprint: 64 hex "
                        "digits, in pairs that may be separated by colons or blanks.");
        result = OkResult::StayOn(s_fields[server].fingerprint);
        return false;
    }
    if (!normalized.empty() && e.iSecurity == SEC_NONE) {
        // A pinned certificate with encryption off would never be checked.
        dlg::CheckError("The " + name +
                        " certificate fingerprint needs an encrypted connection: choose "
                        "STARTTLS or TLS, or clear the fingerprint.");
        result = OkResult::StayOn(s_fields[server].fingerprint);
        return false;
    }
    if (!dlg::TextFits(e.szPasswordCommand, s_fields[server].command, result, kMaxCommand))
        return false;
    if (e.bAccessToken && TakesAccessToken(server) && e.szPasswordCommand.empty()) {
        dlg::CheckError("The " + name +
                        " access token comes from a password command: enter the command, or "
                        "clear \"Access token\".");
        result = OkResult::StayOn(s_fields[server].command);
        return false;
    }
    return true;
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
    bOk &= ini.WriteString("Servers", "SMTPName", m_szSmtpName);
    bOk &= ini.WriteInt("Servers", "SMTPSavePassword", m_bSmtpSavePassword ? 1 : 0);
    // Like the others: scrambled, and empty when it is not to be saved.
    std::string smtp = m_bSmtpSavePassword ? m_szSmtpPassword : std::string();
    TnIni::ScramblePassword(smtp, true);
    bOk &= ini.WriteString("Servers", "SMTPPassword", smtp);
    for (int i = 0; i < kServers; ++i) {
        const std::string name = ServerName(Server(i));
        const Encryption& e = m_secured[i];
        std::string fingerprint;
        (void)ParseFingerprint(e.szFingerprint, fingerprint); // checked by CheckOk
        bOk &= ini.WriteString("Servers", (name + "Security").c_str(), SecurityName(e.iSecurity));
        bOk &= ini.WriteString("Servers", (name + "Fingerprint").c_str(), fingerprint);
        bOk &= ini.WriteString("Servers", (name + "PasswordCommand").c_str(), e.szPasswordCommand);
        if (TakesAccessToken(Server(i)))
            bOk &= ini.WriteInt("Servers", (name + "OAuth2").c_str(), e.bAccessToken ? 1 : 0);
    }
    return bOk;
}

#include "proto/ServerSecurity.h"

#include "core/TnIni.h"

#include <strings.h>

int ServerSecurity::ParseMode(const std::string& text)
{
    static const char* const kNames[] = {"auto", "starttls", "tls", "none"};
    for (int i = 0; i < 4; ++i)
        if (strcasecmp(text.c_str(), kNames[i]) == 0)
            return i;
    return AUTO;
}

const char* ServerSecurity::ModeName(int iMode)
{
    static const char* const kNames[] = {"auto", "starttls", "tls", "none"};
    return iMode >= 0 && iMode < 4 ? kNames[iMode] : "auto";
}

ServerSecurity ServerSecurity::For(const std::string& protocol, int iMode)
{
    ServerSecurity s;
    s.iMode = iMode;
    if (protocol == "POP3") {
        s.wPlainPort = 110;
        s.wTlsPort = 995;
    } else if (protocol == "NNTP") {
        s.wPlainPort = 119;
        s.wTlsPort = 563;
    } else if (protocol == "SMTP") {
        s.wPlainPort = 25;
        s.wTlsPort = 465;
    }
    return s;
}

ServerSecurity SecurityFromSettings(const std::string& protocol)
{
    if (!g_pIni)
        return ServerSecurity::For(protocol, ServerSecurity::NONE);
    ServerSecurity s =
        ServerSecurity::For(protocol, ServerSecurity::ParseMode(g_pIni->GetString(
                                          "Servers", (protocol + "Security").c_str(), "auto")));
    s.strPin = g_pIni->GetString("Servers", (protocol + "Fingerprint").c_str(), "");
    s.strPasswordCommand = g_pIni->GetString("Servers", (protocol + "PasswordCommand").c_str(), "");
    if (protocol != "NNTP")
        s.bOAuth2 = g_pIni->GetInt("Servers", (protocol + "OAuth2").c_str(), 0) != 0;
    if (protocol == "SMTP") {
        s.strUser = g_pIni->GetString("Servers", "SMTPName", "");
        s.strPassword = g_pIni->GetSmtpPassword();
    }
    return s;
}

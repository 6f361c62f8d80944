// How a client secures and authenticates its connection to one server: the
// "Servers" settings of that server in one value, read in one place, handed
// to the client before a session (CProtoClient::SetSecurity).
#pragma once

#include <cstdint>
#include <string>

struct ServerSecurity {
    // auto: STARTTLS when the server offers it, else plain (and a password
    // sent in clear is reported once per run); starttls: encryption after
    // the greeting is required; tls: encrypted from the first byte; none:
    // plain, as before encryption was known.
    enum Mode { AUTO = 0, STARTTLS = 1, TLS = 2, NONE = 3 };

    int iMode = NONE;   // a client set up without settings stays plain
    std::string strPin; // pinned SHA-256 fingerprint, or ""
    // The plain protocol's default port and the implicit TLS one: a session
    // with mode tls and the plain default port goes to the TLS port.
    std::uint16_t wPlainPort = 0, wTlsPort = 0;
    // Instead of a stored password: a command whose first output line is
    // the password (or, with bOAuth2, an OAuth2 access token).
    std::string strPasswordCommand;
    bool bOAuth2 = false;
    // SMTP only: the login ("" = no authentication) and its password.
    std::string strUser, strPassword;

    // "auto", "starttls", "tls", "none" in any case; anything else is auto.
    static int ParseMode(const std::string& text);
    static const char* ModeName(int iMode);
    // The defaults of a protocol ("POP3", "NNTP", "SMTP") in the given mode.
    static ServerSecurity For(const std::string& protocol, int iMode);
    // The port a session uses for the port the user gave.
    std::uint16_t EffectivePort(std::uint16_t wPort) const
    {
        return iMode == TLS && wPort == wPlainPort && wTlsPort ? wTlsPort : wPort;
    }
};

// The settings of "POP3", "NNTP" or "SMTP" from the "Servers" section
// (<P>Security, <P>Fingerprint, <P>PasswordCommand, <P>OAuth2; for SMTP also
// SMTPName and SMTPPassword).
ServerSecurity SecurityFromSettings(const std::string& protocol);

// "News and Mail Server Info": the three servers, their ports, how each
// connection is secured, the three logins and the time zone.
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
        NNTP_SECURITY,
        NNTP_FINGERPRINT,
        NNTP_PASSWORD_COMMAND,
        SMTP_SECURITY,
        SMTP_FINGERPRINT,
        SMTP_PASSWORD_COMMAND,
        SMTP_ACCESS_TOKEN,
        SMTP_NAME,
        SMTP_PASSWORD,
        POP3_SECURITY,
        POP3_FINGERPRINT,
        POP3_PASSWORD_COMMAND,
        POP3_ACCESS_TOKEN,
    };

    // The three servers, for the per-server fields below.
    enum Server { NNTP, SMTP, POP3, kServers };
    // How a connection is secured, in the order the choice lists them:
    // STARTTLS when the server offers it, STARTTLS or nothing, encrypted
    // from the first byte, never encrypted.
    enum Security { SEC_AUTO, SEC_STARTTLS, SEC_TLS, SEC_NONE, kSecurities };

    struct Encryption {
        int iSecurity = SEC_AUTO;
        // The server's own certificate, trusted by its SHA-256 fingerprint.
        std::string szFingerprint;
        // A command whose first output line is the password (run without a
        // shell), and whether that line is an access token instead.
        std::string szPasswordCommand;
        bool bAccessToken = false;
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

    // The settings value of a choice ("auto", "starttls", "tls", "none")
    // and back; an unknown value reads as auto.
    static const char* SecurityName(int iSecurity);
    static int ParseSecurity(const std::string& text);
    // The texts of the choice list.
    static const char* SecurityLabel(int iSecurity);
    // The settings key prefix of a server ("NNTP", "SMTP", "POP3").
    static const char* ServerName(Server server);
    // The plain protocol's port and the one for encryption from the first
    // byte.
    static int PlainPort(Server server);
    static int TlsPort(Server server);
    // Whether the server's login can use an access token.
    static bool TakesAccessToken(Server server) { return server != NNTP; }

    // A fingerprint as typed: 64 hex digits, colons or blanks allowed
    // between the pairs.  Sets the stored form (pairs in capitals joined
    // by colons, as the program shows a certificate's fingerprint; "" for
    // an empty field); false when the text is no such fingerprint.
    static bool ParseFingerprint(const std::string& text, std::string& normalized);

    int& Port(Server server);
    Encryption& Secured(Server server) { return m_secured[server]; }

    // The user picked a security choice for a server.  A port still at the
    // plain protocol's default moves to the port of encryption from the
    // first byte, and back again when that is given up; STARTTLS on SMTP
    // moves port 25 to the submission port 587 when the user agrees.
    // True when the port changed.
    bool ChooseSecurity(Server server, int iSecurity);

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
    // SMTP login: none while the name is empty.
    std::string m_szSmtpName;
    std::string m_szSmtpPassword;
    bool m_bSmtpSavePassword = true;
    Encryption m_secured[kServers];

    static constexpr int kSubmissionPort = 587;
    // Password commands are read back whole: longer than the other texts.
    static constexpr std::size_t kMaxCommand = 255;

private:
    bool EncryptionOk(Server server, dlg::OkResult& result) const;
    bool PortOk(int iPort, int iZeroMessage, const char* pszServer, Field field,
                dlg::OkResult& result) const;
};

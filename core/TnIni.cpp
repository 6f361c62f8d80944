#include "core/TnIni.h"

#include "framework/Files.h"
#include "framework/Profile.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <set>

TnIni* g_pIni = nullptr;

const char* const kPlaceholderEmail = "your.name@example.invalid";

const IniKey g_aIniKeys[] = {
    {"Mailtolvan", "Version", IniType::Integer, "256"},
    {"Mailtolvan", "DisableSplash", IniType::Flag, "0"},
    {"Mailtolvan", "Sound", IniType::Flag, "1"},
    {"Mailtolvan", "Beep", IniType::Flag, "1"},
    {"Mailtolvan", "Confirmation", IniType::Flag, "1"},
    {"Mailtolvan", "SingleClick", IniType::Flag, "0"},
    {"Mailtolvan", "CursorTrack", IniType::Flag, "1"},
    {"Windows", "Main", IniType::Placement, "0,0,0,0"},
    {"Windows", "Group", IniType::Placement, "0,0,0,0"},
    {"Windows", "Article", IniType::Placement, "0,0,0,0"},
    {"Windows", "Email", IniType::Placement, "0,0,0,0"},
    {"Windows", "Post", IniType::Placement, "0,0,0,0"},
    {"Servers", "NNTPServer", IniType::Text, "news"},
    {"Servers", "NNTPPort", IniType::Integer, "119"},
    {"Servers", "NNTPName", IniType::Text, ""},
    {"Servers", "NNTPPassword", IniType::Scrambled, ""},
    {"Servers", "NNTPSavePassword", IniType::Flag, "1"},
    {"Servers", "SMTPServer", IniType::Text, "mail"},
    {"Servers", "SMTPPort", IniType::Integer, "25"},
    {"Servers", "POP3Server", IniType::Text, "mail"},
    {"Servers", "POP3Port", IniType::Integer, "110"},
    {"Servers", "POP3Name", IniType::Text, ""},
    {"Servers", "POP3Password", IniType::Scrambled, ""},
    {"Servers", "POP3SavePassword", IniType::Flag, "1"},
    {"Servers", "TimeZone", IniType::Integer, "20"},
    // Encryption per server: "auto" (STARTTLS when the server offers it),
    // "starttls" (required), "tls" (from the first byte), "none".
    {"Servers", "POP3Security", IniType::Text, "auto"},
    {"Servers", "NNTPSecurity", IniType::Text, "auto"},
    {"Servers", "SMTPSecurity", IniType::Text, "auto"},
    // A server's own certificate, trusted by its SHA-256 fingerprint (hex).
    {"Servers", "POP3Fingerprint", IniType::Text, ""},
    {"Servers", "NNTPFingerprint", IniType::Text, ""},
    {"Servers", "SMTPFingerprint", IniType::Text, ""},
    // A command (run without a shell) whose first output line is the
    // password, or with "...OAuth2" 1 an OAuth2 access token.
    {"Servers", "POP3PasswordCommand", IniType::Text, ""},
    {"Servers", "NNTPPasswordCommand", IniType::Text, ""},
    {"Servers", "SMTPPasswordCommand", IniType::Text, ""},
    {"Servers", "POP3OAuth2", IniType::Flag, "0"},
    {"Servers", "SMTPOAuth2", IniType::Flag, "0"},
    // SMTP authentication: none while the name is empty.
    {"Servers", "SMTPName", IniType::Text, ""},
    {"Servers", "SMTPPassword", IniType::Scrambled, ""},
    {"Servers", "SMTPSavePassword", IniType::Flag, "1"},
    {"User", "Name", IniType::Text, "Your Name Here"},
    {"User", "EmailAddress", IniType::Text, kPlaceholderEmail},
    {"User", "ReplyToAddress", IniType::Text, ""},
    {"User", "Organization", IniType::Text, ""},
    {"Directories", "CopyFiles", IniType::Flag, "0"},
    {"Directories", "OverwriteQwk", IniType::Flag, "1"},
    {"Directories", "Qwk", IniType::Text, ""},
    {"Directories", "DeleteRep", IniType::Flag, "1"},
    {"Directories", "Rep", IniType::Text, ""},
    {"Directories", "QwkReader", IniType::Text, ""},
    {"Directories", "VdrqwkIni", IniType::Text, "VDRQWK.INI"},
    {"Directories", "Packer", IniType::Text, ""},
    {"Directories", "Unpacker", IniType::Text, ""},
    // The character set the offline reader writes replies in: "CP437" or "Latin-1".
    {"Directories", "ReaderCharset", IniType::Text, "CP437"},
    {"Autorun", "AutoEmail", IniType::Flag, "0"},
    {"Autorun", "AutoNews", IniType::Flag, "0"},
    {"Autorun", "AutoPost", IniType::Flag, "0"},
    {"Autorun", "AutoReader", IniType::Flag, "0"},
    // Bounds of an unattended run: minutes (0: none).
    {"Autorun", "RunDeadline", IniType::Integer, "240"},
    {"Email", "Mime", IniType::Flag, "1"},
    {"Email", "Encoding", IniType::Integer, "0"},
    {"Email", "PostSize", IniType::Integer, "0"},
    {"Email", "ReceiveSize", IniType::Integer, "0"},
    {"Email", "DiscardPartial", IniType::Flag, "0"},
    {"Email", "ClearMailbox", IniType::Flag, "1"},
    {"Email", "ClearAfterDays", IniType::Integer, "0"},
    {"Email", "ReplyTo", IniType::Flag, "1"},
    // A message larger than this (KB, 0: no limit) stays on the server.
    {"Email", "MaxMessageKB", IniType::Integer, "65536"},
    {"Articles", "Mime", IniType::Flag, "0"},
    {"Articles", "Encoding", IniType::Integer, "1"},
    {"Articles", "PostSize", IniType::Integer, "0"},
    {"Articles", "MinimumRetrieved", IniType::Integer, "0"},
    {"Articles", "MaximumRetrieved", IniType::Integer, "0"},
    {"Articles", "ReceiveSize", IniType::Integer, "0"},
    {"Articles", "DiscardPartial", IniType::Flag, "0"},
    {"Articles", "DaysOldest", IniType::Integer, "0"},
    {"Articles", "Sort", IniType::Integer, "0"},
    {"Groups", "Retrieve", IniType::Integer, "1"},
    {"Groups", "MailingLists", IniType::Integer, "0"},
    {"Groups", "DisplayAll", IniType::Flag, "1"},
    {"Groups", "SelectedAtTop", IniType::Flag, "1"},
    {"Articles", "LongNames", IniType::Flag, "1"},
    {"Articles", "ListAllGroups", IniType::Flag, "1"},
    {"Groups", "NewGroups", IniType::Long, "0"},
};
const std::size_t g_nIniKeys = sizeof g_aIniKeys / sizeof g_aIniKeys[0];

namespace {
// Values are read whole: a cut path or command template would name
// something else.
constexpr std::size_t kWholeValue = std::string::npos;

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
} // namespace

TnIni::TnIni(const std::string& path) : m_path(path)
{
    m_regKey = fw::RegKey::ClassesRoot().CreateKey(Lower(fw::StemName(path)));
    if (!fw::Profile::CanWrite(path)) {
        m_bReadOnly = true;
        m_readOnlyReason = std::strerror(errno);
        return;
    }
    Normalise();
}

TnIni::~TnIni() = default;

void TnIni::Normalise()
{
    // One look at each section's keys tells which keys are missing.
    std::map<std::string, std::set<std::string>> present;
    for (std::size_t i = 0; i < g_nIniKeys; ++i) {
        const std::string section = Lower(g_aIniKeys[i].pszSection);
        if (present.count(section))
            continue;
        std::set<std::string>& keys = present[section];
        for (const std::string& key : fw::Profile::GetKeys(m_path, section))
            keys.insert(Lower(key));
    }
    for (std::size_t i = 0; i < g_nIniKeys; ++i) {
        const IniKey& k = g_aIniKeys[i];
        bool bPresent = present[Lower(k.pszSection)].count(Lower(k.pszKey)) > 0;
        switch (k.type) {
        case IniType::Integer:
        case IniType::Flag:
        case IniType::Long:
            WriteInt(k.pszSection, k.pszKey,
                     GetInt(k.pszSection, k.pszKey, ParseInt(k.pszDefault)));
            break;
        case IniType::Text:
        case IniType::Placement:
        case IniType::Scrambled:
            if (!bPresent) {
                WriteString(k.pszSection, k.pszKey, k.pszDefault);
            } else {
                // The file keeps the value as the user wrote it (a quoted
                // command template stays quoted); only the copy learns it.
                fw::RegKey section = m_regKey.CreateKey(k.pszSection);
                section.SetValue(k.pszKey, GetString(k.pszSection, k.pszKey, k.pszDefault));
            }
            break;
        }
    }
}

std::int32_t TnIni::ParseInt(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool bNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        bNegative = text[i] == '-';
        ++i;
    }
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > (1LL << 32))
            v = 1LL << 32; // enough to clamp either way
    }
    if (bNegative)
        v = -v;
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

std::int32_t TnIni::GetInt(const char* pszSection, const char* pszKey, std::int32_t iDefault) const
{
    std::string def = std::to_string(iDefault);
    return ParseInt(fw::Profile::GetString(m_path, pszSection, pszKey, def, kWholeValue));
}

std::int32_t TnIni::GetLong(const char* pszSection, const char* pszKey, std::int32_t lDefault) const
{
    return GetInt(pszSection, pszKey, lDefault);
}

std::string TnIni::GetString(const char* pszSection, const char* pszKey,
                             const char* pszDefault) const
{
    return fw::Profile::GetString(m_path, pszSection, pszKey, pszDefault ? pszDefault : "",
                                  kWholeValue);
}

bool TnIni::WriteText(const char* pszSection, const char* pszKey, const std::string& text)
{
    bool ok = fw::Profile::WriteString(m_path, pszSection, pszKey, text);
    if (!ok) {
        m_bWriteFailed = true;
        m_lastWriteError = std::strerror(errno);
    }
    // The registry copy: section subkey, then the key's default value.
    fw::RegKey section = m_regKey.CreateKey(pszSection);
    section.SetValue(pszKey, text);
    return ok;
}

bool TnIni::WriteInt(const char* pszSection, const char* pszKey, std::int32_t iValue)
{
    return WriteText(pszSection, pszKey, std::to_string(iValue));
}

bool TnIni::WriteLong(const char* pszSection, const char* pszKey, std::int32_t lValue)
{
    return WriteText(pszSection, pszKey, std::to_string(lValue));
}

bool TnIni::WriteString(const char* pszSection, const char* pszKey, const std::string& value)
{
    return WriteText(pszSection, pszKey, value);
}

void TnIni::ScramblePassword(std::string& text, bool bScramble)
{
    if (text.size() > kMaxPassword)
        text.resize(kMaxPassword);
    if (text.empty())
        return;
    auto* p = reinterpret_cast<unsigned char*>(text.data());
    std::size_t n = text.size();
    if (bScramble) {
        unsigned char prev = p[0];
        p[0] = static_cast<unsigned char>(p[0] ^ kScrambleKey);
        for (std::size_t i = 1; i < n; ++i) {
            unsigned char plain = p[i];
            p[i] = static_cast<unsigned char>((plain ^ prev) | 0x80);
            prev = plain;
        }
    } else {
        p[0] = static_cast<unsigned char>(p[0] ^ kScrambleKey);
        for (std::size_t i = 1; i < n; ++i)
            p[i] = static_cast<unsigned char>((p[i] ^ p[i - 1]) & 0x7F);
    }
}

std::string TnIni::GetNntpPassword() const
{
    std::string s = GetString("Servers", "NNTPPassword", "");
    ScramblePassword(s, false);
    return s;
}

std::string TnIni::GetPop3Password() const
{
    std::string s = GetString("Servers", "POP3Password", "");
    ScramblePassword(s, false);
    return s;
}

std::string TnIni::GetSmtpPassword() const
{
    std::string s = GetString("Servers", "SMTPPassword", "");
    ScramblePassword(s, false);
    return s;
}

bool TnIni::StoreSmtpPassword(const std::string& plain)
{
    std::string s = GetInt("Servers", "SMTPSavePassword", 1) ? plain : std::string();
    ScramblePassword(s, true);
    return WriteString("Servers", "SMTPPassword", s);
}

bool TnIni::StoreNntpPassword(const std::string& plain)
{
    std::string s = GetInt("Servers", "NNTPSavePassword", 1) ? plain : std::string();
    ScramblePassword(s, true);
    return WriteString("Servers", "NNTPPassword", s);
}

bool TnIni::StorePop3Password(const std::string& plain)
{
    std::string s = GetInt("Servers", "POP3SavePassword", 1) ? plain : std::string();
    ScramblePassword(s, true);
    return WriteString("Servers", "POP3Password", s);
}

std::string FormatPlacement(const Placement& p)
{
    return std::to_string(p.iLeft) + "," + std::to_string(p.iTop) + "," + std::to_string(p.iWidth) +
           "," + std::to_string(p.iHeight);
}

Placement ParsePlacement(const std::string& text)
{
    int values[4] = {0, 0, 0, 0};
    std::size_t start = 0;
    for (int i = 0; i < 4 && start <= text.size(); ++i) {
        std::size_t comma = text.find(',', start);
        std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        values[i] = TnIni::ParseInt(part);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return Placement{values[0], values[1], values[2], values[3]};
}

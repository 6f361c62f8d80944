// The settings object over TOLVAN.INI.
//
// Every read passes its default; every write also goes to the write-only
// registry copy.  Creating the object normalises the file, in table order:
// a missing key is added with its default and a number is written back in
// its plain form, so the file always holds the full set.  Text values are
// read in full (paths and command templates are long) and are never written
// back, so nothing the user typed is cut or changed.  A settings file that
// cannot be written is left as it is: the program goes on with what it read.
#pragma once

#include "framework/Registry.h"

#include <cstddef>
#include <cstdint>
#include <string>

enum class IniType { Integer, Flag, Long, Text, Placement, Scrambled };

struct IniKey {
    const char* pszSection;
    const char* pszKey;
    IniType type;
    const char* pszDefault;
};

// Every key in the order creation normalises the file.
extern const IniKey g_aIniKeys[];
extern const std::size_t g_nIniKeys;

// The placeholder that the default e-mail address holds.
extern const char* const kPlaceholderEmail;

class TnIni {
public:
    // Longest text value that tools offer to store (values already in the
    // file are read in full, whatever their length) and longest password.
    static constexpr std::size_t kMaxText = 79;
    static constexpr std::size_t kMaxPassword = 51;
    // The scrambling constant.
    static constexpr unsigned char kScrambleKey = 0xD5;

    explicit TnIni(const std::string& path);
    ~TnIni();
    TnIni(const TnIni&) = delete;
    TnIni& operator=(const TnIni&) = delete;

    const std::string& Path() const { return m_path; }

    std::int32_t GetInt(const char* pszSection, const char* pszKey, std::int32_t iDefault) const;
    std::int32_t GetLong(const char* pszSection, const char* pszKey, std::int32_t lDefault) const;
    std::string GetString(const char* pszSection, const char* pszKey, const char* pszDefault) const;

    // Each returns false when the settings file could not be written (the
    // registry copy's failures are ignored, as it is only a copy).
    bool WriteInt(const char* pszSection, const char* pszKey, std::int32_t iValue);
    bool WriteLong(const char* pszSection, const char* pszKey, std::int32_t lValue);
    bool WriteString(const char* pszSection, const char* pszKey, const std::string& value);

    std::string GetNntpPassword() const;
    std::string GetPop3Password() const;
    std::string GetSmtpPassword() const;

    // Scrambles or unscrambles in place; the text is cut to kMaxPassword.
    static void ScramblePassword(std::string& text, bool bScramble);

    // Stores a password the way the server dialog does: scrambled when the
    // matching save flag is 1, a scrambled empty text when it is 0.
    bool StoreNntpPassword(const std::string& plain);
    bool StorePop3Password(const std::string& plain);
    bool StoreSmtpPassword(const std::string& plain);

    // Why the last write failed ("" when none did); whether any write of
    // this object failed.
    const std::string& LastWriteError() const { return m_lastWriteError; }
    bool WriteFailed() const { return m_bWriteFailed; }
    // The settings file could not be written when the object was made (a
    // read-only file, or a missing one in a read-only directory): it was not
    // normalised, and why is in ReadOnlyReason.  Not a write failure: the
    // values read are used as they are.
    bool ReadOnly() const { return m_bReadOnly; }
    const std::string& ReadOnlyReason() const { return m_readOnlyReason; }

    // The registry key of this settings file ("HKEY_CLASSES_ROOT\<base>").
    const fw::RegKey& RegistryKey() const { return m_regKey; }

    // Integer parsing as the file's values are read: leading blanks, an
    // optional sign, digits up to the first non-digit; no digits gives 0.
    // Values beyond 32 bits are clamped.
    static std::int32_t ParseInt(const std::string& text);

private:
    bool WriteText(const char* pszSection, const char* pszKey, const std::string& text);
    void Normalise();

    std::string m_path;
    fw::RegKey m_regKey;
    std::string m_lastWriteError;
    bool m_bWriteFailed = false;
    bool m_bReadOnly = false;
    std::string m_readOnlyReason;
};

// The process-wide settings object (null before start-up creates it).
extern TnIni* g_pIni;

// Window placement texts "%d,%d,%d,%d": left, top, width, height.
struct Placement {
    int iLeft = 0, iTop = 0, iWidth = 0, iHeight = 0;
    bool IsDefault() const { return iLeft == 0 && iTop == 0 && iWidth == 0 && iHeight == 0; }
    // The normal rectangle: left, top, right, bottom.
    int Right() const { return iLeft + iWidth; }
    int Bottom() const { return iTop + iHeight; }
};
std::string FormatPlacement(const Placement& p);
// Missing numbers read as 0.
Placement ParsePlacement(const std::string& text);

// config and password: settings for users without dialogs.

#include "app/Tool.h"

#include "core/TnIni.h"
#include "framework/Files.h"
#include "framework/InstanceLock.h"

#include <cstdio>
#include <iostream>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

namespace {

const IniKey* FindKey(const std::string& section, const std::string& key)
{
    for (std::size_t i = 0; i < g_nIniKeys; ++i)
        if (::strcasecmp(g_aIniKeys[i].pszSection, section.c_str()) == 0 &&
            ::strcasecmp(g_aIniKeys[i].pszKey, key.c_str()) == 0)
            return &g_aIniKeys[i];
    return nullptr;
}

std::string ValueOf(const TnIni& ini, const IniKey& k)
{
    switch (k.type) {
    case IniType::Integer:
    case IniType::Flag:
        return std::to_string(ini.GetInt(k.pszSection, k.pszKey, TnIni::ParseInt(k.pszDefault)));
    case IniType::Long:
        return std::to_string(ini.GetLong(k.pszSection, k.pszKey, TnIni::ParseInt(k.pszDefault)));
    case IniType::Scrambled:
        return ini.GetString(k.pszSection, k.pszKey, "").empty() ? "(empty)" : "(set)";
    case IniType::Text:
    case IniType::Placement:
        break;
    }
    return ini.GetString(k.pszSection, k.pszKey, k.pszDefault);
}

bool IsInteger(const std::string& v)
{
    std::size_t i = (!v.empty() && (v[0] == '-' || v[0] == '+')) ? 1 : 0;
    if (i >= v.size() || v.size() > 11)
        return false;
    for (; i < v.size(); ++i)
        if (v[i] < '0' || v[i] > '9')
            return false;
    long long n = std::stoll(v);
    return n >= INT32_MIN && n <= INT32_MAX;
}

// Opening the settings writes them (every key is kept in the file), so it
// happens only while no program runs with this directory: the same lock,
// held until this command ends.
bool OpenIni(const ToolContext& ctx)
{
    if (!ctx.PrepareHome())
        return false;
    static fw::InstanceLock s_lock;
    std::string why;
    if (!s_lock.Held() && !s_lock.Acquire(fw::InstanceLock::PathFor(ctx.homeDir), why)) {
        ToolFail(why + "; the settings are not changed while it runs");
        return false;
    }
    std::string dir = fw::DirName(ctx.paths.settingsFile);
    if (!dir.empty() && !fw::FileExists(dir) && dir != "/") {
        ToolFail("the settings file's directory does not exist: " + dir);
        return false;
    }
    return true;
}

int Config(ToolContext& ctx, const std::vector<std::string>& args)
{
    if (args.size() == 1 && args[0] == "--list") {
        if (!OpenIni(ctx))
            return 1;
        TnIni ini(ctx.paths.settingsFile);
        for (std::size_t i = 0; i < g_nIniKeys; ++i)
            std::printf("%s %s %s\n", g_aIniKeys[i].pszSection, g_aIniKeys[i].pszKey,
                        ValueOf(ini, g_aIniKeys[i]).c_str());
        if (ini.WriteFailed())
            return ToolFail("cannot write " + ctx.paths.settingsFile + ": " + ini.LastWriteError());
        return 0;
    }
    if (args.size() != 2 && args.size() != 3)
        return ToolFail("usage: config SECTION KEY [VALUE] | config --list");
    const IniKey* k = FindKey(args[0], args[1]);
    if (!k)
        return ToolFail("unknown setting: " + args[0] + " " + args[1] + " (see config --list)");
    if (!OpenIni(ctx))
        return 1;
    TnIni ini(ctx.paths.settingsFile);
    if (args.size() == 2) {
        std::printf("%s\n", ValueOf(ini, *k).c_str());
        return ini.WriteFailed() ? ToolFail("cannot write " + ctx.paths.settingsFile + ": " +
                                            ini.LastWriteError())
                                 : 0;
    }
    const std::string& value = args[2];
    bool ok = false;
    switch (k->type) {
    case IniType::Scrambled:
        return ToolFail("passwords are set with: mailtolvan-tool password pop3|nntp|smtp");
    case IniType::Integer:
    case IniType::Flag:
    case IniType::Long:
        if (!IsInteger(value))
            return ToolFail(std::string(k->pszKey) + " takes a whole number, not \"" + value +
                            "\"");
        ok = ini.WriteInt(k->pszSection, k->pszKey, TnIni::ParseInt(value));
        break;
    case IniType::Placement:
    case IniType::Text:
        if (value.size() > TnIni::kMaxText)
            return ToolFail("the value is longer than 79 characters");
        if (value.find_first_of("\r\n") != std::string::npos)
            return ToolFail("the value may not hold a line break");
        ok = ini.WriteString(k->pszSection, k->pszKey, value);
        break;
    }
    if (!ok)
        return ToolFail("cannot write " + ctx.paths.settingsFile + ": " + ini.LastWriteError());
    return 0;
}

int Password(ToolContext& ctx, const std::vector<std::string>& args)
{
    if (args.size() != 1 || (args[0] != "pop3" && args[0] != "nntp" && args[0] != "smtp"))
        return ToolFail(
            "usage: password pop3|nntp|smtp  (the password is read from standard input)");
    bool bTerminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (bTerminal) {
        std::fprintf(stderr, "%s password: ",
                     args[0] == "pop3"   ? "POP3"
                     : args[0] == "nntp" ? "NNTP"
                                         : "SMTP");
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string password;
    bool bRead = static_cast<bool>(std::getline(std::cin, password));
    if (bTerminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    if (!bRead && password.empty())
        return ToolFail("no password on standard input");
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.size() > TnIni::kMaxPassword)
        return ToolFail("a password may have at most 51 characters");
    for (unsigned char c : password)
        if (c >= 0x80 || c < 0x20)
            return ToolFail("a password may hold printable 7-bit characters only");
    if (!OpenIni(ctx))
        return 1;
    TnIni ini(ctx.paths.settingsFile);
    const std::string key = args[0] == "pop3" ? "POP3" : args[0] == "nntp" ? "NNTP" : "SMTP";
    bool ok = ini.WriteInt("Servers", (key + "SavePassword").c_str(), 1) &&
              (key == "POP3"   ? ini.StorePop3Password(password)
               : key == "NNTP" ? ini.StoreNntpPassword(password)
                               : ini.StoreSmtpPassword(password));
    if (!ok)
        return ToolFail("cannot write " + ctx.paths.settingsFile + ": " + ini.LastWriteError());
    return 0;
}

} // namespace

MT_TOOL_COMMAND("config", "SECTION KEY [VALUE] | --list",
                "print or set a setting of TOLVAN.INI; --list prints them all", Config);
MT_TOOL_COMMAND("password", "pop3|nntp|smtp",
                "read a password from standard input and store it (scrambled)", Password);

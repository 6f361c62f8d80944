// mailtolvan-tool: the scriptable companion.  Global options come before the
// subcommand: /i:FILE, -i FILE, --ini FILE (another settings file), --help.

#include "app/Tool.h"

#include "framework/Files.h"
#include "framework/Registry.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <strings.h>

namespace {
std::vector<ToolCommand>& Commands()
{
    static std::vector<ToolCommand> s_commands;
    return s_commands;
}

void PrintHelp(FILE* out)
{
    std::fprintf(out,
                 "usage: mailtolvan-tool [/i:FILE | --ini FILE] COMMAND [ARGS]\n\n"
                 "The program's directory is $MAILTOLVAN_HOME, else $XDG_DATA_HOME/mailtolvan,\n"
                 "else ~/.local/share/mailtolvan.\n\ncommands:\n");
    std::vector<ToolCommand> sorted = Commands();
    std::sort(sorted.begin(), sorted.end(), [](const ToolCommand& a, const ToolCommand& b) {
        return std::strcmp(a.pszName, b.pszName) < 0;
    });
    for (const ToolCommand& c : sorted)
        std::fprintf(out, "  %s %s\n      %s\n", c.pszName, c.pszUsage, c.pszSummary);
}
} // namespace

bool RegisterToolCommand(const ToolCommand& command)
{
    Commands().push_back(command);
    return true;
}

std::string ForTerminal(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

int ToolFail(const std::string& text)
{
    std::fprintf(stderr, "mailtolvan-tool: %s\n", text.c_str());
    return 1;
}

bool ParseToolNumber(const std::string& text, long long lMax, long long& n)
{
    if (text.empty() || text.size() > 18)
        return false;
    n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    return n <= lMax;
}

int ReadToolPassword(const std::string& file, const std::string& env, std::string& password)
{
    password.clear();
    if (!file.empty()) {
        std::ifstream in(file);
        if (!in)
            return ToolFail("cannot read the password file " + file);
        std::getline(in, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
    } else if (!env.empty()) {
        const char* p = std::getenv(env.c_str());
        if (!p)
            return ToolFail("the environment variable " + env + " is not set");
        password = p;
    }
    return 0;
}

bool ToolContext::PrepareHome() const
{
    if (homeDir.empty()) {
        ToolFail("no program directory: set MAILTOLVAN_HOME or HOME");
        return false;
    }
    if (!fw::MakeDirectories(homeDir)) {
        ToolFail("cannot create the program directory " + homeDir + ": " + std::strerror(errno));
        return false;
    }
    fw::RegKey::SetStorePath(fw::JoinPath(homeDir, "registry.ini"));
    return true;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string iniValue;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 3 && ::strncasecmp(a.c_str(), "/i:", 3) == 0) {
            iniValue = a.substr(3);
        } else if ((a == "-i" || a == "--ini") && i + 1 < args.size()) {
            iniValue = args[++i];
        } else if (a.rfind("--ini=", 0) == 0 && a.size() > 6) {
            iniValue = a.substr(6);
        } else if (a == "--help" || a == "-h") {
            PrintHelp(stdout);
            return 0;
        } else {
            break;
        }
    }
    if (i >= args.size()) {
        PrintHelp(stderr);
        return 2;
    }
    if (!iniValue.empty() && iniValue.back() == '/') {
        ToolFail("the settings file " + iniValue + " names a directory");
        return 2;
    }
    const std::string name = args[i];
    std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
    for (const ToolCommand& c : Commands()) {
        if (name != c.pszName)
            continue;
        ToolContext ctx;
        ctx.homeDir = ResolveHomeDir();
        ctx.paths = ResolvePaths(ctx.homeDir, iniValue);
        return c.fn(ctx, rest);
    }
    ToolFail("unknown command: " + name + " (see --help)");
    return 2;
}

// mailtolvan-tool: subcommands that run one part of the program on local
// files or settings.  Each subcommand lives in its own file under app/tool/
// and registers itself with MT_TOOL_COMMAND.
#pragma once

#include "core/Startup.h"

#include <string>
#include <vector>

struct ToolContext {
    std::string homeDir; // the program's directory (created on demand)
    StartupPaths paths;  // files named by the home and the /i: option
    // Creates the home directory and points the registry copy at it; prints
    // the reason and returns false when it cannot.
    bool PrepareHome() const;
};

using ToolFn = int (*)(ToolContext& ctx, const std::vector<std::string>& args);

struct ToolCommand {
    const char* pszName;
    const char* pszUsage;   // arguments, e.g. "SECTION KEY [VALUE] | --list"
    const char* pszSummary; // one line for --help
    ToolFn fn;
};

bool RegisterToolCommand(const ToolCommand& command);

#define MT_TOOL_CONCAT2(a, b) a##b
#define MT_TOOL_CONCAT(a, b) MT_TOOL_CONCAT2(a, b)
#define MT_TOOL_COMMAND(name, usage, summary, fn)                                                  \
    static const bool MT_TOOL_CONCAT(s_bRegistered_, __LINE__) =                                   \
        RegisterToolCommand(ToolCommand{name, usage, summary, fn})

// A message box text as a terminal shows it: CR LF line ends become plain ones.
std::string ForTerminal(const std::string& text);

// Prints "mailtolvan-tool: <text>" on stderr and returns 1.
int ToolFail(const std::string& text);

// A decimal number of digits only, at most lMax.
bool ParseToolNumber(const std::string& text, long long lMax, long long& n);

// The password of --password-file (its first line) or --password-env (the
// variable's value); "" when neither was given.  Returns ToolFail's 1 with
// the reason, 0 when read.
int ReadToolPassword(const std::string& file, const std::string& env, std::string& password);

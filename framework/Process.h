// Starting external programs from a user's command template.  The template is
// split into words first (blanks separate words, double quotes group them),
// then "%1" and "%2" are replaced inside each word, so a substituted path with
// blanks stays one argument.  Nothing is ever run through a shell.
#pragma once

#include <string>
#include <vector>

namespace fw {

// Splits a command template into words.  Double quotes group blanks into a
// word and are removed; an unclosed quote runs to the end.
std::vector<std::string> SplitCommandLine(const std::string& text);

// Splits, then substitutes "%1", "%2", ... (up to the number of arguments
// given) inside every word.  "%%" gives "%".
std::vector<std::string> ExpandCommand(const std::string& templ,
                                       const std::vector<std::string>& args);

// Starts the program argv[0] (searched in PATH when it has no '/').  Without
// waiting it returns as soon as the process has started.  With bWait it keeps
// dispatching window messages until the process ends and stores its exit code
// (or -1 when it crashed) in *piExitCode.  Returns whether it could start.
bool LaunchProgram(const std::vector<std::string>& argv, bool bWait, int* piExitCode = nullptr);

// Runs a program to its end and captures what it printed on stdout (for
// tests and small helpers).  Does not dispatch window messages.
bool RunAndCapture(const std::vector<std::string>& argv, std::string& output, int& iExitCode,
                   int iTimeoutMs = 30000);

} // namespace fw

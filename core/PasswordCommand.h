// Password commands: a user's command (split into words, never given to a
// shell) whose first line of output is a password or an access token, so
// that no password needs to be stored in the settings.
#pragma once

#include <string>

// Limits: a command that runs longer is killed; output past the limit
// counts as a failure (a password is one short line).
constexpr int kPasswordCommandSeconds = 30;
constexpr std::size_t kPasswordCommandMaxOutput = 16384;

// Runs the command and gives the first line of its standard output, without
// the line end.  False with the reason in why: the command could not start,
// ended with a failure status or a signal, ran too long, printed too much,
// or printed an empty first line.
[[nodiscard]] bool RunPasswordCommand(const std::string& command, std::string& password,
                                      std::string& why,
                                      int iTimeoutSeconds = kPasswordCommandSeconds);

// The check of this computer's name after the server setup: mail and news
// identify the sender's host by it, so it must be made of the characters
// a host name may hold.
#pragma once

#include <string>

namespace dlg {

// The error text for a name with a character other than a letter, a digit
// or one of "-_~."; empty when the name is good.
std::string ComputerNameProblem(const std::string& name);

// The local host name (at most 100 characters).
std::string LocalHostName();

// Checks the local host name and shows the error ("ERROR!", stop icon)
// when it fails.  Returns whether the name is good.
bool CheckComputerName();

} // namespace dlg

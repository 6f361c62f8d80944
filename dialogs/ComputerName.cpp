#include "dialogs/ComputerName.h"

#include "dialogs/DialogCommon.h"
#include "framework/MessageBox.h"

#include <cctype>
#include <cstring>
#include <unistd.h>

namespace dlg {

std::string ComputerNameProblem(const std::string& name)
{
    for (unsigned char c : name) {
        if (std::isalnum(c) && c < 0x80)
            continue;
        if (std::strchr("-_~.", c) && c != '\0')
            continue;
        return FormatText(
            "Your computer name: %s\ncontains invalid characters.  To be able to post news and "
            "email,\nyou must rename your computer so it contains only the letters\n\"a\" to "
            "\"z\" and \"A\" to \"Z\", the numbers \"0\" to \"9\", and the\ncharacters . - _ and "
            "~.  For more information on this\nrequirement, please read the HELP file.",
            name);
    }
    return std::string();
}

std::string LocalHostName()
{
    char name[101] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}

bool CheckComputerName()
{
    std::string problem = ComputerNameProblem(LocalHostName());
    if (problem.empty())
        return true;
    fw::MessageBoxes().Show(problem, "ERROR!", fw::MbIcon::Stop, fw::MbButtons::Ok);
    return false;
}

} // namespace dlg

#include "framework/MessageBox.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace fw {

namespace {
IMessageBoxService*& Current()
{
    static IMessageBoxService* s_pService = nullptr;
    return s_pService;
}
} // namespace

IMessageBoxService& MessageBoxes()
{
    static ConsoleMessageBox s_console;
    return Current() ? *Current() : s_console;
}

void SetMessageBoxService(IMessageBoxService* pService) { Current() = pService; }

int ConsoleMessageBox::Show(const std::string& text, const std::string& caption, MbIcon,
                            MbButtons buttons, bool)
{
    // One line per box: line breaks of the text become blanks.
    std::string flat;
    for (char c : text)
        flat += (c == '\n' || c == '\r') ? ' ' : c;
    std::fprintf(stderr, "%s %s\n", caption.c_str(), flat.c_str());
    if (buttons != MbButtons::YesNo)
        return IDOK;
    if (!::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s (no terminal to ask: answered No)\n", caption.c_str());
        return IDNO;
    }
    std::fprintf(stderr, "[y/N] ");
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return IDNO;
    return (!answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) ? IDYES : IDNO;
}

} // namespace fw

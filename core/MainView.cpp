#include "core/MainView.h"

#include <cstdio>

void ConsoleMainView::SetStatus(const std::string& text)
{
    if (text == m_lastStatus)
        return;
    m_lastStatus = text;
    std::fprintf(stderr, "%s\n", text.c_str());
}

#include "console/ConsoleViews.h"

#include <cstdio>
#include <unistd.h>

void ConsoleEmailView::SetStatus(const std::string& text)
{
    // Line counts are progress for a watching user, noise in a cron mail.
    if (text.rfind("Receiving ", 0) == 0 && !::isatty(STDERR_FILENO))
        return;
    std::fprintf(stderr, "Email: %s\n", text.c_str());
}

void ConsoleEmailView::AddRow(const std::string& row)
{
    std::string line = row;
    for (char& c : line)
        if (c == '\t')
            c = ' ';
    std::fprintf(stderr, "Email: %s\n", line.c_str());
}

void ConsolePostView::SetStatus(const std::string& text)
{
    if (text.rfind("Sending ", 0) == 0 && text.find(" lines") != std::string::npos &&
        !::isatty(STDERR_FILENO))
        return;
    std::fprintf(stderr, "Post: %s\n", text.c_str());
}

void ConsolePostView::AddRow(const std::string& row)
{
    std::string line = row;
    for (char& c : line)
        if (c == '\t')
            c = ' ';
    std::fprintf(stderr, "Post: %s\n", line.c_str());
}

void ConsoleGroupsView::SetStatus(const std::string& text)
{
    std::fprintf(stderr, "Usenet Groups: %s\n", text.c_str());
}

void ConsoleArticlesView::SetTitle(const std::string& text)
{
    m_title = text;
    std::fprintf(stderr, "Articles: %s\n", text.c_str());
}

void ConsoleArticlesView::SetStatus(const std::string& text)
{
    if (text.rfind("Receiving ", 0) == 0 && !::isatty(STDERR_FILENO))
        return;
    std::fprintf(stderr, "Articles %s: %s\n", m_title.substr(0, m_title.find(',')).c_str(),
                 text.c_str());
}

void ConsoleMainView::SetStatus(const std::string& text)
{
    if (text == m_lastStatus)
        return;
    // Counts of a group list on its way: progress for a watching user,
    // noise in a cron mail.
    if (text.rfind("Retrieving ", 0) == 0 && text.size() > 6 &&
        text.compare(text.size() - 6, 6, " group") == 0 && !::isatty(STDERR_FILENO))
        return;
    m_lastStatus = text;
    if (text.empty()) // a cleared status line
        return;
    std::fprintf(stderr, "%s\n", text.c_str());
}

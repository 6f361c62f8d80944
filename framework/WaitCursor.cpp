#include "framework/WaitCursor.h"

namespace fw {

namespace {
std::function<void(bool)>& Hook()
{
    static std::function<void(bool)> s_hook;
    return s_hook;
}
int s_iDepth = 0;
} // namespace

WaitCursor::WaitCursor()
{
    if (s_iDepth++ == 0 && Hook())
        Hook()(true);
}

WaitCursor::~WaitCursor()
{
    if (--s_iDepth == 0 && Hook())
        Hook()(false);
}

void WaitCursor::SetHook(std::function<void(bool)> hook) { Hook() = std::move(hook); }

int WaitCursor::Depth() { return s_iDepth; }

} // namespace fw

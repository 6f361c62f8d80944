// The wait cursor while a long operation runs.  The window program installs a
// hook that shows it; without one nothing happens.  Scopes nest.
#pragma once

#include <functional>

namespace fw {

class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

    // Called with true when the first scope opens and false when the last
    // one closes.
    static void SetHook(std::function<void(bool)> hook);
    static int Depth();
};

} // namespace fw

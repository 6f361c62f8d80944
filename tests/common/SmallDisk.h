// Runs a piece of code in a child process that sees a tiny tmpfs at a given
// directory, so "disk full" paths can be tested for real.  The mount lives
// in a private mount namespace of the child only.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace testutil {

// Returns the child's exit code (what fn returned, 0..255), or nothing when
// the system does not allow the private mount (the caller then skips).
std::optional<int> RunWithSmallDisk(const std::string& dir, std::size_t nBytes,
                                    const std::function<int()>& fn);

} // namespace testutil

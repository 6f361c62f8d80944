// Sounds by name.  A sound is a wave file "<name>.wav" in the resources
// folder; it plays through the first available player in the background.
// Nothing blocks, and a missing file or player plays nothing.
#pragma once

#include <string>

namespace fw {

class Sound {
public:
    static void SetResourceDir(const std::string& dir);
    static const std::string& ResourceDir();
    // The file of a named sound; empty when there is none.
    static std::string Find(const std::string& name);
    // Starts playing the named sound; false when there is no such sound or
    // no player could start.
    static bool PlayResource(const std::string& name);
    // A system sound such as "SystemAsterisk": plays a wave of that name
    // when the resources have one, otherwise nothing.
    static bool PlaySystem(const std::string& name);
};

} // namespace fw
